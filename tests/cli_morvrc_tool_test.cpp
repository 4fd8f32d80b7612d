/* morvrc_tool run as users run it, on files built here byte by byte: width
 * detection, conversions both ways, damage reported at the right byte,
 * changes that the editor's own reader then sees, and refusals that leave
 * the file alone.
 * Usage: cli_morvrc_tool_test [gtest options] TOOL [RUNNER...] */
#include "editor/main.h"
#include "settings/catalogue.h"
#include "settings/morv.h"
#include "settings/morvrc.h"
#include "support/runlog.h"
#include "support/xchat.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

std::string gTool;                  /* the morvrc_tool under test */
std::vector<std::string> gRunner;   /* how this build's programs are started */

const int kNative = (int)sizeof(time_t);

typedef ProgramResult ToolResult;

/* A hand-built version-38 file with distinct values and every kind of text;
 * the two widths differ only in the three time fields.  Offsets of a few
 * fields are kept for the damage tests. */
struct Sample {
    ByteVector bytes;
    size_t uAwayPostfixAt;     /* field 33, a single text */
    size_t uWordPairSecondAt;  /* field 23, the length word of text [1] */
    size_t uMaxMessageCharAt;  /* field 37, an integer */
};

Sample MakeSample(int iTimeBytes, int64_t llSoundTimer = 2000000000)
{
    Sample s;
    Bytes b;
    b.i32(38);
    b.i32(1).i32(0).i32(1).i32(0);                                      /* 2 .. 5 */
    b.i32(1).i32(0).i32(77).i32(1).i32(0).i32(1).i32(1).i32(12).i32(1); /* 6 .. 14 */
    b.time_width(-3, iTimeBytes).i32(1);                                /* 15, 16 */
    b.time_width(llSoundTimer, iTimeBytes).i32(4);                      /* 17, 18 */
    b.time_width(9, iTimeBytes).i32(1);                                 /* 19, 20 */
    b.text("#chan").text("");                     /* 21: text [1] present and empty */
    b.i32(0);                                     /* 22: absent pair */
    b.text("foo");                                /* 23 */
    s.uWordPairSecondAt = b.size();
    b.text("bar baz");
    b.text("[").text("]");                        /* 24, 25 */
    b.i32(1).i32(0).i32(1).i32(0).i32(1).i32(1);  /* 26 .. 31 */
    b.i32(0);                                     /* 32: language stored empty */
    s.uAwayPostfixAt = b.size();
    b.text("tab\there \"q\" back\\slash \xc3\xa9"); /* 33 */
    b.i32(0);                                     /* 34 */
    b.text("/ECHO ").i32(0);                      /* 35, 36 (absent) */
    s.uMaxMessageCharAt = b.size();
    b.i32(300);                                   /* 37 */
    b.text("/MSG NickServ Identify secret");      /* 38 */
    b.i32(1).i32(0).i32(1).i32(1).i32(0).i32(1).i32(1).i32(0); /* 39 .. 46 */
    b.i32(1);                                     /* 47 */
    for (int k = 0; k < 19; k++)                  /* 48: PRIVMSG 0, JOIN 1, ... NOTICE 0 */
        b.i32(k % 2);
    b.i32(1).i32(0).i32(5).i32(1).i32(3).i32(0).i32(1).i32(1).i32(1); /* 49 .. 57 */
    s.bytes = b.bytes();
    return s;
}

/* Fields 2 to 20 with their initial values. */
Bytes &InitialHead(Bytes &b, int iTimeBytes)
{
    b.i32(0).i32(0).i32(1).i32(0);
    b.i32(1).i32(1).i32(10).i32(1).i32(1).i32(1).i32(1).i32(10).i32(1);
    b.time_width(1, iTimeBytes).i32(1).time_width(6, iTimeBytes).i32(3);
    return b.time_width(5, iTimeBytes).i32(0);
}

/* Fields 39 to 57 with their initial values. */
Bytes &InitialTail(Bytes &b)
{
    b.i32(1).i32(0).i32(1).i32(1).i32(1).i32(1).i32(1).i32(1).i32(0);
    for (int k = 0; k < 18; k++)
        b.i32(1);
    b.i32(0);
    return b.i32(0).i32(0).i32(8).i32(1).i32(2).i32(0).i32(1).i32(0).i32(0);
}

/* The initial values with every text absent: 300 or 312 bytes. */
ByteVector Plain(int iTimeBytes)
{
    Bytes b;
    b.i32(38);
    InitialHead(b, iTimeBytes);
    b.i32(0).i32(0).i32(0).i32(0).i32(0);                 /* 21 .. 25 */
    b.i32(1).i32(0).i32(1).i32(0).i32(1).i32(1);          /* 26 .. 31 */
    b.i32(0).i32(0).i32(1).i32(0).i32(0).i32(256).i32(0); /* 32 .. 38 */
    InitialTail(b);
    return b.bytes();
}

/* Every field 0 and every text absent: 300 or 312 bytes.  Files like this
 * differ in nothing but their width. */
ByteVector Zeros(int iTimeBytes, int iVersion = 38)
{
    Bytes b;
    b.i32(iVersion);
    for (int i = 0; i < (iTimeBytes == 8 ? 308 : 296) / 4; i++)
        b.i32(0);
    return b.bytes();
}

class MorvrcTool : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ResetSettings();
        /* A home without setup.dat: no row names or ranges but those a test
         * gives. */
        setenv("HOME", dir.path().c_str(), 1);
        rc = dir / "morvrc";
        log = dir / "run.log";
        psLogFile = log.c_str();
        pfRunLog = WriteLog;
    }
    void TearDown() override
    {
        ResetSettings();
        psMorvaneRC = nullptr;
        psLogFile = nullptr;
    }

    /* Runs morvrc_tool with args; standard output and error are kept apart.
     * env holds "NAME=value" settings for the tool alone. */
    ToolResult Tool(std::vector<std::string> const &args, std::vector<std::string> const &env = {})
    {
        std::vector<std::string> argv = gRunner;
        /* The emulator passes its -E settings on to the tool, not to itself. */
        for (std::string const &e : env)
            if (!gRunner.empty())
                argv.insert(argv.end(), {"-E", e});
        argv.push_back(gTool);
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, "", dir.path(), gRunner.empty() ? env : std::vector<std::string>{});
    }

    ScratchDir dir;
    std::string rc;
    std::string log;
};

/* ---- check ------------------------------------------------------------- */

