/* morvrc_tool's edit, as crontab -e and git config --edit work: the dump of
 * a morvrc in a temporary file, the user's editor on it, the text checked
 * as load checks it (again and again while the user wants to mend it), and
 * the file saved only when nobody changed it meanwhile. */
#include "cli/files.h"
#include "cli/home.h"
#include "cli/verbs.h"
#include "settings/morvrc/lines.h"
#include "settings/morvrc/reading.h"
#include "settings/store/morv.h"
#include "settings/store/text.h"
#include "settings/store/values.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

/* Writes uLen bytes at p, after the line psComment when it is not null,
 * over the file psPath.  Returns 1, or 0 after a complaint. */
static int WriteText(char const *psPath, char const *psComment, char const *p, size_t uLen)
{
    FILE *f = fopen(psPath, "w");
    if (f == NULL) {
        Complain("cannot write %s: %s", psPath, strerror(errno));
        return 0;
    }
    if (psComment != NULL)
        fprintf(f, "# %s\n", psComment);
    fwrite(p, 1, uLen, f);
    int bGood = !ferror(f);
    if (fclose(f) != 0)
        bGood = 0;
    if (!bGood)
        Complain("cannot write %s: %s", psPath, strerror(errno));
    return bGood;
}

/* What a fatal signal prints before it ends edit: where the text is kept. */
static char acSignalNote[HOME_PATH + 96];
static size_t uSignalNote = 0;

/* Tells where the text is kept, then dies of iSignal as it would have. */
static void KeepOnSignal(int iSignal)
{
    if (write(STDERR_FILENO, acSignalNote, uSignalNote) < 0)
        uSignalNote = 0;
    signal(iSignal, SIG_DFL);
    raise(iSignal);
}

/* Writes into psTemp the lines of the settings that differ from *pBefore
 * (FormatChangedLines).  Returns 1, or 0 after a complaint. */
static int KeepChanges(char const *psTemp, struct MorvValues const *pBefore)
{
    size_t uText = 0;
    char *psText = FormatChangedLines(pBefore, &uText);
    int bKept = psText != NULL && WriteText(psTemp, NULL, psText, uText);
    if (psText == NULL)
        Complain("out of memory");
    free(psText);
    return bKept;
}

/* Runs the user's editor on psPath and waits for it.  Returns 1 when it
 * ended with status 0, or 0 after a complaint. */
static int RunEditor(char const *psPath)
{
    char const *psEditor = getenv("VISUAL");
    if (psEditor == NULL || psEditor[0] == '\0')
        psEditor = getenv("EDITOR");
    if (psEditor == NULL || psEditor[0] == '\0')
        psEditor = "vi";
    /* Through the shell, so that an editor given with options works, with
     * the file name passed as a word of its own. */
    size_t uCommand = strlen(psEditor) + 8;
    char *psCommand = (char *)malloc(uCommand);
    if (psCommand == NULL) {
        Complain("out of memory");
        return 0;
    }
    snprintf(psCommand, uCommand, "%s \"$1\"", psEditor);
    fflush(NULL);
    pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", psCommand, "sh", psPath, (char *)NULL);
        _exit(127);
    }
    free(psCommand);
    int iStatus = 0;
    if (pid < 0 || waitpid(pid, &iStatus, 0) < 0) {
        Complain("cannot start the editor %s: %s", psEditor, strerror(errno));
        return 0;
    }
    if (WIFEXITED(iStatus) && WEXITSTATUS(iStatus) == 0)
        return 1;
    Complain("the editor %s ended with status %d", psEditor,
             WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : 128 + WTERMSIG(iStatus));
    return 0;
}

/* Asks whether to edit again.  Returns 1 for e, 0 for q or the end of
 * standard input. */
static int AskAgain(void)
{
    for (;;) {
        fputs("Edit again (e) or quit without saving (q)? ", stderr);
        fflush(stderr);
        char acAnswer[64];
        if (fgets(acAnswer, sizeof acAnswer, stdin) == NULL) {
            fputc('\n', stderr); /* the answer that never came ends the line */
            return 0;
        }
        if (acAnswer[0] == 'e' || acAnswer[0] == 'E')
            return 1;
        if (acAnswer[0] == 'q' || acAnswer[0] == 'Q')
            return 0;
    }
}

