/* String utilities: character replacement, tail search, case mapping, copy
 * and number-to-text.  Every result is a new block that the test frees, so a
 * run under valgrind also checks sizes and ownership. */
#include "support/function.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <string>

namespace {

/* Takes ownership of a routine's result: returns it as a string and frees
 * it.  A null result fails the test. */
std::string Take(char *ps)
{
    EXPECT_NE(nullptr, ps) << "a null result means an allocation failed";
    if (ps == nullptr)
        return "<null>";
    std::string s(ps);
    free(ps);
    return s;
}

TEST(StrChrPl, ReplacesEveryByteOfTheSet)
{
    EXPECT_EQ("a_b_c", Take(strchrpl("a.b.c", ".", '_')));
    EXPECT_EQ("a_b_c_d", Take(strchrpl("a.b-c/d", "/.-", '_')));
    EXPECT_EQ("xxxy", Take(strchrpl("abay", "ab", 'x')));
    /* Bytes above 0x7f are characters like any other. */
    EXPECT_EQ("caf_", Take(strchrpl("caf\xe9", "\xe9", '_')));
    EXPECT_EQ("A\xe9" "B", Take(strchrpl("A.B", ".", '\xe9')));
    /* Comparison is case-sensitive. */
    EXPECT_EQ("aA_", Take(strchrpl("aAb", "b", '_')));
}

TEST(StrChrPl, CopiesWhenNothingIsReplaced)
{
    char const *psText = "a.b.c";
    char *ps = strchrpl(psText, "", '_');
    ASSERT_NE(nullptr, ps);
    EXPECT_NE(psText, ps) << "the result must be a new block";
    EXPECT_STREQ("a.b.c", ps);
    free(ps);
    EXPECT_EQ("a.b.c", Take(strchrpl("a.b.c", "xyz", '_')));
    EXPECT_EQ("a.b.c", Take(strchrpl("a.b.c", nullptr, '_')));
}

TEST(StrChrPl, NullOrEmptyTextGivesANewEmptyText)
{
    EXPECT_EQ("", Take(strchrpl(nullptr, ".", '_')));
    EXPECT_EQ("", Take(strchrpl("", ".", '_')));
}

TEST(StrChrPl, ReplacementByNulCutsTheText)
{
    EXPECT_EQ("a", Take(strchrpl("a.b.c", ".", '\0')));
    EXPECT_EQ("", Take(strchrpl(".abc", ".", '\0')));
    /* The cut does not stop later characters of the set from being
     * replaced in the rest of the block. */
    char *ps = strchrpl("a.b.c", ".b", '\0');
    ASSERT_NE(nullptr, ps);
    EXPECT_EQ(0, memcmp(ps, "a\0\0\0c\0", 6));
    free(ps);
}

TEST(UstrStr, ReturnsTheTailFromTheFirstOccurrence)
{
    EXPECT_EQ("o world", Take(ustrstr("hello world", "o w")));
    EXPECT_EQ("bcabc", Take(ustrstr("abcabc", "bc")));
    EXPECT_EQ("abc", Take(ustrstr("abc", "abc")));
    EXPECT_EQ("c", Take(ustrstr("abc", "c")));
    EXPECT_EQ("aab", Take(ustrstr("aaab", "aab")));
    char const *psText = "xyz";
    char *ps = ustrstr(psText, "x");
    ASSERT_NE(nullptr, ps);
    EXPECT_NE(psText, ps) << "the result must be a new block";
    EXPECT_STREQ("xyz", ps);
    free(ps);
}

TEST(UstrStr, NoMatchGivesAnEmptyText)
{
    EXPECT_EQ("", Take(ustrstr("hello world", "")));
    EXPECT_EQ("", Take(ustrstr("abc", "abcd")));
    EXPECT_EQ("", Take(ustrstr("abc", "x")));
    EXPECT_EQ("", Take(ustrstr("abca", "ab ")));
    EXPECT_EQ("", Take(ustrstr("xxa", "ab")));
    EXPECT_EQ("", Take(ustrstr("Hello", "hello")));
    EXPECT_EQ("", Take(ustrstr("", "")));
    EXPECT_EQ("", Take(ustrstr(nullptr, "a")));
    EXPECT_EQ("", Take(ustrstr("a", nullptr)));
}

TEST(UstrCase, MapsEveryByteInTheCLocale)
{
    EXPECT_EQ("mixed 123 _z", Take(ustrtolower("MiXeD 123 _Z")));
    EXPECT_EQ("MIXED 123 _Z", Take(ustrtoupper("MiXeD 123 _z")));
    /* The program runs in the C locale: bytes above 0x7f stay as they are. */
    EXPECT_EQ("\xc0\xe0" "a", Take(ustrtolower("\xc0\xe0" "A")));
    EXPECT_EQ("\xc0\xe0" "A", Take(ustrtoupper("\xc0\xe0" "a")));
    EXPECT_EQ("", Take(ustrtolower(nullptr)));
    EXPECT_EQ("", Take(ustrtolower("")));
    EXPECT_EQ("", Take(ustrtoupper(nullptr)));
    EXPECT_EQ("", Take(ustrtoupper("")));
}

TEST(UstrCpy, CopiesIntoANewBlock)
{
    char const *psText = "morv rc";
    char *ps = ustrcpy(psText);
    ASSERT_NE(nullptr, ps);
    EXPECT_NE(psText, ps);
    EXPECT_STREQ("morv rc", ps);
    free(ps);
    EXPECT_EQ("", Take(ustrcpy("")));
    EXPECT_EQ("", Take(ustrcpy(nullptr)));
    std::string big(5000, 'q');
    EXPECT_EQ(big, Take(ustrcpy(big.c_str())));
}

TEST(NumberToText, WritesSignedDecimals)
{
    EXPECT_EQ("-5", Take(uinttostr(-5)));
    EXPECT_EQ("0", Take(uinttostr(0)));
    EXPECT_EQ("2147483647", Take(uinttostr(INT_MAX)));
    EXPECT_EQ("-2147483648", Take(uinttostr(INT_MIN)));
}

TEST(NumberToText, WritesDoublesWithSixDecimals)
{
    EXPECT_EQ("1.500000", Take(udoubletostr(1.5)));
    EXPECT_EQ("-0.250000", Take(udoubletostr(-0.25)));
    EXPECT_EQ("0.666667", Take(udoubletostr(2.0 / 3.0)));
    EXPECT_EQ("0.000000", Take(udoubletostr(1e-7)));
    EXPECT_EQ("100000000000000000000.000000", Take(udoubletostr(1e20)));
}

TEST(NumberToText, CutsALongDoubleAt127Characters)
{
    /* 1e300 has 301 digits before the point. */
    std::string s = Take(udoubletostr(1e300));
    ASSERT_EQ(127u, s.size());
    EXPECT_EQ('1', s[0]);
    EXPECT_EQ(std::string::npos, s.find_first_not_of("0123456789"));
    std::string t = Take(udoubletostr(-1e300));
    ASSERT_EQ(127u, t.size());
    EXPECT_EQ("-1", t.substr(0, 2));
}

}  // namespace
