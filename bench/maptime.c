/* maptime: starts one program and reports how long it took from its exec to
 * the mapping of its top-level window, and to the first drawing into that
 * window, then kills it.
 *
 *   morv_maptime [--title TEXT] [--timeout MS] [--private-tmp] [--out FILE]
 *                -- PROGRAM [ARG...]
 *
 * Prints one line on standard output: the milliseconds from exec to the
 * MapNotify and from exec to the first drawing, with three decimals each,
 * and the number of minor page faults the program had taken by the time it
 * was killed, separated by blanks.  Exit status 0 on success; 1 when the program ended, or the
 * timeout passed, before a matching window was mapped; 2 for a wrong
 * command line or no display.
 *
 * How it measures: the helper selects SubstructureNotify on the root window
 * of $DISPLAY before starting the program, so the server reports every
 * MapNotify of a top-level window.  The child reads CLOCK_MONOTONIC right
 * before execve and passes the reading up a close-on-exec pipe, so the
 * fork and any set-up in the child are not counted.  The MapNotify is
 * stamped when the helper reads it; the helper does nothing else meanwhile,
 * so the delay is that of one poll wake-up.  A window counts only when its
 * WM_NAME contains TEXT (any window when TEXT is empty), so an alert box or
 * a tooltip mapped first is not taken for the main window.
 *
 * The first drawing is the first DamageNotify (X DAMAGE extension) of that
 * window after its MapNotify.  A double-buffered FLTK window draws its whole
 * content off screen and copies it in one request, so this is the moment
 * the complete first frame is on the screen.  It comes after everything the
 * program does between showing the window and entering its event loop.
 * The program must not give its window a background pixel (FLTK sets one
 * only in show(argc, argv)), or the server's painting of the background
 * would be taken for the first drawing.
 *
 * --private-tmp runs the program with a private, empty /tmp (its own mount
 * namespace with a tmpfs on /tmp; needs root).  Programs that append to a
 * fixed path under /tmp can then run many times without touching, or being
 * disturbed by, anybody else's file there.  The X connection still works:
 * on Linux the X server also listens on an abstract socket, which lives
 * outside the file system.
 *
 * --out FILE sends the program's standard output and error to FILE instead
 * of /dev/null. */
#define _GNU_SOURCE
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double Now(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

/* A window may be gone by the time its name is asked for. */
static int IgnoreXError(Display *d, XErrorEvent *e)
{
    (void)d;
    (void)e;
    return 0;
}

static int Matches(Display *d, Window w, char const *psTitle)
{
    if (*psTitle == '\0')
        return 1;
    char *psName = NULL;
    int bMatch = 0;
    if (XFetchName(d, w, &psName) && psName != NULL) {
        bMatch = strstr(psName, psTitle) != NULL;
        XFree(psName);
    }
    return bMatch;
}

/* In the child: a private /tmp, so that the program's files there are its
 * own and vanish with it. */
static void PrivateTmp(void)
{
    if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", NULL, MS_REC | MS_PRIVATE, NULL) != 0 ||
        mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") != 0) {
        fprintf(stderr, "maptime: private /tmp: %s\n", strerror(errno));
        _exit(126);
    }
}

static void Usage(void)
{
    fprintf(stderr, "usage: morv_maptime [--title TEXT] [--timeout MS] [--private-tmp] [--out FILE] "
                    "-- PROGRAM [ARG...]\n");
    exit(2);
}

