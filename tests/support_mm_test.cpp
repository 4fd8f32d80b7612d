/* The message catalogue: file format, unescaping, wrapping, the overlay of
 * a second language, console lines and the fallback texts. */
#include "support/mm.h"
#include "support/xchat.h"
#include "tests/message_text_model.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <random>
#include <set>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vector>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kNotLoaded[] =
    "\x03" "4ATTENZIONE: File dei messaggi non ancora caricato dal plugin. Contattare la VEL'Software !";

class MessageFiles : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_EQ(0, chdir(home.path().c_str()));
        mkdir((home / ".xchat2").c_str(), 0755);
        mkdir((home / ".xchat2/morvane").c_str(), 0755);
        iXChatVer = 2;
        FlushMessage();
    }
    void TearDown() override
    {
        FlushMessage();
        EXPECT_EQ(0, chdir("/"));
    }
    void Write(char const *psLanguage, std::string const &text)
    {
        WriteFileText(home / (std::string(".xchat2/morvane/morv_") + psLanguage + ".msg"), text);
    }
    /* Loads psLanguage and returns what it printed. */
    std::string Load(char const *psLanguage, int *piResult)
    {
        testing::internal::CaptureStdout();
        *piResult = LoadMessageFile(psLanguage);
        return testing::internal::GetCapturedStdout();
    }
    std::string Message(int n) { return GetMessage(n); }
    /* Slot n once the number has been asked for: null without a text. */
    char const *Slot(int n)
    {
        GetMessage(n);
        return apsMessageArray[n];
    }

    ScratchDir home;
};

TEST_F(MessageFiles, FallbackBeforeAnyLoadStartsWithTheColourCode)
{
    std::string out;
    int iStatus = RunInChild(
        [] {
            ssFlagAlredyLoaded = 0;
            char const *ps = GetMessage(1);
            printf("%zu|%s", strlen(ps), ps);
        },
        &out);
    EXPECT_EQ(0, iStatus);
    EXPECT_EQ("92|" + std::string(kNotLoaded), out);
}

TEST_F(MessageFiles, SecondLanguageIsLaidOverTheFirst)
{
    Write("italiano", "# testi\n// 0001 \"uno\"\n// 0005 \"cinque\"\n// 0001 \"ancora uno\"\n");
    Write("english", "// 0005 \"five\"\n");
    int iResult;
    Load("italiano", &iResult);
    ASSERT_EQ(1, iResult);
    Load("english", &iResult);
    ASSERT_EQ(1, iResult);
    EXPECT_EQ("ancora uno", Message(1));  /* the later line of one file wins */
    EXPECT_EQ("five", Message(5));
    EXPECT_EQ("ATTENZIONE: Messaggio numero 2 fuori dal limite o comunque vuoto.\nContattare la VEL'Software !",
              Message(2));
}

TEST_F(MessageFiles, ConsoleLinesOfAGoodAndAFailedLoad)
{
    std::string out;
    int iStatus = RunInChild(
        [this] {
            ssFlagAlredyLoaded = 0;
            Write("italiano", "// 0001 \"x\"\n");
            int a = LoadMessageFile("italiano");
            int b = LoadMessageFile("klingon");
            int c = LoadMessageFile("");
            printf("|%d%d%d", a, b, c);
        },
        &out);
    EXPECT_EQ(0, iStatus);
    EXPECT_EQ("  - Initializing Memory Map File.\n"
              "  - Calculating Language File Path.\n"
              "  - Parsing Language File .... completed.\n"
              "  - Calculating Language File Path.\n"
              "  - Parsing Language File ....ERROR: Unable to load file .xchat2/morvane/morv_klingon.msg; "
              "reason: No such file or directory\n"
              "|100",
              out);
}

