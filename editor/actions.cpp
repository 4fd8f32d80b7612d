/* The editor's actions: each widget's callback, key and menu item calls
 * one of them.  They reach the settings through the catalogue rows, read
 * and save morvrc through the settings code, keep bFlagModified and the
 * window's marks, and write one run-log line each. */
#include "editor/actions.h"

#include "editor/baseline.h"
#include "editor/boxes.h"
#include "editor/marks.h"
#include "editor/runlog.h"
#include "editor/setup.h"
#include "editor/watch.h"
#include "settings/disk/path.h"
#include "settings/morvrc/morvrc.h"
#include "settings/morvrc/reading.h"
#include "settings/morvrc/update.h"
#include "settings/store/catalogue.h"
#include "settings/store/items.h"
#include "settings/store/morv.h"
#include "settings/store/text.h"
#include "support/clock.h"
#include "support/mm.h"
#include "support/xchat.h"

#include <FL/Fl.H>
#include <FL/Fl_Browser.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Counter.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Menu_Item.H>
#include <FL/Fl_Output.H>
#include <FL/fl_ask.H>
#include <FL/fl_draw.H>

#include <errno.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int bFlagModified = 0;

static char const acBadTypeCode[] = "OOPS, emmo' qui c'e' lo scaZZo peso... sOb, mi tocca abortire 8__(";

void Quit(int iStatus)
{
    ReleaseRunLog();
    fflush(stdout);
    _exit(iStatus);
}

void BadTypeCode(void)
{
    puts(acBadTypeCode);
    Quit(2);
}

/* The selected list line as a catalogue row, or 0 when there is none. */
static int SelectedRow(void)
{
    int n = listbox_Variables->value();
    return n >= 1 && n <= CATALOGUE_ROWS ? n : 0;
}

/* The number of list lines that are catalogue rows. */
static int ListedRows(void)
{
    int n = listbox_Variables->size();
    return n < CATALOGUE_ROWS ? n : CATALOGUE_ROWS;
}

/* Replaces list line iRow with the row's current text and marks.  A row
 * with an unknown type code ends the process with status 2. */
static void RedrawRow(char *psRowBuffer, int iRow)
{
    if (!ShowListLine(psRowBuffer, iRow))
        BadTypeCode();
}

/* Redraws every list line. */
static void RedrawAllRows(char *psRowBuffer)
{
    for (int i = 1; i <= ListedRows(); i++)
        RedrawRow(psRowBuffer, i);
}

void ShowMarks(void)
{
    char acRow[ROW_BUFFER_SIZE];
    RedrawAllRows(acRow);
    KeepTitle();
}

/* Makes pActive the one active value group; null deactivates all three. */
static void ShowValueGroup(Fl_Group *pActive)
{
    Fl_Group *const apGroups[] = {group_OnOff, group_NumVar, group_TextVar};
    for (Fl_Group *pGroup : apGroups) {
        if (pGroup == pActive)
            pGroup->activate();
        else
            pGroup->deactivate();
    }
}

/* Shows an attention alert and prints its text, without the final line
 * feed, as one line on standard output, for a user at a terminal. */
static void Attention(char const *psFormat, ...) __attribute__((format(printf, 1, 2)));
static void Attention(char const *psFormat, ...)
{
    char acText[1024];
    va_list ap;
    va_start(ap, psFormat);
    vsnprintf(acText, sizeof acText, psFormat, ap);
    va_end(ap);
    size_t uLen = strlen(acText);
    printf("%.*s\n", (int)(uLen > 0 && acText[uLen - 1] == '\n' ? uLen - 1 : uLen), acText);
    BoxAlert("%s", acText);
}

/* What becomes of the settings when morvrc cannot be read again, and at
 * start-up. */
static char const acKept[] = "The variables keep their current values.";
static char const acDefaulted[] = "All variables will be set to default value.";