TEST_F(MorvrcTool, CheckTellsFilesThatDifferOnlyInWidth)
{
    for (int w : {4, 8}) {
        SCOPED_TRACE("written " + Bits(w) + "-bit");
        int iOther = 12 - w;
        for (ByteVector const &image : {MakeSample(w).bytes, Plain(w), Zeros(w)}) {
            WriteFileBytes(rc, image);
            ToolResult r = Tool({"check", rc});
            EXPECT_EQ(0, r.iStatus) << r.out << r.err;
            std::vector<std::string> lines = Lines(r.out);
            ASSERT_EQ(6u, lines.size()) << r.out;
            EXPECT_EQ("version: 38", lines[0]);
            EXPECT_EQ("size: " + std::to_string(image.size()) + " bytes", lines[1]);
            EXPECT_EQ(0u, lines[w == 4 ? 2 : 3].find(Bits(w) + "-bit: yes")) << r.out;
            EXPECT_EQ(0u, lines[w == 4 ? 3 : 2].find(Bits(iOther) + "-bit: no")) << r.out;
            EXPECT_EQ("verdict: " + Bits(w) + "-bit", lines[4]);
            EXPECT_EQ("width: " + Bits(w) + "-bit", lines[5]);
            EXPECT_EQ(0, Tool({"check", "--bits", Bits(w), rc}).iStatus);
            EXPECT_EQ(1, Tool({"check", "--bits=" + Bits(iOther), rc}).iStatus);
        }
    }
    /* Where only the width differs, a 64-bit file read as 32-bit ends 12
     * bytes early, and a 32-bit one read as 64-bit runs out inside
     * field 55, which would start at byte 300. */
    WriteFileBytes(rc, Zeros(8));
    ToolResult r = Tool({"check", rc});
    EXPECT_EQ(0, r.iStatus);
    EXPECT_TRUE(Contains(r.out, "32-bit: no, 12 bytes after the last field, from byte 300\n")) << r.out;
    WriteFileBytes(rc, Zeros(4));
    r = Tool({"check", rc});
    EXPECT_EQ(0, r.iStatus);
    EXPECT_TRUE(Contains(r.out, "64-bit: no, field 55 (iPKIgnoreCTCPVersion) at byte 300: the file "
                                "ends at byte 300, inside this 4-byte integer\n"))
        << r.out;
    /* Read as 64-bit, a 32-bit file finds iFlagIgnoreMessage (1) as the
     * length of a text at byte 100, and then the bytes 00 00 00 01 at 105
     * as the length of the next. */
    WriteFileBytes(rc, Plain(4));
    r = Tool({"check", rc});
    EXPECT_EQ(0, r.iStatus);
    EXPECT_TRUE(Contains(r.out, "64-bit: no, field 23 (psFlagChanWordBeep) at byte 105: text "
                                "length 16777216 runs 16777025 bytes past the end of the file\n"))
        << r.out;
}

TEST_F(MorvrcTool, CheckOnFilesThatFitNeitherOrBothWidths)
{
    struct Case {
        char const *psWhat;
        ByteVector image;
        char const *psVerdict;
        char const *psSays;
        int iWidth = kNative;  /* the width read at: the one that gets further, this build's on a tie */
    } aCases[] = {
        {"empty", {}, "neither", "0 bytes are too few for the version word"},
        {"version 13", Bytes().i32(13).raw(Plain(4)).bytes(), "neither",
         "version 13 is older than 14"},
        {"extra byte", Bytes().raw(Plain(8)).raw("!").bytes(), "neither",
         "64-bit: no, 1 bytes after the last field, from byte 312", 8},
        /* A newer file may carry fields this build does not know, so bytes
         * after field 57 do not count against it; read as 32-bit, the
         * 12 shifted bytes hide among them and both widths fit. */
        {"version 40", Bytes().raw(Zeros(8, 40)).i32(7).i32(8).bytes(), "both",
         "64-bit: yes, every field of version 38 in bounds; 8 bytes after the last field, from "
         "byte 312, which version 40 may use"},
    };
    for (Case const &c : aCases) {
        SCOPED_TRACE(c.psWhat);
        WriteFileBytes(rc, c.image);
        ToolResult r = Tool({"check", rc});
        EXPECT_EQ(1, r.iStatus);
        EXPECT_TRUE(Contains(r.out, std::string("verdict: ") + c.psVerdict + "\n")) << r.out;
        EXPECT_TRUE(Contains(r.out, "width: " + Bits(c.iWidth) + "-bit\n")) << r.out;
        EXPECT_TRUE(Contains(r.out, c.psSays)) << r.out;
    }
    /* Asked for one width, the newer file passes in it. */
    EXPECT_EQ(0, Tool({"check", "--bits", "64", rc}).iStatus);
}

/* ---- convert ----------------------------------------------------------- */

TEST_F(MorvrcTool, ConvertRoundTripsBetweenWidths)
{
    std::string in = dir / "in", out = dir / "out";
    for (int iFrom : {4, 8}) {
        for (int iTo : {4, 8}) {
            SCOPED_TRACE(Bits(iFrom) + " to " + Bits(iTo));
            WriteFileBytes(in, MakeSample(iFrom).bytes);
            ToolResult r = Tool({"convert", "--from", Bits(iFrom), "--to", Bits(iTo), in, out});
            EXPECT_EQ(0, r.iStatus) << r.err;
            EXPECT_EQ("", r.out);
            ByteVector want = MakeSample(iTo).bytes, got = ReadFileBytes(out);
            EXPECT_EQ(want, got) << "want\n" << Hex(want) << "\ngot\n" << Hex(got);
        }
    }
    /* Onto a file that already holds the result: left alone. */
    struct stat before, after;
    ASSERT_EQ(0, stat(out.c_str(), &before));
    ASSERT_EQ(0, Tool({"convert", "--to", Bits(8), in, out}).iStatus);
    ASSERT_EQ(0, stat(out.c_str(), &after));
    EXPECT_EQ(before.st_ino, after.st_ino);
    /* In place, and back again. */
    WriteFileBytes(rc, MakeSample(4).bytes);
    ASSERT_EQ(0, Tool({"convert", "--from", "32", "--to", "64", rc, rc}).iStatus);
    EXPECT_EQ(MakeSample(8).bytes, ReadFileBytes(rc));
    ASSERT_EQ(0, Tool({"convert", "--to=32", "--from=64", rc, rc}).iStatus);
    EXPECT_EQ(MakeSample(4).bytes, ReadFileBytes(rc));
}

TEST_F(MorvrcTool, ConvertWritesAnOlderFileAsVersion38WithTheMissingFieldsFilled)
{
    /* Version 21 stops after psPipeCommand; what it lacks is written with
     * the values the editor would start from. */
    Bytes old;
    old.i32(21);
    InitialHead(old, 4);
    old.i32(0).i32(0).i32(0).text("<").i32(0);
    old.i32(0).i32(0).i32(0).i32(0).i32(0).i32(0);
    old.text("english").text("|away").i32(0).text("/SAY ");
    WriteFileBytes(rc, old.bytes());

    Bytes want;
    want.i32(38);
    InitialHead(want, 8);
    want.i32(0).i32(0).i32(0).text("<").i32(0);
    want.i32(0).i32(0).i32(0).i32(0).i32(0).i32(0);
    want.text("english").text("|away").i32(0).text("/SAY ").text("ALSA");
    want.i32(256).text("/MSG NickServ Identify");
    InitialTail(want);

    std::string out = dir / "out";
    ToolResult r = Tool({"convert", "--from", "32", "--to", "64", rc, out});
    EXPECT_EQ(0, r.iStatus) << r.err;
    EXPECT_TRUE(Contains(r.err, "version 21")) << r.err;
    EXPECT_EQ(want.bytes(), ReadFileBytes(out)) << Hex(ReadFileBytes(out));
}

