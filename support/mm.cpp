/* The message catalogue: loads numbered, quoted texts with escapes from the
 * message files and hands them out by number, with a warning text for any
 * number that has none. */
#include "support/mm.h"

#include "support/function.h"
#include "support/xchat.h"

#include <ctype.h>
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#define MESSAGE_NUMBERS 10000
#define MESSAGE_LINE 4095   /* read buffer: a longer line comes in pieces */
#define MESSAGE_PATH 4095
#define WRAP_COLUMNS 80

char *apsMessageArray[MESSAGE_SLOTS];
char *psMessagePointer = NULL;
short ssFlagAlredyLoaded = 0;
int bQuietLoad = 0;

/* Prints a progress or warning line of the loader, unless bQuietLoad. */
static void Say(char const *psFormat, ...) __attribute__((format(printf, 1, 2)));
static void Say(char const *psFormat, ...)
{
    if (bQuietLoad)
        return;
    va_list ap;
    va_start(ap, psFormat);
    vprintf(psFormat, ap);
    va_end(ap);
}

/* Replaces in place every psPattern (uPatLen characters, at least one) in
 * psText by psReplace (uRepLen characters, no more than uPatLen), resuming
 * the search after each replacement.  Returns the number of replacements. */
static int ReplaceAll(char *psText, char const *psPattern, size_t uPatLen, char const *psReplace,
                      size_t uRepLen)
{
    int iCount = 0;
    char *p = psText;
    while ((p = strstr(p, psPattern)) != NULL) {
        memmove(p + uRepLen, p + uPatLen, strlen(p + uPatLen) + 1);
        memcpy(p, psReplace, uRepLen);
        p += uRepLen;
        iCount++;
    }
    return iCount;
}

int local_ustrfindreplace(char const *psPattern, char const *psReplace)
{
    if (psPattern == NULL || *psPattern == '\0' || psReplace == NULL || psMessagePointer == NULL ||
        *psMessagePointer == '\0' || strcmp(psPattern, psReplace) == 0)
        return 0;
    size_t uPatLen = strlen(psPattern);
    size_t uRepLen = strlen(psReplace);
    if (uRepLen > uPatLen)
        return 0;
    return ReplaceAll(psMessagePointer, psPattern, uPatLen, psReplace, uRepLen);
}

/* The written escapes of a message, in the order in which they are
 * resolved.  The order matters: "\n" goes first, and the colour codes with a
 * digit go before the bare one, so a two-digit colour keeps its second
 * digit.  The last entry, two backslashes to one, is resolved only after
 * the message has been wrapped. */
struct Escape {
    char const *psPattern;
    char const *psReplace;
    size_t uPatLen;
    size_t uRepLen;
};
#define ESCAPE(pattern, replace) {pattern, replace, sizeof pattern - 1, sizeof replace - 1}
enum {
    ESCAPE_NEWLINE, ESCAPE_TAB, ESCAPE_QUOTE, ESCAPE_XCHATV,
    ESCAPE_COLOUR_0, /* ... to ESCAPE_COLOUR_0 + 9 */
    ESCAPE_COLOUR = ESCAPE_COLOUR_0 + 10, ESCAPE_PLAIN, ESCAPE_BACKSLASHES,
    ESCAPE_COUNT
};
static const struct Escape aEscapes[ESCAPE_COUNT] = {
    ESCAPE("\\n", "\n"),     ESCAPE("\\t", "\t"),     ESCAPE("\\\"", "\""),
    ESCAPE(".xchatV", ".xchat"),
    ESCAPE("\\0030", ""),    ESCAPE("\\0031", ""),    ESCAPE("\\0032", ""),    ESCAPE("\\0033", ""),
    ESCAPE("\\0034", ""),    ESCAPE("\\0035", ""),    ESCAPE("\\0036", ""),    ESCAPE("\\0037", ""),
    ESCAPE("\\0038", ""),    ESCAPE("\\0039", ""),    ESCAPE("\\003", ""),     ESCAPE("\\017", ""),
    ESCAPE("\\\\", "\\"),
};

