/* A morvrc read into the settings store, or beside it, or the store
 * started as the editor starts without one; what a reading found said in
 * words, and the way back from a damaged file to its last whole version. */
#include "settings/morvrc/reading.h"

#include "settings/disk/history.h"
#include "settings/disk/walk.h"
#include "settings/store/catalogue.h"
#include "settings/store/morv.h"
#include "settings/store/text.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

enum MorvOutcome ReadIntoStore(struct MorvSnapshot const *pSnap, int iTimeBytes,
                               struct MorvLoadReport *pr, struct MorvLayout *pLayout,
                               char *psDetail, size_t uDetail)
{
    ResetStore();
    DecodeFile(pSnap, iTimeBytes, pr, pLayout);
    struct MorvReadInfo const *pi = &pr->info;
    /* Whatever its first bytes say, no morvrc is that long. */
    if (pr->eOutcome == MORV_WHOLE || pSnap->llSize > MORV_MAX_FILE)
        return pr->eOutcome;
    if (pi->eResult == MORV_READ_TIME_RANGE) {
        /* A file of the other width often shows a huge time value first;
         * the damage that proves it is the more useful report. */
        struct MorvReadInfo scan;
        ScanSetup(pSnap->pBytes, pSnap->uBytes, pr->iTimeBytes, &scan);
        if (!ImageIsWhole(&scan)) {
            pr->bTimeRange = 0;
            DescribeRead(pSnap, &scan, pr->iTimeBytes, psDetail, uDetail);
            return pr->eOutcome;
        }
    }
    DescribeRead(pSnap, pi, pr->iTimeBytes, psDetail, uDetail);
    return pr->eOutcome;
}

int StartDefaults(int iRows, int iTimeBytes, struct MorvLoadReport *pr)
{
    struct MorvLayout layout = {0, 0, NULL, 0};
    StartStore(iTimeBytes, pr, &layout);
    FreeLayout(&layout);
    SetVariables();
    for (int r = 1; r <= iRows; r++)
        if (RowIsBound(r) && ResetRowToDefault(r) != 1)
            return 0;
    return 1;
}

void StartStore(int iTimeBytes, struct MorvLoadReport *pr, struct MorvLayout *pLayout)
{
    ResetStore();
    InstallTextDefaults(1);
    memset(pr, 0, sizeof *pr);
    pr->eOutcome = MORV_UNREADABLE;
    pr->iTimeBytes = iTimeBytes != 0 ? iTimeBytes : NATIVE_TIME_BYTES;
    pr->iVersion = iSetupVersion;
    pr->info.iVersion = iSetupVersion;
    FreeLayout(pLayout);
    pLayout->iTimeBytes = pr->iTimeBytes;
}

