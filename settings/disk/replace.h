/* Replacing a morvrc so that it stays whole and stays the user's: the new
 * bytes go to a temporary file beside it that takes the old file's owner,
 * mode and extended attributes and is renamed over it; where that cannot
 * keep the file as it was set up, the bytes are written over it in place. */
#ifndef MORV_SETTINGS_DISK_REPLACE_H
#define MORV_SETTINGS_DISK_REPLACE_H

#include "settings/disk/snapshot.h"

#include <limits.h>
#include <stddef.h>

/* What a failed replacement left in the file (MorvReplaceReport.iLeft). */
#define MORV_LEFT_OLD 0    /* the old bytes: never touched, or put back and synced */
#define MORV_LEFT_NEW 1    /* the new bytes, synced, though a later step failed */
#define MORV_LEFT_MIXED 2  /* written part way: the new bytes, the old, or a mix */

/* How a replacement went: the way it was done, or who refused it. */
struct MorvReplaceReport {
    int bInPlace;                /* 1: written over the old file, not renamed */
    char acInPlaceWhy[96];       /* why: "it has 2 links", "its directory takes no new file" */
    char acRefusedBy[PATH_MAX];  /* on failure: the path that refused, the file or its directory */
    int iLeft;                   /* on failure: MORV_LEFT_OLD, _NEW or _MIXED */
};

struct MorvWalk;

/* Replaces the file the walk found with the uSize bytes at pData, every
 * step with the walk's identity and by name in the walk's directory: they
 * go to a temporary file "NAME.tmp-XXXXXX" made there, which is synced,
 * given the old file's owner, group, mode and extended attributes, and
 * renamed over the old file (renameat: a link put at the name since the
 * walk is replaced, never followed).  Where the new file cannot be given
 * them (the owner cannot be set, an attribute cannot be copied, the file
 * has more than one link, its directory takes no new file, or it is a
 * mount point that a rename cannot replace), the bytes are written over
 * the old file through a descriptor opened without following a link,
 * which is truncated to their length and synced (pReport->bInPlace, with
 * the reason); should that write fail, even half way (EFBIG under a
 * file-size limit), the old bytes are put back.  An existing file that may
 * not be written, or that is not a regular file (a device, a FIFO: EINVAL;
 * a directory: EISDIR), is left alone, and so is a file at the name other
 * than the one the walk found or LockWalked locked (ESTALE).  With
 * pExpected, the file is compared with it right before the rename or the
 * rewrite, and a file changed since (WalkedFileMatches) is left alone.
 * pReport may be null.
 * Returns 1 on success; 0 on failure, with errno set by the failing step
 * (ENOENT where the file's directory is missing, EFBIG for more than
 * MORV_MAX_FILE bytes, ESTALE for a file changed or replaced since),
 * pReport->acRefusedBy naming the file or directory that refused,
 * pReport->iLeft what the file now holds, and no temporary file left
 * behind. */
int ReplaceWalked(struct MorvWalk const *pWalk, unsigned char const *pData, size_t uSize,
                  struct MorvSnapshot const *pExpected, struct MorvReplaceReport *pReport);

/* What a failed replacement left in the file, as the end of a sentence
 * about it: "is unchanged", "may hold the new settings", ... */
char const *LeftInFile(struct MorvReplaceReport const *pReport);

/* Removes the temporary files that saves of the file psName in the
 * directory open on fdDir, killed part way, left beside it.  Only a program
 * that holds the file's lock may call it: another saver's file is never in
 * the middle of being written then.  Returns the number removed. */
int RemoveLeftoverTemporaries(int fdDir, char const *psName);

#endif
