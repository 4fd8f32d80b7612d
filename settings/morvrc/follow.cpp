/* Following a morvrc as other programs rewrite it: the watch on its
 * directory, and the look after a quiet period that tells a finished new
 * file from one still being written. */
#include "settings/morvrc/follow.h"

#include "settings/disk/path.h"
#include "settings/morvrc/format.h"
#include "support/clock.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

/* What becomes of a file in the directory: written, replaced, created,
 * removed; and what becomes of the directory itself. */
static const unsigned uFileEvents =
    IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB;
static const unsigned uDirectoryEvents = IN_DELETE_SELF | IN_MOVE_SELF;

static const unsigned uWatchMask = uFileEvents | uDirectoryEvents | IN_ONLYDIR;

/* Fills *pp with the place to watch for psPath: its directory, or the
 * nearest one above that exists.  Returns 1; 0 when there is none. */
static int FindPlace(char const *psPath, struct MorvWatchPlace *pp)
{
    pp->bAbove = 0;
    if (!SplitPath(psPath, pp->acDir, sizeof pp->acDir, pp->acName, sizeof pp->acName))
        return 0;
    struct stat st;
    while (stat(pp->acDir, &st) != 0 || !S_ISDIR(st.st_mode)) {
        char acDir[PATH_MAX];
        snprintf(acDir, sizeof acDir, "%s", pp->acDir);
        if (strcmp(acDir, ".") == 0 || strcmp(acDir, "/") == 0 ||
            !SplitPath(acDir, pp->acDir, sizeof pp->acDir, pp->acName, sizeof pp->acName))
            return 0;
        pp->bAbove = 1;
    }
    return 1;
}

/* Fills *pAbove with the place above the directory that *pp watches, for
 * that directory's name: the directory's removal or rename is told there
 * even while a file held open in it keeps its own watch from hearing of
 * it.  Leaves *pAbove unused when *pp already watches from above, or is
 * unused itself. */
static void PlaceAbove(struct MorvWatchPlace const *pp, struct MorvWatchPlace *pAbove)
{
    if (pp->acDir[0] == '\0' || pp->bAbove || !FindPlace(pp->acDir, pAbove)) {
        pAbove->acDir[0] = '\0';
        pAbove->acName[0] = '\0';
        pAbove->bAbove = 0;
        return;
    }
    pAbove->bAbove = 1;
}

/* The places psPath wants watched: its own, that of the file its links
 * lead to when that is elsewhere, and the place above each.  An unused
 * place has an empty acDir. */
static void PlacesWanted(char const *psPath, struct MorvWatchPlace aWanted[WATCH_PLACES])
{
    /* Unused places compare equal, name and all. */
    memset(aWanted, 0, WATCH_PLACES * sizeof *aWanted);
    for (int i = 0; i < WATCH_PLACES; i++)
        aWanted[i].iWatch = -1;
    if (!FindPlace(psPath, &aWanted[0]))
        aWanted[0].acDir[0] = '\0';
    char *psTarget = FollowLinks(psPath);
    if (psTarget != NULL && strcmp(psTarget, psPath) != 0 && !FindPlace(psTarget, &aWanted[1]))
        aWanted[1].acDir[0] = '\0';
    free(psTarget);
    PlaceAbove(&aWanted[0], &aWanted[2]);
    PlaceAbove(&aWanted[1], &aWanted[3]);
}

static int SamePlaces(struct MorvWatchPlace const *pa, struct MorvWatchPlace const *pb)
{
    for (int i = 0; i < WATCH_PLACES; i++)
        if (pa[i].bAbove != pb[i].bAbove || strcmp(pa[i].acDir, pb[i].acDir) != 0 ||
            strcmp(pa[i].acName, pb[i].acName) != 0)
            return 0;
    return 1;
}

/* Points the watch at the places its path wants now.  A directory that
 * appears between the look and the watch is caught by looking again once
 * the watch is in place.  Returns the number of places watched. */
static int MoveWatch(struct MorvWatch *pw)
{
    struct MorvWatchPlace aWanted[WATCH_PLACES];
    int nWatched = 0;
    for (int iRound = 0; iRound < 8; iRound++) {
        PlacesWanted(pw->acPath, aWanted);
        if (iRound > 0 && SamePlaces(aWanted, pw->aPlaces))
            break;
        struct MorvWatchPlace aOld[WATCH_PLACES];
        memcpy(aOld, pw->aPlaces, sizeof aOld);
        nWatched = 0;
        for (int i = 0; i < WATCH_PLACES; i++) {
            pw->aPlaces[i] = aWanted[i];
            if (aWanted[i].acDir[0] != '\0')
                pw->aPlaces[i].iWatch = inotify_add_watch(pw->fd, aWanted[i].acDir, uWatchMask);
            nWatched += pw->aPlaces[i].iWatch >= 0;
        }
        /* The same directory gets the same watch back: only those no
         * longer wanted go. */
        for (int i = 0; i < WATCH_PLACES; i++) {
            int bKept = aOld[i].iWatch < 0;
            for (int j = 0; j < WATCH_PLACES && !bKept; j++)
                bKept = pw->aPlaces[j].iWatch == aOld[i].iWatch;
            if (!bKept)
                inotify_rm_watch(pw->fd, aOld[i].iWatch);
        }
    }
    return nWatched;
}

