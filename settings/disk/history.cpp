/* The local history of a morvrc: one folder per file under its user's state
 * directory, found from what the file's walk resolved and reached through
 * descriptors alone, one file per kept version holding its exact bytes and
 * named by its number, the time it was replaced and who replaced it. */
#include "settings/disk/history.h"

#include "settings/disk/tempfile.h"
#include "settings/disk/walk.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

/* The longest name of one folder of the file's own part of the path. */
#define FOLDER_PART 200

/* Room for a folder's whole path: the state directory, morvane/history/
 * and the file's resolved path written out at most three bytes a byte,
 * with the marks and slashes of its parts. */
#define FOLDER_PATH (4 * PATH_MAX + 256)

/* Writes psFull into psOut (uOut bytes) with '/' as '!' and '!', '%' and
 * '+' as %21, %25 and %2B: no two paths give one text, and '+' is left
 * for the marks between folders.  Returns the length it would take. */
static size_t Encode(char const *psFull, char *psOut, size_t uOut)
{
    size_t u = 0;
    for (char const *ps = psFull; *ps != '\0'; ps++) {
        char acCode[4] = {*ps, '\0'};
        if (*ps == '/')
            acCode[0] = '!';
        else if (*ps == '!' || *ps == '%' || *ps == '+')
            snprintf(acCode, sizeof acCode, "%%%02X", (unsigned)(unsigned char)*ps);
        for (char const *pc = acCode; *pc != '\0'; pc++, u++)
            if (u + 1 < uOut)
                psOut[u] = *pc;
    }
    if (uOut > 0)
        psOut[u < uOut ? u : uOut - 1] = '\0';
    return u;
}

/* Writes into psOut (uOut bytes) the folders of the file psFull below
 * morvane/history/, joined by '/': its encoding cut, between two codes,
 * into parts of at most FOLDER_PART characters, each but the last ending
 * in '+' and each but the first beginning with one.  Returns 1; 0 with
 * errno ENAMETOOLONG. */
static int FileFolders(char const *psFull, char *psOut, size_t uOut)
{
    static char acCode[3 * PATH_MAX + 1];
    if (Encode(psFull, acCode, sizeof acCode) >= sizeof acCode)
        return errno = ENAMETOOLONG, 0;
    size_t uOutAt = 0, uPart = 0;
    for (char const *ps = acCode; *ps != '\0';) {
        size_t uCode = *ps == '%' ? 3 : 1;
        char const *psMark = "";
        if (uPart + uCode > FOLDER_PART) {
            psMark = "+/+";
            uPart = 1;
        }
        int n = snprintf(psOut + uOutAt, uOut - uOutAt, "%s%.*s", psMark, (int)uCode, ps);
        if (n < 0 || (size_t)n >= uOut - uOutAt)
            return errno = ENAMETOOLONG, 0;
        uOutAt += (size_t)n;
        uPart += uCode;
        ps += uCode;
    }
    return 1;
}

/* Opens, with the identity in force, the state directory of the walk's
 * user (see KeepVersion), making what is missing with bCreate; its path
 * goes to psHome (uHome bytes), and why $XDG_STATE_HOME was passed over to
 * psNote (empty otherwise).  Returns the descriptor, or -1 with errno set
 * (ENOENT: none yet, without bCreate). */
static int OpenStateHome(struct MorvWalk const *pWalk, int bCreate, char *psHome, size_t uHome, char *psNote,
                         size_t uNote)
{
    uid_t uid = WalkUser(pWalk);
    psNote[0] = '\0';
    char const *psState = getenv("XDG_STATE_HOME");
    if (psState != NULL && psState[0] == '/') {
        int fd = OpenTrustedDirectory(psState, uid, bCreate, 1);
        snprintf(psHome, uHome, "%s", psState);
        if (fd >= 0 || (errno == ENOENT && !bCreate))
            return fd;
        snprintf(psNote, uNote, "XDG_STATE_HOME=%s is not used (%.*s)", psState, PATH_MAX,
                 acWalkRefusal[0] != '\0' ? acWalkRefusal : strerror(errno));
        acWalkRefusal[0] = '\0';
    }
    /* The process's own HOME may be another user's, as sudo -E leaves it. */
    char const *psUserHome = pWalk->bTake ? NULL : getenv("HOME");
    int fdHome = psUserHome != NULL && psUserHome[0] == '/' ? OpenTrustedDirectory(psUserHome, uid, 0, 0) : -1;
    if (fdHome >= 0) {
        close(fdHome);
    } else {
        struct passwd const *pw = getpwuid(uid);
        psUserHome = pw != NULL ? pw->pw_dir : NULL;
    }
    if (psUserHome == NULL || psUserHome[0] != '/')
        return errno = ENOENT, -1;
    if ((size_t)snprintf(psHome, uHome, "%s/.local/state", strcmp(psUserHome, "/") != 0 ? psUserHome : "") >=
        uHome)
        return errno = ENAMETOOLONG, -1;
    return OpenTrustedDirectory(psHome, uid, bCreate, 0);
}

