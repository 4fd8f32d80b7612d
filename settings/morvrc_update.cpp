/* The one way a morvrc is changed: the lock taken, the file read or
 * compared under it, the store written back over exactly what was found,
 * and the lock let go. */
#include "settings/morvrc_update.h"

#include "settings/morv.h"
#include "settings/morvrc.h"
#include "settings/morvrc_follow.h"
#include "support/clock.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

int BeginUpdate(struct MorvUpdate *pu, char const *psPath, int iWaitMillis)
{
    memset(pu, 0, sizeof *pu);
    pu->psPath = psPath;
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

int CommitUpdate(struct MorvUpdate *pu, struct MorvLayout const *pLayout)
{
    int bDone = ImageMatches(pLayout, &pu->snFound) ||
                ReplaceSetupFile(pu->psPath, pLayout, &pu->snFound, NULL, &pu->report);
    int iErr = errno;
    AbandonUpdate(pu);
    errno = iErr;
    return bDone;
}

int CommitSetup(struct MorvUpdate *pu, int bCheck)
{
    char const *psPath = pu->psPath;
    struct MorvSnapshot written;
    int bDone = ReplaceSetupFile(psPath, &lyMorvaneRC, bCheck ? &snMorvaneRC : NULL, &written,
                                 &rpMorvaneRC);
    int iErr = errno;
    AbandonUpdate(pu);
    if (bDone) {
        FreeSnapshot(&snMorvaneRC);
        snMorvaneRC = written;
        TellInPlace(stdout, psPath, &rpMorvaneRC);
    } else if (!(bCheck && iErr == ESTALE)) {
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
