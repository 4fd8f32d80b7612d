/* Earlier versions of a morvrc: before a save replaces the file's bytes,
 * those bytes are kept in a folder of the file's own under its user's state
 * directory, so that any save can be undone.  The folder belongs to the
 * file a walk found (settings/disk/walk), never to a path named again.
 * Knows nothing of the format.
 *
 * Calling sequence, for a save (under the lock of the walk's file):
 *     KeepVersion(&walk, old bytes, "morvrc_tool set", why)   before the save
 *     ... the save replaces the file ...
 * and to look back:
 *     ListVersions(&walk, &list)  ->  ReadVersion(&list, &list.pVersions[n - 1], &snap)
 *     FreeVersionList(&list)
 * A version that cannot be kept is no reason to refuse the save: the caller
 * says why (psWhy) and goes on. */
#ifndef MORV_SETTINGS_DISK_HISTORY_H
#define MORV_SETTINGS_DISK_HISTORY_H

#include "settings/disk/snapshot.h"

#include <stddef.h>
#include <sys/types.h>

struct MorvWalk;

/* The newest versions of one file kept, at most this many and this many
 * bytes in all: the save that adds a version removes the oldest beyond. */
#define MORV_HISTORY_MAX_VERSIONS 50
#define MORV_HISTORY_MAX_BYTES (2 * 1024 * 1024)

/* One kept version, as its file name says:
 * "0000000042,20261207T230455.123456789Z,morvrc_tool,set". */
struct MorvVersion {
    char acFile[128];        /* its name in the history folder */
    long long llNumber;      /* its place: each version kept is numbered one more than the
                                newest before it; 0 for one named by the time alone */
    long long llSeconds;     /* when it was replaced, UTC seconds since 1970, as the clock
                                said then: shown, never used for the order */
    long lNanos;
    char acSaver[64];        /* who saved over it: "morvrc_tool set", "morvane_setup save" */
    long long llSize;
};

/* The versions of one file, newest first: number N is pVersions[N - 1]. */
struct MorvVersionList {
    char *psFolder;                  /* malloc'd, where they are, for messages; null when
                                        there is no place for a history */
    int fdFolder;                    /* the folder, with psFolder; -1 while there is none */
    int bTake;                       /* the identity it is read with (MorvWalk's) */
    uid_t uid;
    gid_t gid;
    struct MorvVersion *pVersions;   /* malloc'd, or null */
    int iCount;
};

/* Keeps the uSize bytes at pData, the walk's file as it is before psSaver
 * saves over it, with the walk's identity: written to a new file of the
 * file's history folder, synced, then named by its number, the time and
 * psSaver; then the oldest versions beyond the bounds are removed.  Bytes
 * equal to the newest version already kept add nothing.  The folder lies
 * under the state directory of the walk's user: $XDG_STATE_HOME when every
 * component of it belongs to that user (or root) and no one else may write
 * it, else ~/.local/state of that user's home ($HOME for the process's own
 * user, when it is its own too), then morvane/history/ and the file's
 * resolved path, '/' written as '!' and '!', '%' and '+' as %21, %25 and
 * %2B, in folders of at most 200 characters ("+" ends a folder that goes
 * on and begins the next); every folder is made mode 0700, and opened
 * through descriptors without following links.
 * Returns 1 when the bytes are kept (or already were), psWhy (uWhy bytes)
 * then saying why $XDG_STATE_HOME was not used, or empty; 0 with errno set
 * and, in psWhy, the path that refused and why. */
int KeepVersion(struct MorvWalk const *pWalk, unsigned char const *pData, size_t uSize,
                char const *psSaver, char *psWhy, size_t uWhy);

/* Lists the versions kept of the walk's file into *pList, newest first,
 * with the walk's identity.  A file with no history gives an empty list.
 * Returns 1; 0 with errno set when the folder cannot be read or memory
 * runs out, pList->psFolder naming it when it is known.  FreeVersionList
 * lets go of the list either way. */
int ListVersions(struct MorvWalk const *pWalk, struct MorvVersionList *pList);

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
