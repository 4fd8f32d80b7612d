/* morvrc_tool's reading and writing of files, in its own words and exit
 * statuses: a morvrc read whole into the settings store (or the store
 * started afresh where there is none), a kept version of it, or an input
 * text, and the store written back by the one update of a morvrc. */
#ifndef MORV_CLI_FILES_H
#define MORV_CLI_FILES_H

#include "settings/disk/history.h"
#include "settings/morvrc/update.h"

#include <stddef.h>

/* Reads all of psInput ("-": standard input), opened without waiting for
 * a FIFO's writer, at most eight times the longest morvrc, into a malloc'd
 * block (*ppText, *puText).  Returns TS_OK;
 * after a complaint TS_IO (not readable, no memory) or TS_USAGE (longer). */
int ReadInputText(char const *psInput, char **ppText, size_t *puText);

/* Whether psArg names a kept version, "@N" with N a number from 1. */
int IsVersionName(char const *psArg);

/* Lists the versions kept of psFile into *pList (ListVersions), the file
 * pWalk found (an update's), or psFile walked once for it when pWalk is
 * null.  Returns TS_OK, the list then to be freed (FreeVersionList), or
 * TS_IO after a complaint, with nothing held. */
int ListOrComplain(char const *psFile, struct MorvWalk const *pWalk, struct MorvVersionList *pList);

/* Why a walk or a reading with errno iErr failed, in words: the walk's
 * refusal (an unsafe transition, a link not followed) when it said one,
 * else as ReadErrorText says. */
char const *WalkErrorText(int iErr);

/* Reads version iNumber, as history numbers them, of the file psFile into
 * *pSnap, from the history of the file that *pWalk found (null: a walk of
 * psFile made here), and names it for messages in psLabel (uLabel bytes):
 * "version 2 of PATH".  Returns TS_OK; after a complaint TS_USAGE for a
 * version not kept, TS_IO for a history that cannot be read; nothing is
 * then held. */
int ReadVersionOf(int iNumber, char const *psFile, struct MorvWalk const *pWalk,
                  struct MorvSnapshot *pSnap, char *psLabel, size_t uLabel);

/* Reads FILE into *pSnap: at most MORV_MAX_FILE bytes are kept, the rest
 * only counted.  Only a regular file is read, opened without waiting: a
 * FIFO or a device is refused as "not a regular file"; with bRegularOnly
 * 0, "-" is standard input (which is read one byte past the limit, no
 * more).  Returns TS_OK, or TS_IO after a complaint (the home's morvrc
 * missing: and the note of a fresh home, NoteFreshHome), with nothing
 * allocated. */
int LoadInput(char const *psPath, int bRegularOnly, struct MorvSnapshot *pSnap);

/* Writes into psOut (uOut bytes) that psPath, held by *pSnap, is a text
 * or a JSON document of settings rather than a morvrc (TextFormOf), and
 * the load that applies it.  Returns 1; 0, psOut untouched, for any other
 * file. */
int SayTextForm(char const *psPath, struct MorvSnapshot const *pSnap, char *psOut, size_t uOut);

/* Reads *pSnap, named psPath in messages, into the store as ReadIntoStore
 * does.  Returns TS_OK for a whole file (one with bytes after its last
 * setting is taken, with a note); otherwise TS_DAMAGED (TS_REFUSED for a
 * time value this build cannot hold, TS_IO when memory runs out) with the
 * reason in psWhy (uWhy bytes), for a text of settings what it is
 * (SayTextForm).  The note and a damaged morvrc's reason end with the last
 * whole version kept in the history of the file psHistoryOf, when there is
 * one (null: *pSnap is itself a version, and no way back is named). */
int LoadStore(char const *psPath, char const *psHistoryOf, struct MorvSnapshot const *pSnap,
              int iTimeBytes, struct MorvLoadReport *pr, struct MorvLayout *pLayout, char *psWhy,
              size_t uWhy);

