/* The run log: its line format, its reopen rules, and its refusal to write
 * through links or into files that are not the user's own.  Every case runs
 * in a fresh child process, since the log keeps its state in statics. */
#include "editor/actions.h"
#include "editor/runlog.h"
#include "settings/store/morv.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class RunLog : public ::testing::Test {
  protected:
    void SetUp() override { path = dir / "morvane_setup.log"; }
    /* Runs fn with the log at `path`; returns its console output. */
    std::string Child(std::function<void()> const &fn, int *piStatus = nullptr)
    {
        std::string out;
        int iStatus = RunInChild(
            [&] {
                psLogFile = path.c_str();
                fn();
            },
            &out);
        if (piStatus != nullptr)
            *piStatus = iStatus;
        else
            EXPECT_EQ(0, iStatus);
        return out;
    }
    ScratchDir dir;
    std::string path;
};

TEST_F(RunLog, LinesCarryPidAndSecondsSinceTheFirstCall)
{
    std::string out = Child([] {
        int a = WriteLog("main()");
        int b = WriteLog("");
        int c = WriteLog(nullptr);
        printf("%d|%d%d%d", (int)getpid(), a, b, c);
    });
    std::string pid = out.substr(0, out.find('|'));
    EXPECT_EQ("111", out.substr(out.find('|') + 1));
    EXPECT_EQ(pid + "_00000 : main()\n"
                    "\nATTENZIONE:_La funzione \"WriteLog()\" e' stata invocata con parametri errati alla chiamata Nro: 2\n"
                    "\nATTENZIONE:_La funzione \"WriteLog()\" e' stata invocata con parametri errati alla chiamata Nro: 3\n",
              ReadFileText(path));
    struct stat st;
    ASSERT_EQ(0, stat(path.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
}

TEST_F(RunLog, EmptyPathComplainsAndCountsTheCall)
{
    std::string out = Child([] {
        psLogFile = "";
        int a = WriteLog("x");
        psLogFile = nullptr;
        int b = WriteLog("y");
        printf("|%d%d", a, b);
    });
    EXPECT_EQ("Nome del file log errato !Nome del file log errato !|11", out);
}

TEST_F(RunLog, PlantedLinksAndForeignFilesAreRefused)
{
    std::string victim = dir / "victim";
    WriteFileText(victim, "precious\n");
    ASSERT_EQ(0, symlink(victim.c_str(), path.c_str()));
    std::string out = Child([] { printf("|%d", WriteLog("line")); });
    EXPECT_EQ("\nImpossibile aprire il file " + path +
                  " in scrittura a causa dell'errore Too many levels of symbolic links .|0",
              out);
    EXPECT_EQ("precious\n", ReadFileText(victim));

    unlink(path.c_str());
    ASSERT_EQ(0, link(victim.c_str(), path.c_str()));   /* a second name for another file */
    out = Child([] { printf("|%d", WriteLog("line")); });
    EXPECT_NE(std::string::npos, out.find("errore Operation not permitted .|0")) << out;
    EXPECT_EQ("precious\n", ReadFileText(victim));

    unlink(path.c_str());
    ASSERT_EQ(0, mkfifo(path.c_str(), 0600));           /* must not block */
    out = Child([] { printf("|%d", WriteLog("line")); });
    EXPECT_NE(std::string::npos, out.find("|0")) << out;

    unlink(path.c_str());
    WriteFileText(path, "theirs\n");
    if (geteuid() == 0) {
        ASSERT_EQ(0, chown(path.c_str(), 65534, 65534));
        out = Child([] { printf("|%d", WriteLog("line")); });
        EXPECT_NE(std::string::npos, out.find("errore Operation not permitted .|0")) << out;
        EXPECT_EQ("theirs\n", ReadFileText(path));
    }
}

TEST_F(RunLog, FailedOpenIsRetriedOnlyWhenAReopenIsForced)
{
    path = dir / "later/morvane_setup.log";
    std::string later = dir / "later";
    std::string out = Child([&] {
        int a = WriteLog("one");
        mkdir(later.c_str(), 0700);
        int b = WriteLog("two");     /* same path, no debug flag: not retried */
        iFlagDebugMode = 1;
        int c = WriteLog("three");
        printf("|%d%d%d", a, b, c);
    });
    EXPECT_EQ("|001", out.substr(out.rfind('|')));
    EXPECT_NE(std::string::npos, out.find("errore No such file or directory ."));
    std::string log = ReadFileText(path);
    EXPECT_EQ(std::string::npos, log.find("two"));
    EXPECT_NE(std::string::npos, log.find(" : three\n"));
}

TEST_F(RunLog, DebugFlagsReopenAndCloseTheFile)
{
    Child([&] {
        WriteLog("kept open");
        unlink(path.c_str());
        WriteLog("into the removed file");
        iFlagDebugModeFnc = 1;
        WriteLog("reopened");          /* the flag forces a reopen, which creates it */
        unlink(path.c_str());
        WriteLog("closed after the previous line, so opened again");
        iFlagDebugModeFnc = 0;
        WriteLog("the flag is off again and the log goes on");
    });
    std::string log = ReadFileText(path);
    EXPECT_EQ(std::string::npos, log.find("reopened"));
    EXPECT_EQ(std::string::npos, log.find("into the removed file"));
    EXPECT_NE(std::string::npos, log.find(" : closed after the previous line, so opened again\n"));
    EXPECT_NE(std::string::npos, log.find(" : the flag is off again and the log goes on\n"));
}

TEST_F(RunLog, ChangingThePathMovesTheLog)
{
    std::string other = dir / "other.log";
    Child([&] {
        WriteLog("first");
        psLogFile = other.c_str();
        WriteLog("second");
    });
    EXPECT_NE(std::string::npos, ReadFileText(path).find(" : first\n"));
    EXPECT_EQ(std::string::npos, ReadFileText(path).find("second"));
    EXPECT_NE(std::string::npos, ReadFileText(other).find(" : second\n"));
}

TEST_F(RunLog, EveryLineCarriesThePidOfTheProcessThatWritesIt)
{
    /* The id is asked once per process: a child forked after lines were
     * written must still stamp its own. */
    std::string out = Child([] {
        WriteLog("parent before");
        fflush(stdout);
        pid_t child = fork();
        if (child == 0) {
            WriteLog("child");
            printf("%d|", (int)getpid());
            fflush(stdout);
            _exit(0);
        }
        waitpid(child, nullptr, 0);
        WriteLog("parent after");
        printf("%d", (int)getpid());
    });
    std::string childPid = out.substr(0, out.find('|'));
    std::string parentPid = out.substr(out.find('|') + 1);
    ASSERT_NE(childPid, parentPid);
    EXPECT_EQ(parentPid + "_00000 : parent before\n" + childPid + "_00000 : child\n" + parentPid +
                  "_00000 : parent after\n",
              ReadFileText(path));
}

TEST_F(RunLog, HeldLinesReachTheLogWholeAndInOrderAtTheReleaseOrTheEnd)
{
    std::string out = Child([&] {
        WriteLog("before");
        HoldRunLog();
        for (int i = 0; i < 1000; i++) /* more than the hold keeps at once */
            WriteLog(("held line " + std::to_string(i) + std::string(i % 50, '.')).c_str());
        /* The last ones are still held. */
        printf("%d|", ReadFileText(path).find("held line 999") == std::string::npos);
        ReleaseRunLog();
        WriteLog("after");
        HoldRunLog();
        WriteLog("held at the end");
        fflush(stdout);
        Quit(0);
    });
    EXPECT_EQ("1|", out);
    std::string log = ReadFileText(path);
    std::string pid = log.substr(0, log.find('_'));
    std::string want = pid + "_00000 : before\n";
    for (int i = 0; i < 1000; i++)
        want += pid + "_00000 : held line " + std::to_string(i) + std::string(i % 50, '.') + "\n";
    want += pid + "_00000 : after\n" + pid + "_00000 : held at the end\n";
    EXPECT_EQ(want, log);
}

}  // namespace
