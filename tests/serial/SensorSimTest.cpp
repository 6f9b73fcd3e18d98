#include "SensorLines.h"
#include "SensorSimOptions.h"
#include "SerialTestSupport.h"
#include "SimpleSerial.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <boost/system/system_error.hpp>
#include <cstdio>
#include <regex>

namespace
{
std::string Field(const std::string& sentence, int index)
{
    std::size_t start = 0;
    for (int i = 0; i < index; ++i)
        start = sentence.find(',', start) + 1;
    return sentence.substr(start, sentence.find_first_of(",*", start) - start);
}

TEST(SensorLinesTest, ChecksumMatchesRealDevices)
{
    EXPECT_EQ(WithChecksum("GPGGA,,,,,,0,,,,M,,M,,"), "$GPGGA,,,,,,0,,,,M,,M,,*66");
    EXPECT_EQ(WithChecksum("C320.5P0.2R-18.3T19.0"), "$C320.5P0.2R-18.3T19.0*3C");
}

TEST(SensorLinesTest, GpsBurstsStartWithoutFixThenCarryAPosition)
{
    GpsReceiver receiver(2);
    const auto now = std::chrono::system_clock::now();
    for (int burst = 0; burst < 4; ++burst)
    {
        const std::vector<std::string> sentences = receiver.NextBurst(burst, now);
        ASSERT_GE(sentences.size(), 4u);
        EXPECT_EQ(sentences.front().compare(0, 7, "$GPGGA,"), 0);
        EXPECT_EQ(sentences.back().compare(0, 7, "$GPRMC,"), 0);
        for (const std::string& sentence : sentences)
            EXPECT_TRUE(HasValidChecksum(sentence)) << sentence;
        const std::string latitude = Field(sentences.front(), 2);
        if (burst < 2)
            EXPECT_EQ(latitude, "");
        else
            EXPECT_TRUE(std::regex_match(latitude, std::regex("48\\d\\d\\.\\d{4}"))) << latitude;
    }
}

TEST(SensorLinesTest, TalkerNamesEverySentenceAndTheChecksumsFollowIt)
{
    GpsReceiver receiver(1, "GN");
    const auto now = std::chrono::system_clock::now();
    for (int burst = 0; burst < 2; ++burst)
        for (const std::string& sentence : receiver.NextBurst(burst, now))
        {
            EXPECT_EQ(sentence.compare(0, 3, "$GN"), 0) << sentence;
            EXPECT_TRUE(HasValidChecksum(sentence)) << sentence;
        }
}

TEST(SensorLinesTest, WrongChecksumKeepsTheTextAndNeverMatches)
{
    const std::string good = WithChecksum("GPGGA,1,2");
    const std::string bad = WithWrongChecksum(good);
    EXPECT_FALSE(HasValidChecksum(bad)) << bad;
    EXPECT_EQ(bad.substr(0, bad.size() - 2), good.substr(0, good.size() - 2));
    // A line whose checksum was already wrong still gets a wrong one, and a
    // line without one gets one.
    EXPECT_FALSE(HasValidChecksum(WithWrongChecksum("$GPGGA,x*00")));
    EXPECT_FALSE(HasValidChecksum(WithWrongChecksum("$GPGGA,x*")));
    const std::string added = WithWrongChecksum("$GPGGA,no,sum");
    EXPECT_EQ(added.compare(0, 14, "$GPGGA,no,sum*"), 0) << added;
    EXPECT_EQ(added.size(), 16u);
    EXPECT_FALSE(HasValidChecksum(added));
}

TEST(SensorLinesTest, GpsPositionMovesAlongTheTrack)
{
    GpsReceiver receiver(0);
    const auto now = std::chrono::system_clock::now();
    const std::string first = receiver.NextBurst(0, now).front();
    const std::string later = receiver.NextBurst(30, now).front();
    EXPECT_NE(Field(first, 2) + Field(first, 4), Field(later, 2) + Field(later, 4));
    EXPECT_EQ(Field(later, 3), "N");
    EXPECT_EQ(Field(later, 5), "E");
}

TEST(SensorLinesTest, CompassLinesFollowTheDocumentedFormat)
{
    CompassSensor compass;
    const std::regex format(
        "\\$C\\d{1,3}\\.\\dP-?\\d+\\.\\dR-?\\d+\\.\\dT\\d+\\.\\d\\*[0-9A-F]{2}");
    for (double elapsed : {0.0, 7.3, 79.0, 5000.0})
    {
        const std::string line = compass.NextLine(elapsed);
        EXPECT_TRUE(std::regex_match(line, format)) << line;
        EXPECT_TRUE(HasValidChecksum(line)) << line;
        EXPECT_LT(std::stod(line.substr(2)), 360.0) << line;
    }
    EXPECT_NE(compass.NextLine(0.0), compass.NextLine(10.0));
}

// A file without line endings costs no more memory than one long line.
TEST(SensorLinesTest, TextLinesSplitAtAnyLineEndingAndAreBounded)
{
    std::istringstream in("a\r\nb\nc\r" + std::string(TextLineRule().maxLength + 9, 'x') + "\nd");
    std::vector<std::string> lines;
    for (std::string line; ReadTextLine(in, line);)
        lines.push_back(line);
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c",
                                               std::string(TextLineRule().maxLength, 'x'), "d"}));
}