/* Puts the store back to what FILE held when it was read: *pSnap read whole
 * at iTimeBytes, or the start values for a file that did not exist. */
static void RestoreStore(struct MorvSnapshot const *pSnap, int bNew, int iTimeBytes,
                         struct MorvLayout *pLayout)
{
    struct MorvLoadReport report;
    int iWidth = pLayout->iTimeBytes;
    char acWhy[16];
    /* It read whole before, so it does again. */
    if (bNew)
        StartStore(iWidth, &report, pLayout);
    else
        ReadIntoStore(pSnap, iTimeBytes, &report, pLayout, acWhy, sizeof acWhy);
    pLayout->iTimeBytes = iWidth;
}

/* The length of the first line of pText (uText bytes), its line feed
 * included, when it is a heading edit put there: dump's version line or
 * an error; 0 otherwise. */
static size_t HeadingLength(char const *pText, size_t uText)
{
    static char const *const apsHeadings[] = {"# morvrc version ", "# error: "};
    char const *pEnd = (char const *)memchr(pText, '\n', uText);
    for (char const *ps : apsHeadings)
        if (pEnd != NULL && uText > strlen(ps) && memcmp(pText, ps, strlen(ps)) == 0)
            return (size_t)(pEnd - pText) + 1;
    return 0;
}

/* Opens the text *ppText (*puText bytes, malloc'd) in the editor, in the
 * file psTemp, until it applies to the store or the user quits; *ppText is
 * then the last text shown.  A bad line is numbered as in the text the
 * user saved, and the text opened again has the error in place of its
 * heading, so that its lines keep their numbers.  Returns TS_OK with the
 * store changed, TS_NO for a text left as it was, or TS_USAGE after the
 * user quit (*pbKept 1: psTemp holds the user's text) or the editor
 * failed. */
static int EditUntilGood(char const *psTemp, char **ppText, size_t *puText,
                         struct MorvSnapshot const *pSnap, int bNew, int iTimeBytes,
                         struct MorvLayout *pLayout, int *pbKept)
{
    char acError[600];
    char const *psComment = NULL;
    for (;;) {
        if (!WriteText(psTemp, psComment, *ppText, *puText) || !RunEditor(psTemp))
            return TS_USAGE;
        char *pEdited;
        size_t uEdited;
        if (ReadInputText(psTemp, &pEdited, &uEdited) != TS_OK)
            return TS_USAGE;
        if (psComment == NULL && uEdited == *puText && memcmp(pEdited, *ppText, uEdited) == 0) {
            free(pEdited);
            return TS_NO;
        }
        RestoreStore(pSnap, bNew, iTimeBytes, pLayout);
        int iLine;
        char acWhy[512];
        int bGood = ApplySettingLines(pEdited, uEdited, iTimeBytes, &iLine, acWhy, sizeof acWhy, NULL);
        free(*ppText);
        *ppText = pEdited;
        *puText = uEdited;
        if (bGood)
            return TS_OK;
        Complain("%s, line %d: %s", psTemp, iLine, acWhy);
        if (!AskAgain()) {
            fprintf(stderr, "morvrc_tool: your text is kept in %s\n", psTemp);
            *pbKept = 1;
            return TS_USAGE;
        }
        /* The text as the user left it, its heading given to the error. */
        size_t uDrop = HeadingLength(pEdited, uEdited);
        memmove(pEdited, pEdited + uDrop, uEdited - uDrop);
        *puText = uEdited - uDrop;
        snprintf(acError, sizeof acError, "error: line %d: %s", iLine + (uDrop == 0), acWhy);
        psComment = acError;
    }
}

