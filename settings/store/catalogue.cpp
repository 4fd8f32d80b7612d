/* The variable catalogue: reads setup.dat into dvArray, binds its rows to
 * the settings, finds the setting behind a row, puts a row's default back
 * and formats each row's list line.  No FLTK and no exits: the
 * list, and the answer to a bad type code, belong to the caller. */
#include "settings/store/catalogue.h"

#include "settings/store/morv.h"
#include "settings/store/text.h"
#include "support/function.h"
#include "support/mm.h"
#include "support/runlog.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct VariableDescriptor dvArray[CATALOGUE_ROWS + 1];
int i_tCTCPFloodTimer = 0;
int i_tSoundCommandTimer = 0;
int i_tMinSecondSent = 0;

const struct TimeCopy aTimeCopies[TIME_COPIES] = {
    {&tCTCPFloodTimer, &i_tCTCPFloodTimer},
    {&tSoundCommandTimer, &i_tSoundCommandTimer},
    {&tMinSecondSent, &i_tMinSecondSent},
};

/* Returns the working copy of time value t: its low 32 bits, read as
 * signed, as the list edits it. */
static int TimeCopyOf(time_t t)
{
    return (int)(int32_t)(uint32_t)t;
}

void WriteBackTimeCopies(void)
{
    for (struct TimeCopy const &tc : aTimeCopies)
        *tc.ptSetting = (time_t)*tc.piCopy;
}

/* Which setting each catalogue row edits, and the run-log line written
 * right after binding it. */
struct RowBinding {
    int iRow;
    int *piInteger;        /* integer rows */
    char **ppsText;        /* text rows */
    char const *psLogAfter;
};

