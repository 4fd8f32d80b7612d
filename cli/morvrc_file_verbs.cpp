/* morvrc_tool's verbs on one file: dump, check, convert, get and set, with
 * their help texts. */
#include "cli/morvrc_file_verbs.h"

#include "cli/morvrc_cli.h"
#include "cli/morvrc_input.h"
#include "cli/morvrc_lines.h"
#include "cli/morvrc_value.h"
#include "settings/morv.h"
#include "settings/morvrc.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char acHelpDump[] =
    "Usage: morvrc_tool dump [--bits 32|64] [--json] FILE\n"
    "Prints the settings that FILE stores, in file order, one \"name = value\" line\n"
    "each, after a first line with the version, the width and the size:\n"
    "\n"
    "  # morvrc version 38, 64-bit time fields, 312 bytes\n"
    "  iMaxCloneCount = 10\n"
    "  tCTCPFloodTimer = 1\n"
    "  psFlagChanJoinBeep[0] = absent\n"
    "  psAwayPostfix = \"_AWAY\"\n"
    "  iFlagParserMode[PRIVMSG] = 1\n"
    "\n"
    "Integers and time values are decimal.  Texts are quoted with C escapes\n"
    "(\\\" \\\\ \\n \\t and the like, any other byte outside printable ASCII as a\n"
    "three-digit octal escape), so every byte is visible; \"absent\" is a text the\n"
    "file does not hold.  The 19 elements of iFlagParserMode carry their event\n"
    "names.  Fields that FILE's version predates are not shown.  A file of a newer\n"
    "version than 38 is shown up to the last field this tool knows, and a comment\n"
    "line counts the bytes after it.  load takes these lines back.\n"
    "\n"
    "--bits 32|64   the width of FILE's time fields (default: the width it reads\n"
    "               whole at; this build's, %d, when both or neither)\n"
    "--json         one JSON document instead:\n"
    "                 {\"version\": 38, \"time_bits\": 64, \"size\": 312,\n"
    "                  \"bytes_after_last_field\": 0,\n"
    "                  \"settings\": {\"iFlagDebugMode\": 0, ..., \"psAwayPostfix\": \"_AWAY\",\n"
    "                               ...}}\n"
    "               with the settings in file order.  Texts are JSON strings in\n"
    "               which each character is one byte of the text (\\u0080 to\n"
    "               \\u00ff for the bytes above 127: read them as Latin-1); an\n"
    "               absent text is null.\n"
    "\n"
    "When FILE is damaged, the settings before the damage are printed (with\n"
    "--json, nothing is) and the damage is reported with its byte offset and\n"
    "field (exit status 4); so are bytes after the last field of a file of\n"
    "version 38 or older, which usually mean the other width.\n";

const char acHelpCheck[] =
    "Usage: morvrc_tool check [--bits 32|64] FILE\n"
    "Reports FILE's version and size, and whether it parses exactly as a 32-bit\n"
    "file and as a 64-bit file: every field that its version holds is there, every\n"
    "text length stays inside the file, and no bytes are left after the last field.\n"
    "Then the verdict: 32-bit, 64-bit, both or neither; and last the width at\n"
    "which the other verbs read FILE without --bits (this build's, %d bits, when\n"
    "the verdict is both or neither):\n"
    "\n"
    "  verdict: 32-bit\n"
    "  width: 32-bit\n"
    "\n"
    "A file of a newer version than 38 may hold fields this tool does not know\n"
    "after the last one it knows; for such a file the bytes there are reported but\n"
    "do not count against it.\n"
    "\n"
    "--bits 32|64   the width FILE is meant to have\n"
    "\n"
    "Exit status 0 when FILE parses exactly in the width asked for, or, without\n"
    "--bits, in exactly one width; 1 otherwise; 3 when FILE cannot be read.\n";

const char acHelpConvert[] =
    "Usage: morvrc_tool convert [--from 32|64] --to 32|64 IN OUT\n"
    "Reads IN, whose time fields are --from bits wide, and writes OUT as a\n"
    "version-38 file with --to-bit time fields and every value unchanged.  OUT\n"
    "may be IN.  It is written the way the editor saves: a temporary file in the\n"
    "same directory, synced and renamed over OUT, which keeps its permissions\n"
    "(through a symbolic link, the file it points to is replaced).\n"
    "\n"
    "Without --from, IN's width is found (the width it reads whole at; this\n"
    "build's, %d, when both or neither).  IN must parse exactly at that width\n"
    "(see check).  Fields that an older IN does not hold are written with the\n"
    "values the editor starts from: the store's initial values, and \"/ECHO \",\n"
    "\"ALSA\" and \"/MSG NickServ Identify\" for psPipeCommand, psAudioDevice and\n"
    "psIdentifyCommand.  Bytes after the last field of a newer IN are not kept.\n"
    "\n"
    "A time value that does not fit 32 bits stops a conversion to 32 bits (exit\n"
    "status 5) and OUT is not touched; the 32-bit build cannot read such a value\n"
    "at all.\n";

