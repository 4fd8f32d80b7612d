/* morvrc_tool's verbs that read a home as the editor does: list (the
 * editor's list of settings), describe (a row's help text) and reset (the
 * catalogue defaults, as "Reset to Default" puts them back). */
#include "cli/files.h"
#include "cli/home.h"
#include "cli/verbs.h"
#include "settings/morvrc/lines.h"
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
#include <unistd.h>

/* ---- The home ------------------------------------------------------------ */

/* Reads morvrc psPath into the store as the editor's start-up does (a
 * regular file only, at iTimeBytes or the width found, then the built-in
 * text defaults) and notes on standard error what the editor would warn
 * about.  With bStrict, a file that cannot be read is an error, but for
 * the home's morvrc missing, which the editor starts without, and a text
 * of settings is too.  Returns TS_OK with values to show, or after a
 * complaint TS_IO or TS_DAMAGED. */
static int ReadLikeTheEditor(char const *psPath, int iTimeBytes, int bStrict)
{
    struct MorvSnapshot snap;
    struct MorvLoadReport report;
    struct MorvLayout layout = {0, 0, NULL, 0};
    char acDetail[16], acSentence[2048];
    int iStatus = TS_OK;
    /* "-", standard input, is whatever the user pipes in. */
    if (!SnapshotFile(psPath, strcmp(psPath, "-") != 0, &snap)) {
        int bFresh = NoteFreshHome(psPath, snap.iErrno);
        if (bStrict && !bFresh) {
            Complain("cannot read %s: %s", psPath, ReadErrorText(snap.iErrno));
            return TS_IO;
        }
        if (!bFresh)
            fprintf(stderr,
                    "morvrc_tool: note: cannot read %s (%s): the values are those the editor "
                    "starts from\n",
                    psPath, ReadErrorText(snap.iErrno));
        StartStore(iTimeBytes, &report, &layout);
    } else if (ReadIntoStore(&snap, iTimeBytes, &report, &layout, acDetail, sizeof acDetail) != MORV_WHOLE) {
        /* A text of settings holds no values to show, bStrict. */
        int bText = SayTextForm(psPath, &snap, acSentence, sizeof acSentence);
        iStatus = bText && bStrict ? TS_DAMAGED : TS_OK;
        if (bText || DescribeReading(&report, 0, psPath, acSentence, sizeof acSentence))
            fprintf(stderr, "morvrc_tool: %s%s\n", iStatus != TS_OK ? "" : "note: ", acSentence);
    }
    InstallTextDefaults(0);
    FreeSnapshot(&snap);
    FreeLayout(&layout);
    return iStatus;
}

/* ---- list ----------------------------------------------------------------- */

/* Prints a record of list or search, ps (malloc'd, freed here): with
 * --json an element of the array, after a comma unless bFirst; otherwise a
 * line, or with -z a text ending in a zero byte.  Returns TS_OK, or TS_IO
 * for a null ps, memory that ran out (after a complaint). */
static int PrintRecord(char *ps, int bFirst, struct Options const *po)
{
    if (ps == NULL)
        return NoMemory();
    if (po->bJson)
        printf("%s  %s", bFirst ? "\n" : ",\n", ps);
    else
        printf("%s%c", ps, po->bZero ? '\0' : '\n');
    free(ps);
    return TS_OK;
}

/* Reads the home that *po names as the editor's start-up does: its morvrc,
 * or psRc when it is not null, into the store (ReadLikeTheEditor, bStrict
 * as it takes it), then its setup.dat into the catalogue, bound to the
 * settings.  *piRows gets the rows read.  Returns ReadCatalogue's status,
 * ReadLikeTheEditor's when it is not TS_OK, or TS_USAGE after a complaint
 * about the home's paths. */
static int ReadHome(struct Options const *po, char const *psRc, int bStrict, int *piRows)
{
    char acRc[HOME_PATH], acDat[HOME_PATH];
    *piRows = 0;
    if ((psRc == NULL && (psRc = HomeMorvrc(po, acRc)) == NULL) || !HomePath(po, "setup.dat", acDat, 1))
        return TS_USAGE;
    int iStatus = ReadLikeTheEditor(psRc, po->iBits, bStrict);
    SetVariables();
    return iStatus != TS_OK ? iStatus : ReadCatalogue(acDat, piRows, 1);
}

