/* The stored settings item by item: their names, their values as text and
 * as JSON and read back from text, and the pair rule, so that the editor
 * and morvrc_tool name, take and refuse a value the same way. */
#include "settings/store/items.h"

#include "settings/store/morv.h"
#include "settings/store/text.h"

#include <ctype.h>
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <time.h>

int ItemCount(int iField)
{
    return aMorvKinds[aMorvFields[iField].eKind].iItems;
}

void ItemName(struct MorvItem it, char *psOut, size_t uOut)
{
    SettingName(it.iField, it.iElement, psOut, uOut);
}

int AllItems(struct MorvItem *aItems, int iMax)
{
    int n = 0;
    for (int i = 0; i < MORV_FIELD_COUNT; i++) {
        int iElements = ItemCount(i);
        for (int e = 0; e < iElements; e++) {
            if (n >= iMax)
                return -1;
            aItems[n].iField = i;
            aItems[n].iElement = iElements == 1 ? -1 : e;
            n++;
        }
    }
    return n;
}

/* The address of item it's value: the setting, or one element of it. */
static void *ItemPlace(struct MorvItem it)
{
    struct MorvField const *pf = &aMorvFields[it.iField];
    return (char *)pf->pSetting + (it.iElement > 0 ? (size_t)it.iElement * aMorvKinds[pf->eKind].uItem : 0);
}

char **ItemText(struct MorvItem it)
{
    return (char **)ItemPlace(it);
}

char *FormatItemValue(struct MorvItem it)
{
    struct MorvField const *pf = &aMorvFields[it.iField];
    char ac[32];
    switch (pf->eKind) {
    case MFK_INT32:
        snprintf(ac, sizeof ac, "%d", *(int *)pf->pSetting);
        return strdup(ac);
    case MFK_TIME:
        snprintf(ac, sizeof ac, "%lld", (long long)*(time_t *)pf->pSetting);
        return strdup(ac);
    case MFK_INT32_ARRAY:
        snprintf(ac, sizeof ac, "%d", ((int *)pf->pSetting)[it.iElement]);
        return strdup(ac);
    case MFK_TEXT:
    case MFK_TEXT_PAIR:
        return QuoteText(*ItemText(it));
    }
    return NULL;
}

char *FormatItemJson(struct MorvItem it)
{
    if (ItemIsText(it))
        return JsonText(*ItemText(it));
    /* Integers and time values read the same in both forms. */
    return FormatItemValue(it);
}

/* ---- Names and values as people type them ------------------------------ */

int ItemAt(void const *pValue, struct MorvItem *pit)
{
    struct MorvItem aItems[MORV_MAX_ITEMS];
    int iItems = AllItems(aItems, MORV_MAX_ITEMS);
    for (int k = 0; k < iItems; k++) {
        if (ItemPlace(aItems[k]) == pValue) {
            *pit = aItems[k];
            return 1;
        }
    }
    return 0;
}

unsigned char aucItemRange[MORV_MAX_ITEMS];
char const *apsItemRow[MORV_MAX_ITEMS];
int bRangesForced = 0;

/* The lowest and highest value of each ItemRange, IR_ANY excepted. */
static const struct {
    long long llMin, llMax;
    char const *psKind;
} aRanges[] = {
    {INT32_MIN, INT32_MAX, NULL},
    {0, 1, "a switch"},
    {0, RANGE_COUNTER_MAX, "a counter"},
};

/* Index of the event named psEvent (psEvent[0 .. uLen-1], in any case) in
 * apsFlagParseMode.  Returns it, or -1 when there is none. */
static int FindEvent(char const *psEvent, size_t uLen)
{
    for (int k = 0; k < PARSER_MODES; k++)
        if (strlen(apsFlagParseMode[k]) == uLen && strncasecmp(apsFlagParseMode[k], psEvent, uLen) == 0)
            return k;
    return -1;
}

/* The edit distance between psA and psB, letters compared without case;
 * names longer than 63 characters count as far from everything. */
