// What the comms client puts on the wire and what it makes of the replies,
// checked against a server scripted step by step by the test thread.
#include "CommsTestSupport.h"

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace commstest;

namespace
{

class ClientWireTest : public CommsFixture
{
protected:
    // A client connected to the scripted server, whose first packet (sent
    // at once) has been read and not yet answered: the client loop is held
    // in its turn until the test replies.
    void Connect(double dfSkew = 0.0, bool bWithMail = false)
    {
        StartClient(Server.Port(), "Dirkel", 50, bWithMail);
        Peer = Server.AcceptAndWelcome(dfSkew);
        ASSERT_TRUE(Peer);
        ASSERT_TRUE(WaitConnected());
        First = Peer->ReadPacket();
    }

    // Answers the pending packet and reads the next one, so that the reply
    // is in the inbox when this returns.
    MOOSMSG_LIST Turn(const MOOSMSG_LIST& Reply = {})
    {
        Peer->SendPacket(Reply);
        return Peer->ReadPacket();
    }

    static std::vector<int> IDs(const MOOSMSG_LIST& Msgs)
    {
        std::vector<int> Result;
        for (const CMOOSMsg& Msg : Msgs)
            Result.push_back(Msg.m_nID);
        return Result;
    }

    static MOOSMSG_LIST Notes(const std::string& sPrefix, int nCount)
    {
        MOOSMSG_LIST Msgs;
        for (int i = 1; i <= nCount; ++i)
            Msgs.push_back(Note("Mail", sPrefix + std::to_string(i)));
        return Msgs;
    }

    ScriptedServer Server;
    std::unique_ptr<ScriptedPeer> Peer;
    MOOSMSG_LIST First;
};

// The outbox never grows into a packet the server would refuse: the post
// that would take it past the limit is refused, and what was queued goes out
// in one packet within the limit.
TEST_F(ClientWireTest, PostThatWouldOutgrowAPacketIsRefused)
{
    Connect();
    const std::string sBig(40 << 20, 'b');
    ASSERT_TRUE(Client.Notify("First", sBig, 0.0));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Client.Notify("Second", sBig, 0.0));
    const std::string sTrace = testing::internal::GetCapturedStderr();
    EXPECT_NE(sTrace.find("cannot post \"Second\" now"), std::string::npos) << sTrace;
    ASSERT_TRUE(Client.Notify("Third", 3.0, 0.0));

    const MOOSMSG_LIST Sent = Turn();
    ASSERT_EQ(Sent.size(), 2u);
    EXPECT_EQ(Sent.front().m_sKey, "Third");
    EXPECT_EQ(Sent.back().m_sKey, "First");
    EXPECT_EQ(Sent.back().m_sVal.size(), sBig.size());
    EXPECT_EQ(Log.nDisconnects, 0);
}

TEST_F(ClientWireTest, HandshakeSendsProtocolBlockThenGreeting)
{
    StartClient(Server.Port(), "Dirkel");
    auto pPeer = Server.Accept();
    ASSERT_TRUE(pPeer);
    std::string sBlock;
    CMOOSMsg Hello;
    ASSERT_TRUE(pPeer->ReadHello(sBlock, Hello));
    EXPECT_EQ(sBlock, std::string("OWLS WON'T SKATE 4/9/11") + std::string(9, '\0'));
    EXPECT_TRUE(Hello.IsType(MOOS_DATA));
    EXPECT_TRUE(Hello.IsDataType(MOOS_STRING));
    EXPECT_EQ(Hello.m_sKey, "");
    EXPECT_EQ(Hello.m_sVal, "Dirkel");
    EXPECT_EQ(Hello.m_nID, -1);
    EXPECT_EQ(Hello.m_sSrc, "");
}

TEST_F(ClientWireTest, WelcomeSetsProcessSkew)
{
    Connect(2.5);
    EXPECT_EQ(GetMOOSSkew(), 2.5);
    // A reply without a leading null message carries no time: skew unchanged.
    Turn({Note("X", "1")});
    EXPECT_EQ(GetMOOSSkew(), 2.5);
}

TEST_F(ClientWireTest, ReplyPacketTimeRefinesSkewByATenth)
{
    Connect(2.5);
    // The client takes its reply time somewhere between these two readings,
    // so its estimate lies between 3.5 - (dfAfter - dfBefore) and 3.5.
    const double dfBefore = MOOSLocalTime();
    Peer->Reply({}, dfBefore + 3.5);
    Peer->ReadPacket();
    const double dfAfter = MOOSLocalTime();
    EXPECT_LE(GetMOOSSkew(), 0.9 * 2.5 + 0.1 * 3.5 + 1e-9);
    EXPECT_GE(GetMOOSSkew(), 0.9 * 2.5 + 0.1 * (3.5 - (dfAfter - dfBefore)) - 1e-9);
}

