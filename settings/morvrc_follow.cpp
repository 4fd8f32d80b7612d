/* Following a morvrc as other programs rewrite it: the watch on its
 * directory, and the look after a quiet period that tells a finished new
 * file from one still being written. */
#include "settings/morvrc_follow.h"

#include "settings/morvrc_format.h"
#include "support/clock.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/inotify.h>
#include <unistd.h>

/* What becomes of a file in the directory: written, replaced, created,
 * removed; and what becomes of the directory itself. */
static const unsigned uFileEvents =
    IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB;
static const unsigned uDirectoryEvents = IN_DELETE_SELF | IN_MOVE_SELF;

int StartDirectoryWatch(char const *psPath, struct MorvWatch *pw)
{
    pw->fd = -1;
    pw->iWatch = -1;
    pw->acName[0] = '\0';
    if (psPath == NULL || *psPath == '\0') {
        errno = ENOENT;
        return 0;
    }
    char acDir[PATH_MAX];
    char const *psSlash = strrchr(psPath, '/');
    char const *psName = psSlash != NULL ? psSlash + 1 : psPath;
    int n = psSlash == NULL    ? snprintf(acDir, sizeof acDir, ".")
            : psSlash == psPath ? snprintf(acDir, sizeof acDir, "/")
                                : snprintf(acDir, sizeof acDir, "%.*s", (int)(psSlash - psPath), psPath);
    if (n < 0 || (size_t)n >= sizeof acDir || strlen(psName) >= sizeof pw->acName || *psName == '\0') {
        errno = ENAMETOOLONG;
        return 0;
    }
    int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        return 0;
    int iWatch = inotify_add_watch(fd, acDir, uFileEvents | uDirectoryEvents | IN_ONLYDIR);
    if (iWatch < 0) {
        int iErr = errno;
        close(fd);
        errno = iErr;
        return 0;
    }
    pw->fd = fd;
    pw->iWatch = iWatch;
    snprintf(pw->acName, sizeof pw->acName, "%s", psName);
    return 1;
}

void EndDirectoryWatch(struct MorvWatch *pw)
{
    if (pw->fd >= 0)
        close(pw->fd);
    pw->fd = -1;
    pw->iWatch = -1;
}

int TakeWatchEvents(struct MorvWatch *pw, int *pbGone)
{
    /* Aligned as the kernel writes whole events into it. */
    alignas(struct inotify_event) char ab[4096];
    int bConcerns = 0;
    *pbGone = 0;
    while (pw->fd >= 0) {
        ssize_t n = read(pw->fd, ab, sizeof ab);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t i = 0; i + (ssize_t)sizeof(struct inotify_event) <= n;) {
            struct inotify_event const *pe = (struct inotify_event const *)(ab + i);
            if (pe->mask & IN_Q_OVERFLOW)
                bConcerns = 1;
            if (pe->mask & (uDirectoryEvents | IN_IGNORED))
                *pbGone = 1;
            else if (pe->len > 0 && strcmp(pe->name, pw->acName) == 0)
                bConcerns = 1;
            i += (ssize_t)sizeof(struct inotify_event) + (ssize_t)pe->len;
        }
    }
    if (*pbGone)
        EndDirectoryWatch(pw);
    return bConcerns;
}

int SnapshotsEqual(struct MorvSnapshot const *pa, struct MorvSnapshot const *pb)
{
    if (!pa->bPresent || !pb->bPresent)
        return !pa->bPresent && !pb->bPresent;
    return pa->llSize == pb->llSize && pa->uBytes == pb->uBytes &&
           (pa->uBytes == 0 || memcmp(pa->pBytes, pb->pBytes, pa->uBytes) == 0);
}

int SnapshotIsWhole(struct MorvSnapshot const *pSnap)
{
    if (!pSnap->bPresent || pSnap->llSize > MORV_MAX_FILE)
        return 0;
    struct MorvReadInfo info;
    ScanSetup(pSnap->pBytes, pSnap->uBytes, FindTimeBytes(pSnap), &info);
    return ImageIsWhole(&info);
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
