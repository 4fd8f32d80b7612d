/* The XChat layout in use and the script's paths under the home, set once
 * by the program that serves it and read by the shared code. */
#include "support/xchat.h"

#include <stdio.h>

int iXChatVer = 0;
char *psXChatPath = NULL;
char *psSetupDat = NULL;
char *psMorvaneRC = NULL;

char const *XChatDirectory(int iVersion)
{
    switch (iVersion) {
    case 1:
        return ".xchat/morvane/";
    case 2:
        return ".xchat2/morvane/";
    default:
        return NULL;
    }
}

void SetXChatLayout(int iVersion)
{
    /* Big enough for the longer directory and its longer file name. */
    static char acXChatPath[32], acSetupDat[48], acMorvaneRC[48];
    iXChatVer = iVersion == 1 ? 1 : 2;
    char const *psDir = XChatDirectory(iXChatVer);
    snprintf(acXChatPath, sizeof acXChatPath, "%s", psDir);
    snprintf(acSetupDat, sizeof acSetupDat, "%ssetup.dat", psDir);
    snprintf(acMorvaneRC, sizeof acMorvaneRC, "%smorvrc", psDir);
    psXChatPath = acXChatPath;
    psSetupDat = acSetupDat;
    psMorvaneRC = acMorvaneRC;
}
