/* morvrc_tool's load and diff on files built here byte by byte: a dump
 * loaded back gives the file again byte for byte at either width, a bad
 * line changes nothing, and diff tells values apart but not widths.
 * Usage: cli_load_diff_test [gtest options] TOOL [RUNNER...] */
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

namespace {

std::string gTool;                  /* the morvrc_tool under test */
std::vector<std::string> gRunner;   /* how this build's programs are started */

/* A version-38 file with a value of its own in every field and every kind
 * of text: blanks, quotes, control and high bytes, a pair whose text [1] is
 * present and empty, an absent pair, an absent text. */
ByteVector Sample(int iTimeBytes, int iVersion = 38)
{
    Bytes b;
    b.i32(iVersion);
    b.i32(1).i32(0).i32(1).i32(1);                                            /* 2 .. 5 */
    b.i32(0).i32(1).i32(77).i32(0).i32(1).i32(0).i32(1).i32(-12).i32(0);      /* 6 .. 14 */
    b.time_width(-3, iTimeBytes).i32(0);                                      /* 15, 16 */
    b.time_width(2000000000, iTimeBytes).i32(4);                              /* 17, 18 */
    b.time_width(9, iTimeBytes).i32(1);                                       /* 19, 20 */
    b.text("#chan").text("");                                                 /* 21 */
    b.i32(0);                                                                 /* 22 */
    b.text("w\xe8 r\"d").text("C:\\sounds\\b.wav");                           /* 23 */
    b.text("[ ").text("\t]\n");                                               /* 24, 25 */
    b.i32(0).i32(1).i32(0).i32(1).i32(0).i32(1);                              /* 26 .. 31 */
    b.text("english").text("|\x01\x7f\xff away").i32(0);                      /* 32 .. 34 */
    b.text("/ECHO ").i32(0).i32(512);                                         /* 35 .. 37 */
    b.text("/MSG NickServ Identify s3cr#t = x");                              /* 38 */
    b.i32(0).i32(1).i32(0).i32(0).i32(1).i32(0).i32(0).i32(1).i32(1);         /* 39 .. 47 */
    for (int k = 0; k < 19; k++)                                              /* 48 */
        b.i32(k % 3 == 0);
    b.i32(1).i32(1).i32(-8).i32(0).i32(3).i32(1).i32(0).i32(1).i32(1);        /* 49 .. 57 */
    return b.bytes();
}

/* Every field 0, every text absent. */
ByteVector Zeros(int iTimeBytes)
{
    Bytes b;
    b.i32(38);
    for (int i = 0; i < (iTimeBytes == 8 ? 308 : 296) / 4; i++)
        b.i32(0);
    return b.bytes();
}

ino_t Inode(std::string const &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

class LoadDiff : public ::testing::Test {
  protected:
    /* A home without setup.dat: no row names or ranges. */
    void SetUp() override { setenv("HOME", dir.path().c_str(), 1); }

    ProgramResult Tool(std::vector<std::string> const &args, std::string const &input = "")
    {
        std::vector<std::string> argv = gRunner;
        argv.push_back(gTool);
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, input, dir.path());
    }

    ScratchDir dir;
    std::string a = dir / "a", b = dir / "b";
};

/* ---- load ----------------------------------------------------------------- */

TEST_F(LoadDiff, DumpThenLoadGivesTheFileBackByteForByteAtEitherWidth)
{
    for (int iFrom : {4, 8}) {
        WriteFileBytes(a, Sample(iFrom));
        /* dump finds the width itself. */
        ProgramResult dump = Tool({"dump", a});
        ASSERT_EQ(0, dump.iStatus) << dump.err;
        for (int iTo : {4, 8}) {
            SCOPED_TRACE(Bits(iFrom) + " to " + Bits(iTo));
            unlink(b.c_str());
            /* A byte-order mark, as some editors write, is no part of it. */
            ProgramResult r = Tool({"load", "--bits", Bits(iTo), b}, "\xef\xbb\xbf" + dump.out);
            ASSERT_EQ(0, r.iStatus) << r.err;
            EXPECT_EQ("", r.out);
            /* Without a catalogue, one note says why nothing is range-checked. */
            EXPECT_EQ("morvrc_tool: note: ranges and row names are unknown: cannot read " +
                          dir.path() + "/.xchat2/morvane/setup.dat: No such file or directory\n",
                      r.err);
            ByteVector got = ReadFileBytes(b);
            EXPECT_EQ(Sample(iTo), got) << Hex(got);

            /* Over a file of other values, whose width is found, with the
             * lines read from a file. */
            WriteFileBytes(b, Zeros(iTo));
            std::string lines = dir / "lines";
            WriteFileText(lines, dump.out);
            r = Tool({"load", b, lines});
            ASSERT_EQ(0, r.iStatus) << r.err;
            EXPECT_EQ(Sample(iTo), ReadFileBytes(b));
        }
    }
}

TEST_F(LoadDiff, ABadLineIsToldByNumberAndNothingIsWritten)
{
    /* A 32-bit file, so that a time value beyond 32 bits is a bad value. */
    ByteVector before = Sample(4);
#define TEXT(literal) std::string(literal, sizeof literal - 1)
    struct Case {
        std::string input;
        char const *psSays;
    } aCases[] = {
        {TEXT("iMaxCloneCount = 5\n# a comment\n\nnoSuchSetting = 1\n"), "line 4: no stored setting"},
        {TEXT("iMaxCloneCount = five\n"), "line 1: iMaxCloneCount takes a whole number"},
        {TEXT("iFlagColor = 0\ntCTCPFloodTimer = 4294967296\n"), "line 2: tCTCPFloodTimer takes"},
        {TEXT("psFlagChanModBeep[0] = #mod\niFlagColor = 0\n"),
         "line 1: psFlagChanModBeep would be left"},
        {TEXT("iMaxCloneCount 5\n"), "line 1: expected NAME = VALUE"},
        {TEXT("psAwayPostfix = \"open\n"), "line 1: psAwayPostfix: the quoted text has no closing"},
        {TEXT("iFlagColor = 0\r\npsAwayPostfix = a\0b\n"), "line 2: the line holds a zero byte"},
    };
#undef TEXT
    for (Case const &c : aCases) {
        SCOPED_TRACE(c.input);
        WriteFileBytes(a, before);
        ino_t inode = Inode(a);
        ProgramResult r = Tool({"load", a}, c.input);
        EXPECT_EQ(2, r.iStatus);
        EXPECT_TRUE(Contains(r.err, std::string("standard input, ") + c.psSays)) << r.err;
        EXPECT_EQ("", r.out);
        EXPECT_EQ(before, ReadFileBytes(a));
        EXPECT_EQ(inode, Inode(a));
    }
    /* A file that did not exist is not made. */
    ProgramResult r = Tool({"load", b}, "iMaxCloneCount = 5\nnoSuchSetting = 1\n");
    EXPECT_EQ(2, r.iStatus);
    EXPECT_FALSE(FileExists(b));
}

/* ---- diff ----------------------------------------------------------------- */

TEST_F(LoadDiff, DiffTellsValuesApartButNotWidths)
{
    WriteFileBytes(a, Sample(4));
    WriteFileBytes(b, Sample(8));
    ProgramResult r = Tool({"diff", a, b});
    EXPECT_EQ(0, r.iStatus) << r.err;
    EXPECT_EQ("", r.out);
    EXPECT_EQ("", r.err);

    ASSERT_EQ(0, Tool({"set", b, "NOTICE", "0", "psAwayPostfix", "absent", "iMaxCloneCount", "12",
                       "psFlagChanJoinBeep[1]", "x"})
                     .iStatus);
    r = Tool({"diff", a, b});
    EXPECT_EQ(1, r.iStatus) << r.err;
    EXPECT_EQ("iMaxCloneCount: 77 -> 12\n"
              "psFlagChanJoinBeep[1]: \"\" -> \"x\"\n"
              "psAwayPostfix: \"|\\001\\177\\377 away\" -> absent\n"
              "iFlagParserMode[NOTICE]: 1 -> 0\n",
              r.out);
    r = Tool({"diff", b, a});
    EXPECT_EQ(1, r.iStatus);
    EXPECT_TRUE(Contains(r.out, "iMaxCloneCount: 12 -> 77\n")) << r.out;

    /* The fields of a newer version that this tool does not know.  Such a
     * file may read whole at both widths: the width is given. */
    ByteVector newer = Sample(8, 40);
    newer.insert(newer.end(), {'a', 'b', 'c', 'd'});
    WriteFileBytes(a, newer);
    WriteFileBytes(b, Sample(8));
    r = Tool({"diff", "--bits", "64", a, b});
    EXPECT_EQ(1, r.iStatus) << r.err;
    EXPECT_EQ("# the bytes after the last field differ: 4 bytes -> 0 bytes\n", r.out);
    WriteFileBytes(b, newer);
    EXPECT_EQ(0, Tool({"diff", "--bits", "64", a, b}).iStatus);
    newer.back() = 'e';
    WriteFileBytes(b, newer);
    r = Tool({"diff", "--bits", "64", a, b});
    EXPECT_EQ(1, r.iStatus);
    EXPECT_EQ("# the bytes after the last field differ: 4 bytes -> 4 bytes\n", r.out);

    /* Trouble is 2, as for diff(1): a damaged file, a missing one. */
    ByteVector cut = Sample(8);
    cut.resize(cut.size() - 2);
    WriteFileBytes(b, cut);
    r = Tool({"diff", a, b});
    EXPECT_EQ(2, r.iStatus);
    EXPECT_EQ("", r.out);
    EXPECT_EQ(2, Tool({"diff", a, dir / "missing"}).iStatus);
}

}  // namespace

int main(int argc, char **argv) { return ToolTestMain(argc, argv, &gTool, &gRunner); }
