/* What the tests of morvrc_tool share: the tool and how it is started,
 * files built byte by byte at either width, and a fixture that runs the
 * tool in a scratch home. */
#ifndef MORV_TESTS_CLI_TOOL_FIXTURE_H
#define MORV_TESTS_CLI_TOOL_FIXTURE_H

#include "editor/actions.h"
#include "editor/runlog.h"
#include "settings/morvrc/morvrc.h"
#include "support/runlog.h"
#include "support/xchat.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

inline std::string gTool;                  /* the morvrc_tool under test */
inline std::vector<std::string> gRunner;   /* how this build's programs are started */

static const int kNative = (int)sizeof(time_t);

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

inline Sample MakeSample(int iTimeBytes, int64_t llSoundTimer = 2000000000)
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
inline Bytes &InitialHead(Bytes &b, int iTimeBytes)
{
    b.i32(0).i32(0).i32(1).i32(0);
    b.i32(1).i32(1).i32(10).i32(1).i32(1).i32(1).i32(1).i32(10).i32(1);
    b.time_width(1, iTimeBytes).i32(1).time_width(6, iTimeBytes).i32(3);
    return b.time_width(5, iTimeBytes).i32(0);
}

/* Fields 39 to 57 with their initial values. */
inline Bytes &InitialTail(Bytes &b)
{
    b.i32(1).i32(0).i32(1).i32(1).i32(1).i32(1).i32(1).i32(1).i32(0);
    for (int k = 0; k < 18; k++)
        b.i32(1);
    b.i32(0);
    return b.i32(0).i32(0).i32(8).i32(1).i32(2).i32(0).i32(1).i32(0).i32(0);
}

/* The initial values with every text absent: 300 or 312 bytes. */
inline ByteVector Plain(int iTimeBytes)
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
inline ByteVector Zeros(int iTimeBytes, int iVersion = 38)
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
        /* A home whose setup.dat has no rows: no row names or ranges but
         * those a test gives, and no note that the catalogue is missing. */
        setenv("HOME", dir.path().c_str(), 1);
        /* The history of every save then lies in the scratch home too. */
        unsetenv("XDG_STATE_HOME");
        mkdir((dir / ".xchat2").c_str(), 0700);
        mkdir((dir / ".xchat2/morvane").c_str(), 0700);
        WriteFileText(dir / ".xchat2/morvane/setup.dat", "");
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

    /* Runs morvrc_tool with args, killed after a minute; standard output
     * and error are kept apart.  env holds "NAME=value" settings for the
     * tool alone. */
    ToolResult Tool(std::vector<std::string> const &args, std::vector<std::string> const &env = {})
    {
        /* A tool that waits on a lock or a FIFO for good ends here. */
        std::vector<std::string> argv = {"timeout", "-s", "KILL", "60"};
        argv.insert(argv.end(), gRunner.begin(), gRunner.end());
        /* The emulator passes its -E settings on to the tool, not to itself. */
        for (std::string const &e : env)
            if (!gRunner.empty())
                argv.insert(argv.end(), {"-E", e});
        argv.push_back(gTool);
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, "", dir.path(), gRunner.empty() ? env : std::vector<std::string>{});
    }

    /* A copy of the tool that another user can run, for the checkout may
     * lie in a directory that only root can enter; it opens the scratch
     * directory to others too. */
    std::string ToolForAnyone()
    {
        std::string bin = dir / "bin", copy = bin + "/morvrc_tool";
        if (!FileExists(copy)) {
            EXPECT_EQ(0, mkdir(bin.c_str(), 0755));
            WriteFileBytes(copy, ReadFileBytes(gTool));
        }
        EXPECT_EQ(0, chmod(copy.c_str(), 0755));
        EXPECT_EQ(0, chmod(dir.path().c_str(), 0755));
        return copy;
    }

    ScratchDir dir;
    std::string rc;
    std::string log;
};

#endif
