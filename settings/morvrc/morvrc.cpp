/* morvrc as the programs and the script use it: the file named by
 * psMorvaneRC read into the settings store with the built-in text defaults,
 * and the store saved back over it in the form it was read in, with what
 * was last seen of it remembered. */
#include "settings/morvrc/morvrc.h"

#include "settings/morvrc/update.h"
#include "settings/store/morv.h"
#include "support/xchat.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct MorvSnapshot snMorvaneRC = {0, NULL, 0, 0, 0, 0};
struct MorvLayout lyMorvaneRC = {0, 0, NULL, 0};
struct MorvReplaceReport rpMorvaneRC;

enum MorvOutcome ReadSetupReport(struct MorvLoadReport *pReport)
{
    /* The bytes remembered so far are let go before the file is read again,
     * so that no more than one copy of it is ever held. */
    FreeSnapshot(&snMorvaneRC);
    struct MorvSnapshot snap;
    SnapshotFile(psMorvaneRC, 1, &snap);
    return ReadSetupSnapshot(&snap, pReport);
}

enum MorvOutcome ReadSetupSnapshot(struct MorvSnapshot *pSnap, struct MorvLoadReport *pReport)
{
    struct MorvLoadReport r;
    FreeSnapshot(&snMorvaneRC);
    snMorvaneRC = *pSnap;
    memset(pSnap, 0, sizeof *pSnap);
    struct MorvLayout layout = {0, 0, NULL, 0};
    DecodeFile(&snMorvaneRC, 0, &r, &layout);
    r.iErrno = snMorvaneRC.bPresent ? 0 : snMorvaneRC.iErrno;
    /* A reading that finds nothing to go by keeps the form of the last
     * good one, so that the next save writes the file as it was. */
    if (r.eOutcome == MORV_UNREADABLE || r.eOutcome == MORV_TOO_OLD) {
        FreeLayout(&layout);
    } else {
        FreeLayout(&lyMorvaneRC);
        lyMorvaneRC = layout;
    }
    InstallTextDefaults(r.eOutcome == MORV_UNREADABLE);
    if (pReport != NULL)
        *pReport = r;
    return r.eOutcome;
}

void ReadSetup(struct session *pSession)
{
    (void)pSession;
    ReadSetupReport(NULL);
}

/* The script's own saves, which have never taken the lock. */
static int SaveUnlocked(int bCheck)
{
    struct MorvUpdate up;
    if (!WalkForUpdate(&up, psMorvaneRC, NULL)) {
        int iErr = errno;
        memset(&rpMorvaneRC, 0, sizeof rpMorvaneRC);
        printf("\nUnable to open file %s for writing (%s).", psMorvaneRC != NULL ? psMorvaneRC : "",
               acWalkRefusal[0] != '\0' ? acWalkRefusal : strerror(iErr));
        fflush(stdout);
        errno = iErr;
        return 0;
    }
    return CommitSetup(&up, bCheck);
}

int WriteSetup(void) { return SaveUnlocked(0); }

int WriteSetupUnlessChanged(void) { return SaveUnlocked(1); }

int CommitSetup(struct MorvUpdate *pu, int bCheck)
{
    return CommitSetupOver(pu, bCheck ? &snMorvaneRC : NULL);
}

int CommitSetupOver(struct MorvUpdate *pu, struct MorvSnapshot const *pExpected)
{
    char const *psPath = pu->psPath;
    struct MorvSnapshot written;
    int bDone = CommitImage(pu, &lyMorvaneRC, pExpected, 1, &written, &rpMorvaneRC);
    int iErr = errno;
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

/* ---- Housekeeping ------------------------------------------------------ */

void ResetSettings(void)
{
    ResetStore();
    FreeSnapshot(&snMorvaneRC);
    FreeLayout(&lyMorvaneRC);
}
