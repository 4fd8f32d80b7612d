/* A morvrc on disk: reading at most MORV_MAX_FILE bytes of a path without
 * ever waiting on a FIFO or a device, and snapshots of what was read to
 * tell a change made since.  Knows nothing of the bytes' meaning. */
#ifndef MORV_SETTINGS_DISK_SNAPSHOT_H
#define MORV_SETTINGS_DISK_SNAPSHOT_H

#include <stddef.h>
#include <sys/types.h>

/* No more of a morvrc than this is ever held in memory: a longer file is
 * damaged from this byte on, and no longer image is written. */
#define MORV_MAX_FILE 1048576

/* The bytes of a morvrc as this program last read or wrote them, so that a
 * change that another program made since can be told. */
struct MorvSnapshot {
    int bPresent;            /* 0: there was no file that could be read */
    unsigned char *pBytes;   /* malloc'd, the first MORV_MAX_FILE bytes at most, or null */
    size_t uBytes;
    long long llSize;        /* the whole size; beyond pBytes only the size is known */
    int iErrno;              /* why there was none: ENOENT for a missing file, EIO
                                for a read that failed, EINVAL for no regular file */
    int bPartial;            /* a pipe or device read no further than MORV_MAX_FILE + 1 bytes */
};

struct stat;

/* Opens psPath for reading.  With bRegularOnly only a regular file is
 * opened, and without waiting: a FIFO or a device is never opened at all.
 * A directory gives EISDIR, anything else refused EINVAL.  *pst gets the
 * file's status.  Returns the descriptor, or -1 with errno set. */
int OpenForReading(char const *psPath, int bRegularOnly, struct stat *pst);

/* Reads psPath into *pSnap.  With bRegularOnly, anything but a regular file
 * (a FIFO, a device, a directory) counts as unreadable, and the open never
 * blocks; without it, "-" is standard input, and a pipe or a device is read
 * no further than one byte past MORV_MAX_FILE.  Returns 1; 0 with errno set,
 * also in pSnap->iErrno, and pSnap->bPresent 0 when the file cannot be
 * opened, a read fails part way (EIO: the file may be whole, only not
 * readable now) or its buffer cannot be allocated. */
int SnapshotFile(char const *psPath, int bRegularOnly, struct MorvSnapshot *pSnap);

/* Returns 1 when psPath (a regular file, read without blocking) holds the
 * bytes of *pSnap, or is still missing, or still unreadable for the same
 * reason, as it was when pSnap was taken; beyond the first MORV_MAX_FILE
 * bytes only the size is compared.  0 when it appeared (even as something
 * that cannot be read, such as a FIFO), disappeared, changed, or cannot be
 * read to the end now. */
int SnapshotMatches(char const *psPath, struct MorvSnapshot const *pSnap);

/* Returns 1 when two snapshots hold the same bytes and size, or are both
 * of no file; 0 otherwise. */
int SnapshotsEqual(struct MorvSnapshot const *pa, struct MorvSnapshot const *pb);

/* Frees the snapshot's bytes and empties it. */
void FreeSnapshot(struct MorvSnapshot *pSnap);

#endif
