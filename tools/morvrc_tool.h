/* What morvrc_tool.cpp gives the other verbs of morvrc_tool: exit
 * statuses, options, complaints, and reading a morvrc into the settings
 * store and writing it back.  The verbs on one file are there too. */
#ifndef MORV_TOOLS_MORVRC_TOOL_H
#define MORV_TOOLS_MORVRC_TOOL_H

#include "settings/morv.h"

#include <stddef.h>

/* Exit statuses; the help text lists them for users. */
enum ToolStatus {
    TS_OK = 0,
    TS_NO = 1,        /* check: not parsed as asked; get: the version lacks the setting;
                         diff: the files differ */
    TS_USAGE = 2,     /* wrong command line or value, a bad line for load */
    TS_IO = 3,        /* a file cannot be read or written */
    TS_DAMAGED = 4,   /* the input is damaged, too old or has bytes after its last field */
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
    int bHelp;             /* --help or -h */
};

/* Prints "morvrc_tool: " and the message on standard error. */
void Complain(char const *psFormat, ...) __attribute__((format(printf, 1, 2)));

/* Checks the number of arguments left after the options.  Returns 1, or 0
 * after a complaint. */
int ArgumentCount(char const *psVerb, int iHave, int iMin, int iMax);

/* A morvrc as read from disk. */
struct Input {
    char const *psPath;
    struct MorvSnapshot snap;   /* the first MORV_MAX_FILE bytes and the whole size */
    unsigned char *pData;       /* snap.pBytes: never null once read */
    size_t uSize;               /* snap.uBytes */
};

/* Releases what an Input holds; it may be released twice. */
void FreeInput(struct Input *pin);

/* Loads FILE into the store for a verb that needs it whole, at iTimeBytes
 * or, when it is 0, at the width found for it.  Returns TS_OK, or the status
 * to end with after a complaint; *pin holds the file either way and is
 * released by the caller (FreeInput), *pLayout likewise (FreeLayout). */
int LoadWhole(char const *psPath, int iTimeBytes, struct Input *pin, struct MorvLoadReport *pr,
              struct MorvLayout *pLayout);

/* LoadWhole, except that a FILE that does not exist is not an error: the
 * store then holds what the editor starts from without a morvrc (the
 * initial values and the built-in text defaults), *pin an absent snapshot,
 * and *pLayout a version-38 file of iTimeBytes or this build's width; *pbNew
 * tells which.  Returns as LoadWhole does. */
int LoadOrStart(char const *psPath, int iTimeBytes, struct Input *pin, struct MorvLoadReport *pr,
                struct MorvLayout *pLayout, int *pbNew);

/* Tells on standard error what writing a version-38 file does to an input
 * of an older version, or, when bKeepsTail is 0, of a newer one. */
void NoteVersionChange(char const *psPath, struct MorvLoadReport const *pr, int bKeepsTail);

/* Writes the store to psPath laid out as *pLayout, the way the editor
 * saves; with pExpected, only over a file that still holds those bytes (or
 * is still missing, as it was).  Returns TS_OK, or after a complaint TS_IO,
 * TS_REFUSED for a value that does not fit, TS_CHANGED for a file changed
 * since it was read. */
int SaveStore(char const *psPath, struct MorvLayout const *pLayout,
              struct MorvSnapshot const *pExpected);

#endif
