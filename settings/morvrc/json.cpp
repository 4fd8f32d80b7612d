/* The settings as a JSON document: dump --json's writer, and the reader
 * that load --json applies, bounded in depth and checked byte by byte,
 * since users pipe the document through jq and their own scripts. */
#include "settings/morvrc/json.h"

#include "settings/store/items.h"
#include "settings/store/text.h"

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Deepest nesting that the reader follows in members it skips. */
#define JSON_MAX_DEPTH 64

/* A document being read. */
struct Json {
    unsigned char const *p;
    size_t n, uAt;
    char *psWhy;
    size_t uWhy;
};

/* Records why the document is bad, at the current byte.  Returns 0. */
static int Fail(struct Json *pj, char const *psFormat, ...) __attribute__((format(printf, 2, 3)));
static int Fail(struct Json *pj, char const *psFormat, ...)
{
    int n = snprintf(pj->psWhy, pj->uWhy, "byte %zu: ", pj->uAt);
    if (n >= 0 && (size_t)n < pj->uWhy) {
        va_list ap;
        va_start(ap, psFormat);
        vsnprintf(pj->psWhy + n, pj->uWhy - (size_t)n, psFormat, ap);
        va_end(ap);
    }
    return 0;
}

/* Skips blanks; returns the next byte, or -1 at the end. */
static int Peek(struct Json *pj)
{
    while (pj->uAt < pj->n && strchr(" \t\r\n", pj->p[pj->uAt]) != NULL && pj->p[pj->uAt] != 0)
        pj->uAt++;
    return pj->uAt < pj->n ? pj->p[pj->uAt] : -1;
}

/* Takes byte c after blanks.  Returns 1, or 0 after Fail. */
static int Expect(struct Json *pj, char c)
{
    if (Peek(pj) != (unsigned char)c)
        return Fail(pj, "expected '%c'", c);
    pj->uAt++;
    return 1;
}

/* The value of four hex digits at the current byte, or -1. */
static long Hex4(struct Json *pj)
{
    long l = 0;
    for (int i = 0; i < 4; i++) {
        if (pj->uAt >= pj->n)
            return -1;
        int d = HexDigit((char)pj->p[pj->uAt++]);
        if (d < 0)
            return -1;
        l = l * 16 + d;
    }
    return l;
}

/* Reads a string into a malloc'd array of code points (*ppu, *pu).
 * Returns 1, or 0 after Fail with nothing allocated. */
static int ReadString(struct Json *pj, uint32_t **ppu, size_t *pu)
{
    if (!Expect(pj, '"'))
        return 0;
    /* No string has more characters than the document has bytes. */
    uint32_t *au = (uint32_t *)malloc((pj->n - pj->uAt + 1) * sizeof *au);
    if (au == NULL)
        return Fail(pj, "out of memory");
    size_t u = 0;
    for (;;) {
        if (pj->uAt >= pj->n) {
            free(au);
            return Fail(pj, "the string has no closing quote");
        }
        unsigned char c = pj->p[pj->uAt];
        if (c == '"') {
            pj->uAt++;
            break;
        }
        if (c < 0x20) {
            free(au);
            return Fail(pj, "a control byte inside a string must be escaped");
        }
        if (c != '\\') {
            uint32_t uCode;
            size_t uLen = Utf8Sequence(pj->p + pj->uAt, pj->n - pj->uAt, &uCode);
            if (uLen == 0) {
                free(au);
                return Fail(pj, "the document is not UTF-8 here");
            }
            au[u++] = uCode;
            pj->uAt += uLen;
            continue;
        }
        pj->uAt++;
        static const char acNamed[] = "\"\"\\\\//b\bf\fn\nr\rt\t";
        char cEscape = pj->uAt < pj->n ? (char)pj->p[pj->uAt++] : '\0';
        char const *pcNamed = NULL;
        for (size_t k = 0; cEscape != '\0' && k + 1 < sizeof acNamed; k += 2)
            if (acNamed[k] == cEscape)
                pcNamed = &acNamed[k + 1];
        if (pcNamed != NULL) {
            au[u++] = (unsigned char)*pcNamed;
            continue;
        }
        long l = cEscape == 'u' ? Hex4(pj) : -1;
        if (l >= 0xd800 && l <= 0xdbff) {
            /* A surrogate pair: the low half must follow at once. */
            long lLow = -1;
            if (pj->uAt + 1 < pj->n && pj->p[pj->uAt] == '\\' && pj->p[pj->uAt + 1] == 'u') {
                pj->uAt += 2;
                lLow = Hex4(pj);
            }
            l = lLow >= 0xdc00 && lLow <= 0xdfff ? 0x10000 + ((l - 0xd800) << 10) + (lLow - 0xdc00)
                                                 : -1;
        } else if (l >= 0xdc00 && l <= 0xdfff) {
            l = -1;
        }
        if (l < 0) {
            free(au);
            return Fail(pj, "a bad escape in a string");
        }
        au[u++] = (uint32_t)l;
    }
    *ppu = au;
    *pu = u;
    return 1;
}