const char acHelpGet[] =
    "Usage: morvrc_tool get [--bits 32|64] [--json] FILE NAME\n"
    "Prints the value of one setting, as dump shows it.  NAME is a setting's name\n"
    "(iMaxCloneCount, tCTCPFloodTimer, psAwayPostfix), a text of a pair\n"
    "(psFlagChanJoinBeep[0] or [1]), or an element of iFlagParserMode by index or\n"
    "event (iFlagParserMode[3], iFlagParserMode[CHNICK], or just CHNICK).\n"
    "FILE must parse exactly (see check).\n"
    "\n"
    "--bits 32|64   the width of FILE's time fields (default: the width it reads\n"
    "               whole at; this build's, %d, when both or neither)\n"
    "--json         the value as a JSON document: a number, a string (each\n"
    "               character one byte of the text, as for dump --json) or null\n"
    "\n"
    "Exit status 1 when FILE's version is older than the setting.\n";

const char acHelpSet[] =
    "Usage: morvrc_tool set [--bits 32|64] FILE NAME VALUE [NAME VALUE]...\n"
    "Changes settings of FILE and writes it back at the same width, the way the\n"
    "editor saves (temporary file, sync, rename).  NAME is as for get.  Every\n"
    "change is checked before anything is written; on any error FILE is left as\n"
    "it was.  Right before the new file takes its place, FILE is read again: if\n"
    "another program has changed it meanwhile, nothing is written (exit status 6).\n"
    "\n"
    "VALUE is a decimal integer for an integer (32 bits) or a time value (32 or\n"
    "64 bits, as FILE's time fields and this build allow).  For a text it is\n"
    "  absent        no text\n"
    "  \"...\"         a quoted text with C escapes, as dump prints it\n"
    "  anything else the text itself, as typed\n"
    "An empty text is stored as absent, except as text [1] of a pair.\n"
    "\n"
    "The file holds both texts of a pair or neither: a change that leaves a pair\n"
    "with one text, or with an empty text [0], is refused (exit status 5).  To\n"
    "set a pair, give both texts in one command:\n"
    "  morvrc_tool set FILE psFlagChanJoinBeep[0] '#chan' psFlagChanJoinBeep[1] beep\n"
    "\n"
    "FILE must parse exactly (see check).  Fields that an older FILE does not hold\n"
    "are written with the values the editor starts from: the store's\n"
    "initial values, and \"/ECHO \", \"ALSA\" and \"/MSG NickServ Identify\" for\n"
    "psPipeCommand, psAudioDevice and psIdentifyCommand, and the file becomes\n"
    "version 38.  A file of a newer version keeps its version, and the bytes after\n"
    "the last field this tool knows are written back as they were.\n"
    "\n"
    "--bits 32|64   the width of FILE's time fields (default: the width it reads\n"
    "               whole at; this build's, %d, when both or neither)\n";


/* Prints "name = value" for every item of field iField.  Returns TS_OK, or
 * TS_IO when memory runs out. */
static int PrintField(int iField)
{
    for (int e = 0; e < ItemCount(iField); e++) {
        struct MorvItem it = {iField, ItemCount(iField) == 1 ? -1 : e};
        char *psLine = FormatSettingLine(it);
        if (psLine == NULL) {
            Complain("out of memory");
            return TS_IO;
        }
        printf("%s\n", psLine);
        free(psLine);
    }
    return TS_OK;
}

/* Prints the store read from *pin as dump --json shows it: one object with
 * the file's version, width, size and the settings its version holds.
 * Returns TS_OK, or TS_IO when memory runs out (after a complaint, with
 * part of the document printed). */
static int PrintJsonDump(struct Input const *pin, struct MorvLoadReport const *pr)
{
    struct MorvReadInfo const *pi = &pr->info;
    printf("{\n  \"version\": %d,\n  \"time_bits\": %d,\n  \"size\": %lld,\n"
           "  \"bytes_after_last_field\": %lld,\n  \"settings\": {",
           pi->iVersion, pr->iTimeBytes * 8, pin->snap.llSize, pi->llSize - pi->llConsumed);
    struct MorvItem aItems[MORV_MAX_ITEMS];
    int iItems = AllItems(aItems, MORV_MAX_ITEMS);
    char const *psSeparator = "\n";
    for (int k = 0; k < iItems; k++) {
        if (pi->iVersion < aMorvFields[aItems[k].iField].iFromVersion)
            break;
        char acName[64];
        ItemName(aItems[k], acName, sizeof acName);
        char *psValue = FormatItemJson(aItems[k]);
        if (psValue == NULL) {
            Complain("out of memory");
            return TS_IO;
        }
        /* The names are plain ASCII words with brackets: no escapes. */
        printf("%s    \"%s\": %s", psSeparator, acName, psValue);
        free(psValue);
        psSeparator = ",\n";
    }
    printf("\n  }\n}\n");
    return TS_OK;
}

