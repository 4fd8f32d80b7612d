/* Saving morvrc: a failed save leaves the old file exactly as it was, a
 * good one replaces it whole, synced before the rename, and a file changed
 * by another program since it was read is not overwritten.  Following it:
 * a file read beside the store, the look after a quiet period, the watch. */
#include "settings/store/morv.h"
#include "settings/morvrc/morvrc.h"
#include "settings/morvrc/follow.h"
#include "settings/morvrc/reading.h"
#include "settings/store/items.h"
#include "settings/disk/lock.h"
#include "settings/disk/replace.h"
#include "settings/disk/walk.h"
#include "tests/settings_images.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <errno.h>
#include <grp.h>
#include <signal.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utime.h>

#include <functional>
#include <string>
#include <vector>

/* The writer's fsync and rename calls, recorded in order while
 * gRecordCalls is set (the test program is linked with --wrap for both). */
static bool gRecordCalls = false;
static std::vector<std::string> gCalls;

/* Faults made on purpose while set: close, fsync and read fail with EIO on
 * a descriptor whose path holds the text, as errors the disk reports late
 * would; fsetxattr fails as on a file system without the attribute. */
static std::string gFailClose, gFailFsync, gFailRead;
static bool gbFailSetAttr = false;
/* Run at every fsync, as another program would act at that moment. */
static std::function<void()> gOnFsync;

extern "C" int __real_fsync(int fd);
extern "C" int __real_close(int fd);
extern "C" ssize_t __real_read(int fd, void *p, size_t n);

/* The path that fd is open on. */
static std::string FdPath(int fd)
{
    char acPath[4096] = "";
    ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), acPath, sizeof acPath - 1);
    return std::string(acPath, n > 0 ? (size_t)n : 0);
}

/* Whether the call on fd is to fail for the fault text. */
static bool Fails(std::string const &fault, int fd)
{
    return !fault.empty() && FdPath(fd).find(fault) != std::string::npos;
}

extern "C" int __wrap_close(int fd)
{
    if (Fails(gFailClose, fd)) {
        __real_close(fd);
        errno = EIO;
        return -1;
    }
    return __real_close(fd);
}

extern "C" ssize_t __wrap_read(int fd, void *p, size_t n)
{
    if (Fails(gFailRead, fd)) {
        errno = EIO;
        return -1;
    }
    return __real_read(fd, p, n);
}

extern "C" int __real_fsetxattr(int fd, char const *psName, void const *p, size_t n, int iFlags);

extern "C" int __wrap_fsetxattr(int fd, char const *psName, void const *p, size_t n, int iFlags)
{
    if (gbFailSetAttr) {
        errno = ENOTSUP;
        return -1;
    }
    return __real_fsetxattr(fd, psName, p, n, iFlags);
}
extern "C" int __real_renameat(int fdFrom, char const *psFrom, int fdTo, char const *psTo);

extern "C" int __wrap_fsync(int fd)
{
    if (gRecordCalls)
        gCalls.push_back("fsync " + FdPath(fd));
    if (gOnFsync)
        gOnFsync();
    if (Fails(gFailFsync, fd)) {
        gFailFsync.clear(); /* once: what follows may put things right */
        errno = EIO;
        return -1;
    }
    return __real_fsync(fd);
}

/* A name relative to the directory open on fd, as a whole path. */
static std::string PathAt(int fd, char const *psName)
{
    char acDir[4096] = "";
    ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), acDir, sizeof acDir - 1);
    return std::string(acDir, n > 0 ? (size_t)n : 0) + "/" + psName;
}

extern "C" int __wrap_renameat(int fdFrom, char const *psFrom, int fdTo, char const *psTo)
{
    if (gRecordCalls)
        gCalls.push_back("rename " + PathAt(fdFrom, psFrom) + " " + PathAt(fdTo, psTo));
    return __real_renameat(fdFrom, psFrom, fdTo, psTo);
}

