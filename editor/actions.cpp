/* The editor's actions: each widget's callback calls one of them.  They
 * reach the settings through the catalogue rows, read and save morvrc
 * through the settings code, keep bFlagModified and write one run-log
 * line each. */
#include "editor/actions.h"

#include "editor/runlog.h"
#include "editor/setup.h"
#include "editor/watch.h"
#include "settings/catalogue.h"
#include "settings/morv.h"
#include "settings/morvrc.h"
#include "settings/morvrc_items.h"
#include "settings/morvrc_reading.h"
#include "settings/morvrc_update.h"
#include "settings/morvrc_versions.h"
#include "support/mm.h"
#include "support/xchat.h"

#include <FL/Fl.H>
#include <FL/Fl_Browser.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Counter.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Output.H>
#include <FL/fl_ask.H>

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

/* Replaces list line iRow with the row's current text.  A row with an
 * unknown type code ends the process with status 2. */
static void RedrawRow(char *psRowBuffer, int iRow)
{
    if (!FormatRowText(psRowBuffer, iRow))
        BadTypeCode();
    listbox_Variables->text(iRow, psRowBuffer);
}

/* Redraws every list line. */
static void RedrawAllRows(char *psRowBuffer)
{
    for (int i = 1; i <= listbox_Variables->size() && i <= CATALOGUE_ROWS; i++)
        RedrawRow(psRowBuffer, i);
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
    fl_alert("%s", acText);
}

/* What becomes of the settings when morvrc cannot be read again, and at
 * start-up. */
static char const acKept[] = "The variables keep their current values.";
static char const acDefaulted[] = "All variables will be set to default value.";

