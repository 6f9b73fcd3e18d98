// Servers that stall, dribble, hang up or send garbage: the client must end
// each such connection cleanly and connect again, never crash, hang or grow;
// a reply that arrives whole but holds an unreadable message costs only the
// rest of that packet, and a handshake cut short is tried again.
#include "CommsTestSupport.h"

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"
#include "MOOSLIB/MOOSMsg.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>

using namespace commstest;

namespace
{

class HostileServerTest : public CommsFixture
{
protected:
    void Connect()
    {
        StartClient(Server.Port(), "Victim");
        Peer = Server.AcceptAndWelcome();
        ASSERT_TRUE(Peer);
        ASSERT_TRUE(WaitConnected());
        Peer->ReadPacket();
    }

    // The client dropped the connection through its one disconnect path and
    // came back with a fresh one.
    void ExpectDroppedAndReconnected()
    {
        EXPECT_TRUE(WaitFor([this] { return Log.nDisconnects == 1; }));
        auto pAgain = Server.AcceptAndWelcome();
        ASSERT_TRUE(pAgain) << "the client did not connect again";
        EXPECT_TRUE(WaitFor([this] { return Log.nConnects == 2 && Client.IsConnected(); }));
    }

    ScriptedServer Server;
    std::unique_ptr<ScriptedPeer> Peer;
};

struct BadReply
{
    const char* sName;
    std::string sBytes;
    bool bCloseAfter;
};

void PrintTo(const BadReply& Reply, std::ostream* pOut)
{
    *pOut << Reply.sName;
}

std::string GoodPacketBytes()
{
    return PacketBytes({Note("Key", "value")});
}

// Replies whose framing is broken: the stream cannot be trusted any more.
const BadReply kBadReplies[] = {
    {"NegativeLength", Int32(-1), false},
    {"LengthShorterThanHeader", Int32(5) + std::string(1, '\0'), false},
    {"LengthBeyondLimit", Int32(0x7fffffff), false},
    {"CloseInsideLengthField", Int32(100).substr(0, 2), true},
    {"CloseInsidePacket", GoodPacketBytes().substr(0, 20), true},
};

class BadReplyTest : public HostileServerTest, public testing::WithParamInterface<BadReply>
{
};

TEST_P(BadReplyTest, EndsInCleanCloseAndReconnect)
{
    Connect();
    testing::internal::CaptureStderr();
    Peer->SendBytes(GetParam().sBytes);
    if (GetParam().bCloseAfter)
        Peer->Close();
    ExpectDroppedAndReconnected();
    const std::string sTrace = testing::internal::GetCapturedStderr();
    EXPECT_NE(sTrace.find("Exception in ClientLoop() : "), std::string::npos) << sTrace;
    EXPECT_NE(sTrace.find("closing connection...done\npurging out box...done\n"
                          "purging in box...done\nclearing registered set...done\n"),
              std::string::npos);
    MOOSMSG_LIST Mail;
    EXPECT_FALSE(Client.Fetch(Mail) && !Mail.empty());
}

INSTANTIATE_TEST_SUITE_P(Hostile, BadReplyTest, testing::ValuesIn(kBadReplies),
                         [](const testing::TestParamInfo<BadReply>& Info)
                         { return std::string(Info.param.sName); });

// Whole replies of four notifications A, B, C, D whose third, C, cannot be read.
MOOSMSG_LIST FourNotes()
{
    return {Note("A", "a"), Note("B", "b"), Note("C", "c"), Note("D", "d")};
}

constexpr std::size_t kSourceLengthField = 10; // after length, ID and the two types

const BadReply kUnreadableReplies[] = {
    {"MessageWithNegativeLength", PacketWithDamage(FourNotes(), 2, 0, -60), false},
    {"MessageWithZeroLength", PacketWithDamage(FourNotes(), 2, 0, 0), false},
    {"MessageLongerThanPacket", PacketWithDamage(FourNotes(), 2, 0, 100000), false},
    {"StringWithNegativeLength", PacketWithDamage(FourNotes(), 2, kSourceLengthField, -5), false},
    {"StringLongerThanPacket", PacketWithDamage(FourNotes(), 2, kSourceLengthField, 1 << 20),
     false},
    {"CountBeyondMessages", PacketBytes({Note("A", "a"), Note("B", "b")}).replace(4, 4, Int32(3)),
     false},
};

class UnreadableReplyTest : public HostileServerTest, public testing::WithParamInterface<BadReply>
{
protected:
    std::vector<std::string> FetchKeys()
    {
        std::vector<std::string> Keys;
        MOOSMSG_LIST Mail;
        if (WaitFor([&] { return Client.Fetch(Mail); }))
            for (const CMOOSMsg& Msg : Mail)
                Keys.push_back(Msg.m_sKey);
        return Keys;
    }
};

TEST_P(UnreadableReplyTest, MessagesBeforeTheDamageArriveAndTheConnectionStays)
{
    Connect();
    testing::internal::CaptureStderr();
    // Twice: a server that damages every reply still delivers what it can.
    for (int nTurn = 0; nTurn < 2; ++nTurn)
    {
        Peer->SendBytes(GetParam().sBytes);
        EXPECT_EQ(FetchKeys(), (std::vector<std::string>{"A", "B"}));
        Peer->ReadPacket(); // the next turn comes on the same connection
    }
    Peer->SendPacket({Note("E", "e")});
    EXPECT_EQ(FetchKeys(), std::vector<std::string>{"E"});
    const std::string sTrace = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Log.nDisconnects, 0);
    EXPECT_EQ(Log.nConnects, 1);
    const std::string sDropped = "the rest of that packet is dropped\n";
    const std::size_t nFirst = sTrace.find(sDropped);
    ASSERT_NE(nFirst, std::string::npos) << sTrace;
    const std::size_t nSecond = sTrace.find(sDropped, nFirst + 1);
    ASSERT_NE(nSecond, std::string::npos);
    EXPECT_EQ(sTrace.find(sDropped, nSecond + 1), std::string::npos) << "one trace per packet";
    EXPECT_EQ(sTrace.find("Exception in ClientLoop()"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Hostile, UnreadableReplyTest, testing::ValuesIn(kUnreadableReplies),
                         [](const testing::TestParamInfo<BadReply>& Info)
                         { return std::string(Info.param.sName); });

TEST_F(HostileServerTest, SilentServerIsDroppedAfterReplyTimeOut)
{
    ASSERT_TRUE(Client.SetReplyTimeOut(0.3));
    Connect();
    testing::internal::CaptureStderr();
    ExpectDroppedAndReconnected();
    const std::string sTrace = testing::internal::GetCapturedStderr();
    EXPECT_NE(sTrace.find("no reply from the server within 0.3 s"), std::string::npos);
}

TEST_F(HostileServerTest, ReplyCutIntoSingleBytesIsAssembled)
{
    Connect();
    const std::string sBytes = PacketBytes({Note("Key", "dribbled")});
    for (char c : sBytes)
    {
        Peer->SendBytes(std::string(1, c));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Peer->ReadPacket();
    MOOSMSG_LIST Mail;
    ASSERT_TRUE(Client.Fetch(Mail));
    ASSERT_EQ(Mail.size(), 1u);
    EXPECT_EQ(Mail.front().m_sVal, "dribbled");
    EXPECT_EQ(Log.nDisconnects, 0);
}

TEST_F(HostileServerTest, ReplyDribbledPastTimeOutIsDropped)
{
    ASSERT_TRUE(Client.SetReplyTimeOut(0.3));
    Connect();
    const std::string sBytes = Int32(200) + std::string(30, 'x');
    for (char c : sBytes)
    {
        if (Log.nDisconnects != 0)
            break;
        Peer->SendBytes(std::string(1, c));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ExpectDroppedAndReconnected();
}

TEST_F(HostileServerTest, CloseReturnsPromptlyWhileServerIsSilent)
{
    Connect(); // the reply time-out stays at its 10 s default
    const auto Start = std::chrono::steady_clock::now();
    EXPECT_TRUE(Client.Close());
    const double dfSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
    EXPECT_LT(dfSeconds, 3.0);
    EXPECT_FALSE(Client.IsConnected());
    EXPECT_EQ(Log.nDisconnects, 0);
    EXPECT_TRUE(Peer->SeesClientClose());
}

// A server restarting while the client handshakes: the first connection hangs
// up right after the identification block, the next one welcomes.
TEST_F(HostileServerTest, HangUpAfterIdentificationBlockIsTriedAgain)
{
    testing::internal::CaptureStderr();
    StartClient(Server.Port(), "Victim");
    auto pFirst = Server.Accept();
    ASSERT_TRUE(pFirst);
    std::string sBlock;
    ASSERT_TRUE(pFirst->ReadIdentificationBlock(sBlock));
    pFirst->Close();
    Peer = Server.AcceptAndWelcome();
    ASSERT_TRUE(Peer) << "the client did not try again";
    EXPECT_TRUE(WaitConnected());
    const std::string sTrace = testing::internal::GetCapturedStderr();
    EXPECT_NE(sTrace.find("Exception in hand shaking : "), std::string::npos) << sTrace;
    EXPECT_TRUE(WaitConnects(1));
    EXPECT_EQ(Log.nDisconnects, 0);
}

// The welcome is the last message read from its packet, even when a damaged
// message follows it; a refusal read first still refuses.
TEST_F(HostileServerTest, WelcomeWithUnreadableTrailingMessageStillWelcomes)
{
    StartClient(Server.Port(), "Victim");
    Peer = Server.AcceptHello();
    ASSERT_TRUE(Peer);
    CMOOSMsg Welcome(MOOS_DATA, "", "", 0.0);
    Welcome.m_dfVal = 2.5;
    Peer->SendBytes(PacketWithDamage({Welcome, Note("X", "x")}, 1, 0, -1));
    ASSERT_TRUE(WaitConnected());
    EXPECT_EQ(GetMOOSSkew(), 2.5);
    EXPECT_TRUE(WaitConnects(1));
}

TEST_F(HostileServerTest, RefusalWithUnreadableTrailingMessageStillRefuses)
{
    testing::internal::CaptureStderr();
    StartClient(Server.Port(), "Victim");
    Peer = Server.AcceptHello();
    ASSERT_TRUE(Peer);
    const CMOOSMsg Refusal(MOOS_POISON, "", "go away", 0.0);
    Peer->SendBytes(PacketWithDamage({Refusal, Note("X", "x")}, 1, 0, -1));
    EXPECT_FALSE(Server.Accept(0.5)) << "a refusal is final";
    Client.Close();
    const std::string sTrace = testing::internal::GetCapturedStderr();
    EXPECT_NE(sTrace.find("What I did wrong was :\"go away\""), std::string::npos) << sTrace;
    EXPECT_EQ(Log.nConnects, 0);
}

TEST_F(HostileServerTest, SkewThatIsNotANumberIsNotTaken)
{
    StartClient(Server.Port(), "Victim");
    auto pPeer = Server.AcceptHello();
    ASSERT_TRUE(pPeer);
    pPeer->Answer(MOOS_DATA, std::numeric_limits<double>::quiet_NaN());
    ASSERT_TRUE(WaitConnected());
    EXPECT_EQ(GetMOOSSkew(), 0.0);
    EXPECT_GT(MOOSTime(), 0.0);
}

TEST_F(HostileServerTest, SocketThatCannotBeMadeIsRetried)
{
    const int nPort = ScriptedServer().Port(); // nothing listens there now
    StartClient(nPort, "Victim");
    testing::internal::CaptureStderr();
    rlimit Old{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &Old), 0);
    // A limit of 0 refuses every new descriptor, whichever numbers the
    // client thread happens to hold or have just closed.
    rlimit Low = Old;
    Low.rlim_cur = 0;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &Low), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &Old), 0);
    const std::string sTrace = testing::internal::GetCapturedStderr();

    ScriptedServer Later(nPort);
    const auto pPeer = Later.AcceptAndWelcome();
    EXPECT_TRUE(pPeer);
    EXPECT_TRUE(WaitConnected());
    EXPECT_NE(sTrace.find("Error opening socket"), std::string::npos) << sTrace.substr(0, 2000);
}

} // namespace