TEST_F(MessageFiles, EscapesAreResolvedInOrder)
{
    Write("italiano",
          "// 0001 \"a\\nb\\tc \\\"q\\\" .xchatV/x\"\n"
          "// 0002 \"\\0034rosso\\003 \\00312blu \\017fine\"\n"
          "// 0003 \"doppio \\\\n e \\\\ solo\"\n");
    int iResult;
    Load("italiano", &iResult);
    EXPECT_EQ("a\nb\tc \"q\" .xchat/x", Message(1));
    EXPECT_EQ("rosso 2blu fine", Message(2));       /* a two-digit colour keeps its second digit */
    EXPECT_EQ("doppio \\\n e \\ solo", Message(3)); /* "\n" goes before "\\" */
}

TEST_F(MessageFiles, LongTextsWrapNearEveryEightiethColumn)
{
    std::string words;
    while (words.size() < 200)
        words += "abcdefghi ";
    words.resize(200);                 /* blanks at 9, 19, ..., 199 */
    std::string noBlanks = std::string(50, 'x') + " " + std::string(149, 'y');
    std::string short81 = std::string(40, 'a') + " " + std::string(40, 'b');
    Write("italiano", "// 0001 \"" + words + "\"\n// 0002 \"" + noBlanks + "\"\n// 0003 \"" + short81 + "\"\n");
    int iResult;
    Load("italiano", &iResult);

    std::string want = words;
    want[79] = '\n';
    want[159] = '\n';
    EXPECT_EQ(want, Message(1));
    std::string want2 = noBlanks;
    want2[50] = '\n';                 /* both searches end at the only blank */
    EXPECT_EQ(want2, Message(2));
    EXPECT_EQ(short81, Message(3));

    /* Unwrapped as the file holds it, also once asked for, and for a
     * file's last text, which its load decodes. */
    Write("english", "// 0004 \"" + words + "\"\n");
    Load("english", &iResult);
    for (int n : {1, 4}) {
        char *psWhole = MessageBeforeWrap(n);
        EXPECT_STREQ(words.c_str(), psWhole) << n;
        free(psWhole);
    }
}

TEST_F(MessageFiles, LinesThatAreIgnoredAndTheirWarnings)
{
    Write("italiano",
          "// 0001 \"ok\"\n"
          "\n"                         /* line 2: blank */
          "// 12345 \"x\"\n"           /* reads 1234, no quote at index 8: silent */
          "// -005 \"neg\"\n"          /* line 4 */
          "//0006 \"shifted\"\n"       /* quote not at index 8: silent */
          "// 0007 \"\"\n"             /* empty text */
          "// 0008 \"\n"               /* nothing after the quote but the line feed */
          "// 0009 \"crlf\"\r\n"
          "// 0010 \"unclosed\n"
          "# comment\n"
          "parola\n");                 /* line 11 */
    int iResult;
    std::string out = Load("italiano", &iResult);
    EXPECT_EQ(1, iResult);
    EXPECT_EQ("  - Calculating Language File Path.\n  - Parsing Language File ....\n"
              "Il messaggio alla riga 2 risulta avere un indice fuori limite ( -1 ): Messaggio ignorato\n"
              "\nIl messaggio alla riga 4 risulta avere un indice fuori limite ( -5 ): Messaggio ignorato\n"
              "\nIl messaggio alla riga 11 risulta avere un indice fuori limite ( -1 ): Messaggio ignorato\n"
              " completed.\n",
              out.substr(out.find("  - Calculating")));
    EXPECT_EQ("ok", Message(1));
    EXPECT_EQ(nullptr, Slot(1234));
    EXPECT_EQ(nullptr, Slot(6));
    EXPECT_EQ("ATTENZIONE: Messaggio numero 7 fuori dal limite o comunque vuoto.\nContattare la VEL'Software !",
              Message(7));
    ASSERT_NE(nullptr, Slot(8));
    EXPECT_STREQ("", Slot(8));
    EXPECT_EQ("crlf\"\r", Message(9));
    EXPECT_EQ("unclosed", Message(10));
}

