/* msgload: times LoadMessageFile on one message file against the plainest
 * way to read the same file, an fgets loop over its lines.
 *
 *   morv_msgload HOME LANGUAGE [ROUNDS]
 *
 * HOME holds .xchat2/morvane/morv_LANGUAGE.msg.  Each round times one fgets
 * pass with stdio's default buffer, one with a 64 KiB buffer (the one the
 * loader reads through) and one load, in rotating order; before every load the catalogue
 * is emptied (untimed), so every load reads the whole file and notes every
 * text afresh.  Standard
 * output is sent to /dev/null for both, so the load's progress lines cost
 * what they cost in a program whose output is not a terminal.  Prints, on
 * the original standard output:
 *
 *   msgload  MEDIAN Q1 Q3   (milliseconds)
 *   fgets    MEDIAN Q1 Q3
 *   fgets64k MEDIAN Q1 Q3
 *   ratio    MEDIAN(msgload) / MEDIAN(fgets)
 *   ratio64k MEDIAN(msgload) / MEDIAN(fgets64k)
 *   rounds   N  lines L
 *
 *   morv_msgload --cold HOME LANGUAGE...
 *
 * loads the languages one over the other, once, as the editor does at
 * start-up, in this fresh process, and prints for each its milliseconds and
 * the minor page faults it took:  cold LANGUAGE MS FAULTS */
#include "support/mm.h"
#include "support/xchat.h"

#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <vector>

static double Now(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

/* Reads the file line by line into a buffer as large as the loader's and
 * returns the number of lines (so the loop cannot be optimised away).
 * With bLargeBuffer the stream reads through a 64 KiB buffer. */
static long FgetsPass(char const *psPath, int bLargeBuffer)
{
    static char acStdio[64 * 1024];
    FILE *f = fopen(psPath, "r");
    if (f == NULL)
        return -1;
    if (bLargeBuffer)
        setvbuf(f, acStdio, _IOFBF, sizeof acStdio);
    char acLine[4095];
    long lLines = 0;
    while (fgets(acLine, sizeof acLine, f) != NULL)
        lLines++;
    fclose(f);
    return lLines;
}

static void Quartiles(std::vector<double> v, double *pMedian, double *pQ1, double *pQ3)
{
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    auto at = [&](double q) {
        double x = q * (double)(n - 1);
        size_t i = (size_t)x;
        double frac = x - (double)i;
        return i + 1 < n ? v[i] * (1 - frac) + v[i + 1] * frac : v[i];
    };
    *pMedian = at(0.5);
    *pQ1 = at(0.25);
    *pQ3 = at(0.75);
}

static long MinorFaults(void)
{
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_minflt;
}

/* The start-up's loads, each timed once in a fresh process: the first one
 * fills the heap for the first time. */
static int Cold(int argc, char **argv)
{
    if (argc < 4 || chdir(argv[2]) != 0) {
        fprintf(stderr, "usage: morv_msgload --cold HOME LANGUAGE...\n");
        return 2;
    }
    FILE *fResults = fdopen(dup(1), "w");
    int nul = open("/dev/null", O_WRONLY);
    if (fResults == NULL || nul < 0 || dup2(nul, 1) < 0)
        return 2;
    close(nul);
    for (int i = 3; i < argc; i++) {
        long lFaults = MinorFaults();
        double t0 = Now();
        int iOk = LoadMessageFile(argv[i]);
        double t = Now() - t0;
        fprintf(fResults, "cold %s %.3f %ld\n", argv[i], t, MinorFaults() - lFaults);
        if (!iOk)
            return 1;
    }
    fclose(fResults);
    return 0;
}

int main(int argc, char **argv)
{
    /* The message files are found as the editor finds them for XChat 2. */
    SetXChatLayout(2);
    if (argc > 1 && strcmp(argv[1], "--cold") == 0)
        return Cold(argc, argv);
    if (argc < 3 || argc > 4) {
        fprintf(stderr, "usage: morv_msgload HOME LANGUAGE [ROUNDS]\n");
        return 2;
    }
    int iRounds = argc == 4 ? atoi(argv[3]) : 200;
    if (iRounds < 1 || chdir(argv[1]) != 0) {
        perror(argv[1]);
        return 2;
    }
    char acPath[4096];
    snprintf(acPath, sizeof acPath, ".xchat2/morvane/morv_%s.msg", argv[2]);

    /* Results go to the original standard output; the loader's lines go to
     * /dev/null. */
    FILE *fResults = fdopen(dup(1), "w");
    int nul = open("/dev/null", O_WRONLY);
    if (fResults == NULL || nul < 0 || dup2(nul, 1) < 0) {
        perror("morv_msgload");
        return 2;
    }
    close(nul);

    long lLines = FgetsPass(acPath, 0);
    if (lLines < 0 || !LoadMessageFile(argv[2])) {
        fprintf(stderr, "morv_msgload: %s does not load\n", acPath);
        return 1;
    }

    std::vector<double> vLoad, vFgets, vFgets64k;
    for (int r = 0; r < iRounds; r++) {
        for (int k = 0; k < 3; k++) {
            int iWhich = (r + k) % 3;
            if (iWhich < 2) {
                double t0 = Now();
                long l = FgetsPass(acPath, iWhich);
                (iWhich == 0 ? vFgets : vFgets64k).push_back(Now() - t0);
                if (l != lLines)
                    return 1;
            } else {
                FlushMessage();
                double t0 = Now();
                int iOk = LoadMessageFile(argv[2]);
                vLoad.push_back(Now() - t0);
                if (!iOk)
                    return 1;
            }
        }
    }
    fflush(stdout);

    double mL, q1L, q3L, mF, q1F, q3F, mB, q1B, q3B;
    Quartiles(vLoad, &mL, &q1L, &q3L);
    Quartiles(vFgets, &mF, &q1F, &q3F);
    Quartiles(vFgets64k, &mB, &q1B, &q3B);
    fprintf(fResults, "msgload %.3f %.3f %.3f\n", mL, q1L, q3L);
    fprintf(fResults, "fgets %.3f %.3f %.3f\n", mF, q1F, q3F);
    fprintf(fResults, "fgets64k %.3f %.3f %.3f\n", mB, q1B, q3B);
    fprintf(fResults, "ratio %.2f\n", mL / mF);
    fprintf(fResults, "ratio64k %.2f\n", mL / mB);
    fprintf(fResults, "rounds %d lines %ld\n", iRounds, lLines);
    fclose(fResults);
    return 0;
}
