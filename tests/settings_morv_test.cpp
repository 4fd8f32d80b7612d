/* The configuration file: exact bytes on this build's width, the version
 * cut-offs and text defaults of the reader, the pair rules, damaged files,
 * and what each reading finds, at which width. */
#include "settings/store/morv.h"
#include "settings/morvrc/morvrc.h"
#include "tests/settings_images.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

TEST_F(ConfigFile, InitialImageHasTheDocumentedSize)
{
    EXPECT_EQ(kTime == 8 ? 312u : 300u, InitialV38().size());
}

TEST_F(ConfigFile, WriterProducesExactBytes)
{
    ASSERT_EQ(1, WriteSetup());
    ByteVector got = ReadFileBytes(rc);
    ByteVector want = InitialV38();
    EXPECT_EQ(want, got) << "want\n" << Hex(want) << "\ngot\n" << Hex(got);
    ASSERT_GE(got.size(), 4u);
    EXPECT_EQ(0x26, got[0]);
    EXPECT_EQ(0, got[1] | got[2] | got[3]);
}

TEST_F(ConfigFile, WriterStoresTextsWithoutTerminatorAndPairsOnlyWhenComplete)
{
    psAwayPostfix = strdup("_AWAY");
    psFlagChanJoinBeep[0] = strdup("#a");   /* partner absent: pair not stored */
    psFlagChanModBeep[0] = strdup("xy");
    psFlagChanModBeep[1] = strdup("");      /* present, empty second text */
    psPrefixOutput = strdup("");            /* present but empty: length 0 */
    tMinSecondSent = -2;
    ASSERT_EQ(1, WriteSetup());

    Bytes b;
    b.i32(38);
    b.i32(0).i32(0).i32(1).i32(0);
    b.i32(1).i32(1).i32(10).i32(1).i32(1).i32(1).i32(1).i32(10).i32(1);
    b.time(1).i32(1).time(6).i32(3).time(-2).i32(0);
    b.i32(0);                                  /* join pair */
    b.i32(2).raw("xy").i32(0);                 /* mod pair */
    b.i32(0);                                  /* word pair */
    b.i32(0).i32(0);
    InitialMiddle(b);
    b.i32(0);
    b.raw(ByteVector{0x05, 0x00, 0x00, 0x00, '_', 'A', 'W', 'A', 'Y'});
    b.i32(1).i32(0).i32(0).i32(256).i32(0);
    InitialTail(b);
    ByteVector got = ReadFileBytes(rc);
    EXPECT_EQ(b.bytes(), got) << Hex(got);

    /* Read back: the lone text is lost, the empty first text of a pair
     * cannot be told from an absent pair, the empty second text survives. */
    ResetSettings();
    ReadSetup(nullptr);
    EXPECT_EQ(nullptr, psFlagChanJoinBeep[0]);
    EXPECT_STREQ("xy", psFlagChanModBeep[0]);
    ASSERT_NE(nullptr, psFlagChanModBeep[1]);
    EXPECT_STREQ("", psFlagChanModBeep[1]);
    EXPECT_EQ(nullptr, psPrefixOutput);
    EXPECT_EQ((time_t)-2, tMinSecondSent);
}

TEST_F(ConfigFile, PairWithEmptyFirstTextIsStoredAsAbsent)
{
    psFlagChanWordBeep[0] = strdup("");
    psFlagChanWordBeep[1] = strdup("word");
    psPostfixOutput = strdup("after");
    ASSERT_EQ(1, WriteSetup());
    ResetSettings();
    ReadSetup(nullptr);
    EXPECT_EQ(nullptr, psFlagChanWordBeep[0]);
    EXPECT_EQ(nullptr, psFlagChanWordBeep[1]);
    /* The reader did not lose its place: the next text is intact. */
    EXPECT_STREQ("after", psPostfixOutput);
}

