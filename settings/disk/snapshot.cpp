/* A file read at most MORV_MAX_FILE bytes at a time without ever waiting on
 * something that is not a regular file, and what was read remembered, to
 * tell a change by another program. */
#include "settings/disk/snapshot.h"

#include "settings/disk/identity.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
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

int SnapshotsEqual(struct MorvSnapshot const *pa, struct MorvSnapshot const *pb)
{
    if (!pa->bPresent || !pb->bPresent)
        return !pa->bPresent && !pb->bPresent;
    return pa->llSize == pb->llSize && pa->uBytes == pb->uBytes &&
           (pa->uBytes == 0 || memcmp(pa->pBytes, pb->pBytes, pa->uBytes) == 0);
}

void FreeSnapshot(struct MorvSnapshot *pSnap)
{
    free(pSnap->pBytes);
    memset(pSnap, 0, sizeof *pSnap);
}

