// The comms client against LocalServer over loopback: connection and retry,
// refusal, registration and its renewal, mail delivery, server requests and
// closing.
#include "CommsTestSupport.h"

#include "LocalServer/LocalServer.h"
#include "MOOSLIB/MOOSCommPkt.h"
#include "MOOSLIB/MOOSGenLibGlobalHelper.h"
#include "MOOSLIB/XPCTcpSocket.h"
#include "support/Terminal.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace commstest;

namespace
{

class ClientServerTest : public CommsFixture
{
protected:
    void SetUp() override
    {
        CommsFixture::SetUp();
        MakeServer({});
    }

    // A server admitting only sAllowed (every name when empty).
    void MakeServer(const std::set<std::string>& sAllowed)
    {
        LocalServerOptions Options;
        Options.TimeWarp = kWarp;
        Options.AllowedNames = sAllowed;
        Server = std::make_unique<CLocalServer>(Options);
    }

    void StartServer(int nPort = 0)
    {
        ASSERT_TRUE(Server->Start("127.0.0.1", nPort)) << Server->GetError();
    }

    // A loopback port that no server listens on, held bound until the
    // outage ends: the client's tries there are refused, and neither a
    // server of a test running beside this one nor a connection's own end
    // can be given it meanwhile.
    int PortOfStoppedServer()
    {
        HeldPort = std::make_unique<XPCTcpSocket>(0L);
        HeldPort->vBindSocket("127.0.0.1");
        return HeldPort->iGetBoundPort();
    }

    // The client tries for dfSeconds in vain, then the server comes up.
    void ConnectAfterOutage(int nPort, double dfSeconds)
    {
        StartClient(nPort);
        EXPECT_FALSE(WaitConnected(dfSeconds));
        HeldPort.reset();
        StartServer(nPort);
        EXPECT_TRUE(WaitConnected());
    }

    void ConnectClient(const std::string& sName = "Tester")
    {
        StartServer();
        StartClient(Server->GetPort(), sName);
        ASSERT_TRUE(WaitConnected());
        ASSERT_TRUE(Server->WaitForClient(sName, 10.0));
    }

    // Mail fetched within the bound, in the order Fetch gives it.
    MOOSMSG_LIST FetchUntil(std::size_t nCount, CMOOSCommClient& Who)
    {
        MOOSMSG_LIST All;
        WaitFor(
            [&]
            {
                MOOSMSG_LIST Batch;
                if (Who.Fetch(Batch))
                    All.splice(All.end(), Batch);
                return All.size() >= nCount;
            });
        return All;
    }

