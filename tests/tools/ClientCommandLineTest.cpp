// The command line VarWatch and VarPoke share: where the server is, the
// client name, the time-out, and what counts as a bad command line.
#include "ClientCommandLine.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace
{
class ClientCommandLineTest : public ::testing::Test
{
protected:
    bool Parse(std::vector<std::string> Args)
    {
        Args.insert(Args.begin(), "Tool");
        std::vector<char*> Argv;
        for (std::string& sArg : Args)
            Argv.push_back(&sArg[0]);
        Line = ClientCommandLine();
        sError.clear();
        return ParseClientCommandLine(int(Argv.size()), Argv.data(), "Tool", {"--once"}, Line,
                                      sError);
    }
    std::string Mission(const std::string& sText)
    {
        std::ofstream(sMissionFile) << sText;
        return sMissionFile;
    }
    void TearDown() override { std::remove(sMissionFile.c_str()); }

    ClientCommandLine Line;
    std::string sError;
    std::string sMissionFile = "ClientCommandLineTest-" + std::to_string(getpid()) + ".moos";
};

TEST_F(ClientCommandLineTest, DefaultsAreTheFrameworksServerAndANameWithTheProcessId)
{
    ASSERT_TRUE(Parse({"X"})) << sError;
    EXPECT_EQ(Line.Server(), "LOCALHOST:9000");
    EXPECT_EQ(Line.sName, "Tool-" + std::to_string(getpid()));
    EXPECT_LT(Line.dfTimeout, 0.0);
    EXPECT_EQ(Line.Operands, std::vector<std::string>{"X"});
}

TEST_F(ClientCommandLineTest, OptionsAndOperandsMayComeInAnyOrder)
{
    ASSERT_TRUE(Parse({"A", "--server", "boat.local:9100", "--once", "B*", "--name", "me",
                       "--timeout", "2.5", "--", "--C"}))
        << sError;
    EXPECT_EQ(Line.sHost, "boat.local");
    EXPECT_EQ(Line.nPort, 9100);
    EXPECT_EQ(Line.sName, "me");
    EXPECT_EQ(Line.dfTimeout, 2.5);
    EXPECT_TRUE(Line.Has("--once"));
    EXPECT_EQ(Line.Operands, (std::vector<std::string>{"A", "B*", "--C"}));
}

TEST_F(ClientCommandLineTest, ServerAddressSplitsAtTheLastColonAndNeedsAPort)
{
    std::string sHost = "unchanged";
    int nPort = 1;
    EXPECT_TRUE(ParseServerAddress("::1:9000", sHost, nPort));
    EXPECT_EQ(sHost, "::1");
    EXPECT_EQ(nPort, 9000);
    for (const char* sBad : {"localhost", ":9000", "host:", "host:0", "host:65536", "host:9x"})
    {
        EXPECT_FALSE(ParseServerAddress(sBad, sHost, nPort)) << sBad;
        EXPECT_EQ(sHost, "::1") << sBad;
    }
}

TEST_F(ClientCommandLineTest, MissionFileNamesTheServerAsTheFrameworkReadsIt)
{
    ASSERT_TRUE(Parse({"--mission",
                       Mission("// a comment\nserverhost = 10.0.0.7\n"
                               "ServerPort = 9123\nProcessConfig = X\n{\n}\n"),
                       "X"}))
        << sError;
    EXPECT_EQ(Line.Server(), "10.0.0.7:9123");
    ASSERT_TRUE(Parse({"--mission", Mission("ServerPort = 9123\n"), "X"})) << sError;
    EXPECT_EQ(Line.Server(), "LOCALHOST:9123");
}

TEST_F(ClientCommandLineTest, BadCommandLinesSayWhatIsWrong)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> Cases = {
        {{"--bogus"}, "unknown option \"--bogus\""},
        {{"--server"}, "--server needs a value"},
        {{"--server", "nohost"}, "bad value \"nohost\" for --server"},
        {{"--timeout", "0"}, "bad value \"0\" for --timeout"},
        {{"--timeout", "-1"}, "bad value \"-1\" for --timeout"},
        {{"--name", ""}, "bad value \"\" for --name"},
        {{"--server", "h:1", "--mission", "m.moos"}, "--server and --mission exclude each other"},
        {{"--mission", "/nonexistent/m.moos"}, "cannot read the mission file"},
    };
    for (const auto& Case : Cases)
    {
        EXPECT_FALSE(Parse(Case.first)) << Case.second;
        EXPECT_NE(sError.find(Case.second), std::string::npos) << sError;
    }
    EXPECT_FALSE(Parse({"--mission", Mission("ServerPort = 99999\n")}));
    EXPECT_NE(sError.find("ServerPort \"99999\""), std::string::npos) << sError;
}

TEST_F(ClientCommandLineTest, HelpNeedsNothingElseToBeValid)
{
    EXPECT_TRUE(Parse({"--help", "--mission", "/nonexistent/m.moos"})) << sError;
    EXPECT_TRUE(Line.bHelp);
    EXPECT_TRUE(Parse({"X", "-h"})) << sError;
    EXPECT_TRUE(Line.bHelp);
    EXPECT_TRUE(Parse({"--", "-h"})) << sError;
    EXPECT_FALSE(Line.bHelp) << "an operand after --";
}
} // namespace
