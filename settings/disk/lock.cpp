/* The lock that makes the saves of a morvrc one at a time: flock on the
 * file itself or, before it exists, on its directory, waited for with a
 * deadline, and the cleaning up of what killed saves left, which only the
 * lock's holder may do. */
#include "settings/disk/lock.h"

#include "settings/disk/identity.h"
#include "settings/disk/path.h"
#include "settings/disk/replace.h"
#include "support/clock.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

/* Opens what the lock of psName in fdDir is taken on: the file when it is
 * a regular file, the directory when it is missing.  Returns the
 * descriptor, or -1 with errno set. */
static int OpenLockTarget(int fdDir, char const *psName)
{
    struct stat st;
    if (fstatat(fdDir, psName, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? openat(fdDir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    if (!S_ISREG(st.st_mode)) {
        /* A link made since the path was followed is followed anew. */
        errno = S_ISDIR(st.st_mode) ? EISDIR : S_ISLNK(st.st_mode) ? EAGAIN : EINVAL;
        return -1;
    }
    /* flock takes any open descriptor: read-only serves, and a file that
     * may only be written is opened for writing, never truncated. */
    int iFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = openat(fdDir, psName, O_RDONLY | iFlags);
    if (fd < 0 && errno == EACCES)
        fd = openat(fdDir, psName, O_WRONLY | iFlags);
    return fd;
}

/* Whether the lock on fd is still on what psName in fdDir is now: the
 * same file, or the directory while the file is still missing. */
static int StillNamesThePath(int fd, int fdDir, char const *psName)
{
    struct stat stLock, stNow;
    if (fstat(fd, &stLock) != 0)
        return 0;
    if (fstatat(fdDir, psName, &stNow, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT && S_ISDIR(stLock.st_mode);
    return S_ISREG(stLock.st_mode) && stLock.st_dev == stNow.st_dev && stLock.st_ino == stNow.st_ino;
}

/* LockFile with the identity taken. */
static int LockAsTaken(char const *psPath, int iWaitMillis, int *pfd)
{
    long long llDeadline = MonotonicMs() + (iWaitMillis > 0 ? iWaitMillis : 0);
    for (int iAgain = 0;;) {
        char *psTarget = FollowLinks(psPath);
        if (psTarget == NULL)
            return 0;
        char const *psName;
        int fdDir = OpenDirectoryOf(psTarget, &psName);
        if (fdDir < 0) {
            int iErr = errno;
            free(psTarget);
            errno = iErr;
            /* No directory: the save that follows fails on its own, and no
             * other saver can be writing there. */
            return iErr == ENOENT || iErr == ENOTDIR;
        }
        int fd = OpenLockTarget(fdDir, psName);
        int iErr = errno, bHeld = 0;
        while (fd >= 0 && !bHeld) {
            bHeld = flock(fd, LOCK_EX | LOCK_NB) == 0;
            iErr = errno;
            if (!bHeld && iErr != EINTR)
                break;
        }
        if (bHeld && StillNamesThePath(fd, fdDir, psName)) {
            RemoveLeftoverTemporaries(fdDir, psName);
            close(fdDir);
            free(psTarget);
            *pfd = fd;
            return 1;
        }
        if (fd >= 0)
            close(fd);
        close(fdDir);
        free(psTarget);
        /* A lock on a file that another saver has just replaced, or on the
         * directory after the file was made, guards nothing; a name that
         * changed between two looks is looked at again. */
        int bAgain = bHeld || (fd < 0 && (iErr == EAGAIN || iErr == ENOENT));
        if (!bAgain && iErr != EWOULDBLOCK) {
            errno = iErr;
            return 0;
        }
        if (MonotonicMs() >= llDeadline && !(bAgain && ++iAgain < 100)) {
            errno = EWOULDBLOCK;
            return 0;
        }
        if (!bAgain) {
            struct timespec ts = {0, 10 * 1000 * 1000};
            nanosleep(&ts, NULL);
        }
    }
}

int LockFile(char const *psPath, int iWaitMillis, int *pfd)
{
    *pfd = -1;
    if (psPath == NULL || *psPath == '\0') {
        errno = ENOENT;
        return 0;
    }
    struct MorvIdentity id;
    if (!AssumeOwnerOf(psPath, &id))
        return 0;
    int bLocked = LockAsTaken(psPath, iWaitMillis, pfd);
    ResumeIdentity(&id);
    return bLocked;
}

void UnlockFile(int fd)
{
    if (fd >= 0)
        close(fd);
}
