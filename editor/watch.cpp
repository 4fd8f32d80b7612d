/* The editor following morvrc: a watch on the script directory read from
 * the toolkit's event loop, a one-shot timeout that waits for the file to
 * be quiet, and the reactions, which never touch what the user has not
 * saved. */
#include "editor/watch.h"

#include "editor/baseline.h"
#include "editor/marks.h"
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

#include <limits.h>
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
static int bWatching = 0;

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

/* Returns 1 when what the editor holds differs from what it showed when
 * it last read or wrote psMorvaneRC, bytes of it or none: a text typed
 * into the field and not yet taken, a time row edited, or a setting
 * changed (a load or a reset that changed nothing counts as nothing); 1
 * also when memory runs out, so that nothing is thrown away unasked. */
static int DiffersFromDisk(void)
{
    if (textinput_TextValue->changed() && group_TextVar->active())
        return 1;
    return StoreDiffersFromShown();
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
    /* A box or a menu is open: its answer may save, load or reset, so the
     * look waits. */
    if (Fl::modal() != NULL || Fl::grab() != NULL) {
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
    char acSaid[PATH_MAX + 128];
    if (DiffersFromDisk()) {
        MarkChangedOnDisk(1);
        snprintf(acSaid, sizeof acSaid,
                 "The %s configuration file was changed by another program: your unsaved changes "
                 "are kept.",
                 psMorvaneRC);
        printf("%s\n", acSaid);
        TellInHelpArea(acSaid);
        RememberReacted(&snNew);
        return;
    }
    printf(SHOWN_AGAIN "\n", psMorvaneRC);
    /* The bytes found whole, not the file read once more: a writer may
     * have begun again since. */
    if (pfReadAgainUnasked != NULL)
        pfReadAgainUnasked(&snNew);
    FreeSnapshot(&snNew);
}

void MarkChangedOnDisk(int bMark)
{
    if (!bWatching)
        return;
    SetChangedOnDiskMark(bMark);
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
    bWatching = 1;
    Fl::add_fd(wtMorvaneRC.fd, FL_READ, WatchReadable);
    return 1;
}

int DescribeDiskChanges(struct MorvSnapshot const *pOnDisk, char *psOut, size_t uOut)
{
    if (uOut > 0)
        psOut[0] = '\0';
    if (!pOnDisk->bPresent)
        return 0;
    struct MorvValues *pDisk = (struct MorvValues *)calloc(2, sizeof *pDisk);
    int n = 0;
    if (pDisk != NULL && TakeFileValues(pOnDisk, 1, &pDisk[0], NULL) && TakeStoreValues(&pDisk[1])) {
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
    if (n == 0 && uOut > 0)
        psOut[0] = '\0';
    return n;
}
