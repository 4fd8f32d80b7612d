/* Fuzz target for the message-file loader (support/mm).
 *
 * An input is a message file, or, when its first byte is 1, 2 or 3, a
 * language name up to the first line feed followed by the file; that byte
 * is the XChat layout in use (iXChatVer; 3 is none).  The file is written to
 * .xchat2/morvane/morv_fuzz.msg in a scratch home that the target moves into
 * once, where .xchat/morvane leads to the same directory.  The name (default
 * "fuzz", with layout 2) is handed to LoadMessageFile, so the language read
 * from a damaged morvrc is covered as well as the file.  The scratch home
 * also holds a directory .xchat2/morvane/morv_ so that names with slashes,
 * and paths cut short, can reach something that opens.
 *
 * Before every input the catalogue is emptied and marked as never loaded,
 * as at program start.  After the load the target checks:
 *   - the result and the loaded flag: 0 for an empty name, an unknown
 *     layout or a path that does not fit its buffer (and then nothing is
 *     stored), 1 when the file
 *     was read to its end, 0 when the 10000th numbered line stops it;
 *   - which numbers hold a text, against a line-by-line model of the file:
 *     exactly the numbers of the valid message lines read;
 *   - each text, byte for byte, against a plain reading of it: one full
 *     search per escape in order, the wrap, then the doubled backslashes;
 *   - GetMessage: never null, the stored text when there is one (the same
 *     text when asked for again), a warning text otherwise.
 * The catalogue decodes a text when it is first asked for, so every number
 * is asked for before its slot is looked at. */
#include "support/mm.h"
#include "support/xchat.h"
#include "tests/message_text_model.h"

#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>

