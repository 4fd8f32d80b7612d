/* The counting sleep and the rate-limited sound command.
 *
 * Both keep their state in function statics for the whole process, so every
 * test first brings the state it needs about: velsleep(0, 0) restarts the
 * count, and a sound command with a negative interval is always let through
 * (the current time plus a second is later than any time already seen),
 * which sets the time of the last call let through to now.  The gate is then
 * driven through the interval argument; the only real waiting is for the
 * clock to reach a given second.  Cases that must start from one recorded
 * state run in forked children, which all inherit that state. */
#include "support/function.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

double MonotonicSeconds()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

void Nap(long lMilliseconds)
{
    struct timespec ts = {0, lMilliseconds * 1000000L};
    nanosleep(&ts, nullptr);
}

/* Waits until time() reaches tWhen; returns time(). */
time_t WaitForSecond(time_t tWhen)
{
    while (time(nullptr) < tWhen)
        Nap(10);
    return time(nullptr);
}

/* ---- velsleep ----------------------------------------------------------- */

void RestartCount()
{
    ASSERT_EQ(0, velsleep(0, 0));
}

TEST(VelSleep, CountsTheCallsToPassThenSleepsAndStartsAgain)
{
    RestartCount();
    std::vector<int> results;
    for (int i = 0; i < 9; i++)
        results.push_back(velsleep(0, 3));
    EXPECT_EQ((std::vector<int>{1, 2, 3, 0, 1, 2, 3, 0, 1}), results);
}

TEST(VelSleep, ZeroOrNegativeCallsToPassSleepEveryTime)
{
    RestartCount();
    EXPECT_EQ(0, velsleep(0, 0));
    EXPECT_EQ(0, velsleep(0, 0));
    EXPECT_EQ(0, velsleep(0, -4));
    EXPECT_EQ(0, velsleep(0, -32768));
}

TEST(VelSleep, EachCallComparesTheSharedCountWithItsOwnLimit)
{
    RestartCount();
    EXPECT_EQ(1, velsleep(0, 3));
    EXPECT_EQ(2, velsleep(0, 3));
    EXPECT_EQ(3, velsleep(0, 5)); /* 2 < 5: counts on */
    EXPECT_EQ(0, velsleep(0, 3)); /* 3 is not below 3: sleeps */
    EXPECT_EQ(1, velsleep(0, 3));
    EXPECT_EQ(0, velsleep(0, 1)); /* 1 is not below 1 */
    EXPECT_EQ(1, velsleep(0, 32767));
}

TEST(VelSleep, OnlyTheCallAfterTheCountSleeps)
{
    RestartCount();
    double dStart = MonotonicSeconds();
    EXPECT_EQ(1, velsleep(1, 2));
    EXPECT_EQ(2, velsleep(1, 2));
    double dCounted = MonotonicSeconds();
    EXPECT_LT(dCounted - dStart, 0.5) << "counted calls must not sleep";
    EXPECT_EQ(0, velsleep(1, 2));
    double dSlept = MonotonicSeconds();
    EXPECT_GE(dSlept - dCounted, 0.95) << "the third call must sleep one second";
    EXPECT_EQ(1, velsleep(1, 2));
    EXPECT_LT(MonotonicSeconds() - dSlept, 0.5);
}

void IgnoreAlarm(int)
{
}

TEST(VelSleep, ASignalEndsTheSleepWithTheSecondsLeft)
{
    RestartCount();
    struct sigaction saAlarm, saOld;
    memset(&saAlarm, 0, sizeof saAlarm);
    saAlarm.sa_handler = IgnoreAlarm;
    sigemptyset(&saAlarm.sa_mask);
    ASSERT_EQ(0, sigaction(SIGALRM, &saAlarm, &saOld));
    struct itimerval itv;
    memset(&itv, 0, sizeof itv);
    itv.it_value.tv_usec = 200000;
    ASSERT_EQ(0, setitimer(ITIMER_REAL, &itv, nullptr));

    double dStart = MonotonicSeconds();
    int iLeft = velsleep(3, 0);
    double dElapsed = MonotonicSeconds() - dStart;
    sigaction(SIGALRM, &saOld, nullptr);

    EXPECT_LT(dElapsed, 2.0);
    EXPECT_GE(iLeft, 1) << "an interrupted sleep reports the seconds left";
    EXPECT_LE(iLeft, 3);
}

