/* The message catalogue: notes where the numbered, quoted texts of the
 * message files lie, decodes each (escapes, wrapping) when it is first asked
 * for, and hands them out by number, with a warning text for any number
 * that has none. */
#include "support/mm.h"

#include "support/xchat.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

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

/* Reads the number of the message line of uLen characters at psLine exactly
 * as sscanf(psLine, "// %04d ") reads it from a line cut there, without its
 * cost on every line: two slashes, any white space (as isspace has it),
 * then a field of at most four characters holding an optional sign and the
 * digits.  A zero byte ends the line as it would end sscanf's text.
 * Returns 1 and sets *piNumber when the field holds at least one digit, 0
 * otherwise. */
static int ParseHeader(char const *psLine, size_t uLen, int *piNumber)
{
    char const *psEnd = psLine + uLen;
    if (uLen < 2 || psLine[0] != '/' || psLine[1] != '/')
        return 0;
    char const *p = psLine + 2;
    while (p < psEnd && isspace((unsigned char)*p))
        p++;
    int iWidth = 4;
    int bNegative = 0;
    if (p < psEnd && (*p == '-' || *p == '+')) {
        bNegative = *p == '-';
        p++;
        iWidth--;
    }
    int iValue = 0;
    int iDigits = 0;
    for (; p < psEnd && iWidth > 0 && *p >= '0' && *p <= '9'; p++, iWidth--, iDigits++)
        iValue = iValue * 10 + (*p - '0');
    if (iDigits == 0)
        return 0;
    *piNumber = bNegative ? -iValue : iValue;
    return 1;
}

/* Makes a text of the uRaw bytes at pRaw, everything after the first quote
 * of a message line: the line ends at a zero byte if it holds one; one
 * trailing line feed, then one trailing quote, are dropped; the escapes are
 * resolved and, with bWrap, the text wrapped, which also makes it the
 * current message.  Returns the new heap block, or null when it cannot be
 * allocated. */
static char *DecodeText(char const *pRaw, size_t uRaw, int bWrap)
{
    size_t uText = strnlen(pRaw, uRaw);
    char *psText = (char *)malloc(uText + 1);
    if (psText == NULL)
        return NULL;
    memcpy(psText, pRaw, uText);
    psText[uText] = '\0';
    if (uText > 0 && psText[uText - 1] == '\n')
        psText[--uText] = '\0';
    if (uText > 0 && psText[uText - 1] == '"')
        psText[--uText] = '\0';
    if (!bWrap) {
        ResolveEscapes(psText, 0, ESCAPE_COUNT, EscapesIn(psText));
        return psText;
    }
    psMessagePointer = psText;
    unsigned uFound = ResolveEscapes(psText, 0, ESCAPE_BACKSLASHES, EscapesIn(psText));
    WrapMessage();
    /* The wrap turns blanks into line feeds, which neither makes nor breaks
     * a pair of backslashes, so uFound still holds for the last escape. */
    ResolveEscapes(psText, ESCAPE_BACKSLASHES, ESCAPE_COUNT, uFound);
    return psText;
}

/* ---- Where the texts lie -------------------------------------------------
 * A load reads its file once and notes, per number, where in the file the
 * text lies; the text is read again and decoded when it is first asked for,
 * and kept in its slot from then on.  Start-up thus neither decodes nor
 * stores the thousands of texts that the first window never shows.
 *
 * Each file that still holds a text stays open (a file replaced by another
 * under its name keeps its texts), with its size and time of last
 * modification at the load: a file rewritten in place since then no longer
 * holds those texts where they were, and its texts are not taken from it.
 * A decoded text keeps its place too, so that its unwrapped form can still
 * be read (MessageBeforeWrap). */

#define MESSAGE_SOURCES 8 /* files held open at once; a further one is decoded at load */
#define TEXT_DECODED 0x80 /* in a number's state: its slot holds its text */
#define TEXT_SOURCE 0x7f  /* in a number's state: 1 + the source its text lies in, or 0 */

struct MessageSource {
    int fd;
    int iHolds; /* numbers whose text lies in it, plus one while it is being read; 0: slot free */
    off_t lSize;
    struct timespec tsModified;
};

static struct MessageSource aSources[MESSAGE_SOURCES];
/* Per number: 0 no text; else TEXT_DECODED when its slot holds it, with
 * TEXT_SOURCE the source the text lies in (0 for a text decoded at load,
 * which lies in none); and where it lies, the offset of the text
 * after the first quote and the bytes from there to the end of its line.
 * The state is apart: the places of a file's numbers are only written at
 * its load, so their pages are filled once, not first read as empty. */