class SensorSimOptionsTest : public ::testing::Test
{
protected:
    bool Parse(const std::vector<std::string>& args)
    {
        options = SensorSimOptions();
        error.clear();
        return ParseSensorSimOptions(args, options, error);
    }
    SensorSimOptions options;
    std::string error;
};

TEST_F(SensorSimOptionsTest, ModeAndSettingsAreTaken)
{
    ASSERT_TRUE(Parse({"--replay", "f.nmea", "--fast", "--count", "5", "--hold", "--start-delay",
                       "250", "--link", "/tmp/gps", "--baud", "4800"}));
    EXPECT_EQ(options.mode, SensorSimOptions::Mode::Replay);
    EXPECT_EQ(options.replayFile, "f.nmea");
    EXPECT_TRUE(options.fast && options.hold);
    EXPECT_EQ(options.count, 5);
    EXPECT_EQ(options.startDelayMs, 250);
    EXPECT_EQ(options.link, "/tmp/gps");
    EXPECT_EQ(options.baud, 4800u);
}

TEST_F(SensorSimOptionsTest, FaultsOfARealSensorAreTaken)
{
    ASSERT_TRUE(Parse({"--gps", "--talker", "GN", "--corrupt", "7", "--pause-after", "1.5",
                       "--pause-for", "2", "--unplug-after", "0", "--replug-after", "0.25"}))
        << error;
    EXPECT_EQ(options.talker, "GN");
    EXPECT_EQ(options.corruptEvery, 7);
    EXPECT_DOUBLE_EQ(options.pauseAfter, 1.5);
    EXPECT_DOUBLE_EQ(options.pauseFor, 2.0);
    EXPECT_DOUBLE_EQ(options.unplugAfter, 0.0);
    EXPECT_DOUBLE_EQ(options.replugAfter, 0.25);
    const std::string usage = SensorSimUsage();
    for (const char* option : {"--talker XX", "--corrupt N", "--pause-after S", "--pause-for S",
                               "--unplug-after S", "--replug-after S"})
        EXPECT_NE(usage.find(option), std::string::npos) << option;
}

TEST_F(SensorSimOptionsTest, UsageFitsEightyColumns)
{
    EXPECT_EQ(serialtest::LinesWiderThan(SensorSimUsage(), 80), std::vector<std::string>{});
}

