/* The local history of a morvrc: versions kept newest first under
 * $XDG_STATE_HOME in a private folder of the file's own, one folder per
 * file whatever its name, equal bytes kept once, the bounds on how many and
 * how much, and an order that no clock step changes. */
#include "settings/disk/history.h"
#include "settings/disk/walk.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <string>

/* What the wall clock is moved by, in seconds (the test program is linked
 * with --wrap for clock_gettime), as an administrator or NTP steps it. */
static long long gllClockStep = 0;

extern "C" int __real_clock_gettime(clockid_t iClock, struct timespec *pts);

extern "C" int __wrap_clock_gettime(clockid_t iClock, struct timespec *pts)
{
    int iResult = __real_clock_gettime(iClock, pts);
    if (iResult == 0 && iClock == CLOCK_REALTIME)
        pts->tv_sec += (time_t)gllClockStep;
    return iResult;
}

static ByteVector Version(size_t uSize, int iSeed)
{
    ByteVector b(uSize);
    for (size_t i = 0; i < uSize; i++) b[i] = (unsigned char)(i * 7 + (size_t)iSeed);
    return b;
}

class History : public ::testing::Test {
  protected:
    void SetUp() override
    {
        setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
        file = dir / "morvrc";
        WriteFileText(file, "x");
    }
    void TearDown() override { gllClockStep = 0; }
    void Keep(ByteVector const &b, char const *psSaver = "morvrc_tool set", std::string const &path = "")
    {
        char acWhy[512];
        MorvWalk walk;
        ASSERT_EQ(1, WalkPath((path.empty() ? file : path).c_str(), &walk));
        int iKept = KeepVersion(&walk, b.data(), b.size(), psSaver, acWhy, sizeof acWhy);
        EndWalk(&walk);
        ASSERT_EQ(1, iKept) << acWhy;
    }
    /* The versions of path (the file by default) into *pList. */
    void List(MorvVersionList *pList, std::string const &path = "")
    {
        MorvWalk walk;
        ASSERT_EQ(1, WalkPath((path.empty() ? file : path).c_str(), &walk));
        int iListed = ListVersions(&walk, pList);
        EndWalk(&walk);
        ASSERT_EQ(1, iListed);
    }
    /* The bytes of version n (1: the newest) of *pList. */
    ByteVector Read(MorvVersionList const *pList, int n)
    {
        MorvSnapshot snap;
        if (n > pList->iCount || !ReadVersion(pList, &pList->pVersions[n - 1], &snap))
            return ByteVector();
        ByteVector b(snap.pBytes, snap.pBytes + snap.uBytes);
        FreeSnapshot(&snap);
        return b;
    }
    ScratchDir dir;
    std::string file;
};

TEST_F(History, KeepsVersionsNewestFirstInAPrivateFolderOfTheFile)
{
    Keep(Version(100, 1), "morvane_setup save");
    Keep(Version(100, 2));
    Keep(Version(100, 2));   /* the same bytes again: nothing new */
    Keep(Version(90, 3), "morvrc_tool reset");

    struct MorvVersionList list;
    List(&list);
    ASSERT_EQ(3, list.iCount);
    EXPECT_STREQ("morvrc_tool reset", list.pVersions[0].acSaver);
    EXPECT_STREQ("morvane_setup save", list.pVersions[2].acSaver);
    EXPECT_EQ(90, list.pVersions[0].llSize);
    EXPECT_EQ(Version(100, 1), Read(&list, 3));

    /* Named from the file's full path, private to the user. */
    std::string want = dir / "state/morvane/history/";
    for (char c : file) want += c == '/' ? '!' : c;
    EXPECT_EQ(want, list.psFolder);
    struct stat st;
    ASSERT_EQ(0, stat(list.psFolder, &st));
    EXPECT_EQ(0700u, st.st_mode & 0777);
    FreeVersionList(&list);

    /* Another file has a history of its own, even one whose name an
     * escaping of '/' alone would confuse with it. */
    std::string other = dir / "other";
    List(&list, other);
    EXPECT_EQ(0, list.iCount);
    FreeVersionList(&list);
    std::string a = dir / "x/!y", b = dir / "x!/y";
    for (std::string const &d : {dir / "x", a, dir / "x!", b})
        ASSERT_EQ(0, mkdir(d.c_str(), 0700));
    Keep(Version(10, 40), "morvrc_tool set", a + "/morvrc");
    Keep(Version(10, 41), "morvrc_tool set", b + "/morvrc");
    for (int k = 0; k < 2; k++) {
        List(&list, (k == 0 ? a : b) + "/morvrc");
        EXPECT_EQ(1, list.iCount) << list.psFolder;
        EXPECT_EQ(Version(10, 40 + k), Read(&list, 1));
        FreeVersionList(&list);
    }
    /* A path too long for one folder name goes on in folders below it. */
    std::string deep = dir.path();
    while (deep.size() < 600) {
        deep += "/" + std::string(90, 'd');
        ASSERT_EQ(0, mkdir(deep.c_str(), 0700));
    }
    Keep(Version(10, 50), "morvrc_tool set", deep + "/morvrc");
    List(&list, deep + "/morvrc");
    EXPECT_EQ(1, list.iCount);
    EXPECT_EQ(Version(10, 50), Read(&list, 1));
    EXPECT_NE(std::string::npos, std::string(list.psFolder).find("+/+")) << list.psFolder;
    FreeVersionList(&list);
}

TEST_F(History, KeepsAtMostFiftyVersionsAndTwoMebibytesTheNewestWhateverTheClock)
{
    /* The last five kept after the clock stepped back an hour: the newest
     * is still the last kept, and it is no version the bound removes. */
    for (int i = 0; i < 55; i++) {
        gllClockStep = i < 50 ? 0 : -3600;
        Keep(Version(10, i));
    }
    struct MorvVersionList list;
    List(&list);
    EXPECT_EQ(MORV_HISTORY_MAX_VERSIONS, list.iCount);
    for (int n = 1; n <= 6; n++)
        EXPECT_EQ(Version(10, 55 - n), Read(&list, n)) << n;
    /* And forward a day: the older ones still come after. */
    gllClockStep = 86400;
    Keep(Version(10, 99));
    FreeVersionList(&list);
    List(&list);
    EXPECT_EQ(Version(10, 99), Read(&list, 1));
    EXPECT_EQ(Version(10, 54), Read(&list, 2));
    FreeVersionList(&list);

    for (int i = 0; i < 12; i++) Keep(Version(300 * 1024, 100 + i));
    List(&list);
    long long llBytes = 0;
    for (int i = 0; i < list.iCount; i++) llBytes += list.pVersions[i].llSize;
    EXPECT_LE(llBytes, MORV_HISTORY_MAX_BYTES);
    EXPECT_EQ(6, list.iCount);   /* six of 300 KiB fit in 2 MiB, a seventh does not */
    FreeVersionList(&list);
}
