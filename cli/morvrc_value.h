/* Names and values of the stored settings as morvrc_tool takes them from
 * its users: an item found by name, a value parsed, checked against the
 * editor's ranges and stored, a quoted text read back (the items and their
 * printed form: settings/morvrc_items). */
#ifndef MORV_CLI_MORVRC_VALUE_H
#define MORV_CLI_MORVRC_VALUE_H

#include "settings/morvrc_items.h"

#include <stddef.h>

/* Finds the item psName names: a single setting by its name, a text of a
 * pair as "NAME[0]" or "NAME[1]", an element of iFlagParserMode as
 * "iFlagParserMode[k]" (k from 0 to 18), "iFlagParserMode[EVENT]" or the bare
 * event name ("NOTICE"), or the name of the setup.dat row that edits it
 * (apsItemRow).  Names are case-sensitive.
 * Returns 1 with *pItem set, or 0 with the reason in psError (uError bytes),
 * which suggests the nearest name when one is near. */
int FindItem(char const *psName, struct MorvItem *pItem, char *psError, size_t uError);

/* Stores psValue into the item's setting.  Integers and time values are
 * decimal; a time value must fit iTimeBytes (4 or 8) and this build's
 * time_t.  A text is "absent", a quoted text in the form QuoteText gives, or
 * otherwise taken literally; an empty single text is stored as absent, as
 * the file cannot tell the two apart.  An integer or time item with a
 * range (aucItemRange) takes only values within it, unless bRangesForced.
 * Pairs are not checked here (see PairIsStorable).
 * Returns 1, or 0 with the reason in psError and the setting unchanged. */
int SetItemValue(struct MorvItem it, char const *psValue, int iTimeBytes, char *psError,
                 size_t uError);

/* Checks that the text pair of field iField can be written and read back as
 * it stands: both texts absent, or both present with text [0] not empty.
 * Returns 1, or 0 with the reason in psError. */
int PairIsStorable(int iField, char *psError, size_t uError);

/* Reads a text quoted as QuoteText writes it, or as a C string literal
 * would be (\x escapes, octal escapes of one to three digits, \' and \?).
 * Returns 1 with a malloc'd text in *ppsText, or 0 with the reason in
 * psError: no closing quote, anything after it, an unknown escape, an escape
 * beyond 255, a zero byte (a stored text ends at one), or no memory. */
int UnquoteText(char const *psQuoted, char **ppsText, char *psError, size_t uError);

/* The index of item it in the order AllItems gives, or -1. */
int ItemIndex(struct MorvItem it);

/* The values that the editor's list lets an integer item take. */
enum ItemRange {
    IR_ANY,       /* no row types it: any 32-bit value */
    IR_SWITCH,    /* a Boolean row: 0 or 1 */
    IR_COUNTER    /* a numeric row: 0 to RANGE_COUNTER_MAX */
};
#define RANGE_COUNTER_MAX 4096

/* By item index (ItemIndex): the range of each item and the name of the
 * setup.dat row that edits it (null for none), as a home's catalogue gives
 * them; IR_ANY and null until one is read.  SetItemValue keeps to the
 * range unless bRangesForced; FindItem takes the row names. */
extern unsigned char aucItemRange[MORV_MAX_ITEMS];
extern char const *apsItemRow[MORV_MAX_ITEMS];
extern int bRangesForced;

/* Writes into psOut (uOut bytes) the range of item it for people: "0 or 1",
 * "0 to 4096", or an empty text for IR_ANY. */
void DescribeRange(struct MorvItem it, char *psOut, size_t uOut);

/* The field index of the text pair named psName (its name without an
 * index, as "psFlagChanJoinBeep"), or -1 when psName names none. */
int FindPair(char const *psName);

/* Reads a decimal integer: an optional sign, then digits only.
 * Returns 1 with *pllValue set, or 0 when psText is not one or lies outside
 * llMin to llMax. */
int ParseDecimal(char const *psText, long long llMin, long long llMax, long long *pllValue);

#endif