int List(int argc, char **argv, struct Options const *po)
{
    if (!ArgumentCount("list", argc, 0, 1))
        return TS_USAGE;
    int iRows;
    int iStatus = ReadHome(po, argc == 1 ? argv[0] : NULL, 1, &iRows);
    /* After a bad type code, the rows before it are listed. */
    if (iStatus != TS_OK && (iStatus != TS_DAMAGED || iRows == 0))
        return iStatus;
    if (po->bJson)
        printf("[");
    int iShown = 0;
    for (int r = 1; r <= iRows; r++) {
        if (po->bChanged && !RowIsChanged(r))
            continue;
        if (PrintRecord(po->bJson ? FormatRowJson(r) : FormatListLine(r), iShown++ == 0, po) != TS_OK)
            return TS_IO;
    }
    if (po->bJson)
        printf("%s]\n", iShown > 0 ? "\n" : "");
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


/* Enters the home *po names, as the editor does, for the message
 * catalogue finds its files from there, and loads the help texts
 * (LoadHelpTexts).  Returns 1, or 0 after a complaint. */
static int EnterHome(struct Options const *po)
{
    char const *psHome = HomeDirectory(po, 1);
    if (chdir(psHome) != 0) {
        Complain("cannot enter %s: %s", psHome, strerror(errno));
        return 0;
    }
    LoadHelpTexts(po->iXChat != 0 ? po->iXChat : 2);
    return 1;
}

int Describe(int argc, char **argv, struct Options const *po)
{
    if (!ArgumentCount("describe", argc, 1, 1))
        return TS_USAGE;
    int iRows;
    int iStatus = ReadHome(po, NULL, 0, &iRows);
    if (iStatus != TS_OK)
        return iStatus;
    char acWhy[512];
    int iRow = RowNamed(argv[0], iRows, acWhy, sizeof acWhy);
    if (iRow == 0) {
        Complain("%s", acWhy);
        return TS_USAGE;
    }
    if (!EnterHome(po))
        return TS_IO;
    char *psText = FormatDescription(iRow, po->bJson);
    if (psText == NULL)
        return NoMemory();
    printf("%s\n", psText);
    free(psText);
    return TS_OK;
}

/* ---- search --------------------------------------------------------------- */

/* Item it, which no row edits, as a record of search: "  -  name = value",
 * or with bJson an object with a null row.  Returns a malloc'd text, or
 * null when memory runs out. */
static char *SettingRecord(struct MorvItem it, int bJson)
{
    char acName[64];
    ItemName(it, acName, sizeof acName);
    char *psValue = bJson ? FormatItemJson(it) : FormatSettingLine(it);
    struct MorvText t = {NULL, 0, 0, psValue == NULL};
    if (bJson)
        AddText(&t, "{\"row\": null, \"setting\": \"%s\", \"value\": %s}", acName,
                psValue != NULL ? psValue : "null");
    else
        AddText(&t, "  -  %s", psValue != NULL ? psValue : "");
    free(psValue);
    return TakeText(&t, NULL);
}

int Search(int argc, char **argv, struct Options const *po)
{
    if (!ArgumentCount("search", argc, 1, 2))
        return TS_USAGE;
    int iRows;
    int iStatus = ReadHome(po, argc == 2 ? argv[0] : NULL, 1, &iRows);
    if (iStatus != TS_OK || !EnterHome(po))
        return iStatus != TS_OK ? iStatus : TS_IO;
    char const *psWord = argv[argc - 1];
    if (po->bJson)
        printf("[");
    int iShown = 0;
    for (int r = 1; r <= iRows && iStatus == TS_OK; r++)
        if (RowHoldsWord(r, psWord, GetMessage(dvArray[r].iHelpMessage)))
            iStatus = PrintRecord(po->bJson ? FormatRowJson(r) : FormatListLine(r), iShown++ == 0, po);
    struct MorvItem aItems[MORV_MAX_ITEMS];
    int iItems = AllItems(aItems, MORV_MAX_ITEMS);
    for (int k = 0; k < iItems && iStatus == TS_OK; k++)
        if (RowOfItem(aItems[k], iRows) == 0 && ItemHoldsWord(aItems[k], psWord))
            iStatus = PrintRecord(SettingRecord(aItems[k], po->bJson), iShown++ == 0, po);
    if (po->bJson && iStatus == TS_OK)
        printf("%s]\n", iShown > 0 ? "\n" : "");
    return iStatus == TS_OK && iShown == 0 ? TS_NO : iStatus;
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
    if (psFile == NULL || (!po->bAll && !ArgumentCount("reset", argc - bFile, 1, argc))) {
        if (psFile != NULL)
            NoteTakenForFile(argv[0]);
        return TS_USAGE;
    }
    unsigned char abReset[CATALOGUE_ROWS + 1];
    memset(abReset, 0, sizeof abReset);
    for (int r = 1; r <= iRows; r++)
        abReset[r] = po->bAll && RowIsBound(r);
    char acWhy[512];
    for (int i = bFile; i < argc && !po->bAll; i++) {
        int aiRows[2];
        int n = RowsOfName(argv[i], iRows, aiRows, acWhy, sizeof acWhy);
        if (n == 0) {
            Complain("%s", acWhy);
            if (bFile)
                NoteTakenForFile(argv[0]);
            return TS_USAGE;
        }
        for (int e = 0; e < n; e++)
            abReset[aiRows[e]] = 1;
    }

    struct MorvLoadReport report;
    struct MorvLayout layout;
    int bNew;
    struct MorvUpdate up;
    iStatus = BeginSaving(psFile, po->iWaitMs, po->bForce && po->bAll, &up);
    if (iStatus != TS_OK)
        return iStatus;
    char acDamage[2048];
    iStatus = LoadOrStart(psFile, &up.snFound, po->iBits, &report, &layout, &bNew, acDamage,
                          sizeof acDamage);
    if (iStatus == TS_OK && bNew == 2) {
        /* Every setting a row edits is written anew only with --all. */
        if (po->bAll)
            NoteRepair(psFile, acDamage, 0);
        else
            iStatus = RefuseDamaged(psFile, acDamage, &up.snFound);
    }
    if (iStatus == TS_OK) {
        SetVariables();
        for (int r = 1; r <= iRows && iStatus == TS_OK; r++) {
            if (abReset[r] && ResetRowToDefault(r) != 1)
                iStatus = NoMemory();
        }
    }
    if (iStatus == TS_OK && FirstUnstorablePair(acWhy, sizeof acWhy) >= 0) {
        Complain("%s; reset both of its rows; %s is unchanged", acWhy, psFile);
        iStatus = TS_REFUSED;
    }
    return FinishSave(iStatus, &up, bNew, &report, &layout);
}
