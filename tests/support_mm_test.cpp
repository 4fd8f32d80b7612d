/* The message catalogue: file format, unescaping, wrapping, the overlay of
 * a second language, console lines and the fallback texts. */
#include "editor/main.h"
#include "support/mm.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
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
        chdir("/");
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
    EXPECT_EQ(nullptr, apsMessageArray[1234]);
    EXPECT_EQ(nullptr, apsMessageArray[6]);
    EXPECT_EQ("ATTENZIONE: Messaggio numero 7 fuori dal limite o comunque vuoto.\nContattare la VEL'Software !",
              Message(7));
    ASSERT_NE(nullptr, apsMessageArray[8]);
    EXPECT_STREQ("", apsMessageArray[8]);
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
            printf("|%d %d %s", r, ssFlagAlredyLoaded, apsMessageArray[1000]);
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

}  // namespace