int DescribeRead(struct MorvSnapshot const *pSnap, struct MorvReadInfo const *pi, int iTimeBytes,
                 char *psOut, size_t uOut)
{
    long long llSize = (long long)pSnap->uBytes;
    if (pi->eResult == MORV_READ_TOO_OLD) {
        if (pSnap->uBytes < 4)
            snprintf(psOut, uOut, "%lld bytes are too few for the version word", llSize);
        else
            snprintf(psOut, uOut, "version %d is older than %d, the oldest version read",
                     pi->iVersion, iMinimunSetupVersion);
        return 1;
    }
    if (pi->eResult == MORV_READ_OK) {
        if (pi->llConsumed == llSize)
            return 0;
        snprintf(psOut, uOut, "%lld bytes after the last field, from byte %lld",
                 llSize - pi->llConsumed, pi->llConsumed);
        return 1;
    }

    /* The table holds the fields from number 2 on, in order. */
    int iIndex = pi->iField - 2;
    struct MorvField const *pf = iIndex >= 0 && iIndex < MORV_FIELD_COUNT ? &aMorvFields[iIndex] : NULL;
    char acName[64] = "?";
    if (pf != NULL)
        SettingName(iIndex, pf->eKind == MFK_INT32_ARRAY ? pi->iElement : -1, acName,
                    sizeof acName);
    int n = snprintf(psOut, uOut, "field %d (%s) at byte %lld: ", pi->iField, acName, pi->llOffset);
    if (n < 0 || (size_t)n >= uOut)
        return 1;
    psOut += n;
    uOut -= (size_t)n;
    unsigned char const *pAt = pSnap->pBytes + pi->llOffset;
    int bWord = pi->llOffset + 4 <= llSize;
    int bText = pf != NULL && (pf->eKind == MFK_TEXT || pf->eKind == MFK_TEXT_PAIR);

    switch (pi->eResult) {
    case MORV_READ_TRUNCATED:
        if (bText && bWord) {
            /* The length word is whole, so its text runs past the end. */
            long long llLen = LittleEndianAt(pAt, 4);
            snprintf(psOut, uOut, "text length %lld runs %lld bytes past the end of the file", llLen,
                     llLen - (llSize - pi->llOffset - 4));
        } else if (bText) {
            snprintf(psOut, uOut, "the file ends at byte %lld, inside the text's length word",
                     llSize);
        } else {
            /* An element of iFlagParserMode is an integer of its own. */
            int bTime = pf != NULL && pf->eKind == MFK_TIME;
            snprintf(psOut, uOut, "the file ends at byte %lld, inside this %d-byte %s", llSize,
                     bTime ? iTimeBytes : 4, bTime ? "time value" : "integer");
        }
        break;
    case MORV_READ_BAD_LENGTH:
        snprintf(psOut, uOut, "negative length %lld for text [1] of the pair",
                 bWord ? LittleEndianAt(pAt, 4) : 0LL);
        break;
    case MORV_READ_TIME_RANGE:
        snprintf(psOut, uOut,
                 "time value %lld does not fit the 32-bit time values of this build "
                 "(the 64-bit morvrc_tool can read it)",
                 pi->llOffset + iTimeBytes <= llSize ? LittleEndianAt(pAt, iTimeBytes) : 0LL);
        break;
    case MORV_READ_NO_MEMORY:
        snprintf(psOut, uOut, "no memory for the text");
        break;
    default:
        snprintf(psOut, uOut, "unreadable");
        break;
    }
    return 1;
}

char const *ReadErrorText(int iErr)
{
    return iErr == EINVAL ? "not a regular file" : strerror(iErr);
}

int DescribeReading(struct MorvLoadReport const *pr, long long llSize, char const *psPath,
                    char *psOut, size_t uOut)
{
    *psOut = '\0';
    /* A whole file whose time value this build cannot hold is whole as a
     * file: only the brief state, which is about the file, says so. */
    int bDamaged = pr->eOutcome == MORV_DAMAGED && (psPath != NULL || !pr->bTimeRange);
    if (pr->eOutcome == MORV_UNREADABLE) {
        if (psPath != NULL)
            return 0;
        snprintf(psOut, uOut, "missing or unreadable (%s)", strerror(pr->iErrno));
    } else if (pr->eOutcome == MORV_TOO_OLD) {
        snprintf(psOut, uOut, "%s%sempty or older than version %d", psPath != NULL ? psPath : "",
                 psPath != NULL ? " was not read: it is " : "", iMinimunSetupVersion);
    } else if (bDamaged && psPath == NULL) {
        snprintf(psOut, uOut, "damaged at byte %lld (%s) at %d-bit time fields", pr->llDamageAt,
                 pr->acDamaged, pr->iTimeBytes * 8);
    } else if (bDamaged && pr->bTimeRange) {
        snprintf(psOut, uOut,
                 "%s holds a time value that this 32-bit program cannot hold (%s = %lld): the "
                 "settings from there on were not read",
                 psPath, pr->acDamaged, pr->llTimeValue);
    } else if (bDamaged) {
        snprintf(psOut, uOut,
                 "%s is damaged at byte %lld (%s): the settings from there on were not read",
                 psPath, pr->llDamageAt, pr->acDamaged);
    } else if (pr->llExtra > 0 && psPath == NULL) {
        snprintf(psOut, uOut, "%lld bytes after its last setting", pr->llExtra);
    } else if (pr->llExtra > 0) {
        snprintf(psOut, uOut,
                 "%s has %lld bytes after its last setting, from byte %lld: they were not read "
                 "and will not be saved",
                 psPath, pr->llExtra, pr->llExtraAt);
    } else if (psPath == NULL) {
        snprintf(psOut, uOut, "version %d, %d-bit time fields, %lld bytes", pr->info.iVersion,
                 pr->iTimeBytes * 8, llSize);
    }
    return *psOut != '\0';
}