TEST_F(MessageFiles, OverlongLinesArriveInPieces)
{
    /* 5000 characters of text: the first 4094 characters of the line are one
     * piece with a header, the rest a second, headerless line. */
    std::string text(5000, 'z');
    Write("italiano", "// 0001 \"" + text + "\"\n// 0002 \"after\"\n");
    int iResult;
    std::string out = Load("italiano", &iResult);
    EXPECT_EQ(1, iResult);
    EXPECT_EQ(std::string(4094 - 9, 'z'), Message(1));
    EXPECT_NE(std::string::npos, out.find("alla riga 2 risulta avere un indice fuori limite ( -1 )"));
    EXPECT_EQ("after", Message(2));
}

TEST_F(MessageFiles, TheTenThousandthHeaderStopsTheLoad)
{
    std::string out;
    int iStatus = RunInChild(
        [this] {
            ssFlagAlredyLoaded = 0;
            std::string file;
            for (int i = 0; i < 10000; i++)
                file += "// " + std::to_string(1000 + i % 9000) + " \"t" + std::to_string(i) + "\"\n";
            Write("italiano", file);
            int r = LoadMessageFile("italiano");
            printf("|%d %d %s", r, ssFlagAlredyLoaded, GetMessage(1000));
        },
        &out);
    EXPECT_EQ(0, iStatus);
    EXPECT_EQ(std::string::npos, out.find("completed"));
    EXPECT_NE(std::string::npos, out.find("|0 0 t9000")) << out.substr(out.size() - 40);
}

TEST_F(MessageFiles, RefusedNamesAndLayouts)
{
    int iResult;
    std::string longName(5000, 'l');
    Load(longName.c_str(), &iResult);
    EXPECT_EQ(0, iResult);
    /* A name whose path, cut to the buffer, would be the name of a file that
     * exists: that file is not loaded in its place. */
    std::string cutHere = "d/";
    while (21 + cutHere.size() + 5 < 4094)
        cutHere += "./";
    cutHere += "x.msg";
    ASSERT_EQ(4094u, strlen(".xchat2/morvane/morv_") + cutHere.size());
    mkdir((home / ".xchat2/morvane/morv_d").c_str(), 0755);
    Write("d/x", "// 0007 \"not this one\"\n");
    Load((cutHere + "tail").c_str(), &iResult);
    EXPECT_EQ(0, iResult);
    EXPECT_NE("not this one", Message(7));
    EXPECT_EQ(0, LoadMessageFile(nullptr));
    iXChatVer = 3;
    Write("italiano", "// 0001 \"x\"\n");
    EXPECT_EQ(0, LoadMessageFile("italiano"));

    /* XChat 1 keeps its files in .xchat/morvane/. */
    iXChatVer = 1;
    mkdir((home / ".xchat").c_str(), 0755);
    mkdir((home / ".xchat/morvane").c_str(), 0755);
    WriteFileText(home / ".xchat/morvane/morv_italiano.msg", "// 0003 \"uno\"\n");
    Load("italiano", &iResult);
    EXPECT_EQ(1, iResult);
    EXPECT_EQ("uno", Message(3));
}

TEST_F(MessageFiles, FallbackTextReusesOneBuffer)
{
    ssFlagAlredyLoaded = 1;
    char const *psFirst = GetMessage(-1);
    char const *psSecond = GetMessage(10000);
    EXPECT_EQ(psFirst, psSecond);
    EXPECT_EQ("ATTENZIONE: Messaggio numero 10000 fuori dal limite o comunque vuoto.\nContattare la VEL'Software !",
              std::string(psSecond));
    EXPECT_EQ(psMessagePointer, psSecond);
}

TEST_F(MessageFiles, InPlaceReplacementOnlyShrinks)
{
    char ac[] = "a-b-c";
    psMessagePointer = ac;
    EXPECT_EQ(0, local_ustrfindreplace("-", "--"));
    EXPECT_EQ(2, local_ustrfindreplace("-", ""));
    EXPECT_STREQ("abc", ac);
    EXPECT_EQ(0, local_ustrfindreplace("b", "b"));
    EXPECT_EQ(0, local_ustrfindreplace("", "x"));
    psMessagePointer = nullptr;
    EXPECT_EQ(0, local_ustrfindreplace("a", ""));
}