static int Distance(char const *psA, char const *psB)
{
    size_t uA = strlen(psA), uB = strlen(psB);
    if (uA > 63 || uB > 63)
        return 1000;
    int aiRow[64], aiNext[64];
    for (size_t j = 0; j <= uB; j++)
        aiRow[j] = (int)j;
    for (size_t i = 1; i <= uA; i++) {
        aiNext[0] = (int)i;
        for (size_t j = 1; j <= uB; j++) {
            int iCost = tolower((unsigned char)psA[i - 1]) != tolower((unsigned char)psB[j - 1]);
            int iBest = aiRow[j - 1] + iCost;
            if (aiRow[j] + 1 < iBest)
                iBest = aiRow[j] + 1;
            if (aiNext[j - 1] + 1 < iBest)
                iBest = aiNext[j - 1] + 1;
            aiNext[j] = iBest;
        }
        memcpy(aiRow, aiNext, (uB + 1) * sizeof aiRow[0]);
    }
    return aiRow[uB];
}

/* Writes into psOut (uOut bytes) the name nearest to psName among the
 * iItems items aItems, their row names, the pairs' and the events' names, when one is
 * near enough to be a slip; an empty text otherwise. */
static void NearestName(char const *psName, struct MorvItem const *aItems, int iItems, char *psOut,
                        size_t uOut)
{
    int iBest = (int)strlen(psName) / 3;
    if (iBest < 2)
        iBest = 2;
    iBest++;
    psOut[0] = '\0';
    for (int k = 0; k < iItems; k++) {
        char acName[64];
        ItemName(aItems[k], acName, sizeof acName);
        enum MorvFieldKind eKind = aMorvFields[aItems[k].iField].eKind;
        char const *apsCandidates[4] = {
            acName, apsItemRow[k],
            aItems[k].iElement == 0 && eKind == MFK_TEXT_PAIR ? aMorvFields[aItems[k].iField].psName
                                                              : NULL,
            eKind == MFK_INT32_ARRAY ? apsFlagParseMode[aItems[k].iElement] : NULL};
        for (int c = 0; c < 4; c++) {
            if (apsCandidates[c] == NULL)
                continue;
            int d = Distance(psName, apsCandidates[c]);
            if (d < iBest) {
                iBest = d;
                snprintf(psOut, uOut, "%s", apsCandidates[c]);
            }
        }
        /* The rows of a pair's two texts share the part of their names
         * before the dot ("ChanJoinBeep.channel", "ChanJoinBeep.sound"),
         * which names neither alone: both are offered. */
        char const *psDot = apsCandidates[2] != NULL && k + 1 < iItems && apsItemRow[k] != NULL &&
                                    apsItemRow[k + 1] != NULL
                                ? strchr(apsItemRow[k], '.')
                                : NULL;
        size_t uStem = psDot != NULL ? (size_t)(psDot - apsItemRow[k]) : 0;
        if (uStem > 0 && uStem < sizeof acName && strncmp(apsItemRow[k], apsItemRow[k + 1], uStem + 1) == 0) {
            snprintf(acName, sizeof acName, "%.*s", (int)uStem, apsItemRow[k]);
            int d = Distance(psName, acName);
            if (d < iBest) {
                iBest = d;
                snprintf(psOut, uOut, "%s or %s", apsItemRow[k], apsItemRow[k + 1]);
            }
        }
    }
}

/* Takes the item of field i (whose name psName begins with) that psName
 * names: the field itself, or with psBracket (the "[" in psName) the
 * element "NAME[INDEX]" gives, by number or for iFlagParserMode by event.
 * Returns 1 with *pItem set, or 0 with the reason in psError. */
