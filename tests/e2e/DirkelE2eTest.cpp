// Dirkel end to end: compass lines in the documented output formats,
// replayed by SensorSim on a pseudo-terminal, read by the real program and
// checked at the server; and its subscription across a server restart.
#include "E2eSupport.h"
#include "NmeaChecksum.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace e2e;

namespace
{
std::string Heading(int step)
{
    char text[8];
    std::snprintf(text, sizeof text, "%.1f", (step * 37) % 3600 / 10.0);
    return text;
}

// A compass session in the formats compasses document: the "$C" format with
// and without the pitch field (then no "P" at all), with the magnetometer,
// accelerometer and depth fields, the heading in mils without a checksum,
// the ":" prompt after a query, an empty heading, a line whose start was
// lost and other sentences of the same devices. Every line ends in CR LF.
std::vector<std::string> CompassSession()
{
    std::vector<std::string> lines;
    for (int step = 0; step < 12; ++step)
    {
        const std::string c = "C" + Heading(step);
        lines.push_back(WithChecksum(c + "P0.2R-18.3T19.0"));
        lines.push_back(WithChecksum(c + "P-15.6R46.0T20.4"));
        lines.push_back(WithChecksum(c + "P2.5R-14.0T28.4Mx107977.90My-79422.00Mz173.27"
                                         "Ax0.045Ay-0.245Az0.977"));
        lines.push_back(WithChecksum(c + "P28.4R-12.4X55.11Y12.33Z-18.43T22.3E001"));
        lines.push_back(WithChecksum(c + "T22.3"));
        lines.push_back("$" + c + "P1.8R47.9T29.6D0.00");
    }
    lines.push_back("$C4480E001");
    lines.push_back(":");
    lines.push_back(WithChecksum("CP0.0R0.0T19.0"));
    lines.push_back("R-18.3T19.0*3C");
    lines.push_back(WithChecksum("OHPR,320.5,0.2,-18.3"));
    lines.push_back(WithChecksum("HCHDT,320.5,T"));
    lines.push_back("$c320.5P0.2R-18.3T19.0*1C");
    lines.push_back("");
    lines.push_back(WithChecksum("C320.5P0.2R-18.3T19.0"));
    for (std::string& line : lines)
        line += "\r\n";
    return lines;
}

// What the lines should publish, line by line: the text between "$C" and the
// first "P" of the last compass sentence so far (to the end of the line,
// CR LF included, when it has no "P"); empty before the first.
std::vector<std::string> ExpectedCompassData(const std::vector<std::string>& lines)
{
    std::vector<std::string> expected;
    std::string last;
    for (const std::string& line : lines)
    {
        if (line.rfind("$C", 0) == 0)
            last = line.substr(2, line.find('P') == std::string::npos ? std::string::npos
                                                                      : line.find('P') - 2);
        expected.push_back(last);
    }
    return expected;
}

class DirkelTest : public ::testing::Test
{
protected:
    void WriteMission()
    {
        std::vector<std::string> keys;
        keys.push_back("AppTick = 100");
        keys.push_back("CommsTick = 50");
        WriteFile(dir / "Mission.moos", MissionText(server.Port(), {"Compass"}, keys, kWarp));
    }

    void StartDirkel(const std::string& device)
    {
        dirkel = StartBridge("Dirkel", dir / "Mission.moos", device);
    }

    // The session, written to a fixture file and read back as a capture.
    std::vector<std::string> SessionFixture()
    {
        WriteFile(dir / "compass.txt", Joined(CompassSession()));
        return ReadCaptureLines(dir / "compass.txt");
    }

    bool Replay(const std::vector<std::string>& lines)
    {
        WriteMission();
        StartDirkel(feed.Device());
        return !feed.Device().empty() &&
               FeedInStep(feed, server.Log(), lines, "Compass", "CompassData", 16);
    }

    // The status records of Compass logged after the first skip ones.
    std::vector<std::string> StatusRecords(std::size_t skip = 0) const
    {
        std::vector<std::string> records = server.Log().Values("Compass", "COMPASS_STATUS");
        records.erase(records.begin(), records.begin() + std::min(skip, records.size()));
        return records;
    }

    bool WaitForStatusSubscribed(std::size_t skip) const
    {
        return WaitFor(
            [&]
            {
                for (const std::string& record : StatusRecords(skip))
                    if (record.find("Subscribing=\"GetCompassData,\"") != std::string::npos)
                        return true;
                return false;
            });
    }

    // Status records come every 2 s of MOOS time, so every 0.5 s here.
    static constexpr double kWarp = 4.0;

    TempDir dir;
    TestServer server{kWarp};
    ReplayFeed feed{dir};
    std::unique_ptr<Process> dirkel;
};

// Every compass line, none lost and none cut, publishes the text between
// "$C" and the first "P" of the last compass sentence; other lines publish
// the previous text again.
TEST_F(DirkelTest, EveryLinePublishesTheTextOfTheLastCompassSentence)
{
    const std::vector<std::string> lines = SessionFixture();
    ASSERT_TRUE(Replay(lines)) << "published " << server.Log().Count("Compass", "CompassData")
                               << " of " << lines.size() << " lines\n"
                               << dirkel->Stderr();
    EXPECT_EQ(server.Log().Values("Compass", "CompassData"), ExpectedCompassData(lines));
}

// The end of the replay closes the device: Dirkel says so on one line and
// ends with status 1, having echoed every line followed by "poslano".
TEST_F(DirkelTest, EndOfTheDeviceEndsDirkelWithItsEchoComplete)
{
    const std::vector<std::string> lines = SessionFixture();
    ASSERT_TRUE(Replay(lines));
    feed.End();

    EXPECT_EQ(dirkel->WaitExit(), 1);
    std::string echo;
    for (const std::string& line : lines)
        echo += line + "\nposlano\n";
    EXPECT_EQ(dirkel->Stdout(), echo);
    EXPECT_TRUE(HasLostDeviceLine(dirkel->Stderr(), "Dirkel", feed.Device())) << dirkel->Stderr();
}

// A restarted server knows nothing of its former clients: Dirkel connects
// again, subscribes to "GetCompassData" again and goes on publishing.
TEST_F(DirkelTest, SubscribesAgainAfterTheServerRestarts)
{
    Process compass({Program("SensorSim"), "--compass", "--rate", "20"});
    const std::string device = compass.FirstLine();
    ASSERT_FALSE(device.empty()) << compass.Stderr();
    WriteMission();
    StartDirkel(device);
    ASSERT_TRUE(WaitForStatusSubscribed(0)) << dirkel->Stderr();

    const std::size_t statusBefore = StatusRecords().size();
    const std::size_t dataBefore = server.Log().Count("Compass", "CompassData");
    server.Restart();
    ASSERT_TRUE(server.Core().WaitForClient("Compass", 20.0)) << dirkel->Stderr();
    EXPECT_TRUE(WaitForStatusSubscribed(statusBefore)) << dirkel->Stderr();
    EXPECT_TRUE(server.Log().WaitForCount("Compass", "CompassData", dataBefore + 5));
    EXPECT_TRUE(dirkel->Running());
}
} // namespace
