/* The byte format of morvrc: one reader and one writer per kind of field,
 * side by side, the walk over the field table that both directions share,
 * and what a file's bytes make of the store (width, outcome, a newer
 * file's tail).  No file I/O: settings/disk reads and replaces the file. */
#include "settings/morvrc/format.h"

#include "settings/store/items.h"
#include "settings/store/morv.h"

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

long long LittleEndianAt(unsigned char const *p, int iBytes)
{
    uint64_t u = 0;
    for (int i = iBytes - 1; i >= 0; i--)
        u = (u << 8) | p[i];
    return iBytes == 4 ? (long long)(int32_t)(uint32_t)u : (long long)(int64_t)u;
}

/* ---- Reading: a walk over an image ------------------------------------- */

/* What a walk over an image does with the fields it reads. */
enum WalkMode {
    WALK_SCAN,    /* only check that each is whole, whatever its values */
    WALK_STORE,   /* store each into its setting */
    WALK_REACH    /* store nothing, but stop where storing would */
};

/* A walk under way: the bytes, how far it is, and what it does. */
struct Walk {
    unsigned char const *p;
    size_t uSize;
    size_t uOff;
    int iTimeBytes;
    enum WalkMode eMode;
    struct MorvReadInfo *pi;
};

/* Takes an iBytes-wide (4 or 8) signed little-endian value.
 * Returns 1, or 0 without moving when the data ends first. */
static int TakeSigned(struct Walk *pw, int iBytes, int64_t *pllValue)
{
    if (pw->uSize - pw->uOff < (size_t)iBytes)
        return 0;
    *pllValue = LittleEndianAt(pw->p + pw->uOff, iBytes);
    pw->uOff += (size_t)iBytes;
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
 * single value), and the offset of the value or length word at fault.
 * Returns e. */
static enum MorvReadResult Stop(struct Walk *pw, enum MorvReadResult e, struct MorvField const *pf,
                                int iElement, size_t uOffset)
{
    pw->pi->eResult = e;
    pw->pi->iField = pf->iNumber;
    pw->pi->iElement = iElement;
    pw->pi->llOffset = (long long)uOffset;
    return e;
}

/* Reads the length word of a text and checks that its bytes are there.
 * Returns MORV_READ_OK with *pllLen set (a length of 0 or less is allowed
 * through: its meaning depends on the field), or the damage found, the
 * walk then where it was. */
static enum MorvReadResult TakeLength(struct Walk *pw, int64_t *pllLen, size_t *puWordAt)
{
    *puWordAt = pw->uOff;
    if (!TakeSigned(pw, 4, pllLen))
        return MORV_READ_TRUNCATED;
    if (*pllLen > 0 && (uint64_t)*pllLen > pw->uSize - pw->uOff) {
        pw->uOff = *puWordAt;
        return MORV_READ_TRUNCATED;
    }
    return MORV_READ_OK;
}

/* ---- Writing: an image being built -------------------------------------- */