TEST_F(ConfigFile, RoundTripKeepsEveryValue)
{
    int iSeed = 1000;
    for (int i = 0; i < MORV_FIELD_COUNT; i++) {
        MorvField const &f = aMorvFields[i];
        switch (f.eKind) {
        case MFK_INT32:
            *(int *)f.pSetting = -(iSeed++);
            break;
        case MFK_TIME:
            *(time_t *)f.pSetting = (time_t)(kTime == 8 ? 0x123456789LL + iSeed++ : iSeed++);
            break;
        case MFK_INT32_ARRAY:
            for (int k = 0; k < 19; k++)
                ((int *)f.pSetting)[k] = iSeed++;
            break;
        case MFK_TEXT:
            *(char **)f.pSetting = strdup(("text " + std::to_string(iSeed++)).c_str());
            break;
        case MFK_TEXT_PAIR:
            ((char **)f.pSetting)[0] = strdup(("first " + std::to_string(iSeed++)).c_str());
            ((char **)f.pSetting)[1] = strdup(("second " + std::to_string(iSeed++)).c_str());
            break;
        }
    }
    ASSERT_EQ(1, WriteSetup());
    ByteVector first = ReadFileBytes(rc);
    ResetSettings();
    MorvReadInfo info;
    ASSERT_EQ(MORV_READ_OK, DecodeSetup(first.data(), first.size(), kTime, &info));
    EXPECT_EQ((long long)first.size(), info.llConsumed);
    ASSERT_EQ(1, WriteSetup());
    EXPECT_EQ(first, ReadFileBytes(rc));
    EXPECT_EQ(-1000, iFlagDebugMode);
    EXPECT_STREQ("second 1020", psFlagChanJoinBeep[1]);
}

TEST_F(ConfigFile, MissingFileGivesInitialValuesAndAllTextDefaults)
{
    iMaxCloneCount = 77;  /* a value from before: start-up never has one */
    ResetSettings();
    ReadSetup(nullptr);
    EXPECT_EQ(10, iMaxCloneCount);
    EXPECT_EQ(256, iMaxMessageChar);
    EXPECT_EQ(0, iFlagParserMode[18]);
    EXPECT_EQ(1, iFlagParserMode[17]);
    EXPECT_STREQ("italiano", psMessageLanguage);
    EXPECT_STREQ("_AWAY", psAwayPostfix);
    EXPECT_STREQ("/ECHO ", psPipeCommand);
    EXPECT_STREQ("ALSA", psAudioDevice);
    EXPECT_STREQ("/MSG NickServ Identify", psIdentifyCommand);
    EXPECT_EQ(nullptr, psFlagChanJoinBeep[0]);
    EXPECT_EQ(nullptr, psFlagChanWordBeep[1]);
    EXPECT_EQ(nullptr, psPrefixOutput);
    EXPECT_EQ(nullptr, psPostfixOutput);
}

TEST_F(ConfigFile, TooOldFilesReadNothingAndGetOnlyTheFinalDefaults)
{
    ByteVector aCases[] = {
        ByteVector{},                                   /* empty */
        Bytes().i32(13).i32(5).bytes(),                 /* version 13 */
        ByteVector{0xff, 0xff, 0xff, 0xff, 5, 0, 0, 0}, /* version -1 */
        ByteVector{0x26, 0x00},                         /* version word cut short */
    };
    for (ByteVector const &b : aCases) {
        ResetSettings();
        Read(b);
        SCOPED_TRACE(Hex(b));
        EXPECT_EQ(0, iFlagDebugMode);
        EXPECT_STREQ("", psPipeCommand);
        EXPECT_EQ(nullptr, psAudioDevice);
        EXPECT_EQ(nullptr, psIdentifyCommand);
        EXPECT_STREQ("italiano", psMessageLanguage);
        EXPECT_STREQ("_AWAY", psAwayPostfix);
    }
}

