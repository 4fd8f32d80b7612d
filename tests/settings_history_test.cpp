/* The local history of a morvrc: versions kept newest first under
 * $XDG_STATE_HOME in a private folder of the file's own, equal bytes kept
 * once, and the bounds on how many and how much. */
#include "settings/disk/history.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

#include <string>

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
    void Keep(ByteVector const &b, char const *psSaver = "morvrc_tool set")
    {
        char acWhy[512];
        ASSERT_EQ(1, KeepVersion(file.c_str(), b.data(), b.size(), psSaver, acWhy, sizeof acWhy)) << acWhy;
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
    ASSERT_EQ(1, ListVersions(file.c_str(), &list));
    ASSERT_EQ(3, list.iCount);
    EXPECT_STREQ("morvrc_tool reset", list.pVersions[0].acSaver);
    EXPECT_STREQ("morvane_setup save", list.pVersions[2].acSaver);
    EXPECT_EQ(90, list.pVersions[0].llSize);
    struct MorvSnapshot snap;
    ASSERT_EQ(1, ReadVersion(&list, &list.pVersions[2], &snap));
    EXPECT_EQ(Version(100, 1), ByteVector(snap.pBytes, snap.pBytes + snap.uBytes));
    FreeSnapshot(&snap);

    /* Named from the file's full path, private to the user. */
    std::string want = dir / "state/morvane/history/";
    for (char c : file) want += c == '/' ? '!' : c;
    EXPECT_EQ(want, list.psFolder);
    struct stat st;
    ASSERT_EQ(0, stat(list.psFolder, &st));
    EXPECT_EQ(0700u, st.st_mode & 0777);
    FreeVersionList(&list);

    /* Another file has a history of its own. */
    std::string other = dir / "other";
    ASSERT_EQ(1, ListVersions(other.c_str(), &list));
    EXPECT_EQ(0, list.iCount);
    FreeVersionList(&list);
}

TEST_F(History, KeepsAtMostFiftyVersionsAndTwoMebibytes)
{
    for (int i = 0; i < 55; i++) Keep(Version(10, i));
    struct MorvVersionList list;
    ASSERT_EQ(1, ListVersions(file.c_str(), &list));
    EXPECT_EQ(MORV_HISTORY_MAX_VERSIONS, list.iCount);
    struct MorvSnapshot snap;
    ASSERT_EQ(1, ReadVersion(&list, &list.pVersions[0], &snap));
    EXPECT_EQ(Version(10, 54), ByteVector(snap.pBytes, snap.pBytes + snap.uBytes));
    FreeSnapshot(&snap);
    FreeVersionList(&list);

    for (int i = 0; i < 12; i++) Keep(Version(300 * 1024, 100 + i));
    ASSERT_EQ(1, ListVersions(file.c_str(), &list));
    long long llBytes = 0;
    for (int i = 0; i < list.iCount; i++) llBytes += list.pVersions[i].llSize;
    EXPECT_LE(llBytes, MORV_HISTORY_MAX_BYTES);
    EXPECT_EQ(6, list.iCount);   /* six of 300 KiB fit in 2 MiB, a seventh does not */
    FreeVersionList(&list);
}