    std::unique_ptr<CLocalServer> Server;
    std::unique_ptr<XPCTcpSocket> HeldPort;
};

TEST_F(ClientServerTest, PostingCallsFailBeforeAnyConnection)
{
    EXPECT_FALSE(Client.Notify("Speed", 1.0, 0.0));
    EXPECT_FALSE(Client.Register("Speed", 0.0));
    MOOSMSG_LIST Reply;
    EXPECT_FALSE(Client.ServerRequest("ALL", Reply, 0.3));
    EXPECT_TRUE(Client.UnRegister("Speed"));

    EXPECT_EQ(Client.GetPublished(), std::set<std::string>{"Speed"});
    EXPECT_TRUE(Client.GetRegistered().empty());
    CMOOSMsg Msg(MOOS_NOTIFY, "Speed", 1.0, 0.0);
    EXPECT_FALSE(Client.Post(Msg));
    EXPECT_EQ(Msg.m_nID, -1);
}

TEST_F(ClientServerTest, HandshakeConnectsAndCallsConnectCallbackOnce)
{
    ConnectClient("Vantor");
    EXPECT_TRUE(WaitConnects(1));
    EXPECT_EQ(Log.nDisconnects, 0);
    EXPECT_EQ(Client.GetDescription(), "127.0.0.1:" + std::to_string(Server->GetPort()));
    EXPECT_NEAR(MOOSTime(), Server->GetTime(), 1.0);
}

TEST_F(ClientServerTest, NotificationReachesServerWithClientNameAsSource)
{
    ConnectClient("Vantor");
    ASSERT_TRUE(Client.Notify("Latitude", "4807.038", 0.0));
    ASSERT_TRUE(Server->WaitForNotifications(1, 10.0));
    CMOOSMsg Value;
    ASSERT_TRUE(Server->GetValue("Latitude", Value));
    EXPECT_EQ(Value.m_sVal, "4807.038");
    EXPECT_EQ(Value.m_sSrc, "Vantor");
}

TEST_F(ClientServerTest, RetriesWhileNoServerListensThenConnects)
{
    const int nPort = PortOfStoppedServer();
    testing::internal::CaptureStderr();
    ConnectAfterOutage(nPort, 0.3);
    const std::string sTrace = testing::internal::GetCapturedStderr();

    EXPECT_NE(sTrace.find("contacting a MOOS server 127.0.0.1:" + std::to_string(nPort) +
                          " -  try 00001 \n"),
              std::string::npos);
    EXPECT_NE(sTrace.find("\n  Contact Made\n  Handshaking as \"Tester\"\n"), std::string::npos);
    EXPECT_NE(sTrace.find("  Invoking User OnConnect() callback...ok\n"), std::string::npos);
}

// Standard error is a file here, as under a service manager: every try that
// is shown is a whole line, few are shown, and the last one shown (the try
// that got through) still counts every attempt.
TEST_F(ClientServerTest, ConnectTriesIntoALogAreFewWholeLines)
{
    const int nPort = PortOfStoppedServer();
    testing::internal::CaptureStderr();
    ConnectAfterOutage(nPort, 0.5); // dozens of tries at this time warp
    const std::string sTrace = testing::internal::GetCapturedStderr();

    EXPECT_EQ(sTrace.find('\r'), std::string::npos);
    std::vector<int> Shown;
    const std::string sTry = " -  try ";
    for (std::size_t n = sTrace.find(sTry); n != std::string::npos; n = sTrace.find(sTry, n + 1))
    {
        EXPECT_EQ(sTrace.compare(n + sTry.size() + 5, 2, " \n"), 0) << sTrace.substr(n, 20);
        Shown.push_back(std::stoi(sTrace.substr(n + sTry.size(), 5)));
    }
    ASSERT_GE(Shown.size(), 2u);
    EXPECT_LE(Shown.size(), 3u);
    EXPECT_EQ(Shown.front(), 1);
    EXPECT_GT(Shown.back(), 5);
}

TEST_F(ClientServerTest, RefusedClientStopsForGood)
{
    MakeServer({"Someone"});
    StartServer();
    testing::internal::CaptureStderr();
    StartClient(Server->GetPort(), "Intruder");
    ASSERT_TRUE(WaitFor([this] { return Server->GetRefusedCount() == 1; }));
    // Give a wrongly retrying client ample time (in warped pauses) to come back.
    MOOSPause(3000);
    Client.Close();
    const std::string sTrace = testing::internal::GetCapturedStderr();

    EXPECT_EQ(Server->GetRefusedCount(), 1u);
    EXPECT_EQ(Log.nConnects, 0);
    EXPECT_NE(
        sTrace.find("..failed\n->   MOOS Server Poisoned me....\n->   What I did wrong was :\""),
        std::string::npos);
    EXPECT_NE(sTrace.find("not allowed on this server"), std::string::npos);
}

TEST_F(ClientServerTest, RegistrationIsSentOncePerConnection)
{
    ConnectClient();
    EXPECT_TRUE(Client.Register("Heading", 0.0));
    EXPECT_FALSE(Client.Register("Heading", 0.0));
    EXPECT_TRUE(Client.IsRegisteredFor("Heading"));
    EXPECT_FALSE(Client.IsRegisteredFor("Speed"));
    EXPECT_EQ(Client.GetRegistered(), std::set<std::string>{"Heading"});
}

TEST_F(ClientServerTest, RegistrationIsRenewedAfterReconnect)
{
    Log.OnConnect = [this] { Client.Register("Heading", 0.0); };
    ConnectClient();
    ASSERT_TRUE(Server->Disconnect("Tester"));
    ASSERT_TRUE(WaitFor([this] { return Log.nConnects == 2 && Client.IsConnected(); }));
    EXPECT_EQ(Log.nDisconnects, 1);
    EXPECT_TRUE(Client.IsRegisteredFor("Heading"));

    // The renewed registration works: mail for it arrives.
    CMOOSCommClient Publisher;
    Publisher.Run("127.0.0.1", Server->GetPort(), "Publisher", 50);
    ASSERT_TRUE(WaitFor([&] { return Publisher.IsConnected(); }));
    ASSERT_TRUE(Publisher.Notify("Heading", 90.0, 0.0));
    const MOOSMSG_LIST Mail = FetchUntil(1, Client);
    ASSERT_EQ(Mail.size(), 1u);
    EXPECT_EQ(Mail.front().m_dfVal, 90.0);
    EXPECT_EQ(Mail.front().m_sSrc, "Publisher");
}

TEST_F(ClientServerTest, FetchGivesMailInArrivalOrder)
{
    ConnectClient();
    CMOOSCommClient Publisher;
    Publisher.Run("127.0.0.1", Server->GetPort(), "Publisher", 50);
    ASSERT_TRUE(WaitFor([&] { return Publisher.IsConnected(); }));
    // The server answers a registration with the value it holds: once that
    // value is fetched, the registration has reached the server.
    ASSERT_TRUE(Publisher.Notify("Count", 0.0, 0.0));
    ASSERT_TRUE(Server->WaitForNotifications(1, 10.0));
    ASSERT_TRUE(Client.Register("Count", 0.0));
    ASSERT_EQ(FetchUntil(1, Client).size(), 1u);
    for (int i = 1; i <= 6; ++i)
    {
        ASSERT_TRUE(Publisher.Notify("Count", static_cast<double>(i), 0.0));
        if (i % 2 == 0)
            MOOSPause(100); // spread the values over several packets
    }
    const MOOSMSG_LIST Mail = FetchUntil(6, Client);
    ASSERT_EQ(Mail.size(), 6u);
    double dfExpected = 1.0;
    for (const CMOOSMsg& Msg : Mail)
        EXPECT_EQ(Msg.m_dfVal, dfExpected++);
}

TEST_F(ClientServerTest, ServerRequestIsAnsweredById)
{
    ConnectClient();
    ASSERT_TRUE(Client.Notify("Depth", 12.0, 0.0));
    ASSERT_TRUE(Server->WaitForNotifications(1, 10.0));
    MOOSMSG_LIST Reply;
    ASSERT_TRUE(Client.ServerRequest("VARS", Reply, 10.0));
    ASSERT_FALSE(Reply.empty());
    EXPECT_EQ(Reply.front().m_nID, MOOS_SERVER_REQUEST_ID);
    EXPECT_NE(Reply.front().m_sVal.find("Depth"), std::string::npos);
}

TEST_F(ClientServerTest, CloseEndsLoopAndEmptiesMailBoxesWithoutDisconnectCallback)
{
    ConnectClient();
    ASSERT_TRUE(Client.Register("Heading", 0.0));
    ASSERT_TRUE(Client.Notify("Speed", 2.0, 0.0));
    EXPECT_TRUE(Client.Close());
    EXPECT_FALSE(Client.IsConnected());
    EXPECT_TRUE(Client.GetRegistered().empty());
    EXPECT_EQ(Client.GetPublished(), std::set<std::string>{"Speed"});
    EXPECT_EQ(Log.nDisconnects, 0);
    EXPECT_TRUE(Server->WaitForClientGone("Tester", 10.0));
    MOOSMSG_LIST Mail;
    EXPECT_FALSE(Client.Fetch(Mail));
}

TEST_F(ClientServerTest, FlushBeforeCloseDeliversEverythingPosted)
{
    StartServer();
    StartClient(Server->GetPort(), "Tester", 2);
    ASSERT_TRUE(WaitConnected());
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(Client.Notify("Count", static_cast<double>(i), 0.0));
    EXPECT_TRUE(Client.Flush(10.0));
    EXPECT_TRUE(Client.Close());
    EXPECT_EQ(Server->GetNotificationCount(), 50u);
}

TEST_F(ClientServerTest, FlushWithoutAConnectionFailsAtOnce)
{
    EXPECT_FALSE(Client.Flush(10.0));
}

// Standard error on a terminal: every try rewrites the line in place, as it
// always has. The terminal is drained while the client writes to it.
TEST_F(ClientServerTest, ConnectTriesOnATerminalRewriteOneLine)
{
    const int nPort = PortOfStoppedServer();

    moostest::TerminalStream Terminal(STDERR_FILENO);
    ASSERT_TRUE(Terminal.IsOpen());
    ConnectAfterOutage(nPort, 0.3);
    const std::string sScreen = Terminal.Restore();

    EXPECT_TRUE(Client.IsConnected());
    EXPECT_NE(sScreen.find("try 00001 \r"), std::string::npos);
    EXPECT_NE(sScreen.find("try 00002 \r"), std::string::npos);
}

// A message that no packet could carry is refused at posting, and the
// connection goes on; one above the server's former 32 MiB bound travels.
TEST_F(ClientServerTest, MessageBeyondThePacketLimitIsRefusedAtPosting)
{
    ConnectClient();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Client.Notify("Huge", std::string(MOOS_MAX_PKT_LENGTH, 'x'), 0.0));
    const std::string sTrace = testing::internal::GetCapturedStderr();
    EXPECT_NE(sTrace.find("cannot post \"Huge\""), std::string::npos) << sTrace;

