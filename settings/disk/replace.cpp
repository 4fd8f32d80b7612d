/* Replacing a morvrc: a temporary file beside it, synced and given the old
 * file's owner, mode and extended attributes, renamed over it; written over
 * it in place where a new file could not be the same file to its user. */
#include "settings/disk/replace.h"

#include "settings/disk/path.h"
#include "settings/disk/tempfile.h"
#include "settings/disk/walk.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

/* Records that psPath, or its directory with bDirectory, refused, with
 * errno kept for the caller. */
static void Refused(struct MorvReplaceReport *pr, char const *psPath, int bDirectory)
{
    int iErr = errno;
    /* Room for the slash that ends a directory's name. */
    char acDir[PATH_MAX - 1], acName[PATH_MAX];
    if (!bDirectory || !SplitPath(psPath, acDir, sizeof acDir, acName, sizeof acName))
        snprintf(pr->acRefusedBy, sizeof pr->acRefusedBy, "%s", psPath);
    else
        snprintf(pr->acRefusedBy, sizeof pr->acRefusedBy, "%s%s", acDir,
                 strchr(psPath, '/') != NULL && strcmp(acDir, "/") != 0 ? "/" : "");
    errno = iErr;
}

/* Gives the temporary file on fd the extended attributes (ACLs among them)
 * of the file open on fdFrom.  Those of the security namespace are the
 * system's to set and are let go.  Returns 1, or 0 with errno set when one
 * cannot be copied. */
static int CopyAttributes(int fdFrom, int fd)
{
    ssize_t nList = flistxattr(fdFrom, NULL, 0);
    if (nList < 0)
        return errno == ENOTSUP ? 1 : 0;
    if (nList == 0)
        return 1;
    char *psList = (char *)malloc((size_t)nList);
    if (psList == NULL || (nList = flistxattr(fdFrom, psList, (size_t)nList)) < 0) {
        int iErr = psList == NULL ? ENOMEM : errno;
        free(psList);
        errno = iErr;
        return 0;
    }
    int bCopied = 1;
    for (char *psName = psList; bCopied && psName < psList + nList; psName += strlen(psName) + 1) {
        if (strncmp(psName, "security.", 9) == 0)
            continue;
        ssize_t nValue = fgetxattr(fdFrom, psName, NULL, 0);
        void *pValue = nValue >= 0 ? malloc(nValue > 0 ? (size_t)nValue : 1) : NULL;
        if (pValue == NULL || (nValue = fgetxattr(fdFrom, psName, pValue, (size_t)nValue)) < 0 ||
            fsetxattr(fd, psName, pValue, (size_t)nValue, 0) != 0)
            bCopied = 0;
        free(pValue);
    }
    int iErr = errno;
    free(psList);
    errno = iErr;
    return bCopied;
}

/* Gives the temporary file on fd, made here a moment ago, what the old file
 * that *pWalk found, whose status is *pst, is to its user: owner and group,
 * then the permission bits (a change of owner drops set-id bits), then the
 * attributes, whose access list must agree with those bits.  Returns 1, or
 * 0 with the reason in psWhy. */
static int KeepWhatTheFileIs(int fd, struct MorvWalk const *pWalk, struct stat const *pst,
                             char *psWhy, size_t uWhy)
{
    struct stat stNew;
    if (fstat(fd, &stNew) != 0 ||
        ((stNew.st_uid != pst->st_uid || stNew.st_gid != pst->st_gid) &&
         fchown(fd, pst->st_uid, pst->st_gid) != 0)) {
        snprintf(psWhy, uWhy, "a new file cannot be given its owner and group");
        return 0;
    }
    if (fchmod(fd, pst->st_mode & 07777) != 0) {
        snprintf(psWhy, uWhy, "a new file cannot be given its permissions");
        return 0;
    }
    /* The attributes of the very file whose owner and mode were taken;
     * nothing but a regular file is opened for them. */
    struct stat stOld;
    int fdOld = OpenWalkedFile(pWalk, O_RDONLY, &stOld);
    int bCopied = fdOld >= 0 && stOld.st_dev == pst->st_dev && stOld.st_ino == pst->st_ino &&
                  CopyAttributes(fdOld, fd);
    if (fdOld >= 0)
        close(fdOld);
    if (!bCopied) {
        snprintf(psWhy, uWhy, "a new file cannot be given its extended attributes");
        return 0;
    }
    return 1;
}