static const struct RowBinding aRowBindings[] = {
    {1, &iFlagDebugMode, NULL, NULL},
    {2, &iFlagLogFile, NULL, NULL},
    {3, &iFlagCloneDetect, NULL, NULL},
    {4, &iFlagPrintClone, NULL, NULL},
    {5, &iFlagPrintList, NULL, NULL},
    {6, &iFlagColor, NULL, NULL},
    {7, &iMaxCloneCount, NULL, NULL},
    {8, &iFlagQueryBeep, NULL, NULL},
    {9, &iFlagNickBeep, NULL, NULL},
    {10, &iFlagDomainMonitoring, NULL, NULL},
    {11, &iFlagNickJoinMonitoring, NULL, NULL},
    {12, &iMaxQueryMSGFlood, NULL, NULL},
    {13, &iFlagCTCPAnswer, NULL, NULL},
    {14, &i_tCTCPFloodTimer, NULL, NULL},
    {15, &iFlagBeep, NULL, NULL},
    {16, &i_tSoundCommandTimer, NULL, NULL},
    {17, &iMaxMessageSent, NULL, NULL},
    {18, &i_tMinSecondSent, NULL, NULL},
    {19, &iFlagTextFloodOutgoing, NULL, NULL},
    {20, NULL, &psFlagChanJoinBeep[0], NULL},
    {21, NULL, &psFlagChanJoinBeep[1], NULL},
    {22, NULL, &psFlagChanModBeep[0], NULL},
    {23, NULL, &psFlagChanModBeep[1], NULL},
    {24, NULL, &psFlagChanWordBeep[0], NULL},
    {25, NULL, &psFlagChanWordBeep[1], "SetVariables() :v12"},
    {26, NULL, &psPrefixOutput, NULL},
    {27, NULL, &psPostfixOutput, "SetVariables() :v13"},
    {28, &iFlagIgnoreMessage, NULL, "SetVariables() :v15"},
    {29, &iFlagMorvMessage, NULL, "SetVariables() :v16"},
    {30, &iFlagLocalUserModeChg, NULL, "SetVariables() :v17"},
    {31, &iFlagDebugModeFnc, NULL, NULL},
    {32, &iFlagEnableDatabase, NULL, NULL},
    {33, &iFlagEnableEvent, NULL, "SetVariables() :v18"},
    {34, NULL, &psMessageLanguage, "SetVariables() :v19"},
    {35, NULL, &psAwayPostfix, "SetVariables() :v20"},
    {36, &iFlagAwaySystem, NULL, "SetVariables() :v21"},
    {37, NULL, &psPipeCommand, "SetVariables() :v22"},
    {38, NULL, &psAudioDevice, "SetVariables() :v23"},
    {39, &iMaxMessageChar, NULL, "SetVariables() :v24"},
    {40, NULL, &psIdentifyCommand, "SetVariables() :v25"},
    {41, &iFlagErrorMessage, NULL, "SetVariables() :v26"},
    {42, &iFlagDisableDBUpdating, NULL, NULL},
    {43, &iFlagMonitoringMessage, NULL, "SetVariables() :v28"},
    {44, &iFlagAwayMessage, NULL, "SetVariables() :v28"},
    {45, &iFlagCurrentTab, NULL, NULL},
    {46, &iFlagTextFloodError, NULL, "SetVariables() :v29"},
    {47, &iFlagBadWordSystem, NULL, NULL},
    {48, &iFlagBadWordMessage, NULL, "SetVariables() :v30"},
    {49, &iFlagParserMode[0], NULL, NULL},  /* PRIVMSG */
    {50, &iFlagParserMode[1], NULL, NULL},  /* JOIN */
    {51, &iFlagParserMode[2], NULL, NULL},  /* LUJOIN */
    {52, &iFlagParserMode[3], NULL, NULL},  /* CHNICK */
    {53, &iFlagParserMode[4], NULL, NULL},  /* CLIST */
    {54, &iFlagParserMode[5], NULL, NULL},  /* SRVMSG */
    {55, &iFlagParserMode[6], NULL, NULL},  /* PART */
    {56, &iFlagParserMode[7], NULL, NULL},  /* KICK */
    {57, &iFlagParserMode[8], NULL, NULL},  /* MODE */
    {58, &iFlagParserMode[9], NULL, NULL},  /* NAMES */
    {59, &iFlagParserMode[10], NULL, NULL}, /* WHO */
    {60, &iFlagParserMode[11], NULL, NULL}, /* QUIT */
    {61, &iFlagParserMode[12], NULL, NULL}, /* OSERVER */
    {62, &iFlagParserMode[13], NULL, NULL}, /* ENDWHO */
    {63, &iFlagParserMode[14], NULL, NULL}, /* ERRORLNK */
    {64, &iFlagParserMode[15], NULL, NULL}, /* ENDMOTD */
    {65, &iFlagParserMode[16], NULL, NULL}, /* NOTIFY */
    {66, &iFlagParserMode[17], NULL, NULL}, /* INVITE */
    {67, &iFlagParserMode[18], NULL, NULL}, /* NOTICE */
    {68, &iFlagEventsManagerDebug, NULL, "SetVariables() :v31"},
    {69, &iFlagTextFloodIncoming, NULL, "SetVariables() :v32"},
    {70, &iFlagAdvancedLog, NULL, NULL},
    {71, &iPrivateKillerAlert, NULL, "SetVariables() :v33"},
    {72, &iFlagFilterSystem, NULL, "SetVariables() :v34"},
    {73, &iPrivateKillerMessage, NULL, "SetVariables() :v35"},
    {74, &iFlagKeepQueueCommandCorrupted, NULL, "SetVariables() :v36"},
    {75, &iPKIgnoreCTCPVersion, NULL, "SetVariables() :v37"},
    {76, &iPKAllowOnTimeout, NULL, "SetVariables() :v38"},
    {77, &iFlagDisableSHBM, NULL, NULL},
};

void SetVariables(void)
{
    LogStep("SetVariables()");
    /* The time settings are edited as 32-bit values. */
    for (struct TimeCopy const &tc : aTimeCopies)
        *tc.piCopy = TimeCopyOf(*tc.ptSetting);
    LogStep("SetVariables() : Referencing");
    for (size_t i = 0; i < sizeof aRowBindings / sizeof aRowBindings[0]; i++) {
        struct RowBinding const *pb = &aRowBindings[i];
        struct VariableDescriptor *pr = &dvArray[pb->iRow];
        if (pb->piInteger != NULL) {
            pr->piValue = pb->piInteger;
        } else {
            pr->ppsValue = pb->ppsText;
            pr->psValue = *pb->ppsText;
        }
        if (pb->psLogAfter != NULL)
            LogStep(pb->psLogAfter);
    }
}

/* The binding of row iRow, or null for a row bound to nothing. */
static struct RowBinding const *FindBinding(int iRow)
{
    for (struct RowBinding const &b : aRowBindings)
        if (b.iRow == iRow)
            return &b;
    return NULL;
}