TEST_F(SensorSimOptionsTest, BadCommandLinesAreRefusedWithAReason)
{
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"--gps", "--compass"},
                                               {"--gps", "--count"},
                                               {"--gps", "--count", "-1"},
                                               {"--gps", "--rate", "0"},
                                               {"--gps", "--rate", "fast"},
                                               {"--compass", "--start-delay", "12x"},
                                               {"--gps", "--frobnicate"},
                                               {"--gps", "--talker", "gn"},
                                               {"--gps", "--talker", "GNS"},
                                               {"--compass", "--talker", "GN"},
                                               {"--gps", "--corrupt", "0"},
                                               {"--gps", "--pause-after", "-1"},
                                               {"--gps", "--pause-for", "1"},
                                               {"--gps", "--unplug-after", "inf"},
                                               {"--gps", "--replug-after", "1"}})
    {
        EXPECT_FALSE(Parse(args)) << ::testing::PrintToString(args);
        EXPECT_FALSE(error.empty());
    }
    EXPECT_TRUE(Parse({"--help"}));
}

class SensorSimProgramTest : public ::testing::Test
{
protected:
    std::unique_ptr<serialtest::ChildProcess> Start(std::vector<std::string> args)
    {
        args.insert(args.begin(), serialtest::Program("SensorSim"));
        auto sim = std::make_unique<serialtest::ChildProcess>(args);
        EXPECT_TRUE(sim->Started());
        return sim;
    }
    std::vector<std::string> ReadLines(SimpleSerial& device, std::size_t count)
    {
        std::vector<std::string> lines;
        while (lines.size() < count)
            lines.push_back(device.readString());
        return lines;
    }
};

TEST_F(SensorSimProgramTest, GpsBurstsReachTheReaderWholeAndItEndsAfterTheCount)
{
    auto sim = Start({"--gps", "--fast", "--count", "3", "--no-fix", "1"});
    SimpleSerial device(sim->FirstLine(), 19200);
    const std::vector<std::string> lines = ReadLines(device, 3 * 4);
    for (const std::string& line : lines)
    {
        ASSERT_GE(line.size(), 2u);
        EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
        EXPECT_TRUE(HasValidChecksum(line.substr(0, line.size() - 2))) << line;
    }
    EXPECT_EQ(sim->Wait(), 0);
    EXPECT_EQ(serialtest::LinesWith(sim->Stderr(), "12 lines written (3 $GPGGA").size(), 1u)
        << sim->Stderr();
}

// The summary counts GGA sentences of every talker, as the GPS bridge can.
TEST_F(SensorSimProgramTest, ReplayWritesEveryLineWithCrLf)
{
    const struct
    {
        const char* capture;
        std::size_t lines;
        const char* first;
        const char* summary;
    } cases[] = {{"motorola-t805.nmea", 50, "$GPGGA,", "50 lines written (25 GGA sentences)"},
                 {"ublox-8.nmea", 28, "$GNVTG,", "28 lines written (2 GGA sentences)"}};
    for (const auto& c : cases)
    {
        const std::string capture =
            moostest::CapturePath(std::string("nmea/") + c.capture).string();
        MOOS_SKIP_WITHOUT_CAPTURE(capture);
        auto sim = Start({"--replay", capture, "--fast", "--count", std::to_string(c.lines)});
        SimpleSerial device(sim->FirstLine(), 19200);
        const std::vector<std::string> lines = ReadLines(device, c.lines);
        EXPECT_EQ(lines.front().compare(0, 7, c.first), 0) << c.capture;
        EXPECT_EQ(sim->Wait(), 0);
        EXPECT_EQ(serialtest::LinesWith(sim->Stderr(), c.summary).size(), 1u) << sim->Stderr();
    }
}

