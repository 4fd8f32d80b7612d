/* morvrc_tool: inspects, checks, converts, edits, compares and follows
 * morvrc, the binary configuration file of MoRvAnE, from the command line.
 * It reads and writes through the editor's own settings code; nothing here
 * knows the layout.  This file holds the entry point, the options and the table of
 * verbs. */
#include "cli/files.h"
#include "cli/home.h"
#include "cli/tool.h"
#include "cli/verbs.h"
#include "settings/morvrc/morvrc.h"
#include "settings/store/catalogue.h"
#include "settings/store/morv.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static const int iNativeBytes = (int)sizeof(time_t);

/* The tool's help around the verbs' usage lines, which come from aVerbs.
 * In every help text "{bits}" stands for this build's width in bits,
 * "{version}" for the format version written and "{oldest}" for the oldest
 * one read; the manual page, morvrc_tool(1), says the rest. */
static const char acIntro[] =
    "Usage: morvrc_tool VERB [OPTIONS] ARGUMENTS...\n"
    "Inspect, check, convert, edit and compare morvrc, the MoRvAnE configuration\n"
    "file, and show the editor's list of settings, without a window.\n";

static const char acOutro[] =
    "HOME is --home DIR (default: $HOME) and --xchat 1|2 (default: 2): the home\n"
    "whose setup.dat gives the row names (MaxCloneCount), the defaults and the\n"
    "ranges: 0 or 1 (on/off) for a switch, 0 to 4096 for a counter, checked for\n"
    "values that change (--force takes any).  Without it they are unknown (a note\n"
    "says why).\n"
    "\n"
    "Every verb finds a file's width as the editor does: the width at which it\n"
    "reads whole; this build's width, {bits} bits, when it reads whole at both; the\n"
    "width that reads further when it reads whole at neither.  --bits names it.\n"
    "Options may come anywhere, before VERB too; -- ends them.  FILE left out is\n"
    "the home's morvrc; a FILE or INPUT that is read may be -, standard input.\n"
    "The verbs that write lock FILE itself (flock; its directory while there is\n"
    "no file) and wait for another program's save 5 seconds, or --wait SECONDS:\n"
    "0 to 3600, with fractions, in decimal or C hexadecimal (0x10 is 16).  They\n"
    "write over a FILE that is a text of settings (dump's, or JSON) only with\n"
    "--force.\n"
    "\n"
    "Exit status:\n"
    "  0  success; diff: the files hold the same settings\n"
    "  1  check: not as asked; get: FILE's version lacks NAME; diff: they differ;\n"
    "     search: nothing found\n"
    "  2  wrong command line, name, value or load line; edit given up; diff: any\n"
    "     trouble\n"
    "  3  a file cannot be read or written (missing, unreadable, standard output)\n"
    "  4  damaged input or older than version {oldest} (bytes after the last field\n"
    "     are a note); FILE a text of settings, not a morvrc; a bad setup.dat row\n"
    "  5  a value cannot be stored as asked (a lone pair text, a time beyond 32 bits)\n"
    "  6  FILE changed by another program meanwhile, or locked longer than --wait\n"
    "\n"
    "morvrc_tool help VERB (or VERB --help) tells more; man morvrc_tool tells all.\n"
    "For example:\n"
    "  morvrc_tool set morvrc iMaxCloneCount 12\n"
    "  morvrc_tool dump old/morvrc | morvrc_tool load morvrc\n";

/* ---- Options ------------------------------------------------------------ */

/* The options that take one of two words, what each word is kept as,
 * and what the option needs, for a complaint. */
static const struct {
    char const *psWhat;
    char const *apsWords[2];
    int aiValues[2];
} aChoices[] = {
    {"a width", {"32", "64"}, {4, 8}}, /* OK_WIDTH: bytes of a time field */
    {"a version", {"1", "2"}, {1, 2}}, /* OK_XCHAT */
};

/* Reads the word given for option psOption, of choice c (an index into
 * aChoices).  Returns what it is kept as, or 0 after a complaint. */
