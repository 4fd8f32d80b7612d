/* A morvrc read into the settings store as the programs read it, and what
 * the reading found said in words: the sentences that the editor's alerts,
 * morvrc_tool's notes and complaints and the watch's states are made of. */
#ifndef MORV_SETTINGS_MORVRC_READING_H
#define MORV_SETTINGS_MORVRC_READING_H

#include "settings/morvrc/format.h"

#include <stddef.h>

/* What reading a snapshot into the store found, beside its report. */
enum MorvFinding {
    MORV_FOUND_WHOLE,       /* every field of its version, nothing after the last */
    MORV_FOUND_EXTRA,       /* whole, with pr->llExtra bytes after its last setting */
    MORV_FOUND_TOO_LONG,    /* longer than MORV_MAX_FILE */
    MORV_FOUND_TOO_OLD,     /* empty, or older than iMinimunSetupVersion */
    MORV_FOUND_TIME_RANGE,  /* a time value that this build's time_t cannot hold */
    MORV_FOUND_NO_MEMORY,   /* a text could not be allocated */
    MORV_FOUND_DAMAGED      /* stopped part way at the width read */
};

/* Empties the store and reads *pSnap (present) into it at iTimeBytes, or at
 * the width found when it is 0, so that the store holds exactly what the
 * file holds; *pr tells what was found, *pLayout (empty or zeroed before)
 * how to write the file back.  For a file too old or damaged, psDetail
 * (uDetail bytes) says where and why (DescribeRead; of the other width's
 * walk where a time value too large for this build hides the damage).
 * Returns the finding. */
enum MorvFinding ReadIntoStore(struct MorvSnapshot const *pSnap, int iTimeBytes,
                               struct MorvLoadReport *pr, struct MorvLayout *pLayout,
                               char *psDetail, size_t uDetail);

/* Empties the store and gives it what the editor starts from without a
 * morvrc; *pr is a reading that found no file and *pLayout (empty or zeroed
 * before) a version-iSetupVersion file, at iTimeBytes or this build's width
 * when it is 0. */
void StartStore(int iTimeBytes, struct MorvLoadReport *pr, struct MorvLayout *pLayout);

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

#endif
