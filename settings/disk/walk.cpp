/* One walk of a path, component by component from a directory descriptor:
 * links followed by hand where the kernel's protected_symlinks would, the
 * owners on the way counted when root walks, and the identity of the one
 * user found taken for the rest of the walk. */
#include "settings/disk/walk.h"

#include "settings/disk/path.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

char acWalkRefusal[2 * PATH_MAX];

#define WALK_MAX_LINKS 40

/* What a walk is for: a file to work on, its identity decided on the way;
 * or a directory of the history, every component of one user's or root's. */
enum WalkMode { WALK_FILE, WALK_TRUSTED };

/* What a component met on the way is. */
enum Kind {
    KIND_DIRECTORY,   /* a directory walked through */
    KIND_LINK,        /* a link, to be followed */
    KIND_FILE         /* what is at the last name */
};

/* A walk under way. */
struct Walker {
    enum WalkMode eMode;
    int fdCur;                          /* the directory reached, O_PATH */
    struct stat stCur;
    char acDone[PATH_MAX];              /* its absolute path, no links; "" for the root */
    char aacTodo[2][2 * PATH_MAX + 2];  /* what is still to walk: a link's target and the rest
                                           are put together in the other, so no copy overlaps */
    int iBuffer;
    char const *psTodo;
    int iLinks;
    int bCount;                         /* WALK_FILE by root: the owners on the way count */
    int bUser;                          /* a user other than root has been met */
    uid_t uidUser;                      /* that user, or WALK_TRUSTED's */
    gid_t gidUser;
    char acUserAt[PATH_MAX];            /* the component that made the walk that user's */
    struct MorvIdentity id;             /* taken when the user was met */
};

/* Whether anyone but the owner of the directory whose status is *pst may
 * write it: by its group or by others, sticky or not. */
static int OthersMayWrite(struct stat const *pst)
{
    return (pst->st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

/* Writes the name of user uid into psOut (uOut bytes). */
static void NameOfUser(uid_t uid, char *psOut, size_t uOut)
{
    struct passwd const *pw = getpwuid(uid);
    if (pw != NULL)
        snprintf(psOut, uOut, "%s", pw->pw_name);
    else
        snprintf(psOut, uOut, "uid %u", (unsigned)uid);
}

/* The user the walk runs as now: the one it took, or the process's own. */
static uid_t Follower(struct Walker const *pk)
{
    return pk->bUser ? pk->uidUser : geteuid();
}

/* Counts the owner of psComponent, a component of kind eKind whose status
 * is *pst, for a file's walk: the first user other than root met is taken
 * as the identity of the rest of the walk; a second one is refused.
 * Returns 1; 0 with errno and acWalkRefusal set. */
static int CountOwner(struct Walker *pk, char const *psComponent, struct stat const *pst, enum Kind eKind)
{
    uid_t uid = pst->st_uid;
    /* The file itself counts where others may put another in its place. */
    if (!pk->bCount || uid == 0 || (eKind == KIND_FILE && !OthersMayWrite(&pk->stCur)))
        return 1;
    char acThis[64], acFirst[64];
    if (!pk->bUser) {
        if (!AssumeUser(uid, pst->st_gid, &pk->id)) {
            int iErr = errno;
            NameOfUser(uid, acThis, sizeof acThis);
            snprintf(acWalkRefusal, sizeof acWalkRefusal, "the identity of %s, who owns %s, cannot be taken",
                     acThis, psComponent);
            errno = iErr;
            return 0;
        }
        pk->bUser = 1;
        pk->uidUser = uid;
        pk->gidUser = pst->st_gid;
        snprintf(pk->acUserAt, sizeof pk->acUserAt, "%s", psComponent);
        return 1;
    }
    if (uid == pk->uidUser)
        return 1;
    NameOfUser(uid, acThis, sizeof acThis);
    NameOfUser(pk->uidUser, acFirst, sizeof acFirst);
    snprintf(acWalkRefusal, sizeof acWalkRefusal,
             "unsafe transition: %s belongs to %s, but %s, on the way to it, belongs to %s", psComponent,
             acThis, pk->acUserAt, acFirst);
    errno = EPERM;
    return 0;
}

/* Judges psComponent, of kind eKind and status *pst: its owner counted (a
 * file's walk) or checked (a history directory's), and a link in a
 * directory that others may write followed only where protected_symlinks
 * would follow it.  Returns 1; 0 with errno and acWalkRefusal set. */
static int Judge(struct Walker *pk, char const *psComponent, struct stat const *pst, enum Kind eKind)
{
    char acOwner[64], acUser[64];
    if (pk->eMode == WALK_FILE && !CountOwner(pk, psComponent, pst, eKind))
        return 0;
    if (pk->eMode == WALK_TRUSTED && pst->st_uid != 0 && pst->st_uid != pk->uidUser) {
        NameOfUser(pst->st_uid, acOwner, sizeof acOwner);
        NameOfUser(pk->uidUser, acUser, sizeof acUser);
        snprintf(acWalkRefusal, sizeof acWalkRefusal, "%s belongs to %s, not to %s", psComponent, acOwner,
                 acUser);
        errno = EPERM;
        return 0;
    }
    if (eKind == KIND_LINK && OthersMayWrite(&pk->stCur) && pst->st_uid != pk->stCur.st_uid &&
        pst->st_uid != Follower(pk)) {
        NameOfUser(pst->st_uid, acOwner, sizeof acOwner);
        snprintf(acWalkRefusal, sizeof acWalkRefusal,
                 "%s is a link of %s's in a directory that others may write: it is not followed",
                 psComponent, acOwner);
        errno = EACCES;
        return 0;
    }
    return 1;
}

/* Makes fd, whose status is *pst and whose path is psPath, the directory
 * reached.  Cannot fail. */
static void MoveTo(struct Walker *pk, int fd, struct stat const *pst, char const *psPath)
{
    if (pk->fdCur >= 0)
        close(pk->fdCur);
    pk->fdCur = fd;
    pk->stCur = *pst;
    if (psPath != pk->acDone)
        snprintf(pk->acDone, sizeof pk->acDone, "%s", psPath);
}

/* Goes back to the root directory.  Returns 1; 0 with errno set. */
static int MoveToRoot(struct Walker *pk)
{
    struct stat st;
    int fd = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd >= 0)
            close(fd);
        return 0;
    }
    MoveTo(pk, fd, &st, "");
    return 1;
}

