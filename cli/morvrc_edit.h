/* morvrc_tool's edit: a morvrc's dump opened in the user's editor, checked
 * as load checks it and saved only over the file that was read. */
#ifndef MORV_CLI_MORVRC_EDIT_H
#define MORV_CLI_MORVRC_EDIT_H

#include "cli/morvrc_cli.h"

/* Runs edit on the arguments left after the options and returns the exit
 * status, after a complaint on standard error when it fails. */
int Edit(int argc, char **argv, struct Options const *po);

#endif
