/* morvrc_tool watch: follows a morvrc as other programs rewrite it and
 * prints every change, until it is interrupted. */
#ifndef MORV_CLI_MORVRC_WATCH_H
#define MORV_CLI_MORVRC_WATCH_H

#include "cli/morvrc_cli.h"

/* Runs the verb on the arguments left after the options.  Returns 0 when
 * interrupted by SIGINT, SIGTERM or SIGHUP; otherwise the exit status,
 * after a complaint on standard error (3 when the output cannot be
 * written). */
int Watch(int argc, char **argv, struct Options const *po);

#endif
