/* morvrc_tool's verbs that take settings from a second source: load and
 * diff. */
#ifndef MORV_CLI_MORVRC_LOAD_DIFF_H
#define MORV_CLI_MORVRC_LOAD_DIFF_H

#include "cli/morvrc_cli.h"

#include <stddef.h>

/* Each runs its verb on the arguments left after the options and returns
 * the exit status, after a complaint on standard error when it fails. */
int Load(int argc, char **argv, struct Options const *po);
int Diff(int argc, char **argv, struct Options const *po);

/* Reads all of psInput ("-": standard input), at most eight times the
 * longest morvrc, into a malloc'd block (*ppText, *puText).  Returns TS_OK;
 * after a complaint TS_IO (not readable, no memory) or TS_USAGE (longer). */
int ReadInputText(char const *psInput, char **ppText, size_t *puText);

#endif
