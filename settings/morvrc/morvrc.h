/* morvrc as the programs and the script use it: the file named by
 * psMorvaneRC read into the settings store, with the built-in text
 * defaults, and the store saved back over it in the form it was read in.
 * ReadSetup and WriteSetup are the script's own entry points. */
#ifndef MORV_SETTINGS_MORVRC_MORVRC_H
#define MORV_SETTINGS_MORVRC_MORVRC_H

#include "settings/disk/snapshot.h"
#include "settings/morvrc/format.h"
#include "settings/disk/replace.h"

/* Opaque type of the host IRC client; the reader never looks at it. */
struct session;

/* Reads the file psPath (at most MORV_MAX_FILE bytes of it, a regular file
 * only) as DecodeSetup does.  Returns MORV_READ_NOFILE, with errno set, when
 * it cannot be read (a null path included); a read error part way through
 * counts as the end of the data. */
enum MorvReadResult ReadSetupFile(char const *psPath, int iTimeBytes,
                                  struct MorvReadInfo *pInfo);

/* psMorvaneRC as the last ReadSetup or save saw it: its bytes, compared
 * before the next save, and how it is written back. */
extern struct MorvSnapshot snMorvaneRC;
extern struct MorvLayout lyMorvaneRC;

/* How the last save of psMorvaneRC went: rewritten in place and why, or
 * which path refused it. */
extern struct MorvReplaceReport rpMorvaneRC;

/* Loads psMorvaneRC into the settings store at the width it is found to
 * have, remembers it in snMorvaneRC and lyMorvaneRC (a file that is missing,
 * unreadable, empty or too old leaves lyMorvaneRC as the last reading that
 * found one set it, so the next save keeps that form), then installs the
 * built-in text defaults: "/ECHO ", "ALSA" and "/MSG NickServ Identify"
 * when the file could not be read at all, and in every case "italiano",
 * "_AWAY" and an empty pipe command where those texts are still absent.
 * Prints nothing.  Returns the outcome, described in *pReport when it is
 * not null. */
enum MorvOutcome ReadSetupReport(struct MorvLoadReport *pReport);

/* ReadSetupReport of bytes already read from psMorvaneRC, so that what is
 * loaded is exactly what was looked at: *pSnap is taken over as
 * snMorvaneRC and left empty. */
enum MorvOutcome ReadSetupSnapshot(struct MorvSnapshot *pSnap, struct MorvLoadReport *pReport);

/* Reads psPath ("-": standard input) into the emptied store as
 * ReadSetupReport reads psMorvaneRC, at iTimeBytes or the width found when
 * it is 0, and remembers nothing of it.  Returns the outcome, described in
 * *pReport. */
enum MorvOutcome ReadSetupPath(char const *psPath, int iTimeBytes, struct MorvLoadReport *pReport);

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

/* Replaces the file psPath with the image of the settings store laid out as
 * *pLayout says (EncodeSetupImage), the way ReplaceFile replaces a file,
 * only over the bytes of *pExpected when it is given.  With pWritten, it
 * gets the bytes written; with pReport, how the file was replaced or who
 * refused.
 * Returns 1 on success; 0 on failure, with errno set by the failing step
 * (ENOENT for a null or empty path, ESTALE for a file changed since
 * pExpected), the old file untouched and no temporary file left behind. */
int ReplaceSetupFile(char const *psPath, struct MorvLayout const *pLayout,
                     struct MorvSnapshot const *pExpected, struct MorvSnapshot *pWritten,
                     struct MorvReplaceReport *pReport);

/* ReplaceSetupFile with a version-iSetupVersion image of iTimeBytes-wide
 * time fields, unconditionally. */
int WriteSetupFile(char const *psPath, int iTimeBytes);

/* The script's save of psMorvaneRC, without the lock: CommitSetup, which
 * prints what it tells, unconditionally (WriteSetup) or only over the bytes
 * of snMorvaneRC (WriteSetupUnlessChanged, which prints nothing when they
 * changed).  Return 1 on success, 0 on failure (errno kept, ESTALE). */
int WriteSetup(void);
int WriteSetupUnlessChanged(void);

/* ---- Housekeeping ------------------------------------------------------ */

/* Gives every stored setting back its value at program load and frees every
 * stored text (all texts are null at load); forgets what snMorvaneRC and
 * lyMorvaneRC remember of psMorvaneRC. */
void ResetSettings(void);

#endif
