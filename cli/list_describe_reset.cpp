/* morvrc_tool's verbs that read a home as the editor does: list (the
 * editor's list of settings), describe (a row's help text) and reset (the
 * catalogue defaults, as "Reset to Default" puts them back). */
#include "cli/files.h"
#include "cli/home.h"
#include "cli/verbs.h"
#include "settings/morvrc/morvrc.h"
#include "settings/morvrc/reading.h"
#include "settings/store/catalogue.h"
#include "settings/store/items.h"
#include "settings/store/morv.h"
#include "settings/store/text.h"
#include "support/mm.h"
#include "support/xchat.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

/* ---- The home ------------------------------------------------------------ */

/* Reads morvrc psPath into the store as the editor's start-up does (a
 * regular file only, at iTimeBytes or the width found, then the built-in
 * text defaults) and notes on standard error what the editor would warn
 * about.  Returns nothing: every outcome leaves values to show. */
static void ReadLikeTheEditor(char const *psPath, int iTimeBytes)
{
    struct MorvSnapshot snap;
    struct MorvLoadReport report;
    struct MorvLayout layout = {0, 0, NULL, 0};
    char acDetail[16], acSentence[512];
    /* "-", standard input, is whatever the user pipes in. */
    if (!SnapshotFile(psPath, strcmp(psPath, "-") != 0, &snap)) {
        StartStore(iTimeBytes, &report, &layout);
        fprintf(stderr,
                "morvrc_tool: note: cannot read %s (%s): the values are those the editor starts "
                "from\n",
                psPath, strerror(snap.iErrno));
    } else if (ReadIntoStore(&snap, iTimeBytes, &report, &layout, acDetail, sizeof acDetail) != MORV_WHOLE &&
               DescribeReading(&report, 0, psPath, acSentence, sizeof acSentence)) {
        fprintf(stderr, "morvrc_tool: note: %s\n", acSentence);
    }
    InstallTextDefaults(0);
    FreeSnapshot(&snap);
    FreeLayout(&layout);
}

/* ---- Rows and settings ------------------------------------------------- */

/* Finds the row that psArg names among rows 1 to iRows (FindRow).
 * Returns the row, or 0 after a complaint. */
static int RowNamed(char const *psArg, int iRows)
{
    int iRow = FindRow(psArg, iRows);
    if (iRow == 0)
        Complain("there is no row %.40s: setup.dat has %d rows", psArg, iRows);
    else if (iRow == -1)
        Complain("no row of setup.dat is named \"%.80s\", and no stored setting is (list shows "
                 "the rows)",
                 psArg);
    else if (iRow == -2)
        Complain("no row of setup.dat edits %.80s", psArg);
    return iRow > 0 ? iRow : 0;
}

/* ---- list ----------------------------------------------------------------- */

/* The words of the type codes, in the lists and in --json. */
static char const *const apsTypes[] = {"boolean", "numeric", "text"};

/* Prints row iRow as one object of list --json, after psSeparator.
 * Returns TS_OK, or TS_IO when memory runs out (after a complaint). */
static int PrintJsonRow(int iRow, char const *psSeparator)
{
    struct VariableDescriptor const *pr = &dvArray[iRow];
    int bText = pr->iType == VARIABLE_STRING;
    int bBound = RowIsBound(iRow);
    struct MorvItem it;
    char acSetting[64] = "null";
    if (bBound && RowItem(iRow, &it)) {
        /* Setting names are ASCII words with brackets: nothing to escape. */
        char acName[56];
        ItemName(it, acName, sizeof acName);
        snprintf(acSetting, sizeof acSetting, "\"%s\"", acName);
    }
    char acNumbers[2][16];
    snprintf(acNumbers[0], sizeof acNumbers[0], "%d", pr->iDefault);
    snprintf(acNumbers[1], sizeof acNumbers[1], "%d", bBound && !bText ? *pr->piValue : 0);
    char *psCommand = JsonText(pr->psCommand);
    char *psName = JsonText(pr->psVariableName);
    char *psDefault = bText ? JsonText(RowDefaultText(pr)) : strdup(acNumbers[0]);
    char *psValue = !bBound ? strdup("null") : bText ? JsonText(pr->psValue) : strdup(acNumbers[1]);
    int iStatus = TS_OK;
    if (psCommand == NULL || psName == NULL || psDefault == NULL || psValue == NULL) {
        Complain("out of memory");
        iStatus = TS_IO;
    } else {
        printf("%s  {\"row\": %d, \"type\": \"%s\", \"command\": %s, \"name\": %s, \"setting\": %s, "
               "\"default\": %s, \"value\": %s, \"help\": %d}",
               psSeparator, iRow, apsTypes[pr->iType], psCommand, psName, acSetting, psDefault,
               psValue, pr->iHelpMessage);
    }
    free(psCommand);
    free(psName);
    free(psDefault);
    free(psValue);
    return iStatus;
}

