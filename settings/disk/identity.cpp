/* Root working on another user's file with no more than that user's
 * rights: the file-system identity switched to that user's, groups
 * included, and back. */
#include "settings/disk/identity.h"

#include <errno.h>
#include <grp.h>
#include <pwd.h>
#include <stdlib.h>
#include <string.h>
#include <sys/fsuid.h>
#include <unistd.h>

/* How deep AssumeUser calls are nested: only the outermost one acts. */
static int iIdentityDepth = 0;

/* Takes uid's file-system identity: its primary group (gid when it has no
 * entry in the user database) and its groups.  The nesting is counted
 * already.  Returns as AssumeUser does. */
static int TakeIdentity(uid_t uid, gid_t gid, struct MorvIdentity *pSaved)
{
    gid_t agUser[256];
    int nUser = 1;
    agUser[0] = gid;
    struct passwd *pw = getpwuid(uid);
    if (pw != NULL) {
        gid = pw->pw_gid;
        nUser = (int)(sizeof agUser / sizeof agUser[0]);
        /* Beyond 256 groups the user keeps only the first ones: fewer
         * rights, never more. */
        if (getgrouplist(pw->pw_name, gid, agUser, &nUser) < 0)
            nUser = (int)(sizeof agUser / sizeof agUser[0]);
    }
    int nOld = getgroups(0, NULL);
    pSaved->pgGroups = (gid_t *)malloc((size_t)(nOld > 0 ? nOld : 1) * sizeof(gid_t));
    if (nOld < 0 || pSaved->pgGroups == NULL || (nOld = getgroups(nOld, pSaved->pgGroups)) < 0) {
        int iErr = nOld < 0 ? errno : ENOMEM;
        free(pSaved->pgGroups);
        pSaved->pgGroups = NULL;
        iIdentityDepth--;
        errno = iErr;
        return 0;
    }
    pSaved->nGroups = nOld;
    pSaved->gFsGid = (gid_t)setfsgid(gid);
    pSaved->uFsUid = (uid_t)setfsuid(uid);
    pSaved->bTaken = 1;
    /* Each call returns the identity before it: asking again tells
     * whether the change was made. */
    if (setgroups((size_t)nUser, agUser) != 0 || (gid_t)setfsgid(gid) != gid ||
        (uid_t)setfsuid(uid) != uid) {
        ResumeIdentity(pSaved);
        errno = EPERM;
        return 0;
    }
    return 1;
}

int AssumeUser(uid_t uid, gid_t gid, struct MorvIdentity *pSaved)
{
    memset(pSaved, 0, sizeof *pSaved);
    if (iIdentityDepth++ > 0 || geteuid() != 0 || uid == geteuid())
        return 1;
    return TakeIdentity(uid, gid, pSaved);
}

int AssumeChosenUser(int bTake, uid_t uid, gid_t gid, struct MorvIdentity *pSaved)
{
    return bTake ? AssumeUser(uid, gid, pSaved) : AssumeUser(geteuid(), getegid(), pSaved);
}

void ResumeIdentity(struct MorvIdentity *pSaved)
{
    int iErr = errno;
    if (iIdentityDepth > 0)
        iIdentityDepth--;
    if (pSaved->bTaken) {
        setfsuid(pSaved->uFsUid);
        setfsgid(pSaved->gFsGid);
        /* Should this fail, the user's groups stay: they give less. */
        int iIgnored = setgroups((size_t)pSaved->nGroups, pSaved->pgGroups);
        (void)iIgnored;
    }
    free(pSaved->pgGroups);
    memset(pSaved, 0, sizeof *pSaved);
    errno = iErr;
}
