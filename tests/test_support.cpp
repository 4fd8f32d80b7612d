/* Helpers shared by the unit tests. */
#include "tests/test_support.h"

#include "settings/disk/snapshot.h"
#include "settings/disk/walk.h"
#include "settings/store/catalogue.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

ScratchDir::ScratchDir()
{
    char const *psTmp = getenv("TMPDIR");
    std::string tmpl = std::string(psTmp != nullptr && *psTmp != '\0' ? psTmp : "/tmp") + "/morv-test.XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) {
        perror("mkdtemp");
        abort();
    }
    path_ = buf.data();
}

static int RemoveEntry(char const *psPath, struct stat const *, int, struct FTW *)
{
    /* Directories that a test made unwritable are opened up again first. */
    chmod(psPath, 0700);
    return remove(psPath);
}

ScratchDir::~ScratchDir()
{
    chmod(path_.c_str(), 0700);
    nftw(path_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void WriteFileBytes(std::string const &path, ByteVector const &bytes)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (f == nullptr) {
        perror(path.c_str());
        abort();
    }
    if (!bytes.empty())
        fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

void WriteFileText(std::string const &path, std::string const &text)
{
    WriteFileBytes(path, ByteVector(text.begin(), text.end()));
}

ByteVector ReadFileBytes(std::string const &path)
{
    ByteVector v;
    FILE *f = fopen(path.c_str(), "rb");
    if (f == nullptr)
        return v;
    unsigned char ab[4096];
    size_t n;
    while ((n = fread(ab, 1, sizeof ab, f)) > 0)
        v.insert(v.end(), ab, ab + n);
    fclose(f);
    return v;
}

std::string ReadFileText(std::string const &path)
{
    ByteVector v = ReadFileBytes(path);
    return std::string(v.begin(), v.end());
}

bool FileExists(std::string const &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

/* The exit status of a child that waitpid reported as iStatus: its own,
 * or 128 plus the signal that ended it, as a shell gives it. */
static int ExitStatusOf(int iStatus)
{
    return WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : 128 + WTERMSIG(iStatus);
}

/* Forks and, in the child, lets fnSetup arrange its descriptors and
 * environment, then executes argv.  Returns argv's exit status. */
static int RunArgv(std::vector<std::string> const &argv, std::function<void()> const &fnSetup)
{
    std::vector<std::string> args = argv;
    std::vector<char *> ap;
    for (std::string &s : args)
        ap.push_back(&s[0]);
    ap.push_back(nullptr);
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        fnSetup();
        execvp(ap[0], ap.data());
        _exit(127);
    }
    int iStatus = 0;
    waitpid(pid, &iStatus, 0);
    return ExitStatusOf(iStatus);
}

int RunInChild(std::function<void()> const &fn, std::string *pOutput)
{
    int aiPipe[2];
    if (pipe(aiPipe) != 0)
        abort();
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        close(aiPipe[0]);
        dup2(aiPipe[1], 1);
        close(aiPipe[1]);
        fn();
        fflush(stdout);
        _exit(0);
    }
    close(aiPipe[1]);
    std::string out;
    char ab[4096];
    ssize_t n;
    while ((n = read(aiPipe[0], ab, sizeof ab)) > 0)
        out.append(ab, (size_t)n);
    close(aiPipe[0]);
    int iStatus = 0;
    waitpid(pid, &iStatus, 0);
    if (pOutput != nullptr)
        *pOutput = out;
    return ExitStatusOf(iStatus);
}

ProgramResult RunProgram(std::vector<std::string> const &argv, std::string const &input,
                         std::string const &scratch, std::vector<std::string> const &env)
{
    std::string inPath = scratch + "/.stdin", outPath = scratch + "/.stdout",
                errPath = scratch + "/.stderr";
    WriteFileText(inPath, input);
    ProgramResult r;
    r.iStatus = RunArgv(argv, [&] {
        int fdIn = open(inPath.c_str(), O_RDONLY);
        int fdOut = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int fdErr = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fdIn < 0 || fdOut < 0 || fdErr < 0)
            _exit(126);
        dup2(fdIn, 0);
        dup2(fdOut, 1);
        dup2(fdErr, 2);
        for (std::string const &e : env)
            putenv(strdup(e.c_str()));
    });
    r.out = ReadFileText(outPath);
    r.err = ReadFileText(errPath);
    unlink(inPath.c_str());
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    return r;
}

