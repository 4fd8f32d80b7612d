/* Replacing a morvrc: a temporary file beside it, synced and given the old
 * file's owner, mode and extended attributes, renamed over it; written over
 * it in place where a new file could not be the same file to its user. */
#include "settings/morvrc_replace.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

/* What follows a file's name in the name of its temporary files. */
static const char acTempSuffix[] = ".tmp-XXXXXX";

/* Writes all n bytes at offset llAt.  Returns 1, or 0 with errno set. */
static int WriteAllAt(int fd, unsigned char const *p, size_t n, off_t llAt)
{
    while (n > 0) {
        ssize_t w = pwrite(fd, p, n, llAt);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return 0;
        }
        p += w;
        n -= (size_t)w;
        llAt += w;
    }
    return 1;
}

/* Returns a malloc'd copy of the directory part of psFile ("." for a bare
 * name), or null when memory runs out. */
static char *DirectoryOf(char const *psFile)
{
    char const *psSlash = strrchr(psFile, '/');
    return psSlash == NULL ? strdup(".") : strndup(psFile, (size_t)(psSlash - psFile) + 1);
}

/* Makes the rename durable.  A directory that cannot be synced is not an
 * error worth reporting: the new file is already in place. */
static void SyncDirectoryOf(char const *psFile)
{
    char *psDir = DirectoryOf(psFile);
    if (psDir == NULL)
        return;
    int fd = open(psDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    free(psDir);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

/* Records that psPath refused, with errno kept for the caller. */
static void Refused(struct MorvReplaceReport *pr, char const *psPath)
{
    int iErr = errno;
    snprintf(pr->acRefusedBy, sizeof pr->acRefusedBy, "%s", psPath);
    errno = iErr;
}

/* Gives the temporary file on fd the extended attributes (ACLs among them)
 * of psFrom.  Those of the security namespace are the system's to set and
 * are let go.  Returns 1, or 0 with errno set when one cannot be copied. */
static int CopyAttributes(char const *psFrom, int fd)
{
    ssize_t nList = listxattr(psFrom, NULL, 0);
    if (nList < 0)
        return errno == ENOTSUP ? 1 : 0;
    if (nList == 0)
        return 1;
    char *psList = (char *)malloc((size_t)nList);
    if (psList == NULL || (nList = listxattr(psFrom, psList, (size_t)nList)) < 0) {
        int iErr = psList == NULL ? ENOMEM : errno;
        free(psList);
        errno = iErr;
        return 0;
    }
    int bCopied = 1;
    for (char *psName = psList; bCopied && psName < psList + nList; psName += strlen(psName) + 1) {
        if (strncmp(psName, "security.", 9) == 0)
            continue;
        ssize_t nValue = getxattr(psFrom, psName, NULL, 0);
        void *pValue = nValue >= 0 ? malloc(nValue > 0 ? (size_t)nValue : 1) : NULL;
        if (pValue == NULL || (nValue = getxattr(psFrom, psName, pValue, (size_t)nValue)) < 0 ||
            fsetxattr(fd, psName, pValue, (size_t)nValue, 0) != 0)
            bCopied = 0;
        free(pValue);
    }
    int iErr = errno;
    free(psList);
    errno = iErr;
    return bCopied;
}

/* Gives the temporary file on fd what the old file *pst at psTarget is to
 * its user: owner and group, then the permission bits (a change of owner
 * drops set-id bits), then the attributes, whose access list must agree
 * with those bits.  Returns 1, or 0 with the reason in psWhy. */
static int KeepWhatTheFileIs(int fd, char const *psTarget, struct stat const *pst, char *psWhy,
                             size_t uWhy)
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
    if (!CopyAttributes(psTarget, fd)) {
        snprintf(psWhy, uWhy, "a new file cannot be given its extended attributes");
        return 0;
    }
    return 1;
}

/* Writes the bytes over psTarget itself, truncates it to their length and
 * syncs it, after checking it against pExpected.  A write that fails part
 * way puts the old bytes back, as far as they were read.  Returns 1, or 0
 * with errno set and pr->acRefusedBy filled. */
static int RewriteInPlace(char const *psTarget, unsigned char const *pData, size_t uSize,
                          struct MorvSnapshot const *pExpected, struct MorvReplaceReport *pr)
{
    int fd = open(psTarget, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    /* A file that may be written but not read is written all the same,
     * without the old bytes to put back. */
    if (fd < 0 && errno == EACCES)
        fd = open(psTarget, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) {
            close(fd);
            errno = EINVAL;
        }
        Refused(pr, psTarget);
        return 0;
    }
    if (pExpected != NULL && !SnapshotMatches(psTarget, pExpected)) {
        close(fd);
        errno = ESTALE;
        return 0;
    }
    struct MorvSnapshot old;
    SnapshotFile(psTarget, 1, &old);
    int bDone = WriteAllAt(fd, pData, uSize, 0) && ftruncate(fd, (off_t)uSize) == 0 && fsync(fd) == 0;
    int iErr = errno;
    if (!bDone && old.bPresent) {
        WriteAllAt(fd, old.pBytes, old.uBytes, 0);
        if (ftruncate(fd, (off_t)old.llSize) == 0)
            fsync(fd);
    }
    FreeSnapshot(&old);
    if (close(fd) != 0 && bDone) {
        bDone = 0;
        iErr = errno;
    }
    if (!bDone) {
        errno = iErr;
        Refused(pr, psTarget);
    }
    return bDone;
}

/* Whether an errno from creating a file means that the directory takes no
 * new file at all, as opposed to a passing trouble such as a full disk. */
static int TakesNoNewFile(int iErr)
{
    return iErr == EACCES || iErr == EPERM || iErr == EROFS;
}

int ReplaceFile(char const *psPath, unsigned char const *pData, size_t uSize,
                struct MorvSnapshot const *pExpected, struct MorvReplaceReport *pReport)
{
    struct MorvReplaceReport r;
    memset(&r, 0, sizeof r);
    struct MorvReplaceReport *pr = pReport != NULL ? pReport : &r;
    memset(pr, 0, sizeof *pr);
    if (psPath == NULL || *psPath == '\0') {
        errno = ENOENT;
        return 0;
    }
    /* An image that the reader would call damaged is never written. */
    if (uSize > MORV_MAX_FILE) {
        errno = EFBIG;
        return 0;
    }
    char *psTarget = FollowLinks(psPath);
    if (psTarget == NULL) {
        Refused(pr, psPath);
        return 0;
    }

    struct stat st;
    int bExists = stat(psTarget, &st) == 0;
    char *psTemp = NULL, *psDir = NULL;
    int fd = -1, bDone = 0, iErr = 0;
    if (!bExists && errno != ENOENT) {
        Refused(pr, psTarget);
        goto out;
    }
    if (bExists && access(psTarget, W_OK) != 0) {
        Refused(pr, psTarget);
        goto out;
    }
    /* One file under two names stays one file only if it is written
     * where it is. */
    if (bExists && st.st_nlink > 1) {
        snprintf(pr->acInPlaceWhy, sizeof pr->acInPlaceWhy, "it has %lu links",
                 (unsigned long)st.st_nlink);
        goto in_place;
    }

    psTemp = (char *)malloc(strlen(psTarget) + sizeof acTempSuffix);
    if (psTemp == NULL) {
        errno = ENOMEM;
        goto out;
    }
    strcpy(psTemp, psTarget);
    strcat(psTemp, acTempSuffix);
    fd = mkostemp(psTemp, O_CLOEXEC);
    if (fd < 0) {
        iErr = errno;
        free(psTemp);
        psTemp = NULL;
        if (bExists && TakesNoNewFile(iErr)) {
            snprintf(pr->acInPlaceWhy, sizeof pr->acInPlaceWhy, "its directory takes no new file");
            goto in_place;
        }
        /* The directory refused; where there is none, the file's path
         * is what names no place. */
        psDir = iErr != ENOENT && iErr != ENOTDIR ? DirectoryOf(psTarget) : NULL;
        errno = iErr;
        Refused(pr, psDir != NULL ? psDir : psTarget);
        goto out;
    }
    if (!WriteAllAt(fd, pData, uSize, 0) || fsync(fd) != 0) {
        Refused(pr, psTarget);
        goto out;
    }
    if (bExists) {
        if (!KeepWhatTheFileIs(fd, psTarget, &st, pr->acInPlaceWhy, sizeof pr->acInPlaceWhy))
            goto in_place;
    } else {
        /* The permission bits that a plain create would give. */
        mode_t mask = umask(0);
        umask(mask);
        if (fchmod(fd, 0666 & ~mask) != 0) {
            Refused(pr, psTarget);
            goto out;
        }
    }
    iErr = close(fd);
    fd = -1;
    if (iErr != 0) {
        Refused(pr, psTarget);
        goto out;
    }
    /* The last look before the old file goes: another program may have
     * written it since it was read. */
    if (pExpected != NULL && !SnapshotMatches(psTarget, pExpected)) {
        errno = ESTALE;
        goto out;
    }
    if (rename(psTemp, psTarget) != 0) {
        /* A file mounted on its own cannot be renamed over. */
        if (bExists && (errno == EBUSY || errno == EXDEV)) {
            snprintf(pr->acInPlaceWhy, sizeof pr->acInPlaceWhy, "it is a mount point");
            goto in_place;
        }
        Refused(pr, psTarget);
        goto out;
    }
    free(psTemp);
    psTemp = NULL;
    SyncDirectoryOf(psTarget);
    bDone = 1;
    goto out;

in_place:
    if (fd >= 0)
        close(fd);
    fd = -1;
    if (psTemp != NULL) {
        unlink(psTemp);
        free(psTemp);
        psTemp = NULL;
    }
    pr->bInPlace = 1;
    bDone = RewriteInPlace(psTarget, pData, uSize, pExpected, pr);

out:
    iErr = errno;
    if (fd >= 0)
        close(fd);
    if (psTemp != NULL)
        unlink(psTemp);
    free(psTemp);
    free(psDir);
    free(psTarget);
    if (!bDone)
        pr->bInPlace = 0;
    errno = iErr;
    return bDone;
}

int RemoveLeftoverTemporaries(char const *psTarget)
{
    char *psDir = DirectoryOf(psTarget);
    char const *psSlash = strrchr(psTarget, '/');
    char const *psName = psSlash != NULL ? psSlash + 1 : psTarget;
    size_t uName = strlen(psName), uSuffix = sizeof acTempSuffix - 1;
    DIR *d = psDir != NULL ? opendir(psDir) : NULL;
    int iRemoved = 0;
    for (struct dirent *e; d != NULL && (e = readdir(d)) != NULL;) {
        /* NAME.tmp-XXXXXX: the name, the fixed part, six characters. */
        if (strlen(e->d_name) != uName + uSuffix || strncmp(e->d_name, psName, uName) != 0 ||
            strncmp(e->d_name + uName, acTempSuffix, uSuffix - 6) != 0)
            continue;
        struct stat st;
        if (fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            unlinkat(dirfd(d), e->d_name, 0) == 0)
            iRemoved++;
    }
    if (d != NULL)
        closedir(d);
    free(psDir);
    return iRemoved;
}
