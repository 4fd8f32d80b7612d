/* The MoRvAnE settings store and its binary configuration file, morvrc.
 * The settings are plain globals shared with the script; the field table
 * below is the file's layout, and the reader and writer walk it. */
#ifndef MORV_SETTINGS_MORV_H
#define MORV_SETTINGS_MORV_H

#include <stddef.h>
#include <time.h>

/* Opaque type of the host IRC client; the reader never looks at it. */
struct session;

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
extern int iFlagParserMode[19];           /* [49 to 67] one per apsFlagParseMode entry */
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
extern char const *apsFlagParseMode[19];

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

/* ---- The file's layout ------------------------------------------------ */

enum MorvFieldKind {
    MFK_INT32,       /* 4 bytes, little-endian, signed */
    MFK_TIME,        /* 4 or 8 bytes (the writer's time_t), little-endian, signed */
    MFK_TEXT,        /* int32 length n, then n bytes, no terminator */
    MFK_TEXT_PAIR,   /* both texts, or a single int32 0 */
    MFK_INT32_ARRAY  /* the 19 elements of iFlagParserMode */
};

/* What a stored length of 0 or less does to a single text. */
enum MorvEmptyRule {
    MER_ABSENT,      /* the setting becomes null */
    MER_UNCHANGED    /* the setting keeps its value */
};

/* One field of morvrc.  Field 1, the version word, is not in the table. */
struct MorvField {
    int iNumber;                 /* field number, 2 to 57 */
    char const *psName;          /* the setting's name */
    enum MorvFieldKind eKind;
    int iFromVersion;            /* first format version that holds it; 0: every file */
    void *pSetting;              /* int*, time_t*, char** (pairs: char*[2]) or int[19] */
    enum MorvEmptyRule eEmpty;   /* single texts only */
    char const *psOlderDefault;  /* single texts only: installed when the file predates
                                    the field; null leaves the setting unchanged */
};

#define MORV_FIELD_COUNT 56
extern const struct MorvField aMorvFields[MORV_FIELD_COUNT];

/* ---- Reading ----------------------------------------------------------- */

enum MorvReadResult {
    MORV_READ_OK,          /* every field that the version holds was read */
    MORV_READ_NOFILE,      /* the file could not be opened (errno tells why) */
    MORV_READ_TOO_OLD,     /* version below iMinimunSetupVersion; nothing else read */
    MORV_READ_TRUNCATED,   /* the data ends inside a field */
    MORV_READ_BAD_LENGTH,  /* a negative length for text [1] of a pair */
    MORV_READ_NO_MEMORY,   /* a text could not be allocated; it is left absent */
    MORV_READ_TIME_RANGE   /* a 64-bit time value does not fit this build's time_t */
};

struct MorvReadInfo {
    enum MorvReadResult eResult;
    int iVersion;             /* the version word, 0 when it could not be read */
    int iField;               /* field number where reading stopped; 0 when it did not */
    int iElement;             /* at the stop: the text of a pair (0 or 1), or -1 */
    long long llOffset;       /* offset of the length word or value at fault */
    long long llConsumed;     /* bytes taken by the fields that were read */
    long long llSize;         /* bytes available */
};

/* Reads one configuration image whose time fields are iTimeBytes (4 or 8)
 * wide into the settings store, with the version rules of the format: a
 * version below iMinimunSetupVersion reads nothing more; fields that an older
 * file lacks keep their values, except the three texts with an older-file
 * default.  Reading stops at the first damage (see MorvReadResult); every
 * field from there on keeps its value, and no setting is given bytes that
 * were not in the data.  Installs none of the final text defaults.
 * Returns the result, also stored in *pInfo when pInfo is not null. */
enum MorvReadResult DecodeSetup(unsigned char const *pData, size_t uSize, int iTimeBytes,
                                struct MorvReadInfo *pInfo);

/* Walks one configuration image exactly as DecodeSetup does, with the same
 * results, field numbers and offsets, but stores nothing: the settings store
 * is left alone, and a time value of any size is accepted whatever this
 * build's time_t, so the result describes the image alone.  A whole image
 * of version iSetupVersion or older gives MORV_READ_OK with llConsumed equal
 * to llSize.  Never returns MORV_READ_NO_MEMORY or MORV_READ_TIME_RANGE.
 * Returns the result, also stored in *pInfo when pInfo is not null. */
enum MorvReadResult ScanSetup(unsigned char const *pData, size_t uSize, int iTimeBytes,
                              struct MorvReadInfo *pInfo);

