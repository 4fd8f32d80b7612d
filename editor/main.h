/* The editor's entry point and everything it owns: the run log, the
 * unsaved-changes flag, and the actions that the window's callbacks
 * trigger.  The catalogue they work on is settings/catalogue.h, the XChat
 * layout and paths support/xchat.h. */
#ifndef MORV_EDITOR_MAIN_H
#define MORV_EDITOR_MAIN_H

/* Path of the run log; "/tmp/morvane_setup.log". */
extern char const *psLogFile;

/* 1 while the settings may differ from morvrc. */
extern int bFlagModified;

/* Appends "pid_seconds : msg" to the run log; start-up makes it the
 * writer of the shared code's lines too (support/runlog.h).  Returns 1 when the line was
 * written, 1 also when the log path is null or empty (after a console
 * complaint), 0 when the log file cannot be opened or is refused (it must be
 * a regular file of this user with a single link, reached without following
 * a symbolic link). */
int WriteLog(char const *msg);

struct MorvSnapshot;

/* Loads pNew, the bytes of morvrc that the watch found whole (taken over
 * and left empty), as "Load from Disk" does, without its question and
 * without the box that tells a success; the selected row stays selected
 * and shows its new value and help, the title loses its changed-on-disk
 * mark, and the settings count as saved when the file read whole.
 * Returns nothing; what was wrong with the file is told as a load tells it. */
void ReadAgainUnasked(struct MorvSnapshot *pNew);

/* The actions behind the window's widgets. */
void listbox_VariablesSelected(void);
void radiobutton_ONSelected(void);
void radiobutton_OFFSelected(void);
void textinput_NumericValueSelected(void);
void textinput_TextValueSelected(void);
void ResetToDefault(void);
void LoadFromDisk(void);
void SaveToDisk(void);
void Exit(void);

#endif