TEST_F(ConfigFile, Version14StopsAfterIgnoreMessage)
{
    Bytes b;
    b.i32(14);
    b.i32(1).i32(2).i32(3).i32(4).i32(5).i32(6).i32(7).i32(8).i32(9).i32(10).i32(11).i32(12).i32(13);
    b.time(14).i32(15).time(16).i32(17).time(18).i32(19);
    b.i32(0).i32(0).i32(0).text("pre").text("post").i32(26);
    b.i32(99).i32(99); /* bytes a version-14 file does not define */
    iFlagMorvMessage = 5;
    psPipeCommand = strdup("old pipe");
    Read(b.bytes());
    EXPECT_EQ(1, iFlagDebugMode);
    EXPECT_EQ(13, iFlagCTCPAnswer);
    EXPECT_EQ((time_t)18, tMinSecondSent);
    EXPECT_EQ(19, iFlagTextFloodOutgoing);
    EXPECT_STREQ("pre", psPrefixOutput);
    EXPECT_STREQ("post", psPostfixOutput);
    EXPECT_EQ(26, iFlagIgnoreMessage);
    EXPECT_EQ(5, iFlagMorvMessage);
    EXPECT_EQ(256, iMaxMessageChar);
    EXPECT_STREQ("/ECHO ", psPipeCommand);
    EXPECT_STREQ("ALSA", psAudioDevice);
    EXPECT_STREQ("/MSG NickServ Identify", psIdentifyCommand);
}

TEST_F(ConfigFile, Version21KeepsStoredPipeCommandAndDefaultsTheRest)
{
    Bytes b;
    b.i32(21);
    InitialHead(b);
    b.i32(0).i32(0).i32(0).i32(0).i32(0);
    InitialMiddle(b);
    b.text("english").text("-off").i32(0).text("/SAY ");
    Read(b.bytes());
    EXPECT_STREQ("english", psMessageLanguage);
    EXPECT_STREQ("-off", psAwayPostfix);
    EXPECT_EQ(0, iFlagAwaySystem);
    EXPECT_STREQ("/SAY ", psPipeCommand);
    EXPECT_STREQ("ALSA", psAudioDevice);
    EXPECT_STREQ("/MSG NickServ Identify", psIdentifyCommand);
    EXPECT_EQ(256, iMaxMessageChar);
}

TEST_F(ConfigFile, Version40IsReadAsVersion38AndTheRestIgnored)
{
    ByteVector b = InitialV38();
    b[0] = 40;
    b.push_back(0x7f);
    b.push_back(0x01);
    iFlagDisableSHBM = 9;
    MorvReadInfo info;
    ASSERT_EQ(MORV_READ_OK, DecodeSetup(b.data(), b.size(), kTime, &info));
    EXPECT_EQ(40, info.iVersion);
    EXPECT_EQ((long long)b.size() - 2, info.llConsumed);
    EXPECT_EQ(0, iFlagDisableSHBM);
}

TEST_F(ConfigFile, PairRules)
{
    /* "abc" then a second length of 0: a present, empty second text. */
    Bytes b;
    b.i32(38);
    InitialHead(b);
    b.i32(3).raw("abc").i32(0);  /* join pair */
    b.i32(0);                    /* mod pair: a single 0, nothing after it */
    b.i32(1).raw("w").i32(2).raw("zz");
    b.text("P");
    Read(b.bytes());
    EXPECT_STREQ("abc", psFlagChanJoinBeep[0]);
    ASSERT_NE(nullptr, psFlagChanJoinBeep[1]);
    EXPECT_STREQ("", psFlagChanJoinBeep[1]);
    EXPECT_EQ(nullptr, psFlagChanModBeep[0]);
    EXPECT_EQ(nullptr, psFlagChanModBeep[1]);
    EXPECT_STREQ("w", psFlagChanWordBeep[0]);
    EXPECT_STREQ("zz", psFlagChanWordBeep[1]);
    EXPECT_STREQ("P", psPrefixOutput);
}

TEST_F(ConfigFile, EmptyTextRules)
{
    /* On a reload, length 0 keeps the language and the pipe command but
     * clears the other texts. */
    psMessageLanguage = strdup("english");
    psPipeCommand = strdup("/PIPE ");
    psAwayPostfix = strdup("|away");
    psAudioDevice = strdup("OSS");
    Read(InitialV38());
    EXPECT_STREQ("english", psMessageLanguage);
    EXPECT_STREQ("/PIPE ", psPipeCommand);
    EXPECT_STREQ("_AWAY", psAwayPostfix); /* cleared, then the final default */
    EXPECT_EQ(nullptr, psAudioDevice);
}

