/* What the support routines do when an allocation fails.
 *
 * This program is linked with --wrap=malloc, --wrap=calloc and
 * --wrap=realloc: the routines' own allocations go through the wrappers
 * below, which pass them on unless a test has armed them to fail the n-th
 * allocation from now.  Allocations made inside the C library (fopen, regcomp,
 * system) are not affected. */
#include "support/function.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>

extern "C" {
void *__real_malloc(size_t uSize);
void *__real_calloc(size_t uCount, size_t uSize);
void *__real_realloc(void *p, size_t uSize);

/* -1: nothing fails; otherwise the index, counted from arming, of the one
 * allocation that fails. */
static long g_lFailAt = -1;
static long g_lSeen = 0;
static bool g_bFailed = false;

static bool FailThisOne(void)
{
    if (g_lFailAt < 0)
        return false;
    if (g_lSeen++ != g_lFailAt)
        return false;
    g_bFailed = true;
    return true;
}

void *__wrap_malloc(size_t uSize)
{
    return FailThisOne() ? NULL : __real_malloc(uSize);
}

void *__wrap_calloc(size_t uCount, size_t uSize)
{
    return FailThisOne() ? NULL : __real_calloc(uCount, uSize);
}

void *__wrap_realloc(void *p, size_t uSize)
{
    return FailThisOne() ? NULL : __real_realloc(p, uSize);
}
}

namespace {

void Arm(long lIndex)
{
    g_lSeen = 0;
    g_bFailed = false;
    g_lFailAt = lIndex;
}

void Disarm()
{
    g_lFailAt = -1;
}

TEST(NoMemory, StringUtilitiesReturnNull)
{
    std::string longText(300, 'x');
    struct {
        char const *psWhat;
        std::function<char *()> fn;
    } const aCases[] = {
        {"strchrpl", [] { return strchrpl("a.b", ".", '_'); }},
        {"strchrpl of null", [] { return strchrpl(nullptr, ".", '_'); }},
        {"ustrstr found", [] { return ustrstr("hello world", "o w"); }},
        {"ustrstr not found", [] { return ustrstr("hello", "x"); }},
        {"ustrstr empty needle", [] { return ustrstr("hello", ""); }},
        {"ustrtolower", [] { return ustrtolower("ABC"); }},
        {"ustrtolower of empty", [] { return ustrtolower(""); }},
        {"ustrtoupper", [] { return ustrtoupper("abc"); }},
        {"ustrcpy", [&longText] { return ustrcpy(longText.c_str()); }},
        {"ustrcpy of null", [] { return ustrcpy(nullptr); }},
        {"uinttostr", [] { return uinttostr(-5); }},
        {"udoubletostr", [] { return udoubletostr(1.5); }},
    };
    for (auto const &c : aCases) {
        SCOPED_TRACE(c.psWhat);
        Arm(0);
        char *ps = c.fn();
        Disarm();
        EXPECT_TRUE(g_bFailed) << "the routine did not allocate";
        EXPECT_EQ(nullptr, ps);
        free(ps);
    }
}

TEST(NoMemory, TheEscaperReturnsNullWhereverItsAllocationsFail)
{
    /* Five thousand dots grow the replacement's position table. */
    std::string text = std::string(5000, '.') + "a\\b*c";
    std::string expected;
    for (int i = 0; i < 5000; i++)
        expected += "\\.";
    expected += "a\\\\b\\*c";

    /* A failed allocation gives null, or, when it did not matter (the table
     * of positions of a character that is not in the text), the exact
     * result: never a text escaped only in part. */
    int iNulls = 0;
    long lIndex = 0;
    for (;; lIndex++) {
        ASSERT_NE(nullptr, velescaperegexp("held")) << "a previous result to free";
        Arm(lIndex);
        char const *ps = velescaperegexp(text.c_str());
        Disarm();
        if (!g_bFailed) {
            ASSERT_NE(nullptr, ps);
            EXPECT_EQ(expected, ps);
            break;
        }
        SCOPED_TRACE(lIndex);
        EXPECT_EQ(ps, pPreviousBuffer);
        if (ps == nullptr) {
            iNulls++;
        } else {
            EXPECT_EQ(expected, ps);
        }
        if (lIndex == 0) {
            EXPECT_EQ(nullptr, ps) << "without its copy there is nothing to return";
        }
        ASSERT_LT(lIndex, 100) << "the routine never stops allocating";
    }
    /* The copy, then for the backslash and the star a table and a new text,
     * for the dots a table, its growth and a new text. */
    EXPECT_GE(iNulls, 8);
}

TEST(NoMemory, AnErrorTextThatCannotBeCopiedIsNotPrinted)
{
    testing::internal::CaptureStdout();
    Arm(0);
    int iResult = velregexp("a(b", "ab");
    Disarm();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(g_bFailed);
    EXPECT_EQ(0, iResult);
    EXPECT_EQ("", out);
    EXPECT_EQ(nullptr, ps_velregexp_error);

    /* A pattern that compiles needs no allocation of the routine's own. */
    Arm(0);
    iResult = velregexp("b", "abc");
    Disarm();
    EXPECT_FALSE(g_bFailed);
    EXPECT_EQ(1, iResult);
}

TEST(NoMemory, TheTimedCommandRunsNothingAndRestartsTheInterval)
{
    ScratchDir dir;
    std::string command = "touch " + (dir / "ran");
    /* This is the only call of the gate in this program: the last call let
     * through is at time 0, so a ten-second interval has passed. */
    Arm(0);
    int iResult = velSoundCommandTimed(command.c_str(), 10, "x");
    Disarm();
    EXPECT_TRUE(g_bFailed);
    EXPECT_EQ(-3, iResult);
    EXPECT_FALSE(FileExists(dir / "ran"));
    /* Restarted: even an interval of 0 has not passed now. */
    EXPECT_EQ(0, velSoundCommandTimed(command.c_str(), 0, "x"));
    EXPECT_EQ(0, velSoundCommandTimed(command.c_str(), -1, (dir / "also").c_str()));
    EXPECT_TRUE(FileExists(dir / "ran"));
}

TEST(NoMemory, TheAppenderFailsQuietlyWithoutACopyOfTheName)
{
    ScratchDir dir;
    std::string path = dir / "out.txt";
    char acOne[] = "one", acTwo[] = "two";
    WriteFile(nullptr, nullptr);

    testing::internal::CaptureStdout();
    Arm(0);
    int iResult = WriteFile(path.c_str(), acOne);
    Disarm();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(g_bFailed);
    EXPECT_EQ(0, iResult);
    EXPECT_EQ("", out);
    EXPECT_EQ("", ReadFileText(path));

    /* No name is remembered, so the next call opens the file again. */
    testing::internal::CaptureStdout();
    iResult = WriteFile(path.c_str(), acTwo);
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(1, iResult);
    EXPECT_EQ("  * Opening: " + path, out.substr(0, path.size() + 13));
    EXPECT_EQ("two", ReadFileText(path));
    testing::internal::CaptureStdout();
    EXPECT_EQ(1, WriteFile(nullptr, nullptr));
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ("  * Closing: " + path, out.substr(0, path.size() + 13));
}

}  // namespace
