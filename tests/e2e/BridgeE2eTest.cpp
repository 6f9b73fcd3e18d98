// What every bridge does alike (the two programs and the example heading
// bridge), run end to end against a live simulated
// sensor: the command line, the device errors, the status record and the
// chain through the LocalServer program that the demo shows.
#include "E2eSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <ostream>

using namespace e2e;

namespace
{
bool IsDigits(const std::string& text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](unsigned char c) { return std::isdigit(c) != 0; });
}

// "4807.dddd": a latitude on the simulated track.
bool IsTrackLatitude(const std::string& value)
{
    return value.size() == 9 && value.rfind("4807.", 0) == 0 && IsDigits(value.substr(5));
}

// "ddd.d": a heading with one decimal.
bool IsHeading(const std::string& value)
{
    const std::size_t dot = value.find('.');
    return dot != std::string::npos && dot <= 3 && value.size() == dot + 2 &&
           IsDigits(value.substr(0, dot)) && IsDigits(value.substr(dot + 1));
}

// A number of degrees as LocalServer logs a double: "ddd" or "ddd.d".
bool IsDegrees(const std::string& value)
{
    const std::size_t dot = value.find('.');
    return IsDigits(value.substr(0, dot)) &&
           (dot == std::string::npos || IsDigits(value.substr(dot + 1)));
}

// The uptime of a status record without an error whose part behind the
// uptime is rest; nothing for a record of another form.
std::optional<double> UptimeOf(const std::string& record, const std::string& rest)
{
    const std::string start = "AppErrorFlag=false,Uptime=";
    const std::size_t end = record.find(',', start.size());
    if (record.rfind(start, 0) != 0 || end == std::string::npos || record.substr(end) != rest)
        return std::nullopt;
    return std::stod(record.substr(start.size(), end - start.size()));
}

struct Bridge
{
    const char* program;
    const char* defaultName;
    const char* deviceVariable;
    std::vector<std::string> sensor;    // SensorSim's arguments
    const char* dataKey;                // published once a line
    bool (*isLive)(const std::string&); // what a live value of dataKey looks like
    const char* published;              // the status record's lists, data flowing
    const char* subscribed;
};

// Names the bridge in test names and messages.
void PrintTo(const Bridge& bridge, std::ostream* out)
{
    *out << bridge.program;
}

const Bridge kVantor{"Vantor",
                     "Vantor",
                     "VANTOR_DEVICE",
                     {"--gps", "--no-fix", "0", "--rate", "4"},
                     "Latitude",
                     IsTrackLatitude,
                     "Indic_EW,Indic_NS,Latitude,Longitude,VANTOR_STATUS,",
                     ""};
const Bridge kDirkel{"Dirkel",
                     "Compass",
                     "DIRKEL_DEVICE",
                     {"--compass", "--rate", "20"},
                     "CompassData",
                     IsHeading,
                     "COMPASS_STATUS,CompassData,",
                     "GetCompassData,"};
[[maybe_unused]] const Bridge kHdt{"HdtBridge",
                                   "HdtBridge",
                                   "HDTBRIDGE_DEVICE",
                                   {"--heading", "--rate", "20"},
                                   "GPS_HEADING",
                                   IsDegrees,
                                   "GPS_HEADING,HDTBRIDGE_STATUS,",
                                   ""};

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class BridgeTest : public ::testing::TestWithParam<Bridge>
{
protected:
    const Bridge& bridge() const { return GetParam(); }

    // Starts the bridge's simulated sensor; its device path.
    std::string StartSensor()
    {
        std::vector<std::string> args{Program("SensorSim")};
        args.insert(args.end(), bridge().sensor.begin(), bridge().sensor.end());
        sensor = std::make_unique<Process>(args);
        return sensor->FirstLine();
    }

    // A mission file for this test's server and its warp, blocks for the
    // names.
    std::filesystem::path Mission(const std::string& file, const std::vector<std::string>& names,
                                  std::vector<std::string> keys = {})
    {
        keys.push_back("AppTick = 100");
        keys.push_back("CommsTick = 50");
        WriteFile(dir / file, MissionText(server.Port(), names, keys, kWarp));
        return dir / file;
    }

    // Runs the bridge in the test's folder with the arguments after its name.
    Process& StartBridge(const std::vector<std::string>& args, const std::string& device)
    {
        std::vector<std::string> argv{Program(bridge().program)};
        argv.insert(argv.end(), args.begin(), args.end());
        const std::string env = std::string(bridge().deviceVariable) + "=" + device;
        program = std::make_unique<Process>(argv, Process::Options{{env}, dir.Path()});
        return *program;
    }

    bool WaitForData(const std::string& name, std::size_t count)
    {
        return server.Log().WaitForCount(name, bridge().dataKey, count);
    }

    std::string CannotOpen(const std::string& device) const
    {
        return std::string(bridge().program) + ": cannot open serial device " + device +
               ": No such file or directory (set " + bridge().deviceVariable +
               " to read another device)\n";
    }

    // Status records come every 2 s of MOOS time, so every 0.5 s here.
    static constexpr double kWarp = 4.0;

    TempDir dir;
    TestServer server{kWarp};
    std::unique_ptr<Process> sensor;
    std::unique_ptr<Process> program;
};

