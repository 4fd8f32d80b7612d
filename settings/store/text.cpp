/* Texts as people read and type them: C-quoted with escapes, JSON
 * strings, UTF-8 checked, decimal integers read strictly, words for the
 * shell.  Knows nothing of the settings: the store's items and the dump's
 * forms are made of these. */
#include "settings/store/text.h"

#include <errno.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const struct TextEscape aTextEscapes[TEXT_ESCAPES] = {
    {'"', '"'}, {'\\', '\\'}, {'\a', 'a'}, {'\b', 'b'}, {'\f', 'f'}, {'\n', 'n'},
    {'\r', 'r'}, {'\t', 't'},  {'\v', 'v'}, {'\'', '\''}, {'?', '?'},
};

/* ---- Writing a text so that every byte is seen ------------------------- */

/* What becomes of the bytes from 0x80 on. */
enum HighBytes {
    HIGH_AS_IS,        /* written as they are */
    HIGH_CHARACTERS,   /* as they are where they make a UTF-8 character from U+00A0 on */
    HIGH_IF_UTF8       /* as they are when the whole text is UTF-8 */
};

/* A way of writing a text: the bytes with a name after a backslash, what
 * becomes of the high bytes, and how the other bytes are escaped. */
struct Dialect {
    struct TextEscape const *aNamed;
    int iNamed;
    enum HighBytes eHigh;
    int bHex;   /* 1: as \u00XX (JSON); 0: as three octal digits, always three,
                   so that a digit that follows is not taken in */
};

static const struct TextEscape aJsonEscapes[] = {
    {'"', '"'}, {'\\', '\\'}, {'\b', 'b'}, {'\f', 'f'}, {'\n', 'n'}, {'\r', 'r'}, {'\t', 't'},
};
static const struct TextEscape aControlEscapes[] = {{'\n', 'n'}, {'\t', 't'}, {'\r', 'r'}};

static const struct Dialect dQuoted = {aTextEscapes, TEXT_ESCAPES_WRITTEN, HIGH_CHARACTERS, 0};
static const struct Dialect dJson = {aJsonEscapes, 7, HIGH_IF_UTF8, 1};
static const struct Dialect dControls = {aControlEscapes, 3, HIGH_AS_IS, 0};

/* Writes ps between psOpen and psClose as *pd says; bUtf8 tells that ps
 * is valid UTF-8.  Returns a malloc'd text, or null when memory runs out. */
static char *Written(char const *psOpen, char const *ps, struct Dialect const *pd, int bUtf8,
                     char const *psClose)
{
    static const char acHex[] = "0123456789abcdef";
    size_t n = strlen(ps), uOpen = strlen(psOpen), uClose = strlen(psClose);
    if (n > (SIZE_MAX - 32) / 6)
        return NULL;
    char *psOut = (char *)malloc(6 * n + uOpen + uClose + 1);
    if (psOut == NULL)
        return NULL;
    memcpy(psOut, psOpen, uOpen);
    char *pc = psOut + uOpen;
    for (size_t i = 0; i < n; i++) {
        unsigned char c = (unsigned char)ps[i];
        int k = 0;
        while (k < pd->iNamed && (unsigned char)pd->aNamed[k].cByte != c)
            k++;
        uint32_t uCode = 0;
        size_t uLen = c >= 0x80 && pd->eHigh == HIGH_CHARACTERS
                          ? Utf8Sequence((unsigned char const *)ps + i, n - i, &uCode) : 0;
        if (k < pd->iNamed) {
            *pc++ = '\\';
            *pc++ = pd->aNamed[k].cLetter;
        } else if ((c >= 0x20 && c < 0x7f) ||
                   (c >= 0x80 && (pd->eHigh == HIGH_AS_IS || (pd->eHigh == HIGH_IF_UTF8 && bUtf8)))) {
            *pc++ = (char)c;
        } else if (uLen > 0 && uCode >= 0xa0) {
            /* A character, whatever the locale; the C1 controls stay escaped. */
            memcpy(pc, ps + i, uLen);
            pc += uLen;
            i += uLen - 1;
        } else if (pd->bHex) {
            memcpy(pc, "\\u00", 4);
            pc[4] = acHex[c >> 4];
            pc[5] = acHex[c & 15];
            pc += 6;
        } else {
            *pc++ = '\\';
            *pc++ = (char)('0' + (c >> 6));
            *pc++ = (char)('0' + ((c >> 3) & 7));
            *pc++ = (char)('0' + (c & 7));
        }
    }
    memcpy(pc, psClose, uClose + 1);
    return psOut;
}