/* Puts the target of the link open on fdLink in its place before psRest,
 * what is still to walk after it.  Returns 1; 0 with errno set. */
static int FollowLink(struct Walker *pk, int fdLink, char const *psRest)
{
    char acTarget[PATH_MAX];
    if (++pk->iLinks > WALK_MAX_LINKS) {
        errno = ELOOP;
        return 0;
    }
    ssize_t n = readlinkat(fdLink, "", acTarget, sizeof acTarget);
    if (n < 0)
        return 0;
    if (n == 0 || (size_t)n >= sizeof acTarget) {
        errno = n == 0 ? ENOENT : ENAMETOOLONG;
        return 0;
    }
    acTarget[n] = '\0';
    if (acTarget[0] == '/' && !MoveToRoot(pk))
        return 0;
    pk->iBuffer = 1 - pk->iBuffer;
    if ((size_t)snprintf(pk->aacTodo[pk->iBuffer], sizeof pk->aacTodo[pk->iBuffer], "%s%s", acTarget,
                         psRest) >= sizeof pk->aacTodo[pk->iBuffer]) {
        errno = ENAMETOOLONG;
        return 0;
    }
    pk->psTodo = pk->aacTodo[pk->iBuffer];
    return 1;
}

/* What one step of a walk came to. */
enum Step {
    STEP_ON,          /* a component walked: go on */
    STEP_FOUND,       /* the last name reached, with or without something there */
    STEP_NO_PLACE,    /* a directory on the way is missing (or is no directory) */
    STEP_REFUSED      /* errno (and acWalkRefusal) say why */
};

/* Walks ".." or "." of the directory reached.  Returns the step. */
static enum Step StepDots(struct Walker *pk, int bUp)
{
    if (!bUp)
        return STEP_ON;
    struct stat st;
    int fd = openat(pk->fdCur, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd >= 0)
            close(fd);
        return STEP_REFUSED;
    }
    char *psSlash = strrchr(pk->acDone, '/');
    if (psSlash != NULL)
        *psSlash = '\0';
    MoveTo(pk, fd, &st, pk->acDone);
    return STEP_ON;
}

/* The last name of a file's walk, with what is there (fd, -1 for nothing)
 * and its status, into *pw.  Returns the step. */
static enum Step Found(struct Walker *pk, char const *psName, int fd, struct stat const *pst,
                       struct MorvWalk *pw)
{
    snprintf(pw->acName, sizeof pw->acName, "%s", psName);
    if ((size_t)snprintf(pw->acFull, sizeof pw->acFull, "%s/%s", pk->acDone, psName) >= sizeof pw->acFull) {
        errno = ENAMETOOLONG;
        return STEP_REFUSED;
    }
    pw->bExists = fd >= 0;
    if (fd >= 0) {
        pw->st = *pst;
        close(fd);
        if (!Judge(pk, pw->acFull, pst, KIND_FILE))
            return STEP_REFUSED;
    }
    return STEP_FOUND;
}

