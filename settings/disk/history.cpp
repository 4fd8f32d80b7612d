/* The local history of a morvrc: one folder per file under the user's
 * state directory, one file per kept version holding its exact bytes and
 * named by the time it was replaced and by who replaced it. */
#include "settings/disk/history.h"

#include "settings/disk/identity.h"
#include "settings/disk/path.h"

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

/* The user whose history a file's is, and whose rights every step of it
 * takes: root working on another user's file takes that user's
 * file-system identity (AssumeUser), so that nothing in the user's home
 * becomes root's and no link of the user's leads root's writes elsewhere. */
struct HistoryUser {
    uid_t uid;
    gid_t gid;
    int bOther;   /* 1: not this process's own user */
};

/* The absolute path of the file psPath leads to, which need not exist: its
 * directory resolved, its name kept.  Returns a malloc'd path or null. */
static char *FullPath(char const *psPath)
{
    char *psTarget = FollowLinks(psPath);
    if (!psTarget) return NULL;
    char acDir[PATH_MAX], acName[PATH_MAX], acReal[PATH_MAX];
    char const *psName = acName;
    char *psFull = NULL;
    if (SplitPath(psTarget, acDir, sizeof acDir, acName, sizeof acName) && realpath(acDir, acReal)) {
        size_t uLen = strlen(acReal) + strlen(psName) + 2;
        psFull = (char *)malloc(uLen);
        if (psFull) snprintf(psFull, uLen, "%s/%s", strcmp(acReal, "/") ? acReal : "", psName);
    } else if (psTarget[0] == '/') {
        psFull = strdup(psTarget);
    } else {
        char acCwd[PATH_MAX];
        if (getcwd(acCwd, sizeof acCwd)) {
            size_t uLen = strlen(acCwd) + strlen(psTarget) + 2;
            psFull = (char *)malloc(uLen);
            if (psFull) snprintf(psFull, uLen, "%s/%s", acCwd, psTarget);
        }
    }
    free(psTarget);
    if (!psFull && !errno) errno = ENOMEM;
    return psFull;
}

/* The user whose history holds psFull: the process's own, or for root the
 * file's user (UserOfFile). */
static void FindUser(char const *psFull, struct HistoryUser *pu)
{
    pu->bOther = UserOfFile(psFull, &pu->uid, &pu->gid);
}

/* The state directory of the user pu: XDG_STATE_HOME or ~/.local/state for
 * the process's own user, the owner's ~/.local/state otherwise. */
static int StateHome(struct HistoryUser const *pu, char *psOut, size_t uOut)
{
    char const *psHome = NULL;
    if (!pu->bOther) {
        char const *psState = getenv("XDG_STATE_HOME");
        if (psState && psState[0] == '/') {
            if ((size_t)snprintf(psOut, uOut, "%s", psState) >= uOut) return errno = ENAMETOOLONG, 0;
            return 1;
        }
        psHome = getenv("HOME");
    } else {
        struct passwd const *pw = getpwuid(pu->uid);
        psHome = pw ? pw->pw_dir : NULL;
    }
    if (!psHome || psHome[0] != '/') return errno = ENOENT, 0;
    if ((size_t)snprintf(psOut, uOut, "%s/.local/state", psHome) >= uOut) return errno = ENAMETOOLONG, 0;
    return 1;
}

/* Writes psFrom with '/' as '!' and '!' as "!!" into psOut (uOut bytes).
 * Returns the length it would take. */
static size_t Escape(char const *psFrom, char *psOut, size_t uOut)
{
    size_t u = 0;
    for (char const *ps = psFrom; *ps; ps++) {
        char const *psAs = *ps == '/' ? "!" : *ps == '!' ? "!!" : NULL;
        for (size_t k = 0; k < (psAs ? strlen(psAs) : 1); k++, u++)
            if (u + 1 < uOut) psOut[u] = psAs ? psAs[k] : *ps;
    }
    if (uOut) psOut[u < uOut ? u : uOut - 1] = '\0';
    return u;
}

