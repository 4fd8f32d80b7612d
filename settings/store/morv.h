/* The MoRvAnE settings store: the script's options as plain globals with
 * their values at program load, the event names of the parser switches, and
 * run-time state of the script that the editor never touches. */
#ifndef MORV_SETTINGS_STORE_MORV_H
#define MORV_SETTINGS_STORE_MORV_H

#include <time.h>

/* Elements of iFlagParserMode: one switch per kind of IRC event. */
#define PARSER_MODES 19

/* Format version written by this build, and the oldest one read. */
extern int iSetupVersion;
extern int iMinimunSetupVersion;

/* Stored settings, in file order (the catalogue row of each in brackets). */
extern int iFlagDebugMode;                /* [1] reopen the run log on every line */
extern int iFlagLogFile;                  /* [2] */
extern int iFlagCloneDetect;              /* [3] */
extern int iFlagPrintClone;               /* [4] */
extern int iFlagPrintList;                /* [5]  the nine ints of rows 5 to 13 */
extern int iFlagColor;                    /* [6] */
extern int iMaxCloneCount;                /* [7] */
extern int iFlagQueryBeep;                /* [8] */
extern int iFlagNickBeep;                 /* [9] */
extern int iFlagDomainMonitoring;         /* [10] */
extern int iFlagNickJoinMonitoring;       /* [11] */
extern int iMaxQueryMSGFlood;             /* [12] */
extern int iFlagCTCPAnswer;               /* [13] */
extern time_t tCTCPFloodTimer;            /* [14] native width */
extern int iFlagBeep;                     /* [15] */
extern time_t tSoundCommandTimer;         /* [16] native width */
extern int iMaxMessageSent;               /* [17] */
extern time_t tMinSecondSent;             /* [18] native width */
extern int iFlagTextFloodOutgoing;        /* [19] */
extern char *psFlagChanJoinBeep[2];       /* [20, 21] a text pair */
extern char *psFlagChanModBeep[2];        /* [22, 23] a text pair */
extern char *psFlagChanWordBeep[2];       /* [24, 25] a text pair */
extern char *psPrefixOutput;              /* [26] */
extern char *psPostfixOutput;             /* [27] */
extern int iFlagIgnoreMessage;            /* [28] */
extern int iFlagMorvMessage;              /* [29] */
extern int iFlagLocalUserModeChg;         /* [30] */
extern int iFlagDebugModeFnc;             /* [31] open and close the run log around every line */
extern int iFlagEnableDatabase;           /* [32] */
extern int iFlagEnableEvent;              /* [33] */
extern char *psMessageLanguage;           /* [34] */
extern char *psAwayPostfix;               /* [35] */
extern int iFlagAwaySystem;               /* [36] */
extern char *psPipeCommand;               /* [37] */
extern char *psAudioDevice;               /* [38] */
extern int iMaxMessageChar;               /* [39] */
extern char *psIdentifyCommand;           /* [40] */
extern int iFlagErrorMessage;             /* [41] */
extern int iFlagDisableDBUpdating;        /* [42] */
extern int iFlagMonitoringMessage;        /* [43] */
extern int iFlagAwayMessage;              /* [44] */
extern int iFlagCurrentTab;               /* [45] */
extern int iFlagTextFloodError;           /* [46] */
extern int iFlagBadWordSystem;            /* [47] */
extern int iFlagBadWordMessage;           /* [48] */
extern int iFlagEventsManagerDebug;       /* [68] */
extern int iFlagParserMode[PARSER_MODES]; /* [49 to 67] one per apsFlagParseMode entry */
extern int iFlagTextFloodIncoming;        /* [69] */
extern int iFlagAdvancedLog;              /* [70] */
extern int iPrivateKillerAlert;           /* [71] */
extern int iFlagFilterSystem;             /* [72] */
extern int iPrivateKillerMessage;         /* [73] */
extern int iFlagKeepQueueCommandCorrupted;/* [74] */
extern int iPKIgnoreCTCPVersion;          /* [75] */
extern int iPKAllowOnTimeout;             /* [76] */
extern int iFlagDisableSHBM;              /* [77] */

/* Event kinds switched by iFlagParserMode, element by element. */
extern char const *apsFlagParseMode[PARSER_MODES];

/* Run-time state of the script; the editor never touches it. */
extern int iFlagTextFloodOutgoing_internal;
extern int iFlagErrorMessage_internal;
extern int iFlagPipeCommand_internal;
extern short sFlagEnableQUERY;
extern short sFlagWhoError;
extern short sQueueOnLoad;
extern char caPathLogFile[4096];
extern void *pGarbageCollector[1023];
extern int iPidOfProcess;
extern char acNameOfFatherProcess[4095];
extern short sFlagEndMacro;
extern short sFlagAway;
extern short sNoFloodWarning;
extern short sWhoDatabaseUpdate;
extern short sFlagCloseWindow_Part;
extern short sFlagLockCheckUpDB;
extern short sFlagTimerLock;
extern short ssQueueLock;
extern short sNoSendJoinEvent;
extern int iObjectInQueue;
extern char acAwayMessage[4095];
extern char acMessageModified[4095];
extern time_t tPreviousMessage;
extern void *pCmdQueue;
extern void *pcuDomainDetected;
extern void *sessToClose;
extern void *MyNickCallDB;
extern char *psFlagDisableUpdateChannel;
extern int iFlagRemoveColors;
extern int flag_write_setup_failed;
extern char const *const ccaPathDebugFile;

#endif
