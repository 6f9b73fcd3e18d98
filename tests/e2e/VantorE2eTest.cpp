// Vantor end to end: real GPS captures replayed by SensorSim on a
// pseudo-terminal, read by the real program, checked at the server.
#include "E2eSupport.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <thread>

using namespace e2e;

namespace
{
// The four values Vantor publishes after one line.
struct Position
{
    std::string latitude, longitude, indic_EW, indic_NS;
};

// Cuts the text up to the first comma off rest and returns it; with no
// comma left, returns the whole of rest and leaves it as it is.
std::string TakeField(std::string& rest)
{
    const std::size_t comma = rest.find(',');
    const std::string field = rest.substr(0, comma);
    if (comma != std::string::npos)
        rest.erase(0, comma + 1);
    return field;
}

// The position fields of a GGA sentence.
Position PositionOf(const std::string& line)
{
    Position position;
    std::string rest = line;
    TakeField(rest); // the sentence name
    TakeField(rest); // the time
    position.latitude = TakeField(rest);
    position.indic_NS = rest.substr(0, 1);
    TakeField(rest);
    position.longitude = TakeField(rest);
    position.indic_EW = rest.substr(0, 1);
    return position;
}

// What a receiver's lines should publish, line by line: the position fields
// of the last "$GPGGA" sentence so far, empty before the first.
std::vector<Position> ExpectedPositions(const std::vector<std::string>& lines)
{
    std::vector<Position> expected;
    Position last;
    for (const std::string& line : lines)
    {
        if (line.rfind("$GPGGA", 0) == 0)
            last = PositionOf(line);
        expected.push_back(last);
    }
    return expected;
}

// The positions of the GGA sentences of any talker among lines.
std::vector<Position> AnyTalkerPositions(const std::vector<std::string>& lines)
{
    std::vector<Position> positions;
    for (const std::string& line : lines)
        if (line.size() > 6 && line[0] == '$' && line.compare(3, 3, "GGA") == 0)
            positions.push_back(PositionOf(line));
    return positions;
}

const char* const kPositionKeys[] = {"Latitude", "Longitude", "Indic_EW", "Indic_NS"};

class VantorReplayTest : public ::testing::Test
{
protected:
    // The lines of a capture, or none (the test is then skipped).
    std::vector<std::string> Capture(const std::string& name)
    {
        const std::filesystem::path path = CaptureDir() / name;
        if (!moostest::HaveCapture(path))
            return {};
        return ReadCaptureLines(path);
    }

    // Starts Vantor on the replay's device and feeds it lines in steps.
    bool Replay(const std::vector<std::string>& lines)
    {
        return StartVantor({"AppTick = 100", "CommsTick = 50"}) &&
               FeedInStep(feed, server.Log(), lines, "Vantor", "Indic_NS", 16);
    }

    // Starts Vantor on the replay's device with the keys of its block.
    bool StartVantor(const std::vector<std::string>& keys)
    {
        WriteFile(dir / "Mission.moos", MissionText(server.Port(), {"Vantor"}, keys));
        if (feed.Device().empty())
            return false;
        vantor = StartBridge("Vantor", dir / "Mission.moos", feed.Device());
        return true;
    }

    // Hands lines to the device as a serial line at baud delivers them (ten
    // bits a character).
    bool FeedAtBaud(const std::vector<std::string>& lines, unsigned baud)
    {
        const auto start = std::chrono::steady_clock::now();
        std::size_t sent = 0;
        for (const std::string& line : lines)
        {
            sent += line.size();
            std::this_thread::sleep_until(
                start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(sent * 10.0 / baud)));
            if (!feed.Write(line))
                return false;
        }
        return true;
    }

    // The position notifications that reached the server, grouped by line.
    std::vector<Position> PublishedPositions() const
    {
        std::vector<LoggedNotification> entries;
        for (const LoggedNotification& entry : server.Log().From("Vantor"))
            if (entry.key.find("_STATUS") == std::string::npos)
                entries.push_back(entry);
        std::vector<Position> published;
        for (std::size_t i = 0; i + 3 < entries.size(); i += 4)
        {
            for (std::size_t k = 0; k < 4; ++k)
                EXPECT_EQ(entries[i + k].key, kPositionKeys[k]) << "notification " << i + k;
            published.push_back({entries[i].value, entries[i + 1].value, entries[i + 2].value,
                                 entries[i + 3].value});
        }
        EXPECT_EQ(entries.size() % 4, 0u) << "a line published only part of its values";
        return published;
    }

    TempDir dir;
    TestServer server;
    ReplayFeed feed{dir};
    std::unique_ptr<Process> vantor;
};

