/* morvrc_tool's verbs that read a home as the editor does, run on a copy of
 * the demo home with a morvrc built here byte by byte: list shows the lines
 * the editor's start-up makes, describe the help texts its help area shows,
 * reset the defaults that "Reset to Default" puts back.
 * Usage: cli_home_test [gtest options] TOOL [RUNNER...] */
#include "editor/actions.h"
#include "editor/runlog.h"
#include "settings/store/catalogue.h"
#include "settings/store/morv.h"
#include "settings/morvrc/morvrc.h"
#include "support/mm.h"
#include "support/runlog.h"
#include "support/xchat.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

std::string gTool;                  /* the morvrc_tool under test */
std::vector<std::string> gRunner;   /* how this build's programs are started */

const int kNative = (int)sizeof(time_t);
const int kOther = 12 - kNative;

/* The values that differ between the files of these tests; the rest are
 * the store's initial values, which are also the demo catalogue's
 * defaults. */
struct RcValues {
    int iMaxCloneCount = 10;
    int64_t tCTCPFloodTimer = 1;
    int64_t tSoundCommandTimer = 6;
    char const *apsJoinBeep[2] = {nullptr, nullptr};
    char const *psPrefixOutput = nullptr;
    char const *psPostfixOutput = nullptr;
    char const *psMessageLanguage = nullptr;
    char const *psAwayPostfix = nullptr;
    char const *psPipeCommand = nullptr;
    char const *psAudioDevice = nullptr;
    char const *psIdentifyCommand = nullptr;
    int iNotice = 0;
};

Bytes &Text(Bytes &b, char const *ps) { return ps != nullptr ? b.text(ps) : b.i32(0); }

/* A version-38 file of the values v with iTimeBytes-wide time fields. */
ByteVector Rc(int iTimeBytes, RcValues const &v)
{
    Bytes b;
    b.i32(38);
    b.i32(0).i32(0).i32(1).i32(0);                                                 /* 2 .. 5 */
    b.i32(1).i32(1).i32(v.iMaxCloneCount).i32(1).i32(1).i32(1).i32(1).i32(10).i32(1); /* 6 .. 14 */
    b.time_width(v.tCTCPFloodTimer, iTimeBytes).i32(1);                            /* 15, 16 */
    b.time_width(v.tSoundCommandTimer, iTimeBytes).i32(3);                         /* 17, 18 */
    b.time_width(5, iTimeBytes).i32(0);                                            /* 19, 20 */
    if (v.apsJoinBeep[0] != nullptr)                                               /* 21 */
        b.text(v.apsJoinBeep[0]).text(v.apsJoinBeep[1]);
    else
        b.i32(0);
    b.i32(0).i32(0);                                                               /* 22, 23 */
    Text(Text(b, v.psPrefixOutput), v.psPostfixOutput);                            /* 24, 25 */
    b.i32(1).i32(0).i32(1).i32(0).i32(1).i32(1);                                   /* 26 .. 31 */
    Text(Text(b, v.psMessageLanguage), v.psAwayPostfix).i32(1);                    /* 32 .. 34 */
    Text(Text(b, v.psPipeCommand), v.psAudioDevice).i32(256);                      /* 35 .. 37 */
    Text(b, v.psIdentifyCommand);                                                  /* 38 */
    b.i32(1).i32(0).i32(1).i32(1).i32(1).i32(1).i32(1).i32(1).i32(0);              /* 39 .. 47 */
    for (int k = 0; k < 18; k++)                                                   /* 48 */
        b.i32(1);
    b.i32(v.iNotice);
    b.i32(0).i32(0).i32(8).i32(1).i32(2).i32(0).i32(1).i32(0).i32(0);              /* 49 .. 57 */
    return b.bytes();
}

/* What the demo catalogue's defaults give: its texts, and no pair. */
RcValues Defaults()
{
    RcValues v;
    v.psPrefixOutput = ">> ";
    v.psPostfixOutput = " ";
    v.psMessageLanguage = "italiano";
    v.psAwayPostfix = "_AWAY";
    v.psPipeCommand = "/ECHO ";
    v.psAudioDevice = "ALSA";
    v.psIdentifyCommand = "/MSG NickServ Identify";
    return v;
}

