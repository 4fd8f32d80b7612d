/* The MoRvAnE settings store and the reader and writer of morvrc, the binary
 * file that the editor and the script inside XChat share.  The layout lives
 * in one table, aMorvFields, that both directions walk. */
#include "settings/morv.h"

#include "editor/main.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

int iSetupVersion = 38;
int iMinimunSetupVersion = 14;

int iFlagDebugMode = 0;
int iFlagLogFile = 0;
int iFlagCloneDetect = 1;
int iFlagPrintClone = 0;
int iFlagPrintList = 1;
int iFlagColor = 1;
int iMaxCloneCount = 10;
int iFlagQueryBeep = 1;
int iFlagNickBeep = 1;
int iFlagDomainMonitoring = 1;
int iFlagNickJoinMonitoring = 1;
int iMaxQueryMSGFlood = 10;
int iFlagCTCPAnswer = 1;
time_t tCTCPFloodTimer = 1;
int iFlagBeep = 1;
time_t tSoundCommandTimer = 6;
int iMaxMessageSent = 3;
time_t tMinSecondSent = 5;
int iFlagTextFloodOutgoing = 0;
char *psFlagChanJoinBeep[2] = {NULL, NULL};
char *psFlagChanModBeep[2] = {NULL, NULL};
char *psFlagChanWordBeep[2] = {NULL, NULL};
char *psPrefixOutput = NULL;
char *psPostfixOutput = NULL;
int iFlagIgnoreMessage = 1;
int iFlagMorvMessage = 0;
int iFlagLocalUserModeChg = 1;
int iFlagDebugModeFnc = 0;
int iFlagEnableDatabase = 1;
int iFlagEnableEvent = 1;
char *psMessageLanguage = NULL;
char *psAwayPostfix = NULL;
int iFlagAwaySystem = 1;
char *psPipeCommand = NULL;
char *psAudioDevice = NULL;
int iMaxMessageChar = 256;
char *psIdentifyCommand = NULL;
int iFlagErrorMessage = 1;
int iFlagDisableDBUpdating = 0;
int iFlagMonitoringMessage = 1;
int iFlagAwayMessage = 1;
int iFlagCurrentTab = 1;
int iFlagTextFloodError = 1;
int iFlagBadWordSystem = 1;
int iFlagBadWordMessage = 1;
int iFlagEventsManagerDebug = 0;
int iFlagParserMode[19] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0};
int iFlagTextFloodIncoming = 0;
int iFlagAdvancedLog = 0;
int iPrivateKillerAlert = 8;
int iFlagFilterSystem = 1;
int iPrivateKillerMessage = 2;
int iFlagKeepQueueCommandCorrupted = 0;
int iPKIgnoreCTCPVersion = 1;
int iPKAllowOnTimeout = 0;
int iFlagDisableSHBM = 0;

char const *apsFlagParseMode[19] = {
    "PRIVMSG", "JOIN", "LUJOIN", "CHNICK", "CLIST", "SRVMSG", "PART", "KICK", "MODE", "NAMES",
    "WHO", "QUIT", "OSERVER", "ENDWHO", "ERRORLNK", "ENDMOTD", "NOTIFY", "INVITE", "NOTICE"};

int iFlagTextFloodOutgoing_internal = 1;
int iFlagErrorMessage_internal = 1;
int iFlagPipeCommand_internal = 0;
short sFlagEnableQUERY = 1;
short sFlagWhoError = 1;
short sQueueOnLoad = 1;
char caPathLogFile[4096];
void *pGarbageCollector[1023];
int iPidOfProcess = 0;
char acNameOfFatherProcess[4095];
short sFlagEndMacro = 0;
short sFlagAway = 0;
short sNoFloodWarning = 0;
short sWhoDatabaseUpdate = 0;
short sFlagCloseWindow_Part = 0;
short sFlagLockCheckUpDB = 0;
short sFlagTimerLock = 0;
short ssQueueLock = 0;
short sNoSendJoinEvent = 0;
int iObjectInQueue = 0;
char acAwayMessage[4095];
char acMessageModified[4095];
time_t tPreviousMessage = 0;
void *pCmdQueue = NULL;
void *pcuDomainDetected = NULL;
void *sessToClose = NULL;
void *MyNickCallDB = NULL;
char *psFlagDisableUpdateChannel = NULL;
int iFlagRemoveColors = 0;
int flag_write_setup_failed = 0;
char const *const ccaPathDebugFile = ".xchat/morvane/morv.dbg";

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

