/* "name = value" lines for morvrc_tool: the dump written from the settings
 * store beside its reader, which takes back load's lines, text that users
 * paste and edit, checked and applied to the store line by line. */
#include "settings/morvrc/lines.h"

#include "settings/store/text.h"
#include "settings/store/values.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

char *FormatSettingLine(struct MorvItem it)
{
    char acName[64];
    ItemName(it, acName, sizeof acName);
    char *psValue = FormatItemValue(it);
    if (psValue == NULL)
        return NULL;
    size_t uSize = strlen(acName) + 3 + strlen(psValue) + 1;
    char *psLine = (char *)malloc(uSize);
    if (psLine != NULL)
        snprintf(psLine, uSize, "%s = %s", acName, psValue);
    free(psValue);
    return psLine;
}

char *FormatDump(struct MorvReadInfo const *pInfo, int bWhole, size_t *puLen)
{
    struct MorvText t = {NULL, 0, 0, 0};
    AddText(&t, "# morvrc version %d\n", pInfo->iVersion);
    struct MorvItem aItems[MORV_MAX_ITEMS];
    int iItems = AllItems(aItems, MORV_MAX_ITEMS);
    for (int k = 0; k < iItems && FieldRead(aItems[k].iField, pInfo); k++) {
        char *psLine = FormatSettingLine(aItems[k]);
        if (psLine == NULL)
            t.bFailed = 1;
        else
            AddText(&t, "%s\n", psLine);
        free(psLine);
    }
    if (bWhole && pInfo->llConsumed < pInfo->llSize)
        AddText(&t, "# %lld bytes after the last field: fields of version %d not shown\n",
                pInfo->llSize - pInfo->llConsumed, pInfo->iVersion);
    return TakeText(&t, puLen);
}

char *FormatChangedLines(struct MorvValues const *pBefore, size_t *puLen)
{
    struct MorvValues after;
    struct MorvText t = {NULL, 0, 0, !TakeStoreValues(&after)};
    AddText(&t, "# only the settings you changed; the others are as the file holds them\n");
    for (int k = 0; k < after.iItems; k++) {
        if (!ItemDiffers(pBefore, &after, k))
            continue;
        char *psLine = FormatSettingLine(after.aItems[k]);
        if (psLine != NULL)
            AddText(&t, "%s\n", psLine);
        t.bFailed |= psLine == NULL;
        free(psLine);
    }
    FreeValues(&after);
    return TakeText(&t, puLen);
}

/* Whether c is a blank or a tab. */
static int IsBlank(char c) { return c == ' ' || c == '\t'; }

/* Applies one line, psLine (a text of its own, already cut at its line
 * feed), and records in aiPairLine the line number iLine for a pair it
 * touches.  Returns 1 for a line applied or skipped; 0 with the reason in
 * psWhy. */
static int ApplyLine(char *psLine, int iLine, int iTimeBytes, int *aiPairLine,
                     unsigned char *abTouched, char *psWhy, size_t uWhy)
{
    size_t uEnd = strlen(psLine);
    while (uEnd > 0 && (IsBlank(psLine[uEnd - 1]) || psLine[uEnd - 1] == '\r'))
        psLine[--uEnd] = '\0';
    char *ps = psLine;
    while (IsBlank(*ps))
        ps++;
    if (*ps == '\0' || *ps == '#')
        return 1;

    char *psName = ps;
    while (*ps != '\0' && *ps != '=' && !IsBlank(*ps))
        ps++;
    char *psNameEnd = ps;
    while (IsBlank(*ps))
        ps++;
    if (*ps != '=' || psNameEnd == psName) {
        snprintf(psWhy, uWhy, "expected NAME = VALUE, as dump prints it");
        return 0;
    }
    *psNameEnd = '\0';
    ps++;
    while (IsBlank(*ps))
        ps++;

    struct MorvItem it;
    if (!FindItem(psName, &it, psWhy, uWhy))
        return 0;
    if (!SetItemValue(it, ps, iTimeBytes, psWhy, uWhy))
        return 0;
    if (aMorvFields[it.iField].eKind == MFK_TEXT_PAIR)
        aiPairLine[it.iField] = iLine;
    int k = ItemIndex(it);
    if (abTouched != NULL && k >= 0)
        abTouched[k] = 1;
    return 1;
}