/* A file a user has worked on: rows 7, 14, 20, 21, 26, 34, 35, 38 and 67
 * differ from their defaults; row 27 holds its default, a blank. */
RcValues Changed()
{
    RcValues v = Defaults();
    v.iMaxCloneCount = 77;
    v.tCTCPFloodTimer = -3;
    v.apsJoinBeep[0] = "#chan";
    v.apsJoinBeep[1] = "beep.wav";
    v.psPrefixOutput = nullptr;
    v.psMessageLanguage = "english";
    v.psAwayPostfix = "|away";
    v.psAudioDevice = nullptr;
    v.iNotice = 1;
    return v;
}

/* One list line as the editor formats a Boolean or numeric row. */
std::string NumberLine(int iRow, char const *psCommand, char const *psName, int iDefault, int iValue)
{
    char ac[256];
    snprintf(ac, sizeof ac, "%3d  %16s | %24s | %20d | %d", iRow, psCommand, psName, iDefault, iValue);
    return ac;
}

/* One list line as the editor formats a text row. */
std::string TextLine(int iRow, char const *psCommand, char const *psName, char const *psDefault,
                     char const *psValue)
{
    char ac[256];
    snprintf(ac, sizeof ac, "%3d  %16s | %24s | %20s | %s", iRow, psCommand, psName, psDefault,
             psValue);
    return ac;
}

std::vector<std::string> *gpCollected = nullptr;

void CollectRow(char const *psRowText) { gpCollected->push_back(psRowText); }

class HomeVerbs : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ResetSettings();
        ClearCatalogue();
        /* The home is always named; HOME itself has no setup.dat. */
        setenv("HOME", work.path().c_str(), 1);
        psLogFile = log.c_str();
        pfRunLog = WriteLog;
        std::string xchat = home / ".xchat2";
        dir = xchat + "/morvane";
        ASSERT_EQ(0, mkdir(xchat.c_str(), 0700));
        ASSERT_EQ(0, mkdir(dir.c_str(), 0700));
        for (char const *ps : {"setup.dat", "morv_italiano.msg", "morv_english.msg"}) {
            ByteVector demo = ReadFileBytes(std::string(MORV_DEMO_HOME "/.xchat2/morvane/") + ps);
            ASSERT_FALSE(demo.empty()) << ps;
            WriteFileBytes(dir + "/" + ps, demo);
        }
        rc = dir + "/morvrc";
    }
    void TearDown() override
    {
        ResetSettings();
        ClearCatalogue();
        psMorvaneRC = nullptr;
        psLogFile = nullptr;
    }

    ProgramResult Tool(std::vector<std::string> const &args)
    {
        std::vector<std::string> argv = gRunner;
        argv.push_back(gTool);
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, "", work.path());
    }

    /* The row texts that the editor's start-up lists for the home. */
    std::vector<std::string> EditorRows()
    {
        std::vector<std::string> rows;
        psMorvaneRC = &rc[0];
        ResetSettings();
        ClearCatalogue();
        ReadSetupReport(nullptr);
        SetVariables();
        FILE *f = fopen((dir + "/setup.dat").c_str(), "r");
        if (f == nullptr)
            return rows;
        char acRow[ROW_BUFFER_SIZE];
        gpCollected = &rows;
        LoadCatalogue(f, acRow, CollectRow);
        gpCollected = nullptr;
        fclose(f);
        return rows;
    }

    ScratchDir home, work;
    std::string dir, rc, log = work / "run.log";
};

/* ---- list ----------------------------------------------------------------- */

