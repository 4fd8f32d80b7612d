/* Fuzz target for catalogue loading (settings/catalogue: LoadCatalogue),
 * which reads setup.dat with formatted input into dvArray and hands each
 * row text to the variable list.
 *
 * An input is a whole setup.dat, handed over as a memory stream.  A row with
 * a type code other than 0, 1 or 2 stops the load with -1 (the editor then
 * ends with status 2): that is the intended answer to such a file, not a
 * fault, and inputs that reach it are kept rather than filtered out, since
 * they cover every row before it.  The target checks that the rows before
 * it were all loaded.
 *
 * The list is a real Fl_Browser, filled as the editor fills its own, which
 * needs an X display for its font metrics: run the target under
 * tests/run --xvfb.
 *
 * Before every input the rows' buffers are freed, dvArray is zeroed, the
 * list emptied, the settings put back to their initial values and the run
 * log emptied.  After the load the target checks, for every row read: the
 * three words are present, at most 32 characters, without white space (the
 * default text may hold blanks, but no "$^$" is left); the type is 0, 1 or
 * 2; the list has one line per row and line n is the row text of row n.
 * Then it binds the rows (SetVariables), formats every row again and checks
 * that the row text fits its buffer, with a 5000-character text bound to
 * row 26.  Rows past the last one read are untouched.  A file written the
 * plain way (one row a line, six fields between bars, words of at most 32
 * characters followed by white space, numbers of at most 9 digits) must
 * load exactly as a simple parser of that form reads it. */
#include "editor/actions.h"
#include "editor/runlog.h"
#include "settings/store/catalogue.h"
#include "settings/store/morv.h"
#include "settings/morvrc/morvrc.h"
#include "support/runlog.h"

#include <FL/Fl_Browser.H>

#include <ctype.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#define CHECK(cond, ...)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            fprintf(stderr, "editor_catalogue_fuzz: check failed: %s\n  ", #cond);                 \
            fprintf(stderr, __VA_ARGS__);                                                          \
            fputc('\n', stderr);                                                                   \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

namespace {

Fl_Browser *gpBrowser = NULL;
std::string gsLog;

void AddLine(char const *psRowText) { gpBrowser->add(psRowText); }

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

/* One row as a plainly written setup.dat states it. */
struct PlainRow {
    int iType;
    std::string command, name, defaultText;
    int iDefault, iHelp;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

/* A field between bars: a number of 1 to 9 digits with an optional minus,
 * white space around it allowed. */
bool PlainNumber(std::string const &field, int *pi)
{
    size_t b = 0, e = field.size();
    while (b < e && IsBlank(field[b]))
        b++;
    while (e > b && IsBlank(field[e - 1]))
        e--;
    std::string s = field.substr(b, e - b);
    size_t uDigits = s.size() - (!s.empty() && s[0] == '-');
    if (uDigits < 1 || uDigits > 9 || s.find_first_not_of("0123456789", s[0] == '-') != std::string::npos)
        return false;
    *pi = atoi(s.c_str());
    return true;
}

/* A field between bars: a word of 1 to 32 characters, white space before
 * it allowed and after it required (a bar right after a word joins it). */
bool PlainWord(std::string const &field, std::string *ps)
{
    size_t b = 0;
    while (b < field.size() && IsBlank(field[b]))
        b++;
    size_t e = b;
    while (e < field.size() && !IsBlank(field[e]) && field[e] != '\0')
        e++;
    for (size_t i = e; i < field.size(); i++)
        if (!IsBlank(field[i]))
            return false;
    if (e == b || e - b > 32 || e == field.size())
        return false;
    *ps = field.substr(b, e - b);
    return true;
}

/* Parses setup.dat written the plain way: one row a line, six fields
 * between bars, blank lines allowed.  Returns false for anything else, for
 * which the model has nothing to say. */
bool ParsePlain(std::string const &text, std::vector<PlainRow> *pRows)
{
    size_t uAt = 0;
    while (uAt < text.size()) {
        size_t uEol = text.find('\n', uAt);
        std::string line = text.substr(uAt, uEol == std::string::npos ? std::string::npos : uEol - uAt);
        uAt = uEol == std::string::npos ? text.size() : uEol + 1;
        if (line.find_first_not_of(" \t\v\f\r") == std::string::npos)
            continue;
        std::vector<std::string> fields;
        for (size_t b = 0;;) {
            size_t uBar = line.find('|', b);
            fields.push_back(line.substr(b, uBar == std::string::npos ? std::string::npos : uBar - b));
            if (uBar == std::string::npos)
                break;
            b = uBar + 1;
        }
        PlainRow r;
        if (fields.size() != 6 || !PlainNumber(fields[0], &r.iType) || r.iType < 0 || r.iType > 2 ||
            !PlainWord(fields[1], &r.command) || !PlainWord(fields[2], &r.name) ||
            !PlainNumber(fields[3], &r.iDefault) || !PlainWord(fields[4], &r.defaultText) ||
            !PlainNumber(fields[5], &r.iHelp))
            return false;
        /* Every "$^$" of the default text, left to right, becomes a blank. */
        for (size_t p = 0; (p = r.defaultText.find("$^$", p)) != std::string::npos; p++)
            r.defaultText.replace(p, 3, " ");
        pRows->push_back(r);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    /* Standard output goes nowhere: only a run log that cannot be opened
     * would print there. */
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
    pfRunLog = WriteLog;
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
    int iRows = LoadCatalogue(f, acRow, AddLine);
    fclose(f);

    int iLoaded;
    if (iRows < 0) {
        /* A bad type code, right after reading the row that has it, which
         * is not in the list. */
        CHECK(iRows == -1, "the load returned %d", iRows);
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
    /* A plainly written file must come out exactly as written. */
    std::vector<PlainRow> plain;
    if (ParsePlain(std::string((char const *)pData, uSize), &plain)) {
        int iWant = plain.size() < CATALOGUE_ROWS ? (int)plain.size() : CATALOGUE_ROWS;
        CHECK(iRows == iWant, "plain file of %zu rows loaded %d", plain.size(), iRows);
        for (int i = 1; i <= iWant; i++) {
            PlainRow const &w = plain[(size_t)i - 1];
            struct VariableDescriptor const *pr = &dvArray[i];
            CHECK(pr->iType == w.iType && w.command == pr->psCommand && w.name == pr->psVariableName &&
                      pr->iDefault == w.iDefault && w.defaultText == pr->psDefault && pr->iHelpMessage == w.iHelp,
                  "row %d is %d|%s|%s|%d|%s|%d, written %d|%s|%s|%d|%s|%d", i, pr->iType, pr->psCommand,
                  pr->psVariableName, pr->iDefault, pr->psDefault, pr->iHelpMessage, w.iType, w.command.c_str(),
                  w.name.c_str(), w.iDefault, w.defaultText.c_str(), w.iHelp);
        }
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
