/* morvrc_tool's verbs on values by name: get prints them as dump shows
 * them, set changes them and writes the file as the editor saves. */
#include "cli/files.h"
#include "cli/home.h"
#include "cli/tool.h"
#include "cli/verbs.h"
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
    if (report.iVersion < ItemFromVersion(aNamed[0])) {
        char acField[64];
        SettingName(aNamed[0].iField, -1, acField, sizeof acField);
        Complain("%s is version %d, which does not hold %s (stored from version %d on)", psFile,
                 report.iVersion, acField, ItemFromVersion(aNamed[0]));
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

