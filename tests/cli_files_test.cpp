/* morvrc_tool among other programs: a file changed while the tool works,
 * saves one at a time under the lock, a saved file kept as its user set it
 * up (owner, mode, attributes, links, mounts), pipes read bounded, and
 * watch following the file as it is rewritten.
 * Usage: cli_files_test [gtest options] TOOL [RUNNER...] */
#include "editor/actions.h"
#include "editor/runlog.h"
#include "settings/store/catalogue.h"
#include "settings/store/morv.h"
#include "settings/morvrc/morvrc.h"
#include "support/runlog.h"
#include "support/xchat.h"
#include "tests/cli_tool_fixture.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

/* The names in directory path, sorted. */
std::vector<std::string> Names(std::string const &path)
{
    std::vector<std::string> names;
    DIR *d = opendir(path.c_str());
    while (struct dirent *e = d != nullptr ? readdir(d) : nullptr)
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, ".."))
            names.push_back(e->d_name);
    if (d != nullptr)
        closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

/* The environment that lays the fault library psLib under the tool, with
 * fault, the fault it is to make. */
std::vector<std::string> WithFault(char const *psLib, std::string const &fault)
{
    return {std::string("LD_PRELOAD=") + psLib, fault, "ASAN_OPTIONS=verify_asan_link_order=0"};
}

TEST_F(MorvrcTool, SetLeavesAFileChangedWhileItWorked)
{
    char const *psLib = getenv("MORV_CHANGE_ON_FSYNC_LIB");
    if (psLib == nullptr)
        GTEST_SKIP() << "MORV_CHANGE_ON_FSYNC_LIB names no library";
    WriteFileBytes(rc, MakeSample(kNative).bytes);
    ToolResult r = Tool({"set", rc, "iMaxCloneCount", "1"},
                        WithFault(psLib, "MORV_CHANGE_ON_FSYNC=" + rc));
    EXPECT_EQ(6, r.iStatus) << r.err;
    EXPECT_TRUE(Contains(r.err, "was changed by another program")) << r.err;
    EXPECT_EQ(Bytes().raw(MakeSample(kNative).bytes).raw("!").bytes(), ReadFileBytes(rc));
    /* Its temporary file is gone too. */
    DIR *d = opendir(dir.path().c_str());
    ASSERT_NE(nullptr, d);
    int iTemporary = 0;
    while (struct dirent *e = readdir(d))
        iTemporary += strncmp(e->d_name, "morvrc.tmp-", 11) == 0;
    closedir(d);
    EXPECT_EQ(0, iTemporary);

    /* In place, a close that fails after the new bytes were synced: the
     * report never calls the file unchanged. */
    std::string other = dir / "other";
    ASSERT_EQ(0, link(rc.c_str(), other.c_str()));
    r = Tool({"set", rc, "iMaxCloneCount", "2"},
             WithFault(psLib, "MORV_FAIL_CLOSE_AFTER_FSYNC=1"));
    EXPECT_EQ(3, r.iStatus) << r.err;
    EXPECT_TRUE(Contains(r.err, rc + " may hold the new settings")) << r.err;
    EXPECT_FALSE(Contains(r.err, "unchanged")) << r.err;
    /* convert leaves its output and nothing more. */
    std::string sub = dir / "sub";
    ASSERT_EQ(0, mkdir(sub.c_str(), 0755));
    WriteFileBytes(sub + "/morvrc", MakeSample(kNative).bytes);
    r = Tool({"convert", "--to", "32", sub + "/morvrc", sub + "/morvrc32"});
    EXPECT_EQ(0, r.iStatus) << r.err;
    EXPECT_EQ(std::vector<std::string>({"morvrc", "morvrc32"}), Names(sub));
}

/* ---- one writer at a time; the file stays the user's -------------------- */

TEST_F(MorvrcTool, ARewriteKilledHalfWayPointsToTheVersionKeptBeforeIt)
{
    char const *psLib = getenv("MORV_CHANGE_ON_FSYNC_LIB");
    if (psLib == nullptr)
        GTEST_SKIP() << "MORV_CHANGE_ON_FSYNC_LIB names no library";
    ByteVector sample = MakeSample(kNative).bytes;
    WriteFileBytes(rc, sample);
    /* A second link: rewritten in place, and killed in the middle of it. */
    ASSERT_EQ(0, link(rc.c_str(), (dir / "other").c_str()));
    ToolResult r = Tool({"set", rc, "psAwayPostfix", "absent", "iMaxCloneCount", "3"},
                        WithFault(psLib, "MORV_DIE_IN_PWRITE=1"));
    EXPECT_EQ(9, r.iStatus) << r.err;
    ASSERT_NE(sample, ReadFileBytes(rc));
    /* Damaged, or whole with the old bytes after its last setting: the
     * complaint or the note names the way back. */
    r = Tool({"dump", rc});
    EXPECT_TRUE(Contains(r.err, "the last whole version kept is 1, from ")) << r.err;
    EXPECT_TRUE(Contains(r.err, " (morvrc_tool set): morvrc_tool restore 1 " + rc + "\n")) << r.err;
    r = Tool({"check", rc});
    EXPECT_TRUE(Contains(r.err, " (morvrc_tool set): morvrc_tool restore 1 " + rc + "\n")) << r.err;
    r = Tool({"restore", "1", rc});
    EXPECT_EQ(0, r.iStatus) << r.err;
    EXPECT_EQ(sample, ReadFileBytes(dir / "other"));

    /* A file-size limit ends no rewrite half way: the write that grows
     * too large fails, the old bytes are put back, and it is said. */
    std::vector<std::string> argv = {"bash", "-c", "ulimit -f 2 && exec \"$@\"", "bash"};
    argv.insert(argv.end(), gRunner.begin(), gRunner.end());
    argv.insert(argv.end(), {gTool, "set", rc, "psAwayPostfix", "\"" + std::string(3000, 'w') + "\""});
    ProgramResult p = RunProgram(argv, "", dir.path());
    EXPECT_EQ(3, p.iStatus) << p.err;
    EXPECT_TRUE(Contains(p.err, "cannot write " + rc + ": File too large; " + rc + " is unchanged")) << p.err;
    EXPECT_EQ(sample, ReadFileBytes(rc));
}