void TellLoad(struct MorvLoadReport const *pr, int bReload)
{
    char acSentence[512];
    /* A file that is not whole points to its last whole version kept. */
    char acWayBack[512] = "";
    if ((pr->eOutcome == MORV_DAMAGED && !pr->bTimeRange) || pr->eOutcome == MORV_TOO_OLD ||
        (pr->eOutcome == MORV_WHOLE && pr->llExtra > 0))
        PointToLastWholeVersion(psMorvaneRC, acWayBack, sizeof acWayBack);
    /* A file that is there but cannot be read is not a missing one: a save
     * asks before it replaces it. */
    if (pr->eOutcome == MORV_UNREADABLE && pr->iErrno != ENOENT)
        Attention("ATTENTION: Unable to read %s configuration file (%s). %s\n", psMorvaneRC,
                  ReadErrorText(pr->iErrno), bReload ? acKept : acDefaulted);
    else if (pr->eOutcome == MORV_UNREADABLE && bReload)
        Attention("ATTENTION: Unable to open %s configuration file. %s\n", psMorvaneRC, acKept);
    else if (pr->eOutcome == MORV_UNREADABLE)
        fl_alert("ATTENTION: Unable to open %s configuration file. %s\n", psMorvaneRC, acDefaulted);
    else if (DescribeReading(pr, 0, psMorvaneRC, acSentence, sizeof acSentence))
        Attention("ATTENTION: %s%s%s.\n", acSentence, acWayBack[0] != '\0' ? "; " : "", acWayBack);
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
        if (aMorvFields[i].eKind != MFK_TEXT_PAIR)
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
 * last saw it.  Returns 1 when the user answers "Overwrite". */
static int MayOverwrite(enum MorvSeen eSeen)
{
    if (eSeen == MORV_STILL_UNREADABLE)
        return fl_choice("The configuration file %s exists but could not be read; do you want to "
                         "overwrite it ?",
                         "Cancel", "Overwrite", NULL, psMorvaneRC) == 1;
    char acChanges[2048];
    DescribeDiskChanges(acChanges, sizeof acChanges);
    /* On the console too, where the settings named can be copied. */
    printf("The configuration file %s has been changed by another program since it was "
           "loaded; do you want to overwrite it ?%s\n",
           psMorvaneRC, acChanges);
    return fl_choice("The configuration file %s has been changed by another program since it was "
                     "loaded; do you want to overwrite it ?%s",
                     "Cancel", "Overwrite", NULL, psMorvaneRC, acChanges) == 1;
}

/* Saves morvrc, unless another program has changed it since it was read or
 * saved here and the user keeps that change.  The lock of every save is
 * held from the comparison to the rename, but never while a question
 * waits for the user.  Returns 1 when saved; 0 when the user cancelled or
 * the save failed (after an alert with the reason). */
static int SaveMorvaneRC(void)
{
    int bOverwrite = 0;
    for (;;) {
        struct MorvUpdate up;
        if (!BeginUpdate(&up, psMorvaneRC, MORV_LOCK_WAIT_MS, "morvane_setup save")) {
            if (errno == EWOULDBLOCK)
                Attention("ATTENTION: the configuration was not saved: another program is saving %s.\n",
                          psMorvaneRC);
            else
                Attention("Unable to lock %s for saving (%s).", psMorvaneRC, strerror(errno));
            return 0;
        }
        enum MorvSeen eSeen = bOverwrite ? MORV_AS_SEEN : CompareForUpdate(&up, &snMorvaneRC);
        if (eSeen != MORV_AS_SEEN) {
            AbandonUpdate(&up);
            if (!MayOverwrite(eSeen))
                return 0;
            bOverwrite = 1;
            continue;
        }
        if (CommitSetup(&up, !bOverwrite))
            return 1;
        /* Changed after the look above: ask about the change just made. */
        if (errno != ESTALE) {
            int iErr = errno;
            char acLeft[PATH_MAX + 96] = "";
            if (rpMorvaneRC.iLeft != MORV_LEFT_OLD)
                snprintf(acLeft, sizeof acLeft, "\n%s %s.", psMorvaneRC, LeftInFile(&rpMorvaneRC));
            /* The console has had the first sentence from the save itself. */
            if (acLeft[0] != '\0')
                printf("%s\n", acLeft);
            fl_alert("Unable to open file %s for writing (%s).%s",
                     rpMorvaneRC.acRefusedBy[0] != '\0' ? rpMorvaneRC.acRefusedBy : psMorvaneRC,
                     strerror(iErr), acLeft);
            return 0;
        }
    }
}

static int AskYesNo(char const *psQuestion)
{
    return fl_choice("%s", "No", "Yes", NULL, psQuestion) == 1;
}

/* Shows the selected row's value in its value group and its help. */
static void ShowSelectedRow(void)
{
    int n = listbox_Variables->value();
    if (n < 1 || n > CATALOGUE_ROWS)
        return;
    struct VariableDescriptor const *pr = &dvArray[n];
    /* A row without a binding of its type has nothing to edit: no group. */
    switch (pr->iType) {
    case VARIABLE_BOOLEAN:
        ShowValueGroup(pr->piValue != NULL ? group_OnOff : NULL);
        if (pr->piValue != NULL)
            (*pr->piValue != 0 ? radiobutton_ON : radiobutton_OFF)->setonly();
        break;
    case VARIABLE_NUMERIC:
        ShowValueGroup(pr->piValue != NULL ? group_NumVar : NULL);
        if (pr->piValue != NULL)
            textinput_NumericValue->value((double)*pr->piValue);
        break;
    case VARIABLE_STRING:
        ShowValueGroup(pr->ppsValue != NULL ? group_TextVar : NULL);
        /* An absent text clears the field rather than leaving the previous
         * row's text in it. */
        textinput_TextValue->value(pr->psValue != NULL ? pr->psValue : "");
        break;
    default:
        BadTypeCode();
    }
    textoutput_help->value(GetMessage(pr->iHelpMessage));
}

void listbox_VariablesSelected(void)
{
    WriteLog("listbox_VariablesSelected()");
    ShowSelectedRow();
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
}

void ResetToDefault(void)
{
    char acRow[ROW_BUFFER_SIZE];
    WriteLog("ResetToDefault()");
    if (!AskYesNo("ATTENTION: are you sure ?"))
        return;
    for (int i = 1; i <= listbox_Variables->size() && i <= CATALOGUE_ROWS; i++) {
        /* Without memory for a default text the row keeps its text. */
        if (ResetRowToDefault(i) < 0)
            BadTypeCode();
        RedrawRow(acRow, i);
    }
    ShowValueGroup(NULL);
    bFlagModified = 1;
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
    RedrawAllRows(acRow);
    MarkChangedOnDisk(0);
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
        ShowValueGroup(NULL);
}

void LoadFromDisk(void)
{
    WriteLog("LoadFromDisk()");
    if (!AskYesNo("ATTENTION: are you sure ?"))
        return;
    ShowValueGroup(NULL);
    if (ReadAgain(NULL) == MORV_WHOLE)
        fl_message("File %s successfully loaded.", psMorvaneRC);
    bFlagModified = 1;
}

void SaveToDisk(void)
{
    WriteLog("SaveToDisk()");
    WriteBackTimeCopies();
    if (!PairsAreWhole() || !AskYesNo("Are you sure ?") || !SaveMorvaneRC())
        return;
    MarkChangedOnDisk(0);
    fl_message("File %s successfully saved.", psMorvaneRC);
    bFlagModified = 0;
}

void Exit(void)
{
    /* Escape and the close box leave the keyboard focus in the text field,
     * so a text typed there has not been stored yet: store it first, as
     * leaving the field would. */
    if (textinput_TextValue->changed() && group_TextVar->active())
        textinput_TextValue->do_callback();

    WriteLog("Exit()");
    unlink(psLogFile);
    if (!bFlagModified)
        Quit(0);
    switch (fl_choice("The configuration have been modified; do you want to save it to disk ?", "Cancel",
                      "Save", "Exit without saving")) {
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

