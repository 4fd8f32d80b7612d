/* What every verb of morvrc_tool shares: its exit statuses, the options of
 * one command line, and how it complains. */
#ifndef MORV_CLI_TOOL_H
#define MORV_CLI_TOOL_H

/* Exit statuses; the help text lists them for users. */
enum ToolStatus {
    TS_OK = 0,
    TS_NO = 1,        /* check: not parsed as asked; get: the version lacks the setting;
                         diff: the files differ; search: nothing found */
    TS_USAGE = 2,     /* wrong command line or value, a bad line for load */
    TS_IO = 3,        /* a file cannot be read or written */
    TS_DAMAGED = 4,   /* the input is damaged or too old, or FILE a text of settings */
    TS_REFUSED = 5,   /* a value cannot be stored as asked */
    TS_CHANGED = 6    /* the file changed on disk between our read and our write */
};

/* The options of one command line; each verb takes some of them. */
struct Options {
    int iBits;             /* --bits: 4 or 8 bytes, 0 when not given */
    int iFrom;             /* --from, likewise */
    int iTo;               /* --to, likewise */
    char const *psHome;    /* --home DIR, or null */
    int iXChat;            /* --xchat: 1 or 2, 0 when not given */
    int bChanged;          /* --changed */
    int bAll;              /* --all */
    int bJson;             /* --json */
    int iWaitMs;           /* --wait SECONDS for another program's save, in ms; -1: the default */
    int bRaw;              /* --raw */
    int bZero;             /* -z: records end with a zero byte */
    int bForce;            /* --force: values outside the editor's ranges; a text written over */
    int bDefault;          /* --default: the catalogue's values, not FILE's */
    int bHelp;             /* --help or -h */
};

/* Prints "morvrc_tool: " and the message on standard error. */
void Complain(char const *psFormat, ...) __attribute__((format(printf, 1, 2)));

/* Complains that memory ran out.  Returns TS_IO, the status to end with. */
int NoMemory(void);

/* Checks the number of arguments left after the options.  Returns 1, or 0
 * after a complaint. */
int ArgumentCount(char const *psVerb, int iHave, int iMin, int iMax);

#endif