int main(int argc, char **argv)
{
    char const *psTitle = "";
    char const *psOut = "/dev/null";
    double dTimeout = 20000;
    int bPrivateTmp = 0;
    int i = 1;
    for (; i < argc; i++) {
        if (strcmp(argv[i], "--") == 0) {
            i++;
            break;
        } else if (strcmp(argv[i], "--title") == 0 && i + 1 < argc) {
            psTitle = argv[++i];
        } else if (strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
            dTimeout = atof(argv[++i]);
        } else if (strcmp(argv[i], "--out") == 0 && i + 1 < argc) {
            psOut = argv[++i];
        } else if (strcmp(argv[i], "--private-tmp") == 0) {
            bPrivateTmp = 1;
        } else {
            Usage();
        }
    }
    if (i >= argc)
        Usage();

    Display *d = XOpenDisplay(NULL);
    if (d == NULL) {
        fprintf(stderr, "maptime: cannot open display %s\n", XDisplayName(NULL));
        return 2;
    }
    XSetErrorHandler(IgnoreXError);
    Window root = DefaultRootWindow(d);
    int iDamageEvent, iDamageError;
    if (!XDamageQueryExtension(d, &iDamageEvent, &iDamageError)) {
        fprintf(stderr, "maptime: the X server has no DAMAGE extension\n");
        return 2;
    }
    XSelectInput(d, root, SubstructureNotifyMask);
    XSync(d, False); /* the selection is in force before the program starts */

    int aiPipe[2];
    if (pipe2(aiPipe, O_CLOEXEC) != 0) {
        perror("maptime: pipe");
        return 2;
    }
    fflush(NULL);
    pid_t pid = fork();
    if (pid < 0) {
        perror("maptime: fork");
        return 2;
    }
    if (pid == 0) {
        close(aiPipe[0]);
        close(ConnectionNumber(d));
        if (bPrivateTmp)
            PrivateTmp();
        int fd = open(psOut, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
            close(fd);
        }
        int nul = open("/dev/null", O_RDONLY);
        if (nul >= 0) {
            dup2(nul, 0);
            close(nul);
        }
        double dStart = Now();
        if (write(aiPipe[1], &dStart, sizeof dStart) != (ssize_t)sizeof dStart)
            _exit(126);
        execvp(argv[i], argv + i);
        _exit(127);
    }
    close(aiPipe[1]);
    double dStart = 0;
    if (read(aiPipe[0], &dStart, sizeof dStart) != (ssize_t)sizeof dStart) {
        fprintf(stderr, "maptime: the child did not start\n");
        waitpid(pid, NULL, 0);
        return 1;
    }
    close(aiPipe[0]);

    int iResult = 1;
    Window wMapped = None;
    double dMapped = 0, dPainted = 0;
    double dDeadline = dStart + dTimeout;
    for (;;) {
        while (XPending(d) > 0) {
            XEvent ev;
            XNextEvent(d, &ev);
            double t = Now();
            if (ev.type == CreateNotify && ev.xcreatewindow.parent == root) {
                /* Every new top-level window is watched from its creation
                 * on, long before anything can be drawn into it. */
                XDamageCreate(d, ev.xcreatewindow.window, XDamageReportRawRectangles);
            } else if (ev.type == MapNotify && wMapped == None) {
                if (Matches(d, ev.xmap.window, psTitle)) {
                    wMapped = ev.xmap.window;
                    dMapped = t;
                }
            } else if (ev.type == iDamageEvent + XDamageNotify && wMapped != None &&
                       ((XDamageNotifyEvent *)&ev)->drawable == wMapped) {
                dPainted = t;
                iResult = 0;
                goto done;
            }
        }
        int iStatus;
        if (waitpid(pid, &iStatus, WNOHANG) == pid) {
            fprintf(stderr, "maptime: %s ended (status 0x%x) before its window was %s\n", argv[i], iStatus,
                    wMapped == None ? "mapped" : "drawn");
            pid = 0;
            goto done;
        }
        double dLeft = dDeadline - Now();
        if (dLeft <= 0) {
            fprintf(stderr, "maptime: no window titled \"%s\" %s within %.0f ms\n", psTitle,
                    wMapped == None ? "mapped" : "drawn", dTimeout);
            goto done;
        }
        /* Wake up for X events at once; look at the child now and then. */
        struct pollfd p = {ConnectionNumber(d), POLLIN, 0};
        poll(&p, 1, dLeft < 50 ? (int)dLeft + 1 : 50);
    }
done:;
    struct rusage ru;
    memset(&ru, 0, sizeof ru);
    if (pid > 0) {
        kill(pid, SIGKILL);
        wait4(pid, NULL, 0, &ru);
    }
    XCloseDisplay(d);
    if (iResult == 0)
        printf("%.3f %.3f %ld\n", dMapped - dStart, dPainted - dStart, ru.ru_minflt);
    return iResult;
}
