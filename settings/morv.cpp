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

/* Records where and why reading stopped. */
static enum MorvReadResult Stop(struct MorvReadInfo *pi, enum MorvReadResult e, int iField,
                                size_t uOffset)
{
    pi->eResult = e;
    pi->iField = iField;
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
            return Stop(pi, MORV_READ_TRUNCATED, pf->iNumber, uStart);
        if (bStore)
            *(int *)pf->pSetting = (int)ll;
        return MORV_READ_OK;

    case MFK_TIME:
        if (!TakeSigned(pc, iTimeBytes, &ll))
            return Stop(pi, MORV_READ_TRUNCATED, pf->iNumber, uStart);
        /* Only storing needs the value to fit this build's time_t. */
        if (!bStore)
            return MORV_READ_OK;
        if (sizeof(time_t) < 8 && (ll < INT32_MIN || ll > INT32_MAX)) {
            pc->uOff = uStart;
            return Stop(pi, MORV_READ_TIME_RANGE, pf->iNumber, uStart);
        }
        *(time_t *)pf->pSetting = (time_t)ll;
        return MORV_READ_OK;

    case MFK_INT32_ARRAY: {
        int aiValues[PARSER_MODES];
        for (int k = 0; k < PARSER_MODES; k++) {
            if (!TakeSigned(pc, 4, &ll)) {
                pc->uOff = uStart;
                return Stop(pi, MORV_READ_TRUNCATED, pf->iNumber, uStart);
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
            return Stop(pi, e, pf->iNumber, uWordAt);
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
            return Stop(pi, MORV_READ_NO_MEMORY, pf->iNumber, uWordAt);
        pc->uOff += (size_t)ll;
        return MORV_READ_OK;
    }

    case MFK_TEXT_PAIR: {
        char **apsPair = (char **)pf->pSetting;
        int64_t llSecond;
        size_t uSecondAt;
        if ((e = TakeLength(pc, &ll, &uWordAt)) != MORV_READ_OK)
            return Stop(pi, e, pf->iNumber, uWordAt);
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
            return Stop(pi, e, pf->iNumber, uSecondAt);
        }
        if (llSecond < 0) {
            /* The writer never stores one; the pair is left as it was. */
            pc->uOff = uStart;
            return Stop(pi, MORV_READ_BAD_LENGTH, pf->iNumber, uSecondAt);
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
            return Stop(pi, MORV_READ_NO_MEMORY, pf->iNumber, uWordAt);
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

enum MorvReadResult ReadSetupFile(char const *psPath, int iTimeBytes, struct MorvReadInfo *pInfo)
{
    FILE *f = NULL;
    if (psPath == NULL)
        errno = ENOENT;
    else
        f = fopen(psPath, "r");
    if (f == NULL) {
        if (pInfo != NULL) {
            memset(pInfo, 0, sizeof *pInfo);
            pInfo->eResult = MORV_READ_NOFILE;
        }
        return MORV_READ_NOFILE;
    }

    /* The whole file is read first so that every length word can be checked
     * against what is really there; if memory runs out part way, the part
     * read so far is used and the rest counts as missing. */
    size_t uCap = 4096, uSize = 0;
    unsigned char *pData = (unsigned char *)malloc(uCap);
    while (pData != NULL) {
        if (uSize == uCap) {
            unsigned char *pGrown = uCap <= SIZE_MAX / 2 ? (unsigned char *)realloc(pData, uCap * 2) : NULL;
            if (pGrown == NULL)
                break;
            pData = pGrown;
            uCap *= 2;
        }
        size_t uGot = fread(pData + uSize, 1, uCap - uSize, f);
        if (uGot == 0)
            break;
        uSize += uGot;
    }
    fclose(f);

    enum MorvReadResult e = DecodeSetup(pData != NULL ? pData : (unsigned char const *)"", uSize,
                                        iTimeBytes, pInfo);
    free(pData);
    return e;
}

/* Gives an absent text setting a copy of psDefault. */
static void DefaultText(char **pps, char const *psDefault)
{
    if (*pps == NULL)
        *pps = strdup(psDefault);
}

void ReadSetup(struct session *pSession)
{
    (void)pSession;
    if (ReadSetupFile(psMorvaneRC, (int)sizeof(time_t), NULL) == MORV_READ_NOFILE) {
        DefaultText(&psPipeCommand, "/ECHO ");
        DefaultText(&psAudioDevice, "ALSA");
        DefaultText(&psIdentifyCommand, "/MSG NickServ Identify");
    }
    DefaultText(&psMessageLanguage, "italiano");
    DefaultText(&psAwayPostfix, "_AWAY");
    DefaultText(&psPipeCommand, "");
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

int EncodeSetup(int iTimeBytes, unsigned char **ppData, size_t *puSize)
{
    struct Image im = {NULL, 0, 0, 0};
    PutSigned(&im, iSetupVersion, 4);
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
    if (im.iError) {
        free(im.p);
        errno = im.iError;
        return 0;
    }
    *ppData = im.p;
    *puSize = im.uSize;
    return 1;
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

int WriteSetupFile(char const *psPath, int iTimeBytes)
{
    unsigned char *pData = NULL;
    size_t uSize = 0;
    char *psTarget = NULL, *psTemp = NULL;
    int fd = -1, iErr = 0;

    if (psPath == NULL || *psPath == '\0') {
        errno = ENOENT;
        return 0;
    }
    if (!EncodeSetup(iTimeBytes, &pData, &uSize))
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
        if (iClosed != 0 || rename(psTemp, psTarget) != 0)
            goto fail;
    }
    SyncDirectoryOf(psTarget);
    free(psTemp);
    free(psTarget);
    free(pData);
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

int WriteSetup(void)
{
    if (WriteSetupFile(psMorvaneRC, (int)sizeof(time_t)))
        return 1;
    int iErr = errno;
    printf("\nUnable to open file %s for writing (%s).", psMorvaneRC, strerror(iErr));
    fflush(stdout);
    errno = iErr;
    return 0;
}

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
}