int StartDirectoryWatch(char const *psPath, struct MorvWatch *pw)
{
    memset(pw, 0, sizeof *pw);
    pw->fd = -1;
    for (struct MorvWatchPlace &place : pw->aPlaces)
        place.iWatch = -1;
    char acDir[PATH_MAX], acName[NAME_MAX + 1];
    if (psPath == NULL || *psPath == '\0') {
        errno = ENOENT;
        return 0;
    }
    int n = snprintf(pw->acPath, sizeof pw->acPath, "%s", psPath);
    if (n < 0 || (size_t)n >= sizeof pw->acPath ||
        !SplitPath(psPath, acDir, sizeof acDir, acName, sizeof acName)) {
        errno = ENAMETOOLONG;
        return 0;
    }
    pw->fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (pw->fd < 0)
        return 0;
    errno = ENOENT;
    if (MoveWatch(pw) == 0) {
        int iErr = errno;
        EndDirectoryWatch(pw);
        errno = iErr;
        return 0;
    }
    return 1;
}

void EndDirectoryWatch(struct MorvWatch *pw)
{
    if (pw->fd >= 0)
        close(pw->fd);
    pw->fd = -1;
    for (struct MorvWatchPlace &place : pw->aPlaces)
        place.iWatch = -1;
}

int TakeWatchEvents(struct MorvWatch *pw)
{
    /* Aligned as the kernel writes whole events into it. */
    alignas(struct inotify_event) char ab[4096];
    int bConcerns = 0, bMove = 0;
    while (pw->fd >= 0) {
        ssize_t n = read(pw->fd, ab, sizeof ab);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t i = 0; i + (ssize_t)sizeof(struct inotify_event) <= n;) {
            struct inotify_event const *pe = (struct inotify_event const *)(ab + i);
            i += (ssize_t)sizeof(struct inotify_event) + (ssize_t)pe->len;
            if (pe->mask & IN_Q_OVERFLOW)
                bConcerns = bMove = 1;
            /* A link and its file may share a directory, and so a watch;
             * events of a watch already let go match no place. */
            for (struct MorvWatchPlace const &place : pw->aPlaces) {
                if (place.iWatch < 0 || place.iWatch != pe->wd)
                    continue;
                if (pe->mask & (uDirectoryEvents | IN_IGNORED)) {
                    bConcerns = bMove = 1;
                } else if (pe->len > 0 && strcmp(pe->name, place.acName) == 0) {
                    bConcerns = 1;
                    /* The name now stands for another file, maybe a link,
                     * or a directory on the way came back. */
                    if (place.bAbove || (pe->mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO)))
                        bMove = 1;
                }
            }
        }
    }
    if (bMove)
        MoveWatch(pw);
    return bConcerns;
}

enum FollowFinding LookAtFile(struct MorvFollow *pf, char const *psPath,
                              struct MorvSnapshot const *pKnown, struct MorvSnapshot const *pReacted,
                              struct MorvSnapshot *pNew)
{
    memset(pNew, 0, sizeof *pNew);
    struct MorvSnapshot snap;
    int bRead = SnapshotFile(psPath, 1, &snap);
    if (!bRead && errno == ENOMEM) {
        if (pf->llNotWholeSince == 0)
            pf->llNotWholeSince = MonotonicMs();
        return FOLLOW_RETRY;
    }
    if (SnapshotsEqual(&snap, pKnown) || (pReacted != NULL && SnapshotsEqual(&snap, pReacted))) {
        FreeSnapshot(&snap);
        pf->llNotWholeSince = 0;
        return FOLLOW_SAME;
    }
    if (!snap.bPresent) {
        pf->llNotWholeSince = 0;
        return FOLLOW_REMOVED;
    }
    enum FollowFinding e = FOLLOW_CHANGED;
    if (!SnapshotIsWhole(&snap)) {
        long long llNow = MonotonicMs();
        if (pf->llNotWholeSince == 0)
            pf->llNotWholeSince = llNow;
        if (llNow - pf->llNotWholeSince < FOLLOW_NOT_WHOLE_MS) {
            FreeSnapshot(&snap);
            return FOLLOW_RETRY;
        }
        e = FOLLOW_NOT_WHOLE;
    }
    pf->llNotWholeSince = 0;
    *pNew = snap;
    return e;
}
