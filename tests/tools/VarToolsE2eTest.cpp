// VarWatch and VarPoke end to end: the real programs against LocalServer (in
// process, so that the test sees what the server holds and whom it refused),
// with Dirkel and SensorSim where a bridge's values are followed.
#include "E2eSupport.h"

#include "MOOSLIB/MOOSCommClient.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <thread>

using namespace e2e;

namespace
{
class VarToolsTest : public ::testing::Test
{
protected:
    std::string Server() const { return "127.0.0.1:" + std::to_string(server.Port()); }

    std::unique_ptr<Process> Start(const std::string& sTool, std::vector<std::string> Args)
    {
        Args.insert(Args.begin(), {Program(sTool), "--server", Server()});
        return std::make_unique<Process>(Args);
    }
    // VarPoke's exit status, -1 when it did not end by itself in time.
    int Poke(const std::vector<std::string>& Args, std::string* pStderr = nullptr)
    {
        auto pPoke = Start("VarPoke", Args);
        const int nStatus = pPoke->WaitExit().value_or(-1);
        if (pStderr)
            *pStderr = pPoke->Stderr();
        return nStatus;
    }
    // The lines of VarWatch --once for these names or patterns.
    std::vector<LoggedNotification> Once(std::vector<std::string> Args)
    {
        Args.insert(Args.begin(), "--once");
        auto pWatch = Start("VarWatch", Args);
        EXPECT_EQ(pWatch->WaitExit(), 0) << pWatch->Stderr();
        return ParseLog(pWatch->Stdout());
    }
    // Waits until a following VarWatch has printed a line for key with value.
    static bool WaitForLine(Process& Watch, const std::string& sKey, const std::string& sValue)
    {
        return WaitFor(
            [&]
            {
                for (const LoggedNotification& Entry : ParseLog(Watch.Stdout()))
                    if (Entry.key == sKey && Entry.value == sValue)
                        return true;
                return false;
            });
    }
    static std::string LastLine(const std::string& sText)
    {
        std::string sTrimmed = sText.substr(0, sText.find_last_not_of('\n') + 1);
        return sTrimmed.substr(sTrimmed.rfind('\n') + 1);
    }
    static std::size_t Count(const std::string& sText, const std::string& sWhat)
    {
        std::size_t nCount = 0;
        for (auto n = sText.find(sWhat); n != std::string::npos; n = sText.find(sWhat, n + 1))
            ++nCount;
        return nCount;
    }

