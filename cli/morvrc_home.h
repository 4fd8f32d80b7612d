/* morvrc_tool's verbs that read a home as the editor does: list, describe
 * and reset, with their help texts, and the paths of a home's files. */
#ifndef MORV_CLI_MORVRC_HOME_H
#define MORV_CLI_MORVRC_HOME_H

#include "cli/morvrc_cli.h"

/* Size of a path in a home. */
#define HOME_PATH 4096

/* Writes into psOut (HOME_PATH bytes) the path of psFile in the script
 * directory of the home that *po names (--home or $HOME, --xchat).
 * Returns 1, or 0 after a complaint (no home, or a path too long). */
int HomePath(struct Options const *po, char const *psFile, char *psOut);

/* Each runs its verb on the arguments left after the options and returns
 * the exit status, after a complaint on standard error when it fails. */
int List(int argc, char **argv, struct Options const *po);
int Describe(int argc, char **argv, struct Options const *po);
int Reset(int argc, char **argv, struct Options const *po);

/* Their help texts: printf formats, %d being this build's width in bits. */
extern const char acHelpList[];
extern const char acHelpDescribe[];
extern const char acHelpReset[];

#endif
