/* Helpers shared by the unit tests: scratch directories, whole-file I/O,
 * little-endian byte images written out by hand, and running a piece of
 * code in a child process. */
#ifndef MORV_TESTS_TEST_SUPPORT_H
#define MORV_TESTS_TEST_SUPPORT_H

#include <stdint.h>
#include <time.h>
#include <string>
#include <vector>
#include <functional>

typedef std::vector<unsigned char> ByteVector;

/* Builds a byte image field by field, little-endian. */
class Bytes {
  public:
    Bytes &i32(int32_t v) { return le((uint64_t)(uint32_t)v, 4); }
    Bytes &i64(int64_t v) { return le((uint64_t)v, 8); }
    /* A time field as this build writes it (4 or 8 bytes). */
    Bytes &time(int64_t v) { return le((uint64_t)v, (int)sizeof(time_t)); }
    Bytes &time_width(int64_t v, int iBytes) { return le((uint64_t)v, iBytes); }
    /* A text: its int32 length, then its bytes. */
    Bytes &text(std::string const &s) { i32((int32_t)s.size()); return raw(s); }
    Bytes &raw(std::string const &s) { v_.insert(v_.end(), s.begin(), s.end()); return *this; }
    Bytes &raw(ByteVector const &b) { v_.insert(v_.end(), b.begin(), b.end()); return *this; }
    ByteVector const &bytes() const { return v_; }
    size_t size() const { return v_.size(); }

  private:
    Bytes &le(uint64_t u, int n)
    {
        for (int i = 0; i < n; i++)
            v_.push_back((unsigned char)(u >> (8 * i)));
        return *this;
    }
    ByteVector v_;
};

/* A fresh directory under $TMPDIR (or /tmp), removed with its contents by
 * the destructor. */
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    std::string const &path() const { return path_; }
    std::string operator/(std::string const &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

void WriteFileBytes(std::string const &path, ByteVector const &bytes);
void WriteFileText(std::string const &path, std::string const &text);
/* The file's bytes; an empty vector when it cannot be read. */
ByteVector ReadFileBytes(std::string const &path);
std::string ReadFileText(std::string const &path);
bool FileExists(std::string const &path);

/* Runs fn in a forked child and returns its exit status (or 128 + signal).
 * Standard output of the child is returned in *pOutput when not null. */
int RunInChild(std::function<void()> const &fn, std::string *pOutput = nullptr);

/* What a program left when it ended: its exit status (or 128 + signal),
 * standard output and standard error. */
struct ProgramResult {
    int iStatus;
    std::string out;
    std::string err;
};

/* Runs argv (argv[0] is looked up in PATH) with input on standard input
 * and the "NAME=value" settings of env added to its environment; its output
 * and error pass through files in the directory scratch. */
ProgramResult RunProgram(std::vector<std::string> const &argv, std::string const &input,
                         std::string const &scratch, std::vector<std::string> const &env = {});

/* The main of a test that runs morvrc_tool, started as "TEST [gtest
 * options] TOOL [RUNNER...]": sets *pTool to the tool's absolute path and
 * *pRunner to the command that starts this build's programs, then runs
 * every test.  Returns the exit status: 2 for a wrong command line. */
int ToolTestMain(int argc, char **argv, std::string *pTool, std::vector<std::string> *pRunner);

struct MorvSnapshot;

/* Whether what is at psPath now is as *pSnap saw it (WalkedFileMatches of
 * one walk of it); a walk refused with *pSnap's own errno counts too. */
int SnapshotMatches(char const *psPath, struct MorvSnapshot const *pSnap);

/* A user made for a test, with a home of its own (useradd -m) and a group
 * of its own, removed with its home by the destructor, so also after a
 * test that fails.  Only root makes one: made() tells whether it was. */
class TestUser {
  public:
    /* psTag: a few lowercase letters that tell the test's users apart. */
    explicit TestUser(char const *psTag);
    ~TestUser();
    bool made() const { return bMade_; }
    std::string const &name() const { return name_; }
    std::string const &home() const { return home_; }
    unsigned uid() const { return uid_; }
    unsigned gid() const { return gid_; }
    /* "setpriv ..." that runs a program as this user, with its own group
     * alone. */
    std::vector<std::string> AsUser() const;

  private:
    bool bMade_ = false;
    std::string name_, home_;
    unsigned uid_ = 0, gid_ = 0;
};

/* Frees the catalogue's texts and empties every row, as before loading. */
void ClearCatalogue();

/* The lines of s, without their line feeds. */
std::vector<std::string> Lines(std::string const &s);

/* Whether part occurs in s. */
bool Contains(std::string const &s, std::string const &part);

/* "32" or "64", as --bits takes a width of iTimeBytes (4 or 8). */
std::string Bits(int iTimeBytes);

/* Bytes shown as hex, for readable failure messages. */
std::string Hex(ByteVector const &b);

#endif