    TempDir dir;
    TestServer server;
};

// ---------------------------------------------------------------------------
// Poke, then read back.

TEST_F(VarToolsTest, PokedValuesReadBackExactlyWithTheirTypes)
{
    ASSERT_EQ(Poke({"--name", "Poker", "Depth=-12.5", "Mode=survey", "Note=a \"quoted\" word",
                    "Code=\"42\""}),
              0);
    const std::vector<LoggedNotification> Lines = Once({"Depth", "Mode", "Note", "Code"});
    ASSERT_EQ(Lines.size(), 4u);
    const std::vector<std::pair<std::string, std::string>> Expected = {
        {"Code", "42"}, {"Depth", "-12.5"}, {"Mode", "survey"}, {"Note", "a \"quoted\" word"}};
    for (std::size_t i = 0; i < Expected.size(); ++i)
    {
        EXPECT_EQ(Lines[i].key, Expected[i].first);
        EXPECT_EQ(Lines[i].value, Expected[i].second);
        EXPECT_EQ(Lines[i].source, "Poker");
    }
    CMOOSMsg Msg;
    ASSERT_TRUE(server.Core().GetValue("Depth", Msg));
    EXPECT_TRUE(Msg.IsDouble());
    ASSERT_TRUE(server.Core().GetValue("Code", Msg));
    EXPECT_TRUE(Msg.IsString()) << "a quoted number is a string";
}

// More values and variables than the comms client's mail boxes hold: none
// is dropped, on the way in or out.
TEST_F(VarToolsTest, LongListsOfValuesAllArrive)
{
    std::vector<std::string> Args;
    for (int i = 0; i < 1500; ++i)
        Args.push_back("V" + std::to_string(i) + "=" + std::to_string(i));
    ASSERT_EQ(Poke(Args), 0);
    EXPECT_EQ(server.Core().GetNotificationCount(), 1500u);
    CMOOSMsg Msg;
    ASSERT_TRUE(server.Core().GetValue("V0", Msg));
    EXPECT_EQ(Msg.GetDouble(), 0.0);

    const std::vector<LoggedNotification> Lines = Once({"V*"});
    EXPECT_EQ(Lines.size(), 1500u) << "a pattern over more variables than a mail box holds";
}

TEST_F(VarToolsTest, StringFlagPublishesNumbersAsText)
{
    ASSERT_EQ(Poke({"--string", "Id=007"}), 0);
    CMOOSMsg Msg;
    ASSERT_TRUE(server.Core().GetValue("Id", Msg));
    EXPECT_TRUE(Msg.IsString());
    EXPECT_EQ(Msg.GetString(), "007");
}

TEST_F(VarToolsTest, OnceShowsBinaryAndControlBytesSafelyAndNamesWhatIsMissing)
{
    CMOOSCommClient Sender;
    Sender.Run("127.0.0.1", server.Port(), "Sender", 20);
    ASSERT_TRUE(WaitFor([&] { return Sender.IsConnected(); }));
    char Bytes[] = {'\x1b', '[', '2', 'J', '\0'};
    Sender.Notify("Blob", Bytes, sizeof(Bytes));
    Sender.Notify("Text", std::string("one\ntwo\x1b[2J"));
    ASSERT_TRUE(Sender.Flush(20.0));

    auto pWatch = Start("VarWatch", {"--once", "Blob", "Text", "Absent"});
    ASSERT_EQ(pWatch->WaitExit(), 0) << pWatch->Stderr();
    EXPECT_NE(pWatch->Stdout().find(" Sender Blob <binary 5 bytes>\n"), std::string::npos)
        << pWatch->Stdout();
    EXPECT_NE(pWatch->Stdout().find(" Sender Text one\\x0Atwo\\x1B[2J\n"), std::string::npos)
        << pWatch->Stdout();
    EXPECT_EQ(LastLine(pWatch->Stderr()), "VarWatch: no value on the server for Absent");
}

// ---------------------------------------------------------------------------
// Following.

// Dirkel publishes CompassData once for every line SensorSim gives it; the
// line mode prints every one of them, in order.
TEST_F(VarToolsTest, LineModeFollowsABridgeInOrder)
{
    auto pWatch = Start("VarWatch", {"CompassData"});
    ASSERT_EQ(Poke({"CompassData=start"}), 0);
    ASSERT_TRUE(WaitForLine(*pWatch, "CompassData", "start")) << pWatch->Stderr();

    ReplayFeed Feed(dir);
    ASSERT_FALSE(Feed.Device().empty());
    WriteFile(dir / "Mission.moos",
              MissionText(server.Port(), {"Compass"}, {"AppTick = 100", "CommsTick = 50"}));
    const auto Dirkel = StartBridge("Dirkel", dir / "Mission.moos", Feed.Device());
    std::vector<std::string> Lines;
    std::vector<std::string> Expected = {"start"};
    for (int i = 0; i < 40; ++i)
    {
        char sHeading[16];
        std::snprintf(sHeading, sizeof(sHeading), "%d.%d", (i * 37) % 360, i % 10);
        Lines.push_back(std::string("$C") + sHeading + "P0.2R-18.3T19.0\r\n");
        Expected.push_back(sHeading);
    }
    ASSERT_TRUE(FeedInStep(Feed, server.Log(), Lines, "Compass", "CompassData", 8))
        << Dirkel->Stderr();
    ASSERT_TRUE(WaitForLine(*pWatch, "CompassData", Expected.back())) << pWatch->Stdout();
    std::vector<std::string> Seen;
    for (const LoggedNotification& Entry : ParseLog(pWatch->Stdout()))
    {
        EXPECT_EQ(Entry.key, "CompassData");
        Seen.push_back(Entry.value);
    }
    EXPECT_EQ(Seen, Expected);
}

TEST_F(VarToolsTest, PatternPicksUpAVariableThatAppearsLater)
{
    auto pWatch = Start("VarWatch", {"--name", "Watcher", "Late*"});
    ASSERT_TRUE(server.Core().WaitForClient("Watcher", 20.0)) << pWatch->Stderr();
    ASSERT_EQ(Poke({"Other=1", "LateComer=2"}), 0);
    ASSERT_TRUE(WaitForLine(*pWatch, "LateComer", "2")) << pWatch->Stderr();
    ASSERT_EQ(Poke({"LateComer=3"}), 0);
    ASSERT_TRUE(WaitForLine(*pWatch, "LateComer", "3"));
    for (const LoggedNotification& Entry : ParseLog(pWatch->Stdout()))
        EXPECT_EQ(Entry.key, "LateComer") << "Other matches no pattern";
}

// Registrations end with a connection; the watch makes them again on the
// next one, patterns' finds included.
TEST_F(VarToolsTest, WatchRegistersAgainAfterTheServerRestarts)
{
    auto pWatch = Start("VarWatch", {"--name", "Watcher", "Plain", "Found*"});
    ASSERT_TRUE(server.Core().WaitForClient("Watcher", 20.0)) << pWatch->Stderr();
    ASSERT_EQ(Poke({"FoundIt=1"}), 0);
    ASSERT_TRUE(WaitForLine(*pWatch, "FoundIt", "1")) << pWatch->Stderr();
    server.Restart();
    ASSERT_TRUE(server.Core().WaitForClient("Watcher", 20.0)) << pWatch->Stderr();
    ASSERT_EQ(Poke({"Plain=2", "FoundIt=3"}), 0);
    EXPECT_TRUE(WaitForLine(*pWatch, "Plain", "2")) << pWatch->Stdout();
    EXPECT_TRUE(WaitForLine(*pWatch, "FoundIt", "3")) << pWatch->Stdout();
}

TEST_F(VarToolsTest, StopSignalsEndTheWatchCleanly)
{
    for (int nSignal : {SIGINT, SIGTERM})
    {
        auto pWatch = Start("VarWatch", {"--name", "Watcher", "X"});
        ASSERT_TRUE(server.Core().WaitForClient("Watcher", 20.0)) << pWatch->Stderr();
        kill(pWatch->Pid(), nSignal);
        EXPECT_EQ(pWatch->WaitExit(), 0) << nSignal;
        EXPECT_TRUE(server.Core().WaitForClientGone("Watcher", 20.0));
    }
}

TEST_F(VarToolsTest, WatchEndsWhenTheReaderOfItsOutputGoes)
{
    Process Pipeline(
        {"/bin/sh", "-c", Program("VarWatch") + " --server " + Server() + " Tick | head -n 1"});
    ASSERT_EQ(Poke({"Tick=1"}), 0);
    ASSERT_TRUE(WaitFor([&] { return Pipeline.Stdout().find(" Tick 1") != std::string::npos; }))
        << Pipeline.Stderr();
    // The first write after head has gone fails and ends the watch.
    int nTick = 2;
    EXPECT_TRUE(WaitFor(
        [&]
        {
            Poke({"Tick=" + std::to_string(nTick++)});
            return !Pipeline.Running();
        }))
        << Pipeline.Stderr();
    EXPECT_EQ(Pipeline.WaitExit(), 0) << Pipeline.Stderr();
}

// ---------------------------------------------------------------------------
// No server, refusal, and one owner per name.

TEST_F(VarToolsTest, WatchWithoutAServerGivesAHintAndKeepsTrying)
{
    const std::string sNowhere = Server();
    server.Core().Stop();
    auto pWatch = Start("VarWatch", {"X"});
    ASSERT_TRUE(WaitFor(
        [&] {
            return pWatch->Stderr().find("no MOOS server answers at " + sNowhere) !=
                   std::string::npos;
        }))
        << pWatch->Stderr();
    kill(pWatch->Pid(), SIGTERM);
    EXPECT_EQ(pWatch->WaitExit(), 0);
}

TEST_F(VarToolsTest, NoServerWithinTheTimeOutIsExitOneWithOneClearLine)
{
    const std::string sNowhere = Server();
    server.Core().Stop();
    std::string sStderr;
    EXPECT_EQ(Poke({"--timeout", "0.5", "X=1"}, &sStderr), 1);
    EXPECT_EQ(LastLine(sStderr).rfind("VarPoke: no MOOS server answered at " + sNowhere, 0), 0u)
        << sStderr;
    auto pOnce = Start("VarWatch", {"--once", "--timeout", "0.5", "X"});
    EXPECT_EQ(pOnce->WaitExit(), 1);
}

// A FIFO would block the reader for good and a device would feed it without
// end: every program refuses both, like a folder, before doing anything.
TEST_F(VarToolsTest, MissionThatIsNoRegularFileIsRefusedAtOnce)
{
    const std::string sFifo = (dir / "fifo").string();
    ASSERT_EQ(mkfifo(sFifo.c_str(), 0600), 0);
    const std::vector<std::vector<std::string>> Programs = {{Program("VarPoke"), "X=1"},
                                                            {Program("VarWatch"), "--once", "X"},
                                                            {Program("LocalServer")}};
    for (const std::string& sMission : {sFifo, std::string("/dev/zero"), dir.Path().string()})
        for (std::vector<std::string> Args : Programs)
        {
            Args.insert(Args.end(), {"--mission", sMission});
            Process Run(Args);
            EXPECT_EQ(Run.WaitExit(), 2) << Args[0] << " " << sMission;
            EXPECT_NE(Run.Stderr().find("cannot read the mission file"), std::string::npos)
                << Run.Stderr();
        }
}

// A second client under a live name is refused; the owner is not disturbed
// (it never reconnects) and keeps working.
TEST_F(VarToolsTest, LiveNameIsRefusedAndTheOwnerKeepsItsConnection)
{
    auto pOwner = Start("VarWatch", {"--name", "Owner", "X"});
    ASSERT_TRUE(server.Core().WaitForClient("Owner", 20.0)) << pOwner->Stderr();
    std::string sStderr;
    EXPECT_EQ(Poke({"--name", "Owner", "X=1"}, &sStderr), 1);
    EXPECT_NE(sStderr.find("the name \"Owner\" is in use"), std::string::npos) << sStderr;
    EXPECT_EQ(LastLine(sStderr).rfind(
                  "VarPoke: the server at " + Server() + " refused the client \"Owner\"", 0),
              0u)
        << sStderr;
    EXPECT_EQ(server.Core().GetRefusedCount(), 1u);

    ASSERT_EQ(Poke({"X=2"}), 0);
    ASSERT_TRUE(WaitForLine(*pOwner, "X", "2")) << pOwner->Stderr();
    EXPECT_EQ(Count(pOwner->Stderr(), "Handshaking Complete"), 1u) << pOwner->Stderr();
    EXPECT_EQ(pOwner->Stdout().find(" X 1\n"), std::string::npos) << "the refused value";
}

// An owner that has gone silent (here: stopped) longer than the hold time
// loses its name to the newcomer.
TEST_F(VarToolsTest, SilentOwnerIsTakenOver)
{
    auto pOwner = Start("VarWatch", {"--name", "Owner", "X"});
    ASSERT_TRUE(server.Core().WaitForClient("Owner", 20.0)) << pOwner->Stderr();
    kill(pOwner->Pid(), SIGSTOP);
    std::this_thread::sleep_for(std::chrono::milliseconds(
        static_cast<int>(LocalServerOptions().NameHoldSeconds * 1000) + 500));
    std::string sStderr;
    EXPECT_EQ(Poke({"--name", "Owner", "X=1"}, &sStderr), 0) << sStderr;
    EXPECT_EQ(server.Core().GetRefusedCount(), 0u);
    kill(pOwner->Pid(), SIGCONT);
}
} // namespace

namespace
{
// Every program answers --version alone with its name and version, and
// touches nothing else.
TEST(ProgramVersionTest, EveryProgramTellsItsVersion)
{
    for (const char* name : {"LocalServer", "SensorSim", "VarPoke", "VarWatch", "Vantor", "Dirkel"})
    {
        Process program({Program(name), "--version"});
        EXPECT_EQ(program.WaitExit(), 0) << name;
        const std::string out = program.Stdout();
        EXPECT_EQ(out.rfind(std::string(name) + " ", 0), 0u) << out;
        EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
        EXPECT_EQ(out.find("unknown"), std::string::npos) << out;
    }
}
} // namespace