/* A replacement under way: the walk's file, what is at its name now, and
 * the temporary file made beside it. */
struct Replacement {
    struct MorvWalk const *pWalk;
    char const *psTarget;          /* the file, for reports */
    int fdDir;
    char const *psName;
    int bExists;
    struct stat st;                /* of the file there, when bExists */
    int fd;                        /* the temporary file, -1 when none is open */
    char acTemp[NAME_MAX + 1];     /* its name, empty when there is none */
    struct MorvReplaceReport *pr;
};

/* Whether *pst (null: nothing) is what the walk found at the name, or
 * what its lock was taken on since. */
static int IsTheWalkedFile(struct Replacement const *prp, struct stat const *pst)
{
    struct MorvWalk const *pw = prp->pWalk;
    if (pst == NULL || !pw->bExists)
        return pst == NULL && !pw->bExists;
    return pst->st_dev == pw->st.st_dev && pst->st_ino == pw->st.st_ino;
}

/* Puts the nOld bytes at pOld back over the file on fd, which a rewrite
 * changed over its first uWritten bytes (and from uSize on, with
 * bTruncated), and syncs it.  Returns 1 when the file holds them again. */
static int PutBack(int fd, unsigned char const *pOld, size_t nOld, size_t uWritten, int bTruncated,
                   size_t uSize)
{
    /* Only what was changed is written again, so that a file longer than a
     * file-size limit allows is put back all the same. */
    size_t uSpan = bTruncated && uSize < nOld ? nOld : uWritten < nOld ? uWritten : nOld;
    size_t uIgnored = 0;
    struct stat st;
    return WriteAllAt(fd, pOld, uSpan, 0, &uIgnored) && fstat(fd, &st) == 0 &&
           (st.st_size == (off_t)nOld || ftruncate(fd, (off_t)nOld) == 0) && fsync(fd) == 0;
}

/* Opens the walk's file for the rewrite, never through a link, and checks
 * it against what the walk found and against pExpected.  *pbReadable tells
 * whether it could be opened for reading too.  Returns the descriptor, or
 * -1 with errno set (ESTALE for another file or one changed since). */
static int OpenForRewrite(struct Replacement *prp, struct MorvSnapshot const *pExpected, struct stat *pst,
                          int *pbReadable)
{
    int fd = OpenWalkedFile(prp->pWalk, O_RDWR, pst);
    /* A file that may be written but not read is written all the same,
     * without the old bytes to put back. */
    *pbReadable = fd >= 0;
    if (fd < 0 && errno == EACCES)
        fd = OpenWalkedFile(prp->pWalk, O_WRONLY, pst);
    if (fd < 0) {
        /* A link put at the name since the walk is never followed. */
        if (errno == ELOOP)
            errno = ESTALE;
        return -1;
    }
    int bSame = IsTheWalkedFile(prp, pst);
    if (bSame && pExpected != NULL)
        bSame = *pbReadable ? DescriptorMatches(fd, pExpected) : WalkedFileMatches(prp->pWalk, pExpected);
    if (!bSame) {
        close(fd);
        errno = ESTALE;
        return -1;
    }
    return fd;
}

/* Writes the bytes over the walk's file itself, truncates it to their
 * length and syncs it, after checking it against pExpected.  A write that
 * fails part way puts the old bytes back when they could all be read
 * first.  Returns 1, or 0 with errno set and pr->acRefusedBy and pr->iLeft
 * filled. */