/* Reads the home that *po names as the editor's start-up does: its morvrc,
 * or psRc when it is not null, into the store, then its setup.dat into the
 * catalogue, bound to the settings.  *piRows gets the rows read.  Returns
 * ReadCatalogue's status, or TS_USAGE after a complaint about the home's
 * paths. */
static int ReadHome(struct Options const *po, char const *psRc, int *piRows)
{
    char acRc[HOME_PATH], acDat[HOME_PATH];
    *piRows = 0;
    if ((psRc == NULL && !HomePath(po, "morvrc", acRc, 1)) || !HomePath(po, "setup.dat", acDat, 1))
        return TS_USAGE;
    ReadLikeTheEditor(psRc != NULL ? psRc : acRc, po->iBits);
    SetVariables();
    return ReadCatalogue(acDat, piRows, 1);
}

int List(int argc, char **argv, struct Options const *po)
{
    if (!ArgumentCount("list", argc, 0, 1))
        return TS_USAGE;
    int iRows;
    int iStatus = ReadHome(po, argc == 1 ? argv[0] : NULL, &iRows);
    /* After a bad type code, the rows before it are listed. */
    if (iStatus != TS_OK && iStatus != TS_DAMAGED)
        return iStatus;

    char acRow[ROW_BUFFER_SIZE + 8];
    char const *psSeparator = "\n";
    if (po->bJson)
        printf("[");
    for (int r = 1; r <= iRows; r++) {
        if (po->bChanged && !RowIsChanged(r))
            continue;
        int iPrinted = TS_OK;
        if (po->bJson) {
            iPrinted = PrintJsonRow(r, psSeparator);
            psSeparator = ",\n";
        } else {
            int n = snprintf(acRow, sizeof acRow, "%3d ", r);
            FormatRowText(acRow + n, r); /* cannot fail: every row read has a good type */
            char *psShown = EscapeControls(acRow);
            if (psShown == NULL) {
                Complain("out of memory");
                return TS_IO;
            }
            fputs(psShown, stdout);
            free(psShown);
            putchar(po->bZero ? '\0' : '\n');
        }
        if (iPrinted != TS_OK)
            return iPrinted;
    }
    if (po->bJson)
        printf("%s]\n", psSeparator[0] == ',' ? "\n" : "");
    return iStatus;
}

/* ---- describe ------------------------------------------------------------- */

/* Loads the help texts as the editor's start-up does: the Italian file,
 * then the configured language's over it unless that is Italian, from the
 * script directory of XChat version iXChat under the current directory,
 * quietly: standard output is describe's answer.  A file that cannot be
 * loaded is noted on standard error. */
static void LoadHelpTexts(int iXChat)
{
    SetXChatLayout(iXChat);
    bQuietLoad = 1;
    for (int k = 0; k < 2; k++) {
        char const *psLanguage = LanguageToLoad(k, psMessageLanguage);
        if (psLanguage != NULL && !LoadMessageFile(psLanguage))
            fprintf(stderr, "morvrc_tool: note: cannot load %smorv_%s.msg: %s\n",
                    XChatDirectory(iXChat), psLanguage,
                    k == 0 ? "the editor's warning text stands in for every help text"
                           : "the Italian help texts stand in");
    }
}

/* Prints what describe tells of row iRow: a line with the row, its names,
 * type and range, then the help text; with bJson one object.  Returns
 * TS_OK, or TS_IO when memory runs out (after a complaint). */
static int PrintDescription(int iRow, int bJson)
{
    struct VariableDescriptor const *pr = &dvArray[iRow];
    char acRange[32];
    FormatRange(RowRange(iRow), bJson, acRange, sizeof acRange);
    if (acRange[0] == '\0')
        snprintf(acRange, sizeof acRange, "%s", bJson ? "null" : "a text");
    char acSetting[64] = "";
    struct MorvItem it;
    if (RowIsBound(iRow) && RowItem(iRow, &it))
        ItemName(it, acSetting, sizeof acSetting);
    char const *psHelp = GetMessage(pr->iHelpMessage);
    if (!bJson) {
        printf("row %d, %s%s%s%s: %s, %s\n%s\n", iRow, pr->psVariableName,
               acSetting[0] != '\0' ? " (" : "", acSetting, acSetting[0] != '\0' ? ")" : "",
               apsTypes[pr->iType], acRange, psHelp);
        return TS_OK;
    }
    char *psName = JsonText(pr->psVariableName);
    char *psText = JsonText(psHelp);
    int iStatus = TS_OK;
    if (psName == NULL || psText == NULL) {
        Complain("out of memory");
        iStatus = TS_IO;
    } else {
        /* Setting names are ASCII words with brackets: nothing to escape. */
        printf("{\"row\": %d, \"name\": %s, \"setting\": %s%s%s, \"type\": \"%s\", "
               "\"range\": %s, \"help\": %s}\n",
               iRow, psName, acSetting[0] != '\0' ? "\"" : "",
               acSetting[0] != '\0' ? acSetting : "null", acSetting[0] != '\0' ? "\"" : "",
               apsTypes[pr->iType], acRange, psText);
    }
    free(psName);
    free(psText);
    return iStatus;
}

