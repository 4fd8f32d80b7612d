/* String and file routines shared by the editor and the MoRvAnE script:
 * string utilities, substring replacement on owned texts, the readability
 * probe, and for the script alone the regular-expression match and escaper,
 * the counting sleep, the rate-limited sound command and the append writer. */
#include "support/function.h"

#include <ctype.h>
#include <errno.h>
#include <regex.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

/* ---- String utilities ---------------------------------------------------- */

/* Number-to-text results: 129 bytes, of which at most 127 characters and the
 * terminating NUL are written. */
#define NUMBER_TEXT_BLOCK 129
#define NUMBER_TEXT_LIMIT 128

static char *NewEmptyText(void)
{
    return (char *)calloc(1, 1);
}

char *strchrpl(char const *psText, char const *psSet, char cReplace)
{
    if (psText == NULL || *psText == '\0')
        return NewEmptyText();
    size_t uLen = strlen(psText);
    char *psCopy = (char *)calloc(uLen + 1, 1);
    if (psCopy == NULL)
        return NULL;
    memcpy(psCopy, psText, uLen);
    if (psSet == NULL)
        return psCopy; /* no set, nothing to replace */
    /* Every byte of the copy is visited for every character of the set, also
     * past a NUL that an earlier replacement by 0 has put in. */
    for (char const *pc = psSet; *pc != '\0'; pc++)
        for (size_t i = 0; i < uLen; i++)
            if (psCopy[i] == *pc)
                psCopy[i] = cReplace;
    return psCopy;
}

char *ustrstr(char const *psText, char const *psNeedle)
{
    if (psText == NULL || psNeedle == NULL)
        return NewEmptyText();
    size_t uTextLen = strlen(psText);
    size_t uNeedleLen = strlen(psNeedle);
    if (uNeedleLen == 0 || uNeedleLen > uTextLen)
        return NewEmptyText();
    for (size_t i = 0; i + uNeedleLen <= uTextLen; i++)
        if (memcmp(psText + i, psNeedle, uNeedleLen) == 0)
            return ustrcpy(psText + i);
    return NewEmptyText();
}

/* Copies psText through fnMap (tolower or toupper), byte by byte. */
static char *MapText(char const *psText, int (*fnMap)(int))
{
    if (psText == NULL || *psText == '\0')
        return NewEmptyText();
    size_t uLen = strlen(psText);
    char *psCopy = (char *)malloc(uLen + 1);
    if (psCopy == NULL)
        return NULL;
    /* The ctype functions take the byte as an unsigned char value. */
    for (size_t i = 0; i < uLen; i++)
        psCopy[i] = (char)fnMap((unsigned char)psText[i]);
    psCopy[uLen] = '\0';
    return psCopy;
}

char *ustrtolower(char const *psText)
{
    return MapText(psText, tolower);
}

char *ustrtoupper(char const *psText)
{
    return MapText(psText, toupper);
}

char *ustrcpy(char const *psText)
{
    if (psText == NULL || *psText == '\0')
        return NewEmptyText();
    size_t uLen = strlen(psText);
    char *psCopy = (char *)malloc(uLen + 1);
    if (psCopy == NULL)
        return NULL;
    memcpy(psCopy, psText, uLen + 1);
    return psCopy;
}

char *uinttostr(int iValue)
{
    char *ps = (char *)calloc(NUMBER_TEXT_BLOCK, 1);
    if (ps == NULL)
        return NULL;
    snprintf(ps, NUMBER_TEXT_LIMIT, "%d", iValue);
    return ps;
}

char *udoubletostr(double dValue)
{
    char *ps = (char *)calloc(NUMBER_TEXT_BLOCK, 1);
    if (ps == NULL)
        return NULL;
    snprintf(ps, NUMBER_TEXT_LIMIT, "%f", dValue);
    return ps;
}

/* ---- Substring replacement and readability probe ------------------------- */

/* Occurrence positions are collected in a table of 4097 entries first; a text
 * with more occurrences (only possible without a maximum) grows the table. */
#define USTR_POSITIONS 4097
#define USTR_MAX_LIMIT 4096