TEST_F(HomeVerbs, ListShowsTheLinesOfTheEditorsStartUp)
{
    /* A file of the other width: the tool finds it, as the editor does. */
    WriteFileBytes(rc, Rc(kOther, Changed()));
    ProgramResult r = Tool({"list", "--home", home.path()});
    ASSERT_EQ(0, r.iStatus) << r.err;
    EXPECT_EQ("", r.err);
    std::vector<std::string> lines = Lines(r.out), editor = EditorRows();
    ASSERT_EQ(77u, editor.size());
    ASSERT_EQ(77u, lines.size()) << r.out;
    for (size_t i = 0; i < lines.size(); i++) {
        char acNumber[16];
        snprintf(acNumber, sizeof acNumber, "%3d ", (int)i + 1);
        EXPECT_EQ(acNumber + editor[i], lines[i]);
    }
    EXPECT_EQ(NumberLine(7, "/MAXCLONE", "MaxCloneCount", 10, 77), lines[6]);
    EXPECT_EQ(NumberLine(14, "/CTCPTIMER", "CTCPFloodTimer", 1, -3), lines[13]);
    EXPECT_EQ(TextLine(20, "/JOINBEEP", "ChanJoinBeep.channel", "$", "#chan"), lines[19]);
    EXPECT_EQ(TextLine(26, "/PREFIX", "PrefixOutput", ">> ", "(null)"), lines[25]);
    EXPECT_EQ(TextLine(27, "/POSTFIX", "PostfixOutput", " ", " "), lines[26]);
    EXPECT_EQ(TextLine(38, "/AUDIODEV", "AudioDevice", "ALSA", "(null)"), lines[37]);
    EXPECT_EQ(NumberLine(67, "/PARSER", "ParserMode.NOTICE", 0, 1), lines[66]);

    /* Only what differs from the catalogue's defaults; the blank of row
     * 27 is its default. */
    r = Tool({"list", "--changed", "--home", home.path()});
    ASSERT_EQ(0, r.iStatus) << r.err;
    std::vector<std::string> changed;
    for (int iRow : {7, 14, 20, 21, 26, 34, 35, 38, 67})
        changed.push_back(lines[(size_t)iRow - 1]);
    EXPECT_EQ(changed, Lines(r.out));

    /* Without a file: the editor's start values, which are the defaults
     * but for the two texts that only the catalogue has. */
    ASSERT_EQ(0, unlink(rc.c_str()));
    r = Tool({"list", "--changed", "--home", home.path()});
    EXPECT_EQ(0, r.iStatus);
    EXPECT_EQ(TextLine(26, "/PREFIX", "PrefixOutput", ">> ", "(null)") + "\n" +
                  TextLine(27, "/POSTFIX", "PostfixOutput", " ", "(null)") + "\n",
              r.out);
    std::string fresh = "morvrc_tool: note: there is no morvrc yet: MoRvAnE and the editor start "
                        "from the defaults, which morvrc_tool list shows and morvrc_tool reset "
                        "--all writes\n";
    EXPECT_EQ(fresh, r.err);
    /* The other reading verbs say so too, and stay exit 3; a FILE named
     * that is missing is no fresh home, for list neither. */
    r = Tool({"dump", "--home", home.path()});
    EXPECT_EQ(3, r.iStatus);
    EXPECT_TRUE(Contains(r.err, "cannot read " + rc + ": No such file or directory\n" + fresh)) << r.err;
    r = Tool({"list", "--changed", "--home", home.path(), work / "typo"});
    EXPECT_EQ(3, r.iStatus);
    EXPECT_EQ("", r.out);
    EXPECT_EQ("morvrc_tool: cannot read " + work / "typo" + ": No such file or directory\n", r.err);

    if (kNative == 8) {
        /* A 64-bit time value shows through its low 32 bits, as a signed
         * number. */
        RcValues v = Changed();
        v.tSoundCommandTimer = (int64_t(1) << 32) + 7;
        WriteFileBytes(rc, Rc(8, v));
        r = Tool({"list", "--home", home.path()});
        ASSERT_EQ(0, r.iStatus) << r.err;
        EXPECT_EQ(NumberLine(16, "/SOUNDTIMER", "SoundCommandTimer", 6, 7), Lines(r.out).at(15));
    }
}