namespace {

#define CHECK(cond, ...)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            fprintf(stderr, "support_mm_fuzz: check failed: %s\n  ", #cond);                       \
            fprintf(stderr, __VA_ARGS__);                                                          \
            fputc('\n', stderr);                                                                   \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

const char kFile[] = ".xchat2/morvane/morv_fuzz.msg";
const size_t kLinePiece = 4094; /* characters that one read of a line takes */
const size_t kPathBuffer = 4095;

std::string gsHome;

/* What the model expects of one load of the fuzz file. */
struct Expected {
    int iResult = 1;
    std::map<int, std::string> texts; /* number -> stored text */
};

/* Splits the file into the pieces that a 4095-byte line buffer reads and
 * classifies each as the loader's rules say. */
Expected Model(std::string const &file)
{
    Expected e;
    int iHeaders = 0;
    size_t uAt = 0;
    while (uAt < file.size()) {
        size_t uEnd = uAt;
        while (uEnd < file.size() && uEnd - uAt < kLinePiece && file[uEnd] != '\n')
            uEnd++;
        if (uEnd < file.size() && file[uEnd] == '\n' && uEnd - uAt < kLinePiece)
            uEnd++;
        std::string piece = file.substr(uAt, uEnd - uAt);
        uAt = uEnd;
        char const *psLine = piece.c_str(); /* a zero byte ends the line as the loader sees it */
        if (psLine[0] == '#' || psLine[0] == '\0')
            continue;
        int n;
        if (sscanf(psLine, "// %04d ", &n) != 1)
            continue;
        if (++iHeaders > 9999) {
            e.iResult = 0;
            break;
        }
        if (n < 0 || n > 9999)
            continue;
        size_t uLen = strlen(psLine);
        char const *psQuote = strchr(psLine, '"');
        if (psQuote == NULL || uLen <= 8 || psLine[8] != '"' || psQuote[1] == '\0')
            continue;
        std::string text = psQuote + 1;
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        if (!text.empty() && text.back() == '"')
            text.pop_back();
        e.texts[n] = PlainMessageText(text);
    }
    return e;
}

int CountStored()
{
    int n = 0;
    for (int i = 0; i < MESSAGE_SLOTS; i++)
        n += apsMessageArray[i] != NULL;
    return n;
}

void CheckGetMessage(int iNumber)
{
    char const *ps = GetMessage(iNumber);
    CHECK(ps != NULL, "GetMessage(%d) is null", iNumber);
    CHECK(GetMessage(iNumber) == ps, "GetMessage(%d) asked again gave another text", iNumber);
    CHECK(strlen(ps) < 4096, "GetMessage(%d) is %zu characters", iNumber, strlen(ps));
    bool bStored = iNumber >= 0 && iNumber <= 9999 && apsMessageArray[iNumber] != NULL &&
                   apsMessageArray[iNumber][0] != '\0';
    if (bStored) {
        CHECK(ps == apsMessageArray[iNumber], "GetMessage(%d) is not the stored text", iNumber);
    } else if (ssFlagAlredyLoaded) {
        char acWant[160];
        snprintf(acWant, sizeof acWant, "ATTENZIONE: Messaggio numero %d fuori dal limite", iNumber);
        CHECK(strncmp(ps, acWant, strlen(acWant)) == 0, "GetMessage(%d) is \"%s\"", iNumber, ps);
    } else {
        static char const acNotLoaded[] = "\0034ATTENZIONE: File dei messaggi non ancora caricato";
        CHECK(strncmp(ps, acNotLoaded, strlen(acNotLoaded)) == 0, "GetMessage(%d) is \"%s\"", iNumber, ps);
    }
    CHECK(psMessagePointer == ps, "GetMessage(%d) left another current message", iNumber);
}

/* The stored text of message n against its plain reading. */
void CheckText(int n, std::string const &want)
{
    char const *ps = apsMessageArray[n];
    CHECK(ps != NULL, "message %d not stored", n);
    CHECK(want == ps, "message %d is \"%s\", not \"%s\"", n, ps, want.c_str());
}

int RemoveEntry(char const *psPath, struct stat const *, int, struct FTW *) { return remove(psPath); }

/* Removes the scratch home when the run ends normally. */
void RemoveHome()
{
    if (!gsHome.empty() && chdir("/") == 0)
        nftw(gsHome.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

bool SameFile(char const *psA, char const *psB)
{
    struct stat a, b;
    return stat(psA, &a) == 0 && stat(psB, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    /* The loader reports every line on standard output; the fuzzer's own
     * report goes to standard error. */
    int fd = open("/dev/null", O_WRONLY);
    if (fd < 0 || dup2(fd, 1) < 0) {
        perror("support_mm_fuzz: /dev/null");
        exit(1);
    }
    close(fd);
    char const *psTmp = getenv("TMPDIR");
    std::string tmpl = std::string(psTmp != NULL && *psTmp != '\0' ? psTmp : "/tmp") + "/morv-mm-fuzz.XXXXXX";
    if (mkdtemp(&tmpl[0]) == NULL || chdir(tmpl.c_str()) != 0 || mkdir(".xchat2", 0700) != 0 ||
        mkdir(".xchat2/morvane", 0700) != 0 || mkdir(".xchat2/morvane/morv_", 0700) != 0 ||
        mkdir(".xchat", 0700) != 0 || symlink("../.xchat2/morvane", ".xchat/morvane") != 0) {
        perror("support_mm_fuzz: scratch home");
        exit(1);
    }
    gsHome = tmpl;
    atexit(RemoveHome);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const *pData, size_t uSize)
{
    /* As at program start: nothing loaded yet. */
    ssFlagAlredyLoaded = 0;
    FlushMessage();

    std::string input((char const *)pData, uSize);
    std::string name = "fuzz", file = input;
    iXChatVer = 2;
    if (!input.empty() && input[0] >= 1 && input[0] <= 3) {
        iXChatVer = input[0];
        size_t uEol = input.find('\n');
        name = input.substr(1, uEol == std::string::npos ? std::string::npos : uEol - 1);
        name = name.c_str(); /* what a C string of it holds */
        file = uEol == std::string::npos ? "" : input.substr(uEol + 1);
    }
    FILE *f = fopen(kFile, "wb");
    CHECK(f != NULL, "cannot write %s in %s: %s", kFile, gsHome.c_str(), strerror(errno));
    fwrite(file.data(), 1, file.size(), f);
    fclose(f);

    std::string path =
        std::string(iXChatVer == 1 ? ".xchat/morvane/" : ".xchat2/morvane/") + "morv_" + name + ".msg";
    int iResult = LoadMessageFile(name.c_str());
    int aiProbe[] = {-1, 0, 1, 9999, 10000, 10001, INT_MIN, INT_MAX};
    for (int n : aiProbe)
        CheckGetMessage(n);
    for (int i = 0; i <= 9999; i++)
        CheckGetMessage(i);

    if (name.empty() || iXChatVer == 3 || path.size() >= kPathBuffer) {
        CHECK(iResult == 0, "layout %d, name of %zu characters (path %zu) loaded with result %d", iXChatVer,
              name.size(), path.size(), iResult);
        CHECK(CountStored() == 0, "name of %zu characters stored %d texts", name.size(), CountStored());
        CHECK(ssFlagAlredyLoaded == 0, "name of %zu characters set the loaded flag", name.size());
    } else if (SameFile(path.c_str(), kFile)) {
        Expected e = Model(file);
        CHECK(iResult == e.iResult, "result %d, expected %d", iResult, e.iResult);
        CHECK(ssFlagAlredyLoaded == iResult, "loaded flag %d after result %d", ssFlagAlredyLoaded, iResult);
        CHECK(CountStored() == (int)e.texts.size(), "%d texts stored, expected %zu", CountStored(),
              e.texts.size());
        for (auto const &t : e.texts)
            CheckText(t.first, t.second);
    } else {
        /* Another file or a directory (a name with slashes): whatever it
         * held, the rules for texts hold. */
        FILE *fOther = fopen(path.c_str(), "r");
        bool bOpens = fOther != NULL;
        if (fOther != NULL)
            fclose(fOther);
        CHECK(bOpens || iResult == 0, "\"%s\" does not open but loaded", path.c_str());
        CHECK(bOpens || CountStored() == 0, "\"%s\" does not open but stored texts", path.c_str());
        for (int i = 0; i < MESSAGE_SLOTS; i++)
            if (apsMessageArray[i] != NULL)
                CHECK(i <= 9999 && strlen(apsMessageArray[i]) < kLinePiece, "slot %d", i);
    }

    FlushMessage();
    return 0;
}
