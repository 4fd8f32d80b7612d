/* A morvrc read into the settings store as the programs read it, or beside
 * it, and what the reading found said in words: the sentences that the
 * editor's alerts, morvrc_tool's notes and complaints, its check and the
 * watch's states are made of, and for a damaged file the way back to its
 * last whole version. */
#ifndef MORV_SETTINGS_MORVRC_READING_H
#define MORV_SETTINGS_MORVRC_READING_H

#include "settings/morvrc/format.h"
#include "settings/store/values.h"

#include <stddef.h>

/* Empties the store and reads *pSnap (present) into it at iTimeBytes, or at
 * the width found when it is 0, so that the store holds exactly what the
 * file holds; *pr tells what was found (pr->llExtra the bytes after a whole
 * file's last setting; pr->bTimeRange only when a time value too large for
 * this build is all that is wrong), *pLayout (empty or zeroed before) how
 * to write the file back.  For a file too old or damaged, psDetail (uDetail
 * bytes) says where and why (DescribeRead; of the walk that goes on past a
 * time value too large for this build, when that hides the damage).
 * Returns the outcome. */
enum MorvOutcome ReadIntoStore(struct MorvSnapshot const *pSnap, int iTimeBytes,
                               struct MorvLoadReport *pr, struct MorvLayout *pLayout,
                               char *psDetail, size_t uDetail);

/* Empties the store and gives it what the editor starts from without a
 * morvrc; *pr is a reading that found no file and *pLayout (empty or zeroed
 * before) a version-iSetupVersion file, at iTimeBytes or this build's width
 * when it is 0. */
void StartStore(int iTimeBytes, struct MorvLoadReport *pr, struct MorvLayout *pLayout);

/* Empties the store and gives it what reset --all writes to a new file:
 * the start values (StartStore, *pr as it gives it), then the catalogue's
 * default of each of its rows 1 to iRows that is bound to a setting.
 * Returns 1; 0 when memory runs out. */
int StartDefaults(int iRows, int iTimeBytes, struct MorvLoadReport *pr);

/* Says, into psOut (uOut bytes), why walking *pSnap at iTimeBytes stopped
 * where *pi says, or what follows the last field when it did not stop:
 * "field 21 (psFlagChanJoinBeep) at byte 92: text length 100 runs 5 bytes
 * past the end of the file".  Returns 1 when there is something to say, 0
 * for a whole file with nothing after its last field. */
int DescribeRead(struct MorvSnapshot const *pSnap, struct MorvReadInfo const *pi, int iTimeBytes,
                 char *psOut, size_t uOut);

/* Returns why a file that is there could not be read with errno iErr, in
 * words: "not a regular file" for SnapshotFile's EINVAL. */
char const *ReadErrorText(int iErr);

/* Writes into psOut (uOut bytes) what the reading *pr of a file of llSize
 * bytes found.  Given psPath, a sentence for a file read with something
 * wrong: "PATH was not read: it is empty or older than version 14", "PATH
 * is damaged at byte 92 (psFlagChanJoinBeep[1]): the settings from there on
 * were not read", the like of a time value this 32-bit program cannot hold,
 * "PATH has 3 bytes after its last setting, from byte 309: they were not
 * read and will not be saved"; it returns 0, psOut empty, for a whole file
 * or one not read.  With a null psPath, the file's state in brief, always:
 * "missing or unreadable (REASON)" (pr->iErrno), "version 38, 64-bit time
 * fields, 312 bytes", "empty or older than version 14", "damaged at byte 92
 * (NAME) at 64-bit time fields", "3 bytes after its last setting". */
int DescribeReading(struct MorvLoadReport const *pr, long long llSize, char const *psPath,
                    char *psOut, size_t uOut);

/* Writes into psDetail (uDetail bytes) the state of a file as
 * DescribeReading tells it in brief, *pr the reading of *pSnap (null, or an
 * absent snapshot: a file not read, for want of iErrno).  Returns the
 * state's word: "whole", "missing", "too_old" or "damaged". */
char const *DescribeFileState(struct MorvSnapshot const *pSnap, struct MorvLoadReport const *pr,
                              int iErrno, char *psDetail, size_t uDetail);

/* Takes into *pv the values that reading *pSnap would give (DecodeFile at
 * the width found), with bDefaults the built-in text defaults installed
 * after it as the editor's reading installs them, without disturbing the
 * settings store: its values, texts included, are exactly as they were
 * afterwards.  *pReport, when not null, gets what the reading found.
 * Returns 1; 0 when memory runs out, with *pv emptied and the store as it
 * was. */
int TakeFileValues(struct MorvSnapshot const *pSnap, int bDefaults, struct MorvValues *pv,
                   struct MorvLoadReport *pReport);

/* Finds the newest version of psPath in its history that reads whole and
 * writes into psOut (uOut bytes) where it is and how to get it back: "the
 * last whole version kept is 2, from 2026-12-07 23:04:55 (morvrc_tool
 * set): morvrc_tool restore 2 PATH", PATH quoted for the shell when it
 * needs it.  Returns 1; 0, psOut empty, when the history holds no whole
 * version or cannot be read. */
int PointToLastWholeVersion(char const *psPath, char *psOut, size_t uOut);

/* What a file is at both widths, as morvrc_tool check tells it. */
struct MorvWidths {
    int abParses[2];          /* at 32 and 64 bits: whole, and no longer than MORV_MAX_FILE */
    char aacSays[2][400];     /* why, "yes, every field in bounds ..." or "no, ..." */
    char const *psVerdict;    /* "32-bit", "64-bit", "both" or "neither" */
    int iBits;                /* the width the other verbs read it at (FindTimeBytes) */
    char acNote[512];         /* for a file read with bytes after its last setting, what
                                 a reading says of them (DescribeReading); else empty */
};

/* Looks at *pSnap, the file psPath, at both widths into *pw.  Cannot fail. */
void CheckWidths(struct MorvSnapshot const *pSnap, char const *psPath, struct MorvWidths *pw);

/* What check prints of *pSnap, looked at as *pw: the lines "version: N",
 * "size: N bytes", what each width says, the verdict and the width read
 * at, or with bJson one JSON object of the same.  Returns a malloc'd text
 * ending in a line feed, or null when memory runs out. */
char *FormatWidths(struct MorvSnapshot const *pSnap, struct MorvWidths const *pw, int bJson);

struct MorvVersion;

/* Version iNumber of a history, *pv, as history lists it: the number, when
 * it was replaced, its width ("damaged" or "too old" for one that does not
 * read whole, bWhole 0), its version, iDiffer settings that differ from the
 * next newer one (-1: not known, "-") and who saved over it, in columns;
 * or with bJson one JSON object of the same, the time in UTC.  *pr is the
 * reading of its bytes.  Returns a malloc'd text without a line feed, or
 * null when memory runs out. */
char *FormatVersionRow(int iNumber, struct MorvVersion const *pv, struct MorvLoadReport const *pr,
                       int bWhole, int iDiffer, int bJson);

struct MorvVersionList;

/* The versions of *pList, a file's history, as history lists them
 * (FormatVersionRow), newest first, each compared with the next newer one
 * and the newest with *pNow, the file as it is now (read on the walk its
 * history was found from): lines, or with bJson the JSON objects joined by
 * ",\n    ".  Returns a malloc'd text (empty without versions), or null
 * when memory runs out. */
char *FormatHistory(struct MorvVersionList const *pList, struct MorvSnapshot const *pNow, int bJson);

#endif
