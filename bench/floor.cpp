/* The floor of the start-up benchmark: the least that any FLTK program
 * showing the editor's list has to do.  It opens an 800x500 double-buffered
 * window holding one hold browser, in the place and with the font of the
 * editor's variable list, fills the browser with 255 lines as long as the
 * editor's rows, shows the window and runs the event loop.  No files are
 * read and nothing is logged. */
#include <FL/Fl.H>
#include <FL/Fl_Browser.H>
#include <FL/Fl_Double_Window.H>

#include <stdio.h>

int main()
{
    Fl_Double_Window *pWindow = new Fl_Double_Window(800, 500, "morv floor");
    Fl_Browser *pBrowser = new Fl_Browser(10, 40, 780, 215);
    pBrowser->type(FL_HOLD_BROWSER);
    pBrowser->textfont(FL_COURIER);
    char acLine[128];
    for (int i = 1; i <= 255; i++) {
        /* The shape of an editor row: " %16s | %24s | %20d | %d". */
        char acCommand[24], acName[24];
        snprintf(acCommand, sizeof acCommand, "/COMMAND%03d", i);
        snprintf(acName, sizeof acName, "VariableName%03d", i);
        snprintf(acLine, sizeof acLine, " %16s | %24s | %20d | %d", acCommand, acName, i % 2, i % 7);
        pBrowser->add(acLine);
    }
    pWindow->end();
    pWindow->show(); /* no arguments: no background pixel, as in the editor */
    return Fl::run();
}
