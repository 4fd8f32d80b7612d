/* The kept versions of a morvrc as the programs offer them: their times in
 * the user's zone, and the way back from a damaged file to the last version
 * that reads whole. */
#include "settings/morvrc/versions.h"

#include "settings/morvrc/follow.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

void FormatVersionTime(struct MorvVersion const *pv, char *psOut, size_t uOut)
{
    time_t t = (time_t)pv->llSeconds;
    struct tm tm;
    if (uOut == 0)
        return;
    if ((long long)t != pv->llSeconds || localtime_r(&t, &tm) == NULL ||
        strftime(psOut, uOut, "%Y-%m-%d %H:%M:%S", &tm) == 0)
        snprintf(psOut, uOut, "%lld", pv->llSeconds);
}

/* Writes psPath into psOut (uOut bytes) as a shell word: as it is when it
 * holds nothing the shell reads otherwise, else in single quotes. */
static void ShellWord(char const *psPath, char *psOut, size_t uOut)
{
    if (psPath[0] != '\0' && psPath[strspn(psPath, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                                   "0123456789/._+-,:@%=")] == '\0') {
        snprintf(psOut, uOut, "%s", psPath);
        return;
    }
    size_t u = (size_t)snprintf(psOut, uOut, "'");
    for (char const *ps = psPath; *ps != '\0' && u < uOut; ps++) {
        /* A quote ends the quoted text, is escaped, and quoting begins again. */
        if (*ps == '\'')
            u += (size_t)snprintf(psOut + u, uOut - u, "'\\''");
        else
            u += (size_t)snprintf(psOut + u, uOut - u, "%c", *ps);
    }
    if (u < uOut)
        snprintf(psOut + u, uOut - u, "'");
}

int PointToLastWholeVersion(char const *psPath, char *psOut, size_t uOut)
{
    if (uOut > 0)
        psOut[0] = '\0';
    struct MorvVersionList list;
    if (psPath == NULL || strcmp(psPath, "-") == 0 || !ListVersions(psPath, &list))
        return 0;
    int iFound = 0;
    for (int i = 0; i < list.iCount && iFound == 0; i++) {
        struct MorvSnapshot snap;
        if (!ReadVersion(&list, &list.pVersions[i], &snap))
            continue;
        if (SnapshotIsWhole(&snap))
            iFound = i + 1;
        FreeSnapshot(&snap);
    }
    if (iFound > 0) {
        char acTime[64], acWord[2 * 4096];
        FormatVersionTime(&list.pVersions[iFound - 1], acTime, sizeof acTime);
        ShellWord(psPath, acWord, sizeof acWord);
        snprintf(psOut, uOut, "the last whole version kept is %d, from %s (%s): morvrc_tool restore %d %s",
                 iFound, acTime, list.pVersions[iFound - 1].acSaver, iFound, acWord);
    }
    FreeVersionList(&list);
    return iFound > 0;
}