static unsigned char auState[MESSAGE_NUMBERS];
static off_t alOffset[MESSAGE_NUMBERS];
static unsigned short auLength[MESSAGE_NUMBERS];
/* Numbers whose state is not 0: nothing to empty while it is 0. */
static int iHeldNumbers = 0;

/* Drops one hold of source iSource, closing its file with the last. */
static void ReleaseSource(int iSource)
{
    if (--aSources[iSource].iHolds == 0)
        close(aSources[iSource].fd);
}

/* Empties number n: frees its text or lets go of its place. */
static void ForgetNumber(int n)
{
    if (auState[n] == 0)
        return;
    if (auState[n] & TEXT_DECODED) {
        free(apsMessageArray[n]);
        apsMessageArray[n] = NULL;
    }
    if (auState[n] & TEXT_SOURCE)
        ReleaseSource((auState[n] & TEXT_SOURCE) - 1);
    auState[n] = 0;
    iHeldNumbers--;
}

static int SameTime(struct timespec a, struct timespec b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

/* Reads into acRaw (MESSAGE_LINE bytes) the text of number n from its
 * file.  Returns its length, or -1 when it lies in no file, or the file was
 * rewritten in place since its load or cannot be read. */
static ssize_t ReadRaw(int n, char *acRaw)
{
    if ((auState[n] & TEXT_SOURCE) == 0)
        return -1;
    struct MessageSource const *ps = &aSources[(auState[n] & TEXT_SOURCE) - 1];
    struct stat st;
    ssize_t lRead = -1;
    if (fstat(ps->fd, &st) == 0 && st.st_size == ps->lSize && SameTime(st.st_mtim, ps->tsModified))
        lRead = pread(ps->fd, acRaw, auLength[n], alOffset[n]);
    return lRead == (ssize_t)auLength[n] ? lRead : -1;
}

/* Puts the text of number n into its slot if it still lies in its file.
 * Returns 1 when the slot holds a text afterwards; 0 when there is none,
 * when the file was rewritten in place since its load (the number is then
 * emptied), or when the text cannot be allocated (the number keeps its
 * place, for a later ask). */
static int TakeText(int n)
{
    if (auState[n] & TEXT_DECODED)
        return 1;
    if (auState[n] == 0)
        return 0;
    char acRaw[MESSAGE_LINE];
    if (ReadRaw(n, acRaw) < 0) {
        ForgetNumber(n);
        return 0;
    }
    char *psText = DecodeText(acRaw, auLength[n], 1);
    if (psText == NULL)
        return 0;
    auState[n] |= TEXT_DECODED;
    apsMessageArray[n] = psText;
    return 1;
}

/* Gives number n the text of uRaw bytes at pRaw, found at lOffset in the
 * file being read: its place in source iSource, or for a negative iSource
 * the decoded text.  A text that cannot be allocated leaves the number as
 * it was. */
static void StoreText(int n, int iSource, off_t lOffset, char const *pRaw, size_t uRaw)
{
    if (iSource < 0) {
        char *psText = DecodeText(pRaw, uRaw, 1);
        if (psText == NULL)
            return;
        ForgetNumber(n);
        apsMessageArray[n] = psText;
        auState[n] = TEXT_DECODED;
    } else {
        ForgetNumber(n);
        alOffset[n] = lOffset;
        auLength[n] = (unsigned short)uRaw;
        auState[n] = (unsigned char)(iSource + 1);
        aSources[iSource].iHolds++;
    }
    iHeldNumbers++;
}

/* Takes the file open at fd as a source for its texts.  Returns its index,
 * or -1 when its texts must be decoded now: it cannot be read again at an
 * offset (a pipe, a device) or every source is taken. */
static int OpenSource(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    for (int i = 0; i < MESSAGE_SOURCES; i++) {
        struct MessageSource *ps = &aSources[i];
        if (ps->iHolds == 0) {
            ps->fd = fd;
            ps->iHolds = 1; /* the load's own, until it ends */
            ps->lSize = st.st_size;
            ps->tsModified = st.st_mtim;
            return i;
        }
    }
    return -1;
}

/* Reads the message file open at fd line by line, as fgets with a buffer of
 * MESSAGE_LINE bytes would cut it, and stores its texts (see StoreText for
 * iSource).  *piLast is set to the last number stored, or left alone.  Returns 1
 * at the end of the file (or at a read error, where fgets would stop), 0
 * at the 10000th numbered line. */
static int ReadMessageFile(int fd, int iSource, int *piLast)
{
    /* A piece of a line never exceeds MESSAGE_LINE - 1 characters, so a
     * piece cut by the end of the buffer always fits once moved to its
     * front. */
    static char acBuffer[64 * 1024];
    size_t uHave = 0, uAt = 0;
    off_t lBase = 0; /* the file offset of acBuffer[0] */
    int bEnd = 0;
    int iLine = 0;
    int iHeaders = 0;
    for (;;) {
        char const *p = acBuffer + uAt;
        size_t uAvail = uHave - uAt;
        size_t uPiece;
        char const *pEol = (char const *)memchr(p, '\n', uAvail < MESSAGE_LINE - 1 ? uAvail : MESSAGE_LINE - 1);
        if (pEol != NULL) {
            uPiece = (size_t)(pEol - p) + 1;
        } else if (uAvail >= MESSAGE_LINE - 1) {
            uPiece = MESSAGE_LINE - 1;
        } else if (bEnd) {
            if (uAvail == 0)
                return 1;
            uPiece = uAvail;
        } else {
            memmove(acBuffer, p, uAvail);
            lBase += (off_t)uAt;
            uAt = 0;
            uHave = uAvail;
            ssize_t lRead = read(fd, acBuffer + uHave, sizeof acBuffer - uHave);
            if (lRead < 0 && errno == EINTR)
                continue;
            if (lRead < 0)
                return 1; /* fgets drops the line it was reading, and stops */
            if (lRead == 0)
                bEnd = 1;
            uHave += (size_t)lRead;
            continue;
        }
        off_t lOffset = lBase + (off_t)uAt;
        uAt += uPiece;

        iLine++;
        if (p[0] == '#' || p[0] == '\0')
            continue;
        int iNumber;
        if (!ParseHeader(p, uPiece, &iNumber)) {
            iNumber = -1;
        } else if (++iHeaders > MESSAGE_NUMBERS - 1) {
            return 0;
        }
        if ((unsigned int)iNumber >= MESSAGE_NUMBERS) {
            Say("\nIl messaggio alla riga %d risulta avere un indice fuori limite ( %d ): "
                "Messaggio ignorato\n",
                iLine, iNumber);
            continue;
        }
        /* The text follows the first quote, which the line needs at index
         * 8 (or before it), ahead of any zero byte, and then one character
         * at least. */
        if (uPiece <= 8 || p[8] != '"' || memchr(p, '\0', 8) != NULL)
            continue;
        char const *psQuote = (char const *)memchr(p, '"', 9);
        size_t uSkip = (size_t)(psQuote - p) + 1;
        if (uSkip == uPiece || psQuote[1] == '\0')
            continue;
        StoreText(iNumber, iSource, lOffset + (off_t)uSkip, psQuote + 1, uPiece - uSkip);
        *piLast = iNumber;
    }
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
    int fd = open(acPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        Say("ERROR: Unable to load file %s; reason: %s\n", acPath, strerror(errno));
        return 0;
    }
    int iSource = OpenSource(fd);
    int iLast = -1;
    int iResult = ReadMessageFile(fd, iSource, &iLast);
    if (iSource >= 0)
        ReleaseSource(iSource); /* closes the file if it holds no text */
    else
        close(fd);
    /* As when every text was decoded as it was read, the current message
     * is the last one stored. */
    if (iLast >= 0)
        psMessagePointer = TakeText(iLast) ? apsMessageArray[iLast] : NULL;
    if (!iResult)
        return 0;
    ssFlagAlredyLoaded = 1;
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
    if ((unsigned int)iNumber < MESSAGE_NUMBERS && TakeText(iNumber)) {
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

char *MessageBeforeWrap(int iNumber)
{
    char acRaw[MESSAGE_LINE];
    if ((unsigned int)iNumber >= MESSAGE_NUMBERS || ReadRaw(iNumber, acRaw) < 0)
        return NULL;
    char *psText = DecodeText(acRaw, auLength[iNumber], 0);
    if (psText != NULL && psText[0] == '\0') {
        free(psText);
        psText = NULL;
    }
    return psText;
}

void FlushMessage(void)
{
    /* Nothing held, as at program start: the tables are not even read. */
    for (int i = 0; iHeldNumbers > 0 && i < MESSAGE_NUMBERS; i++)
        ForgetNumber(i);
    psMessagePointer = NULL;
}