void TellLoad(struct MorvLoadReport const *pr, int bReload)
{
    char acSentence[512];
    /* A file that is not whole points to its last whole version kept. */
    char acWayBack[PATH_MAX + 512] = "";
    char acAbsolute[PATH_MAX];
    if (((pr->eOutcome == MORV_DAMAGED && !pr->bTimeRange) || pr->eOutcome == MORV_TOO_OLD ||
         (pr->eOutcome == MORV_WHOLE && pr->llExtra > 0)) &&
        AbsolutePath(psMorvaneRC, acAbsolute, sizeof acAbsolute))
        PointToLastWholeVersion(acAbsolute, acWayBack, sizeof acWayBack);
    /* A file that is there but cannot be read is not a missing one: a save
     * asks before it replaces it. */
    if (pr->eOutcome == MORV_UNREADABLE && pr->iErrno != ENOENT)
        Attention("ATTENTION: Unable to read %s configuration file (%s). %s\n", psMorvaneRC,
                  ReadErrorText(pr->iErrno), bReload ? acKept : acDefaulted);
    else if (pr->eOutcome == MORV_UNREADABLE && bReload)
        Attention("ATTENTION: Unable to open %s configuration file. %s\n", psMorvaneRC, acKept);
    else if (pr->eOutcome == MORV_UNREADABLE)
        BoxAlert("ATTENTION: Unable to open %s configuration file. %s\n", psMorvaneRC, acDefaulted);
    else if (DescribeReading(pr, 0, psMorvaneRC, acSentence, sizeof acSentence) &&
             acWayBack[0] == '\0')
        Attention("ATTENTION: %s.\n", acSentence);
    else if (acSentence[0] != '\0')
        /* The way back ends in a command: no full stop to be copied with it. */
        Attention("ATTENTION: %s; %s\n", acSentence, acWayBack);
    if (pr->bOtherWidth)
        printf("The %s configuration file has %d-bit time fields: it is read and saved with them.\n",
               psMorvaneRC, pr->iTimeBytes * 8);
    if (pr->eOutcome == MORV_WHOLE && lyMorvaneRC.iVersion > iSetupVersion)
        printf("The %s configuration file is of version %d: the %d bytes after the settings this "
               "editor knows are kept as they are.\n",
               psMorvaneRC, lyMorvaneRC.iVersion, (int)lyMorvaneRC.uTail);
}

/* Returns 1 when every text pair keeps the rule of PairIsStorable;
 * otherwise shows which pair breaks it, naming its texts by their rows (or
 * as settings, where the catalogue has no such row), and returns 0, as a
 * save would lose a text. */
static int PairsAreWhole(void)
{
    for (int i = 0; i < MORV_FIELD_COUNT; i++) {
        if (ItemPair({i, 0}) < 0)
            continue;
        char acNames[2][48];
        for (int k = 0; k < 2; k++) {
            int iRow = ItemRow({i, k});
            char const *psRowName = iRow > 0 ? dvArray[iRow].psVariableName : NULL;
            if (psRowName != NULL && *psRowName != '\0')
                snprintf(acNames[k], sizeof acNames[k], "%s", psRowName);
            else
                ItemName({i, k}, acNames[k], sizeof acNames[k]);
        }
        char const *apsNames[2] = {acNames[0], acNames[1]};
        char acWhy[160];
        if (!PairRowsAreStorable(i, apsNames, acWhy, sizeof acWhy)) {
            Attention("ATTENTION: the configuration was not saved: %s.\n", acWhy);
            return 0;
        }
    }
    return 1;
}

/* Asks whether to overwrite morvrc, which is eSeen, not as this editor
 * last saw it: *pShown, whose differences from the editor's values the
 * question names.  Returns 1 when the user answers "Overwrite". */
static int MayOverwrite(enum MorvSeen eSeen, struct MorvSnapshot const *pShown)
{
    if (eSeen == MORV_STILL_UNREADABLE)
        return BoxChoice("Cancel", "Overwrite", NULL,
                         "The configuration file %s exists but could not be read; do you want to "
                         "overwrite it ?",
                         psMorvaneRC) == 1;
    char acChanges[2048];
    DescribeDiskChanges(pShown, acChanges, sizeof acChanges);
    /* On the console too, where the settings named can be copied. */
    printf("The configuration file %s has been changed by another program since it was "
           "loaded; do you want to overwrite it ?%s\n",
           psMorvaneRC, acChanges);
    return BoxChoice("Cancel", "Overwrite", NULL,
                     "The configuration file %s has been changed by another program since it was "
                     "loaded; do you want to overwrite it ?%s",
                     psMorvaneRC, acChanges) == 1;
}

