/* The settings as a JSON document, as morvrc_tool's dump --json writes it,
 * read back into the settings store (morvrc_items writes the values). */
#ifndef MORV_SETTINGS_MORVRC_JSON_H
#define MORV_SETTINGS_MORVRC_JSON_H

#include <stddef.h>

/* Applies to the settings store the members of the "settings" object of
 * the JSON document pText (uSize bytes), as dump --json writes it: each
 * member names an item as get does; a number sets an integer or a time
 * value (time values for iTimeBytes-wide fields), a string or a
 * {"bytes": "..."} object sets a text, null makes it absent.  Other members
 * of the document are read and left alone.  At the end, every text pair
 * that a member set must be storable.  With abTouched (MORV_MAX_ITEMS
 * entries), the entry of every item set becomes 1.
 * Returns 1 when the whole document was applied; 0 with the reason in
 * psWhy (uWhy bytes), with the byte offset where the document is bad, and
 * the store holding part of the changes (the caller writes nothing). */
int ApplyJsonSettings(char const *pText, size_t uSize, int iTimeBytes, char *psWhy, size_t uWhy,
                      unsigned char *abTouched);

#endif
