/* morvrc_tool: inspects, checks, converts, edits and compares morvrc, the
 * binary configuration file of MoRvAnE, from the command line.  It reads and
 * writes through the editor's own settings code; nothing here knows the
 * layout.  This file holds the entry point, the options and the verbs on
 * one file. */
#include "tools/morvrc_tool.h"

#include "editor/main.h"
#include "settings/morv.h"
#include "tools/morvrc_home.h"
#include "tools/morvrc_lines.h"
#include "tools/morvrc_load_diff.h"
#include "tools/morvrc_value.h"

#include <errno.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The editor's path of morvrc; the settings code refers to it, the tool
 * always names its files itself. */
char *psMorvaneRC = NULL;

/* The editor's XChat layout (1 or 2), which the message catalogue reads to
 * find its files; describe sets it. */
int iXChatVer = 0;

/* The editor's run log, which the catalogue code writes its steps to; the
 * tool keeps none.  Returns 1, as for a line written, and writes nothing. */
int WriteLog(char const *msg)
{
    (void)msg;
    return 1;
}

static const int iNativeBytes = (int)sizeof(time_t);

/* ---- Messages ----------------------------------------------------------- */

void Complain(char const *psFormat, ...)
{
    va_list ap;
    va_start(ap, psFormat);
    fputs("morvrc_tool: ", stderr);
    vfprintf(stderr, psFormat, ap);
    fputc('\n', stderr);
    va_end(ap);
}

static const char acUsage[] =
    "Usage: morvrc_tool VERB [OPTIONS] ARGUMENTS...\n"
    "Inspect, check, convert, edit and compare morvrc, the MoRvAnE configuration\n"
    "file, and show the editor's list of settings, without a window.\n"
    "\n"
    "  dump     [--bits 32|64] [--json] FILE         every stored setting, one per line\n"
    "  check    [--bits 32|64] FILE                  which width does FILE parse at?\n"
    "  convert  [--from 32|64] --to 32|64 IN OUT     rewrite IN for the other width\n"
    "  get      [--bits 32|64] [--json] FILE NAME    print one setting\n"
    "  set      [--bits 32|64] FILE NAME VALUE...    change settings, NAME VALUE pairs\n"
    "  load     [--bits 32|64] FILE [INPUT]          apply dump's \"name = value\" lines\n"
    "  diff     [--bits 32|64] [--json] A B          the settings whose values differ\n"
    "  list     [HOME] [--changed] [--json]          the editor's list of settings\n"
    "  describe [HOME] ROW|NAME                      a row's help text\n"
    "  reset    [HOME] [--bits 32|64] FILE NAME...   put back catalogue defaults\n"
    "  reset    [HOME] [--bits 32|64] --all FILE     ... of every setting\n"
    "  help     [VERB]                               this text, or VERB's (also VERB --help)\n"
    "\n"
    "HOME is --home DIR (default: $HOME) and --xchat 1|2 (default: 2): the home\n"
    "and XChat version whose editor is meant.  Its files are setup.dat, morvrc and\n"
    "the message files in DIR/.xchat2/morvane/ (--xchat 1: DIR/.xchat/morvane/);\n"
    "list and describe take --bits for its morvrc too.\n"
    "\n"
    "The three time fields of morvrc are as wide as the time values of the program\n"
    "that wrote it: 4 bytes from the i386 programs, 8 bytes from the x86-64 ones,\n"
    "and nothing in the file says which.  Every verb finds a file's width as the\n"
    "editor does: the width at which it reads whole, or this build's width, %d bits,\n"
    "when it reads whole at both or at neither.  --bits names the width instead;\n"
    "for a file that load or reset creates, it is the width to write (default:\n"
    "this build's).  Options come before the other arguments; -- ends them.\n"
    "\n"
    "Exit status:\n"
    "  0  success; diff: the files hold the same settings\n"
    "  1  check: FILE does not parse exactly as asked; get: FILE's version does not\n"
    "     hold NAME; diff: the files differ\n"
    "  2  wrong command line: unknown verb, option or name, a missing or extra\n"
    "     argument, a value of the wrong kind or out of range; a bad line for load\n"
    "  3  a file cannot be read or written (missing, unreadable, disk full)\n"
    "  4  the input is damaged (the message gives the byte and the field), older\n"
    "     than version %d, or has bytes after its last field; a setup.dat row\n"
    "     with a type code other than 0, 1 or 2\n"
    "  5  a value cannot be stored as asked: a text pair left with one text, a\n"
    "     time value that does not fit 32 bits (in a 32-bit file or this build)\n"
    "  6  FILE was changed by another program between its reading and its\n"
    "     writing; nothing was written\n";