TEST_F(MorvrcTool, ConvertRefusesATimeThatDoesNotFit32Bits)
{
    std::string out = dir / "out";
    WriteFileBytes(rc, MakeSample(8, 0x100000005LL).bytes);
    ByteVector old = Bytes().raw("keep me").bytes();
    WriteFileBytes(out, old);
    ToolResult r = Tool({"convert", "--from", "64", "--to", "32", rc, out});
    EXPECT_EQ(5, r.iStatus);
    EXPECT_TRUE(Contains(r.err, "tSoundCommandTimer")) << r.err;
    EXPECT_EQ(old, ReadFileBytes(out));

    /* The file itself is sound: it checks as 64-bit in every build, and
     * only a 64-bit build can hold the value. */
    EXPECT_EQ(0, Tool({"check", "--bits", "64", rc}).iStatus);
    r = Tool({"convert", "--from", "64", "--to", "64", rc, out});
    if (kNative == 8) {
        EXPECT_EQ(0, r.iStatus) << r.err;
        EXPECT_EQ(MakeSample(8, 0x100000005LL).bytes, ReadFileBytes(out));
    } else {
        EXPECT_EQ(5, r.iStatus);
        EXPECT_TRUE(Contains(r.err, "holds a time value that this 32-bit program cannot hold "
                                    "(tSoundCommandTimer = 4294967301)"))
            << r.err;
        EXPECT_EQ(old, ReadFileBytes(out));
    }
}

TEST_F(MorvrcTool, ConvertFromTheWrongWidthWritesNothing)
{
    std::string out = dir / "out";
    for (int w : {4, 8}) {
        WriteFileBytes(rc, MakeSample(w).bytes);
        ToolResult r = Tool({"convert", "--from", Bits(12 - w), "--to", Bits(w), rc, out});
        EXPECT_EQ(4, r.iStatus) << Bits(w);
        EXPECT_TRUE(Contains(r.err, "does not parse as a " + Bits(12 - w) + "-bit file")) << r.err;
        EXPECT_FALSE(FileExists(out));
    }
}

/* ---- dump and get ------------------------------------------------------ */

TEST_F(MorvrcTool, DumpShowsEveryStoredSettingInFileOrder)
{
    for (int w : {4, 8}) {
        SCOPED_TRACE(Bits(w));
        ByteVector image = MakeSample(w).bytes;
        WriteFileBytes(rc, image);
        ToolResult r = Tool({"dump", "--bits", Bits(w), rc});
        EXPECT_EQ(0, r.iStatus) << r.err;
        EXPECT_EQ("", r.err);
        std::vector<std::string> lines = Lines(r.out);
        ASSERT_EQ(78u, lines.size()) << r.out;
        /* Nothing in it depends on the width or the size. */
        EXPECT_EQ("# morvrc version 38", lines[0]);
        /* The names follow the field table, pairs and parser modes
         * element by element. */
        size_t uLine = 1;
        for (int i = 0; i < MORV_FIELD_COUNT; i++) {
            MorvField const &f = aMorvFields[i];
            int iElements = f.eKind == MFK_TEXT_PAIR ? 2 : f.eKind == MFK_INT32_ARRAY ? 19 : 1;
            for (int e = 0; e < iElements; e++, uLine++) {
                std::string name = f.psName;
                if (f.eKind == MFK_TEXT_PAIR)
                    name += "[" + std::to_string(e) + "]";
                else if (f.eKind == MFK_INT32_ARRAY)
                    name += std::string("[") + apsFlagParseMode[e] + "]";
                EXPECT_EQ(0u, lines[uLine].find(name + " = ")) << lines[uLine];
            }
        }
        for (char const *ps : {
                 "iMaxCloneCount = 77",
                 "tCTCPFloodTimer = -3",
                 "tSoundCommandTimer = 2000000000",
                 "psFlagChanJoinBeep[0] = \"#chan\"",
                 "psFlagChanJoinBeep[1] = \"\"",
                 "psFlagChanModBeep[1] = absent",
                 "psFlagChanWordBeep[1] = \"bar baz\"",
                 "psMessageLanguage = absent",
                 "psAwayPostfix = \"tab\\there \\\"q\\\" back\\\\slash \\303\\251\"",
                 "psAudioDevice = absent",
                 "iMaxMessageChar = 300",
                 "iFlagParserMode[PRIVMSG] = 0",
                 "iFlagParserMode[JOIN] = 1",
                 "iFlagParserMode[NOTICE] = 0",
                 "iPKAllowOnTimeout = 1",
             })
            EXPECT_TRUE(Contains(r.out, std::string(ps) + "\n")) << ps;
    }
}

TEST_F(MorvrcTool, DumpOfAnOlderFileShowsOnlyWhatItHolds)
{
    /* Version 14 ends with iFlagIgnoreMessage; the reader's defaults for
     * the later texts are not part of the file and are not shown. */
    Bytes b;
    b.i32(14);
    InitialHead(b, kNative);
    b.i32(0).i32(0).i32(0).text("pre").i32(0).i32(0);
    WriteFileBytes(rc, b.bytes());
    ToolResult r = Tool({"dump", rc});
    EXPECT_EQ(0, r.iStatus) << r.err;
    std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(29u, lines.size()) << r.out;
    EXPECT_EQ("# morvrc version 14", lines[0]);
    EXPECT_EQ("psPrefixOutput = \"pre\"", lines[26]);
    EXPECT_EQ("iFlagIgnoreMessage = 0", lines[28]);
    EXPECT_FALSE(Contains(r.out, "psPipeCommand"));

    EXPECT_EQ("0\n", Tool({"get", rc, "iFlagIgnoreMessage"}).out);
    ToolResult get = Tool({"get", rc, "psAudioDevice"});
    EXPECT_EQ(1, get.iStatus);
    EXPECT_EQ("", get.out);
    EXPECT_TRUE(Contains(get.err, "version 14, which does not hold psAudioDevice")) << get.err;
}

