/* Temporary files made beside the file they are to become, and writes that
 * go on until every byte is down. */
#include "settings/disk/tempfile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

int MakeTemporary(int fdDir, char const *psName, char *acTemp, size_t uTemp)
{
    static const char acDigits[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    unsigned long long ullSeed = (unsigned long long)ts.tv_nsec ^ ((unsigned long long)getpid() << 32);
    if ((size_t)snprintf(acTemp, uTemp, "%s%s", psName, TEMP_SUFFIX) >= uTemp) {
        errno = ENAMETOOLONG;
        return -1;
    }
    char *psX = acTemp + strlen(acTemp) - 6;
    for (int iTry = 0; iTry < 100; iTry++) {
        for (int k = 0; k < 6; k++) {
            ullSeed = ullSeed * 6364136223846793005ULL + 1442695040888963407ULL;
            psX[k] = acDigits[(ullSeed >> 33) % (sizeof acDigits - 1)];
        }
        int fd = openat(fdDir, acTemp, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

int WriteAllAt(int fd, unsigned char const *p, size_t n, off_t llAt, size_t *puDone)
{
    while (n > 0) {
        ssize_t w = pwrite(fd, p, n, llAt);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return 0;
        }
        *puDone += (size_t)w;
        p += w;
        n -= (size_t)w;
        llAt += w;
    }
    return 1;
}