/* Steps over what follows a member or an element: a ',' (returns 1) or
 * cClose (returns 2).  Anything else is 0, after Fail. */
static int NextOrClose(struct Json *pj, char cClose)
{
    int c = Peek(pj);
    pj->uAt++;
    if (c == cClose)
        return 2;
    if (c == ',')
        return 1;
    pj->uAt--;
    return Fail(pj, "expected ',' or '%c'", cClose);
}

/* Whether the u code points au spell psWord. */
static int KeyIs(uint32_t const *au, size_t u, char const *psWord)
{
    size_t n = strlen(psWord);
    if (u != n)
        return 0;
    for (size_t i = 0; i < n; i++)
        if (au[i] != (uint32_t)(unsigned char)psWord[i])
            return 0;
    return 1;
}

/* Skips one value of any kind, at most JSON_MAX_DEPTH deep.  Returns 1, or
 * 0 after Fail. */
static int SkipValue(struct Json *pj, int iDepth)
{
    if (iDepth > JSON_MAX_DEPTH)
        return Fail(pj, "nested deeper than %d", JSON_MAX_DEPTH);
    int c = Peek(pj);
    if (c == '"') {
        uint32_t *au;
        size_t u;
        if (!ReadString(pj, &au, &u))
            return 0;
        free(au);
        return 1;
    }
    if (c == '{' || c == '[') {
        char cClose = c == '{' ? '}' : ']';
        pj->uAt++;
        if (Peek(pj) == cClose) {
            pj->uAt++;
            return 1;
        }
        for (;;) {
            if (c == '{') {
                uint32_t *au;
                size_t u;
                if (!ReadString(pj, &au, &u))
                    return 0;
                free(au);
                if (!Expect(pj, ':'))
                    return 0;
            }
            if (!SkipValue(pj, iDepth + 1))
                return 0;
            int iNext = NextOrClose(pj, cClose);
            if (iNext != 1)
                return iNext == 2;
        }
    }
    /* Numbers and the words: a run of the bytes they are made of. */
    size_t uStart = pj->uAt;
    while (pj->uAt < pj->n && strchr("+-.0123456789eEtruefalsn", pj->p[pj->uAt]) != NULL &&
           pj->p[pj->uAt] != 0)
        pj->uAt++;
    if (pj->uAt == uStart)
        return Fail(pj, "expected a value");
    return 1;
}

/* Writes the code points au (u of them) into a malloc'd text: as UTF-8, or
 * with bBytes one byte each (every one U+0001 to U+00FF).  Returns it, or
 * null after Fail. */
static char *TextOf(struct Json *pj, uint32_t const *au, size_t u, int bBytes)
{
    char *ps = (char *)malloc(4 * u + 1);
    if (ps == NULL) {
        Fail(pj, "out of memory");
        return NULL;
    }
    size_t n = 0;
    for (size_t i = 0; i < u; i++) {
        uint32_t c = au[i];
        if (c == 0 || (bBytes && c > 0xff)) {
            free(ps);
            Fail(pj, c == 0 ? "a text cannot hold a zero byte"
                            : "a character of a \"bytes\" string is above \\u00ff");
            return NULL;
        }
        if (bBytes || c < 0x80) {
            ps[n++] = (char)c;
        } else if (c < 0x800) {
            ps[n++] = (char)(0xc0 | (c >> 6));
            ps[n++] = (char)(0x80 | (c & 0x3f));
        } else if (c < 0x10000) {
            ps[n++] = (char)(0xe0 | (c >> 12));
            ps[n++] = (char)(0x80 | ((c >> 6) & 0x3f));
            ps[n++] = (char)(0x80 | (c & 0x3f));
        } else {
            ps[n++] = (char)(0xf0 | (c >> 18));
            ps[n++] = (char)(0x80 | ((c >> 12) & 0x3f));
            ps[n++] = (char)(0x80 | ((c >> 6) & 0x3f));
            ps[n++] = (char)(0x80 | (c & 0x3f));
        }
    }
    ps[n] = '\0';
    return ps;
}

/* Reads a text value: a string, or {"bytes": "..."}.  Returns a malloc'd
 * text, or null after Fail. */