TEST_F(MorvrcTool, GetPrintsOneValueByAnyOfItsNames)
{
    WriteFileBytes(rc, MakeSample(8).bytes);
    struct Case {
        char const *psName, *psValue;
    } aCases[] = {
        {"iMaxQueryMSGFlood", "12"},       {"tMinSecondSent", "9"},
        {"psFlagChanWordBeep[0]", "\"foo\""}, {"psFlagChanModBeep[0]", "absent"},
        {"psIdentifyCommand", "\"/MSG NickServ Identify secret\""},
        {"iFlagParserMode[1]", "1"},       {"iFlagParserMode[KICK]", "1"},
        {"MODE", "0"},                     {"iFlagDisableSHBM", "1"},
    };
    for (Case const &c : aCases) {
        ToolResult r = Tool({"get", "--bits", "64", rc, c.psName});
        EXPECT_EQ(0, r.iStatus) << c.psName << r.err;
        EXPECT_EQ(std::string(c.psValue) + "\n", r.out) << c.psName;
    }
    ToolResult r = Tool({"get", "--bits", "64", rc, "iFlagParserMode"});
    EXPECT_EQ(2, r.iStatus);
    EXPECT_TRUE(Contains(r.err, "iFlagParserMode[0] to iFlagParserMode[18]")) << r.err;
}

/* ---- damage ------------------------------------------------------------ */

TEST_F(MorvrcTool, DamageIsReportedAtItsByteAndField)
{
    for (int w : {4, 8}) {
        SCOPED_TRACE(Bits(w));
        Sample s = MakeSample(w);
        std::string bits = Bits(w);

        /* A text length that runs past the end of the file. */
        Bytes past;
        past.raw(ByteVector(s.bytes.begin(), s.bytes.begin() + (long)s.uAwayPostfixAt));
        past.i32(1000).raw("short");
        WriteFileBytes(rc, past.bytes());
        std::string where = "field 33 (psAwayPostfix) at byte " + std::to_string(s.uAwayPostfixAt);
        ToolResult r = Tool({"dump", "--bits", bits, rc});
        EXPECT_EQ(4, r.iStatus);
        EXPECT_TRUE(Contains(r.err, where + ": text length 1000 runs 995 bytes past the end")) << r.err;
        /* What lies before the damage is shown, nothing from it on. */
        EXPECT_TRUE(Contains(r.out, "psMessageLanguage = absent\n")) << r.out;
        EXPECT_FALSE(Contains(r.out, "psAwayPostfix")) << r.out;
        ToolResult c = Tool({"check", "--bits", bits, rc});
        EXPECT_EQ(1, c.iStatus);
        EXPECT_TRUE(Contains(c.out, bits + "-bit: no, " + where)) << c.out;

        /* A file that ends inside an integer. */
        ByteVector cut(s.bytes.begin(), s.bytes.begin() + (long)s.uMaxMessageCharAt + 2);
        WriteFileBytes(rc, cut);
        r = Tool({"get", "--bits", bits, rc, "iFlagDebugMode"});
        EXPECT_EQ(4, r.iStatus);
        EXPECT_EQ("", r.out);
        EXPECT_TRUE(Contains(r.err, "field 37 (iMaxMessageChar) at byte " +
                                        std::to_string(s.uMaxMessageCharAt) +
                                        ": the file ends at byte " + std::to_string(cut.size()) +
                                        ", inside this 4-byte integer"))
            << r.err;

        /* A negative length for text [1] of a pair. */
        ByteVector negative = s.bytes;
        for (int i = 0; i < 4; i++)
            negative[s.uWordPairSecondAt + (size_t)i] = i == 0 ? 0xfe : 0xff;
        WriteFileBytes(rc, negative);
        r = Tool({"set", "--bits", bits, rc, "iMaxCloneCount", "1"});
        EXPECT_EQ(4, r.iStatus);
        EXPECT_TRUE(Contains(r.err, "field 23 (psFlagChanWordBeep) at byte " +
                                        std::to_string(s.uWordPairSecondAt) +
                                        ": negative length -2 for text [1] of the pair"))
            << r.err;
        EXPECT_EQ(negative, ReadFileBytes(rc));
    }
}

TEST_F(MorvrcTool, BytesAfterTheLastSettingAreToldAndDroppedUpToVersion38)
{
    /* As the editor does: the settings are read, the bytes after them are
     * told and not written back. */
    ByteVector sample = MakeSample(kNative).bytes;
    WriteFileBytes(rc, Bytes().raw(sample).raw("xyz").bytes());
    ToolResult r = Tool({"dump", rc});
    EXPECT_EQ(0, r.iStatus);
    EXPECT_TRUE(Contains(r.out, "iFlagDisableSHBM = 1\n"));
    EXPECT_TRUE(Contains(r.err, rc + " has 3 bytes after its last setting, from byte " +
                                    std::to_string(sample.size()) +
                                    ": they were not read and will not be saved"))
        << r.err;
    EXPECT_EQ(0, Tool({"set", rc, "iFlagDisableSHBM", "1"}).iStatus);
    EXPECT_EQ(sample, ReadFileBytes(rc));

    /* Newer files may have them: they are shown as a count, and set keeps
     * them, under the file's own version word. */
    ByteVector newer = MakeSample(kNative).bytes;
    newer[0] = 39;
    newer.push_back('z');
    WriteFileBytes(rc, newer);
    r = Tool({"dump", rc});
    EXPECT_EQ(0, r.iStatus) << r.err;
    EXPECT_TRUE(Contains(r.out, "# 1 bytes after the last field: fields of version 39 not shown\n"))
        << r.out;
    r = Tool({"set", rc, "iFlagDisableSHBM", "0"});
    EXPECT_EQ(0, r.iStatus) << r.err;
    EXPECT_EQ("", r.err);
    ByteVector want = newer;
    want[want.size() - 5] = 0;
    EXPECT_EQ(want, ReadFileBytes(rc));
}

/* ---- set --------------------------------------------------------------- */

