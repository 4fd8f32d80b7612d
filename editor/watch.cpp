/* The editor following morvrc: a watch on the script directory read from
 * the toolkit's event loop, a one-shot timeout that waits for the file to
 * be quiet, and the reactions, which never touch what the user has not
 * saved. */
#include "editor/watch.h"

#include "editor/setup.h"
#include "settings/morvrc/follow.h"
#include "settings/morvrc/morvrc.h"
#include "settings/morvrc/reading.h"
#include "settings/store/catalogue.h"
#include "settings/store/items.h"
#include "settings/store/morv.h"
#include "support/runlog.h"
#include "support/xchat.h"

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input.H>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Most settings the changed-on-disk question names, and the most of each
 * line it shows. */
#define DISK_CHANGES_SHOWN 10
#define DISK_CHANGE_LINE 160

void (*pfReadAgainUnasked)(struct MorvSnapshot *pNew) = NULL;

static struct MorvWatch wtMorvaneRC;
static struct MorvFollow foMorvaneRC = {0};
/* The bytes last reacted to without reading them in, so that the same
 * change is reported once. */
static struct MorvSnapshot snReacted = {0, NULL, 0, 0, 0, 0};
static int bReacted = 0;
/* The window's title without the mark, and with it; empty while nothing
 * is watched. */
static char acTitle[256] = "";
static char acMarkedTitle[sizeof acTitle + 32];

static void QuietPeriodOver(void *);

/* Waits one more quiet period before the next look. */
static void ArmQuietPeriod(void)
{
    Fl::remove_timeout(QuietPeriodOver);
    Fl::add_timeout(FOLLOW_QUIET_MS / 1000.0, QuietPeriodOver);
}

/* The toolkit's call when the watch has events: each one about the file
 * starts the quiet period again, so that a file written in pieces is looked
 * at once, when its writer is done.  A directory that goes away is waited
 * for from the nearest one above. */
static void WatchReadable(int, void *)
{
    if (TakeWatchEvents(&wtMorvaneRC))
        ArmQuietPeriod();
}

/* Returns 1 when what the editor holds differs from psMorvaneRC as it was
 * last read or written: a text typed into the field and not yet taken, a
 * time row edited, or a setting changed (a load or a reset that changed
 * nothing counts as nothing); 1 also when memory runs out, so that
 * nothing is thrown away unasked. */
static int DiffersFromDisk(void)
{
    if (textinput_TextValue->changed() && group_TextVar->active())
        return 1;
    for (struct TimeCopy const &tc : aTimeCopies)
        if (*tc.piCopy != TimeCopyOf(*tc.ptSetting))
            return 1;
    struct MorvValues *pv = (struct MorvValues *)calloc(2, sizeof *pv);
    int bDiffers = 1;
    if (pv != NULL && TakeFileValues(&snMorvaneRC, 1, &pv[0], NULL) && TakeStoreValues(&pv[1])) {
        bDiffers = 0;
        for (int k = 0; k < pv[0].iItems && !bDiffers; k++)
            bDiffers = ItemDiffers(&pv[0], &pv[1], k);
    }
    if (pv != NULL) {
        FreeValues(&pv[0]);
        FreeValues(&pv[1]);
    }
    free(pv);
    return bDiffers;
}

/* Remembers the bytes just reacted to in place of the earlier ones. */
static void RememberReacted(struct MorvSnapshot *pNew)
{
    FreeSnapshot(&snReacted);
    snReacted = *pNew;
    memset(pNew, 0, sizeof *pNew);
    bReacted = 1;
}

/* Writes into psOut (uOut bytes) what is wrong with the bytes of a file
 * that is not whole, as a load says it.  Returns nothing. */
static void DescribeNotWhole(struct MorvSnapshot const *pSnap, char *psOut, size_t uOut)
{
    struct MorvLoadReport r;
    struct MorvValues *pv = (struct MorvValues *)calloc(1, sizeof *pv);
    if (pv != NULL && TakeFileValues(pSnap, 0, pv, &r))
        DescribeReading(&r, pSnap->llSize, NULL, psOut, uOut);
    else
        snprintf(psOut, uOut, "not read: out of memory");
    if (pv != NULL)
        FreeValues(pv);
    free(pv);
}

