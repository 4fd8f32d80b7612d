/* The editor's run log: every step appended as "pid_seconds : text" to
 * the one log file of the machine, never through a link planted in /tmp
 * or into another user's file. */
#include "editor/runlog.h"

#include "settings/store/morv.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

char const *psLogFile = "/tmp/morvane_setup.log";

static FILE *fOutput = NULL;

/* Lines held by HoldRunLog, whole lines only, so that a flush never splits
 * a line between two writes into the log that every run appends to. */
static char acHeld[16 * 1024];
static size_t uHeld = 0;
static int bHold = 0;

/* Appends the held lines to the open log in one write. */
static void WriteHeld(void)
{
    if (uHeld > 0 && fOutput != NULL && fflush(fOutput) == 0) {
        size_t uDone = 0;
        while (uDone < uHeld) {
            ssize_t lWritten = write(fileno(fOutput), acHeld + uDone, uHeld - uDone);
            if (lWritten <= 0 && !(lWritten < 0 && errno == EINTR))
                break; /* a log that cannot take them loses them, as it would lose the lines */
            if (lWritten > 0)
                uDone += (size_t)lWritten;
        }
    }
    uHeld = 0;
}

void HoldRunLog(void)
{
    bHold = 1;
}

void ReleaseRunLog(void)
{
    WriteHeld();
    bHold = 0;
}

/* Opens the run log for appending.  Its name is fixed and /tmp is shared,
 * so a link planted there, or a file of another user, is refused rather
 * than written through.  Returns the stream, or null with errno set. */
static FILE *OpenLogFile(char const *psPath)
{
    int fd = open(psPath, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0)
        return NULL;
    struct stat st;
    int iErr = 0;
    if (fstat(fd, &st) != 0)
        iErr = errno;
    else if (!S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_nlink != 1)
        iErr = EPERM;
    else if (fcntl(fd, F_SETFL, O_APPEND) != 0) /* O_NONBLOCK only kept a FIFO from blocking */
        iErr = errno;
    FILE *f = iErr ? NULL : fdopen(fd, "a");
    if (f == NULL) {
        iErr = iErr ? iErr : errno;
        close(fd);
        errno = iErr;
    }
    return f;
}

int WriteLog(char const *msg)
{
    static time_t tFirstCall = 0;
    static char *psPreviousLogFile = NULL;
    static int iNumeroChiamate = 0;
    static int iOpenError = 0; /* errno of the last failed open, 0 after a good one */

    time_t tNow = time(NULL);
    if (tFirstCall == 0)
        tFirstCall = tNow;
    iNumeroChiamate++;

    if (psLogFile == NULL || *psLogFile == '\0') {
        printf("Nome del file log errato !");
        return 1;
    }

    /* A stream closed after the previous line (iFlagDebugModeFnc) is opened
     * again even when that flag has been switched off since; only a failed
     * open waits for a forced reopen. */
    if (psPreviousLogFile == NULL || strcmp(psPreviousLogFile, psLogFile) != 0 || iFlagDebugModeFnc ||
        iFlagDebugMode || (fOutput == NULL && iOpenError == 0)) {
        WriteHeld();
        if (fOutput != NULL)
            fclose(fOutput);
        fOutput = OpenLogFile(psLogFile);
        iOpenError = fOutput == NULL ? errno : 0;
        free(psPreviousLogFile);
        psPreviousLogFile = strdup(psLogFile);
    }

    if (fOutput == NULL) {
        printf("\nImpossibile aprire il file %s in scrittura a causa dell'errore %s .", psLogFile,
               strerror(iOpenError));
        return 0;
    }

    char *psLine;
    int iLen;
    if (msg != NULL && *msg != '\0') {
        size_t uSize = strlen(msg) + 256;
        psLine = (char *)malloc(uSize);
        if (psLine == NULL)
            return 0;
        iLen = snprintf(psLine, uSize, "%d_%05d : %s\n", (int)getpid(), (int)(tNow - tFirstCall), msg);
    } else {
        psLine = (char *)malloc(1023);
        if (psLine == NULL)
            return 0;
        iLen = snprintf(psLine, 1023,
                        "\nATTENZIONE:_La funzione \"WriteLog()\" e' stata invocata con parametri errati "
                        "alla chiamata Nro: %d\n",
                        iNumeroChiamate);
    }
    /* A stream closed after every line (iFlagDebugModeFnc) holds nothing. */
    if (bHold && !iFlagDebugModeFnc && iLen > 0 && (size_t)iLen <= sizeof acHeld) {
        if (uHeld + (size_t)iLen > sizeof acHeld)
            WriteHeld();
        memcpy(acHeld + uHeld, psLine, (size_t)iLen);
        uHeld += (size_t)iLen;
        free(psLine);
        return 1;
    }
    WriteHeld();
    if (iLen > 0)
        fwrite(psLine, 1, (size_t)iLen, fOutput);
    free(psLine);
    fflush(fOutput);

    if (iFlagDebugModeFnc) {
        fclose(fOutput);
        fOutput = NULL;
    }
    return 1;
}

