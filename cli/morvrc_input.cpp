/* morvrc_tool's reading and writing of one morvrc: the file read whole
 * into the settings store (or the store started afresh where there is no
 * file), the damage described, and the store written back the way the
 * editor saves. */
#include "cli/morvrc_input.h"

#include "cli/morvrc_cli.h"
#include "settings/morv.h"
#include "settings/morvrc_lock.h"

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const int iNativeBytes = (int)sizeof(time_t);

int LoadInput(char const *psPath, int bRegularOnly, struct Input *pin)
{
    pin->psPath = psPath;
    if (!SnapshotFile(psPath, bRegularOnly, &pin->snap)) {
        Complain("cannot read %s: %s", psPath, errno == EINVAL ? "not a regular file" : strerror(errno));
        pin->pData = NULL;
        pin->uSize = 0;
        return TS_IO;
    }
    pin->pData = pin->snap.pBytes;
    pin->uSize = pin->snap.uBytes;
    return TS_OK;
}

void FreeInput(struct Input *pin)
{
    FreeSnapshot(&pin->snap);
    pin->pData = NULL;
    pin->uSize = 0;
}

/* The signed little-endian value of iBytes bytes at uAt; the caller has
 * checked that they are there. */
long long ValueAt(struct Input const *pin, size_t uAt, int iBytes)
{
    uint64_t u = 0;
    for (int i = iBytes - 1; i >= 0; i--)
        u = (u << 8) | pin->pData[uAt + (size_t)i];
    if (iBytes == 4)
        return (int32_t)(uint32_t)u;
    return (long long)(int64_t)u;
}

/* The field numbered iNumber, or null. */
static struct MorvField const *FieldNumbered(int iNumber)
{
    for (int i = 0; i < MORV_FIELD_COUNT; i++)
        if (aMorvFields[i].iNumber == iNumber)
            return &aMorvFields[i];
    return NULL;
}

/* Says, into psOut, why reading pin at iTimeBytes stopped where *pi says, or
 * what follows the last field when it did not stop: "field 21
 * (psFlagChanJoinBeep) at byte 92: text length 100 runs 5 bytes past the end
 * of the file".  Returns 1 when there is something to say, 0 for a whole
 * file with nothing after its last field. */
