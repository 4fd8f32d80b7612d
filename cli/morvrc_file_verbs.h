/* morvrc_tool's verbs on one file: dump, check, convert, get
 * and set. */
#ifndef MORV_CLI_MORVRC_FILE_VERBS_H
#define MORV_CLI_MORVRC_FILE_VERBS_H

#include "cli/morvrc_cli.h"

/* Each runs its verb on the arguments left after the options and returns
 * the exit status, after a complaint on standard error when it fails. */
int Dump(int argc, char **argv, struct Options const *po);
int Check(int argc, char **argv, struct Options const *po);
int Convert(int argc, char **argv, struct Options const *po);
int Get(int argc, char **argv, struct Options const *po);
int Set(int argc, char **argv, struct Options const *po);

#endif