/* Opens the folders psRelative below fdTop, one at a time without
 * following a link, each of which must be uid's (or root's), making the
 * missing ones mode 0700 with bCreate; the last one is made private.
 * Returns its descriptor, or -1 with errno set. */
static int OpenBelow(int fdTop, char *psRelative, uid_t uid, int bCreate)
{
    int fd = fdTop;
    char *psSaved = NULL;
    for (char *psName = strtok_r(psRelative, "/", &psSaved); psName != NULL;
         psName = strtok_r(NULL, "/", &psSaved)) {
        int iFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        int fdNext = openat(fd, psName, iFlags);
        if (fdNext < 0 && errno == ENOENT && bCreate && (mkdirat(fd, psName, 0700) == 0 || errno == EEXIST))
            fdNext = openat(fd, psName, iFlags);
        struct stat st;
        if (fdNext >= 0 && fstat(fdNext, &st) == 0 && st.st_uid != uid && st.st_uid != 0) {
            close(fdNext);
            fdNext = -1;
            errno = EPERM;
        }
        int iErr = errno;
        close(fd);
        errno = iErr;
        if (fdNext < 0)
            return -1;
        fd = fdNext;
    }
    struct stat st;
    /* The versions are the user's alone. */
    if (fstat(fd, &st) != 0 || ((st.st_mode & 077) && st.st_uid == uid && fchmod(fd, 0700) != 0)) {
        int iErr = errno;
        close(fd);
        errno = iErr;
        return -1;
    }
    return fd;
}

/* Finds the history folder of the walk's file, with the identity in
 * force: *ppsFolder gets its path (malloc'd, null when there is no place
 * for it) and psNote why $XDG_STATE_HOME was passed over.  Returns its
 * descriptor, or -1 with errno set (ENOENT: none yet, without bCreate). */
static int FindFolder(struct MorvWalk const *pWalk, int bCreate, char **ppsFolder, char *psNote, size_t uNote)
{
    *ppsFolder = NULL;
    char acHome[PATH_MAX] = "";
    char *psRelative = (char *)malloc(FOLDER_PATH);
    char *psFolder = (char *)malloc(FOLDER_PATH);
    int fd = -1;
    if (psRelative == NULL || psFolder == NULL) {
        errno = ENOMEM;
    } else if (strcpy(psRelative, "morvane/history/"),
               FileFolders(pWalk->acFull, psRelative + strlen(psRelative), FOLDER_PATH - strlen(psRelative))) {
        fd = OpenStateHome(pWalk, bCreate, acHome, sizeof acHome, psNote, uNote);
        if (acHome[0] != '\0' &&
            (size_t)snprintf(psFolder, FOLDER_PATH, "%s/%s", acHome, psRelative) < FOLDER_PATH) {
            *ppsFolder = psFolder;
            psFolder = NULL;
        }
        if (fd >= 0 && *ppsFolder == NULL) {
            close(fd);
            fd = -1;
            errno = ENAMETOOLONG;
        }
        if (fd >= 0)
            fd = OpenBelow(fd, psRelative, WalkUser(pWalk), bCreate);
    }
    int iErr = errno;
    free(psRelative);
    free(psFolder);
    errno = iErr;
    return fd;
}

/* Reads a version's name, "0000000042,20261207T230455.123456789Z,morvrc_tool,set",
 * or one named by the time alone, "20261207T230455.123456789Z,morvrc_tool,set".
 * Returns 1 for a version's name, 0 for anything else. */
