/* The one way a morvrc is changed, by the editor's save and by every verb
 * of morvrc_tool that writes.  The calling sequence:
 *
 *   struct MorvUpdate up;
 *   if (!BeginUpdate(&up, psPath, iWaitMillis, "morvrc_tool set"))
 *       ...   the lock was not taken: errno EWOULDBLOCK when another program
 *             held it all of iWaitMillis, or the lock file's own error;
 *             nothing is held.  Otherwise up.snFound is the file as it is
 *             now (absent, with its errno, when it cannot be read).
 *   CompareForUpdate(&up, &seen)   if need be: is it as the caller last saw?
 *   ...   change the settings store; nothing on disk has changed yet.
 *   CommitUpdate(&up, &layout)     keeps what BeginUpdate found in the
 *                                  file's history, then writes the store
 *                                  over it (CommitSetup: the editor's save);
 *                                  0 with errno when nothing was written:
 *                                  ESTALE for a file changed meanwhile,
 *                                  EOVERFLOW or EFBIG for a store that does
 *                                  not fit, or the error of the path that
 *                                  up.report names
 *   or AbandonUpdate(&up)          nothing is written.
 *
 * Commit and abandon both let go of the lock and of the bytes read, and end
 * the update.  No question may wait for the user under the lock: abandon,
 * ask and begin again, or PauseUpdate, ask and ResumeUpdate to write only
 * over what was read before the question. */
#ifndef MORV_SETTINGS_MORVRC_UPDATE_H
#define MORV_SETTINGS_MORVRC_UPDATE_H

#include "settings/morvrc_format.h"
#include "settings/morvrc_lock.h"
#include "settings/morvrc_replace.h"

#include <stdio.h>

struct MorvUpdate {
    char const *psPath;
    int fdLock;                       /* -1: no lock (a directory that takes no new file) */
    struct MorvSnapshot snFound;      /* the file as BeginUpdate found it */
    struct MorvReplaceReport report;  /* after a commit: in place and why, or who refused */
    char const *psSaver;              /* who saves, for the history: "morvrc_tool set",
                                         "morvane_setup save"; null keeps nothing */
};

/* Takes the lock of psPath, waiting at most iWaitMillis (MORV_LOCK_WAIT_MS
 * by default), and reads the file (a regular file only) into pu->snFound;
 * psSaver names the program and verb that save, as the history tells them.
 * Returns 1; 0 with errno set and nothing held. */
int BeginUpdate(struct MorvUpdate *pu, char const *psPath, int iWaitMillis, char const *psSaver);

/* Reads the file again, every 100 ms for at most iMillis, while it is
 * there but does not read whole: another program may be writing it, and a
 * verb that writes should not take that for damage.  Returns 1 when
 * pu->snFound is whole or no file, 0 when it stayed not whole. */
int AwaitWholeFile(struct MorvUpdate *pu, int iMillis);

/* Lets go of the lock but keeps pu->snFound.  Cannot fail. */
void PauseUpdate(struct MorvUpdate *pu);

/* Takes the lock again after PauseUpdate.  Returns 1; 0 with errno set, the
 * update then still to abandon. */
int ResumeUpdate(struct MorvUpdate *pu, int iWaitMillis);

/* What the file is beside the bytes a caller last read or saved. */
enum MorvSeen {
    MORV_AS_SEEN,           /* the same bytes, or still missing */
    MORV_CHANGED,           /* changed, appeared or went away since */
    MORV_STILL_UNREADABLE   /* there but unreadable, as it was then */
};
enum MorvSeen CompareForUpdate(struct MorvUpdate const *pu, struct MorvSnapshot const *pSeen);

/* Writes the store laid out as *pLayout over the file BeginUpdate found,
 * unless it holds exactly that image already (its inode and time then
 * stay).  Before the write begins, the bytes found are kept in the file's
 * history (KeepVersion), synced; a version that cannot be kept is a note on
 * standard output and the save goes on.  Returns 1; 0 with errno set, the
 * file untouched. */
int CommitUpdate(struct MorvUpdate *pu, struct MorvLayout const *pLayout);

/* The editor's and the script's save of psMorvaneRC (the update's file):
 * the store laid out as lyMorvaneRC, only over the bytes of snMorvaneRC
 * when bCheck is 1, after keeping what was found as CommitUpdate does; the
 * bytes written are kept in snMorvaneRC and how in
 * rpMorvaneRC.  Tells a file rewritten in place on standard output, and any
 * failure but a refused check (ESTALE) as "\nUnable to open file %s for
 * writing (%s)." with the path that refused.  Returns 1; 0 with errno set. */
int CommitSetup(struct MorvUpdate *pu, int bCheck);

/* CommitSetup only over the bytes of *pExpected (null: unconditionally),
 * as the editor's "Overwrite" writes over exactly what its question
 * showed.  Returns as CommitSetup does; ESTALE when the file no longer
 * holds those bytes. */
int CommitSetupOver(struct MorvUpdate *pu, struct MorvSnapshot const *pExpected);

void AbandonUpdate(struct MorvUpdate *pu);

/* Prints on pf, for a file that a save wrote over in place rather than
 * replaced, "The PATH configuration file was rewritten in place: WHY." */
void TellInPlace(FILE *pf, char const *psPath, struct MorvReplaceReport const *pReport);

#endif
