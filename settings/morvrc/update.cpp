/* The one way a morvrc is changed: the path walked once, the lock taken on
 * what the walk found, the file read or compared under it, what was found
 * kept in the file's history, the store written back over exactly that,
 * and the lock let go. */
#include "settings/morvrc/update.h"

#include "settings/disk/history.h"
#include "settings/store/morv.h"
#include "support/clock.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

/* Reads the file the update has locked into pu->snFound: through the
 * lock's own descriptor, so that what is read is what is locked.  Returns
 * nothing; a file that cannot be read is an absent snapshot with its
 * errno. */
static void ReadLocked(struct MorvUpdate *pu)
{
    FreeSnapshot(&pu->snFound);
    if (pu->fdLock < 0 || !pu->walk.bExists) {
        SnapshotWalked(&pu->walk, &pu->snFound);
        return;
    }
    /* A lock taken on a file that may only be written. */
    if ((fcntl(pu->fdLock, F_GETFL) & O_ACCMODE) == O_WRONLY) {
        pu->snFound.iErrno = EACCES;
        return;
    }
    if (lseek(pu->fdLock, 0, SEEK_SET) != 0)
        pu->snFound.iErrno = errno;
    else
        SnapshotDescriptor(pu->fdLock, &pu->snFound);
}

int WalkForUpdate(struct MorvUpdate *pu, char const *psPath, char const *psSaver)
{
    memset(pu, 0, sizeof *pu);
    pu->psPath = psPath;
    pu->psSaver = psSaver;
    pu->fdLock = -1;
    return WalkPath(psPath, &pu->walk);
}

int BeginUpdate(struct MorvUpdate *pu, char const *psPath, int iWaitMillis, char const *psSaver)
{
    if (!WalkForUpdate(pu, psPath, psSaver))
        return 0;
    if (!LockWalked(&pu->walk, iWaitMillis, &pu->fdLock)) {
        EndWalk(&pu->walk);
        return 0;
    }
    ReadLocked(pu);
    return 1;
}

int AwaitWholeFile(struct MorvUpdate *pu, int iMillis)
{
    long long llUntil = MonotonicMs() + iMillis;
    while (pu->snFound.bPresent && !SnapshotIsWhole(&pu->snFound)) {
        if (MonotonicMs() >= llUntil)
            return 0;
        struct timespec ts = {0, 100 * 1000 * 1000};
        nanosleep(&ts, NULL);
        ReadLocked(pu);
    }
    return 1;
}

void PauseUpdate(struct MorvUpdate *pu)
{
    UnlockFile(pu->fdLock);
    pu->fdLock = -1;
}

int ResumeUpdate(struct MorvUpdate *pu, int iWaitMillis)
{
    return LockWalked(&pu->walk, iWaitMillis, &pu->fdLock);
}

enum MorvSeen CompareForUpdate(struct MorvUpdate const *pu, struct MorvSnapshot const *pSeen)
{
    struct MorvSnapshot const *pFound = &pu->snFound;
    int bSame = pFound->bPresent ? SnapshotsEqual(pFound, pSeen) : StillAbsentAs(pSeen, pFound->iErrno);
    if (!bSame)
        return MORV_CHANGED;
    /* A file that could not be read is not known to hold what a save
     * would put over it. */
    if (!pSeen->bPresent && pSeen->iErrno != ENOENT && pSeen->iErrno != 0)
        return MORV_STILL_UNREADABLE;
    return MORV_AS_SEEN;
}

void AbandonUpdate(struct MorvUpdate *pu)
{
    PauseUpdate(pu);
    FreeSnapshot(&pu->snFound);
    EndWalk(&pu->walk);
}

/* Whether *pSnap holds the whole file, and it is the uSize bytes at pData:
 * a save that would write them changes nothing. */
static int SnapshotHolds(struct MorvSnapshot const *pSnap, unsigned char const *pData, size_t uSize)
{
    return pSnap->bPresent && pSnap->llSize == (long long)pSnap->uBytes && uSize == pSnap->uBytes &&
           memcmp(pData, pSnap->pBytes, uSize) == 0;
}

/* Keeps the bytes BeginUpdate found in the history of the walk's file
 * (KeepVersion) before a save replaces them, when there were some.  A
 * version that cannot be kept, or kept elsewhere than $XDG_STATE_HOME
 * says, is told on standard output; the save goes on all the same. */