int RowIsBound(int iRow)
{
    struct RowBinding const *pb = FindBinding(iRow);
    if (pb == NULL)
        return 0;
    return dvArray[iRow].iType == VARIABLE_STRING ? pb->ppsText != NULL : pb->piInteger != NULL;
}

char const *RowDefaultText(struct VariableDescriptor const *pr)
{
    return pr->psDefault == NULL || pr->psDefault[0] == '$' ? NULL : pr->psDefault;
}

int RowIsChanged(int iRow)
{
    struct VariableDescriptor const *pr = &dvArray[iRow];
    if (!RowIsBound(iRow))
        return 0;
    if (pr->iType != VARIABLE_STRING)
        return *pr->piValue != pr->iDefault;
    char const *psDefault = RowDefaultText(pr);
    if (pr->psValue == NULL || psDefault == NULL)
        return pr->psValue != psDefault;
    return strcmp(pr->psValue, psDefault) != 0;
}

int ResetRowToDefault(int iRow)
{
    struct VariableDescriptor *pr = &dvArray[iRow];
    struct RowBinding const *pb = FindBinding(iRow);
    switch (pr->iType) {
    case VARIABLE_BOOLEAN:
    case VARIABLE_NUMERIC:
        if (pb == NULL || pb->piInteger == NULL)
            return 1;
        *pb->piInteger = pr->iDefault;
        for (struct TimeCopy const &tc : aTimeCopies)
            if (pb->piInteger == tc.piCopy)
                *tc.ptSetting = (time_t)*tc.piCopy;
        return 1;
    case VARIABLE_STRING: {
        if (pb == NULL || pb->ppsText == NULL)
            return 1;
        char const *psDefault = RowDefaultText(pr);
        char *psNew = NULL;
        if (psDefault != NULL && (psNew = strdup(psDefault)) == NULL)
            return 0;
        free(*pb->ppsText);
        *pb->ppsText = psNew;
        pr->psValue = psNew;
        return 1;
    }
    default:
        return -1;
    }
}

int RowItem(int iRow, struct MorvItem *pit)
{
    struct RowBinding const *pb = FindBinding(iRow);
    if (pb == NULL)
        return 0;
    if (pb->ppsText != NULL)
        return ItemAt(pb->ppsText, pit);
    for (struct TimeCopy const &tc : aTimeCopies)
        if (pb->piInteger == tc.piCopy)
            return ItemAt(tc.ptSetting, pit);
    return ItemAt(pb->piInteger, pit);
}

int ItemRow(struct MorvItem it)
{
    for (struct RowBinding const &b : aRowBindings) {
        struct MorvItem itRow;
        if (RowItem(b.iRow, &itRow) && itRow.iField == it.iField && itRow.iElement == it.iElement)
            return b.iRow;
    }
    return 0;
}

int RowOfItem(struct MorvItem it, int iRows)
{
    int iRow = ItemRow(it);
    return iRow <= iRows && RowIsBound(iRow) ? iRow : 0;
}

int FindRow(char const *psArg, int iRows)
{
    long long llRow;
    if (strspn(psArg, "0123456789") == strlen(psArg) && psArg[0] != '\0')
        return ParseDecimal(psArg, 1, iRows, &llRow) ? (int)llRow : 0;
    for (int r = 1; r <= iRows; r++)
        if (dvArray[r].psVariableName != NULL && strcmp(dvArray[r].psVariableName, psArg) == 0)
            return r;
    struct MorvItem it;
    char acWhy[256];
    NameItemsByRows(iRows);
    if (!FindItem(psArg, &it, acWhy, sizeof acWhy))
        return -1;
    int iRow = RowOfItem(it, iRows);
    return iRow > 0 ? iRow : -2;
}

int RowRange(int iRow)
{
    switch (dvArray[iRow].iType) {
    case VARIABLE_BOOLEAN:
        return IR_SWITCH;
    case VARIABLE_NUMERIC:
        return IR_COUNTER;
    default:
        return IR_ANY;
    }
}