static int ParseChoice(char const *psOption, char const *psValue, int c)
{
    for (int w = 0; w < 2; w++)
        if (psValue != NULL && strcmp(psValue, aChoices[c].apsWords[w]) == 0)
            return aChoices[c].aiValues[w];
    if (psValue == NULL)
        Complain("%s needs %s, %s or %s", psOption, aChoices[c].psWhat, aChoices[c].apsWords[0],
                 aChoices[c].apsWords[1]);
    else
        Complain("%s takes %s or %s, not \"%.40s\"", psOption, aChoices[c].apsWords[0],
                 aChoices[c].apsWords[1], psValue);
    return 0;
}

/* Reads the seconds given for --wait: a number from 0 to 3600, fractions
 * allowed.  Returns the milliseconds, or -1 after a complaint. */
static int ParseSeconds(char const *psOption, char const *psValue)
{
    char *psEnd = NULL;
    double d = psValue != NULL && *psValue != '\0' ? strtod(psValue, &psEnd) : -1.0;
    if (psEnd != NULL && *psEnd == '\0' && d >= 0.0 && d <= 3600.0)
        return (int)(d * 1000.0 + 0.5);
    if (psValue == NULL)
        Complain("%s needs a number of seconds", psOption);
    else
        Complain("%s takes a number of seconds from 0 to 3600, not \"%.40s\"", psOption, psValue);
    return -1;
}

enum OptionKind {
    OK_SECONDS, /* a number of seconds, kept as milliseconds */
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
    {'w', "--wait", OK_SECONDS, &Options::iWaitMs, NULL},
    {'r', "--raw", OK_FLAG, &Options::bRaw, NULL},
    {'z', "-z", OK_FLAG, &Options::bZero, NULL},
    {'F', "--force", OK_FLAG, &Options::bForce, NULL},
    {'d', "--default", OK_FLAG, &Options::bDefault, NULL},
};
#define OPTION_COUNT (int)(sizeof aOptionTable / sizeof aOptionTable[0])

/* Whether psArg is an option: it starts with "-", and is neither "-" alone
 * (standard input) nor a negative number (a value for set or load). */
static int IsOption(char const *psArg)
{
    return psArg[0] == '-' && psArg[1] != '\0' && !(psArg[1] >= '0' && psArg[1] <= '9');
}

/* Takes the options from anywhere among the verb's arguments, as git and
 * GNU tools do, and moves the other arguments, in their order, to the front
 * of argv.  psAllowed holds the letters (aOptionTable) of the verb's
 * options; --help is always allowed.  A value follows its option as the
 * next argument or after "=".  After "--" every argument is an operand.
 * Returns the number of operands, or -1 after a complaint. */