static int RewriteInPlace(struct Replacement *prp, unsigned char const *pData, size_t uSize,
                          struct MorvSnapshot const *pExpected)
{
    struct MorvReplaceReport *pr = prp->pr;
    struct stat st;
    int bReadable;
    int fd = OpenForRewrite(prp, pExpected, &st, &bReadable);
    if (fd < 0) {
        if (errno != ESTALE)
            Refused(pr, prp->psTarget, 0);
        return 0;
    }
    /* The old bytes, read through this very descriptor. */
    unsigned char *pOld = NULL;
    ssize_t nOld = -1;
    if (bReadable && st.st_size <= MORV_MAX_FILE &&
        (pOld = (unsigned char *)malloc((size_t)st.st_size + 1)) != NULL)
        nOld = pread(fd, pOld, (size_t)st.st_size + 1, 0);
    int bOldKnown = nOld >= 0 && nOld == (ssize_t)st.st_size;
    size_t uWritten = 0;
    int bTruncated = 0;
    int bDone = WriteAllAt(fd, pData, uSize, 0, &uWritten) &&
                (bTruncated = 1, ftruncate(fd, (off_t)uSize) == 0) && fsync(fd) == 0;
    int iErr = errno;
    int bTouched = uWritten > 0 || bTruncated;
    pr->iLeft = bTouched ? MORV_LEFT_MIXED : MORV_LEFT_OLD;
    if (!bDone && bTouched && bOldKnown && PutBack(fd, pOld, (size_t)nOld, uWritten, bTruncated, uSize))
        pr->iLeft = MORV_LEFT_OLD;
    free(pOld);
    if (close(fd) != 0 && bDone) {
        /* Synced before the close failed: the file holds the new bytes. */
        bDone = 0;
        iErr = errno;
        pr->iLeft = MORV_LEFT_NEW;
    }
    if (!bDone) {
        errno = iErr;
        Refused(pr, prp->psTarget, 0);
    }
    return bDone;
}

/* Whether an errno from creating a file means that the directory takes no
 * new file at all, as opposed to a passing trouble such as a full disk. */
static int TakesNoNewFile(int iErr)
{
    return iErr == EACCES || iErr == EPERM || iErr == EROFS;
}

/* What writing the new file beside the old one came to. */
enum Beside {
    BESIDE_FAILED,    /* refused or changed meanwhile: errno and pr tell */
    BESIDE_RENAMED,   /* the new file is in place */
    BESIDE_IN_PLACE   /* a new file cannot be the same file: pr->acInPlaceWhy says why */
};

/* Whether what is at the name may be replaced by a regular file: nothing
 * yet, or a regular file the identity taken may write.  Returns 1; 0 after
 * Refused. */
