/* The byte format of morvrc: the field table that both directions walk,
 * the reader that turns an image into settings (versions, widths, damage,
 * a newer file's tail) and the writer that turns the settings into an
 * image.  No file I/O: settings/morvrc_file reads and replaces the file. */
#include "settings/morvrc/format.h"

#include "settings/store/morv.h"
#include "settings/store/items.h"

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define INT32(no, name, from) {no, #name, MFK_INT32, from, &name, MER_ABSENT, NULL}
#define TIME(no, name) {no, #name, MFK_TIME, 0, &name, MER_ABSENT, NULL}
#define PAIR(no, name) {no, #name, MFK_TEXT_PAIR, 0, name, MER_ABSENT, NULL}
#define TEXT(no, name, from, empty, older) {no, #name, MFK_TEXT, from, &name, empty, older}

const struct MorvField aMorvFields[MORV_FIELD_COUNT] = {
    INT32(2, iFlagDebugMode, 0),
    INT32(3, iFlagLogFile, 0),
    INT32(4, iFlagCloneDetect, 0),
    INT32(5, iFlagPrintClone, 0),
    INT32(6, iFlagPrintList, 0),
    INT32(7, iFlagColor, 0),
    INT32(8, iMaxCloneCount, 0),
    INT32(9, iFlagQueryBeep, 0),
    INT32(10, iFlagNickBeep, 0),
    INT32(11, iFlagDomainMonitoring, 0),
    INT32(12, iFlagNickJoinMonitoring, 0),
    INT32(13, iMaxQueryMSGFlood, 0),
    INT32(14, iFlagCTCPAnswer, 0),
    TIME(15, tCTCPFloodTimer),
    INT32(16, iFlagBeep, 0),
    TIME(17, tSoundCommandTimer),
    INT32(18, iMaxMessageSent, 0),
    TIME(19, tMinSecondSent),
    INT32(20, iFlagTextFloodOutgoing, 0),
    PAIR(21, psFlagChanJoinBeep),
    PAIR(22, psFlagChanModBeep),
    PAIR(23, psFlagChanWordBeep),
    TEXT(24, psPrefixOutput, 12, MER_ABSENT, NULL),
    TEXT(25, psPostfixOutput, 12, MER_ABSENT, NULL),
    INT32(26, iFlagIgnoreMessage, 13),
    INT32(27, iFlagMorvMessage, 15),
    INT32(28, iFlagLocalUserModeChg, 16),
    INT32(29, iFlagDebugModeFnc, 17),
    INT32(30, iFlagEnableDatabase, 17),
    INT32(31, iFlagEnableEvent, 17),
    TEXT(32, psMessageLanguage, 18, MER_UNCHANGED, NULL),
    TEXT(33, psAwayPostfix, 19, MER_ABSENT, NULL),
    INT32(34, iFlagAwaySystem, 20),
    TEXT(35, psPipeCommand, 21, MER_UNCHANGED, "/ECHO "),
    TEXT(36, psAudioDevice, 22, MER_ABSENT, "ALSA"),
    INT32(37, iMaxMessageChar, 23),
    TEXT(38, psIdentifyCommand, 24, MER_ABSENT, "/MSG NickServ Identify"),
    INT32(39, iFlagErrorMessage, 25),
    INT32(40, iFlagDisableDBUpdating, 26),
    INT32(41, iFlagMonitoringMessage, 26),
    INT32(42, iFlagAwayMessage, 27),
    INT32(43, iFlagCurrentTab, 28),
    INT32(44, iFlagTextFloodError, 28),
    INT32(45, iFlagBadWordSystem, 29),
    INT32(46, iFlagBadWordMessage, 29),
    INT32(47, iFlagEventsManagerDebug, 30),
    {48, "iFlagParserMode", MFK_INT32_ARRAY, 30, iFlagParserMode, MER_ABSENT, NULL},
    INT32(49, iFlagTextFloodIncoming, 31),
    INT32(50, iFlagAdvancedLog, 32),
    INT32(51, iPrivateKillerAlert, 32),
    INT32(52, iFlagFilterSystem, 33),
    INT32(53, iPrivateKillerMessage, 34),
    INT32(54, iFlagKeepQueueCommandCorrupted, 35),
    INT32(55, iPKIgnoreCTCPVersion, 36),
    INT32(56, iPKAllowOnTimeout, 37),
    INT32(57, iFlagDisableSHBM, 38),
};

#undef INT32
#undef TIME
#undef PAIR
#undef TEXT

size_t FieldBytes(struct MorvField const *pf)
{
    switch (pf->eKind) {
    case MFK_INT32:
        return sizeof(int);
    case MFK_TIME:
        return sizeof(time_t);
    case MFK_INT32_ARRAY:
        return sizeof iFlagParserMode;
    default:
        return 0;
    }
}

/* ---- Little-endian cursor over an image -------------------------------- */

struct Cursor {
    unsigned char const *p;
    size_t uSize;
    size_t uOff;
};

long long LittleEndianAt(unsigned char const *p, int iBytes)
{
    uint64_t u = 0;
    for (int i = iBytes - 1; i >= 0; i--)
        u = (u << 8) | p[i];
    return iBytes == 4 ? (long long)(int32_t)(uint32_t)u : (long long)(int64_t)u;
}

/* Takes an iBytes-wide (4 or 8) signed little-endian value.
 * Returns 1, or 0 without moving when the data ends first. */
static int TakeSigned(struct Cursor *pc, int iBytes, int64_t *pllValue)
{
    if (pc->uSize - pc->uOff < (size_t)iBytes)
        return 0;
    *pllValue = LittleEndianAt(pc->p + pc->uOff, iBytes);
    pc->uOff += (size_t)iBytes;
    return 1;
}

/* Copies n bytes into a new NUL-terminated block.  Returns the block, or
 * null when the allocation fails. */
static char *CopyText(unsigned char const *p, size_t n)
{
    char *ps = (char *)malloc(n + 1);
    if (ps != NULL) {
        memcpy(ps, p, n);
        ps[n] = '\0';
    }
    return ps;
}

static void SetText(char **pps, char *psNew)
{
    free(*pps);
    *pps = psNew;
}

/* Records where and why reading stopped: the field, its element (-1 for a
 * single value), and the offset of the value or length word at fault. */
static enum MorvReadResult Stop(struct MorvReadInfo *pi, enum MorvReadResult e, int iField,
                                int iElement, size_t uOffset)
{
    pi->eResult = e;
    pi->iField = iField;
    pi->iElement = iElement;
    pi->llOffset = (long long)uOffset;
    return e;
}

/* Reads the length word of a text and checks that its bytes are there.
 * Returns MORV_READ_OK with *pllLen set (a length of 0 or less is allowed
 * through: its meaning depends on the field), or the damage found. */
static enum MorvReadResult TakeLength(struct Cursor *pc, int64_t *pllLen, size_t *puWordAt)
{
    *puWordAt = pc->uOff;
    if (!TakeSigned(pc, 4, pllLen))
        return MORV_READ_TRUNCATED;
    if (*pllLen > 0 && (uint64_t)*pllLen > pc->uSize - pc->uOff) {
        pc->uOff = *puWordAt;
        return MORV_READ_TRUNCATED;
    }
    return MORV_READ_OK;
}

/* What a walk over an image does with the fields it reads. */
enum WalkMode {
    WALK_SCAN,    /* only check that each is whole, whatever its values */
    WALK_STORE,   /* store each into its setting */
    WALK_REACH    /* store nothing, but stop where storing would */
};

/* Reads one field at the cursor into its setting, or in the other modes
 * only checks that it is whole and steps over it.  Nothing is stored unless
 * the whole field is there, so damage leaves the setting as it was. */
static enum MorvReadResult ReadField(struct Cursor *pc, struct MorvField const *pf, int iTimeBytes,
                                     enum WalkMode eMode, struct MorvReadInfo *pi)
{
    int bStore = eMode == WALK_STORE;
    size_t uStart = pc->uOff;
    int64_t ll;
    size_t uWordAt;
    enum MorvReadResult e;

    switch (pf->eKind) {
    case MFK_INT32:
        if (!TakeSigned(pc, 4, &ll))
            return Stop(pi, MORV_READ_TRUNCATED, pf->iNumber, -1, uStart);
        if (bStore)
            *(int *)pf->pSetting = (int)ll;
        return MORV_READ_OK;

    case MFK_TIME:
        if (!TakeSigned(pc, iTimeBytes, &ll))
            return Stop(pi, MORV_READ_TRUNCATED, pf->iNumber, -1, uStart);
        /* Only storing needs the value to fit this build's time_t. */
        if (eMode == WALK_SCAN)
            return MORV_READ_OK;
        if (sizeof(time_t) < 8 && (ll < INT32_MIN || ll > INT32_MAX)) {
            pc->uOff = uStart;
            return Stop(pi, MORV_READ_TIME_RANGE, pf->iNumber, -1, uStart);
        }
        if (bStore)
            *(time_t *)pf->pSetting = (time_t)ll;
        return MORV_READ_OK;

    case MFK_INT32_ARRAY: {
        int aiValues[PARSER_MODES];
        for (int k = 0; k < PARSER_MODES; k++) {
            if (!TakeSigned(pc, 4, &ll)) {
                /* Named by the element where the data ends. */
                size_t uAt = pc->uOff;
                pc->uOff = uStart;
                return Stop(pi, MORV_READ_TRUNCATED, pf->iNumber, k, uAt);
            }
            aiValues[k] = (int)ll;
        }
        if (bStore)
            memcpy(pf->pSetting, aiValues, sizeof aiValues);
        return MORV_READ_OK;
    }

    case MFK_TEXT: {
        char **pps = (char **)pf->pSetting;
        if ((e = TakeLength(pc, &ll, &uWordAt)) != MORV_READ_OK)
            return Stop(pi, e, pf->iNumber, -1, uWordAt);
        if (ll <= 0) {
            if (bStore && pf->eEmpty == MER_ABSENT)
                SetText(pps, NULL);
            return MORV_READ_OK;
        }
        if (!bStore) {
            pc->uOff += (size_t)ll;
            return MORV_READ_OK;
        }
        char *ps = CopyText(pc->p + pc->uOff, (size_t)ll);
        SetText(pps, ps);
        if (ps == NULL)
            return Stop(pi, MORV_READ_NO_MEMORY, pf->iNumber, -1, uWordAt);
        pc->uOff += (size_t)ll;
        return MORV_READ_OK;
    }

    case MFK_TEXT_PAIR: {
        char **apsPair = (char **)pf->pSetting;
        int64_t llSecond;
        size_t uSecondAt;
        if ((e = TakeLength(pc, &ll, &uWordAt)) != MORV_READ_OK)
            return Stop(pi, e, pf->iNumber, 0, uWordAt);
        if (ll <= 0) {
            /* No second length word follows an absent pair. */
            if (bStore) {
                SetText(&apsPair[0], NULL);
                SetText(&apsPair[1], NULL);
            }
            return MORV_READ_OK;
        }
        size_t uFirstAt = pc->uOff;
        pc->uOff += (size_t)ll;
        if ((e = TakeLength(pc, &llSecond, &uSecondAt)) != MORV_READ_OK) {
            pc->uOff = uStart;
            return Stop(pi, e, pf->iNumber, 1, uSecondAt);
        }
        if (llSecond < 0) {
            /* The writer never stores one; the pair is left as it was. */
            pc->uOff = uStart;
            return Stop(pi, MORV_READ_BAD_LENGTH, pf->iNumber, 1, uSecondAt);
        }
        if (!bStore) {
            pc->uOff += (size_t)llSecond;
            return MORV_READ_OK;
        }
        /* Text [1] of length 0 is a present, empty text. */
        char *psFirst = CopyText(pc->p + uFirstAt, (size_t)ll);
        char *psSecond = CopyText(pc->p + pc->uOff, (size_t)llSecond);
        if (psFirst == NULL || psSecond == NULL) {
            free(psFirst);
            free(psSecond);
            SetText(&apsPair[0], NULL);
            SetText(&apsPair[1], NULL);
            return Stop(pi, MORV_READ_NO_MEMORY, pf->iNumber, 0, uWordAt);
        }
        SetText(&apsPair[0], psFirst);
        SetText(&apsPair[1], psSecond);
        pc->uOff += (size_t)llSecond;
        return MORV_READ_OK;
    }
    }
    return MORV_READ_OK;
}

/* Walks an image field by field, storing what it reads in WALK_STORE.
 * Returns the result, also stored in *pInfo when pInfo is not null. */
static enum MorvReadResult WalkSetup(unsigned char const *pData, size_t uSize, int iTimeBytes,
                                     enum WalkMode eMode, struct MorvReadInfo *pInfo)
{
    int bStore = eMode == WALK_STORE;
    struct MorvReadInfo info;
    memset(&info, 0, sizeof info);
    info.llSize = (long long)uSize;
    struct Cursor c = {pData, uSize, 0};

    /* A version word that the data cannot supply leaves the version at 0,
     * which is older than any accepted file. */
    int64_t llVersion = 0;
    TakeSigned(&c, 4, &llVersion);
    info.iVersion = (int)llVersion;

    if (info.iVersion < iMinimunSetupVersion) {
        info.eResult = MORV_READ_TOO_OLD;
    } else {
        info.eResult = MORV_READ_OK;
        for (int i = 0; i < MORV_FIELD_COUNT; i++) {
            struct MorvField const *pf = &aMorvFields[i];
            if (info.iVersion >= pf->iFromVersion) {
                if (ReadField(&c, pf, iTimeBytes, eMode, &info) != MORV_READ_OK)
                    break;
            } else if (bStore && pf->psOlderDefault != NULL) {
                /* A default that cannot be allocated leaves the text absent. */
                SetText((char **)pf->pSetting, strdup(pf->psOlderDefault));
            }
        }
    }
    info.llConsumed = (long long)c.uOff;
    if (pInfo != NULL)
        *pInfo = info;
    return info.eResult;
}

enum MorvReadResult DecodeSetup(unsigned char const *pData, size_t uSize, int iTimeBytes,
                                struct MorvReadInfo *pInfo)
{
    return WalkSetup(pData, uSize, iTimeBytes, WALK_STORE, pInfo);
}

enum MorvReadResult ScanSetup(unsigned char const *pData, size_t uSize, int iTimeBytes,
                              struct MorvReadInfo *pInfo)
{
    return WalkSetup(pData, uSize, iTimeBytes, WALK_SCAN, pInfo);
}

int ImageIsWhole(struct MorvReadInfo const *pInfo)
{
    return pInfo->eResult == MORV_READ_OK &&
           (pInfo->llConsumed == pInfo->llSize || pInfo->iVersion > iSetupVersion);
}

void SettingName(int iIndex, int iElement, char *psOut, size_t uOut)
{
    struct MorvField const *pf = &aMorvFields[iIndex];
    if (pf->eKind == MFK_INT32_ARRAY && iElement >= 0 && iElement < PARSER_MODES)
        snprintf(psOut, uOut, "%s[%s]", pf->psName, apsFlagParseMode[iElement]);
    else if (pf->eKind == MFK_TEXT_PAIR && iElement >= 0)
        snprintf(psOut, uOut, "%s[%d]", pf->psName, iElement);
    else
        snprintf(psOut, uOut, "%s", pf->psName);
}

/* ---- A file's width, outcome and tail ---------------------------------- */

void FreeLayout(struct MorvLayout *pLayout)
{
    free(pLayout->pTail);
    memset(pLayout, 0, sizeof *pLayout);
}

static const int iNativeTimeBytes = (int)sizeof(time_t);

int FindTimeBytes(struct MorvSnapshot const *pSnap)
{
    int iOther = iNativeTimeBytes == 8 ? 4 : 8;
    if (!pSnap->bPresent)
        return iNativeTimeBytes;
    struct MorvReadInfo native, other;
    ScanSetup(pSnap->pBytes, pSnap->uBytes, iNativeTimeBytes, &native);
    ScanSetup(pSnap->pBytes, pSnap->uBytes, iOther, &other);
    int bFits = pSnap->llSize <= MORV_MAX_FILE;
    if (bFits && ImageIsWhole(&native))
        return iNativeTimeBytes;
    if (bFits && ImageIsWhole(&other))
        return iOther;
    /* Whole at neither: the width at which this program's reading gets
     * further tells the more of the file, and the damage where it really
     * is; a time value it cannot hold ends its reading there. */
    WalkSetup(pSnap->pBytes, pSnap->uBytes, iOther, WALK_REACH, &other);
    return other.llConsumed > native.llConsumed ? iOther : iNativeTimeBytes;
}

/* Records in *pr that reading stopped at llAt, in the setting psName. */
static void Damaged(struct MorvLoadReport *pr, long long llAt, char const *psName)
{
    pr->eOutcome = MORV_DAMAGED;
    pr->llDamageAt = llAt;
    snprintf(pr->acDamaged, sizeof pr->acDamaged, "%s", psName);
}

enum MorvOutcome DecodeFile(struct MorvSnapshot const *pSnap, int iTimeBytes,
                            struct MorvLoadReport *pReport, struct MorvLayout *pLayout)
{
    struct MorvLoadReport r;
    memset(&r, 0, sizeof r);
    FreeLayout(pLayout);
    if (!pSnap->bPresent) {
        r.eOutcome = MORV_UNREADABLE;
        r.iTimeBytes = iNativeTimeBytes;
        *pReport = r;
        return r.eOutcome;
    }
    r.iTimeBytes = iTimeBytes != 0 ? iTimeBytes : FindTimeBytes(pSnap);
    r.bOtherWidth = r.iTimeBytes != iNativeTimeBytes;
    pLayout->iTimeBytes = r.iTimeBytes;
    DecodeSetup(pSnap->pBytes != NULL ? pSnap->pBytes : (unsigned char const *)"", pSnap->uBytes,
                r.iTimeBytes, &r.info);
    r.iVersion = r.info.iVersion;

    if (r.info.eResult == MORV_READ_TOO_OLD) {
        r.eOutcome = MORV_TOO_OLD;
    } else if (r.info.eResult != MORV_READ_OK) {
        char acName[64];
        SettingName(r.info.iField - 2, r.info.iElement, acName, sizeof acName);
        Damaged(&r, r.info.llOffset, acName);
        if (r.info.eResult == MORV_READ_TIME_RANGE) {
            /* Sound, but beyond this build's time values. */
            r.bTimeRange = 1;
            r.llTimeValue = LittleEndianAt(pSnap->pBytes + r.info.llOffset, r.iTimeBytes);
        }
    } else if (pSnap->llSize > MORV_MAX_FILE) {
        /* Every field this program knows lies before the limit; what lies
         * beyond it is not read, and so cannot be kept either. */
        Damaged(&r, MORV_MAX_FILE, "beyond 1 MiB");
    } else {
        r.eOutcome = MORV_WHOLE;
        if (r.iVersion <= iSetupVersion && r.info.llConsumed < r.info.llSize) {
            /* Bytes that no field of its version holds: read past, and
             * not written back. */
            r.llExtraAt = r.info.llConsumed;
            r.llExtra = r.info.llSize - r.info.llConsumed;
        } else if (r.iVersion > iSetupVersion) {
            /* A newer program's fields follow the known ones: they go back
             * out unchanged, under the file's own version word. */
            size_t uTail = pSnap->uBytes - (size_t)r.info.llConsumed;
            pLayout->pTail = (unsigned char *)malloc(uTail ? uTail : 1);
            if (pLayout->pTail == NULL) {
                /* Without them a save would lose those fields. */
                char acAfter[64];
                snprintf(acAfter, sizeof acAfter, "after %s", aMorvFields[MORV_FIELD_COUNT - 1].psName);
                Damaged(&r, r.info.llConsumed, acAfter);
            } else {
                memcpy(pLayout->pTail, pSnap->pBytes + r.info.llConsumed, uTail);
                pLayout->uTail = uTail;
                pLayout->iVersion = r.iVersion;
            }
        }
    }
    *pReport = r;
    return r.eOutcome;
}

/* ---- Writing ----------------------------------------------------------- */

struct Image {
    unsigned char *p;
    size_t uSize;
    size_t uCap;
    int iError;  /* errno value of the first failure, 0 while none */
};

/* Records a failure unless an earlier one is already recorded. */
static void Fail(struct Image *pim, int iError)
{
    if (pim->iError == 0)
        pim->iError = iError;
}

static void Put(struct Image *pim, void const *pv, size_t n)
{
    if (pim->iError)
        return;
    /* An image that the reader would call damaged is never made. */
    if (n > MORV_MAX_FILE - pim->uSize) {
        Fail(pim, EFBIG);
        return;
    }
    if (pim->uCap - pim->uSize < n) {
        size_t uCap = pim->uCap ? pim->uCap : 512;
        while (uCap - pim->uSize < n) {
            if (uCap > SIZE_MAX / 2) {
                Fail(pim, ENOMEM);
                return;
            }
            uCap *= 2;
        }
        unsigned char *p = (unsigned char *)realloc(pim->p, uCap);
        if (p == NULL) {
            Fail(pim, ENOMEM);
            return;
        }
        pim->p = p;
        pim->uCap = uCap;
    }
    memcpy(pim->p + pim->uSize, pv, n);
    pim->uSize += n;
}

static void PutSigned(struct Image *pim, int64_t ll, int iBytes)
{
    unsigned char ab[8];
    uint64_t u = (uint64_t)ll;
    for (int i = 0; i < iBytes; i++)
        ab[i] = (unsigned char)(u >> (8 * i));
    Put(pim, ab, (size_t)iBytes);
}

static void PutText(struct Image *pim, char const *ps)
{
    size_t n = ps != NULL ? strlen(ps) : 0;
    if (n > INT32_MAX) {
        Fail(pim, EOVERFLOW);
        return;
    }
    PutSigned(pim, (int64_t)n, 4);
    if (n > 0)
        Put(pim, ps, n);
}

int EncodeSetupImage(struct MorvLayout const *pLayout, unsigned char **ppData, size_t *puSize)
{
    int iTimeBytes = pLayout != NULL && pLayout->iTimeBytes != 0 ? pLayout->iTimeBytes
                                                                 : (int)sizeof(time_t);
    struct Image im = {NULL, 0, 0, 0};
    PutSigned(&im, pLayout != NULL && pLayout->iVersion != 0 ? pLayout->iVersion : iSetupVersion, 4);
    for (int i = 0; i < MORV_FIELD_COUNT; i++) {
        struct MorvField const *pf = &aMorvFields[i];
        switch (pf->eKind) {
        case MFK_INT32:
            PutSigned(&im, *(int *)pf->pSetting, 4);
            break;
        case MFK_TIME: {
            int64_t ll = (int64_t) * (time_t *)pf->pSetting;
            if (iTimeBytes == 4 && (ll < INT32_MIN || ll > INT32_MAX))
                Fail(&im, EOVERFLOW);
            PutSigned(&im, ll, iTimeBytes);
            break;
        }
        case MFK_INT32_ARRAY:
            for (int k = 0; k < PARSER_MODES; k++)
                PutSigned(&im, ((int *)pf->pSetting)[k], 4);
            break;
        case MFK_TEXT:
            PutText(&im, *(char **)pf->pSetting);
            break;
        case MFK_TEXT_PAIR: {
            /* A pair that the file cannot hold as it stands is stored
             * without texts, as the reader reads it back. */
            char **apsPair = (char **)pf->pSetting;
            if (apsPair[0] != NULL && PairIsStorable(i, NULL, 0)) {
                PutText(&im, apsPair[0]);
                PutText(&im, apsPair[1]);
            } else {
                PutSigned(&im, 0, 4);
            }
            break;
        }
        }
    }
    if (pLayout != NULL && pLayout->uTail > 0)
        Put(&im, pLayout->pTail, pLayout->uTail);
    if (im.iError) {
        free(im.p);
        errno = im.iError;
        return 0;
    }
    *ppData = im.p;
    *puSize = im.uSize;
    return 1;
}

int EncodeSetup(int iTimeBytes, unsigned char **ppData, size_t *puSize)
{
    struct MorvLayout layout = {iTimeBytes, 0, NULL, 0};
    return EncodeSetupImage(&layout, ppData, puSize);
}
