/* The stored settings item by item, as people read and type them: names
 * ("iMaxCloneCount", "psFlagChanJoinBeep[1]", "iFlagParserMode[NOTICE]",
 * or the catalogue row that edits one), values as text or JSON and values
 * read back from text within the editor's ranges, and the rule a text pair
 * keeps to. */
#ifndef MORV_SETTINGS_STORE_ITEMS_H
#define MORV_SETTINGS_STORE_ITEMS_H

#include "settings/store/fields.h"

#include <stddef.h>

/* One stored value: a whole single field, one text of a pair or one element
 * of iFlagParserMode. */
struct MorvItem {
    int iField;     /* index into aMorvFields */
    int iElement;   /* -1 for a single field; 0 or 1 in a pair; 0 to 18 in iFlagParserMode */
};

/* Most items the store has; AllItems fills no more. */
#define MORV_MAX_ITEMS 128

/* Number of items field iField (an index into aMorvFields) stores: 2 for a
 * text pair, 19 for iFlagParserMode, 1 otherwise.  Item k of a field is
 * element k, or element -1 when there is only one. */
int ItemCount(int iField);

/* Writes the item's name into psOut (uOut bytes, cut to fit):
 * "iMaxCloneCount", "psFlagChanJoinBeep[1]", "iFlagParserMode[NOTICE]". */
void ItemName(struct MorvItem it, char *psOut, size_t uOut);

/* Fills aItems (room for iMax) with every item of the store in file order:
 * the fields of aMorvFields, a pair's texts and iFlagParserMode's elements
 * one by one.  Returns the number of items, or -1 when they do not fit
 * (nothing past iMax is written). */
int AllItems(struct MorvItem *aItems, int iMax);

/* The address of a text item's setting (a single text or one text of a
 * pair); the item must be one. */
char **ItemText(struct MorvItem it);

/* Whether the item is a text: a single text or one text of a pair. */
int ItemIsText(struct MorvItem it);

/* The field index of the text pair that item it is a text of, or -1 when
 * it is none. */
int ItemPair(struct MorvItem it);

/* The first format version whose files hold the item; 0 for every one. */
int ItemFromVersion(struct MorvItem it);

/* Whether abMarked (MORV_MAX_ITEMS entries, by ItemIndex) marks every item
 * of the store. */
int AllItemsMarked(unsigned char const *abMarked);

/* The index of item it in the order AllItems gives, or -1. */
int ItemIndex(struct MorvItem it);

/* Finds the item whose value is stored at pValue: a single setting, one
 * text of a pair or one element of iFlagParserMode.  Returns 1 with *pit
 * set, or 0 when no stored value lies there. */
int ItemAt(void const *pValue, struct MorvItem *pit);

/* Finds the item psName names: a single setting by its name, a text of a
 * pair as "NAME[0]" or "NAME[1]", an element of iFlagParserMode as
 * "iFlagParserMode[k]" (k from 0 to 18), "iFlagParserMode[EVENT]" or the bare
 * event name ("NOTICE"), or the name of the setup.dat row that edits it
 * (apsItemRow).  A name that matches none exactly matches one setting
 * whose names it spells in other case.
 * Returns 1 with *pItem set, or 0 with the reason in psError (uError bytes),
 * which suggests the nearest name when one is near. */
int FindItem(char const *psName, struct MorvItem *pItem, char *psError, size_t uError);

/* Whether item it holds psWord (ContainsWord) in its name or its value: a
 * text as it is stored, a number in decimal; a text that is absent holds
 * nothing. */
int ItemHoldsWord(struct MorvItem it, char const *psWord);

/* The field index of the text pair named psName (its name without an
 * index, as "psFlagChanJoinBeep", in any case), or -1 when psName names
 * none. */
int FindPair(char const *psName);

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

/* Writes into psOut (uOut bytes) range iRange (an ItemRange) for people,
 * "0 or 1" or "0 to 4096", or with bJson as a JSON array, "[0, 1]"; an
 * empty text for IR_ANY. */
void FormatRange(int iRange, int bJson, char *psOut, size_t uOut);

/* Writes into psOut (uOut bytes) the range of item it as FormatRange does
 * for people. */
void DescribeRange(struct MorvItem it, char *psOut, size_t uOut);

/* The item's value in the settings store as text: a decimal integer, a
 * decimal time value, a quoted text (QuoteText) or "absent".
 * Returns a malloc'd text, or null when memory runs out. */
char *FormatItemValue(struct MorvItem it);

/* The item's value in the settings store as JSON: a number for integers
 * and time values, a string (JsonText) or null for texts.
 * Returns a malloc'd text, or null when memory runs out. */
char *FormatItemJson(struct MorvItem it);

/* Stores psValue into the item's setting.  Integers and time values are
 * decimal; a time value must fit iTimeBytes (4 or 8) and this build's
 * time_t.  A text is "absent", a quoted text in the form QuoteText gives, or
 * otherwise taken literally; an empty single text is stored as absent, as
 * the file cannot tell the two apart.  A switch (IR_SWITCH, or IR_ANY)
 * also takes on/off, true/false and yes/no in any case.  An integer or time
 * item with a range (aucItemRange) takes only values within it, unless
 * bRangesForced or the value is the one it holds: ranges guard changes.
 * Pairs are not checked here (see PairIsStorable).
 * Returns 1, or 0 with the reason in psError and the setting unchanged. */
int SetItemValue(struct MorvItem it, char const *psValue, int iTimeBytes, char *psError,
                 size_t uError);

/* The rule of a text pair: the file holds both texts of a pair or neither,
 * and reads an empty text [0] as a pair without texts, so a pair is stored
 * as it stands only when both texts are absent, or both present with text
 * [0] not empty.  The encoder stores any other pair as one without texts;
 * the programs refuse to save it.
 * Returns 1 when the pair of field iField keeps the rule; otherwise 0 with
 * the reason in psError (uError bytes; nothing written when psError is
 * null), naming its texts as settings. */
int PairIsStorable(int iField, char *psError, size_t uError);

/* Returns the field index of the first text pair of the store that breaks
 * the rule of PairIsStorable, with its reason in psError (uError bytes),
 * or -1 when every pair keeps it. */
int FirstUnstorablePair(char *psError, size_t uError);

/* As PairIsStorable, the reason naming the two texts by apsNames (as the
 * rows of the editor's list that edit them): "A and B must both hold a
 * text, or both be empty". */
int PairRowsAreStorable(int iField, char const *const apsNames[2], char *psError, size_t uError);

#endif
