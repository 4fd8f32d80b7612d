/* A file read at most MORV_MAX_FILE bytes at a time without ever waiting on
 * something that is not a regular file, and what was read remembered, to
 * tell a change by another program. */
#include "settings/disk/snapshot.h"

#include "settings/disk/walk.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

int OpenForReading(char const *psPath, struct stat *pst)
{
    struct MorvWalk walk;
    if (!WalkPath(psPath, &walk))
        return -1;
    int fd = OpenWalkedFile(&walk, O_RDONLY, pst);
    EndWalk(&walk);
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

int SnapshotDescriptor(int fd, struct MorvSnapshot *pSnap)
{
    memset(pSnap, 0, sizeof *pSnap);
    struct stat st;
    if (fstat(fd, &st) != 0) {
        pSnap->iErrno = errno;
        return 0;
    }
    /* One byte more than is kept tells a longer file. */
    unsigned char *p = (unsigned char *)malloc(MORV_MAX_FILE + 1);
    if (p == NULL) {
        errno = pSnap->iErrno = ENOMEM;
        return 0;
    }
    int iReadErr = 0;
    size_t uRead = ReadUpTo(fd, p, MORV_MAX_FILE + 1, &iReadErr);
    /* Bytes cut short by a failing disk are no file to judge. */
    if (iReadErr != 0) {
        free(p);
        errno = pSnap->iErrno = iReadErr;
        return 0;
    }
    pSnap->llSize = WholeSize(&st, uRead);
    pSnap->bPartial = uRead > MORV_MAX_FILE && !S_ISREG(st.st_mode);
    pSnap->uBytes = uRead > MORV_MAX_FILE ? MORV_MAX_FILE : uRead;
    /* Only what the file holds stays allocated. */
    unsigned char *pFit = (unsigned char *)realloc(p, pSnap->uBytes ? pSnap->uBytes : 1);
    pSnap->pBytes = pFit != NULL ? pFit : p;
    pSnap->bPresent = 1;
    return 1;
}

/* Reads the file open on fd (-1: it could not be opened, errno says why)
 * into *pSnap and closes it.  Returns as SnapshotDescriptor. */
static int SnapshotAndClose(int fd, struct MorvSnapshot *pSnap)
{
    if (fd < 0) {
        memset(pSnap, 0, sizeof *pSnap);
        pSnap->iErrno = errno;
        return 0;
    }
    int bRead = SnapshotDescriptor(fd, pSnap);
    close(fd);
    errno = pSnap->iErrno;
    return bRead;
}

int SnapshotFile(char const *psPath, int bRegularOnly, struct MorvSnapshot *pSnap)
{
    struct stat st;
    /* "-" is standard input, for the readers that take a pipe. */
    if (!bRegularOnly && psPath != NULL && strcmp(psPath, "-") == 0)
        return SnapshotAndClose(dup(STDIN_FILENO), pSnap);
    return SnapshotAndClose(OpenForReading(psPath, &st), pSnap);
}

int SnapshotWalked(struct MorvWalk const *pWalk, struct MorvSnapshot *pSnap)
{
    struct stat st;
    return SnapshotAndClose(OpenWalkedFile(pWalk, O_RDONLY, &st), pSnap);
}

int DescriptorMatches(int fd, struct MorvSnapshot const *pSnap)
{
    struct stat st;
    if (!pSnap->bPresent || fstat(fd, &st) != 0)
        return 0;
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
    return bSame && iReadErr == 0 && WholeSize(&st, uAt) == pSnap->llSize;
}

int StillAbsentAs(struct MorvSnapshot const *pSnap, int iErr)
{
    return !pSnap->bPresent && iErr == (pSnap->iErrno != 0 ? pSnap->iErrno : ENOENT);
}

int WalkedFileMatches(struct MorvWalk const *pWalk, struct MorvSnapshot const *pSnap)
{
    struct stat st;
    int fd = OpenWalkedFile(pWalk, O_RDONLY, &st);
    if (fd < 0)
        return StillAbsentAs(pSnap, errno);
    int bSame = DescriptorMatches(fd, pSnap);
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

