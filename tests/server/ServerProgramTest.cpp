// The LocalServer program: its command line, its listening line, its log and
// its clean end on a stop signal.
#include "RawClient.h"

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"
#include "support/Files.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdio>

namespace
{
// One run of the program; its standard error is not looked at.
class ServerProcess
{
public:
    explicit ServerProcess(const std::vector<std::string>& Args) : m_Program(CommandLine(Args)) {}

    // The next line of standard output without its newline; "" at end of
    // output or after 10 s.
    std::string ReadLine() { return m_Program.NextLine(std::chrono::seconds(10)); }
    // The port from the listening line, 0 when it did not come.
    int ReadListeningPort()
    {
        int nPort = 0;
        char sTail = 0;
        std::string sLine = ReadLine();
        int nFields =
            std::sscanf(sLine.c_str(), "LocalServer listening on 127.0.0.1:%d%c", &nPort, &sTail);
        return nFields == 1 ? nPort : 0;
    }
    // The exit code after nSignal (0: none sent), -1 when it did not exit
    // normally within 10 s.
    int WaitForExit(int nSignal = 0)
    {
        if (nSignal)
            m_Program.Signal(nSignal);
        return m_Program.WaitExit(std::chrono::seconds(10)).value_or(-1);
    }

private:
    static std::vector<std::string> CommandLine(std::vector<std::string> Args)
    {
        Args.insert(Args.begin(), moostest::Program("LocalServer"));
        return Args;
    }

    moostest::Process m_Program;
};

TEST(ServerProgramTest, HelpPrintsTheUsageAndSucceeds)
{
    ServerProcess Program({"--help"});
    EXPECT_EQ(Program.ReadLine().rfind("usage: LocalServer", 0), 0u);
    std::string sText;
    for (std::string sLine = Program.ReadLine(); !sLine.empty(); sLine = Program.ReadLine())
        sText += sLine + "\n";
    EXPECT_NE(sText.find("One owner per client name"), std::string::npos) << sText;
    EXPECT_NE(sText.find("within the last 5 s"), std::string::npos) << sText;
    EXPECT_EQ(Program.WaitForExit(), 0);
}

TEST(ServerProgramTest, BadCommandLinesFailWithoutListening)
{
    for (std::vector<std::string> Args : {std::vector<std::string>{"--bogus"},
                                          {"--port"},
                                          {"--port", "70000"},
                                          {"--warp", "100"},
                                          {"--allow", ","},
                                          {"--warp", "2", "--mission", "m.moos"},
                                          {"--mission", "/nonexistent/m.moos"}})
    {
        ServerProcess Program(Args);
        EXPECT_EQ(Program.ReadLine(), "") << Args[0];
        EXPECT_EQ(Program.WaitForExit(), 2) << Args[0];
    }
}

TEST(ServerProgramTest, ListensOnTheReportedPortAndEndsCleanlyOnStopSignals)
{
    for (int nSignal : {SIGTERM, SIGINT})
    {
        ServerProcess Program({"--port", "0"});
        int nPort = Program.ReadListeningPort();
        ASSERT_GT(nPort, 0);
        RawClient Client(nPort);
        EXPECT_FALSE(Client.Greet("a").IsType(MOOS_POISON));
        EXPECT_EQ(Program.WaitForExit(nSignal), 0);
    }
}

TEST(ServerProgramTest, LogOptionPrintsEachNotificationAsALine)
{
    ServerProcess Program({"--port", "0", "--log"});
    RawClient Client(Program.ReadListeningPort());
    Client.Greet("gps");
    Client.Notify("Latitude", "4807.038 N");
    std::string sLine = Program.ReadLine();
    double dfTime = 0;
    int nTail = 0;
    ASSERT_EQ(std::sscanf(sLine.c_str(), "%lf %n", &dfTime, &nTail), 1) << sLine;
    EXPECT_NEAR(dfTime, MOOSLocalTime(false), 10.0);
    EXPECT_EQ(sLine.substr(nTail), "gps Latitude 4807.038 N");
    EXPECT_EQ(sLine.find('.'), sLine.find(' ') - 4) << "three decimals: " << sLine;
}

TEST(ServerProgramTest, AllowOptionRefusesOtherNames)
{
    ServerProcess Program({"--port", "0", "--allow", "Vantor,Compass"});
    int nPort = Program.ReadListeningPort();
    EXPECT_TRUE(RawClient(nPort).Greet("Other").IsType(MOOS_POISON));
    EXPECT_FALSE(RawClient(nPort).Greet("Compass").IsType(MOOS_POISON));
}

TEST(ServerProgramTest, MissionFileTimeWarpSetsTheServerClock)
{
    moostest::TempDir Dir;
    const std::string sMission =
        Dir.Write("Mission.moos", "// a warped mission\nMOOSTimeWarp = 10\n");
    ServerProcess Program({"--port", "0", "--mission", sMission});
    RawClient Client(Program.ReadListeningPort());
    EXPECT_NEAR(Client.Greet("a", MOOSLocalTime(false) * 10.0).m_dfVal, 0.0, 2.0);
}
} // namespace