char const *DescribeFileState(struct MorvSnapshot const *pSnap, struct MorvLoadReport const *pr,
                              int iErrno, char *psDetail, size_t uDetail)
{
    struct MorvLoadReport missing;
    memset(&missing, 0, sizeof missing);
    missing.eOutcome = MORV_UNREADABLE;
    missing.iErrno = iErrno;
    if (!pSnap->bPresent || pr == NULL)
        pr = &missing;
    DescribeReading(pr, pSnap->llSize, NULL, psDetail, uDetail);
    return pr == &missing                ? "missing"
           : SnapshotIsWhole(pSnap)       ? "whole"
           : pr->eOutcome == MORV_TOO_OLD ? "too_old"
                                          : "damaged";
}

int TakeFileValues(struct MorvSnapshot const *pSnap, int bDefaults, struct MorvValues *pv,
                   struct MorvLoadReport *pReport)
{
    memset(pv, 0, sizeof *pv);
    /* Large: the stash holds an iFlagParserMode's room for every field. */
    struct StoreStash *ps = (struct StoreStash *)malloc(sizeof *ps);
    if (ps == NULL)
        return 0;
    if (!SetStoreAside(ps)) {
        free(ps);
        return 0;
    }
    struct MorvLoadReport r;
    struct MorvLayout layout = {0, 0, NULL, 0};
    DecodeFile(pSnap, 0, &r, &layout);
    FreeLayout(&layout);
    if (bDefaults)
        InstallTextDefaults(r.eOutcome == MORV_UNREADABLE);
    int bOk = TakeStoreValues(pv);
    PutStoreBack(ps);
    free(ps);
    if (pReport != NULL)
        *pReport = r;
    return bOk;
}

int PointToLastWholeVersion(char const *psPath, char *psOut, size_t uOut)
{
    if (uOut > 0)
        psOut[0] = '\0';
    struct MorvVersionList list;
    struct MorvWalk walk;
    if (psPath == NULL || strcmp(psPath, "-") == 0 || !WalkPath(psPath, &walk))
        return 0;
    int bListed = ListVersions(&walk, &list);
    EndWalk(&walk);
    if (!bListed) {
        FreeVersionList(&list);
        return 0;
    }
    int iFound = 0;
    for (int i = 0; i < list.iCount && iFound == 0; i++) {
        struct MorvSnapshot snap;
        if (!ReadVersion(&list, &list.pVersions[i], &snap))
            continue;
        if (SnapshotIsWhole(&snap))
            iFound = i + 1;
        FreeSnapshot(&snap);
    }
    if (iFound > 0) {
        char acTime[64], acWord[2 * 4096];
        FormatVersionTime(&list.pVersions[iFound - 1], acTime, sizeof acTime);
        ShellWord(psPath, acWord, sizeof acWord);
        snprintf(psOut, uOut, "the last whole version kept is %d, from %s (%s): morvrc_tool restore %d %s",
                 iFound, acTime, list.pVersions[iFound - 1].acSaver, iFound, acWord);
    }
    FreeVersionList(&list);
    return iFound > 0;
}

