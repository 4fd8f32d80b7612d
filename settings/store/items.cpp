/* The stored settings item by item: their names, their values as text and
 * as JSON and read back from text, the pair rule, and the values of the
 * whole store or of a file taken as text, so that the editor and
 * morvrc_tool name, take and refuse a value the same way. */
#include "settings/store/items.h"

#include "settings/store/morv.h"
#include "settings/morvrc/morvrc.h"

#include <ctype.h>
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <time.h>

const struct TextEscape aTextEscapes[TEXT_ESCAPES] = {
    {'"', '"'}, {'\\', '\\'}, {'\a', 'a'}, {'\b', 'b'}, {'\f', 'f'}, {'\n', 'n'},
    {'\r', 'r'}, {'\t', 't'},  {'\v', 'v'}, {'\'', '\''}, {'?', '?'},
};

int ItemCount(int iField)
{
    switch (aMorvFields[iField].eKind) {
    case MFK_TEXT_PAIR:
        return 2;
    case MFK_INT32_ARRAY:
        return PARSER_MODES;
    default:
        return 1;
    }
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
    switch (pf->eKind) {
    case MFK_INT32_ARRAY:
        return &((int *)pf->pSetting)[it.iElement];
    case MFK_TEXT_PAIR:
        return &((char **)pf->pSetting)[it.iElement];
    default:
        return pf->pSetting;
    }
}

char **ItemText(struct MorvItem it)
{
    return (char **)ItemPlace(it);
}

char *QuoteText(char const *ps)
{
    if (ps == NULL)
        return strdup("absent");
    size_t n = strlen(ps);
    if (n > (SIZE_MAX - 3) / 4)
        return NULL;
    char *psOut = (char *)malloc(4 * n + 3);
    if (psOut == NULL)
        return NULL;
    char *pc = psOut;
    *pc++ = '"';
    for (size_t i = 0; i < n; i++) {
        unsigned char c = (unsigned char)ps[i];
        int iNamed = 0;
        while (iNamed < TEXT_ESCAPES_WRITTEN && (unsigned char)aTextEscapes[iNamed].cByte != c)
            iNamed++;
        uint32_t uCode = 0;
        size_t uLen = c >= 0x80 ? Utf8Sequence((unsigned char const *)ps + i, n - i, &uCode) : 0;
        if (iNamed < TEXT_ESCAPES_WRITTEN) {
            *pc++ = '\\';
            *pc++ = aTextEscapes[iNamed].cLetter;
        } else if (c >= 0x20 && c < 0x7f) {
            *pc++ = (char)c;
        } else if (uLen > 0 && uCode >= 0xa0) {
            /* A character, whatever the locale; the C1 controls stay escaped. */
            memcpy(pc, ps + i, uLen);
            pc += uLen;
            i += uLen - 1;
        } else {
            /* Three digits always, so a digit that follows is not taken in. */
            *pc++ = '\\';
            *pc++ = (char)('0' + (c >> 6));
            *pc++ = (char)('0' + ((c >> 3) & 7));
            *pc++ = (char)('0' + (c & 7));
        }
    }
    *pc++ = '"';
    *pc = '\0';
    return psOut;
}

size_t Utf8Sequence(unsigned char const *p, size_t n, uint32_t *puCode)
{
    /* By lead byte: length, the bits it gives, and the least code point
     * that needs that length. */
    static const struct {
        unsigned char ucMask, ucLead;
        size_t uLength;
        uint32_t uLeast;
    } aForms[] = {
        {0x80, 0x00, 1, 0}, {0xe0, 0xc0, 2, 0x80}, {0xf0, 0xe0, 3, 0x800}, {0xf8, 0xf0, 4, 0x10000},
    };
    for (size_t f = 0; f < sizeof aForms / sizeof aForms[0]; f++) {
        if ((p[0] & aForms[f].ucMask) != aForms[f].ucLead)
            continue;
        size_t uLen = aForms[f].uLength;
        if (uLen > n)
            return 0;
        uint32_t u = p[0] & (uint32_t)(0x7f >> (uLen - 1 + (uLen > 1)));
        for (size_t i = 1; i < uLen; i++) {
            if ((p[i] & 0xc0) != 0x80)
                return 0;
            u = (u << 6) | (p[i] & 0x3f);
        }
        if (u < aForms[f].uLeast || u > 0x10ffff || (u >= 0xd800 && u <= 0xdfff))
            return 0;
        *puCode = u;
        return uLen;
    }
    return 0;
}

int IsUtf8(char const *p, size_t n)
{
    size_t i = 0;
    uint32_t u;
    while (i < n) {
        size_t uLen = Utf8Sequence((unsigned char const *)p + i, n - i, &u);
        if (uLen == 0)
            return 0;
        i += uLen;
    }
    return 1;
}