// A welcome packet that holds no message is no welcome: taking it would set
// the clock skew to -1 s. The client tries again.
TEST_F(ClientWireTest, EmptyWelcomePacketIsTriedAgain)
{
    testing::internal::CaptureStderr();
    StartClient(Server.Port(), "Dirkel");
    auto pPeer = Server.AcceptHello();
    ASSERT_TRUE(pPeer);
    pPeer->SendPacket({});
    auto pAgain = Server.AcceptAndWelcome(0.25);
    ASSERT_TRUE(pAgain) << "the client did not try again";
    EXPECT_TRUE(WaitConnected());
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(GetMOOSSkew(), 0.25);
    EXPECT_TRUE(WaitConnects(1));
}

TEST_F(ClientWireTest, IdleTurnSendsOneNullMessageFromClientName)
{
    Connect(0.0, true);
    for (int nTurn = 0; nTurn < 3; ++nTurn)
    {
        const MOOSMSG_LIST& Pkt = nTurn == 0 ? First : Turn();
        ASSERT_EQ(Pkt.size(), 1u);
        EXPECT_TRUE(Pkt.front().IsType(MOOS_NULL_MSG));
        EXPECT_EQ(Pkt.front().m_sSrc, "Dirkel");
        EXPECT_EQ(Pkt.front().m_nID, -1);
    }
    // One mail callback per completed turn, none for the pending one.
    EXPECT_EQ(Log.nMails, 2);
}

TEST_F(ClientWireTest, MessagesPostedBetweenTurnsTravelNewestFirst)
{
    Connect();
    ASSERT_TRUE(Client.Notify("A", 1.0, 0.0));
    ASSERT_TRUE(Client.Notify("B", 2.0, 0.0));
    ASSERT_TRUE(Client.Notify("C", 3.0, 0.0));
    const MOOSMSG_LIST Pkt = Turn();
    ASSERT_EQ(Pkt.size(), 3u);
    EXPECT_EQ(Pkt.front().m_sKey, "C");
    EXPECT_EQ(Pkt.back().m_sKey, "A");
    EXPECT_EQ(IDs(Pkt), (std::vector<int>{2, 1, 0}));
    // Sent messages leave the outbox: the next turn is idle again.
    EXPECT_TRUE(Turn().front().IsType(MOOS_NULL_MSG));
}

TEST_F(ClientWireTest, PostedMessagesAreNumberedAndStamped)
{
    Connect();
    Client.FakeSource(true);
    CMOOSMsg Foreign(MOOS_NOTIFY, "", 1.0, 0.0); // an empty name is not refused
    Foreign.m_sSrc = "Elsewhere";
    ASSERT_TRUE(Client.Post(Foreign));
    ASSERT_TRUE(Client.Register("R", 0.5));
    ASSERT_TRUE(Client.UnRegister("R"));
    MOOSMSG_LIST Reply;
    EXPECT_FALSE(Client.ServerRequest("ALL", Reply, 0.1));
    ASSERT_TRUE(Client.Notify("Last", "x", 0.0));

    const MOOSMSG_LIST Pkt = Turn();
    EXPECT_EQ(IDs(Pkt), (std::vector<int>{3, MOOS_SERVER_REQUEST_ID, 2, 1, 0}));
    std::vector<char> Types;
    for (const CMOOSMsg& Msg : Pkt)
        Types.push_back(Msg.m_cMsgType);
    EXPECT_EQ(Types, (std::vector<char>{'N', 'Q', 'U', 'R', 'N'}));
    EXPECT_EQ(Pkt.back().m_sSrc, "Elsewhere");
    EXPECT_EQ(Pkt.back().m_sKey, "");
    EXPECT_EQ(std::next(Pkt.begin(), 3)->m_sSrc, "Dirkel");
    EXPECT_EQ(std::next(Pkt.begin(), 3)->m_dfVal, 0.5);
    EXPECT_TRUE(Client.GetPublished().count("Last"));
}

TEST_F(ClientWireTest, BinaryNotifyCarriesExactBytes)
{
    Connect();
    unsigned char Bytes[5] = {'a', 'b', 0, 'd', 'e'};
    ASSERT_TRUE(Client.Notify("Blob", Bytes, sizeof(Bytes), 0.0));
    const MOOSMSG_LIST Pkt = Turn();
    ASSERT_EQ(Pkt.size(), 1u);
    EXPECT_TRUE(Pkt.front().IsDataType(MOOS_BINARY_STRING));
    EXPECT_EQ(Pkt.front().m_sVal, std::string("ab\0de", 5));
    EXPECT_FALSE(Client.Notify("Blob", nullptr, 3, 0.0));
}

TEST_F(ClientWireTest, FullOutboxDropsOldestAndKeepsNewest1000)
{
    Connect();
    testing::internal::CaptureStderr();
    for (int i = 0; i < 1001; ++i)
        ASSERT_TRUE(Client.Notify("Flood", static_cast<double>(i), 0.0));
    const std::string sTrace = testing::internal::GetCapturedStderr();
    EXPECT_NE(sTrace.find("\nThe outbox is very full. This is suspicious and dangerous.\n"
                          "\nRemoving old unsent messages as new ones are added\n"),
              std::string::npos);

    const MOOSMSG_LIST Pkt = Turn();
    ASSERT_EQ(Pkt.size(), 1000u);
    EXPECT_EQ(Pkt.front().m_nID, 1000);
    EXPECT_EQ(Pkt.back().m_nID, 1);
}

