/* faultcost: what a first touch of fresh anonymous memory costs on this
 * machine, the price of every heap page a program fills for the first time.
 *
 *   morv_faultcost [ROUNDS]
 *
 * Each round maps 8 MiB, writes one byte into each 4 KiB page and unmaps
 * it.  Prints the median microseconds per page over the rounds (default
 * 20). */
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <time.h>

static double Now(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

static int Compare(void const *a, void const *b)
{
    double x = *(double const *)a, y = *(double const *)b;
    return x < y ? -1 : x > y;
}

int main(int argc, char **argv)
{
    int iRounds = argc > 1 ? atoi(argv[1]) : 20;
    if (iRounds < 1 || iRounds > 1000)
        iRounds = 20;
    enum { SIZE = 8 << 20, PAGE = 4096 };
    double adPerPage[1000];
    for (int r = 0; r < iRounds; r++) {
        volatile char *p = mmap(NULL, SIZE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) {
            perror("mmap");
            return 1;
        }
        double t0 = Now();
        for (size_t i = 0; i < SIZE; i += PAGE)
            p[i] = 1;
        adPerPage[r] = (Now() - t0) / (SIZE / PAGE);
        munmap((void *)p, SIZE);
    }
    qsort(adPerPage, (size_t)iRounds, sizeof adPerPage[0], Compare);
    printf("%.3f\n", adPerPage[iRounds / 2]);
    return 0;
}
