/* Built for the target and run at configure time: tells whether the kernel
 * runs the target's programs natively. */
int main(void) { return 0; }
