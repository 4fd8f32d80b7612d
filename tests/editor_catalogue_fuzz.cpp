/* Fuzz target for catalogue loading (editor/main: LoadCatalogue), which reads
 * setup.dat with formatted input into dvArray and the variable list.
 *
 * An input is a whole setup.dat, handed over as a memory stream.  A row with
 * a type code other than 0, 1 or 2 ends the program with status 2: that is
 * the designed answer to such a file, not a fault, and inputs that reach it
 * are kept rather than filtered out, since they cover every row before it.
 * The target is linked with _exit wrapped (-Wl,--wrap=_exit): while a load
 * runs, the wrapper jumps back here with the status instead of ending the
 * process, and the target checks that it was status 2 and that the rows
 * before it were all loaded.  Outside a load the wrapper is the real _exit.
 *
 * The list is a real Fl_Browser, which needs an X display for its font
 * metrics: run the target under tests/run --xvfb.
 *
 * Before every input the rows' buffers are freed, dvArray is zeroed, the
 * list emptied, the settings put back to their initial values and the run
 * log emptied.  After the load the target checks, for every row read: the
 * three words are present, at most 32 characters, without white space (the
 * default text may hold blanks, but no "$^$" is left); the type is 0, 1 or
 * 2; the list has one line per row and line n is the row text of row n.
 * Then it binds the rows (SetVariables), formats every row again and checks
 * that the row text fits its buffer, with a 5000-character text bound to
 * row 26.  Rows past the last one read are
 * untouched. */
#include "editor/main.h"
#include "settings/morv.h"

#include <FL/Fl_Browser.H>

#include <ctype.h>
#include <fcntl.h>
#include <setjmp.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#define CHECK(cond, ...)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            fprintf(stderr, "editor_catalogue_fuzz: check failed: %s\n  ", #cond);                 \
            fprintf(stderr, __VA_ARGS__);                                                          \
            fputc('\n', stderr);                                                                   \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

/* The end of the process, as the editor reaches it, caught during a load. */
static jmp_buf gjbLoad;
static volatile int gbInLoad = 0;
static volatile int giExitStatus = -1;

extern "C" void __real__exit(int iStatus);

extern "C" void __wrap__exit(int iStatus)
{
    if (gbInLoad) {
        gbInLoad = 0;
        giExitStatus = iStatus;
        longjmp(gjbLoad, 1);
    }
    __real__exit(iStatus);
}

