/* The editor's entry point and everything it owns: the start-up paths, the
 * run log, the variable catalogue with its bindings to the settings, and the
 * actions that the window's callbacks trigger. */
#ifndef MORV_EDITOR_MAIN_H
#define MORV_EDITOR_MAIN_H

#include <stdio.h>

class Fl_Browser;

/* Sizes fixed by the catalogue and the list. */
#define CATALOGUE_ROWS 255       /* rows 1 to 255 of dvArray can be filled */
#define CATALOGUE_WORD 33        /* buffer of one setup.dat word: 32 characters */
#define ROW_BUFFER_SIZE 4093     /* buffer of one list line: 4092 characters */

/* Type codes of a catalogue row. */
#define VARIABLE_BOOLEAN 0
#define VARIABLE_NUMERIC 1
#define VARIABLE_STRING 2

/* One catalogue row: what setup.dat says about a variable, and the setting
 * that SetVariables binds to it. */
struct VariableDescriptor {
    int iType;              /* VARIABLE_BOOLEAN, VARIABLE_NUMERIC or VARIABLE_STRING */
    char *psCommand;        /* script command, at most 32 characters */
    char *psVariableName;   /* variable name, at most 32 characters */
    int iDefault;           /* default of a Boolean or numeric variable */
    char *psDefault;        /* default text, "$^$" turned into blanks; "$..." means none */
    int iHelpMessage;       /* message number of the help text */
    int *piValue;           /* bound integer setting, or null */
    char *psValue;          /* the bound text setting's current pointer (not a copy) */
    char **ppsValue;        /* the bound text setting itself, or null */
};

/* XChat layout chosen at start-up: 1 or 2, and the three relative paths. */
extern int iXChatVer;
extern char *psXChatPath;
extern char *psSetupDat;
extern char *psMorvaneRC;

/* Path of the run log; "/tmp/morvane_setup.log". */
extern char const *psLogFile;

/* 1 while the settings may differ from morvrc. */
extern int bFlagModified;

/* The catalogue; row n is line n of the variable list, row 0 is unused. */
extern struct VariableDescriptor dvArray[CATALOGUE_ROWS + 1];

/* 32-bit working copies through which rows 14, 16 and 18 edit the three
 * time settings; written back by every save. */
extern int i_tCTCPFloodTimer;
extern int i_tSoundCommandTimer;
extern int i_tMinSecondSent;

/* Appends "pid_seconds : msg" to the run log.  Returns 1 when the line was
 * written, 1 also when the log path is null or empty (after a console
 * complaint), 0 when the log file cannot be opened or is refused (it must be
 * a regular file of this user with a single link, reached without following
 * a symbolic link). */
int WriteLog(char const *msg);

/* Binds catalogue rows 1 to 77 to their settings and refreshes the time
 * working copies.  Must follow every ReadSetup, since text rows keep the
 * setting's own pointer. */
void SetVariables(void);

/* Reads setup.dat from f into dvArray from row 1 upward, at most
 * CATALOGUE_ROWS rows, and appends one line per row to pBrowser, formatting
 * each in psRowBuffer (ROW_BUFFER_SIZE bytes).  Returns the number of rows
 * read.  A row with an unknown type code ends the process with status 2. */
int LoadCatalogue(FILE *f, char *psRowBuffer, Fl_Browser *pBrowser);

/* Formats the list line of catalogue row iRow (1 to CATALOGUE_ROWS) into
 * psBuffer (ROW_BUFFER_SIZE bytes), cut to fit.  An unknown type code ends
 * the process with status 2. */
void FormatRowText(char *psBuffer, int iRow);

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
