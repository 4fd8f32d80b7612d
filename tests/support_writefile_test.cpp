/* The append writer: one file held open between calls with the same name,
 * closed on a name change or by the closing call, and its exact lines on
 * standard output.
 *
 * The held stream is a function static: every test starts and ends with the
 * closing call.  Whether the file is held open is read from the process's
 * open descriptors (/proc/self/fd). */
#include "support/function.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

/* A writable copy of a text, as the routine takes its text as char *. */
std::vector<char> Buffer(std::string const &s)
{
    return std::vector<char>(s.c_str(), s.c_str() + s.size() + 1);
}

/* Runs WriteFile and returns its result; *pOut receives what it printed. */
int Write(char const *psName, char const *psText, std::string *pOut)
{
    std::vector<char> text;
    if (psText != nullptr)
        text = Buffer(psText);
    testing::internal::CaptureStdout();
    int iResult = WriteFile(psName, psText != nullptr ? text.data() : nullptr);
    *pOut = testing::internal::GetCapturedStdout();
    return iResult;
}

std::string Address(void const *p)
{
    char ac[64];
    snprintf(ac, sizeof ac, "%p", p);
    return ac;
}

std::string OpeningLine(char const *psName)
{
    return std::string("  * Opening: ") + psName + " [" + Address(psName) + "]\n";
}

/* Checks that out is the closing line for psName, with the address of a
 * block of the routine's own (not the given name). */
void ExpectClosingLine(std::string const &out, char const *psName)
{
    std::string prefix = std::string("  * Closing: ") + psName + " [0x";
    ASSERT_EQ(prefix, out.substr(0, prefix.size())) << out;
    ASSERT_GE(out.size(), prefix.size() + 3) << out;
    EXPECT_EQ("]\n", out.substr(out.size() - 2)) << out;
    std::string hex = out.substr(prefix.size(), out.size() - 2 - prefix.size());
    EXPECT_EQ(std::string::npos, hex.find_first_not_of("0123456789abcdef")) << out;
    EXPECT_NE(Address(psName), "0x" + hex) << "the remembered name is a copy";
}

/* Closes whatever the routine holds; returns what it printed. */
std::string Close()
{
    std::string out;
    EXPECT_EQ(1, Write(nullptr, nullptr, &out));
    return out;
}

/* The number of this process's descriptors open on path. */
int OpenDescriptorsOn(std::string const &path)
{
    char acResolved[PATH_MAX];
    if (realpath(path.c_str(), acResolved) == nullptr)
        return 0;
    int iCount = 0;
    DIR *pDir = opendir("/proc/self/fd");
    if (pDir == nullptr) {
        ADD_FAILURE() << "cannot read /proc/self/fd";
        return -1;
    }
    struct dirent *pEntry;
    while ((pEntry = readdir(pDir)) != nullptr) {
        std::string link = std::string("/proc/self/fd/") + pEntry->d_name;
        char acTarget[PATH_MAX];
        ssize_t n = readlink(link.c_str(), acTarget, sizeof acTarget - 1);
        if (n <= 0)
            continue;
        acTarget[n] = '\0';
        if (std::string(acTarget) == acResolved)
            iCount++;
    }
    closedir(pDir);
    return iCount;
}

class WriteFileTest : public testing::Test {
  protected:
    void SetUp() override { Close(); }
    void TearDown() override { Close(); }
    ScratchDir dir_;
};

TEST_F(WriteFileTest, ClosingWithNothingOpenPrintsNothing)
{
    std::string out;
    EXPECT_EQ(1, Write(nullptr, nullptr, &out));
    EXPECT_EQ("", out);
    EXPECT_EQ(1, Write(nullptr, nullptr, &out));
    EXPECT_EQ("", out);
}

TEST_F(WriteFileTest, KeepsOneFileOpenAcrossCallsWithTheSameName)
{
    std::string path = dir_ / "log.txt";
    WriteFileText(path, "old\n");
    std::vector<char> name1 = Buffer(path);
    std::string out;

    /* The file is read before the capture of standard output ends, since
     * ending it flushes every stream. */
    std::vector<char> one = Buffer("one\n");
    testing::internal::CaptureStdout();
    int iResult = WriteFile(name1.data(), one.data());
    std::string content = ReadFileText(path);
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(1, iResult);
    EXPECT_EQ(OpeningLine(name1.data()), out);
    EXPECT_EQ("old\none\n", content) << "appended and flushed";
    EXPECT_EQ(1, OpenDescriptorsOn(path));

    /* Moved away, the file is still the one held open: a second call with
     * the same name writes into it rather than opening the name again. */
    std::string moved = dir_ / "moved.txt";
    ASSERT_EQ(0, rename(path.c_str(), moved.c_str()));
    std::vector<char> name2 = Buffer(path);
    EXPECT_EQ(1, Write(name2.data(), "two\n", &out));
    EXPECT_EQ(OpeningLine(name2.data()), out) << "printed on every call, with this call's name";
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ("old\none\ntwo\n", ReadFileText(moved));
    EXPECT_EQ(1, OpenDescriptorsOn(moved));

    out = Close();
    ExpectClosingLine(out, path.c_str());
    EXPECT_EQ(0, OpenDescriptorsOn(moved));
    EXPECT_EQ("", Close()) << "the name is forgotten after closing";
}