/* The folder's own name for the file psFull; see HistoryFolder. */
static void FolderName(char const *psFull, char *psOut, size_t uOut)
{
    if (Escape(psFull, psOut, uOut) <= 200) return;
    unsigned long long ullHash = 1469598103934665603ULL;
    for (char const *ps = psFull; *ps; ps++) ullHash = (ullHash ^ (unsigned char)*ps) * 1099511628211ULL;
    char acEnd[200];
    Escape(psFull + strlen(psFull) - 90, acEnd, sizeof acEnd);
    snprintf(psOut, uOut, "%016llx%s", ullHash, acEnd);
}

/* Finds the history folder of psPath (see HistoryFolder) into psOut (uOut
 * bytes) and its user into *pu.  Returns 1; 0 with errno set. */
static int Locate(char const *psPath, char *psOut, size_t uOut, struct HistoryUser *pu)
{
    if (!psPath || !*psPath) return errno = ENOENT, 0;
    char *psFull = FullPath(psPath);
    if (!psFull) return 0;
    FindUser(psFull, pu);
    char acState[PATH_MAX], acName[NAME_MAX + 1];
    int bOk = StateHome(pu, acState, sizeof acState);
    FolderName(psFull, acName, sizeof acName);
    free(psFull);
    if (!bOk) return 0;
    if ((size_t)snprintf(psOut, uOut, "%s/morvane/history/%s", acState, acName) >= uOut)
        return errno = ENAMETOOLONG, 0;
    return 1;
}

int HistoryFolder(char const *psPath, char *psOut, size_t uOut, unsigned *puid)
{
    struct HistoryUser user;
    if (!Locate(psPath, psOut, uOut, &user)) return 0;
    if (puid) *puid = user.uid;
    return 1;
}

/* Makes every missing directory of psFolder mode 0700, as the current
 * file-system identity.  Returns 1; 0 with errno set. */
static int MakeFolders(char const *psFolder)
{
    char acPath[PATH_MAX];
    if ((size_t)snprintf(acPath, sizeof acPath, "%s", psFolder) >= sizeof acPath) return errno = ENAMETOOLONG, 0;
    for (char *ps = acPath + 1;; ps++) {
        if (*ps != '/' && *ps) continue;
        char c = *ps;
        *ps = '\0';
        if (mkdir(acPath, 0700) != 0 && errno != EEXIST) return 0;
        *ps = c;
        if (!c) break;
    }
    struct stat st;
    if (stat(acPath, &st) != 0) return 0;
    if (!S_ISDIR(st.st_mode)) return errno = ENOTDIR, 0;
    if ((st.st_mode & 077) && chmod(acPath, 0700) != 0) return 0;
    return 1;
}

/* Reads a version's name: "20261207T230455.123456789Z,morvrc_tool,set".
 * Returns 1 for a version's name, 0 for anything else. */
static int ParseName(char const *psName, struct MorvVersion *pv)
{
    struct tm tm;
    memset(&tm, 0, sizeof tm);
    long lNanos = 0;
    int iUsed = 0;
    if (sscanf(psName, "%4d%2d%2dT%2d%2d%2d.%9ldZ%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
               &tm.tm_min, &tm.tm_sec, &lNanos, &iUsed) != 7 || iUsed != 26 || psName[iUsed] != ',')
        return 0;
    if (strlen(psName) >= sizeof pv->acFile) return 0;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    memset(pv, 0, sizeof *pv);
    snprintf(pv->acFile, sizeof pv->acFile, "%s", psName);
    pv->llSeconds = (long long)timegm(&tm);
    pv->lNanos = lNanos;
    snprintf(pv->acSaver, sizeof pv->acSaver, "%s", psName + iUsed + 1);
    for (char *ps = pv->acSaver; *ps; ps++)
        if (*ps == ',') *ps = ' ';
    return 1;
}

static int NewestFirst(void const *pa, void const *pb)
{
    struct MorvVersion const *a = (struct MorvVersion const *)pa, *b = (struct MorvVersion const *)pb;
    if (a->llSeconds != b->llSeconds) return a->llSeconds > b->llSeconds ? -1 : 1;
    if (a->lNanos != b->lNanos) return a->lNanos > b->lNanos ? -1 : 1;
    return -strcmp(a->acFile, b->acFile);
}

/* Lists the folder psFolder, as the current identity.  A missing folder is
 * an empty list.  Returns 1; 0 with errno set. */