/* Loads FILE into the store for a verb that needs it whole, at iTimeBytes
 * or, when it is 0, at the width found for it ("-" is read as LoadInput
 * reads it).  Returns TS_OK, or the status to end with after a
 * complaint; *pLayout is released by the caller either way (FreeLayout). */
int LoadWhole(char const *psPath, int iTimeBytes, struct MorvLoadReport *pr,
              struct MorvLayout *pLayout);

/* The verb that saves, for the history's "morvrc_tool VERB"; null: "save". */
extern char const *psSavingVerb;

/* Begins the update of psPath (BeginUpdate) as "morvrc_tool VERB" (see
 * psSavingVerb), waiting iWaitMillis (-1: the default, 5 seconds) for
 * another program's save.  Returns TS_OK, or after a complaint TS_CHANGED
 * when another program held the lock all that time, TS_IO when the file
 * or its directory cannot be opened for the lock, TS_DAMAGED for a file
 * that is a text of settings (SayTextForm) unless bForce; nothing is then
 * held. */
int BeginSaving(char const *psPath, int iWaitMillis, int bForce, struct MorvUpdate *pu);

/* BeginSaving of an update paused (PauseUpdate) since it began. */
int ResumeSaving(struct MorvUpdate *pu, int iWaitMillis);

/* Loads the file that *pSnap holds, psPath, as LoadWhole does, except that
 * a FILE that does not exist is not an error: the store then holds what the
 * editor starts from without a morvrc (StartStore at iTimeBytes) and *pbNew
 * is 1.  With psDamage, a FILE that is damaged, empty or too old is no error
 * either: the store holds the same start values, *pLayout the width the
 * file was read at (a file too old to have one: iTimeBytes or this
 * build's), *pbNew is 2 and psDamage (uDamage bytes) says what is wrong with
 * it.  *pbNew is 0 for a file read whole.  Returns as LoadWhole does. */
int LoadOrStart(char const *psPath, struct MorvSnapshot const *pSnap, int iTimeBytes,
                struct MorvLoadReport *pr, struct MorvLayout *pLayout, int *pbNew,
                char *psDamage, size_t uDamage);

/* Complains that psPath, damaged as psDamage says (LoadOrStart), is not
 * written by a change of some settings only, and names the two ways to
 * write it afresh, unless *pSnap, its bytes, is a text of settings, which
 * nothing should write over.  Returns TS_DAMAGED. */
int RefuseDamaged(char const *psPath, char const *psDamage, struct MorvSnapshot const *pSnap);

/* Notes on standard error that psPath, damaged as psDamage says, is written
 * afresh: from every setting given (bAll 1, a whole load) or from the
 * defaults (bAll 0, reset --all). */
void NoteRepair(char const *psPath, char const *psDamage, int bAll);

/* Tells on standard error what writing a version-38 file does to an input
 * of an older version, or, when bKeepsTail is 0, of a newer one. */
void NoteVersionChange(char const *psPath, struct MorvLoadReport const *pr, int bKeepsTail);

/* Commits the update *pu with the store laid out as *pLayout (CommitUpdate).
 * A file rewritten in place, not replaced, is told on standard error with
 * the reason.  Returns TS_OK, or after a complaint TS_IO (naming the file
 * or directory that refused), TS_REFUSED for a value that does not fit,
 * TS_CHANGED for a file changed since it was read. */
int SaveUpdate(struct MorvUpdate *pu, struct MorvLayout const *pLayout);

/* Ends a verb that began the update *pu and changed the store: when iStatus
 * is TS_OK, saves it (SaveUpdate; first a note on the version for a file
 * that was there, bNew 0), otherwise abandons it; then lets go of *pLayout.
 * Returns the status to end with. */
int FinishSave(int iStatus, struct MorvUpdate *pu, int bNew, struct MorvLoadReport const *pr,
               struct MorvLayout *pLayout);

#endif