int ustrfindreplace_r(char **ppsText, char const *psFind, char const *psReplace,
                      unsigned int uiMax)
{
    if (psFind == NULL || ppsText == NULL || *ppsText == NULL || uiMax > USTR_MAX_LIMIT ||
        psReplace == NULL || **ppsText == '\0' || *psFind == '\0' || psFind == psReplace ||
        strcmp(psFind, psReplace) == 0)
        return 0;

    char const *psOld = *ppsText;
    size_t uFindLen = strlen(psFind);
    size_t uReplLen = strlen(psReplace);
    size_t uOldLen = strlen(psOld);

    size_t uTable = USTR_POSITIONS;
    size_t *puPos = (size_t *)malloc(uTable * sizeof(size_t));
    if (puPos == NULL)
        return 0;
    size_t uCount = 0;
    char const *psHit = psOld;
    while ((psHit = strstr(psHit, psFind)) != NULL) {
        if (uCount == uTable) {
            size_t *puGrown = (size_t *)realloc(puPos, 2 * uTable * sizeof(size_t));
            if (puGrown == NULL) {
                free(puPos);
                return 0;
            }
            puPos = puGrown;
            uTable *= 2;
        }
        puPos[uCount++] = (size_t)(psHit - psOld);
        if (uiMax != 0 && uCount >= uiMax)
            break;
        psHit += uFindLen; /* occurrences do not overlap */
    }
    if (uCount == 0) {
        free(puPos);
        return 0;
    }

    /* Every replacement that shortens the text removes at least its own
     * length, so this size never wraps around. */
    size_t uNewLen = uOldLen - uCount * uFindLen + uCount * uReplLen;
    char *psNew = (char *)calloc(uNewLen + 1, 1);
    if (psNew == NULL) {
        free(puPos);
        return 0;
    }
    char *psOut = psNew;
    size_t uPrev = 0;
    for (size_t i = 0; i < uCount; i++) {
        memcpy(psOut, psOld + uPrev, puPos[i] - uPrev);
        psOut += puPos[i] - uPrev;
        memcpy(psOut, psReplace, uReplLen);
        psOut += uReplLen;
        uPrev = puPos[i] + uFindLen;
    }
    memcpy(psOut, psOld + uPrev, uOldLen - uPrev);
    free(puPos);
    free(*ppsText);
    *ppsText = psNew;
    return (int)uCount;
}

int ustrfindreplace(char **ppsText, char const *psFind, char const *psReplace)
{
    return ustrfindreplace_r(ppsText, psFind, psReplace, 0);
}

int velDeviceReady(char const *psPath, char const *psMode)
{
    if (psPath == NULL || *psPath == '\0')
        return 0;
    FILE *f = fopen(psPath, psMode);
    if (f == NULL)
        return 0;
    fflush(f);
    fclose(f);
    return 1;
}

/* ---- Regular expressions ------------------------------------------------- */

regmatch_t pmatch;
char *ps_velregexp_error = NULL;
char *pPreviousBuffer = NULL;

/* The text shown for a compile error; REG_EEND and REG_ESIZE are glibc's own
 * codes. */
static char const *RegexpErrorText(int iCode)
{
    switch (iCode) {
    case REG_BADPAT:
        return "Invalid use of pattern operators such as group or list.";
    case REG_ECOLLATE:
        return "Invalid collating element.";
    case REG_ECTYPE:
        return "Unknown character class name.";
    case REG_EESCAPE:
        return "Trailing backslash.";
    case REG_ESUBREG:
        return "Invalid back reference to a subexpression.";
    case REG_EBRACK:
        return "Un-matched bracket list operators.";
    case REG_EPAREN:
        return "Un-matched parenthesis group operators.";
    case REG_EBRACE:
        return "Un-matched brace interval operators.";
    case REG_BADBR:
        return "Invalid use of back reference operator.";
    case REG_ERANGE:
        return "Invalid use of the range operator, eg. the ending point of the range occurs prior to "
               "the starting  point.";
    case REG_ESPACE:
        return "The regex routines ran out of memory.";
    case REG_BADRPT:
        return "Invalid use of repetition operators such as using `*' as the first character.";
    case REG_EEND:
        return "Non specific error.  This is not defined by POSIX.2.";
    case REG_ESIZE:
        return "Compiled  regular expression requires a pattern buffer larger than 64Kb.  This is "
               "not defined by POSIX.2.";
    default:
        return "velregexp: Internal Error !";
    }
}

int velregexp(char const *psPattern, char const *psText)
{
    if (psPattern == NULL || *psPattern == '\0' || psText == NULL || *psText == '\0')
        return 0;

    regex_t reCompiled;
    int iCode = regcomp(&reCompiled, psPattern, REG_EXTENDED);
    free(ps_velregexp_error);
    ps_velregexp_error = NULL;

    if (iCode == 0) {
        /* The match lands in a local record first, so that pmatch only ever
         * holds the span of a real match. */
        regmatch_t rmMatch;
        int iFound = regexec(&reCompiled, psText, 1, &rmMatch, 0);
        regfree(&reCompiled);
        if (iFound != 0)
            return 0;
        pmatch = rmMatch;
        return 1;
    }

    /* A failed regcomp has released what it built: nothing to regfree. */
    ps_velregexp_error = ustrcpy(RegexpErrorText(iCode));
    if (ps_velregexp_error != NULL)
        printf("OOPS, Invalid regexp (%s)\n", ps_velregexp_error);
    return 0;
}

