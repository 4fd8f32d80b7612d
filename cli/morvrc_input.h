/* morvrc_tool's reading and writing of one morvrc: the file read whole into
 * the settings store (or the store started afresh where there is none), the
 * damage described, and the store written back the way the editor saves. */
#ifndef MORV_CLI_MORVRC_INPUT_H
#define MORV_CLI_MORVRC_INPUT_H

#include "settings/morvrc.h"

#include <stddef.h>

/* A morvrc as read from disk. */
struct Input {
    char const *psPath;
    struct MorvSnapshot snap;   /* the first MORV_MAX_FILE bytes and the whole size */
    unsigned char *pData;       /* snap.pBytes: never null once read */
    size_t uSize;               /* snap.uBytes */
};

/* Reads FILE into *pin: at most MORV_MAX_FILE bytes are kept, the rest only
 * counted (a pipe or device is read one byte further, no more).  With
 * bRegularOnly only a regular file is read; otherwise "-" is standard input
 * and a FIFO is read too.  Returns TS_OK, or TS_IO after a complaint, with
 * nothing allocated. */
int LoadInput(char const *psPath, int bRegularOnly, struct Input *pin);

/* Releases what an Input holds; it may be released twice. */
void FreeInput(struct Input *pin);

/* The signed little-endian value of iBytes (4 or 8) bytes at uAt of pin;
 * the caller has checked that they are there. */
long long ValueAt(struct Input const *pin, size_t uAt, int iBytes);

/* Says, into psOut (uOut bytes), why reading pin at iTimeBytes stopped
 * where *pi says, or what follows the last field when it did not stop:
 * "field 21 (psFlagChanJoinBeep) at byte 92: text length 100 runs 5 bytes
 * past the end of the file".  Returns 1 when there is something to say, 0
 * for a whole file with nothing after its last field. */
int DescribeRead(struct Input const *pin, struct MorvReadInfo const *pi, int iTimeBytes, char *psOut,
                 size_t uOut);

/* Empties the settings store and reads pin into it at iTimeBytes, or at the
 * width found for it when iTimeBytes is 0, so that the store holds exactly
 * what the file holds; *pr tells what was found and *pLayout (empty or
 * zeroed before) how to write the file back.  Returns TS_OK for a whole
 * file (ImageIsWhole); otherwise TS_DAMAGED (TS_REFUSED for a time value
 * this build cannot hold, TS_IO when memory runs out) with the reason in
 * psWhy (uWhy bytes). */
int LoadStore(struct Input const *pin, int iTimeBytes, struct MorvLoadReport *pr,
              struct MorvLayout *pLayout, char *psWhy, size_t uWhy);

/* Loads FILE into the store for a verb that needs it whole, at iTimeBytes
 * or, when it is 0, at the width found for it ("-" and a FIFO are read as
 * LoadInput reads them; a whole file with bytes after its last setting is
 * taken, with a note).  Returns TS_OK, or the status to end with after a
 * complaint; *pin holds the file either way and is released by the caller
 * (FreeInput), *pLayout likewise (FreeLayout). */
int LoadWhole(char const *psPath, int iTimeBytes, struct Input *pin, struct MorvLoadReport *pr,
              struct MorvLayout *pLayout);

/* LoadWhole of a file to be written back: a regular file only. */
int LoadWritable(char const *psPath, int iTimeBytes, struct Input *pin, struct MorvLoadReport *pr,
                 struct MorvLayout *pLayout);

/* LoadWritable, except that a FILE that does not exist is not an error: the
 * store then holds what the editor starts from without a morvrc (the
 * initial values and the built-in text defaults), *pin an absent snapshot,
 * and *pLayout a version-38 file of iTimeBytes or this build's width; *pbNew
 * is 1.  With psDamage, a FILE that is damaged, empty or too old is no error
 * either: the store holds the same start values, *pLayout the width the
 * file was read at (a file too old to have one: iTimeBytes or this
 * build's), *pin the file's snapshot, *pbNew is 2 and psDamage (uDamage
 * bytes) says what is wrong with it.  *pbNew is 0 for a file read whole.
 * Returns as LoadWhole does. */
int LoadOrStart(char const *psPath, int iTimeBytes, struct Input *pin, struct MorvLoadReport *pr,
                struct MorvLayout *pLayout, int *pbNew, char *psDamage, size_t uDamage);

/* Complains that psPath, damaged as psDamage says (LoadOrStart), is not
 * written by a change of some settings only, and names the two ways to
 * write it afresh.  Returns TS_DAMAGED. */
int RefuseDamaged(char const *psPath, char const *psDamage);

/* Notes on standard error that psPath, damaged as psDamage says, is written
 * afresh: from every setting given (bAll 1, a whole load) or from the
 * defaults (bAll 0, reset --all). */
void NoteRepair(char const *psPath, char const *psDamage, int bAll);

/* Tells on standard error what writing a version-38 file does to an input
 * of an older version, or, when bKeepsTail is 0, of a newer one. */
void NoteVersionChange(char const *psPath, struct MorvLoadReport const *pr, int bKeepsTail);

/* Takes the lock that every save of psPath holds from its reading of the
 * file to its rename, waiting iWaitMillis (-1: the default, 5 seconds) for
 * another program's save.  *pfdLock is for UnlockFile.  Returns TS_OK, or
 * after a complaint TS_CHANGED when another program held it all that time,
 * TS_IO when the lock file cannot be opened. */
int LockForSaving(char const *psPath, int iWaitMillis, int *pfdLock);

/* Ends a verb that read psPath under the lock fdLock and changed the
 * store: when iStatus is TS_OK, writes the store back over the bytes that
 * were read (SaveStore; first a note on the version for a file that was
 * there, bNew 0); then lets go of the lock, *pin and *pLayout.  Returns the
 * status to end with. */
int FinishSave(int iStatus, char const *psPath, int bNew, struct MorvLoadReport const *pr,
               struct Input *pin, struct MorvLayout *pLayout, int fdLock);

/* Writes the store to psPath laid out as *pLayout, the way the editor
 * saves; with pExpected, only over a file that still holds those bytes (or
 * is still missing, as it was).  A store whose image is exactly the bytes
 * of pExpected is not written at all.  A file rewritten in place, not
 * replaced, is told on standard error with the reason.  Returns TS_OK, or
 * after a complaint TS_IO (naming the file or directory that refused),
 * TS_REFUSED for a value that does not fit, TS_CHANGED for a file changed
 * since it was read. */
int SaveStore(char const *psPath, struct MorvLayout const *pLayout,
              struct MorvSnapshot const *pExpected);

#endif