TEST_F(ConfigFile, TimeValuesBeyond32BitsSurviveOnWideBuilds)
{
    if (kTime != 8)
        GTEST_SKIP() << "time_t is 32 bits in this build";
    Bytes b;
    b.i32(38);
    b.i32(0).i32(0).i32(1).i32(0).i32(1).i32(1).i32(10).i32(1).i32(1).i32(1).i32(1).i32(10).i32(1);
    b.i64(0x100000005LL).i32(1).i64(-3).i32(3).i64(0x80000000LL).i32(0);
    ByteVector image = b.bytes();
    ByteVector rest = InitialV38();
    image.insert(image.end(), rest.begin() + 92, rest.end());
    Read(image);
    EXPECT_EQ((time_t)0x100000005LL, tCTCPFloodTimer);
    EXPECT_EQ((time_t)-3, tSoundCommandTimer);
    EXPECT_EQ((time_t)0x80000000LL, tMinSecondSent);
    /* Written back at full width (the texts after them now hold the
     * reader's defaults, so only the numeric head is compared). */
    ASSERT_EQ(1, WriteSetup());
    ByteVector written = ReadFileBytes(rc);
    ASSERT_GE(written.size(), 92u);
    EXPECT_EQ(ByteVector(image.begin(), image.begin() + 92), ByteVector(written.begin(), written.begin() + 92));
}

/* Damaged files: reading stops at the damage, what follows keeps its
 * value, and no setting is given bytes that are not in the file. */
class DamagedFile : public ConfigFile {
  protected:
    /* A version-38 image cut or spoiled from the first text on. */
    Bytes Head()
    {
        Bytes b;
        b.i32(38);
        b.i32(7).i32(0).i32(1).i32(0).i32(1).i32(1).i32(10).i32(1).i32(1).i32(1).i32(1).i32(10).i32(1);
        b.time(1).i32(1).time(6).i32(3).time(5).i32(0);
        return b;
    }
    /* Every int and time setting, and the first parser flag, by field. */
    std::vector<long long> NumericValues()
    {
        std::vector<long long> v;
        for (int i = 0; i < MORV_FIELD_COUNT; i++) {
            MorvField const &f = aMorvFields[i];
            if (f.eKind == MFK_INT32)
                v.push_back(*(int *)f.pSetting);
            else if (f.eKind == MFK_TIME)
                v.push_back((long long)*(time_t *)f.pSetting);
            else if (f.eKind == MFK_INT32_ARRAY)
                v.push_back(((int *)f.pSetting)[0]);
            else
                v.push_back(0);
        }
        return v;
    }
    MorvReadResult ReadInfo(ByteVector const &b, MorvReadInfo *pInfo)
    {
        return DecodeSetup(b.data(), b.size(), kTime, pInfo);
    }
};

TEST_F(DamagedFile, LengthPastTheEndLeavesTheTextAndEverythingAfterAlone)
{
    psFlagChanJoinBeep[0] = strdup("keep0");
    psFlagChanJoinBeep[1] = strdup("keep1");
    iFlagIgnoreMessage = 42;
    Bytes b = Head();
    b.i32(100).raw("short");
    MorvReadInfo info;
    EXPECT_EQ(MORV_READ_TRUNCATED, ReadInfo(b.bytes(), &info));
    EXPECT_EQ(21, info.iField);
    EXPECT_EQ(4 + 13 * 4 + 3 * kTime + 3 * 4, info.llOffset);
    EXPECT_EQ(7, iFlagDebugMode);
    EXPECT_STREQ("keep0", psFlagChanJoinBeep[0]);
    EXPECT_STREQ("keep1", psFlagChanJoinBeep[1]);
    EXPECT_EQ(42, iFlagIgnoreMessage);
}

