/* Images and a fixture shared by the tests of morvrc: the bytes a fresh
 * program writes, a sample file of distinct values at either width, and a
 * scratch morvrc that ReadSetup and WriteSetup work on. */
#ifndef MORV_TESTS_SETTINGS_IMAGES_H
#define MORV_TESTS_SETTINGS_IMAGES_H

#include "support/runlog.h"
#include "settings/morvrc/morvrc.h"
#include "support/xchat.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <string>

static const int kTime = (int)sizeof(time_t);

/* Fields 2 to 20 with the values a fresh program holds. */
inline Bytes &InitialHead(Bytes &b)
{
    b.i32(0).i32(0).i32(1).i32(0);                     /* iFlagDebugMode .. iFlagPrintClone */
    b.i32(1).i32(1).i32(10).i32(1).i32(1).i32(1).i32(1).i32(10).i32(1); /* rows 5 to 13 */
    b.time(1).i32(1).time(6).i32(3).time(5).i32(0);   /* timers, iFlagBeep, iMaxMessageSent, ... */
    return b;
}

/* Fields 26 onwards up to and including field 31 (version 17). */
inline Bytes &InitialMiddle(Bytes &b)
{
    return b.i32(1).i32(0).i32(1).i32(0).i32(1).i32(1);
}

/* Fields 39 to 57 with their initial values. */
inline Bytes &InitialTail(Bytes &b)
{
    b.i32(1).i32(0).i32(1).i32(1).i32(1).i32(1).i32(1).i32(1); /* 39 .. 46 */
    b.i32(0);                                                  /* 47 iFlagEventsManagerDebug */
    for (int k = 0; k < 18; k++)
        b.i32(1);
    b.i32(0);                                                  /* 48 NOTICE */
    b.i32(0).i32(0).i32(8).i32(1).i32(2).i32(0).i32(1).i32(0).i32(0); /* 49 .. 57 */
    return b;
}

/* A version-38 file of the initial values with every text absent. */
inline ByteVector InitialV38()
{
    Bytes b;
    b.i32(38);
    InitialHead(b);
    b.i32(0).i32(0).i32(0);          /* three absent pairs */
    b.i32(0).i32(0);                 /* psPrefixOutput, psPostfixOutput */
    InitialMiddle(b);
    b.i32(0).i32(0);                 /* psMessageLanguage, psAwayPostfix */
    b.i32(1);                        /* iFlagAwaySystem */
    b.i32(0).i32(0);                 /* psPipeCommand, psAudioDevice */
    b.i32(256);                      /* iMaxMessageChar */
    b.i32(0);                        /* psIdentifyCommand */
    InitialTail(b);
    return b.bytes();
}


/* A version-38 image of distinct values at iTimeBytes-wide time fields,
 * with texts after the time fields so that a wrong width shows. */
inline ByteVector Sample(int iTimeBytes, int iVersion = 38)
{
    Bytes b;
    b.i32(iVersion);
    b.i32(0).i32(0).i32(1).i32(0).i32(1).i32(1).i32(33).i32(1).i32(1).i32(1).i32(1).i32(10).i32(1);
    b.time_width(7, iTimeBytes).i32(1).time_width(6, iTimeBytes).i32(3).time_width(5, iTimeBytes).i32(0);
    b.text("#a").text("b.wav").i32(0).i32(0).text("pre").i32(0);
    InitialMiddle(b);
    b.text("english").text("|away").i32(1).text("/SAY ").text("OSS").i32(256).text("/ID");
    InitialTail(b);
    return b.bytes();
}


class ConfigFile : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ResetSettings();
        rc = dir / "morvrc";
        psMorvaneRC = &rc[0];
        pfRunLog = nullptr; /* the settings code keeps no run log here */
    }
    void TearDown() override { ResetSettings(); }

    void Read(ByteVector const &b)
    {
        WriteFileBytes(rc, b);
        ReadSetup(nullptr);
    }

    ScratchDir dir;
    std::string rc;
};

#endif