/* Saves morvrc, unless another program has changed it since it was read or
 * saved here and the user keeps that change.  "Overwrite" writes over the
 * very bytes its question named: if they change again while it waits,
 * the question is asked again with the new differences.  The lock of every
 * save is held from the comparison to the rename, but never while a
 * question waits for the user.  Returns 1 when saved, the values saved
 * then counting as what was last saved; 0 when the user cancelled or the
 * save failed (after an alert with the reason). */
static int SaveMorvaneRC(void)
{
    struct MorvSnapshot snShown = {0, NULL, 0, 0, 0, 0};
    int bOverwrite = 0, bSaved = 0;
    for (;;) {
        struct MorvUpdate up;
        if (!BeginUpdate(&up, psMorvaneRC, MORV_LOCK_WAIT_MS, "morvane_setup save")) {
            if (errno == EWOULDBLOCK)
                Attention("ATTENTION: the configuration was not saved: another program is saving %s.\n",
                          psMorvaneRC);
            else
                Attention("Unable to lock %s for saving (%s).", psMorvaneRC, strerror(errno));
            break;
        }
        struct MorvSnapshot const *pSeen = bOverwrite ? &snShown : &snMorvaneRC;
        enum MorvSeen eSeen = CompareForUpdate(&up, pSeen);
        /* The user chose to overwrite a file that could not be read, and it
         * still cannot be, for the same reason. */
        if (bOverwrite && eSeen == MORV_STILL_UNREADABLE)
            eSeen = MORV_AS_SEEN;
        if (eSeen != MORV_AS_SEEN) {
            FreeSnapshot(&snShown);
            snShown = up.snFound;
            memset(&up.snFound, 0, sizeof up.snFound);
            AbandonUpdate(&up);
            if (!MayOverwrite(eSeen, &snShown))
                break;
            bOverwrite = 1;
            continue;
        }
        if (CommitSetupOver(&up, pSeen)) {
            bSaved = 1;
            break;
        }
        /* Changed after the look above: ask about the change just made. */
        if (errno != ESTALE) {
            int iErr = errno;
            char acLeft[PATH_MAX + 96] = "";
            if (rpMorvaneRC.iLeft != MORV_LEFT_OLD)
                snprintf(acLeft, sizeof acLeft, "\n%s %s.", psMorvaneRC, LeftInFile(&rpMorvaneRC));
            /* The console has had the first sentence from the save itself. */
            if (acLeft[0] != '\0')
                printf("%s\n", acLeft);
            BoxAlert("Unable to open file %s for writing (%s).%s",
                     rpMorvaneRC.acRefusedBy[0] != '\0' ? rpMorvaneRC.acRefusedBy : psMorvaneRC,
                     strerror(iErr), acLeft);
            break;
        }
    }
    FreeSnapshot(&snShown);
    if (bSaved) {
        char acRow[ROW_BUFFER_SIZE];
        RememberShownValues();
        RedrawAllRows(acRow);
        ShowTitleMarks();
    }
    return bSaved;
}

static int AskYesNo(char const *psQuestion)
{
    return BoxChoice("No", "Yes", NULL, "%s", psQuestion) == 1;
}

/* Puts the selected row's value into its control and empties the other
 * two, so that no control, greyed or not, shows another row's value or a
 * text that was typed and not taken; with bActivate that row's group also
 * becomes the one active (none for a row without a binding of its type). */
