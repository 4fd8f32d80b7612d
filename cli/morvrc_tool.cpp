/* morvrc_tool: inspects, checks, converts, edits, compares and follows
 * morvrc, the binary configuration file of MoRvAnE, from the command line.
 * It reads and writes through the editor's own settings code; nothing here
 * knows the layout.  This file holds the entry point, the options and the table of
 * verbs. */
#include "cli/morvrc_cli.h"
#include "cli/morvrc_edit.h"
#include "cli/morvrc_file_verbs.h"
#include "cli/morvrc_home.h"
#include "cli/morvrc_load_diff.h"
#include "cli/morvrc_watch.h"
#include "settings/morv.h"
#include "settings/morvrc.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static const int iNativeBytes = (int)sizeof(time_t);

static const char acUsage[] =
    "Usage: morvrc_tool VERB [OPTIONS] ARGUMENTS...\n"
    "Inspect, check, convert, edit and compare morvrc, the MoRvAnE configuration\n"
    "file, and show the editor's list of settings, without a window.\n"
    "\n"
    "  dump     [--bits 32|64] [--json] FILE\n"
    "  check    [--bits 32|64] [--json] FILE\n"
    "  convert  [--from 32|64] --to 32|64 IN OUT\n"
    "  get      [HOME] [--bits 32|64] [--json|--raw] [-z] FILE NAME\n"
    "  set      [HOME] [--bits 32|64] [--force] FILE NAME VALUE...\n"
    "  load     [HOME] [--bits 32|64] [--json] [--force] FILE [INPUT]\n"
    "  edit     [HOME] [--bits 32|64] [--force] [FILE]\n"
    "  diff     [--bits 32|64] [--json] A B\n"
    "  list     [HOME] [--bits 32|64] [--changed] [--json] [-z] [FILE]\n"
    "  describe [HOME] [--bits 32|64] [--json] ROW|NAME\n"
    "  reset    [HOME] [--bits 32|64] FILE NAME...\n"
    "  reset    [HOME] [--bits 32|64] --all FILE\n"
    "  watch    [HOME] [--json] [FILE]\n"
    "  help     [VERB]\n"
    "  --version\n"
    "\n"
    "dump prints every stored setting, one \"name = value\" line each; check tells\n"
    "which width FILE parses at; convert rewrites IN for the other width; get and\n"
    "set read and change settings; load applies dump's lines (or dump --json's\n"
    "document); edit opens the dump in $VISUAL or $EDITOR and saves it back; diff\n"
    "prints the settings whose values differ; list and describe show the editor's\n"
    "list of settings and a row's type, range and help text; reset puts back the\n"
    "catalogue's defaults; watch prints every change of FILE as it happens.\n"
    "morvrc_tool help VERB (or VERB --help) tells more.\n"
    "\n"
    "HOME is --home DIR (default: $HOME) and --xchat 1|2 (default: 2): the home\n"
    "and XChat version whose editor is meant.  Its files are setup.dat, morvrc and\n"
    "the message files in DIR/.xchat2/morvane/ (--xchat 1: DIR/.xchat/morvane/);\n"
    "list and describe take --bits for its morvrc too.  Where the home has a\n"
    "setup.dat, NAME may also be a row's name (MaxCloneCount), and a value must\n"
    "lie in the row's range: 0 or 1 for a switch, 0 to 4096 for a counter\n"
    "(--force takes any).  A pair's own name (psFlagChanJoinBeep) means both of\n"
    "its texts for get and reset.  A wrong name is answered with the nearest one.\n"
    "\n"
    "The three time fields of morvrc are as wide as the time values of the program\n"
    "that wrote it: 4 bytes from the i386 programs, 8 bytes from the x86-64 ones,\n"
    "and nothing in the file says which.  Every verb finds a file's width as the\n"
    "editor does: the width at which it reads whole, or this build's width, %d bits,\n"
    "when it reads whole at both or at neither.  --bits names the width instead;\n"
    "for a file that set, load, edit or reset creates, it is the width to write\n"
    "(default: this build's).  Options may come before or after the other\n"
    "arguments; -- ends them, and a negative number is a value, not an option.\n"
    "A FILE or INPUT that is read may be -, standard input.  A writing verb that\n"
    "would change no byte leaves the file as it is.\n"
    "\n"
    "The verbs that write (set, load, reset, convert) hold the lock FILE.lock beside\n"
    "FILE from their reading of FILE to the new file's rename, so that no other\n"
    "save comes between; the editor takes the same lock.  They wait for another\n"
    "program's save at most 5 seconds, or --wait SECONDS.  A saved file keeps its\n"
    "owner, group, mode and extended attributes; where a new file cannot have\n"
    "them (or FILE has several links, its directory takes no new file, or it is\n"
    "a mount point), FILE is rewritten in place, with a line that says why.\n"
    "\n"
    "Exit status:\n"
    "  0  success; diff: the files hold the same settings\n"
    "  1  check: FILE does not parse exactly as asked; get: FILE's version does not\n"
    "     hold NAME; diff: the files differ\n"
    "  2  wrong command line: unknown verb, option or name, a missing or extra\n"
    "     argument, a value of the wrong kind or out of range; a bad line for load;\n"
    "     edit given up; diff: any trouble, its output not written included\n"
    "  3  a file cannot be read or written (missing, unreadable, disk full, standard\n"
    "     output)\n"
    "  4  the input is damaged (the message gives the byte and the field), older\n"
    "     than version %d, or has bytes after its last field; a setup.dat row\n"
    "     with a type code other than 0, 1 or 2.  reset --all, or a load that\n"
    "     sets every setting, writes such a file afresh\n"
    "  5  a value cannot be stored as asked: a text pair left with one text, a\n"
    "     time value that does not fit 32 bits (in a 32-bit file or this build)\n"
    "  6  FILE was changed by another program between its reading and its\n"
    "     writing, or another program was saving it for longer than --wait;\n"
    "     nothing was written\n";


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
    return iOperands;
}

