/* morvrc_tool's verbs on the local history of a morvrc: the versions kept
 * before each save listed with what changed between them, and one of them
 * written back through the one update, which keeps the bytes it replaces,
 * so that a restore is undone as any save is. */
#include "cli/files.h"
#include "cli/home.h"
#include "cli/verbs.h"
#include "settings/disk/history.h"
#include "settings/disk/walk.h"
#include "settings/morvrc/reading.h"
#include "settings/store/text.h"
#include "settings/store/values.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

/* The settings of one file or version as history compares them, and what
 * reading it found. */
struct Reading {
    struct MorvValues v;
    struct MorvLoadReport report;
    int bRead;   /* 1: read whole, so its settings compare */
};

/* Reads *pSnap into *pr.  Returns 1; 0 when memory runs out. */
static int TakeReading(struct MorvSnapshot const *pSnap, struct Reading *pr)
{
    memset(pr, 0, sizeof *pr);
    if (!pSnap->bPresent)
        return 1;
    if (!TakeFileValues(pSnap, 0, &pr->v, &pr->report))
        return 0;
    pr->bRead = pr->report.eOutcome == MORV_WHOLE;
    return 1;
}

/* Prints one version of a history: plain, or as a JSON object after
 * psSeparator. */
static void PrintVersion(int iNumber, struct MorvVersion const *pv, struct Reading const *pr,
                         int iDiffer, int bJson, char const *psSeparator)
{
    char acTime[64];
    int iBits = pr->report.iTimeBytes * 8;
    if (bJson) {
        time_t t = (time_t)pv->llSeconds;
        struct tm tm;
        char acUtc[32] = "";
        if (gmtime_r(&t, &tm) != NULL)
            strftime(acUtc, sizeof acUtc, "%Y-%m-%dT%H:%M:%S", &tm);
        char *psSaver = JsonText(pv->acSaver);
        printf("%s    {\"number\": %d, \"time\": \"%s.%09ldZ\", \"saver\": %s, \"size\": %lld, ",
               psSeparator, iNumber, acUtc, pv->lNanos, psSaver != NULL ? psSaver : "null",
               pv->llSize);
        free(psSaver);
        if (iBits > 0)
            printf("\"bits\": %d, ", iBits);
        else
            printf("\"bits\": null, ");
        printf("\"version\": %d, \"whole\": %s, ", pr->report.iVersion, pr->bRead ? "true" : "false");
        if (iDiffer >= 0)
            printf("\"differs\": %d}", iDiffer);
        else
            printf("\"differs\": null}");
        return;
    }
    FormatVersionTime(pv, acTime, sizeof acTime);
    char acWidth[16];
    if (pr->report.eOutcome == MORV_TOO_OLD)
        snprintf(acWidth, sizeof acWidth, "too old");
    else if (!pr->bRead)
        snprintf(acWidth, sizeof acWidth, "damaged");
    else
        snprintf(acWidth, sizeof acWidth, "%d-bit", iBits);
    char acDiffer[16] = "-";
    if (iDiffer >= 0)
        snprintf(acDiffer, sizeof acDiffer, "%d", iDiffer);
    printf("%3d  %-19s  %-7s  %7d  %7s  %s\n", iNumber, acTime, acWidth, pr->report.iVersion,
           acDiffer, pv->acSaver);
}