#define PARSER_MODES 19

/* ---- Little-endian cursor over an image -------------------------------- */

struct Cursor {
    unsigned char const *p;
    size_t uSize;
    size_t uOff;
};

/* Takes an iBytes-wide (4 or 8) signed little-endian value.
 * Returns 1, or 0 without moving when the data ends first. */
static int TakeSigned(struct Cursor *pc, int iBytes, int64_t *pllValue)
{
    if (pc->uSize - pc->uOff < (size_t)iBytes)
        return 0;
    uint64_t u = 0;
    for (int i = iBytes - 1; i >= 0; i--)
        u = (u << 8) | pc->p[pc->uOff + (size_t)i];
    if (iBytes == 4)
        *pllValue = (int32_t)(uint32_t)u;
    else
        *pllValue = (int64_t)u;
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

/* Reads one field at the cursor into its setting, or with bStore 0 only
 * checks that it is whole and steps over it.  Nothing is stored unless the
 * whole field is there, so damage leaves the setting as it was. */
static enum MorvReadResult ReadField(struct Cursor *pc, struct MorvField const *pf, int iTimeBytes,
                                     int bStore, struct MorvReadInfo *pi)
{
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
        if (!bStore)
            return MORV_READ_OK;
        if (sizeof(time_t) < 8 && (ll < INT32_MIN || ll > INT32_MAX)) {
            pc->uOff = uStart;
            return Stop(pi, MORV_READ_TIME_RANGE, pf->iNumber, -1, uStart);
        }
        *(time_t *)pf->pSetting = (time_t)ll;
        return MORV_READ_OK;

    case MFK_INT32_ARRAY: {
        int aiValues[PARSER_MODES];
        for (int k = 0; k < PARSER_MODES; k++) {
            if (!TakeSigned(pc, 4, &ll)) {
                pc->uOff = uStart;
                return Stop(pi, MORV_READ_TRUNCATED, pf->iNumber, 0, uStart);
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

/* Walks an image field by field, storing what it reads when bStore is 1.
 * Returns the result, also stored in *pInfo when pInfo is not null. */
static enum MorvReadResult WalkSetup(unsigned char const *pData, size_t uSize, int iTimeBytes,
                                     int bStore, struct MorvReadInfo *pInfo)
{
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
                if (ReadField(&c, pf, iTimeBytes, bStore, &info) != MORV_READ_OK)
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
    return WalkSetup(pData, uSize, iTimeBytes, 1, pInfo);
}

enum MorvReadResult ScanSetup(unsigned char const *pData, size_t uSize, int iTimeBytes,
                              struct MorvReadInfo *pInfo)
{
    return WalkSetup(pData, uSize, iTimeBytes, 0, pInfo);
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

/* ---- The file on disk -------------------------------------------------- */

struct MorvSnapshot snMorvaneRC = {0, NULL, 0, 0};
struct MorvLayout lyMorvaneRC = {0, 0, NULL, 0};

int OpenForReading(char const *psPath, int bRegularOnly, struct stat *pst)
{
    if (psPath == NULL || *psPath == '\0') {
        errno = ENOENT;
        return -1;
    }
    if (bRegularOnly) {
        if (stat(psPath, pst) != 0)
            return -1;
        if (!S_ISREG(pst->st_mode)) {
            errno = S_ISDIR(pst->st_mode) ? EISDIR : EINVAL;
            return -1;
        }
    }
    int fd = open(psPath, O_RDONLY | O_NOCTTY | O_CLOEXEC | (bRegularOnly ? O_NONBLOCK : 0));
    if (fd < 0)
        return -1;
    /* The path may have been replaced between the two looks. */
    int iErr = 0;
    if (fstat(fd, pst) != 0)
        iErr = errno;
    else if (S_ISDIR(pst->st_mode))
        iErr = EISDIR;
    else if (bRegularOnly && !S_ISREG(pst->st_mode))
        iErr = EINVAL;
    if (iErr != 0) {
        close(fd);
        errno = iErr;
        return -1;
    }
    return fd;
}

/* Reads up to uWant bytes, fewer only at the end of the data or on an
 * error, which ends the data too.  Returns the number read. */
static size_t ReadUpTo(int fd, unsigned char *p, size_t uWant)
{
    size_t uGot = 0;
    while (uGot < uWant) {
        ssize_t n = read(fd, p + uGot, uWant - uGot);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        uGot += (size_t)n;
    }
    return uGot;
}

/* The whole size of the file open on fd after uRead bytes were read, of
 * which the last may be one beyond MORV_MAX_FILE: what a regular file says
 * of itself, or else whatever more can be read. */
static long long WholeSize(int fd, struct stat const *pst, size_t uRead)
{
    if (uRead <= MORV_MAX_FILE)
        return (long long)uRead;
    if (S_ISREG(pst->st_mode) && (long long)pst->st_size > (long long)uRead)
        return (long long)pst->st_size;
    long long llSize = (long long)uRead;
    unsigned char ab[65536];
    for (size_t n; (n = ReadUpTo(fd, ab, sizeof ab)) > 0;)
        llSize += (long long)n;
    return llSize;
}

int SnapshotFile(char const *psPath, int bRegularOnly, struct MorvSnapshot *pSnap)
{
    memset(pSnap, 0, sizeof *pSnap);
    struct stat st;
    int fd = OpenForReading(psPath, bRegularOnly, &st);
    if (fd < 0)
        return 0;
    /* One byte more than is kept tells a longer file. */
    unsigned char *p = (unsigned char *)malloc(MORV_MAX_FILE + 1);
    if (p == NULL) {
        close(fd);
        errno = ENOMEM;
        return 0;
    }
    size_t uRead = ReadUpTo(fd, p, MORV_MAX_FILE + 1);
    pSnap->llSize = WholeSize(fd, &st, uRead);
    close(fd);
    pSnap->uBytes = uRead > MORV_MAX_FILE ? MORV_MAX_FILE : uRead;
    /* Only what the file holds stays allocated. */
    unsigned char *pFit = (unsigned char *)realloc(p, pSnap->uBytes ? pSnap->uBytes : 1);
    pSnap->pBytes = pFit != NULL ? pFit : p;
    pSnap->bPresent = 1;
    return 1;
}

int SnapshotMatches(char const *psPath, struct MorvSnapshot const *pSnap)
{
    struct stat st;
    int fd = OpenForReading(psPath, 1, &st);
    if (fd < 0)
        return !pSnap->bPresent;
    if (!pSnap->bPresent) {
        close(fd);
        return 0;
    }
    /* Chunk by chunk against the remembered bytes, one byte further. */
    unsigned char ab[65536];
    size_t uAt = 0;
    int bSame = 1;
    while (bSame && uAt <= pSnap->uBytes && uAt <= MORV_MAX_FILE) {
        size_t uWant = pSnap->uBytes - uAt + 1;
        size_t n = ReadUpTo(fd, ab, uWant < sizeof ab ? uWant : sizeof ab);
        if (n == 0)
            break;
        size_t uCompare = n;
        if (uAt + uCompare > pSnap->uBytes)
            uCompare = pSnap->uBytes - uAt;
        bSame = memcmp(ab, pSnap->pBytes + uAt, uCompare) == 0;
        uAt += n;
    }
    if (bSame)
        bSame = WholeSize(fd, &st, uAt) == pSnap->llSize;
    close(fd);
    return bSame;
}

void FreeSnapshot(struct MorvSnapshot *pSnap)
{
    free(pSnap->pBytes);
    memset(pSnap, 0, sizeof *pSnap);
}

void FreeLayout(struct MorvLayout *pLayout)
{
    free(pLayout->pTail);
    memset(pLayout, 0, sizeof *pLayout);
}

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

static const int iNativeTimeBytes = (int)sizeof(time_t);

int FindTimeBytes(struct MorvSnapshot const *pSnap)
{
    int iOther = iNativeTimeBytes == 8 ? 4 : 8;
    if (!pSnap->bPresent || pSnap->llSize > MORV_MAX_FILE)
        return iNativeTimeBytes;
    struct MorvReadInfo info;
    ScanSetup(pSnap->pBytes, pSnap->uBytes, iNativeTimeBytes, &info);
    if (ImageIsWhole(&info))
        return iNativeTimeBytes;
    ScanSetup(pSnap->pBytes, pSnap->uBytes, iOther, &info);
    return ImageIsWhole(&info) ? iOther : iNativeTimeBytes;
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
    } else if (pSnap->llSize > MORV_MAX_FILE) {
        /* Every field this program knows lies before the limit; what lies
         * beyond it is not read, and so cannot be kept either. */
        Damaged(&r, MORV_MAX_FILE, "beyond 1 MiB");
    } else {
        r.eOutcome = MORV_WHOLE;
        if (r.iVersion > iSetupVersion) {
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
    struct MorvLoadReport r;
    /* The bytes remembered so far are let go before the file is read again,
     * so that no more than one copy of it is ever held. */
    FreeSnapshot(&snMorvaneRC);
    int iErr = SnapshotFile(psMorvaneRC, 1, &snMorvaneRC) ? 0 : errno;
    DecodeFile(&snMorvaneRC, 0, &r, &lyMorvaneRC);
    r.iErrno = iErr;
    InstallTextDefaults(r.eOutcome);
    if (pReport != NULL)
        *pReport = r;
    return r.eOutcome;
}

void ReadSetup(struct session *pSession)
{
    (void)pSession;
    ReadSetupReport(NULL);
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
            /* Only a pair with both texts is stored.  An empty text [0]
             * would read back as an absent pair with no second length, so
             * such a pair is stored as absent too. */
            char **apsPair = (char **)pf->pSetting;
            if (apsPair[0] != NULL && apsPair[1] != NULL && apsPair[0][0] != '\0') {
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

/* Follows symbolic links from psPath to the file they lead to, which need
 * not exist yet.  Returns a malloc'd path, or null with errno set (ELOOP
 * after 40 links, ENOMEM). */
static char *FollowLinks(char const *psPath)
{
    char *psCur = strdup(psPath);
    for (int iHops = 0; psCur != NULL; iHops++) {
        struct stat st;
        if (lstat(psCur, &st) != 0 || !S_ISLNK(st.st_mode))
            return psCur;
        if (iHops == 40) {
            free(psCur);
            errno = ELOOP;
            return NULL;
        }
        char acTarget[PATH_MAX];
        ssize_t n = readlink(psCur, acTarget, sizeof acTarget - 1);
        if (n < 0) {
            free(psCur);
            return NULL;
        }
        acTarget[n] = '\0';
        char *psNext;
        char const *psSlash = strrchr(psCur, '/');
        if (acTarget[0] == '/' || psSlash == NULL) {
            psNext = strdup(acTarget);
        } else {
            /* A relative target is relative to the link's own directory. */
            size_t uDir = (size_t)(psSlash - psCur) + 1;
            psNext = (char *)malloc(uDir + (size_t)n + 1);
            if (psNext != NULL) {
                memcpy(psNext, psCur, uDir);
                memcpy(psNext + uDir, acTarget, (size_t)n + 1);
            }
        }
        free(psCur);
        psCur = psNext;
    }
    errno = ENOMEM;
    return NULL;
}

/* Writes all n bytes.  Returns 1, or 0 with errno set. */
static int WriteAll(int fd, unsigned char const *p, size_t n)
{
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return 0;
        }
        p += w;
        n -= (size_t)w;
    }
    return 1;
}

/* Makes the rename durable.  A directory that cannot be synced is not an
 * error worth reporting: the new file is already in place. */
static void SyncDirectoryOf(char const *psFile)
{
    char const *psSlash = strrchr(psFile, '/');
    char *psDir = psSlash == NULL ? strdup(".") : strndup(psFile, (size_t)(psSlash - psFile) + 1);
    if (psDir == NULL)
        return;
    int fd = open(psDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    free(psDir);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

int ReplaceSetupFile(char const *psPath, struct MorvLayout const *pLayout,
                     struct MorvSnapshot const *pExpected, struct MorvSnapshot *pWritten)
{
    unsigned char *pData = NULL;
    size_t uSize = 0;
    char *psTarget = NULL, *psTemp = NULL;
    int fd = -1, iErr = 0;

    if (psPath == NULL || *psPath == '\0') {
        errno = ENOENT;
        return 0;
    }
    if (!EncodeSetupImage(pLayout, &pData, &uSize))
        return 0;
    psTarget = FollowLinks(psPath);
    if (psTarget == NULL)
        goto fail;

    {
        /* The new file takes the old one's permission bits, or those that
         * a plain create would give it. */
        struct stat st;
        mode_t mode;
        if (stat(psTarget, &st) == 0) {
            if (access(psTarget, W_OK) != 0)
                goto fail;
            mode = st.st_mode & 07777;
        } else if (errno == ENOENT) {
            mode_t mask = umask(0);
            umask(mask);
            mode = 0666 & ~mask;
        } else {
            goto fail;
        }

        size_t uLen = strlen(psTarget);
        psTemp = (char *)malloc(uLen + sizeof ".XXXXXX");
        if (psTemp == NULL)
            goto fail;
        memcpy(psTemp, psTarget, uLen);
        memcpy(psTemp + uLen, ".XXXXXX", sizeof ".XXXXXX");
        fd = mkstemp(psTemp);
        if (fd < 0) {
            free(psTemp);
            psTemp = NULL;
            goto fail;
        }
        if (fchmod(fd, mode) != 0 || !WriteAll(fd, pData, uSize) || fsync(fd) != 0)
            goto fail;
        int iClosed = close(fd);
        fd = -1;
        if (iClosed != 0)
            goto fail;
        /* The last look before the old file goes: another program may have
         * written it since it was read. */
        if (pExpected != NULL && !SnapshotMatches(psTarget, pExpected)) {
            errno = ESTALE;
            goto fail;
        }
        if (rename(psTemp, psTarget) != 0)
            goto fail;
    }
    SyncDirectoryOf(psTarget);
    free(psTemp);
    free(psTarget);
    if (pWritten != NULL) {
        pWritten->bPresent = 1;
        pWritten->pBytes = pData;
        pWritten->uBytes = uSize;
        pWritten->llSize = (long long)uSize;
    } else {
        free(pData);
    }
    return 1;

fail:
    iErr = errno;
    if (fd >= 0)
        close(fd);
    if (psTemp != NULL) {
        unlink(psTemp);
        free(psTemp);
    }
    free(psTarget);
    free(pData);
    errno = iErr;
    return 0;
}

int WriteSetupFile(char const *psPath, int iTimeBytes)
{
    struct MorvLayout layout = {iTimeBytes, 0, NULL, 0};
    return ReplaceSetupFile(psPath, &layout, NULL, NULL);
}

/* Saves psMorvaneRC as lyMorvaneRC lays it out, only over the bytes of
 * snMorvaneRC when bCheck is 1, and remembers what it wrote.  Returns 1, or
 * 0 with errno set after the console line (none for a refusal, ESTALE). */
static int SaveMorvaneRC(int bCheck)
{
    struct MorvSnapshot written;
    if (ReplaceSetupFile(psMorvaneRC, &lyMorvaneRC, bCheck ? &snMorvaneRC : NULL, &written)) {
        FreeSnapshot(&snMorvaneRC);
        snMorvaneRC = written;
        return 1;
    }
    int iErr = errno;
    if (!(bCheck && iErr == ESTALE)) {
        printf("\nUnable to open file %s for writing (%s).", psMorvaneRC, strerror(iErr));
        fflush(stdout);
    }
    errno = iErr;
    return 0;
}

int WriteSetup(void) { return SaveMorvaneRC(0); }

int WriteSetupUnlessChanged(void) { return SaveMorvaneRC(1); }

/* ---- Housekeeping ------------------------------------------------------ */

/* Bytes of one non-text field in memory. */
static size_t FieldBytes(struct MorvField const *pf)
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

/* The non-text settings as they stand at program load, taken before main
 * runs: the definitions above are constant-initialised, so they are in place
 * before any dynamic initialiser. */
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
            SetText((char **)pf->pSetting, NULL);
        } else if (pf->eKind == MFK_TEXT_PAIR) {
            SetText(&((char **)pf->pSetting)[0], NULL);
            SetText(&((char **)pf->pSetting)[1], NULL);
        } else {
            memcpy(pf->pSetting, sInitial.ab[i], FieldBytes(pf));
        }
    }
    FreeSnapshot(&snMorvaneRC);
    FreeLayout(&lyMorvaneRC);
}
