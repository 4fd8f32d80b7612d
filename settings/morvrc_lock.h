/* One writer at a time: the lock that every save of a morvrc holds, a lock
 * the kernel takes on a file "NAME.lock" that stays beside it (never on the
 * file itself, whose inode every save replaces) and lets go when its holder
 * dies, so that no lock outlives a crash. */
#ifndef MORV_SETTINGS_MORVRC_LOCK_H
#define MORV_SETTINGS_MORVRC_LOCK_H

/* How long a save waits for another program's save by default. */
#define MORV_LOCK_WAIT_MS 5000

/* Takes the lock of the file psPath (its symbolic links followed), waiting
 * at most iWaitMillis for another holder to let it go, and then removes
 * what saves killed part way left beside the file.  *pfd gets the lock's
 * descriptor, for UnlockFile; -1 when the lock file cannot be made because
 * the directory takes no new file (or does not exist): the save then goes
 * on without a lock.  Returns 1; 0 with errno EWOULDBLOCK when another
 * program held the lock for all of iWaitMillis, or with the errno of a
 * lock file that cannot be opened for another reason. */
int LockFile(char const *psPath, int iWaitMillis, int *pfd);

/* Lets go of a lock that LockFile took; fd -1 is no lock.  Cannot fail. */
void UnlockFile(int fd);

#endif