TEST_F(MorvrcTool, SetChangesWhatTheEditorThenReads)
{
    WriteFileBytes(rc, MakeSample(kNative).bytes);
    chmod(rc.c_str(), 0640);
    struct stat before;
    ASSERT_EQ(0, stat(rc.c_str(), &before));

    ToolResult r = Tool({"set", rc, "iMaxCloneCount", "42", "psAwayPostfix", "\"x\\ty\\303\\251\"",
                  "psAudioDevice", "OSS dev", "iFlagParserMode[NOTICE]", "1", "CHNICK", "0",
                  "tMinSecondSent", "-7", "psFlagChanModBeep[0]", "#mod", "psFlagChanModBeep[1]",
                  "\"\"", "psPrefixOutput", "absent"});
    ASSERT_EQ(0, r.iStatus) << r.err;
    EXPECT_EQ("", r.out);
    EXPECT_EQ("", r.err);

    /* Written the safe way: a new file renamed into place, same mode. */
    struct stat after;
    ASSERT_EQ(0, stat(rc.c_str(), &after));
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(0640u, after.st_mode & 07777);

    /* The editor's start-up read and catalogue binding. */
    psMorvaneRC = &rc[0];
    ResetSettings();
    ReadSetup(nullptr);
    SetVariables();
    EXPECT_EQ(42, *dvArray[7].piValue);
    EXPECT_STREQ("x\ty\xc3\xa9", dvArray[35].psValue);
    EXPECT_STREQ("OSS dev", dvArray[38].psValue);
    EXPECT_EQ(1, *dvArray[67].piValue);
    EXPECT_EQ(0, *dvArray[49 + 3].piValue);
    EXPECT_EQ(-7, i_tMinSecondSent);
    EXPECT_EQ((time_t)-7, tMinSecondSent);
    EXPECT_STREQ("#mod", psFlagChanModBeep[0]);
    ASSERT_NE(nullptr, psFlagChanModBeep[1]);
    EXPECT_STREQ("", psFlagChanModBeep[1]);
    EXPECT_EQ(nullptr, psPrefixOutput);
    /* Untouched values are as they were. */
    EXPECT_EQ((time_t)-3, tCTCPFloodTimer);
    EXPECT_EQ(12, iMaxQueryMSGFlood);
    EXPECT_STREQ("bar baz", psFlagChanWordBeep[1]);
    EXPECT_STREQ("]", psPostfixOutput);
    EXPECT_EQ(0, iFlagParserMode[0]);
    EXPECT_EQ(1, iFlagParserMode[1]);
    EXPECT_EQ(1, iPKAllowOnTimeout);
}

TEST_F(MorvrcTool, SetInTheOtherWidthKeepsThatWidth)
{
    int iOther = 12 - kNative;
    WriteFileBytes(rc, MakeSample(iOther).bytes);
    ToolResult r = Tool({"set", "--bits", Bits(iOther), rc, "tCTCPFloodTimer", "2147483647"});
    ASSERT_EQ(0, r.iStatus) << r.err;
    /* Without --bits the width is found. */
    r = Tool({"set", rc, "iMaxCloneCount", "78"});
    ASSERT_EQ(0, r.iStatus) << r.err;
    ByteVector got = ReadFileBytes(rc);
    ASSERT_EQ(MakeSample(iOther).bytes.size(), got.size());
    MorvReadInfo info;
    ResetSettings();
    ASSERT_EQ(MORV_READ_OK, DecodeSetup(got.data(), got.size(), iOther, &info));
    EXPECT_EQ(info.llSize, info.llConsumed);
    EXPECT_EQ((time_t)2147483647, tCTCPFloodTimer);
    EXPECT_EQ((time_t)2000000000, tSoundCommandTimer);
    EXPECT_EQ(78, iMaxCloneCount);
}

TEST_F(MorvrcTool, SetLeavesAFileChangedWhileItWorked)
{
    char const *psLib = getenv("MORV_CHANGE_ON_FSYNC_LIB");
    if (psLib == nullptr)
        GTEST_SKIP() << "MORV_CHANGE_ON_FSYNC_LIB names no library";
    WriteFileBytes(rc, MakeSample(kNative).bytes);
    ToolResult r = Tool({"set", rc, "iMaxCloneCount", "1"},
                        {std::string("LD_PRELOAD=") + psLib, "MORV_CHANGE_ON_FSYNC=" + rc,
                         "ASAN_OPTIONS=verify_asan_link_order=0"});
    EXPECT_EQ(6, r.iStatus) << r.err;
    EXPECT_TRUE(Contains(r.err, "was changed by another program")) << r.err;
    EXPECT_EQ(Bytes().raw(MakeSample(kNative).bytes).raw("!").bytes(), ReadFileBytes(rc));
    /* Its temporary file is gone too. */
    DIR *d = opendir(dir.path().c_str());
    ASSERT_NE(nullptr, d);
    int iTemporary = 0;
    while (struct dirent *e = readdir(d))
        iTemporary += strncmp(e->d_name, "morvrc.tmp-", 11) == 0;
    closedir(d);
    EXPECT_EQ(0, iTemporary);
}

/* ---- one writer at a time; the file stays the user's -------------------- */

TEST_F(MorvrcTool, ParallelSetsAllLandAndALockHeldTooLongIsExit6)
{
    WriteFileBytes(rc, MakeSample(kNative).bytes);
    WriteFileText(rc + ".tmp-Ab12Cd", "left by a save that was killed");
    /* Sixteen writers at once, each of a setting of its own: none is lost. */
    std::vector<std::string> argv = {"bash", "-c",
                                     "rc=$1; shift; for k in $(seq 0 15); do "
                                     "\"$@\" set --wait 60 \"$rc\" \"iFlagParserMode[$k]\" $((k + 100)) "
                                     "2>>\"$rc.err\" & done; fail=0; "
                                     "for p in $(jobs -p); do wait $p || fail=1; done; exit $fail",
                                     "bash", rc};
    argv.insert(argv.end(), gRunner.begin(), gRunner.end());
    argv.push_back(gTool);
    ProgramResult r = RunProgram(argv, "", dir.path());
    EXPECT_EQ(0, r.iStatus) << ReadFileText(rc + ".err");
    ResetSettings();
    ByteVector saved = ReadFileBytes(rc);
    ASSERT_EQ(MORV_READ_OK, DecodeSetup(saved.data(), saved.size(), kNative, nullptr));
    for (int k = 0; k < 16; k++)
        EXPECT_EQ(k + 100, iFlagParserMode[k]) << k;
    EXPECT_FALSE(FileExists(rc + ".tmp-Ab12Cd"));

    /* Another program's save that lasts: nothing is written. */
    int fdLock = open((rc + ".lock").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_LE(0, fdLock);
    ASSERT_EQ(0, flock(fdLock, LOCK_EX));
    r = Tool({"set", "--wait", "0.3", rc, "iMaxCloneCount", "5"});
    close(fdLock);
    EXPECT_EQ(6, r.iStatus);
    EXPECT_TRUE(Contains(r.err, "another program is saving " + rc)) << r.err;
    EXPECT_EQ(saved, ReadFileBytes(rc));
}

TEST_F(MorvrcTool, ASavedFileKeepsItsOwnerModeAttributesAndLinks)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can give a file to another user";
    WriteFileBytes(rc, MakeSample(kNative).bytes);
    ASSERT_EQ(0, chown(rc.c_str(), 65534, 65534));
    ASSERT_EQ(0, chmod(rc.c_str(), 0640));
    ASSERT_EQ(0, setxattr(rc.c_str(), "user.morv", "kept", 4, 0));
    ToolResult r = Tool({"set", rc, "iMaxCloneCount", "5"});
    EXPECT_EQ(0, r.iStatus) << r.err;
    EXPECT_EQ("", r.err);
    struct stat st;
    ASSERT_EQ(0, stat(rc.c_str(), &st));
    EXPECT_EQ(65534u, st.st_uid);
    EXPECT_EQ(65534u, st.st_gid);
    EXPECT_EQ(0640u, st.st_mode & 07777);
    char acValue[16] = "";
    EXPECT_EQ(4, getxattr(rc.c_str(), "user.morv", acValue, sizeof acValue));
    EXPECT_STREQ("kept", acValue);

    /* One file under two names: written in place, so both see the change. */
    std::string other = dir / "other";
    ASSERT_EQ(0, link(rc.c_str(), other.c_str()));
    r = Tool({"set", rc, "iMaxCloneCount", "6"});
    EXPECT_EQ(0, r.iStatus) << r.err;
    EXPECT_EQ("The " + rc + " configuration file was rewritten in place: it has 2 links.\n", r.err);
    EXPECT_EQ(ReadFileBytes(rc), ReadFileBytes(other));
    EXPECT_EQ("6\n", Tool({"get", other, "iMaxCloneCount"}).out);
    unlink(other.c_str());

    /* A file mounted on its own, as in a container, in a mount namespace
     * of this test's. */
    std::vector<std::string> argv = {"unshare", "-m", "sh", "-c",
                                     "mount --bind \"$1\" \"$1\" || exit 99; shift; exec \"$@\"", "sh",
                                     rc};
    argv.insert(argv.end(), gRunner.begin(), gRunner.end());
    argv.insert(argv.end(), {gTool, "set", rc, "iMaxCloneCount", "7"});
    ProgramResult m = RunProgram(argv, "", dir.path());
    if (m.iStatus == 99 || Contains(m.err, "unshare"))
        GTEST_SKIP() << "no mount namespace here: " << m.err;
    EXPECT_EQ(0, m.iStatus) << m.err;
    EXPECT_TRUE(Contains(m.err, "rewritten in place: it is a mount point.")) << m.err;
    EXPECT_EQ("7\n", Tool({"get", rc, "iMaxCloneCount"}).out);
}