static char *ReadText(struct Json *pj)
{
    int bBytes = Peek(pj) == '{';
    if (bBytes) {
        pj->uAt++;
        uint32_t *auKey;
        size_t uKey;
        if (!ReadString(pj, &auKey, &uKey))
            return NULL;
        int bKey = KeyIs(auKey, uKey, "bytes");
        free(auKey);
        if (!bKey) {
            Fail(pj, "a text object holds one member, \"bytes\"");
            return NULL;
        }
        if (!Expect(pj, ':'))
            return NULL;
    }
    uint32_t *au;
    size_t u;
    if (!ReadString(pj, &au, &u))
        return NULL;
    char *ps = TextOf(pj, au, u, bBytes);
    free(au);
    if (ps != NULL && bBytes && !Expect(pj, '}')) {
        free(ps);
        return NULL;
    }
    return ps;
}

/* Reads a JSON number that is a whole number, as 20, 20.0, 2e1 or 200e-1,
 * into psOut (uOut bytes) in decimal digits.  Returns 1, or 0 for a number
 * that is not whole or not a number (a number of more than 20 digits is
 * written as it is, for the setting to refuse). */
static int ReadInteger(struct Json *pj, char *psOut, size_t uOut)
{
    char acDigits[48];
    size_t n = 0, uFraction = 0;
    long lExponent = 0;
    int bMinus = pj->uAt < pj->n && pj->p[pj->uAt] == '-', bFraction = 0, bDigit = 0;
    pj->uAt += (size_t)bMinus;
    for (; pj->uAt < pj->n; pj->uAt++) {
        unsigned char c = pj->p[pj->uAt];
        if (c == '.' && !bFraction && bDigit) {
            bFraction = 1;
        } else if (c >= '0' && c <= '9') {
            if (n + 1 >= sizeof acDigits)
                return 0;
            bDigit = 1;
            /* Leading zeros carry nothing. */
            if (n > 0 || c != '0')
                acDigits[n++] = (char)c;
            else if (!bFraction && pj->uAt + 1 < pj->n && pj->p[pj->uAt + 1] >= '0' &&
                     pj->p[pj->uAt + 1] <= '9')
                return 0;
            uFraction += (size_t)bFraction;
        } else {
            break;
        }
    }
    if (!bDigit)
        return 0;
    if (pj->uAt < pj->n && (pj->p[pj->uAt] == 'e' || pj->p[pj->uAt] == 'E')) {
        char *psEnd;
        char acExp[16];
        size_t k = 0;
        for (pj->uAt++; pj->uAt < pj->n && k + 1 < sizeof acExp &&
                        strchr("+-0123456789", pj->p[pj->uAt]) != NULL && pj->p[pj->uAt] != 0;)
            acExp[k++] = (char)pj->p[pj->uAt++];
        acExp[k] = '\0';
        lExponent = strtol(acExp, &psEnd, 10);
        if (k == 0 || *psEnd != '\0' || lExponent < -40 || lExponent > 40)
            return 0;
    }
    /* Whole when the digits past the point, less the exponent, are zeros. */
    lExponent -= (long)uFraction;
    while (lExponent < 0 && n > 0 && acDigits[n - 1] == '0') {
        n--;
        lExponent++;
    }
    if (lExponent < 0 && n > 0)
        return 0;
    if (n == 0)
        acDigits[n++] = '0', lExponent = 0;
    while (lExponent-- > 0 && n + 1 < sizeof acDigits)
        acDigits[n++] = '0';
    acDigits[n] = '\0';
    snprintf(psOut, uOut, "%s%s", bMinus && strcmp(acDigits, "0") != 0 ? "-" : "", acDigits);
    return 1;
}

/* Reads one member of "settings" and sets its item.  Returns 1, or 0 after
 * Fail. */
