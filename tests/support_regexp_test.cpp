/* Regular-expression match with its error texts, and the escaper.
 *
 * This program is linked with --wrap=regcomp and --wrap=free: the wrappers
 * below pass every call on, but let a test force a compile error code that
 * glibc never raises for a pattern, and see which blocks were freed. */
#include "support/function.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <regex.h>
#include <stdlib.h>
#include <string.h>

#include <string>

extern "C" {
int __real_regcomp(regex_t *pRegex, char const *psPattern, int iFlags);
void __real_free(void *p);

/* 0: regcomp runs for real; otherwise the code it returns. */
static int g_iForcedRegcompCode = 0;

int __wrap_regcomp(regex_t *pRegex, char const *psPattern, int iFlags)
{
    if (g_iForcedRegcompCode != 0)
        return g_iForcedRegcompCode;
    return __real_regcomp(pRegex, psPattern, iFlags);
}

/* The most recent blocks freed through free(). */
#define FREED_RING 256
static void *g_apFreed[FREED_RING];
static unsigned g_uFreed = 0;

void __wrap_free(void *p)
{
    if (p != NULL)
        g_apFreed[g_uFreed++ % FREED_RING] = p;
    __real_free(p);
}
}

namespace {

void ForgetFreed()
{
    g_uFreed = 0;
    memset(g_apFreed, 0, sizeof g_apFreed);
}

bool WasFreed(void const *p)
{
    unsigned uCount = g_uFreed < FREED_RING ? g_uFreed : FREED_RING;
    for (unsigned i = 0; i < uCount; i++)
        if (g_apFreed[i] == p)
            return true;
    return false;
}

/* Runs velregexp and returns its result; *pOut receives what it printed. */
int Match(char const *psPattern, char const *psText, std::string *pOut)
{
    testing::internal::CaptureStdout();
    int iResult = velregexp(psPattern, psText);
    *pOut = testing::internal::GetCapturedStdout();
    return iResult;
}

/* Leaves a known error text in ps_velregexp_error. */
void MakeAnError()
{
    std::string out;
    ASSERT_EQ(0, Match("a(b", "ab", &out));
    ASSERT_NE(nullptr, ps_velregexp_error);
}

TEST(VelRegexp, MatchesWithTheExtendedSyntaxAndRecordsTheSpan)
{
    std::string out;
    EXPECT_EQ(1, Match("^ab+c$", "abbc", &out));
    EXPECT_EQ(0, pmatch.rm_so);
    EXPECT_EQ(4, pmatch.rm_eo);
    EXPECT_EQ("", out);

    EXPECT_EQ(1, Match("b+", "abbc", &out));
    EXPECT_EQ(1, pmatch.rm_so);
    EXPECT_EQ(3, pmatch.rm_eo);

    /* Alternation and intervals are operators without backslashes. */
    EXPECT_EQ(1, Match("x|b", "abc", &out));
    EXPECT_EQ(1, pmatch.rm_so);
    EXPECT_EQ(1, Match("(ab){2}", "xababy", &out));
    EXPECT_EQ(1, pmatch.rm_so);
    EXPECT_EQ(5, pmatch.rm_eo);
    EXPECT_EQ(0, Match("a\\|b", "b", &out));

    /* Case-sensitive. */
    EXPECT_EQ(0, Match("abc", "ABC", &out));
    /* Line feeds are ordinary characters: "." crosses them and "^" only
     * anchors at the start of the text. */
    EXPECT_EQ(1, Match("a.b", "a\nb", &out));
    EXPECT_EQ(0, Match("^b", "a\nb", &out));
    EXPECT_EQ(0, Match("a$", "a\nb", &out));
    EXPECT_EQ("", out);
}

TEST(VelRegexp, NoMatchKeepsTheLastSpan)
{
    std::string out;
    ASSERT_EQ(1, Match("c+", "abccd", &out));
    EXPECT_EQ(0, Match("^ab+c$", "ac", &out));
    EXPECT_EQ(2, pmatch.rm_so);
    EXPECT_EQ(4, pmatch.rm_eo);
    EXPECT_EQ("", out);
}

TEST(VelRegexp, NullOrEmptyArgumentsChangeNothing)
{
    std::string out;
    ASSERT_EQ(1, Match("c+", "abccd", &out));
    MakeAnError();
    char *psError = ps_velregexp_error;
    ForgetFreed();
    EXPECT_EQ(0, Match(nullptr, "abc", &out));
    EXPECT_EQ(0, Match("", "abc", &out));
    EXPECT_EQ(0, Match("b", nullptr, &out));
    /* An empty text is refused even by a pattern that would match it. */
    EXPECT_EQ(0, Match("a*", "", &out));
    EXPECT_EQ("", out);
    EXPECT_EQ(psError, ps_velregexp_error);
    EXPECT_FALSE(WasFreed(psError));
    EXPECT_STREQ("Un-matched parenthesis group operators.", ps_velregexp_error);
    EXPECT_EQ(2, pmatch.rm_so);
    EXPECT_EQ(4, pmatch.rm_eo);
}

struct ErrorCase {
    char const *psPattern;
    char const *psText;
};

TEST(VelRegexp, CompileErrorsPrintAndKeepTheirText)
{
    /* Patterns that make glibc's regcomp fail with each code it can raise
     * under the extended syntax, and the texts that go with them. */
    ErrorCase const aCases[] = {
        {"a(b", "Un-matched parenthesis group operators."},
        {"[a", "Un-matched bracket list operators."},
        {"a{1", "Un-matched brace interval operators."},
        {"a\\", "Trailing backslash."},
        {"[[:vowel:]]", "Unknown character class name."},
        {"[z-a]", "Invalid use of the range operator, eg. the ending point of the range occurs prior "
                  "to the starting  point."},
        {"a{2,1}", "Invalid use of back reference operator."},
        {"*a", "Invalid use of repetition operators such as using `*' as the first character."},
        {"(a)\\2", "Invalid back reference to a subexpression."},
        {"[[.foo.]]", "Invalid collating element."},
        {"a{32768}", "Compiled  regular expression requires a pattern buffer larger than 64Kb.  "
                     "This is not defined by POSIX.2."},
    };
    for (ErrorCase const &c : aCases) {
        SCOPED_TRACE(c.psPattern);
        std::string out;
        EXPECT_EQ(0, Match(c.psPattern, "aaa", &out));
        EXPECT_EQ(std::string("OOPS, Invalid regexp (") + c.psText + ")\n", out);
        ASSERT_NE(nullptr, ps_velregexp_error);
        EXPECT_STREQ(c.psText, ps_velregexp_error);
    }
}

TEST(VelRegexp, EveryOtherErrorCodeHasItsText)
{
    /* Codes that no pattern raises here: regcomp is made to return them. */
    struct {
        int iCode;
        char const *psText;
    } const aCases[] = {
        {REG_BADPAT, "Invalid use of pattern operators such as group or list."},
        {REG_ESPACE, "The regex routines ran out of memory."},
        {REG_EEND, "Non specific error.  This is not defined by POSIX.2."},
        {REG_ERPAREN, "velregexp: Internal Error !"},
        {REG_NOMATCH, "velregexp: Internal Error !"},
        {99, "velregexp: Internal Error !"},
        {-1, "velregexp: Internal Error !"},
    };
    for (auto const &c : aCases) {
        SCOPED_TRACE(c.iCode);
        std::string out;
        g_iForcedRegcompCode = c.iCode;
        int iResult = Match("abc", "abc", &out);
        g_iForcedRegcompCode = 0;
        EXPECT_EQ(0, iResult);
        EXPECT_EQ(std::string("OOPS, Invalid regexp (") + c.psText + ")\n", out);
        ASSERT_NE(nullptr, ps_velregexp_error);
        EXPECT_STREQ(c.psText, ps_velregexp_error);
    }
}

TEST(VelRegexp, EachCompileReplacesTheErrorText)
{
    std::string out;
    MakeAnError();
    char *psFirst = ps_velregexp_error;
    ForgetFreed();
    EXPECT_EQ(0, Match("[a", "a", &out));
    EXPECT_TRUE(WasFreed(psFirst)) << "the previous error text must be released";
    EXPECT_STREQ("Un-matched bracket list operators.", ps_velregexp_error);

    /* A pattern that compiles clears the error, whether it matches or not. */
    char *psSecond = ps_velregexp_error;
    ForgetFreed();
    EXPECT_EQ(0, Match("x", "abc", &out));
    EXPECT_EQ(nullptr, ps_velregexp_error);
    EXPECT_TRUE(WasFreed(psSecond));
    EXPECT_EQ("", out);

    MakeAnError();
    EXPECT_EQ(1, Match("b", "abc", &out));
    EXPECT_EQ(nullptr, ps_velregexp_error);
}

/* The escaper's result as a string; "<null>" for null. */
std::string Escape(char const *psText)
{
    char const *ps = velescaperegexp(psText);
    return ps == nullptr ? "<null>" : ps;
}

TEST(VelEscapeRegexp, PutsABackslashBeforeEachSpecialCharacter)
{
    EXPECT_EQ("1\\.5\\*2", Escape("1.5*2"));
    EXPECT_EQ("\\.\\?\\*\\[\\]\\(\\)\\{\\}\\^\\$\\|", Escape(".?*[](){}^$|"));
    EXPECT_EQ("\\$x\\$", Escape("$x$"));
    EXPECT_EQ("plain text", Escape("plain text"));
}

TEST(VelEscapeRegexp, EscapesTheBackslashFirstAndOnlyOnce)
{
    /* a \ . b  ->  a \ \ \ . b */
    EXPECT_EQ("a\\\\\\.b", Escape("a\\.b"));
    EXPECT_EQ("\\\\\\\\", Escape("\\\\"));
    EXPECT_EQ("\\\\\\(\\\\", Escape("\\(\\"));
}

TEST(VelEscapeRegexp, LeavesThePlusSignAlone)
{
    EXPECT_EQ("a+b", Escape("a+b"));
    EXPECT_EQ("1\\.0+", Escape("1.0+"));
    /* So the escaped text still treats it as an operator. */
    std::string out;
    std::string pattern = "^" + Escape("a+b") + "$";
    EXPECT_EQ(1, Match(pattern.c_str(), "aab", &out));
    EXPECT_EQ(0, Match(pattern.c_str(), "a+b", &out));
}

TEST(VelEscapeRegexp, EscapedTextMatchesLiterally)
{
    char const *psLiteral = "nick[away](1.5)*? {x} ^$|\\end";
    std::string pattern = "^" + Escape(psLiteral) + "$";
    std::string out;
    EXPECT_EQ(1, Match(pattern.c_str(), psLiteral, &out));
    EXPECT_EQ("", out);
    EXPECT_EQ(0, Match(pattern.c_str(), "nicka(1x5) {x} |\\end", &out));
}

TEST(VelEscapeRegexp, TheRoutineOwnsOneResultAtATime)
{
    char const *psFirst = velescaperegexp("a.b");
    ASSERT_NE(nullptr, psFirst);
    EXPECT_EQ(psFirst, pPreviousBuffer);
    ForgetFreed();
    char const *psSecond = velescaperegexp("c*d");
    ASSERT_NE(nullptr, psSecond);
    EXPECT_TRUE(WasFreed(psFirst)) << "the second call must free the first result";
    EXPECT_EQ(psSecond, pPreviousBuffer);
    EXPECT_STREQ("c\\*d", psSecond);

    /* A null or empty text gives null and still frees the last result. */
    ForgetFreed();
    EXPECT_EQ(nullptr, velescaperegexp(nullptr));
    EXPECT_TRUE(WasFreed(psSecond));
    EXPECT_EQ(nullptr, pPreviousBuffer);
    ASSERT_NE(nullptr, velescaperegexp("x"));
    char const *psThird = pPreviousBuffer;
    ForgetFreed();
    EXPECT_EQ(nullptr, velescaperegexp(""));
    EXPECT_TRUE(WasFreed(psThird));
    EXPECT_EQ(nullptr, pPreviousBuffer);
}

}  // namespace