/* The file has been quiet: reacts to what changed, once per change, and
 * never to the editor's own saves, whose bytes snMorvaneRC holds. */
static void QuietPeriodOver(void *)
{
    /* A box is open: its answer may save or load, so the look waits. */
    if (Fl::modal() != NULL) {
        ArmQuietPeriod();
        return;
    }
    struct MorvSnapshot snNew;
    enum FollowFinding e =
        LookAtFile(&foMorvaneRC, psMorvaneRC, &snMorvaneRC, bReacted ? &snReacted : NULL, &snNew);
    char acWhat[160];
    switch (e) {
    case FOLLOW_SAME:
        return;
    case FOLLOW_RETRY:
        ArmQuietPeriod();
        return;
    case FOLLOW_REMOVED:
        LogStep("FileChanged()");
        printf("The %s configuration file was removed by another program: the settings shown are "
               "kept.\n",
               psMorvaneRC);
        RememberReacted(&snNew);
        return;
    case FOLLOW_NOT_WHOLE:
        /* Never shown: the next change of the file is looked at as any. */
        LogStep("FileChanged()");
        DescribeNotWhole(&snNew, acWhat, sizeof acWhat);
        printf("The %s configuration file on disk is damaged (%s): the settings shown are kept.\n",
               psMorvaneRC, acWhat);
        RememberReacted(&snNew);
        return;
    case FOLLOW_CHANGED:
        break;
    }
    LogStep("FileChanged()");
    if (DiffersFromDisk()) {
        MarkChangedOnDisk(1);
        printf("The %s configuration file was changed by another program: your unsaved changes are "
               "kept.\n",
               psMorvaneRC);
        RememberReacted(&snNew);
        return;
    }
    printf("The %s configuration file was changed by another program: its settings are shown "
           "again.\n",
           psMorvaneRC);
    /* The bytes found whole, not the file read once more: a writer may
     * have begun again since. */
    if (pfReadAgainUnasked != NULL)
        pfReadAgainUnasked(&snNew);
    FreeSnapshot(&snNew);
}

void MarkChangedOnDisk(int bMark)
{
    if (acTitle[0] == '\0')
        return;
    window_Setup->label(bMark ? acMarkedTitle : acTitle);
    if (!bMark) {
        FreeSnapshot(&snReacted);
        bReacted = 0;
    }
}

int StartWatching(void)
{
    /* Cheap when nothing happens: the kernel says when to look. */
    if (!StartDirectoryWatch(psMorvaneRC, &wtMorvaneRC))
        return 0;
    snprintf(acTitle, sizeof acTitle, "%s", window_Setup->label());
    snprintf(acMarkedTitle, sizeof acMarkedTitle, "%s [changed on disk]", acTitle);
    Fl::add_fd(wtMorvaneRC.fd, FL_READ, WatchReadable);
    return 1;
}

int DescribeDiskChanges(char *psOut, size_t uOut)
{
    if (uOut > 0)
        psOut[0] = '\0';
    struct MorvSnapshot snap;
    if (!SnapshotFile(psMorvaneRC, 1, &snap))
        return 0;
    struct MorvValues *pDisk = (struct MorvValues *)calloc(2, sizeof *pDisk);
    int n = 0;
    if (pDisk != NULL && TakeFileValues(&snap, 1, &pDisk[0], NULL) && TakeStoreValues(&pDisk[1])) {
        size_t uUsed = 0;
        for (int k = 0; k < pDisk[0].iItems && n < DISK_CHANGES_SHOWN; k++) {
            char acLine[DISK_CHANGE_LINE];
            FormatDifference(&pDisk[0], &pDisk[1], k, acLine, sizeof acLine);
            if (acLine[0] == '\0')
                continue;
            int iLen = snprintf(psOut + uUsed, uOut - uUsed, "\n%s", acLine);
            if (iLen < 0 || (size_t)iLen >= uOut - uUsed)
                break;
            uUsed += (size_t)iLen;
            n++;
        }
    }
    if (pDisk != NULL) {
        FreeValues(&pDisk[0]);
        FreeValues(&pDisk[1]);
    }
    free(pDisk);
    FreeSnapshot(&snap);
    if (n == 0 && uOut > 0)
        psOut[0] = '\0';
    return n;
}