int History(int argc, char **argv, struct Options const *po)
{
    if (!ArgumentCount("history", argc, 0, 1))
        return TS_USAGE;
    char acRc[HOME_PATH];
    char const *psFile = PickFile(po, "history", argc == 1, argv[0], 0, acRc);
    if (psFile == NULL)
        return TS_USAGE;
    /* The versions and the file as it is now, both of the one walk. */
    struct MorvWalk walk;
    if (!WalkPath(psFile, &walk)) {
        Complain("cannot read the history of %s: %s", psFile, WalkErrorText(errno));
        return TS_IO;
    }
    struct MorvVersionList list;
    int iStatus = ListOrComplain(psFile, &walk, &list);
    if (iStatus != TS_OK) {
        EndWalk(&walk);
        return iStatus;
    }

    /* Each version beside the next newer one; the newest beside the file
     * as it is now. */
    struct Reading *aReadings = (struct Reading *)calloc(2, sizeof *aReadings);
    struct MorvSnapshot snap;
    if (aReadings == NULL) {
        Complain("out of memory");
        FreeVersionList(&list);
        EndWalk(&walk);
        return TS_IO;
    }
    SnapshotWalked(&walk, &snap);
    EndWalk(&walk);
    if (!TakeReading(&snap, &aReadings[0])) {
        Complain("out of memory");
        iStatus = TS_IO;
    }
    FreeSnapshot(&snap);
    char *psFile8 = po->bJson ? JsonText(psFile) : NULL;
    char *psFolder8 = po->bJson ? JsonText(list.psFolder != NULL ? list.psFolder : "") : NULL;
    if (po->bJson && iStatus == TS_OK)
        printf("{\n  \"file\": %s,\n  \"folder\": %s,\n  \"versions\": [", psFile8 != NULL ? psFile8 : "null",
               psFolder8 != NULL ? psFolder8 : "null");
    else if (iStatus == TS_OK && list.iCount == 0)
        printf("# no version of %s is kept in %s\n", psFile, list.psFolder != NULL ? list.psFolder : "");
    else if (iStatus == TS_OK)
        printf("# versions of %s kept in %s, newest first\n%3s  %-19s  %-7s  %7s  %7s  %s\n", psFile,
               list.psFolder, "N", "replaced", "width", "version", "differs", "saved over by");
    free(psFile8);
    free(psFolder8);
    char const *psSeparator = "\n";
    for (int i = 0; i < list.iCount && iStatus == TS_OK; i++) {
        struct Reading *pNewer = &aReadings[i % 2], *pThis = &aReadings[(i + 1) % 2];
        FreeValues(&pThis->v);
        if (ReadVersion(&list, &list.pVersions[i], &snap)) {
            if (!TakeReading(&snap, pThis)) {
                Complain("out of memory");
                iStatus = TS_IO;
            }
            FreeSnapshot(&snap);
        } else {
            /* Removed meanwhile by another save's bounds: shown as unread. */
            memset(pThis, 0, sizeof *pThis);
        }
        if (iStatus == TS_OK)
            PrintVersion(i + 1, &list.pVersions[i], pThis, pThis->bRead && pNewer->bRead ? CountDifferences(&pThis->v, &pNewer->v) : -1, po->bJson,
                         psSeparator);
        psSeparator = ",\n";
    }
    if (po->bJson && iStatus == TS_OK)
        printf("%s]\n}\n", list.iCount > 0 ? "\n  " : "");
    FreeValues(&aReadings[0].v);
    FreeValues(&aReadings[1].v);
    free(aReadings);
    FreeVersionList(&list);
    return iStatus;
}

int Restore(int argc, char **argv, struct Options const *po)
{
    if (!ArgumentCount("restore", argc, 1, 2))
        return TS_USAGE;
    long long llNumber;
    if (!ParseDecimal(argv[0], 1, INT_MAX, &llNumber) || argv[0][0] == '+') {
        Complain("restore takes the number of a version as history lists it, not \"%.40s\"", argv[0]);
        return TS_USAGE;
    }
    char acRc[HOME_PATH];
    char const *psFile = PickFile(po, "restore", argc == 2, argv[1], 1, acRc);
    if (psFile == NULL)
        return TS_USAGE;
    /* Under the lock: no save adds a version, and so renumbers them,
     * between the choice of the version and the write. */
    struct MorvUpdate up;
    int iStatus = BeginSaving(psFile, po->iWaitMs, &up);
    if (iStatus != TS_OK)
        return iStatus;
    struct MorvVersionList list;
    struct MorvSnapshot snap;
    memset(&snap, 0, sizeof snap);
    iStatus = ListOrComplain(psFile, &up.walk, &list);
    if (iStatus == TS_OK) {
        iStatus = ReadNumbered(&list, (int)llNumber, psFile, &snap);
        FreeVersionList(&list);
    }
    struct MorvLoadReport report;
    struct MorvLayout layout = {0, 0, NULL, 0};
    if (iStatus == TS_OK) {
        char acLabel[HOME_PATH + 32], acWhy[1024];
        snprintf(acLabel, sizeof acLabel, "version %lld of %s", llNumber, psFile);
        iStatus = LoadStore(acLabel, &snap, 0, &report, &layout, acWhy, sizeof acWhy);
        if (iStatus != TS_OK)
            Complain("%s; %s is unchanged", acWhy, psFile);
    }
    FreeSnapshot(&snap);
    return FinishSave(iStatus, &up, 0, &report, &layout);
}