/* Takes the next step of the walk: one component of what is still to
 * walk.  Missing directories of a history walk are made with bCreate.
 * Returns the step. */
static enum Step TakeStep(struct Walker *pk, int bCreate, struct MorvWalk *pw)
{
    char const *psName = pk->psTodo + strspn(pk->psTodo, "/");
    size_t uName = strcspn(psName, "/");
    char const *psRest = psName + uName;
    int bLast = psRest[strspn(psRest, "/")] == '\0';
    char acName[NAME_MAX + 1], acComponent[PATH_MAX];
    if (uName > NAME_MAX) {
        errno = ENAMETOOLONG;
        return STEP_REFUSED;
    }
    memcpy(acName, psName, uName);
    acName[uName] = '\0';
    pk->psTodo = psRest;
    if (strcmp(acName, ".") == 0 || strcmp(acName, "..") == 0) {
        if (bLast && pk->eMode == WALK_FILE) {
            errno = EISDIR;
            return STEP_REFUSED;
        }
        return StepDots(pk, uName == 2);
    }
    if ((size_t)snprintf(acComponent, sizeof acComponent, "%s/%s", pk->acDone, acName) >= sizeof acComponent) {
        errno = ENAMETOOLONG;
        return STEP_REFUSED;
    }
    struct stat st;
    int fd = openat(pk->fdCur, acName, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && pk->eMode == WALK_TRUSTED && bCreate) {
        if (mkdirat(pk->fdCur, acName, 0700) != 0 && errno != EEXIST)
            return STEP_REFUSED;
        fd = openat(pk->fdCur, acName, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd < 0 && errno == ENOENT && pk->eMode == WALK_FILE) {
        if (bLast)
            return Found(pk, acName, -1, NULL, pw);
        pw->iErrno = ENOENT;
        snprintf(pw->acFull, sizeof pw->acFull, "%s%s", acComponent, psRest);
        return STEP_NO_PLACE;
    }
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd >= 0)
            close(fd);
        return STEP_REFUSED;
    }
    enum Kind eKind = S_ISLNK(st.st_mode) ? KIND_LINK : bLast && pk->eMode == WALK_FILE ? KIND_FILE
                                                                                       : KIND_DIRECTORY;
    if (eKind == KIND_FILE)
        return Found(pk, acName, fd, &st, pw);
    int bJudged = Judge(pk, acComponent, &st, eKind);
    if (bJudged && eKind == KIND_LINK) {
        bJudged = FollowLink(pk, fd, psRest);
        close(fd);
        return bJudged ? STEP_ON : STEP_REFUSED;
    }
    if (bJudged && S_ISDIR(st.st_mode)) {
        MoveTo(pk, fd, &st, acComponent);
        return STEP_ON;
    }
    close(fd);
    if (!bJudged)
        return STEP_REFUSED;
    /* A file where a directory should be. */
    errno = ENOTDIR;
    if (pk->eMode == WALK_TRUSTED)
        return STEP_REFUSED;
    pw->iErrno = ENOTDIR;
    snprintf(pw->acFull, sizeof pw->acFull, "%s%s", acComponent, psRest);
    return STEP_NO_PLACE;
}

/* Starts a walk of psPath in mode eMode: from the root, a relative path
 * through the working directory's absolute path.  Returns 1; 0 with errno
 * set. */
static int StartWalk(struct Walker *pk, enum WalkMode eMode, char const *psPath)
{
    memset(pk, 0, sizeof *pk);
    pk->eMode = eMode;
    pk->fdCur = -1;
    acWalkRefusal[0] = '\0';
    if (!AbsolutePath(psPath, pk->aacTodo[0], sizeof pk->aacTodo[0]))
        return 0;
    pk->psTodo = pk->aacTodo[0];
    return MoveToRoot(pk);
}

/* Ends a walk: the identity it took is given back, errno kept. */
static void StopWalk(struct Walker *pk)
{
    int iErr = errno;
    if (pk->fdCur >= 0)
        close(pk->fdCur);
    pk->fdCur = -1;
    if (pk->eMode == WALK_FILE && pk->bUser)
        ResumeIdentity(&pk->id);
    errno = iErr;
}

