/* morvrc as the programs and the script use it: the file psMorvaneRC read
 * into the settings store with the built-in text defaults, and the store
 * saved back over it in the form it was read in, with what was last seen of
 * it remembered (snMorvaneRC, lyMorvaneRC).  ReadSetup and WriteSetup are
 * the script's own entry points.
 *
 * The editor's calling sequence:
 *   ReadSetupReport(&report)       at start-up and on "Load from Disk": the
 *                                  report says what was wrong; the store
 *                                  holds values to show whatever it says
 *   SetVariables()                 the catalogue bound to the new texts
 *   ...                            the user changes the store
 *   BeginUpdate(&up, psMorvaneRC, MORV_LOCK_WAIT_MS, "morvane_setup save")
 *   CompareForUpdate(&up, &snMorvaneRC)     changed by another program?
 *   CommitSetup(&up, 1)            written only over what was last seen,
 *                                  which then becomes what was written
 * ReadSetupSnapshot loads bytes already read (the watch's) instead; any
 * other file is read with settings/morvrc/reading.  A reading's failure is in its outcome and report,
 * a save's in its result and errno (settings/morvrc/update.h says which). */
#ifndef MORV_SETTINGS_MORVRC_MORVRC_H
#define MORV_SETTINGS_MORVRC_MORVRC_H

#include "settings/disk/replace.h"
#include "settings/disk/snapshot.h"
#include "settings/morvrc/format.h"
#include "settings/morvrc/update.h"

/* Opaque type of the host IRC client; the reader never looks at it. */
struct session;

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

/* ReadSetupReport for the script, which has no use for the report. */
void ReadSetup(struct session *pSession);

/* ---- Writing ----------------------------------------------------------- */

/* The editor's and the script's save of psMorvaneRC (the file the update's
 * walk found): the store laid out as lyMorvaneRC, only over the bytes of
 * snMorvaneRC when bCheck is 1, after keeping what was found as
 * CommitUpdate does; the bytes written are kept in snMorvaneRC and how in
 * rpMorvaneRC.  Tells a file rewritten in place on standard output, and any
 * failure but a refused check (ESTALE) as "\nUnable to open file %s for
 * writing (%s)." with the path that refused.  Returns 1; 0 with errno set. */
int CommitSetup(struct MorvUpdate *pu, int bCheck);

/* CommitSetup only over the bytes of *pExpected (null: unconditionally),
 * as the editor's "Overwrite" writes over exactly what its question
 * showed.  Returns as CommitSetup does; ESTALE when the file no longer
 * holds those bytes, or is no longer the file the update's walk found. */
int CommitSetupOver(struct MorvUpdate *pu, struct MorvSnapshot const *pExpected);

/* The script's save of psMorvaneRC, walked once but without the lock
 * (WalkForUpdate): CommitSetup, which prints what it tells (a walk that is
 * refused too), unconditionally (WriteSetup) or only over the bytes of
 * snMorvaneRC (WriteSetupUnlessChanged, which prints nothing when they
 * changed).  Return 1 on success, 0 on failure (errno kept, ESTALE). */
int WriteSetup(void);
int WriteSetupUnlessChanged(void);

/* ---- Housekeeping ------------------------------------------------------ */

/* Gives every stored setting back its value at program load and frees every
 * stored text (all texts are null at load); forgets what snMorvaneRC and
 * lyMorvaneRC remember of psMorvaneRC. */
void ResetSettings(void);

#endif
