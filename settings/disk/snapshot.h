/* A morvrc on disk: reading at most MORV_MAX_FILE bytes of a file without
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
struct MorvWalk;

/* Opens psPath for reading, walked once (WalkPath) and read with the
 * walk's identity: only a regular file is opened, and without waiting, so
 * a FIFO or a device is never opened at all.  A directory gives EISDIR,
 * anything else refused EINVAL.  *pst gets the file's status.  Returns the
 * descriptor, or -1 with errno set. */
int OpenForReading(char const *psPath, struct stat *pst);

/* Reads the file open on fd, from where it stands, into *pSnap: at most
 * MORV_MAX_FILE bytes are kept; a pipe or a device is read no further
 * than one byte past them.  fd stays open.  Returns 1; 0 with errno set,
 * also in pSnap->iErrno, and pSnap->bPresent 0 when a read fails part way
 * (the file may be whole, only not readable now) or the buffer cannot be
 * allocated. */
int SnapshotDescriptor(int fd, struct MorvSnapshot *pSnap);

/* Reads psPath into *pSnap.  Only a regular file is read, walked once and
 * opened without blocking (OpenForReading): a FIFO, a device or a
 * directory counts as unreadable; with bRegularOnly 0, "-" is standard
 * input, which may be a pipe.  Returns 1; 0 with errno set, also in
 * pSnap->iErrno, and pSnap->bPresent 0 when the file cannot be opened, a
 * read fails part way (EIO: the file may be whole, only not readable now)
 * or its buffer cannot be allocated. */
int SnapshotFile(char const *psPath, int bRegularOnly, struct MorvSnapshot *pSnap);

/* SnapshotFile of what is at the walk's name now (OpenWalkedFile). */
int SnapshotWalked(struct MorvWalk const *pWalk, struct MorvSnapshot *pSnap);

/* Returns 1 when the file open on fd holds the bytes of *pSnap from where
 * it stands to its end; beyond the first MORV_MAX_FILE bytes only the size is compared.
 * 0 when it differs or cannot be read to the end now. */
int DescriptorMatches(int fd, struct MorvSnapshot const *pSnap);

/* Returns 1 when what is at the walk's name now (a regular file, read
 * without blocking) holds the bytes of *pSnap, or is still missing, or
 * still unreadable for the same reason, as it was when pSnap was taken.
 * 0 when it appeared (even as something that cannot be read, such as a
 * FIFO), disappeared, changed, or cannot be read to the end now. */
int WalkedFileMatches(struct MorvWalk const *pWalk, struct MorvSnapshot const *pSnap);

/* Whether a file that could not be read, with errno iErr, is as *pSnap saw
 * it: still missing, or still unreadable for the same reason (an iErrno of
 * 0 is a missing file's).  A file that appeared where there was none, even
 * one that cannot be read, is a change. */
int StillAbsentAs(struct MorvSnapshot const *pSnap, int iErr);


/* Returns 1 when two snapshots hold the same bytes and size, or are both
 * of no file; 0 otherwise. */
int SnapshotsEqual(struct MorvSnapshot const *pa, struct MorvSnapshot const *pb);

/* Frees the snapshot's bytes and empties it. */
void FreeSnapshot(struct MorvSnapshot *pSnap);

#endif
