/* The settings as a JSON document: dump --json's writer beside the reader
 * that load --json applies to the settings store. */
#ifndef MORV_SETTINGS_MORVRC_JSON_H
#define MORV_SETTINGS_MORVRC_JSON_H

#include "settings/morvrc/format.h"

#include <stddef.h>

/* The store as dump --json prints it for a file read as *pInfo says: one
 * object with the file's version, the count of bytes after its last field,
 * the settings read (FieldRead) by name, and psError (a JSON text, or null
 * for none) as "error".  Returns a malloc'd text ending in a line feed, or
 * null when memory runs out. */
char *FormatJsonDump(struct MorvReadInfo const *pInfo, char const *psError);

/* Applies to the settings store the members of the "settings" object of
 * the JSON document pText (uSize bytes), as dump --json writes it: each
 * member names an item as get does; a number sets an integer or a time
 * value (time values for iTimeBytes-wide fields), a string or a
 * {"bytes": "..."} object sets a text, null makes it absent.  Other members
 * of the document are read and left alone; a byte-order mark before it is
 * skipped.  At the end, every text pair
 * that a member set must be storable.  With abTouched (MORV_MAX_ITEMS
 * entries), the entry of every item set becomes 1.
 * Returns 1 when the whole document was applied; 0 with the reason in
 * psWhy (uWhy bytes), with the byte offset where the document is bad, and
 * the store holding part of the changes (the caller writes nothing). */
int ApplyJsonSettings(char const *pText, size_t uSize, int iTimeBytes, char *psWhy, size_t uWhy,
                      unsigned char *abTouched);

#endif
