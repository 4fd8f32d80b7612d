/* The home as every verb of morvrc_tool uses it: its paths, the morvrc a
 * verb works on when FILE is left out, and setup.dat read into dvArray,
 * whence the row names and ranges that get, set, load and edit take. */
#ifndef MORV_CLI_HOME_H
#define MORV_CLI_HOME_H

#include "cli/tool.h"
#include "settings/store/items.h"

/* Bytes of a path under a home. */
#define HOME_PATH 4096

/* The home that *po names: --home, or $HOME.  Returns it, or null (after a
 * complaint when bComplain is 1). */
char const *HomeDirectory(struct Options const *po, int bComplain);

/* Writes into psOut (HOME_PATH bytes) the path of psFile in the script
 * directory of the home that *po names.  Returns 1, or 0 (after a complaint
 * when bComplain is 1) for no home or a path too long. */
int HomePath(struct Options const *po, char const *psFile, char *psOut, int bComplain);

/* Reads the catalogue psPath into dvArray.  *piRows gets the number of
 * rows read whole, also when a row with a bad type code stopped it.
 * Returns TS_OK, or (after a complaint when bComplain is 1) TS_IO (not
 * readable) or TS_DAMAGED (a bad type code). */
int ReadCatalogue(char const *psPath, int *piRows, int bComplain);

/* Reads the home's setup.dat, when *po names a home that has one, binds
 * its rows and names the items after them (NameItemsByRows).  Without one
 * it notes on standard error, when bNote is 1 or later by NoteNoRows, that
 * ranges and row names are unknown, and why.  Returns the rows read (0 for
 * none). */
int UseHomeRows(struct Options const *po, int bNote);

/* The note of UseHomeRows, once, when it found no catalogue. */
void NoteNoRows(void);

/* Whether psArg names a setting or a pair, whatever files there are. */
int IsSettingName(char const *psArg);

/* Whether psArg names a setting or a pair and is no file. */
int NamesSetting(char const *psArg);

/* Notes on standard error that psArg, a setting's name, was taken for FILE
 * since a file of that name exists; nothing for any other psArg.  For a
 * verb whose other arguments then did not fit. */
void NoteTakenForFile(char const *psArg);

/* Notes on standard error, for psPath missing (iErrno ENOENT) and the
 * home's morvrc (HomeMorvrc), what the script and the editor start from.
 * Returns 1 when it did so, 0 for any other file or error. */
int NoteFreshHome(char const *psPath, int iErrno);

/* Writes the path of the home's morvrc into psOut (HOME_PATH bytes), as the
 * FILE of a verb.  Returns psOut, or null after a complaint. */
char const *HomeMorvrc(struct Options const *po, char *psOut);

/* The FILE of a verb: psGiven (the first operand, bGiven 1) or else the
 * home's morvrc, in psOut (HOME_PATH bytes).  A psGiven that names a
 * setting or a row and is not a file, and "-" for a verb that writes
 * (bWrites), are refused.  Returns the path, or null after a complaint. */
char const *PickFile(struct Options const *po, char const *psVerb, int bGiven,
                     char const *psGiven, int bWrites, char *psOut);

/* The FILE of a verb whose only operand is an optional FILE: PickFile of
 * argv[0] when argc is 1, the home's morvrc when it is 0.  Returns the
 * path, or null after a complaint (too many operands among them). */
char const *OnlyFile(struct Options const *po, char const *psVerb, int argc, char **argv,
                     int bWrites, char *psOut);

#endif
