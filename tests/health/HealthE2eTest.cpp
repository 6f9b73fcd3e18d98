// The health record and the recorder through the real programs: a simulated
// receiver that pauses, is pulled out and corrupts lines; a recording into a
// folder that is missing; a recorded session replayed into a second bridge.
#include "E2eSupport.h"
#include "Recording.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace e2e;

namespace
{
// Status and health records every 2 s of MOOS time, so every 0.5 s here.
constexpr double kWarp = 4.0;

class HealthE2eTest : public ::testing::Test
{
protected:
    Process& Start(const std::string& program, const std::string& process,
                   const std::string& device, std::vector<std::string> keys, TestServer& to)
    {
        keys.insert(keys.begin(), {"AppTick = 0", "CommsTick = 50"});
        const auto mission = dir / (process + ".moos");
        WriteFile(mission, MissionText(to.Port(), {process}, keys, kWarp));
        bridges.push_back(StartBridge(program, mission, device, process));
        return *bridges.back();
    }

    // Waits for a health record of the compass in state; true with it in
    // record.
    bool HealthIn(const std::string& state, std::string& record)
    {
        return WaitFor(
            [&]
            {
                for (const std::string& value : server.Log().Values("Compass", "COMPASS_HEALTH"))
                    if (value.rfind("state=" + state + ",", 0) == 0)
                        record = value;
                return !record.empty();
            });
    }

    static std::size_t Counter(const std::string& record, const std::string& name)
    {
        const std::size_t at = record.find("," + name + "=");
        return at == std::string::npos ? 0 : std::stoul(record.substr(at + name.size() + 2));
    }

