/* The settings as the editor last read or saved them, that is what it
 * showed then, whatever the file held or when there was no file at all:
 * what is unsaved is judged against it, for the whole store (the watch,
 * the title's mark) and row by row (the list's marks).  No FLTK. */
#ifndef MORV_EDITOR_BASELINE_H
#define MORV_EDITOR_BASELINE_H

/* Takes the values of the whole store and the time rows' working copies
 * as they are now, after a reading of morvrc or a save.  Returns 1; 0
 * when memory runs out, after which everything counts as unsaved. */
int RememberShownValues(void);

/* Returns 1 when a setting or a time row's working copy differs from what
 * RememberShownValues took (1 also when it took nothing, or memory runs
 * out, so that nothing is ever thrown away unasked); 0 otherwise. */
int StoreDiffersFromShown(void);

/* Returns 1 when the setting that row iRow edits differs from what
 * RememberShownValues took, as StoreDiffersFromShown judges it; 0 for a
 * row that edits none. */
int RowDiffersFromShown(int iRow);

#endif
