/* The editor following morvrc while it is open: the script rewrites the
 * file when the user changes a setting by an IRC command, and the editor
 * shows the new values, or keeps the user's unsaved ones and says so. */
#ifndef MORV_EDITOR_WATCH_H
#define MORV_EDITOR_WATCH_H

#include <stddef.h>

struct MorvSnapshot;

/* What the editor does when the file changed and nothing it holds differs
 * from what it last read or wrote: shows the new bytes, which the watch has
 * found whole (taken over; the watch frees what is left).
 * Registered by the editor before StartWatching; null does nothing. */
extern void (*pfReadAgainUnasked)(struct MorvSnapshot *pNew);

/* What is said when the new bytes are shown, on standard output and in the
 * window: a format for psMorvaneRC. */
#define SHOWN_AGAIN \
    "The %s configuration file was changed by another program: its settings are shown again."

/* Starts watching psMorvaneRC, its directories and its links through the
 * toolkit's event loop; the window's title as it is now is the one that
 * gets the mark.
 * Returns 1; 0 when the kernel offers no watch (the editor then works as
 * it would without one). */
int StartWatching(void);

/* Adds the mark " [changed on disk]" to the window's title (bMark 1), or
 * takes it away (0) once the file has been saved or read again, which
 * also forgets the change last reported.  Does nothing while nothing is
 * watched. */
void MarkChangedOnDisk(int bMark);

/* Writes into psOut (uOut bytes) the settings whose values differ between
 * *pOnDisk, bytes of psMorvaneRC, and the editor's store, one "name: on
 * disk -> in the editor" line each, at most ten, each after a line feed;
 * the store is left as it was.  Returns the number of lines, 0 (psOut
 * empty) when the snapshot holds no file or memory runs out. */
int DescribeDiskChanges(struct MorvSnapshot const *pOnDisk, char *psOut, size_t uOut);

#endif
