/* Root working on another user's file with no more than that user's
 * rights: the owner found on the way to the file, and the file-system
 * identity switched to that user's, groups included, and back. */
#include "settings/disk/identity.h"

#include "settings/disk/path.h"

#include <errno.h>
#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

/* The owner of the first directory or symbolic link on the way to psPath
 * that is not uSelf, into *pst.  Links are followed as the kernel would,
 * at most 40 of them; the walk ends at the first component that does not
 * exist, past which the rest is still to be made.  Returns 1 when there is
 * one, 0 when the way is uSelf's (or cannot be told: the open that follows
 * then fails on its own). */
static int ForeignOwner(char const *psPath, uid_t uSelf, struct stat *pst)
{
    /* psTodo: what is still to walk, in one of the two buffers of acTodo
     * (a link's target and the rest are put together in the other, so no
     * copy overlaps); acDone: the walked prefix, no links. */
    static char acTodo[2][2 * PATH_MAX + 2], acDone[PATH_MAX + 1], acLink[PATH_MAX + 1];
    int iBuffer = 0;
    acDone[0] = '\0';
    if (psPath[0] == '/') {
        snprintf(acTodo[0], sizeof acTodo[0], "%s", psPath);
    } else {
        if (getcwd(acDone, sizeof acDone) == NULL)
            return 0;
        if (strcmp(acDone, "/") == 0)
            acDone[0] = '\0';
        /* The working directory's own way counts too. */
        snprintf(acTodo[0], sizeof acTodo[0], "%s/%s", acDone, psPath);
        acDone[0] = '\0';
    }
    char const *psTodo = acTodo[0];
    for (int iLinks = 0; psTodo[0] != '\0';) {
        char const *psName = psTodo + strspn(psTodo, "/");
        size_t uName = strcspn(psName, "/");
        char const *psRest = psName + uName;
        if (uName == 0)
            return 0;
        size_t uDone = strlen(acDone);
        if ((uName == 1 && psName[0] == '.') || (uName == 2 && strncmp(psName, "..", 2) == 0)) {
            if (uName == 2) {
                char *psSlash = strrchr(acDone, '/');
                if (psSlash != NULL)
                    *psSlash = '\0';
            }
            psTodo = psRest;
            continue;
        }
        if (uDone + 1 + uName >= sizeof acDone)
            return 0;
        acDone[uDone] = '/';
        memcpy(acDone + uDone + 1, psName, uName);
        acDone[uDone + 1 + uName] = '\0';
        if (lstat(acDone, pst) != 0)
            return 0;
        int bLast = psRest[strspn(psRest, "/")] == '\0';
        if (pst->st_uid != uSelf && (S_ISLNK(pst->st_mode) || (S_ISDIR(pst->st_mode) && !bLast)))
            return 1;
        if (!S_ISLNK(pst->st_mode)) {
            psTodo = psRest;
            continue;
        }
        ssize_t n = readlink(acDone, acLink, sizeof acLink - 1);
        if (n <= 0 || ++iLinks > 40)
            return 0;
        acLink[n] = '\0';
        acDone[uDone] = '\0';
        if (acLink[0] == '/')
            acDone[0] = '\0';
        /* The link's target takes its place in what is still to walk. */
        iBuffer = 1 - iBuffer;
        if ((size_t)snprintf(acTodo[iBuffer], sizeof acTodo[iBuffer], "%s%s", acLink, psRest) >=
            sizeof acTodo[iBuffer])
            return 0;
        psTodo = acTodo[iBuffer];
    }
    return 0;
}

/* How deep AssumeOwnerOf calls are nested: only the outermost one acts. */
static int iIdentityDepth = 0;

/* Takes uid's file-system identity: its primary group (gid when it has no
 * entry in the user database) and its groups.  The nesting is counted
 * already.  Returns as AssumeOwnerOf does. */
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

int AssumeOwnerOf(char const *psPath, struct MorvIdentity *pSaved)
{
    memset(pSaved, 0, sizeof *pSaved);
    struct stat st;
    if (iIdentityDepth++ > 0 || geteuid() != 0 || psPath == NULL ||
        !ForeignOwner(psPath, geteuid(), &st))
        return 1;
    return TakeIdentity(st.st_uid, st.st_gid, pSaved);
}

int AssumeUser(uid_t uid, gid_t gid, struct MorvIdentity *pSaved)
{
    memset(pSaved, 0, sizeof *pSaved);
    if (iIdentityDepth++ > 0 || geteuid() != 0 || uid == geteuid())
        return 1;
    return TakeIdentity(uid, gid, pSaved);
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

int UserOfFile(char const *psFull, uid_t *puid, gid_t *pgid)
{
    *puid = geteuid();
    *pgid = getegid();
    if (*puid != 0)
        return 0;
    struct stat st;
    char acDir[PATH_MAX], acName[PATH_MAX];
    if (stat(psFull, &st) != 0 &&
        (!SplitPath(psFull, acDir, sizeof acDir, acName, sizeof acName) || stat(acDir, &st) != 0))
        return 0;
    if (st.st_uid == 0)
        return 0;
    struct passwd const *pw = getpwuid(st.st_uid);
    *puid = st.st_uid;
    *pgid = pw ? pw->pw_gid : st.st_gid;
    return 1;
}