/* ---- Escapes and headers against a plain reading of the format ----------
 * The loader looks only for the escapes that a text can hold and reads the
 * header without sscanf; these tests hold it to the plain way: sscanf with
 * "// %04d " and one full search per escape, in order. */

TEST_F(MessageFiles, XchatVIsReplacedInATextWithoutBackslashes)
{
    Write("italiano", "// 0001 \"see ~/.xchatV/morvane and .xchatV/x\"\n");
    int iResult;
    Load("italiano", &iResult);
    EXPECT_EQ("see ~/.xchat/morvane and .xchat/x", Message(1));
}

TEST_F(MessageFiles, OnlyTheEscapesPresentAreResolved)
{
    Write("italiano",
          "// 0001 \"tab\\there; n, 0034, 017, .xchat and a lone \\ stay\"\n"
          "// 0002 \"only \\0031colour\"\n"
          "// 0003 \"only \\017reset and \\\\\\\\ two\"\n"
          "// 0004 \"\\\\q \\\\ \\x \\0 \\00 \\01 \\0039\"\n");
    int iResult;
    Load("italiano", &iResult);
    EXPECT_EQ("tab\there; n, 0034, 017, .xchat and a lone \\ stay", Message(1));
    EXPECT_EQ("only colour", Message(2));
    EXPECT_EQ("only reset and \\\\ two", Message(3));
    EXPECT_EQ("\\q \\ \\x \\0 \\00 \\01 ", Message(4));
}

TEST_F(MessageFiles, AnEscapeMadeByARemovalIsResolvedOnlyByALaterPass)
{
    Write("italiano",
          "// 0001 \"\\00\\00343x\"\n"     /* "\0034" goes, leaving "\003x": the bare pass takes it */
          "// 0002 \"\\00\\003531z\"\n"    /* leaves "\0031z": its pass is over, the bare one leaves "1z" */
          "// 0003 \"\\\\0034017\"\n"      /* "\\" then "\0034" goes, leaving "\017", which goes too */
          "// 0004 \"a\\\\\\0034\\n\"\n"); /* "\n" first, then the colour: "a\\" + line feed -> "a\" + LF */
    int iResult;
    Load("italiano", &iResult);
    EXPECT_EQ("x", Message(1));
    EXPECT_EQ("1z", Message(2));
    ASSERT_NE(nullptr, Slot(3));
    EXPECT_STREQ("", Slot(3));
    EXPECT_EQ("a\\\n", Message(4));
}

TEST_F(MessageFiles, ANulByteEndsTheLineItIsIn)
{
    /* What follows a NUL byte up to the line feed is lost with it; the
     * next line is read as usual. */
    static const char acFile[] = "// 0001 \"ab\0cd\"\n// 0002 \"x\\n\0\"\n// 0003 \"next\"\n";
    Write("italiano", std::string(acFile, sizeof acFile - 1));
    int iResult;
    Load("italiano", &iResult);
    EXPECT_EQ("ab", Message(1));
    EXPECT_EQ("x\n", Message(2));
    EXPECT_EQ("next", Message(3));
}

TEST_F(MessageFiles, HeaderFormsReadAsScanfReadsThem)
{
    Write("italiano",
          "//0006 \"x\"\n"        /* no blank: number 6, quote not at index 8 */
          "//\t   7 \"tab\"\n"     /* white space of any kind; quote at 8 */
          "// +12  \"plus\"\n"     /* a sign counts toward the four characters */
          "// -0 \"x\"\n"          /* "-0" is 0; the quote at 8 is the closing one */
          "// 0x7 \"hex\"\n"       /* base 10: reads 0 */
          "/ 0001 \"one slash\"\n" /* not a header: -1 */
          "// - 5 \"sign alone\"\n"
          "//\n");
    int iResult;
    std::string out = Load("italiano", &iResult);
    EXPECT_EQ(1, iResult);
    EXPECT_EQ(nullptr, Slot(6));
    EXPECT_EQ("tab", Message(7));
    EXPECT_EQ("plus", Message(12));
    EXPECT_EQ("x", Message(0));
    EXPECT_NE(std::string::npos, out.find("alla riga 6 risulta avere un indice fuori limite ( -1 )"));
    EXPECT_NE(std::string::npos, out.find("alla riga 7 risulta avere un indice fuori limite ( -1 )"));
    EXPECT_NE(std::string::npos, out.find("alla riga 8 risulta avere un indice fuori limite ( -1 )"));
}

