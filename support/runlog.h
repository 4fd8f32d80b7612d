/* The run log as the shared code sees it.  SetVariables and catalogue
 * loading trace their steps through LogStep; a program that keeps a run
 * log says where the lines go by pointing pfRunLog at its writer (the
 * editor's is WriteLog).  morvrc_tool keeps none. */
#ifndef MORV_SUPPORT_RUNLOG_H
#define MORV_SUPPORT_RUNLOG_H

/* The program's run-log writer, or null when it keeps no run log. */
extern int (*pfRunLog)(char const *psMessage);

/* Hands psMessage to pfRunLog.  Returns its result, or 1 when the program
 * keeps no run log (there was nothing to write). */
int LogStep(char const *psMessage);

#endif