int Edit(int argc, char **argv, struct Options const *po)
{
    if (!ArgumentCount("edit", argc, 0, 1))
        return TS_USAGE;
    UseHomeRows(po, 1);
    char acRc[HOME_PATH];
    char const *psPath = PickFile(po, "edit", argc == 1, argv[0], 1, acRc);
    if (psPath == NULL)
        return TS_USAGE;
    bRangesForced = po->bForce;

    struct MorvLoadReport report;
    struct MorvLayout layout = {0, 0, NULL, 0};
    int bNew;
    char acDamage[2048];
    /* The lock is not held while the user edits: the save takes it again,
     * and writes only over the file as it was read here. */
    struct MorvUpdate up;
    int iStatus = BeginSaving(psPath, po->iWaitMs, po->bForce, &up);
    if (iStatus != TS_OK)
        return iStatus;
    PauseUpdate(&up);
    iStatus = LoadOrStart(psPath, &up.snFound, po->iBits, &report, &layout, &bNew, acDamage,
                          sizeof acDamage);
    if (iStatus == TS_OK && bNew == 2)
        iStatus = RefuseDamaged(psPath, acDamage, &up.snFound);
    /* The store's dump, as dump prints it, for a file of its version. */
    struct MorvReadInfo info;
    memset(&info, 0, sizeof info);
    info.iVersion = bNew ? iSetupVersion : report.iVersion;
    size_t uText = 0;
    char *pText = iStatus == TS_OK ? FormatDump(&info, 0, &uText) : NULL;
    if (iStatus == TS_OK && pText == NULL)
        iStatus = NoMemory();
    char const *psDir = getenv("TMPDIR");
    char acTemp[HOME_PATH];
    snprintf(acTemp, sizeof acTemp, "%s/morvrc_tool-edit-XXXXXX",
             psDir != NULL && psDir[0] != '\0' ? psDir : "/tmp");
    int fd = -1;
    if (iStatus == TS_OK && (fd = mkstemp(acTemp)) < 0) {
        Complain("cannot create a file for the text in %s: %s", acTemp, strerror(errno));
        iStatus = TS_IO;
    }
    if (fd >= 0)
        close(fd);
    snprintf(acSignalNote, sizeof acSignalNote,
             "\nmorvrc_tool: edit ended by a signal; your text is kept in %s\n", acTemp);
    uSignalNote = strlen(acSignalNote);
    static const int aiSignals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGTERM,
                                    SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2};
    for (size_t k = 0; fd >= 0 && k < sizeof aiSignals / sizeof aiSignals[0]; k++)
        signal(aiSignals[k], KeepOnSignal);
    struct MorvValues before;
    if (iStatus == TS_OK && !TakeStoreValues(&before))
        iStatus = NoMemory();
    int bKeepText = 0;
    if (iStatus == TS_OK) {
        iStatus = EditUntilGood(acTemp, &pText, &uText, &up.snFound, bNew, report.iTimeBytes, &layout,
                                &bKeepText);
        if (iStatus == TS_NO) {
            fprintf(stderr, "morvrc_tool: no change\n");
            iStatus = TS_OK;
        } else if (iStatus == TS_USAGE) {
            fprintf(stderr, "morvrc_tool: %s is unchanged\n", psPath);
        } else {
            if (!bNew)
                NoteVersionChange(psPath, &report, 1);
            iStatus = ResumeSaving(&up, po->iWaitMs);
            if (iStatus == TS_OK)
                iStatus = SaveUpdate(&up, &layout);
            /* The user's work is not lost with the file, nor anyone else's. */
            if (iStatus != TS_OK && (bKeepText = KeepChanges(acTemp, &before)))
                fprintf(stderr,
                        "morvrc_tool: your changes alone are kept in %s (morvrc_tool load %s %s "
                        "applies them and changes nothing else)\n",
                        acTemp, psPath, acTemp);
        }
        FreeValues(&before);
    }
    uSignalNote = 0;
    if (fd >= 0 && !bKeepText)
        unlink(acTemp);
    free(pText);
    AbandonUpdate(&up);
    FreeLayout(&layout);
    return iStatus;
}