    ASSERT_TRUE(Client.Notify("Large", std::string(33 << 20, 'y'), 0.0));
    ASSERT_TRUE(Client.Notify("Small", 1.0, 0.0));
    ASSERT_TRUE(Server->WaitForNotifications(2, 30.0));
    CMOOSMsg Value;
    EXPECT_FALSE(Server->GetValue("Huge", Value));
    ASSERT_TRUE(Server->GetValue("Large", Value));
    EXPECT_EQ(Value.m_sVal.size(), std::size_t(33) << 20);
    EXPECT_EQ(Log.nDisconnects, 0);
}

TEST_F(ClientServerTest, RunsAgainOnlyAfterClose)
{
    ConnectClient();
    EXPECT_FALSE(Client.Run("127.0.0.1", Server->GetPort(), "Renamed", 50));
    EXPECT_EQ(Server->GetClientNames(), std::vector<std::string>{"Tester"});
    ASSERT_TRUE(Client.Close());
    EXPECT_TRUE(Client.Run("127.0.0.1", Server->GetPort(), "Renamed", 50));
    ASSERT_TRUE(WaitConnected());
    EXPECT_TRUE(Server->WaitForClient("Renamed", 10.0));
    EXPECT_TRUE(WaitConnects(2));
}

} // namespace
