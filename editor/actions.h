/* The editor's actions: what each widget of the window does, with the
 * unsaved-changes flag they keep, and the few steps that start-up shares
 * with them (ending the process, telling what a reading of morvrc found).
 * The catalogue they work on is settings/store/catalogue.h. */
#ifndef MORV_EDITOR_ACTIONS_H
#define MORV_EDITOR_ACTIONS_H

struct MorvSnapshot;
struct MorvLoadReport;

/* 1 while the settings may differ from morvrc. */
extern int bFlagModified;

/* Ends the process at once with iStatus, standard output flushed first so
 * that the progress lines are not lost when it is not a terminal. */
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
 * and shows its new value and help, below SHOWN_AGAIN, the title loses
 * its changed-on-disk mark, and the settings count as saved when the file
 * read whole.  Returns nothing; what was wrong with the file is told as a
 * load tells it. */
void ReadAgainUnasked(struct MorvSnapshot *pNew);

/* Gives every list line its marks and the window's title its own, once
 * start-up has filled the list and set the title. */
void ShowMarks(void);

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

/* The actions behind the keys and the list's menu.  Each writes its own
 * run-log line; a row it reaches is shown as a click on it shows it. */

/* Asks for a text and selects the next row, wrapping around, that has it
 * in its command, variable name, current value or help text, in any case;
 * a box says so when none has. */
void FindVariable(void);

/* Looks for the text last asked for again, from the row after the
 * selected one; asks for one when none was. */
void FindNextVariable(void);

/* Adds letter c to the beginning of a variable name being typed (a letter
 * after more than a second begins a new one) and selects the next row
 * whose name begins so.  Returns 1; 0 for a plain q that would begin a
 * name, which is left to "E x i t". */
int TypeVariableName(char c);

/* Where MoveSelection moves the selection to. */
enum { MOVE_FIRST, MOVE_LAST, MOVE_PAGE_UP, MOVE_PAGE_DOWN };

/* Selects the first or the last row, or the row a page of the list above
 * or below the selected one (the first row when none is selected). */
void MoveSelection(int eMove);

/* Puts back the catalogue's default of the selected row, and of the other
 * row of its text pair; nothing for a row without a setting. */
void ResetRow(void);

/* Selects row iRow, as a click does, and opens the row's menu at the
 * pointer: its first item resets the row (ResetRow) and names the
 * default, a numeric row's second types a number (TypeNumber). */
void RowMenu(int iRow);

/* For a selected numeric row: asks for a number with the current value
 * and the range, and stores one in range as the counter stores its value;
 * anything else is refused in a box and changes nothing. */
void TypeNumber(void);

#endif