static int ListFolder(char const *psFolder, struct MorvVersionList *pList)
{
    DIR *pDir = opendir(psFolder);
    if (!pDir) return errno == ENOENT ? 1 : 0;
    int iCap = 0, bOk = 1;
    struct dirent const *pe;
    while ((pe = readdir(pDir)) != NULL) {
        struct MorvVersion v;
        if (!ParseName(pe->d_name, &v)) continue;
        struct stat st;
        if (fstatat(dirfd(pDir), pe->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        v.llSize = st.st_size;
        if (pList->iCount == iCap) {
            iCap = iCap ? iCap * 2 : 64;
            struct MorvVersion *pNew =
                (struct MorvVersion *)realloc(pList->pVersions, (size_t)iCap * sizeof *pNew);
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
    if (bOk && pList->iCount > 1) qsort(pList->pVersions, (size_t)pList->iCount, sizeof *pList->pVersions, NewestFirst);
    return bOk;
}

int ListVersions(char const *psPath, struct MorvVersionList *pList)
{
    memset(pList, 0, sizeof *pList);
    char acFolder[PATH_MAX];
    struct HistoryUser user;
    struct MorvIdentity id;
    if (!Locate(psPath, acFolder, sizeof acFolder, &user)) return 0;
    pList->psFolder = strdup(acFolder);
    if (!pList->psFolder) return errno = ENOMEM, 0;
    int bOk = AssumeUser(user.uid, user.gid, &id);
    if (bOk) {
        bOk = ListFolder(acFolder, pList);
        ResumeIdentity(&id);
    }
    if (!bOk) FreeVersionList(pList);
    return bOk;
}

int ReadVersion(struct MorvVersionList const *pList, struct MorvVersion const *pVersion,
                struct MorvSnapshot *pSnap) {
    char acPath[PATH_MAX];
    if (!pList->psFolder) return errno = ENOENT, 0;
    if ((size_t)snprintf(acPath, sizeof acPath, "%s/%s", pList->psFolder, pVersion->acFile) >= sizeof acPath)
        return errno = ENAMETOOLONG, 0;
    return SnapshotFile(acPath, 1, pSnap);
}

void FreeVersionList(struct MorvVersionList *pList)
{
    free(pList->psFolder);
    free(pList->pVersions);
    memset(pList, 0, sizeof *pList);
}

/* Whether the file psPath holds exactly the uSize bytes at pData. */
static int HoldsBytes(char const *psPath, unsigned char const *pData, size_t uSize)
{
    struct MorvSnapshot snap;
    if (!SnapshotFile(psPath, 1, &snap)) return 0;
    int bSame = snap.uBytes == uSize && snap.llSize == (long long)uSize &&
                (uSize == 0 || memcmp(snap.pBytes, pData, uSize) == 0);
    FreeSnapshot(&snap);
    return bSame;
}

/* Removes the versions beyond the bounds, and temporary files that a keep
 * killed part way left there more than a minute ago. */
static void Prune(char const *psFolder, struct MorvVersionList const *pList)
{
    long long llBytes = 0;
    for (int i = 0; i < pList->iCount; i++) {
        llBytes += pList->pVersions[i].llSize;
        if (i == 0 || (i < MORV_HISTORY_MAX_VERSIONS && llBytes <= MORV_HISTORY_MAX_BYTES)) continue;
        char acPath[PATH_MAX];
        if ((size_t)snprintf(acPath, sizeof acPath, "%s/%s", psFolder, pList->pVersions[i].acFile) < sizeof acPath)
            unlink(acPath);
    }
    DIR *pDir = opendir(psFolder);
    if (!pDir) return;
    struct dirent const *pe;
    time_t tNow = time(NULL);
    while ((pe = readdir(pDir)) != NULL) {
        struct stat st;
        if (strncmp(pe->d_name, ".tmp-", 5) == 0 &&
            fstatat(dirfd(pDir), pe->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_mtime + 60 < tNow)
            unlinkat(dirfd(pDir), pe->d_name, 0);
    }
    closedir(pDir);
}

/* Writes the version's bytes to a new file of the folder and names it;
 * see KeepVersion.  As the current identity.  Returns 1; 0 with errno set
 * and the path that refused in psRefused. */
static int WriteVersion(char const *psFolder, unsigned char const *pData, size_t uSize,
                        char const *psSaver, char *psRefused, size_t uRefused) {
    snprintf(psRefused, uRefused, "%s", psFolder);
    if (!MakeFolders(psFolder)) return 0;
    struct MorvVersionList list;
    memset(&list, 0, sizeof list);
    if (ListFolder(psFolder, &list) && list.iCount > 0) {
        char acNewest[PATH_MAX];
        int bSame = (size_t)snprintf(acNewest, sizeof acNewest, "%s/%s", psFolder,
                                     list.pVersions[0].acFile) < sizeof acNewest &&
                    HoldsBytes(acNewest, pData, uSize);
        FreeVersionList(&list);
        if (bSame) return 1;
    }
    FreeVersionList(&list);
    char acTemp[PATH_MAX];
    if ((size_t)snprintf(acTemp, sizeof acTemp, "%s/.tmp-XXXXXX", psFolder) >= sizeof acTemp)
        return errno = ENAMETOOLONG, 0;
    int fd = mkstemp(acTemp);
    if (fd < 0) return 0;
    size_t uDone = 0;
    int bOk = 1;
    while (bOk && uDone < uSize) {
        ssize_t n = write(fd, pData + uDone, uSize - uDone);
        if (n > 0) uDone += (size_t)n;
        else if (n < 0 && errno == EINTR) continue;
        else bOk = 0;
    }
    if (bOk) bOk = fsync(fd) == 0;
    int iErrno = errno;
    if (close(fd) != 0 && bOk) bOk = 0, iErrno = errno;
    if (!bOk) {
        unlink(acTemp);
        return errno = iErrno ? iErrno : EIO, 0;
    }
    /* The name: the time it was replaced and who replaced it; a name taken
     * in the same nanosecond moves on by one. */
    char acSaver[64];
    snprintf(acSaver, sizeof acSaver, "%s", psSaver && *psSaver ? psSaver : "unknown");
    for (char *ps = acSaver; *ps; ps++)
        if (*ps == ' ' || *ps == '/' || *ps == ',') *ps = ',';
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    for (int iTry = 0;; iTry++) {
        struct tm tm;
        gmtime_r(&ts.tv_sec, &tm);
        char acPath[PATH_MAX];
        if ((size_t)snprintf(acPath, sizeof acPath, "%s/%04d%02d%02dT%02d%02d%02d.%09ldZ,%s", psFolder,
                             tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                             (long)ts.tv_nsec, acSaver) >= sizeof acPath) {
            unlink(acTemp);
            return errno = ENAMETOOLONG, 0;
        }
        if (link(acTemp, acPath) == 0) break;
        if (errno != EEXIST || iTry > 1000) {
            iErrno = errno;
            unlink(acTemp);
            return errno = iErrno, 0;
        }
        if (++ts.tv_nsec >= 1000000000L) ts.tv_nsec = 0, ts.tv_sec++;
    }
    unlink(acTemp);
    int fdDir = open(psFolder, O_RDONLY | O_DIRECTORY);
    if (fdDir >= 0) {
        fsync(fdDir);
        close(fdDir);
    }
    memset(&list, 0, sizeof list);
    if (ListFolder(psFolder, &list)) Prune(psFolder, &list);
    FreeVersionList(&list);
    return 1;
}

int KeepVersion(char const *psPath, unsigned char const *pData, size_t uSize,
                char const *psSaver, char *psWhy, size_t uWhy)
{
    char acFolder[PATH_MAX], acRefused[PATH_MAX];
    struct HistoryUser user;
    struct MorvIdentity id;
    if (psWhy && uWhy) psWhy[0] = '\0';
    if (!Locate(psPath, acFolder, sizeof acFolder, &user)) {
        if (psWhy) snprintf(psWhy, uWhy, "no history folder for %s: %s", psPath ? psPath : "", strerror(errno));
        return 0;
    }
    snprintf(acRefused, sizeof acRefused, "%s", acFolder);
    int bOk = AssumeUser(user.uid, user.gid, &id);
    if (bOk) {
        bOk = WriteVersion(acFolder, pData, uSize, psSaver, acRefused, sizeof acRefused);
        ResumeIdentity(&id);
    }
    if (!bOk && psWhy) snprintf(psWhy, uWhy, "%s: %s", acRefused, strerror(errno));
    return bOk;
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