int ApplySettingLines(char const *pText, size_t uSize, int iTimeBytes, int *piLine, char *psWhy,
                      size_t uWhy, unsigned char *abTouched)
{
    /* The last line that touched each text pair, by field; 0 for none. */
    int aiPairLine[MORV_FIELD_COUNT] = {0};
    size_t uAt = ByteOrderMark(pText, uSize);
    int iLine = 0;
    *piLine = 0;
    while (uAt < uSize) {
        char const *pEnd = (char const *)memchr(pText + uAt, '\n', uSize - uAt);
        size_t uLen = pEnd != NULL ? (size_t)(pEnd - (pText + uAt)) : uSize - uAt;
        iLine++;
        *piLine = iLine;
        if (memchr(pText + uAt, '\0', uLen) != NULL) {
            snprintf(psWhy, uWhy, "the line holds a zero byte");
            return 0;
        }
        char *psLine = (char *)malloc(uLen + 1);
        if (psLine == NULL) {
            snprintf(psWhy, uWhy, "out of memory");
            return 0;
        }
        memcpy(psLine, pText + uAt, uLen);
        psLine[uLen] = '\0';
        int bApplied = ApplyLine(psLine, iLine, iTimeBytes, aiPairLine, abTouched, psWhy, uWhy);
        free(psLine);
        if (!bApplied)
            return 0;
        uAt += uLen + (pEnd != NULL ? 1 : 0);
    }
    for (int i = 0; i < MORV_FIELD_COUNT; i++) {
        if (aiPairLine[i] != 0 && !PairIsStorable(i, psWhy, uWhy)) {
            *piLine = aiPairLine[i];
            return 0;
        }
    }
    return 1;
}

enum MorvTextForm TextFormOf(unsigned char const *p, size_t uSize)
{
    char const *ps = (char const *)p;
    if (uSize == 0 || memchr(ps, '\0', uSize) != NULL)
        return MTF_NONE;
    size_t uAt = ByteOrderMark(ps, uSize);
    for (;;) {
        while (uAt < uSize && (IsBlank(ps[uAt]) || ps[uAt] == '\n' || ps[uAt] == '\r'))
            uAt++;
        if (uAt == uSize)
            return MTF_NONE;
        if (ps[uAt] == '{')
            return MTF_JSON;
        char const *pEnd = (char const *)memchr(ps + uAt, '\n', uSize - uAt);
        size_t uLen = pEnd != NULL ? (size_t)(pEnd - (ps + uAt)) : uSize - uAt;
        static const char acHeading[] = "# morvrc version";
        if (uLen >= sizeof acHeading - 1 && memcmp(ps + uAt, acHeading, sizeof acHeading - 1) == 0)
            return MTF_LINES;
        if (ps[uAt] != '#') {
            /* The name alone, cut at the blanks or the "=" after it. */
            char acName[80], acWhy[256];
            size_t uName = 0;
            while (uName < uLen && uName < sizeof acName - 1 && !IsBlank(ps[uAt + uName]) &&
                   ps[uAt + uName] != '=')
                uName++;
            memcpy(acName, ps + uAt, uName);
            acName[uName] = '\0';
            size_t uEq = uName;
            while (uEq < uLen && IsBlank(ps[uAt + uEq]))
                uEq++;
            struct MorvItem it;
            return uEq < uLen && ps[uAt + uEq] == '=' && FindItem(acName, &it, acWhy, sizeof acWhy)
                       ? MTF_LINES
                       : MTF_NONE;
        }
        uAt += uLen;
    }
}
