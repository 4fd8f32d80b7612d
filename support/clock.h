/* The one clock that waits and quiet periods are measured with: the
 * monotonic clock, which neither a change of the date nor NTP moves. */
#ifndef MORV_SUPPORT_CLOCK_H
#define MORV_SUPPORT_CLOCK_H

/* Returns the milliseconds of the monotonic clock from an unspecified
 * start; always 1 or more, so that callers may keep 0 for "never".  Cannot
 * fail on Linux. */
long long MonotonicMs(void);

#endif
