#include "BridgeTestSupport.h"
#include "CompassFormat.h"

#include <gtest/gtest.h>

namespace
{
using bridgetest::Publications;

struct Compass
{
    static BridgeProgram Program() { return DirkelProgram(); }
    static SentenceFormat Format() { return CompassFormat(); }
};

class DirkelTest : public bridgetest::BridgeTest<Compass>
{
protected:
    static std::string Parsed(const std::string& line)
    {
        std::string compassData = "untouched";
        EXPECT_TRUE(ParseCompassLine(line, compassData)) << line;
        return compassData;
    }
};

TEST_F(DirkelTest, HeadingIsPublishedAndTheLineEchoedWithPoslano)
{
    const std::string line = "$C123.4P5.6R-7.8T20.0*2B\r\n";
    const std::string printed = Feed(line);
    EXPECT_EQ(app->published, (Publications{{"CompassData", "123.4"}}));
    EXPECT_EQ(printed, line + "\nposlano\n");
}

TEST_F(DirkelTest, OtherLinesPublishTheLastTextAgainAndAreEchoed)
{
    Feed(":\r\n");
    EXPECT_EQ(app->published, (Publications{{"CompassData", ""}}));
    Feed("$C10.0P1R2\r\n");
    const std::string printed = Feed("$HCHDT,10.0,T*1C\r\n");
    EXPECT_EQ(app->published, (Publications{{"CompassData", "10.0"}}));
    EXPECT_EQ(printed, "$HCHDT,10.0,T*1C\r\n\nposlano\n");
}

TEST_F(DirkelTest, TextEndsAtTheFirstP)
{
    EXPECT_EQ(Parsed("$CP1.0R2.0\r\n"), "");
    EXPECT_EQ(Parsed("$C1PxP2P3\r\n"), "1");
    EXPECT_EQ(Parsed("$C212.4P2.5R-14.0T28.4Mx107977.90My-79422.00Mz173.27*3A\r\n"), "212.4");
}

TEST_F(DirkelTest, LineWithoutPKeepsItsLineEnd)
{
    EXPECT_EQ(Parsed("$C328.3T22.3*1F\r\n"), "328.3T22.3*1F\r\n");
    EXPECT_EQ(Parsed("$C\r\n"), "\r\n");
}

TEST_F(DirkelTest, OnlyALineStartingWithDollarCIsParsed)
{
    std::string compassData = "kept";
    for (const char* line : {"$c123.4P1\r\n", "C123.4P1\r\n", " $C123.4P1\r\n", "$\r\n", ""})
        EXPECT_FALSE(ParseCompassLine(line, compassData)) << line;
    EXPECT_EQ(compassData, "kept");
}

TEST_F(DirkelTest, VerifyChecksumKeepsTheHeadingOfDamagedLines)
{
    BridgeSettings settings;
    settings.verifyChecksum = true;
    Configure(settings);
    Feed("$C328.3P0.2R-18.3T19.0*1F\r\n");
    EXPECT_EQ(app->published, (Publications{{"CompassData", ""}}));
    Feed("$C212.4P2.5R-14.0T28.4Mx107977.90My-79422.00Mz173.27*08\r\n");
    EXPECT_EQ(app->published, (Publications{{"CompassData", "212.4"}}));
    const std::string printed = Feed("$C4480E001\r\n");
    EXPECT_EQ(app->published, (Publications{{"CompassData", "212.4"}}));
    EXPECT_EQ(printed, "$C4480E001\r\n\nposlano\n");
    EXPECT_EQ(app->RejectedLines(), 2u);
}

TEST_F(DirkelTest, HeadingKeepsItsStampThroughDamagedLines)
{
    BridgeSettings settings;
    settings.verifyChecksum = true;
    settings.stampTime = true;
    Configure(settings);
    const std::string damaged = "$C328.3P0.2R-18.3T19.0*1F\r\n";
    bridgetest::ExpectRepublishedValuesKeepTheirStamp(
        *app, {"$C212.4P2.5R-14.0T28.4Mx107977.90My-79422.00Mz173.27*08\r\n"},
        std::vector<std::string>(20, damaged));
}

TEST_F(DirkelTest, WithoutPublishEveryLineOtherLinesAreNeitherPublishedNorEchoed)
{
    BridgeSettings settings;
    settings.publishEveryLine = false;
    Configure(settings);
    EXPECT_EQ(Feed(":\r\n"), "");
    EXPECT_TRUE(app->published.empty());
    EXPECT_EQ(Feed("$C1.5P0R0\r\n"), "$C1.5P0R0\r\n\nposlano\n");
    EXPECT_EQ(app->published, (Publications{{"CompassData", "1.5"}}));
}

TEST_F(DirkelTest, FailedReadIsRecordedAndEndsTheLoop)
{
    ExpectFailedReadEndsTheLoop();
}

TEST(DirkelCommandLineTest, DefaultProcessNameIsCompass)
{
    const char* argv[] = {"Dirkel", "c.moos", "Compass2", "extra"};
    EXPECT_EQ(bridgetest::Picked(DirkelProgram(), 1, argv), "Mission.moos|Compass");
    EXPECT_EQ(bridgetest::Picked(DirkelProgram(), 2, argv), "c.moos|Compass");
    EXPECT_EQ(bridgetest::Picked(DirkelProgram(), 3, argv), "c.moos|Compass2");
    EXPECT_EQ(bridgetest::Picked(DirkelProgram(), 4, argv), "Mission.moos|Compass");
}

TEST(DirkelProgramTest, DeviceThatCannotBeOpenedEndsWithOneLineAndStatusOne)
{
    bridgetest::ExpectMissingDeviceEndsWithOneLine("Dirkel", "DIRKEL_DEVICE");
}

TEST(DirkelProgramTest, ClosedDeviceEndsTheProgramWithStatusOne)
{
    bridgetest::ExpectHangUpEndsWithStatusOne("Dirkel", "DIRKEL_DEVICE", "Compass", "$C1.5P0R0\r\n",
                                              "$C1.5P0R0\r\n\nposlano\n");
}
} // namespace
