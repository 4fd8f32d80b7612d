/* Names and values of the stored settings for morvrc_tool: the names a dump
 * shows and get and set take, values printed and parsed, and texts quoted so
 * that every byte can be seen and typed back. */
#include "cli/morvrc_value.h"

#include "settings/morv.h"
#include "settings/morvrc_format.h"
#include "settings/morvrc_items.h"

#include <ctype.h>
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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

/* Index of the event named psEvent (psEvent[0 .. uLen-1]) in
 * apsFlagParseMode.  Returns it, or -1 when there is none. */
static int FindEvent(char const *psEvent, size_t uLen)
{
    for (int k = 0; k < PARSER_MODES; k++)
        if (strlen(apsFlagParseMode[k]) == uLen && strncmp(apsFlagParseMode[k], psEvent, uLen) == 0)
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
 * iItems items aItems, their row names and the pairs' names, when one is
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
        char const *apsCandidates[3] = {acName, apsItemRow[k],
                                        aItems[k].iElement == 0 &&
                                                aMorvFields[aItems[k].iField].eKind == MFK_TEXT_PAIR
                                            ? aMorvFields[aItems[k].iField].psName
                                            : NULL};
        for (int c = 0; c < 3; c++) {
            if (apsCandidates[c] == NULL)
                continue;
            int d = Distance(psName, apsCandidates[c]);
            if (d < iBest) {
                iBest = d;
                snprintf(psOut, uOut, "%s", apsCandidates[c]);
            }
        }
    }
}

int FindItem(char const *psName, struct MorvItem *pItem, char *psError, size_t uError)
{
    char const *psBracket = strchr(psName, '[');
    size_t uBase = psBracket != NULL ? (size_t)(psBracket - psName) : strlen(psName);

    for (int i = 0; i < MORV_FIELD_COUNT; i++) {
        struct MorvField const *pf = &aMorvFields[i];
        if (strlen(pf->psName) != uBase || strncmp(pf->psName, psName, uBase) != 0)
            continue;
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
                snprintf(psError, uError,
                         "%s has elements [0] to [%d] (PRIVMSG to NOTICE), not [%.*s]",
                         pf->psName, iElements - 1, (int)(uIndex > 40 ? 40 : uIndex), psIndex);
            return 0;
        }
        pItem->iField = i;
        pItem->iElement = iElement;
        return 1;
    }

    /* A bare event name is an element of iFlagParserMode. */
    int iEvent = psBracket == NULL ? FindEvent(psName, uBase) : -1;
    if (iEvent >= 0) {
        for (int i = 0; i < MORV_FIELD_COUNT; i++) {
            if (aMorvFields[i].eKind == MFK_INT32_ARRAY) {
                pItem->iField = i;
                pItem->iElement = iEvent;
                return 1;
            }
        }
    }
    struct MorvItem aItems[MORV_MAX_ITEMS];
    int iItems = AllItems(aItems, MORV_MAX_ITEMS);
    for (int k = 0; k < iItems; k++) {
        if (apsItemRow[k] != NULL && strcmp(apsItemRow[k], psName) == 0) {
            *pItem = aItems[k];
            return 1;
        }
    }
    char acNear[80];
    NearestName(psName, aItems, iItems, acNear, sizeof acNear);
    snprintf(psError, uError,
             "no stored setting is named \"%.80s\" (%s%s%snames are case-sensitive; dump lists "
             "them)",
             psName, acNear[0] != '\0' ? "did you mean " : "", acNear,
             acNear[0] != '\0' ? "? " : "");
    return 0;
}