TEST_F(DamagedFile, SecondTextOfAPairDamagedLeavesThePairAlone)
{
    psFlagChanJoinBeep[0] = strdup("keep0");
    Bytes negative = Head();
    negative.i32(2).raw("ab").i32(-5).raw("xxxxxxxx");
    Bytes past = Head();
    past.i32(2).raw("ab").i32(9).raw("x");
    Bytes cut = Head();
    cut.i32(2).raw("ab").raw(std::string("\x01\x00", 2));
    MorvReadResult aWant[] = {MORV_READ_BAD_LENGTH, MORV_READ_TRUNCATED, MORV_READ_TRUNCATED};
    ByteVector aImages[] = {negative.bytes(), past.bytes(), cut.bytes()};
    for (int i = 0; i < 3; i++) {
        MorvReadInfo info;
        EXPECT_EQ(aWant[i], ReadInfo(aImages[i], &info)) << i;
        EXPECT_EQ(21, info.iField);
        EXPECT_EQ(4 + 13 * 4 + 3 * kTime + 3 * 4 + 6, info.llOffset) << i;
        EXPECT_STREQ("keep0", psFlagChanJoinBeep[0]);
        EXPECT_EQ(nullptr, psFlagChanJoinBeep[1]);
    }
}

TEST_F(DamagedFile, FileEndingInsideAnyFieldChangesNothingFromThere)
{
    /* Cut a complete version-38 file of distinct values at every length
     * and check each setting is either its new value (read completely) or
     * its old one. */
    for (int i = 0; i < MORV_FIELD_COUNT; i++) {
        MorvField const &f = aMorvFields[i];
        if (f.eKind == MFK_INT32)
            *(int *)f.pSetting = 500 + i;
        else if (f.eKind == MFK_TIME)
            *(time_t *)f.pSetting = 500 + i;
        else if (f.eKind == MFK_TEXT)
            *(char **)f.pSetting = strdup("new text");
        else if (f.eKind == MFK_TEXT_PAIR) {
            ((char **)f.pSetting)[0] = strdup("new first");
            ((char **)f.pSetting)[1] = strdup("new second");
        } else
            for (int k = 0; k < 19; k++)
                ((int *)f.pSetting)[k] = 500 + k;
    }
    ASSERT_EQ(1, WriteSetup());
    ByteVector full = ReadFileBytes(rc);
    for (size_t uCut = 4; uCut < full.size(); uCut++) {
        ResetSettings();
        std::vector<long long> before = NumericValues();
        MorvReadInfo info;
        ByteVector part(full.begin(), full.begin() + (long)uCut);
        ASSERT_EQ(MORV_READ_TRUNCATED, ReadInfo(part, &info)) << uCut;
        ASSERT_LE(info.llConsumed, (long long)uCut);
        std::vector<long long> after = NumericValues();
        for (int i = 0; i < MORV_FIELD_COUNT; i++) {
            MorvField const &f = aMorvFields[i];
            bool bRead = f.iNumber < info.iField;
            SCOPED_TRACE(std::string(f.psName) + " cut at " + std::to_string(uCut));
            if (f.eKind == MFK_INT32 || f.eKind == MFK_TIME)
                EXPECT_EQ(bRead ? 500 + i : before[(size_t)i], after[(size_t)i]);
            else if (f.eKind == MFK_INT32_ARRAY)
                EXPECT_EQ(bRead ? 500 : before[(size_t)i], after[(size_t)i]);
            else if (f.eKind == MFK_TEXT && bRead)
                EXPECT_STREQ("new text", *(char **)f.pSetting);
            else if (f.eKind == MFK_TEXT)
                EXPECT_EQ(nullptr, *(char **)f.pSetting);
            else if (!bRead) {
                EXPECT_EQ(nullptr, ((char **)f.pSetting)[0]);
                EXPECT_EQ(nullptr, ((char **)f.pSetting)[1]);
            }
        }
    }
}

TEST_F(DamagedFile, HugeLengthsAreRejectedWithoutAllocating)
{
    Bytes b = Head();
    b.i32(0x7fffffff).raw("abc");
    MorvReadInfo info;
    EXPECT_EQ(MORV_READ_TRUNCATED, ReadInfo(b.bytes(), &info));
    EXPECT_EQ(nullptr, psFlagChanJoinBeep[0]);
    Bytes single = Head();
    single.i32(0).i32(0).i32(0).i32(-7).i32(0x7ffffff0).raw("x");
    EXPECT_EQ(MORV_READ_TRUNCATED, ReadInfo(single.bytes(), &info));
    EXPECT_EQ(25, info.iField);
}

