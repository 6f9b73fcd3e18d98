// Mission files that are not what a mission file should be, read by a whole
// application run with comms off: each must give the built-in defaults (with
// a warning when the file cannot be read at all), start the loop and end when
// asked, never crash and never block or spin in the reader.
#include "FaultTestSupport.h"

#include "MOOSLIB/MOOSApp.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
#include <ostream>
#include <random>
#include <string>

using namespace faults;

namespace
{

// An application without comms that records whether its block held
// "Marker" and quits after a few passes.
class ProbeApp : public CMOOSApp
{
public:
    ProbeApp()
    {
        UseMOOSComms(false);
        SetAppFreq(50);
    }
    bool OnStartUp() override
    {
        bMarkerFound = missionReader.GetConfigurationParam("Marker", sMarker);
        return true;
    }
    bool Iterate() override
    {
        if (++nPasses >= 3)
            RequestQuit();
        return true;
    }
    bool bMarkerFound = false;
    std::string sMarker;
    int nPasses = 0;
};

struct BadMission
{
    const char* sName;
    // Makes the mission file in the folder; returns its path.
    std::function<std::string(const TempDir&)> Make;
    bool bMarkerFound;
    bool bNotFoundWarning;
};

void PrintTo(const BadMission& Mission, std::ostream* pOut)
{
    *pOut << Mission.sName;
}

std::function<std::string(const TempDir&)> FileWith(const std::string& sText)
{
    return [sText](const TempDir& Dir)
    {
        WriteFile(Dir.Path() / "bad.moos", sText);
        return (Dir.Path() / "bad.moos").string();
    };
}

std::string Noise(size_t nBytes)
{
    std::mt19937 Random(11);
    std::string sBytes(nBytes, '\0');
    for (char& c : sBytes)
        c = static_cast<char>(Random());
    return sBytes;
}

const std::string kLong(100000, 'x');

const BadMission kBadMissions[] = {
    {"Empty", FileWith(""), false, false},
    {"Binary", FileWith(Noise(64 * 1024)), false, false},
    {"BinaryAroundABlock",
     FileWith(Noise(4096) + "\nProcessConfig = Probe\n{\nMarker = found\n}\n" + Noise(4096)), true,
     false},
    {"Directory", [](const TempDir& Dir) { return Dir.Path().string(); }, false, true},
    {"Missing", [](const TempDir& Dir) { return (Dir.Path() / "absent.moos").string(); }, false,
     true},
    {"Fifo",
     [](const TempDir& Dir)
     {
         const std::string sPath = (Dir.Path() / "fifo.moos").string();
         ::mkfifo(sPath.c_str(), 0600);
         return sPath;
     },
     false, true},
    {"HundredThousandCharacterLines",
     FileWith("// " + kLong + "\nJunk = " + kLong + "\nProcessConfig = Probe\n{\nLong = " + kLong +
              "\nMarker = found\n}\n"),
     true, false},
    {"UnterminatedBlock", FileWith("ProcessConfig = Probe\n{\nMarker = found\nAppTick = 1\n"),
     false, false},
    {"BlockWithoutOpeningBrace", FileWith("ProcessConfig = Probe\nMarker = found\n}\n"), false,
     false},
    {"StrayOpeningBraces", FileWith("ProcessConfig = Probe\n{\n{\n{\nMarker = found\n}\n"), true,
     false},
    {"DefinitionsThatReferToThemselves",
     FileWith("define: LOOP = ${LOOP}${LOOP}\ndefine: B = ${C}\ndefine: C = ${B}\n"
              "ProcessConfig = Probe\n{\nMarker = ${LOOP}${B}${\n}\n"),
     true, false},
};

class MissionFaultTest : public ::testing::TestWithParam<BadMission>
{
protected:
    // Runs the probe on the mission; false when Run does not end in time.
    bool RunProbe(const std::string& sMission)
    {
        auto Done =
            std::async(std::launch::async, [&] { return App.Run("Probe", sMission.c_str()); });
        if (Done.wait_for(std::chrono::seconds(20)) == std::future_status::ready)
            return Done.get();
        App.RequestQuit();
        Done.wait();
        return false;
    }

    TempDir Dir;
    ProbeApp App;
};

TEST_P(MissionFaultTest, DefaultsApplyAndTheLoopRunsAndEnds)
{
    const std::string sMission = GetParam().Make(Dir);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(RunProbe(sMission)) << "Run did not end by itself";
    const std::string sTrace = testing::internal::GetCapturedStderr();
    EXPECT_EQ(App.nPasses, 3);
    EXPECT_EQ(App.bMarkerFound, GetParam().bMarkerFound) << App.sMarker;
    EXPECT_EQ(sTrace.find("Warning Mission File") != std::string::npos, GetParam().bNotFoundWarning)
        << sTrace;
}

INSTANTIATE_TEST_SUITE_P(Faults, MissionFaultTest, testing::ValuesIn(kBadMissions),
                         [](const testing::TestParamInfo<BadMission>& Info)
                         { return std::string(Info.param.sName); });

// A file the process may not read is a missing mission file, not a stall.
TEST(MissionPermissionFaultTest, UnreadableFileGivesTheDefaultsWithAWarning)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file; an unreadable mission file cannot be made";
    TempDir Dir;
    WriteFile(Dir.Path() / "locked.moos", "ProcessConfig = Probe\n{\nMarker = found\n}\n");
    ::chmod((Dir.Path() / "locked.moos").c_str(), 0);
    ProbeApp App;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(App.Run("Probe", (Dir.Path() / "locked.moos").c_str()));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Warning Mission File"),
              std::string::npos);
    EXPECT_FALSE(App.bMarkerFound);
}

} // namespace