/* A morvrc that is there but cannot be read, for a read that fails (EIO)
 * or a mode that lets its user write it only (0200), is never taken for a
 * missing one: no verb writes the defaults over it. */
TEST_F(MorvrcTool, AFileThereButUnreadableIsNeverWrittenOverAsMissing)
{
    char const *psLib = getenv("MORV_CHANGE_ON_FSYNC_LIB");
    if (psLib == nullptr)
        GTEST_SKIP() << "MORV_CHANGE_ON_FSYNC_LIB names no library";
    ByteVector sample = MakeSample(kNative).bytes;
    WriteFileBytes(rc, sample);
    for (std::vector<std::string> args : {std::vector<std::string>{"set", rc, "iMaxCloneCount", "1"},
                                          {"load", rc, "/dev/null"}, {"reset", "--all", rc}}) {
        ToolResult r = Tool(args, WithFault(psLib, "MORV_EIO_ON_READ=" + rc));
        EXPECT_EQ(3, r.iStatus) << args[0] << r.err;
        EXPECT_TRUE(Contains(r.err, "cannot read " + rc + ": Input/output error")) << r.err;
        EXPECT_EQ(sample, ReadFileBytes(rc));
    }
    if (geteuid() != 0)
        return;
    TestUser user("u");
    ASSERT_TRUE(user.made());
    uid_t uid = user.uid();
    gid_t gid = user.gid();
    std::string own = dir / "own", file = own + "/morvrc";
    ASSERT_EQ(0, mkdir(own.c_str(), 0755));
    WriteFileBytes(file, sample);
    EXPECT_EQ(0, chown(own.c_str(), uid, gid) | chown(file.c_str(), uid, gid) | chmod(file.c_str(), 0200));
    for (char const *psVerb : {"set", "load"}) {
        std::vector<std::string> argv = user.AsUser();
        argv.insert(argv.end(), gRunner.begin(), gRunner.end());
        argv.insert(argv.end(), {ToolForAnyone(), psVerb, file});
        if (psVerb[0] == 's')
            argv.insert(argv.end(), {"iMaxCloneCount", "1"});
        ProgramResult r = RunProgram(argv, "iMaxCloneCount = 1\n", dir.path());
        EXPECT_EQ(3, r.iStatus) << psVerb << r.err;
        EXPECT_TRUE(Contains(r.err, "cannot read " + file + ": Permission denied")) << r.err;
    }
    EXPECT_EQ(sample, ReadFileBytes(file));
}