int Dump(int argc, char **argv, struct Options const *po)
{
    if (!ArgumentCount("dump", argc, 1, 1))
        return TS_USAGE;
    struct Input in;
    int iStatus = LoadInput(argv[0], &in);
    if (iStatus != TS_OK)
        return iStatus;
    struct MorvLoadReport report;
    struct MorvLayout layout = {0, 0, NULL, 0};
    char acWhy[512] = "";
    iStatus = LoadStore(&in, po->iBits, &report, &layout, acWhy, sizeof acWhy);
    FreeLayout(&layout);
    struct MorvReadInfo const &info = report.info;

    if (po->bJson) {
        /* A document is printed whole or not at all. */
        if (iStatus == TS_OK)
            iStatus = PrintJsonDump(&in, &report);
    } else if (info.eResult != MORV_READ_TOO_OLD) {
        printf("# morvrc version %d, %d-bit time fields, %lld bytes\n", info.iVersion,
               report.iTimeBytes * 8, in.snap.llSize);
        /* Up to the damage, if any: the fields from there on were not read. */
        for (int i = 0; i < MORV_FIELD_COUNT; i++) {
            struct MorvField const *pf = &aMorvFields[i];
            if (info.iVersion < pf->iFromVersion || (info.iField != 0 && pf->iNumber >= info.iField))
                break;
            int iPrinted = PrintField(i);
            if (iPrinted != TS_OK) {
                iStatus = iPrinted;
                break;
            }
        }
        if (iStatus == TS_OK && info.llConsumed < info.llSize)
            printf("# %lld bytes after the last field, from byte %lld: fields of version %d not "
                   "shown\n",
                   info.llSize - info.llConsumed, info.llConsumed, info.iVersion);
    }
    if (iStatus != TS_OK && acWhy[0] != '\0')
        Complain("%s", acWhy);
    FreeInput(&in);
    return iStatus;
}

int Check(int argc, char **argv, struct Options const *po)
{
    if (!ArgumentCount("check", argc, 1, 1))
        return TS_USAGE;
    struct Input in;
    int iStatus = LoadInput(argv[0], &in);
    if (iStatus != TS_OK)
        return iStatus;

    if (in.uSize >= 4)
        printf("version: %lld\n", ValueAt(&in, 0, 4));
    else
        printf("version: none\n");
    printf("size: %lld bytes\n", in.snap.llSize);

    int abParses[2];
    static const int aiWidths[2] = {4, 8};
    for (int w = 0; w < 2; w++) {
        struct MorvReadInfo info;
        char acDetail[256];
        ScanSetup(in.pData, in.uSize, aiWidths[w], &info);
        abParses[w] = ImageIsWhole(&info) && in.snap.llSize <= MORV_MAX_FILE;
        int bMore = DescribeRead(&in, &info, aiWidths[w], acDetail, sizeof acDetail);
        if (in.snap.llSize > MORV_MAX_FILE)
            printf("%d-bit: no, longer than %d bytes, the most a morvrc may hold\n", aiWidths[w] * 8,
                   MORV_MAX_FILE);
        else if (!abParses[w])
            printf("%d-bit: no, %s\n", aiWidths[w] * 8, acDetail);
        else if (bMore)
            printf("%d-bit: yes, every field of version %d in bounds; %s, which version %d may "
                   "use\n",
                   aiWidths[w] * 8, iSetupVersion, acDetail, info.iVersion);
        else
            printf("%d-bit: yes, every field in bounds and no bytes left over\n",
                   aiWidths[w] * 8);
    }
    printf("verdict: %s\n", abParses[0] && abParses[1] ? "both"
                            : abParses[0]              ? "32-bit"
                            : abParses[1]              ? "64-bit"
                                                       : "neither");
    /* What every other verb reads FILE at without --bits. */
    printf("width: %d-bit\n", FindTimeBytes(&in.snap) * 8);
    FreeInput(&in);
    if (po->iBits != 0)
        return abParses[po->iBits == 8] ? TS_OK : TS_NO;
    return abParses[0] != abParses[1] ? TS_OK : TS_NO;
}

