/* A morvrc on disk: read at most MORV_MAX_FILE bytes of it without ever
 * waiting on something that is not a regular file, remember what was read
 * to tell a change by another program, and replace it so that a crash or a
 * full disk never leaves half a file. */
#include "settings/morvrc_file.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

int OpenForReading(char const *psPath, int bRegularOnly, struct stat *pst)
{
    if (psPath == NULL || *psPath == '\0') {
        errno = ENOENT;
        return -1;
    }
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

/* Reads up to uWant bytes, fewer only at the end of the data or on an
 * error, which ends the data too.  Returns the number read. */
static size_t ReadUpTo(int fd, unsigned char *p, size_t uWant)
{
    size_t uGot = 0;
    while (uGot < uWant) {
        ssize_t n = read(fd, p + uGot, uWant - uGot);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        uGot += (size_t)n;
    }
    return uGot;
}

/* The whole size of the file open on fd after uRead bytes were read, of
 * which the last may be one beyond MORV_MAX_FILE: what a regular file says
 * of itself, or else whatever more can be read. */
static long long WholeSize(int fd, struct stat const *pst, size_t uRead)
{
    if (uRead <= MORV_MAX_FILE)
        return (long long)uRead;
    if (S_ISREG(pst->st_mode) && (long long)pst->st_size > (long long)uRead)
        return (long long)pst->st_size;
    long long llSize = (long long)uRead;
    unsigned char ab[65536];
    for (size_t n; (n = ReadUpTo(fd, ab, sizeof ab)) > 0;)
        llSize += (long long)n;
    return llSize;
}

int SnapshotFile(char const *psPath, int bRegularOnly, struct MorvSnapshot *pSnap)
{
    memset(pSnap, 0, sizeof *pSnap);
    struct stat st;
    int fd = OpenForReading(psPath, bRegularOnly, &st);
    if (fd < 0)
        return 0;
    /* One byte more than is kept tells a longer file. */
    unsigned char *p = (unsigned char *)malloc(MORV_MAX_FILE + 1);
    if (p == NULL) {
        close(fd);
        errno = ENOMEM;
        return 0;
    }
    size_t uRead = ReadUpTo(fd, p, MORV_MAX_FILE + 1);
    pSnap->llSize = WholeSize(fd, &st, uRead);
    close(fd);
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
    if (fd < 0)
        return !pSnap->bPresent;
    if (!pSnap->bPresent) {
        close(fd);
        return 0;
    }
    /* Chunk by chunk against the remembered bytes, one byte further. */
    unsigned char ab[65536];
    size_t uAt = 0;
    int bSame = 1;
    while (bSame && uAt <= pSnap->uBytes && uAt <= MORV_MAX_FILE) {
        size_t uWant = pSnap->uBytes - uAt + 1;
        size_t n = ReadUpTo(fd, ab, uWant < sizeof ab ? uWant : sizeof ab);
        if (n == 0)
            break;
        size_t uCompare = n;
        if (uAt + uCompare > pSnap->uBytes)
            uCompare = pSnap->uBytes - uAt;
        bSame = memcmp(ab, pSnap->pBytes + uAt, uCompare) == 0;
        uAt += n;
    }
    if (bSame)
        bSame = WholeSize(fd, &st, uAt) == pSnap->llSize;
    close(fd);
    return bSame;
}

void FreeSnapshot(struct MorvSnapshot *pSnap)
{
    free(pSnap->pBytes);
    memset(pSnap, 0, sizeof *pSnap);
}

/* Follows symbolic links from psPath to the file they lead to, which need
 * not exist yet.  Returns a malloc'd path, or null with errno set (ELOOP
 * after 40 links, ENOMEM). */
static char *FollowLinks(char const *psPath)
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

/* Writes all n bytes.  Returns 1, or 0 with errno set. */
static int WriteAll(int fd, unsigned char const *p, size_t n)
{
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return 0;
        }
        p += w;
        n -= (size_t)w;
    }
    return 1;
}

/* Makes the rename durable.  A directory that cannot be synced is not an
 * error worth reporting: the new file is already in place. */
static void SyncDirectoryOf(char const *psFile)
{
    char const *psSlash = strrchr(psFile, '/');
    char *psDir = psSlash == NULL ? strdup(".") : strndup(psFile, (size_t)(psSlash - psFile) + 1);
    if (psDir == NULL)
        return;
    int fd = open(psDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    free(psDir);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

int ReplaceFile(char const *psPath, unsigned char const *pData, size_t uSize,
                struct MorvSnapshot const *pExpected)
{
    char *psTarget = NULL, *psTemp = NULL;
    int fd = -1, iErr = 0;

    if (psPath == NULL || *psPath == '\0') {
        errno = ENOENT;
        return 0;
    }
    /* An image that the reader would call damaged is never written. */
    if (uSize > MORV_MAX_FILE) {
        errno = EFBIG;
        return 0;
    }
    psTarget = FollowLinks(psPath);
    if (psTarget == NULL)
        goto fail;

    {
        /* The new file takes the old one's permission bits, or those that
         * a plain create would give it. */
        struct stat st;
        mode_t mode;
        if (stat(psTarget, &st) == 0) {
            if (access(psTarget, W_OK) != 0)
                goto fail;
            mode = st.st_mode & 07777;
        } else if (errno == ENOENT) {
            mode_t mask = umask(0);
            umask(mask);
            mode = 0666 & ~mask;
        } else {
            goto fail;
        }

        size_t uLen = strlen(psTarget);
        psTemp = (char *)malloc(uLen + sizeof ".XXXXXX");
        if (psTemp == NULL)
            goto fail;
        memcpy(psTemp, psTarget, uLen);
        memcpy(psTemp + uLen, ".XXXXXX", sizeof ".XXXXXX");
        fd = mkstemp(psTemp);
        if (fd < 0) {
            free(psTemp);
            psTemp = NULL;
            goto fail;
        }
        if (fchmod(fd, mode) != 0 || !WriteAll(fd, pData, uSize) || fsync(fd) != 0)
            goto fail;
        int iClosed = close(fd);
        fd = -1;
        if (iClosed != 0)
            goto fail;
        /* The last look before the old file goes: another program may have
         * written it since it was read. */
        if (pExpected != NULL && !SnapshotMatches(psTarget, pExpected)) {
            errno = ESTALE;
            goto fail;
        }
        if (rename(psTemp, psTarget) != 0)
            goto fail;
    }
    SyncDirectoryOf(psTarget);
    free(psTemp);
    free(psTarget);
    return 1;

fail:
    iErr = errno;
    if (fd >= 0)
        close(fd);
    if (psTemp != NULL) {
        unlink(psTemp);
        free(psTemp);
    }
    free(psTarget);
    errno = iErr;
    return 0;
}
