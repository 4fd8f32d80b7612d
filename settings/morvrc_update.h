/* The one way a morvrc is changed, by the editor's save and by every verb
 * of morvrc_tool that writes: under the file's lock, the file as it is now
 * is read (or compared with what the caller last saw), the caller changes
 * the settings store, and the store is written back.
 *
 * The calling sequence:
 *
 *   struct MorvUpdate up;
 *   if (!BeginUpdate(&up, psPath, iWaitMillis))
 *       ...    the lock was not taken: errno EWOULDBLOCK when another
 *              program held it all of iWaitMillis, otherwise the lock
 *              file's own error; nothing is held and nothing to undo.
 *              Otherwise up.snFound holds the file as it is now (absent
 *              with its errno when it cannot be read; a missing file is
 *              one a commit expects still to be missing).
 *   CompareForUpdate(&up, &seen)  if need be: whether it is as the caller
 *                                 last saw it
 *   ...    change the store; nothing on disk has changed yet.
 *   CommitUpdate(&up, &layout)    writes the store over what BeginUpdate
 *                                 found (CommitSetup: psMorvaneRC over what
 *                                 the editor last saw); 0 with errno when
 *                                 nothing was written: ESTALE for a file
 *                                 changed meanwhile, EOVERFLOW or EFBIG for
 *                                 a store that does not fit the file, or
 *                                 the error of the path up.report names
 *   or AbandonUpdate(&up)         nothing is written.
 *
 * Commit and abandon both let go of the lock and the bytes read; either
 * ends every update that began, and the struct may then be begun again.
 * No question may wait for the user while the lock is held: abandon, ask
 * and begin again, or PauseUpdate, ask and ResumeUpdate to write over what
 * was read before the question. */
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
    int bUnchanged;                   /* after a commit: the file already held the image */
};

/* Takes the lock of psPath, waiting at most iWaitMillis (MORV_LOCK_WAIT_MS
 * by default) for another program's save, and reads the file as it is now
 * (a regular file only) into pu->snFound; a file that cannot be read leaves
 * it absent, with the reason in pu->snFound.iErrno (ENOENT: missing).
 * Returns 1; 0 with errno set and nothing held. */
int BeginUpdate(struct MorvUpdate *pu, char const *psPath, int iWaitMillis);

/* What a comparison with the bytes a caller last saw finds. */
enum MorvSeen {
    MORV_AS_SEEN,           /* the same bytes, or still missing */
    MORV_CHANGED,           /* changed, appeared or went away since */
    MORV_STILL_UNREADABLE   /* there but unreadable, as it was then */
};

/* Lets go of the lock but keeps pu->snFound.  Cannot fail. */
void PauseUpdate(struct MorvUpdate *pu);

/* Takes the lock again after PauseUpdate, as BeginUpdate takes it, and
 * keeps what was read before: a commit then writes only over a file that
 * still holds it.  Returns 1; 0 with errno set, the update still to end. */
int ResumeUpdate(struct MorvUpdate *pu, int iWaitMillis);

/* Compares the file with *pSeen, the bytes last read or saved. */
enum MorvSeen CompareForUpdate(struct MorvUpdate const *pu, struct MorvSnapshot const *pSeen);

/* Writes the store laid out as *pLayout over the file BeginUpdate found,
 * unless the file holds exactly that image already (pu->bUnchanged: its
 * inode and time stay).  Ends the update.  Returns 1; 0 with errno set, the
 * file untouched. */
int CommitUpdate(struct MorvUpdate *pu, struct MorvLayout const *pLayout);

/* Saves the store to the update's file, psMorvaneRC, as lyMorvaneRC lays it
 * out, only over the bytes of snMorvaneRC when bCheck is 1, and remembers
 * the bytes written in snMorvaneRC and how in rpMorvaneRC.  A file rewritten in place is told on
 * standard output (TellInPlace); any failure but a refused check (ESTALE)
 * prints "\nUnable to open file %s for writing (%s)." with the path that
 * refused.  Ends the update.  Returns 1; 0 with errno set. */
int CommitSetup(struct MorvUpdate *pu, int bCheck);

/* Lets go of the lock and the bytes read; nothing is written. */
void AbandonUpdate(struct MorvUpdate *pu);

/* Prints on pf, for a file that a save wrote over in place rather than
 * replaced, "The PATH configuration file was rewritten in place: WHY." */
void TellInPlace(FILE *pf, char const *psPath, struct MorvReplaceReport const *pReport);

#endif