int Describe(int argc, char **argv, struct Options const *po)
{
    if (!ArgumentCount("describe", argc, 1, 1))
        return TS_USAGE;
    int iRows;
    int iStatus = ReadHome(po, NULL, &iRows);
    if (iStatus != TS_OK)
        return iStatus;
    int iRow = RowNamed(argv[0], iRows);
    if (iRow == 0)
        return TS_USAGE;
    /* The message catalogue finds its files from the home, as the editor
     * does once it has entered it. */
    char const *psHome = HomeDirectory(po, 1);
    if (chdir(psHome) != 0) {
        Complain("cannot enter %s: %s", psHome, strerror(errno));
        return TS_IO;
    }
    LoadHelpTexts(po->iXChat != 0 ? po->iXChat : 2);
    return PrintDescription(iRow, po->bJson);
}

/* ---- reset ---------------------------------------------------------------- */

int Reset(int argc, char **argv, struct Options const *po)
{
    if (po->bAll ? !ArgumentCount("reset --all", argc, 0, 1) : !ArgumentCount("reset", argc, 1, argc))
        return TS_USAGE;
    char acDat[HOME_PATH];
    if (!HomePath(po, "setup.dat", acDat, 1))
        return TS_USAGE;
    int iRows;
    int iStatus = ReadCatalogue(acDat, &iRows, 1);
    if (iStatus != TS_OK)
        return iStatus;

    /* Every name is checked before FILE is read; the binding each row has
     * does not depend on the values. */
    SetVariables();
    NameItemsByRows(iRows);
    /* FILE may be left out: a first operand that names a setting is none. */
    int bFile = argc > 0 && (po->bAll || !NamesSetting(argv[0]));
    char acRc[HOME_PATH];
    char const *psFile = PickFile(po, "reset", bFile, argv[0], 1, acRc);
    if (psFile == NULL || (!po->bAll && !ArgumentCount("reset", argc - bFile, 1, argc)))
        return TS_USAGE;
    unsigned char abReset[CATALOGUE_ROWS + 1];
    memset(abReset, 0, sizeof abReset);
    for (int r = 1; r <= iRows; r++)
        abReset[r] = po->bAll && RowIsBound(r);
    for (int i = bFile; i < argc && !po->bAll; i++) {
        /* A pair's own name means the rows of both of its texts. */
        int iPair = FindPair(argv[i]);
        for (int e = 0; e < 2 && iPair >= 0; e++) {
            int iRow = RowOfItem({iPair, e}, iRows);
            if (iRow == 0) {
                Complain("no row of setup.dat edits %s[%d]", argv[i], e);
                return TS_USAGE;
            }
            abReset[iRow] = 1;
        }
        if (iPair >= 0)
            continue;
        int iRow = RowNamed(argv[i], iRows);
        if (iRow == 0)
            return TS_USAGE;
        if (!RowIsBound(iRow)) {
            Complain("row %d (%s) has no setting to reset", iRow, dvArray[iRow].psVariableName);
            return TS_USAGE;
        }
        abReset[iRow] = 1;
    }

    struct MorvLoadReport report;
    struct MorvLayout layout;
    int bNew;
    struct MorvUpdate up;
    iStatus = BeginSaving(psFile, po->iWaitMs, &up);
    if (iStatus != TS_OK)
        return iStatus;
    char acDamage[512];
    iStatus = LoadOrStart(psFile, &up.snFound, po->iBits, &report, &layout, &bNew, acDamage,
                          sizeof acDamage);
    if (iStatus == TS_OK && bNew == 2) {
        /* Every setting a row edits is written anew only with --all. */
        if (po->bAll)
            NoteRepair(psFile, acDamage, 0);
        else
            iStatus = RefuseDamaged(psFile, acDamage);
    }
    if (iStatus == TS_OK) {
        SetVariables();
        for (int r = 1; r <= iRows && iStatus == TS_OK; r++) {
            if (abReset[r] && ResetRowToDefault(r) != 1) {
                Complain("out of memory");
                iStatus = TS_IO;
            }
        }
    }
    char acWhy[512];
    if (iStatus == TS_OK && FirstUnstorablePair(acWhy, sizeof acWhy) >= 0) {
        Complain("%s; reset both of its rows; %s is unchanged", acWhy, psFile);
        iStatus = TS_REFUSED;
    }
    return FinishSave(iStatus, &up, bNew, &report, &layout);
}
