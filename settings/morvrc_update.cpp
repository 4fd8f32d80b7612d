/* The one way a morvrc is changed: the lock taken, the file read or
 * compared under it, what was found kept in the file's history, the store
 * written back over exactly that, and the lock let go. */
#include "settings/morvrc_update.h"

#include "settings/morv.h"
#include "settings/morvrc.h"
#include "settings/morvrc_follow.h"
#include "support/clock.h"
#include "settings/morvrc_history.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

int BeginUpdate(struct MorvUpdate *pu, char const *psPath, int iWaitMillis, char const *psSaver)
{
    memset(pu, 0, sizeof *pu);
    pu->psPath = psPath;
    pu->psSaver = psSaver;
    if (!LockFile(psPath, iWaitMillis, &pu->fdLock))
        return 0;
    SnapshotFile(psPath, 1, &pu->snFound);
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
        FreeSnapshot(&pu->snFound);
        SnapshotFile(pu->psPath, 1, &pu->snFound);
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
    return LockFile(pu->psPath, iWaitMillis, &pu->fdLock);
}

enum MorvSeen CompareForUpdate(struct MorvUpdate const *pu, struct MorvSnapshot const *pSeen)
{
    if (!SnapshotMatches(pu->psPath, pSeen))
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
}

/* Whether the store laid out as *pLayout is byte for byte the whole file
 * that *pSnap holds. */
static int ImageMatches(struct MorvLayout const *pLayout, struct MorvSnapshot const *pSnap)
{
    unsigned char *pData;
    size_t uSize;
    if (!pSnap->bPresent || pSnap->llSize != (long long)pSnap->uBytes ||
        !EncodeSetupImage(pLayout, &pData, &uSize))
        return 0;
    int bSame = uSize == pSnap->uBytes && memcmp(pData, pSnap->pBytes, uSize) == 0;
    free(pData);
    return bSame;
}

/* Keeps the bytes BeginUpdate found in the file's history before the save
 * replaces them, when there were some.  A version that cannot be kept is
 * told on standard output; the save goes on all the same. */
static void KeepFound(struct MorvUpdate const *pu)
{
    struct MorvSnapshot const *pFound = &pu->snFound;
    if (pu->psSaver == NULL || !pFound->bPresent)
        return;
    char acWhy[PATH_MAX + 128];
    if (pFound->llSize != (long long)pFound->uBytes)
        snprintf(acWhy, sizeof acWhy, "it is longer than %d bytes", MORV_MAX_FILE);
    else if (KeepVersion(pu->psPath, pFound->pBytes, pFound->uBytes, pu->psSaver, acWhy,
                         sizeof acWhy))
        return;
    /* The program's name is the saver's first word. */
    printf("%.*s: note: the version of %s before this save was not kept in its history (%s); it "
           "is saved all the same\n",
           (int)strcspn(pu->psSaver, " "), pu->psSaver, pu->psPath, acWhy);
    fflush(stdout);
}

int CommitUpdate(struct MorvUpdate *pu, struct MorvLayout const *pLayout)
{
    /* A save that changes no byte keeps nothing. */
    int bDone = ImageMatches(pLayout, &pu->snFound);
    if (!bDone) {
        KeepFound(pu);
        bDone = ReplaceSetupFile(pu->psPath, pLayout, &pu->snFound, NULL, &pu->report);
    }
    int iErr = errno;
    AbandonUpdate(pu);
    errno = iErr;
    return bDone;
}

int CommitSetup(struct MorvUpdate *pu, int bCheck)
{
    return CommitSetupOver(pu, bCheck ? &snMorvaneRC : NULL);
}

int CommitSetupOver(struct MorvUpdate *pu, struct MorvSnapshot const *pExpected)
{
    char const *psPath = pu->psPath;
    struct MorvSnapshot written;
    if (!ImageMatches(&lyMorvaneRC, &pu->snFound))
        KeepFound(pu);
    int bDone = ReplaceSetupFile(psPath, &lyMorvaneRC, pExpected, &written, &rpMorvaneRC);
    int iErr = errno;
    AbandonUpdate(pu);
    if (bDone) {
        FreeSnapshot(&snMorvaneRC);
        snMorvaneRC = written;
        TellInPlace(stdout, psPath, &rpMorvaneRC);
    } else if (!(pExpected != NULL && iErr == ESTALE)) {
        printf("\nUnable to open file %s for writing (%s).",
               rpMorvaneRC.acRefusedBy[0] != '\0' ? rpMorvaneRC.acRefusedBy : psPath,
               strerror(iErr));
        fflush(stdout);
    }
    errno = iErr;
    return bDone;
}

void TellInPlace(FILE *pf, char const *psPath, struct MorvReplaceReport const *pReport)
{
    if (!pReport->bInPlace)
        return;
    fprintf(pf, "The %s configuration file was rewritten in place: %s.\n", psPath,
            pReport->acInPlaceWhy);
    fflush(pf);
}