static const char acHelpDump[] =
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

static const char acHelpCheck[] =
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

static const char acHelpConvert[] =
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
    "status 5) and OUT is not touched; this 32-bit build cannot read such a value\n"
    "at all.\n";

static const char acHelpGet[] =
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

static const char acHelpSet[] =
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

/* ---- Options ------------------------------------------------------------ */

/* Reads the width given for option psOption.  Returns 4 or 8, or 0 after a
 * complaint. */
static int ParseWidth(char const *psOption, char const *psValue)
{
    if (psValue != NULL && strcmp(psValue, "32") == 0)
        return 4;
    if (psValue != NULL && strcmp(psValue, "64") == 0)
        return 8;
    if (psValue == NULL)
        Complain("%s needs a width, 32 or 64", psOption);
    else
        Complain("%s takes 32 or 64, not \"%.40s\"", psOption, psValue);
    return 0;
}

/* Reads the XChat version given for --xchat.  Returns 1 or 2, or 0 after a
 * complaint. */
static int ParseXChat(char const *psOption, char const *psValue)
{
    if (psValue != NULL && (strcmp(psValue, "1") == 0 || strcmp(psValue, "2") == 0))
        return psValue[0] - '0';
    if (psValue == NULL)
        Complain("%s needs a version, 1 or 2", psOption);
    else
        Complain("%s takes 1 or 2, not \"%.40s\"", psOption, psValue);
    return 0;
}

enum OptionKind {
    OK_WIDTH,   /* 32 or 64, kept as 4 or 8 bytes */
    OK_XCHAT,   /* 1 or 2 */
    OK_PATH,    /* any text */
    OK_FLAG     /* no value */
};

/* Every option but --help: its letter for a verb's list, its name, kind and
 * where it goes. */
static const struct {
    char cLetter;
    char const *psName;
    enum OptionKind eKind;
    int Options::*piValue;            /* all but paths */
    char const *Options::*ppsValue;   /* paths */
} aOptionTable[] = {
    {'b', "--bits", OK_WIDTH, &Options::iBits, NULL},
    {'f', "--from", OK_WIDTH, &Options::iFrom, NULL},
    {'t', "--to", OK_WIDTH, &Options::iTo, NULL},
    {'H', "--home", OK_PATH, NULL, &Options::psHome},
    {'x', "--xchat", OK_XCHAT, &Options::iXChat, NULL},
    {'c', "--changed", OK_FLAG, &Options::bChanged, NULL},
    {'a', "--all", OK_FLAG, &Options::bAll, NULL},
    {'j', "--json", OK_FLAG, &Options::bJson, NULL},
};
#define OPTION_COUNT (int)(sizeof aOptionTable / sizeof aOptionTable[0])

/* Takes the options at the front of the verb's arguments.  psAllowed holds
 * the letters (aOptionTable) of the verb's options; --help is always
 * allowed.  A value follows its option as the next argument or after "=".
 * Options end at the first argument that does not start with "-" (or is
 * just "-"), and after "--".
 * Returns the number of arguments taken, or -1 after a complaint. */