int WalkPath(char const *psPath, struct MorvWalk *pw)
{
    memset(pw, 0, sizeof *pw);
    pw->fdDir = -1;
    acWalkRefusal[0] = '\0';
    size_t uLen = psPath != NULL ? strlen(psPath) : 0;
    if (uLen == 0 || psPath[uLen - 1] == '/') {
        errno = uLen == 0 ? ENOENT : EISDIR;
        return 0;
    }
    struct Walker walker, *pk = &walker;
    if (!StartWalk(pk, WALK_FILE, psPath))
        return 0;
    pk->bCount = geteuid() == 0;
    enum Step e = STEP_ON;
    while (e == STEP_ON) {
        /* A link to a directory at the end names no file in it. */
        if (pk->psTodo[strspn(pk->psTodo, "/")] == '\0') {
            errno = EISDIR;
            e = STEP_REFUSED;
        } else {
            e = TakeStep(pk, 0, pw);
        }
    }
    if (e == STEP_FOUND) {
        /* Read where it may be, for a lock, a listing and a sync. */
        int fd = openat(pk->fdCur, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0)
            MoveTo(pk, fd, &pk->stCur, pk->acDone);
        pw->fdDir = pk->fdCur;
        pk->fdCur = -1;
    }
    /* Also where a directory on the way is missing: the file, and its
     * history, are still those of the user who owns the way so far. */
    if (e != STEP_REFUSED) {
        pw->bTake = pk->bUser;
        pw->uid = pk->uidUser;
        pw->gid = pk->gidUser;
    }
    snprintf(pw->acShown, sizeof pw->acShown, "%s", pk->iLinks == 0 ? psPath : pw->acFull);
    StopWalk(pk);
    return e != STEP_REFUSED;
}

void EndWalk(struct MorvWalk *pw)
{
    if (pw->fdDir >= 0)
        close(pw->fdDir);
    pw->fdDir = -1;
}

int AssumeWalkIdentity(struct MorvWalk const *pw, struct MorvIdentity *pSaved)
{
    return AssumeChosenUser(pw->bTake, pw->uid, pw->gid, pSaved);
}

uid_t WalkUser(struct MorvWalk const *pw)
{
    return pw->bTake ? pw->uid : geteuid();
}

int OpenWalkedFile(struct MorvWalk const *pw, int iAccess, struct stat *pst)
{
    if (pw->fdDir < 0) {
        errno = pw->iErrno != 0 ? pw->iErrno : ENOENT;
        return -1;
    }
    struct MorvIdentity id;
    if (!AssumeWalkIdentity(pw, &id))
        return -1;
    int fd = -1;
    if (fstatat(pw->fdDir, pw->acName, pst, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISREG(pst->st_mode))
            fd = openat(pw->fdDir, pw->acName, iAccess | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        else
            errno = S_ISDIR(pst->st_mode) ? EISDIR : S_ISLNK(pst->st_mode) ? ELOOP : EINVAL;
    }
    /* The name may have been given to something else between the looks. */
    if (fd >= 0 && (fstat(fd, pst) != 0 || !S_ISREG(pst->st_mode))) {
        int iErr = S_ISDIR(pst->st_mode) ? EISDIR : EINVAL;
        close(fd);
        errno = iErr;
        fd = -1;
    }
    ResumeIdentity(&id);
    return fd;
}

int OpenTrustedDirectory(char const *psPath, uid_t uid, int bCreate, int bPrivate)
{
    struct Walker walker, *pk = &walker;
    if (psPath[0] != '/') {
        acWalkRefusal[0] = '\0';
        errno = ENOENT;
        return -1;
    }
    if (!StartWalk(pk, WALK_TRUSTED, psPath))
        return -1;
    pk->uidUser = uid;
    pk->bUser = 1;
    struct MorvWalk unused;
    enum Step e = STEP_ON;
    /* The root itself is judged as every component is. */
    if (!Judge(pk, "/", &pk->stCur, KIND_DIRECTORY))
        e = STEP_REFUSED;
    while (e == STEP_ON && pk->psTodo[strspn(pk->psTodo, "/")] != '\0')
        e = TakeStep(pk, bCreate, &unused);
    int fd = -1;
    if (e == STEP_ON && bPrivate && OthersMayWrite(&pk->stCur)) {
        snprintf(acWalkRefusal, sizeof acWalkRefusal, "%.*s may be written by others than its owner",
                 PATH_MAX, pk->acDone[0] != '\0' ? pk->acDone : "/");
        errno = EPERM;
    } else if (e == STEP_ON) {
        fd = openat(pk->fdCur, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    StopWalk(pk);
    return fd;
}
