/* morvrc_tool's verbs on the local history of a morvrc: the versions kept
 * before each save listed with what changed between them, and one of them
 * written back through the one update, which keeps the bytes it replaces,
 * so that a restore is undone as any save is. */
#include "cli/files.h"
#include "cli/home.h"
#include "cli/verbs.h"
#include "settings/disk/history.h"
#include "settings/disk/walk.h"
#include "settings/morvrc/reading.h"
#include "settings/store/text.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int History(int argc, char **argv, struct Options const *po)
{
    char acRc[HOME_PATH];
    char const *psFile = OnlyFile(po, "history", argc, argv, 0, acRc);
    if (psFile == NULL)
        return TS_USAGE;
    /* The versions and the file as it is now, both of the one walk. */
    struct MorvWalk walk;
    if (!WalkPath(psFile, &walk)) {
        Complain("cannot read the history of %s: %s", psFile, WalkErrorText(errno));
        return TS_IO;
    }
    struct MorvVersionList list;
    int iStatus = ListOrComplain(psFile, &walk, &list);
    struct MorvSnapshot now;
    SnapshotWalked(&walk, &now);
    EndWalk(&walk);
    if (iStatus != TS_OK) {
        FreeSnapshot(&now);
        return iStatus;
    }
    char *psRows = FormatHistory(&list, &now, po->bJson);
    FreeSnapshot(&now);
    char *psFile8 = JsonText(psFile);
    char *psFolder8 = JsonText(list.psFolder != NULL ? list.psFolder : "");
    if (psRows == NULL || psFile8 == NULL || psFolder8 == NULL)
        iStatus = NoMemory();
    else if (po->bJson)
        printf("{\n  \"file\": %s,\n  \"folder\": %s,\n  \"versions\": [%s%s", psFile8, psFolder8,
               list.iCount > 0 ? "\n    " : "", psRows);
    else if (list.iCount == 0)
        printf("# no version of %s is kept in %s\n", psFile, list.psFolder != NULL ? list.psFolder : "");
    else
        printf("# versions of %s kept in %s, newest first\n%3s  %-19s  %-7s  %7s  %7s  %s\n%s", psFile,
               list.psFolder, "N", "replaced", "width", "version", "differs", "saved over by", psRows);
    free(psRows);
    free(psFile8);
    free(psFolder8);
    if (po->bJson && iStatus == TS_OK)
        printf("%s]\n}\n", list.iCount > 0 ? "\n  " : "");
    FreeVersionList(&list);
    return iStatus;
}

int Restore(int argc, char **argv, struct Options const *po)
{
    if (!ArgumentCount("restore", argc, 1, 2))
        return TS_USAGE;
    long long llNumber;
    if (!ParseDecimal(argv[0], 1, INT_MAX, &llNumber) || argv[0][0] == '+') {
        Complain("restore takes the number of a version as history lists it, not \"%.40s\"", argv[0]);
        return TS_USAGE;
    }
    char acRc[HOME_PATH];
    char const *psFile = PickFile(po, "restore", argc == 2, argv[1], 1, acRc);
    if (psFile == NULL)
        return TS_USAGE;
    /* Under the lock: no save adds a version, and so renumbers them,
     * between the choice of the version and the write. */
    struct MorvUpdate up;
    int iStatus = BeginSaving(psFile, po->iWaitMs, po->bForce, &up);
    if (iStatus != TS_OK)
        return iStatus;
    struct MorvSnapshot snap;
    char acLabel[HOME_PATH + 32], acWhy[1024];
    iStatus = ReadVersionOf((int)llNumber, psFile, &up.walk, &snap, acLabel, sizeof acLabel);
    struct MorvLoadReport report;
    struct MorvLayout layout = {0, 0, NULL, 0};
    if (iStatus == TS_OK) {
        iStatus = LoadStore(acLabel, NULL, &snap, 0, &report, &layout, acWhy, sizeof acWhy);
        if (iStatus != TS_OK)
            Complain("%s; %s is unchanged", acWhy, psFile);
    }
    FreeSnapshot(&snap);
    return FinishSave(iStatus, &up, 0, &report, &layout);
}
