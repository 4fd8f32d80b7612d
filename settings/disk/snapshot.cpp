/* A morvrc on disk: read at most MORV_MAX_FILE bytes of it without ever
 * waiting on something that is not a regular file, remember what was read
 * to tell a change by another program, and work on another user's file
 * with no more than that user's rights. */
#include "settings/disk/snapshot.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

/* Opens psPath as OpenForReading says, with the identity already taken. */
static int OpenAsTaken(char const *psPath, int bRegularOnly, struct stat *pst)
{
    if (bRegularOnly) {
        if (stat(psPath, pst) != 0)
            return -1;
        if (!S_ISREG(pst->st_mode)) {
            errno = S_ISDIR(pst->st_mode) ? EISDIR : EINVAL;
            return -1;
        }
    }
    int fd = open(psPath, O_RDONLY | O_NOCTTY | O_CLOEXEC | (bRegularOnly ? O_NONBLOCK : 0));
    if (fd < 0)
        return -1;
    /* The path may have been replaced between the two looks. */
    int iErr = 0;
    if (fstat(fd, pst) != 0)
        iErr = errno;
    else if (S_ISDIR(pst->st_mode))
        iErr = EISDIR;
    else if (bRegularOnly && !S_ISREG(pst->st_mode))
        iErr = EINVAL;
    if (iErr != 0) {
        close(fd);
        errno = iErr;
        return -1;
    }
    return fd;
}

int OpenForReading(char const *psPath, int bRegularOnly, struct stat *pst)
{
    if (psPath == NULL || *psPath == '\0') {
        errno = ENOENT;
        return -1;
    }
    struct MorvIdentity id;
    if (!AssumeOwnerOf(psPath, &id))
        return -1;
    int fd = OpenAsTaken(psPath, bRegularOnly, pst);
    ResumeIdentity(&id);
    return fd;
}

/* Reads up to uWant bytes, fewer only at the end of the data or on an
 * error, whose errno goes to *piErr (left alone otherwise).  Returns the
 * number read. */
static size_t ReadUpTo(int fd, unsigned char *p, size_t uWant, int *piErr)
{
    size_t uGot = 0;
    while (uGot < uWant) {
        ssize_t n = read(fd, p + uGot, uWant - uGot);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            *piErr = errno;
        if (n <= 0)
            break;
        uGot += (size_t)n;
    }
    return uGot;
}

/* The whole size of the file whose status is *pst after uRead bytes were
 * read, of which the last may be one beyond MORV_MAX_FILE: what a regular
 * file says of itself.  A pipe or a device is never read further (it may
 * never end): its size is then MORV_MAX_FILE + 1, "longer than the limit". */
static long long WholeSize(struct stat const *pst, size_t uRead)
{
    if (uRead > MORV_MAX_FILE && S_ISREG(pst->st_mode) && (long long)pst->st_size > (long long)uRead)
        return (long long)pst->st_size;
    return (long long)uRead;
}

int SnapshotFile(char const *psPath, int bRegularOnly, struct MorvSnapshot *pSnap)
{
    memset(pSnap, 0, sizeof *pSnap);
    struct stat st;
    /* "-" is standard input, for the readers that take a pipe. */
    int bStdin = !bRegularOnly && psPath != NULL && strcmp(psPath, "-") == 0;
    int fd = bStdin ? dup(STDIN_FILENO) : OpenForReading(psPath, bRegularOnly, &st);
    if (fd >= 0 && bStdin && fstat(fd, &st) != 0) {
        int iErr = errno;
        close(fd);
        errno = iErr;
        fd = -1;
    }
    if (fd < 0) {
        pSnap->iErrno = errno;
        return 0;
    }
    /* One byte more than is kept tells a longer file. */
    unsigned char *p = (unsigned char *)malloc(MORV_MAX_FILE + 1);
    if (p == NULL) {
        close(fd);
        errno = pSnap->iErrno = ENOMEM;
        return 0;
    }
    int iReadErr = 0;
    size_t uRead = ReadUpTo(fd, p, MORV_MAX_FILE + 1, &iReadErr);
    pSnap->llSize = WholeSize(&st, uRead);
    pSnap->bPartial = uRead > MORV_MAX_FILE && !S_ISREG(st.st_mode);
    close(fd);
    /* Bytes cut short by a failing disk are no file to judge. */
    if (iReadErr != 0) {
        free(p);
        memset(pSnap, 0, sizeof *pSnap);
        errno = pSnap->iErrno = iReadErr;
        return 0;
    }
    pSnap->uBytes = uRead > MORV_MAX_FILE ? MORV_MAX_FILE : uRead;
    /* Only what the file holds stays allocated. */
    unsigned char *pFit = (unsigned char *)realloc(p, pSnap->uBytes ? pSnap->uBytes : 1);
    pSnap->pBytes = pFit != NULL ? pFit : p;
    pSnap->bPresent = 1;
    return 1;
}