TEST_F(HomeVerbs, ListPicksTheHomeAndXChatVersion)
{
    /* HOME when --home is not given; --xchat 1 looks in .xchat/. */
    WriteFileBytes(rc, Rc(kNative, Changed()));
    std::vector<std::string> argv = gRunner;
    argv.insert(argv.begin(), {"env", "HOME=" + home.path()});
    argv.push_back(gTool);
    argv.push_back("list");
    ProgramResult r = RunProgram(argv, "", work.path());
    ASSERT_EQ(0, r.iStatus) << r.err;
    EXPECT_EQ(NumberLine(7, "/MAXCLONE", "MaxCloneCount", 10, 77), Lines(r.out).at(6));

    /* Options before the verb too, as git -C DIR. */
    EXPECT_EQ(r.out, Tool({"--home", home.path(), "list"}).out);
    r = Tool({"list", "--xchat", "1", "--home", home.path()});
    EXPECT_EQ(3, r.iStatus);
    EXPECT_NE(std::string::npos, r.err.find(home.path() + "/.xchat/morvane/setup.dat")) << r.err;
    EXPECT_EQ("", r.out);
}

TEST_F(HomeVerbs, ListEscapesControlBytesAndReadsAnyFile)
{
    /* Another file than the home's, by name or on standard input; a text
     * with a line feed and an escape sequence keeps its row on one line. */
    RcValues v = Changed();
    v.psAwayPostfix = "a\nb\x1b[31m";
    ByteVector image = Rc(kNative, v);
    std::string other = work / "other";
    WriteFileBytes(other, image);
    std::vector<std::string> argv = gRunner;
    argv.insert(argv.end(), {gTool, "list", "--home", home.path(), "-", "-z"});
    std::string input(image.begin(), image.end());
    for (ProgramResult r : {Tool({"list", "--home", home.path(), other, "-z"}),
                            RunProgram(argv, input, work.path())}) {
        EXPECT_EQ(0, r.iStatus) << r.err;
        EXPECT_EQ(std::string::npos, r.out.find('\n'));
        EXPECT_EQ(std::string::npos, r.out.find('\x1b'));
        std::vector<std::string> records;
        std::istringstream in(r.out);
        for (std::string record; std::getline(in, record, '\0');)
            records.push_back(record);
        ASSERT_EQ(77u, records.size());
        EXPECT_EQ(TextLine(35, "/AWAYPOSTFIX", "AwayPostfix", "_AWAY", "a\\nb\\033[31m"),
                  records[34]);
    }

    /* A bad type code in row 3: rows 1 and 2 are listed, and it is told. */
    std::string dat = ReadFileText(dir + "/setup.dat");
    size_t uRow3 = dat.find('\n', dat.find('\n') + 1) + 1;
    dat[uRow3] = '7';
    WriteFileText(dir + "/setup.dat", dat);
    ProgramResult r = Tool({"list", "--home", home.path(), other});
    EXPECT_EQ(4, r.iStatus);
    EXPECT_EQ(2u, Lines(r.out).size()) << r.out;
    EXPECT_NE(std::string::npos, r.err.find("row 3 has a type code")) << r.err;
    /* Their names still hold. */
    r = Tool({"get", "--home", home.path(), other, "LogFile"});
    EXPECT_EQ(0, r.iStatus) << r.err;
}

/* ---- names and ranges ----------------------------------------------------- */

