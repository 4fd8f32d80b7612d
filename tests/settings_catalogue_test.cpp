/* The variable catalogue: reading setup.dat, the list lines it produces,
 * the bindings to the settings and the row texts.  The lines are collected
 * in the order the editor appends them to its list; the run-log lines
 * through the shared code's hook. */
#include "settings/store/catalogue.h"
#include "settings/store/morv.h"
#include "settings/morvrc/morvrc.h"
#include "support/runlog.h"
#include "support/xchat.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

/* The list lines handed over, and the run-log lines written, so far. */
std::vector<std::string> gLines;
std::vector<std::string> gLog;

void AddLine(char const *psRowText) { gLines.push_back(psRowText); }

int KeepLogLine(char const *psMessage)
{
    gLog.push_back(psMessage);
    return 1;
}

/* The run-log lines that begin with psStart, one per line. */
std::string LogLines(char const *psStart = "")
{
    std::string out;
    for (std::string const &line : gLog)
        if (line.compare(0, strlen(psStart), psStart) == 0)
            out += line + "\n";
    return out;
}

class Catalogue : public ::testing::Test {
  protected:
    void SetUp() override
    {
        gLines.clear();
        gLog.clear();
        pfRunLog = KeepLogLine;
        rcPath = dir / "morvrc";
        psMorvaneRC = &rcPath[0];
        ResetSettings();
    }
    void TearDown() override
    {
        pfRunLog = nullptr;
        ClearCatalogue();
        ResetSettings();
    }
    /* Loads text as setup.dat; returns the number of rows, or -1 at a bad
     * type code. */
    int Load(std::string const &text)
    {
        WriteFileText(dir / "setup.dat", text);
        FILE *f = fopen((dir / "setup.dat").c_str(), "r");
        char acRow[ROW_BUFFER_SIZE];
        int n = LoadCatalogue(f, acRow, AddLine);
        fclose(f);
        return n;
    }
    /* List line n, from 1 as the editor's list counts them. */
    std::string Line(size_t n) { return n >= 1 && n <= gLines.size() ? gLines[n - 1] : "(none)"; }

    ScratchDir dir;
    std::string rcPath;
};

TEST_F(Catalogue, RowsBecomeLinesInTheirFormats)
{
    ReadSetup(nullptr); /* no file here: text defaults */
    SetVariables();
    std::string file;
    for (int i = 1; i <= 77; i++) {
        bool bText = (i >= 20 && i <= 27) || i == 34 || i == 35 || i == 37 || i == 38 || i == 40;
        file += std::to_string(bText ? 2 : (i == 7 ? 1 : 0)) + " | /CMD" + std::to_string(i) + " | Name" +
                std::to_string(i) + " | " + std::to_string(i % 2) + " | " + (i == 26 ? "a$^$b" : i == 27 ? "$^$" : "$") +
                " | " + std::to_string(3000 + i) + "\n";
    }
    ASSERT_EQ(77, Load(file));
    ASSERT_EQ(77u, gLines.size());
    /* Command right-aligned to column 16, name to 43, default to 66, the
     * current value from column 70: the columns of the list header. */
    EXPECT_EQ(std::string(12, ' ') + "/CMD1 |" + std::string(20, ' ') + "Name1 |" + std::string(20, ' ') + "1 | 0",
              Line(1));
    EXPECT_EQ(66u, Line(1).find("1 | 0"));
    EXPECT_EQ(16u, Line(1).find("/CMD1") + 4);
    EXPECT_EQ(43u, Line(1).find("Name1") + 4);
    EXPECT_EQ("            /CMD7 |                    Name7 |                    1 | 10", Line(7));
    EXPECT_EQ("           /CMD20 |                   Name20 |                    $ | (null)", Line(20));
    EXPECT_EQ("           /CMD26 |                   Name26 |                  a b | (null)", Line(26));
    EXPECT_EQ("           /CMD27 |                   Name27 |                      | (null)", Line(27));
    EXPECT_EQ("           /CMD34 |                   Name34 |                    $ | italiano", Line(34));
    EXPECT_EQ("           /CMD37 |                   Name37 |                    $ | /ECHO ", Line(37));
    EXPECT_EQ(3077, dvArray[77].iHelpMessage);
    EXPECT_EQ(VARIABLE_NUMERIC, dvArray[7].iType);
    EXPECT_EQ(VARIABLE_STRING, dvArray[40].iType);
    EXPECT_STREQ(" ", dvArray[27].psDefault);
    /* The run log has the row texts between the loop's own lines. */
    std::string log = "\n" + LogLines();
    EXPECT_NE(std::string::npos, log.find("\nmain() :While > fscanf\n"));
    EXPECT_NE(std::string::npos, log.find("\nmain() :switch->STRING\n"));
    EXPECT_NE(std::string::npos, log.find("\n" + Line(40) + "\n"));
    EXPECT_NE(std::string::npos, log.find("\nmain() :Insert Data in ListBox\n"));
}