/* ---- Entry point -------------------------------------------------------- */

static const struct {
    char const *psName;
    char const *psOptions;   /* option letters, as TakeOptions takes them */
    char const *psHelp;      /* printf format; %d is this build's width in bits */
    int (*pfRun)(int argc, char **argv, struct Options const *po);
} aVerbs[] = {
    {"dump", "bj", acHelpDump, Dump},
    {"check", "bj", acHelpCheck, Check},
    {"convert", "ftw", acHelpConvert, Convert},
    {"get", "bjrzHx", acHelpGet, Get},
    {"set", "bHxFw", acHelpSet, Set},
    {"load", "bjHxFw", acHelpLoad, Load},
    {"diff", "bj", acHelpDiff, Diff},
    {"list", "Hxbcjz", acHelpList, List},
    {"describe", "Hxbj", acHelpDescribe, Describe},
    {"reset", "Hxbaw", acHelpReset, Reset},
    {"edit", "bHxFw", acHelpEdit, Edit},
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
        fprintf(stderr, "Usage: morvrc_tool dump|check|convert|get|set|load|edit|diff|list|"
                        "describe|reset|watch ... (morvrc_tool --help)\n");
        return TS_USAGE;
    }
    char const *psVerb = argv[1];
    if (strcmp(psVerb, "--version") == 0) {
        printf("morvrc_tool %s (%d-bit time values)\n", MORV_VERSION, iNativeBytes * 8);
        return TS_OK;
    }
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
    int iOperands = TakeOptions(argc - 2, argv + 2, psVerb, aVerbs[v].psOptions, &opts);
    if (iOperands < 0)
        return TS_USAGE;
    if (opts.bHelp) {
        PrintHelp(v);
        return TS_OK;
    }
    return aVerbs[v].pfRun(iOperands, argv + 2, &opts);
}

int main(int argc, char **argv)
{
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

