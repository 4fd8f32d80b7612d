/* morvrc_tool's verbs on one file's bytes: dump (the settings it stores),
 * check (which width it reads whole at) and convert (to the other width). */
#include "cli/files.h"
#include "cli/home.h"
#include "cli/tool.h"
#include "cli/verbs.h"
#include "settings/morvrc/json.h"
#include "settings/morvrc/lines.h"
#include "settings/morvrc/reading.h"
#include "settings/store/items.h"
#include "settings/store/text.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Reads into *pSnap the one operand of psVerb, an optional FILE, whose
 * path goes into *ppsFile (acRc, HOME_PATH bytes, holds the home's).
 * Returns TS_OK, or the status to end with after a complaint, with
 * nothing held. */
static int ReadOnlyFile(struct Options const *po, char const *psVerb, int argc, char **argv,
                        char *acRc, char const **ppsFile, struct MorvSnapshot *pSnap)
{
    *ppsFile = OnlyFile(po, psVerb, argc, argv, 0, acRc);
    return *ppsFile == NULL ? TS_USAGE : LoadInput(*ppsFile, 0, pSnap);
}

int Dump(int argc, char **argv, struct Options const *po)
{
    char acRc[HOME_PATH];
    char const *psFile;
    struct MorvSnapshot snap;
    int iStatus = ReadOnlyFile(po, "dump", argc, argv, acRc, &psFile, &snap);
    if (iStatus != TS_OK)
        return iStatus;
    struct MorvLoadReport report;
    struct MorvLayout layout = {0, 0, NULL, 0};
    char acWhy[2048] = "";
    iStatus = LoadStore(psFile, psFile, &snap, po->iBits, &report, &layout, acWhy, sizeof acWhy);
    FreeLayout(&layout);
    /* What was read, and with --json why the rest was not; of a text of
     * settings, nothing: its bytes mean nothing as fields. */
    int bText = TextFormOf(snap.pBytes, snap.uBytes) != MTF_NONE;
    FreeSnapshot(&snap);
    if (!bText && (po->bJson || report.info.eResult != MORV_READ_TOO_OLD)) {
        char *psError = po->bJson && iStatus != TS_OK ? JsonText(acWhy) : NULL;
        char *psText = NULL;
        if (!po->bJson)
            psText = FormatDump(&report.info, iStatus == TS_OK, NULL);
        else if (iStatus == TS_OK || psError != NULL)
            psText = FormatJsonDump(&report.info, psError);
        if (psText == NULL)
            iStatus = NoMemory();
        else
            fputs(psText, stdout);
        free(psText);
        free(psError);
    }
    if (iStatus != TS_OK && acWhy[0] != '\0')
        Complain("%s", acWhy);
    return iStatus;
}

int Check(int argc, char **argv, struct Options const *po)
{
    char acRc[HOME_PATH];
    char const *psFile;
    struct MorvSnapshot snap;
    int iStatus = ReadOnlyFile(po, "check", argc, argv, acRc, &psFile, &snap);
    if (iStatus != TS_OK)
        return iStatus;
    struct MorvWidths w;
    CheckWidths(&snap, psFile, &w);
    char *psText = FormatWidths(&snap, &w, po->bJson);
    if (psText == NULL)
        iStatus = NoMemory();
    fputs(psText != NULL ? psText : "", stdout);
    free(psText);
    /* A text of settings is told so; bytes that the other verbs take with a
     * note, the same note; a file not whole at the width read, the way back
     * to its last whole version, as the other verbs tell it. */
    char acNote[2 * HOME_PATH + 512], acWay[2 * HOME_PATH] = "";
    int bText = SayTextForm(psFile, &snap, acNote, sizeof acNote);
    if (!bText && !w.abParses[w.iBits == 64])
        PointToLastWholeVersion(psFile, acWay, sizeof acWay);
    if (bText || w.acNote[0] != '\0' || acWay[0] != '\0')
        fprintf(stderr, "morvrc_tool: note: %s%s%s\n", bText ? acNote : w.acNote,
                w.acNote[0] != '\0' && acWay[0] != '\0' ? "; " : "", acWay);
    FreeSnapshot(&snap);
    if (iStatus != TS_OK)
        return iStatus;
    if (po->iBits != 0)
        return w.abParses[po->iBits == 8] ? TS_OK : TS_NO;
    return w.abParses[0] != w.abParses[1] ? TS_OK : TS_NO;
}

int Convert(int argc, char **argv, struct Options const *po)
{
    if (po->iTo == 0) {
        Complain("convert needs --to (see morvrc_tool convert --help)");
        return TS_USAGE;
    }
    char acOut[HOME_PATH];
    if (!ArgumentCount("convert", argc, 2, 2) || !PickFile(po, "convert", 1, argv[1], 1, acOut))
        return TS_USAGE;
    /* IN is read under OUT's lock, so that when it is OUT no save comes
     * between the reading and the rename. */
    struct MorvUpdate up;
    int iStatus = BeginSaving(argv[1], po->iWaitMs, po->bForce, &up);
    if (iStatus != TS_OK)
        return iStatus;
    if (!up.snFound.bPresent && up.snFound.iErrno != ENOENT) {
        Complain("cannot write %s: %s", argv[1], ReadErrorText(up.snFound.iErrno));
        iStatus = TS_IO;
    }
    struct MorvLoadReport report;
    struct MorvLayout layout = {0, 0, NULL, 0};
    if (iStatus == TS_OK)
        iStatus = LoadWhole(argv[0], po->iFrom, &report, &layout);
    FreeLayout(&layout);
    struct MorvItem it = {0, -1};
    if (iStatus == TS_OK && !TimesFitWidth(po->iTo, &it.iField)) {
        char acName[64];
        char *psValue = FormatItemValue(it);
        ItemName(it, acName, sizeof acName);
        Complain("%s holds %s, which does not fit a 32-bit time field; %s is not written", acName,
                 psValue != NULL ? psValue : "?", argv[1]);
        free(psValue);
        iStatus = TS_REFUSED;
    }
    if (iStatus != TS_OK) {
        AbandonUpdate(&up);
        return iStatus;
    }
    /* The fields of a newer version cannot be converted without knowing
     * them: the output is a version-38 file.  Written only over what OUT
     * held, so that an OUT that already holds these bytes is left alone. */
    NoteVersionChange(argv[0], &report, 0);
    struct MorvLayout to = {po->iTo, 0, NULL, 0};
    return SaveUpdate(&up, &to);
}