static int TakeElement(int i, char const *psName, char const *psBracket, struct MorvItem *pItem,
                       char *psError, size_t uError)
{
    struct MorvField const *pf = &aMorvFields[i];
    int iElements = ItemCount(i);
    if (psBracket == NULL) {
        if (iElements == 1) {
            pItem->iField = i;
            pItem->iElement = -1;
            return 1;
        }
        if (pf->eKind == MFK_TEXT_PAIR)
            snprintf(psError, uError, "%s is a text pair: name one of its texts, %s[0] or %s[1]",
                     pf->psName, pf->psName, pf->psName);
        else
            snprintf(psError, uError,
                     "%s has %d elements: name one, %s[0] to %s[%d] or by event, as %s[%s]",
                     pf->psName, iElements, pf->psName, pf->psName, iElements - 1, pf->psName,
                     apsFlagParseMode[iElements - 1]);
        return 0;
    }
    if (iElements == 1) {
        snprintf(psError, uError, "%s is a single setting: name it without an index", pf->psName);
        return 0;
    }
    char const *psIndex = psBracket + 1;
    char const *psClose = strchr(psIndex, ']');
    if (psClose == NULL || psClose[1] != '\0' || psClose == psIndex) {
        snprintf(psError, uError, "\"%.80s\" is not a setting name: expected %s[INDEX]", psName,
                 pf->psName);
        return 0;
    }
    size_t uIndex = (size_t)(psClose - psIndex);
    int iElement = -1;
    if (strspn(psIndex, "0123456789") == uIndex) {
        /* At most two digits, so no index can overflow on the way. */
        if (uIndex <= 2)
            iElement = atoi(psIndex);
        if (iElement >= iElements)
            iElement = -1;
    } else if (pf->eKind == MFK_INT32_ARRAY) {
        iElement = FindEvent(psIndex, uIndex);
    }
    if (iElement < 0) {
        if (pf->eKind == MFK_TEXT_PAIR)
            snprintf(psError, uError, "%s has texts [0] and [1] only, not [%.*s]", pf->psName,
                     (int)(uIndex > 40 ? 40 : uIndex), psIndex);
        else
            snprintf(psError, uError, "%s has elements [0] to [%d] (PRIVMSG to NOTICE), not [%.*s]",
                     pf->psName, iElements - 1, (int)(uIndex > 40 ? 40 : uIndex), psIndex);
        return 0;
    }
    pItem->iField = i;
    pItem->iElement = iElement;
    return 1;
}

/* Finds the item that psName names other than by its field's own name: a
 * bare event name, the name of the setup.dat row that edits it, or either
 * kind of name in other case when it names one item alone.  Returns 1 with
 * *pItem set, or 0 when it names none. */
static int FindByOtherName(char const *psName, struct MorvItem const *aItems, int iItems,
                           struct MorvItem *pItem)
{
    int iEvent = strchr(psName, '[') == NULL ? FindEvent(psName, strlen(psName)) : -1;
    for (int i = 0; i < MORV_FIELD_COUNT && iEvent >= 0; i++) {
        if (aMorvFields[i].eKind == MFK_INT32_ARRAY) {
            pItem->iField = i;
            pItem->iElement = iEvent;
            return 1;
        }
    }
    for (int k = 0; k < iItems; k++) {
        if (apsItemRow[k] != NULL && strcmp(apsItemRow[k], psName) == 0) {
            *pItem = aItems[k];
            return 1;
        }
    }
    int iFound = -1, iMatches = 0;
    for (int k = 0; k < iItems; k++) {
        char acName[64];
        ItemName(aItems[k], acName, sizeof acName);
        if (strcasecmp(acName, psName) == 0 ||
            (apsItemRow[k] != NULL && strcasecmp(apsItemRow[k], psName) == 0)) {
            iMatches += iFound != k;
            iFound = k;
        }
    }
    if (iMatches != 1)
        return 0;
    *pItem = aItems[iFound];
    return 1;
}

int FindItem(char const *psName, struct MorvItem *pItem, char *psError, size_t uError)
{
    char const *psBracket = strchr(psName, '[');
    size_t uBase = psBracket != NULL ? (size_t)(psBracket - psName) : strlen(psName);
    for (int i = 0; i < MORV_FIELD_COUNT; i++) {
        char const *psField = aMorvFields[i].psName;
        if (strlen(psField) == uBase && strncmp(psField, psName, uBase) == 0)
            return TakeElement(i, psName, psBracket, pItem, psError, uError);
    }
    struct MorvItem aItems[MORV_MAX_ITEMS];
    int iItems = AllItems(aItems, MORV_MAX_ITEMS);
    if (FindByOtherName(psName, aItems, iItems, pItem))
        return 1;
    char acNear[80];
    NearestName(psName, aItems, iItems, acNear, sizeof acNear);
    snprintf(psError, uError, "no stored setting is named \"%.80s\" (%s%s%sdump lists them)", psName,
             acNear[0] != '\0' ? "did you mean " : "", acNear, acNear[0] != '\0' ? "? " : "");
    return 0;
}

int ItemHoldsWord(struct MorvItem it, char const *psWord)
{
    char acName[64];
    ItemName(it, acName, sizeof acName);
    char *psValue = ItemIsText(it) ? NULL : FormatItemValue(it);
    int bHolds = ContainsWord(acName, psWord) ||
                 ContainsWord(ItemIsText(it) ? *ItemText(it) : psValue, psWord);
    free(psValue);
    return bHolds;
}

