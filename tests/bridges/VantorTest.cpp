#include "BridgeTestSupport.h"
#include "Simulator.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace
{
using bridgetest::Publications;

const char kWorkedExample[] =
    "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";

Publications Position(const std::string& lat, const std::string& lon, const std::string& ew,
                      const std::string& ns)
{
    return {{"Latitude", lat}, {"Longitude", lon}, {"Indic_EW", ew}, {"Indic_NS", ns}};
}

class VantorTest : public bridgetest::BridgeTest<CSimulator>
{
protected:
    // "latitude|indic_NS|longitude|indic_EW" of a "$GPGGA" line.
    static std::string Parsed(const std::string& line)
    {
        GgaPosition p;
        EXPECT_TRUE(ParseGpgga(line, p)) << line;
        return p.latitude + "|" + p.indic_NS + "|" + p.longitude + "|" + p.indic_EW;
    }
};

TEST_F(VantorTest, WorkedExamplePublishesAndPrintsTheFourFieldsInOrder)
{
    const std::string printed = Feed(kWorkedExample);
    EXPECT_EQ(app.published, Position("4807.038", "01131.000", "E", "N"));
    EXPECT_EQ(printed, "4807.038\n01131.000\nE\nN\n");
}

TEST_F(VantorTest, OtherSentencesPublishTheLastValuesAgain)
{
    Feed("$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n");
    EXPECT_EQ(app.published, Position("", "", "", ""));
    Feed(kWorkedExample);
    const std::string printed = Feed("$GPGSV,1,1,00*79\r\n");
    EXPECT_EQ(app.published, Position("4807.038", "01131.000", "E", "N"));
    EXPECT_EQ(printed, "4807.038\n01131.000\nE\nN\n");
}

TEST_F(VantorTest, SentenceWithoutFixGivesEmptyPositionAndCommaIndicators)
{
    EXPECT_EQ(Parsed("$GPGGA,,,,,,0,,,,M,,M,,*66\r\n"), "|,||,");
    EXPECT_EQ(Parsed("$GPGGA,212607.891,,,,,0,00,,,M,0.0,M,,0000*56\r\n"), "|,||,");
}

TEST_F(VantorTest, BareSentenceNameGivesTheWholeLineAndDollarSigns)
{
    EXPECT_EQ(Parsed("$GPGGA\r\n"), "$GPGGA\r\n|$|$GPGGA\r\n|$");
}

TEST_F(VantorTest, TruncatedSentencesShiftOrEmptyTheFieldsWithoutComplaint)
{
    EXPECT_EQ(Parsed("$GPGGA,123519,4807.038,N\r\n"), "4807.038|N|N\r\n|N");
    EXPECT_EQ(Parsed("$GPGGA,\r\n"), "\r\n|\r|\r\n|\r");
}

TEST_F(VantorTest, OnlyAnExactUpperCaseSentenceNameIsParsed)
{
    GgaPosition position{"kept", "k", "kept", "k"};
    for (const char* line :
         {"$gpgga,123519,4807.038,N,01131.000,E\r\n", "$GNGGA,123519,4807.038,N,01131.000,E\r\n",
          "GPGGA,123519,4807.038,N,01131.000,E\r\n", "$GPGG\r\n", ""})
        EXPECT_FALSE(ParseGpgga(line, position)) << line;
    EXPECT_EQ(position.latitude, "kept");
}

TEST_F(VantorTest, CapturedSentencesGiveTheirPositionFields)
{
    const std::string capture = std::string(MOOS_SHARED_DIR) + "/captures/nmea/venus634lp.nmea";
    std::ifstream in(capture, std::ios::binary);
    if (!in)
        GTEST_SKIP() << "capture " << capture << " is not there";
    int parsed = 0;
    for (std::string line; std::getline(in, line);)
    {
        GgaPosition position;
        if (!ParseGpgga(line + "\n", position))
            continue;
        ++parsed;
        EXPECT_EQ(line.find(position.latitude + "," + position.indic_NS + "," + position.longitude +
                            "," + position.indic_EW + ","),
                  line.find(',', 7) + 1)
            << line;
    }
    EXPECT_EQ(parsed, 6);
}

TEST_F(VantorTest, FailedReadIsRecordedAndEndsTheLoop)
{
    ExpectFailedReadEndsTheLoop();
}

TEST(VantorCommandLineTest, ArgumentsPickMissionFileAndProcessName)
{
    const char* argv[] = {"Vantor", "a.moos", "GPS2", "extra"};
    EXPECT_EQ(bridgetest::Picked(ParseCommandLine, 1, argv), "Mission.moos|Vantor");
    EXPECT_EQ(bridgetest::Picked(ParseCommandLine, 2, argv), "a.moos|Vantor");
    EXPECT_EQ(bridgetest::Picked(ParseCommandLine, 3, argv), "a.moos|GPS2");
    EXPECT_EQ(bridgetest::Picked(ParseCommandLine, 4, argv), "Mission.moos|Vantor");
}

TEST(VantorCommandLineTest, DeviceVariableNamesAnotherDeviceUnlessEmpty)
{
    ::unsetenv("VANTOR_DEVICE");
    EXPECT_EQ(SerialDeviceFromEnvironment("VANTOR_DEVICE"), "/dev/ttyUSB0");
    ::setenv("VANTOR_DEVICE", "", 1);
    EXPECT_EQ(SerialDeviceFromEnvironment("VANTOR_DEVICE"), "/dev/ttyUSB0");
    ::setenv("VANTOR_DEVICE", "/dev/ttyS3", 1);
    EXPECT_EQ(SerialDeviceFromEnvironment("VANTOR_DEVICE"), "/dev/ttyS3");
    ::unsetenv("VANTOR_DEVICE");
}

TEST(VantorProgramTest, DeviceThatCannotBeOpenedEndsWithOneLineAndStatusOne)
{
    bridgetest::ExpectMissingDeviceEndsWithOneLine("Vantor", "VANTOR_DEVICE");
}

TEST(VantorProgramTest, ClosedDeviceEndsTheProgramWithStatusOne)
{
    bridgetest::ExpectHangUpEndsWithStatusOne("Vantor", "VANTOR_DEVICE", "Vantor", kWorkedExample,
                                              "4807.038\n01131.000\nE\nN\n");
}
} // namespace
