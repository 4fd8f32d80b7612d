/* morvrc_tool's verbs on one file: dump, check, convert, get
 * and set. */
#include "cli/morvrc_file_verbs.h"

#include "cli/morvrc_cli.h"
#include "cli/morvrc_input.h"
#include "settings/morvrc/lines.h"
#include "cli/morvrc_rows.h"
#include "settings/store/morv.h"
#include "settings/morvrc/morvrc.h"
#include "settings/store/items.h"
#include "settings/morvrc/reading.h"

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>


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

/* Whether dump shows field iField (an index into aMorvFields) of a file
 * read as *pi: its version holds it and reading did not stop before it. */
static int FieldShown(int iField, struct MorvReadInfo const *pi)
{
    struct MorvField const *pf = &aMorvFields[iField];
    return pi->iVersion >= pf->iFromVersion && (pi->iField == 0 || pf->iNumber < pi->iField);
}

/* Prints the store read as *pr says as dump --json shows it: one object
 * with the file's version, the count of bytes after its last field, the
 * settings read, and psError (a JSON text, or null) when the file is
 * damaged.  Returns TS_OK, or TS_IO when memory runs out (after a
 * complaint, with part of the document printed). */
static int PrintJsonDump(struct MorvLoadReport const *pr, char const *psError)
{
    struct MorvReadInfo const *pi = &pr->info;
    long long llAfter = pi->eResult == MORV_READ_OK ? pi->llSize - pi->llConsumed : 0;
    printf("{\n  \"version\": %d,\n  \"bytes_after_last_field\": %lld,\n  \"settings\": {",
           pi->iVersion, llAfter);
    struct MorvItem aItems[MORV_MAX_ITEMS];
    int iItems = AllItems(aItems, MORV_MAX_ITEMS);
    char const *psSeparator = "\n";
    for (int k = 0; k < iItems; k++) {
        if (!FieldShown(aItems[k].iField, pi))
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
    printf("\n  }");
    if (psError != NULL)
        printf(",\n  \"error\": %s", psError);
    printf("\n}\n");
    return TS_OK;
}

int Dump(int argc, char **argv, struct Options const *po)
{
    char acRc[HOME_PATH];
    char const *psFile = ArgumentCount("dump", argc, 0, 1)
                             ? PickFile(po, "dump", argc == 1, argv[0], 0, acRc) : NULL;
    if (psFile == NULL)
        return TS_USAGE;
    struct MorvSnapshot snap;
    int iStatus = LoadInput(psFile, 0, &snap);
    if (iStatus != TS_OK)
        return iStatus;
    struct MorvLoadReport report;
    struct MorvLayout layout = {0, 0, NULL, 0};
    char acWhy[512] = "";
    iStatus = LoadStore(psFile, &snap, po->iBits, &report, &layout, acWhy, sizeof acWhy);
    FreeLayout(&layout);
    struct MorvReadInfo const &info = report.info;

    if (po->bJson) {
        /* What was read, and why the rest was not. */
        char *psError = iStatus != TS_OK ? JsonText(acWhy) : NULL;
        int iPrinted = iStatus != TS_OK && psError == NULL ? (int)TS_IO
                                                           : PrintJsonDump(&report, psError);
        free(psError);
        if (iPrinted != TS_OK)
            iStatus = iPrinted;
    } else if (info.eResult != MORV_READ_TOO_OLD) {
        /* Nothing here depends on the width or the size, so that dumps of
         * one set of settings compare equal wherever they were made. */
        printf("# morvrc version %d\n", info.iVersion);
        for (int i = 0; i < MORV_FIELD_COUNT && FieldShown(i, &info); i++) {
            int iPrinted = PrintField(i);
            if (iPrinted != TS_OK) {
                iStatus = iPrinted;
                break;
            }
        }
        if (iStatus == TS_OK && info.llConsumed < info.llSize)
            printf("# %lld bytes after the last field: fields of version %d not shown\n",
                   info.llSize - info.llConsumed, info.iVersion);
    }
    if (iStatus != TS_OK && acWhy[0] != '\0')
        Complain("%s", acWhy);
    FreeSnapshot(&snap);
    return iStatus;
}

int Check(int argc, char **argv, struct Options const *po)
{
    char acRc[HOME_PATH];
    char const *psFile = ArgumentCount("check", argc, 0, 1)
                             ? PickFile(po, "check", argc == 1, argv[0], 0, acRc) : NULL;
    if (psFile == NULL)
        return TS_USAGE;
    struct MorvSnapshot snap;
    int iStatus = LoadInput(psFile, 0, &snap);
    if (iStatus != TS_OK)
        return iStatus;

    /* What each width makes of FILE, as a line of the plain report. */
    int abParses[2];
    char aacSays[2][400];
    static const int aiWidths[2] = {4, 8};
    for (int w = 0; w < 2; w++) {
        struct MorvReadInfo info;
        char acDetail[256];
        ScanSetup(snap.pBytes, snap.uBytes, aiWidths[w], &info);
        abParses[w] = ImageIsWhole(&info) && snap.llSize <= MORV_MAX_FILE;
        int bMore = DescribeRead(&snap, &info, aiWidths[w], acDetail, sizeof acDetail);
        if (snap.llSize > MORV_MAX_FILE)
            snprintf(aacSays[w], sizeof aacSays[w],
                     "no, longer than %d bytes, the most a morvrc may hold", MORV_MAX_FILE);
        else if (!abParses[w])
            snprintf(aacSays[w], sizeof aacSays[w], "no, %s", acDetail);
        else if (bMore)
            snprintf(aacSays[w], sizeof aacSays[w],
                     "yes, every field of version %d in bounds; %s, which version %d may use",
                     iSetupVersion, acDetail, info.iVersion);
        else
            snprintf(aacSays[w], sizeof aacSays[w],
                     "yes, every field in bounds and no bytes left over");
    }
    char const *psVerdict = abParses[0] && abParses[1] ? "both"
                            : abParses[0]              ? "32-bit"
                            : abParses[1]              ? "64-bit"
                                                       : "neither";
    /* What every other verb reads FILE at without --bits. */
    int iWidth = FindTimeBytes(&snap) * 8;
    if (po->bJson) {
        char *apsSays[2] = {JsonText(aacSays[0]), JsonText(aacSays[1])};
        if (apsSays[0] == NULL || apsSays[1] == NULL) {
            Complain("out of memory");
            iStatus = TS_IO;
        } else {
            printf("{\"version\": ");
            if (snap.uBytes >= 4)
                printf("%lld", LittleEndianAt(snap.pBytes, 4));
            else
                printf("null");
            printf(", \"size\": %lld, \"32\": {\"parses\": %s, \"says\": %s}, \"64\": "
                   "{\"parses\": %s, \"says\": %s}, \"verdict\": \"%s\", \"width\": %d}\n",
                   snap.llSize, abParses[0] ? "true" : "false", apsSays[0],
                   abParses[1] ? "true" : "false", apsSays[1], psVerdict, iWidth);
        }
        free(apsSays[0]);
        free(apsSays[1]);
    } else {
        if (snap.uBytes >= 4)
            printf("version: %lld\n", LittleEndianAt(snap.pBytes, 4));
        else
            printf("version: none\n");
        printf("size: %lld bytes\n", snap.llSize);
        for (int w = 0; w < 2; w++)
            printf("%d-bit: %s\n", aiWidths[w] * 8, aacSays[w]);
        printf("verdict: %s\nwidth: %d-bit\n", psVerdict, iWidth);
    }
    /* Bytes that the other verbs take with a note: the same note. */
    struct MorvReadInfo extra;
    ScanSetup(snap.pBytes, snap.uBytes, iWidth / 8, &extra);
    if (extra.eResult == MORV_READ_OK && extra.iVersion <= iSetupVersion &&
        extra.llConsumed < extra.llSize && snap.llSize <= MORV_MAX_FILE)
        fprintf(stderr,
                "morvrc_tool: note: %s has %lld bytes after its last setting, from byte %lld: they "
                "are not read and would not be saved\n",
                psFile, extra.llSize - extra.llConsumed, extra.llConsumed);
    FreeSnapshot(&snap);
    if (iStatus != TS_OK)
        return iStatus;
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
    char acOut[HOME_PATH];
    if (!ArgumentCount("convert", argc, 2, 2) || !PickFile(po, "convert", 1, argv[1], 1, acOut))
        return TS_USAGE;
    /* IN is read under OUT's lock, so that when it is OUT no save comes
     * between the reading and the rename. */
    struct MorvUpdate up;
    int iStatus = BeginSaving(argv[1], po->iWaitMs, &up);
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
    for (int i = 0; i < MORV_FIELD_COUNT && iStatus == TS_OK && po->iTo == 4; i++) {
        struct MorvField const *pf = &aMorvFields[i];
        long long ll = pf->eKind == MFK_TIME ? (long long)*(time_t *)pf->pSetting : 0;
        if (ll < INT32_MIN || ll > INT32_MAX) {
            Complain("%s holds %lld, which does not fit a 32-bit time field; %s is not written",
                     pf->psName, ll, argv[1]);
            iStatus = TS_REFUSED;
        }
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

/* Prints item it as get shows it: quoted as dump shows it, as JSON, or
 * with --raw its stored bytes alone; each record ends with a line feed, or
 * with -z a zero byte.  Returns TS_OK, or TS_IO when memory runs out. */
static int PrintItem(struct MorvItem it, struct Options const *po)
{
    struct MorvField const *pf = &aMorvFields[it.iField];
    int bText = pf->eKind == MFK_TEXT || pf->eKind == MFK_TEXT_PAIR;
    char *psValue;
    if (po->bRaw && bText) {
        char *psText = pf->eKind == MFK_TEXT ? *(char **)pf->pSetting
                                             : ((char **)pf->pSetting)[it.iElement];
        psValue = strdup(psText != NULL ? psText : "");
    } else {
        psValue = po->bJson ? FormatItemJson(it) : FormatItemValue(it);
    }
    if (psValue == NULL) {
        Complain("out of memory");
        return TS_IO;
    }
    fputs(psValue, stdout);
    putchar(po->bZero ? '\0' : '\n');
    free(psValue);
    return TS_OK;
}

int Get(int argc, char **argv, struct Options const *po)
{
    if (!ArgumentCount("get", argc, 1, 2))
        return TS_USAGE;
    if (po->bRaw && po->bJson) {
        Complain("get: --raw and --json exclude each other");
        return TS_USAGE;
    }
    UseHomeRows(po, 0);
    char acRc[HOME_PATH];
    char const *psFile = PickFile(po, "get", argc == 2, argv[0], 0, acRc);
    if (psFile == NULL)
        return TS_USAGE;
    /* A pair's own name means both of its texts. */
    struct MorvItem aNamed[2];
    int iNamed = 1;
    int iPair = FindPair(argv[argc - 1]);
    char acWhy[512];
    if (iPair >= 0) {
        aNamed[0] = {iPair, 0};
        aNamed[1] = {iPair, 1};
        iNamed = 2;
    } else if (!FindItem(argv[argc - 1], &aNamed[0], acWhy, sizeof acWhy)) {
        NoteNoRows();
        Complain("%s", acWhy);
        return TS_USAGE;
    }
    struct MorvLoadReport report;
    struct MorvLayout layout;
    int iStatus = LoadWhole(psFile, po->iBits, &report, &layout);
    FreeLayout(&layout);
    if (iStatus != TS_OK)
        return iStatus;
    struct MorvField const *pf = &aMorvFields[aNamed[0].iField];
    if (report.iVersion < pf->iFromVersion) {
        Complain("%s is version %d, which does not hold %s (stored from version %d on)", psFile,
                 report.iVersion, pf->psName, pf->iFromVersion);
        return TS_NO;
    }
    if (po->bJson && iNamed == 2) {
        /* One document: a pair's two texts as an array. */
        char *aps[2] = {FormatItemJson(aNamed[0]), FormatItemJson(aNamed[1])};
        if (aps[0] != NULL && aps[1] != NULL)
            printf("[%s, %s]%c", aps[0], aps[1], po->bZero ? '\0' : '\n');
        else
            Complain("out of memory");
        iStatus = aps[0] != NULL && aps[1] != NULL ? (int)TS_OK : (int)TS_IO;
        free(aps[0]);
        free(aps[1]);
        return iStatus;
    }
    for (int k = 0; k < iNamed && iStatus == TS_OK; k++)
        iStatus = PrintItem(aNamed[k], po);
    return iStatus;
}

int Set(int argc, char **argv, struct Options const *po)
{
    if (argc < 2 || (argc % 2 == 0 && access(argv[0], F_OK) == 0)) {
        Complain("set: %s (see morvrc_tool set --help)",
                 argc < 2 ? "needs NAME and VALUE" : "every NAME needs a VALUE");
        return TS_USAGE;
    }
    /* FILE is there when the rest pairs up: NAME VALUE [NAME VALUE]... */
    UseHomeRows(po, 1);
    char acRc[HOME_PATH];
    char const *psFile = PickFile(po, "set", argc % 2, argv[0], 1, acRc);
    if (psFile == NULL)
        return TS_USAGE;
    argv += argc % 2;
    int iPairs = argc / 2;
    struct MorvItem *aItems = (struct MorvItem *)malloc((size_t)iPairs * sizeof *aItems);
    if (aItems == NULL) {
        Complain("out of memory");
        return TS_IO;
    }
    char acWhy[512];
    int iStatus = TS_OK;
    bRangesForced = po->bForce;
    for (int i = 0; i < iPairs && iStatus == TS_OK; i++) {
        if (!FindItem(argv[2 * i], &aItems[i], acWhy, sizeof acWhy)) {
            Complain("%s", acWhy);
            iStatus = TS_USAGE;
        }
    }
    if (iStatus != TS_OK) {
        free(aItems);
        return iStatus;
    }
    struct MorvLoadReport report;
    struct MorvLayout layout = {0, 0, NULL, 0};
    /* Held from the reading to the rename: no other save comes between. */
    struct MorvUpdate up;
    iStatus = BeginSaving(psFile, po->iWaitMs, &up);
    if (iStatus != TS_OK) {
        free(aItems);
        return iStatus;
    }
    int bNew = 0;
    char acDamage[512];
    iStatus = LoadOrStart(psFile, &up.snFound, po->iBits, &report, &layout, &bNew, acDamage,
                          sizeof acDamage);
    if (iStatus == TS_OK && bNew == 2)
        iStatus = RefuseDamaged(psFile, acDamage);
    if (iStatus == TS_OK && bNew == 1)
        fprintf(stderr,
                "morvrc_tool: note: %s does not exist: it is created from the values the editor "
                "starts from\n",
                psFile);

    /* Everything is checked in the store; the file is written only when
     * every change is good. */
    for (int i = 0; i < iPairs && iStatus == TS_OK; i++) {
        if (!SetItemValue(aItems[i], argv[1 + 2 * i], report.iTimeBytes, acWhy, sizeof acWhy)) {
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
                     acWhy, psPair, psPair, psFile);
            iStatus = TS_REFUSED;
        }
    }
    free(aItems);
    return FinishSave(iStatus, &up, bNew, &report, &layout);
}

