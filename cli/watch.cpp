/* morvrc_tool watch: a kernel watch on the directory of a morvrc, waited on
 * with poll() together with the interrupting signals, and after every quiet
 * period the settings that changed, named as diff names them. */
#include "cli/home.h"
#include "cli/tool.h"
#include "cli/verbs.h"
#include "settings/morvrc/follow.h"
#include "settings/morvrc/reading.h"
#include "settings/store/morv.h"
#include "settings/store/text.h"
#include "settings/store/values.h"
#include "support/clock.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/signalfd.h>
#include <time.h>
#include <unistd.h>


/* What a file is: the outcome's word and a description. */
struct State {
    char const *psOutcome;   /* "whole", "missing", "too_old", "damaged" */
    char acDetail[256];
};

/* Prints one state or change: plain, the time line (none for the first
 * state), the changed settings and, with bState, the file's state; with
 * bJson one object on one line.  pOld is null for the first state.
 * Returns 1; 0 when the output could not be written or memory ran out
 * (after a complaint). */
static int PrintChange(int bJson, char const *psPath, struct MorvValues const *pOld,
                       struct MorvValues const *pNew, struct State const *ps, int bState)
{
    char acTime[16] = "";
    time_t t = time(NULL);
    struct tm tmNow;
    if (localtime_r(&t, &tmNow) != NULL)
        strftime(acTime, sizeof acTime, "%H:%M:%S", &tmNow);
    /* The first state has nothing to compare with. */
    char *psChanges = pOld != NULL ? FormatDifferences(pOld, pNew, bJson, "old", "new", ", ") : strdup("");
    char *psDetail = JsonText(ps->acDetail);
    int bMade = psChanges != NULL && psDetail != NULL;
    if (!bMade) {
        Complain("out of memory");
    } else if (bJson) {
        printf("{\"time\": \"%s\", \"changes\": [%s], \"outcome\": \"%s\", \"detail\": %s}\n", acTime,
               psChanges, ps->psOutcome, psDetail);
    } else {
        if (pOld != NULL)
            printf("-- %s\n", acTime);
        fputs(psChanges, stdout);
        if (bState)
            printf("# %s: %s\n", psPath, ps->acDetail);
    }
    free(psChanges);
    free(psDetail);
    return bMade && fflush(stdout) == 0 && !ferror(stdout);
}

/* What the watch knows of the file: the bytes last looked at, and the
 * values of the last whole state (at first, of the file as it was, or
 * what the editor starts from without one). */
struct Watched {
    struct MorvSnapshot snKnown;
    struct MorvValues vKnown;
    struct MorvValues vNew;
    int bWhole;                 /* the state last printed was whole */
};

/* Looks at the file after a quiet period and prints what changed.
 * Returns 1 when a later look is due (the file is not whole yet), 0 when
 * not, -1 when memory ran out (after a complaint) or the output could not
 * be written. */
static int LookAgain(struct MorvFollow *pf, char const *psPath, int bJson, struct Watched *pw)
{
    struct MorvSnapshot snNew;
    enum FollowFinding e = LookAtFile(pf, psPath, &pw->snKnown, NULL, &snNew);
    int iErr = errno;
    if (e == FOLLOW_SAME)
        return 0;
    if (e == FOLLOW_RETRY)
        return 1;
    struct MorvLoadReport report;
    struct State state;
    int bPrinted;
    if (e == FOLLOW_REMOVED) {
        state.psOutcome = DescribeFileState(&snNew, NULL, iErr, state.acDetail, sizeof state.acDetail);
        bPrinted = PrintChange(bJson, psPath, &pw->vKnown, &pw->vKnown, &state, 1);
        pw->bWhole = 0;
    } else if (!TakeFileValues(&snNew, 0, &pw->vNew, &report)) {
        FreeSnapshot(&snNew);
        Complain("out of memory");
        return -1;
    } else {
        state.psOutcome = DescribeFileState(&snNew, &report, 0, state.acDetail, sizeof state.acDetail);
        /* The settings of a file that is not whole are not compared: they
         * are what was before the damage, and the rest is unknown.  Once
         * whole again, its state says so even when no value changed. */
        int bWhole = e == FOLLOW_CHANGED;
        bPrinted = PrintChange(bJson, psPath, &pw->vKnown, bWhole ? &pw->vNew : &pw->vKnown, &state,
                               !bWhole || !pw->bWhole);
        pw->bWhole = bWhole;
        if (bWhole) {
            FreeValues(&pw->vKnown);
            pw->vKnown = pw->vNew;
            memset(&pw->vNew, 0, sizeof pw->vNew);
        }
        FreeValues(&pw->vNew);
    }
    FreeSnapshot(&pw->snKnown);
    pw->snKnown = snNew;
    /* A lost output is told on the way out, as for every verb. */
    return bPrinted ? 0 : -1;
}

