/* morvrc_tool's verbs on values by name: get prints them as dump shows
 * them, set changes them and writes the file as the editor saves. */
#include "cli/files.h"
#include "cli/home.h"
#include "cli/tool.h"
#include "cli/verbs.h"
#include "settings/morvrc/reading.h"
#include "settings/store/items.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

/* Prints item it as get shows it: quoted as dump shows it, as JSON, or
 * with --raw its stored bytes alone; each record ends with a line feed, or
 * with -z a zero byte.  Returns TS_OK, or TS_IO when memory runs out. */
static int PrintItem(struct MorvItem it, struct Options const *po)
{
    char *psValue;
    if (po->bRaw && ItemIsText(it)) {
        char const *psText = *ItemText(it);
        psValue = strdup(psText != NULL ? psText : "");
    } else {
        psValue = po->bJson ? FormatItemJson(it) : FormatItemValue(it);
    }
    if (psValue == NULL)
        return NoMemory();
    fputs(psValue, stdout);
    putchar(po->bZero ? '\0' : '\n');
    free(psValue);
    return TS_OK;
}

/* Prints the n-th of iNames names, the items at pNamed (its second item's
 * element -2 when it names one alone), as get shows them: with --json one
 * value, a pair's array, or of several names one member of an object.
 * Returns TS_OK, or TS_IO when memory runs out (after a complaint). */
static int PrintNamed(struct MorvItem const *pNamed, int n, int iNames, struct Options const *po)
{
    if (!po->bJson)
        return PrintItem(pNamed[0], po) != TS_OK ? TS_IO
               : pNamed[1].iElement != -2        ? PrintItem(pNamed[1], po)
                                                 : TS_OK;
    char acName[64];
    struct MorvItem itNamed = pNamed[1].iElement == -2 ? pNamed[0] : MorvItem{pNamed[0].iField, -1};
    ItemName(itNamed, acName, sizeof acName);
    char *aps[2] = {FormatItemJson(pNamed[0]),
                    pNamed[1].iElement != -2 ? FormatItemJson(pNamed[1]) : strdup("")};
    if (aps[0] == NULL || aps[1] == NULL) {
        free(aps[0]);
        free(aps[1]);
        return NoMemory();
    }
    if (iNames > 1)
        printf("%s\"%s\": ", n == 0 ? "{" : ", ", acName);
    if (pNamed[1].iElement != -2)
        printf("[%s, %s]", aps[0], aps[1]);
    else
        fputs(aps[0], stdout);
    if (n == iNames - 1)
        printf("%s%c", iNames > 1 ? "}" : "", po->bZero ? '\0' : '\n');
    free(aps[0]);
    free(aps[1]);
    return TS_OK;
}

int Get(int argc, char **argv, struct Options const *po)
{
    if (!ArgumentCount("get", argc, 1, argc))
        return TS_USAGE;
    if (po->bRaw && po->bJson) {
        Complain("get: --raw and --json exclude each other");
        return TS_USAGE;
    }
    int iRows = UseHomeRows(po, po->bDefault);
    int bFile = argc > 1 && !NamesSetting(argv[0]);
    char acRc[HOME_PATH];
    char const *psFile = PickFile(po, "get", bFile, argv[0], 0, acRc);
    if (psFile == NULL)
        return TS_USAGE;
    /* Two items a name at most: a pair's own name means both of its texts. */
    int iNames = argc - bFile;
    struct MorvItem *aNamed = (struct MorvItem *)malloc((size_t)iNames * 2 * sizeof *aNamed);
    if (aNamed == NULL)
        return NoMemory();
    int iStatus = TS_OK;
    char acWhy[512];
    for (int n = 0; n < iNames && iStatus == TS_OK; n++) {
        int iPair = FindPair(argv[bFile + n]);
        aNamed[2 * n] = {iPair, 0};
        aNamed[2 * n + 1] = {iPair, iPair >= 0 ? 1 : -2};
        if (iPair < 0 && !FindItem(argv[bFile + n], &aNamed[2 * n], acWhy, sizeof acWhy)) {
            NoteNoRows();
            Complain("%s", acWhy);
            if (bFile)
                NoteTakenForFile(argv[0]);
            iStatus = TS_USAGE;
        }
    }
    struct MorvLoadReport report;
    struct MorvLayout layout = {0, 0, NULL, 0};
    if (iStatus == TS_OK)
        iStatus = !po->bDefault ? LoadWhole(psFile, po->iBits, &report, &layout)
                  : StartDefaults(iRows, po->iBits, &report) ? TS_OK : NoMemory();
    FreeLayout(&layout);
    for (int k = 0; k < 2 * iNames && iStatus == TS_OK; k++) {
        if (aNamed[k].iElement != -2 && report.iVersion < ItemFromVersion(aNamed[k])) {
            char acField[64];
            SettingName(aNamed[k].iField, -1, acField, sizeof acField);
            Complain("%s is version %d, which does not hold %s (stored from version %d on)", psFile,
                     report.iVersion, acField, ItemFromVersion(aNamed[k]));
            iStatus = TS_NO;
        }
    }
    for (int n = 0; n < iNames && iStatus == TS_OK; n++)
        iStatus = PrintNamed(&aNamed[2 * n], n, iNames, po);
    free(aNamed);
    return iStatus;
}

int Set(int argc, char **argv, struct Options const *po)
{
    UseHomeRows(po, 1);
    if (argc < 2 || (argc % 2 == 0 && access(argv[0], F_OK) == 0)) {
        Complain("set: %s (see morvrc_tool set --help)",
                 argc < 2 ? "needs NAME and VALUE" : "every NAME needs a VALUE");
        if (argc >= 2)
            NoteTakenForFile(argv[0]);
        return TS_USAGE;
    }
    /* FILE is there when the rest pairs up: NAME VALUE [NAME VALUE]... */
    char acRc[HOME_PATH];
    char const *psFile = PickFile(po, "set", argc % 2, argv[0], 1, acRc);
    if (psFile == NULL)
        return TS_USAGE;
    argv += argc % 2;
    int iPairs = argc / 2;
    struct MorvItem *aItems = (struct MorvItem *)malloc((size_t)iPairs * sizeof *aItems);
    if (aItems == NULL)
        return NoMemory();
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
    iStatus = BeginSaving(psFile, po->iWaitMs, po->bForce, &up);
    if (iStatus != TS_OK) {
        free(aItems);
        return iStatus;
    }
    int bNew = 0;
    char acDamage[2048];
    iStatus = LoadOrStart(psFile, &up.snFound, po->iBits, &report, &layout, &bNew, acDamage,
                          sizeof acDamage);
    if (iStatus == TS_OK && bNew == 2)
        iStatus = RefuseDamaged(psFile, acDamage, &up.snFound);
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
        int iPair = ItemPair(aItems[i]);
        if (iPair >= 0 && !PairIsStorable(iPair, acWhy, sizeof acWhy)) {
            char acPair[64];
            char const *psPair = acPair;
            SettingName(iPair, -1, acPair, sizeof acPair);
            Complain("%s; set both in one command: morvrc_tool set FILE %s[0] VALUE %s[1] VALUE; "
                     "%s is unchanged",
                     acWhy, psPair, psPair, psFile);
            iStatus = TS_REFUSED;
        }
    }
    free(aItems);
    return FinishSave(iStatus, &up, bNew, &report, &layout);
}