int SnapshotMatches(char const *psPath, struct MorvSnapshot const *pSnap)
{
    struct stat st;
    int fd = OpenForReading(psPath, 1, &st);
    if (fd < 0) {
        /* Still missing, or still unreadable for the same reason: a file
         * that appeared where there was none, even one that cannot be
         * read, is a change. */
        int iErr = errno;
        return !pSnap->bPresent && iErr == (pSnap->iErrno != 0 ? pSnap->iErrno : ENOENT);
    }
    if (!pSnap->bPresent) {
        close(fd);
        return 0;
    }
    /* Chunk by chunk against the remembered bytes, one byte further. */
    unsigned char ab[65536];
    size_t uAt = 0;
    int bSame = 1, iReadErr = 0;
    while (bSame && uAt <= pSnap->uBytes && uAt <= MORV_MAX_FILE) {
        size_t uWant = pSnap->uBytes - uAt + 1;
        size_t n = ReadUpTo(fd, ab, uWant < sizeof ab ? uWant : sizeof ab, &iReadErr);
        if (n == 0)
            break;
        size_t uCompare = n;
        if (uAt + uCompare > pSnap->uBytes)
            uCompare = pSnap->uBytes - uAt;
        bSame = memcmp(ab, pSnap->pBytes + uAt, uCompare) == 0;
        uAt += n;
    }
    if (bSame)
        bSame = iReadErr == 0 && WholeSize(&st, uAt) == pSnap->llSize;
    close(fd);
    return bSame;
}

void FreeSnapshot(struct MorvSnapshot *pSnap)
{
    free(pSnap->pBytes);
    memset(pSnap, 0, sizeof *pSnap);
}

char *FollowLinks(char const *psPath)
{
    char *psCur = strdup(psPath);
    for (int iHops = 0; psCur != NULL; iHops++) {
        struct stat st;
        if (lstat(psCur, &st) != 0 || !S_ISLNK(st.st_mode))
            return psCur;
        if (iHops == 40) {
            free(psCur);
            errno = ELOOP;
            return NULL;
        }
        char acTarget[PATH_MAX];
        ssize_t n = readlink(psCur, acTarget, sizeof acTarget - 1);
        if (n < 0) {
            free(psCur);
            return NULL;
        }
        acTarget[n] = '\0';
        char *psNext;
        char const *psSlash = strrchr(psCur, '/');
        if (acTarget[0] == '/' || psSlash == NULL) {
            psNext = strdup(acTarget);
        } else {
            /* A relative target is relative to the link's own directory. */
            size_t uDir = (size_t)(psSlash - psCur) + 1;
            psNext = (char *)malloc(uDir + (size_t)n + 1);
            if (psNext != NULL) {
                memcpy(psNext, psCur, uDir);
                memcpy(psNext + uDir, acTarget, (size_t)n + 1);
            }
        }
        free(psCur);
        psCur = psNext;
    }
    errno = ENOMEM;
    return NULL;
}

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