char *JsonText(char const *ps)
{
    /* The escapes JSON has by name: the byte and the letter after the
     * backslash. */
    static const struct {
        char cByte;
        char cLetter;
    } aJsonEscapes[] = {
        {'"', '"'}, {'\\', '\\'}, {'\b', 'b'}, {'\f', 'f'}, {'\n', 'n'}, {'\r', 'r'}, {'\t', 't'},
    };
    static const char acHex[] = "0123456789abcdef";
    static const char acBytesOpen[] = "{\"bytes\": ";
    if (ps == NULL)
        return strdup("null");
    size_t n = strlen(ps);
    int bUtf8 = IsUtf8(ps, n);
    if (n > (SIZE_MAX - 16) / 6)
        return NULL;
    char *psOut = (char *)malloc(6 * n + 16);
    if (psOut == NULL)
        return NULL;
    char *pc = psOut;
    if (!bUtf8) {
        memcpy(pc, acBytesOpen, sizeof acBytesOpen - 1);
        pc += sizeof acBytesOpen - 1;
    }
    *pc++ = '"';
    for (size_t i = 0; i < n; i++) {
        unsigned char c = (unsigned char)ps[i];
        size_t uNamed = 0;
        while (uNamed < sizeof aJsonEscapes / sizeof aJsonEscapes[0] &&
               (unsigned char)aJsonEscapes[uNamed].cByte != c)
            uNamed++;
        if (uNamed < sizeof aJsonEscapes / sizeof aJsonEscapes[0]) {
            *pc++ = '\\';
            *pc++ = aJsonEscapes[uNamed].cLetter;
        } else if ((c >= 0x20 && c < 0x7f) || (c >= 0x80 && bUtf8)) {
            *pc++ = (char)c;
        } else {
            /* A control character, or byte c of a text that is not UTF-8. */
            memcpy(pc, "\\u00", 4);
            pc[4] = acHex[c >> 4];
            pc[5] = acHex[c & 15];
            pc += 6;
        }
    }
    *pc++ = '"';
    if (!bUtf8)
        *pc++ = '}';
    *pc = '\0';
    return psOut;
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
    struct MorvField const *pf = &aMorvFields[it.iField];
    if (pf->eKind == MFK_TEXT || pf->eKind == MFK_TEXT_PAIR)
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
    /* In other case: taken when it names one setting only. */
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
    if (iMatches == 1) {
        *pItem = aItems[iFound];
        return 1;
    }
    char acNear[80];
    NearestName(psName, aItems, iItems, acNear, sizeof acNear);
    snprintf(psError, uError,
             "no stored setting is named \"%.80s\" (%s%s%sdump lists them)",
             psName, acNear[0] != '\0' ? "did you mean " : "", acNear,
             acNear[0] != '\0' ? "? " : "");
    return 0;
}

