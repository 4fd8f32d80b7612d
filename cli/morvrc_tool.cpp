/* morvrc_tool: inspects, checks, converts, edits, compares and follows
 * morvrc, the binary configuration file of MoRvAnE, from the command line.
 * It reads and writes through the editor's own settings code; nothing here
 * knows the layout.  This file holds the entry point, the options and the table of
 * verbs. */
#include "cli/morvrc_cli.h"
#include "cli/morvrc_file_verbs.h"
#include "cli/morvrc_home.h"
#include "cli/morvrc_load_diff.h"
#include "cli/morvrc_watch.h"
#include "settings/morv.h"
#include "settings/morvrc.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

static const int iNativeBytes = (int)sizeof(time_t);

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
    "  watch    [HOME] [--json] [FILE]               print every change of FILE as it happens\n"
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
    {"watch", "Hxj", acHelpWatch, Watch},
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
        fprintf(stderr, "Usage: morvrc_tool "
                        "dump|check|convert|get|set|load|diff|list|describe|reset|watch ... "
                        "(morvrc_tool --help)\n");
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

