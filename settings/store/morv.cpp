/* The MoRvAnE settings store: every setting with its value at program load.
 * Texts start absent; the readers of morvrc (settings/morvrc) fill them and
 * install the built-in text defaults. */
#include "settings/store/morv.h"

#include <stddef.h>

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
int iFlagParserMode[PARSER_MODES] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0};
int iFlagTextFloodIncoming = 0;
int iFlagAdvancedLog = 0;
int iPrivateKillerAlert = 8;
int iFlagFilterSystem = 1;
int iPrivateKillerMessage = 2;
int iFlagKeepQueueCommandCorrupted = 0;
int iPKIgnoreCTCPVersion = 1;
int iPKAllowOnTimeout = 0;
int iFlagDisableSHBM = 0;

char const *apsFlagParseMode[PARSER_MODES] = {
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
