/* The editor's actions: what each widget of the window does, with the
 * unsaved-changes flag they keep, and the few steps that start-up shares
 * with them (ending the process, telling what a reading of morvrc found).
 * The catalogue they work on is settings/catalogue.h. */
#ifndef MORV_EDITOR_ACTIONS_H
#define MORV_EDITOR_ACTIONS_H

struct MorvSnapshot;
struct MorvLoadReport;

/* 1 while the settings may differ from morvrc. */
extern int bFlagModified;

/* Ends the process at once with iStatus, standard output flushed first so
 * that the progress lines are not lost when it is not a terminal, and the
 * run log's held lines written. */
void Quit(int iStatus) __attribute__((noreturn));

/* Prints the bad-type-code complaint and ends the process with status 2. */
void BadTypeCode(void) __attribute__((noreturn));

/* Tells the user what is wrong with morvrc as it was just read, as *pr
 * says, at start-up (bReload 0) or when it is read again (1): in an alert
 * and on standard output; the width and the kept bytes of a newer file on
 * standard output only. */
void TellLoad(struct MorvLoadReport const *pr, int bReload);

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