TEST_F(MorvrcTool, ParallelSetsAllLandAndALockHeldTooLongIsExit6)
{
    /* Sixteen writers at once, each of a setting of its own: none is lost;
     * then, as the owner of a directory that takes no new file, through
     * two names of one file. */
    WriteFileText(rc + ".tmp-Ab12Cd", "left by a save that was killed");
    std::string ro = dir / "ro", other = ro + "/other";
    TestUser user("p");
    for (int iRound = 0; iRound < (user.made() ? 2 : 1); iRound++) {
        SCOPED_TRACE(iRound);
        std::string file = iRound == 0 ? rc : ro + "/morvrc", name2 = iRound == 0 ? rc : other;
        std::vector<std::string> argv = {"timeout", "-s", "KILL", "150"};
        if (iRound == 1) {
            ASSERT_EQ(0, chmod(dir.path().c_str(), 0755));
            ASSERT_EQ(0, mkdir(ro.c_str(), 0755));
            WriteFileBytes(file, MakeSample(kNative).bytes);
            ASSERT_EQ(0, link(file.c_str(), other.c_str()));
            ASSERT_EQ(0, chown(file.c_str(), user.uid(), user.gid()));
            ASSERT_EQ(0, chown(ro.c_str(), user.uid(), user.gid()));
            ASSERT_EQ(0, chmod(ro.c_str(), 0555));
            std::vector<std::string> const asUser = user.AsUser();
            argv.insert(argv.end(), asUser.begin(), asUser.end());
        } else {
            WriteFileBytes(file, MakeSample(kNative).bytes);
        }
        argv.insert(argv.end(), {"bash", "-c",
                                 "a=$1; b=$2; shift 2; for k in $(seq 0 15); do n=$a; "
                                 "[ $((k % 2)) = 1 ] && n=$b; \"$@\" set --wait 60 \"$n\" "
                                 "\"iFlagParserMode[$k]\" $((k + 100)) & done; fail=0; "
                                 "for p in $(jobs -p); do wait $p || fail=1; done; exit $fail",
                                 "bash", file, name2});
        argv.insert(argv.end(), gRunner.begin(), gRunner.end());
        argv.push_back(iRound == 1 ? ToolForAnyone() : gTool);
        ProgramResult r = RunProgram(argv, "", dir.path());
        EXPECT_EQ(0, r.iStatus) << r.err;
        ResetSettings();
        ByteVector saved = ReadFileBytes(file);
        ASSERT_EQ(MORV_READ_OK, DecodeSetup(saved.data(), saved.size(), kNative, nullptr));
        for (int k = 0; k < 16; k++)
            EXPECT_EQ(k + 100, iFlagParserMode[k]) << k;
        EXPECT_FALSE(FileExists(rc + ".tmp-Ab12Cd"));

        /* Another program's save that lasts: nothing is written. */
        int fdLock = open(file.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_LE(0, fdLock);
        ASSERT_EQ(0, flock(fdLock, LOCK_EX));
        argv.resize(iRound == 0 ? 4 : 8);
        argv.insert(argv.end(), gRunner.begin(), gRunner.end());
        argv.insert(argv.end(), {iRound == 1 ? ToolForAnyone() : gTool, "set", "--wait", "0.3", name2,
                                 "iMaxCloneCount", "5"});
        r = RunProgram(argv, "", dir.path());
        close(fdLock);
        EXPECT_EQ(6, r.iStatus);
        EXPECT_TRUE(Contains(r.err, "another program is saving " + name2)) << r.err;
        EXPECT_EQ(saved, ReadFileBytes(file));
    }
    if (!user.made())
        return;
    /* A file to be made in a directory whose lock cannot be taken: no
     * silent success. */
    ASSERT_EQ(0, chmod(ro.c_str(), 0333));
    std::vector<std::string> argv = user.AsUser();
    argv.insert(argv.end(), gRunner.begin(), gRunner.end());
    argv.insert(argv.end(), {ToolForAnyone(), "set", ro + "/new", "iMaxCloneCount", "5"});
    ProgramResult r = RunProgram(argv, "", dir.path());
    /* Refused by the tool itself, not by a tool that could not start. */
    EXPECT_EQ(3, r.iStatus) << r.err;
    EXPECT_FALSE(FileExists(ro + "/new"));
}

TEST_F(MorvrcTool, ConvertOfAFileOntoItselfLosesNoSetMadeMeanwhile)
{
    WriteFileBytes(rc, MakeSample(kNative).bytes);
    /* convert reads FILE under the lock it writes it under: a set that
     * lands between the two would otherwise be written over. */
    std::vector<std::string> argv = {"bash", "-c",
                                     "rc=$1; bits=$2; shift 2; lost=0; for k in $(seq 1 100); do "
                                     "\"$@\" convert --wait 60 --to $bits \"$rc\" \"$rc\" & "
                                     "\"$@\" set --wait 60 \"$rc\" iMaxCloneCount $k || exit 9; "
                                     "wait $! || exit 8; "
                                     "[ \"$(\"$@\" get \"$rc\" iMaxCloneCount)\" = $k ] || lost=$((lost + 1)); "
                                     "done; echo $lost; [ $lost = 0 ]",
                                     "bash", rc, Bits(kNative)};
    argv.insert(argv.end(), gRunner.begin(), gRunner.end());
    argv.push_back(gTool);
    ProgramResult r = RunProgram(argv, "", dir.path());
    EXPECT_EQ(0, r.iStatus) << "updates lost: " << r.out << r.err;
}

TEST_F(MorvrcTool, ASetWaitsForAFileAnotherProgramIsStillWriting)
{
    /* The script writes morvrc in two pieces with a pause between them. */
    Sample s = MakeSample(kNative);
    ByteVector cut(s.bytes.begin(), s.bytes.begin() + (long)s.uAwayPostfixAt);
    WriteFileBytes(rc, cut);
    pid_t pid = fork();
    if (pid == 0) {
        usleep(700 * 1000);
        WriteFileBytes(rc, s.bytes);
        _exit(0);
    }
    ToolResult r = Tool({"set", rc, "iMaxCloneCount", "9"});
    waitpid(pid, nullptr, 0);
    EXPECT_EQ(0, r.iStatus) << r.err;
    std::string want = dir / "want";
    WriteFileBytes(want, s.bytes);
    ASSERT_EQ(0, Tool({"set", want, "iMaxCloneCount", "9"}).iStatus);
    EXPECT_EQ(Hex(ReadFileBytes(want)), Hex(ReadFileBytes(rc)));

    /* One that stays cut is refused, another writer named first. */
    WriteFileBytes(rc, cut);
    r = Tool({"set", rc, "iMaxCloneCount", "9"});
    EXPECT_EQ(4, r.iStatus);
    EXPECT_LT(r.err.find("another program may be writing it"), r.err.find("reset --all")) << r.err;
    EXPECT_EQ(Hex(cut), Hex(ReadFileBytes(rc)));
}

TEST_F(MorvrcTool, ASavedFileKeepsItsOwnerModeAttributesAndLinks)
{
    TestUser user("o");
    if (!user.made())
        GTEST_SKIP() << "only root can give a file to another user";
    WriteFileBytes(rc, MakeSample(kNative).bytes);
    ASSERT_EQ(0, chown(rc.c_str(), user.uid(), user.gid()));
    ASSERT_EQ(0, chmod(rc.c_str(), 0640));
    ASSERT_EQ(0, setxattr(rc.c_str(), "user.morv", "kept", 4, 0));
    ToolResult r = Tool({"set", rc, "iMaxCloneCount", "5"});
    EXPECT_EQ(0, r.iStatus) << r.err;
    EXPECT_EQ("", r.err);
    struct stat st;
    ASSERT_EQ(0, stat(rc.c_str(), &st));
    EXPECT_EQ(user.uid(), st.st_uid);
    EXPECT_EQ(user.gid(), st.st_gid);
    EXPECT_EQ(0640u, st.st_mode & 07777);
    char acValue[16] = "";
    EXPECT_EQ(4, getxattr(rc.c_str(), "user.morv", acValue, sizeof acValue));
    EXPECT_STREQ("kept", acValue);

    /* One file under two names: written in place, so both see the change. */
    std::string other = dir / "other";
    ASSERT_EQ(0, link(rc.c_str(), other.c_str()));
    r = Tool({"set", rc, "iMaxCloneCount", "6"});
    EXPECT_EQ(0, r.iStatus) << r.err;
    EXPECT_EQ("morvrc_tool: The " + rc + " configuration file was rewritten in place: it has 2 links.\n", r.err);
    EXPECT_EQ(ReadFileBytes(rc), ReadFileBytes(other));
    EXPECT_EQ("6\n", Tool({"get", other, "iMaxCloneCount"}).out);
    unlink(other.c_str());

    /* A file mounted on its own, as in a container, in a mount namespace
     * of this test's. */
    std::vector<std::string> argv = {"unshare", "-m", "sh", "-c",
                                     "mount --bind \"$1\" \"$1\" || exit 99; shift; exec \"$@\"", "sh",
                                     rc};
    argv.insert(argv.end(), gRunner.begin(), gRunner.end());
    argv.insert(argv.end(), {gTool, "set", rc, "iMaxCloneCount", "7"});
    ProgramResult m = RunProgram(argv, "", dir.path());
    if (m.iStatus == 99 || Contains(m.err, "unshare"))
        GTEST_SKIP() << "no mount namespace here: " << m.err;
    EXPECT_EQ(0, m.iStatus) << m.err;
    EXPECT_TRUE(Contains(m.err, "rewritten in place: it is a mount point.")) << m.err;
    EXPECT_EQ("7\n", Tool({"get", rc, "iMaxCloneCount"}).out);
}

/* A process that runs fn as user, until it is stopped (StopSwapper). */
pid_t StartAs(TestUser const &user, std::function<void()> const &fn)
{
    pid_t pid = fork();
    if (pid == 0) {
        gid_t gid = user.gid();
        if (setgroups(1, &gid) != 0 || setgid(gid) != 0 || setuid(user.uid()) != 0)
            _exit(3);
        fn();
        _exit(0);
    }
    return pid;
}

void StopSwapper(pid_t pid)
{
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

/* Puts at path, again and again, a link to target and a file of bytes,
 * each renamed into place as an attacker would; with bPause each is left
 * there a moment. */
void SwapFileAndLink(std::string const &path, std::string const &target, ByteVector const &bytes, bool bPause)
{
    /* The two swapped in one call each time, as fast as it goes. */
    std::string other = path + ".x";
    WriteFileBytes(path, bytes);
    if (symlink(target.c_str(), other.c_str()) != 0)
        return;
    for (int i = 0;; i++) {
        renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE);
        if (bPause)
            usleep(500 + i % 7 * 300);
    }
}

TEST_F(MorvrcTool, RootWorksOnAUsersFileWithTheUsersRightsAlone)
{
    TestUser user("a");
    if (!user.made())
        GTEST_SKIP() << "only root can act on another user's home";
    /* A home of the user's, a directory of root's alone, and a file of
     * root's that root's own groups may write. */
    ASSERT_EQ(0, chmod(dir.path().c_str(), 0755));
    std::string home = dir / "home", secret = dir / "secret", shadow = secret + "/shadow";
    std::string userRc = home + "/morvrc", grouped = dir / "grouped";
    ASSERT_EQ(0, mkdir(home.c_str(), 0755));
    ASSERT_EQ(0, chown(home.c_str(), user.uid(), user.gid()));
    ASSERT_EQ(0, mkdir(secret.c_str(), 0700));
    WriteFileText(shadow, "root:x:0:\n");
    if (getgroups(0, nullptr) <= 0) {
        gid_t gRoot = 0;
        ASSERT_EQ(0, setgroups(1, &gRoot));
    }
    gid_t agRoot[64];
    ASSERT_LT(0, getgroups(64, agRoot));
    ByteVector sample = MakeSample(kNative).bytes;
    WriteFileBytes(grouped, sample);
    ASSERT_EQ(0, chown(grouped.c_str(), 0, agRoot[0]));
    ASSERT_EQ(0, chmod(grouped.c_str(), 0660));
    /* The user's links to root's file, to a file root's directory lacks,
     * to a device and to root's group's file: nothing is written through
     * them. */
    struct Case {
        std::string target;
        std::vector<std::string> args;
    } const aCases[] = {
        {shadow, {"set", userRc, "iMaxCloneCount", "5"}},
        {shadow, {"reset", "--all", userRc, "--home", MORV_DEMO_HOME}},
        {secret + "/job", {"set", userRc, "iMaxCloneCount", "5"}},
        {"/dev/null", {"set", userRc, "iMaxCloneCount", "5"}},
        {grouped, {"set", userRc, "iMaxCloneCount", "5"}},
    };
    for (Case const &c : aCases) {
        SCOPED_TRACE(c.target + " " + c.args[0]);
        unlink(userRc.c_str());
        ASSERT_EQ(0, symlink(c.target.c_str(), userRc.c_str()));
        ASSERT_EQ(0, lchown(userRc.c_str(), user.uid(), user.gid()));
        ToolResult r = Tool(c.args);
        EXPECT_EQ(3, r.iStatus) << r.err;
        EXPECT_TRUE(Contains(r.err, c.target == "/dev/null" ? "not a regular file" : "Permission denied"))
            << r.err;
    }
    EXPECT_EQ("root:x:0:\n", ReadFileText(shadow));
    EXPECT_EQ(std::vector<std::string>({"shadow"}), Names(secret));
    EXPECT_EQ(sample, ReadFileBytes(grouped));
    struct stat st;
    ASSERT_EQ(0, stat("/dev/null", &st));
    EXPECT_TRUE(S_ISCHR(st.st_mode));

    /* The user's own file is saved and stays the user's; a morvrc.lock
     * that is another name of root's file is no matter of a save's. */
    unlink(userRc.c_str());
    WriteFileBytes(userRc, sample);
    ASSERT_EQ(0, chown(userRc.c_str(), user.uid(), user.gid()));
    ASSERT_EQ(0, link(shadow.c_str(), (userRc + ".lock").c_str()));
    ToolResult r = Tool({"set", userRc, "iMaxCloneCount", "5"});
    EXPECT_EQ(0, r.iStatus) << r.err;
    ASSERT_EQ(0, stat(userRc.c_str(), &st));
    EXPECT_EQ(user.uid(), st.st_uid);
    ASSERT_EQ(0, stat(shadow.c_str(), &st));
    EXPECT_EQ(0u, st.st_uid);
    EXPECT_EQ(std::vector<std::string>({"morvrc", "morvrc.lock"}), Names(home));

    /* The user's history, also once the file's directory is gone. */
    std::string sub = home + "/sub", subRc = sub + "/morvrc";
    ASSERT_EQ(0, mkdir(sub.c_str(), 0755));
    WriteFileBytes(subRc, sample);
    ASSERT_EQ(0, chown(sub.c_str(), user.uid(), user.gid()) | chown(subRc.c_str(), user.uid(), user.gid()));
    ASSERT_EQ(0, Tool({"set", subRc, "iMaxCloneCount", "6"}).iStatus);
    ASSERT_EQ(0, rename(sub.c_str(), (home + "/sub.old").c_str()));
    r = Tool({"history", subRc});
    EXPECT_EQ(0, r.iStatus) << r.err;
    EXPECT_TRUE(Contains(r.out, " kept in " + user.home() + "/.local/state/")) << r.out;
    EXPECT_TRUE(Contains(r.out, "\n  1  ")) << r.out;
}

TEST_F(MorvrcTool, RootRefusesTwoOwnersOnTheWayAndNeverFollowsALinkSwappedIn)
{
    TestUser user("s"), other("t");
    if (!user.made() || !other.made())
        GTEST_SKIP() << "only root can act on another user's home";
    ASSERT_EQ(0, chmod(dir.path().c_str(), 0755));
    ByteVector sample = MakeSample(kNative).bytes;
    /* A link of one user in another user's sticky directory: refused, the
     * two named, the other user's private file untouched. */
    std::string sticky = dir / "sticky", theirs = sticky + "/morvrc", planted = sticky + "/planted";
    ASSERT_EQ(0, mkdir(sticky.c_str(), 01777));
    ASSERT_EQ(0, chown(sticky.c_str(), other.uid(), other.gid()));
    WriteFileBytes(theirs, sample);
    ASSERT_EQ(0, chown(theirs.c_str(), other.uid(), other.gid()));
    ASSERT_EQ(0, chmod(theirs.c_str(), 0600));
    ASSERT_EQ(0, symlink(theirs.c_str(), planted.c_str()));
    ASSERT_EQ(0, lchown(planted.c_str(), user.uid(), user.gid()));
    ToolResult r = Tool({"set", planted, "iMaxCloneCount", "5"});
    EXPECT_EQ(3, r.iStatus) << r.err;
    EXPECT_TRUE(Contains(r.err, "unsafe transition: " + planted + " belongs to " + user.name() + ", but " +
                                    sticky + ", on the way to it, belongs to " + other.name()))
        << r.err;
    EXPECT_EQ(sample, ReadFileBytes(theirs));

    /* The user swaps a file of theirs and a link to root's file in a
     * directory of root's that their group may write, while root resets
     * it: root's file is never written. */
    std::string shared = dir / "shared", rootRc = dir / "root-morvrc";
    ASSERT_EQ(0, mkdir(shared.c_str(), 0775));
    ASSERT_EQ(0, chown(shared.c_str(), 0, user.gid()));
    ASSERT_EQ(0, chmod(shared.c_str(), 02775));
    WriteFileBytes(rootRc, sample);
    pid_t pid = StartAs(user, [&] { SwapFileAndLink(shared + "/morvrc", rootRc, sample, false); });
    int aiStatus[8] = {0};
    for (int i = 0; i < 300; i++) {
        r = Tool({"reset", "--all", shared + "/morvrc", "--home", MORV_DEMO_HOME});
        aiStatus[r.iStatus < 7 ? r.iStatus : 7]++;
    }
    StopSwapper(pid);
    EXPECT_EQ(sample, ReadFileBytes(rootRc));
    printf("reset --all while swapped: %d saved, %d refused, %d changed meanwhile\n", aiStatus[0],
           aiStatus[3], aiStatus[6]);
    /* Saved as the user, refused through the link, or changed meanwhile by
     * the swaps: never anything else. */
    EXPECT_EQ(300, aiStatus[0] + aiStatus[3] + aiStatus[6]);
    EXPECT_LT(0, aiStatus[3]);
}

TEST_F(MorvrcTool, RootKeepsEveryVersionInTheHistoryOfTheFileItLocked)
{
    TestUser user("h"), victim("v");
    if (!user.made() || !victim.made())
        GTEST_SKIP() << "only root can act on another user's home";
    ASSERT_EQ(0, chmod(dir.path().c_str(), 0755));
    ASSERT_EQ(0, chmod(victim.home().c_str(), 0700));
    /* The user's file saved by root: its version is in the user's history,
     * made with the user's rights. */
    Sample sample = MakeSample(kNative);
    std::string userRc = user.home() + "/morvrc";
    WriteFileBytes(userRc, sample.bytes);
    ASSERT_EQ(0, chown(userRc.c_str(), user.uid(), user.gid()));
    ToolResult r = Tool({"set", userRc, "iMaxCloneCount", "5"});
    EXPECT_EQ(0, r.iStatus) << r.err;
    EXPECT_EQ("", r.out);
    std::string folder = user.home() + "/.local/state/morvane/history/";
    for (char c : userRc)
        folder += c == '/' ? '!' : c;
    std::vector<std::string> versions = Names(folder);
    ASSERT_EQ(1u, versions.size()) << folder;
    struct stat st;
    for (std::string const &path : {user.home() + "/.local", folder, folder + "/" + versions[0]}) {
        ASSERT_EQ(0, stat(path.c_str(), &st)) << path;
        EXPECT_EQ(user.uid(), st.st_uid) << path;
    }

    /* The victim's private file, with a version of its own kept. */
    std::string victimRc = victim.home() + "/morvrc";
    ByteVector secret = sample.bytes;
    secret[sample.uAwayPostfixAt + 4] = 'S';
    WriteFileBytes(victimRc, secret);
    ASSERT_EQ(0, chown(victimRc.c_str(), victim.uid(), victim.gid()));
    ASSERT_EQ(0, chmod(victimRc.c_str(), 0600));
    ASSERT_EQ(0, Tool({"set", victimRc, "iMaxCloneCount", "6"}).iStatus);
    ByteVector victimNow = ReadFileBytes(victimRc);
    ToolResult before = Tool({"history", victimRc});
    ASSERT_EQ(0, before.iStatus) << before.err;

    /* The user flips a name between a file of theirs and a link to the
     * victim's while root sets and restores it: no version of one file is
     * kept in the other's history, nor restored into the other. */
    std::string flip = user.home() + "/flip";
    pid_t pid = StartAs(user, [&] { SwapFileAndLink(flip, victimRc, sample.bytes, true); });
    for (int i = 0; i < 60; i++) {
        Tool({"set", flip, "iMaxCloneCount", std::to_string(10 + i)});
        Tool({"restore", "1", flip});
    }
    StopSwapper(pid);
    EXPECT_EQ(victimNow, ReadFileBytes(victimRc));
    ToolResult after = Tool({"history", victimRc});
    EXPECT_EQ(before.out, after.out);
    std::string flipFolder = user.home() + "/.local/state/morvane/history/";
    for (char c : flip)
        flipFolder += c == '/' ? '!' : c;
    std::vector<std::string> kept = Names(flipFolder);
    EXPECT_LT(0u, kept.size());
    for (std::string const &name : kept) {
        ByteVector b = ReadFileBytes(flipFolder + "/" + name);
        EXPECT_TRUE(b != secret && b != victimNow) << name;
    }
    /* Left a file of the user's, or the link. */
    ASSERT_EQ(0, lstat(flip.c_str(), &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode) || (ReadFileBytes(flip) != secret && ReadFileBytes(flip) != victimNow));

    /* Root's XDG_STATE_HOME in the user's home, a folder there a link to a
     * directory of root's: root's own history is used instead, and nothing
     * of the user's or of that directory is touched. */
    std::string rootDir = dir / "root-dir", important = rootDir + "/.tmp-important";
    ASSERT_EQ(0, mkdir(rootDir.c_str(), 0755));
    WriteFileText(important, "keep me");
    struct utimbuf old = {1000000, 1000000};
    ASSERT_EQ(0, utime(important.c_str(), &old));
    std::string state = user.home() + "/.local/state", rootRc = dir / "root-morvrc";
    std::string planted = state + "/morvane/history/";
    for (char c : rootRc)
        planted += c == '/' ? '!' : c;
    std::vector<std::string> argv = user.AsUser();
    argv.insert(argv.end(), {"ln", "-s", rootDir, planted});
    ASSERT_EQ(0, RunProgram(argv, "", dir.path()).iStatus);
    WriteFileBytes(rootRc, sample.bytes);
    r = Tool({"set", rootRc, "iMaxCloneCount", "7"}, {"XDG_STATE_HOME=" + state});
    EXPECT_EQ(0, r.iStatus) << r.err;
    EXPECT_TRUE(Contains(r.out, "morvrc_tool: note: XDG_STATE_HOME=" + state + " is not used (")) << r.out;
    std::string rootFolder = dir / ".local/state/morvane/history/";
    for (char c : rootRc)
        rootFolder += c == '/' ? '!' : c;
    EXPECT_EQ(1u, Names(rootFolder).size()) << rootFolder;
    ASSERT_EQ(0, stat(rootDir.c_str(), &st));
    EXPECT_EQ(0755u, st.st_mode & 07777);
    EXPECT_EQ(std::vector<std::string>({".tmp-important"}), Names(rootDir));
}

TEST_F(MorvrcTool, PipesAreReadBoundedAndNeverWaitedFor)
{
    /* A FIFO without a writer, or a device, as FILE: refused at once by
     * every verb, as INPUT read as the empty input it is. */
    std::string fifo = dir / "fifo";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    std::vector<std::vector<std::string>> const aaArgs = {
        {"set", fifo, "iMaxCloneCount", "1"}, {"dump", fifo}, {"check", fifo},
        {"get", fifo, "iMaxCloneCount"},     {"diff", fifo, fifo}, {"convert", "--to", "32", fifo, rc},
        {"dump", "/dev/zero"}};
    for (std::vector<std::string> const &args : aaArgs) {
        std::string const &file = args[0] == "convert" ? args[3] : args[1];
        SCOPED_TRACE(args[0] + " " + file);
        ToolResult r = Tool(args);
        EXPECT_EQ(args[0] == "diff" ? 2 : 3, r.iStatus);
        EXPECT_TRUE(Contains(r.err, "cannot read " + file + ": not a regular file")) << r.err;
    }
    EXPECT_FALSE(FileExists(rc));
    WriteFileBytes(rc, MakeSample(kNative).bytes);
    ToolResult r = Tool({"load", rc, fifo});
    EXPECT_EQ(0, r.iStatus) << r.err;
    ByteVector sample = MakeSample(kNative).bytes;
    EXPECT_EQ(sample, ReadFileBytes(rc));
    std::vector<std::string> argv = gRunner;
    argv.insert(argv.end(), {gTool, "get", "-", "iMaxCloneCount"});
    ProgramResult p = RunProgram(argv, std::string(sample.begin(), sample.end()), dir.path());
    EXPECT_EQ(0, p.iStatus) << p.err;
    EXPECT_EQ("77\n", p.out);
}

/* ---- watch ------------------------------------------------------------- */

/* Reads fd into *pOut until it holds iLines lines, for at most 20 seconds.
 * Returns whether it got them. */
bool ReadLines(int fd, std::string *pOut, size_t iLines)
{
    for (int iWaited = 0; Lines(*pOut).size() < iLines || pOut->back() != '\n'; iWaited += 100) {
        struct pollfd pfd = {fd, POLLIN, 0};
        if (iWaited >= 20000 || poll(&pfd, 1, 100) < 0)
            return false;
        char ab[4096];
        ssize_t n = pfd.revents ? read(fd, ab, sizeof ab) : 0;
        if (n < 0 || (pfd.revents && n == 0))
            return false;
        pOut->append(ab, (size_t)n);
    }
    return true;
}

/* Starts the program argv with its standard output on fdOut and its
 * standard error on fdErr (-1: as the test's).  Returns its process id. */
pid_t Start(std::vector<std::string> argv, int fdOut, int fdErr)
{
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fdOut, 1);
        if (fdErr >= 0)
            dup2(fdErr, 2);
        std::vector<char *> ap;
        for (std::string &a : argv)
            ap.push_back(&a[0]);
        ap.push_back(nullptr);
        execvp(ap[0], ap.data());
        _exit(127);
    }
    return pid;
}

