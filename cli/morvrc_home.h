/* morvrc_tool's verbs that read a home as the editor does: list, describe
 * and reset. */
#ifndef MORV_CLI_MORVRC_HOME_H
#define MORV_CLI_MORVRC_HOME_H

#include "cli/morvrc_cli.h"

/* Each runs its verb on the arguments left after the options and returns
 * the exit status, after a complaint on standard error when it fails. */
int List(int argc, char **argv, struct Options const *po);
int Describe(int argc, char **argv, struct Options const *po);
int Reset(int argc, char **argv, struct Options const *po);

#endif