static int TakeOptions(int argc, char **argv, char const *psVerb, char const *psAllowed,
                       struct Options *po)
{
    memset(po, 0, sizeof *po);
    po->iWaitMs = -1;
    int i = 0, iOperands = 0;
    while (i < argc) {
        char const *psArg = argv[i++];
        if (strcmp(psArg, "--") == 0) {
            while (i < argc)
                argv[iOperands++] = argv[i++];
            break;
        }
        if (!IsOption(psArg)) {
            /* i has passed it, so the front never overtakes the reading. */
            argv[iOperands++] = (char *)psArg;
            continue;
        }
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
            Complain("%s does not take the option %.40s (see morvrc_tool %s --help; -- ends the "
                     "options)",
                     psVerb, psArg, psVerb);
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
        case OK_SECONDS:
            if ((iValue = ParseSeconds(psName, psValue)) < 0)
                return -1;
            po->*aOptionTable[iFound].piValue = iValue;
            continue;
        case OK_WIDTH:
        case OK_XCHAT:
            iValue = ParseChoice(psName, psValue, aOptionTable[iFound].eKind == OK_WIDTH ? 0 : 1);
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
    return iOperands;
}

/* ---- Entry point -------------------------------------------------------- */

static int Help(int argc, char **argv, struct Options const *po);

/* The verbs: the only list of them.  The usage lines, help and the shell
 * completion (--complete) come from here. */
static const struct {
    char const *psName;
    char const *psOptions;   /* option letters, as TakeOptions takes them */
    char const *psSynopsis;  /* the arguments; '\n' between two usages */
    char const *psHelp;      /* what it does, its options and exit statuses */
    int (*pfRun)(int argc, char **argv, struct Options const *po);
} aVerbs[] = {
    {"dump", "bjHx", "[HOME] [--bits 32|64] [--json] [FILE]",
     "Prints the settings FILE stores, in file order, one \"name = value\" line\n"
     "each after \"# morvrc version N\"; texts are quoted, UTF-8 as it is, control\n"
     "bytes and other bytes as C escapes; absent is a text the file does not\n"
     "hold.  load and edit take these lines back.\n"
     "\n"
     "--bits 32|64   the width of FILE's time fields (default: the one it reads\n"
     "               whole at; at both, {bits}; at neither, the one that reads further)\n"
     "--json         one JSON document, which load --json takes back\n"
     "--home DIR, --xchat 1|2   the home whose morvrc is FILE left out\n"
     "\n"
     "Exit status 4 when FILE is damaged: the settings before the damage are\n"
     "printed and the damage is named by its byte and field.\n",
     Dump},
    {"check", "bjHx", "[HOME] [--bits 32|64] [--json] [FILE]",
     "Reports FILE's version and size, whether it parses exactly at 32 and at 64\n"
     "bits, a verdict (32-bit, 64-bit, both or neither) and the width the other\n"
     "verbs read it at: this build's, {bits} bits, for both; for neither, the width\n"
     "that reads further.\n"
     "\n"
     "--bits 32|64   the width FILE is meant to have\n"
     "--json         one JSON object\n"
     "--home DIR, --xchat 1|2   the home whose morvrc is FILE left out\n"
     "\n"
     "Exit status 0 when FILE parses exactly at --bits or, without it, at exactly\n"
     "one width; 1 otherwise.  A damaged FILE is told with the last whole version\n"
     "its history keeps and the restore that writes it back.\n",
     Check},
    {"convert", "ftwF", "[--from 32|64] --to 32|64 [--wait SECONDS] [--force] IN OUT",
     "Writes OUT (which may be IN) as a version-{version} file with --to-bit time\n"
     "fields and IN's values; fields that an older IN lacks get the initial values\n"
     "the editor starts from.  IN must parse exactly at --from (default: found).\n"
     "\n"
     "--from 32|64, --to 32|64   the widths of IN and OUT\n"
     "--wait SECONDS   how long to wait for another program's save of OUT\n"
     "--force          write over an OUT that is a text of settings\n"
     "\n"
     "Exit status 5 when a time value does not fit 32 bits: OUT is not touched.\n",
     Convert},
    {"get", "bjrzdHx", "[HOME] [--bits 32|64] [--json|--raw] [-z] [--default] [FILE]\n"
                       "    NAME...",
     "Prints values as dump shows them, one a line, in the order named.  NAME is a\n"
     "setting (iMaxCloneCount), a text of a pair (psFlagChanJoinBeep[0]) or both\n"
     "by the pair's name, an event (CHNICK, iFlagParserMode[CHNICK]) or a row's\n"
     "name (MaxCloneCount); a wrong one is answered with the nearest.  Of two or\n"
     "more arguments the first is FILE unless it names a setting and is no file.\n"
     "\n"
     "--bits 32|64   the width of FILE's time fields\n"
     "--json         one JSON document: the value (a pair's: an array of two); of\n"
     "               several NAMEs, an object of their values by name\n"
     "--raw          a text's bytes alone, unquoted\n"
     "-z             end with a zero byte instead of a line feed\n"
     "--default      the catalogue's default, as reset puts it back, not FILE's\n"
     "--home DIR, --xchat 1|2   the home whose setup.dat gives names and defaults\n"
     "\n"
     "Exit status 1 when FILE's version is older than a setting.\n",
     Get},
    {"set", "bHxFw", "[HOME] [--bits 32|64] [--force] [--wait SECONDS] [FILE] NAME VALUE\n"
                     "    [NAME VALUE]...",
     "Changes settings of FILE and writes it back at its width, as the editor\n"
     "saves.  NAME is as for get, in any case; VALUE a decimal number (on/off,\n"
     "true/false or yes/no for a switch), or for a text absent, a \"quoted\" text\n"
     "with C escapes, or the text as typed; give both texts of a pair together.\n"
     "A NAME where FILE would be, and no such file, is refused.  A missing FILE is created from the initial values the\n"
     "editor starts from; an older FILE becomes version {version}.\n"
     "\n"
     "--bits 32|64   the width of FILE's time fields (of a new FILE: {bits})\n"
     "--force        take changes outside the ranges of the editor's rows\n"
     "--home DIR, --xchat 1|2   the home whose setup.dat gives names and ranges\n"
     "--wait SECONDS how long to wait for another program's save\n"
     "\n"
     "Exit status 2 for a bad name or value, 4 for a damaged FILE or one that is a\n"
     "text of settings, 5 for a pair left with one text, 6 when FILE changed\n"
     "meanwhile; nothing is written.\n",
     Set},
    {"load", "bjHxFw", "[HOME] [--bits 32|64] [--json] [--force] [--wait SECONDS]\n"
                       "    [FILE [INPUT]]",
     "Applies the \"name = value\" lines of INPUT (default: standard input), as\n"
     "dump prints them, to FILE and writes it as set does; settings it does not\n"
     "name keep their values.  An INPUT that sets every setting also writes a\n"
     "damaged FILE afresh.\n"
     "\n"
     "--json         INPUT is a document as dump --json writes it\n"
     "--force        as for set; and an INPUT that sets every setting writes over\n"
     "               a FILE that is a text of settings\n"
     "--bits, --home, --xchat, --wait   as for set\n"
     "\n"
     "Exit status 2 for a bad line, named by its number; otherwise as set.\n"
     "For example:\n"
     "  morvrc_tool dump --bits 32 morvrc32 | morvrc_tool load --bits 64 morvrc\n",
     Load},
    {"edit", "bHxFw", "[HOME] [--bits 32|64] [--force] [--wait SECONDS] [FILE]",
     "Opens the dump of FILE (default: the home's morvrc) in $VISUAL, $EDITOR or\n"
     "vi, checks the text as load does, asks again after a bad line (numbered as\n"
     "in the text you saved), and writes FILE as set does, only if no other\n"
     "program changed it meanwhile.\n"
     "\n"
     "--bits, --force, --home, --xchat, --wait   as for set\n"
     "\n"
     "Exit status 2 when given up (after a bad line your text stays in a file\n"
     "whose name is printed), 6 when FILE changed meanwhile: your changes alone\n"
     "stay in a file whose name is printed, for load; a fatal signal leaves the\n"
     "text where it says.\n",
     Edit},
    {"diff", "bjHx", "[--bits 32|64] [--json] A B\n"
                     "[HOME] [--bits 32|64] [--json] A|@N [B|@M] [FILE]",
     "Prints \"name: a -> b\" for each setting whose values differ, in file order;\n"
     "each file's width is found on its own.  @N is version N of FILE kept by the\n"
     "history (FILE: the one operand that is no version, or the home's morvrc):\n"
     "diff @1 compares the newest version with FILE as it is, diff @2 @1 FILE two\n"
     "versions (a file named @1 is ./@1).\n"
     "\n"
     "--bits 32|64   the width of both files' time fields\n"
     "--json         one JSON document\n"
     "--home DIR, --xchat 1|2   the home whose morvrc @N belongs to\n"
     "\n"
     "Exit status 0 when none differ, 1 when some do, 2 on any trouble, as for\n"
     "diff(1).\n",
     Diff},
    {"list", "Hxbcjz", "[HOME] [--bits 32|64] [--changed] [--json] [-z] [FILE]",
     "Prints the editor's list for the home: each row's number, command, variable\n"
     "name, default and current value, from the home's morvrc or FILE; without a\n"
     "morvrc in the home, the values the editor starts from.\n"
     "\n"
     "--home DIR, --xchat 1|2   the home\n"
     "--bits 32|64   the width of morvrc's time fields\n"
     "--changed      only the rows whose value differs from the default\n"
     "--json         one JSON array, an object per row\n"
     "-z             end each row with a zero byte\n"
     "\n"
     "Exit status 3 when setup.dat or FILE cannot be read, 4 at a bad type code.\n",
     List},
    {"search", "Hxbjz", "[HOME] [--bits 32|64] [--json] [-z] [FILE] WORD",
     "Prints the rows of the editor's list, as list prints them, whose command,\n"
     "names, current value or help text (in the configured language) hold WORD in\n"
     "any case, then the settings that no row edits whose name or value hold it,\n"
     "as \"  -  name = value\"; values from the home's morvrc or FILE.\n"
     "\n"
     "--home DIR, --xchat 1|2   the home\n"
     "--bits 32|64   the width of morvrc's time fields\n"
     "--json         one JSON array: list --json's object for a row, {\"row\": null,\n"
     "               \"setting\": NAME, \"value\": VALUE} for a setting\n"
     "-z             end each line with a zero byte\n"
     "\n"
     "Exit status 1 when nothing holds WORD, 3 when setup.dat or FILE cannot be\n"
     "read.\n",
     Search},
    {"describe", "Hxbj", "[HOME] [--bits 32|64] [--json] ROW|NAME",
     "Prints a row's number, names, type and range, then its help text in the\n"
     "configured language, as the editor's help area shows it.  ROW is a number\n"
     "as list prints it; NAME a row's name or the setting it edits.\n"
     "\n"
     "--home DIR, --xchat 1|2   the home\n"
     "--bits 32|64   the width of morvrc's time fields\n"
     "--json         one JSON object\n"
     "\n"
     "Exit status 2 when no row has ROW or NAME, 3 when setup.dat cannot be read.\n",
     Describe},
    {"reset", "HxbawF", "[HOME] [--bits 32|64] [--wait SECONDS] [FILE] NAME...\n"
                       "[HOME] [--bits 32|64] [--wait SECONDS] [--force] --all [FILE]",
     "Puts back the home's setup.dat defaults of the named rows or settings (a\n"
     "pair's name: both rows), or of every row with --all, as Reset to Default\n"
     "does, and writes FILE as set does.  --all also writes a damaged FILE afresh.\n"
     "\n"
     "--all          every row\n"
     "--force        with --all, write over a FILE that is a text of settings\n"
     "--bits, --home, --xchat, --wait   as for set\n"
     "\n"
     "Exit status 4 for a damaged FILE without --all, 5 for a pair left with one\n"
     "text.\n",
     Reset},
    {"watch", "Hxj", "[HOME] [--json] [FILE]",
     "Follows FILE (default: the home's morvrc) and prints a line with its state,\n"
     "then for every change the time and the settings that changed, as diff\n"
     "prints them, until interrupted.  A FILE that is not whole is told after 2\n"
     "seconds and its values shown once it is whole again; a link is followed to\n"
     "its file and to where it points next; a directory that goes away, or is not\n"
     "there yet, is waited for (said once on standard error).\n"
     "\n"
     "--home DIR, --xchat 1|2   the home\n"
     "--json         one JSON object per line\n"
     "\n"
     "Exit status 0 on SIGINT, SIGTERM or SIGHUP, 3 when FILE cannot be watched\n"
     "or the output cannot be written.\n",
     Watch},
    {"history", "Hxj", "[HOME] [--json] [FILE]",
     "Lists the versions of FILE (default: the home's morvrc) kept before each\n"
     "save replaced them, newest first: the number restore and diff @N take, when\n"
     "it was replaced, its width and version, how many settings differ from the\n"
     "next newer version (the newest: from FILE as it is; - when either is not\n"
     "whole), and the program and verb that saved over it.  The newest 50\n"
     "versions and 2 MiB are kept, in $XDG_STATE_HOME/morvane/history (default:\n"
     "~/.local/state/morvane/history).\n"
     "\n"
     "--home DIR, --xchat 1|2   the home\n"
     "--json         one JSON object\n"
     "\n"
     "Exit status 3 when the history cannot be read.\n",
     History},
    {"restore", "HxwF", "[HOME] [--wait SECONDS] [--force] N [FILE]",
     "Writes version N of FILE (default: the home's morvrc), as history numbers\n"
     "them, back to FILE as set writes; the bytes it replaces are kept first, so a\n"
     "restore is undone by another: morvrc_tool restore 1 FILE.\n"
     "\n"
     "--home DIR, --xchat 1|2   the home\n"
     "--wait SECONDS how long to wait for another program's save\n"
     "--force        write over a FILE that is a text of settings\n"
     "\n"
     "Exit status 2 for a version not kept, 4 for a damaged one; nothing is then\n"
     "written.\n",
     Restore},
    {"help", "", "[VERB]",
     "Prints the usage of every verb, or the help of one.\n",
     Help},
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

/* Prints psText with its "{...}" words replaced (see acIntro).  Returns
 * nothing; a word it does not know is printed as it is. */
static void PrintText(char const *psText)
{
    static const struct {
        char const *psWord;
        int iValue;
    } aWords[] = {
        {"{bits}", iNativeBytes * 8},
        {"{version}", iSetupVersion},
        {"{oldest}", iMinimunSetupVersion},
    };
    for (char const *p = psText; *p != '\0';) {
        size_t uPlain = strcspn(p, "{");
        fwrite(p, 1, uPlain, stdout);
        p += uPlain;
        if (*p == '\0')
            break;
        size_t w = 0;
        while (w < sizeof aWords / sizeof aWords[0] &&
               strncmp(p, aWords[w].psWord, strlen(aWords[w].psWord)) != 0)
            w++;
        if (w < sizeof aWords / sizeof aWords[0]) {
            printf("%d", aWords[w].iValue);
            p += strlen(aWords[w].psWord);
        } else {
            putchar(*p++);
        }
    }
}

/* Prints the usage lines of verb v, each after psLead and the verb's name
 * in a column iWidth wide, and psNext before every further line. */
static void PrintSynopsis(int v, char const *psLead, char const *psNext, int iWidth)
{
    char const *p = aVerbs[v].psSynopsis;
    for (;;) {
        size_t uLine = strcspn(p, "\n");
        /* A line that begins with blanks goes on the usage above it. */
        if (p[0] == ' ')
            printf("%*s%.*s\n", (int)strlen(psLead) + iWidth, "", (int)uLine, p);
        else
            printf("%s%-*s %.*s\n", psLead, iWidth, aVerbs[v].psName, (int)uLine, p);
        if (p[uLine] == '\0')
            break;
        p += uLine + 1;
        psLead = psNext;
    }
}

/* Prints the help of verb v, or the tool's with v = -1, on standard output. */
static void PrintHelp(int v)
{
    if (v < 0) {
        PrintText(acIntro);
        putchar('\n');
        for (int k = 0; k < VERB_COUNT; k++)
            PrintSynopsis(k, "  ", "  ", 8);
        printf("  --version\n\n");
        PrintText(acOutro);
        return;
    }
    PrintSynopsis(v, "Usage: morvrc_tool ", "       morvrc_tool ", 0);
    PrintText(aVerbs[v].psHelp);
    if (aVerbs[v].psOptions[0] != '\0')
        printf("\nHOME, widths, locks and the other exit statuses: morvrc_tool --help.\n"
               "Everything else: man morvrc_tool.\n");
}

/* help [VERB].  Returns the exit status. */
static int Help(int argc, char **argv, struct Options const *po)
{
    (void)po;
    if (!ArgumentCount("help", argc, 0, 1))
        return TS_USAGE;
    int v = argc == 0 ? -1 : FindVerb(argv[0]);
    if (argc == 1 && v < 0) {
        Complain("no verb is named \"%.40s\" (morvrc_tool --help lists them)", argv[0]);
        return TS_USAGE;
    }
    PrintHelp(v);
    return TS_OK;
}

/* The verb whose names --complete lists, and the rows its home has. */
static char const *psNamesVerb;
static int iNamesRows;

/* Prints psName when the verb psNamesVerb takes it for a NAME, as it
 * takes them: get a setting or a pair, set a setting, reset the rows a
 * name gives, describe a row. */
static void PrintIfTaken(char const *psName)
{
    struct MorvItem it;
    char acWhy[512];
    int aiRows[2];
    char const *v = psNamesVerb;
    int bTaken = strcmp(v, "get") == 0   ? IsSettingName(psName)
                 : strcmp(v, "set") == 0 ? FindItem(psName, &it, acWhy, sizeof acWhy)
                 : strcmp(v, "reset") == 0 ? RowsOfName(psName, iNamesRows, aiRows, acWhy, sizeof acWhy) > 0
                                           : strcmp(v, "describe") == 0 && RowNamed(psName, iNamesRows, acWhy, sizeof acWhy) > 0;
    if (bTaken)
        printf("%s\n", psName);
}

/* For the shell's completion, one a line: the verbs; with argv[0], that
 * verb's options; with "names" after it, the names the verb takes (in the
 * home the options after "names" give).  Returns the exit status. */
static int Complete(int argc, char **argv)
{
    int v = argc > 0 ? FindVerb(argv[0]) : -1;
    for (int k = 0; k < VERB_COUNT && argc == 0; k++)
        printf("%s\n", aVerbs[k].psName);
    if (argc == 0 || v < 0)
        return argc == 0 ? TS_OK : TS_USAGE;
    struct Options opts;
    if (argc > 1 && strcmp(argv[1], "names") == 0) {
        if (TakeOptions(argc - 2, argv + 2, argv[0], aVerbs[v].psOptions, &opts) < 0)
            return TS_USAGE;
        psNamesVerb = argv[0];
        iNamesRows = UseHomeRows(&opts, 0);
        ForEachName(iNamesRows, PrintIfTaken);
        return TS_OK;
    }
    for (int k = 0; k < OPTION_COUNT; k++)
        if (strchr(aVerbs[v].psOptions, aOptionTable[k].cLetter) != NULL)
            printf("%s\n", aOptionTable[k].psName);
    return TS_OK;
}

/* Moves the verb, the first argument that is neither an option nor an
 * option's value, to argv[1], so that options may come before it too
 * (morvrc_tool --home DIR list), as git -C DIR does; --help or --version
 * with no verb after it stays where it is. */
static void VerbFirst(int argc, char **argv)
{
    for (int i = 1; i < argc && strcmp(argv[i], "--") != 0; i++) {
        if (!IsOption(argv[i])) {
            char *psVerb = argv[i];
            memmove(argv + 2, argv + 1, (size_t)(i - 1) * sizeof *argv);
            argv[1] = psVerb;
            return;
        }
        for (int k = 0; k < OPTION_COUNT; k++)
            if (aOptionTable[k].eKind != OK_FLAG && strcmp(argv[i], aOptionTable[k].psName) == 0)
                i++;
    }
}

/* Runs the verb that argv names.  Returns the exit status. */
static int Run(int argc, char **argv)
{
    if (argc < 2) {
        fputs("Usage: morvrc_tool ", stderr);
        for (int v = 0; v < VERB_COUNT; v++)
            fprintf(stderr, "%s%s", v > 0 ? "|" : "", aVerbs[v].psName);
        fputs(" ... (morvrc_tool --help)\n", stderr);
        return TS_USAGE;
    }
    if (strcmp(argv[1], "--complete") != 0)
        VerbFirst(argc, argv);
    char const *psVerb = argv[1];
    if (strcmp(psVerb, "--version") == 0) {
        printf("morvrc_tool %s (%d-bit time values)\n", MORV_VERSION, iNativeBytes * 8);
        return TS_OK;
    }
    if (strcmp(psVerb, "--help") == 0 || strcmp(psVerb, "-h") == 0) {
        PrintHelp(-1);
        return TS_OK;
    }
    /* Not in the help: only the completion asks. */
    if (strcmp(psVerb, "--complete") == 0)
        return Complete(argc - 2, argv + 2);
    int v = FindVerb(psVerb);
    if (v < 0) {
        Complain(IsOption(psVerb) ? "%.40s: options need a verb (morvrc_tool --help lists them)"
                                  : "no verb is named \"%.40s\" (morvrc_tool --help lists them)",
                 psVerb);
        return TS_USAGE;
    }
    struct Options opts;
    int iOperands = TakeOptions(argc - 2, argv + 2, psVerb, aVerbs[v].psOptions, &opts);
    if (iOperands < 0)
        return TS_USAGE;
    if (opts.bHelp) {
        PrintHelp(v);
        return TS_OK;
    }
    psSavingVerb = aVerbs[v].psName;
    return aVerbs[v].pfRun(iOperands, argv + 2, &opts);
}

int main(int argc, char **argv)
{
    /* Under a file-size limit a write that grows too large fails with
     * EFBIG, is undone and reported, instead of killing the tool half way
     * through a rewrite in place. */
    signal(SIGXFSZ, SIG_IGN);
    int iStatus = Run(argc, argv);
    ResetSettings();
    /* Output that never arrived is a failure, not a success, nor an answer:
     * diff, like diff and cmp, says trouble with 2, since its 1 means
     * "the files differ". */
    if (fflush(stdout) != 0 || ferror(stdout)) {
        Complain("cannot write standard output: %s", strerror(errno));
        if (iStatus == TS_OK || iStatus == TS_NO)
            iStatus = argc > 1 && strcmp(argv[1], "diff") == 0 ? TS_USAGE : TS_IO;
    }
    return iStatus;
}