TEST_F(MorvrcTool, WatchPrintsEveryRewriteUntilTerminated)
{
    /* Kept elsewhere and linked in, as dotfiles are. */
    std::string target = dir / "dotfiles";
    ASSERT_EQ(0, mkdir(target.c_str(), 0755));
    target += "/morvrc";
    Sample sample = MakeSample(kNative);
    WriteFileBytes(target, sample.bytes);
    ASSERT_EQ(0, symlink("dotfiles/morvrc", rc.c_str()));
    int afd[2];
    ASSERT_EQ(0, pipe(afd));
    std::vector<std::string> args = gRunner;
    args.insert(args.end(), {gTool, "watch", rc});
    pid_t pid = Start(args, afd[1], -1);
    ASSERT_LE(0, pid);
    close(afd[1]);
    std::string out;
    /* Each rewrite waits for the block of the one before: they are told
     * apart by the quiet period between them. */
    bool bRead = ReadLines(afd[0], &out, 1);
    if (bRead)
        bRead = Tool({"set", rc, "iMaxCloneCount", "12"}).iStatus == 0 && ReadLines(afd[0], &out, 3);
    if (bRead)
        bRead = Tool({"set", rc, "psAwayPostfix", "absent", "NOTICE", "1"}).iStatus == 0 &&
                ReadLines(afd[0], &out, 6);
    if (bRead) {
        /* Written in place to the file the link leads to, as the script writes it. */
        WriteFileBytes(target, sample.bytes);
        bRead = ReadLines(afd[0], &out, 10);
    }
    if (bRead) {
        /* Cut short for longer than two seconds, then whole again. */
        WriteFileBytes(target, ByteVector(sample.bytes.begin(), sample.bytes.begin() + 100));
        bRead = ReadLines(afd[0], &out, 12);
        WriteFileBytes(target, sample.bytes);
        bRead = bRead && ReadLines(afd[0], &out, 14);
    }
    if (bRead) {
        /* Rewritten every 200 ms: one block, when it stops. */
        for (int i = 1; i <= 6; i++) {
            sample.bytes[sample.uMaxMessageCharAt] = (unsigned char)(44 + i);   /* 300 + i */
            WriteFileBytes(target, sample.bytes);
            usleep(200000);
        }
        bRead = ReadLines(afd[0], &out, 16);
        usleep(500000);
    }
    kill(pid, SIGTERM);
    int iStatus = -1;
    waitpid(pid, &iStatus, 0);
    ReadLines(afd[0], &out, 100);
    close(afd[0]);
    ASSERT_TRUE(bRead) << out;
    EXPECT_TRUE(WIFEXITED(iStatus) && WEXITSTATUS(iStatus) == 0) << iStatus;

    std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(16u, lines.size()) << out;
    std::string whole = "# " + rc + ": version 38, " + Bits(kNative) + "-bit time fields, " +
                        std::to_string(sample.bytes.size()) + " bytes";
    EXPECT_EQ(whole, lines[0]);
    std::vector<std::string> changes = {"iMaxCloneCount: 77 -> 12",
                                        "psAwayPostfix: \"tab\\there \\\"q\\\" back\\\\slash "
                                        "\xc3\xa9\" -> absent",
                                        "iFlagParserMode[NOTICE]: 1 -> 0"};
    for (size_t i : {1u, 3u, 6u, 10u, 12u, 14u})
        EXPECT_EQ(0u, lines[i].find("-- ")) << out;
    EXPECT_EQ(changes[0], lines[2]);
    EXPECT_EQ(changes[1], lines[4]);
    EXPECT_EQ("iFlagParserMode[NOTICE]: 0 -> 1", lines[5]);
    EXPECT_EQ("iMaxCloneCount: 12 -> 77", lines[7]);
    EXPECT_EQ(0u, lines[8].find("psAwayPostfix: absent -> \"tab")) << out;
    EXPECT_EQ(changes[2], lines[9]);
    /* Not whole: what is wrong, and no value; whole again: its state. */
    EXPECT_EQ(0u, lines[11].find("# " + rc + ": damaged at byte ")) << out;
    EXPECT_EQ(whole, lines[13]);
    EXPECT_EQ("iMaxMessageChar: 300 -> 306", lines[15]);

    /* A directory not there yet is waited for, said once; a reader that
     * goes away ends the watch at once, with exit status 3. */
    int afdErr[2];
    /* The test's ends are no reader of the watch's own. */
    ASSERT_EQ(0, pipe2(afd, O_CLOEXEC));
    ASSERT_EQ(0, pipe2(afdErr, O_CLOEXEC));
    args.back() = dir / "later/sub/morvrc";
    pid = Start(args, afd[1], afdErr[1]);
    ASSERT_LE(0, pid);
    close(afd[1]);
    close(afdErr[1]);
    out.clear();
    std::string err;
    EXPECT_TRUE(ReadLines(afd[0], &out, 1) && ReadLines(afdErr[0], &err, 1)) << out << err;
    EXPECT_EQ("# " + args.back() + ": missing or unreadable (No such file or directory)\n", out);
    EXPECT_EQ("morvrc_tool: note: the directory of " + args.back() + " does not exist: the watch waits for it\n",
              err);
    close(afd[0]);
    iStatus = -1;
    for (int iWaited = 0; iWaited < 200 && waitpid(pid, &iStatus, WNOHANG) == 0; iWaited++)
        usleep(50000);
    if (iStatus == -1) {
        kill(pid, SIGKILL);
        waitpid(pid, &iStatus, 0);
    }
    close(afdErr[0]);
    EXPECT_TRUE(WIFEXITED(iStatus) && WEXITSTATUS(iStatus) == 3) << iStatus;
}

}  // namespace

int main(int argc, char **argv) { return ToolTestMain(argc, argv, &gTool, &gRunner); }