int FindPair(char const *psName)
{
    /* No two pairs' names differ in case alone. */
    for (int i = 0; i < MORV_FIELD_COUNT; i++)
        if (aMorvFields[i].eKind == MFK_TEXT_PAIR && strcasecmp(aMorvFields[i].psName, psName) == 0)
            return i;
    return -1;
}

int AllItemsMarked(unsigned char const *abMarked)
{
    struct MorvItem aItems[MORV_MAX_ITEMS];
    int iItems = AllItems(aItems, MORV_MAX_ITEMS);
    for (int k = 0; k < iItems; k++)
        if (!abMarked[k])
            return 0;
    return 1;
}

int ItemIsText(struct MorvItem it)
{
    return aMorvKinds[aMorvFields[it.iField].eKind].uBytes == 0;
}

int ItemPair(struct MorvItem it)
{
    return aMorvFields[it.iField].eKind == MFK_TEXT_PAIR ? it.iField : -1;
}

int ItemFromVersion(struct MorvItem it)
{
    return aMorvFields[it.iField].iFromVersion;
}

int ItemIndex(struct MorvItem it)
{
    struct MorvItem aItems[MORV_MAX_ITEMS];
    int iItems = AllItems(aItems, MORV_MAX_ITEMS);
    for (int k = 0; k < iItems; k++)
        if (aItems[k].iField == it.iField && aItems[k].iElement == it.iElement)
            return k;
    return -1;
}

void FormatRange(int iRange, int bJson, char *psOut, size_t uOut)
{
    if (iRange <= IR_ANY || iRange > IR_COUNTER)
        snprintf(psOut, uOut, "%s", "");
    else if (bJson)
        snprintf(psOut, uOut, "[%lld, %lld]", aRanges[iRange].llMin, aRanges[iRange].llMax);
    else
        snprintf(psOut, uOut, "%lld %s %lld", aRanges[iRange].llMin,
                 iRange == IR_SWITCH ? "or" : "to", aRanges[iRange].llMax);
}

void DescribeRange(struct MorvItem it, char *psOut, size_t uOut)
{
    int k = ItemIndex(it);
    FormatRange(k < 0 ? (int)IR_ANY : (int)aucItemRange[k], 0, psOut, uOut);
}

static int InRange(struct MorvItem it, long long ll, char const *psName, char const *psValue,
                   char *psError, size_t uError)
{
    int k = ItemIndex(it);
    int iRange = k < 0 ? (int)IR_ANY : (int)aucItemRange[k];
    if (bRangesForced || iRange == IR_ANY ||
        (ll >= aRanges[iRange].llMin && ll <= aRanges[iRange].llMax))
        return 1;
    char acRange[32];
    DescribeRange(it, acRange, sizeof acRange);
    snprintf(psError, uError,
             "%s takes %s (%s in the editor's list, row %s), not %.40s; --force stores it anyway",
             psName, acRange, aRanges[iRange].psKind, apsItemRow[k] != NULL ? apsItemRow[k] : "?",
             psValue);
    return 0;
}

/* The switch word psValue: 1 for on, true or yes, 0 for off, false or no
 * (any case), -1 for anything else. */
static int SwitchWord(char const *psValue)
{
    static char const *const apsWords[] = {"off", "on", "false", "true", "no", "yes"};
    for (int w = 0; w < 6; w++)
        if (strcasecmp(psValue, apsWords[w]) == 0)
            return w % 2;
    return -1;
}

