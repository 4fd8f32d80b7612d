/* The field table of the settings store, the store's values at program
 * load (taken before main runs, so that a reset can give them back), and
 * the built-in text defaults the table names. */
#include "settings/store/fields.h"

#include "settings/store/morv.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define INT32(no, name, from) {no, #name, MFK_INT32, from, &name, MER_ABSENT, NULL, NULL}
#define TIME(no, name) {no, #name, MFK_TIME, 0, &name, MER_ABSENT, NULL, NULL}
#define PAIR(no, name) {no, #name, MFK_TEXT_PAIR, 0, name, MER_ABSENT, NULL, NULL}
#define TEXT(no, name, from, empty, older, absent) {no, #name, MFK_TEXT, from, &name, empty, older, absent}

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
    TEXT(24, psPrefixOutput, 12, MER_ABSENT, NULL, NULL),
    TEXT(25, psPostfixOutput, 12, MER_ABSENT, NULL, NULL),
    INT32(26, iFlagIgnoreMessage, 13),
    INT32(27, iFlagMorvMessage, 15),
    INT32(28, iFlagLocalUserModeChg, 16),
    INT32(29, iFlagDebugModeFnc, 17),
    INT32(30, iFlagEnableDatabase, 17),
    INT32(31, iFlagEnableEvent, 17),
    TEXT(32, psMessageLanguage, 18, MER_UNCHANGED, NULL, "italiano"),
    TEXT(33, psAwayPostfix, 19, MER_ABSENT, NULL, "_AWAY"),
    INT32(34, iFlagAwaySystem, 20),
    TEXT(35, psPipeCommand, 21, MER_UNCHANGED, "/ECHO ", ""),
    TEXT(36, psAudioDevice, 22, MER_ABSENT, "ALSA", NULL),
    INT32(37, iMaxMessageChar, 23),
    TEXT(38, psIdentifyCommand, 24, MER_ABSENT, "/MSG NickServ Identify", NULL),
    INT32(39, iFlagErrorMessage, 25),
    INT32(40, iFlagDisableDBUpdating, 26),
    INT32(41, iFlagMonitoringMessage, 26),
    INT32(42, iFlagAwayMessage, 27),
    INT32(43, iFlagCurrentTab, 28),
    INT32(44, iFlagTextFloodError, 28),
    INT32(45, iFlagBadWordSystem, 29),
    INT32(46, iFlagBadWordMessage, 29),
    INT32(47, iFlagEventsManagerDebug, 30),
    {48, "iFlagParserMode", MFK_INT32_ARRAY, 30, iFlagParserMode, MER_ABSENT, NULL, NULL},
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

static_assert(sizeof aMorvFields / sizeof aMorvFields[0] == MORV_FIELD_COUNT,
              "MORV_FIELD_COUNT counts the rows of aMorvFields");

/* By MorvFieldKind, in its order: the bytes its setting takes (0 for the
 * texts), the items it stores and the bytes between two of them. */
const struct MorvKind aMorvKinds[MFK_INT32_ARRAY + 1] = {
    {sizeof(int), 1, 0},                               /* MFK_INT32 */
    {sizeof(time_t), 1, 0},                            /* MFK_TIME */
    {0, 1, 0},                                         /* MFK_TEXT */
    {0, 2, sizeof(char *)},                            /* MFK_TEXT_PAIR */
    {sizeof iFlagParserMode, PARSER_MODES, sizeof(int)} /* MFK_INT32_ARRAY */
};

size_t FieldBytes(struct MorvField const *pf)
{
    return aMorvKinds[pf->eKind].uBytes;
}

int FieldTexts(struct MorvField const *pf)
{
    return aMorvKinds[pf->eKind].uBytes == 0 ? aMorvKinds[pf->eKind].iItems : 0;
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

int LastFieldNumber(void)
{
    return aMorvFields[MORV_FIELD_COUNT - 1].iNumber;
}

/* The non-text settings as they stand at program load.  The store's
 * definitions are constant-initialised, so they are in place before this
 * runs, ahead of main and of any dynamic initialiser. */
static unsigned char aabInitial[MORV_FIELD_COUNT][sizeof iFlagParserMode];

static void TakeInitialValues(void) __attribute__((constructor));
static void TakeInitialValues(void)
{
    for (int i = 0; i < MORV_FIELD_COUNT; i++)
        memcpy(aabInitial[i], aMorvFields[i].pSetting, FieldBytes(&aMorvFields[i]));
}

void ResetStore(void)
{
    for (int i = 0; i < MORV_FIELD_COUNT; i++) {
        struct MorvField const *pf = &aMorvFields[i];
        char **apsTexts = (char **)pf->pSetting;
        int nTexts = FieldTexts(pf);
        for (int k = 0; k < nTexts; k++) {
            free(apsTexts[k]);
            apsTexts[k] = NULL;
        }
        if (nTexts == 0)
            memcpy(pf->pSetting, aabInitial[i], FieldBytes(pf));
    }
}

void InstallTextDefaults(int bNoFile)
{
    /* The older-file defaults first: the pipe command's "/ECHO " wins over
     * its empty one when there was no file. */
    for (int iPass = bNoFile ? 0 : 1; iPass < 2; iPass++) {
        for (int i = 0; i < MORV_FIELD_COUNT; i++) {
            struct MorvField const *pf = &aMorvFields[i];
            char const *psDefault = iPass == 0 ? pf->psOlderDefault : pf->psAbsentDefault;
            char **pps = (char **)pf->pSetting;
            if (pf->eKind == MFK_TEXT && psDefault != NULL && *pps == NULL)
                *pps = strdup(psDefault);
        }
    }
}