/* Takes the state of the file as it is now into *pw and prints it.
 * Returns 1; 0 when memory runs out (after a complaint) or the output
 * cannot be written. */
static int FirstLook(char const *psPath, int bJson, struct Watched *pw)
{
    struct MorvLoadReport report;
    struct State state;
    int iErr = SnapshotFile(psPath, 1, &pw->snKnown) ? 0 : errno;
    if (!TakeFileValues(&pw->snKnown, 0, &pw->vKnown, &report)) {
        Complain("out of memory");
        return 0;
    }
    state.psOutcome = DescribeFileState(&pw->snKnown, pw->snKnown.bPresent ? &report : NULL, iErr,
                                        state.acDetail, sizeof state.acDetail);
    pw->bWhole = strcmp(state.psOutcome, "whole") == 0;
    return PrintChange(bJson, psPath, NULL, &pw->vKnown, &state, 1);
}

/* Waits for events and signals and reacts to them.  Returns the exit
 * status. */
static int FollowLoop(char const *psPath, int bJson, int fdSignals, struct MorvWatch *pWatch,
                      struct Watched *pw)
{
    struct MorvFollow follow = {0};
    long long llDue = -1;   /* when the next look is due; -1: none */
    for (;;) {
        /* Standard output too: a reader that goes away ends the watch at
         * once rather than at the next change. */
        struct pollfd apfd[3] = {{pWatch->fd, POLLIN, 0}, {fdSignals, POLLIN, 0}, {1, 0, 0}};
        int iWait = -1;
        if (llDue >= 0) {
            long long llLeft = llDue - MonotonicMs();
            iWait = llLeft > 0 ? (int)llLeft : 0;
        }
        int n = poll(apfd, 3, iWait);
        if (n < 0 && errno != EINTR) {
            Complain("cannot wait for changes of %s: %s", psPath, strerror(errno));
            return TS_IO;
        }
        if (n > 0 && (apfd[1].revents & POLLIN))
            return TS_OK;
        if (n > 0 && (apfd[2].revents & (POLLERR | POLLHUP | POLLNVAL))) {
            Complain("cannot write standard output: %s", strerror(EPIPE));
            return TS_IO;
        }
        if (n > 0 && apfd[0].revents != 0 && TakeWatchEvents(pWatch))
            llDue = MonotonicMs() + FOLLOW_QUIET_MS;
        if (llDue >= 0 && MonotonicMs() >= llDue) {
            int iLater = LookAgain(&follow, psPath, bJson, pw);
            if (iLater < 0)
                return TS_IO;
            llDue = iLater ? MonotonicMs() + FOLLOW_QUIET_MS : -1;
        }
    }
}

int Watch(int argc, char **argv, struct Options const *po)
{
    char acRc[HOME_PATH];
    char const *psPath = OnlyFile(po, "watch", argc, argv, 0, acRc);
    if (psPath == NULL)
        return TS_USAGE;

    /* The signals come through a descriptor, so that one poll() waits for
     * them and for the file, and none is lost between the two. */
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    /* A closed output is an error to report, not a signal to die of. */
    signal(SIGPIPE, SIG_IGN);
    int fdSignals = -1;
    if (sigprocmask(SIG_BLOCK, &set, NULL) != 0 ||
        (fdSignals = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK)) < 0) {
        Complain("cannot take the signals that end the watch: %s", strerror(errno));
        return TS_IO;
    }
    struct MorvWatch watch;
    if (!StartDirectoryWatch(psPath, &watch)) {
        Complain("cannot watch %s: %s", psPath, strerror(errno));
        close(fdSignals);
        return TS_IO;
    }
    if (watch.aPlaces[0].bAbove)
        fprintf(stderr, "morvrc_tool: note: the directory of %s does not exist: the watch waits for it\n",
                psPath);
    struct Watched *pw = (struct Watched *)calloc(1, sizeof *pw);
    int iStatus = TS_IO;
    if (pw == NULL)
        Complain("out of memory");
    else if (FirstLook(psPath, po->bJson, pw))
        iStatus = FollowLoop(psPath, po->bJson, fdSignals, &watch, pw);
    if (pw != NULL) {
        FreeSnapshot(&pw->snKnown);
        FreeValues(&pw->vKnown);
        FreeValues(&pw->vNew);
        free(pw);
    }
    EndDirectoryWatch(&watch);
    close(fdSignals);
    return iStatus;
}