static void ShowValueControls(int bActivate)
{
    radiobutton_ON->value(0);
    radiobutton_OFF->value(0);
    textinput_NumericValue->value(0);
    textinput_TextValue->value("");
    textinput_TextValue->clear_changed();
    int n = SelectedRow();
    if (n == 0) {
        if (bActivate)
            ShowValueGroup(NULL);
        return;
    }
    struct VariableDescriptor const *pr = &dvArray[n];
    Fl_Group *pGroup = NULL;
    switch (pr->iType) {
    case VARIABLE_BOOLEAN:
        if (pr->piValue != NULL) {
            (*pr->piValue != 0 ? radiobutton_ON : radiobutton_OFF)->setonly();
            pGroup = group_OnOff;
        }
        break;
    case VARIABLE_NUMERIC:
        if (pr->piValue != NULL) {
            textinput_NumericValue->value((double)*pr->piValue);
            pGroup = group_NumVar;
        }
        break;
    case VARIABLE_STRING:
        if (pr->ppsValue != NULL) {
            textinput_TextValue->value(pr->psValue != NULL ? pr->psValue : "");
            pGroup = group_TextVar;
        }
        break;
    default:
        BadTypeCode();
    }
    if (bActivate)
        ShowValueGroup(pGroup);
}

/* Shows the selected row's value in its value group and its help. */
static void ShowSelectedRow(void)
{
    int n = SelectedRow();
    if (n == 0)
        return;
    ShowValueControls(1);
    textoutput_help->value(GetMessage(dvArray[n].iHelpMessage));
}

/* A text typed into the field and not yet taken is taken, as leaving the
 * field would take it, before anything else changes the selection. */
static void TakePendingText(void)
{
    if (textinput_TextValue->changed() && group_TextVar->active()) {
        textinput_TextValue->do_callback();
        textinput_TextValue->clear_changed();
    }
}

void listbox_VariablesSelected(void)
{
    WriteLog("listbox_VariablesSelected()");
    ShowSelectedRow();
}

/* Selects row iRow, scrolled into view, and shows it exactly as a click
 * on it shows it. */
static void SelectAndShow(int iRow)
{
    if (!listbox_Variables->displayed(iRow)) {
        if (iRow < listbox_Variables->topline())
            listbox_Variables->topline(iRow);
        else
            listbox_Variables->bottomline(iRow);
    }
    listbox_Variables->value(iRow);
    listbox_VariablesSelected();
}

/* ON and OFF: stores v into the selected row's integer. */
static void StoreBoolean(int v, char const *psLogLine)
{
    char acRow[ROW_BUFFER_SIZE];
    int n = SelectedRow();
    WriteLog(psLogLine);
    if (n != 0 && dvArray[n].piValue != NULL) {
        *dvArray[n].piValue = v;
        RedrawRow(acRow, n);
    }
    bFlagModified = 1;
    ShowTitleMarks();
}

void radiobutton_ONSelected(void) { StoreBoolean(1, "radiobutton_ONSelected()"); }

void radiobutton_OFFSelected(void) { StoreBoolean(0, "radiobutton_OFFSelected()"); }

void textinput_NumericValueSelected(void)
{
    char acRow[ROW_BUFFER_SIZE];
    int n = SelectedRow();
    WriteLog("textinput_NumericValueSelected()");
    if (n != 0 && dvArray[n].piValue != NULL) {
        /* Truncated toward zero; negatives become 0.  The counter only ever
         * holds a stored int or a step inside 0..4096, the bound is a guard. */
        double d = textinput_NumericValue->value();
        int v = d > 0 ? (d < (double)INT_MAX ? (int)d : INT_MAX) : 0;
        *dvArray[n].piValue = v;
        RedrawRow(acRow, n);
    }
    bFlagModified = 1;
    ShowTitleMarks();
}

void textinput_TextValueSelected(void)
{
    char acRow[ROW_BUFFER_SIZE];
    int n = SelectedRow();
    WriteLog("textinput_TextValueSelected()");
    if (n != 0 && dvArray[n].ppsValue != NULL) {
        struct VariableDescriptor *pr = &dvArray[n];
        char const *psField = textinput_TextValue->value();
        char *psNew = NULL;
        if (psField != NULL && *psField != '\0')
            psNew = strdup(psField);
        /* Without memory for the copy the setting keeps its text. */
        if (psNew != NULL || psField == NULL || *psField == '\0') {
            free(*pr->ppsValue);
            *pr->ppsValue = psNew;
            pr->psValue = psNew;
            RedrawRow(acRow, n);
        }
    }
    bFlagModified = 1;
    ShowTitleMarks();
}