TEST(VelSleep, NegativeSecondsDoNotSleep)
{
    RestartCount();
    double dStart = MonotonicSeconds();
    EXPECT_EQ(0, velsleep(-1, 0));
    EXPECT_EQ(0, velsleep(-32768, 0));
    EXPECT_LT(MonotonicSeconds() - dStart, 0.5);
}

/* ---- velSoundCommandTimed ------------------------------------------------ */

/* Set once a test of this program has called velSoundCommandTimed. */
bool g_bGateUsed = false;

int Timed(char const *psCommand, long lInterval, char const *psArgument)
{
    g_bGateUsed = true;
    return velSoundCommandTimed(psCommand, lInterval, psArgument);
}

/* A sound command that appends its first argument to "ran.log" and exits
 * with its second argument (0 by default). */
class SoundCommand : public testing::Test {
  protected:
    void SetUp() override
    {
        WriteFileText(dir_ / "log.sh",
                      "printf '%s\\n' \"$1\" >> '" + (dir_ / "ran.log") + "'\nexit \"${2:-0}\"\n");
        command_ = "/bin/sh " + (dir_ / "log.sh");
    }
    char const *Command() const { return command_.c_str(); }
    std::string Ran() const { return ReadFileText(dir_ / "ran.log"); }

    /* Runs fn in a forked child, which inherits the current state; fn
     * prints the results it got, blank-separated. */
    std::vector<long> InChild(std::function<void()> const &fn)
    {
        std::string out;
        EXPECT_EQ(0, RunInChild(fn, &out));
        std::vector<long> results;
        std::istringstream in(out);
        long l;
        while (in >> l)
            results.push_back(l);
        return results;
    }

    ScratchDir dir_;
    std::string command_;
};

long ExitedWith(int iStatus)
{
    EXPECT_TRUE(WIFEXITED(iStatus)) << "status " << iStatus;
    return WEXITSTATUS(iStatus);
}

TEST_F(SoundCommand, AFreshProcessLetsTheFirstCallThrough)
{
    if (g_bGateUsed)
        GTEST_SKIP() << "another test has used the gate in this process already";
    /* The last call let through is at time 0, so even a ten-second interval
     * has passed. */
    std::vector<long> r = InChild([this] {
        printf("%d ", velSoundCommandTimed(Command(), 10, "first 5"));
        printf("%d\n", velSoundCommandTimed(Command(), 10, "second"));
    });
    ASSERT_EQ(2u, r.size());
    EXPECT_EQ(5, ExitedWith((int)r[0]));
    EXPECT_EQ(-1, r[1]);
    EXPECT_EQ("first\n", Ran());
}