TEST_F(ClientWireTest, FetchGivesArrivalOrderAcrossPackets)
{
    Connect();
    Turn({Note("Mail", "A1"), Note("Mail", "A2")});
    Turn({Note("Mail", "B1"), Note("Mail", "B2")});
    MOOSMSG_LIST Mail;
    ASSERT_TRUE(Client.Fetch(Mail));
    std::vector<std::string> Values;
    for (const CMOOSMsg& Msg : Mail)
        Values.push_back(Msg.m_sVal);
    EXPECT_EQ(Values, (std::vector<std::string>{"A1", "A2", "B1", "B2"}));

    // Nothing new: false, and the caller's list is left as it was.
    EXPECT_FALSE(Client.Fetch(Mail));
    EXPECT_EQ(Mail.size(), 4u);
}

TEST_F(ClientWireTest, FetchAfterOnlyNullMessagesEmptiesListAndReturnsFalse)
{
    Connect();
    Peer->Reply({}, MOOSLocalTime());
    Peer->ReadPacket();
    MOOSMSG_LIST Mail = {Note("Old", "x")};
    EXPECT_FALSE(Client.Fetch(Mail));
    EXPECT_TRUE(Mail.empty());
}

TEST_F(ClientWireTest, PeekTakesOnlyMessagesWithTheId)
{
    Connect();
    Turn({Note("Mail", "a", 7), Note("Mail", "b", MOOS_SERVER_REQUEST_ID), Note("Mail", "c", 7)});
    MOOSMSG_LIST Found;
    ASSERT_TRUE(Client.Peek(Found, 7, false));
    ASSERT_EQ(Found.size(), 2u);
    EXPECT_EQ(Found.front().m_sVal, "a");
    MOOSMSG_LIST Rest;
    ASSERT_TRUE(Client.Fetch(Rest)); // Peek left the mail-present flag alone
    ASSERT_EQ(Rest.size(), 1u);
    EXPECT_EQ(Rest.front().m_sVal, "b");
}

TEST_F(ClientWireTest, InboxIsPurgedOnlyAboveItsLimit)
{
    Connect();
    testing::internal::CaptureStderr();
    Turn(Notes("first", 1000));
    Turn(Notes("second", 1)); // 1000 held: no purge, 1001 now
    Turn(Notes("third", 1));  // 1001 held: purged before adding
    const std::string sTrace = testing::internal::GetCapturedStderr();

    MOOSMSG_LIST Mail;
    ASSERT_TRUE(Client.Fetch(Mail));
    ASSERT_EQ(Mail.size(), 1u);
    EXPECT_EQ(Mail.front().m_sVal, "third1");
    EXPECT_NE(sTrace.find("Too many unread incoming messages [1001] : purging\n"
                          "The user must read mail occasionally"),
              std::string::npos);
    EXPECT_EQ(sTrace.find("purging\n", sTrace.find("purging\n") + 1), std::string::npos);
}

TEST_F(ClientWireTest, VerboseTurnsAtZeroFrequencyReportOneSecondPeriod)
{
    testing::internal::CaptureStderr();
    Client.SetVerboseDebug(true);
    Log.Install(Client);
    Client.Run("127.0.0.1", Server.Port(), "Dirkel", 0);
    Peer = Server.AcceptAndWelcome();
    ASSERT_TRUE(Peer);
    Peer->ReadPacket();
    Turn();
    Client.Close();
    const std::string sTrace = testing::internal::GetCapturedStderr();
    EXPECT_NE(sTrace.find("(should be 1000 ms)\n"), std::string::npos);
    EXPECT_NE(sTrace.find("COMMSERVER DEBUG: completed call to DB after "), std::string::npos);
}

// Turns keep to their period whatever the reply's delay: a reply held for
// most of a period does not push the next turn a period further, and one held
// past two periods is followed by a whole period's pause, not by a turn that
// catches up. The pause after a reply is exact; the gap between packets is
// only bounded above, generously for a busy machine.
TEST_F(ClientWireTest, TurnsKeepToTheirPeriodWithoutCatchingUp)
{
    using Clock = std::chrono::steady_clock;
    const auto Seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
    SetMOOSTimeWarp(1.0); // real periods: the fixture's warp would make them 25 ms
    StartClient(Server.Port(), "Dirkel", 2); // a period of 500 ms
    Peer = Server.AcceptAndWelcome();
    ASSERT_TRUE(Peer);
    Peer->ReadPacket();
    Clock::time_point Read = Clock::now();
    Clock::time_point Replied;
    const auto HoldReplyThenRead = [&](int nHoldMS)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(nHoldMS));
        Replied = Clock::now();
        Peer->SendPacket({});
        Peer->ReadPacket();
        return std::exchange(Read, Clock::now());
    };
    HoldReplyThenRead(0); // on the period's timeline from here
    EXPECT_LT(Seconds(Read - HoldReplyThenRead(400)), 0.85);
    HoldReplyThenRead(1200);
    EXPECT_GE(Seconds(Read - Replied), 0.5);
}

} // namespace