int SetItemValue(struct MorvItem it, char const *psValue, int iTimeBytes, char *psError,
                 size_t uError)
{
    struct MorvField const *pf = &aMorvFields[it.iField];
    char acName[64];
    ItemName(it, acName, sizeof acName);
    long long ll;

    int k = ItemIndex(it);
    int iRange = k < 0 ? (int)IR_ANY : (int)aucItemRange[k];
    switch (pf->eKind) {
    case MFK_INT32:
    case MFK_INT32_ARRAY: {
        int *pi = (int *)ItemPlace(it);
        int iWord = iRange == IR_COUNTER ? -1 : SwitchWord(psValue);
        if (iWord >= 0) {
            ll = iWord;
        } else if (!ParseDecimal(psValue, INT32_MIN, INT32_MAX, &ll)) {
            if (iRange == IR_SWITCH)
                snprintf(psError, uError, "%s takes 0 or 1 (on/off), not \"%.80s\"", acName,
                         psValue);
            else
                snprintf(psError, uError, "%s takes a whole number from %d to %d, not \"%.80s\"",
                         acName, INT32_MIN, INT32_MAX, psValue);
            return 0;
        }
        if (ll != *pi && !InRange(it, ll, acName, psValue, psError, uError))
            return 0;
        *pi = (int)ll;
        return 1;
    }

    case MFK_TIME: {
        /* The value must fit both the file's time fields and the store. */
        int b32 = iTimeBytes == 4 || sizeof(time_t) == 4;
        long long llMin = b32 ? INT32_MIN : INT64_MIN, llMax = b32 ? INT32_MAX : INT64_MAX;
        if (!ParseDecimal(psValue, llMin, llMax, &ll)) {
            snprintf(psError, uError,
                     "%s takes a whole number of seconds from %lld to %lld (%s), not \"%.80s\"",
                     acName, llMin, llMax,
                     sizeof(time_t) == 4 ? "the time values of this 32-bit build"
                     : b32              ? "32-bit time fields"
                                        : "64-bit time fields",
                     psValue);
            return 0;
        }
        if (ll != (long long)*(time_t *)pf->pSetting &&
            !InRange(it, ll, acName, psValue, psError, uError))
            return 0;
        *(time_t *)pf->pSetting = (time_t)ll;
        return 1;
    }

    case MFK_TEXT:
    case MFK_TEXT_PAIR: {
        char *psNew = NULL;
        if (strcmp(psValue, "absent") == 0) {
            psNew = NULL;
        } else if (psValue[0] == '"') {
            char acWhy[160];
            if (!UnquoteText(psValue, &psNew, acWhy, sizeof acWhy)) {
                snprintf(psError, uError, "%s: %s", acName, acWhy);
                return 0;
            }
        } else if ((psNew = strdup(psValue)) == NULL) {
            snprintf(psError, uError, "%s: out of memory", acName);
            return 0;
        }
        /* Only text [1] of a pair can be present and empty in the file. */
        if (pf->eKind == MFK_TEXT && psNew != NULL && psNew[0] == '\0') {
            free(psNew);
            psNew = NULL;
        }
        char **pps = ItemText(it);
        free(*pps);
        *pps = psNew;
        return 1;
    }
    }
    return 0;
}

/* How a pair breaks the rule of PairIsStorable: 0 for not at all, 1 when
 * one text is absent, 2 when text [0] is empty. */
static int PairFault(int iField)
{
    char **aps = (char **)aMorvFields[iField].pSetting;
    if (aps[0] == NULL && aps[1] == NULL)
        return 0;
    if (aps[0] == NULL || aps[1] == NULL)
        return 1;
    return aps[0][0] == '\0' ? 2 : 0;
}

int PairIsStorable(int iField, char *psError, size_t uError)
{
    int iFault = PairFault(iField);
    if (iFault == 0 || psError == NULL)
        return iFault == 0;
    char const *psName = aMorvFields[iField].psName;
    if (iFault == 1)
        snprintf(psError, uError,
                 "%s would be left with one text (%s[%d] is absent): the file stores both texts "
                 "or neither",
                 psName, psName, ((char **)aMorvFields[iField].pSetting)[0] == NULL ? 0 : 1);
    else
        snprintf(psError, uError,
                 "%s[0] is empty: the file cannot hold a pair whose first text is empty", psName);
    return 0;
}

int FirstUnstorablePair(char *psError, size_t uError)
{
    for (int i = 0; i < MORV_FIELD_COUNT; i++)
        if (aMorvFields[i].eKind == MFK_TEXT_PAIR && !PairIsStorable(i, psError, uError))
            return i;
    return -1;
}

int PairRowsAreStorable(int iField, char const *const apsNames[2], char *psError, size_t uError)
{
    if (PairFault(iField) == 0)
        return 1;
    if (psError != NULL)
        snprintf(psError, uError, "%s and %s must both hold a text, or both be empty", apsNames[0],
                 apsNames[1]);
    return 0;
}
