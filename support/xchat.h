/* Which XChat layout the programs serve: XChat 1 keeps the script in
 * ".xchat/morvane/" under the home, XChat 2 in ".xchat2/morvane/".  The
 * message catalogue and the settings code find their files through it. */
#ifndef MORV_SUPPORT_XCHAT_H
#define MORV_SUPPORT_XCHAT_H

/* The layout served: 1 or 2 once chosen, 0 before. */
extern int iXChatVer;

/* The script directory, its setup.dat and its morvrc, relative to the home;
 * null until a layout is chosen. */
extern char *psXChatPath;
extern char *psSetupDat;
extern char *psMorvaneRC;

/* Returns the script directory of XChat iVersion relative to the home,
 * ".xchat/morvane/" or ".xchat2/morvane/"; null for any other version. */
char const *XChatDirectory(int iVersion);

/* Serves XChat iVersion (1, or 2 for anything else): sets iXChatVer and
 * the three paths.  Cannot fail. */
void SetXChatLayout(int iVersion);

#endif
