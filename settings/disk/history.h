/* Earlier versions of a morvrc: before a save replaces the file's bytes,
 * those bytes are kept in a folder of the file's own under the user's state
 * directory, so that any save can be undone.  Knows nothing of the format.
 *
 * Calling sequence, for a save:
 *     KeepVersion(path, old bytes, "morvrc_tool set", why)   before the save
 *     ... the save replaces the file ...
 * and to look back:
 *     ListVersions(path, &list)  ->  ReadVersion(&list.pVersions[n - 1], &snap)
 *     FreeVersionList(&list)
 * A version that cannot be kept is no reason to refuse the save: the caller
 * says why (psWhy) and goes on. */
#ifndef MORV_SETTINGS_DISK_HISTORY_H
#define MORV_SETTINGS_DISK_HISTORY_H

#include "settings/disk/snapshot.h"

#include <stddef.h>

/* The newest versions of one file kept, at most this many and this many
 * bytes in all: the save that adds a version removes the oldest beyond. */
#define MORV_HISTORY_MAX_VERSIONS 50
#define MORV_HISTORY_MAX_BYTES (2 * 1024 * 1024)

/* One kept version, as its file name says. */
struct MorvVersion {
    char acFile[128];        /* its name in the history folder */
    long long llSeconds;     /* when it was replaced, UTC seconds since 1970 */
    long lNanos;
    char acSaver[64];        /* who saved over it: "morvrc_tool set", "morvane_setup save" */
    long long llSize;
};

/* The versions of one file, newest first: number N is pVersions[N - 1]. */
struct MorvVersionList {
    char *psFolder;                  /* malloc'd; null when there is no history */
    struct MorvVersion *pVersions;   /* malloc'd, or null */
    int iCount;
};

/* Writes into psOut (uOut bytes) the history folder of the file psPath:
 * $XDG_STATE_HOME/morvane/history/ (~/.local/state/... when it is unset or
 * not absolute), or the same under the home of the file's owner when root
 * works on another user's file, then the file's full path (links followed)
 * with '/' written as '!' ('!' as "!!"); a path too long for one name keeps
 * its end and a hash of the whole.  *puid (may be null) gets the user whose
 * rights every step of the history takes.
 * Returns 1; 0 with errno set (ENOENT when there is no home, ENAMETOOLONG). */
int HistoryFolder(char const *psPath, char *psOut, size_t uOut, unsigned *puid);

/* Keeps the uSize bytes at pData, the file psPath as it is before psSaver
 * saves over it: written to a file of its own in the history folder (made
 * mode 0700, with its parents), synced, then named by the time and psSaver;
 * then the oldest versions beyond the bounds are removed.  Bytes equal to
 * the newest version already kept add nothing.  When root works on another
 * user's file every step is done with that user's rights.
 * Returns 1 when the bytes are kept (or already were); 0 with errno set
 * and, in psWhy (uWhy bytes), the path that refused and why. */
int KeepVersion(char const *psPath, unsigned char const *pData, size_t uSize,
                char const *psSaver, char *psWhy, size_t uWhy);

/* Lists the versions kept of psPath into *pList, newest first.  A file with
 * no history gives an empty list.  Returns 1; 0 with errno set when the
 * folder cannot be read or memory runs out (nothing allocated). */
int ListVersions(char const *psPath, struct MorvVersionList *pList);

/* Reads version pVersion of pList into *pSnap as SnapshotFile reads a
 * file.  Returns 1; 0 with errno set. */
int ReadVersion(struct MorvVersionList const *pList, struct MorvVersion const *pVersion,
                struct MorvSnapshot *pSnap);

/* Frees what ListVersions allocated and empties the list. */
void FreeVersionList(struct MorvVersionList *pList);

/* Writes into psOut (uOut bytes) when *pv was replaced, in local time:
 * "2026-12-07 23:04:55". */
void FormatVersionTime(struct MorvVersion const *pv, char *psOut, size_t uOut);

#endif