int FindPair(char const *psName)
{
    /* No two pairs' names differ in case alone. */
    for (int i = 0; i < MORV_FIELD_COUNT; i++)
        if (aMorvFields[i].eKind == MFK_TEXT_PAIR && strcasecmp(aMorvFields[i].psName, psName) == 0)
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

int PairRowsAreStorable(int iField, char const *const apsNames[2], char *psError, size_t uError)
{
    if (PairFault(iField) == 0)
        return 1;
    if (psError != NULL)
        snprintf(psError, uError, "%s and %s must both hold a text, or both be empty", apsNames[0],
                 apsNames[1]);
    return 0;
}

/* ---- The values of a whole state --------------------------------------- */

void FreeValues(struct MorvValues *pv)
{
    for (int k = 0; k < MORV_MAX_ITEMS; k++) {
        free(pv->apsPlain[k]);
        free(pv->apsJson[k]);
    }
    memset(pv, 0, sizeof *pv);
}

int TakeStoreValues(struct MorvValues *pv)
{
    memset(pv, 0, sizeof *pv);
    pv->iItems = AllItems(pv->aItems, MORV_MAX_ITEMS);
    if (pv->iItems < 0)
        pv->iItems = 0;
    for (int k = 0; k < pv->iItems; k++) {
        pv->apsPlain[k] = FormatItemValue(pv->aItems[k]);
        pv->apsJson[k] = FormatItemJson(pv->aItems[k]);
        if (pv->apsPlain[k] == NULL || pv->apsJson[k] == NULL) {
            FreeValues(pv);
            return 0;
        }
    }
    return 1;
}

int ItemDiffers(struct MorvValues const *pa, struct MorvValues const *pb, int k)
{
    return k >= 0 && k < pa->iItems && k < pb->iItems && pa->apsPlain[k] != NULL &&
           pb->apsPlain[k] != NULL && strcmp(pa->apsPlain[k], pb->apsPlain[k]) != 0;
}

/* The form of one difference: name, old value, new value. */
static const char acDifference[] = "%s: %s -> %s";

void FormatDifference(struct MorvValues const *pa, struct MorvValues const *pb, int k, char *psOut,
                      size_t uOut)
{
    if (uOut > 0)
        psOut[0] = '\0';
    if (!ItemDiffers(pa, pb, k))
        return;
    char acName[64];
    ItemName(pa->aItems[k], acName, sizeof acName);
    snprintf(psOut, uOut, acDifference, acName, pa->apsPlain[k], pb->apsPlain[k]);
}

void PrintDifference(FILE *f, struct MorvValues const *pa, struct MorvValues const *pb, int k)
{
    if (!ItemDiffers(pa, pb, k))
        return;
    char acName[64];
    ItemName(pa->aItems[k], acName, sizeof acName);
    fprintf(f, acDifference, acName, pa->apsPlain[k], pb->apsPlain[k]);
    fputc('\n', f);
}

/* ---- A file's values beside the store's ---------------------------------- */

/* The store set aside while a file is read into it: the non-text values
 * as bytes, and the texts themselves, whose pointers others (the editor's
 * catalogue rows) may hold. */
struct StoreStash {
    unsigned char ab[MORV_FIELD_COUNT][sizeof iFlagParserMode];
    char *aps[MORV_FIELD_COUNT][2];
};

/* The text slots of field i: its single text, or the two of its pair.
 * Returns their number, 0 for a field without text. */
static int TextSlots(int i, char ***papps)
{
    struct MorvField const *pf = &aMorvFields[i];
    if (pf->eKind == MFK_TEXT) {
        papps[0] = (char **)pf->pSetting;
        return 1;
    }
    if (pf->eKind == MFK_TEXT_PAIR) {
        papps[0] = &((char **)pf->pSetting)[0];
        papps[1] = &((char **)pf->pSetting)[1];
        return 2;
    }
    return 0;
}

/* Puts the stash back: the texts in the store now are freed, the set-aside
 * ones return to their places. */
static void RestoreStore(struct StoreStash *ps)
{
    for (int i = 0; i < MORV_FIELD_COUNT; i++) {
        char **apps[2];
        int n = TextSlots(i, apps);
        for (int k = 0; k < n; k++) {
            free(*apps[k]);
            *apps[k] = ps->aps[i][k];
        }
        if (n == 0)
            memcpy(aMorvFields[i].pSetting, ps->ab[i], FieldBytes(&aMorvFields[i]));
    }
}

/* Sets the store aside into *ps, leaving copies of the texts in their
 * places so that a reading that keeps a text finds it.  Returns 1; 0 when
 * memory runs out, with the store as it was. */
static int StashStore(struct StoreStash *ps)
{
    int bOk = 1;
    for (int i = 0; i < MORV_FIELD_COUNT; i++) {
        char **apps[2];
        int n = TextSlots(i, apps);
        ps->aps[i][0] = ps->aps[i][1] = NULL;
        for (int k = 0; k < n; k++) {
            ps->aps[i][k] = *apps[k];
            *apps[k] = NULL;
            if (ps->aps[i][k] != NULL && (*apps[k] = strdup(ps->aps[i][k])) == NULL)
                bOk = 0;
        }
        if (n == 0)
            memcpy(ps->ab[i], aMorvFields[i].pSetting, FieldBytes(&aMorvFields[i]));
    }
    if (!bOk)
        RestoreStore(ps);
    return bOk;
}

int TakeFileValues(struct MorvSnapshot const *pSnap, int bDefaults, struct MorvValues *pv,
                   struct MorvLoadReport *pReport)
{
    memset(pv, 0, sizeof *pv);
    /* Large: the stash holds an iFlagParserMode's room for every field. */
    struct StoreStash *ps = (struct StoreStash *)malloc(sizeof *ps);
    if (ps == NULL)
        return 0;
    if (!StashStore(ps)) {
        free(ps);
        return 0;
    }
    struct MorvLoadReport r;
    struct MorvLayout layout = {0, 0, NULL, 0};
    DecodeFile(pSnap, 0, &r, &layout);
    FreeLayout(&layout);
    if (bDefaults)
        InstallTextDefaults(r.eOutcome);
    int bOk = TakeStoreValues(pv);
    RestoreStore(ps);
    free(ps);
    if (pReport != NULL)
        *pReport = r;
    return bOk;
}