TEST_F(DamagedFile, ScanAgreesWithTheReaderAndStoresNothing)
{
    /* A full image with texts, cut at every length and spoiled in a pair:
     * the scan reports what the reader reports, while the store keeps the
     * values it had before. */
    Bytes b = Head();
    b.i32(2).raw("ab").i32(3).raw("cde").i32(0).i32(1).raw("w").i32(0);
    b.text("pre").text("post");
    ByteVector full = b.bytes();
    ByteVector negative = Head().i32(2).raw("ab").i32(-1).raw("zzzz").bytes();
    std::vector<ByteVector> images{negative, full};
    for (size_t uCut = 0; uCut < full.size(); uCut++)
        images.push_back(ByteVector(full.begin(), full.begin() + (long)uCut));
    for (ByteVector const &image : images) {
        SCOPED_TRACE(Hex(image));
        ResetSettings();
        psPrefixOutput = strdup("before");
        iFlagDebugMode = 99;
        MorvReadInfo scan, read;
        MorvReadResult eScan = ScanSetup(image.data(), image.size(), kTime, &scan);
        EXPECT_STREQ("before", psPrefixOutput);
        EXPECT_EQ(99, iFlagDebugMode);
        EXPECT_EQ(nullptr, psFlagChanJoinBeep[0]);
        MorvReadResult eRead = DecodeSetup(image.data(), image.size(), kTime, &read);
        EXPECT_EQ(eRead, eScan);
        EXPECT_EQ(read.iVersion, scan.iVersion);
        EXPECT_EQ(read.iField, scan.iField);
        EXPECT_EQ(read.llOffset, scan.llOffset);
        EXPECT_EQ(read.llConsumed, scan.llConsumed);
        EXPECT_EQ(read.llSize, scan.llSize);
    }
}

TEST_F(DamagedFile, ScanTakesWideTimesThatThisBuildCannotHold)
{
    /* A 64-bit image whose first time needs 33 bits: every build can scan
     * it, only a build with a 64-bit time_t can read it. */
    Bytes b;
    b.i32(17);
    b.i32(0).i32(0).i32(1).i32(0).i32(1).i32(1).i32(10).i32(1).i32(1).i32(1).i32(1).i32(10).i32(1);
    b.i64(0x100000000LL).i32(1).i64(6).i32(3).i64(5).i32(0);
    b.i32(0).i32(0).i32(0).i32(0).i32(0);
    InitialMiddle(b);
    MorvReadInfo info;
    EXPECT_EQ(MORV_READ_OK, ScanSetup(b.bytes().data(), b.size(), 8, &info));
    EXPECT_EQ((long long)b.size(), info.llConsumed);
    EXPECT_EQ(1, (int)tCTCPFloodTimer);
    MorvReadResult eRead = DecodeSetup(b.bytes().data(), b.size(), 8, &info);
    if (kTime == 8) {
        EXPECT_EQ(MORV_READ_OK, eRead);
        EXPECT_EQ((time_t)0x100000000LL, tCTCPFloodTimer);
    } else {
        EXPECT_EQ(MORV_READ_TIME_RANGE, eRead);
        EXPECT_EQ(15, info.iField);
        EXPECT_EQ(56, info.llOffset);
    }
}

/* ---- The file as a whole: outcome, width, newer files ------------------ */

