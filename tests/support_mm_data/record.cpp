/* Records what the message catalogue answers for the message files of this
 * directory, as tests/support_mm_test.cpp reads it back: texts.txt
 * was written by this program built against support/mm.cpp of commit
 * 917d507, the catalogue that copied and unescaped every text at load time,
 * and is kept as that catalogue's answers.  It is not part of the build;
 * to record again from that commit, in a checkout of it:
 *
 *   g++ -std=c++17 -D_FILE_OFFSET_BITS=64 -I. tests/support_mm_data/record.cpp \
 *       support/mm.cpp support/function.cpp support/xchat.cpp -o /tmp/record
 *   /tmp/record tests/support_mm_data >tests/support_mm_data/texts.txt
 *
 * Output, one record a line, every text escaped as Escaped() writes it:
 *   S NAME              a scenario: the catalogue emptied as at program start
 *   L LANGUAGE          LoadMessageFile(LANGUAGE) in that scenario
 *   O TEXT              what that load printed
 *   R N                 what it returned
 *   C TEXT              the current message (psMessagePointer) after it
 *   T NUMBER TEXT       GetMessage(NUMBER); numbers from 0 to 9999 whose text
 *                       is the warning for an empty number are left out
 *                       (checked here), the out-of-range probes never are */
#include "support/mm.h"
#include "support/xchat.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

static std::string Escaped(char const *ps)
{
    std::string s;
    for (; *ps != '\0'; ps++) {
        unsigned char c = (unsigned char)*ps;
        if (c == '\\') {
            s += "\\\\";
        } else if (c >= 0x20 && c < 0x7f) {
            s += (char)c;
        } else {
            char ac[8];
            snprintf(ac, sizeof ac, "\\x%02x", c);
            s += ac;
        }
    }
    return s;
}

/* Copies the message file of psLanguage into the scratch home. */
static void Install(char const *psData, char const *psLanguage)
{
    std::string from = std::string(psData) + "/morv_" + psLanguage + ".msg";
    std::string to = std::string(".xchat2/morvane/morv_") + psLanguage + ".msg";
    FILE *fIn = fopen(from.c_str(), "rb");
    FILE *fOut = fopen(to.c_str(), "wb");
    if (fIn == NULL || fOut == NULL) {
        perror(from.c_str());
        exit(1);
    }
    char ac[65536];
    size_t n;
    while ((n = fread(ac, 1, sizeof ac, fIn)) > 0)
        fwrite(ac, 1, n, fOut);
    fclose(fIn);
    if (fclose(fOut) != 0)
        exit(1);
}

static void Scenario(FILE *fOut, char const *psName, char const *const *apsLanguages, int nLanguages)
{
    ssFlagAlredyLoaded = 0;
    FlushMessage();
    fprintf(fOut, "S %s\n", psName);
    for (int i = 0; i < nLanguages; i++) {
        /* The load's lines go to a file, read back as they were printed. */
        fflush(stdout);
        FILE *fCapture = tmpfile();
        int iSaved = dup(1);
        if (fCapture == NULL || iSaved < 0 || dup2(fileno(fCapture), 1) < 0)
            exit(1);
        int iResult = LoadMessageFile(apsLanguages[i]);
        fflush(stdout);
        dup2(iSaved, 1);
        close(iSaved);
        std::string printed;
        rewind(fCapture);
        for (int c; (c = fgetc(fCapture)) != EOF;)
            printed += (char)c;
        fclose(fCapture);
        fprintf(fOut, "L %s\nO %s\nR %d\nC %s\n", apsLanguages[i], Escaped(printed.c_str()).c_str(), iResult,
                psMessagePointer != NULL ? Escaped(psMessagePointer).c_str() : "(null)");
    }
    static const int aiProbes[] = {INT_MIN, -10000, -1, 10000, 10001, 99999, INT_MAX};
    for (int n : aiProbes)
        fprintf(fOut, "T %d %s\n", n, Escaped(GetMessage(n)).c_str());
    for (int n = 0; n < 10000; n++) {
        char acEmpty[160];
        snprintf(acEmpty, sizeof acEmpty,
                 "ATTENZIONE: Messaggio numero %d fuori dal limite o comunque vuoto.\n"
                 "Contattare la VEL'Software !",
                 n);
        char const *ps = GetMessage(n);
        if (strcmp(ps, acEmpty) != 0)
            fprintf(fOut, "T %d %s\n", n, Escaped(ps).c_str());
    }
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: record DATA_DIRECTORY\n");
        return 2;
    }
    char acData[4096];
    if (realpath(argv[1], acData) == NULL) {
        perror(argv[1]);
        return 1;
    }
    char acHome[] = "/tmp/morv-mm-record.XXXXXX";
    if (mkdtemp(acHome) == NULL || chdir(acHome) != 0 || mkdir(".xchat2", 0700) != 0 ||
        mkdir(".xchat2/morvane", 0700) != 0)
        return 1;
    SetXChatLayout(2);
    for (char const *ps : {"italiano", "english", "random"})
        Install(acData, ps);
    FILE *fOut = fdopen(dup(1), "w");
    static char const *const apsItalian[] = {"italiano"};
    static char const *const apsEnglish[] = {"italiano", "english"};
    static char const *const apsRandom[] = {"random"};
    Scenario(fOut, "italiano", apsItalian, 1);
    Scenario(fOut, "english over italiano", apsEnglish, 2);
    Scenario(fOut, "random", apsRandom, 1);
    fclose(fOut);
    for (char const *ps : {"italiano", "english", "random"})
        unlink((std::string(".xchat2/morvane/morv_") + ps + ".msg").c_str());
    rmdir(".xchat2/morvane");
    rmdir(".xchat2");
    chdir("/");
    rmdir(acHome);
    return 0;
}