TEST_F(MorvrcTool, PipesAreReadBoundedAndNeverWrittenThrough)
{
    std::string fifo = dir / "fifo";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    ToolResult r = Tool({"set", fifo, "iMaxCloneCount", "1"});
    EXPECT_EQ(3, r.iStatus);
    EXPECT_TRUE(Contains(r.err, "not a regular file")) << r.err;
    r = Tool({"dump", "/dev/zero"});
    EXPECT_EQ(4, r.iStatus);
    EXPECT_TRUE(Contains(r.err, "longer than 1 MiB")) << r.err;
    ByteVector sample = MakeSample(kNative).bytes;
    std::vector<std::string> argv = gRunner;
    argv.insert(argv.end(), {gTool, "get", "-", "iMaxCloneCount"});
    ProgramResult p = RunProgram(argv, std::string(sample.begin(), sample.end()), dir.path());
    EXPECT_EQ(0, p.iStatus) << p.err;
    EXPECT_EQ("77\n", p.out);
}

/* ---- watch ------------------------------------------------------------- */

/* Reads fd into *pOut until it holds iLines lines, for at most 20 seconds.
 * Returns whether it got them. */
bool ReadLines(int fd, std::string *pOut, size_t iLines)
{
    for (int iWaited = 0; Lines(*pOut).size() < iLines || pOut->back() != '\n'; iWaited += 100) {
        struct pollfd pfd = {fd, POLLIN, 0};
        if (iWaited >= 20000 || poll(&pfd, 1, 100) < 0)
            return false;
        char ab[4096];
        ssize_t n = pfd.revents ? read(fd, ab, sizeof ab) : 0;
        if (n < 0 || (pfd.revents && n == 0))
            return false;
        pOut->append(ab, (size_t)n);
    }
    return true;
}