    TempDir dir;
    TestServer server{kWarp};
    std::vector<std::unique_ptr<Process>> bridges;
};

// SensorSim's compass goes quiet, comes back, is pulled out and put back,
// corrupting every third line: the record goes reading, silent, waiting and
// reading again, and its counters add up to what SensorSim wrote.
TEST_F(HealthE2eTest, HealthRecordFollowsAMisbehavingSensor)
{
    const std::string link = (dir / "compass").string();
    // The first line waits until the bridge is likely up, so that it sees
    // the quiet. The sensor ends by itself, after 15 s of lines, giving the
    // bridge its last ones.
    Process sensor({Program("SensorSim"),
                    "--compass",
                    "--corrupt",
                    "3",
                    "--rate",
                    "10",
                    "--count",
                    "150",
                    "--start-delay",
                    "2000",
                    "--link",
                    link,
                    "--pause-after",
                    "1",
                    "--pause-for",
                    "2",
                    "--unplug-after",
                    "5",
                    "--replug-after",
                    "2"});
    ASSERT_FALSE(sensor.FirstLine().empty()) << sensor.Stderr();
    Process& dirkel = Start(
        "Dirkel", "Compass", link,
        {"VerifyChecksum = true", "DataTimeout = 1", "ReopenDevice = true", "PublishHealth = true"},
        server);
    std::string silent, waiting, back;
    ASSERT_TRUE(HealthIn("silent", silent)) << dirkel.Stderr();
    ASSERT_TRUE(HealthIn("waiting", waiting)) << dirkel.Stderr();
    ASSERT_TRUE(WaitFor(
        [&]
        {
            back = server.Log().Values("Compass", "COMPASS_HEALTH").back();
            return back.rfind("state=reading,", 0) == 0 && Counter(back, "reopens") == 1 &&
                   Counter(back, "lines") > Counter(waiting, "lines") + 10;
        }))
        << dirkel.Stderr() << back;
    EXPECT_NE(silent.find("device=" + link + ","), std::string::npos) << silent;

    // Ended, the sensor tells what it wrote: every line was read or counted
    // as dropped by the reader, and the corrupted ones rejected, but for
    // at most one still in the device when it was pulled out (unplugging
    // throws away what nobody read yet, and a busy reader may be late).
    ASSERT_EQ(sensor.WaitExit(std::chrono::minutes(2)), 0);
    const std::string summary = sensor.Stderr().substr(sensor.Stderr().rfind("SensorSim: "));
    const std::size_t written = std::stoul(summary.substr(11));
    const std::size_t with = summary.find(" with a wrong checksum");
    ASSERT_NE(with, std::string::npos) << summary;
    const std::size_t corrupted = std::stoul(summary.substr(summary.rfind(' ', with - 1) + 1));
    std::size_t dropped = 0;
    const auto accounted = [&]
    {
        back = server.Log().Values("Compass", "COMPASS_HEALTH").back();
        dropped = Counter(back, "dropped_stale") + Counter(back, "dropped_cap");
        return Counter(back, "lines") + dropped;
    };
    WaitFor([&] { return accounted() == written; }, 5.0);
    ASSERT_LE(accounted(), written) << back << "\n" << summary;
    const std::size_t unplugged = written - accounted();
    EXPECT_LE(unplugged, 1u) << back << "\n" << summary;
    EXPECT_LE(Counter(back, "rejected"), corrupted) << back;
    EXPECT_GE(Counter(back, "rejected") + dropped + unplugged, corrupted) << back;
    EXPECT_EQ(Counter(back, "reopens"), 1u);
    EXPECT_NE(summary.find(", 0 dropped"), std::string::npos) << summary;
}

// A compass giving two values a second where ten are expected: after five
// seconds the record says slow and the status record carries why.
TEST_F(HealthE2eTest, SensorBelowHalfTheExpectedRateIsSlow)
{
    Process sensor({Program("SensorSim"), "--compass", "--rate", "2"});
    const std::string device = sensor.FirstLine();
    ASSERT_FALSE(device.empty()) << sensor.Stderr();
    Process& dirkel =
        Start("Dirkel", "Compass", device, {"ExpectedRate = 10", "PublishHealth = true"}, server);
    std::string slow;
    ASSERT_TRUE(HealthIn("slow", slow)) << dirkel.Stderr();
    EXPECT_TRUE(WaitFor(
        [&]
        {
            const std::string status = server.Log().Values("Compass", "COMPASS_STATUS").back();
            return status.find("AppErrorReason=values from " + device + " at ") !=
                       std::string::npos &&
                   status.find(" a second for 5 s (expected 10),") != std::string::npos;
        }))
        << dirkel.Stderr();
    EXPECT_NE(dirkel.Stderr().find("Dirkel: values from " + device), std::string::npos);
}

// RecordTo in a folder that does not exist: one trace, the application
// error in the status record, and the values published as usual; once the
// folder is made the recording resumes and the error clears. The recording
// holds the whole session, the lines read while the folder was missing
// included, and replayed into another bridge gives the same publications.
TEST_F(HealthE2eTest, RecordingIntoAMissingFolderResumesAndReplaysTheWholeSession)
{
    const std::filesystem::path capture = CaptureDir() / "ublox-8.nmea";
    if (!moostest::HaveCapture(capture))
        GTEST_SKIP() << "capture " << capture << " not on this machine";
    const std::vector<std::string> keys{"AcceptAnyTalker = true", "VerifyChecksum = true"};
    ReplayFeed feed(dir);
    std::vector<std::string> recordKeys = keys;
    recordKeys.push_back("RecordTo = " + (dir / "absent" / "gps-%Y.rec").string());
    Process& vantor = Start("Vantor", "Vantor", feed.Device(), recordKeys, server);
    ASSERT_TRUE(server.Log().WaitForCount("Vantor", "VANTOR_STATUS", 1)) << vantor.Stderr();
    const char good[] = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
    std::vector<std::string> fed{good, good};
    ASSERT_TRUE(FeedInStep(feed, server.Log(), fed, "Vantor", "Indic_NS", 1));
    EXPECT_EQ(server.Log().Values("Vantor", "Latitude"),
              (std::vector<std::string>{"4807.038", "4807.038"}));
    EXPECT_TRUE(WaitFor(
        [&]
        {
            const auto status = server.Log().Values("Vantor", "VANTOR_STATUS");
            return status.back().find("AppErrorFlag=true,AppErrorReason=recording failed: "
                                      "cannot open") != std::string::npos;
        }))
        << vantor.Stderr();
    const std::string errors = vantor.Stderr();
    const std::size_t first = errors.find("Vantor: recording failed: cannot open ");
    ASSERT_NE(first, std::string::npos) << errors;
    EXPECT_EQ(errors.find("recording failed", first + 9), std::string::npos) << errors;

    // Without DataTimeout a pass waits for a line, and the recorder tries
    // the folder again once a second on its own thread: lines are fed until
    // a pass finds the recording working again.
    std::filesystem::create_directory(dir / "absent");
    const auto cleared = [&] {
        return server.Log().Values("Vantor", "VANTOR_STATUS").back().find("AppErrorFlag=false,") ==
               0;
    };
    for (int line = 0; line < 60 && !cleared(); ++line)
    {
        ASSERT_TRUE(FeedInStep(feed, server.Log(), {good}, "Vantor", "Indic_NS", 1));
        fed.push_back(good);
        WaitFor(cleared, 0.5);
    }
    EXPECT_TRUE(cleared()) << vantor.Stderr();
    EXPECT_NE(vantor.Stderr().find("Vantor: recording into "), std::string::npos);

    const std::vector<std::string> session = ReadCaptureLines(capture);
    ASSERT_TRUE(FeedInStep(feed, server.Log(), session, "Vantor", "Indic_NS", 16));
    fed.insert(fed.end(), session.begin(), session.end());
    ::kill(vantor.Pid(), SIGTERM);
    ASSERT_EQ(vantor.WaitExit(), 0) << vantor.Stderr();
    const auto recordings = std::filesystem::directory_iterator(dir / "absent");
    ASSERT_NE(recordings, std::filesystem::directory_iterator());

    // The recording holds every line read, those read while the folder was
    // missing included, and another bridge fed it publishes the same values
    // in the same order. It is fed at the test's pace: at the recorded
    // times, a busy machine that starves the bridge's comms thread for a
    // second would make its full outbox shed the oldest values.
    std::ifstream in(recordings->path(), std::ios::binary);
    RecordingReader reader(in);
    std::vector<std::string> recorded;
    for (RecordedLine line; reader.Next(line);)
        recorded.push_back(line.bytes);
    EXPECT_EQ(reader.Skipped(), 0u);
    ASSERT_EQ(recorded, fed);
    TestServer second{kWarp};
    TempDir replayDir;
    ReplayFeed replay(replayDir);
    Process& replayed = Start("Vantor", "Again", replay.Device(), keys, second);
    ASSERT_TRUE(second.Log().WaitForCount("Again", "AGAIN_STATUS", 1)) << replayed.Stderr();
    ASSERT_TRUE(FeedInStep(replay, second.Log(), recorded, "Again", "Indic_NS", 16))
        << replayed.Stderr();
    for (const char* variable : {"Latitude", "Longitude", "Indic_EW", "Indic_NS"})
        EXPECT_EQ(second.Log().Values("Again", variable), server.Log().Values("Vantor", variable))
            << variable;
    EXPECT_TRUE(WaitFor([&] { return replayed.Stdout() == vantor.Stdout(); }));
}
} // namespace
