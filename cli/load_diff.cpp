/* morvrc_tool's verbs that take settings from a second source: load
 * applies "name = value" lines (dump's own output, or text a user wrote) to
 * a file, diff compares the settings of two files. */
#include "cli/files.h"
#include "cli/home.h"
#include "cli/verbs.h"
#include "settings/morvrc/json.h"
#include "settings/morvrc/lines.h"
#include "settings/store/morv.h"
#include "settings/store/values.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* ---- load ----------------------------------------------------------------- */

/* Applies load's input, pText (uText bytes), to the store: dump's lines,
 * or with bJson dump --json's document; psShown names the input and psFile
 * the file in a complaint.  Marks each item set in abTouched.  Returns
 * TS_OK, or TS_USAGE after a complaint. */
static int ApplyText(char const *pText, size_t uText, int iTimeBytes, int bJson,
                     char const *psShown, char const *psFile, unsigned char *abTouched)
{
    char acWhy[512];
    if (bJson) {
        if (ApplyJsonSettings(pText, uText, iTimeBytes, acWhy, sizeof acWhy, abTouched))
            return TS_OK;
        Complain("%s: %s; %s is unchanged", psShown, acWhy, psFile);
        return TS_USAGE;
    }
    int iLine;
    if (ApplySettingLines(pText, uText, iTimeBytes, &iLine, acWhy, sizeof acWhy, abTouched))
        return TS_OK;
    Complain("%s, line %d: %s; %s is unchanged", psShown, iLine, acWhy, psFile);
    return TS_USAGE;
}

int Load(int argc, char **argv, struct Options const *po)
{
    if (!ArgumentCount("load", argc, 0, 2))
        return TS_USAGE;
    char const *psInput = argc == 2 ? argv[1] : "-";
    char const *psShown = strcmp(psInput, "-") == 0 ? "standard input" : psInput;
    UseHomeRows(po, 1);
    char acRc[HOME_PATH];
    char const *psFile = PickFile(po, "load", argc >= 1, argv[0], 1, acRc);
    if (psFile == NULL)
        return TS_USAGE;
    bRangesForced = po->bForce;
    struct MorvLoadReport report;
    struct MorvLayout layout;
    int bNew;
    /* The input, which may come slowly down a pipe, is taken before the
     * lock, which is held from the reading of FILE only. */
    char *pText = NULL;
    size_t uText = 0;
    int iStatus = ReadInputText(psInput, &pText, &uText);
    if (iStatus != TS_OK)
        return iStatus;
    struct MorvUpdate up;
    iStatus = BeginSaving(psFile, po->iWaitMs, po->bForce, &up);
    if (iStatus != TS_OK) {
        free(pText);
        return iStatus;
    }
    char acDamage[2048];
    iStatus = LoadOrStart(psFile, &up.snFound, po->iBits, &report, &layout, &bNew, acDamage,
                          sizeof acDamage);
    unsigned char abTouched[MORV_MAX_ITEMS];
    memset(abTouched, 0, sizeof abTouched);
    if (iStatus == TS_OK) {
        iStatus = ApplyText(pText, uText, report.iTimeBytes, po->bJson, psShown, psFile, abTouched);
    }
    free(pText);
    if (iStatus == TS_OK && bNew == 2) {
        if (!AllItemsMarked(abTouched))
            iStatus = RefuseDamaged(psFile, acDamage, &up.snFound);
        else
            NoteRepair(psFile, acDamage, 1);
    }
    return FinishSave(iStatus, &up, bNew, &report, &layout);
}

/* ---- diff ----------------------------------------------------------------- */

/* The settings of one file, item by item, as dump and dump --json show
 * them, and the bytes after the last field that a newer version keeps. */
struct Values {
    struct MorvValues v;
    unsigned char *pTail;
    size_t uTail;
};

/* Frees what *pv holds and empties it; it may be freed twice. */
static void FreeFileValues(struct Values *pv)
{
    FreeValues(&pv->v);
    free(pv->pTail);
    pv->pTail = NULL;
    pv->uTail = 0;
}

/* Reads psPath whole (at iTimeBytes, or the width found when 0), or with
 * psPath "@N" version N of psFile, and keeps the values of its items in *pv
 * (emptied first).  Returns TS_OK, or the status to end with after a
 * complaint; *pv is released by the caller either way (FreeFileValues). */
