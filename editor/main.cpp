/* The Setup Interface of MoRvAnE: the start-up sequence, which reads the
 * message files, morvrc and setup.dat in the order the script expects, fills
 * the variable list and hands over to the toolkit's event loop. */
#include "editor/actions.h"
#include "editor/baseline.h"
#include "editor/boxes.h"
#include "editor/runlog.h"
#include "editor/setup.h"
#include "editor/watch.h"
#include "settings/morvrc/morvrc.h"
#include "settings/store/catalogue.h"
#include "settings/store/morv.h"
#include "support/function.h"
#include "support/mm.h"
#include "support/runlog.h"
#include "support/xchat.h"

#include <FL/Fl.H>
#include <FL/Fl_Browser.H>
#include <FL/Fl_Double_Window.H>
#include <FL/filename.H>

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

/* Appends the text of a catalogue row just read as the last list line. */
static void AddListLine(char const *psRowText)
{
    listbox_Variables->add(psRowText);
}

/* Loads one message file, reporting the outcome on the console and, on
 * failure, in an alert. */
static void LoadLanguage(char const *psLanguage)
{
    if (LoadMessageFile(psLanguage)) {
        puts("... done !");
    } else {
        BoxAlert("FATAL ERROR: Unable to open morv_%s.msg file.\n", psLanguage);
        puts("... ops, file don't found !");
    }
}

int main(int argc, char **argv)
{
    static char acTitle[128];

    /* Progress lines reach a log or a pipe as they happen, not at exit. */
    setvbuf(stdout, NULL, _IOLBF, 0);
    /* Under a file-size limit a save that grows too large fails with EFBIG
     * and is reported, instead of killing the editor with unsaved changes. */
    signal(SIGXFSZ, SIG_IGN);
    /* The catalogue's and SetVariables' steps go to the same run log. */
    pfRunLog = WriteLog;
    set_window_identity();
    WriteLog("main()");
    WriteLog("main() :Set HOME");
    char const *psHome = getenv("HOME");
    if (psHome == NULL || chdir(psHome) != 0)
        BoxAlert("SYSTEM ERROR: Cannot change current directory.");

    WriteLog("main() :Set X-Chat Path");
    SetXChatLayout(argc > 0 && argv[0] != NULL && strstr(argv[0], ".xchat/") != NULL ? 1 : 2);

    WriteLog("main() :Check X-Chat");
    printf("\nCheck the %s directory in the current path ...\n", psXChatPath);
    if (!fl_filename_isdir(psXChatPath)) {
        BoxAlert("FATAL ERROR: Cannot find the %s directory in current path.", psXChatPath);
        Quit(1);
    }
    puts("... done !");

    WriteLog("main() :Load ITA File");
    puts("Load the Italian Messages File ...");
    LoadLanguage(LanguageToLoad(0, psMessageLanguage));

    WriteLog("main() :Load morvrc");
    printf("Load the %s configuration file, if this exist ...\n", psMorvaneRC);
    struct MorvLoadReport report;
    ReadSetupReport(&report);
    TellLoad(&report, 0);
    puts("... done !");

    WriteLog("main() :SetVariables()");
    SetVariables();
    /* What is unsaved is judged against what is shown now, file or none. */
    RememberShownValues();

    WriteLog("main() :Load LANG File");
    char const *psLanguage = LanguageToLoad(1, psMessageLanguage);
    if (psLanguage != NULL) {
        printf("Load the %s Messages File ...\n", psLanguage);
        LoadLanguage(psLanguage);
    }

    WriteLog("main() :Load DAT File");
    printf("Load the %s file ...\n", psSetupDat);
    if (!velDeviceReady(psSetupDat, "r")) {
        BoxAlert("FATAL ERROR: Unable to open %s file.\n", psSetupDat);
        puts("... ops, file don't found !");
        Quit(1);
    }
    FILE *fSetupDat = fopen(psSetupDat, "r");
    if (fSetupDat == NULL)
        Quit(125);

    make_window();
    window_Setup->end();
    window_Setup->show();

    char acRowBuffer[ROW_BUFFER_SIZE];
    WriteLog("main() :Set Window Data Version");
    snprintf(acTitle, sizeof acTitle, "%s%d", window_Setup->label(), iSetupVersion);
    window_Setup->label(acTitle);

    WriteLog("main() :Data Read Loop");
    if (LoadCatalogue(fSetupDat, acRowBuffer, AddListLine) < 0)
        BadTypeCode();
    WriteLog("main() :Data Read End");
    puts("... done !");
    WriteLog("main() :Close Data");
    fclose(fSetupDat);
    WriteLog("main() :Enable ListBox");
    ShowMarks();
    listbox_Variables->activate();
    /* The keys go to the list from the start: the first Down selects the
     * first row, with a window manager or without. */
    listbox_Variables->take_focus();
    /* From here on a change made on disk is shown, or named at the save. */
    pfReadAgainUnasked = ReadAgainUnasked;
    StartWatching();
    puts("Run the Graphic User Interface.");
    return Fl::run();
}
