/* One writer at a time: the lock that every save of a morvrc holds, a lock
 * the kernel takes on the file itself (on its directory while the file is
 * still to be made), so that every name of one file leads to one lock, no
 * lock file is ever left beside it, and no lock outlives a crash. */
#ifndef MORV_SETTINGS_DISK_LOCK_H
#define MORV_SETTINGS_DISK_LOCK_H

struct MorvWalk;

/* How long a save waits for another program's save by default. */
#define MORV_LOCK_WAIT_MS 5000

/* Takes the lock of the file the walk found, with the walk's identity:
 * flock on the file at the walk's name when it is a regular file, on its
 * directory while nothing is there.  A saver that replaced the file while
 * this one waited is noticed (the descriptor no longer names what is at
 * the name) and the lock taken again on the new file; pWalk->bExists and
 * pWalk->st then tell what is locked.  Then removes what saves killed part
 * way left beside the file.  *pfd gets the lock's descriptor, for
 * UnlockFile; -1 when the file's directory does not exist, where there is
 * nothing to write to.  Returns 1; 0 with errno EWOULDBLOCK when another
 * program held the lock for all of iWaitMillis, EISDIR or EINVAL when the
 * name leads to a directory or to something else that is not a regular
 * file (never replaced: no lock is needed, nor made), ESTALE when a link
 * was put at the name since the walk (never followed), or the errno of a
 * file or directory that cannot be opened: never is a lock given up on
 * quietly. */
int LockWalked(struct MorvWalk *pWalk, int iWaitMillis, int *pfd);

/* Lets go of a lock that LockWalked took; fd -1 is no lock.  Cannot fail. */
void UnlockFile(int fd);

#endif
