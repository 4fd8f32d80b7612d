/* The marks of the window: the format codes in front of each list line,
 * judged from the catalogue's defaults and from what was last read or
 * saved, the title with its unsaved and changed-on-disk marks, and a
 * notice above the help text. */
#include "editor/marks.h"

#include "editor/baseline.h"
#include "editor/boxes.h"
#include "editor/setup.h"
#include "settings/store/catalogue.h"
#include "support/mm.h"

#include <FL/Fl.H>
#include <FL/Fl_Browser.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Output.H>
#include <FL/fl_draw.H>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static char acTitle[256] = "";
static int bChangedOnDisk = 0;

int ShowListLine(char *psRowBuffer, int iRow)
{
    if (!FormatRowText(psRowBuffer, iRow))
        return 0;
    char acLine[ROW_BUFFER_SIZE + sizeof MARK_DEFAULT_DIFFERS + sizeof MARK_UNSAVED];
    snprintf(acLine, sizeof acLine, "%s%s%s", RowIsChanged(iRow) ? MARK_DEFAULT_DIFFERS : "",
             RowDiffersFromShown(iRow) ? MARK_UNSAVED : "", psRowBuffer);
    /* Unchanged lines are left alone: setting one redraws the list. */
    char const *psOld = listbox_Variables->text(iRow);
    if (psOld == NULL || strcmp(psOld, acLine) != 0)
        listbox_Variables->text(iRow, acLine);
    return 1;
}

void KeepTitle(void)
{
    snprintf(acTitle, sizeof acTitle, "%s", window_Setup->label());
    ShowTitleMarks();
}

void ShowTitleMarks(void)
{
    if (acTitle[0] == '\0')
        return;
    char acShown[sizeof acTitle + sizeof MARK_TITLE_UNSAVED + sizeof MARK_TITLE_CHANGED_ON_DISK];
    snprintf(acShown, sizeof acShown, "%s%s%s", StoreDiffersFromShown() ? MARK_TITLE_UNSAVED : "",
             acTitle, bChangedOnDisk ? MARK_TITLE_CHANGED_ON_DISK : "");
    if (strcmp(window_Setup->label(), acShown) != 0)
        window_Setup->copy_label(acShown);
}

void SetChangedOnDiskMark(int bMark)
{
    bChangedOnDisk = bMark;
    ShowTitleMarks();
}

void TellInHelpArea(char const *psText)
{
    int n = listbox_Variables->value();
    n = n >= 1 && n <= CATALOGUE_ROWS ? n : 0;
    char const *psHelp = n != 0 ? GetMessage(dvArray[n].iHelpMessage) : "";
    size_t uText = strlen(psText), uHelp = strlen(psHelp);
    char *psShown = (char *)malloc(uText + uHelp + 3);
    if (psShown == NULL)
        return;
    memcpy(psShown, psText, uText + 1);
    fl_font(textoutput_help->textfont(), textoutput_help->textsize());
    /* The area's frame and its margins take some of its width. */
    BreakAtBlanks(psShown, textoutput_help->w() - 16);
    if (uHelp > 0)
        snprintf(psShown + uText, uHelp + 3, "\n\n%s", psHelp);
    textoutput_help->value(psShown);
    free(psShown);
}
