/* The editor's question, message, alert and input boxes: every text is
 * broken into lines that fit a small screen, and every box carries the
 * program's name as its title (set once by set_window_identity). */
#ifndef MORV_EDITOR_BOXES_H
#define MORV_EDITOR_BOXES_H

/* The title of every box: the program's name, as its menu entry gives it. */
#define BOX_TITLE "MoRvAnE Setup"

/* The widest line of a box's text, in pixels: the box, its icon and the
 * window manager's frame then fit a screen 800 pixels wide. */
#define BOX_TEXT_WIDTH 600

/* Breaks psText in place into lines no wider than iWidth pixels in the
 * font that fl_font last set: a blank where a line would grow wider
 * becomes a line feed, so the words stay as they were.  A word wider than
 * iWidth stays whole on a line of its own; a command (from "morvrc_tool"
 * to the end of its line) begins a line of its own and is never broken,
 * so that it can be copied as it stands.  Returns nothing. */
void BreakAtBlanks(char *psText, int iWidth);

/* fl_alert, fl_message, fl_choice and fl_input with the text formatted
 * from psFormat and broken as BreakAtBlanks breaks it in the boxes' font.
 * BoxChoice returns the button pressed (0 for b0, the one that Escape and
 * the close box answer); BoxInput returns the text typed, valid until the
 * next box, or null when the box was cancelled. */
void BoxAlert(char const *psFormat, ...) __attribute__((format(printf, 1, 2)));
void BoxMessage(char const *psFormat, ...) __attribute__((format(printf, 1, 2)));
int BoxChoice(char const *b0, char const *b1, char const *b2, char const *psFormat, ...)
    __attribute__((format(printf, 4, 5)));
char const *BoxInput(char const *psDefault, char const *psFormat, ...)
    __attribute__((format(printf, 2, 3)));

#endif