static int TakeOptions(int argc, char **argv, char const *psVerb, char const *psAllowed,
                       struct Options *po)
{
    memset(po, 0, sizeof *po);
    int i = 0;
    while (i < argc && argv[i][0] == '-' && argv[i][1] != '\0') {
        char const *psArg = argv[i++];
        if (strcmp(psArg, "--") == 0)
            break;
        if (strcmp(psArg, "--help") == 0 || strcmp(psArg, "-h") == 0) {
            po->bHelp = 1;
            continue;
        }
        size_t uName = strcspn(psArg, "=");
        int iFound = -1;
        for (int k = 0; k < OPTION_COUNT; k++)
            if (strlen(aOptionTable[k].psName) == uName &&
                strncmp(psArg, aOptionTable[k].psName, uName) == 0 &&
                strchr(psAllowed, aOptionTable[k].cLetter) != NULL)
                iFound = k;
        if (iFound < 0) {
            Complain("%s does not take the option %.40s (see morvrc_tool %s --help)", psVerb, psArg,
                     psVerb);
            return -1;
        }
        char const *psName = aOptionTable[iFound].psName;
        if (aOptionTable[iFound].eKind == OK_FLAG) {
            if (psArg[uName] == '=') {
                Complain("%s takes no value", psName);
                return -1;
            }
            po->*aOptionTable[iFound].piValue = 1;
            continue;
        }
        char const *psValue;
        if (psArg[uName] == '=')
            psValue = psArg + uName + 1;
        else
            psValue = i < argc ? argv[i++] : NULL;
        int iValue = 1;
        switch (aOptionTable[iFound].eKind) {
        case OK_WIDTH:
            iValue = ParseWidth(psName, psValue);
            break;
        case OK_XCHAT:
            iValue = ParseXChat(psName, psValue);
            break;
        default:
            if (psValue == NULL || psValue[0] == '\0') {
                Complain("%s needs a directory", psName);
                return -1;
            }
            po->*aOptionTable[iFound].ppsValue = psValue;
            continue;
        }
        if (iValue == 0)
            return -1;
        po->*aOptionTable[iFound].piValue = iValue;
    }
    return i;
}

int ArgumentCount(char const *psVerb, int iHave, int iMin, int iMax)
{
    if (iHave >= iMin && iHave <= iMax)
        return 1;
    Complain("%s: %s arguments (see morvrc_tool %s --help)", psVerb,
             iHave < iMin ? "missing" : "too many", psVerb);
    return 0;
}

/* ---- Reading a file ----------------------------------------------------- */

/* Reads FILE into *pin: at most MORV_MAX_FILE bytes are kept, the rest only
 * counted.  Returns TS_OK, or TS_IO after a complaint, with nothing
 * allocated. */
static int LoadInput(char const *psPath, struct Input *pin)
{
    pin->psPath = psPath;
    if (!SnapshotFile(psPath, 0, &pin->snap)) {
        Complain("cannot read %s: %s", psPath, strerror(errno));
        pin->pData = NULL;
        pin->uSize = 0;
        return TS_IO;
    }
    pin->pData = pin->snap.pBytes;
    pin->uSize = pin->snap.uBytes;
    return TS_OK;
}

void FreeInput(struct Input *pin)
{
    FreeSnapshot(&pin->snap);
    pin->pData = NULL;
    pin->uSize = 0;
}

/* The signed little-endian value of iBytes bytes at uAt; the caller has
 * checked that they are there. */
static long long ValueAt(struct Input const *pin, size_t uAt, int iBytes)
{
    uint64_t u = 0;
    for (int i = iBytes - 1; i >= 0; i--)
        u = (u << 8) | pin->pData[uAt + (size_t)i];
    if (iBytes == 4)
        return (int32_t)(uint32_t)u;
    return (long long)(int64_t)u;
}

/* The field numbered iNumber, or null. */
static struct MorvField const *FieldNumbered(int iNumber)
{
    for (int i = 0; i < MORV_FIELD_COUNT; i++)
        if (aMorvFields[i].iNumber == iNumber)
            return &aMorvFields[i];
    return NULL;
}

/* Says, into psOut, why reading pin at iTimeBytes stopped where *pi says, or
 * what follows the last field when it did not stop: "field 21
 * (psFlagChanJoinBeep) at byte 92: text length 100 runs 5 bytes past the end
 * of the file".  Returns 1 when there is something to say, 0 for a whole
 * file with nothing after its last field. */