TEST_F(SensorSimProgramTest, SigtermEndsItWithASummaryAndRemovesTheLink)
{
    serialtest::TempDir dir;
    const std::string link = (dir.Path() / "compass").string();
    auto sim = Start({"--compass", "--rate", "50", "--link", link});
    ASSERT_FALSE(sim->FirstLine().empty());
    SimpleSerial device(link, 19200);
    EXPECT_EQ(device.readString().compare(0, 2, "$C"), 0);
    sim->Signal(SIGTERM);
    EXPECT_EQ(sim->Wait(), 0);
    EXPECT_EQ(serialtest::LinesWith(sim->Stderr(), "lines written").size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST_F(SensorSimProgramTest, NobodyReadingMakesItDropLinesInsteadOfHanging)
{
    auto sim = Start({"--compass", "--fast", "--count", "20000"});
    EXPECT_EQ(sim->Wait(), 0);
    const std::vector<std::string> summary = serialtest::LinesWith(sim->Stderr(), "dropped");
    ASSERT_EQ(summary.size(), 1u);
    EXPECT_EQ(summary[0].find(" 0 dropped"), std::string::npos) << summary[0];
}
TEST_F(SensorSimProgramTest, TalkerAndCorruptionReachTheReaderWithEveryOtherChecksumRight)
{
    auto sim = Start(
        {"--gps", "--fast", "--count", "2", "--no-fix", "0", "--talker", "GN", "--corrupt", "3"});
    SimpleSerial device(sim->FirstLine(), 19200);
    const std::vector<std::string> lines = ReadLines(device, 2 * 4);
    for (std::size_t i = 0; i < lines.size(); ++i)
    {
        EXPECT_EQ(lines[i].compare(0, 3, "$GN"), 0) << lines[i];
        const bool corrupted = (i + 1) % 3 == 0;
        EXPECT_EQ(HasValidChecksum(lines[i].substr(0, lines[i].size() - 2)), !corrupted)
            << lines[i];
    }
    EXPECT_EQ(sim->Wait(), 0);
    EXPECT_EQ(
        serialtest::LinesWith(sim->Stderr(), "8 lines written (2 $GNGGA sentences, 2 with a wrong")
            .size(),
        1u)
        << sim->Stderr();
}

TEST_F(SensorSimProgramTest, PausedSensorGoesQuietForItsTimeAndCarriesOn)
{
    using namespace std::chrono;
    auto sim = Start({"--compass", "--rate", "50", "--pause-after", "0.2", "--pause-for", "1.5"});
    SimpleSerial device(sim->FirstLine(), 19200);
    std::string line;
    ASSERT_TRUE(device.readLine(line, seconds(5)));
    auto last = steady_clock::now();
    steady_clock::duration longestGap{};
    while (longestGap < seconds(1))
    {
        ASSERT_TRUE(device.readLine(line, seconds(5))) << "the sensor did not carry on";
        longestGap = std::max(longestGap, steady_clock::now() - last);
        last = steady_clock::now();
    }
    EXPECT_EQ(line.compare(0, 2, "$C"), 0);
    EXPECT_LT(longestGap, seconds(4));
    EXPECT_EQ(sim->LinesWithOnStderr("SensorSim: quiet").size(), 1u);
}

TEST_F(SensorSimProgramTest, UnpluggedDeviceComesBackBehindTheSameLink)
{
    serialtest::TempDir dir;
    const std::string link = (dir.Path() / "ttyUSB0").string();
    auto sim = Start({"--compass", "--rate", "50", "--link", link, "--unplug-after", "0.2",
                      "--replug-after", "0.5"});
    const std::string first = sim->FirstLine();
    SimpleSerial device(link, 19200);
    std::string line;
    ASSERT_TRUE(device.readLine(line, std::chrono::seconds(5)));
    try
    {
        while (device.readLine(line, std::chrono::seconds(5)))
        {
        }
        FAIL() << "the device was not pulled out";
    }
    catch (const boost::system::system_error&)
    {
    }
    device.close();
    ASSERT_TRUE(serialtest::WaitFor([&] { return device.tryOpen(); }))
        << device.openError().message();
    ASSERT_TRUE(device.readLine(line, std::chrono::seconds(5)));
    EXPECT_EQ(line.compare(0, 2, "$C"), 0);
    // The new pseudo-terminal (which may get the number of the old one) is
    // announced on standard output.
    const std::vector<std::string> paths = serialtest::LinesWith(sim->Stdout(), "/dev/");
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(paths[0], first);
    sim->Signal(SIGTERM);
    EXPECT_EQ(sim->Wait(), 0);
    EXPECT_EQ(sim->LinesWithOnStderr("plugged in again").size(), 1u);
}
} // namespace
