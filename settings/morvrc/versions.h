/* The kept versions of a morvrc as the programs offer them to people: when
 * each was replaced, in the user's time, and for a file found damaged the
 * last version that reads whole, with the command that puts it back. */
#ifndef MORV_SETTINGS_MORVRC_VERSIONS_H
#define MORV_SETTINGS_MORVRC_VERSIONS_H

#include "settings/disk/history.h"

#include <stddef.h>

/* Writes into psOut (uOut bytes) when *pv was replaced, in local time:
 * "2026-12-07 23:04:55". */
void FormatVersionTime(struct MorvVersion const *pv, char *psOut, size_t uOut);

/* Finds the newest version of psPath in its history that reads whole and
 * writes into psOut (uOut bytes) where it is and how to get it back: "the
 * last whole version kept is 2, from 2026-12-07 23:04:55 (morvrc_tool
 * set): morvrc_tool restore 2 PATH", PATH quoted for the shell when it
 * needs it.  Returns 1; 0, psOut empty, when the history holds no whole
 * version or cannot be read. */
int PointToLastWholeVersion(char const *psPath, char *psOut, size_t uOut);

#endif