TEST_F(Catalogue, WhiteSpaceAndLineEndsAreFreeAroundBars)
{
    ASSERT_EQ(2, Load("1|/A |a |5|- |9\n  0   |\n/B\n|\tb | 0 | x | 10"));
    EXPECT_STREQ("/A", dvArray[1].psCommand);
    EXPECT_STREQ("a", dvArray[1].psVariableName);
    EXPECT_EQ(5, dvArray[1].iDefault);
    EXPECT_STREQ("-", dvArray[1].psDefault);
    EXPECT_EQ(9, dvArray[1].iHelpMessage);
    EXPECT_STREQ("/B", dvArray[2].psCommand);
    EXPECT_STREQ("x", dvArray[2].psDefault);
    EXPECT_EQ(10, dvArray[2].iHelpMessage);
}

TEST_F(Catalogue, AtMost255RowsAndAnEmptyFileGivesNone)
{
    std::string file;
    for (int i = 1; i <= 300; i++)
        file += "0 | /c" + std::to_string(i) + " | v | 0 | - | 1\n";
    EXPECT_EQ(255, Load(file));
    EXPECT_EQ(255u, gLines.size());
    EXPECT_STREQ("/c255", dvArray[255].psCommand);
    TearDown();
    SetUp();
    EXPECT_EQ(0, Load(""));
    EXPECT_EQ(0u, gLines.size());
    EXPECT_EQ(nullptr, dvArray[1].psCommand);
}

TEST_F(Catalogue, OverlongWordsAreCutAndTheNextRowStaysInStep)
{
    std::string longWord(50, 'w');
    ASSERT_EQ(2, Load("0 | " + longWord + " | v | 1 | " + longWord + " | 7\n1 | /next | n | 2 | - | 8\n"));
    EXPECT_EQ(std::string(32, 'w'), dvArray[1].psCommand);
    EXPECT_EQ(std::string(32, 'w'), dvArray[1].psDefault);
    EXPECT_EQ(7, dvArray[1].iHelpMessage);
    EXPECT_STREQ("/next", dvArray[2].psCommand);
    EXPECT_EQ(VARIABLE_NUMERIC, dvArray[2].iType);
}

TEST_F(Catalogue, APartlyMatchedRowRepeatsUntilTheLimit)
{
    /* A bar glued to a word becomes part of it and the row stops there;
     * formatted input never moves past the mismatch, so every later row
     * stops at the same place and reuses the last type read. */
    ASSERT_EQ(255, Load("1 | /A | a | 4 | - | 5\n1 | /B| b | 0 | - | 6\n"));
    EXPECT_STREQ("/B|", dvArray[2].psCommand);
    EXPECT_STREQ("", dvArray[2].psVariableName);
    EXPECT_EQ(0, dvArray[2].iHelpMessage);
    EXPECT_EQ(VARIABLE_NUMERIC, dvArray[3].iType);
    EXPECT_STREQ("", dvArray[3].psCommand);
}

TEST_F(Catalogue, UnknownTypeCodeIsReportedAfterTheRowsBefore)
{
    /* The caller decides what a bad type code means (the editor ends with
     * status 2): the load only stops and says so, printing nothing. */
    testing::internal::CaptureStdout();
    int n = Load("0 | /A | a | 0 | - | 1\n3 | /B | b | 0 | - | 1\n0 | /C | c | 0 | - | 1\n");
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_EQ(-1, n);
    EXPECT_EQ(1u, gLines.size());
    EXPECT_STREQ("/B", dvArray[2].psCommand);
    EXPECT_EQ(nullptr, dvArray[3].psCommand);
    /* Row 2 was read and logged as read; its type was not taken. */
    EXPECT_EQ("main() :While > fscanf\n"
              "main() :switch->BOOLEAN\n"
              "               /A |                        a |                    0 | 0\n"
              "main() :Insert Data in ListBox\n"
              "main() :While > fscanf\n",
              LogLines());
}

