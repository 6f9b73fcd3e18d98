// The bridges' settings end to end: the real programs configured from their
// mission file block, reading SensorSim's pseudo-terminals (replays the test
// paces, or a simulated sensor behind a --link path that can be pulled out
// and put back), checked at an in-process server.
#include "E2eSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

using namespace e2e;

namespace
{
// Status records come every 2 s of MOOS time, so every 0.5 s here.
constexpr double kWarp = 4.0;

std::string Field(const std::string& line, int index)
{
    std::string rest = line;
    for (int i = 0; i < index && rest.find(',') != std::string::npos; ++i)
        rest.erase(0, rest.find(',') + 1);
    return rest.substr(0, rest.find(','));
}

// "latitude|longitude|EW|NS" of every GGA sentence of any talker.
std::vector<std::string> GgaPositions(const std::vector<std::string>& lines)
{
    std::vector<std::string> positions;
    for (const std::string& line : lines)
        if (line.size() > 6 && line[0] == '$' && line.compare(3, 3, "GGA") == 0)
            positions.push_back(Field(line, 2) + "|" + Field(line, 4) + "|" +
                                Field(line, 5).substr(0, 1) + "|" + Field(line, 3).substr(0, 1));
    return positions;
}

// The CPU time (user and system) a process has used so far, in seconds.
double CpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i) // state ... cmajflt: fields 3 to 13
        fields >> skip;
    double user = 0, system = 0;
    fields >> user >> system;
    return (user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// Vantor with no settings, on a replay and a server of its own, beside the
// configured bridge of a test.
class PlainVantor
{
public:
    PlainVantor()
    {
        WriteFile(dir / "Mission.moos",
                  MissionText(server.Port(), {"Vantor"}, {"AppTick = 0", "CommsTick = 50"}, kWarp));
        vantor = StartBridge("Vantor", dir / "Mission.moos", feed.Device());
    }
    bool Feed(const std::vector<std::string>& lines, std::size_t groupSize)
    {
        return FeedInStep(feed, server.Log(), lines, "Vantor", "Indic_NS", groupSize);
    }
    std::vector<std::string> Latitudes() const { return server.Log().Values("Vantor", "Latitude"); }

private:
    TempDir dir;
    ReplayFeed feed{dir};
    TestServer server{kWarp};
    std::unique_ptr<Process> vantor;
};

class SettingsTest : public ::testing::Test
{
protected:
    // Starts program (Vantor or Dirkel) on device with the block's keys
    // (which win over the test's ticks).
    Process& Start(const std::string& program, const std::string& device,
                   const std::vector<std::string>& given, const std::string& name = "")
    {
        const std::string process = !name.empty()         ? name
                                    : program == "Vantor" ? "Vantor"
                                                          : "Compass";
        // No pacing: a pass waits for the device only.
        std::vector<std::string> keys{"AppTick = 0", "CommsTick = 50"};
        keys.insert(keys.end(), given.begin(), given.end());
        WriteFile(dir / "Mission.moos", MissionText(server.Port(), {process}, keys, kWarp));
        bridges.push_back(StartBridge(program, dir / "Mission.moos", device, process));
        return *bridges.back();
    }

    // Waits for the first status record: the bridge has connected and reads.
    bool Reading(const std::string& process = "Vantor")
    {
        return server.Log().WaitForCount(process, StatusKey(process), 1);
    }

    // "latitude|longitude|EW|NS" of every position published.
    std::vector<std::string> Positions()
    {
        const LogCapture& log = server.Log();
        const auto lat = log.Values("Vantor", "Latitude"), lon = log.Values("Vantor", "Longitude"),
                   ew = log.Values("Vantor", "Indic_EW"), ns = log.Values("Vantor", "Indic_NS");
        std::vector<std::string> positions;
        for (std::size_t i = 0; i < std::min({lat.size(), lon.size(), ew.size(), ns.size()}); ++i)
            positions.push_back(lat[i] + "|" + lon[i] + "|" + ew[i] + "|" + ns[i]);
        return positions;
    }

    // Vantor with AcceptAnyTalker, publishing only after GGA sentences, reads
    // lines: it publishes the positions of every GGA sentence, count of them.
    void ExpectEveryGgaPositionWithAnyTalker(const std::vector<std::string>& lines,
                                             std::size_t count)
    {
        ReplayFeed feed(dir);
        Process& vantor =
            Start("Vantor", feed.Device(), {"AcceptAnyTalker = true", "PublishEveryLine = false"});
        ASSERT_TRUE(Reading()) << vantor.Stderr();
        ASSERT_TRUE(feed.Write(Joined(lines)));
        ASSERT_TRUE(server.Log().WaitForCount("Vantor", "Indic_NS", count)) << vantor.Stderr();
        EXPECT_EQ(Positions(), GgaPositions(lines));
        EXPECT_EQ(Positions().size(), count);
    }

    std::vector<std::string> Capture(const std::string& name)
    {
        const std::filesystem::path path = CaptureDir() / name;
        return moostest::HaveCapture(path) ? ReadCaptureLines(path) : std::vector<std::string>{};
    }

    // The last status record of process that carries text, once one does.
    bool StatusCarries(const std::string& text, const std::string& process = "Vantor")
    {
        return WaitFor(
            [&]
            {
                const auto records = server.Log().Values(process, StatusKey(process));
                return !records.empty() && records.back().find(text) != std::string::npos;
            });
    }

    TempDir dir;
    TestServer server{kWarp};
    std::vector<std::unique_ptr<Process>> bridges;
};

#define SKIP_WITHOUT(lines, name)                                                                  \
    if ((lines).empty())                                                                           \
    GTEST_SKIP() << "capture " << (CaptureDir() / (name)) << " not on this machine"

// A u-blox M8 sends only "$GNGGA": every one of its positions is published
// with AcceptAnyTalker, and none without it.
TEST_F(SettingsTest, UbloxPositionsArePublishedOnlyWithAcceptAnyTalker)
{
    const std::vector<std::string> lines = Capture("ublox-8.nmea");
    SKIP_WITHOUT(lines, "ublox-8.nmea");
    ExpectEveryGgaPositionWithAnyTalker(lines, 72);

    PlainVantor without;
    ASSERT_TRUE(without.Feed(lines, 64));
    for (const std::string& latitude : without.Latitudes())
        ASSERT_EQ(latitude, "");
}

// A receiver that mixes talkers: all fourteen GGA sentences, in order.
TEST_F(SettingsTest, MixedTalkersGiveEveryGgaPositionInOrder)
{
    const std::vector<std::string> lines = Capture("ch-4711.nmea");
    SKIP_WITHOUT(lines, "ch-4711.nmea");
    ExpectEveryGgaPositionWithAnyTalker(lines, 14);
}

const char kGood[] = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
const char kCorrupted[] = "$GPGGA,123520,4807.039,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
const char kCut[] = "$GPGGA,123521,4807\r\n";
const char kNoFix[] = "$GPGGA,123522,,,,,0,00,,,M,0.0,M,,*64\r\n";

TEST_F(SettingsTest, DamagedSentencesAreRejectedOnlyWithVerifyChecksum)
{
    ReplayFeed feed(dir);
    Process& vantor = Start("Vantor", feed.Device(), {"VerifyChecksum = true"});
    ASSERT_TRUE(Reading()) << vantor.Stderr();
    ASSERT_TRUE(FeedInStep(feed, server.Log(), {kGood, kCorrupted, kCut}, "Vantor", "Indic_NS", 1));
    EXPECT_EQ(server.Log().Values("Vantor", "Latitude"),
              (std::vector<std::string>{"4807.038", "4807.038", "4807.038"}));
    EXPECT_TRUE(WaitFor([&] { return vantor.Stderr().find("rejected") != std::string::npos; }));

    PlainVantor without;
    ASSERT_TRUE(without.Feed({kGood, kCorrupted, kCut}, 1));
    EXPECT_EQ(without.Latitudes(), (std::vector<std::string>{"4807.038", "4807.039", "4807\r\n"}));
}

// Sentences without a fix change nothing with RequireFix; with StampTime
// values carry the time they were read; a misspelt key is warned about once.
TEST_F(SettingsTest, RequireFixStampTimeAndAMisspeltKeyTakeEffect)
{
    ReplayFeed feed(dir);
    Process& vantor =
        Start("Vantor", feed.Device(), {"RequireFix = true", "StampTime = true", "AppTik = 10"});
    ASSERT_TRUE(Reading()) << vantor.Stderr();
    ASSERT_TRUE(FeedInStep(feed, server.Log(), {kNoFix, kGood, kNoFix}, "Vantor", "Indic_NS", 1));
    EXPECT_EQ(server.Log().Values("Vantor", "Latitude"),
              (std::vector<std::string>{"", "4807.038", "4807.038"}));

    CMOOSMsg msg;
    ASSERT_TRUE(server.Core().GetValue("Latitude", msg));
    const LoggedNotification logged = server.Log().From("Vantor", "Latitude").back();
    EXPECT_GT(msg.GetTime(), 0.0);
    EXPECT_NEAR(msg.GetTime(), logged.time, 5.0 * kWarp);

    const std::string errors = vantor.Stderr();
    const std::size_t first = errors.find("\"AppTik\"");
    ASSERT_NE(first, std::string::npos) << errors;
    EXPECT_EQ(errors.find("\"AppTik\"", first + 1), std::string::npos) << errors;
}

// The rate of the block is the rate of the line: read back from the
// pseudo-terminal the bridge has configured.
TEST_F(SettingsTest, BaudRateReachesTheDevice)
{
    ReplayFeed feed(dir);
    Process& dirkel = Start("Dirkel", feed.Device(), {"BaudRate = 115200"});
    ASSERT_TRUE(Reading("Compass")) << dirkel.Stderr();
    const int fd = ::open(feed.Device().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    termios settings{};
    ASSERT_EQ(::tcgetattr(fd, &settings), 0);
    ::close(fd);
    EXPECT_EQ(::cfgetispeed(&settings), B115200);
    EXPECT_EQ(::cfgetospeed(&settings), B115200);
    EXPECT_NE(dirkel.Stderr().find("reading " + feed.Device() + " at 115200 baud"),
              std::string::npos)
        << dirkel.Stderr();
}

TEST_F(SettingsTest, UnusableValueEndsWithStatusTwoBeforeOpening)
{
    const std::pair<const char*, const char*> cases[] = {
        {"BaudRate = 9601", "give a standard rate: 1200, 2400, 4800, 9600, 19200, 38400, 57600, "
                            "115200, 230400, 460800 or 921600"},
        {"ExpectedRate = 0", "give values a second, a positive number"}};
    for (const auto& [entry, wanted] : cases)
    {
        Process& vantor = Start("Vantor", (dir / "absent").string(), {entry});
        EXPECT_EQ(vantor.WaitExit(), 2) << entry;
        EXPECT_EQ(vantor.Stderr(),
                  "Vantor: " + std::string(entry) + " cannot be used: " + wanted + "\n");
    }
}

// A bridge that cannot start (the mission file gives an empty server host)
// says so on its last line and ends with status 1, not with the 0 of a
// clean stop.
TEST_F(SettingsTest, BridgeThatCannotStartEndsWithStatusOne)
{
    ReplayFeed feed(dir);
    WriteFile(dir / "NoHost.moos", "ServerHost =\nServerPort = 9000\n\n"
                                   "ProcessConfig = Vantor\n{\n}\n");
    const auto vantor = StartBridge("Vantor", dir / "NoHost.moos", feed.Device(), "Vantor");
    EXPECT_EQ(vantor->WaitExit(), 1);
    EXPECT_THAT(vantor->Stderr(), testing::HasSubstr("MOOS Server host not specified"));
    EXPECT_THAT(vantor->Stderr(),
                testing::EndsWith("\nVantor: did not start; the lines above say why\n"));
}

// A receiver that goes quiet: the status records go on and carry the
// error, which clears when lines come again.
TEST_F(SettingsTest, QuietDeviceRaisesTheErrorInTheStatusUntilLinesReturn)
{
    ReplayFeed feed(dir);
    Process& vantor = Start("Vantor", feed.Device(), {"DataTimeout = 1.5"});
    ASSERT_TRUE(Reading()) << vantor.Stderr();
    ASSERT_TRUE(FeedInStep(feed, server.Log(), {kGood}, "Vantor", "Indic_NS", 1));
    EXPECT_TRUE(StatusCarries("AppErrorFlag=true,AppErrorReason=no data from " + feed.Device() +
                              " for 1.5 s,"))
        << vantor.Stderr();
    const std::size_t records = server.Log().Count("Vantor", "VANTOR_STATUS");
    EXPECT_TRUE(server.Log().WaitForCount("Vantor", "VANTOR_STATUS", records + 2));
    ASSERT_TRUE(FeedInStep(feed, server.Log(), {kGood}, "Vantor", "Indic_NS", 1));
    EXPECT_TRUE(StatusCarries("AppErrorFlag=false,")) << vantor.Stderr();
}

// A USB adapter pulled out and put back: SensorSim ends (its link goes) and
// a new one comes up behind the same path. The bridge keeps running, uses
// no CPU while it waits, and publishes again soon after the device returns.
TEST_F(SettingsTest, UnpluggedDeviceIsReadAgainWhenItReturns)
{
    const std::string link = (dir / "gps").string();
    auto sensor = std::make_unique<Process>(
        std::vector<std::string>{Program("SensorSim"), "--gps", "--rate", "10", "--link", link});
    ASSERT_FALSE(sensor->FirstLine().empty());
    Process& vantor = Start("Vantor", link, {"ReopenDevice = true"});
    ASSERT_TRUE(server.Log().WaitForCount("Vantor", "Indic_NS", 5)) << vantor.Stderr();

    sensor.reset(); // unplugged
    EXPECT_TRUE(StatusCarries("AppErrorReason=lost serial device " + link)) << vantor.Stderr();
    const double cpuBefore = CpuSeconds(vantor.Pid());
    const auto waitStart = std::chrono::steady_clock::now();
    const std::size_t records = server.Log().Count("Vantor", "VANTOR_STATUS");
    ASSERT_TRUE(server.Log().WaitForCount("Vantor", "VANTOR_STATUS", records + 3));
    const double waited =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - waitStart).count();
    EXPECT_LT(CpuSeconds(vantor.Pid()) - cpuBefore, 0.25 * waited) << "spins while it waits";

    const std::size_t published = server.Log().Count("Vantor", "Indic_NS");
    Process replugged({Program("SensorSim"), "--gps", "--rate", "10", "--link", link});
    ASSERT_FALSE(replugged.FirstLine().empty());
    const auto back = std::chrono::steady_clock::now();
    ASSERT_TRUE(server.Log().WaitForCount("Vantor", "Indic_NS", published + 1)) << vantor.Stderr();
    EXPECT_LT(std::chrono::steady_clock::now() - back,
              std::chrono::seconds(2 + 3)); // slack for sanitizers
    EXPECT_TRUE(StatusCarries("AppErrorFlag=false,"));
    EXPECT_TRUE(vantor.Running());
    EXPECT_NE(vantor.Stderr().find("is back"), std::string::npos) << vantor.Stderr();
}

// SensorSim's own misbehaving receiver: a u-blox-like talker, lines
// corrupted, quiet for a while and then pulled out and put back. The bridge
// publishes only sound positions, reports the silence and the loss
// in its status, and reads the device again when it returns.
TEST_F(SettingsTest, MisbehavingSimulatedReceiverIsFollowedThroughout)
{
    const std::string link = (dir / "gps").string();
    // Every third line corrupted: one GGA sentence in three bursts.
    const std::vector<std::string> misbehaving{
        Program("SensorSim"), "--gps", "--talker",    "GN",  "--corrupt",      "3",
        "--no-fix",           "0",     "--rate",      "5",   "--link",         link,
        "--pause-after",      "1",     "--pause-for", "1.5", "--unplug-after", "3",
        "--replug-after",     "1"};
    Process sensor(misbehaving);
    ASSERT_FALSE(sensor.FirstLine().empty()) << sensor.Stderr();
    Process& vantor = Start("Vantor", link,
                            {"AcceptAnyTalker = true", "VerifyChecksum = true",
                             "PublishEveryLine = false", "DataTimeout = 1", "ReopenDevice = true"});
    EXPECT_TRUE(StatusCarries("AppErrorReason=no data from " + link + " for 1 s"))
        << vantor.Stderr();
    EXPECT_TRUE(StatusCarries("AppErrorReason=lost serial device " + link)) << vantor.Stderr();
    ASSERT_TRUE(WaitFor([&] { return vantor.Stderr().find("is back") != std::string::npos; }))
        << vantor.Stderr() << sensor.Stderr();
    const std::size_t published = server.Log().Count("Vantor", "Latitude");
    EXPECT_TRUE(server.Log().WaitForCount("Vantor", "Latitude", published + 2));
    EXPECT_TRUE(StatusCarries("AppErrorFlag=false,"));
    EXPECT_TRUE(
        WaitFor([&] { return vantor.Stderr().find("rejected for a wrong") != std::string::npos; }))
        << vantor.Stderr() << sensor.Stderr();
    for (const std::string& latitude : server.Log().Values("Vantor", "Latitude"))
        EXPECT_EQ(latitude.rfind("4807.", 0), 0u) << latitude;
}

TEST_F(SettingsTest, DeviceMissingAtStartUpIsReadOnceItAppears)
{
    const std::string link = (dir / "compass").string();
    Process& dirkel = Start("Dirkel", link, {"ReopenDevice = true"});
    ASSERT_TRUE(Reading("Compass")) << dirkel.Stderr();
    EXPECT_TRUE(StatusCarries("AppErrorReason=cannot open serial device " + link, "Compass"));
    Process sensor({Program("SensorSim"), "--compass", "--rate", "20", "--link", link});
    ASSERT_FALSE(sensor.FirstLine().empty());
    EXPECT_TRUE(server.Log().WaitForCount("Compass", "CompassData", 3)) << dirkel.Stderr();
}

// A second bridge on a device another one reads is refused, or with
// ReopenDevice told the same and tries again; one under a name the server
// already knows says so on a line of its own and ends with status 1 instead
// of idling. The first reads on. The device is named by a link that goes
// with the sensor, so that the bridge trying again cannot take the path's
// next pseudo-terminal, another test's, once the sensor has ended.
TEST_F(SettingsTest, SecondBridgeIsRefusedTheDeviceOrTheName)
{
    const std::string device = (dir / "compass").string();
    Process sensor({Program("SensorSim"), "--compass", "--rate", "20", "--link", device});
    Process other({Program("SensorSim"), "--compass", "--rate", "20"});
    ASSERT_FALSE(sensor.FirstLine().empty()) << sensor.Stderr();
    Process& first = Start("Dirkel", device, {});
    ASSERT_TRUE(server.Log().WaitForCount("Compass", "CompassData", 2)) << first.Stderr();

    const std::string inUse = "Dirkel: serial device " + device + " is in use by another process";
    Process& sameDevice = Start("Dirkel", device, {}, "Compass2");
    EXPECT_EQ(sameDevice.WaitExit(), 1);
    EXPECT_NE(sameDevice.Stderr().find(inUse), std::string::npos) << sameDevice.Stderr();
    Process& waiting = Start("Dirkel", device, {"ReopenDevice = true"}, "Compass3");
    const std::string busy = inUse + " (another bridge reading it?); trying again every second";
    EXPECT_TRUE(WaitFor([&] { return waiting.Stderr().find(busy) != std::string::npos; }))
        << waiting.Stderr();

    Process& sameName = Start("Dirkel", other.FirstLine(), {});
    EXPECT_EQ(sameName.WaitExit(), 1) << sameName.Stderr();
    const std::string refusal = "\"\nCompass: the MOOS server refused the name \"Compass\"";
    EXPECT_NE(sameName.Stderr().find(refusal), std::string::npos) << sameName.Stderr();
    EXPECT_EQ(sameName.Stderr().find("did not start"), std::string::npos) << sameName.Stderr();
    EXPECT_TRUE(first.Running());
}

// The way a service manager stops a bridge: what it has read reaches the
// server, the echo is complete and the exit status is 0.
TEST_F(SettingsTest, SigtermDeliversTheLastValuesAndExitsZero)
{
    ReplayFeed feed(dir);
    Process& vantor = Start("Vantor", feed.Device(), {"CommsTick = 1"});
    ASSERT_TRUE(Reading()) << vantor.Stderr();
    ASSERT_TRUE(feed.Write(kGood));
    ASSERT_TRUE(WaitFor([&] { return vantor.Stdout() == "4807.038\n01131.000\nE\nN\n"; }));
    ::kill(vantor.Pid(), SIGTERM);
    EXPECT_EQ(vantor.WaitExit(std::chrono::seconds(5)), 0) << vantor.Stderr();
    EXPECT_EQ(server.Log().Values("Vantor", "Latitude"), std::vector<std::string>{"4807.038"});
}

TEST_F(SettingsTest, SignalsEndASilentBridgeWithinAboutASecond)
{
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
    {
        TempDir feedDir;
        ReplayFeed silent(feedDir);
        Process& dirkel = Start("Dirkel", silent.Device(), {}, "Compass" + std::to_string(signal));
        ASSERT_TRUE(Reading("Compass" + std::to_string(signal))) << dirkel.Stderr();
        const auto sent = std::chrono::steady_clock::now();
        ::kill(dirkel.Pid(), signal);
        EXPECT_EQ(dirkel.WaitExit(), 0) << signal;
        EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(3)) << signal;
    }
}

// (--version is answered alike by every program: see the tools' tests.)
TEST_F(SettingsTest, HelpOpensNothing)
{
    for (const char* program : {"Vantor", "Dirkel"})
    {
        Process help({Program(program), "--help"}, {{"VANTOR_DEVICE=/dev/absent"}, {}});
        EXPECT_EQ(help.WaitExit(), 0);
        EXPECT_NE(help.Stdout().find("Usage: " + std::string(program)), std::string::npos);
        EXPECT_NE(help.Stdout().find("ReopenDevice"), std::string::npos);
        EXPECT_EQ(help.Stderr(), "");
        Process h({Program(program), "-h"});
        EXPECT_EQ(h.WaitExit(), 0);
    }
}

} // namespace
