/* The variable catalogue: the rows of setup.dat in dvArray, their bindings
 * to the settings (the setting behind a row, its range, its default put
 * back), and the text of each row's list line.  No FLTK: the
 * editor and morvrc_tool share it, and the editor keeps the list itself. */
#ifndef MORV_SETTINGS_STORE_CATALOGUE_H
#define MORV_SETTINGS_STORE_CATALOGUE_H

#include "settings/store/items.h"

#include <stdio.h>
#include <time.h>

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

/* The catalogue; row n is line n of the variable list, row 0 is unused. */
extern struct VariableDescriptor dvArray[CATALOGUE_ROWS + 1];

/* 32-bit working copies through which rows 14, 16 and 18 edit the three
 * time settings; written back by every save. */
extern int i_tCTCPFloodTimer;
extern int i_tSoundCommandTimer;
extern int i_tMinSecondSent;

/* Each time setting with its working copy. */
struct TimeCopy {
    time_t *ptSetting;
    int *piCopy;
};
#define TIME_COPIES 3
extern const struct TimeCopy aTimeCopies[TIME_COPIES];

/* Folds the working copies back into the time settings, sign-extended, as
 * every save does first.  Cannot fail. */
void WriteBackTimeCopies(void);

/* Binds catalogue rows 1 to 77 to their settings and refreshes the time
 * working copies.  Must follow every ReadSetup, since text rows keep the
 * setting's own pointer.  Returns nothing and cannot fail. */
void SetVariables(void);

/* Reads setup.dat from f into dvArray from row 1 upward, at most
 * CATALOGUE_ROWS rows.  Each row's text is formatted in psRowBuffer
 * (ROW_BUFFER_SIZE bytes), written to the run log and then handed to
 * pAddRow, which appends it to the list.  Returns the number of rows read,
 * or -1 at a row with a type code other than 0, 1 and 2: the rows before it
 * were handed over, that row is read into dvArray but its type is left as
 * it was, and nothing after it is read. */
int LoadCatalogue(FILE *f, char *psRowBuffer, void (*pAddRow)(char const *psRowText));

/* Whether row iRow edits a setting of its own type: a text setting for a
 * text row, an integer (or a time row's working copy) for the others. */
int RowIsBound(int iRow);

/* The default text of a text row as "Reset to Default" stores it: null
 * when the catalogue's default is missing or begins with "$" (no default
 * text). */
char const *RowDefaultText(struct VariableDescriptor const *pr);

/* Whether row iRow, bound to a setting of its type (RowIsBound), holds
 * something other than its catalogue default, as "Reset to Default" would
 * put it back; 0 for a row bound to nothing. */
int RowIsChanged(int iRow);

/* Puts back the catalogue's default of row iRow, as "Reset to Default"
 * does, and for a time row folds its working copy back into the time
 * setting, as a save does; a row not bound to a setting of its type is
 * left as it is.  Returns 1; 0 when memory runs out (the setting keeps its
 * value); -1 when the row's type code is not 0, 1 or 2. */
int ResetRowToDefault(int iRow);

/* Finds the stored item that row iRow edits, as the binding table states
 * it (for a time row, the time setting behind its working copy); neither
 * setup.dat nor SetVariables is needed.  Returns 1 with *pit set, or 0 for
 * a row that edits none. */
int RowItem(int iRow, struct MorvItem *pit);

/* Returns the row that edits item it, or 0 when no row does. */
int ItemRow(struct MorvItem it);

/* Returns the row among rows 1 to iRows of the catalogue read that edits
 * item it, bound to it (RowIsBound), or 0 when none does. */
int RowOfItem(struct MorvItem it, int iRows);

/* Finds the row that psArg names among rows 1 to iRows: a row number, a
 * variable name of setup.dat, or the name of a stored setting that a row
 * edits (NameItemsByRows is called for it; SetVariables must have run).
 * Returns the row; 0 for a number that is no row, -1 for a name of no row
 * nor setting, -2 for a setting that no row edits. */
int FindRow(char const *psArg, int iRows);

/* The values that row iRow lets an integer take: IR_SWITCH for a Boolean
 * row, IR_COUNTER for a numeric one, IR_ANY for a text row. */
int RowRange(int iRow);

/* Names and ranges the items after rows 1 to iRows of the catalogue read:
 * each bound row's variable name into apsItemRow, and IR_SWITCH or
 * IR_COUNTER into aucItemRange for a Boolean or numeric row, so that names
 * and values are taken as the editor's list shows them. */
void NameItemsByRows(int iRows);

/* Formats the list line of catalogue row iRow (1 to CATALOGUE_ROWS) into
 * psBuffer (ROW_BUFFER_SIZE bytes), cut to fit.  Returns 1; 0 when the row's
 * type code is not 0, 1 or 2, leaving psBuffer an empty text. */
int FormatRowText(char *psBuffer, int iRow);

/* The list line of row iRow as morvrc_tool prints it: the row number in
 * three columns, a blank and FormatRowText's line, its control bytes
 * escaped (EscapeControls) so that it stays one line.  Returns a malloc'd
 * text, or null when memory runs out. */
char *FormatListLine(int iRow);

/* Row iRow as one JSON object: its number, type, command, variable name,
 * the setting it edits (null for none), default, value (null when not
 * bound) and help-message number.  Returns a malloc'd text, or null when
 * memory runs out. */
char *FormatRowJson(int iRow);

/* The word for a row's type code, "boolean", "numeric" or "text"; "?" for
 * another code. */
char const *RowTypeWord(int iType);

/* Whether row iRow holds psWord (ContainsWord) in its command, its
 * variable name, the name of the setting it edits, the value its list
 * line shows, or psHelp, its help text (null for none). */
int RowHoldsWord(int iRow, char const *psWord, char const *psHelp);

/* Hands pfName every name that may name a setting: each stored item's,
 * each text pair's own, each event's, and the variable names of rows 1 to
 * iRows of the catalogue read, once each, in that order. */
void ForEachName(int iRows, void (*pfName)(char const *psName));

/* Finds the row that psArg names among rows 1 to iRows, as FindRow does.
 * Returns the row, or 0 with the reason in psWhy (uWhy bytes). */
int RowNamed(char const *psArg, int iRows, char *psWhy, size_t uWhy);

/* Finds the rows among rows 1 to iRows, bound to a setting (RowIsBound),
 * that psArg names: those of both texts of a pair by the pair's own name,
 * or one row as RowNamed finds it.  Returns how many rows went into
 * aiRows, 1 or 2; 0 with the reason in psWhy (uWhy bytes). */
int RowsOfName(char const *psArg, int iRows, int aiRows[2], char *psWhy, size_t uWhy);

/* What describe prints of row iRow: a line with the row, its variable
 * name, the setting it edits, its type and range, then its help text
 * (GetMessage) as the editor's help area shows it; or with bJson one JSON
 * object of the same, with the help text as its file holds it, unwrapped
 * (MessageBeforeWrap).  Returns a malloc'd text without a final line feed,
 * or null when memory runs out. */
char *FormatDescription(int iRow, int bJson);

#endif
