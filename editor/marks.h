/* What the window shows of what changed: each list line is its row text
 * behind format codes (bold for a value other than the catalogue's
 * default, a second mark for a value changed since the last reading or
 * save), and the title carries an unsaved mark and the changed-on-disk
 * mark; a notice of what became of the file goes above the help text.
 * The row texts themselves never change. */
#ifndef MORV_EDITOR_MARKS_H
#define MORV_EDITOR_MARKS_H

/* The list's format codes: the browser reads them at the start of a line,
 * before the row text's own first blank. */
#define MARK_DEFAULT_DIFFERS "@b"
#define MARK_UNSAVED "@i@C72"

/* The title's marks: before it while anything is unsaved, after it while
 * the file has changed on disk beneath unsaved changes. */
#define MARK_TITLE_UNSAVED "*"
#define MARK_TITLE_CHANGED_ON_DISK " [changed on disk]"

/* Replaces list line iRow with its marks and the row text, formatted in
 * psRowBuffer (ROW_BUFFER_SIZE bytes).  Returns 1; 0 when the row's type
 * code is not 0, 1 or 2, leaving the line as it was. */
int ShowListLine(char *psRowBuffer, int iRow);

/* Takes the window's title as it is now as the one the marks are added
 * to.  Start-up calls it once the title is final. */
void KeepTitle(void);

/* Gives the window its title with the marks that hold now: unsaved as
 * StoreDiffersFromShown judges it, changed on disk as last set.  Does
 * nothing before KeepTitle. */
void ShowTitleMarks(void);

/* Sets (1) or clears (0) the changed-on-disk mark, then shows the title. */
void SetChangedOnDiskMark(int bMark);

/* Puts psText, broken to the help area's width, into the help area above
 * the selected row's help, where it stays until the next selection. */
void TellInHelpArea(char const *psText);

#endif