/* Which escapes may occur in psText: bit i stands for aEscapes[i].  One
 * scan of the backslashes finds every escape that begins with one, so a
 * text without backslashes is searched for none of them; ".xchatV" is
 * always searched for. */
static unsigned EscapesIn(char const *psText)
{
    unsigned uFound = 1u << ESCAPE_XCHATV;
    for (char const *p = strchr(psText, '\\'); p != NULL; p = strchr(p + 1, '\\')) {
        switch (p[1]) {
        case 'n':
            uFound |= 1u << ESCAPE_NEWLINE;
            break;
        case 't':
            uFound |= 1u << ESCAPE_TAB;
            break;
        case '"':
            uFound |= 1u << ESCAPE_QUOTE;
            break;
        case '\\':
            uFound |= 1u << ESCAPE_BACKSLASHES;
            break;
        case '0':
            if (p[2] == '0' && p[3] == '3') {
                uFound |= 1u << ESCAPE_COLOUR;
                if (p[4] >= '0' && p[4] <= '9')
                    uFound |= 1u << (ESCAPE_COLOUR_0 + (p[4] - '0'));
            } else if (p[2] == '1' && p[3] == '7') {
                uFound |= 1u << ESCAPE_PLAIN;
            }
            break;
        default:
            break;
        }
    }
    return uFound;
}

/* Resolves the escapes iFirst to iEnd - 1 in psText, in table order, and
 * returns what EscapesIn says of the result.  uFound is EscapesIn(psText).
 * Each escape is replaced exactly as a full search would, but one that does
 * not occur is not searched for.  The text only shrinks, so a replacement
 * can bring together a new escape; uFound is therefore taken again after
 * every escape that replaced something. */
static unsigned ResolveEscapes(char *psText, unsigned iFirst, unsigned iEnd, unsigned uFound)
{
    unsigned uRange = ((1u << iEnd) - 1) & ~((1u << iFirst) - 1);
    /* The escapes of the range that occur, lowest first. */
    for (unsigned uTodo = uFound & uRange; uTodo != 0; uTodo = uFound & uRange) {
        unsigned i = (unsigned)__builtin_ctz(uTodo);
        struct Escape const *pe = &aEscapes[i];
        uRange &= ~((2u << i) - 1); /* this one and those before it are done */
        if (ReplaceAll(psText, pe->psPattern, pe->uPatLen, pe->psReplace, pe->uRepLen) > 0)
            uFound = EscapesIn(psText);
    }
    return uFound;
}

/* Breaks the current message near every 80th column: for the k-th break the
 * last blank at or before index 80*k becomes a line feed.  Messages of up
 * to 81 characters stay as they are. */
static void WrapMessage(void)
{
    long lLen = (long)strlen(psMessagePointer);
    if (lLen - 1 <= WRAP_COLUMNS)
        return;
    for (long k = 1; k <= (lLen - 1) / WRAP_COLUMNS; k++) {
        for (long i = WRAP_COLUMNS * k; i >= 1; i--) {
            if (psMessagePointer[i] == ' ') {
                psMessagePointer[i] = '\n';
                break;
            }
        }
    }
}

/* Reads the number of a message line exactly as sscanf(psLine, "// %04d ")
 * does, without its cost on every line: two slashes, any white space (as
 * isspace has it), then a field of at most four characters holding an
 * optional sign and the digits.  Returns 1 and sets *piNumber when the
 * field holds at least one digit, 0 otherwise. */
static int ParseHeader(char const *psLine, int *piNumber)
{
    if (psLine[0] != '/' || psLine[1] != '/')
        return 0;
    char const *p = psLine + 2;
    while (isspace((unsigned char)*p))
        p++;
    int iWidth = 4;
    int bNegative = 0;
    if (*p == '-' || *p == '+') {
        bNegative = *p == '-';
        p++;
        iWidth--;
    }
    int iValue = 0;
    int iDigits = 0;
    for (; iWidth > 0 && *p >= '0' && *p <= '9'; p++, iWidth--, iDigits++)
        iValue = iValue * 10 + (*p - '0');
    if (iDigits == 0)
        return 0;
    *piNumber = bNegative ? -iValue : iValue;
    return 1;
}

