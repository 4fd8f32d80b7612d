/* The stored settings item by item: their names, their values as text and
 * as JSON, and the values of the whole store or of a file taken as text, so
 * that the editor and morvrc_tool name a change the same way. */
#include "settings/morvrc_items.h"

#include "settings/morv.h"
#include "settings/morvrc.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
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

char **ItemText(struct MorvItem it)
{
    struct MorvField const *pf = &aMorvFields[it.iField];
    if (pf->eKind == MFK_TEXT_PAIR)
        return &((char **)pf->pSetting)[it.iElement];
    return (char **)pf->pSetting;
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
        if (iNamed < TEXT_ESCAPES_WRITTEN) {
            *pc++ = '\\';
            *pc++ = aTextEscapes[iNamed].cLetter;
        } else if (c >= 0x20 && c < 0x7f) {
            *pc++ = (char)c;
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