char const *velescaperegexp(char const *psText)
{
    /* The backslash comes first, so the backslashes put in for the others are
     * not doubled. */
    static char const acSpecial[] = "\\.?*[](){}^$|";

    free(pPreviousBuffer);
    pPreviousBuffer = NULL;
    if (psText == NULL || *psText == '\0')
        return NULL;

    char *psEscaped = ustrcpy(psText);
    if (psEscaped == NULL)
        return NULL;
    for (char const *pc = acSpecial; *pc != '\0'; pc++) {
        char acFind[2] = {*pc, '\0'};
        char acReplace[3] = {'\\', *pc, '\0'};
        /* ustrfindreplace answers 0 both for "none found" and for a failed
         * allocation; a character that is present tells them apart. */
        if (ustrfindreplace(&psEscaped, acFind, acReplace) == 0 && strchr(psEscaped, *pc) != NULL) {
            free(psEscaped);
            return NULL;
        }
    }
    pPreviousBuffer = psEscaped;
    return pPreviousBuffer;
}

/* ---- Counting sleep and timed sound command ------------------------------ */

int velsleep(short sSeconds, short sCallsToPass)
{
    static short ssNumCalled = 0;

    if (ssNumCalled < sCallsToPass) {
        ssNumCalled++;
        return ssNumCalled;
    }
    ssNumCalled = 0;
    /* sleep takes an unsigned count: a negative one would become more than a
     * century. */
    return (int)sleep(sSeconds > 0 ? (unsigned int)sSeconds : 0u);
}

/* The command line buffer: 1024 characters and the terminating NUL. */
#define COMMAND_LINE_BLOCK 1025

/* Whether tNow - lInterval > tPrevious, without overflowing for any interval:
 * a difference beyond the range of long long is beyond any time as well. */
static int IntervalPassed(time_t tNow, long lInterval, time_t tPrevious)
{
    long long llStart;
    if (__builtin_sub_overflow((long long)tNow, (long long)lInterval, &llStart))
        return lInterval < 0;
    return llStart > (long long)tPrevious;
}

int velSoundCommandTimed(char const *psCommand, long lInterval, char const *psArgument)
{
    static time_t stPreviousTime = 0;

    time_t tNow = time(NULL);
    int bPassed = IntervalPassed(tNow, lInterval, stPreviousTime);

    if (psCommand == NULL || *psCommand == '\0' || psArgument == NULL || *psArgument == '\0' ||
        lInterval == 0) {
        if (!bPassed)
            return 0;
        stPreviousTime = tNow;
        return -2;
    }
    if (!bPassed)
        return -1;
    stPreviousTime = tNow;

    char *psLine = (char *)calloc(COMMAND_LINE_BLOCK, 1);
    if (psLine == NULL)
        return -3;
    /* A command line that would be cut is not run at all. */
    int iLen = snprintf(psLine, COMMAND_LINE_BLOCK, "%s %s", psCommand, psArgument);
    if (iLen < 0 || iLen >= COMMAND_LINE_BLOCK) {
        free(psLine);
        return -3;
    }
    int iStatus = system(psLine);
    free(psLine);
    return iStatus;
}

/* ---- Append writer ------------------------------------------------------- */

int WriteFile(char const *psName, char *psText)
{
    static FILE *fOutput = NULL;
    static char *psPreviousFileName = NULL;

    if (psName == NULL && psText == NULL) {
        if (fOutput != NULL) {
            fclose(fOutput);
            fOutput = NULL;
        }
        if (psPreviousFileName != NULL) {
            printf("  * Closing: %s [%p]\n", psPreviousFileName, (void const *)psPreviousFileName);
            free(psPreviousFileName);
            psPreviousFileName = NULL;
        }
        return 1;
    }
    if (psName == NULL || *psName == '\0') {
        puts("ERROR: Bad File name.");
        return 0;
    }

    if (psPreviousFileName == NULL || strcmp(psPreviousFileName, psName) != 0) {
        if (fOutput != NULL)
            fclose(fOutput);
        fOutput = fopen(psName, "a");
        /* The reason of a failed open is reported below; keep it across the
         * bookkeeping. */
        int iOpenErrno = errno;
        free(psPreviousFileName);
        /* Remembered also when the open failed: that name is not tried again
         * until another one comes. */
        psPreviousFileName = ustrcpy(psName);
        if (psPreviousFileName == NULL)
            return 0;
        errno = iOpenErrno;
    }
    if (fOutput == NULL) {
        printf("\nUnable to open file %s ; error: %s .", psName, strerror(errno));
        return 0;
    }

    printf("  * Opening: %s [%p]\n", psName, (void const *)psName);
    size_t uLen = 0;
    if (psText != NULL && *psText != '\0')
        uLen = strlen(psText);
    else
        printf("WriteFile(%s) : INTERNAL ERROR\n", psName);
    /* A full disk or an I/O error shows at the write or at the flush. */
    if ((uLen > 0 && fwrite(psText, 1, uLen, fOutput) != uLen) || fflush(fOutput) != 0) {
        printf("\nUnable to write file %s ; error: %s .", psName, strerror(errno));
        clearerr(fOutput);
        return 0;
    }
    return 1;
}