/* Reads the file psPath (at most MORV_MAX_FILE bytes of it, a regular file
 * only) as DecodeSetup does.  Returns MORV_READ_NOFILE, with errno set, when
 * it cannot be read (a null path included); a read error part way through
 * counts as the end of the data. */
enum MorvReadResult ReadSetupFile(char const *psPath, int iTimeBytes,
                                  struct MorvReadInfo *pInfo);

/* Whether a walk that ended as *pInfo took the whole image: every field of
 * its version, and nothing after the last one unless the version is newer
 * than iSetupVersion, whose extra fields follow. */
int ImageIsWhole(struct MorvReadInfo const *pInfo);

/* Writes into psOut (uOut bytes, cut to fit) the name of element iElement
 * of aMorvFields[iIndex]: "iMaxCloneCount" (iElement -1),
 * "psFlagChanJoinBeep[1]", "iFlagParserMode[NOTICE]". */
void SettingName(int iIndex, int iElement, char *psOut, size_t uOut);

/* ---- The file on disk -------------------------------------------------- */

/* No more of a morvrc than this is ever held in memory: a longer file is
 * damaged from this byte on, and no longer image is written. */
#define MORV_MAX_FILE 1048576

/* The bytes of a morvrc as this program last read or wrote them, so that a
 * change that another program made since can be told. */
struct MorvSnapshot {
    int bPresent;            /* 0: there was no file that could be read */
    unsigned char *pBytes;   /* malloc'd, the first MORV_MAX_FILE bytes at most, or null */
    size_t uBytes;
    long long llSize;        /* the whole size; beyond pBytes only the size is known */
};

/* How an image is written besides the settings: the width of its time
 * fields, its version word, and for a file newer than this program the
 * bytes after the last field this program knows, written back unchanged. */
struct MorvLayout {
    int iTimeBytes;          /* 4 or 8; 0: this build's */
    int iVersion;            /* 0: iSetupVersion */
    unsigned char *pTail;    /* malloc'd, or null */
    size_t uTail;
};

struct stat;

/* Opens psPath for reading.  With bRegularOnly only a regular file is
 * opened, and without waiting: a FIFO or a device is never opened at all.
 * A directory gives EISDIR, anything else refused EINVAL.  *pst gets the
 * file's status.  Returns the descriptor, or -1 with errno set. */
int OpenForReading(char const *psPath, int bRegularOnly, struct stat *pst);

/* Reads psPath into *pSnap.  With bRegularOnly, anything but a regular file
 * (a FIFO, a device, a directory) counts as unreadable, and the open never
 * blocks.  Returns 1; 0 with errno set and pSnap->bPresent 0 when the file
 * cannot be read or its buffer cannot be allocated. */
int SnapshotFile(char const *psPath, int bRegularOnly, struct MorvSnapshot *pSnap);

/* Returns 1 when psPath (a regular file, read without blocking) holds the
 * bytes of *pSnap, or is still missing or unreadable when pSnap was;
 * beyond the first MORV_MAX_FILE bytes only the size is compared.  0 when
 * it appeared, disappeared or changed. */
int SnapshotMatches(char const *psPath, struct MorvSnapshot const *pSnap);

/* Frees the snapshot's bytes and empties it; likewise the layout's tail. */
void FreeSnapshot(struct MorvSnapshot *pSnap);
void FreeLayout(struct MorvLayout *pLayout);

/* What one reading of a morvrc found. */
enum MorvOutcome {
    MORV_WHOLE,        /* every field of its version was read */
    MORV_UNREADABLE,   /* missing, not a regular file, or not readable */
    MORV_TOO_OLD,      /* empty, or a version word below iMinimunSetupVersion */
    MORV_DAMAGED       /* reading stopped at llDamageAt; the rest kept its values */
};

struct MorvLoadReport {
    enum MorvOutcome eOutcome;
    int iErrno;                /* why an unreadable file was */
    int iTimeBytes;            /* the width it was read at */
    int bOtherWidth;           /* 1: not this build's width */
    int iVersion;
    long long llDamageAt;      /* where the damaged field begins (a text: its length word) */
    char acDamaged[64];        /* that setting's name, as SettingName gives it */
    struct MorvReadInfo info;  /* the walk, for a closer description */
};

/* The width an image reads at: this build's when it reads whole at it
 * (ImageIsWhole) or at neither width, the other when only that one does.
 * A file longer than MORV_MAX_FILE reads whole at neither. */
int FindTimeBytes(struct MorvSnapshot const *pSnap);

