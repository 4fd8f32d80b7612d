/* The editor following morvrc: a watch on the script directory read from
 * the toolkit's event loop, a one-shot timeout that waits for the file to
 * be quiet, and the reactions, which never touch what the user has not
 * saved. */
#include "editor/watch.h"

#include "editor/main.h"
#include "editor/setup.h"
#include "settings/morvrc.h"
#include "settings/morvrc_follow.h"
#include "settings/morvrc_items.h"
#include "support/xchat.h"

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input.H>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Most settings the changed-on-disk question names, and the most of each
 * line it shows. */
#define DISK_CHANGES_SHOWN 10
#define DISK_CHANGE_LINE 160

static struct MorvWatch wtMorvaneRC = {-1, -1, ""};
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
 * at once, when its writer is done. */
static void WatchReadable(int fd, void *)
{
    int bGone = 0;
    if (TakeWatchEvents(&wtMorvaneRC, &bGone))
        ArmQuietPeriod();
    /* Without its directory there is nothing more to follow; what the
     * editor holds is kept, and a save says what it finds. */
    if (bGone)
        Fl::remove_fd(fd);
}

/* Whether the user has changed something that is not saved: a stored
 * change, or a text typed into the field and not yet taken. */
static int HasUnsavedWork(void)
{
    return bFlagModified || (textinput_TextValue->changed() && group_TextVar->active());
}

/* Remembers the bytes just reacted to in place of the earlier ones. */
static void RememberReacted(struct MorvSnapshot *pNew)
{
    FreeSnapshot(&snReacted);
    snReacted = *pNew;
    memset(pNew, 0, sizeof *pNew);
    bReacted = 1;
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
    switch (e) {
    case FOLLOW_SAME:
        return;
    case FOLLOW_RETRY:
        ArmQuietPeriod();
        return;
    case FOLLOW_REMOVED:
        WriteLog("FileChanged()");
        printf("The %s configuration file was removed by another program: the settings shown are "
               "kept.\n",
               psMorvaneRC);
        RememberReacted(&snNew);
        return;
    case FOLLOW_CHANGED:
    case FOLLOW_NOT_WHOLE:
        break;
    }
    WriteLog("FileChanged()");
    if (HasUnsavedWork()) {
        MarkChangedOnDisk(1);
        printf("The %s configuration file was changed by another program: your unsaved changes are "
               "kept.\n",
               psMorvaneRC);
        RememberReacted(&snNew);
        return;
    }
    FreeSnapshot(&snNew);
    printf("The %s configuration file was changed by another program: its settings are shown "
           "again.\n",
           psMorvaneRC);
    ReadAgainUnasked();
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