TEST_F(MorvrcTool, WatchPrintsEveryRewriteUntilTerminated)
{
    WriteFileBytes(rc, MakeSample(kNative).bytes);
    int afd[2];
    ASSERT_EQ(0, pipe(afd));
    std::vector<std::string> args = gRunner;
    args.insert(args.end(), {gTool, "watch", rc});
    pid_t pid = fork();
    ASSERT_LE(0, pid);
    if (pid == 0) {
        dup2(afd[1], 1);
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(afd[1]);
    std::string out;
    /* Each rewrite waits for the block of the one before: they are told
     * apart by the quiet period between them. */
    bool bRead = ReadLines(afd[0], &out, 1);
    if (bRead)
        bRead = Tool({"set", rc, "iMaxCloneCount", "12"}).iStatus == 0 && ReadLines(afd[0], &out, 3);
    if (bRead)
        bRead = Tool({"set", rc, "psAwayPostfix", "absent", "NOTICE", "1"}).iStatus == 0 &&
                ReadLines(afd[0], &out, 6);
    if (bRead) {
        /* Written in place, as the script writes it. */
        WriteFileBytes(rc, MakeSample(kNative).bytes);
        bRead = ReadLines(afd[0], &out, 10);
    }
    kill(pid, SIGTERM);
    int iStatus = -1;
    waitpid(pid, &iStatus, 0);
    close(afd[0]);
    ASSERT_TRUE(bRead) << out;
    EXPECT_TRUE(WIFEXITED(iStatus) && WEXITSTATUS(iStatus) == 0) << iStatus;

    std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(10u, lines.size()) << out;
    EXPECT_EQ("# " + rc + ": version 38, " + Bits(kNative) + "-bit time fields, " +
                  std::to_string(MakeSample(kNative).bytes.size()) + " bytes",
              lines[0]);
    std::vector<std::string> changes = {"iMaxCloneCount: 77 -> 12",
                                        "psAwayPostfix: \"tab\\there \\\"q\\\" back\\\\slash "
                                        "\\303\\251\" -> absent",
                                        "iFlagParserMode[NOTICE]: 0 -> 1",
                                        "iMaxCloneCount: 12 -> 77"};
    for (size_t i : {1u, 3u, 6u})
        EXPECT_EQ(0u, lines[i].find("-- ")) << out;
    EXPECT_EQ(changes[0], lines[2]);
    EXPECT_EQ(changes[1], lines[4]);
    EXPECT_EQ(changes[2], lines[5]);
    EXPECT_EQ(changes[3], lines[7]);
    EXPECT_EQ(0u, lines[8].find("psAwayPostfix: absent -> \"tab")) << out;
    EXPECT_EQ("iFlagParserMode[NOTICE]: 1 -> 0", lines[9]);
}

TEST_F(MorvrcTool, RefusedChangesLeaveTheFileAlone)
{
    ByteVector image = MakeSample(kNative).bytes;
    WriteFileBytes(rc, image);
    struct stat before;
    ASSERT_EQ(0, stat(rc.c_str(), &before));
    struct Case {
        std::vector<std::string> args;
        int iStatus;
        char const *psSays;
    } aCases[] = {
        {{"noSuchSetting", "1"}, 2, "no stored setting is named \"noSuchSetting\""},
        {{"iMaxCloneCount", "ten"}, 2, "iMaxCloneCount takes a whole number"},
        {{"iMaxCloneCount", "2147483648"}, 2, "iMaxCloneCount takes a whole number"},
        {{"tCTCPFloodTimer", "1.5"}, 2, "tCTCPFloodTimer takes a whole number of seconds"},
        {{"tCTCPFloodTimer", "99999999999999999999"}, 2, "tCTCPFloodTimer takes"},
        {{"psAwayPostfix", "\"open"}, 2, "no closing"},
        {{"iMaxCloneCount", "5", "iFlagColor"}, 2, "every NAME needs a VALUE"},
        /* The first change is good, the second is not: neither is made. */
        {{"iMaxCloneCount", "5", "psFlagChanJoinBeep[1]", "absent"}, 5,
         "psFlagChanJoinBeep would be left with one text"},
        {{"psFlagChanModBeep[0]", "#alone"}, 5, "psFlagChanModBeep would be left with one text"},
        {{"psFlagChanWordBeep[0]", "\"\""}, 5, "psFlagChanWordBeep[0] is empty"},
    };
    for (Case const &c : aCases) {
        std::vector<std::string> args{"set", rc};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ToolResult r = Tool(args);
        SCOPED_TRACE(c.args[0]);
        EXPECT_EQ(c.iStatus, r.iStatus) << r.err;
        EXPECT_TRUE(Contains(r.err, c.psSays)) << r.err;
        EXPECT_EQ("", r.out);
        struct stat after;
        ASSERT_EQ(0, stat(rc.c_str(), &after));
        EXPECT_EQ(before.st_ino, after.st_ino);
        EXPECT_EQ(image, ReadFileBytes(rc));
    }
    /* A time beyond 32 bits, for a 32-bit file or in a 32-bit build. */
    WriteFileBytes(rc, MakeSample(4).bytes);
    ToolResult r = Tool({"set", "--bits", "32", rc, "tCTCPFloodTimer", "2147483648"});
    EXPECT_EQ(2, r.iStatus);
    EXPECT_EQ(MakeSample(4).bytes, ReadFileBytes(rc));
    WriteFileBytes(rc, MakeSample(8).bytes);
    r = Tool({"set", "--bits", "64", rc, "tCTCPFloodTimer", "2147483648"});
    EXPECT_EQ(kNative == 8 ? 0 : 2, r.iStatus) << r.err;
}

/* ---- the command line -------------------------------------------------- */

TEST_F(MorvrcTool, HelpForTheToolAndEveryVerb)
{
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{{"--help"}, {"help"}, {"-h"}}) {
        ToolResult r = Tool(args);
        EXPECT_EQ(0, r.iStatus);
        EXPECT_EQ(0u, r.out.find("Usage: morvrc_tool VERB")) << r.out;
        EXPECT_TRUE(Contains(r.out, "this build's width, " + Bits(kNative) + " bits")) << r.out;
        for (char const *psVerb :
             {"dump", "check", "convert", "get", "set", "load", "edit", "diff", "list", "describe",
              "reset"})
            EXPECT_TRUE(Contains(r.out, std::string("\n  ") + psVerb + " ")) << psVerb;
    }
    for (std::string verb : {"dump", "check", "convert", "get", "set", "load", "edit", "diff", "list",
                             "describe", "reset"}) {
        ToolResult a = Tool({verb, "--help"});
        ToolResult b = Tool({"help", verb});
        EXPECT_EQ(0, a.iStatus);
        EXPECT_EQ(0u, a.out.find("Usage: morvrc_tool " + verb + " ")) << a.out;
        EXPECT_EQ(a.out, b.out);
        EXPECT_EQ("", a.err);
    }
    /* What happens to the fields of an older file is said where it happens. */
    EXPECT_TRUE(Contains(Tool({"convert", "--help"}).out, "initial values"));
    EXPECT_TRUE(Contains(Tool({"set", "--help"}).out, "initial values"));
}

TEST_F(MorvrcTool, WrongCommandLinesAndMissingFiles)
{
    WriteFileBytes(rc, MakeSample(kNative).bytes);
    std::string missing = dir / "missing";
    struct Case {
        std::vector<std::string> args;
        int iStatus;
        char const *psSays;
    } aCases[] = {
        {{}, 2, "Usage"},
        {{"frobnicate", rc}, 2, "no verb is named \"frobnicate\""},
        {{"help", "frobnicate"}, 2, "no verb"},
        {{"dump"}, 2, "missing arguments"},
        {{"dump", rc, rc}, 2, "too many arguments"},
        {{"dump", "--bits", "16", rc}, 2, "--bits takes 32 or 64, not \"16\""},
        {{"dump", "--bits"}, 2, "--bits needs a width"},
        {{"dump", "--from", "32", rc}, 2, "dump does not take the option --from"},
        {{"check", "-x", rc}, 2, "does not take the option -x"},
        {{"convert", "--from", "32", rc, rc}, 2, "needs --to"},
        {{"get", rc}, 2, "missing arguments"},
        {{"set", rc, "iMaxCloneCount"}, 2, "needs FILE, NAME and VALUE"},
        {{"dump", missing}, 3, "cannot read"},
        {{"check", missing}, 3, "cannot read"},
        {{"get", missing, "iMaxCloneCount"}, 3, "cannot read"},
        {{"convert", "--from", "32", "--to", "64", missing, rc}, 3, "cannot read"},
        {{"dump", dir.path()}, 3, "cannot read"},
        /* A file that exists but cannot be read is not a missing one. */
        {{"load", dir.path()}, 3, "cannot read"},
        {{"reset", rc}, 2, "missing arguments"},
        {{"get", rc, "MaxCloneCount"}, 2, "did you mean iMaxCloneCount?"},
        {{"get", rc, "iMaxCloneCount", "--raw", "--json"}, 2, "exclude each other"},
    };
    for (Case const &c : aCases) {
        std::string shown;
        for (std::string const &s : c.args)
            shown += s + " ";
        SCOPED_TRACE(shown);
        ToolResult r = Tool(c.args);
        EXPECT_EQ(c.iStatus, r.iStatus) << r.err;
        EXPECT_TRUE(Contains(r.err, c.psSays)) << r.err;
        EXPECT_EQ("", r.out);
    }
    EXPECT_FALSE(FileExists(missing));
    EXPECT_EQ(MakeSample(kNative).bytes, ReadFileBytes(rc));
    /* "--" ends the options, so a file may be named like one. */
    std::string dashed = dir / "--bits";
    WriteFileBytes(dashed, MakeSample(kNative).bytes);
    char acCwd[4096];
    ASSERT_NE(nullptr, getcwd(acCwd, sizeof acCwd));
    ASSERT_EQ(0, chdir(dir.path().c_str()));
    ToolResult r = Tool({"get", "--", "--bits", "iMaxCloneCount"});
    ASSERT_EQ(0, chdir(acCwd));
    EXPECT_EQ(0, r.iStatus) << r.err;
    EXPECT_EQ("77\n", r.out);
    /* Options may follow the operands; a negative number is a value. */
    r = Tool({"set", rc, "tMinSecondSent", "-7", "--bits", Bits(kNative)});
    EXPECT_EQ(0, r.iStatus) << r.err;
    r = Tool({"get", rc, "tMinSecondSent", "-z"});
    EXPECT_EQ(std::string("-7\0", 3), r.out);
    r = Tool({"get", rc, "psAwayPostfix", "--raw"});
    EXPECT_EQ("tab\there \"q\" back\\slash \xc3\xa9\n", r.out);
    EXPECT_EQ("  \"version\": 38,", Lines(Tool({"dump", rc, "--json"}).out)[1]);
    EXPECT_EQ("morvrc_tool " MORV_VERSION_TEXT, Tool({"--version"}).out.substr(0, 15));
}