void NameItemsByRows(int iRows)
{
    for (int r = 1; r <= iRows && r <= CATALOGUE_ROWS; r++) {
        struct VariableDescriptor const *pr = &dvArray[r];
        struct MorvItem it;
        if (!RowItem(r, &it))
            continue;
        int k = ItemIndex(it);
        if (k < 0)
            continue;
        apsItemRow[k] = pr->psVariableName;
        if (FindBinding(r)->piInteger != NULL)
            aucItemRange[k] = (unsigned char)RowRange(r);
    }
}

/* Returns ps, or "(null)" for the null text of a row never filled. */
static char const *Shown(char const *ps) { return ps != NULL ? ps : "(null)"; }

int FormatRowText(char *psBuffer, int iRow)
{
    struct VariableDescriptor const *pr = &dvArray[iRow];
    switch (pr->iType) {
    case VARIABLE_BOOLEAN:
    case VARIABLE_NUMERIC:
        /* A row without an integer binding has no value to show. */
        snprintf(psBuffer, ROW_BUFFER_SIZE, " %16s | %24s | %20d | %d", Shown(pr->psCommand),
                 Shown(pr->psVariableName), pr->iDefault, pr->piValue != NULL ? *pr->piValue : 0);
        break;
    case VARIABLE_STRING:
        snprintf(psBuffer, ROW_BUFFER_SIZE, " %16s | %24s | %20s | %s", Shown(pr->psCommand),
                 Shown(pr->psVariableName), Shown(pr->psDefault), Shown(pr->psValue));
        break;
    default:
        psBuffer[0] = '\0';
        return 0;
    }
    return 1;
}

char *FormatListLine(int iRow)
{
    char acRow[ROW_BUFFER_SIZE + 8];
    int n = snprintf(acRow, sizeof acRow, "%3d ", iRow);
    FormatRowText(acRow + n, iRow);
    return EscapeControls(acRow);
}

char const *RowTypeWord(int iType)
{
    static char const *const apsTypes[] = {"boolean", "numeric", "text"};
    return iType >= 0 && iType <= VARIABLE_STRING ? apsTypes[iType] : "?";
}

/* ps, or "null" in its place when memory ran out making it: the text it
 * goes into is then lost anyway (MorvText's bFailed). */
static char const *OrNull(char const *ps) { return ps != NULL ? ps : "null"; }

/* Writes into psOut (uOut bytes) the name of the setting row iRow edits.
 * Returns 1, or 0 with psOut empty when the row edits none. */
static int RowSettingName(int iRow, char *psOut, size_t uOut)
{
    struct MorvItem it;
    psOut[0] = '\0';
    if (!RowIsBound(iRow) || !RowItem(iRow, &it))
        return 0;
    ItemName(it, psOut, uOut);
    return 1;
}

char *FormatRowJson(int iRow)
{
    struct VariableDescriptor const *pr = &dvArray[iRow];
    int bText = pr->iType == VARIABLE_STRING;
    int bBound = RowIsBound(iRow);
    char acName[56], acSetting[64] = "null";
    /* Setting names are ASCII words with brackets: nothing to escape. */
    if (RowSettingName(iRow, acName, sizeof acName))
        snprintf(acSetting, sizeof acSetting, "\"%s\"", acName);
    char *psCommand = JsonText(pr->psCommand);
    char *psName = JsonText(pr->psVariableName);
    char *psDefault = bText ? JsonText(RowDefaultText(pr)) : NULL;
    char *psValue = bBound && bText ? JsonText(pr->psValue) : NULL;
    struct MorvText t = {NULL, 0, 0, 0};
    t.bFailed = psCommand == NULL || psName == NULL || (bText && psDefault == NULL) ||
                (bBound && bText && psValue == NULL);
    AddText(&t, "{\"row\": %d, \"type\": \"%s\", \"command\": %s, \"name\": %s, \"setting\": %s, ",
            iRow, RowTypeWord(pr->iType), OrNull(psCommand), OrNull(psName), acSetting);
    if (bText)
        AddText(&t, "\"default\": %s, \"value\": %s", OrNull(psDefault), OrNull(psValue));
    else if (bBound)
        AddText(&t, "\"default\": %d, \"value\": %d", pr->iDefault, *pr->piValue);
    else
        AddText(&t, "\"default\": %d, \"value\": null", pr->iDefault);
    AddText(&t, ", \"help\": %d}", pr->iHelpMessage);
    free(psCommand);
    free(psName);
    free(psDefault);
    free(psValue);
    return TakeText(&t, NULL);
}

