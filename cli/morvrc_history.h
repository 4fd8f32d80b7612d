/* morvrc_tool's verbs on the local history of a morvrc: history lists the
 * versions kept, restore writes one back; diff reads a version named @N
 * through what this file gives. */
#ifndef MORV_CLI_MORVRC_HISTORY_H
#define MORV_CLI_MORVRC_HISTORY_H

#include "cli/morvrc_cli.h"
#include "settings/disk/snapshot.h"

#include <stddef.h>

/* Each runs its verb on the arguments left after the options and returns
 * the exit status, after a complaint on standard error when it fails. */
int History(int argc, char **argv, struct Options const *po);
int Restore(int argc, char **argv, struct Options const *po);

/* Whether psArg names a kept version, "@N" with N a number from 1. */
int IsVersionName(char const *psArg);

/* Reads version psName ("@N", see IsVersionName) of the file psFile into
 * *pSnap, and names it for messages in psLabel (uLabel bytes): "version 2
 * of PATH".  Returns TS_OK; after a complaint TS_USAGE for a version not
 * kept, TS_IO for a history that cannot be read; nothing is then held. */
int ReadVersionNamed(char const *psName, char const *psFile, struct MorvSnapshot *pSnap,
                     char *psLabel, size_t uLabel);

#endif
