/* The message catalogue: loads numbered, quoted texts with escapes from the
 * message files and hands them out by number, with a warning text for any
 * number that has none. */
#include "support/mm.h"

#include "editor/main.h"
#include "support/function.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MESSAGE_NUMBERS 10000
#define MESSAGE_LINE 4095   /* read buffer: a longer line comes in pieces */
#define MESSAGE_PATH 4095
#define WRAP_COLUMNS 80

char *apsMessageArray[MESSAGE_SLOTS];
char *psMessagePointer = NULL;
short ssFlagAlredyLoaded = 0;

int local_ustrfindreplace(char const *psPattern, char const *psReplace)
{
    if (psPattern == NULL || *psPattern == '\0' || psReplace == NULL || psMessagePointer == NULL ||
        *psMessagePointer == '\0' || strcmp(psPattern, psReplace) == 0)
        return 0;
    size_t uPatLen = strlen(psPattern);
    size_t uRepLen = strlen(psReplace);
    if (uRepLen > uPatLen)
        return 0;

    int iCount = 0;
    char *p = psMessagePointer;
    while ((p = strstr(p, psPattern)) != NULL) {
        memmove(p + uRepLen, p + uPatLen, strlen(p + uPatLen) + 1);
        memcpy(p, psReplace, uRepLen);
        p += uRepLen;
        iCount++;
    }
    return iCount;
}

/* Turns the written escapes of the current message into what they stand
 * for.  The order matters: "\n" goes first, and the colour codes with a
 * digit go before the bare one, so a two-digit colour keeps its second
 * digit. */
static void UnescapeMessage(void)
{
    static char const *const aapsEscapes[][2] = {
        {"\\n", "\n"},     {"\\t", "\t"},     {"\\\"", "\""},    {".xchatV", ".xchat"},
        {"\\0030", ""},    {"\\0031", ""},    {"\\0032", ""},    {"\\0033", ""},
        {"\\0034", ""},    {"\\0035", ""},    {"\\0036", ""},    {"\\0037", ""},
        {"\\0038", ""},    {"\\0039", ""},    {"\\003", ""},     {"\\017", ""},
    };
    for (size_t i = 0; i < sizeof aapsEscapes / sizeof aapsEscapes[0]; i++)
        local_ustrfindreplace(aapsEscapes[i][0], aapsEscapes[i][1]);
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

/* Stores the text of one message line (acLine holds a valid header with
 * number iNumber).  Lines without the quote at index 8, or with nothing
 * after the first quote, are ignored. */
static void StoreMessageLine(char const *psLine, int iNumber)
{
    size_t uLen = strlen(psLine);
    char const *psQuote = strchr(psLine, '"');
    if (psQuote == NULL || uLen <= 8 || psLine[8] != '"' || psQuote[1] == '\0')
        return;

    char *psText = (char *)malloc(uLen);
    if (psText == NULL)
        return;
    strcpy(psText, psQuote + 1);
    size_t uText = strlen(psText);
    if (uText > 0 && psText[uText - 1] == '\n')
        psText[--uText] = '\0';
    if (uText > 0 && psText[uText - 1] == '"')
        psText[--uText] = '\0';

    free(apsMessageArray[iNumber]);
    apsMessageArray[iNumber] = psText;
    psMessagePointer = psText;
    UnescapeMessage();
    WrapMessage();
    local_ustrfindreplace("\\\\", "\\");
}

int LoadMessageFile(char const *psLanguage)
{
    if (!ssFlagAlredyLoaded) {
        puts("  - Initializing Memory Map File.");
        /* Texts left by an earlier load that stopped part way are freed,
         * not just forgotten. */
        FlushMessage();
    }
    if (psLanguage == NULL || *psLanguage == '\0')
        return 0;

    puts("  - Calculating Language File Path.");
    char const *psDirectory;
    if (iXChatVer == 1)
        psDirectory = ".xchat/morvane/";
    else if (iXChatVer == 2)
        psDirectory = ".xchat2/morvane/";
    else
        return 0;
    char acPath[MESSAGE_PATH];
    int iPath = snprintf(acPath, sizeof acPath, "%smorv_%s.msg", psDirectory, psLanguage);
    if (iPath < 0 || (size_t)iPath >= sizeof acPath)
        return 0; /* a cut path could name another file */

    printf("  - Parsing Language File ....");
    if (!velDeviceReady(acPath, "r")) {
        printf("ERROR: Unable to load file %s; reason: %s\n", acPath, strerror(errno));
        return 0;
    }
    FILE *f = fopen(acPath, "r");
    if (f == NULL)
        return 0;

    char acLine[MESSAGE_LINE];
    int iLine = 0;
    int iHeaders = 0;
    while (fgets(acLine, sizeof acLine, f) != NULL) {
        iLine++;
        if (acLine[0] == '#' || acLine[0] == '\0')
            continue;
        int iNumber;
        if (sscanf(acLine, "// %04d ", &iNumber) != 1) {
            iNumber = -1;
        } else if (++iHeaders > MESSAGE_NUMBERS - 1) {
            fclose(f);
            return 0;
        }
        if ((unsigned int)iNumber >= MESSAGE_NUMBERS) {
            printf("\nIl messaggio alla riga %d risulta avere un indice fuori limite ( %d ): "
                   "Messaggio ignorato\n",
                   iLine, iNumber);
            continue;
        }
        StoreMessageLine(acLine, iNumber);
    }
    fclose(f);
    ssFlagAlredyLoaded = 1;
    puts(" completed.");
    return 1;
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
    for (int i = 0; i < MESSAGE_NUMBERS; i++) {
        free(apsMessageArray[i]);
        apsMessageArray[i] = NULL;
    }
    psMessagePointer = NULL;
}
