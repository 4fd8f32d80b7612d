/* The values of the whole store taken as text and JSON, so that two states
 * can be compared after the store has moved on, and the store set aside
 * while another state is read into it. */
#ifndef MORV_SETTINGS_STORE_VALUES_H
#define MORV_SETTINGS_STORE_VALUES_H

#include "settings/store/fields.h"
#include "settings/store/items.h"
#include "settings/store/morv.h"

#include <stddef.h>

/* Every item of the store with its value as text and as JSON, so that two
 * states can be compared after the store has moved on. */
struct MorvValues {
    int iItems;
    struct MorvItem aItems[MORV_MAX_ITEMS];
    char *apsPlain[MORV_MAX_ITEMS];   /* FormatItemValue */
    char *apsJson[MORV_MAX_ITEMS];    /* FormatItemJson */
};

/* Takes the value of every item of the settings store into *pv (emptied
 * first).  Returns 1; 0 when memory runs out, with *pv emptied. */
int TakeStoreValues(struct MorvValues *pv);

/* Frees what *pv holds and empties it; it may be freed twice. */
void FreeValues(struct MorvValues *pv);

/* Returns 1 when item k has different values in the two states, 0 when
 * the same (or when either state lacks it). */
int ItemDiffers(struct MorvValues const *pa, struct MorvValues const *pb, int k);

/* Writes into psOut (uOut bytes, cut to fit) item k of two states as
 * "name: a -> b", the form in which diff shows a difference; psOut gets an
 * empty text when the values are the same. */
void FormatDifference(struct MorvValues const *pa, struct MorvValues const *pb, int k, char *psOut,
                      size_t uOut);

/* The items whose values differ between the two states, in item order:
 * each "name: a -> b" on a line of its own, or with bJson
 * as JSON objects {"name": N, "A": a, "B": b}, A and B the keys psKeyA
 * and psKeyB, joined by psJoin.  Returns a malloc'd text (empty when none
 * differ), or null when memory runs out. */
char *FormatDifferences(struct MorvValues const *pa, struct MorvValues const *pb, int bJson,
                        char const *psKeyA, char const *psKeyB, char const *psJoin);

/* Returns the number of items whose values differ between the two states. */
int CountDifferences(struct MorvValues const *pa, struct MorvValues const *pb);

/* The store set aside while another state is read into it: the non-text
 * values as bytes, and the texts themselves, whose pointers others (the
 * editor's catalogue rows) may hold. */
struct StoreStash {
    unsigned char ab[MORV_FIELD_COUNT][sizeof iFlagParserMode];
    char *aps[MORV_FIELD_COUNT][2];
};

/* Sets the store aside into *ps, leaving copies of the texts in their
 * places so that a reading that keeps a text finds it.  Returns 1; 0 when
 * memory runs out, with the store as it was. */
int SetStoreAside(struct StoreStash *ps);

/* Puts the store set aside back: the texts in the store now are freed,
 * the set-aside ones return to their places.  Cannot fail. */
void PutStoreBack(struct StoreStash *ps);

#endif