/* The plain reading: what a file of these lines must give, slot by slot,
 * and the warnings it must print. */
static void PlainReading(std::vector<std::string> const &vLines, std::map<int, std::string> *pSlots,
                         std::string *pWarnings)
{
    int iLine = 0;
    for (std::string const &line : vLines) {
        iLine++;
        if (line[0] == '#' || line[0] == '\0')
            continue;
        int n;
        if (sscanf(line.c_str(), "// %04d ", &n) != 1)
            n = -1;
        if ((unsigned)n >= 10000) {
            char ac[200];
            snprintf(ac, sizeof ac,
                     "\nIl messaggio alla riga %d risulta avere un indice fuori limite ( %d ): Messaggio ignorato\n",
                     iLine, n);
            *pWarnings += ac;
            continue;
        }
        size_t q = line.find('"');
        if (q == std::string::npos || line.size() <= 8 || line[8] != '"' || q + 1 >= line.size())
            continue;
        std::string t = line.substr(q + 1);
        if (!t.empty() && t.back() == '\n')
            t.pop_back();
        if (!t.empty() && t.back() == '"')
            t.pop_back();
        (*pSlots)[n] = PlainMessageText(t);
    }
}

TEST_F(MessageFiles, RandomLinesLoadAsThePlainReadingSays)
{
    /* Pieces that make escapes, near misses and escapes that appear only
     * once a neighbour is removed, with blanks enough to wrap. */
    static char const *const apsPieces[] = {
        "\\", "\\\\", "\\n", "\\t", "\\\"", "\"", "\\0", "\\00", "\\003", "\\0034", "\\00312", "\\017",
        "\\01", "0", "3", "17", "4", "n", "t", ".xchatV", ".xchat", "V", " ", " ", " ", "parola", "word",
        "\r", "\t", "#", "/"};
    static char const *const apsHeads[] = {"// %04d \"", "// %04d \"", "// %04d \"", "//%04d \"", "//\t%d \"",
                                           "// %+d \"", "// %d\"", "// %05d \"", "/ %04d \"", "", "# "};
    for (unsigned uSeed = 1; uSeed <= 20; uSeed++) {
        std::mt19937 rng(uSeed);
        std::vector<std::string> vLines;
        std::string file;
        for (int i = 0; i < 500; i++) {
            char acHead[64];
            snprintf(acHead, sizeof acHead, apsHeads[rng() % (sizeof apsHeads / sizeof *apsHeads)],
                     (int)(rng() % 10040) - 20);
            std::string line = acHead;
            int iPieces = (int)(rng() % 120);
            for (int k = 0; k < iPieces; k++)
                line += apsPieces[rng() % (sizeof apsPieces / sizeof *apsPieces)];
            if (rng() % 4 != 0)
                line += "\"";
            line += "\n";
            vLines.push_back(line);
            file += line;
        }
        std::map<int, std::string> want;
        std::string wantWarnings;
        PlainReading(vLines, &want, &wantWarnings);

        FlushMessage();
        Write("italiano", file);
        int iResult;
        std::string out = Load("italiano", &iResult);
        ASSERT_EQ(1, iResult);
        EXPECT_EQ("  - Calculating Language File Path.\n  - Parsing Language File ...." + wantWarnings +
                      " completed.\n",
                  out.substr(out.find("  - Calculating")))
            << "seed " << uSeed;
        for (int n = 0; n < 10000; n++) {
            auto it = want.find(n);
            if (it == want.end()) {
                EXPECT_EQ(nullptr, Slot(n)) << "seed " << uSeed << " number " << n;
            } else {
                ASSERT_NE(nullptr, Slot(n)) << "seed " << uSeed << " number " << n;
                EXPECT_EQ(it->second, std::string(apsMessageArray[n])) << "seed " << uSeed << " number " << n;
            }
        }
    }
}

