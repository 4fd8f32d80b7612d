/* Milliseconds of the monotonic clock, for the lock's wait and the quiet
 * periods of following a file. */
#include "support/clock.h"

#include <time.h>

long long MonotonicMs(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000 + 1;
}