// Without arguments the bridge reads Mission.moos in its working folder and
// runs under its default name.
TEST_P(BridgeTest, NoArgumentsReadMissionMoosUnderTheDefaultName)
{
    const std::string device = StartSensor();
    Mission("Mission.moos", {bridge().defaultName});
    StartBridge({}, device);
    EXPECT_TRUE(WaitForData(bridge().defaultName, 1)) << program->Stderr();
}

// One argument names the mission file; the name stays the default.
TEST_P(BridgeTest, OneArgumentNamesTheMissionFile)
{
    const std::string device = StartSensor();
    const auto given = Mission("given.moos", {bridge().defaultName});
    StartBridge({given.string()}, device);
    EXPECT_TRUE(WaitForData(bridge().defaultName, 1)) << program->Stderr();
}

// Two arguments name the mission file and the process: its name at the
// server, its block (here the only one that catches commands) and its status
// variable.
TEST_P(BridgeTest, TwoArgumentsNameTheMissionFileAndTheProcess)
{
    const std::string device = StartSensor();
    const auto given = Mission("given.moos", {bridge().defaultName});
    WriteFile(given, ReadFile(given) +
                         "ProcessConfig = Probe7\n{\n    CatchCommandMessages = true\n"
                         "    AppTick = 100\n    CommsTick = 50\n}\n");
    StartBridge({given.string(), "Probe7"}, device);
    ASSERT_TRUE(server.Log().WaitForCount("Probe7", "PROBE7_STATUS", 1)) << program->Stderr();
    const std::string record = server.Log().From("Probe7", "PROBE7_STATUS").front().value;
    EXPECT_NE(record.find("MOOSName=Probe7,"), std::string::npos) << record;
    EXPECT_NE(record.find("PROBE7_CMD,"), std::string::npos) << record;
    EXPECT_TRUE(WaitForData("Probe7", 1));
}

// Three arguments or more are all ignored: Mission.moos, the default name.
TEST_P(BridgeTest, ThreeArgumentsAreAllIgnored)
{
    const std::string device = StartSensor();
    Mission("Mission.moos", {bridge().defaultName});
    const auto given = Mission("given.moos", {"Probe7"});
    StartBridge({given.string(), "Probe7", "extra"}, device);
    ASSERT_TRUE(WaitForData(bridge().defaultName, 1)) << program->Stderr();
    EXPECT_EQ(server.Core().GetClientNames(), std::vector<std::string>{bridge().defaultName});
}

// A device that is not there: one line on standard error, status 1, and the
// bridge never reaches the server.
TEST_P(BridgeTest, MissingDeviceIsOneLineAndExitStatusOne)
{
    Mission("Mission.moos", {bridge().defaultName});
    const std::string device = (dir / "no-such-device").string();
    Process& bridgeProcess = StartBridge({}, device);
    EXPECT_EQ(bridgeProcess.WaitExit(), 1);
    EXPECT_TRUE(EndsWith(bridgeProcess.Stderr(), CannotOpen(device))) << bridgeProcess.Stderr();
    EXPECT_EQ(bridgeProcess.Stdout(), "");
    EXPECT_EQ(server.Core().GetConnectionCount(), 0u);
}