TEST_F(HomeVerbs, TheRowsNamesAndRangesHoldForGetSetLoadAndReset)
{
    ByteVector image = Rc(kNative, Changed());
    WriteFileBytes(rc, image);
    std::string H = home.path();
    EXPECT_EQ("77\n", Tool({"get", rc, "MaxCloneCount", "--home", H}).out);
    /* Several names, in order, FILE left out or not; the catalogue's
     * defaults instead of the file's values. */
    EXPECT_EQ("0\n77\n\"#chan\"\n\"beep.wav\"\n",
              Tool({"get", "--home", H, "iFlagDebugMode", "MaxCloneCount", "psFlagChanJoinBeep"}).out);
    EXPECT_EQ("{\"iMaxCloneCount\": 77, \"psFlagChanJoinBeep\": [\"#chan\", \"beep.wav\"]}\n",
              Tool({"get", "--json", rc, "MaxCloneCount", "psFlagChanJoinBeep", "--home", H}).out);
    EXPECT_EQ("10\n\">> \"\nabsent\n",
              Tool({"get", "--default", rc, "MaxCloneCount", "PrefixOutput", "ChanJoinBeep.channel", "--home", H}).out);
    /* The names the completion offers are those each verb takes. */
    std::string set = Tool({"--complete", "set", "names", "--home", H}).out;
    std::string reset = Tool({"--complete", "reset", "names", "--home", H}).out;
    std::string describe = Tool({"--complete", "describe", "names", "--home", H}).out;
    EXPECT_TRUE(Contains(set, "\npsFlagChanJoinBeep[1]\n") && Contains(set, "\nChanJoinBeep.sound\n")) << set;
    EXPECT_FALSE(Contains(set, "\npsFlagChanJoinBeep\n") || Contains(describe, "\npsFlagChanJoinBeep\n"));
    EXPECT_TRUE(Contains(reset, "\npsFlagChanJoinBeep\n") && Contains(describe, "\nMaxCloneCount\n")) << reset;
    ProgramResult near = Tool({"get", rc, "ChanJoinBeep", "--home", H});
    EXPECT_EQ(2, near.iStatus);
    EXPECT_TRUE(Contains(near.err, "did you mean ChanJoinBeep.channel or ChanJoinBeep.sound?")) << near.err;
    /* The last row is a row too. */
    ProgramResult last = Tool({"get", rc, "DisableSHBM", "--home", H});
    EXPECT_EQ(0, last.iStatus) << last.err;
    EXPECT_EQ(Tool({"get", rc, "iFlagDisableSHBM"}).out, last.out);
    struct Case {
        std::vector<std::string> args;
        char const *psSays;
    } aCases[] = {
        {{"set", rc, "Color", "7"},
         "iFlagColor takes 0 or 1 (a switch in the editor's list, row Color)"},
        {{"set", rc, "MaxCloneCount", "4097"}, "iMaxCloneCount takes 0 to 4096"},
        {{"set", rc, "iMaxCloneCount", "-5"}, "iMaxCloneCount takes 0 to 4096"},
        {{"set", rc, "tCTCPFloodTimer", "-1"}, "tCTCPFloodTimer takes 0 to 4096"},
        {{"load", rc, "-"}, "standard input, line 2: iFlagParserMode[NOTICE] takes 0 or 1"},
    };
    for (Case const &c : aCases) {
        std::vector<std::string> argv = gRunner;
        argv.push_back(gTool);
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        argv.insert(argv.end(), {"--home", H});
        ProgramResult r = RunProgram(argv, "iMaxCloneCount = 4096\nNOTICE = 2\n", work.path());
        EXPECT_EQ(2, r.iStatus) << c.psSays;
        EXPECT_NE(std::string::npos, r.err.find(c.psSays)) << r.err;
        EXPECT_EQ(image, ReadFileBytes(rc));
    }
    /* The bounds themselves, and anything with --force. */
    ProgramResult r = Tool({"set", rc, "MaxCloneCount", "4096", "Color", "0", "--home", H});
    EXPECT_EQ(0, r.iStatus) << r.err;
    r = Tool({"set", "--force", rc, "Color", "7", "--home", H});
    EXPECT_EQ(0, r.iStatus) << r.err;
    EXPECT_EQ("7\n", Tool({"get", rc, "iFlagColor"}).out);

    /* Ranges guard changes: the 7 left alone passes dump | load, and an edit
     * of another row. */
    std::vector<std::string> argv = gRunner;
    argv.insert(argv.end(), {gTool, "load", rc, "--home", H});
    r = RunProgram(argv, Tool({"dump", rc}).out, work.path());
    EXPECT_EQ(0, r.iStatus) << r.err;
    argv = gRunner;
    std::string sed = "EDITOR=sed -i s/^iMaxCloneCount.*/iMaxCloneCount=5/";
    if (!gRunner.empty())
        argv.insert(argv.end(), {"-E", sed, "-E", "VISUAL="});
    argv.insert(argv.end(), {gTool, "edit", rc, "--home", H});
    r = RunProgram(argv, "", work.path(), gRunner.empty() ? std::vector<std::string>{sed, "VISUAL="}
                                                          : std::vector<std::string>{});
    EXPECT_EQ(0, r.iStatus) << r.err;
    EXPECT_EQ("5\n7\n", Tool({"get", rc, "iMaxCloneCount"}).out + Tool({"get", rc, "iFlagColor"}).out);
    /* FILE left out is the home's morvrc; words and any case for a switch. */
    r = Tool({"set", "color", "ON", "NOTICE", "off", "--home", H});
    EXPECT_EQ(0, r.iStatus) << r.err;
    EXPECT_EQ("1\n0\n", Tool({"get", rc, "iFlagColor"}).out + Tool({"get", rc, "NOTICE"}).out);
    EXPECT_NE(0, access((work / "color").c_str(), F_OK));
    r = Tool({"set", rc, "Color", "of", "--home", H});
    EXPECT_NE(std::string::npos, r.err.find("iFlagColor takes 0 or 1 (on/off), not \"of\"")) << r.err;

    /* A pair's own name resets both of its rows. */
    r = Tool({"reset", rc, "psFlagChanJoinBeep", "--home", H});
    EXPECT_EQ(0, r.iStatus) << r.err;
    EXPECT_EQ("absent\nabsent\n", Tool({"get", rc, "psFlagChanJoinBeep"}).out);
}