/* ---- The texts kept from the catalogue that copied every text at load ----
 * support_mm_data/texts.txt holds, for three scenarios over the message
 * files beside it, what that catalogue printed, returned and answered for
 * every number (record.cpp there tells how it was taken).  Whatever the
 * catalogue does at load time, its answers must stay these, byte for
 * byte. */

static std::string Unescaped(std::string const &s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] != '\\') {
            out += s[i];
        } else if (s[i + 1] == '\\') {
            out += '\\';
            i++;
        } else {
            out += (char)strtol(s.substr(i + 2, 2).c_str(), nullptr, 16);
            i += 3;
        }
    }
    return out;
}

static std::string EmptyNumberText(int n)
{
    return "ATTENZIONE: Messaggio numero " + std::to_string(n) +
           " fuori dal limite o comunque vuoto.\nContattare la VEL'Software !";
}

TEST_F(MessageFiles, EveryNumberAnswersAsTheCatalogueThatCopiedAtLoad)
{
    for (char const *ps : {"italiano", "english", "random"})
        Write(ps, ReadFileText(std::string(MORV_MM_DATA "/morv_") + ps + ".msg"));
    std::ifstream in(MORV_MM_DATA "/texts.txt");
    ASSERT_TRUE(in.good());
    std::string line, scenario, language;
    std::set<int> listed;
    int nScenarios = 0;
    int iResult = -1;
    auto unlisted = [&] {
        for (int n = 0; n < 10000; n++) {
            if (!listed.count(n)) {
                ASSERT_EQ(EmptyNumberText(n), Message(n)) << scenario << ", number " << n;
            }
        }
    };
    while (std::getline(in, line)) {
        char cKind = line[0];
        std::string rest = line.substr(2);
        if (cKind == 'S') {
            if (nScenarios++ > 0)
                unlisted();
            scenario = rest;
            listed.clear();
            ssFlagAlredyLoaded = 0;
            FlushMessage();
        } else if (cKind == 'L') {
            language = rest;
        } else if (cKind == 'O') {
            EXPECT_EQ(Unescaped(rest), Load(language.c_str(), &iResult)) << scenario << ", " << language;
        } else if (cKind == 'R') {
            EXPECT_EQ(atoi(rest.c_str()), iResult) << scenario << ", " << language;
        } else if (cKind == 'C') {
            ASSERT_NE(nullptr, psMessagePointer) << scenario << ", " << language;
            EXPECT_EQ(Unescaped(rest), psMessagePointer) << scenario << ", " << language;
        } else {
            ASSERT_EQ('T', cKind) << line;
            size_t uBlank = rest.find(' ');
            int n = atoi(rest.substr(0, uBlank).c_str());
            listed.insert(n);
            EXPECT_EQ(Unescaped(rest.substr(uBlank + 1)), Message(n)) << scenario << ", number " << n;
        }
    }
    unlisted();
    EXPECT_EQ(3, nScenarios);
}

/* ---- Texts read from their files when first asked for ------------------- */

TEST_F(MessageFiles, ATextAskedForTwiceIsDecodedOnceAndKept)
{
    Write("italiano", "// 0001 \"uno \\\"due\\\"\"\n// 0002 \"l'ultimo\"\n");
    int iResult;
    Load("italiano", &iResult);
    ASSERT_EQ(1, iResult);
    EXPECT_EQ(nullptr, apsMessageArray[1]); /* not decoded by the load */
    EXPECT_STREQ("l'ultimo", psMessagePointer);
    char const *psFirst = GetMessage(1);
    EXPECT_STREQ("uno \"due\"", psFirst);
    EXPECT_EQ(psFirst, apsMessageArray[1]);
    EXPECT_EQ(psFirst, GetMessage(1));
    /* What edits the current message in place edits the kept text. */
    EXPECT_EQ(1, local_ustrfindreplace("due", "2"));
    EXPECT_EQ("uno \"2\"", Message(1));
}

