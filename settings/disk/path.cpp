/* A path taken apart and followed as the kernel would: its directory and
 * last name, and the file its links lead to. */
#include "settings/disk/path.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

int SplitPath(char const *psPath, char *psDir, size_t uDir, char *psName, size_t uName)
{
    size_t uLen = strlen(psPath);
    while (uLen > 1 && psPath[uLen - 1] == '/')
        uLen--;
    size_t uName0 = uLen;
    while (uName0 > 0 && psPath[uName0 - 1] != '/')
        uName0--;
    size_t uDirLen = uName0;
    while (uDirLen > 1 && psPath[uDirLen - 1] == '/')
        uDirLen--;
    int n = uName0 == 0 ? snprintf(psDir, uDir, ".")
                        : snprintf(psDir, uDir, "%.*s", (int)uDirLen, psPath);
    int m = snprintf(psName, uName, "%.*s", (int)(uLen - uName0), psPath + uName0);
    return n > 0 && (size_t)n < uDir && m > 0 && (size_t)m < uName && strcmp(psName, "/") != 0;
}

int AbsolutePath(char const *psPath, char *psOut, size_t uOut)
{
    char acHere[PATH_MAX];
    int n;
    if (psPath[0] == '/')
        n = snprintf(psOut, uOut, "%s", psPath);
    else if (getcwd(acHere, sizeof acHere) == NULL)
        return 0;
    else
        n = snprintf(psOut, uOut, "%s%s%s", acHere, strcmp(acHere, "/") == 0 ? "" : "/", psPath);
    if (n < 0 || (size_t)n >= uOut)
        return errno = ENAMETOOLONG, 0;
    return 1;
}

char *FollowLinks(char const *psPath)
{
    char *psCur = strdup(psPath);
    for (int iHops = 0; psCur != NULL; iHops++) {
        struct stat st;
        if (lstat(psCur, &st) != 0 || !S_ISLNK(st.st_mode))
            return psCur;
        if (iHops == 40) {
            free(psCur);
            errno = ELOOP;
            return NULL;
        }
        char acTarget[PATH_MAX];
        ssize_t n = readlink(psCur, acTarget, sizeof acTarget - 1);
        if (n < 0) {
            free(psCur);
            return NULL;
        }
        acTarget[n] = '\0';
        char *psNext;
        char const *psSlash = strrchr(psCur, '/');
        if (acTarget[0] == '/' || psSlash == NULL) {
            psNext = strdup(acTarget);
        } else {
            /* A relative target is relative to the link's own directory. */
            size_t uDir = (size_t)(psSlash - psCur) + 1;
            psNext = (char *)malloc(uDir + (size_t)n + 1);
            if (psNext != NULL) {
                memcpy(psNext, psCur, uDir);
                memcpy(psNext + uDir, acTarget, (size_t)n + 1);
            }
        }
        free(psCur);
        psCur = psNext;
    }
    errno = ENOMEM;
    return NULL;
}