/* The text of one message line as written, its escapes not yet resolved:
 * from after the first quote, without one trailing line feed and then one
 * trailing quote.  Returns it in a malloc'd block of the line's length;
 * null for a line without the quote at index 8, with nothing after the
 * first quote, or when memory runs out. */
static char *TakeMessageText(char const *psLine)
{
    size_t uLen = strlen(psLine);
    char const *psQuote = strchr(psLine, '"');
    if (psQuote == NULL || uLen <= 8 || psLine[8] != '"' || psQuote[1] == '\0')
        return NULL;
    char *psText = (char *)malloc(uLen);
    if (psText == NULL)
        return NULL;
    /* The text runs from after the quote to the end of the line. */
    size_t uText = uLen - (size_t)(psQuote + 1 - psLine);
    memcpy(psText, psQuote + 1, uText + 1);
    if (uText > 0 && psText[uText - 1] == '\n')
        psText[--uText] = '\0';
    if (uText > 0 && psText[uText - 1] == '"')
        psText[--uText] = '\0';
    return psText;
}

/* Stores the text of one message line (acLine holds a valid header with
 * number iNumber).  Lines without the quote at index 8, or with nothing
 * after the first quote, are ignored. */
static void StoreMessageLine(char const *psLine, int iNumber)
{
    char *psText = TakeMessageText(psLine);
    if (psText == NULL)
        return;
    free(apsMessageArray[iNumber]);
    apsMessageArray[iNumber] = psText;
    psMessagePointer = psText;
    unsigned uFound = ResolveEscapes(psText, 0, ESCAPE_BACKSLASHES, EscapesIn(psText));
    WrapMessage();
    /* The wrap turns blanks into line feeds, which neither makes nor breaks
     * a pair of backslashes, so uFound still holds for the last escape. */
    ResolveEscapes(psText, ESCAPE_BACKSLASHES, ESCAPE_COUNT, uFound);
}

/* The files that loads read to their end, oldest first, for
 * MessageBeforeWrap; the oldest give way when there are more. */
#define FILES_KEPT 4
static char aacLoaded[FILES_KEPT][MESSAGE_PATH];
static int iFilesLoaded = 0;

/* Remembers psPath as the newest file loaded. */
static void KeepLoadedPath(char const *psPath)
{
    if (iFilesLoaded == FILES_KEPT) {
        memmove(aacLoaded[0], aacLoaded[1], (FILES_KEPT - 1) * sizeof aacLoaded[0]);
        iFilesLoaded--;
    }
    snprintf(aacLoaded[iFilesLoaded++], sizeof aacLoaded[0], "%s", psPath);
}

/* The text of the last line of the file psPath that holds message
 * iNumber, as written (TakeMessageText).  Returns it malloc'd, or null. */
static char *FindMessageText(char const *psPath, int iNumber)
{
    FILE *f = fopen(psPath, "r");
    if (f == NULL)
        return NULL;
    char acLine[MESSAGE_LINE];
    char *psFound = NULL;
    int iHeaders = 0, iLineNumber;
    while (fgets(acLine, sizeof acLine, f) != NULL && iHeaders < MESSAGE_NUMBERS - 1) {
        if (acLine[0] == '#' || !ParseHeader(acLine, &iLineNumber))
            continue;
        iHeaders++;
        char *psText = iLineNumber == iNumber ? TakeMessageText(acLine) : NULL;
        if (psText != NULL) {
            free(psFound);
            psFound = psText;
        }
    }
    fclose(f);
    return psFound;
}

char *MessageBeforeWrap(int iNumber)
{
    if ((unsigned int)iNumber >= MESSAGE_NUMBERS || apsMessageArray[iNumber] == NULL ||
        apsMessageArray[iNumber][0] == '\0')
        return NULL;
    char *psText = NULL;
    for (int k = iFilesLoaded - 1; k >= 0 && psText == NULL; k--)
        psText = FindMessageText(aacLoaded[k], iNumber);
    if (psText != NULL)
        ResolveEscapes(psText, 0, ESCAPE_COUNT, EscapesIn(psText));
    return psText;
}

