/* The byte format of morvrc, the file that the editor and the script
 * inside XChat share: the reader that turns an image into settings and the
 * writer that turns the settings into one, over the field table of
 * settings/store/fields.  Pure: it works on bytes in memory and never
 * touches a file.
 *
 * Which call to make:
 *   DecodeFile(&snap, 0, &report, &layout)
 *       a file's bytes into the store at the width they read at, with what
 *       was found and how to write the file back: what the programs do with
 *       a morvrc they have read (settings/morvrc/reading and morvrc wrap it);
 *   SnapshotIsWhole(&snap)
 *       only whether bytes are a whole morvrc; the store is left alone;
 *   FindTimeBytes(&snap)
 *       the width DecodeFile reads at when it is given none;
 *   ScanSetup(p, n, iTimeBytes, &info)
 *       how far bytes read at a given width, the store left alone (to say
 *       where and why a file is damaged, or which widths fit it);
 *   DecodeSetup(p, n, iTimeBytes, &info)
 *       bytes into the store at a width already known: DecodeFile's own step;
 *   EncodeSetupImage(&layout, &p, &n)
 *       the store as the bytes of a file laid out as it was read.
 * None of them empties the store first (ResetStore) or installs the
 * built-in text defaults afterwards (InstallTextDefaults): fields that the
 * bytes do not reach keep their values.  A failure is in the result:
 * MorvReadResult for a walk, MorvOutcome for a file, 0 and errno for the
 * writer; nothing is left allocated on any failure. */
#ifndef MORV_SETTINGS_MORVRC_FORMAT_H
#define MORV_SETTINGS_MORVRC_FORMAT_H

#include "settings/disk/snapshot.h"
#include "settings/store/fields.h"

#include <stddef.h>

/* ---- Reading ----------------------------------------------------------- */

/* Returns the signed little-endian value of the iBytes (4 or 8) bytes at p. */
long long LittleEndianAt(unsigned char const *p, int iBytes);

enum MorvReadResult {
    MORV_READ_OK,          /* every field that the version holds was read */
    MORV_READ_TOO_OLD,     /* version below iMinimunSetupVersion; nothing else read */
    MORV_READ_TRUNCATED,   /* the data ends inside a field */
    MORV_READ_BAD_LENGTH,  /* a negative length for text [1] of a pair */
    MORV_READ_NO_MEMORY,   /* a text could not be allocated; it is left absent */
    MORV_READ_TIME_RANGE   /* a 64-bit time value does not fit this build's time_t */
};

struct MorvReadInfo {
    enum MorvReadResult eResult;
    int iVersion;             /* the version word, 0 when it could not be read */
    int iField;               /* field number where reading stopped; 0 when it did not */
    int iElement;             /* at the stop: the text of a pair (0 or 1), or -1 */
    long long llOffset;       /* offset of the length word or value at fault */
    long long llConsumed;     /* bytes taken by the fields that were read */
    long long llSize;         /* bytes available */
};

/* Reads one configuration image whose time fields are iTimeBytes (4 or 8)
 * wide into the settings store, with the version rules of the format: a
 * version below iMinimunSetupVersion reads nothing more; fields that an older
 * file lacks keep their values, except the three texts with an older-file
 * default.  Reading stops at the first damage (see MorvReadResult); every
 * field from there on keeps its value, and no setting is given bytes that
 * were not in the data.  Installs none of the final text defaults.
 * Returns the result, also stored in *pInfo when pInfo is not null. */
enum MorvReadResult DecodeSetup(unsigned char const *pData, size_t uSize, int iTimeBytes,
                                struct MorvReadInfo *pInfo);

/* Walks one configuration image exactly as DecodeSetup does, with the same
 * results, field numbers and offsets, but stores nothing: the settings store
 * is left alone, and a time value of any size is accepted whatever this
 * build's time_t, so the result describes the image alone.  A whole image
 * of version iSetupVersion or older gives MORV_READ_OK with llConsumed equal
 * to llSize.  Never returns MORV_READ_NO_MEMORY or MORV_READ_TIME_RANGE.
 * Returns the result, also stored in *pInfo when pInfo is not null. */
enum MorvReadResult ScanSetup(unsigned char const *pData, size_t uSize, int iTimeBytes,
                              struct MorvReadInfo *pInfo);

/* Whether a walk that ended as *pInfo took the whole image: every field of
 * its version, and nothing after the last one unless the version is newer
 * than iSetupVersion, whose extra fields follow. */
