/* The editor's boxes: the toolkit's alert, message, question and input
 * boxes with their text formatted and broken at blanks into lines that fit
 * a small screen, a command always whole on a line of its own. */
#include "editor/boxes.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/fl_ask.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

/* Room for the longest text a box shows: a sentence and ten changed
 * settings. */
#define BOX_TEXT_SIZE 4096

/* What a command begins with, and so where it begins a line. */
static char const acCommand[] = "morvrc_tool ";

/* Returns the end of the line that begins at ps when that line is a
 * command, or null when it is not one. */
static char *CommandLineEnd(char *ps)
{
    if (strncmp(ps, acCommand, sizeof acCommand - 1) != 0)
        return NULL;
    return ps + strcspn(ps, "\n");
}

void BreakAtBlanks(char *psText, int iWidth)
{
    char *psLine = psText;     /* where the line being filled begins */
    char *psBlank = NULL;      /* its last blank, where it may be broken */
    char *p = psText;
    char *psCommandEnd = CommandLineEnd(p);
    if (psCommandEnd != NULL)
        p = psCommandEnd;
    for (;; p++) {
        char c = *p;
        if (c != ' ' && c != '\n' && c != '\0')
            continue;
        /* A word ends at p: the line up to here must fit, or it is broken
         * at the blank before that word. */
        if (psBlank != NULL && fl_width(psLine, (int)(p - psLine)) > iWidth) {
            *psBlank = '\n';
            psLine = psBlank + 1;
        }
        psBlank = NULL;
        if (c == '\0')
            return;
        if (c == '\n') {
            psLine = p + 1;
        } else if ((psCommandEnd = CommandLineEnd(p + 1)) != NULL) {
            if (p > psLine)
                *p = '\n';
            psLine = p + 1;
            p = psCommandEnd - 1;
            continue;
        } else {
            psBlank = p;
            continue;
        }
        psCommandEnd = CommandLineEnd(psLine);
        if (psCommandEnd != NULL)
            p = psCommandEnd - 1;
    }
}

/* Gives the keyboard back to pFocus, which had it before a box: without a
 * window manager nothing else would, and the list's keys would be lost. */
static void GiveFocusBack(Fl_Widget *pFocus)
{
    if (pFocus != NULL && pFocus->window() != NULL && pFocus->window()->shown())
        pFocus->take_focus();
}

/* Formats the text of a box into psOut (BOX_TEXT_SIZE bytes) and breaks
 * it in the font the boxes use. */
static void BoxText(char *psOut, char const *psFormat, va_list ap)
{
    vsnprintf(psOut, BOX_TEXT_SIZE, psFormat, ap);
    /* Text is measured on the display the box will open on. */
    fl_open_display();
    fl_font(fl_message_font_, fl_message_size_ > 0 ? fl_message_size_ : FL_NORMAL_SIZE);
    BreakAtBlanks(psOut, BOX_TEXT_WIDTH);
}

/* Shows acText in the box pfShow opens (fl_alert, fl_message), then gives
 * the keyboard back to the widget that had it. */
static void ShowBox(void (*pfShow)(char const *psFormat, ...), char const *acText)
{
    Fl_Widget *pFocus = Fl::focus();
    pfShow("%s", acText);
    GiveFocusBack(pFocus);
}

void BoxAlert(char const *psFormat, ...)
{
    char acText[BOX_TEXT_SIZE];
    va_list ap;
    va_start(ap, psFormat);
    BoxText(acText, psFormat, ap);
    va_end(ap);
    ShowBox(fl_alert, acText);
}

void BoxMessage(char const *psFormat, ...)
{
    char acText[BOX_TEXT_SIZE];
    va_list ap;
    va_start(ap, psFormat);
    BoxText(acText, psFormat, ap);
    va_end(ap);
    ShowBox(fl_message, acText);
}

int BoxChoice(char const *b0, char const *b1, char const *b2, char const *psFormat, ...)
{
    char acText[BOX_TEXT_SIZE];
    va_list ap;
    va_start(ap, psFormat);
    BoxText(acText, psFormat, ap);
    va_end(ap);
    Fl_Widget *pFocus = Fl::focus();
    int iAnswer = fl_choice("%s", b0, b1, b2, acText);
    GiveFocusBack(pFocus);
    return iAnswer;
}

char const *BoxInput(char const *psDefault, char const *psFormat, ...)
{
    char acText[BOX_TEXT_SIZE];
    va_list ap;
    va_start(ap, psFormat);
    BoxText(acText, psFormat, ap);
    va_end(ap);
    Fl_Widget *pFocus = Fl::focus();
    char const *psTyped = fl_input("%s", psDefault, acText);
    GiveFocusBack(pFocus);
    return psTyped;
}