int FindPair(char const *psName)
{
    for (int i = 0; i < MORV_FIELD_COUNT; i++)
        if (aMorvFields[i].eKind == MFK_TEXT_PAIR && strcmp(aMorvFields[i].psName, psName) == 0)
            return i;
    return -1;
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

void DescribeRange(struct MorvItem it, char *psOut, size_t uOut)
{
    int k = ItemIndex(it);
    int iRange = k < 0 ? (int)IR_ANY : (int)aucItemRange[k];
    if (iRange == IR_ANY)
        snprintf(psOut, uOut, "%s", "");
    else
        snprintf(psOut, uOut, "%lld %s %lld", aRanges[iRange].llMin,
                 iRange == IR_SWITCH ? "or" : "to", aRanges[iRange].llMax);
}

int ParseDecimal(char const *psText, long long llMin, long long llMax, long long *pllValue)
{
    char const *ps = psText;
    if (*ps == '+' || *ps == '-')
        ps++;
    /* strtoll alone would also take blanks, a base prefix and trailing junk. */
    if (*ps == '\0' || strspn(ps, "0123456789") != strlen(ps))
        return 0;
    errno = 0;
    char *psEnd;
    long long ll = strtoll(psText, &psEnd, 10);
    if (errno == ERANGE || *psEnd != '\0' || ll < llMin || ll > llMax)
        return 0;
    *pllValue = ll;
    return 1;
}

/* Whether ll lies in the editor's range for item it (named psName, typed
 * as psValue), or the ranges are forced.  Returns 1, or 0 with the reason
 * in psError. */
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

int SetItemValue(struct MorvItem it, char const *psValue, int iTimeBytes, char *psError,
                 size_t uError)
{
    struct MorvField const *pf = &aMorvFields[it.iField];
    char acName[64];
    ItemName(it, acName, sizeof acName);
    long long ll;

    switch (pf->eKind) {
    case MFK_INT32:
    case MFK_INT32_ARRAY:
        if (!ParseDecimal(psValue, INT32_MIN, INT32_MAX, &ll)) {
            snprintf(psError, uError, "%s takes a whole number from %d to %d, not \"%.80s\"", acName,
                     INT32_MIN, INT32_MAX, psValue);
            return 0;
        }
        if (!InRange(it, ll, acName, psValue, psError, uError))
            return 0;
        if (pf->eKind == MFK_INT32)
            *(int *)pf->pSetting = (int)ll;
        else
            ((int *)pf->pSetting)[it.iElement] = (int)ll;
        return 1;

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
        if (!InRange(it, ll, acName, psValue, psError, uError))
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

int PairIsStorable(int iField, char *psError, size_t uError)
{
    struct MorvField const *pf = &aMorvFields[iField];
    char **aps = (char **)pf->pSetting;
    if (aps[0] == NULL && aps[1] == NULL)
        return 1;
    if (aps[0] != NULL && aps[1] != NULL && aps[0][0] != '\0')
        return 1;
    if (aps[0] == NULL || aps[1] == NULL)
        snprintf(psError, uError,
                 "%s would be left with one text (%s[%d] is absent): the file stores both texts "
                 "or neither",
                 pf->psName, pf->psName, aps[0] == NULL ? 0 : 1);
    else
        snprintf(psError, uError,
                 "%s[0] is empty: the file cannot hold a pair whose first text is empty", pf->psName);
    return 0;
}

/* Value of hex digit c, or -1. */
static int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

int UnquoteText(char const *psQuoted, char **ppsText, char *psError, size_t uError)
{
    if (psQuoted[0] != '"') {
        snprintf(psError, uError, "a quoted text starts with \"");
        return 0;
    }
    /* The result is never longer than the quoted form. */
    char *psOut = (char *)malloc(strlen(psQuoted) + 1);
    if (psOut == NULL) {
        snprintf(psError, uError, "out of memory");
        return 0;
    }
    size_t uOut = 0;
    char const *pc = psQuoted + 1;
    for (;;) {
        char c = *pc++;
        long lByte;
        if (c == '\0') {
            snprintf(psError, uError, "the quoted text has no closing \"");
            goto fail;
        }
        if (c == '"')
            break;
        if (c != '\\') {
            psOut[uOut++] = c;
            continue;
        }
        size_t uAt = (size_t)(pc - 1 - psQuoted);
        c = *pc++;
        int iNamed = 0;
        while (iNamed < TEXT_ESCAPES && aTextEscapes[iNamed].cLetter != c)
            iNamed++;
        if (iNamed < TEXT_ESCAPES) {
            lByte = (unsigned char)aTextEscapes[iNamed].cByte;
        } else if (c >= '0' && c <= '7') {
            lByte = c - '0';
            for (int i = 0; i < 2 && *pc >= '0' && *pc <= '7'; i++)
                lByte = lByte * 8 + (*pc++ - '0');
        } else if (c == 'x' && HexDigit(*pc) >= 0) {
            /* As in C, \x takes every hex digit that follows. */
            lByte = 0;
            while (HexDigit(*pc) >= 0) {
                lByte = lByte * 16 + HexDigit(*pc++);
                if (lByte > 255)
                    break;
            }
        } else {
            snprintf(psError, uError, "unknown escape \\%c at character %zu of the quoted text",
                     c != '\0' ? c : '?', uAt);
            goto fail;
        }
        if (lByte > 255) {
            snprintf(psError, uError, "the escape at character %zu is beyond 255", uAt);
            goto fail;
        }
        if (lByte == 0) {
            snprintf(psError, uError,
                     "the escape at character %zu is a zero byte, which a stored text cannot hold",
                     uAt);
            goto fail;
        }
        psOut[uOut++] = (char)lByte;
    }
    if (*pc != '\0') {
        snprintf(psError, uError, "there is more after the closing \" of the quoted text");
        goto fail;
    }
    psOut[uOut] = '\0';
    *ppsText = psOut;
    return 1;

fail:
    free(psOut);
    return 0;
}