TEST_F(ConfigFile, EachReadSaysWhatItFoundAndAtWhichWidth)
{
    const int kOther = kTime == 8 ? 4 : 8;
    ByteVector native = Sample(kTime);
    /* Damage where a text's length word runs past the end. */
    ByteVector cutSecond(native.begin(), native.begin() + 4 + 13 * 4 + 3 * kTime + 3 * 4 + 6 + 2);
    /* The 19 parser flags come before the last nine integers. */
    long long llArrayAt = (long long)native.size() - 9 * 4 - 19 * 4;
    ByteVector cutArray(native.begin(), native.begin() + llArrayAt + 8);
    /* psIdentifyCommand's text, then field 39 onwards (148 bytes). */
    long long llIdentifyAt = (long long)native.size() - 148 - 7;
    Bytes big = Bytes().raw(ByteVector(native.begin(), native.begin() + llIdentifyAt));
    big.i32(3 * 1024 * 1024).raw(std::string(1024 * 1024 + 10, 'x'));
    /* Cut inside its last integer, the other width reads much further. */
    ByteVector otherCut = Sample(kOther);
    otherCut.resize(otherCut.size() - 2);
    ByteVector extra = Bytes().raw(native).raw("xyz").bytes();
    /* A newer file that holds exactly as much as is ever read. */
    ByteVector full = Sample(kTime, 40);
    full.resize(MORV_MAX_FILE, 'n');
    struct Case {
        char const *psWhat;
        ByteVector image;
        MorvOutcome eOutcome;
        int iTimeBytes;
        long long llDamageAt;
        char const *psDamaged;
        long long llExtra = 0;
    } aCases[] = {
        {"this width", native, MORV_WHOLE, kTime, 0, ""},
        {"the other width", Sample(kOther), MORV_WHOLE, kOther, 0, ""},
        {"empty", {}, MORV_TOO_OLD, kTime, 0, ""},
        {"version 13", Bytes().i32(13).raw(native).bytes(), MORV_TOO_OLD, kTime, 0, ""},
        {"second text of a pair", cutSecond, MORV_DAMAGED, kTime, 4 + 13 * 4 + 3 * kTime + 3 * 4 + 6,
         "psFlagChanJoinBeep[1]"},
        {"array", cutArray, MORV_DAMAGED, kTime, llArrayAt + 8, "iFlagParserMode[LUJOIN]"},
        {"text beyond 1 MiB", big.bytes(), MORV_DAMAGED, kTime, llIdentifyAt, "psIdentifyCommand"},
        {"the other width, cut", otherCut, MORV_DAMAGED, kOther, (long long)otherCut.size() - 2,
         "iFlagDisableSHBM"},
        {"bytes after the last setting", extra, MORV_WHOLE, kTime, 0, "", 3},
        {"exactly 1 MiB", full, MORV_WHOLE, kTime, 0, ""},
        {"longer than 1 MiB", Bytes().raw(native).raw(std::string(MORV_MAX_FILE, 'z')).bytes(),
         MORV_DAMAGED, kTime, MORV_MAX_FILE, "beyond 1 MiB"},
    };
    for (Case const &c : aCases) {
        SCOPED_TRACE(c.psWhat);
        ResetSettings();
        WriteFileBytes(rc, c.image);
        MorvLoadReport r;
        EXPECT_EQ(c.eOutcome, ReadSetupReport(&r));
        EXPECT_EQ(c.eOutcome, r.eOutcome);
        EXPECT_EQ(c.iTimeBytes, r.iTimeBytes);
        EXPECT_EQ(c.iTimeBytes != kTime, r.bOtherWidth);
        EXPECT_EQ(c.llDamageAt, r.llDamageAt);
        EXPECT_STREQ(c.psDamaged, r.acDamaged);
        EXPECT_EQ(c.llExtra, r.llExtra);
        EXPECT_EQ(c.llExtra != 0 ? (long long)native.size() : 0, r.llExtraAt);
        EXPECT_EQ(c.image.size() <= MORV_MAX_FILE ? c.image : ByteVector(c.image.begin(), c.image.begin() + MORV_MAX_FILE),
                  ByteVector(snMorvaneRC.pBytes, snMorvaneRC.pBytes + snMorvaneRC.uBytes));
        if (c.eOutcome == MORV_WHOLE || c.image == otherCut) {
            EXPECT_EQ(33, iMaxCloneCount);
            EXPECT_EQ((time_t)7, tCTCPFloodTimer);
            EXPECT_STREQ("b.wav", psFlagChanJoinBeep[1]);
            EXPECT_STREQ("/ID", psIdentifyCommand);
        }
    }
    /* A sound 64-bit file whose time value a 32-bit program cannot hold. */
    ByteVector wide = Sample(8);
    wide[60] = 1;
    ResetSettings();
    WriteFileBytes(rc, wide);
    MorvLoadReport r;
    ReadSetupReport(&r);
    EXPECT_EQ(kTime == 8 ? MORV_WHOLE : MORV_DAMAGED, r.eOutcome);
    EXPECT_EQ(kTime == 4, r.bTimeRange);
    EXPECT_EQ(kTime == 4 ? 0x100000007LL : 0, r.llTimeValue);
}