int Convert(int argc, char **argv, struct Options const *po)
{
    if (po->iTo == 0) {
        Complain("convert needs --to (see morvrc_tool convert --help)");
        return TS_USAGE;
    }
    if (!ArgumentCount("convert", argc, 2, 2))
        return TS_USAGE;
    struct Input in;
    struct MorvLoadReport report;
    struct MorvLayout layout;
    int iStatus = LoadWhole(argv[0], po->iFrom, &in, &report, &layout);
    FreeInput(&in);
    FreeLayout(&layout);
    if (iStatus != TS_OK)
        return iStatus;

    if (po->iTo == 4) {
        for (int i = 0; i < MORV_FIELD_COUNT; i++) {
            struct MorvField const *pf = &aMorvFields[i];
            long long ll = pf->eKind == MFK_TIME ? (long long)*(time_t *)pf->pSetting : 0;
            if (ll < INT32_MIN || ll > INT32_MAX) {
                Complain("%s holds %lld, which does not fit a 32-bit time field; %s is not "
                         "written",
                         pf->psName, ll, argv[1]);
                return TS_REFUSED;
            }
        }
    }
    /* The fields of a newer version cannot be converted without knowing
     * them: the output is a version-38 file. */
    NoteVersionChange(argv[0], &report, 0);
    struct MorvLayout to = {po->iTo, 0, NULL, 0};
    return SaveStore(argv[1], &to, NULL);
}

int Get(int argc, char **argv, struct Options const *po)
{
    if (!ArgumentCount("get", argc, 2, 2))
        return TS_USAGE;
    struct MorvItem it;
    char acWhy[512];
    if (!FindItem(argv[1], &it, acWhy, sizeof acWhy)) {
        Complain("%s", acWhy);
        return TS_USAGE;
    }
    struct Input in;
    struct MorvLoadReport report;
    struct MorvLayout layout;
    int iStatus = LoadWhole(argv[0], po->iBits, &in, &report, &layout);
    FreeInput(&in);
    FreeLayout(&layout);
    if (iStatus != TS_OK)
        return iStatus;
    struct MorvField const *pf = &aMorvFields[it.iField];
    if (report.iVersion < pf->iFromVersion) {
        Complain("%s is version %d, which does not hold %s (stored from version %d on)", argv[0],
                 report.iVersion, pf->psName, pf->iFromVersion);
        return TS_NO;
    }
    char *psValue = po->bJson ? FormatItemJson(it) : FormatItemValue(it);
    if (psValue == NULL) {
        Complain("out of memory");
        return TS_IO;
    }
    printf("%s\n", psValue);
    free(psValue);
    return TS_OK;
}

int Set(int argc, char **argv, struct Options const *po)
{
    if (argc < 3 || argc % 2 == 0) {
        Complain("set: %s (see morvrc_tool set --help)",
                 argc < 3 ? "needs FILE, NAME and VALUE" : "every NAME needs a VALUE");
        return TS_USAGE;
    }
    int iPairs = (argc - 1) / 2;
    struct MorvItem *aItems = (struct MorvItem *)malloc((size_t)iPairs * sizeof *aItems);
    if (aItems == NULL) {
        Complain("out of memory");
        return TS_IO;
    }
    char acWhy[512];
    int iStatus = TS_OK;
    for (int i = 0; i < iPairs && iStatus == TS_OK; i++) {
        if (!FindItem(argv[1 + 2 * i], &aItems[i], acWhy, sizeof acWhy)) {
            Complain("%s", acWhy);
            iStatus = TS_USAGE;
        }
    }
    struct Input in;
    memset(&in, 0, sizeof in);
    struct MorvLoadReport report;
    struct MorvLayout layout = {0, 0, NULL, 0};
    if (iStatus == TS_OK)
        iStatus = LoadWhole(argv[0], po->iBits, &in, &report, &layout);

    /* Everything is checked in the store; the file is written only when
     * every change is good. */
    for (int i = 0; i < iPairs && iStatus == TS_OK; i++) {
        if (!SetItemValue(aItems[i], argv[2 + 2 * i], report.iTimeBytes, acWhy, sizeof acWhy)) {
            Complain("%s", acWhy);
            iStatus = TS_USAGE;
        }
    }
    for (int i = 0; i < iPairs && iStatus == TS_OK; i++) {
        if (aMorvFields[aItems[i].iField].eKind == MFK_TEXT_PAIR &&
            !PairIsStorable(aItems[i].iField, acWhy, sizeof acWhy)) {
            char const *psPair = aMorvFields[aItems[i].iField].psName;
            Complain("%s; set both in one command: morvrc_tool set FILE %s[0] VALUE %s[1] VALUE; "
                     "%s is unchanged",
                     acWhy, psPair, psPair, argv[0]);
            iStatus = TS_REFUSED;
        }
    }
    free(aItems);
    if (iStatus == TS_OK) {
        NoteVersionChange(argv[0], &report, 1);
        /* Written only over the bytes that were read. */
        iStatus = SaveStore(argv[0], &layout, &in.snap);
    }
    FreeInput(&in);
    FreeLayout(&layout);
    return iStatus;
}