static int MayReplace(struct Replacement *prp)
{
    /* A name made a link since it was walked, a device, a FIFO or a
     * directory is never replaced by a regular file. */
    if (prp->bExists && !S_ISREG(prp->st.st_mode)) {
        errno = S_ISDIR(prp->st.st_mode) ? EISDIR : S_ISLNK(prp->st.st_mode) ? ELOOP : EINVAL;
        Refused(prp->pr, prp->psTarget, 0);
        return 0;
    }
    /* Checked with the identity taken, not the real one. */
    if (prp->bExists && faccessat(prp->fdDir, prp->psName, W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0) {
        Refused(prp->pr, prp->psTarget, 0);
        return 0;
    }
    return 1;
}

/* Gives the temporary file what the old one is to its user, or for a new
 * file the permission bits a plain create would give, and closes it.
 * Returns as WriteBeside. */
static enum Beside FinishTemporary(struct Replacement *prp)
{
    struct MorvReplaceReport *pr = prp->pr;
    if (prp->bExists && !KeepWhatTheFileIs(prp->fd, prp->pWalk, &prp->st, pr->acInPlaceWhy,
                                           sizeof pr->acInPlaceWhy))
        return BESIDE_IN_PLACE;
    if (!prp->bExists) {
        mode_t mask = umask(0);
        umask(mask);
        if (fchmod(prp->fd, 0666 & ~mask) != 0) {
            Refused(pr, prp->psTarget, 0);
            return BESIDE_FAILED;
        }
    }
    int iClosed = close(prp->fd);
    prp->fd = -1;
    if (iClosed != 0) {
        Refused(pr, prp->psTarget, 0);
        return BESIDE_FAILED;
    }
    return BESIDE_RENAMED;
}

/* Whether the name still holds what the replacement began with, and as
 * pExpected says: the last look before the old file goes, for another
 * program may have written or replaced it since.  Returns 1; 0 with errno
 * ESTALE. */
static int StillAsFound(struct Replacement const *prp, struct MorvSnapshot const *pExpected)
{
    struct stat st;
    int bThere = fstatat(prp->fdDir, prp->psName, &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (!IsTheWalkedFile(prp, bThere ? &st : NULL) ||
        (pExpected != NULL && !WalkedFileMatches(prp->pWalk, pExpected))) {
        errno = ESTALE;
        return 0;
    }
    return 1;
}

/* Writes the new bytes to a temporary file beside the old one, synced,
 * and renames it over the old one, unless the file changed since
 * pExpected.  Returns what it came to. */
static enum Beside WriteBeside(struct Replacement *prp, unsigned char const *pData, size_t uSize,
                               struct MorvSnapshot const *pExpected)
{
    struct MorvReplaceReport *pr = prp->pr;
    /* One file under two names stays one file only if it is written
     * where it is. */
    if (prp->bExists && prp->st.st_nlink > 1) {
        snprintf(pr->acInPlaceWhy, sizeof pr->acInPlaceWhy, "it has %lu links",
                 (unsigned long)prp->st.st_nlink);
        return BESIDE_IN_PLACE;
    }
    prp->fd = MakeTemporary(prp->fdDir, prp->psName, prp->acTemp, sizeof prp->acTemp);
    if (prp->fd < 0) {
        prp->acTemp[0] = '\0';
        if (prp->bExists && TakesNoNewFile(errno)) {
            snprintf(pr->acInPlaceWhy, sizeof pr->acInPlaceWhy, "its directory takes no new file");
            return BESIDE_IN_PLACE;
        }
        Refused(pr, prp->psTarget, 1);
        return BESIDE_FAILED;
    }
    size_t uIgnored = 0;
    if (!WriteAllAt(prp->fd, pData, uSize, 0, &uIgnored) || fsync(prp->fd) != 0) {
        Refused(pr, prp->psTarget, 0);
        return BESIDE_FAILED;
    }
    enum Beside e = FinishTemporary(prp);
    if (e != BESIDE_RENAMED)
        return e;
    if (!StillAsFound(prp, pExpected))
        return BESIDE_FAILED;
    if (renameat(prp->fdDir, prp->acTemp, prp->fdDir, prp->psName) != 0) {
        /* A file mounted on its own cannot be renamed over. */
        if (prp->bExists && (errno == EBUSY || errno == EXDEV)) {
            snprintf(pr->acInPlaceWhy, sizeof pr->acInPlaceWhy, "it is a mount point");
            return BESIDE_IN_PLACE;
        }
        Refused(pr, prp->psTarget, 0);
        return BESIDE_FAILED;
    }
    prp->acTemp[0] = '\0';
    /* The new file is in place already: a directory that cannot be synced
     * is not worth a failure. */
    fsync(prp->fdDir);
    return BESIDE_RENAMED;
}

/* Closes and removes the temporary file of *prp, if there is one. */
static void DropTemporary(struct Replacement *prp)
{
    if (prp->fd >= 0)
        close(prp->fd);
    prp->fd = -1;
    if (prp->acTemp[0] != '\0')
        unlinkat(prp->fdDir, prp->acTemp, 0);
    prp->acTemp[0] = '\0';
}

/* ReplaceWalked with the identity taken. */
static int ReplaceAsTaken(struct MorvWalk const *pWalk, unsigned char const *pData, size_t uSize,
                          struct MorvSnapshot const *pExpected, struct MorvReplaceReport *pr)
{
    struct Replacement rp;
    memset(&rp, 0, sizeof rp);
    rp.pWalk = pWalk;
    rp.psTarget = pWalk->acShown;
    rp.fd = -1;
    rp.pr = pr;
    rp.fdDir = pWalk->fdDir;
    rp.psName = pWalk->acName;
    rp.bExists = fstatat(rp.fdDir, rp.psName, &rp.st, AT_SYMLINK_NOFOLLOW) == 0;
    int bDone = 0;
    if (!rp.bExists && errno != ENOENT) {
        Refused(pr, rp.psTarget, 1);
    } else if (!IsTheWalkedFile(&rp, rp.bExists ? &rp.st : NULL)) {
        errno = ESTALE;
    } else if (MayReplace(&rp)) {
        enum Beside e = WriteBeside(&rp, pData, uSize, pExpected);
        bDone = e == BESIDE_RENAMED;
        if (e == BESIDE_IN_PLACE) {
            DropTemporary(&rp);
            pr->bInPlace = 1;
            bDone = RewriteInPlace(&rp, pData, uSize, pExpected);
        }
    }
    int iErr = errno;
    DropTemporary(&rp);
    if (!bDone)
        pr->bInPlace = 0;
    errno = iErr;
    return bDone;
}

int ReplaceWalked(struct MorvWalk const *pWalk, unsigned char const *pData, size_t uSize,
                  struct MorvSnapshot const *pExpected, struct MorvReplaceReport *pReport)
{
    struct MorvReplaceReport r;
    struct MorvReplaceReport *pr = pReport != NULL ? pReport : &r;
    memset(pr, 0, sizeof *pr);
    /* An image that the reader would call damaged is never written. */
    if (uSize > MORV_MAX_FILE) {
        errno = EFBIG;
        return 0;
    }
    /* Where there is no directory, the file's path names no place. */
    if (pWalk->fdDir < 0) {
        errno = pWalk->iErrno != 0 ? pWalk->iErrno : ENOENT;
        Refused(pr, pWalk->acShown, 0);
        return 0;
    }
    struct MorvIdentity id;
    if (!AssumeWalkIdentity(pWalk, &id)) {
        Refused(pr, pWalk->acShown, 0);
        return 0;
    }
    int bDone = ReplaceAsTaken(pWalk, pData, uSize, pExpected, pr);
    ResumeIdentity(&id);
    return bDone;
}

int RemoveLeftoverTemporaries(int fdDir, char const *psName)
{
    size_t uName = strlen(psName), uSuffix = sizeof TEMP_SUFFIX - 1;
    int fdList = openat(fdDir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *d = fdList >= 0 ? fdopendir(fdList) : NULL;
    if (d == NULL && fdList >= 0)
        close(fdList);
    int iRemoved = 0;
    for (struct dirent *e; d != NULL && (e = readdir(d)) != NULL;) {
        /* NAME.tmp-XXXXXX: the name, the fixed part, six characters. */
        if (strlen(e->d_name) != uName + uSuffix || strncmp(e->d_name, psName, uName) != 0 ||
            strncmp(e->d_name + uName, TEMP_SUFFIX, uSuffix - 6) != 0)
            continue;
        struct stat st;
        if (fstatat(fdDir, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            unlinkat(fdDir, e->d_name, 0) == 0)
            iRemoved++;
    }
    if (d != NULL)
        closedir(d);
    return iRemoved;
}

char const *LeftInFile(struct MorvReplaceReport const *pReport)
{
    /* By MORV_LEFT_OLD, _NEW and _MIXED; anything else may be a mix. */
    static char const *const apsLeft[] = {"is unchanged", "may hold the new settings",
                                          "may hold the old settings, the new ones or a mix of both"};
    int i = pReport->iLeft;
    return apsLeft[i >= MORV_LEFT_OLD && i <= MORV_LEFT_MIXED ? i : MORV_LEFT_MIXED];
}