static int DescribeRead(struct Input const *pin, struct MorvReadInfo const *pi, int iTimeBytes,
                        char *psOut, size_t uOut)
{
    long long llSize = (long long)pin->uSize;
    if (pi->eResult == MORV_READ_TOO_OLD) {
        if (pin->uSize < 4)
            snprintf(psOut, uOut, "%lld bytes are too few for the version word", llSize);
        else
            snprintf(psOut, uOut, "version %d is older than %d, the oldest version read",
                     pi->iVersion, iMinimunSetupVersion);
        return 1;
    }
    if (pi->eResult == MORV_READ_OK) {
        if (pi->llConsumed == llSize)
            return 0;
        snprintf(psOut, uOut, "%lld bytes after the last field, from byte %lld",
                 llSize - pi->llConsumed, pi->llConsumed);
        return 1;
    }

    struct MorvField const *pf = FieldNumbered(pi->iField);
    int n = snprintf(psOut, uOut, "field %d (%s) at byte %lld: ", pi->iField,
                     pf != NULL ? pf->psName : "?", pi->llOffset);
    if (n < 0 || (size_t)n >= uOut)
        return 1;
    psOut += n;
    uOut -= (size_t)n;
    size_t uAt = (size_t)pi->llOffset;
    int bWord = pi->llOffset + 4 <= llSize;

    switch (pi->eResult) {
    case MORV_READ_TRUNCATED:
        if (pf != NULL && (pf->eKind == MFK_TEXT || pf->eKind == MFK_TEXT_PAIR) && bWord) {
            /* The length word is whole, so its text runs past the end. */
            long long llLen = ValueAt(pin, uAt, 4);
            snprintf(psOut, uOut, "text length %lld runs %lld bytes past the end of the file", llLen,
                     llLen - (llSize - pi->llOffset - 4));
        } else if (pf != NULL && (pf->eKind == MFK_TEXT || pf->eKind == MFK_TEXT_PAIR)) {
            snprintf(psOut, uOut, "the file ends at byte %lld, inside the text's length word",
                     llSize);
        } else {
            int iBytes = pf == NULL ? 4
                         : pf->eKind == MFK_TIME ? iTimeBytes
                         : pf->eKind == MFK_INT32_ARRAY ? 19 * 4
                                                        : 4;
            snprintf(psOut, uOut, "the file ends at byte %lld, inside this %d-byte %s", llSize,
                     iBytes,
                     pf != NULL && pf->eKind == MFK_TIME          ? "time value"
                     : pf != NULL && pf->eKind == MFK_INT32_ARRAY ? "array of 19 integers"
                                                                  : "integer");
        }
        break;
    case MORV_READ_BAD_LENGTH:
        snprintf(psOut, uOut, "negative length %lld for text [1] of the pair",
                 bWord ? ValueAt(pin, uAt, 4) : 0LL);
        break;
    case MORV_READ_TIME_RANGE:
        snprintf(psOut, uOut,
                 "time value %lld does not fit the 32-bit time values of this build "
                 "(the 64-bit morvrc_tool can read it)",
                 pi->llOffset + iTimeBytes <= llSize ? ValueAt(pin, uAt, iTimeBytes) : 0LL);
        break;
    case MORV_READ_NO_MEMORY:
        snprintf(psOut, uOut, "no memory for the text");
        break;
    default:
        snprintf(psOut, uOut, "unreadable");
        break;
    }
    return 1;
}

/* Empties the settings store and reads pin into it at iTimeBytes, or at the
 * width found for it when iTimeBytes is 0, so that the store holds exactly
 * what the file holds; *pr tells what was found and *pLayout (empty or
 * zeroed before) how to write the file back.  Returns TS_OK for a whole
 * file (ImageIsWhole); otherwise TS_DAMAGED (TS_REFUSED for a time value
 * this build cannot hold, TS_IO when memory runs out) with the reason in
 * psWhy. */
static int LoadStore(struct Input const *pin, int iTimeBytes, struct MorvLoadReport *pr,
                     struct MorvLayout *pLayout, char *psWhy, size_t uWhy)
{
    ResetSettings();
    DecodeFile(&pin->snap, iTimeBytes, pr, pLayout);
    struct MorvReadInfo const *pi = &pr->info;
    iTimeBytes = pr->iTimeBytes;
    if (pr->eOutcome == MORV_WHOLE && ImageIsWhole(pi))
        return TS_OK;
    if (pi->eResult == MORV_READ_OK && pin->snap.llSize > MORV_MAX_FILE) {
        snprintf(psWhy, uWhy, "%s is %lld bytes long: no morvrc is longer than %d bytes", pin->psPath,
                 pin->snap.llSize, MORV_MAX_FILE);
        return TS_DAMAGED;
    }
    char acDetail[256];
    if (pi->eResult == MORV_READ_TIME_RANGE) {
        /* A file of the other width often shows a huge time value first;
         * the damage that proves it is the more useful report. */
        struct MorvReadInfo scan;
        ScanSetup(pin->pData, pin->uSize, iTimeBytes, &scan);
        if (!ImageIsWhole(&scan)) {
            DescribeRead(pin, &scan, iTimeBytes, acDetail, sizeof acDetail);
            snprintf(psWhy, uWhy,
                     "%s does not parse as a %d-bit file: %s (morvrc_tool check tells which "
                     "width fits)",
                     pin->psPath, iTimeBytes * 8, acDetail);
            return TS_DAMAGED;
        }
    }
    DescribeRead(pin, pi, iTimeBytes, acDetail, sizeof acDetail);
    switch (pi->eResult) {
    case MORV_READ_TOO_OLD:
        snprintf(psWhy, uWhy, "%s cannot be read: %s", pin->psPath, acDetail);
        return TS_DAMAGED;
    case MORV_READ_TIME_RANGE:
        snprintf(psWhy, uWhy, "%s cannot be read by this 32-bit build: %s", pin->psPath, acDetail);
        return TS_REFUSED;
    case MORV_READ_NO_MEMORY:
        snprintf(psWhy, uWhy, "cannot read %s: %s", pin->psPath, acDetail);
        return TS_IO;
    default:
        snprintf(psWhy, uWhy,
                 "%s does not parse as a %d-bit file: %s (morvrc_tool check tells which width "
                 "fits)",
                 pin->psPath, iTimeBytes * 8, acDetail);
        return TS_DAMAGED;
    }
}

