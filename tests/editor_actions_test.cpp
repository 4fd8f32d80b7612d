/* The editor window and the actions behind it, driven in-process: the
 * widget layout, selection and the value controls, the list's marks, and
 * the four buttons with their question and message boxes answered through
 * Fl::modal(), every box checked for its title and its width. */
#include "editor/actions.h"
#include "editor/baseline.h"
#include "editor/boxes.h"
#include "editor/marks.h"
#include "editor/runlog.h"
#include "editor/setup.h"
#include "settings/store/catalogue.h"
#include "settings/store/morv.h"
#include "settings/morvrc/morvrc.h"
#include "support/mm.h"
#include "support/runlog.h"
#include "support/xchat.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Browser.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Counter.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Output.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <deque>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

/* Another program writing morvrc at the first fsync of a save, while
 * gbChangeOnFsync is set (the test program is linked with --wrap=fsync),
 * after trying its lock: giLockAtFsync gets 0 or the errno of the try. */
static bool gbChangeOnFsync = false;
static int giLockAtFsync = 0;
extern "C" int __real_fsync(int fd);
extern "C" int __wrap_fsync(int fd)
{
    if (gbChangeOnFsync) {
        gbChangeOnFsync = false;
        int fdLock = open(".xchat2/morvane/morvrc", O_RDONLY | O_CLOEXEC);
        giLockAtFsync = flock(fdLock, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
        close(fdLock);
        FILE *f = fopen(".xchat2/morvane/morvrc", "ab");
        if (f != nullptr) {
            fputc('!', f);
            fclose(f);
        }
    }
    return __real_fsync(fd);
}

namespace {

/* Question and message boxes seen, and the buttons to press in them. */
std::deque<std::string> gAnswers;
std::vector<std::string> gBoxes;
std::vector<std::string> gBoxTexts;  /* as shown, broken into lines */

/* Checks that every line of a box's text fits BOX_TEXT_WIDTH in the box's
 * font, unless it is a single word or a command, and returns the text
 * with its lines joined again by blanks, as it was before it was broken. */
std::string CheckedBoxText(Fl_Widget const *pText)
{
    std::string text = pText->label(), joined;
    fl_font(pText->labelfont(), pText->labelsize());
    size_t uAt = 0;
    while (uAt <= text.size()) {
        size_t uEnd = std::min(text.find('\n', uAt), text.size());
        std::string line = text.substr(uAt, uEnd - uAt);
        if (line.find(' ') != std::string::npos && line.rfind("morvrc_tool ", 0) != 0) {
            EXPECT_LE(fl_width(line.c_str()), BOX_TEXT_WIDTH) << line;
        }
        joined += (uAt > 0 ? " " : "") + line;
        uAt = uEnd + 1;
    }
    return joined;
}

void AnswerBox(void *)
{
    Fl_Window *w = Fl::modal();
    if (w == nullptr || gAnswers.empty()) {
        Fl::repeat_timeout(0.01, AnswerBox);
        return;
    }
    std::string button = gAnswers.front();
    gAnswers.pop_front();
    std::vector<Fl_Button *> visible;
    Fl_Button *pPress = nullptr;
    for (int i = 0; i < w->children(); i++) {
        Fl_Button *b = dynamic_cast<Fl_Button *>(w->child(i));
        if (b != nullptr && b->visible() && b->label() != nullptr) {
            visible.push_back(b);
            if (button == b->label())
                pPress = b;
        }
    }
    std::sort(visible.begin(), visible.end(), [](Fl_Button *a, Fl_Button *b) { return a->x() < b->x(); });
    std::string buttons;
    for (Fl_Button *b : visible)
        buttons += (buttons.empty() ? "" : ",") + std::string(b->label());
    /* The text of the box, then its buttons from left to right. */
    EXPECT_STREQ("MoRvAnE Setup", w->label());
    gBoxTexts.push_back(w->child(0)->label());
    gBoxes.push_back(CheckedBoxText(w->child(0)) + " [" + buttons + "]");
    if (pPress == nullptr && !visible.empty()) {
        /* The rightmost button closes the box, so that the test fails
         * rather than waits for ever. */
        ADD_FAILURE() << "no button " << button << " in " << gBoxes.back();
        pPress = visible.back();
    }
    if (pPress != nullptr)
        pPress->do_callback();
    if (!gAnswers.empty())
        Fl::repeat_timeout(0.01, AnswerBox);
}

/* Queues answers for the next boxes. */
void Answer(std::initializer_list<char const *> buttons)
{
    for (char const *ps : buttons)
        gAnswers.push_back(ps);
    Fl::remove_timeout(AnswerBox);
    Fl::add_timeout(0.01, AnswerBox);
}

/* The list line of a row: command to column 16, name to 43, default to
 * 66, then the current value. */
std::string Row(std::string const &cmd, std::string const &name, std::string const &def, std::string const &cur)
{
    auto pad = [](std::string const &t, size_t w) { return std::string(w > t.size() ? w - t.size() : 0, ' ') + t; };
    return " " + pad(cmd, 16) + " | " + pad(name, 24) + " | " + pad(def, 20) + " | " + cur;
}

/* A 77-row catalogue in the binding table's order. */
std::string CatalogueText()
{
    std::string s;
    for (int i = 1; i <= 77; i++) {
        bool bText = (i >= 20 && i <= 27) || i == 34 || i == 35 || i == 37 || i == 38 || i == 40;
        bool bNumber = i == 7 || i == 12 || i == 14 || i == 16 || i == 17 || i == 18 || i == 39;
        char const *psDefault = "-";
        if (i == 20)
            psDefault = "$";
        else if (i == 26)
            psDefault = ">>$^$";
        else if (i == 27)
            psDefault = "$^$";
        else if (i == 34)
            psDefault = "italiano";
        else if (bText)
            psDefault = "$none";
        int iDefault = bNumber ? 100 + i : i % 2;
        s += std::to_string(bText ? 2 : bNumber ? 1 : 0) + " | /C" + std::to_string(i) + " | V" + std::to_string(i) +
             " | " + std::to_string(iDefault) + " | " + psDefault + " | " + std::to_string(4000 + i) + "\n";
    }
    return s;
}

class Editor : public ::testing::Test {
  protected:
    void SetUp() override
    {
        gAnswers.clear();
        gBoxes.clear();
        gBoxTexts.clear();
        ASSERT_EQ(0, chdir(home.path().c_str()));
        setenv("XDG_STATE_HOME", (home / "state").c_str(), 1);
        mkdir(".xchat2", 0755);
        mkdir(".xchat2/morvane", 0755);
        static char acRC[] = ".xchat2/morvane/morvrc";
        psMorvaneRC = acRC;
        iXChatVer = 2;
        logPath = home / "run.log";
        psLogFile = logPath.c_str();
        pfRunLog = WriteLog;
        bFlagModified = 0;
        ResetSettings();
        WriteFileText(".xchat2/morvane/morv_italiano.msg", "// 4001 \"aiuto uno\"\n// 4007 \"aiuto sette\"\n");
        testing::internal::CaptureStdout();
        LoadMessageFile("italiano");
        testing::internal::GetCapturedStdout();
        ReadSetup(nullptr);
        SetVariables();
        set_window_identity();
        make_window();
        WriteFileText(".xchat2/morvane/setup.dat", CatalogueText());
        FILE *f = fopen(".xchat2/morvane/setup.dat", "r");
        char acRow[ROW_BUFFER_SIZE];
        LoadCatalogue(f, acRow, [](char const *psRowText) { listbox_Variables->add(psRowText); });
        fclose(f);
        RememberShownValues();
        ShowMarks();
        listbox_Variables->activate();
    }
    void TearDown() override
    {
        delete window_Setup;
        window_Setup = nullptr;
        ClearCatalogue();
        ResetSettings();
        FlushMessage();
        EXPECT_EQ(0, chdir("/"));
    }
    void Select(int n)
    {
        listbox_Variables->value(n);
        listbox_VariablesSelected();
    }
    /* A list line's row text, and the format codes before it: every row
     * text begins with a blank, which no code holds. */
    static size_t MarksLength(char const *psLine) { return strcspn(psLine, " "); }
    std::string Line(int n) { return listbox_Variables->text(n) + MarksLength(listbox_Variables->text(n)); }
    std::string Marks(int n) { return std::string(listbox_Variables->text(n), MarksLength(listbox_Variables->text(n))); }
    /* "O" for the one active value group: "B", "N", "T" or "-" for none. */
    std::string ActiveGroup()
    {
        std::string s;
        if (group_OnOff->active())
            s += "B";
        if (group_NumVar->active())
            s += "N";
        if (group_TextVar->active())
            s += "T";
        return s.empty() ? "-" : s;
    }
    std::string Log() { return ReadFileText(logPath); }

    ScratchDir home;
    std::string logPath;
};

TEST_F(Editor, WindowLayout)
{
    struct Expect {
        Fl_Widget *w;
        int x, y, w_, h;
        char const *label;
        Fl_Boxtype box;
        Fl_Color color;
    };
    Fl_Group *pVariables = listbox_Variables->parent();
    Fl_Group *pHelp = textoutput_help->parent();
    const Fl_Color kGreen = 206, kBlue = 246, kCyan = 247;
    Expect aWant[] = {
        {window_Setup, window_Setup->x(), window_Setup->y(), 800, 500,
         "MoRvAnE - Setup Interface - Version 4.0 - rc_version_", window_Setup->box(), kGreen},
        {pVariables, 5, 20, 790, 310, " V a r i a b l e s", FL_PLASTIC_UP_BOX, FL_CYAN},
        {listbox_Variables, 10, 40, 780, 215,
         "           Command             Variable Name                 Default  Current",
         listbox_Variables->box(), kBlue},
        {group_OnOff, 10, 280, 160, 45, "Boolean Variable", FL_PLASTIC_UP_BOX, kCyan},
        {radiobutton_ON, 30, 290, 50, 25, "ON", radiobutton_ON->box(), radiobutton_ON->color()},
        {radiobutton_OFF, 95, 290, 50, 25, "OFF", radiobutton_OFF->box(), radiobutton_OFF->color()},
        {group_NumVar, 175, 280, 165, 45, "Numeric Variable", FL_PLASTIC_UP_BOX, kCyan},
        {textinput_NumericValue, 180, 290, 155, 25, nullptr, FL_PLASTIC_UP_BOX, FL_CYAN},
        {group_TextVar, 345, 280, 445, 45, "Text Variable", FL_PLASTIC_UP_BOX, kCyan},
        {textinput_TextValue, 425, 290, 360, 25, "Insert text:", textinput_TextValue->box(),
         textinput_TextValue->color()},
        {pHelp, 5, 350, 635, 145, " H e l p", FL_PLASTIC_UP_BOX, FL_CYAN},
        {textoutput_help, 15, 360, 615, 125, nullptr, FL_PLASTIC_DOWN_BOX, kBlue},
        {button_ResetToDefault, 645, 390, 150, 25, "Reset to Default", FL_PLASTIC_UP_BOX, FL_CYAN},
        {button_SaveToDisk, 645, 430, 150, 25, "Save to Disk", FL_PLASTIC_UP_BOX, FL_CYAN},
        {button_Exit, 645, 470, 150, 25, "E x i t", FL_PLASTIC_UP_BOX, kCyan},
        {button_LoadFromDisk, 645, 350, 150, 25, "Load from Disk", FL_PLASTIC_UP_BOX, FL_CYAN},
    };
    for (Expect const &e : aWant) {
        SCOPED_TRACE(e.label != nullptr ? e.label : "(no label)");
        EXPECT_EQ(e.x, e.w->x());
        EXPECT_EQ(e.y, e.w->y());
        EXPECT_EQ(e.w_, e.w->w());
        EXPECT_EQ(e.h, e.w->h());
        if (e.label == nullptr)
            EXPECT_EQ(nullptr, e.w->label());
        else
            EXPECT_STREQ(e.label, e.w->label());
        EXPECT_EQ(e.box, e.w->box());
        EXPECT_EQ(e.color, e.w->color());
    }

    /* Nesting and creation order (also the Tab order). */
    ASSERT_EQ(6, window_Setup->children());
    EXPECT_EQ(pVariables, window_Setup->child(0));
    EXPECT_EQ(pHelp, window_Setup->child(1));
    EXPECT_EQ(button_ResetToDefault, window_Setup->child(2));
    EXPECT_EQ(button_SaveToDisk, window_Setup->child(3));
    EXPECT_EQ(button_Exit, window_Setup->child(4));
    EXPECT_EQ(button_LoadFromDisk, window_Setup->child(5));
    ASSERT_EQ(4, pVariables->children());
    EXPECT_EQ(listbox_Variables, pVariables->child(0));
    EXPECT_EQ(group_OnOff, pVariables->child(1));
    EXPECT_EQ(group_NumVar, pVariables->child(2));
    EXPECT_EQ(group_TextVar, pVariables->child(3));
    EXPECT_EQ(radiobutton_ON, group_OnOff->child(0));
    EXPECT_EQ(radiobutton_OFF, group_OnOff->child(1));
    EXPECT_EQ(textinput_NumericValue, group_NumVar->child(0));
    EXPECT_EQ(textinput_TextValue, group_TextVar->child(0));

    /* Fonts, label types and alignments. */
    for (Fl_Widget *w : {(Fl_Widget *)pVariables, (Fl_Widget *)pHelp}) {
        EXPECT_EQ(FL_ENGRAVED_LABEL, w->labeltype());
        EXPECT_EQ(FL_COURIER, w->labelfont());
        EXPECT_EQ(FL_ALIGN_TOP_LEFT, w->align());
    }
    for (Fl_Widget *w : {(Fl_Widget *)button_ResetToDefault, (Fl_Widget *)button_SaveToDisk,
                         (Fl_Widget *)button_Exit, (Fl_Widget *)button_LoadFromDisk}) {
        EXPECT_EQ(FL_ENGRAVED_LABEL, w->labeltype());
        EXPECT_EQ(FL_COURIER, w->labelfont());
    }
    for (Fl_Group *g : {group_OnOff, group_NumVar, group_TextVar}) {
        EXPECT_EQ(FL_COURIER, g->labelfont());
        EXPECT_EQ(FL_DARK_RED, g->labelcolor());
        EXPECT_EQ(FL_ALIGN_TOP, g->align());
    }
    EXPECT_EQ(FL_COURIER, listbox_Variables->labelfont());
    EXPECT_EQ(FL_COURIER, listbox_Variables->textfont());
    EXPECT_EQ(FL_DARK_RED, listbox_Variables->labelcolor());
    EXPECT_EQ(FL_ALIGN_TOP_LEFT, listbox_Variables->align());
    EXPECT_EQ(FL_HOLD_BROWSER, listbox_Variables->type());
    EXPECT_EQ(FL_RADIO_BUTTON, radiobutton_ON->type());
    EXPECT_EQ(FL_RADIO_BUTTON, radiobutton_OFF->type());
    EXPECT_EQ(FL_DOWN_BOX, radiobutton_ON->down_box());
    EXPECT_EQ(FL_SIMPLE_COUNTER, textinput_NumericValue->type());
    EXPECT_EQ(0, textinput_NumericValue->minimum());
    EXPECT_EQ(4096, textinput_NumericValue->maximum());
    EXPECT_EQ(1, textinput_NumericValue->step());
    EXPECT_EQ(FL_COURIER, textinput_NumericValue->textfont());
    EXPECT_EQ(FL_MULTILINE_OUTPUT, textoutput_help->type());
    EXPECT_EQ(12, textoutput_help->textsize());
    EXPECT_EQ(FL_WHEN_NEVER, textoutput_help->when());
    EXPECT_STREQ("Reset the value of all variables to default", button_ResetToDefault->tooltip());
    EXPECT_STREQ("Save the configuration to disk", button_SaveToDisk->tooltip());
    EXPECT_STREQ("Exit", button_Exit->tooltip());
    EXPECT_STREQ("Load the configuration file from disk", button_LoadFromDisk->tooltip());
    EXPECT_EQ((unsigned)'q', (unsigned)button_Exit->shortcut());
    EXPECT_EQ(0u, (unsigned)button_LoadFromDisk->shortcut());
    EXPECT_EQ(nullptr, window_Setup->resizable());
    /* Freshly built: no value group can be used, nothing set. */
    EXPECT_EQ("-", ActiveGroup());
    EXPECT_EQ(0, radiobutton_ON->value());
    EXPECT_EQ(0, radiobutton_OFF->value());
    EXPECT_EQ(0, textinput_NumericValue->value());
}

TEST_F(Editor, SelectionShowsTheValueAndHelpOfItsRow)
{
    iFlagLogFile = 5;
    Select(2);
    EXPECT_EQ("B", ActiveGroup());
    EXPECT_EQ(1, radiobutton_ON->value());
    EXPECT_EQ(0, radiobutton_OFF->value());
    EXPECT_STREQ("ATTENZIONE: Messaggio numero 4002 fuori dal limite o comunque vuoto.\nContattare la VEL'Software !",
                 textoutput_help->value());

    iMaxCloneCount = 7200;
    Select(7);
    EXPECT_EQ("N", ActiveGroup());
    EXPECT_EQ(7200, textinput_NumericValue->value());
    EXPECT_STREQ("aiuto sette", textoutput_help->value());

    Select(34);
    EXPECT_EQ("T", ActiveGroup());
    EXPECT_STREQ("italiano", textinput_TextValue->value());
    Select(20);  /* absent text: the field is cleared, not left showing "italiano" */
    EXPECT_STREQ("", textinput_TextValue->value());

    Select(0);   /* no line: nothing changes */
    EXPECT_EQ("T", ActiveGroup());
    EXPECT_EQ(0, bFlagModified);
    EXPECT_NE(std::string::npos, Log().find(" : listbox_VariablesSelected()\n"));
}

TEST_F(Editor, OnOffAndTheCounterStoreThroughTheSelectedRow)
{
    Select(1);
    radiobutton_ON->setonly();
    radiobutton_ONSelected();
    EXPECT_EQ(1, iFlagDebugMode);
    EXPECT_EQ(Row("/C1", "V1", "1", "1"), Line(1));
    EXPECT_EQ(1, bFlagModified);
    radiobutton_OFFSelected();
    EXPECT_EQ(0, iFlagDebugMode);

    Select(14);
    textinput_NumericValue->value(42.9);
    textinput_NumericValueSelected();
    EXPECT_EQ(42, i_tCTCPFloodTimer);
    EXPECT_EQ((time_t)1, tCTCPFloodTimer);  /* only a save writes the copy back */
    EXPECT_EQ(Row("/C14", "V14", "114", "42"), Line(14));
    textinput_NumericValue->value(-3);
    textinput_NumericValueSelected();
    EXPECT_EQ(0, i_tCTCPFloodTimer);

    /* No selected line: no setting changes, but the flag is set. */
    bFlagModified = 0;
    listbox_Variables->value(0);
    radiobutton_ONSelected();
    EXPECT_EQ(0, iFlagDebugMode);
    EXPECT_EQ(1, bFlagModified);
    std::string log = Log();
    for (char const *ps : {"radiobutton_ONSelected()", "radiobutton_OFFSelected()", "textinput_NumericValueSelected()"})
        EXPECT_NE(std::string::npos, log.find(std::string(" : ") + ps + "\n")) << ps;
}

TEST_F(Editor, TextFieldGivesTheSettingItsOwnCopy)
{
    Select(26);
    textinput_TextValue->value("  two  words ");
    textinput_TextValueSelected();
    ASSERT_NE(nullptr, psPrefixOutput);
    EXPECT_STREQ("  two  words ", psPrefixOutput);
    EXPECT_NE((void *)textinput_TextValue->value(), (void *)psPrefixOutput);
    EXPECT_EQ(psPrefixOutput, dvArray[26].psValue);
    EXPECT_EQ(Row("/C26", "V26", ">> ", "  two  words "), Line(26));

    textinput_TextValue->value("");
    textinput_TextValueSelected();
    EXPECT_EQ(nullptr, psPrefixOutput);
    EXPECT_EQ(nullptr, dvArray[26].psValue);
    EXPECT_EQ(Row("/C26", "V26", ">> ", "(null)"), Line(26));
    EXPECT_EQ(1, bFlagModified);
    EXPECT_NE(std::string::npos, Log().find(" : textinput_TextValueSelected()\n"));
}

TEST_F(Editor, ResetAsksAndPutsEveryDefaultBack)
{
    iMaxCloneCount = 3;
    psFlagChanJoinBeep[0] = strdup("#chan");
    SetVariables();
    Select(7);

    Answer({"No"});
    ResetToDefault();
    EXPECT_EQ(3, iMaxCloneCount);
    EXPECT_EQ("N", ActiveGroup());
    EXPECT_EQ(0, bFlagModified);

    Answer({"Yes"});
    ResetToDefault();
    ASSERT_EQ(2u, gBoxes.size());
    EXPECT_EQ("ATTENTION: are you sure ? [Yes,No]", gBoxes[0]);
    EXPECT_EQ(107, iMaxCloneCount);
    EXPECT_EQ(114, i_tCTCPFloodTimer);
    EXPECT_EQ(nullptr, psFlagChanJoinBeep[0]);            /* "$": no default text */
    EXPECT_STREQ(">> ", psPrefixOutput);                  /* "$^$" is a blank */
    EXPECT_STREQ(" ", psPostfixOutput);
    EXPECT_EQ(nullptr, psAwayPostfix);                    /* "$none" */
    EXPECT_STREQ("italiano", psMessageLanguage);
    EXPECT_EQ(psPrefixOutput, dvArray[26].psValue);
    EXPECT_EQ(Row("/C20", "V20", "$", "(null)"), Line(20));
    EXPECT_EQ(Row("/C7", "V7", "107", "107"), Line(7));
    EXPECT_EQ("-", ActiveGroup());
    EXPECT_EQ(1, bFlagModified);
    EXPECT_EQ(107, textinput_NumericValue->value());   /* greyed, the row's new value */

    /* A text typed and not taken is not left in the greyed field, nor is
     * another row's value in the other controls. */
    Select(26);
    textinput_TextValue->value("/ECHO quiq");
    textinput_TextValue->set_changed();
    Answer({"Yes"});
    ResetToDefault();
    EXPECT_STREQ(">> ", textinput_TextValue->value());
    EXPECT_EQ(0, textinput_NumericValue->value());
    EXPECT_EQ(0, radiobutton_ON->value() + radiobutton_OFF->value());
}

TEST_F(Editor, MarksShowWhatDiffersAndWhatIsUnsavedBesideTheRowTexts)
{
    std::string title = window_Setup->label();
    /* Row 7 holds 10, not its default 107: bold, while the run log has the
     * row text alone. */
    EXPECT_EQ("@b", Marks(7));
    EXPECT_EQ("", Marks(2));
    EXPECT_NE(std::string::npos, Log().find(" : " + Line(7) + "\n"));
    EXPECT_EQ(std::string::npos, Log().find("@"));
    /* Both marks keep Courier's widths, so the columns stay under the header. */
    fl_font(FL_COURIER, listbox_Variables->textsize());
    double dPlain = fl_width(Line(7).c_str());
    for (Fl_Font f : {FL_COURIER_BOLD, FL_COURIER_ITALIC, FL_COURIER_BOLD_ITALIC}) {
        fl_font(f, listbox_Variables->textsize());
        EXPECT_EQ(dPlain, fl_width(Line(7).c_str())) << f;
    }

    /* Changed since it was read: the second mark, and the title's. */
    Select(2);
    radiobutton_ONSelected();
    EXPECT_EQ(MARK_DEFAULT_DIFFERS MARK_UNSAVED, Marks(2));
    EXPECT_EQ("*" + title, window_Setup->label());
    radiobutton_OFFSelected();    /* back to what was read: nothing unsaved */
    EXPECT_EQ("", Marks(2));
    EXPECT_EQ(title, window_Setup->label());
    radiobutton_ONSelected();
    Answer({"Yes", "Close"});
    testing::internal::CaptureStdout();
    SaveToDisk();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(MARK_DEFAULT_DIFFERS, Marks(2));
    EXPECT_EQ(title, window_Setup->label());
}

TEST_F(Editor, AReloadByTheWatchIsSaidInTheHelpAreaAndLeavesNothingStale)
{
    free(psAwayPostfix);
    psAwayPostfix = strdup("-seen");
    ASSERT_EQ(1, WriteSetup());
    free(psAwayPostfix);
    psAwayPostfix = strdup("_AWAY");
    SetVariables();
    Select(35);
    struct MorvSnapshot snap;
    ASSERT_EQ(1, SnapshotFile(".xchat2/morvane/morvrc", 1, &snap));
    ReadAgainUnasked(&snap);
    FreeSnapshot(&snap);
    EXPECT_STREQ("-seen", textinput_TextValue->value());
    /* The sentence, broken to the area's width, above the row's help. */
    std::string shown = textoutput_help->value(), help = std::string("\n\n") + GetMessage(4035);
    ASSERT_LT(help.size(), shown.size());
    EXPECT_EQ(help, shown.substr(shown.size() - help.size()));
    std::string said = shown.substr(0, shown.size() - help.size());
    std::replace(said.begin(), said.end(), '\n', ' ');
    EXPECT_EQ("The .xchat2/morvane/morvrc configuration file was changed by another program: its "
              "settings are shown again.",
              said);
    Select(35);
    EXPECT_STREQ(GetMessage(4035), textoutput_help->value());
}

TEST_F(Editor, LoadRereadsTheFileAndRedrawsEveryLine)
{
    iMaxCloneCount = 55;
    free(psAudioDevice);
    psAudioDevice = strdup("OSS");
    ASSERT_EQ(1, WriteSetup());
    iMaxCloneCount = 1;
    Select(7);

    Answer({"Yes", "Close"});
    LoadFromDisk();
    EXPECT_EQ(55, iMaxCloneCount);
    EXPECT_EQ(Row("/C7", "V7", "107", "55"), Line(7));
    EXPECT_EQ(Row("/C38", "V38", "$none", "OSS"), Line(38));
    EXPECT_EQ(psAudioDevice, dvArray[38].psValue);
    ASSERT_EQ(2u, gBoxes.size());
    EXPECT_EQ("ATTENTION: are you sure ? [Yes,No]", gBoxes[0]);
    EXPECT_EQ("File .xchat2/morvane/morvrc successfully loaded. [Close]", gBoxes[1]);
    EXPECT_EQ("-", ActiveGroup());
    EXPECT_EQ(1, bFlagModified);

    /* A file that cannot be opened is said so, not reported as loaded. */
    unlink(".xchat2/morvane/morvrc");
    gBoxes.clear();
    Answer({"Yes", "Close"});
    LoadFromDisk();
    ASSERT_EQ(2u, gBoxes.size());
    EXPECT_EQ("ATTENTION: Unable to open .xchat2/morvane/morvrc configuration file. The variables keep their "
              "current values.  [Close]",
              gBoxes[1]);
    EXPECT_STREQ("OSS", psAudioDevice);  /* present texts keep their value */

    /* Damaged, with a whole version kept: the way back names the file by
     * its absolute path, the command whole on a line of its own. */
    testing::internal::CaptureStdout();
    for (int i : {1, 2}) {
        iMaxCloneCount = i;
        Answer({"Yes", "Close"});
        SaveToDisk();
    }
    ASSERT_EQ(0, truncate(".xchat2/morvane/morvrc", 40));
    Answer({"Yes", "Close"});
    LoadFromDisk();
    testing::internal::GetCapturedStdout();
    char acHere[PATH_MAX];
    ASSERT_NE(nullptr, getcwd(acHere, sizeof acHere));
    std::string command = std::string("\nmorvrc_tool restore 1 ") + acHere + "/.xchat2/morvane/morvrc\n";
    ASSERT_LE(command.size(), gBoxTexts.back().size());
    EXPECT_EQ(command, gBoxTexts.back().substr(gBoxTexts.back().size() - command.size())) << gBoxTexts.back();
}

TEST_F(Editor, SaveWritesBackTheTimeCopiesAndReportsFailures)
{
    Select(16);
    textinput_NumericValue->value(4000);
    textinput_NumericValueSelected();
    Answer({"No"});
    SaveToDisk();
    EXPECT_EQ((time_t)4000, tSoundCommandTimer);   /* written back before the question */
    EXPECT_FALSE(FileExists(".xchat2/morvane/morvrc"));
    EXPECT_EQ(1, bFlagModified);

    Answer({"Yes", "Close"});
    testing::internal::CaptureStdout();
    SaveToDisk();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ("File .xchat2/morvane/morvrc successfully saved. [Close]", gBoxes.back());
    EXPECT_EQ(0, bFlagModified);
    ResetSettings();
    ReadSetup(nullptr);
    EXPECT_EQ((time_t)4000, tSoundCommandTimer);

    /* The directory is gone: the file went with it, which is a change the
     * user is asked about; overwritten, the save fails, the user is told,
     * and the change stays unsaved. */
    bFlagModified = 1;
    ASSERT_EQ(0, rename(".xchat2/morvane", ".xchat2/elsewhere"));
    Answer({"Yes", "Overwrite", "Close"});
    testing::internal::CaptureStdout();
    SaveToDisk();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ("Unable to open file .xchat2/morvane/morvrc for writing (No such file or directory). [Close]",
              gBoxes.back());
    /* The question is on the console too; without a file it names nothing. */
    EXPECT_EQ("The configuration file .xchat2/morvane/morvrc has been changed by another program "
              "since it was loaded; do you want to overwrite it ?\n"
              "\nUnable to open file .xchat2/morvane/morvrc for writing (No such file or directory).",
              out);
    EXPECT_EQ(1, bFlagModified);
    EXPECT_NE(std::string::npos, Log().find(" : SaveToDisk()\n"));
}

TEST_F(Editor, SaveHoldsTheLockAsksAgainAndKeepsTheFileAsItWas)
{
    std::string rc = ".xchat2/morvane/morvrc";
    ASSERT_EQ(1, WriteSetup());
    ReadSetup(nullptr);
    SetVariables();
    ByteVector saved = ReadFileBytes(rc);

    /* Only the second text of a pair: refused, nothing written. */
    Select(21);
    textinput_TextValue->value("beep");
    textinput_TextValueSelected();
    Answer({"Close"});
    testing::internal::CaptureStdout();
    SaveToDisk();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ("ATTENTION: the configuration was not saved: V20 and V21 must both hold a text, or both be "
              "empty.  [Close]",
              gBoxes.back());
    textinput_TextValue->value("");
    textinput_TextValueSelected();

    /* Another program saving all the time the editor waits: nothing written. */
    int fdLock = open(rc.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_LE(0, fdLock);
    ASSERT_EQ(0, flock(fdLock, LOCK_EX));
    Answer({"Yes", "Close"});
    testing::internal::CaptureStdout();
    SaveToDisk();
    testing::internal::GetCapturedStdout();
    close(fdLock);
    EXPECT_EQ("ATTENTION: the configuration was not saved: another program is saving " + rc + ".  [Close]",
              gBoxes.back());
    EXPECT_EQ(saved, ReadFileBytes(rc));

    /* Changed while the new file was being written: asked again. */
    gbChangeOnFsync = true;
    Answer({"Yes", "Cancel"});
    SaveToDisk();
    EXPECT_EQ("The configuration file " + rc + " has been changed by another program since it was loaded; do "
              "you want to overwrite it ? [Overwrite,Cancel]",
              gBoxes.back());
    EXPECT_EQ(Bytes().raw(saved).raw("!").bytes(), ReadFileBytes(rc));
    EXPECT_EQ(EWOULDBLOCK, giLockAtFsync); /* the save held its lock */

    /* Saved by root, the file stays its owner's, with its mode and attributes. */
    if (geteuid() != 0)
        return;
    ReadSetup(nullptr);
    SetVariables();
    ASSERT_EQ(0, chown(rc.c_str(), 65534, 65534));
    ASSERT_EQ(0, chmod(rc.c_str(), 0640));
    ASSERT_EQ(0, setxattr(rc.c_str(), "user.morv", "kept", 4, 0));
    Answer({"Yes", "Close"});
    testing::internal::CaptureStdout();
    SaveToDisk();
    /* In a directory of root's alone the file is root's to save: the bytes
     * replaced go to root's own history, and nothing is said of them. */
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::string::npos, out.find("note:")) << out;
    struct stat st;
    ASSERT_EQ(0, stat(rc.c_str(), &st));
    EXPECT_EQ(65534u, st.st_uid);
    EXPECT_EQ(0640u, st.st_mode & 07777);
    char acValue[16] = "";
    EXPECT_EQ(4, getxattr(rc.c_str(), "user.morv", acValue, sizeof acValue));

    /* The user's link to a file of root's: saved with the user's rights,
     * root's file is never written through it. */
    std::string secret = home / "root-only";
    ASSERT_EQ(0, mkdir(secret.c_str(), 0700));
    WriteFileText(secret + "/shadow", "root:x:0:0\n");
    ASSERT_EQ(0, unlink(rc.c_str()));
    ASSERT_EQ(0, symlink((secret + "/shadow").c_str(), rc.c_str()));
    ASSERT_EQ(0, lchown(rc.c_str(), 65534, 65534));
    Answer({"Yes", "Close"});
    SaveToDisk();
    EXPECT_EQ("root:x:0:0\n", ReadFileText(secret + "/shadow"));
}

TEST_F(Editor, WideTimeValuesAreEditedAsTheirLow32BitsAndSavedSignExtended)
{
    if (sizeof(time_t) != 8)
        GTEST_SKIP() << "time_t is 32 bits in this build";
    tCTCPFloodTimer = (time_t)0x1FFFFFFFFLL;   /* low 32 bits: -1 */
    tMinSecondSent = (time_t)0x100000010LL;    /* low 32 bits: 16 */
    SetVariables();
    char acRow[ROW_BUFFER_SIZE];
    FormatRowText(acRow, 14);
    EXPECT_EQ(Row("/C14", "V14", "114", "-1"), acRow);
    Answer({"Yes", "Close"});
    SaveToDisk();
    EXPECT_EQ((time_t)-1, tCTCPFloodTimer);
    EXPECT_EQ((time_t)16, tMinSecondSent);
    ByteVector b = ReadFileBytes(".xchat2/morvane/morvrc");
    ASSERT_GE(b.size(), 92u);
    EXPECT_EQ(ByteVector(8, 0xff), ByteVector(b.begin() + 56, b.begin() + 64));
    EXPECT_EQ((ByteVector{16, 0, 0, 0, 0, 0, 0, 0}), ByteVector(b.begin() + 80, b.begin() + 88));
}

TEST_F(Editor, ARowRedrawnWithAnUnknownTypeCodeEndsWithStatus2)
{
    /* The catalogue only refuses the row text; ending is the editor's. */
    std::string out;
    int iStatus = RunInChild(
        [this] {
            Select(1);
            dvArray[1].iType = 3;
            radiobutton_ONSelected();
        },
        &out);
    EXPECT_EQ(2, iStatus);
    EXPECT_EQ("OOPS, emmo' qui c'e' lo scaZZo peso... sOb, mi tocca abortire 8__(\n", out);
}

TEST_F(Editor, AFileThatIsThereButUnreadableIsReplacedOnlyWhenTheUserSaysSo)
{
    /* Unreadable to root only through its user's identity, which root
     * takes for a file in that user's directory. */
    if (geteuid() != 0)
        GTEST_SKIP() << "the file's user is another user, made so by root";
    std::string rc = ".xchat2/morvane/morvrc";
    ASSERT_EQ(0, chmod(home.path().c_str(), 0755));
    ASSERT_EQ(0, chmod(".xchat2", 0755));
    ASSERT_EQ(0, chown(".xchat2/morvane", 65534, 65534));
    WriteFileText(rc, "not for reading");
    ASSERT_EQ(0, chown(rc.c_str(), 65534, 65534));
    ASSERT_EQ(0, chmod(rc.c_str(), 0200));
    ReadSetup(nullptr);
    SetVariables();
    RememberShownValues();
    Select(1);
    radiobutton_ONSelected();
    Answer({"Yes", "Cancel"});
    SaveToDisk();
    EXPECT_EQ("The configuration file " + rc + " exists but could not be read; do you want to overwrite it ? "
              "[Overwrite,Cancel]",
              gBoxes.back());
    EXPECT_EQ(1, bFlagModified);
    Answer({"Yes", "Overwrite", "Close"});
    testing::internal::CaptureStdout();
    SaveToDisk();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ("File " + rc + " successfully saved. [Close]", gBoxes.back());
    EXPECT_EQ(0, bFlagModified);
    ASSERT_EQ(0, chmod(rc.c_str(), 0600));
    EXPECT_NE("not for reading", ReadFileText(rc));
}

}  // namespace