namespace {

Fl_Browser *gpBrowser = NULL;
std::string gsLog;

void ClearCatalogue()
{
    for (int i = 0; i <= CATALOGUE_ROWS; i++) {
        free(dvArray[i].psCommand);
        free(dvArray[i].psVariableName);
        free(dvArray[i].psDefault);
        memset(&dvArray[i], 0, sizeof dvArray[i]);
    }
    gpBrowser->clear();
}

void CheckWord(int iRow, char const *psField, char const *ps, bool bBlanksAllowed)
{
    CHECK(ps != NULL, "row %d: %s absent", iRow, psField);
    size_t uLen = strlen(ps);
    CHECK(uLen <= CATALOGUE_WORD - 1, "row %d: %s of %zu characters", iRow, psField, uLen);
    for (size_t i = 0; i < uLen; i++)
        CHECK(!isspace((unsigned char)ps[i]) || (bBlanksAllowed && ps[i] == ' '),
              "row %d: %s holds white space 0x%02x at %zu", iRow, psField, (unsigned char)ps[i], i);
}

/* Row iRow as a list line, formatted again now. */
std::string RowText(int iRow)
{
    char acRow[ROW_BUFFER_SIZE + 16];
    memset(acRow, 'G', sizeof acRow);
    FormatRowText(acRow, iRow);
    for (size_t i = ROW_BUFFER_SIZE; i < sizeof acRow; i++)
        CHECK(acRow[i] == 'G', "row %d: the row text went past its buffer", iRow);
    CHECK(strlen(acRow) < ROW_BUFFER_SIZE, "row %d: row text of %zu characters", iRow, strlen(acRow));
    return acRow;
}

void RemoveLog() { unlink(gsLog.c_str()); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    /* A bad type code prints its line on standard output before ending. */
    int fd = open("/dev/null", O_WRONLY);
    if (fd < 0 || dup2(fd, 1) < 0) {
        perror("editor_catalogue_fuzz: /dev/null");
        exit(1);
    }
    close(fd);
    /* Every row writes run-log lines; they go to a private file, emptied
     * before each input. */
    char const *psTmp = getenv("TMPDIR");
    std::string tmpl = std::string(psTmp != NULL && *psTmp != '\0' ? psTmp : "/tmp") + "/morv-cat-fuzz.XXXXXX";
    int fdLog = mkstemp(&tmpl[0]);
    if (fdLog < 0) {
        perror("editor_catalogue_fuzz: run log");
        exit(1);
    }
    close(fdLog);
    gsLog = tmpl;
    atexit(RemoveLog);
    psLogFile = gsLog.c_str();
    gpBrowser = new Fl_Browser(0, 0, 600, 400);
    /* The first line opens the display and loads the font, once for the
     * whole run; the font library keeps what it allocates for that until
     * the end (tests/fuzz-lsan.supp). */
    gpBrowser->add("warm-up");
    gpBrowser->clear();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const *pData, size_t uSize)
{
    ClearCatalogue();
    ResetSettings();
    CHECK(truncate(gsLog.c_str(), 0) == 0, "cannot empty the run log %s", gsLog.c_str());

    /* fmemopen refuses a zero-length buffer; an empty stream is also one
     * byte of white space. */
    std::string text((char const *)pData, uSize);
    if (text.empty())
        text = " ";
    FILE *f = fmemopen(&text[0], text.size(), "r");
    CHECK(f != NULL, "fmemopen of %zu bytes failed", text.size());

    char acRow[ROW_BUFFER_SIZE];
    volatile int iRows = -1;
    giExitStatus = -1;
    if (setjmp(gjbLoad) == 0) {
        gbInLoad = 1;
        iRows = LoadCatalogue(f, acRow, gpBrowser);
        gbInLoad = 0;
    }
    fclose(f);

    int iLoaded;
    if (iRows < 0) {
        /* Ended by the program: only a bad type code may do that, right
         * after reading the row that has it, which is not in the list. */
        CHECK(giExitStatus == 2, "the load ended the program with status %d", giExitStatus);
        iLoaded = gpBrowser->size();
        CHECK(iLoaded < CATALOGUE_ROWS, "bad type code after %d rows", iLoaded);
        CHECK(dvArray[iLoaded + 1].psCommand != NULL, "the row with the bad type code was not read");
    } else {
        iLoaded = iRows;
        CHECK(iLoaded <= CATALOGUE_ROWS, "%d rows", iLoaded);
        CHECK(gpBrowser->size() == iLoaded, "%d rows but %d list lines", iLoaded, gpBrowser->size());
    }

    for (int i = 1; i <= iLoaded; i++) {
        struct VariableDescriptor const *pr = &dvArray[i];
        CHECK(pr->iType >= VARIABLE_BOOLEAN && pr->iType <= VARIABLE_STRING, "row %d: type %d", i, pr->iType);
        CheckWord(i, "command", pr->psCommand, false);
        CheckWord(i, "variable name", pr->psVariableName, false);
        CheckWord(i, "default text", pr->psDefault, true);
        CHECK(strstr(pr->psDefault, "$^$") == NULL, "row %d: default text \"%s\" still holds $^$", i,
              pr->psDefault);
        CHECK(pr->piValue == NULL && pr->ppsValue == NULL && pr->psValue == NULL, "row %d bound by the load", i);
        char const *psLine = gpBrowser->text(i);
        CHECK(psLine != NULL && RowText(i) == psLine, "list line %d is \"%s\", row text \"%s\"", i,
              psLine != NULL ? psLine : "(none)", RowText(i).c_str());
    }
    for (int i = iLoaded + (iRows < 0 ? 2 : 1); i <= CATALOGUE_ROWS; i++)
        CHECK(dvArray[i].psCommand == NULL && dvArray[i].psVariableName == NULL && dvArray[i].psDefault == NULL,
              "row %d filled after the last row %d", i, iLoaded);

    /* Bound as the editor binds them, every row still has a row text that
     * fits; a row whose type does not match its binding shows no value. */
    if (iRows >= 0) {
        psPrefixOutput = strdup(std::string(5000, 'p').c_str()); /* row 26: longer than a line */
        SetVariables();
        for (int i = 1; i <= iLoaded; i++)
            RowText(i);
    }

    ClearCatalogue();
    ResetSettings();
    return 0;
}
