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

/* Replaces the file psPath with the uSize bytes at pData: they go to a
 * temporary file "NAME.tmp-XXXXXX" made in the file's directory (through a
 * descriptor of it, never through a link), which is synced, given the old
 * file's owner, group, mode and extended attributes, and renamed over the
 * old file.  When psPath is a symbolic link the file it points to is
 * replaced; on another user's path the work is done with that user's
 * rights (AssumeOwnerOf).  Where the new file cannot be given them (the
 * owner cannot be set, an attribute cannot be copied, the file has more
 * than one link, its directory takes no new file, or it is a mount point
 * that a rename cannot replace), the bytes are written over the old file,
 * which is truncated to their length and synced (pReport->bInPlace, with
 * the reason); should that write fail, the old bytes are put back.  An
 * existing file that may not be written, or that is not a regular file (a
 * device, a FIFO: EINVAL; a directory: EISDIR), is left alone.  With
 * pExpected, the file is compared with it right before the rename or the
 * rewrite, and a file changed since (SnapshotMatches) is left alone.
 * pReport may be null.
 * Returns 1 on success; 0 on failure, with errno set by the failing step
 * (ENOENT for a null or empty path, EFBIG for more than MORV_MAX_FILE bytes,
 * ESTALE for a file changed since pExpected), pReport->acRefusedBy naming
 * the file or directory that refused, pReport->iLeft what the file now
 * holds, and no temporary file left behind. */
int ReplaceFile(char const *psPath, unsigned char const *pData, size_t uSize,
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
