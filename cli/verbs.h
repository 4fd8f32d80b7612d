/* The verbs of morvrc_tool, which the verb table of cli/morvrc_tool.cpp
 * runs.  Each takes the arguments left after the options, and returns the
 * exit status, after a complaint on standard error when it fails. */
#ifndef MORV_CLI_VERBS_H
#define MORV_CLI_VERBS_H

#include "cli/tool.h"

/* cli/dump_check_convert.cpp: one file's settings, widths and conversion. */
int Dump(int argc, char **argv, struct Options const *po);
int Check(int argc, char **argv, struct Options const *po);
int Convert(int argc, char **argv, struct Options const *po);

/* cli/get_set.cpp: values read and changed by name. */
int Get(int argc, char **argv, struct Options const *po);
int Set(int argc, char **argv, struct Options const *po);

/* cli/load_diff.cpp: settings from a second source. */
int Load(int argc, char **argv, struct Options const *po);
int Diff(int argc, char **argv, struct Options const *po);

/* cli/edit.cpp: the settings in the user's editor. */
int Edit(int argc, char **argv, struct Options const *po);

/* cli/list_describe_reset.cpp: the home's catalogue as the editor shows it. */
int List(int argc, char **argv, struct Options const *po);
int Search(int argc, char **argv, struct Options const *po);
int Describe(int argc, char **argv, struct Options const *po);
int Reset(int argc, char **argv, struct Options const *po);

/* cli/history_restore.cpp: the versions kept before each save. */
int History(int argc, char **argv, struct Options const *po);
int Restore(int argc, char **argv, struct Options const *po);

/* cli/watch.cpp: every change of a file, until interrupted (0 on SIGINT,
 * SIGTERM or SIGHUP; 3 when the output cannot be written). */
int Watch(int argc, char **argv, struct Options const *po);

#endif