int LoadWhole(char const *psPath, int iTimeBytes, struct Input *pin, struct MorvLoadReport *pr,
              struct MorvLayout *pLayout)
{
    memset(pLayout, 0, sizeof *pLayout);
    int iStatus = LoadInput(psPath, pin);
    if (iStatus != TS_OK)
        return iStatus;
    char acWhy[512];
    iStatus = LoadStore(pin, iTimeBytes, pr, pLayout, acWhy, sizeof acWhy);
    if (iStatus != TS_OK)
        Complain("%s", acWhy);
    return iStatus;
}

int LoadOrStart(char const *psPath, int iTimeBytes, struct Input *pin, struct MorvLoadReport *pr,
                struct MorvLayout *pLayout, int *pbNew)
{
    memset(pLayout, 0, sizeof *pLayout);
    memset(pin, 0, sizeof *pin);
    pin->psPath = psPath;
    *pbNew = 0;
    if (SnapshotFile(psPath, 0, &pin->snap)) {
        pin->pData = pin->snap.pBytes;
        pin->uSize = pin->snap.uBytes;
        char acWhy[512];
        int iStatus = LoadStore(pin, iTimeBytes, pr, pLayout, acWhy, sizeof acWhy);
        if (iStatus != TS_OK)
            Complain("%s", acWhy);
        return iStatus;
    }
    if (errno != ENOENT) {
        Complain("cannot read %s: %s", psPath, strerror(errno));
        return TS_IO;
    }
    /* The snapshot stays absent: the file must still be missing when the
     * new one is renamed into place. */
    *pbNew = 1;
    ResetSettings();
    InstallTextDefaults(MORV_UNREADABLE);
    memset(pr, 0, sizeof *pr);
    pr->eOutcome = MORV_UNREADABLE;
    pr->iTimeBytes = iTimeBytes != 0 ? iTimeBytes : iNativeBytes;
    pr->iVersion = iSetupVersion;
    pr->info.iVersion = iSetupVersion;
    pLayout->iTimeBytes = pr->iTimeBytes;
    return TS_OK;
}

void NoteVersionChange(char const *psPath, struct MorvLoadReport const *pr, int bKeepsTail)
{
    struct MorvReadInfo const *pi = &pr->info;
    if (pi->iVersion < iSetupVersion)
        fprintf(stderr,
                "morvrc_tool: note: %s is version %d; the fields it does not hold are written "
                "with their initial values\n",
                psPath, pi->iVersion);
    else if (pi->iVersion > iSetupVersion && !bKeepsTail)
        fprintf(stderr,
                "morvrc_tool: note: %s is version %d; it is written as version %d, without the "
                "%lld bytes after field %d\n",
                psPath, pi->iVersion, iSetupVersion, pi->llSize - pi->llConsumed,
                aMorvFields[MORV_FIELD_COUNT - 1].iNumber);
}

