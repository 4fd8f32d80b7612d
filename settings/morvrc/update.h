/* The one way a morvrc is changed, by the editor's save and by every verb
 * of morvrc_tool that writes.  The path is walked once (settings/disk/
 * walk): the lock, the reading, the comparison, the version kept and the
 * write all work on what that walk found, with the identity it chose.
 * The calling sequence:
 *
 *   struct MorvUpdate up;
 *   if (!BeginUpdate(&up, psPath, iWaitMillis, "morvrc_tool set"))
 *       ...   the walk was refused (errno, and acWalkRefusal in words) or
 *             the lock was not taken: errno EWOULDBLOCK when another
 *             program held it all of iWaitMillis, ESTALE when a link was
 *             put at the name since the walk, or the file's own error;
 *             nothing is held.  Otherwise up.snFound is the locked file as
 *             it is now (absent, with its errno, when it cannot be read).
 *   CompareForUpdate(&up, &seen)   if need be: is it as the caller last saw?
 *   ...   change the settings store; nothing on disk has changed yet.
 *   CommitUpdate(&up, &layout)     keeps what BeginUpdate found in the
 *                                  file's history, then writes the store
 *                                  over it (CommitSetup of settings/morvrc/
 *                                  morvrc: the editor's save);
 *                                  0 with errno when nothing was written:
 *                                  ESTALE for a file changed or replaced
 *                                  meanwhile, EOVERFLOW or EFBIG for a store
 *                                  that does not fit, or the error of the
 *                                  path that up.report names
 *   or AbandonUpdate(&up)          nothing is written.
 *
 * Commit and abandon both let go of the walk, the lock and the bytes read,
 * and end the update.  No question may wait for the user under the lock:
 * abandon, ask and begin again, or PauseUpdate, ask and ResumeUpdate to
 * write only over what was read before the question, on the same walk.
 * The script's own saves, which have never taken the lock, begin with
 * WalkForUpdate instead. */
#ifndef MORV_SETTINGS_MORVRC_UPDATE_H
#define MORV_SETTINGS_MORVRC_UPDATE_H

#include "settings/disk/lock.h"
#include "settings/disk/replace.h"
#include "settings/disk/walk.h"
#include "settings/morvrc/format.h"

#include <stdio.h>

struct MorvUpdate {
    char const *psPath;
    struct MorvWalk walk;             /* the one walk of psPath */
    int fdLock;                       /* -1: no lock (no directory, or the script's save) */
    struct MorvSnapshot snFound;      /* the file as BeginUpdate found it */
    struct MorvReplaceReport report;  /* after a commit: in place and why, or who refused */
    char const *psSaver;              /* who saves, for the history: "morvrc_tool set",
                                         "morvane_setup save"; null keeps nothing */
};

/* Walks psPath (WalkPath), takes the lock of the file it found, waiting
 * at most iWaitMillis (MORV_LOCK_WAIT_MS by default), and reads the locked
 * file (a regular file only) into pu->snFound; psSaver names the program
 * and verb that save, as the history tells them.  Returns 1; 0 with errno
 * set and nothing held. */
int BeginUpdate(struct MorvUpdate *pu, char const *psPath, int iWaitMillis, char const *psSaver);

/* Begins the update of psPath without the lock and without reading it:
 * the walk alone, for the script's saves.  Returns 1; 0 with errno set and
 * nothing held. */
int WalkForUpdate(struct MorvUpdate *pu, char const *psPath, char const *psSaver);

/* Reads the file again, every 100 ms for at most iMillis, while it is
 * there but does not read whole: another program may be writing it, and a
 * verb that writes should not take that for damage.  Returns 1 when
 * pu->snFound is whole or no file, 0 when it stayed not whole. */
int AwaitWholeFile(struct MorvUpdate *pu, int iMillis);

/* Lets go of the lock but keeps pu->snFound.  Cannot fail. */
void PauseUpdate(struct MorvUpdate *pu);

/* Takes the lock again after PauseUpdate, on the file of the same walk.
 * Returns 1; 0 with errno set, the update then still to abandon. */
int ResumeUpdate(struct MorvUpdate *pu, int iWaitMillis);

/* What the locked file, as BeginUpdate read it, is beside the bytes a
 * caller last read or saved. */
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

/* The one commit behind CommitUpdate and the editor's save: encodes the
 * store laid out as *pLayout once; keeps the bytes found in the history
 * unless they are that image; writes it over the file (only over the bytes
 * of *pExpected when given, see ReplaceWalked) unless it is the file's
 * image already and bSameToo is 0; then ends the update.  With pWritten,
 * it gets the bytes written (the caller frees them); with pReport, how the
 * file was replaced or who refused.  Returns 1; 0 with errno set, the file
 * untouched. */
int CommitImage(struct MorvUpdate *pu, struct MorvLayout const *pLayout,
                struct MorvSnapshot const *pExpected, int bSameToo, struct MorvSnapshot *pWritten,
                struct MorvReplaceReport *pReport);

void AbandonUpdate(struct MorvUpdate *pu);

/* Walks psPath once (ENOENT for a null or empty path) and replaces its
 * file with the image of the settings store laid out as *pLayout says
 * (EncodeSetupImage), the way ReplaceWalked replaces a file, only over the
 * bytes of *pExpected when it is given; no lock is taken and no version
 * kept.  With pWritten, it gets the bytes written; with pReport, how the
 * file was replaced or who refused.  Returns 1 on success; 0 on failure,
 * with errno set by the failing step (ESTALE for a file changed or
 * replaced since), the old file untouched and no temporary file left
 * behind. */
int ReplaceSetupFile(char const *psPath, struct MorvLayout const *pLayout,
                     struct MorvSnapshot const *pExpected, struct MorvSnapshot *pWritten,
                     struct MorvReplaceReport *pReport);

/* Prints on pf, for a file that a save wrote over in place rather than
 * replaced, "The PATH configuration file was rewritten in place: WHY." */
void TellInPlace(FILE *pf, char const *psPath, struct MorvReplaceReport const *pReport);

#endif
