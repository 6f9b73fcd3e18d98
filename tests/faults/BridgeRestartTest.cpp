// The server dies under running bridges: LocalServer is killed (SIGKILL) and
// started again on its port 20 times while Vantor and Dirkel read SensorSim's
// devices. Every time both must connect again, Dirkel must subscribe again,
// and no reading that reached the server may be followed by a gap while the
// connection lasted. Descriptors and memory of both bridges must be as flat
// after the last restart as after the first.
//
// Every device line carries a number of its own (the latitude of a "$GPGGA"
// sentence, the heading of a compass sentence), so each server's log shows
// exactly which lines arrived and in what order.
#include "FaultTestSupport.h"

#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace faults;

namespace
{

constexpr int kRestarts = 20;
constexpr int kFirstNumber = 100000;
// MOOS time runs this much faster in the bridges and the server, so the
// reconnection pause and the status period shrink with it.
constexpr double kWarp = 10.0;
// Bound of every wait for something that must happen; generous, because the
// sanitizer builds run the programs several times slower.
constexpr std::chrono::seconds kMustHappen{30};

// One reading as LocalServer logs it: "<time> <source> <key> <value>".
struct Logged
{
    std::string sSource, sKey, sValue;
};

std::vector<Logged> ParseServerLog(const std::string& sText)
{
    std::vector<Logged> Entries;
    std::istringstream In(sText);
    for (std::string sLine; std::getline(In, sLine);)
    {
        std::istringstream Fields(sLine);
        double dfTime = 0;
        Logged Entry;
        if (Fields >> dfTime >> Entry.sSource >> Entry.sKey &&
            std::getline(Fields >> std::ws, Entry.sValue))
            Entries.push_back(Entry);
    }
    return Entries;
}

// The numbers carried by one key of one source, in log order.
std::vector<long> NumbersOf(const std::vector<Logged>& Entries, const std::string& sSource,
                            const std::string& sKey)
{
    std::vector<long> Numbers;
    for (const Logged& Entry : Entries)
        if (Entry.sSource == sSource && Entry.sKey == sKey)
            Numbers.push_back(std::atol(Entry.sValue.c_str()));
    return Numbers;
}

std::string NumberedLines(const std::string& sBefore, const std::string& sAfter, int nLines)
{
    std::string sText;
    for (int i = 0; i < nLines; ++i)
        sText += sBefore + std::to_string(kFirstNumber + i) + sAfter + "\n";
    return sText;
}

// Descriptors and memory of one process at one moment.
struct Footprint
{
    int nFds = -1;
    long nRssKb = -1;
};

Footprint FootprintOf(Child& Process)
{
    return {OpenDescriptors(Process.Pid()), ResidentKb(Process.Pid())};
}

class BridgeRestartTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WriteFile(Dir.Path() / "gps.txt",
                  NumberedLines("$GPGGA,120000.00,", ",N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*00",
                                6000));
        WriteFile(Dir.Path() / "compass.txt", NumberedLines("$C", "P1.5R-0.5T21.0*00", 6000));
        WriteFile(Dir.Path() / "Mission.moos", MissionText());
        GpsDevice = StartSensor("gps", Gps);
        CompassDevice = StartSensor("compass", Compass);
        ASSERT_FALSE(GpsDevice.empty() || CompassDevice.empty())
            << ReadFile(Dir.Path() / "gps.err");
        ASSERT_TRUE(StartServer());
        Vantor = StartBridge("Vantor", "VANTOR_DEVICE=" + GpsDevice);
        Dirkel = StartBridge("Compass", "DIRKEL_DEVICE=" + CompassDevice);
    }

    std::string MissionText() const
    {
        std::string sText = "ServerHost = 127.0.0.1\nServerPort = " + std::to_string(Port) +
                            "\nMOOSTimeWarp = " + std::to_string(kWarp) + "\n";
        for (const char* sName : {"Vantor", "Compass"})
            sText += std::string("ProcessConfig = ") + sName +
                     "\n{\n  AppTick = 50\n  CommsTick = 50\n}\n";
        return sText;
    }

    // SensorSim replaying one of the numbered files; its device path.
    std::string StartSensor(const std::string& sName, std::unique_ptr<Child>& Sensor)
    {
        const auto Out = Dir.Path() / (sName + ".out");
        Sensor = std::make_unique<Child>(
            std::vector<std::string>{Program("SensorSim"), "--replay",
                                     (Dir.Path() / (sName + ".txt")).string(), "--rate", "40",
                                     "--hold"},
            Out, Dir.Path() / (sName + ".err"));
        if (!WaitFor([&] { return ReadFile(Out).find('\n') != std::string::npos; }))
            return "";
        const std::string sOut = ReadFile(Out);
        return sOut.substr(0, sOut.find('\n'));
    }

    std::unique_ptr<Child> StartBridge(const std::string& sName, const std::string& sDevice)
    {
        const std::string sProgram = sName == "Vantor" ? "Vantor" : "Dirkel";
        return std::make_unique<Child>(
            std::vector<std::string>{Program(sProgram), (Dir.Path() / "Mission.moos").string(),
                                     sName},
            Dir.Path() / (sName + ".out"), Dir.Path() / (sName + ".err"),
            std::vector<std::string>{sDevice});
    }

    std::filesystem::path ServerLog(int k) const
    {
        return Dir.Path() / ("server-" + std::to_string(k) + ".log");
    }

    // Starts the next server on the same port, its log in a file of its own.
    bool StartServer()
    {
        const auto Log = ServerLog(++Incarnation);
        Server = std::make_unique<Child>(
            std::vector<std::string>{Program("LocalServer"), "--port", std::to_string(Port),
                                     "--log", "--warp", std::to_string(kWarp)},
            Log, Dir.Path() / ("server-" + std::to_string(Incarnation) + ".err"));
        return WaitFor([&] { return ReadFile(Log).find("listening") != std::string::npos; },
                       kMustHappen);
    }

    // The current server has readings of both bridges, and a status record of
    // Dirkel that lists its subscription: both have connected to this server
    // and Dirkel has registered again.
    bool ServesBoth()
    {
        return WaitFor(
            [&]
            {
                const auto Entries = ParseServerLog(ReadFile(ServerLog(Incarnation)));
                bool bSubscribed = false;
                for (const Logged& Entry : Entries)
                    bSubscribed |=
                        Entry.sKey == "COMPASS_STATUS" &&
                        Entry.sValue.find("Subscribing=\"GetCompassData,\"") != std::string::npos;
                return bSubscribed && NumbersOf(Entries, "Vantor", "Latitude").size() >= 3 &&
                       NumbersOf(Entries, "Compass", "CompassData").size() >= 3;
            },
            kMustHappen);
    }

    // Within one server's life the numbers of one variable follow each
    // other without a gap; across lives they only go forward. The lines lost
    // around the restarts are printed for the record.
    void ExpectNoGapWhileConnected(const std::string& sSource, const std::string& sKey)
    {
        long nLastSeen = 0, nLogged = 0, nLostAtRestarts = 0;
        for (int k = 1; k <= Incarnation; ++k)
        {
            const auto Numbers = NumbersOf(ParseServerLog(ReadFile(ServerLog(k))), sSource, sKey);
            ASSERT_FALSE(Numbers.empty()) << sKey << ": nothing reached server " << k;
            EXPECT_GT(Numbers.front(), nLastSeen) << sKey << " went back at server " << k;
            for (size_t j = 1; j < Numbers.size(); ++j)
                ASSERT_EQ(Numbers[j], Numbers[j - 1] + 1) << sKey << " lost lines at server " << k;
            if (k > 1)
                nLostAtRestarts += Numbers.front() - nLastSeen - 1;
            nLastSeen = Numbers.back();
            nLogged += static_cast<long>(Numbers.size());
        }
        std::cout << sKey << ": " << nLogged << " lines reached " << Incarnation << " servers, "
                  << nLostAtRestarts << " lost around the " << Incarnation - 1 << " restarts\n";
    }

    TempDir Dir;
    const int Port = FreePort();
    int Incarnation = 0;
    std::string GpsDevice, CompassDevice;
    std::unique_ptr<Child> Gps, Compass, Server, Vantor, Dirkel;
};