/* Reads the snapshot into the settings store at iTimeBytes, or at the width
 * FindTimeBytes finds when it is 0, and says what it found in *pReport.
 * *pLayout (emptied first) gets how to write the file back: the width read
 * at and, for a whole newer file, its version and the bytes after the last
 * field known here.  Installs none of the final text defaults.
 * Returns the outcome; memory that runs out for the tail gives MORV_DAMAGED. */
enum MorvOutcome DecodeFile(struct MorvSnapshot const *pSnap, int iTimeBytes,
                            struct MorvLoadReport *pReport, struct MorvLayout *pLayout);

/* psMorvaneRC as the last ReadSetup or save saw it: its bytes, compared
 * before the next save, and how it is written back. */
extern struct MorvSnapshot snMorvaneRC;
extern struct MorvLayout lyMorvaneRC;

/* Loads psMorvaneRC into the settings store at the width it is found to
 * have, remembers it in snMorvaneRC and lyMorvaneRC, then installs the
 * built-in text defaults: "/ECHO ", "ALSA" and "/MSG NickServ Identify"
 * when the file could not be read at all, and in every case "italiano",
 * "_AWAY" and an empty pipe command where those texts are still absent.
 * Prints nothing.  Returns the outcome, described in *pReport when it is
 * not null. */
enum MorvOutcome ReadSetupReport(struct MorvLoadReport *pReport);

/* The built-in text defaults that ReadSetupReport installs after a reading
 * that ended as eOutcome: "/ECHO ", "ALSA" and "/MSG NickServ Identify"
 * where those texts are absent and the file could not be read at all
 * (MORV_UNREADABLE), then in every case "italiano", "_AWAY" and an empty
 * pipe command where those texts are still absent.  Returns nothing; a
 * default that cannot be allocated leaves its text absent. */
void InstallTextDefaults(enum MorvOutcome eOutcome);

/* ReadSetupReport for the script, which has no use for the report. */
void ReadSetup(struct session *pSession);

/* ---- Writing ----------------------------------------------------------- */

/* Builds the image of the whole settings store as *pLayout says (null: this
 * build's width and version, no tail) into a malloc'd block (*ppData,
 * *puSize).  Returns 1 on success; 0, with errno set and nothing allocated,
 * when memory runs out (ENOMEM), a time value does not fit 4 bytes
 * (EOVERFLOW) or the image would be longer than MORV_MAX_FILE (EFBIG). */
int EncodeSetupImage(struct MorvLayout const *pLayout, unsigned char **ppData, size_t *puSize);

/* EncodeSetupImage of a version-iSetupVersion image with iTimeBytes-wide
 * time fields and no tail. */
int EncodeSetup(int iTimeBytes, unsigned char **ppData, size_t *puSize);

/* Replaces the file psPath with the image of the settings store laid out as
 * *pLayout says: the image goes to a temporary file in the same directory,
 * which is flushed, synced, given the old file's permission bits and
 * renamed over the old file.  When psPath is a symbolic link the file it
 * points to is replaced.  An existing file that this process may not write
 * is left alone (as opening it for writing would).  With pExpected, the file
 * is compared with it right before the rename, and a file changed since
 * (SnapshotMatches) is left alone.  With pWritten, it gets the bytes written.
 * Returns 1 on success; 0 on failure, with errno set by the failing step
 * (ENOENT for a null or empty path, ESTALE for a file changed since
 * pExpected), the old file untouched and no temporary file left behind. */
int ReplaceSetupFile(char const *psPath, struct MorvLayout const *pLayout,
                     struct MorvSnapshot const *pExpected, struct MorvSnapshot *pWritten);

/* ReplaceSetupFile with a version-iSetupVersion image of iTimeBytes-wide
 * time fields, unconditionally. */
int WriteSetupFile(char const *psPath, int iTimeBytes);

/* Saves the settings store to psMorvaneRC as lyMorvaneRC lays it out and
 * remembers the bytes written in snMorvaneRC.  On failure prints "\nUnable to
 * open file %s for writing (%s)." with the path and the reason.  Returns 1
 * on success, 0 on failure (errno kept). */
int WriteSetup(void);

/* WriteSetup, unless psMorvaneRC no longer holds the bytes of snMorvaneRC
 * when the new file is about to replace it: then nothing is written or
 * printed and it returns 0 with errno ESTALE. */
int WriteSetupUnlessChanged(void);

/* ---- Housekeeping ------------------------------------------------------ */

/* Gives every stored setting back its value at program load and frees every
 * stored text (all texts are null at load); forgets what snMorvaneRC and
 * lyMorvaneRC remember of psMorvaneRC. */
void ResetSettings(void);

#endif
