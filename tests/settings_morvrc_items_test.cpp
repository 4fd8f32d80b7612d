/* Names and values of the stored settings as people type them: quoting
 * that shows every byte and reads back exactly, names that find the right
 * setting (and only real ones), values of the right kind and range, and the
 * pair rule. */
#include "settings/store/morv.h"
#include "settings/morvrc/morvrc.h"
#include "settings/morvrc/reading.h"
#include "settings/store/items.h"
#include "settings/store/text.h"
#include "settings/store/values.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>

namespace {

std::string Quote(std::string const &s)
{
    char *ps = QuoteText(s.c_str());
    std::string r = ps != nullptr ? ps : "(null)";
    free(ps);
    return r;
}

/* The text, or "ERROR: reason". */
std::string Unquote(std::string const &s)
{
    char *ps = nullptr;
    char acWhy[200] = "";
    if (!UnquoteText(s.c_str(), &ps, acWhy, sizeof acWhy))
        return std::string("ERROR: ") + acWhy;
    std::string r = ps;
    free(ps);
    return r;
}

TEST(Quoting, EveryByteIsVisibleAndReadsBack)
{
    std::string all;
    for (int c = 1; c < 256; c++)
        all += (char)c;
    std::string quoted = Quote(all);
    for (char c : quoted)
        EXPECT_TRUE(c >= 0x20 && c < 0x7f) << "byte " << (int)(unsigned char)c;
    EXPECT_EQ(all, Unquote(quoted));
    char *ps = QuoteText(nullptr);
    EXPECT_STREQ("absent", ps);
    free(ps);
}

TEST(Quoting, ExactForms)
{
    EXPECT_EQ("\"_AWAY\"", Quote("_AWAY"));
    EXPECT_EQ("\"\"", Quote(""));
    EXPECT_EQ("\"a\\\"b\\\\c\\n\\t\\r\\a\\b\\f\\v\"", Quote("a\"b\\c\n\t\r\a\b\f\v"));
    /* Octal escapes are always three digits, so a following digit stays
     * a character of its own. */
    EXPECT_EQ("\"\\0011\\177\xc3\xa9\"", Quote("\x01"
                                           "1\x7f\xc3\xa9"));
    /* UTF-8 as characters; overlong forms, code points above U+10FFFF and
     * the C1 controls byte by byte. */
    EXPECT_EQ("\"\\300\\257\\364\\220\\200\\200\\302\\205\"", Quote("\xc0\xaf\xf4\x90\x80\x80\xc2\x85"));
    EXPECT_EQ(std::string("\x01") + "1", Unquote("\"\\0011\""));
}

TEST(Quoting, ReadsCStringEscapes)
{
    EXPECT_EQ("A", Unquote("\"\\101\""));
    EXPECT_EQ("A", Unquote("\"\\x41\""));
    EXPECT_EQ("\x07"
              "8",
              Unquote("\"\\78\""));
    EXPECT_EQ("'?", Unquote("\"\\'\\?\""));
    EXPECT_EQ("", Unquote("\"\""));
}

TEST(Quoting, RejectsWhatIsNotOneWholeQuotedText)
{
    char const *apsBad[] = {
        "abc",          /* no opening quote */
        "\"abc",        /* no closing quote */
        "\"ab\\\"",     /* the closing quote is escaped */
        "\"ab\"c",      /* something after the closing quote */
        "\"a\\qb\"",    /* unknown escape */
        "\"a\\x\"",     /* \x without digits */
        "\"\\x41B\"",   /* \x takes every hex digit, as in C: 0x41B */
        "\"\\400\"",    /* octal beyond 255 */
        "\"a\\0b\"",    /* a zero byte ends a stored text */
        "\"a\\x00\"",
        "\"a\\",        /* a backslash at the very end */
    };
    for (char const *ps : apsBad)
        EXPECT_EQ(0u, Unquote(ps).find("ERROR: ")) << ps << " gave " << Unquote(ps);
}

TEST(Decimal, WholeNumbersOnlyAndWithinRange)
{
    long long ll = 0;
    EXPECT_TRUE(ParseDecimal("-2147483648", INT32_MIN, INT32_MAX, &ll));
    EXPECT_EQ(INT32_MIN, ll);
    EXPECT_TRUE(ParseDecimal("+17", INT32_MIN, INT32_MAX, &ll));
    EXPECT_EQ(17, ll);
    EXPECT_TRUE(ParseDecimal("9223372036854775807", INT64_MIN, INT64_MAX, &ll));
    EXPECT_EQ(INT64_MAX, ll);
    char const *apsBad[] = {"", "+", "-", " 1", "1 ", "0x10", "1e3", "1.5", "ten", "2147483648",
                            "-2147483649", "9223372036854775808"};
    for (char const *ps : apsBad) {
        ll = 99;
        EXPECT_FALSE(ParseDecimal(ps, INT32_MIN, INT32_MAX, &ll)) << ps;
        EXPECT_EQ(99, ll) << ps;
    }
    EXPECT_FALSE(ParseDecimal("9223372036854775808", INT64_MIN, INT64_MAX, &ll));
}

/* Every name a dump shows finds its own item again; there are 77 of them,
 * one per catalogue row. */
TEST(Names, EveryDumpNameFindsItsItem)
{
    int iItems = 0;
    for (int i = 0; i < MORV_FIELD_COUNT; i++) {
        for (int e = 0; e < ItemCount(i); e++) {
            MorvItem it = {i, ItemCount(i) == 1 ? -1 : e};
            char acName[64];
            ItemName(it, acName, sizeof acName);
            MorvItem found = {-5, -5};
            char acWhy[200] = "";
            ASSERT_TRUE(FindItem(acName, &found, acWhy, sizeof acWhy)) << acName << ": " << acWhy;
            EXPECT_EQ(it.iField, found.iField) << acName;
            EXPECT_EQ(it.iElement, found.iElement) << acName;
            iItems++;
        }
    }
    EXPECT_EQ(77, iItems);
}

TEST(Names, ExactFormsAndAliases)
{
    char acName[64];
    char acWhy[200];
    MorvItem it;
    for (char const *ps : {"iMaxCloneCount", "IMAXCLONECOUNT"}) {
        ASSERT_TRUE(FindItem(ps, &it, acWhy, sizeof acWhy)) << ps;
        EXPECT_EQ(&iMaxCloneCount, aMorvFields[it.iField].pSetting);
    }
    /* A slip is answered with the nearest name, events too. */
    EXPECT_FALSE(FindItem("iMaxClonCnt", &it, acWhy, sizeof acWhy));
    EXPECT_NE(nullptr, strstr(acWhy, "did you mean iMaxCloneCount?")) << acWhy;
    EXPECT_FALSE(FindItem("CHNIK", &it, acWhy, sizeof acWhy));
    EXPECT_NE(nullptr, strstr(acWhy, "did you mean CHNICK?")) << acWhy;
    ASSERT_TRUE(FindItem("psFlagChanModBeep[1]", &it, acWhy, sizeof acWhy));
    EXPECT_EQ((void *)psFlagChanModBeep, aMorvFields[it.iField].pSetting);
    EXPECT_EQ(1, it.iElement);
    for (char const *ps : {"iFlagParserMode[18]", "iFlagParserMode[NOTICE]", "NOTICE", "notice",
                           "iflagparsermode[Notice]"}) {
        ASSERT_TRUE(FindItem(ps, &it, acWhy, sizeof acWhy)) << ps;
        EXPECT_EQ((void *)iFlagParserMode, aMorvFields[it.iField].pSetting) << ps;
        EXPECT_EQ(18, it.iElement) << ps;
        ItemName(it, acName, sizeof acName);
        EXPECT_STREQ("iFlagParserMode[NOTICE]", acName);
    }
    ASSERT_TRUE(FindItem("iFlagParserMode[3]", &it, acWhy, sizeof acWhy));
    ItemName(it, acName, sizeof acName);
    EXPECT_STREQ("iFlagParserMode[CHNICK]", acName);
}

TEST(Names, RejectsWhatIsNotAStoredSetting)
{
    char const *apsBad[] = {
        "",
        "iMaxCloneCount[0]",         /* a single setting has no index */
        "psFlagChanJoinBeep",        /* a pair needs its index */
        "psFlagChanJoinBeep[2]",
        "psFlagChanJoinBeep[0]x",
        "psFlagChanJoinBeep[NOTICE]",
        "iFlagParserMode",
        "iFlagParserMode[19]",
        "iFlagParserMode[-1]",
        "iFlagParserMode[]",
        "NOTICE[0]",
        "iSetupVersion",             /* the version word is not a setting */
        "sFlagEnableQUERY",          /* held in memory only, never stored */
        "apsFlagParseMode",
    };
    for (char const *ps : apsBad) {
        MorvItem it;
        char acWhy[200] = "";
        EXPECT_FALSE(FindItem(ps, &it, acWhy, sizeof acWhy)) << ps;
        EXPECT_NE('\0', acWhy[0]) << ps;
    }
}

class Values : public ::testing::Test {
  protected:
    void SetUp() override { ResetSettings(); }
    void TearDown() override { ResetSettings(); }
    bool Set(char const *psName, char const *psValue, int iTimeBytes = (int)sizeof(time_t))
    {
        MorvItem it;
        char acWhy[200] = "";
        if (!FindItem(psName, &it, acWhy, sizeof acWhy)) {
            ADD_FAILURE() << psName << ": " << acWhy;
            return false;
        }
        acWhy[0] = '\0';
        bool b = SetItemValue(it, psValue, iTimeBytes, acWhy, sizeof acWhy) != 0;
        EXPECT_EQ(b, acWhy[0] == '\0') << "a refusal says why, a success says nothing";
        return b;
    }
    std::string Get(char const *psName)
    {
        MorvItem it;
        char acWhy[200];
        if (!FindItem(psName, &it, acWhy, sizeof acWhy))
            return "?";
        char *ps = FormatItemValue(it);
        std::string r = ps;
        free(ps);
        return r;
    }
};

TEST_F(Values, IntegersAndParserModes)
{
    EXPECT_TRUE(Set("iMaxCloneCount", "-2147483648"));
    EXPECT_EQ(INT32_MIN, iMaxCloneCount);
    EXPECT_EQ("-2147483648", Get("iMaxCloneCount"));
    EXPECT_TRUE(Set("CHNICK", "7"));
    EXPECT_EQ(7, iFlagParserMode[3]);
    EXPECT_EQ(1, iFlagParserMode[2]);
    EXPECT_EQ(1, iFlagParserMode[4]);
    EXPECT_TRUE(Set("CHNICK", "off"));
    EXPECT_TRUE(Set("iFlagColor", "ON"));
    EXPECT_EQ(0, iFlagParserMode[3]);
    EXPECT_EQ(1, iFlagColor);
    for (char const *ps : {"2147483648", "ten", "1.0", "", "0x1"}) {
        EXPECT_FALSE(Set("iMaxCloneCount", ps)) << ps;
        EXPECT_EQ(INT32_MIN, iMaxCloneCount) << ps;
    }
}

TEST_F(Values, TimeValuesFollowTheWidthAndTheBuild)
{
    EXPECT_TRUE(Set("tCTCPFloodTimer", "2147483647", 4));
    EXPECT_EQ((time_t)2147483647, tCTCPFloodTimer);
    EXPECT_FALSE(Set("tCTCPFloodTimer", "2147483648", 4));
    EXPECT_FALSE(Set("tCTCPFloodTimer", "-2147483649", 4));
    EXPECT_EQ((time_t)2147483647, tCTCPFloodTimer);
    /* 64-bit time fields take 33 bits only where time_t has them. */
    bool bWide = Set("tCTCPFloodTimer", "-4294967296", 8);
    EXPECT_EQ(sizeof(time_t) == 8, bWide);
    if (bWide) {
        EXPECT_EQ("-4294967296", Get("tCTCPFloodTimer"));
    }
    EXPECT_FALSE(Set("tCTCPFloodTimer", "1s", 8));
}

TEST_F(Values, TextsAbsentQuotedLiteralAndEmpty)
{
    EXPECT_TRUE(Set("psAwayPostfix", "plain text \"as typed\""));
    EXPECT_STREQ("plain text \"as typed\"", psAwayPostfix);
    EXPECT_TRUE(Set("psAwayPostfix", "\"a\\tb\""));
    EXPECT_STREQ("a\tb", psAwayPostfix);
    EXPECT_EQ("\"a\\tb\"", Get("psAwayPostfix"));
    EXPECT_FALSE(Set("psAwayPostfix", "\"broken"));
    EXPECT_STREQ("a\tb", psAwayPostfix);
    EXPECT_TRUE(Set("psAwayPostfix", "absent"));
    EXPECT_EQ(nullptr, psAwayPostfix);
    EXPECT_EQ("absent", Get("psAwayPostfix"));
    EXPECT_TRUE(Set("psAwayPostfix", "\"absent\""));
    EXPECT_STREQ("absent", psAwayPostfix);
    /* An empty single text is stored as absent; an empty text [1] of a
     * pair is a value of its own. */
    EXPECT_TRUE(Set("psPrefixOutput", ""));
    EXPECT_EQ(nullptr, psPrefixOutput);
    EXPECT_TRUE(Set("psFlagChanJoinBeep[1]", "\"\""));
    ASSERT_NE(nullptr, psFlagChanJoinBeep[1]);
    EXPECT_STREQ("", psFlagChanJoinBeep[1]);
}

TEST_F(Values, PairsAreStorableOnlyWhole)
{
    int iJoin = -1;
    for (int i = 0; i < MORV_FIELD_COUNT; i++)
        if (aMorvFields[i].pSetting == (void *)psFlagChanJoinBeep)
            iJoin = i;
    ASSERT_GE(iJoin, 0);
    char acWhy[300];
    struct Case {
        char const *ps0, *ps1;
        bool bStorable;
    } aCases[] = {
        {nullptr, nullptr, true}, {"#a", "b", true},     {"#a", "", true},
        {"#a", nullptr, false},   {nullptr, "b", false}, {"", "b", false},
        {"", "", false},          {"", nullptr, false},
    };
    for (Case const &c : aCases) {
        free(psFlagChanJoinBeep[0]);
        free(psFlagChanJoinBeep[1]);
        psFlagChanJoinBeep[0] = c.ps0 != nullptr ? strdup(c.ps0) : nullptr;
        psFlagChanJoinBeep[1] = c.ps1 != nullptr ? strdup(c.ps1) : nullptr;
        acWhy[0] = '\0';
        EXPECT_EQ(c.bStorable, PairIsStorable(iJoin, acWhy, sizeof acWhy) != 0)
            << (c.ps0 ? c.ps0 : "null") << " / " << (c.ps1 ? c.ps1 : "null");
        EXPECT_EQ(c.bStorable, acWhy[0] == '\0');
    }
}

}  // namespace