struct Image {
    unsigned char *p;
    size_t uSize;
    size_t uCap;
    int iError;      /* errno value of the first failure, 0 while none */
    int iTimeBytes;  /* the width of its time fields */
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

/* ---- One reader and one writer per kind of field ----------------------- *
 * A reader takes one field at the walk's place into its setting, or in the
 * other modes only checks that it is whole and steps over it; nothing is
 * stored unless the whole field is there, so damage leaves the setting as
 * it was.  It returns MORV_READ_OK, or the damage after Stop.  A writer
 * appends the field's setting to the image, recording a value that the
 * file cannot hold. */

static enum MorvReadResult ReadInt32(struct Walk *pw, struct MorvField const *pf)
{
    int64_t ll;
    if (!TakeSigned(pw, 4, &ll))
        return Stop(pw, MORV_READ_TRUNCATED, pf, -1, pw->uOff);
    if (pw->eMode == WALK_STORE)
        *(int *)pf->pSetting = (int)ll;
    return MORV_READ_OK;
}

static void WriteInt32(struct Image *pim, struct MorvField const *pf)
{
    PutSigned(pim, *(int *)pf->pSetting, 4);
}

static enum MorvReadResult ReadTime(struct Walk *pw, struct MorvField const *pf)
{
    size_t uStart = pw->uOff;
    int64_t ll;
    if (!TakeSigned(pw, pw->iTimeBytes, &ll))
        return Stop(pw, MORV_READ_TRUNCATED, pf, -1, uStart);
    /* Only storing needs the value to fit this build's time_t. */
    if (pw->eMode == WALK_SCAN)
        return MORV_READ_OK;
    if (sizeof(time_t) < 8 && (ll < INT32_MIN || ll > INT32_MAX)) {
        pw->uOff = uStart;
        return Stop(pw, MORV_READ_TIME_RANGE, pf, -1, uStart);
    }
    if (pw->eMode == WALK_STORE)
        *(time_t *)pf->pSetting = (time_t)ll;
    return MORV_READ_OK;
}

static void WriteTime(struct Image *pim, struct MorvField const *pf)
{
    int64_t ll = (int64_t) * (time_t *)pf->pSetting;
    if (pim->iTimeBytes == 4 && (ll < INT32_MIN || ll > INT32_MAX))
        Fail(pim, EOVERFLOW);
    PutSigned(pim, ll, pim->iTimeBytes);
}

static enum MorvReadResult ReadText(struct Walk *pw, struct MorvField const *pf)
{
    char **pps = (char **)pf->pSetting;
    int64_t ll;
    size_t uWordAt;
    enum MorvReadResult e = TakeLength(pw, &ll, &uWordAt);
    if (e != MORV_READ_OK)
        return Stop(pw, e, pf, -1, uWordAt);
    int bStore = pw->eMode == WALK_STORE;
    if (ll <= 0) {
        if (bStore && pf->eEmpty == MER_ABSENT)
            SetText(pps, NULL);
        return MORV_READ_OK;
    }
    if (bStore) {
        char *ps = CopyText(pw->p + pw->uOff, (size_t)ll);
        SetText(pps, ps);
        if (ps == NULL)
            return Stop(pw, MORV_READ_NO_MEMORY, pf, -1, uWordAt);
    }
    pw->uOff += (size_t)ll;
    return MORV_READ_OK;
}

static void WriteText(struct Image *pim, struct MorvField const *pf)
{
    PutText(pim, *(char **)pf->pSetting);
}

static enum MorvReadResult ReadPair(struct Walk *pw, struct MorvField const *pf)
{
    char **apsPair = (char **)pf->pSetting;
    int bStore = pw->eMode == WALK_STORE;
    size_t uStart = pw->uOff, uWordAt, uSecondAt;
    int64_t ll, llSecond;
    enum MorvReadResult e = TakeLength(pw, &ll, &uWordAt);
    if (e != MORV_READ_OK)
        return Stop(pw, e, pf, 0, uWordAt);
    if (ll <= 0) {
        /* No second length word follows an absent pair. */
        if (bStore) {
            SetText(&apsPair[0], NULL);
            SetText(&apsPair[1], NULL);
        }
        return MORV_READ_OK;
    }
    size_t uFirstAt = pw->uOff;
    pw->uOff += (size_t)ll;
    if ((e = TakeLength(pw, &llSecond, &uSecondAt)) != MORV_READ_OK) {
        pw->uOff = uStart;
        return Stop(pw, e, pf, 1, uSecondAt);
    }
    if (llSecond < 0) {
        /* The writer never stores one; the pair is left as it was. */
        pw->uOff = uStart;
        return Stop(pw, MORV_READ_BAD_LENGTH, pf, 1, uSecondAt);
    }
    if (bStore) {
        /* Text [1] of length 0 is a present, empty text. */
        char *psFirst = CopyText(pw->p + uFirstAt, (size_t)ll);
        char *psSecond = CopyText(pw->p + pw->uOff, (size_t)llSecond);
        if (psFirst == NULL || psSecond == NULL) {
            free(psFirst);
            free(psSecond);
            SetText(&apsPair[0], NULL);
            SetText(&apsPair[1], NULL);
            return Stop(pw, MORV_READ_NO_MEMORY, pf, 0, uWordAt);
        }
        SetText(&apsPair[0], psFirst);
        SetText(&apsPair[1], psSecond);
    }
    pw->uOff += (size_t)llSecond;
    return MORV_READ_OK;
}

static void WritePair(struct Image *pim, struct MorvField const *pf)
{
    /* A pair that the file cannot hold as it stands is stored without
     * texts, as the reader reads it back. */
    char **apsPair = (char **)pf->pSetting;
    if (apsPair[0] != NULL && PairIsStorable((int)(pf - aMorvFields), NULL, 0)) {
        PutText(pim, apsPair[0]);
        PutText(pim, apsPair[1]);
    } else {
        PutSigned(pim, 0, 4);
    }
}

static enum MorvReadResult ReadArray(struct Walk *pw, struct MorvField const *pf)
{
    size_t uStart = pw->uOff;
    int aiValues[PARSER_MODES];
    for (int k = 0; k < PARSER_MODES; k++) {
        int64_t ll;
        if (!TakeSigned(pw, 4, &ll)) {
            /* Named by the element where the data ends. */
            size_t uAt = pw->uOff;
            pw->uOff = uStart;
            return Stop(pw, MORV_READ_TRUNCATED, pf, k, uAt);
        }
        aiValues[k] = (int)ll;
    }
    if (pw->eMode == WALK_STORE)
        memcpy(pf->pSetting, aiValues, sizeof aiValues);
    return MORV_READ_OK;
}

static void WriteArray(struct Image *pim, struct MorvField const *pf)
{
    for (int k = 0; k < PARSER_MODES; k++)
        PutSigned(pim, ((int *)pf->pSetting)[k], 4);
}

/* By MorvFieldKind, in its order. */
static const struct {
    enum MorvReadResult (*pfRead)(struct Walk *pw, struct MorvField const *pf);
    void (*pfWrite)(struct Image *pim, struct MorvField const *pf);
} aKinds[] = {
    {ReadInt32, WriteInt32}, /* MFK_INT32 */
    {ReadTime, WriteTime},   /* MFK_TIME */
    {ReadText, WriteText},   /* MFK_TEXT */
    {ReadPair, WritePair},   /* MFK_TEXT_PAIR */
    {ReadArray, WriteArray}, /* MFK_INT32_ARRAY */
};
static_assert(sizeof aKinds / sizeof aKinds[0] == MFK_INT32_ARRAY + 1, "a reader and a writer per kind");

/* ---- Both directions over the whole table ------------------------------ */

/* Walks an image field by field, storing what it reads in WALK_STORE.
 * Returns the result, also stored in *pInfo when pInfo is not null. */
static enum MorvReadResult WalkSetup(unsigned char const *pData, size_t uSize, int iTimeBytes,
                                     enum WalkMode eMode, struct MorvReadInfo *pInfo)
{
    struct MorvReadInfo info;
    memset(&info, 0, sizeof info);
    info.llSize = (long long)uSize;
    struct Walk w = {pData, uSize, 0, iTimeBytes, eMode, &info};