void ExpectFlat(const Footprint& First, const Footprint& Last, const char* sWho)
{
    EXPECT_LE(Last.nFds, First.nFds + 1) << sWho << " keeps descriptors of dead connections";
    EXPECT_LE(Last.nRssKb, First.nRssKb + std::max(4096L, First.nRssKb / 4))
        << sWho << " grows with every reconnection";
}

TEST_F(BridgeRestartTest, BridgesReconnectAndResubscribeAfterEveryServerKill)
{
    ASSERT_TRUE(ServesBoth()) << ReadFile(Dir.Path() / "Vantor.err");
    Footprint VantorFirst, DirkelFirst;
    for (int nRestart = 1; nRestart <= kRestarts; ++nRestart)
    {
        Server->Kill();
        ASSERT_TRUE(StartServer()) << "restart " << nRestart;
        ASSERT_TRUE(ServesBoth()) << "restart " << nRestart << "\n"
                                  << ReadFile(Dir.Path() / "Compass.err");
        if (nRestart == 1)
        {
            VantorFirst = FootprintOf(*Vantor);
            DirkelFirst = FootprintOf(*Dirkel);
        }
    }
    ASSERT_TRUE(Vantor->Running() && Dirkel->Running());
    ExpectFlat(VantorFirst, FootprintOf(*Vantor), "Vantor");
    ExpectFlat(DirkelFirst, FootprintOf(*Dirkel), "Dirkel");
    for (const char* sErr : {"Vantor.err", "Compass.err", "gps.err", "compass.err"})
        EXPECT_EQ(ReadFile(Dir.Path() / sErr).find("Sanitizer"), std::string::npos) << sErr;
    ExpectNoGapWhileConnected("Vantor", "Latitude");
    ExpectNoGapWhileConnected("Compass", "CompassData");
}

} // namespace