void CheckWidths(struct MorvSnapshot const *pSnap, char const *psPath, struct MorvWidths *pw)
{
    static const int aiWidths[2] = {4, 8};
    int bFits = pSnap->llSize <= MORV_MAX_FILE;
    struct MorvReadInfo aInfo[2];
    for (int w = 0; w < 2; w++) {
        struct MorvReadInfo const &info = aInfo[w];
        char acDetail[256];
        ScanSetup(pSnap->pBytes, pSnap->uBytes, aiWidths[w], &aInfo[w]);
        pw->abParses[w] = ImageIsWhole(&info) && bFits;
        int bMore = DescribeRead(pSnap, &info, aiWidths[w], acDetail, sizeof acDetail);
        if (!bFits)
            snprintf(pw->aacSays[w], sizeof pw->aacSays[w],
                     "no, longer than %d bytes, the most a morvrc may hold", MORV_MAX_FILE);
        else if (!pw->abParses[w])
            snprintf(pw->aacSays[w], sizeof pw->aacSays[w], "no, %s", acDetail);
        else if (bMore)
            snprintf(pw->aacSays[w], sizeof pw->aacSays[w],
                     "yes, every field of version %d in bounds; %s, which version %d may use",
                     iSetupVersion, acDetail, info.iVersion);
        else
            snprintf(pw->aacSays[w], sizeof pw->aacSays[w],
                     "yes, every field in bounds and no bytes left over");
    }
    pw->psVerdict = pw->abParses[0] && pw->abParses[1] ? "both"
                    : pw->abParses[0]                 ? "32-bit"
                    : pw->abParses[1]                 ? "64-bit"
                                                      : "neither";
    pw->iBits = FindTimeBytes(pSnap) * 8;
    /* Bytes that the other verbs read past, as a reading tells them. */
    struct MorvLoadReport r;
    memset(&r, 0, sizeof r);
    r.info = aInfo[pw->iBits == 64];
    r.eOutcome = MORV_WHOLE;
    pw->acNote[0] = '\0';
    if (r.info.eResult == MORV_READ_OK && bFits && NoteBytesPastFields(&r))
        DescribeReading(&r, pSnap->llSize, psPath, pw->acNote, sizeof pw->acNote);
}

char *FormatWidths(struct MorvSnapshot const *pSnap, struct MorvWidths const *pw, int bJson)
{
    char acVersion[24] = "none";
    if (pSnap->uBytes >= 4)
        snprintf(acVersion, sizeof acVersion, "%lld", LittleEndianAt(pSnap->pBytes, 4));
    struct MorvText t = {NULL, 0, 0, 0};
    if (!bJson) {
        AddText(&t, "version: %s\nsize: %lld bytes\n", acVersion, pSnap->llSize);
        for (int k = 0; k < 2; k++)
            AddText(&t, "%d-bit: %s\n", 32 * (k + 1), pw->aacSays[k]);
        AddText(&t, "verdict: %s\nwidth: %d-bit\n", pw->psVerdict, pw->iBits);
        return TakeText(&t, NULL);
    }
    char *apsSays[2] = {JsonText(pw->aacSays[0]), JsonText(pw->aacSays[1])};
    t.bFailed = apsSays[0] == NULL || apsSays[1] == NULL;
    AddText(&t, "{\"version\": %s, \"size\": %lld", pSnap->uBytes >= 4 ? acVersion : "null",
            pSnap->llSize);
    for (int k = 0; k < 2; k++)
        AddText(&t, ", \"%d\": {\"parses\": %s, \"says\": %s}", 32 * (k + 1),
                pw->abParses[k] ? "true" : "false", apsSays[k] != NULL ? apsSays[k] : "null");
    AddText(&t, ", \"verdict\": \"%s\", \"width\": %d}\n", pw->psVerdict, pw->iBits);
    free(apsSays[0]);
    free(apsSays[1]);
    return TakeText(&t, NULL);
}