int ImageIsWhole(struct MorvReadInfo const *pInfo);

/* ---- How a file is read and written back ------------------------------ */

/* How an image is written besides the settings: the width of its time
 * fields, its version word, and for a file newer than this program the
 * bytes after the last field this program knows, written back unchanged. */
struct MorvLayout {
    int iTimeBytes;          /* 4 or 8; 0: this build's */
    int iVersion;            /* 0: iSetupVersion */
    unsigned char *pTail;    /* malloc'd, or null */
    size_t uTail;
};

/* Frees the layout's tail and empties it. */
void FreeLayout(struct MorvLayout *pLayout);

/* What one reading of a morvrc found. */
enum MorvOutcome {
    MORV_WHOLE,        /* every field of its version was read */
    MORV_UNREADABLE,   /* missing, not a regular file, or not readable */
    MORV_TOO_OLD,      /* empty, or a version word below iMinimunSetupVersion */
    MORV_DAMAGED       /* reading stopped at llDamageAt; the rest kept its values */
};

struct MorvLoadReport {
    enum MorvOutcome eOutcome;
    int iErrno;                /* why an unreadable file was */
    int iTimeBytes;            /* the width it was read at */
    int bOtherWidth;           /* 1: not this build's width */
    int iVersion;
    long long llDamageAt;      /* where the damaged field begins (a text: its length word) */
    char acDamaged[64];        /* that setting's name, as SettingName gives it */
    int bTimeRange;            /* damaged only in that a time value exceeds this build's time_t */
    long long llTimeValue;     /* that value */
    long long llExtraAt;       /* a whole file of this version or older: where bytes that no */
    long long llExtra;         /* field holds begin, and how many; 0 when there are none */
    struct MorvReadInfo info;  /* the walk, for a closer description */
};

/* The width an image reads at: this build's when it reads whole at it
 * (ImageIsWhole), the other when only that one does; when it reads whole
 * at neither, the width at which reading gets further (this build's on a
 * tie).  A file longer than MORV_MAX_FILE reads whole at neither. */
int FindTimeBytes(struct MorvSnapshot const *pSnap);

/* Reads the snapshot into the settings store at iTimeBytes, or at the width
 * FindTimeBytes finds when it is 0, and says what it found in *pReport.
 * *pLayout (emptied first) gets how to write the file back: the width read
 * at and, for a whole newer file, its version and the bytes after the last
 * field known here.  Installs none of the final text defaults.
 * Returns the outcome; memory that runs out for the tail gives MORV_DAMAGED. */
enum MorvOutcome DecodeFile(struct MorvSnapshot const *pSnap, int iTimeBytes,
                            struct MorvLoadReport *pReport, struct MorvLayout *pLayout);

/* ---- Writing ----------------------------------------------------------- */

/* Builds the image of the whole settings store as *pLayout says (null: this
 * build's width and version, no tail) into a malloc'd block (*ppData,
 * *puSize).  Returns 1 on success; 0, with errno set and nothing allocated,
 * when memory runs out (ENOMEM), a time value does not fit 4 bytes
 * (EOVERFLOW) or the image would be longer than MORV_MAX_FILE (EFBIG). */
int EncodeSetupImage(struct MorvLayout const *pLayout, unsigned char **ppData, size_t *puSize);

/* Whether a walk that ended as *pInfo read field iField (an index into
 * aMorvFields): its version holds the field and reading did not stop
 * before it. */
int FieldRead(int iField, struct MorvReadInfo const *pInfo);

/* Returns 1 when every time value of the store fits time fields
 * iTimeBytes wide; 0, with *piField the index in aMorvFields of the first
 * that does not, for 4-byte fields. */
int TimesFitWidth(int iTimeBytes, int *piField);

/* Of a whole reading *pr of a file: bytes after the last field of a
 * version this program knows, which are read past and not written back,
 * noted in pr->llExtraAt and pr->llExtra.  Returns 1 when there are such
 * bytes; 0, *pr unchanged, when there are none or the version is newer
 * (its fields after the known ones are then kept). */
int NoteBytesPastFields(struct MorvLoadReport *pr);

/* Returns 1 when the snapshot reads whole at the width it is found to
 * have (FindTimeBytes, ImageIsWhole) and is no longer than MORV_MAX_FILE;
 * 0 otherwise, an absent one included. */
int SnapshotIsWhole(struct MorvSnapshot const *pSnap);

#endif