static int ParseName(char const *psName, struct MorvVersion *pv)
{
    struct tm tm;
    memset(&tm, 0, sizeof tm);
    long lNanos = 0;
    long long llNumber = 0;
    int iNumbered = 0, iUsed = 0;
    if (strspn(psName, "0123456789") == 10 && psName[10] == ',') {
        llNumber = atoll(psName);
        iNumbered = 11;
    }
    char const *psTime = psName + iNumbered;
    if (sscanf(psTime, "%4d%2d%2dT%2d%2d%2d.%9ldZ%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tm.tm_min,
               &tm.tm_sec, &lNanos, &iUsed) != 7 ||
        iUsed != 26 || psTime[iUsed] != ',' || strlen(psName) >= sizeof pv->acFile)
        return 0;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    memset(pv, 0, sizeof *pv);
    snprintf(pv->acFile, sizeof pv->acFile, "%s", psName);
    pv->llNumber = llNumber;
    pv->llSeconds = (long long)timegm(&tm);
    pv->lNanos = lNanos;
    snprintf(pv->acSaver, sizeof pv->acSaver, "%s", psTime + iUsed + 1);
    for (char *ps = pv->acSaver; *ps; ps++)
        if (*ps == ',')
            *ps = ' ';
    return 1;
}

/* By number; versions named by the time alone come after, by their time. */
static int NewestFirst(void const *pa, void const *pb)
{
    struct MorvVersion const *a = (struct MorvVersion const *)pa, *b = (struct MorvVersion const *)pb;
    if (a->llNumber != b->llNumber)
        return a->llNumber > b->llNumber ? -1 : 1;
    if (a->llSeconds != b->llSeconds)
        return a->llSeconds > b->llSeconds ? -1 : 1;
    if (a->lNanos != b->lNanos)
        return a->lNanos > b->lNanos ? -1 : 1;
    return -strcmp(a->acFile, b->acFile);
}

/* Lists the folder open on fdFolder into pList, as the current identity.
 * Returns 1; 0 with errno set. */
static int ListFolder(int fdFolder, struct MorvVersionList *pList)
{
    int fdList = dup(fdFolder);
    DIR *pDir = fdList >= 0 ? fdopendir(fdList) : NULL;
    if (pDir == NULL) {
        int iErr = errno;
        if (fdList >= 0)
            close(fdList);
        return errno = iErr, 0;
    }
    rewinddir(pDir);
    int iCap = 0, bOk = 1;
    struct dirent const *pe;
    while ((pe = readdir(pDir)) != NULL) {
        struct MorvVersion v;
        struct stat st;
        if (!ParseName(pe->d_name, &v) || fstatat(fdFolder, pe->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode))
            continue;
        v.llSize = st.st_size;
        if (pList->iCount == iCap) {
            iCap = iCap ? iCap * 2 : 64;
            struct MorvVersion *pNew = (struct MorvVersion *)realloc(pList->pVersions, (size_t)iCap * sizeof *pNew);
            if (!pNew) {
                bOk = 0;
                errno = ENOMEM;
                break;
            }
            pList->pVersions = pNew;
        }
        pList->pVersions[pList->iCount++] = v;
    }
    int iErrno = errno;
    closedir(pDir);
    errno = iErrno;
    if (bOk && pList->iCount > 1)
        qsort(pList->pVersions, (size_t)pList->iCount, sizeof *pList->pVersions, NewestFirst);
    return bOk;
}

/* Opens the version psName of the folder on fdFolder and reads it into
 * *pSnap.  Returns 1; 0 with errno set. */
static int ReadVersionAt(int fdFolder, char const *psName, struct MorvSnapshot *pSnap)
{
    memset(pSnap, 0, sizeof *pSnap);
    struct stat st;
    int fd = openat(fdFolder, psName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        close(fd);
        fd = -1;
        errno = EINVAL;
    }
    if (fd < 0)
        return pSnap->iErrno = errno, 0;
    int bRead = SnapshotDescriptor(fd, pSnap);
    int iErr = errno;
    close(fd);
    errno = iErr;
    return bRead;
}

/* Whether the version psName of the folder on fdFolder holds exactly the
 * uSize bytes at pData. */
