/* Substring replacement on owned texts and the readability probe. */
#include "support/function.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

namespace {

/* Runs ustrfindreplace_r on a malloc'd copy of text; returns the count and
 * leaves the result in *pOut. */
int Replace(char const *psText, char const *psFind, char const *psRepl, unsigned uMax, std::string *pOut)
{
    char *ps = strdup(psText);
    char *psBefore = ps;
    int n = ustrfindreplace_r(&ps, psFind, psRepl, uMax);
    if (n == 0) {
        EXPECT_EQ(psBefore, ps) << "an unchanged text must not be reallocated";
    }
    *pOut = ps;
    free(ps);
    return n;
}

TEST(UstrFindReplace, ReplacesWithoutOverlapAndHonoursTheMaximum)
{
    std::string out;
    EXPECT_EQ(2, Replace("aaaa", "aa", "b", 0, &out));
    EXPECT_EQ("bb", out);
    EXPECT_EQ(1, Replace("aaa", "aa", "b", 0, &out));
    EXPECT_EQ("ba", out);
    EXPECT_EQ(1, Replace("a.b.c", ".", "-", 1, &out));
    EXPECT_EQ("a-b.c", out);
    EXPECT_EQ(2, Replace("a$^$b$^$c", "$^$", " ", 0, &out));
    EXPECT_EQ("a b c", out);
    EXPECT_EQ(1, Replace("$^$", "$^$", " ", 0, &out));
    EXPECT_EQ(" ", out);
    EXPECT_EQ(3, Replace("xAxAx", "x", "", 0, &out));
    EXPECT_EQ("AA", out);
}

TEST(UstrFindReplace, InsertedTextIsNeverSearchedAgain)
{
    std::string out;
    EXPECT_EQ(3, Replace("a\\b\\\\c", "\\", "\\\\", 0, &out));
    EXPECT_EQ("a\\\\b\\\\\\\\c", out);
    EXPECT_EQ(2, Replace("abab", "ab", "abab", 0, &out));
    EXPECT_EQ("abababab", out);
}

TEST(UstrFindReplace, RefusedCallsLeaveTheTextAlone)
{
    std::string out;
    EXPECT_EQ(0, Replace("a.b", ".", "-", 4097, &out));
    EXPECT_EQ("a.b", out);
    EXPECT_EQ(0, Replace("a.b", ".", ".", 0, &out));
    EXPECT_EQ(0, Replace("a.b", "", "-", 0, &out));
    EXPECT_EQ(0, Replace("", ".", "-", 0, &out));
    EXPECT_EQ(0, Replace("abc", "x", "-", 0, &out));
    EXPECT_EQ("abc", out);
    char *ps = strdup("a.b");
    EXPECT_EQ(0, ustrfindreplace_r(&ps, nullptr, "-", 0));
    EXPECT_EQ(0, ustrfindreplace_r(&ps, ".", nullptr, 0));
    char const *psSame = ".";
    EXPECT_EQ(0, ustrfindreplace_r(&ps, psSame, psSame, 0));
    char *psNull = nullptr;
    EXPECT_EQ(0, ustrfindreplace(&psNull, ".", "-"));
    EXPECT_STREQ("a.b", ps);
    free(ps);
}

TEST(UstrFindReplace, MoreOccurrencesThanThePositionTableHolds)
{
    std::string big(10000, 'x');
    std::string out;
    EXPECT_EQ(10000, Replace(big.c_str(), "x", "yz", 0, &out));
    EXPECT_EQ(20000u, out.size());
    EXPECT_EQ(std::string::npos, out.find('x'));
    EXPECT_EQ(4096, Replace(big.c_str(), "x", "", 4096, &out));
    EXPECT_EQ(std::string(10000 - 4096, 'x'), out);
}

TEST(VelDeviceReady, ProbesWithoutCreatingForReading)
{
    ScratchDir dir;
    WriteFileText(dir / "present", "x");
    EXPECT_EQ(1, velDeviceReady((dir / "present").c_str(), "r"));
    EXPECT_EQ(0, velDeviceReady((dir / "missing").c_str(), "r"));
    EXPECT_FALSE(FileExists(dir / "missing"));
    EXPECT_EQ(0, velDeviceReady("", "r"));
    EXPECT_EQ(0, velDeviceReady(nullptr, "r"));
    EXPECT_EQ(1, velDeviceReady((dir / "made").c_str(), "a"));
    EXPECT_TRUE(FileExists(dir / "made"));
}

}  // namespace
