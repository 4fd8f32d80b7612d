/* The editor's run log: one line per step of the program appended to
 * psLogFile, which every editor run on the machine shares, so the file is
 * opened only when it is this user's own regular file. */
#ifndef MORV_EDITOR_RUNLOG_H
#define MORV_EDITOR_RUNLOG_H

/* Path of the run log; "/tmp/morvane_setup.log". */
extern char const *psLogFile;

/* Appends "pid_seconds : msg" to the run log; start-up makes it the
 * writer of the shared code's lines too (support/runlog.h).  Returns 1 when
 * the line was written, 1 also when the log path is null or empty (after a
 * console complaint), 0 when the log file cannot be opened or is refused
 * (it must be a regular file of this user with a single link, reached
 * without following a symbolic link). */
int WriteLog(char const *msg);

/* From HoldRunLog to ReleaseRunLog the lines of WriteLog are kept in memory
 * (stamped when written) and reach the log together, in a few writes of
 * whole lines: start-up holds the lines of the catalogue's rows until the
 * first frame is drawn.  Lines still held are lost if the process ends
 * before the release; every start-up path that ends the process releases
 * them first.  Neither can fail. */
void HoldRunLog(void);
void ReleaseRunLog(void);

#endif