/* Output that cannot be written is trouble, never an answer: status 3, and
 * for diff 2, as diff and cmp say it. */
TEST_F(MorvrcTool, OutputThatCannotBeWritten)
{
    WriteFileBytes(rc, MakeSample(kNative).bytes);
    std::string other = dir / "other";
    WriteFileBytes(other, Plain(kNative));
    auto Full = [&](std::vector<std::string> const &args) {
        std::vector<std::string> argv = {"sh", "-c", "exec \"$@\" >/dev/full", "sh"};
        argv.insert(argv.end(), gRunner.begin(), gRunner.end());
        argv.push_back(gTool);
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, "", dir.path());
    };
    ToolResult r = Full({"dump", rc});
    EXPECT_EQ(3, r.iStatus);
    EXPECT_TRUE(Contains(r.err, "cannot write standard output")) << r.err;
    EXPECT_EQ(2, Full({"diff", rc, other}).iStatus);
}

/* Writes that change no byte leave the file alone; set, like load, creates
 * a missing file. */
TEST_F(MorvrcTool, SetWritesOnlyWhatChanges)
{
    WriteFileBytes(rc, MakeSample(kNative).bytes);
    struct stat before, after;
    ASSERT_EQ(0, stat(rc.c_str(), &before));
    usleep(20000);
    ToolResult r = Tool({"set", rc, "iMaxCloneCount", "77", "psFlagChanJoinBeep[1]", "\"\""});
    EXPECT_EQ(0, r.iStatus) << r.err;
    ASSERT_EQ(0, stat(rc.c_str(), &after));
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);

    std::string fresh = dir / "fresh";
    r = Tool({"set", fresh, "iMaxCloneCount", "12"});
    EXPECT_EQ(0, r.iStatus) << r.err;
    EXPECT_TRUE(Contains(r.err, "fresh does not exist: it is created")) << r.err;
    psMorvaneRC = &fresh[0];
    ReadSetup(nullptr);
    EXPECT_EQ(12, iMaxCloneCount);
    EXPECT_STREQ("ALSA", psAudioDevice);
}

/* ---- edit ----------------------------------------------------------------- */

/* An editor that applies the sed script $ED_n at its n-th call and keeps
 * what it was shown in seen.n; the calls are counted in the file calls. */
const char kEditor[] =
    "#!/bin/sh\n"
    "cd \"$(dirname \"$0\")\" || exit 1\n"
    "n=$(($(cat calls 2>/dev/null || echo 0) + 1)); echo $n >calls\n"
    "cp \"$1\" seen.$n\n"
    "eval \"s=\\${ED_$n:-}\"\n"
    "[ -z \"$s\" ] || sed -i \"$s\" \"$1\"\n"
    "[ -z \"$TOUCH\" ] || printf x >>\"$TOUCH\"\n";

TEST_F(MorvrcTool, EditInTheUsersEditor)
{
    std::string editor = dir / "editor.sh";
    WriteFileText(editor, kEditor);
    chmod(editor.c_str(), 0755);
    ByteVector image = MakeSample(kNative).bytes;
    auto Edit = [&](std::vector<std::string> env, std::string const &answers) {
        unlink((dir / "calls").c_str());
        env.push_back("EDITOR=" + editor);
        env.push_back("VISUAL=");
        std::vector<std::string> argv = gRunner;
        for (std::string const &e : env)
            if (!gRunner.empty())
                argv.insert(argv.end(), {"-E", e});
        argv.insert(argv.end(), {gTool, "edit", rc});
        if (!gRunner.empty())
            env.clear();
        return RunProgram(argv, answers, dir.path(), env);
    };
    std::string setMax = "s/^iMaxCloneCount = .*/iMaxCloneCount = ";

    /* Unchanged: nothing written. */
    WriteFileBytes(rc, image);
    ToolResult r = Edit({}, "");
    EXPECT_EQ(0, r.iStatus) << r.err;
    EXPECT_TRUE(Contains(r.err, "no change")) << r.err;
    EXPECT_EQ(image, ReadFileBytes(rc));
    EXPECT_EQ(Tool({"dump", rc}).out, ReadFileText(dir / "seen.1"));

    /* A bad line, edited again with the error on top, then good. */
    r = Edit({"ED_1=" + setMax + "ten/", "ED_2=" + setMax + "10/"}, "e\n");
    EXPECT_EQ(0, r.iStatus) << r.err;
    EXPECT_TRUE(Contains(r.err, "Edit again (e) or quit without saving (q)? ")) << r.err;
    std::string seen = ReadFileText(dir / "seen.2");
    EXPECT_EQ(0u, seen.find("# error: line 9: iMaxCloneCount takes a whole")) << seen;
    EXPECT_EQ("10\n", Tool({"get", rc, "iMaxCloneCount"}).out);

    /* A bad line, then q or the end of the answers: the file as it was. */
    for (std::string answers : {"q\n", ""}) {
        WriteFileBytes(rc, image);
        r = Edit({"ED_1=" + setMax + "ten/"}, answers);
        EXPECT_EQ(2, r.iStatus) << r.err;
        EXPECT_EQ("1\n", ReadFileText(dir / "calls"));
        EXPECT_EQ(image, ReadFileBytes(rc));
    }

    /* Changed on disk meanwhile: exit 6, the edited text kept and named. */
    r = Edit({"ED_1=" + setMax + "11/", "TOUCH=" + rc}, "");
    EXPECT_EQ(6, r.iStatus) << r.err;
    size_t uAt = r.err.find("your edited text is kept in ");
    ASSERT_NE(std::string::npos, uAt) << r.err;
    std::string kept = r.err.substr(uAt + 28, r.err.find(' ', uAt + 28) - uAt - 28);
    EXPECT_TRUE(Contains(ReadFileText(kept), "\niMaxCloneCount = 11\n"));
    unlink(kept.c_str());
}

}  // namespace

int main(int argc, char **argv) { return ToolTestMain(argc, argv, &gTool, &gRunner); }