/* Runs argv with its output thrown away.  Returns its exit status. */
static int RunQuietly(std::vector<std::string> const &argv)
{
    return RunArgv(argv, [] {
        int fd = open("/dev/null", O_RDWR);
        dup2(fd, 0);
        dup2(fd, 1);
        dup2(fd, 2);
    });
}

int SnapshotMatches(char const *psPath, MorvSnapshot const *pSnap)
{
    MorvWalk walk;
    if (!WalkPath(psPath, &walk))
        return !pSnap->bPresent && errno == pSnap->iErrno;
    int bSame = WalkedFileMatches(&walk, pSnap);
    EndWalk(&walk);
    return bSame;
}

TestUser::TestUser(char const *psTag)
{
    if (geteuid() != 0)
        return;
    name_ = std::string("morv") + psTag + std::to_string(getpid());
    /* Another test program may hold the user database's lock a moment. */
    for (int iTry = 0; iTry < 50 && !bMade_; iTry++) {
        bMade_ = RunQuietly({"useradd", "-m", "-U", "-s", "/bin/sh", name_}) == 0;
        if (!bMade_)
            usleep(100 * 1000);
    }
    struct passwd const *pw = bMade_ ? getpwnam(name_.c_str()) : nullptr;
    if (pw == nullptr) {
        bMade_ = false;
        return;
    }
    uid_ = pw->pw_uid;
    gid_ = pw->pw_gid;
    home_ = pw->pw_dir;
}

TestUser::~TestUser()
{
    if (!bMade_)
        return;
    for (int iTry = 0; iTry < 50; iTry++) {
        if (RunQuietly({"userdel", "-r", "-f", name_}) == 0 || getpwnam(name_.c_str()) == nullptr)
            break;
        usleep(100 * 1000);
    }
}

std::vector<std::string> TestUser::AsUser() const
{
    return {"setpriv", "--reuid=" + std::to_string(uid_), "--regid=" + std::to_string(gid_), "--clear-groups"};
}

std::vector<std::string> Lines(std::string const &s)
{
    std::vector<std::string> v;
    std::istringstream in(s);
    std::string line;
    while (std::getline(in, line))
        v.push_back(line);
    return v;
}

bool Contains(std::string const &s, std::string const &part) { return s.find(part) != std::string::npos; }

std::string Bits(int iTimeBytes) { return iTimeBytes == 4 ? "32" : "64"; }

int ToolTestMain(int argc, char **argv, std::string *pTool, std::vector<std::string> *pRunner)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        fprintf(stderr, "usage: %s [gtest options] TOOL [RUNNER...]\n", argv[0]);
        return 2;
    }
    /* Absolute, so that a test may run the tool from another directory. */
    char *psTool = realpath(argv[1], nullptr);
    if (psTool == nullptr) {
        perror(argv[1]);
        return 2;
    }
    *pTool = psTool;
    free(psTool);
    pRunner->assign(argv + 2, argv + argc);
    return RUN_ALL_TESTS();
}

std::string Hex(ByteVector const &b)
{
    std::string s;
    char ac[4];
    for (size_t i = 0; i < b.size(); i++) {
        snprintf(ac, sizeof ac, "%02x", b[i]);
        s += ac;
        s += (i % 16 == 15) ? '\n' : ' ';
    }
    return s;
}

void ClearCatalogue()
{
    for (int i = 1; i <= CATALOGUE_ROWS; i++) {
        free(dvArray[i].psCommand);
        free(dvArray[i].psVariableName);
        free(dvArray[i].psDefault);
        memset(&dvArray[i], 0, sizeof dvArray[i]);
    }
}