void ResetToDefault(void)
{
    char acRow[ROW_BUFFER_SIZE];
    WriteLog("ResetToDefault()");
    if (!AskYesNo("ATTENTION: are you sure ?"))
        return;
    for (int i = 1; i <= ListedRows(); i++) {
        /* Without memory for a default text the row keeps its text. */
        if (ResetRowToDefault(i) < 0)
            BadTypeCode();
        RedrawRow(acRow, i);
    }
    ShowValueGroup(NULL);
    ShowValueControls(0);
    bFlagModified = 1;
    ShowTitleMarks();
}

/* Reads morvrc again, or loads pNew, bytes of it already read, when it is
 * not null.  Returns what the reading found. */
static enum MorvOutcome ReadAgain(struct MorvSnapshot *pNew)
{
    char acRow[ROW_BUFFER_SIZE];
    struct MorvLoadReport report;
    if (pNew != NULL)
        ReadSetupSnapshot(pNew, &report);
    else
        ReadSetupReport(&report);
    SetVariables();
    /* What was read, or kept when nothing could be, is what is shown. */
    RememberShownValues();
    RedrawAllRows(acRow);
    ShowValueControls(0);
    MarkChangedOnDisk(0);
    ShowTitleMarks();
    TellLoad(&report, 1);
    return report.eOutcome;
}

void ReadAgainUnasked(struct MorvSnapshot *pNew)
{
    /* The field holds the old text until the row is shown again. */
    textinput_TextValue->clear_changed();
    bFlagModified = ReadAgain(pNew) != MORV_WHOLE;
    if (SelectedRow() != 0)
        ShowSelectedRow();
    else
        ShowValueControls(1);
    char acSaid[PATH_MAX + 128];
    snprintf(acSaid, sizeof acSaid, SHOWN_AGAIN, psMorvaneRC);
    TellInHelpArea(acSaid);
}

void LoadFromDisk(void)
{
    WriteLog("LoadFromDisk()");
    if (!AskYesNo("ATTENTION: are you sure ?"))
        return;
    ShowValueGroup(NULL);
    if (ReadAgain(NULL) == MORV_WHOLE)
        BoxMessage("File %s successfully loaded.", psMorvaneRC);
    bFlagModified = 1;
}

void SaveToDisk(void)
{
    WriteLog("SaveToDisk()");
    WriteBackTimeCopies();
    if (!PairsAreWhole() || !AskYesNo("Are you sure ?") || !SaveMorvaneRC())
        return;
    MarkChangedOnDisk(0);
    BoxMessage("File %s successfully saved.", psMorvaneRC);
    bFlagModified = 0;
}

void Exit(void)
{
    /* Escape and the close box leave the keyboard focus in the text field,
     * so a text typed there has not been stored yet: store it first, as
     * leaving the field would. */
    TakePendingText();

    WriteLog("Exit()");
    unlink(psLogFile);
    if (!bFlagModified)
        Quit(0);
    switch (BoxChoice("Cancel", "Save", "Exit without saving",
                      "The configuration have been modified; do you want to save it to disk ?")) {
    case 1:
        WriteBackTimeCopies();
        if (!PairsAreWhole() || !SaveMorvaneRC())
            return;
        Quit(0);
        break;
    case 2:
        Quit(0);
        break;
    default:
        break;
    }
}


/* ---- Finding a row, moving the selection ---------------------------------- */

/* The text last looked for, which F3 and Ctrl+G look for again. */
static char acFindText[256] = "";

/* Shows the next row after the selected one, wrapping around, that holds
 * acFindText as morvrc_tool search finds it (any case, a line break taken
 * for a blank, the setting's own name too), or says that none does. */
static void FindAgain(void)
{
    int n = ListedRows();
    for (int i = 1; i <= n; i++) {
        int iRow = (SelectedRow() + i - 1) % n + 1;
        if (RowHoldsWord(iRow, acFindText, GetMessage(dvArray[iRow].iHelpMessage))) {
            SelectAndShow(iRow);
            return;
        }
    }
    BoxMessage("No setting has \"%s\" in its command, name, value or help text.", acFindText);
}

/* Asks for the text to look for, then looks for it. */
static void AskAndFind(void)
{
    char const *ps = BoxInput(acFindText, "Find the next setting whose command, name, value or help "
                                          "text holds, in any case:");
    if (ps == NULL || *ps == '\0')
        return;
    snprintf(acFindText, sizeof acFindText, "%s", ps);
    FindAgain();
}