TEST_F(SoundCommand, TheGateOpensOneSecondAfterTheInterval)
{
    /* Start at the beginning of a second, so the checks of that second are
     * done before the clock moves on. */
    time_t tStart = WaitForSecond(time(nullptr) + 1);
    EXPECT_EQ(3, ExitedWith(Timed(Command(), -1, "opened 3")));

    /* Same second. */
    EXPECT_EQ(-1, Timed(Command(), 10, "soon"));
    EXPECT_EQ(-1, Timed(Command(), 1, "soon"));
    /* Refused arguments within the interval: 0, and nothing restarts. */
    EXPECT_EQ(0, Timed(Command(), 0, "soon"));
    EXPECT_EQ(0, Timed(nullptr, 5, "soon"));
    EXPECT_EQ(0, Timed("", 5, "soon"));
    EXPECT_EQ(0, Timed(Command(), 5, nullptr));
    EXPECT_EQ(0, Timed(Command(), 5, ""));
    ASSERT_EQ(tStart, time(nullptr)) << "the clock moved on during the checks";
    EXPECT_EQ("opened\n", Ran());

    /* Two seconds after the call let through: every child below starts
     * from that same state. */
    ASSERT_EQ(tStart + 2, WaitForSecond(tStart + 2));
    std::vector<long> r = InChild([this] {
        printf("%d ", velSoundCommandTimed(Command(), 2, "exact"));
        printf("%d ", velSoundCommandTimed(Command(), 1, "later 4"));
        printf("%d\n", velSoundCommandTimed(Command(), 1, "again"));
    });
    ASSERT_EQ(3u, r.size());
    EXPECT_EQ(-1, r[0]) << "a call exactly the interval after is refused";
    EXPECT_EQ(4, ExitedWith((int)r[1])) << "one second later it is let through";
    EXPECT_EQ(-1, r[2]) << "and the interval starts again";

    /* Refused arguments after the interval: -2, and the interval restarts,
     * so a call that would have been let through is now too soon. */
    r = InChild([this] {
        printf("%d ", velSoundCommandTimed(nullptr, 1, "null"));
        printf("%d\n", velSoundCommandTimed(Command(), 1, "blocked"));
    });
    EXPECT_EQ((std::vector<long>{-2, -1}), r);
    r = InChild([this] {
        printf("%d ", velSoundCommandTimed(Command(), 0, "zero"));
        printf("%d\n", velSoundCommandTimed(Command(), 1, "blocked"));
    });
    EXPECT_EQ((std::vector<long>{-2, -1}), r);

    /* A command line too long for the buffer: -3, and the interval has
     * restarted too. */
    std::string longArg(1100, 'x');
    r = InChild([this, &longArg] {
        printf("%d ", velSoundCommandTimed(Command(), 1, longArg.c_str()));
        printf("%d\n", velSoundCommandTimed(Command(), 1, "blocked"));
    });
    EXPECT_EQ((std::vector<long>{-3, -1}), r);
    ASSERT_EQ(tStart + 2, time(nullptr)) << "the clock moved on during the checks";

    EXPECT_EQ("opened\nlater\n", Ran());
}

TEST_F(SoundCommand, ANegativeIntervalNeverHoldsACallBack)
{
    EXPECT_EQ(0, ExitedWith(Timed(Command(), -1, "one")));
    EXPECT_EQ(0, ExitedWith(Timed(Command(), -1, "two")));
    EXPECT_EQ(-2, Timed(nullptr, -1, "three"));
    EXPECT_EQ(0, ExitedWith(Timed(Command(), -1000000, "four")));
    EXPECT_EQ("one\ntwo\nfour\n", Ran());
}

TEST_F(SoundCommand, AHugeIntervalHoldsEveryCallBack)
{
    EXPECT_EQ(0, ExitedWith(Timed(Command(), -1, "one")));
    EXPECT_EQ(-1, Timed(Command(), 1000000000L, "two"));
    EXPECT_EQ(-1, Timed(Command(), LONG_MAX, "three"));
    EXPECT_EQ(0, Timed(nullptr, LONG_MAX, "four"));
    /* And the most negative interval lets everything through. */
    EXPECT_EQ(0, ExitedWith(Timed(Command(), LONG_MIN, "five")));
    EXPECT_EQ("one\nfive\n", Ran());
}

TEST_F(SoundCommand, RunsOnlyACommandLineThatFitsWhole)
{
    /* command, one blank and argument: exactly 1024 characters run... */
    size_t uArgLen = 1024 - command_.size() - 1;
    std::string arg(uArgLen, 'a');
    EXPECT_EQ(0, ExitedWith(Timed(Command(), -1, arg.c_str())));
    EXPECT_EQ(arg + "\n", Ran());

    /* ...one more does not run at all, rather than run cut. */
    std::string argLonger(uArgLen + 1, 'b');
    EXPECT_EQ(-3, Timed(Command(), -1, argLonger.c_str()));
    std::string longCommand = command_ + std::string(1100, ' ');
    EXPECT_EQ(-3, Timed(longCommand.c_str(), -1, "c"));
    EXPECT_EQ(arg + "\n", Ran());
}

TEST_F(SoundCommand, ReturnsTheStatusOfTheCommandLine)
{
    EXPECT_EQ(7, ExitedWith(Timed(Command(), -1, "seven 7")));
    EXPECT_EQ(127, ExitedWith(Timed((dir_ / "no-such-command").c_str(), -1, "x 2>/dev/null")));
    EXPECT_EQ("seven\n", Ran());
}

}  // namespace
