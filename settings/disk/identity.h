/* The identity that root takes to work on another user's file, as
 * sudoedit edits as the user who asked, so that the kernel checks every
 * step against that user's rights; and the user whose file a path is.
 * Knows nothing of what the files hold. */
#ifndef MORV_SETTINGS_DISK_IDENTITY_H
#define MORV_SETTINGS_DISK_IDENTITY_H

#include <sys/types.h>

/* Root working on another user's file takes that user's file-system
 * identity, as sudoedit edits as the user who asked: every open, create,
 * rename and remove is then checked by the kernel against that user's
 * rights, so a link the user planted, a directory swapped for a link or a
 * hard link to a root file leads nowhere the user could not write anyway.
 * Refusing each unsafe step instead would leave a gap between the check
 * and the use; with the identity taken there is none.  The user is the
 * owner of the first directory or symbolic link on the way to the file
 * (the working directory's own path included for a relative one) that is
 * not the effective user's; the groups are that user's from the password
 * database, or the owning group when there is no entry.  A process that is
 * not root, or a path that is root's all the way, keeps its identity.
 * Calls nest: only the outermost one changes anything. */
struct MorvIdentity {
    int bTaken;           /* 1: the file-system identity was changed */
    uid_t uFsUid;         /* the one to go back to */
    gid_t gFsGid;
    int nGroups;          /* the supplementary groups to go back to */
    gid_t *pgGroups;      /* malloc'd */
};

/* Takes the identity that work on psPath must be done with, keeping the
 * current one in *pSaved for ResumeIdentity.  Returns 1; 0 with errno set
 * (EPERM, ENOMEM) when another user's path cannot be worked on with that
 * user's rights, in which case nothing may be done to it. */
int AssumeOwnerOf(char const *psPath, struct MorvIdentity *pSaved);

/* AssumeOwnerOf for work done as the user uid, whoever owns the way there:
 * root takes uid's identity (gid as its group when the user database has
 * no entry for it); anyone else keeps its own.  Returns as AssumeOwnerOf. */
int AssumeUser(uid_t uid, gid_t gid, struct MorvIdentity *pSaved);

/* Goes back to the identity kept by AssumeOwnerOf, keeping errno. */
void ResumeIdentity(struct MorvIdentity *pSaved);

/* The user whose file psFull (an absolute path, links followed) is, for
 * its history: for root, the owner of the file, or of its directory while
 * it does not exist, when that is not root; otherwise the process's own
 * user.  *puid and *pgid get the user and the primary group.  Returns 1 for
 * another user than the process's own, 0 otherwise.  The rights a step
 * works with are AssumeOwnerOf's, found on the way rather than at the end. */
int UserOfFile(char const *psFull, uid_t *puid, gid_t *pgid);

#endif