void FindVariable(void)
{
    WriteLog("FindVariable()");
    TakePendingText();
    AskAndFind();
}

void FindNextVariable(void)
{
    WriteLog("FindNextVariable()");
    TakePendingText();
    if (acFindText[0] == '\0')
        AskAndFind();
    else
        FindAgain();
}

/* The beginning of a variable name being typed, and when its last letter
 * came. */
#define TYPED_NAME_MS 1000
static char acTypedName[CATALOGUE_WORD];
static long long llTypedAt = 0;

int TypeVariableName(char c)
{
    long long llNow = MonotonicMs();
    int bGoesOn = acTypedName[0] != '\0' && llNow - llTypedAt <= TYPED_NAME_MS;
    /* A plain q begins no name: it is the key of "E x i t". */
    if (!bGoesOn && c == 'q')
        return 0;
    WriteLog("TypeVariableName()");
    size_t u = bGoesOn ? strlen(acTypedName) : 0;
    if (u + 1 < sizeof acTypedName) {
        acTypedName[u] = c;
        acTypedName[u + 1] = '\0';
    }
    llTypedAt = llNow;
    /* A longer name may still be the selected row's; a new one is looked
     * for after it. */
    int n = ListedRows(), iFrom = SelectedRow() + (bGoesOn && SelectedRow() != 0 ? 0 : 1);
    for (int i = 0; i < n; i++) {
        int iRow = (iFrom + i - 1 + n) % n + 1;
        char const *psName = dvArray[iRow].psVariableName;
        if (psName != NULL && strncasecmp(psName, acTypedName, strlen(acTypedName)) == 0) {
            if (iRow != SelectedRow())
                SelectAndShow(iRow);
            return 1;
        }
    }
    fl_beep();
    return 1;
}

/* The number of list lines shown at once. */
static int LinesShown(void)
{
    int n = 0;
    for (int i = listbox_Variables->topline(); i >= 1 && i <= ListedRows() &&
                                               listbox_Variables->displayed(i); i++)
        n++;
    return n;
}

void MoveSelection(int eMove)
{
    WriteLog("MoveSelection()");
    int n = ListedRows(), iNow = SelectedRow();
    if (n == 0)
        return;
    /* A page moves by the lines shown but one, which stays in view. */
    int iShown = LinesShown();
    int iPage = iShown > 2 ? iShown - 1 : 1;
    int iRow = 1;
    if (eMove == MOVE_LAST)
        iRow = n;
    else if (eMove == MOVE_PAGE_UP && iNow != 0)
        iRow = iNow - iPage;
    else if (eMove == MOVE_PAGE_DOWN && iNow != 0)
        iRow = iNow + iPage;
    iRow = iRow < 1 ? 1 : iRow > n ? n : iRow;
    SelectAndShow(iRow);
}

/* ---- One row's default, a number typed ------------------------------------ */

/* The other row of the text pair that row iRow edits a text of, or 0 when
 * it edits none or no listed row edits the other text. */
static int PairedRow(int iRow)
{
    struct MorvItem it;
    if (!RowIsBound(iRow) || !RowItem(iRow, &it) || ItemPair(it) < 0)
        return 0;
    return RowOfItem({it.iField, 1 - it.iElement}, ListedRows());
}

void ResetRow(void)
{
    WriteLog("ResetRow()");
    TakePendingText();
    int n = SelectedRow();
    if (n == 0 || !RowIsBound(n))
        return;
    char acRow[ROW_BUFFER_SIZE];
    int aiRows[2] = {n, PairedRow(n)};
    for (int iRow : aiRows) {
        if (iRow == 0)
            continue;
        int iDone = ResetRowToDefault(iRow);
        if (iDone < 0)
            BadTypeCode();
        if (iDone == 0)
            Attention("ATTENTION: %s was not reset: out of memory.\n", dvArray[iRow].psVariableName);
        RedrawRow(acRow, iRow);
    }
    ShowValueControls(1);
    bFlagModified = 1;
    ShowTitleMarks();
}