int RowHoldsWord(int iRow, char const *psWord, char const *psHelp)
{
    struct VariableDescriptor const *pr = &dvArray[iRow];
    char acValue[64] = "", acSetting[64];
    RowSettingName(iRow, acSetting, sizeof acSetting);
    if (pr->iType != VARIABLE_STRING && pr->piValue != NULL)
        snprintf(acValue, sizeof acValue, "%d", *pr->piValue);
    char const *apsTexts[] = {pr->psCommand, pr->psVariableName, acSetting,
                              pr->iType == VARIABLE_STRING ? pr->psValue : acValue, psHelp};
    for (char const *ps : apsTexts)
        if (ps != NULL && ps[0] != '\0' && ContainsWord(ps, psWord))
            return 1;
    return 0;
}

void ForEachName(int iRows, void (*pfName)(char const *psName))
{
    struct MorvItem aItems[MORV_MAX_ITEMS];
    int iItems = AllItems(aItems, MORV_MAX_ITEMS);
    char acName[64];
    for (int k = 0; k < iItems; k++) {
        ItemName(aItems[k], acName, sizeof acName);
        pfName(acName);
    }
    for (int k = 0; k < iItems; k++) {
        if (aItems[k].iElement == 0 && ItemPair(aItems[k]) >= 0) {
            ItemName({aItems[k].iField, -1}, acName, sizeof acName);
            pfName(acName);
        }
    }
    for (int e = 0; e < PARSER_MODES; e++)
        pfName(apsFlagParseMode[e]);
    for (int r = 1; r <= iRows && r <= CATALOGUE_ROWS; r++)
        if (dvArray[r].psVariableName != NULL)
            pfName(dvArray[r].psVariableName);
}

int RowNamed(char const *psArg, int iRows, char *psWhy, size_t uWhy)
{
    int iRow = FindRow(psArg, iRows);
    if (iRow == 0)
        snprintf(psWhy, uWhy, "there is no row %.40s: setup.dat has %d rows", psArg, iRows);
    else if (iRow == -1)
        snprintf(psWhy, uWhy,
                 "no row of setup.dat is named \"%.80s\", and no stored setting is (list shows "
                 "the rows)",
                 psArg);
    else if (iRow == -2)
        snprintf(psWhy, uWhy, "no row of setup.dat edits %.80s", psArg);
    return iRow > 0 ? iRow : 0;
}

int RowsOfName(char const *psArg, int iRows, int aiRows[2], char *psWhy, size_t uWhy)
{
    int iPair = FindPair(psArg);
    for (int e = 0; e < 2 && iPair >= 0; e++) {
        aiRows[e] = RowOfItem({iPair, e}, iRows);
        if (aiRows[e] == 0) {
            snprintf(psWhy, uWhy, "no row of setup.dat edits %.80s[%d]", psArg, e);
            return 0;
        }
    }
    if (iPair >= 0)
        return 2;
    aiRows[0] = RowNamed(psArg, iRows, psWhy, uWhy);
    if (aiRows[0] > 0 && !RowIsBound(aiRows[0]))
        snprintf(psWhy, uWhy, "row %d (%s) edits no setting", aiRows[0],
                 dvArray[aiRows[0]].psVariableName);
    return aiRows[0] > 0 && RowIsBound(aiRows[0]);
}

char *FormatDescription(int iRow, int bJson)
{
    struct VariableDescriptor const *pr = &dvArray[iRow];
    char acRange[32];
    FormatRange(RowRange(iRow), bJson, acRange, sizeof acRange);
    if (acRange[0] == '\0')
        snprintf(acRange, sizeof acRange, "%s", bJson ? "null" : "a text");
    char acSetting[64];
    RowSettingName(iRow, acSetting, sizeof acSetting);
    char *psWhole = bJson ? MessageBeforeWrap(pr->iHelpMessage) : NULL;
    char const *psHelp = GetMessage(pr->iHelpMessage);
    struct MorvText t = {NULL, 0, 0, 0};
    if (!bJson) {
        AddText(&t, "row %d, %s%s%s%s: %s, %s\n%s", iRow, pr->psVariableName,
                acSetting[0] != '\0' ? " (" : "", acSetting, acSetting[0] != '\0' ? ")" : "",
                RowTypeWord(pr->iType), acRange, psHelp);
        return TakeText(&t, NULL);
    }
    char *psName = JsonText(pr->psVariableName);
    char *psText = JsonText(psWhole != NULL ? psWhole : psHelp);
    t.bFailed = psName == NULL || psText == NULL;
    /* Setting names are ASCII words with brackets: nothing to escape. */
    AddText(&t, "{\"row\": %d, \"name\": %s, \"setting\": %s%s%s, \"type\": \"%s\", \"range\": %s, \"help\": %s}",
            iRow, OrNull(psName), acSetting[0] != '\0' ? "\"" : "",
            acSetting[0] != '\0' ? acSetting : "null", acSetting[0] != '\0' ? "\"" : "",
            RowTypeWord(pr->iType), acRange, OrNull(psText));
    free(psWhole);
    free(psName);
    free(psText);
    return TakeText(&t, NULL);
}