TEST_F(WriteFileTest, AnotherNameClosesTheFirstFile)
{
    std::string a = dir_ / "a.txt", b = dir_ / "b.txt";
    std::string out;
    EXPECT_EQ(1, Write(a.c_str(), "a1", &out));
    EXPECT_EQ(1, OpenDescriptorsOn(a));
    EXPECT_EQ(1, Write(b.c_str(), "b1", &out));
    EXPECT_EQ(OpeningLine(b.c_str()), out) << "the switch closes without a line";
    EXPECT_EQ(0, OpenDescriptorsOn(a));
    EXPECT_EQ(1, OpenDescriptorsOn(b));

    EXPECT_EQ(1, Write(a.c_str(), "a2", &out));
    EXPECT_EQ(0, OpenDescriptorsOn(b));
    EXPECT_EQ(1, OpenDescriptorsOn(a));
    EXPECT_EQ("a1a2", ReadFileText(a));
    EXPECT_EQ("b1", ReadFileText(b));
    ExpectClosingLine(Close(), a.c_str());
}

TEST_F(WriteFileTest, EmptyOrNullTextIsReportedButSucceeds)
{
    std::string path = dir_ / "empty.txt";
    std::string out;
    EXPECT_EQ(1, Write(path.c_str(), "", &out));
    EXPECT_EQ(OpeningLine(path.c_str()) + "WriteFile(" + path + ") : INTERNAL ERROR\n", out);
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ(1, Write(path.c_str(), nullptr, &out));
    EXPECT_EQ(OpeningLine(path.c_str()) + "WriteFile(" + path + ") : INTERNAL ERROR\n", out);
    EXPECT_EQ("", ReadFileText(path));
    EXPECT_EQ(1, OpenDescriptorsOn(path));
}

TEST_F(WriteFileTest, BadNamesAreRefusedAndTheOpenFileIsKept)
{
    std::string path = dir_ / "kept.txt";
    std::string out;
    ASSERT_EQ(1, Write(path.c_str(), "x", &out));
    EXPECT_EQ(0, Write("", "y", &out));
    EXPECT_EQ("ERROR: Bad File name.\n", out);
    EXPECT_EQ(0, Write(nullptr, "y", &out));
    EXPECT_EQ("ERROR: Bad File name.\n", out);
    EXPECT_EQ(0, Write("", nullptr, &out));
    EXPECT_EQ("ERROR: Bad File name.\n", out);
    EXPECT_EQ(1, OpenDescriptorsOn(path));
    EXPECT_EQ(1, Write(path.c_str(), "z", &out));
    EXPECT_EQ(OpeningLine(path.c_str()), out);
    EXPECT_EQ("xz", ReadFileText(path));
}

TEST_F(WriteFileTest, ANameThatCannotBeOpenedStaysRemembered)
{
    std::string dir = dir_ / "later";
    std::string path = dir + "/f.txt";
    std::string out;
    EXPECT_EQ(0, Write(path.c_str(), "x", &out));
    EXPECT_EQ("\nUnable to open file " + path + " ; error: No such file or directory .", out);

    /* Now the file could be made, but the name is not tried again. */
    ASSERT_EQ(0, mkdir(dir.c_str(), 0700));
    EXPECT_EQ(0, Write(path.c_str(), "y", &out));
    std::string prefix = "\nUnable to open file " + path + " ; error: ";
    EXPECT_EQ(prefix, out.substr(0, prefix.size()));
    EXPECT_EQ(" .", out.substr(out.size() - 2));
    EXPECT_FALSE(FileExists(path));

    /* Closing forgets it, and the next call opens it. */
    ExpectClosingLine(Close(), path.c_str());
    EXPECT_EQ(1, Write(path.c_str(), "z", &out));
    EXPECT_EQ(OpeningLine(path.c_str()), out);
    EXPECT_EQ("z", ReadFileText(path));

    /* Another name that cannot be opened: the held file is closed, and the
     * reason is that of this open. */
    EXPECT_EQ(0, Write(dir.c_str(), "w", &out));
    EXPECT_EQ("\nUnable to open file " + dir + " ; error: Is a directory .", out);
    EXPECT_EQ(0, OpenDescriptorsOn(path));
    EXPECT_EQ("z", ReadFileText(path));

    /* A third name after a failed one is opened. */
    EXPECT_EQ(1, Write(path.c_str(), "!", &out));
    EXPECT_EQ("z!", ReadFileText(path));

    /* A file that opens but takes nothing: the write is reported failed. */
    EXPECT_EQ(0, Write("/dev/full", "lost", &out));
    EXPECT_EQ(OpeningLine("/dev/full") + "\nUnable to write file /dev/full ; error: No space left on device .",
              out);
    ExpectClosingLine(Close(), "/dev/full");
}

}  // namespace