int SaveStore(char const *psPath, struct MorvLayout const *pLayout,
              struct MorvSnapshot const *pExpected)
{
    if (ReplaceSetupFile(psPath, pLayout, pExpected, NULL))
        return TS_OK;
    int iErr = errno;
    if (iErr == EOVERFLOW || iErr == EFBIG) {
        Complain("cannot write %s: %s; nothing was written", psPath,
                 iErr == EFBIG ? "the file would be longer than the most a morvrc may hold"
                               : "a value does not fit the file");
        return TS_REFUSED;
    }
    if (iErr == ESTALE && pExpected != NULL) {
        Complain("%s was changed by another program while morvrc_tool was working; nothing was "
                 "written (run the command again)",
                 psPath);
        return TS_CHANGED;
    }
    Complain("cannot write %s: %s; the file is unchanged", psPath, strerror(iErr));
    return TS_IO;
}

/* ---- Verbs -------------------------------------------------------------- */

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

static int Dump(int argc, char **argv, struct Options const *po)
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

static int Check(int argc, char **argv, struct Options const *po)
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

static int Convert(int argc, char **argv, struct Options const *po)
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

static int Get(int argc, char **argv, struct Options const *po)
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

static int Set(int argc, char **argv, struct Options const *po)
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

/* ---- Entry point -------------------------------------------------------- */

static const struct {
    char const *psName;
    char const *psOptions;   /* option letters, as TakeOptions takes them */
    char const *psHelp;      /* printf format; %d is this build's width in bits */
    int (*pfRun)(int argc, char **argv, struct Options const *po);
} aVerbs[] = {
    {"dump", "bj", acHelpDump, Dump},
    {"check", "b", acHelpCheck, Check},
    {"convert", "ft", acHelpConvert, Convert},
    {"get", "bj", acHelpGet, Get},
    {"set", "b", acHelpSet, Set},
    {"load", "b", acHelpLoad, Load},
    {"diff", "bj", acHelpDiff, Diff},
    {"list", "Hxbcj", acHelpList, List},
    {"describe", "Hxb", acHelpDescribe, Describe},
    {"reset", "Hxba", acHelpReset, Reset},
};
#define VERB_COUNT (int)(sizeof aVerbs / sizeof aVerbs[0])

/* Index of the verb named psName, or -1. */
static int FindVerb(char const *psName)
{
    for (int v = 0; v < VERB_COUNT; v++)
        if (strcmp(aVerbs[v].psName, psName) == 0)
            return v;
    return -1;
}

/* Prints the help of verb v, or the tool's with v = -1, on standard output. */
static void PrintHelp(int v)
{
    if (v < 0)
        printf(acUsage, iNativeBytes * 8, iMinimunSetupVersion);
    else
        printf(aVerbs[v].psHelp, iNativeBytes * 8);
}

/* Runs the verb that argv names.  Returns the exit status. */
static int Run(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "Usage: morvrc_tool dump|check|convert|get|set|load|diff|list|describe|reset "
                        "... (morvrc_tool --help)\n");
        return TS_USAGE;
    }
    char const *psVerb = argv[1];
    if (strcmp(psVerb, "--help") == 0 || strcmp(psVerb, "-h") == 0 || strcmp(psVerb, "help") == 0) {
        int v = -1;
        if (strcmp(psVerb, "help") == 0 && argc > 2 && (v = FindVerb(argv[2])) < 0) {
            Complain("no verb is named \"%.40s\" (morvrc_tool --help lists them)", argv[2]);
            return TS_USAGE;
        }
        PrintHelp(v);
        return TS_OK;
    }
    int v = FindVerb(psVerb);
    if (v < 0) {
        Complain("no verb is named \"%.40s\" (morvrc_tool --help lists them)", psVerb);
        return TS_USAGE;
    }
    struct Options opts;
    int iTaken = TakeOptions(argc - 2, argv + 2, psVerb, aVerbs[v].psOptions, &opts);
    if (iTaken < 0)
        return TS_USAGE;
    if (opts.bHelp) {
        PrintHelp(v);
        return TS_OK;
    }
    return aVerbs[v].pfRun(argc - 2 - iTaken, argv + 2 + iTaken, &opts);
}

int main(int argc, char **argv)
{
    int iStatus = Run(argc, argv);
    ResetSettings();
    /* Output that never arrived is a failure, not a success. */
    if (fflush(stdout) != 0 || ferror(stdout)) {
        Complain("cannot write standard output: %s", strerror(errno));
        if (iStatus == TS_OK)
            iStatus = TS_IO;
    }
    return iStatus;
}