namespace {

/* ReplaceWalked of psPath, walked once for it: 0 with the walk's errno
 * when the walk is refused. */
int ReplaceFile(char const *psPath, unsigned char const *pData, size_t uSize,
                MorvSnapshot const *pExpected, MorvReplaceReport *pReport)
{
    MorvWalk walk;
    if (!WalkPath(psPath, &walk))
        return 0;
    int bDone = ReplaceWalked(&walk, pData, uSize, pExpected, pReport);
    EndWalk(&walk);
    return bDone;
}

/* Takes the lock of path as a save does, on what one walk of it found.
 * Returns LockWalked's result; *pfd gets the lock. */
int Lock(std::string const &path, int iWaitMillis, int *pfd)
{
    MorvWalk walk;
    *pfd = -1;
    if (!WalkPath(path.c_str(), &walk))
        return 0;
    int iLocked = LockWalked(&walk, iWaitMillis, pfd);
    EndWalk(&walk);
    return iLocked;
}

/* Saving: a failed save leaves the old file exactly as it was, and a good
 * one replaces it whole. */
class SafeSave : public ConfigFile {
  protected:
    void SetUp() override
    {
        ConfigFile::SetUp();
        old = Bytes().i32(38).raw("old contents").bytes();
        WriteFileBytes(rc, old);
    }
    /* How many files the directory holds. */
    int Entries()
    {
        DIR *d = opendir(dir.path().c_str());
        int n = 0;
        while (struct dirent *e = readdir(d))
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                n++;
        closedir(d);
        return n;
    }
    /* Only morvrc itself is in the directory. */
    bool NoTemporaryFiles() { return Entries() == 1; }
    ByteVector old;
};

TEST_F(SafeSave, FileSizeLimitDuringWriteKeepsOldFile)
{
    std::string out;
    int iStatus = RunInChild(
        [&] {
            signal(SIGXFSZ, SIG_IGN);
            struct rlimit rl = {100, 100};
            setrlimit(RLIMIT_FSIZE, &rl);
            int iResult = WriteSetup();
            printf("|result=%d", iResult);
        },
        &out);
    EXPECT_EQ(0, iStatus);
    EXPECT_NE(std::string::npos, out.find("\nUnable to open file " + rc + " for writing (File too large)."))
        << out;
    EXPECT_NE(std::string::npos, out.find("|result=0"));
    EXPECT_EQ(old, ReadFileBytes(rc));
    EXPECT_TRUE(NoTemporaryFiles());
}

TEST_F(SafeSave, KilledWhileSavingLeavesTheOldOrTheNewFileWhole)
{
    /* Two large states, so that a save takes long enough to be cut. */
    std::string big(512 * 1024, 'a');
    psIdentifyCommand = strdup(big.c_str());
    unsigned char *pA, *pB;
    size_t uA, uB;
    MorvLayout layout = {kTime, 0, NULL, 0};
    ASSERT_EQ(1, EncodeSetupImage(&layout, &pA, &uA));
    iMaxCloneCount = 99;
    psIdentifyCommand[0] = 'b';
    ASSERT_EQ(1, EncodeSetupImage(&layout, &pB, &uB));
    ByteVector imageA(pA, pA + uA), imageB(pB, pB + uB);
    free(pA);
    free(pB);
    WriteFileBytes(rc, imageA);

    int iSeen[2] = {0, 0};
    for (int i = 0; i < 40; i++) {
        pid_t pid = fork();
        if (pid == 0) {
            for (int k = 0;; k++) {
                iMaxCloneCount = k % 2 ? 99 : 10;
                psIdentifyCommand[0] = k % 2 ? 'b' : 'a';
                ReplaceSetupFile(rc.c_str(), &layout, NULL, NULL, NULL);
            }
        }
        usleep(1000 + (i * 7919) % 150000);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        ByteVector now = ReadFileBytes(rc);
        ASSERT_TRUE(now == imageA || now == imageB) << "kill " << i << ": " << now.size() << " bytes";
        iSeen[now == imageB]++;
    }
    /* Saves did complete between kills, and kills did cut saves short: each
     * of those leaves its temporary file behind, never a damaged morvrc. */
    int iCut = 0;
    DIR *d = opendir(dir.path().c_str());
    while (struct dirent *e = readdir(d))
        iCut += strncmp(e->d_name, "morvrc.", 7) == 0;
    closedir(d);
    printf("kept old %d, new %d, saves cut %d\n", iSeen[0], iSeen[1], iCut);
    EXPECT_GT(iSeen[1], 0);
    EXPECT_GT(iCut, 0);
}

TEST_F(SafeSave, MissingDirectoryReportsAndCreatesNothing)
{
    std::string missing = dir / "nowhere/morvrc";
    psMorvaneRC = &missing[0];
    std::string out;
    RunInChild([] { exit(WriteSetup() == 0 && errno == ENOENT ? 0 : 1); }, &out);
    EXPECT_EQ("\nUnable to open file " + missing + " for writing (No such file or directory).", out);
    EXPECT_FALSE(FileExists(missing));
}

TEST_F(SafeSave, KeepsPermissionsAndReplacesTheFileBehindALink)
{
    std::string real = dir / "real-morvrc";
    rename(rc.c_str(), real.c_str());
    chmod(real.c_str(), 0640);
    ASSERT_EQ(0, symlink("real-morvrc", rc.c_str()));
    ASSERT_EQ(1, WriteSetup());
    struct stat st;
    ASSERT_EQ(0, lstat(rc.c_str(), &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(0, stat(real.c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 07777);
    EXPECT_EQ(InitialV38(), ReadFileBytes(real));
}

TEST_F(SafeSave, AReadOnlyFileIsRefusedAndADirectoryWithoutNewFilesIsWrittenInPlace)
{
    /* Root writes anywhere; the check is made as an ordinary user.  The file
     * itself is what decides: a directory that takes no new file still has
     * its file rewritten where it is. */
    std::string sub = dir / "sub";
    mkdir(sub.c_str(), 0755);
    std::string inner = sub + "/morvrc";
    WriteFileBytes(inner, old);
    chmod(inner.c_str(), 0444);
    TestUser user("r");
    if (user.made()) {
        ASSERT_EQ(0, chown(sub.c_str(), user.uid(), user.gid()));
        ASSERT_EQ(0, chown(inner.c_str(), user.uid(), user.gid()));
        chmod(dir.path().c_str(), 0755);
    }
    std::string out;
    int iStatus = RunInChild(
        [&] {
            gid_t gid = user.gid();
            if (user.made() && (setgroups(1, &gid) != 0 || setgid(gid) != 0 || setuid(user.uid()) != 0))
                _exit(3);
            psMorvaneRC = &inner[0];
            int iFile = WriteSetup();
            chmod(inner.c_str(), 0644);
            chmod(sub.c_str(), 0555);
            int iDir = WriteSetup();
            exit(iFile == 0 && iDir == 1 ? 0 : 1);
        },
        &out);
    EXPECT_EQ(0, iStatus) << out;
    EXPECT_NE(std::string::npos, out.find("(Permission denied)")) << out;
    EXPECT_NE(std::string::npos, out.find("The " + inner + " configuration file was rewritten in place: "
                                          "its directory takes no new file.\n"))
        << out;
    EXPECT_EQ(InitialV38(), ReadFileBytes(inner));
}

TEST_F(SafeSave, AFileChangedSinceItWasReadIsNotOverwritten)
{
    ReadSetup(nullptr);
    /* Touched, not changed: saved. */
    struct utimbuf times = {1000000, 1000000};
    ASSERT_EQ(0, utime(rc.c_str(), &times));
    ASSERT_EQ(1, WriteSetupUnlessChanged());
    ByteVector saved = ReadFileBytes(rc);

    /* Changed, removed, or made where there was none: left alone, quietly. */
    ByteVector theirs = Bytes().raw(saved).raw("!").bytes();
    for (int iCase = 0; iCase < 3; iCase++) {
        SCOPED_TRACE(iCase);
        if (iCase == 0)
            WriteFileBytes(rc, theirs);
        else if (iCase == 1)
            unlink(rc.c_str());
        else {
            ReadSetup(nullptr);  /* remembers: no file */
            WriteFileBytes(rc, theirs);
        }
        iMaxCloneCount = 50 + iCase;
        testing::internal::CaptureStdout();
        errno = 0;
        EXPECT_EQ(0, WriteSetupUnlessChanged());
        EXPECT_EQ(ESTALE, errno);
        EXPECT_EQ("", testing::internal::GetCapturedStdout());
        EXPECT_EQ(iCase == 1 ? ByteVector() : theirs, ReadFileBytes(rc));
        EXPECT_TRUE(iCase == 1 || NoTemporaryFiles());
    }
    /* Overwriting is the caller's choice; what was written is remembered. */
    ASSERT_EQ(1, WriteSetup());
    ASSERT_EQ(1, WriteSetupUnlessChanged());
    EXPECT_EQ(52, (int)ReadFileBytes(rc)[28]);
}

TEST_F(SafeSave, AnImageTooLongOrATemporaryFileThatFailsToCloseIsNeverRenamed)
{
    /* No longer image is written than a reader would take whole. */
    psPrefixOutput = (char *)malloc(MORV_MAX_FILE + 1);
    ASSERT_NE(nullptr, psPrefixOutput);
    memset(psPrefixOutput, 'p', MORV_MAX_FILE);
    psPrefixOutput[MORV_MAX_FILE] = '\0';
    testing::internal::CaptureStdout();
    errno = 0;
    EXPECT_EQ(0, WriteSetup());
    EXPECT_EQ(EFBIG, errno);
    free(psPrefixOutput);
    psPrefixOutput = nullptr;
    /* An error that only the close reports stops the rename. */
    gFailClose = ".tmp-";
    errno = 0;
    EXPECT_EQ(0, WriteSetup());
    gFailClose.clear();
    EXPECT_EQ(EIO, errno);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(old, ReadFileBytes(rc));
    EXPECT_TRUE(NoTemporaryFiles());
}

TEST_F(SafeSave, TheTemporaryFileIsSyncedBeforeItIsRenamed)
{
    gCalls.clear();
    gRecordCalls = true;
    int iResult = WriteSetup();
    gRecordCalls = false;
    ASSERT_EQ(1, iResult);
    char acDir[4096];
    ASSERT_NE(nullptr, realpath(dir.path().c_str(), acDir));
    /* fsync of the temporary file, then the rename of that very file, then
     * fsync of the directory. */
    ASSERT_EQ(3u, gCalls.size()) << ::testing::PrintToString(gCalls);
    std::string temp = gCalls[0].substr(6);
    EXPECT_EQ(std::string(acDir) + "/morvrc.", temp.substr(0, strlen(acDir) + 8)) << gCalls[0];
    EXPECT_EQ("rename " + temp + " " + std::string(acDir) + "/morvrc", gCalls[1]);
    EXPECT_EQ("fsync " + std::string(acDir), gCalls[2]);
    EXPECT_EQ(InitialV38(), ReadFileBytes(rc));
}

TEST_F(SafeSave, ADirectoryInTheFilesPlaceIsAFailedSave)
{
    unlink(rc.c_str());
    ASSERT_EQ(0, mkdir(rc.c_str(), 0755));
    std::string out;
    int iStatus = RunInChild([] { exit(WriteSetup() == 0 && errno == EISDIR ? 0 : 1); }, &out);
    EXPECT_EQ(0, iStatus);
    EXPECT_EQ("\nUnable to open file " + rc + " for writing (Is a directory).", out);
    struct stat st;
    ASSERT_EQ(0, stat(rc.c_str(), &st));
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_TRUE(NoTemporaryFiles());
}

/* ---- In place, the lock, snapshots ------------------------------------ */

TEST_F(SafeSave, AnInPlaceSaveThatFailsTellsWhatTheFileHolds)
{
    std::string other = dir / "other";
    ASSERT_EQ(0, link(rc.c_str(), other.c_str()));
    ByteVector fresh = Bytes().i32(38).raw("new contents, longer than the old").bytes();
    MorvReplaceReport report;
    /* A failed fsync: the old bytes are put back. */
    gFailFsync = "/morvrc";
    errno = 0;
    EXPECT_EQ(0, ReplaceFile(rc.c_str(), fresh.data(), fresh.size(), nullptr, &report));
    EXPECT_EQ(EIO, errno);
    EXPECT_EQ(MORV_LEFT_OLD, report.iLeft);
    EXPECT_EQ(old, ReadFileBytes(rc));
    /* A close that fails after the fsync: the new bytes are there. */
    gFailClose = "/morvrc";
    errno = 0;
    EXPECT_EQ(0, ReplaceFile(rc.c_str(), fresh.data(), fresh.size(), nullptr, &report));
    gFailClose.clear();
    EXPECT_EQ(EIO, errno);
    EXPECT_EQ(MORV_LEFT_NEW, report.iLeft);
    EXPECT_EQ(fresh, ReadFileBytes(rc));
}

TEST_F(SafeSave, AnAttributeOrAnOwnerANewFileCannotTakeIsKeptInPlace)
{
    ASSERT_EQ(0, setxattr(rc.c_str(), "user.morv", "kept", 4, 0));
    gbFailSetAttr = true;
    MorvReplaceReport report;
    int iDone = ReplaceFile(rc.c_str(), old.data(), 4, nullptr, &report);
    gbFailSetAttr = false;
    EXPECT_EQ(1, iDone);
    EXPECT_STREQ("a new file cannot be given its extended attributes", report.acInPlaceWhy);
    char acValue[8] = "";
    EXPECT_EQ(4, getxattr(rc.c_str(), "user.morv", acValue, sizeof acValue));
    EXPECT_EQ(4u, ReadFileBytes(rc).size());
    TestUser user("g");
    if (!user.made())
        GTEST_SKIP() << "only root can make a file of another user's";
    /* An ordinary user saving root's group-writable file in the user's own
     * directory: root stays its owner. */
    std::string sub = dir / "sub", inner = sub + "/morvrc";
    chmod(dir.path().c_str(), 0755);
    ASSERT_EQ(0, mkdir(sub.c_str(), 0755));
    ASSERT_EQ(0, chown(sub.c_str(), user.uid(), user.gid()));
    WriteFileBytes(inner, old);
    ASSERT_EQ(0, chown(inner.c_str(), 0, user.gid()));
    ASSERT_EQ(0, chmod(inner.c_str(), 0664));
    int iStatus = RunInChild([&] {
        gid_t gid = user.gid();
        if (setgroups(1, &gid) != 0 || setgid(gid) != 0 || setuid(user.uid()) != 0)
            _exit(3);
        MorvReplaceReport r;
        exit(ReplaceFile(inner.c_str(), old.data(), 4, nullptr, &r) == 1 && r.bInPlace ? 0 : 1);
    });
    EXPECT_EQ(0, iStatus);
    struct stat st;
    ASSERT_EQ(0, stat(inner.c_str(), &st));
    EXPECT_EQ(0u, st.st_uid);
}

TEST_F(SafeSave, EverySaverOfTheFileTakesOneLockHeldUntilItsSaveIsDone)
{
    /* Whatever the name: the lock is the file's. */
    std::string other = dir / "other";
    ASSERT_EQ(0, link(rc.c_str(), other.c_str()));
    int fdLock, fdOther;
    ASSERT_EQ(1, Lock(rc, 0, &fdLock));
    errno = 0;
    EXPECT_EQ(0, Lock(other, 0, &fdOther));
    EXPECT_EQ(EWOULDBLOCK, errno);
    unlink(other.c_str());
    /* Still held when the new file is synced. */
    int iAtFsync = -1;
    gOnFsync = [&] {
        int fd = open(rc.c_str(), O_RDONLY | O_CLOEXEC);
        if (iAtFsync == -1)
            iAtFsync = flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
        close(fd);
    };
    EXPECT_EQ(1, ReplaceFile(rc.c_str(), old.data(), 4, nullptr, nullptr));
    gOnFsync = nullptr;
    EXPECT_EQ(EWOULDBLOCK, iAtFsync);
    UnlockFile(fdLock);

    /* A waiter whose file was replaced meanwhile locks the new one. */
    pid_t pid = fork();
    if (pid == 0) {
        int fd;
        if (Lock(rc, 0, &fd) != 1)
            _exit(1);
        usleep(300000);
        ReplaceFile(rc.c_str(), old.data(), 8, nullptr, nullptr);
        _exit(0);
    }
    usleep(100000);
    ASSERT_EQ(1, Lock(rc, 5000, &fdLock));
    waitpid(pid, nullptr, 0);
    struct stat stLock, stNow;
    ASSERT_EQ(0, fstat(fdLock, &stLock));
    ASSERT_EQ(0, stat(rc.c_str(), &stNow));
    EXPECT_EQ(stNow.st_ino, stLock.st_ino);
    EXPECT_EQ(8u, ReadFileBytes(rc).size());
    UnlockFile(fdLock);

    /* A file still to be made: its directory is locked, and nothing is
     * left there. */
    unlink(rc.c_str());
    ASSERT_EQ(1, Lock(rc, 0, &fdLock));
    EXPECT_EQ(0, Lock(rc, 0, &fdOther));
    UnlockFile(fdLock);
    EXPECT_EQ(0, Entries());
}

TEST_F(ConfigFile, AMissingFileAnUnreadableOneAndAFailedReadAreToldApart)
{
    WriteFileBytes(rc, Sample(kTime));
    gFailRead = "/morvrc";
    MorvSnapshot snap;
    EXPECT_EQ(0, SnapshotFile(rc.c_str(), 1, &snap));
    gFailRead.clear();
    EXPECT_EQ(EIO, snap.iErrno);
    unlink(rc.c_str());
    int iStatus = RunInChild([&] {
        alarm(20); /* an open that waits for a FIFO's writer ends here */
        MorvSnapshot missing, fifo;
        int iFailed = SnapshotFile(rc.c_str(), 1, &missing) != 0 || missing.iErrno != ENOENT;
        mkfifo(rc.c_str(), 0600);
        iFailed |= SnapshotMatches(rc.c_str(), &missing) << 1;
        iFailed |= (SnapshotFile(rc.c_str(), 1, &fifo) != 0 || !SnapshotMatches(rc.c_str(), &fifo)) << 2;
        unlink(rc.c_str());
        iFailed |= SnapshotMatches(rc.c_str(), &fifo) << 3;
        exit(iFailed);
    });
    EXPECT_EQ(0, iStatus);
}

/* ---- Following the file ---------------------------------------------- */

TEST_F(ConfigFile, AFileReadBesideTheStoreLeavesTheStoreAsItWas)
{
    Read(Sample(kTime));
    char *psAway = psAwayPostfix;
    MorvValues before, file, after;
    ASSERT_EQ(1, TakeStoreValues(&before));
    MorvSnapshot snap;
    WriteFileBytes(rc, InitialV38());
    ASSERT_EQ(1, SnapshotFile(rc.c_str(), 1, &snap));
    MorvLoadReport report;
    ASSERT_EQ(1, TakeFileValues(&snap, 1, &file, &report));
    ASSERT_EQ(1, TakeStoreValues(&after));
    EXPECT_EQ(MORV_WHOLE, report.eOutcome);

    /* The store keeps its values and its very texts, which the editor's
     * catalogue rows point at. */
    EXPECT_EQ(psAway, psAwayPostfix);
    EXPECT_STREQ("|away", psAwayPostfix);
    ASSERT_EQ(before.iItems, after.iItems);
    for (int k = 0; k < before.iItems; k++)
        EXPECT_STREQ(before.apsPlain[k], after.apsPlain[k]) << k;

    /* The file's values, the text defaults installed, named as diff does;
     * the language and pipe command that it stores empty keep the store's,
     * as a reading into the store would. */
    std::vector<std::string> differences;
    for (int k = 0; k < file.iItems; k++) {
        char ac[160];
        FormatDifference(&file, &after, k, ac, sizeof ac);
        if (ac[0] != '\0')
            differences.push_back(ac);
    }
    EXPECT_EQ((std::vector<std::string>{"iMaxCloneCount: 10 -> 33", "tCTCPFloodTimer: 1 -> 7",
                                        "psFlagChanJoinBeep[0]: absent -> \"#a\"",
                                        "psFlagChanJoinBeep[1]: absent -> \"b.wav\"",
                                        "psPrefixOutput: absent -> \"pre\"",
                                        "psAwayPostfix: \"_AWAY\" -> \"|away\"",
                                        "psAudioDevice: absent -> \"OSS\"",
                                        "psIdentifyCommand: absent -> \"/ID\""}),
              differences);
    FreeValues(&before);
    FreeValues(&file);
    FreeValues(&after);
    FreeSnapshot(&snap);
}

TEST_F(ConfigFile, ALookAfterAQuietPeriodWaitsForTheFileToBeWhole)
{
    WriteFileBytes(rc, Sample(kTime));
    MorvSnapshot known, fresh;
    ASSERT_EQ(1, SnapshotFile(rc.c_str(), 1, &known));
    MorvFollow follow = {0};
    EXPECT_EQ(FOLLOW_SAME, LookAtFile(&follow, rc.c_str(), &known, nullptr, &fresh));

    /* Half written: looked at again, and reported only after two seconds. */
    ByteVector sample = Sample(kTime);
    ByteVector half(sample.begin(), sample.begin() + 50);
    WriteFileBytes(rc, half);
    EXPECT_EQ(FOLLOW_RETRY, LookAtFile(&follow, rc.c_str(), &known, nullptr, &fresh));
    follow.llNotWholeSince -= 1500;
    EXPECT_EQ(FOLLOW_RETRY, LookAtFile(&follow, rc.c_str(), &known, nullptr, &fresh));
    /* Back to the known bytes, then half written again: two seconds anew. */
    WriteFileBytes(rc, sample);
    EXPECT_EQ(FOLLOW_SAME, LookAtFile(&follow, rc.c_str(), &known, nullptr, &fresh));
    WriteFileBytes(rc, half);
    EXPECT_EQ(FOLLOW_RETRY, LookAtFile(&follow, rc.c_str(), &known, nullptr, &fresh));
    follow.llNotWholeSince -= 1000;
    EXPECT_EQ(FOLLOW_RETRY, LookAtFile(&follow, rc.c_str(), &known, nullptr, &fresh));
    follow.llNotWholeSince -= 1000;
    ASSERT_EQ(FOLLOW_NOT_WHOLE, LookAtFile(&follow, rc.c_str(), &known, nullptr, &fresh));
    EXPECT_EQ(half, ByteVector(fresh.pBytes, fresh.pBytes + fresh.uBytes));
    FreeSnapshot(&fresh);

    /* Whole: a change, once; what was reacted to is not a change again. */
    WriteFileBytes(rc, InitialV38());
    ASSERT_EQ(FOLLOW_CHANGED, LookAtFile(&follow, rc.c_str(), &known, nullptr, &fresh));
    MorvSnapshot reacted = fresh;
    EXPECT_EQ(FOLLOW_SAME, LookAtFile(&follow, rc.c_str(), &known, &reacted, &fresh));
    EXPECT_EQ(0, follow.llNotWholeSince);
    unlink(rc.c_str());
    EXPECT_EQ(FOLLOW_REMOVED, LookAtFile(&follow, rc.c_str(), &known, &reacted, &fresh));
    FreeSnapshot(&reacted);
    FreeSnapshot(&known);
}

TEST_F(ConfigFile, TheDirectoryWatchTellsTheFileFromItsNeighbours)
{
    std::string sub = dir / "sub";
    ASSERT_EQ(0, mkdir(sub.c_str(), 0755));
    MorvWatch watch;
    ASSERT_EQ(1, StartDirectoryWatch((sub + "/morvrc").c_str(), &watch));
    WriteFileBytes(sub + "/morvrc.lock", {});
    EXPECT_EQ(0, TakeWatchEvents(&watch));
    WriteFileBytes(sub + "/morvrc.new", InitialV38());
    ASSERT_EQ(0, rename((sub + "/morvrc.new").c_str(), (sub + "/morvrc").c_str()));
    EXPECT_EQ(1, TakeWatchEvents(&watch));
    EXPECT_EQ(0, TakeWatchEvents(&watch));
    /* Removed while a file in it is held open, which keeps the
     * directory's own watch from hearing of it: told from above. */
    int fdHeld = open((sub + "/morvrc.lock").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_LE(0, fdHeld);
    unlink((sub + "/morvrc").c_str());
    unlink((sub + "/morvrc.lock").c_str());
    EXPECT_EQ(1, TakeWatchEvents(&watch));
    ASSERT_EQ(0, rmdir(sub.c_str()));
    EXPECT_EQ(1, TakeWatchEvents(&watch));
    /* Waited for from above, and followed again once back. */
    ASSERT_EQ(0, mkdir(sub.c_str(), 0755));
    EXPECT_EQ(1, TakeWatchEvents(&watch));
    WriteFileBytes(sub + "/morvrc", InitialV38());
    EXPECT_EQ(1, TakeWatchEvents(&watch));
    close(fdHeld);
    EndDirectoryWatch(&watch);
}

}  // namespace
