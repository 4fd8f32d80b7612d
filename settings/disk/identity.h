/* The identity that root takes to work on another user's file, as
 * sudoedit edits as the user who asked, so that the kernel checks every
 * step against that user's rights.  Whose file a path is, the walk
 * (settings/disk/walk) decides.  Knows nothing of what the files hold. */
#ifndef MORV_SETTINGS_DISK_IDENTITY_H
#define MORV_SETTINGS_DISK_IDENTITY_H

#include <sys/types.h>

/* Root working on another user's file takes that user's file-system
 * identity: every open, create, rename and remove is then checked by the
 * kernel against that user's rights, so a link the user planted, a
 * directory swapped for a link or a hard link to a root file leads nowhere
 * the user could not write anyway.  Refusing each unsafe step instead
 * would leave a gap between the check and the use; with the identity taken
 * there is none.  The groups are the user's from the password database, or
 * the owning group when there is no entry.  A process that is not root
 * keeps its identity.  Calls nest: only the outermost one changes
 * anything. */
struct MorvIdentity {
    int bTaken;           /* 1: the file-system identity was changed */
    uid_t uFsUid;         /* the one to go back to */
    gid_t gFsGid;
    int nGroups;          /* the supplementary groups to go back to */
    gid_t *pgGroups;      /* malloc'd */
};

/* Takes the identity of the user uid for the work that follows, keeping the
 * current one in *pSaved for ResumeIdentity: root takes uid's identity
 * (gid as its group when the user database has no entry for it, and uid's
 * supplementary groups in place of root's); anyone else keeps its own.
 * Returns 1; 0 with errno set (EPERM, ENOMEM) when the switch did not
 * take, in which case nothing may be done. */
int AssumeUser(uid_t uid, gid_t gid, struct MorvIdentity *pSaved);

/* AssumeUser of uid and gid when bTake is 1, a walk's choice (see
 * settings/disk/walk), else of the process's own identity, so that calls
 * nest all the same.  Returns as AssumeUser. */
int AssumeChosenUser(int bTake, uid_t uid, gid_t gid, struct MorvIdentity *pSaved);

/* Goes back to the identity kept by AssumeUser, keeping errno. */
void ResumeIdentity(struct MorvIdentity *pSaved);

#endif
