// Waiting for the connection: a running server, one that refuses the name,
// and none at all end in three different outcomes, each with its own line.
#include "ClientSession.h"
#include "LocalServer.h"

#include "MOOSLIB/XPCTcpSocket.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

namespace
{
class ClientSessionTest : public ::testing::Test
{
protected:
    void StartServer(LocalServerOptions Options = LocalServerOptions())
    {
        Server.reset(new CLocalServer(Options));
        ASSERT_TRUE(Server->Start()) << Server->GetError();
        nPort = Server->GetPort();
    }
    ConnectOutcome Connect(const std::string& sName, ConnectWait Wait = ConnectWait())
    {
        Comms.Run("127.0.0.1", nPort, sName.c_str(), 20);
        return WaitForConnection(Comms, Wait);
    }

    std::unique_ptr<CLocalServer> Server;
    int nPort = 0;
    CMOOSCommClient Comms;
};

TEST_F(ClientSessionTest, RunningServerConnects)
{
    StartServer();
    EXPECT_EQ(Connect("me"), ConnectOutcome::Connected);
    EXPECT_TRUE(Comms.IsRunning());
}

TEST_F(ClientSessionTest, RefusedClientStopsAtOnceInsteadOfWaitingOutTheTimeOut)
{
    LocalServerOptions Options;
    Options.AllowedNames = {"someone"};
    StartServer(Options);
    ConnectWait Wait;
    Wait.dfTimeout = 60.0;
    EXPECT_EQ(Connect("me", Wait), ConnectOutcome::Refused);
    EXPECT_FALSE(Comms.IsRunning()) << "a refused client stops for good";
    const std::string sText = ConnectFailureText("Tool", ConnectOutcome::Refused,
                                                 "127.0.0.1:" + std::to_string(nPort), "me", 60);
    EXPECT_EQ(sText.rfind("Tool: the server at 127.0.0.1:", 0), 0u) << sText;
    EXPECT_NE(sText.find("refused the client \"me\""), std::string::npos) << sText;
}

TEST_F(ClientSessionTest, NoServerTimesOutWithAHintOnTheWay)
{
    StartServer();
    Server->Stop(); // a port where nothing listens now
    ConnectWait Wait;
    Wait.dfTimeout = 0.5;
    Wait.dfHintAfter = 0.1;
    Wait.sHint = NoServerHint("Tool", "127.0.0.1", nPort);
    std::ostringstream Captured;
    std::streambuf* pOld = std::cerr.rdbuf(Captured.rdbuf());
    const ConnectOutcome Outcome = Connect("me", Wait);
    std::cerr.rdbuf(pOld);
    EXPECT_EQ(Outcome, ConnectOutcome::TimedOut);
    EXPECT_TRUE(Comms.IsRunning()) << "still trying: the tool decides when to give up";
    const std::string sPort = std::to_string(nPort);
    EXPECT_NE(Captured.str().find("no MOOS server answers at 127.0.0.1:" + sPort +
                                  " yet: is one running there (for example LocalServer --port " +
                                  sPort + ")?"),
              std::string::npos)
        << Captured.str();
    const std::string sText =
        ConnectFailureText("Tool", ConnectOutcome::TimedOut, "h:1", "me", 0.5);
    EXPECT_EQ(sText, "Tool: no MOOS server answered at h:1 within 0.5 s: is one running there? "
                     "Check --server, or ServerHost and ServerPort in the mission file");
}
// A server that takes the connection but is slow to welcome is no absent
// server: neither the hint nor the last line may say none is running.
TEST_F(ClientSessionTest, SlowServerIsToldFromAnAbsentOne)
{
    XPCTcpSocket Listener(0L); // takes connections, never answers
    Listener.vBindSocket("127.0.0.1");
    Listener.vListen(5);
    nPort = Listener.iGetBoundPort();
    ConnectWait Wait;
    Wait.dfTimeout = 0.5;
    Wait.dfHintAfter = 0.1;
    Wait.sHint = "no server hint";
    std::ostringstream Captured;
    std::streambuf* pOld = std::cerr.rdbuf(Captured.rdbuf());
    const ConnectOutcome Outcome = Connect("me", Wait);
    std::cerr.rdbuf(pOld);
    EXPECT_EQ(Outcome, ConnectOutcome::Unwelcomed);
    EXPECT_EQ(Captured.str().find("no server hint"), std::string::npos) << Captured.str();
    EXPECT_EQ(ConnectFailureText("Tool", Outcome, "h:1", "me", 0.5),
              "Tool: the server at h:1 took the connection but did not welcome \"me\" within "
              "0.5 s: it may be busy; try again, or allow longer with --timeout");
}
} // namespace