void ExpectSamePositions(const std::vector<Position>& published,
                         const std::vector<Position>& expected)
{
    ASSERT_EQ(published.size(), expected.size()) << "lines lost or repeated";
    for (std::size_t i = 0; i < expected.size(); ++i)
    {
        EXPECT_EQ(published[i].latitude, expected[i].latitude) << "line " << i + 1;
        EXPECT_EQ(published[i].longitude, expected[i].longitude) << "line " << i + 1;
        EXPECT_EQ(published[i].indic_EW, expected[i].indic_EW) << "line " << i + 1;
        EXPECT_EQ(published[i].indic_NS, expected[i].indic_NS) << "line " << i + 1;
    }
}

class VantorCaptureTest : public VantorReplayTest, public ::testing::WithParamInterface<const char*>
{
};

// Every line of a real receiver's log, none lost and none cut, publishes the
// fields of the last "$GPGGA" sentence: no-fix sentences, 7-decimal
// positions, other talkers ($GNGGA) and start-up banners included.
TEST_P(VantorCaptureTest, EveryLinePublishesThePositionOfTheLastGgaSentence)
{
    const std::vector<std::string> lines = Capture(GetParam());
    if (lines.empty())
        GTEST_SKIP() << "capture " << (CaptureDir() / GetParam()) << " not on this machine";
    ASSERT_TRUE(Replay(lines)) << "published " << server.Log().Count("Vantor", "Indic_NS") << " of "
                               << lines.size() << " lines\n"
                               << vantor->Stderr();
    ExpectSamePositions(PublishedPositions(), ExpectedPositions(lines));
}

INSTANTIATE_TEST_SUITE_P(Captures, VantorCaptureTest,
                         ::testing::Values("motorola-t805.nmea", "venus634lp.nmea", "ch-4711.nmea",
                                           "hemi.nmea"),
                         [](const ::testing::TestParamInfo<const char*>& info)
                         {
                             std::string name = info.param;
                             for (char& c : name)
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

// A u-blox receiver at 9600 baud sends fourteen lines a second, far more
// than the default AppTick's passes: still every position reaches the
// server (the replay takes about a minute).
TEST_F(VantorReplayTest, FastReceiverAtTheDefaultTickLosesNoPosition)
{
    const std::vector<std::string> lines = Capture("ublox-8.nmea");
    if (lines.empty())
        GTEST_SKIP() << "capture ublox-8.nmea not on this machine";
    const std::vector<Position> expected = AnyTalkerPositions(lines);
    ASSERT_EQ(expected.size(), 72u);
    ASSERT_TRUE(
        StartVantor({"AcceptAnyTalker = true", "PublishEveryLine = false", "Echo = false"}));
    ASSERT_TRUE(server.Log().WaitForCount("Vantor", "VANTOR_STATUS", 1)) << vantor->Stderr();
    ASSERT_TRUE(FeedAtBaud(lines, 9600));
    EXPECT_TRUE(server.Log().WaitForCount("Vantor", "Indic_NS", expected.size()))
        << vantor->Stderr();
    ExpectSamePositions(PublishedPositions(), expected);
    EXPECT_EQ(vantor->Stderr().find("dropped"), std::string::npos) << vantor->Stderr();
}

// The end of the replay closes the device: Vantor says so on one line and
// ends with status 1, its echo (four lines a line read) complete.
TEST_F(VantorReplayTest, EndOfTheDeviceEndsVantorWithItsEchoComplete)
{
    const std::vector<std::string> lines = Capture("motorola-t805.nmea");
    if (lines.empty())
        GTEST_SKIP() << "capture motorola-t805.nmea not on this machine";
    ASSERT_TRUE(Replay(lines));
    feed.End();

    EXPECT_EQ(vantor->WaitExit(), 1);
    std::string echo;
    for (const Position& p : ExpectedPositions(lines))
        echo += p.latitude + "\n" + p.longitude + "\n" + p.indic_EW + "\n" + p.indic_NS + "\n";
    EXPECT_EQ(vantor->Stdout(), echo);
    EXPECT_TRUE(HasLostDeviceLine(vantor->Stderr(), "Vantor", feed.Device())) << vantor->Stderr();
}

// The values are strings from the client "Vantor", stamped with the time 0.
TEST_F(VantorReplayTest, PositionsArePublishedAsStringsWithTheTimeZero)
{
    const std::string gga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
    ASSERT_TRUE(Replay({gga}));
    for (const char* key : kPositionKeys)
    {
        CMOOSMsg msg;
        ASSERT_TRUE(server.Core().GetValue(key, msg)) << key;
        EXPECT_TRUE(msg.IsString()) << key;
        EXPECT_EQ(msg.GetTime(), 0.0) << key;
        EXPECT_EQ(msg.GetSource(), "Vantor") << key;
    }
    ExpectSamePositions(PublishedPositions(), {{"4807.038", "01131.000", "E", "N"}});
}
} // namespace