/* Writes into psOut (uOut bytes) row iRow's catalogue default as the list's
 * menu names it: a number, a quoted text, or "no text". */
static void NameDefault(int iRow, char *psOut, size_t uOut)
{
    struct VariableDescriptor const *pr = &dvArray[iRow];
    char const *psText = RowDefaultText(pr);
    if (pr->iType != VARIABLE_STRING)
        snprintf(psOut, uOut, "%d", pr->iDefault);
    else if (psText != NULL)
        snprintf(psOut, uOut, "\"%s\"", psText);
    else
        snprintf(psOut, uOut, "no text");
}

/* Copies psLabel into psOut (uOut bytes) so that a menu shows it as it is:
 * the toolkit reads & as a shortcut's mark and @ as a symbol's. */
static void MenuLabel(char const *psLabel, char *psOut, size_t uOut)
{
    size_t u = 0;
    for (char const *ps = psLabel; *ps != '\0' && u + 2 < uOut; ps++) {
        if (*ps == '&' || *ps == '@')
            psOut[u++] = *ps;
        psOut[u++] = *ps;
    }
    psOut[u] = '\0';
}

void RowMenu(int iRow)
{
    WriteLog("RowMenu()");
    if (iRow < 1 || iRow > ListedRows())
        return;
    TakePendingText();
    listbox_Variables->value(iRow);
    listbox_VariablesSelected();
    if (!RowIsBound(iRow))
        return;
    char acDefault[2][CATALOGUE_WORD + 16], acText[2 * sizeof acDefault[0] + 64];
    int iOther = PairedRow(iRow);
    NameDefault(iRow, acDefault[0], sizeof acDefault[0]);
    if (iOther != 0) {
        NameDefault(iOther, acDefault[1], sizeof acDefault[1]);
        snprintf(acText, sizeof acText, "Reset both texts of the pair to default: %s, %s",
                 acDefault[iOther < iRow], acDefault[iOther > iRow]);
    } else {
        snprintf(acText, sizeof acText, "Reset to default: %s", acDefault[0]);
    }
    char acReset[2 * sizeof acText];
    MenuLabel(acText, acReset, sizeof acReset);
    int bNumber = dvArray[iRow].iType == VARIABLE_NUMERIC;
    Fl_Menu_Item aItems[3];
    memset(aItems, 0, sizeof aItems);
    aItems[0].text = acReset;
    aItems[1].text = bNumber ? "Type a number..." : NULL;
    /* Opened with its first item under the pointer. */
    Fl_Menu_Item const *pPicked = aItems[0].popup(Fl::event_x(), Fl::event_y(), NULL, &aItems[0]);
    if (pPicked == &aItems[0])
        ResetRow();
    else if (pPicked == &aItems[1] && bNumber)
        TypeNumber();
}

void TypeNumber(void)
{
    int n = SelectedRow();
    if (n == 0 || dvArray[n].iType != VARIABLE_NUMERIC || dvArray[n].piValue == NULL)
        return;
    WriteLog("TypeNumber()");
    struct VariableDescriptor const *pr = &dvArray[n];
    char acRange[32], acNow[16], acTyped[64];
    FormatRange(IR_COUNTER, 0, acRange, sizeof acRange);
    snprintf(acNow, sizeof acNow, "%d", *pr->piValue);
    char const *ps = BoxInput(acNow, "A number for %s, from %s:", pr->psVariableName, acRange);
    if (ps == NULL)
        return;
    /* Blanks around the number are no part of it. */
    ps += strspn(ps, " \t");
    snprintf(acTyped, sizeof acTyped, "%s", ps);
    for (size_t u = strlen(acTyped); u > 0 && (acTyped[u - 1] == ' ' || acTyped[u - 1] == '\t'); u--)
        acTyped[u - 1] = '\0';
    long long llValue;
    if (!ParseDecimal(acTyped, 0, RANGE_COUNTER_MAX, &llValue)) {
        BoxAlert("\"%s\" is not a number from %s: %s keeps its value, %d.", acTyped, acRange,
                 pr->psVariableName, *pr->piValue);
        return;
    }
    textinput_NumericValue->value((double)llValue);
    textinput_NumericValueSelected();
}
