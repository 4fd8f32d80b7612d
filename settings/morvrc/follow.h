/* Following a morvrc as other programs rewrite it: a kernel watch on its
 * directory and on that of the file its links lead to (every save replaces
 * the file, so the file itself cannot be watched), and what a look after a
 * quiet period finds.  No FLTK and no timers: the editor and morvrc_tool
 * each wait in their own loop. */
#ifndef MORV_SETTINGS_MORVRC_FOLLOW_H
#define MORV_SETTINGS_MORVRC_FOLLOW_H

#include "settings/disk/snapshot.h"

#include <limits.h>

/* A change is looked at once the file has been quiet this long; a file
 * that is not whole is looked at again after every quiet period, and only
 * reported once it has stayed so this long. */
#define FOLLOW_QUIET_MS 300
#define FOLLOW_NOT_WHOLE_MS 2000

/* Where a watch looks: a directory, and the name in it whose events
 * count.  While the directory meant does not exist, the nearest one above
 * it that does is watched for the name of the next one down. */
struct MorvWatchPlace {
    int iWatch;              /* the kernel's watch, -1 when none */
    int bAbove;              /* 1: a directory above the one meant */
    char acDir[PATH_MAX];    /* empty when the place is not used */
    char acName[NAME_MAX + 1];
};

/* A watch on one file, through its links: the directory of the path as
 * given (a link there may be pointed elsewhere) and the directory of the
 * file the links lead to; and the directory above each, for that
 * directory's own name, since a file held open in a directory keeps its
 * watch from hearing that the directory was removed. */
#define WATCH_PLACES 4
struct MorvWatch {
    int fd;                  /* the inotify descriptor, -1 when none */
    char acPath[PATH_MAX];
    struct MorvWatchPlace aPlaces[WATCH_PLACES];
};

/* Starts watching psPath for its file being written, replaced, created or
 * removed, the link it may be pointed elsewhere, and its directories
 * coming and going.  Returns 1; 0 with errno set and pw->fd -1 when the
 * kernel offers no watch or no directory on the way can be watched. */
int StartDirectoryWatch(char const *psPath, struct MorvWatch *pw);

/* Ends the watch; it may be ended twice. */
void EndDirectoryWatch(struct MorvWatch *pw);

/* Takes every event waiting on the watch without blocking, and moves the
 * watch when a link, the file's directory or one above it changed.
 * Returns 1 when one of them may concern the file (an overflow of the
 * queue and a moved watch count), 0 when none does. */
int TakeWatchEvents(struct MorvWatch *pw);

/* What a look at the file after a quiet period found. */
enum FollowFinding {
    FOLLOW_SAME,        /* the bytes last known, or no file as before */
    FOLLOW_RETRY,       /* not whole yet: look again after the next quiet period */
    FOLLOW_CHANGED,     /* new bytes, whole at the width they read at */
    FOLLOW_NOT_WHOLE,   /* new bytes that stayed not whole for FOLLOW_NOT_WHOLE_MS */
    FOLLOW_REMOVED      /* gone, or no longer readable */
};

/* How long a file has been seen not whole. */
struct MorvFollow {
    long long llNotWholeSince;   /* milliseconds of the monotonic clock; 0 when whole */
};

/* Looks at psPath against pKnown, the bytes this program last read or
 * wrote, and pReacted, the bytes it last reacted to (null when none).  On
 * FOLLOW_CHANGED and FOLLOW_NOT_WHOLE *pNew gets the new bytes (freed by
 * the caller); on the others it is left empty.  A file that cannot be
 * read for want of memory counts as not whole yet.  Returns the finding. */
enum FollowFinding LookAtFile(struct MorvFollow *pf, char const *psPath,
                              struct MorvSnapshot const *pKnown, struct MorvSnapshot const *pReacted,
                              struct MorvSnapshot *pNew);

#endif