int DescribeRead(struct Input const *pin, struct MorvReadInfo const *pi, int iTimeBytes,
                        char *psOut, size_t uOut)
{
    long long llSize = (long long)pin->uSize;
    if (pi->eResult == MORV_READ_TOO_OLD) {
        if (pin->uSize < 4)
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

    struct MorvField const *pf = FieldNumbered(pi->iField);
    char acName[64] = "?";
    if (pf != NULL)
        SettingName((int)(pf - aMorvFields), pf->eKind == MFK_INT32_ARRAY ? pi->iElement : -1, acName,
                    sizeof acName);
    int n = snprintf(psOut, uOut, "field %d (%s) at byte %lld: ", pi->iField, acName, pi->llOffset);
    if (n < 0 || (size_t)n >= uOut)
        return 1;
    psOut += n;
    uOut -= (size_t)n;
    size_t uAt = (size_t)pi->llOffset;
    int bWord = pi->llOffset + 4 <= llSize;

    switch (pi->eResult) {
    case MORV_READ_TRUNCATED:
        if (pf != NULL && (pf->eKind == MFK_TEXT || pf->eKind == MFK_TEXT_PAIR) && bWord) {
            /* The length word is whole, so its text runs past the end. */
            long long llLen = ValueAt(pin, uAt, 4);
            snprintf(psOut, uOut, "text length %lld runs %lld bytes past the end of the file", llLen,
                     llLen - (llSize - pi->llOffset - 4));
        } else if (pf != NULL && (pf->eKind == MFK_TEXT || pf->eKind == MFK_TEXT_PAIR)) {
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
                 bWord ? ValueAt(pin, uAt, 4) : 0LL);
        break;
    case MORV_READ_TIME_RANGE:
        snprintf(psOut, uOut,
                 "time value %lld does not fit the 32-bit time values of this build "
                 "(the 64-bit morvrc_tool can read it)",
                 pi->llOffset + iTimeBytes <= llSize ? ValueAt(pin, uAt, iTimeBytes) : 0LL);
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

/* Empties the settings store and reads pin into it at iTimeBytes, or at the
 * width found for it when iTimeBytes is 0, so that the store holds exactly
 * what the file holds; *pr tells what was found and *pLayout (empty or
 * zeroed before) how to write the file back.  Returns TS_OK for a whole
 * file (ImageIsWhole); otherwise TS_DAMAGED (TS_REFUSED for a time value
 * this build cannot hold, TS_IO when memory runs out) with the reason in
 * psWhy. */
int LoadStore(struct Input const *pin, int iTimeBytes, struct MorvLoadReport *pr,
                     struct MorvLayout *pLayout, char *psWhy, size_t uWhy)
{
    ResetSettings();
    DecodeFile(&pin->snap, iTimeBytes, pr, pLayout);
    struct MorvReadInfo const *pi = &pr->info;
    iTimeBytes = pr->iTimeBytes;
    if (pr->eOutcome == MORV_WHOLE && ImageIsWhole(pi))
        return TS_OK;
    if (pr->eOutcome == MORV_WHOLE && pr->llExtra > 0) {
        /* What the editor says of such a file, which it reads and saves. */
        fprintf(stderr,
                "morvrc_tool: note: %s has %lld bytes after its last setting, from byte %lld: they "
                "were not read and will not be saved\n",
                pin->psPath, pr->llExtra, pr->llExtraAt);
        return TS_OK;
    }
    /* Whatever its first bytes say, no morvrc is that long. */
    if (pin->snap.llSize > MORV_MAX_FILE) {
        if (pin->snap.bPartial)
            snprintf(psWhy, uWhy, "%s is longer than 1 MiB: no morvrc is longer than %d bytes",
                     pin->psPath, MORV_MAX_FILE);
        else
            snprintf(psWhy, uWhy, "%s is %lld bytes long, longer than 1 MiB: no morvrc is longer than %d bytes",
                     pin->psPath, pin->snap.llSize, MORV_MAX_FILE);
        return TS_DAMAGED;
    }
    char acDetail[256];
    if (pi->eResult == MORV_READ_TIME_RANGE) {
        /* A file of the other width often shows a huge time value first;
         * the damage that proves it is the more useful report. */
        struct MorvReadInfo scan;
        ScanSetup(pin->pData, pin->uSize, iTimeBytes, &scan);
        if (!ImageIsWhole(&scan)) {
            DescribeRead(pin, &scan, iTimeBytes, acDetail, sizeof acDetail);
            snprintf(psWhy, uWhy,
                     "%s does not parse as a %d-bit file: %s (morvrc_tool check tells which "
                     "width fits)",
                     pin->psPath, iTimeBytes * 8, acDetail);
            return TS_DAMAGED;
        }
    }
    DescribeRead(pin, pi, iTimeBytes, acDetail, sizeof acDetail);
    switch (pi->eResult) {
    case MORV_READ_TOO_OLD:
        snprintf(psWhy, uWhy, "%s cannot be read: %s", pin->psPath, acDetail);
        return TS_DAMAGED;
    case MORV_READ_TIME_RANGE:
        snprintf(psWhy, uWhy,
                 "%s holds a time value that this 32-bit program cannot hold (%s = %lld): the "
                 "settings from there on were not read (the 64-bit morvrc_tool can read it)",
                 pin->psPath, pr->acDamaged, pr->llTimeValue);
        return TS_REFUSED;
    case MORV_READ_NO_MEMORY:
        snprintf(psWhy, uWhy, "cannot read %s: %s", pin->psPath, acDetail);
        return TS_IO;
    default:
        snprintf(psWhy, uWhy,
                 "%s does not parse as a %d-bit file: %s (morvrc_tool check tells which width "
                 "fits)",
                 pin->psPath, iTimeBytes * 8, acDetail);
        return TS_DAMAGED;
    }
}

/* LoadWhole, of a regular file only when bRegularOnly is 1. */
static int LoadWholeOf(char const *psPath, int bRegularOnly, int iTimeBytes, struct Input *pin,
                       struct MorvLoadReport *pr, struct MorvLayout *pLayout)
{
    memset(pLayout, 0, sizeof *pLayout);
    int iStatus = LoadInput(psPath, bRegularOnly, pin);
    if (iStatus != TS_OK)
        return iStatus;
    char acWhy[512];
    iStatus = LoadStore(pin, iTimeBytes, pr, pLayout, acWhy, sizeof acWhy);
    if (iStatus != TS_OK)
        Complain("%s", acWhy);
    return iStatus;
}

int LoadWhole(char const *psPath, int iTimeBytes, struct Input *pin, struct MorvLoadReport *pr,
              struct MorvLayout *pLayout)
{
    return LoadWholeOf(psPath, 0, iTimeBytes, pin, pr, pLayout);
}

int LoadWritable(char const *psPath, int iTimeBytes, struct Input *pin, struct MorvLoadReport *pr,
                 struct MorvLayout *pLayout)
{
    return LoadWholeOf(psPath, 1, iTimeBytes, pin, pr, pLayout);
}

int LoadOrStart(char const *psPath, int iTimeBytes, struct Input *pin, struct MorvLoadReport *pr,
                struct MorvLayout *pLayout, int *pbNew, char *psDamage, size_t uDamage)
{
    memset(pLayout, 0, sizeof *pLayout);
    memset(pin, 0, sizeof *pin);
    pin->psPath = psPath;
    *pbNew = 0;
    if (SnapshotFile(psPath, 1, &pin->snap)) {
        pin->pData = pin->snap.pBytes;
        pin->uSize = pin->snap.uBytes;
        char acWhy[512];
        int iStatus = LoadStore(pin, iTimeBytes, pr, pLayout, acWhy, sizeof acWhy);
        if (iStatus == TS_DAMAGED && psDamage != NULL) {
            /* Written afresh, at the width found where there is one; the
             * snapshot stays, so that only these bytes are replaced. */
            snprintf(psDamage, uDamage, "%s", acWhy);
            if (pr->info.eResult != MORV_READ_TOO_OLD)
                iTimeBytes = pr->iTimeBytes;
            FreeLayout(pLayout);
            *pbNew = 2;
        } else {
            if (iStatus != TS_OK)
                Complain("%s", acWhy);
            return iStatus;
        }
    } else if (errno != ENOENT) {
        Complain("cannot read %s: %s", psPath, errno == EINVAL ? "not a regular file" : strerror(errno));
        return TS_IO;
    } else {
        /* The snapshot stays absent: the file must still be missing when
         * the new one is renamed into place. */
        *pbNew = 1;
    }
    ResetSettings();
    InstallTextDefaults(MORV_UNREADABLE);
    memset(pr, 0, sizeof *pr);
    pr->eOutcome = MORV_UNREADABLE;
    pr->iTimeBytes = iTimeBytes != 0 ? iTimeBytes : iNativeBytes;
    pr->iVersion = iSetupVersion;
    pr->info.iVersion = iSetupVersion;
    pLayout->iTimeBytes = pr->iTimeBytes;
    return TS_OK;
}

void NoteVersionChange(char const *psPath, struct MorvLoadReport const *pr, int bKeepsTail)
{
    struct MorvReadInfo const *pi = &pr->info;
    if (pi->iVersion < iSetupVersion)
        fprintf(stderr,
                "morvrc_tool: note: %s is version %d; the fields it does not hold are written "
                "with their initial values\n",
                psPath, pi->iVersion);
    else if (pi->iVersion > iSetupVersion && !bKeepsTail)
        fprintf(stderr,
                "morvrc_tool: note: %s is version %d; it is written as version %d, without the "
                "%lld bytes after field %d\n",
                psPath, pi->iVersion, iSetupVersion, pi->llSize - pi->llConsumed,
                aMorvFields[MORV_FIELD_COUNT - 1].iNumber);
}

int LockForSaving(char const *psPath, int iWaitMillis, int *pfdLock)
{
    int iWait = iWaitMillis >= 0 ? iWaitMillis : MORV_LOCK_WAIT_MS;
    if (LockFile(psPath, iWait, pfdLock))
        return TS_OK;
    if (errno == EWOULDBLOCK) {
        Complain("another program is saving %s; nothing was written (waited %g seconds; --wait "
                 "SECONDS waits longer)",
                 psPath, iWait / 1000.0);
        return TS_CHANGED;
    }
    /* A directory, a FIFO or a device is never saved over. */
    if (errno == EISDIR || errno == EINVAL)
        Complain("cannot read %s: %s", psPath, errno == EINVAL ? "not a regular file" : strerror(errno));
    else
        Complain("cannot lock %s for saving: %s; the file is unchanged", psPath, strerror(errno));
    return TS_IO;
}

int FinishSave(int iStatus, char const *psPath, int bNew, struct MorvLoadReport const *pr,
               struct Input *pin, struct MorvLayout *pLayout, int fdLock)
{
    if (iStatus == TS_OK) {
        if (!bNew)
            NoteVersionChange(psPath, pr, 1);
        /* Written only over the bytes that were read, or where there was
         * no file. */
        iStatus = SaveStore(psPath, pLayout, &pin->snap);
    }
    UnlockFile(fdLock);
    FreeInput(pin);
    FreeLayout(pLayout);
    return iStatus;
}

int RefuseDamaged(char const *psPath, char const *psDamage)
{
    Complain("%s; %s is unchanged (morvrc_tool reset --all %s, or a load that sets every "
             "setting, writes it afresh)",
             psDamage, psPath, psPath);
    return TS_DAMAGED;
}

void NoteRepair(char const *psPath, char const *psDamage, int bAll)
{
    fprintf(stderr, "morvrc_tool: note: %s; %s is written afresh from %s\n", psDamage, psPath,
            bAll ? "the settings given"
                 : "the catalogue defaults and the values the editor starts from");
}

/* Whether the store laid out as *pLayout is byte for byte the whole file
 * that *pSnap holds. */
static int ImageMatches(struct MorvLayout const *pLayout, struct MorvSnapshot const *pSnap)
{
    unsigned char *pData;
    size_t uSize;
    if (pSnap == NULL || !pSnap->bPresent || pSnap->llSize != (long long)pSnap->uBytes ||
        !EncodeSetupImage(pLayout, &pData, &uSize))
        return 0;
    int bSame = uSize == pSnap->uBytes && memcmp(pData, pSnap->pBytes, uSize) == 0;
    free(pData);
    return bSame;
}

int SaveStore(char const *psPath, struct MorvLayout const *pLayout,
              struct MorvSnapshot const *pExpected)
{
    /* A save that changes no byte leaves the file, its inode and its time
     * alone. */
    if (ImageMatches(pLayout, pExpected))
        return TS_OK;
    struct MorvReplaceReport report;
    if (ReplaceSetupFile(psPath, pLayout, pExpected, NULL, &report)) {
        if (report.bInPlace)
            fprintf(stderr, "The %s configuration file was rewritten in place: %s.\n", psPath,
                    report.acInPlaceWhy);
        return TS_OK;
    }
    int iErr = errno;
    if (iErr == EOVERFLOW || iErr == EFBIG) {
        Complain("cannot write %s: %s; nothing was written", psPath,
                 iErr == EFBIG ? "the file would be longer than the most a morvrc may hold"
                               : "a value does not fit the file");
        return TS_REFUSED;
    }
    if (iErr == ESTALE && pExpected != NULL) {
        Complain("%s was changed by another program while morvrc_tool was working; nothing was "
                 "written (run the command again)",
                 psPath);
        return TS_CHANGED;
    }
    /* What the file holds now, by MORV_LEFT_OLD, _NEW and _MIXED. */
    static char const *const apsLeft[] = {"is unchanged", "may hold the new settings",
                                          "may hold the old settings, the new ones or a mix of both"};
    Complain("cannot write %s: %s; %s %s",
             report.acRefusedBy[0] != '\0' ? report.acRefusedBy : psPath, strerror(iErr), psPath,
             apsLeft[report.iLeft >= 0 && report.iLeft <= MORV_LEFT_MIXED ? report.iLeft : MORV_LEFT_MIXED]);
    return TS_IO;
}