/* ---- repair --------------------------------------------------------------- */

TEST_F(HomeVerbs, ResetAllOrAWholeLoadRepairADamagedFile)
{
    std::string H = home.path();
    ByteVector good = Rc(kNative, Changed());
    WriteFileBytes(work / "good", good);
    std::string dump = Tool({"dump", work / "good"}).out;
    ByteVector cut(good.begin(), good.begin() + 200);
    for (ByteVector const &bad : {cut, ByteVector{}}) {
        /* A partial change is refused, with the two ways out. */
        WriteFileBytes(rc, bad);
        ProgramResult r = Tool({"set", rc, "iMaxCloneCount", "1"});
        EXPECT_EQ(4, r.iStatus);
        EXPECT_NE(std::string::npos, r.err.find("should it stay so, morvrc_tool reset --all " + rc +
                                                ", or a load that sets every setting, writes it "
                                                "afresh)"))
            << r.err;
        std::vector<std::string> argv = gRunner;
        argv.insert(argv.end(), {gTool, "load", rc});
        EXPECT_EQ(4, RunProgram(argv, "iMaxCloneCount = 1\n", work.path()).iStatus);
        EXPECT_EQ(bad, ReadFileBytes(rc));

        r = Tool({"reset", "--all", rc, "--home", H});
        EXPECT_EQ(0, r.iStatus) << r.err;
        EXPECT_NE(std::string::npos, r.err.find("is written afresh")) << r.err;
        EXPECT_EQ(Rc(kNative, Defaults()), ReadFileBytes(rc));

        WriteFileBytes(rc, bad);
        r = RunProgram(argv, dump, work.path());
        EXPECT_EQ(0, r.iStatus) << r.err;
        EXPECT_EQ(good, ReadFileBytes(rc));
    }

    /* A text of settings where FILE goes ("load kept.txt" for "load FILE
     * kept.txt"), or JSON: told so with the load that applies it; no verb
     * writes over it, nor advises a write, but with --force one that
     * writes a whole file. */
    std::string kept = work / "kept.txt";
    for (std::string text : {dump, Tool({"dump", "--json", work / "good"}).out}) {
        WriteFileText(kept, text);
        std::string form = text[0] == '{' ? "a JSON document of settings as dump --json prints it"
                                          : "a text of settings as dump prints it";
        std::string load = text[0] == '{' ? "load --json FILE " : "load FILE ";
        for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
                 {"load", kept}, {"reset", "--all", kept}, {"set", kept, "iMaxCloneCount", "1"},
                 {"restore", "1", kept}, {"dump", kept}, {"check", kept}}) {
            std::vector<std::string> line = gRunner;
            line.push_back(gTool);
            line.insert(line.end(), args.begin(), args.end());
            line.insert(line.end(), {"--home", H});
            ProgramResult r = RunProgram(line, "", work.path());
            SCOPED_TRACE(args[0]);
            EXPECT_EQ(args[0] == "check" ? 1 : 4, r.iStatus) << r.err;
            EXPECT_TRUE(Contains(r.err, kept + " is " + form + ", not a morvrc: morvrc_tool " + load +
                                            kept + " (or morvrc_tool " + load + "< " + kept +
                                            ") applies it to the morvrc FILE"))
                << r.err;
            EXPECT_FALSE(Contains(r.err, "reset --all")) << r.err;
            EXPECT_EQ(args[0] == "check" ? 6u : 0u, Lines(r.out).size()) << r.out;
            EXPECT_EQ(text, ReadFileText(kept));
        }
    }
    ProgramResult r = Tool({"reset", "--all", "--force", kept, "--home", H});
    EXPECT_EQ(0, r.iStatus) << r.err;
    EXPECT_EQ(Rc(kNative, Defaults()), ReadFileBytes(kept));
}