static void KeepFound(struct MorvUpdate const *pu)
{
    struct MorvSnapshot const *pFound = &pu->snFound;
    if (pu->psSaver == NULL || !pFound->bPresent)
        return;
    char acWhy[2 * PATH_MAX + 512];
    int bKept = 0;
    if (pFound->llSize != (long long)pFound->uBytes)
        snprintf(acWhy, sizeof acWhy, "it is longer than %d bytes", MORV_MAX_FILE);
    else
        bKept = KeepVersion(&pu->walk, pFound->pBytes, pFound->uBytes, pu->psSaver, acWhy, sizeof acWhy);
    if (bKept && acWhy[0] == '\0')
        return;
    /* The program's name is the saver's first word. */
    if (bKept)
        printf("%.*s: note: %s\n", (int)strcspn(pu->psSaver, " "), pu->psSaver, acWhy);
    else
        printf("%.*s: note: the version of %s before this save was not kept in its history (%s); it "
               "is saved all the same\n",
               (int)strcspn(pu->psSaver, " "), pu->psSaver, pu->psPath, acWhy);
    fflush(stdout);
}

/* ReplaceSetupFile on what *pWalk found. */
static int ReplaceSetupWalked(struct MorvWalk const *pWalk, struct MorvLayout const *pLayout,
                              struct MorvSnapshot const *pExpected, struct MorvSnapshot *pWritten,
                              struct MorvReplaceReport *pReport)
{
    if (pReport != NULL)
        memset(pReport, 0, sizeof *pReport);
    unsigned char *pData = NULL;
    size_t uSize = 0;
    if (!EncodeSetupImage(pLayout, &pData, &uSize))
        return 0;
    if (!ReplaceWalked(pWalk, pData, uSize, pExpected, pReport)) {
        int iErr = errno;
        free(pData);
        errno = iErr;
        return 0;
    }
    if (pWritten != NULL) {
        pWritten->bPresent = 1;
        pWritten->pBytes = pData;
        pWritten->uBytes = uSize;
        pWritten->llSize = (long long)uSize;
    } else {
        free(pData);
    }
    return 1;
}

int ReplaceSetupFile(char const *psPath, struct MorvLayout const *pLayout,
                     struct MorvSnapshot const *pExpected, struct MorvSnapshot *pWritten,
                     struct MorvReplaceReport *pReport)
{
    if (pReport != NULL)
        memset(pReport, 0, sizeof *pReport);
    struct MorvWalk walk;
    if (!WalkPath(psPath, &walk))
        return 0;
    int bDone = ReplaceSetupWalked(&walk, pLayout, pExpected, pWritten, pReport);
    EndWalk(&walk);
    return bDone;
}

int CommitImage(struct MorvUpdate *pu, struct MorvLayout const *pLayout,
                struct MorvSnapshot const *pExpected, int bSameToo, struct MorvSnapshot *pWritten,
                struct MorvReplaceReport *pReport)
{
    if (pReport != NULL)
        memset(pReport, 0, sizeof *pReport);
    unsigned char *pData = NULL;
    size_t uSize = 0;
    int bEncoded = EncodeSetupImage(pLayout, &pData, &uSize);
    int iErr = errno;
    int bSame = bEncoded && SnapshotHolds(&pu->snFound, pData, uSize);
    if (!bSame)
        KeepFound(pu);
    int bDone = bSame && !bSameToo;
    if (bEncoded && !bDone) {
        bDone = ReplaceWalked(&pu->walk, pData, uSize, pExpected, pReport);
        iErr = errno;
    }
    if (bDone && pWritten != NULL) {
        pWritten->bPresent = 1;
        pWritten->pBytes = pData;
        pWritten->uBytes = uSize;
        pWritten->llSize = (long long)uSize;
        pData = NULL;
    }
    free(pData);
    AbandonUpdate(pu);
    errno = iErr;
    return bDone;
}

int CommitUpdate(struct MorvUpdate *pu, struct MorvLayout const *pLayout)
{
    /* A save that changes no byte keeps nothing. */
    return CommitImage(pu, pLayout, &pu->snFound, 0, NULL, &pu->report);
}

void TellInPlace(FILE *pf, char const *psPath, struct MorvReplaceReport const *pReport)
{
    if (!pReport->bInPlace)
        return;
    fprintf(pf, "The %s configuration file was rewritten in place: %s.\n", psPath,
            pReport->acInPlaceWhy);
    fflush(pf);
}