TEST_F(MessageFiles, AFileLaidOverAnotherKeepsItsOwnTextsWhereverTheyLie)
{
    Write("italiano", "// 0001 \"uno\"\n// 0005 \"cinque\"\n// 0007 \"sette\"\n// 0008 \"otto\"\n");
    Write("english", "// 0005 \"five\"\n// 0007 \"\"\n// 0009 \"nine\"\n// 0010 \"ten\"\n// 0011 \"eleven\"\n");
    int iResult;
    Load("italiano", &iResult);
    EXPECT_EQ("cinque", Message(5)); /* asked for before the English file */
    Load("english", &iResult);
    EXPECT_EQ("five", Message(5));
    EXPECT_EQ(EmptyNumberText(7), Message(7));
    EXPECT_EQ("nine", Message(9));
    /* A file put in the place of the Italian one leaves its texts as they
     * were loaded; one rewritten in place no longer holds them where they
     * were, so they are not taken from it. */
    WriteFileText(home / "new.msg", "// 0001 \"nuovo\"\n// 0008 \"nuovo\"\n");
    ASSERT_EQ(0, rename((home / "new.msg").c_str(), (home / ".xchat2/morvane/morv_italiano.msg").c_str()));
    EXPECT_EQ("uno", Message(1));
    Write("english", "// 0010 \"x\"\n");
    EXPECT_EQ(EmptyNumberText(10), Message(10));
    EXPECT_EQ("otto", Message(8));
}

/* The descriptors open in this process. */
static int OpenFiles()
{
    int n = 0;
    for (int fd = 0; fd < 1024; fd++)
        n += fcntl(fd, F_GETFD) != -1;
    return n;
}

TEST_F(MessageFiles, APipeAndFilesBeyondTheEighthAreDecodedAtTheirLoad)
{
    int iFilesBefore = OpenFiles();
    std::string file = ReadFileText(MORV_MM_DATA "/morv_italiano.msg");
    Write("italiano", file);
    int iResult;
    Load("italiano", &iResult);
    std::vector<std::string> vFromFile;
    for (int n = 0; n < 10000; n++)
        vFromFile.push_back(Message(n));

    /* The same bytes from a pipe, which cannot be read again later. */
    ssFlagAlredyLoaded = 0;
    int aiPipe[2];
    ASSERT_EQ(0, pipe(aiPipe));
    ASSERT_EQ((ssize_t)file.size(), write(aiPipe[1], file.data(), file.size()));
    close(aiPipe[1]);
    ASSERT_EQ(0, symlink(("/proc/self/fd/" + std::to_string(aiPipe[0])).c_str(),
                         (home / ".xchat2/morvane/morv_pipe.msg").c_str()));
    std::string out = Load("pipe", &iResult);
    close(aiPipe[0]);
    EXPECT_EQ(1, iResult);
    EXPECT_NE(std::string::npos, out.find(" completed.\n"));
    for (int n = 0; n < 10000; n++)
        ASSERT_EQ(vFromFile[n], Message(n)) << "number " << n;

    /* Ten files laid one over the other: each keeps its numbers. */
    for (int i = 0; i < 10; i++)
        Write(("l" + std::to_string(i)).c_str(),
              "// 0" + std::to_string(100 + i) + " \"first of " + std::to_string(i) + "\"\n// 0200 \"" +
                  std::to_string(i) + "\"\n");
    for (int i = 0; i < 10; i++)
        Load(("l" + std::to_string(i)).c_str(), &iResult);
    for (int i = 0; i < 10; i++)
        EXPECT_EQ("first of " + std::to_string(i), Message(100 + i));
    EXPECT_EQ("9", Message(200));
    FlushMessage();
    EXPECT_EQ(iFilesBefore, OpenFiles()); /* every file let go of */
}

}  // namespace
