/* "name = value" lines: the form in which morvrc_tool's dump shows the
 * settings store and its load takes it back, one item per line.  No FLTK
 * and no files: the caller reads and writes them. */
#ifndef MORV_SETTINGS_MORVRC_LINES_H
#define MORV_SETTINGS_MORVRC_LINES_H

#include "settings/morvrc/format.h"
#include "settings/store/items.h"

#include <stddef.h>

/* The item's line as dump prints it, "iMaxCloneCount = 10", without a line
 * feed.  Returns a malloc'd text, or null when memory runs out. */
char *FormatSettingLine(struct MorvItem it);

/* The store as dump prints it for a file read as *pInfo says: the line
 * "# morvrc version N", then the line of every item read (FieldRead), each
 * ending in a line feed, and for a whole file (bWhole) with bytes after
 * its last field a line that says so.  Nothing in it depends on the width
 * or the size, so that dumps of one set of settings compare equal wherever
 * they were made.  Returns a malloc'd text (*puLen its length), or null
 * when memory runs out. */
char *FormatDump(struct MorvReadInfo const *pInfo, int bWhole, size_t *puLen);

/* Applies to the settings store the lines of pText (uSize bytes; it need
 * not end in a zero or a line feed).  Lines end at a line feed; blank
 * lines and lines whose first non-blank character is "#" are skipped.
 * A byte-order mark before the first line is skipped.
 * Every other line is NAME = VALUE, with NAME as get takes it and VALUE as
 * set takes it (SetItemValue, time values for iTimeBytes-wide fields);
 * blanks around the "=" and blanks and a carriage return at the end of the
 * line are not part of it.  A later line for the same item wins.  At the
 * end, every text pair that a line touched must be storable
 * (PairIsStorable).
 * Returns 1 when every line was applied; 0 at the first bad line, with its
 * number (from 1) in *piLine and the reason in psWhy (uWhy bytes): no "=",
 * an unknown name, a bad value, a zero byte in the line, a pair left with
 * one text (the last line that touched it), or no memory.  The store then
 * holds the changes of the lines before it; the caller writes nothing.
 * With abTouched (MORV_MAX_ITEMS entries), the entry of every item that a
 * line set (by ItemIndex) becomes 1. */
int ApplySettingLines(char const *pText, size_t uSize, int iTimeBytes, int *piLine, char *psWhy,
                      size_t uWhy, unsigned char *abTouched);

struct MorvValues;

/* The lines of the items whose values in the store differ from *pBefore,
 * after a comment that says so: the changes alone, so that loading them
 * changes nothing else.  Returns a malloc'd text (*puLen its length), or
 * null when memory runs out. */
char *FormatChangedLines(struct MorvValues const *pBefore, size_t *puLen);

/* The text forms of the settings that a file may hold instead of a morvrc. */
enum MorvTextForm {
    MTF_NONE,    /* neither: a morvrc, damaged or not, or anything else */
    MTF_LINES,   /* dump's "name = value" lines */
    MTF_JSON     /* dump --json's document */
};

/* What the uSize bytes at p hold: a text without a zero byte (a morvrc
 * always has some in its version word) whose first line that is neither
 * blank nor another comment is dump's "# morvrc version" line or a line
 * "NAME = ..." that names a setting, is MTF_LINES; one whose first
 * character but blanks and a byte-order mark is "{" is MTF_JSON. */
enum MorvTextForm TextFormOf(unsigned char const *p, size_t uSize);

#endif
