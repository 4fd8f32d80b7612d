/* morvrc as the programs and the script use it: the file named by
 * psMorvaneRC read into the settings store with the built-in text defaults,
 * and the store saved back over it in the form it was read in, with what
 * was last seen of it remembered. */
#include "settings/morvrc/morvrc.h"

#include "settings/store/morv.h"
#include "settings/morvrc/update.h"
#include "support/xchat.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct MorvSnapshot snMorvaneRC = {0, NULL, 0, 0, 0, 0};
struct MorvLayout lyMorvaneRC = {0, 0, NULL, 0};
struct MorvReplaceReport rpMorvaneRC;

enum MorvReadResult ReadSetupFile(char const *psPath, int iTimeBytes, struct MorvReadInfo *pInfo)
{
    struct MorvSnapshot snap;
    if (!SnapshotFile(psPath, 1, &snap)) {
        int iErr = errno;
        if (pInfo != NULL) {
            memset(pInfo, 0, sizeof *pInfo);
            pInfo->eResult = MORV_READ_NOFILE;
        }
        errno = iErr;
        return MORV_READ_NOFILE;
    }
    enum MorvReadResult e = DecodeSetup(snap.pBytes, snap.uBytes, iTimeBytes, pInfo);
    FreeSnapshot(&snap);
    return e;
}

/* Gives an absent text setting a copy of psDefault. */
static void DefaultText(char **pps, char const *psDefault)
{
    if (*pps == NULL)
        *pps = strdup(psDefault);
}

void InstallTextDefaults(enum MorvOutcome eOutcome)
{
    if (eOutcome == MORV_UNREADABLE) {
        DefaultText(&psPipeCommand, "/ECHO ");
        DefaultText(&psAudioDevice, "ALSA");
        DefaultText(&psIdentifyCommand, "/MSG NickServ Identify");
    }
    DefaultText(&psMessageLanguage, "italiano");
    DefaultText(&psAwayPostfix, "_AWAY");
    DefaultText(&psPipeCommand, "");
}

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
    InstallTextDefaults(r.eOutcome);
    if (pReport != NULL)
        *pReport = r;
    return r.eOutcome;
}

enum MorvOutcome ReadSetupPath(char const *psPath, int iTimeBytes, struct MorvLoadReport *pReport)
{
    ResetSettings();
    struct MorvSnapshot snap;
    struct MorvLayout layout = {0, 0, NULL, 0};
    /* "-", standard input, is whatever the user pipes in. */
    int iErr = SnapshotFile(psPath, strcmp(psPath, "-") != 0, &snap) ? 0 : errno;
    DecodeFile(&snap, iTimeBytes, pReport, &layout);
    pReport->iErrno = iErr;
    FreeSnapshot(&snap);
    FreeLayout(&layout);
    InstallTextDefaults(pReport->eOutcome);
    return pReport->eOutcome;
}

void ReadSetup(struct session *pSession)
{
    (void)pSession;
    ReadSetupReport(NULL);
}

int ReplaceSetupFile(char const *psPath, struct MorvLayout const *pLayout,
                     struct MorvSnapshot const *pExpected, struct MorvSnapshot *pWritten,
                     struct MorvReplaceReport *pReport)
{
    if (pReport != NULL)
        memset(pReport, 0, sizeof *pReport);
    unsigned char *pData = NULL;
    size_t uSize = 0;
    if (psPath == NULL || *psPath == '\0') {
        errno = ENOENT;
        return 0;
    }
    if (!EncodeSetupImage(pLayout, &pData, &uSize))
        return 0;
    if (!ReplaceFile(psPath, pData, uSize, pExpected, pReport)) {
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

int WriteSetupFile(char const *psPath, int iTimeBytes)
{
    struct MorvLayout layout = {iTimeBytes, 0, NULL, 0};
    return ReplaceSetupFile(psPath, &layout, NULL, NULL, NULL);
}

/* The script's own saves, which have never taken the lock. */
static int SaveUnlocked(int bCheck)
{
    struct MorvUpdate up = {psMorvaneRC, -1, {0, NULL, 0, 0, 0, 0}, {}, NULL};
    return CommitSetup(&up, bCheck);
}

int WriteSetup(void) { return SaveUnlocked(0); }

int WriteSetupUnlessChanged(void) { return SaveUnlocked(1); }

/* ---- Housekeeping ------------------------------------------------------ */

/* The non-text settings as they stand at program load, taken before main
 * runs: the store's definitions are constant-initialised, so they are in
 * place before any dynamic initialiser. */
struct InitialValues {
    unsigned char ab[MORV_FIELD_COUNT][sizeof iFlagParserMode];
    InitialValues()
    {
        for (int i = 0; i < MORV_FIELD_COUNT; i++)
            memcpy(ab[i], aMorvFields[i].pSetting, FieldBytes(&aMorvFields[i]));
    }
};
static const InitialValues sInitial;

void ResetSettings(void)
{
    for (int i = 0; i < MORV_FIELD_COUNT; i++) {
        struct MorvField const *pf = &aMorvFields[i];
        if (pf->eKind == MFK_TEXT) {
            char **pps = (char **)pf->pSetting;
            free(*pps);
            *pps = NULL;
        } else if (pf->eKind == MFK_TEXT_PAIR) {
            char **apsPair = (char **)pf->pSetting;
            for (int k = 0; k < 2; k++) {
                free(apsPair[k]);
                apsPair[k] = NULL;
            }
        } else {
            memcpy(pf->pSetting, sInitial.ab[i], FieldBytes(pf));
        }
    }
    FreeSnapshot(&snMorvaneRC);
    FreeLayout(&lyMorvaneRC);
}