static int ApplyMember(struct Json *pj, int iTimeBytes, unsigned char *abTouched,
                       unsigned char *abPairs)
{
    uint32_t *au;
    size_t u;
    size_t uNameAt = pj->uAt;
    if (!ReadString(pj, &au, &u))
        return 0;
    char acName[96];
    size_t n = 0;
    for (size_t i = 0; i < u && n + 1 < sizeof acName; i++)
        acName[n++] = au[i] > 0x20 && au[i] < 0x7f ? (char)au[i] : '?';
    acName[n] = '\0';
    free(au);
    if (!Expect(pj, ':'))
        return 0;
    struct MorvItem it;
    char acWhy[400];
    if (!FindItem(acName, &it, acWhy, sizeof acWhy)) {
        pj->uAt = uNameAt;
        return Fail(pj, "%s", acWhy);
    }
    enum MorvFieldKind eKind = aMorvFields[it.iField].eKind;
    int bText = eKind == MFK_TEXT || eKind == MFK_TEXT_PAIR;
    int c = Peek(pj);
    size_t uValueAt = pj->uAt;
    char *psValue = NULL;
    if (bText && c == 'n' && pj->n - pj->uAt >= 4 && memcmp(pj->p + pj->uAt, "null", 4) == 0) {
        pj->uAt += 4;
        psValue = strdup("absent");
    } else if (bText && (c == '"' || c == '{')) {
        char *psText = ReadText(pj);
        if (psText == NULL)
            return 0;
        psValue = QuoteText(psText);
        free(psText);
    } else if (!bText && (c == '-' || (c >= '0' && c <= '9'))) {
        char acNumber[32];
        if (!ReadInteger(pj, acNumber, sizeof acNumber))
            return Fail(pj, "%s: expected an integer", acName);
        psValue = strdup(acNumber);
    } else {
        return Fail(pj, "%s takes %s", acName, bText ? "a string, {\"bytes\": ...} or null"
                                                     : "a whole number");
    }
    if (psValue == NULL)
        return Fail(pj, "out of memory");
    int bSet = SetItemValue(it, psValue, iTimeBytes, acWhy, sizeof acWhy);
    free(psValue);
    if (!bSet) {
        pj->uAt = uValueAt;
        return Fail(pj, "%s", acWhy);
    }
    int k = ItemIndex(it);
    if (abTouched != NULL && k >= 0)
        abTouched[k] = 1;
    if (eKind == MFK_TEXT_PAIR)
        abPairs[it.iField] = 1;
    return 1;
}

char *FormatJsonDump(struct MorvReadInfo const *pInfo, char const *psError)
{
    struct MorvText t = {NULL, 0, 0, 0};
    long long llAfter = pInfo->eResult == MORV_READ_OK ? pInfo->llSize - pInfo->llConsumed : 0;
    AddText(&t, "{\n  \"version\": %d,\n  \"bytes_after_last_field\": %lld,\n  \"settings\": {",
            pInfo->iVersion, llAfter);
    struct MorvItem aItems[MORV_MAX_ITEMS];
    int iItems = AllItems(aItems, MORV_MAX_ITEMS);
    for (int k = 0; k < iItems && FieldRead(aItems[k].iField, pInfo); k++) {
        char acName[64];
        ItemName(aItems[k], acName, sizeof acName);
        char *psValue = FormatItemJson(aItems[k]);
        /* The names are plain ASCII words with brackets: no escapes. */
        if (psValue == NULL)
            t.bFailed = 1;
        else
            AddText(&t, "%s    \"%s\": %s", k > 0 ? ",\n" : "\n", acName, psValue);
        free(psValue);
    }
    AddText(&t, "\n  }");
    if (psError != NULL)
        AddText(&t, ",\n  \"error\": %s", psError);
    AddText(&t, "\n}\n");
    return TakeText(&t, NULL);
}

int ApplyJsonSettings(char const *pText, size_t uSize, int iTimeBytes, char *psWhy, size_t uWhy,
                      unsigned char *abTouched)
{
    size_t uMark = ByteOrderMark(pText, uSize);
    struct Json j = {(unsigned char const *)pText + uMark, uSize - uMark, 0, psWhy, uWhy};
    unsigned char abPairs[MORV_FIELD_COUNT];
    memset(abPairs, 0, sizeof abPairs);
    int bSettings = 0;
    if (!Expect(&j, '{'))
        return 0;
    if (Peek(&j) == '}')
        j.uAt++;
    else
        for (;;) {
            uint32_t *au;
            size_t u;
            if (!ReadString(&j, &au, &u))
                return 0;
            int bThis = KeyIs(au, u, "settings");
            free(au);
            if (!Expect(&j, ':'))
                return 0;
            if (!bThis) {
                if (!SkipValue(&j, 1))
                    return 0;
            } else {
                if (bSettings)
                    return Fail(&j, "a second \"settings\" member");
                bSettings = 1;
                if (!Expect(&j, '{'))
                    return 0;
                int iNext = 1;
                if (Peek(&j) == '}') {
                    j.uAt++;
                    iNext = 2;
                }
                while (iNext == 1) {
                    if (!ApplyMember(&j, iTimeBytes, abTouched, abPairs))
                        return 0;
                    iNext = NextOrClose(&j, '}');
                }
                if (iNext == 0)
                    return 0;
            }
            int iNext = NextOrClose(&j, '}');
            if (iNext == 0)
                return 0;
            if (iNext == 2)
                break;
        }
    if (Peek(&j) != -1)
        return Fail(&j, "more after the document");
    if (!bSettings)
        return Fail(&j, "the document has no \"settings\" object, as dump --json writes it");
    for (int i = 0; i < MORV_FIELD_COUNT; i++) {
        if (abPairs[i] && !PairIsStorable(i, psWhy, uWhy))
            return 0;
    }
    return 1;
}
