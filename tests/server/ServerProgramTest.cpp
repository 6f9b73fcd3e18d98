// The LocalServer program: its command line, its listening line, its log and
// its clean end on a stop signal.
#include "RawClient.h"

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>

extern char** environ;

namespace
{
// One run of the program with its standard output on a pipe.
class ServerProcess
{
public:
    explicit ServerProcess(std::vector<std::string> Args)
    {
        Args.insert(Args.begin(), MOOS_BIN_DIR "/LocalServer");
        int Pipe[2];
        if (pipe2(Pipe, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t Actions;
        posix_spawn_file_actions_init(&Actions);
        posix_spawn_file_actions_adddup2(&Actions, Pipe[1], 1);
        posix_spawn_file_actions_addopen(&Actions, 2, "/dev/null", O_WRONLY, 0);
        std::vector<char*> Argv;
        for (std::string& sArg : Args)
            Argv.push_back(&sArg[0]);
        Argv.push_back(nullptr);
        if (posix_spawn(&m_Pid, Argv[0], &Actions, nullptr, Argv.data(), environ) != 0)
            m_Pid = -1;
        posix_spawn_file_actions_destroy(&Actions);
        close(Pipe[1]);
        m_nOut = Pipe[0];
    }
    ~ServerProcess()
    {
        if (m_Pid > 0)
        {
            kill(m_Pid, SIGKILL);
            waitpid(m_Pid, nullptr, 0);
        }
        if (m_nOut >= 0)
            close(m_nOut);
    }

    // The next line of standard output without its newline; "" at end of
    // output or after 10 s.
    std::string ReadLine()
    {
        auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (m_sBuffered.find('\n') == std::string::npos)
        {
            pollfd Fd = {m_nOut, POLLIN, 0};
            if (std::chrono::steady_clock::now() > Deadline || poll(&Fd, 1, 100) < 0)
                return "";
            char Chunk[512];
            ssize_t nRead = Fd.revents ? read(m_nOut, Chunk, sizeof(Chunk)) : 0;
            if (Fd.revents && nRead <= 0)
                return "";
            m_sBuffered.append(Chunk, nRead > 0 ? size_t(nRead) : 0);
        }
        std::string sLine = m_sBuffered.substr(0, m_sBuffered.find('\n'));
        m_sBuffered.erase(0, sLine.size() + 1);
        return sLine;
    }
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
            kill(m_Pid, nSignal);
        for (int i = 0; i < 1000; ++i)
        {
            int nStatus = 0;
            if (waitpid(m_Pid, &nStatus, WNOHANG) == m_Pid)
            {
                m_Pid = -1;
                return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
            }
            MOOSPause(10, false);
        }
        return -1;
    }

private:
    pid_t m_Pid = -1;
    int m_nOut = -1;
    std::string m_sBuffered;
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
    char sDir[] = "/tmp/localserver-test-XXXXXX";
    ASSERT_NE(mkdtemp(sDir), nullptr);
    std::string sMission = std::string(sDir) + "/Mission.moos";
    std::ofstream(sMission) << "// a warped mission\nMOOSTimeWarp = 10\n";
    ServerProcess Program({"--port", "0", "--mission", sMission});
    RawClient Client(Program.ReadListeningPort());
    EXPECT_NEAR(Client.Greet("a", MOOSLocalTime(false) * 10.0).m_dfVal, 0.0, 2.0);
    std::remove(sMission.c_str());
    rmdir(sDir);
}
} // namespace
