/* The home for every verb of morvrc_tool: its paths, its morvrc for a FILE
 * left out, and setup.dat read as the editor reads it, whence the row
 * names and ranges that the verbs take. */
#include "cli/home.h"

#include "settings/morvrc/morvrc.h"
#include "settings/morvrc/reading.h"
#include "settings/store/catalogue.h"
#include "support/xchat.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

char const *HomeDirectory(struct Options const *po, int bComplain)
{
    char const *psHome = po->psHome != NULL ? po->psHome : getenv("HOME");
    if (psHome != NULL && psHome[0] != '\0')
        return psHome;
    if (bComplain)
        Complain("no home: give --home DIR or set HOME");
    return NULL;
}

int HomePath(struct Options const *po, char const *psFile, char *psOut, int bComplain)
{
    char const *psHome = HomeDirectory(po, bComplain);
    if (psHome == NULL)
        return 0;
    char const *psDir = XChatDirectory(po->iXChat == 1 ? 1 : 2);
    int n = snprintf(psOut, HOME_PATH, "%s/%s%s", psHome, psDir, psFile);
    if (n >= 0 && n < HOME_PATH)
        return 1;
    if (bComplain)
        Complain("the path of %s under %.80s... is too long", psFile, psHome);
    return 0;
}

/* The rows that catalogue loading has handed over. */
static int iRowsLoaded = 0;

/* Counts one row handed over; the tool prints rows from dvArray itself. */
static void CountRow(char const *psRowText)
{
    (void)psRowText;
    iRowsLoaded++;
}

int ReadCatalogue(char const *psPath, int *piRows, int bComplain)
{
    *piRows = 0;
    /* A FIFO or a device could block or never end: a regular file only,
     * opened as morvrc is. */
    struct stat st;
    int fd = OpenForReading(psPath, &st);
    FILE *f = fd >= 0 ? fdopen(fd, "r") : NULL;
    int iErr = errno;
    if (f == NULL) {
        if (fd >= 0)
            close(fd);
        if (bComplain)
            Complain("cannot read %s: %s", psPath, ReadErrorText(iErr));
        return TS_IO;
    }
    char acRow[ROW_BUFFER_SIZE];
    iRowsLoaded = 0;
    int iRead = LoadCatalogue(f, acRow, CountRow);
    fclose(f);
    *piRows = iRowsLoaded;
    if (iRead < 0) {
        if (bComplain)
            Complain("%s: row %d has a type code other than 0, 1 or 2", psPath, iRowsLoaded + 1);
        return TS_DAMAGED;
    }
    return TS_OK;
}

/* Why UseHomeRows found no catalogue; empty when it did. */
static char acNoRows[HOME_PATH + 128];

void NoteNoRows(void)
{
    if (acNoRows[0] != '\0')
        fprintf(stderr, "morvrc_tool: note: ranges and row names are unknown: %s\n", acNoRows);
    acNoRows[0] = '\0';
}

int UseHomeRows(struct Options const *po, int bNote)
{
    char acDat[HOME_PATH];
    int iRows = 0;
    if (!HomePath(po, "setup.dat", acDat, 0)) {
        snprintf(acNoRows, sizeof acNoRows, "no home (--home DIR or HOME names one)");
    } else if (ReadCatalogue(acDat, &iRows, 0) == TS_IO) {
        snprintf(acNoRows, sizeof acNoRows, "cannot read %s: %s", acDat, ReadErrorText(errno));
    }
    if (bNote)
        NoteNoRows();
    /* Rows up to a bad type code are still the editor's rows. */
    if (acNoRows[0] != '\0' || iRows == 0)
        return 0;
    SetVariables();
    NameItemsByRows(iRows);
    return iRows;
}

int IsSettingName(char const *psArg)
{
    struct MorvItem it;
    char acWhy[512];
    return FindPair(psArg) >= 0 || FindItem(psArg, &it, acWhy, sizeof acWhy);
}

int NamesSetting(char const *psArg)
{
    struct stat st;
    return stat(psArg, &st) != 0 && IsSettingName(psArg);
}

void NoteTakenForFile(char const *psArg)
{
    struct stat st;
    if (stat(psArg, &st) == 0 && IsSettingName(psArg))
        fprintf(stderr,
                "morvrc_tool: note: %s was taken for FILE, as a file of that name is here; name "
                "FILE first to mean the setting\n",
                psArg);
}

/* The home's morvrc, once a verb has taken it for FILE: its absence is a
 * fresh home. */
static char acHomeMorvrc[HOME_PATH];

int NoteFreshHome(char const *psPath, int iErrno)
{
    int bFresh = iErrno == ENOENT && acHomeMorvrc[0] != '\0' && strcmp(psPath, acHomeMorvrc) == 0;
    if (bFresh)
        fprintf(stderr,
                "morvrc_tool: note: there is no morvrc yet: MoRvAnE and the editor start from the "
                "defaults, which morvrc_tool list shows and morvrc_tool reset --all writes\n");
    return bFresh;
}

char const *HomeMorvrc(struct Options const *po, char *psOut)
{
    if (!HomePath(po, "morvrc", psOut, 1))
        return NULL;
    snprintf(acHomeMorvrc, sizeof acHomeMorvrc, "%s", psOut);
    return psOut;
}

char const *PickFile(struct Options const *po, char const *psVerb, int bGiven,
                     char const *psGiven, int bWrites, char *psOut)
{
    if (!bGiven)
        return HomeMorvrc(po, psOut);
    if (bWrites && strcmp(psGiven, "-") == 0)
        Complain("%s: - is standard input, never a file to write", psVerb);
    else if (NamesSetting(psGiven))
        Complain("%s: %.80s is a setting, not a file; name FILE first, or leave it out for the "
                 "home's morvrc",
                 psVerb, psGiven);
    else
        return psGiven;
    return NULL;
}

char const *OnlyFile(struct Options const *po, char const *psVerb, int argc, char **argv,
                     int bWrites, char *psOut)
{
    if (!ArgumentCount(psVerb, argc, 0, 1))
        return NULL;
    return PickFile(po, psVerb, argc == 1, argv[0], bWrites, psOut);
}