char *QuoteText(char const *ps)
{
    return ps == NULL ? strdup("absent") : Written("\"", ps, &dQuoted, 0, "\"");
}

char *EscapeControls(char const *ps)
{
    return Written("", ps, &dControls, 0, "");
}

char *JsonText(char const *ps)
{
    if (ps == NULL)
        return strdup("null");
    /* Any other text is one character per byte, U+0000 to U+00FF. */
    int bUtf8 = IsUtf8(ps, strlen(ps));
    return Written(bUtf8 ? "\"" : "{\"bytes\": \"", ps, &dJson, bUtf8, bUtf8 ? "\"" : "\"}");
}

/* ---- Reading and checking ------------------------------------------------ */

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

/* c as ContainsWord compares it: lower case, and every blank a space. */
static char Folded(char c)
{
    if (c == '\t' || c == '\n')
        return ' ';
    return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
}

int ContainsWord(char const *psText, char const *psWord)
{
    if (psText == NULL)
        return 0;
    for (char const *p = psText;; p++) {
        size_t k = 0;
        while (psWord[k] != '\0' && Folded(p[k]) == Folded(psWord[k]))
            k++;
        if (psWord[k] == '\0')
            return 1;
        if (*p == '\0')
            return 0;
    }
}

int HexDigit(char c)
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

void ShellWord(char const *psText, char *psOut, size_t uOut)
{
    if (psText[0] != '\0' && psText[strspn(psText, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                                   "0123456789/._+-,:@%=")] == '\0') {
        snprintf(psOut, uOut, "%s", psText);
        return;
    }
    size_t u = (size_t)snprintf(psOut, uOut, "'");
    for (char const *ps = psText; *ps != '\0' && u < uOut; ps++) {
        /* A quote ends the quoted text, is escaped, and quoting begins again. */
        if (*ps == '\'')
            u += (size_t)snprintf(psOut + u, uOut - u, "'\\''");
        else
            u += (size_t)snprintf(psOut + u, uOut - u, "%c", *ps);
    }
    if (u < uOut)
        snprintf(psOut + u, uOut - u, "'");
}

size_t ByteOrderMark(char const *pText, size_t uSize)
{
    return uSize >= 3 && memcmp(pText, "\xef\xbb\xbf", 3) == 0 ? 3 : 0;
}

void AddText(struct MorvText *pt, char const *psFormat, ...)
{
    va_list ap;
    va_start(ap, psFormat);
    int n = pt->bFailed ? -1 : vsnprintf(NULL, 0, psFormat, ap);
    va_end(ap);
    if (n < 0) {
        pt->bFailed = 1;
        return;
    }
    if (pt->uCap - pt->uLen <= (size_t)n) {
        size_t uCap = (pt->uLen + (size_t)n + 1) * 2;
        char *p = (char *)realloc(pt->p, uCap);
        if (p == NULL) {
            pt->bFailed = 1;
            return;
        }
        pt->p = p;
        pt->uCap = uCap;
    }
    va_start(ap, psFormat);
    vsnprintf(pt->p + pt->uLen, pt->uCap - pt->uLen, psFormat, ap);
    va_end(ap);
    pt->uLen += (size_t)n;
}

char *TakeText(struct MorvText *pt, size_t *puLen)
{
    char *p = pt->bFailed ? NULL : pt->p != NULL ? pt->p : strdup("");
    if (p == NULL)
        free(pt->p);
    else if (puLen != NULL)
        *puLen = pt->uLen;
    memset(pt, 0, sizeof *pt);
    return p;
}