/* Matches a bar with any white space before it.  Returns 1 when matched;
 * a mismatching character is left unread. */
static int ScanBar(FILE *f)
{
    int iEnd = -1;
    if (fscanf(f, " |%n", &iEnd) == EOF)
        return 0;
    return iEnd >= 0;
}

/* Reads one word into a CATALOGUE_WORD buffer.  A longer word is cut to 32
 * characters and its remainder skipped, so the row stays in step.
 * Returns 1 when a word was read. */
static int ScanWord(FILE *f, char *psWord)
{
    if (fscanf(f, "%32s", psWord) != 1)
        return 0;
    if (fscanf(f, "%*[^ \t\n\v\f\r]") == EOF)
        clearerr(f); /* the end of the file right after the word is for the next field to meet */
    return 1;
}

/* Applies "%d | %s | %s | %d | %s | %d" to f, field by field, storing the
 * type code in *piType and the rest in the row.  Returns the number of
 * fields stored, or EOF when the input ends before the first one. */
static int ScanRow(FILE *f, int *piType, struct VariableDescriptor *pr)
{
    int n = fscanf(f, "%d", piType);
    if (n != 1)
        return n == EOF ? EOF : 0;
    if (!ScanBar(f) || !ScanWord(f, pr->psCommand))
        return 1;
    if (!ScanBar(f) || !ScanWord(f, pr->psVariableName))
        return 2;
    if (!ScanBar(f) || fscanf(f, "%d", &pr->iDefault) != 1)
        return 3;
    if (!ScanBar(f) || !ScanWord(f, pr->psDefault))
        return 4;
    if (!ScanBar(f) || fscanf(f, "%d", &pr->iHelpMessage) != 1)
        return 5;
    return 6;
}

int LoadCatalogue(FILE *f, char *psRowBuffer, void (*pAddRow)(char const *psRowText))
{
    int iType = 0; /* kept across rows: a row that stops before it reuses the last one */
    int iRow;
    for (iRow = 1; iRow <= CATALOGUE_ROWS; iRow++) {
        struct VariableDescriptor *pr = &dvArray[iRow];
        pr->psCommand = (char *)calloc(CATALOGUE_WORD, 1);
        pr->psVariableName = (char *)calloc(CATALOGUE_WORD, 1);
        pr->psDefault = (char *)calloc(CATALOGUE_WORD, 1);
        if (pr->psCommand == NULL || pr->psVariableName == NULL || pr->psDefault == NULL ||
            ScanRow(f, &iType, pr) == EOF) {
            free(pr->psCommand);
            free(pr->psVariableName);
            free(pr->psDefault);
            pr->psCommand = pr->psVariableName = pr->psDefault = NULL;
            break;
        }
        LogStep("main() :While > fscanf");
        ustrfindreplace(&pr->psDefault, "$^$", " ");
        switch (iType) {
        case VARIABLE_NUMERIC:
            LogStep("main() :switch->NUMERIC");
            break;
        case VARIABLE_STRING:
            LogStep("main() :switch->STRING");
            break;
        case VARIABLE_BOOLEAN:
            LogStep("main() :switch->BOOLEAN");
            break;
        default:
            return -1;
        }
        pr->iType = iType;
        FormatRowText(psRowBuffer, iRow); /* cannot fail: the type was just checked */
        LogStep(psRowBuffer);
        LogStep("main() :Insert Data in ListBox");
        pAddRow(psRowBuffer);
    }
    return iRow - 1;
}
