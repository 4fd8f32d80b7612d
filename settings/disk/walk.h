/* One walk of a path: resolved once, component by component from a
 * directory descriptor, links followed by hand and only where it is safe,
 * and the identity every later step takes decided on the way.  What the
 * walk found (the file's directory open, its name, the file's status) is
 * all that the lock, the reading, the replace and the history work on:
 * nothing after the walk resolves the path by name.  Knows nothing of what
 * the files hold.
 *
 * Calling sequence:
 *     struct MorvWalk w;
 *     if (!WalkPath(path, &w))   refused: errno, and acWalkRefusal in words
 *     ... LockWalked, SnapshotWalked, ReplaceWalked, KeepVersion(&w, ...) ...
 *     EndWalk(&w);
 */
#ifndef MORV_SETTINGS_DISK_WALK_H
#define MORV_SETTINGS_DISK_WALK_H

#include "settings/disk/identity.h"

#include <limits.h>
#include <stddef.h>
#include <sys/stat.h>
#include <sys/types.h>

/* What one walk of a path found.  When root works on a path, a component
 * owned by another user, or a directory that anyone but root may write,
 * makes the walk foreign: every step from there on is made with the
 * identity of the one user other than root who owns a component on the way
 * (a directory, a link, or the file itself in a directory others may
 * write).  Where no such user owns anything, root keeps its identity, and
 * what is done later is done by name in the file's directory without
 * following a link. */
struct MorvWalk {
    int fdDir;                  /* the file's directory (O_PATH where it cannot be read);
                                   -1 when a directory on the way is missing */
    char acName[NAME_MAX + 1];  /* the file's name in it */
    char acFull[PATH_MAX];      /* the file's absolute path, links resolved; with fdDir -1,
                                   as far as it was resolved and the rest as given */
    char acShown[PATH_MAX];     /* the file's path for messages: as given when no link was
                                   followed, acFull otherwise */
    int bExists;                /* something (of any type) is at the name */
    struct stat st;             /* its status, when bExists; LockWalked keeps it current */
    int iErrno;                 /* with fdDir -1: ENOENT or ENOTDIR */
    int bTake;                  /* 1: every step is made as uid, with gid and uid's groups */
    uid_t uid;
    gid_t gid;
};

/* Why the last walk (WalkPath, OpenTrustedDirectory) was refused, in words
 * (an "unsafe transition" naming the component and both owners, a link not
 * followed), or empty when there is no more to say than errno. */
extern char acWalkRefusal[2 * PATH_MAX];

/* Walks psPath ("" is no path: ENOENT; one that ends in '/' names no file:
 * EISDIR) from the root, a relative one through the working directory's
 * own absolute path, so that every component counts.  A link is followed
 * by hand, at most 40 of them; one met in a directory that others than its
 * owner may write only where the kernel's protected_symlinks would follow
 * it: its owner owns the directory, or is the user the walk runs as.  When
 * root walks, components of two different users other than root on the
 * way are refused (EPERM) as an "unsafe transition".  Returns 1 when the
 * path leads to a place: the file's directory is open and the name known,
 * whether anything is there or not (and also with fdDir -1 when a
 * directory on the way is missing, where a file can be neither read nor
 * made); 0 with errno set (EPERM, EACCES, ELOOP, ENAMETOOLONG, EISDIR...),
 * acWalkRefusal saying why when there is more to say, and nothing held. */
int WalkPath(char const *psPath, struct MorvWalk *pw);

/* Lets go of what the walk holds; it may be ended twice. */
void EndWalk(struct MorvWalk *pw);

/* Takes the identity that steps on the walk's file are made with, keeping
 * the current one in *pSaved for ResumeIdentity.  Returns as AssumeUser. */
int AssumeWalkIdentity(struct MorvWalk const *pw, struct MorvIdentity *pSaved);

/* The user every step on the walk's file is made as: uid, or the
 * process's own effective user. */
uid_t WalkUser(struct MorvWalk const *pw);

/* Opens what is at the walk's name now, with the walk's identity and
 * iAccess (O_RDONLY, O_WRONLY, O_RDWR), never following a link and never
 * waiting: only a regular file is opened.  *pst gets its status.  Returns
 * the descriptor, or -1 with errno set: ENOENT for nothing there (or no
 * directory), EISDIR for a directory, ELOOP for a link, EINVAL for
 * anything else. */
int OpenWalkedFile(struct MorvWalk const *pw, int iAccess, struct stat *pst);

/* Opens the directory psPath (absolute) for the history, with the identity
 * in force, whose user is uid: every component must belong to uid or root
 * (a link is followed only when it does), and with bPrivate the directory
 * itself may be written by no one but its owner.  With bCreate, missing
 * components are made, mode 0700.  Returns an O_RDONLY descriptor of it,
 * or -1 with errno set (ENOENT for a missing one without bCreate) and
 * acWalkRefusal saying which component is not uid's. */
int OpenTrustedDirectory(char const *psPath, uid_t uid, int bCreate, int bPrivate);

#endif
