/* The lock that makes the saves of a morvrc one at a time: flock on a lock
 * file beside it, waited for with a deadline, and the cleaning up of what
 * killed saves left, which only the lock's holder may do. */
#include "settings/morvrc_lock.h"

#include "settings/morvrc_file.h"
#include "settings/morvrc_replace.h"
#include "support/clock.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

/* Opens (creating it where it is missing) the lock file of psTarget.
 * Returns the descriptor, or -1 with errno set. */
static int OpenLockFile(char const *psTarget)
{
    size_t uLen = strlen(psTarget);
    char *psLock = (char *)malloc(uLen + sizeof ".lock");
    if (psLock == NULL) {
        errno = ENOMEM;
        return -1;
    }
    memcpy(psLock, psTarget, uLen);
    memcpy(psLock + uLen, ".lock", sizeof ".lock");
    /* Read-only is all that flock needs, so a lock file made by another
     * user still serves; one made here by root is given to the owner of
     * the directory, whose file it guards. */
    int fd = open(psLock, O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    int iErr = errno;
    if (fd >= 0 && geteuid() == 0) {
        char *psSlash = strrchr(psLock, '/');
        struct stat stDir;
        if (psSlash != NULL)
            psSlash[1] = '\0';
        /* The lock works whoever owns the file: a failure is no matter. */
        if (stat(psSlash != NULL ? psLock : ".", &stDir) == 0) {
            int iIgnored = fchown(fd, stDir.st_uid, stDir.st_gid);
            (void)iIgnored;
        }
    }
    free(psLock);
    errno = iErr;
    return fd;
}

int LockFile(char const *psPath, int iWaitMillis, int *pfd)
{
    *pfd = -1;
    char *psTarget = FollowLinks(psPath);
    if (psTarget == NULL)
        return 0;
    int fd = OpenLockFile(psTarget);
    if (fd < 0) {
        int iErr = errno;
        free(psTarget);
        errno = iErr;
        /* Where no lock file can be made, no other saver can have one; a
         * full disk is for the save itself to report. */
        return iErr == EACCES || iErr == EPERM || iErr == EROFS || iErr == ENOENT || iErr == ENOSPC ||
               iErr == EDQUOT;
    }
    long long llDeadline = MonotonicMs() + (iWaitMillis > 0 ? iWaitMillis : 0);
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            break;
        int iErr = errno;
        if (iErr == EINTR)
            continue;
        if (iErr != EWOULDBLOCK || MonotonicMs() >= llDeadline) {
            close(fd);
            free(psTarget);
            errno = iErr;
            return 0;
        }
        struct timespec ts = {0, 10 * 1000 * 1000};
        nanosleep(&ts, NULL);
    }
    RemoveLeftoverTemporaries(psTarget);
    free(psTarget);
    *pfd = fd;
    return 1;
}

void UnlockFile(int fd)
{
    if (fd >= 0)
        close(fd);
}