    /* A version word that the data cannot supply leaves the version at 0,
     * which is older than any accepted file. */
    int64_t llVersion = 0;
    TakeSigned(&w, 4, &llVersion);
    info.iVersion = (int)llVersion;

    if (info.iVersion < iMinimunSetupVersion) {
        info.eResult = MORV_READ_TOO_OLD;
    } else {
        info.eResult = MORV_READ_OK;
        for (int i = 0; i < MORV_FIELD_COUNT; i++) {
            struct MorvField const *pf = &aMorvFields[i];
            if (info.iVersion >= pf->iFromVersion) {
                if (aKinds[pf->eKind].pfRead(&w, pf) != MORV_READ_OK)
                    break;
            } else if (eMode == WALK_STORE && pf->psOlderDefault != NULL) {
                /* A default that cannot be allocated leaves the text absent. */
                SetText((char **)pf->pSetting, strdup(pf->psOlderDefault));
            }
        }
    }
    info.llConsumed = (long long)w.uOff;
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

int EncodeSetupImage(struct MorvLayout const *pLayout, unsigned char **ppData, size_t *puSize)
{
    struct Image im = {NULL, 0, 0, 0, NATIVE_TIME_BYTES};
    if (pLayout != NULL && pLayout->iTimeBytes != 0)
        im.iTimeBytes = pLayout->iTimeBytes;
    PutSigned(&im, pLayout != NULL && pLayout->iVersion != 0 ? pLayout->iVersion : iSetupVersion, 4);
    for (int i = 0; i < MORV_FIELD_COUNT; i++)
        aKinds[aMorvFields[i].eKind].pfWrite(&im, &aMorvFields[i]);
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

int FieldRead(int iField, struct MorvReadInfo const *pInfo)
{
    struct MorvField const *pf = &aMorvFields[iField];
    return pInfo->iVersion >= pf->iFromVersion && (pInfo->iField == 0 || pf->iNumber < pInfo->iField);
}

int TimesFitWidth(int iTimeBytes, int *piField)
{
    for (int i = 0; i < MORV_FIELD_COUNT && iTimeBytes == 4; i++) {
        long long ll = aMorvFields[i].eKind == MFK_TIME ? (long long)*(time_t *)aMorvFields[i].pSetting : 0;
        if (ll < INT32_MIN || ll > INT32_MAX) {
            *piField = i;
            return 0;
        }
    }
    return 1;
}

/* ---- A file: its width, outcome and tail -------------------------------- */

void FreeLayout(struct MorvLayout *pLayout)
{
    free(pLayout->pTail);
    memset(pLayout, 0, sizeof *pLayout);
}

int FindTimeBytes(struct MorvSnapshot const *pSnap)
{
    int iOther = NATIVE_TIME_BYTES == 8 ? 4 : 8;
    if (!pSnap->bPresent)
        return NATIVE_TIME_BYTES;
    struct MorvReadInfo native, other;
    ScanSetup(pSnap->pBytes, pSnap->uBytes, NATIVE_TIME_BYTES, &native);
    ScanSetup(pSnap->pBytes, pSnap->uBytes, iOther, &other);
    int bFits = pSnap->llSize <= MORV_MAX_FILE;
    if (bFits && ImageIsWhole(&native))
        return NATIVE_TIME_BYTES;
    if (bFits && ImageIsWhole(&other))
        return iOther;
    /* Whole at neither: the width at which this program's reading gets
     * further tells the more of the file, and the damage where it really
     * is; a time value it cannot hold ends its reading there. */
    WalkSetup(pSnap->pBytes, pSnap->uBytes, iOther, WALK_REACH, &other);
    return other.llConsumed > native.llConsumed ? iOther : NATIVE_TIME_BYTES;
}

int NoteBytesPastFields(struct MorvLoadReport *pr)
{
    struct MorvReadInfo const *pi = &pr->info;
    if (pi->iVersion > iSetupVersion || pi->llConsumed >= pi->llSize)
        return 0;
    pr->llExtraAt = pi->llConsumed;
    pr->llExtra = pi->llSize - pi->llConsumed;
    return 1;
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
        r.iTimeBytes = NATIVE_TIME_BYTES;
        *pReport = r;
        return r.eOutcome;
    }
    r.iTimeBytes = iTimeBytes != 0 ? iTimeBytes : FindTimeBytes(pSnap);
    r.bOtherWidth = r.iTimeBytes != NATIVE_TIME_BYTES;
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
        if (!NoteBytesPastFields(&r) && r.iVersion > iSetupVersion) {
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

int SnapshotIsWhole(struct MorvSnapshot const *pSnap)
{
    if (!pSnap->bPresent || pSnap->llSize > MORV_MAX_FILE)
        return 0;
    /* The width found is one at which it reads whole, if there is one. */
    struct MorvReadInfo info;
    ScanSetup(pSnap->pBytes, pSnap->uBytes, NATIVE_TIME_BYTES, &info);
    if (ImageIsWhole(&info))
        return 1;
    ScanSetup(pSnap->pBytes, pSnap->uBytes, NATIVE_TIME_BYTES == 8 ? 4 : 8, &info);
    return ImageIsWhole(&info);
}