static int TakeValues(char const *psPath, char const *psFile, int iTimeBytes, struct Values *pv)
{
    memset(pv, 0, sizeof *pv);
    struct MorvLoadReport report;
    struct MorvLayout layout = {0, 0, NULL, 0};
    int iStatus;
    if (IsVersionName(psPath)) {
        struct MorvSnapshot snap;
        char acLabel[HOME_PATH + 32], acWhy[1024];
        iStatus = ReadVersionOf(atoi(psPath + 1), psFile, NULL, &snap, acLabel, sizeof acLabel);
        if (iStatus == TS_OK) {
            iStatus = LoadStore(acLabel, NULL, &snap, iTimeBytes, &report, &layout, acWhy, sizeof acWhy);
            if (iStatus != TS_OK)
                Complain("%s", acWhy);
            FreeSnapshot(&snap);
        }
    } else {
        iStatus = LoadWhole(psPath, iTimeBytes, &report, &layout);
    }
    if (iStatus == TS_OK && !TakeStoreValues(&pv->v))
        iStatus = NoMemory();
    pv->pTail = layout.pTail;
    pv->uTail = layout.uTail;
    layout.pTail = NULL;
    FreeLayout(&layout);
    return iStatus;
}

/* The two things diff compares among its operands, A and B, and the file
 * whose versions "@N" names: the one operand that names no version, or the
 * home's morvrc (psHome, HOME_PATH bytes).  Returns 1, or 0 after a
 * complaint. */
static int DiffOperands(int argc, char **argv, struct Options const *po, char const **ppsA,
                        char const **ppsB, char const **ppsFile, char *psHome)
{
    int iVersions = 0;
    char const *psFile = NULL;
    for (int k = 0; k < argc; k++) {
        if (IsVersionName(argv[k]))
            iVersions++;
        else
            psFile = argv[k];
    }
    if (iVersions == 0 ? argc != 2 : argc - iVersions > 1 || (argc == 3 && iVersions != 2)) {
        Complain("diff compares two files A B, or a version @N with its FILE, or two versions of it "
                 "(see morvrc_tool diff --help)");
        return 0;
    }
    if (iVersions > 0 && psFile == NULL) {
        if (!HomePath(po, "morvrc", psHome, 1))
            return 0;
        psFile = psHome;
    }
    /* "@N" alone is compared with its file; of three operands the file
     * only says whose versions the other two are. */
    char const *apsCompared[2] = {psFile, psFile};
    int n = 0;
    for (int k = 0; k < argc && n < 2; k++)
        if (argc < 3 || IsVersionName(argv[k]))
            apsCompared[n++] = argv[k];
    *ppsA = apsCompared[0];
    *ppsB = apsCompared[1];
    *ppsFile = psFile;
    return 1;
}

int Diff(int argc, char **argv, struct Options const *po)
{
    if (!ArgumentCount("diff", argc, 1, 3))
        return TS_USAGE;
    char acHome[HOME_PATH];
    char const *psA, *psB, *psFile;
    if (!DiffOperands(argc, argv, po, &psA, &psB, &psFile, acHome))
        return TS_USAGE;
    struct Values a, b;
    int iStatus = TakeValues(psA, psFile, po->iBits, &a);
    memset(&b, 0, sizeof b);
    if (iStatus == TS_OK)
        iStatus = TakeValues(psB, psFile, po->iBits, &b);
    if (iStatus != TS_OK) {
        FreeFileValues(&a);
        FreeFileValues(&b);
        /* As diff(1) and cmp: 1 means "they differ", so any trouble is 2. */
        return TS_USAGE;
    }

    char *psDiffer = FormatDifferences(&a.v, &b.v, po->bJson, "a", "b", ",\n    ");
    int bDiffer = psDiffer != NULL && psDiffer[0] != '\0';
    int bTailsDiffer = a.uTail != b.uTail || (a.uTail > 0 && memcmp(a.pTail, b.pTail, a.uTail) != 0);
    if (psDiffer == NULL)
        Complain("out of memory");
    else if (po->bJson)
        printf("{\n  \"differences\": [%s%s%s],\n  \"bytes_after_last_field_differ\": %s\n}\n",
               bDiffer ? "\n    " : "", psDiffer, bDiffer ? "\n  " : "", bTailsDiffer ? "true" : "false");
    else
        fputs(psDiffer, stdout);
    if (psDiffer != NULL && !po->bJson && bTailsDiffer)
        printf("# the bytes after the last field differ: %zu bytes -> %zu bytes\n", a.uTail, b.uTail);
    free(psDiffer);
    FreeFileValues(&a);
    FreeFileValues(&b);
    return psDiffer == NULL ? TS_USAGE : bDiffer || bTailsDiffer ? TS_NO : TS_OK;
}