char *FormatVersionRow(int iNumber, struct MorvVersion const *pv, struct MorvLoadReport const *pr,
                       int bWhole, int iDiffer, int bJson)
{
    struct MorvText t = {NULL, 0, 0, 0};
    char acTime[64], acDiffer[16] = "-", acBits[16] = "null";
    int iBits = pr->iTimeBytes * 8;
    if (iDiffer >= 0)
        snprintf(acDiffer, sizeof acDiffer, "%d", iDiffer);
    if (bJson) {
        time_t tReplaced = (time_t)pv->llSeconds;
        struct tm tm;
        char acUtc[32] = "";
        if (gmtime_r(&tReplaced, &tm) != NULL)
            strftime(acUtc, sizeof acUtc, "%Y-%m-%dT%H:%M:%S", &tm);
        char *psSaver = JsonText(pv->acSaver);
        if (iBits > 0)
            snprintf(acBits, sizeof acBits, "%d", iBits);
        t.bFailed = psSaver == NULL;
        AddText(&t,
                "{\"number\": %d, \"time\": \"%s.%09ldZ\", \"saver\": %s, \"size\": %lld, "
                "\"bits\": %s, \"version\": %d, \"whole\": %s, \"differs\": %s}",
                iNumber, acUtc, pv->lNanos, psSaver != NULL ? psSaver : "null", pv->llSize, acBits,
                pr->iVersion, bWhole ? "true" : "false", iDiffer >= 0 ? acDiffer : "null");
        free(psSaver);
        return TakeText(&t, NULL);
    }
    FormatVersionTime(pv, acTime, sizeof acTime);
    char acWidth[16];
    if (pr->eOutcome == MORV_TOO_OLD)
        snprintf(acWidth, sizeof acWidth, "too old");
    else if (!bWhole)
        snprintf(acWidth, sizeof acWidth, "damaged");
    else
        snprintf(acWidth, sizeof acWidth, "%d-bit", iBits);
    AddText(&t, "%3d  %-19s  %-7s  %7d  %7s  %s", iNumber, acTime, acWidth, pr->iVersion, acDiffer,
            pv->acSaver);
    return TakeText(&t, NULL);
}

/* The settings of one file or version as history compares them, and what
 * reading it found. */
struct Reading {
    struct MorvValues v;
    struct MorvLoadReport report;
    int bRead;   /* 1: read whole, so its settings compare */
};

/* Reads *pSnap into *pr (emptied first; an absent snapshot, or pSnap null,
 * is a file not read).  Returns 1; 0 when memory runs out. */
static int TakeReading(struct MorvSnapshot const *pSnap, struct Reading *pr)
{
    FreeValues(&pr->v);
    memset(pr, 0, sizeof *pr);
    if (pSnap == NULL || !pSnap->bPresent)
        return 1;
    if (!TakeFileValues(pSnap, 0, &pr->v, &pr->report))
        return 0;
    pr->bRead = pr->report.eOutcome == MORV_WHOLE;
    return 1;
}

char *FormatHistory(struct MorvVersionList const *pList, struct MorvSnapshot const *pNow, int bJson)
{
    /* Each version beside the next newer one; the newest beside the file
     * as it is now. */
    struct Reading *aReadings = (struct Reading *)calloc(2, sizeof *aReadings);
    struct MorvSnapshot snap;
    if (aReadings == NULL)
        return NULL;
    struct MorvText t = {NULL, 0, 0, !TakeReading(pNow, &aReadings[0])};
    for (int i = 0; i < pList->iCount && !t.bFailed; i++) {
        struct Reading *pNewer = &aReadings[i % 2], *pThis = &aReadings[(i + 1) % 2];
        /* A version removed meanwhile by another save's bounds is shown as
         * one not read. */
        int bThere = ReadVersion(pList, &pList->pVersions[i], &snap);
        t.bFailed = !TakeReading(bThere ? &snap : NULL, pThis);
        if (bThere)
            FreeSnapshot(&snap);
        int iDiffer = pThis->bRead && pNewer->bRead ? CountDifferences(&pThis->v, &pNewer->v) : -1;
        char *psRow = FormatVersionRow(i + 1, &pList->pVersions[i], &pThis->report, pThis->bRead,
                                       iDiffer, bJson);
        AddText(&t, "%s%s%s", i > 0 && bJson ? ",\n    " : "", psRow != NULL ? psRow : "",
                bJson ? "" : "\n");
        t.bFailed |= psRow == NULL;
        free(psRow);
    }
    FreeValues(&aReadings[0].v);
    FreeValues(&aReadings[1].v);
    free(aReadings);
    return TakeText(&t, NULL);
}
