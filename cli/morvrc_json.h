/* JSON for morvrc_tool: texts written as JSON strings (UTF-8 as its
 * characters, other bytes in a form that reads back byte for byte), and
 * dump --json's document read back into the settings store for load. */
#ifndef MORV_CLI_MORVRC_JSON_H
#define MORV_CLI_MORVRC_JSON_H

#include <stddef.h>

/* Whether the n bytes at p are valid UTF-8 (shortest forms, no surrogates,
 * nothing beyond U+10FFFF). */
int IsUtf8(char const *p, size_t n);

/* Writes a text as JSON.  A text that is valid UTF-8 becomes a string of
 * its characters, with \" \\ \b \f \n \r \t by name and the other control
 * characters (below 0x20, and 0x7f) as \u00XX.  Any other text becomes
 * {"bytes": "..."}, a string in which each character, U+0000 to U+00FF, is
 * one byte of the text.  A null text gives null.
 * Returns a malloc'd text, or null when memory runs out. */
char *JsonText(char const *ps);

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
