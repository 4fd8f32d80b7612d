/* A morvrc read into the settings store, or the store started as the
 * editor starts without one, and what a reading found said in words. */
#include "settings/morvrc/reading.h"

#include "settings/store/morv.h"
#include "settings/morvrc/morvrc.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

static const int iNativeBytes = (int)sizeof(time_t);

enum MorvFinding ReadIntoStore(struct MorvSnapshot const *pSnap, int iTimeBytes,
                               struct MorvLoadReport *pr, struct MorvLayout *pLayout,
                               char *psDetail, size_t uDetail)
{
    ResetSettings();
    DecodeFile(pSnap, iTimeBytes, pr, pLayout);
    struct MorvReadInfo const *pi = &pr->info;
    if (pr->eOutcome == MORV_WHOLE)
        return ImageIsWhole(pi) ? MORV_FOUND_WHOLE : MORV_FOUND_EXTRA;
    /* Whatever its first bytes say, no morvrc is that long. */
    if (pSnap->llSize > MORV_MAX_FILE)
        return MORV_FOUND_TOO_LONG;
    if (pi->eResult == MORV_READ_TIME_RANGE) {
        /* A file of the other width often shows a huge time value first;
         * the damage that proves it is the more useful report. */
        struct MorvReadInfo scan;
        ScanSetup(pSnap->pBytes, pSnap->uBytes, pr->iTimeBytes, &scan);
        if (!ImageIsWhole(&scan)) {
            DescribeRead(pSnap, &scan, pr->iTimeBytes, psDetail, uDetail);
            return MORV_FOUND_DAMAGED;
        }
    }
    DescribeRead(pSnap, pi, pr->iTimeBytes, psDetail, uDetail);
    return pi->eResult == MORV_READ_TOO_OLD     ? MORV_FOUND_TOO_OLD
           : pi->eResult == MORV_READ_TIME_RANGE ? MORV_FOUND_TIME_RANGE
           : pi->eResult == MORV_READ_NO_MEMORY  ? MORV_FOUND_NO_MEMORY
                                                 : MORV_FOUND_DAMAGED;
}

void StartStore(int iTimeBytes, struct MorvLoadReport *pr, struct MorvLayout *pLayout)
{
    ResetSettings();
    InstallTextDefaults(MORV_UNREADABLE);
    memset(pr, 0, sizeof *pr);
    pr->eOutcome = MORV_UNREADABLE;
    pr->iTimeBytes = iTimeBytes != 0 ? iTimeBytes : iNativeBytes;
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