/* ---- describe ------------------------------------------------------------- */

TEST_F(HomeVerbs, DescribeShowsWhatTheEditorsHelpAreaShows)
{
    /* English laid over Italian: the demo's English file lacks some rows. */
    WriteFileBytes(rc, Rc(kNative, Changed()));
    std::string help;
    int iStatus = RunInChild(
        [&] {
            if (chdir(home.path().c_str()) != 0)
                _exit(1);
            iXChatVer = 2;
            LoadMessageFile("italiano");
            LoadMessageFile("english");
            psMorvaneRC = &rc[0];
            ReadSetupReport(nullptr);
            SetVariables();
            FILE *f = fopen(".xchat2/morvane/setup.dat", "r");
            char acRow[ROW_BUFFER_SIZE];
            std::vector<std::string> rows;
            gpCollected = &rows;
            if (f == nullptr || LoadCatalogue(f, acRow, CollectRow) != 77)
                _exit(1);
            /* The texts follow a line of their own, after the catalogue's
             * progress lines; each ends with a record separator. */
            printf("\n--help texts--\n");
            for (int r = 1; r <= 77; r++)
                printf("%s\n\x1e", GetMessage(dvArray[r].iHelpMessage));
        },
        &help);
    ASSERT_EQ(0, iStatus);
    size_t uAt = help.find("\n--help texts--\n");
    ASSERT_NE(std::string::npos, uAt);
    std::vector<std::string> texts;
    std::istringstream in(help.substr(uAt + 16));
    std::string text;
    while (std::getline(in, text, '\x1e'))
        texts.push_back(text);
    ASSERT_EQ(77u, texts.size());

    for (int iRow = 1; iRow <= 77; iRow++) {
        ProgramResult r = Tool({"describe", "--home", home.path(), std::to_string(iRow)});
        EXPECT_EQ(0, r.iStatus) << iRow << r.err;
        EXPECT_EQ("", r.err) << iRow;
        /* A line on the row, then the text. */
        size_t uEnd = r.out.find('\n');
        ASSERT_NE(std::string::npos, uEnd) << iRow;
        EXPECT_EQ(0u, r.out.find("row " + std::to_string(iRow) + ", ")) << r.out;
        EXPECT_EQ(texts[(size_t)iRow - 1], r.out.substr(uEnd + 1)) << iRow;
    }
    EXPECT_EQ("Number of clones from one host above which the script reports an attack.\n", texts[6]);
    EXPECT_EQ("Suona quando qualcuno apre una query con te.\n", texts[7]);

    /* A row by its variable name, or by the setting it edits. */
    struct Case {
        char const *psName;
        int iRow;
    } aCases[] = {{"MaxCloneCount", 7}, {"iMaxCloneCount", 7}, {"tCTCPFloodTimer", 14},
                  {"psFlagChanJoinBeep[1]", 21}, {"NOTICE", 67}, {"ParserMode.NOTICE", 67},
                  {"maxclonecount", 7}};
    for (Case const &c : aCases) {
        ProgramResult r = Tool({"describe", "--home", home.path(), c.psName});
        EXPECT_EQ(0, r.iStatus) << c.psName << r.err;
        EXPECT_EQ(0u, r.out.find("row " + std::to_string(c.iRow) + ", ")) << r.out;
    }
    EXPECT_EQ("row 7, MaxCloneCount (iMaxCloneCount): numeric, 0 to 4096\n" + texts[6],
              Tool({"describe", "--home", home.path(), "MaxCloneCount"}).out);
    for (char const *ps : {"0", "78", "iFlagParserMode"}) {
        ProgramResult r = Tool({"describe", "--home", home.path(), ps});
        EXPECT_EQ(2, r.iStatus) << ps;
        EXPECT_EQ("", r.out) << ps;
    }
    /* --json gives the text as its file holds it: the breaks at 80 columns
     * are the help area's. */
    std::string wrapped = texts[11];
    ASSERT_NE(std::string::npos, wrapped.find('\n')) << wrapped;
    std::string whole = wrapped.substr(0, wrapped.size() - 1);
    size_t uBreak = whole.find('\n');
    whole[uBreak] = ' ';
    EXPECT_TRUE(Contains(Tool({"describe", "--json", "--home", home.path(), "12"}).out,
                         "\"help\": \"" + whole + "\"}"));

    /* Found by a word of a help text in the home's language, in any case,
     * across the help area's breaks; one line each, or JSON. */
    ProgramResult found = Tool({"search", "--home", home.path(), "ATTACK"});
    EXPECT_EQ(0, found.iStatus) << found.err;
    EXPECT_EQ(Lines(Tool({"list", "--home", home.path()}).out).at(6) + "\n", found.out);
    size_t uWord = whole.rfind(' ', uBreak - 1) + 1;
    found = Tool({"search", "--json", "--home", home.path(),
                  whole.substr(uWord, whole.find(' ', uBreak + 1) - uWord)});
    EXPECT_EQ(0u, found.out.find("[\n  {\"row\": 12, ")) << found.out;
    EXPECT_EQ(1, Tool({"search", "--home", home.path(), "no such word"}).iStatus);
}

