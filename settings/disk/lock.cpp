/* The lock that makes the saves of a morvrc one at a time: flock on the
 * file itself or, before it exists, on its directory, waited for with a
 * deadline on the one descriptor, the name looked at again once it is
 * held, and the cleaning up of what killed saves left, which only the
 * lock's holder may do. */
#include "settings/disk/lock.h"

#include "settings/disk/replace.h"
#include "settings/disk/walk.h"
#include "support/clock.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

/* Opens what the lock of psName in fdDir is taken on: the file when it is
 * a regular file, the directory when it is missing.  Returns the
 * descriptor, or -1 with errno set (ESTALE for a link). */
static int OpenLockTarget(int fdDir, char const *psName)
{
    struct stat st;
    if (fstatat(fdDir, psName, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? openat(fdDir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : S_ISLNK(st.st_mode) ? ESTALE : EINVAL;
        return -1;
    }
    /* flock takes any open descriptor: read-only serves, and a file that
     * may only be written is opened for writing, never truncated. */
    int iFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = openat(fdDir, psName, O_RDONLY | iFlags);
    if (fd < 0 && errno == EACCES)
        fd = openat(fdDir, psName, O_WRONLY | iFlags);
    /* Given to a link or a FIFO between the two looks. */
    if (fd < 0 && errno == ELOOP)
        errno = ESTALE;
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

/* Waits for the lock on fd until the deadline.  Returns 1 when it is held;
 * 0 with errno set (EWOULDBLOCK when the deadline passed). */
static int AwaitLock(int fd, long long llDeadline)
{
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            return 1;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK || MonotonicMs() >= llDeadline)
            return 0;
        struct timespec ts = {0, 10 * 1000 * 1000};
        nanosleep(&ts, NULL);
    }
}

/* LockWalked with the identity taken. */
static int LockAsTaken(struct MorvWalk *pWalk, int iWaitMillis, int *pfd)
{
    long long llDeadline = MonotonicMs() + (iWaitMillis > 0 ? iWaitMillis : 0);
    /* A name that changes between two looks is looked at again, so many
     * times and no more. */
    for (int iAgain = 0; iAgain < 100; iAgain++) {
        int fd = OpenLockTarget(pWalk->fdDir, pWalk->acName);
        if (fd < 0 && errno == ENOENT)
            continue;
        if (fd < 0)
            return 0;
        /* The waiter keeps its descriptor: what it is on may have been
         * replaced by the time the lock is its. */
        if (!AwaitLock(fd, llDeadline)) {
            int iErr = errno;
            close(fd);
            errno = iErr;
            return 0;
        }
        if (StillNamesThePath(fd, pWalk->fdDir, pWalk->acName)) {
            struct stat st;
            pWalk->bExists = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
            if (pWalk->bExists)
                pWalk->st = st;
            RemoveLeftoverTemporaries(pWalk->fdDir, pWalk->acName);
            *pfd = fd;
            return 1;
        }
        /* A lock on a file that another saver has just replaced, or on the
         * directory after the file was made, guards nothing. */
        close(fd);
    }
    errno = EWOULDBLOCK;
    return 0;
}

int LockWalked(struct MorvWalk *pWalk, int iWaitMillis, int *pfd)
{
    *pfd = -1;
    /* No directory: the save that follows fails on its own, and no other
     * saver can be writing there. */
    if (pWalk->fdDir < 0)
        return 1;
    struct MorvIdentity id;
    if (!AssumeWalkIdentity(pWalk, &id))
        return 0;
    int bLocked = LockAsTaken(pWalk, iWaitMillis, pfd);
    ResumeIdentity(&id);
    return bLocked;
}

void UnlockFile(int fd)
{
    if (fd >= 0)
        close(fd);
}