int LoadMessageFile(char const *psLanguage)
{
    if (!ssFlagAlredyLoaded) {
        Say("  - Initializing Memory Map File.\n");
        /* Texts left by an earlier load that stopped part way are freed,
         * not just forgotten. */
        FlushMessage();
    }
    if (psLanguage == NULL || *psLanguage == '\0')
        return 0;

    Say("  - Calculating Language File Path.\n");
    char const *psDirectory = XChatDirectory(iXChatVer);
    if (psDirectory == NULL)
        return 0;
    char acPath[MESSAGE_PATH];
    int iPath = snprintf(acPath, sizeof acPath, "%smorv_%s.msg", psDirectory, psLanguage);
    if (iPath < 0 || (size_t)iPath >= sizeof acPath)
        return 0; /* a cut path could name another file */

    Say("  - Parsing Language File ....");
    if (!velDeviceReady(acPath, "r")) {
        Say("ERROR: Unable to load file %s; reason: %s\n", acPath, strerror(errno));
        return 0;
    }
    FILE *f = fopen(acPath, "r");
    if (f == NULL)
        return 0;
    /* A message file is read whole: a large stdio buffer takes it in a few
     * dozen reads instead of one read per 4 KiB. */
    static char acReadBuffer[64 * 1024];
    setvbuf(f, acReadBuffer, _IOFBF, sizeof acReadBuffer);

    char acLine[MESSAGE_LINE];
    int iLine = 0;
    int iHeaders = 0;
    while (fgets(acLine, sizeof acLine, f) != NULL) {
        iLine++;
        if (acLine[0] == '#' || acLine[0] == '\0')
            continue;
        int iNumber;
        if (!ParseHeader(acLine, &iNumber)) {
            iNumber = -1;
        } else if (++iHeaders > MESSAGE_NUMBERS - 1) {
            fclose(f);
            return 0;
        }
        if ((unsigned int)iNumber >= MESSAGE_NUMBERS) {
            Say("\nIl messaggio alla riga %d risulta avere un indice fuori limite ( %d ): "
                "Messaggio ignorato\n",
                iLine, iNumber);
            continue;
        }
        StoreMessageLine(acLine, iNumber);
    }
    fclose(f);
    ssFlagAlredyLoaded = 1;
    KeepLoadedPath(acPath);
    Say(" completed.\n");
    return 1;
}

char const *LanguageToLoad(int k, char const *psConfigured)
{
    if (k == 0)
        return BASE_LANGUAGE;
    if (k == 1 && psConfigured != NULL && strcasecmp(psConfigured, BASE_LANGUAGE) != 0)
        return psConfigured;
    return NULL;
}

char const *GetMessage(int iNumber)
{
    if ((unsigned int)iNumber < MESSAGE_NUMBERS && apsMessageArray[iNumber] != NULL) {
        psMessagePointer = apsMessageArray[iNumber];
        if (*psMessagePointer != '\0')
            return psMessagePointer;
    }
    static char acFallback[4096];
    memset(acFallback, 0, sizeof acFallback);
    if (ssFlagAlredyLoaded)
        snprintf(acFallback, sizeof acFallback,
                 "ATTENZIONE: Messaggio numero %d fuori dal limite o comunque vuoto.\n"
                 "Contattare la VEL'Software !",
                 iNumber);
    else
        snprintf(acFallback, sizeof acFallback, "%s",
                 "\0034ATTENZIONE: File dei messaggi non ancora caricato dal plugin. "
                 "Contattare la VEL'Software !");
    psMessagePointer = acFallback;
    return acFallback;
}

void FlushMessage(void)
{
    iFilesLoaded = 0;
    for (int i = 0; i < MESSAGE_NUMBERS; i++) {
        free(apsMessageArray[i]);
        apsMessageArray[i] = NULL;
    }
    psMessagePointer = NULL;
}