/* ---- reset ---------------------------------------------------------------- */

TEST_F(HomeVerbs, ResetPutsBackTheNamedDefaultsOnly)
{
    std::string file = work / "morvrc";
    WriteFileBytes(file, Rc(kOther, Changed()));
    ProgramResult r = Tool({"reset", "--home", home.path(), file, "MaxCloneCount", "14",
                            "ChanJoinBeep.channel", "psFlagChanJoinBeep[1]", "psAudioDevice"});
    ASSERT_EQ(0, r.iStatus) << r.err;
    EXPECT_EQ("", r.out);
    EXPECT_EQ("", r.err);
    RcValues want = Changed();
    want.iMaxCloneCount = 10;
    want.tCTCPFloodTimer = 1;
    want.apsJoinBeep[0] = want.apsJoinBeep[1] = nullptr;
    want.psAudioDevice = "ALSA";
    ByteVector got = ReadFileBytes(file);
    EXPECT_EQ(Rc(kOther, want), got) << Hex(got);

    /* One text of a pair would be left: refused, the file untouched. */
    WriteFileBytes(file, Rc(kNative, Changed()));
    r = Tool({"reset", "--home", home.path(), file, "MaxCloneCount", "ChanJoinBeep.sound"});
    EXPECT_EQ(5, r.iStatus);
    EXPECT_NE(std::string::npos, r.err.find("psFlagChanJoinBeep would be left with one text"))
        << r.err;
    EXPECT_EQ(Rc(kNative, Changed()), ReadFileBytes(file));
    r = Tool({"reset", "--home", home.path(), file, "NoSuchRow"});
    EXPECT_EQ(2, r.iStatus);
    EXPECT_EQ(Rc(kNative, Changed()), ReadFileBytes(file));

    /* Every row, into a file that did not exist, at the width asked for. */
    std::string fresh = work / "fresh";
    r = Tool({"reset", "--all", "--bits", kOther == 4 ? "32" : "64", "--home", home.path(), fresh});
    ASSERT_EQ(0, r.iStatus) << r.err;
    EXPECT_EQ(Rc(kOther, Defaults()), ReadFileBytes(fresh)) << Hex(ReadFileBytes(fresh));
}

}  // namespace

int main(int argc, char **argv) { return ToolTestMain(argc, argv, &gTool, &gRunner); }
