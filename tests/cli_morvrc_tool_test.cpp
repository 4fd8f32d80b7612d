/* morvrc_tool run as users run it, on files built here byte by byte: width
 * detection, conversions both ways, damage reported at the right byte,
 * changes that the editor's own reader then sees, and refusals that leave
 * the file alone.
 * Usage: cli_morvrc_tool_test [gtest options] TOOL [RUNNER...] */
#include "editor/actions.h"
#include "editor/runlog.h"
#include "settings/store/catalogue.h"
#include "settings/store/morv.h"
#include "settings/morvrc/morvrc.h"
#include "support/runlog.h"
#include "support/xchat.h"
#include "tests/cli_tool_fixture.h"
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
                 "psAwayPostfix = \"tab\\there \\\"q\\\" back\\\\slash \xc3\xa9\"",
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
                             "describe", "reset", "help"}) {
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
        {{"dump"}, 3, "cannot read"},     /* the home's morvrc */
        {{"dump", rc, rc}, 2, "too many arguments"},
        {{"dump", "--bits", "16", rc}, 2, "--bits takes 32 or 64, not \"16\""},
        {{"dump", "--bits"}, 2, "--bits needs a width"},
        {{"dump", "--from", "32", rc}, 2, "dump does not take the option --from"},
        {{"check", "-x", rc}, 2, "does not take the option -x"},
        {{"convert", "--from", "32", rc, rc}, 2, "needs --to"},
        {{"get"}, 2, "missing arguments"},
        {{"set", rc, "iMaxCloneCount"}, 2, "every NAME needs a VALUE"},
        {{"set", "iFlagColor", "psAwayPostfix", "x"}, 2, "iFlagColor is a setting, not a file"},
        {{"set", "-", "iFlagColor", "1"}, 2, "- is standard input, never a file to write"},
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
    /* A setting's name that is also a file here is taken for FILE: said so
     * when the rest then does not fit. */
    WriteFileText(dir / "iFlagColor", "");
    ToolResult taken = Tool({"set", "iFlagColor", "0"});
    ASSERT_EQ(0, chdir(acCwd));
    EXPECT_EQ(2, taken.iStatus);
    EXPECT_TRUE(Contains(taken.err, "note: iFlagColor was taken for FILE, as a file of that name is here"))
        << taken.err;
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

/* ---- history ----------------------------------------------------------- */

/* history's lines for FILE after its two heading lines, each cut to
 * "N differs saver". */
std::vector<std::string> HistoryRows(std::string const &out)
{
    std::vector<std::string> rows;
    std::istringstream in(out);
    std::string line;
    for (int k = 0; std::getline(in, line); k++) {
        char acDate[16], acTime[16], acWidth[16], acDiffers[16], acSaver[64];
        int iNumber, iVersion, iUsed = 0;
        if (k >= 2 && sscanf(line.c_str(), "%d %15s %15s %15s %d %15s %n", &iNumber, acDate, acTime, acWidth,
                             &iVersion, acDiffers, &iUsed) == 6) {
            snprintf(acSaver, sizeof acSaver, "%s", line.c_str() + iUsed);
            rows.push_back(std::to_string(iNumber) + " " + acDiffers + " " + acSaver);
        }
    }
    return rows;
}

TEST_F(MorvrcTool, EverySaveIsKeptAndRestoreBringsItBack)
{
    ByteVector sample = MakeSample(kNative).bytes;
    WriteFileBytes(rc, sample);
    ASSERT_EQ(0, Tool({"set", rc, "iMaxCloneCount", "1"}).iStatus);
    ASSERT_EQ(0, Tool({"set", rc, "iMaxCloneCount", "2", "psAwayPostfix", "x"}).iStatus);
    ASSERT_EQ(0, Tool({"set", rc, "iMaxCloneCount", "3"}).iStatus);
    ToolResult r = Tool({"history", rc});
    EXPECT_EQ(0, r.iStatus) << r.err;
    /* Newest first, each beside the next newer: the newest beside the file. */
    EXPECT_EQ(std::vector<std::string>({"1 1 morvrc_tool set", "2 2 morvrc_tool set", "3 1 morvrc_tool set"}),
              HistoryRows(r.out))
        << r.out;
    r = Tool({"diff", "@1", rc});
    EXPECT_EQ(1, r.iStatus) << r.err;
    EXPECT_EQ("iMaxCloneCount: 2 -> 3\n", r.out);
    r = Tool({"diff", "@2", "@1", rc});
    EXPECT_TRUE(Contains(r.out, "iMaxCloneCount: 1 -> 2\npsAwayPostfix: ") && Contains(r.out, " -> \"x\"\n"))
        << r.out;

    /* The oldest back, byte for byte; the bytes it replaced are kept first. */
    r = Tool({"restore", "3", rc});
    EXPECT_EQ(0, r.iStatus) << r.err;
    EXPECT_EQ(sample, ReadFileBytes(rc));
    r = Tool({"history", rc});
    EXPECT_EQ("1 2 morvrc_tool restore", HistoryRows(r.out).at(0)) << r.out;
    EXPECT_EQ(0, Tool({"restore", "1", rc}).iStatus);
    EXPECT_EQ("3\n", Tool({"get", rc, "iMaxCloneCount"}).out);
    r = Tool({"restore", "9", rc});
    EXPECT_EQ(2, r.iStatus);
    EXPECT_TRUE(Contains(r.err, rc + " has 5 versions kept, not 9")) << r.err;
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
    "[ -z \"$SWAP\" ] || cp $SWAP\n";

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
        env.push_back("TMPDIR=" + dir.path());
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
    /* Numbered as in the text the user saved; the error stands where the
     * heading was, so the line keeps its number in the text opened again. */
    EXPECT_TRUE(Contains(r.err, ", line 8: iMaxCloneCount takes a whole")) << r.err;
    EXPECT_EQ(0u, seen.find("# error: line 8: iMaxCloneCount takes a whole")) << seen;
    EXPECT_EQ("iMaxCloneCount = ten", Lines(seen).at(7)) << seen;
    EXPECT_EQ("10\n", Tool({"get", rc, "iMaxCloneCount"}).out);
    /* A second bad round: the complaint and the comment name its line. */
    r = Edit({"ED_1=" + setMax + "ten/", "ED_2=s/^iFlagColor = .*/iFlagColor = x/",
              "ED_3=s/^iFlagColor = x/iFlagColor = 0/;" + setMax + "10/"}, "e\ne\n");
    EXPECT_EQ(0, r.iStatus) << r.err;
    std::vector<std::string> lines = Lines(ReadFileText(dir / "seen.3"));
    size_t uLine = (size_t)atoi(lines[0].c_str() + strlen("# error: line "));
    ASSERT_LT(uLine - 1, lines.size()) << lines[0];
    EXPECT_EQ("iFlagColor = x", lines[uLine - 1]) << lines[0];
    EXPECT_TRUE(Contains(r.err, ", line " + std::to_string(uLine) + ": iFlagColor")) << r.err;
    /* An editor that fails: nothing written. */
    WriteFileBytes(rc, image);
    r = Tool({"edit", rc}, {"EDITOR=false", "VISUAL="});
    EXPECT_EQ(2, r.iStatus) << r.err;
    EXPECT_EQ(image, ReadFileBytes(rc));

    /* A bad line, then q or the end of the answers: the file as it was,
     * and the user's text kept where it says. */
    for (std::string answers : {"q\n", ""}) {
        WriteFileBytes(rc, image);
        r = Edit({"ED_1=" + setMax + "ten/"}, answers);
        EXPECT_EQ(2, r.iStatus) << r.err;
        EXPECT_EQ("1\n", ReadFileText(dir / "calls"));
        EXPECT_EQ(image, ReadFileBytes(rc));
        size_t uKept = r.err.find("your text is kept in ");
        ASSERT_NE(std::string::npos, uKept) << r.err;
        std::string kept = r.err.substr(uKept + 21, r.err.find('\n', uKept) - uKept - 21);
        EXPECT_TRUE(Contains(ReadFileText(kept), "\niMaxCloneCount = ten\n")) << kept;
        unlink(kept.c_str());
    }

    /* Set by another program meanwhile: exit 6, and the user's change kept
     * alone, so that loading it keeps the other change too. */
    std::string other = dir / "other";
    WriteFileBytes(other, image);
    ASSERT_EQ(0, Tool({"set", other, "iFlagColor", "1"}).iStatus);
    r = Edit({"ED_1=" + setMax + "11/", "SWAP=" + other + " " + rc}, "");
    EXPECT_EQ(6, r.iStatus) << r.err;
    size_t uAt = r.err.find("your changes alone are kept in ");
    ASSERT_NE(std::string::npos, uAt) << r.err;
    std::string kept = r.err.substr(uAt + 31, r.err.find(' ', uAt + 31) - uAt - 31);
    EXPECT_EQ(0, Tool({"load", rc, kept}).iStatus);
    EXPECT_EQ("11\n1\n", Tool({"get", rc, "iMaxCloneCount"}).out + Tool({"get", rc, "iFlagColor"}).out);
    unlink(kept.c_str());
}

}  // namespace

int main(int argc, char **argv) { return ToolTestMain(argc, argv, &gTool, &gRunner); }