TEST_F(Catalogue, BindingsFollowTheSettingsAndLogTheirMarks)
{
    if (sizeof(time_t) == 8) {
        tCTCPFloodTimer = (time_t)0x100000005LL;
        tMinSecondSent = (time_t)0x80000000LL;
    }
    psPostfixOutput = strdup("post");
    SetVariables();
    EXPECT_EQ(&iFlagDebugMode, dvArray[1].piValue);
    EXPECT_EQ(&i_tCTCPFloodTimer, dvArray[14].piValue);
    EXPECT_EQ(&i_tMinSecondSent, dvArray[18].piValue);
    EXPECT_EQ(&psFlagChanModBeep[1], dvArray[23].ppsValue);
    EXPECT_EQ(psPostfixOutput, dvArray[27].psValue);
    EXPECT_EQ(&iFlagParserMode[0], dvArray[49].piValue);
    EXPECT_EQ(&iFlagParserMode[18], dvArray[67].piValue);
    EXPECT_EQ(&iFlagEventsManagerDebug, dvArray[68].piValue);
    EXPECT_EQ(&iFlagDisableSHBM, dvArray[77].piValue);
    EXPECT_EQ(nullptr, dvArray[78].piValue);
    EXPECT_EQ(nullptr, dvArray[78].ppsValue);
    EXPECT_EQ(6, i_tSoundCommandTimer);
    if (sizeof(time_t) == 8) {
        EXPECT_EQ(5, i_tCTCPFloodTimer);            /* the low 32 bits */
        EXPECT_EQ(INT32_MIN, i_tMinSecondSent);     /* read as signed */
    }

    EXPECT_EQ("SetVariables()\nSetVariables() : Referencing\n"
              "SetVariables() :v12\nSetVariables() :v13\nSetVariables() :v15\nSetVariables() :v16\n"
              "SetVariables() :v17\nSetVariables() :v18\nSetVariables() :v19\nSetVariables() :v20\n"
              "SetVariables() :v21\nSetVariables() :v22\nSetVariables() :v23\nSetVariables() :v24\n"
              "SetVariables() :v25\nSetVariables() :v26\nSetVariables() :v28\nSetVariables() :v28\n"
              "SetVariables() :v29\nSetVariables() :v30\nSetVariables() :v31\nSetVariables() :v32\n"
              "SetVariables() :v33\nSetVariables() :v34\nSetVariables() :v35\nSetVariables() :v36\n"
              "SetVariables() :v37\nSetVariables() :v38\n",
              LogLines("SetVariables()"));
}

TEST_F(Catalogue, RowTextIsCutToItsBuffer)
{
    ASSERT_EQ(1, Load("2 | /PREFIX | PrefixOutput | 0 | $ | 1\n"));
    SetVariables();
    std::string huge(10000, 'h');
    psPrefixOutput = strdup(huge.c_str());
    dvArray[1].ppsValue = &psPrefixOutput;
    dvArray[1].psValue = psPrefixOutput;
    char acRow[ROW_BUFFER_SIZE + 16];
    memset(acRow, 'G', sizeof acRow);
    EXPECT_EQ(1, FormatRowText(acRow, 1));
    EXPECT_EQ((size_t)ROW_BUFFER_SIZE - 1, strlen(acRow));
    EXPECT_EQ('G', acRow[ROW_BUFFER_SIZE]); /* nothing written past the buffer */
}

TEST_F(Catalogue, RowTextOfAnUnknownTypeCodeIsRefused)
{
    ASSERT_EQ(1, Load("0 | /A | a | 0 | - | 1\n"));
    dvArray[1].iType = 3;
    char acRow[ROW_BUFFER_SIZE];
    memset(acRow, 'G', sizeof acRow);
    EXPECT_EQ(0, FormatRowText(acRow, 1));
    EXPECT_STREQ("", acRow);
}

}  // namespace