// An empty device variable leaves the receiver's usual device.
TEST_P(BridgeTest, EmptyDeviceVariableMeansTheUsualDevice)
{
    if (std::filesystem::exists("/dev/ttyUSB0"))
        GTEST_SKIP() << "this machine has a /dev/ttyUSB0";
    Process& bridgeProcess = StartBridge({}, "");
    EXPECT_EQ(bridgeProcess.WaitExit(), 1);
    EXPECT_TRUE(EndsWith(bridgeProcess.Stderr(), CannotOpen("/dev/ttyUSB0")))
        << bridgeProcess.Stderr();
}

// A device that goes away while the bridge reads it (a receiver unplugged):
// the bridge says so on its last line and ends with status 1, without
// hanging.
TEST_P(BridgeTest, DeviceThatDisappearsEndsTheBridgeWithStatusOne)
{
    const std::string device = StartSensor();
    Mission("Mission.moos", {bridge().defaultName});
    StartBridge({}, device);
    ASSERT_TRUE(WaitForData(bridge().defaultName, 3)) << program->Stderr();
    sensor->Stop();

    EXPECT_EQ(program->WaitExit(), 1);
    const std::string text = program->Stderr();
    const std::size_t lastLine = text.rfind('\n', text.size() - 2) + 1;
    EXPECT_TRUE(EndsWith(text, "\n") &&
                HasLostDeviceLine(text.substr(lastLine), bridge().program, device))
        << text;
}

// The status record, once data flows, lists what the bridge publishes and
// subscribes to; its uptime grows from record to record.
TEST_P(BridgeTest, StatusRecordListsPublishedAndSubscribedNames)
{
    const std::string device = StartSensor();
    Mission("Mission.moos", {bridge().defaultName});
    StartBridge({}, device);
    const std::string name = bridge().defaultName;
    ASSERT_TRUE(server.Log().WaitForCount(name, StatusKey(name), 3)) << program->Stderr();

    const std::string rest = ",MOOSName=" + name + ",Publishing=\"" + bridge().published +
                             "\",Subscribing=\"" + bridge().subscribed + "\"";
    const auto records = server.Log().From(name, StatusKey(name));
    const std::optional<double> second = UptimeOf(records[1].value, rest);
    const std::optional<double> third = UptimeOf(records[2].value, rest);
    ASSERT_TRUE(second) << records[1].value;
    ASSERT_TRUE(third) << records[2].value;
    EXPECT_GT(*third, *second);
}

// The chain the demo shows: the LocalServer program logs, one line each,
// the values the bridge reads from the simulated sensor.
TEST_P(BridgeTest, ServerProgramLogsTheValuesTheBridgeReads)
{
    const std::string device = StartSensor();
    Process localServer({Program("LocalServer"), "--port", "0", "--log"});
    const std::string listening = localServer.FirstLine();
    ASSERT_NE(listening.find("LocalServer listening on 127.0.0.1:"), std::string::npos)
        << listening;
    const int port = std::stoi(listening.substr(listening.rfind(':') + 1));
    WriteFile(dir / "Mission.moos", MissionText(port, {bridge().defaultName}, {}));
    StartBridge({}, device);

    std::vector<LoggedNotification> data;
    EXPECT_TRUE(WaitFor(
        [&]
        {
            data.clear();
            for (const LoggedNotification& entry : ParseLog(localServer.Stdout()))
                if (entry.source == bridge().defaultName && entry.key == bridge().dataKey &&
                    bridge().isLive(entry.value))
                    data.push_back(entry);
            return data.size() >= 2;
        }))
        << localServer.Stdout();
}

#ifdef MOOS_E2E_HDT_BRIDGE
#define MOOS_E2E_BRIDGES kVantor, kDirkel, kHdt
#else
#define MOOS_E2E_BRIDGES kVantor, kDirkel
#endif
INSTANTIATE_TEST_SUITE_P(Bridges, BridgeTest, ::testing::Values(MOOS_E2E_BRIDGES),
                         [](const ::testing::TestParamInfo<Bridge>& info)
                         { return std::string(info.param.program); });
} // namespace
