/* morvrc_tool's reading and writing of files, in its own words and exit
 * statuses: what a reading of a morvrc, a kept version or an input text
 * found told as a complaint or a note, and the one update of a morvrc
 * ended with the tool's status. */
#include "cli/files.h"

#include "cli/home.h"
#include "cli/tool.h"
#include "settings/disk/history.h"
#include "settings/disk/walk.h"
#include "settings/morvrc/follow.h"
#include "settings/morvrc/lines.h"
#include "settings/morvrc/reading.h"
#include "settings/store/morv.h"
#include "settings/store/text.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

/* The most load reads: a dump of the longest morvrc, every byte of its
 * texts written as a four-character escape, with room to spare. */
#define LOAD_MAX_INPUT (8 * MORV_MAX_FILE)

/* Opens psInput for reading without waiting for a FIFO's writer; what is
 * then read waits for the data as any input does.  Returns the stream, or
 * null with errno set. */
static FILE *OpenInput(char const *psInput)
{
    int fd = open(psInput, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    int iFlags = fd >= 0 ? fcntl(fd, F_GETFL) : -1;
    FILE *f = iFlags >= 0 && fcntl(fd, F_SETFL, iFlags & ~O_NONBLOCK) == 0 ? fdopen(fd, "r") : NULL;
    if (f == NULL && fd >= 0) {
        int iErr = errno;
        close(fd);
        errno = iErr;
    }
    return f;
}

int ReadInputText(char const *psInput, char **ppText, size_t *puText)
{
    int bStdin = strcmp(psInput, "-") == 0;
    char const *psShown = bStdin ? "standard input" : psInput;
    FILE *f = bStdin ? stdin : OpenInput(psInput);
    if (f == NULL) {
        Complain("cannot read %s: %s", psShown, strerror(errno));
        return TS_IO;
    }
    size_t uCap = 0, uLen = 0;
    char *p = NULL;
    int iStatus = TS_OK;
    for (;;) {
        if (uLen == uCap) {
            if (uCap > LOAD_MAX_INPUT) {
                Complain("%s is longer than %d bytes, more than a dump of any morvrc", psShown,
                         LOAD_MAX_INPUT);
                iStatus = TS_USAGE;
                break;
            }
            /* One byte past the limit tells a longer input. */
            size_t uNew = uCap == 0 ? 65536 : uCap * 2;
            if (uNew > (size_t)LOAD_MAX_INPUT + 1)
                uNew = (size_t)LOAD_MAX_INPUT + 1;
            char *pNew = (char *)realloc(p, uNew);
            if (pNew == NULL) {
                iStatus = NoMemory();
                break;
            }
            p = pNew;
            uCap = uNew;
        }
        size_t n = fread(p + uLen, 1, uCap - uLen, f);
        uLen += n;
        if (n == 0) {
            if (ferror(f)) {
                Complain("cannot read %s: %s", psShown, strerror(errno));
                iStatus = TS_IO;
            }
            break;
        }
    }
    if (!bStdin)
        fclose(f);
    if (iStatus != TS_OK) {
        free(p);
        return iStatus;
    }
    *ppText = p;
    *puText = uLen;
    return TS_OK;
}

int IsVersionName(char const *psArg)
{
    long long ll;
    return psArg[0] == '@' && ParseDecimal(psArg + 1, 1, INT_MAX, &ll) && psArg[1] != '+' &&
           psArg[1] != '-';
}

int ListOrComplain(char const *psFile, struct MorvWalk const *pWalk, struct MorvVersionList *pList)
{
    struct MorvWalk walk;
    int bWalked = pWalk != NULL || WalkPath(psFile, &walk);
    int iErr = errno;
    if (!bWalked) {
        memset(pList, 0, sizeof *pList);
        pList->fdFolder = -1;
        Complain("cannot read the history of %s: %s", psFile, WalkErrorText(iErr));
        return TS_IO;
    }
    int bListed = ListVersions(pWalk != NULL ? pWalk : &walk, pList);
    iErr = errno;
    if (pWalk == NULL)
        EndWalk(&walk);
    if (bListed)
        return TS_OK;
    Complain("cannot read the history of %s%s%s: %s", psFile, pList->psFolder != NULL ? " in " : "",
             pList->psFolder != NULL ? pList->psFolder : "", strerror(iErr));
    FreeVersionList(pList);
    return TS_IO;
}

/* Reads version iNumber of *pList, the history of psFile, into *pSnap.
 * Returns TS_OK, or after a complaint TS_USAGE (not kept) or TS_IO. */
static int ReadNumbered(struct MorvVersionList const *pList, int iNumber, char const *psFile,
                        struct MorvSnapshot *pSnap)
{
    if (iNumber < 1 || iNumber > pList->iCount) {
        if (pList->iCount == 0)
            Complain("no version of %s is kept", psFile);
        else
            Complain("%s has %d version%s kept, not %d (morvrc_tool history %s lists them)", psFile,
                     pList->iCount, pList->iCount == 1 ? "" : "s", iNumber, psFile);
        return TS_USAGE;
    }
    if (ReadVersion(pList, &pList->pVersions[iNumber - 1], pSnap))
        return TS_OK;
    Complain("cannot read version %d of %s (%s/%s): %s", iNumber, psFile, pList->psFolder,
             pList->pVersions[iNumber - 1].acFile, strerror(errno));
    return TS_IO;
}

int ReadVersionOf(int iNumber, char const *psFile, struct MorvWalk const *pWalk,
                  struct MorvSnapshot *pSnap, char *psLabel, size_t uLabel)
{
    memset(pSnap, 0, sizeof *pSnap);
    snprintf(psLabel, uLabel, "version %d of %s", iNumber, psFile);
    struct MorvVersionList list;
    int iStatus = ListOrComplain(psFile, pWalk, &list);
    if (iStatus != TS_OK)
        return iStatus;
    iStatus = ReadNumbered(&list, iNumber, psFile, pSnap);
    FreeVersionList(&list);
    return iStatus;
}

char const *WalkErrorText(int iErr)
{
    return acWalkRefusal[0] != '\0' ? acWalkRefusal : ReadErrorText(iErr);
}

int LoadInput(char const *psPath, int bRegularOnly, struct MorvSnapshot *pSnap)
{
    if (SnapshotFile(psPath, bRegularOnly, pSnap))
        return TS_OK;
    int iErr = errno;
    Complain("cannot read %s: %s", psPath, WalkErrorText(iErr));
    NoteFreshHome(psPath, iErr);
    return TS_IO;
}

int SayTextForm(char const *psPath, struct MorvSnapshot const *pSnap, char *psOut, size_t uOut)
{
    enum MorvTextForm e = pSnap->bPresent ? TextFormOf(pSnap->pBytes, pSnap->uBytes) : MTF_NONE;
    char acWord[HOME_PATH + 8];
    ShellWord(psPath, acWord, sizeof acWord);
    char const *psJson = e == MTF_JSON ? " --json" : "";
    if (e != MTF_NONE)
        snprintf(psOut, uOut,
                 "%s is %s, not a morvrc: morvrc_tool load%s FILE %s (or morvrc_tool load%s FILE < "
                 "%s) applies it to the morvrc FILE",
                 psPath, e == MTF_JSON ? "a JSON document of settings as dump --json prints it"
                                       : "a text of settings as dump prints it",
                 psJson, acWord, psJson, acWord);
    return e != MTF_NONE;
}

/* Adds to psWhy (uWhy bytes in all), which says what is wrong with the
 * file psPath, "; " and its last whole version in the history, when there
 * is one (none for a null psPath). */
static void AddWayBack(char const *psPath, char *psWhy, size_t uWhy)
{
    char acWay[1024];
    size_t uLen = strlen(psWhy);
    if (psPath != NULL && PointToLastWholeVersion(psPath, acWay, sizeof acWay) && uLen < uWhy)
        snprintf(psWhy + uLen, uWhy - uLen, "; %s", acWay);
}

int LoadStore(char const *psPath, char const *psHistoryOf, struct MorvSnapshot const *pSnap,
              int iTimeBytes, struct MorvLoadReport *pr, struct MorvLayout *pLayout, char *psWhy,
              size_t uWhy)
{
    char acDetail[256] = "";
    char acSentence[2048];
    enum MorvOutcome e = ReadIntoStore(pSnap, iTimeBytes, pr, pLayout, acDetail, sizeof acDetail);
    if (e == MORV_WHOLE) {
        /* What the editor says of such a file, which it reads and saves. */
        if (DescribeReading(pr, pSnap->llSize, psPath, acSentence, sizeof acSentence)) {
            AddWayBack(psHistoryOf, acSentence, sizeof acSentence);
            fprintf(stderr, "morvrc_tool: note: %s\n", acSentence);
        }
        return TS_OK;
    }
    /* A text of settings is no morvrc to restore over. */
    if (SayTextForm(psPath, pSnap, psWhy, uWhy))
        return TS_DAMAGED;
    if (pSnap->llSize > MORV_MAX_FILE && pSnap->bPartial) {
        snprintf(psWhy, uWhy, "%s is longer than 1 MiB: no morvrc is longer than %d bytes", psPath,
                 MORV_MAX_FILE);
    } else if (pSnap->llSize > MORV_MAX_FILE) {
        snprintf(psWhy, uWhy, "%s is %lld bytes long, longer than 1 MiB: no morvrc is longer than %d bytes",
                 psPath, pSnap->llSize, MORV_MAX_FILE);
    } else if (e == MORV_TOO_OLD) {
        snprintf(psWhy, uWhy, "%s cannot be read: %s", psPath, acDetail);
    } else if (pr->bTimeRange) {
        DescribeReading(pr, pSnap->llSize, psPath, acSentence, sizeof acSentence);
        snprintf(psWhy, uWhy, "%s (the 64-bit morvrc_tool can read it)", acSentence);
        return TS_REFUSED;
    } else if (pr->info.eResult == MORV_READ_NO_MEMORY) {
        snprintf(psWhy, uWhy, "cannot read %s: %s", psPath, acDetail);
        return TS_IO;
    } else {
        snprintf(psWhy, uWhy,
                 "%s does not parse as a %d-bit file: %s (morvrc_tool check tells which width fits)",
                 psPath, pr->iTimeBytes * 8, acDetail);
    }
    AddWayBack(psHistoryOf, psWhy, uWhy);
    return TS_DAMAGED;
}

int LoadWhole(char const *psPath, int iTimeBytes, struct MorvLoadReport *pr,
              struct MorvLayout *pLayout)
{
    memset(pLayout, 0, sizeof *pLayout);
    struct MorvSnapshot snap;
    int iStatus = LoadInput(psPath, 0, &snap);
    if (iStatus != TS_OK)
        return iStatus;
    char acWhy[2048];
    iStatus = LoadStore(psPath, psPath, &snap, iTimeBytes, pr, pLayout, acWhy, sizeof acWhy);
    if (iStatus != TS_OK)
        Complain("%s", acWhy);
    FreeSnapshot(&snap);
    return iStatus;
}

int LoadOrStart(char const *psPath, struct MorvSnapshot const *pSnap, int iTimeBytes,
                struct MorvLoadReport *pr, struct MorvLayout *pLayout, int *pbNew,
                char *psDamage, size_t uDamage)
{
    memset(pLayout, 0, sizeof *pLayout);
    *pbNew = 0;
    if (pSnap->bPresent) {
        char acWhy[2048];
        int iStatus = LoadStore(psPath, psPath, pSnap, iTimeBytes, pr, pLayout, acWhy, sizeof acWhy);
        if (iStatus != TS_DAMAGED || psDamage == NULL) {
            if (iStatus != TS_OK)
                Complain("%s", acWhy);
            return iStatus;
        }
        /* Written afresh, at the width found where there is one; the
         * snapshot stays, so that only these bytes are replaced. */
        snprintf(psDamage, uDamage, "%s", acWhy);
        if (pr->info.eResult != MORV_READ_TOO_OLD)
            iTimeBytes = pr->iTimeBytes;
        *pbNew = 2;
    } else if (pSnap->iErrno != ENOENT) {
        Complain("cannot read %s: %s", psPath, ReadErrorText(pSnap->iErrno));
        return TS_IO;
    } else {
        /* The snapshot stays absent: the file must still be missing when
         * the new one is renamed into place. */
        *pbNew = 1;
    }
    StartStore(iTimeBytes, pr, pLayout);
    return TS_OK;
}

void NoteVersionChange(char const *psPath, struct MorvLoadReport const *pr, int bKeepsTail)
{
    struct MorvReadInfo const *pi = &pr->info;
    if (pi->iVersion < iSetupVersion)
        fprintf(stderr,
                "morvrc_tool: note: %s is version %d; the fields it does not hold are written "
                "with their initial values\n",
                psPath, pi->iVersion);
    else if (pi->iVersion > iSetupVersion && !bKeepsTail)
        fprintf(stderr,
                "morvrc_tool: note: %s is version %d; it is written as version %d, without the "
                "%lld bytes after field %d\n",
                psPath, pi->iVersion, iSetupVersion, pi->llSize - pi->llConsumed,
                LastFieldNumber());
}

int RefuseDamaged(char const *psPath, char const *psDamage, struct MorvSnapshot const *pSnap)
{
    if (pSnap->bPresent && TextFormOf(pSnap->pBytes, pSnap->uBytes) != MTF_NONE)
        Complain("%s; %s is unchanged", psDamage, psPath);
    else
        Complain("%s; %s is unchanged (another program may be writing it: try again once it is "
             "done; should it stay so, morvrc_tool reset --all %s, or a load that sets every "
             "setting, writes it afresh)",
             psDamage, psPath, psPath);
    return TS_DAMAGED;
}

void NoteRepair(char const *psPath, char const *psDamage, int bAll)
{
    fprintf(stderr, "morvrc_tool: note: %s; %s is written afresh from %s\n", psDamage, psPath,
            bAll ? "the settings given"
                 : "the catalogue defaults and the values the editor starts from");
}

/* Complains that psPath changed between its reading and its save.
 * Returns TS_CHANGED. */
static int ChangedMeanwhile(char const *psPath)
{
    Complain("%s was changed by another program while morvrc_tool was working; nothing was "
             "written (run the command again)",
             psPath);
    return TS_CHANGED;
}

/* Complains that the lock of psPath was not taken in iWait milliseconds.
 * Returns TS_CHANGED when another program held it, TS_IO otherwise. */
static int LockRefused(char const *psPath, int iWait)
{
    if (errno == EWOULDBLOCK) {
        Complain("another program is saving %s; nothing was written (waited %g seconds; --wait "
                 "SECONDS waits longer)",
                 psPath, iWait / 1000.0);
        return TS_CHANGED;
    }
    if (errno == ESTALE) {
        return ChangedMeanwhile(psPath);
    }
    /* A directory, a FIFO or a device is never saved over. */
    if (errno == EISDIR || errno == EINVAL)
        Complain("cannot read %s: %s", psPath, ReadErrorText(errno));
    else if (acWalkRefusal[0] != '\0')
        Complain("cannot write %s: %s; the file is unchanged", psPath, acWalkRefusal);
    else
        Complain("cannot lock %s for saving: %s; the file is unchanged", psPath, strerror(errno));
    return TS_IO;
}

char const *psSavingVerb = NULL;

int BeginSaving(char const *psPath, int iWaitMillis, int bForce, struct MorvUpdate *pu)
{
    int iWait = iWaitMillis >= 0 ? iWaitMillis : MORV_LOCK_WAIT_MS;
    /* Lives as long as the process: the update keeps a pointer to it. */
    static char acSaver[64];
    snprintf(acSaver, sizeof acSaver, "morvrc_tool %s", psSavingVerb != NULL ? psSavingVerb : "save");
    if (!BeginUpdate(pu, psPath, iWait, acSaver))
        return LockRefused(psPath, iWait);
    /* A text of settings is no morvrc being written: a backup, or an
     * input named where FILE goes, never written over unasked. */
    char acText[2 * HOME_PATH + 256];
    if (SayTextForm(psPath, &pu->snFound, acText, sizeof acText)) {
        if (bForce)
            return TS_OK;
        Complain("%s; %s is unchanged", acText, psPath);
        AbandonUpdate(pu);
        return TS_DAMAGED;
    }
    /* A file that another program is writing just now is not damage. */
    AwaitWholeFile(pu, FOLLOW_NOT_WHOLE_MS);
    return TS_OK;
}

int ResumeSaving(struct MorvUpdate *pu, int iWaitMillis)
{
    int iWait = iWaitMillis >= 0 ? iWaitMillis : MORV_LOCK_WAIT_MS;
    return ResumeUpdate(pu, iWait) ? TS_OK : LockRefused(pu->psPath, iWait);
}

int SaveUpdate(struct MorvUpdate *pu, struct MorvLayout const *pLayout)
{
    char const *psPath = pu->psPath;
    if (CommitUpdate(pu, pLayout)) {
        if (pu->report.bInPlace)
            fputs("morvrc_tool: ", stderr);
        TellInPlace(stderr, psPath, &pu->report);
        return TS_OK;
    }
    int iErr = errno;
    /* Too large for a morvrc, as opposed to a write that a file-size limit
     * stopped, which names the file that refused. */
    if ((iErr == EOVERFLOW || iErr == EFBIG) && pu->report.acRefusedBy[0] == '\0') {
        Complain("cannot write %s: %s; nothing was written", psPath,
                 iErr == EFBIG ? "the file would be longer than the most a morvrc may hold"
                               : "a value does not fit the file");
        return TS_REFUSED;
    }
    if (iErr == ESTALE) {
        return ChangedMeanwhile(psPath);
    }
    Complain("cannot write %s: %s; %s %s",
             pu->report.acRefusedBy[0] != '\0' ? pu->report.acRefusedBy : psPath, strerror(iErr), psPath,
             LeftInFile(&pu->report));
    return TS_IO;
}

int FinishSave(int iStatus, struct MorvUpdate *pu, int bNew, struct MorvLoadReport const *pr,
               struct MorvLayout *pLayout)
{
    if (iStatus == TS_OK && !bNew)
        NoteVersionChange(pu->psPath, pr, 1);
    if (iStatus == TS_OK)
        iStatus = SaveUpdate(pu, pLayout);
    else
        AbandonUpdate(pu);
    FreeLayout(pLayout);
    return iStatus;
}