static int HoldsBytes(int fdFolder, char const *psName, unsigned char const *pData, size_t uSize)
{
    struct MorvSnapshot snap;
    if (!ReadVersionAt(fdFolder, psName, &snap))
        return 0;
    int bSame = snap.uBytes == uSize && snap.llSize == (long long)uSize &&
                (uSize == 0 || memcmp(snap.pBytes, pData, uSize) == 0);
    FreeSnapshot(&snap);
    return bSame;
}

/* Removes the versions of pList beyond the bounds, never the newest, and
 * temporary files that a keep killed part way left more than a minute ago. */
static void Prune(int fdFolder, struct MorvVersionList const *pList)
{
    long long llBytes = 0;
    for (int i = 0; i < pList->iCount; i++) {
        llBytes += pList->pVersions[i].llSize;
        if (i > 0 && (i >= MORV_HISTORY_MAX_VERSIONS || llBytes > MORV_HISTORY_MAX_BYTES))
            unlinkat(fdFolder, pList->pVersions[i].acFile, 0);
    }
    int fdList = dup(fdFolder);
    DIR *pDir = fdList >= 0 ? fdopendir(fdList) : NULL;
    if (pDir == NULL) {
        if (fdList >= 0)
            close(fdList);
        return;
    }
    rewinddir(pDir);
    struct dirent const *pe;
    time_t tNow = time(NULL);
    while ((pe = readdir(pDir)) != NULL) {
        struct stat st;
        if (strncmp(pe->d_name, ".tmp-", 5) == 0 && fstatat(fdFolder, pe->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && st.st_mtime + 60 < tNow)
            unlinkat(fdFolder, pe->d_name, 0);
    }
    closedir(pDir);
}

/* Writes the uSize bytes at pData to a new temporary file of the folder on
 * fdFolder, synced, its name into acTemp.  Returns 1; 0 with errno set and
 * nothing left. */
static int WriteTemporary(int fdFolder, unsigned char const *pData, size_t uSize, char *acTemp, size_t uTemp)
{
    int fd = MakeTemporary(fdFolder, "", acTemp, uTemp);
    if (fd < 0)
        return 0;
    size_t uDone = 0;
    int bOk = WriteAllAt(fd, pData, uSize, 0, &uDone) && fsync(fd) == 0;
    int iErrno = bOk ? 0 : errno != 0 ? errno : EIO;
    if (close(fd) != 0 && bOk)
        bOk = 0, iErrno = errno;
    if (!bOk)
        unlinkat(fdFolder, acTemp, 0);
    errno = iErrno;
    return bOk;
}

/* Writes the version's bytes to a new file of the folder on fdFolder and
 * names it one more than the newest; see KeepVersion.  As the current
 * identity.  Returns 1; 0 with errno set. */
static int WriteVersion(int fdFolder, unsigned char const *pData, size_t uSize, char const *psSaver)
{
    struct MorvVersionList list;
    memset(&list, 0, sizeof list);
    if (!ListFolder(fdFolder, &list))
        return 0;
    long long llNext = list.iCount > 0 ? list.pVersions[0].llNumber + 1 : 1;
    int bSame = list.iCount > 0 && HoldsBytes(fdFolder, list.pVersions[0].acFile, pData, uSize);
    free(list.pVersions);
    if (bSame)
        return 1;
    char acTemp[32];
    if (!WriteTemporary(fdFolder, pData, uSize, acTemp, sizeof acTemp))
        return 0;
    /* The name: the number, the time it was replaced (to be shown) and who
     * replaced it; a number taken meanwhile moves on by one. */
    char acSaver[64];
    snprintf(acSaver, sizeof acSaver, "%s", psSaver && *psSaver ? psSaver : "unknown");
    for (char *ps = acSaver; *ps; ps++)
        if (*ps == ' ' || *ps == '/' || *ps == ',')
            *ps = ',';
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tm;
    gmtime_r(&ts.tv_sec, &tm);
    for (int iTry = 0;; iTry++, llNext++) {
        char acName[128];
        snprintf(acName, sizeof acName, "%010lld,%04d%02d%02dT%02d%02d%02d.%09ldZ,%s", llNext, tm.tm_year + 1900,
                 tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, (long)ts.tv_nsec, acSaver);
        if (linkat(fdFolder, acTemp, fdFolder, acName, 0) == 0)
            break;
        if (errno != EEXIST || iTry > 1000) {
            int iErrno = errno;
            unlinkat(fdFolder, acTemp, 0);
            return errno = iErrno, 0;
        }
    }
    unlinkat(fdFolder, acTemp, 0);
    fsync(fdFolder);
    memset(&list, 0, sizeof list);
    if (ListFolder(fdFolder, &list))
        Prune(fdFolder, &list);
    free(list.pVersions);
    return 1;
}

int KeepVersion(struct MorvWalk const *pWalk, unsigned char const *pData, size_t uSize,
                char const *psSaver, char *psWhy, size_t uWhy)
{
    char acNote[PATH_MAX + 512];
    if (psWhy && uWhy)
        psWhy[0] = '\0';
    struct MorvIdentity id;
    if (!AssumeWalkIdentity(pWalk, &id)) {
        if (psWhy)
            snprintf(psWhy, uWhy, "the identity of the file's user cannot be taken: %s", strerror(errno));
        return 0;
    }
    char *psFolder;
    int fdFolder = FindFolder(pWalk, 1, &psFolder, acNote, sizeof acNote);
    int bOk = fdFolder >= 0 && WriteVersion(fdFolder, pData, uSize, psSaver);
    int iErr = errno;
    if (fdFolder >= 0)
        close(fdFolder);
    ResumeIdentity(&id);
    char const *psWhere = psFolder != NULL ? psFolder : pWalk->acShown;
    if (!bOk && psWhy)
        snprintf(psWhy, uWhy, "%s: %s", psWhere,
                 fdFolder < 0 && acWalkRefusal[0] != '\0' ? acWalkRefusal : strerror(iErr));
    else if (acNote[0] != '\0' && psWhy)
        snprintf(psWhy, uWhy, "%s; the versions of %s are kept in %s", acNote, pWalk->acShown, psWhere);
    free(psFolder);
    errno = iErr;
    return bOk;
}

int ListVersions(struct MorvWalk const *pWalk, struct MorvVersionList *pList)
{
    memset(pList, 0, sizeof *pList);
    pList->fdFolder = -1;
    pList->bTake = pWalk->bTake;
    pList->uid = pWalk->uid;
    pList->gid = pWalk->gid;
    struct MorvIdentity id;
    if (!AssumeWalkIdentity(pWalk, &id))
        return 0;
    char acNote[PATH_MAX + 512];
    pList->fdFolder = FindFolder(pWalk, 0, &pList->psFolder, acNote, sizeof acNote);
    int bOk = pList->fdFolder >= 0 ? ListFolder(pList->fdFolder, pList) : errno == ENOENT && pList->psFolder;
    ResumeIdentity(&id);
    return bOk;
}

int ReadVersion(struct MorvVersionList const *pList, struct MorvVersion const *pVersion,
                struct MorvSnapshot *pSnap)
{
    memset(pSnap, 0, sizeof *pSnap);
    if (pList->psFolder == NULL || pList->fdFolder < 0)
        return errno = pSnap->iErrno = ENOENT, 0;
    struct MorvIdentity id;
    if (!AssumeChosenUser(pList->bTake, pList->uid, pList->gid, &id))
        return pSnap->iErrno = errno, 0;
    int bRead = ReadVersionAt(pList->fdFolder, pVersion->acFile, pSnap);
    ResumeIdentity(&id);
    return bRead;
}

void FreeVersionList(struct MorvVersionList *pList)
{
    /* A folder is open only where its path is known. */
    if (pList->psFolder != NULL && pList->fdFolder >= 0)
        close(pList->fdFolder);
    free(pList->psFolder);
    free(pList->pVersions);
    memset(pList, 0, sizeof *pList);
    pList->fdFolder = -1;
}

void FormatVersionTime(struct MorvVersion const *pv, char *psOut, size_t uOut)
{
    time_t t = (time_t)pv->llSeconds;
    struct tm tm;
    if (uOut == 0)
        return;
    if ((long long)t != pv->llSeconds || localtime_r(&t, &tm) == NULL ||
        strftime(psOut, uOut, "%Y-%m-%d %H:%M:%S", &tm) == 0)
        snprintf(psOut, uOut, "%lld", pv->llSeconds);
}