TEST_F(ConfigFile, AFifoADeviceOrADirectoryIsUnreadableWithoutWaiting)
{
    ASSERT_EQ(0, mkfifo(rc.c_str(), 0600));
    std::string device = dir / "device", folder = dir / "folder";
    ASSERT_EQ(0, symlink("/dev/zero", device.c_str()));
    ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
    int iStatus = RunInChild([&] {
        alarm(20); /* a read that waits for a writer ends here */
        int iUnreadable = 0;
        for (std::string const &path : {rc, device, folder}) {
            psMorvaneRC = const_cast<char *>(path.c_str());
            MorvLoadReport r;
            iUnreadable += ReadSetupReport(&r) == MORV_UNREADABLE && !snMorvaneRC.bPresent;
            iUnreadable += SnapshotMatches(psMorvaneRC, &snMorvaneRC);
        }
        exit(iUnreadable == 6 && strcmp(psAudioDevice, "ALSA") == 0 ? 0 : 1);
    });
    EXPECT_EQ(0, iStatus);
}

TEST_F(ConfigFile, ASaveKeepsTheWidthAndTheTailOfTheFileItRead)
{
    const int kOther = kTime == 8 ? 4 : 8;
    /* The other width, and a newer version with fields unknown here. */
    ByteVector other = Sample(kOther);
    ByteVector newer = Sample(kOther, 40);
    std::string tail("\x05\x00\x00\x00newer\x09\x00\x00\x00", 13);
    newer.insert(newer.end(), tail.begin(), tail.end());
    for (ByteVector const &file : {other, newer}) {
        ResetSettings();
        WriteFileBytes(rc, file);
        MorvLoadReport r;
        ASSERT_EQ(MORV_WHOLE, ReadSetupReport(&r));
        iMaxCloneCount = 34;
        ASSERT_EQ(1, WriteSetup());
        ByteVector want = file;
        want[28] = 34;
        EXPECT_EQ(want, ReadFileBytes(rc)) << Hex(ReadFileBytes(rc));
    }
    EXPECT_EQ(13u, lyMorvaneRC.uTail);
    EXPECT_EQ(40, lyMorvaneRC.iVersion);
    /* Load from Disk finding no file, then empty, forgets neither the width
     * nor the version nor the newer fields of the last good reading. */
    ByteVector want = newer;
    want[28] = 34;
    for (int iCase = 0; iCase < 2; iCase++) {
        if (iCase == 0)
            unlink(rc.c_str());
        else
            WriteFileBytes(rc, {});
        MorvLoadReport r;
        EXPECT_NE(MORV_WHOLE, ReadSetupReport(&r));
        ASSERT_EQ(1, WriteSetup());
        EXPECT_EQ(want, ReadFileBytes(rc)) << Hex(ReadFileBytes(rc));
    }
    /* Bytes after a version-38 file's last setting are not written back. */
    ByteVector native = Sample(kTime);
    WriteFileBytes(rc, Bytes().raw(native).raw("xyz").bytes());
    MorvLoadReport rExtra;
    ASSERT_EQ(MORV_WHOLE, ReadSetupReport(&rExtra));
    ASSERT_EQ(1, WriteSetup());
    EXPECT_EQ(native, ReadFileBytes(rc));
    /* A missing file is written at this build's width, as version 38. */
    unlink(rc.c_str());
    ResetSettings();
    MorvLoadReport r;
    ASSERT_EQ(MORV_UNREADABLE, ReadSetupReport(&r));
    EXPECT_EQ(ENOENT, r.iErrno);
    ASSERT_EQ(1, WriteSetup());
    EXPECT_EQ(kTime == 8 ? 357u : 345u, ReadFileBytes(rc).size());
}

}  // namespace
