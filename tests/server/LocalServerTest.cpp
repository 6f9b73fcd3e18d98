// LocalServer in process, driven over loopback by bare clients.
#include "LocalServer.h"
#include "NotificationLog.h"
#include "RawClient.h"
#include "ValueText.h"

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <sstream>
#include <thread>

namespace
{
class LocalServerTest : public ::testing::Test
{
protected:
    LocalServerOptions Options;
    std::unique_ptr<CLocalServer> Server;

    void SetUp() override
    {
        Options.IoTimeout = 2.0;
        Options.IdleTimeout = 10.0;
    }
    void StartServer()
    {
        Server.reset(new CLocalServer(Options));
        ASSERT_TRUE(Server->Start()) << Server->GetError();
    }
    std::unique_ptr<RawClient> Connect() { return std::make_unique<RawClient>(Server->GetPort()); }
    // A client that has been welcomed under sName.
    std::unique_ptr<RawClient> Join(const std::string& sName)
    {
        auto pClient = Connect();
        CMOOSMsg Welcome = pClient->Greet(sName);
        EXPECT_FALSE(Welcome.IsType(MOOS_POISON)) << Welcome.m_sVal;
        return pClient;
    }
    // The refusal text, or "" when the greeting was welcomed.
    std::string RefusalOf(RawClient& Client, const MOOSMSG_LIST& Greeting)
    {
        Client.SendBytes(RawClient::ProtocolBlock());
        CMOOSCommPkt Pkt;
        MOOSMSG_LIST Copy = Greeting;
        Pkt.Serialize(Copy, true);
        CMOOSCommObject Wire;
        Wire.SendPkt(&Client.Socket(), Pkt);
        CMOOSMsg Reply;
        Wire.ReadMsg(&Client.Socket(), Reply, 10);
        return Reply.IsType(MOOS_POISON) ? Reply.m_sVal : "";
    }
    static std::vector<double> Values(const MOOSMSG_LIST& Mail)
    {
        std::vector<double> Out;
        for (const CMOOSMsg& Msg : Mail)
            Out.push_back(Msg.m_dfVal);
        return Out;
    }
    static CMOOSMsg Hello(const std::string& sName) { return CMOOSMsg(MOOS_DATA, "", sName, -1); }
};

// ---------------------------------------------------------------------------
// Handshake.

TEST_F(LocalServerTest, WelcomeCarriesServerTimeMinusGreetingTime)
{
    StartServer();
    auto pClient = Connect();
    CMOOSMsg Welcome = pClient->Greet("a", MOOSLocalTime(false) - 100.0);
    EXPECT_FALSE(Welcome.IsType(MOOS_POISON));
    EXPECT_NEAR(Welcome.m_dfVal, 100.0, 1.0);
    EXPECT_TRUE(Server->IsClientConnected("a")) << "listed by the time it is welcomed";
}

TEST_F(LocalServerTest, WarpedServerTimesFollowTheWarpedClock)
{
    Options.TimeWarp = 4.0;
    StartServer();
    auto pWarped = Connect();
    EXPECT_NEAR(pWarped->Greet("w", MOOSLocalTime(false) * 4.0).m_dfVal, 0.0, 1.0);
    auto pPlain = Connect();
    double dfLocal = MOOSLocalTime(false);
    EXPECT_NEAR(pPlain->Greet("p", dfLocal).m_dfVal, 3.0 * dfLocal, 4.0);
    double dfPacketTime = 0;
    pWarped->Exchange({}, &dfPacketTime);
    EXPECT_NEAR(dfPacketTime, MOOSLocalTime(false) * 4.0, 1.0);
}

TEST_F(LocalServerTest, MalformedGreetingsAreRefusedWithAReason)
{
    StartServer();
    CMOOSMsg Notification(MOOS_NOTIFY, "", "name", -1);
    CMOOSMsg Numeric(MOOS_DATA, "", 3.0, -1);
    struct Case
    {
        MOOSMSG_LIST Greeting;
        std::string sReason;
    } Cases[] = {
        {{Notification}, "identification message"},
        {{Numeric}, "identification message"},
        {{}, "identification message"},
        {{Hello("a"), Hello("b")}, "identification message"},
        {{Hello("")}, "client name"},
        {{Hello("two words")}, "client name"},
        {{Hello(std::string("nul\0", 4))}, "client name"},
    };
    for (const Case& C : Cases)
    {
        auto pClient = Connect();
        EXPECT_NE(RefusalOf(*pClient, C.Greeting).find(C.sReason), std::string::npos) << C.sReason;
        EXPECT_TRUE(pClient->IsClosedByServer(5.0));
    }
    EXPECT_EQ(Server->GetRefusedCount(), 7u);
    EXPECT_TRUE(Server->GetClientNames().empty());
}

TEST_F(LocalServerTest, ForeignProtocolBlockIsClosedWithoutAnswer)
{
    StartServer();
    auto pClient = Connect();
    pClient->SendBytes(std::string(32, 'x'));
    ASSERT_EQ(pClient->Socket().iWaitForReadable(5000), 1);
    char c;
    EXPECT_EQ(pClient->Socket().iRecieveMessage(&c, 1), 0);
}

TEST_F(LocalServerTest, AllowListRefusesEveryOtherName)
{
    Options.AllowedNames = {"Vantor", "Compass"};
    StartServer();
    auto pIntruder = Connect();
    std::string sReason = RefusalOf(*pIntruder, {Hello("Intruder")});
    EXPECT_NE(sReason.find("\"Intruder\" is not allowed"), std::string::npos) << sReason;
    auto pVantor = Join("Vantor");
    EXPECT_EQ(Server->GetClientNames(), std::vector<std::string>{"Vantor"});
}

// ---------------------------------------------------------------------------
// One owner per client name.

TEST_F(LocalServerTest, LiveNameIsRefusedAndItsOwnerKeepsItsConnection)
{
    StartServer();
    auto pOwner = Join("dup");
    pOwner->Register("X");
    auto pNewcomer = Connect();
    std::string sReason = RefusalOf(*pNewcomer, {Hello("dup")});
    EXPECT_NE(sReason.find("the name \"dup\" is in use"), std::string::npos) << sReason;
    EXPECT_EQ(Server->GetRefusedCount(), 1u);
    Join("other")->Notify("X", 7.0);
    MOOSMSG_LIST Mail = pOwner->Exchange({});
    ASSERT_EQ(Mail.size(), 1u) << "the owner keeps its link and its registration";
    EXPECT_EQ(Mail.front().m_dfVal, 7.0);
}

// Every packet renews the hold, not only the handshake.
TEST_F(LocalServerTest, OwnerThatKeepsTalkingKeepsItsNamePastTheHoldTime)
{
    Options.NameHoldSeconds = 1.0;
    StartServer();
    auto pOwner = Join("dup");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    pOwner->Exchange({});
    auto pNewcomer = Connect();
    EXPECT_NE(RefusalOf(*pNewcomer, {Hello("dup")}), "");
    EXPECT_NO_THROW(pOwner->Exchange({}));
}

TEST_F(LocalServerTest, SilentOwnerIsTakenOverWithItsRegistrations)
{
    Options.NameHoldSeconds = 0.3;
    StartServer();
    auto pOld = Join("dup");
    pOld->Register("X");
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    auto pNew = Join("dup");
    EXPECT_TRUE(pOld->IsClosedByServer(5.0));
    auto pOther = Join("other");
    pOther->Notify("X", 1.0);
    EXPECT_TRUE(pNew->Exchange({}).empty()) << "the old registration went with the old link";
    EXPECT_TRUE(Server->IsClientConnected("dup"));
    EXPECT_EQ(Server->GetClientNames().size(), 2u);
    EXPECT_EQ(Server->GetRefusedCount(), 0u);
}

TEST_F(LocalServerTest, NoHoldTimeLetsEveryNewcomerTakeTheNameOver)
{
    Options.NameHoldSeconds = 0.0;
    StartServer();
    auto pOld = Join("dup");
    auto pNew = Join("dup");
    EXPECT_TRUE(pOld->IsClosedByServer(5.0));
    EXPECT_NO_THROW(pNew->Exchange({}));
}

// ---------------------------------------------------------------------------
// Per-turn exchange and publish/subscribe over the wire.

TEST_F(LocalServerTest, EveryPacketGetsOneReplyLedByServerTime)
{
    StartServer();
    auto pClient = Join("a");
    for (int i = 0; i < 3; ++i)
    {
        double dfPacketTime = 0;
        EXPECT_TRUE(pClient->Exchange({}, &dfPacketTime).empty());
        EXPECT_NEAR(dfPacketTime, Server->GetTime(), 1.0);
    }
}

TEST_F(LocalServerTest, MailArrivesInPostingOrderAndLatestValueWins)
{
    StartServer();
    auto pPub = Join("pub");
    auto pSub = Join("sub");
    pSub->Register("X");
    pPub->Exchange({CMOOSMsg(MOOS_NOTIFY, "X", 1.0, -1), CMOOSMsg(MOOS_NOTIFY, "X", 2.0, -1),
                    CMOOSMsg(MOOS_NOTIFY, "X", 3.0, -1)});
    MOOSMSG_LIST Mail = pSub->Exchange({});
    EXPECT_EQ(Values(Mail), (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(Mail.front().m_sSrc, "pub");
    CMOOSMsg Latest;
    ASSERT_TRUE(Server->GetValue("X", Latest));
    EXPECT_EQ(Latest.m_dfVal, 3.0);
}

TEST_F(LocalServerTest, LateSubscriberGetsTheCurrentValueInItsRegistrationReply)
{
    StartServer();
    Join("pub")->Notify("Heading", "271.5");
    MOOSMSG_LIST Mail = Join("sub")->Register("Heading");
    ASSERT_EQ(Mail.size(), 1u);
    EXPECT_EQ(Mail.front().m_sVal, "271.5");
}

TEST_F(LocalServerTest, ServerRequestIsAnsweredWithIdMinusTwo)
{
    StartServer();
    auto pClient = Join("a");
    pClient->Notify("Latitude", "4807.038");
    MOOSMSG_LIST Mail = pClient->Exchange({CMOOSMsg(MOOS_SERVER_REQUEST, "ALL", "", -1)});
    ASSERT_EQ(Mail.size(), 1u);
    EXPECT_EQ(Mail.front().m_nID, -2);
    EXPECT_EQ(Mail.front().m_sVal, "Latitude");
}

TEST_F(LocalServerTest, FullQueueDropsTheOldestAndCountsForThatClient)
{
    Options.QueueLimit = 10;
    StartServer();
    auto pPub = Join("pub");
    auto pSub = Join("sub");
    pSub->Register("X");
    MOOSMSG_LIST Burst;
    for (int i = 0; i < 25; ++i)
        Burst.push_back(CMOOSMsg(MOOS_NOTIFY, "X", double(i), -1));
    pPub->Exchange(Burst);
    MOOSMSG_LIST Mail = pSub->Exchange({});
    ASSERT_EQ(Mail.size(), 10u);
    EXPECT_EQ(Mail.front().m_dfVal, 15.0);
    EXPECT_EQ(Server->GetDroppedCount("sub"), 15u);
    EXPECT_EQ(Server->GetDroppedCount("pub"), 0u);
}

// A message no reply could carry must not lock its subscribers out: it is
// refused, its sender stays, and the mail after it flows as before.
TEST_F(LocalServerTest, MessageLargerThanAnyReplyCanCarryIsRefused)
{
    Options.IoTimeout = 60.0;   // 64 MiB through loopback on a busy machine
    Options.IdleTimeout = 60.0; // and "sub" says nothing meanwhile
    StartServer();
    auto pPub = Join("pub");
    auto pSub = Join("sub");
    pSub->Register("X");
    std::string sHuge(MOOS_MAX_MSG_LENGTH, 'h');
    EXPECT_NO_THROW(pPub->Notify("X", sHuge));
    CMOOSMsg Kept;
    EXPECT_FALSE(Server->GetValue("X", Kept));
    EXPECT_NO_THROW(pPub->Notify("X", 2.0)) << "the sender keeps its connection";
    EXPECT_EQ(Values(pSub->Exchange({})), std::vector<double>{2.0});
}

// ---------------------------------------------------------------------------
// Misbehaving clients cost only themselves.

TEST_F(LocalServerTest, GarbagePacketsCloseOnlyTheirSender)
{
    StartServer();
    auto pGood = Join("good");
    std::string NegativeLength("\xff\xff\xff\xff", 4);
    std::string CountTooLarge("\x09\x00\x00\x00\x05\x00\x00\x00\x00", 9);
    std::string HugeLength("\xff\xff\xff\x7f", 4);
    std::string ZeroLengthMessage =
        std::string("\x3f\x00\x00\x00\x02\x00\x00\x00\x00", 9) + std::string(54, '\0');
    for (const std::string& sGarbage :
         {NegativeLength, CountTooLarge, HugeLength, ZeroLengthMessage})
    {
        auto pBad = Join("bad");
        pBad->SendBytes(sGarbage);
        EXPECT_TRUE(pBad->IsClosedByServer(5.0));
    }
    EXPECT_TRUE(Server->WaitForClientGone("bad", 5.0));
    EXPECT_NO_THROW(pGood->Notify("X", 1.0));
}

TEST_F(LocalServerTest, SilentConnectionIsClosedAfterTheIoTimeout)
{
    Options.IoTimeout = 0.3;
    StartServer();
    auto pSilent = Connect();
    EXPECT_TRUE(pSilent->IsClosedByServer(10.0));
}

TEST_F(LocalServerTest, ClientStalledMidPacketIsClosedWhileOthersGoOn)
{
    Options.IoTimeout = 3.0;
    StartServer();
    auto pStalled = Join("stalled");
    pStalled->SendBytes(std::string("\x64\x00\x00\x00\x01", 5));
    auto pGood = Join("good");
    auto Before = std::chrono::steady_clock::now();
    pGood->Notify("X", 1.0);
    EXPECT_LT(std::chrono::steady_clock::now() - Before, std::chrono::milliseconds(2500));
    EXPECT_TRUE(pStalled->IsClosedByServer(10.0));
    EXPECT_TRUE(Server->WaitForClientGone("stalled", 5.0));
}

TEST_F(LocalServerTest, ClientSilentBetweenPacketsIsDroppedAfterTheIdleTimeout)
{
    Options.IdleTimeout = 0.5;
    StartServer();
    auto pIdle = Join("idle");
    EXPECT_TRUE(Server->WaitForClientGone("idle", 10.0));
    EXPECT_TRUE(pIdle->IsClosedByServer(5.0));
}

TEST_F(LocalServerTest, ClientThatStopsReadingIsDroppedWithoutStallingOthers)
{
    Options.IoTimeout = 1.0;
    StartServer();
    auto pHog = Join("hog");
    pHog->Register("Big");
    auto pPub = Join("pub");
    for (int i = 0; i < 16; ++i)
        pPub->Notify("Big", std::string(1 << 20, char('a' + i)));
    // One turn asked for and never read: the 16 MiB reply cannot all be sent.
    CMOOSCommPkt Pkt;
    MOOSMSG_LIST Null(1);
    Pkt.Serialize(Null, true);
    CMOOSCommObject().SendPkt(&pHog->Socket(), Pkt);
    EXPECT_TRUE(Server->WaitForClientGone("hog", 10.0));
    EXPECT_NO_THROW(pPub->Notify("X", 1.0));
}

TEST_F(LocalServerTest, TwoHundredClientsAtOnceAllGetTheirMail)
{
    Options.IdleTimeout = 60.0;
    StartServer();
    std::vector<std::unique_ptr<RawClient>> Clients;
    for (int i = 0; i < 200; ++i)
    {
        Clients.push_back(Join("c" + std::to_string(i)));
        Clients.back()->Register("All");
    }
    EXPECT_EQ(Server->GetClientNames().size(), 200u);
    Join("pub")->Notify("All", 42.0);
    for (auto& pClient : Clients)
        EXPECT_EQ(Values(pClient->Exchange({})), (std::vector<double>{42.0})) << pClient->m_sName;
}

// ---------------------------------------------------------------------------
// Lifecycle.

TEST_F(LocalServerTest, StopAndStartAgainOnTheSamePort)
{
    StartServer();
    int nPort = Server->GetPort();
    auto pClient = Join("a");
    pClient->Notify("X", 1.0);
    Server->Stop();
    EXPECT_TRUE(pClient->IsClosedByServer(5.0));
    ASSERT_TRUE(Server->Start("127.0.0.1", nPort)) << Server->GetError();
    EXPECT_EQ(Server->GetPort(), nPort);
    Join("b");
    CMOOSMsg Old;
    EXPECT_FALSE(Server->GetValue("X", Old)) << "a new start begins empty";
}

TEST_F(LocalServerTest, StopDoesNotWaitForSlowClients)
{
    Options.IoTimeout = 60.0;
    StartServer();
    auto pHandshaking = Connect();
    auto pJoined = Join("a");
    pHandshaking->SendBytes("OWLS");
    auto Before = std::chrono::steady_clock::now();
    Server->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - Before, std::chrono::seconds(5));
    EXPECT_EQ(Server->GetConnectionCount(), 0u);
}

TEST_F(LocalServerTest, StartFailsWithAReasonWhenItCannotListen)
{
    StartServer();
    EXPECT_FALSE(Server->Start());
    EXPECT_EQ(Server->GetError(), "already running");
    CLocalServer Second;
    EXPECT_FALSE(Second.Start("127.0.0.1", Server->GetPort()));
    EXPECT_FALSE(Second.GetError().empty());
    EXPECT_FALSE(Second.Start("not-an-address", 0));
}

TEST_F(LocalServerTest, DisconnectHangsUpOnTheNamedClient)
{
    StartServer();
    auto pClient = Join("a");
    EXPECT_FALSE(Server->Disconnect("nobody"));
    EXPECT_TRUE(Server->Disconnect("a"));
    EXPECT_TRUE(pClient->IsClosedByServer(5.0));
    EXPECT_TRUE(Server->WaitForClientGone("a", 5.0));
}

// ---------------------------------------------------------------------------
// The notification log.

TEST_F(LocalServerTest, LogHasOneLinePerNotification)
{
    std::ostringstream Log;
    Options.Log = &Log;
    StartServer();
    auto pClient = Join("gps");
    CMOOSMsg Binary(MOOS_NOTIFY, "Raw", std::string(2500, '\0'), -1);
    Binary.MarkAsBinary();
    pClient->Exchange({CMOOSMsg(MOOS_NOTIFY, "Latitude", "4807.038", -1),
                       CMOOSMsg(MOOS_NOTIFY, "Speed", 2.5, -1), Binary,
                       CMOOSMsg(MOOS_REGISTER, "Speed", 0.0, -1)});
    ASSERT_TRUE(Server->WaitForNotifications(3, 5.0));
    std::istringstream Lines(Log.str());
    std::string sTime, sSource, sKey, sValue;
    std::vector<std::string> Seen;
    while (Lines >> sTime >> sSource >> sKey && std::getline(Lines, sValue))
        Seen.push_back(sSource + "|" + sKey + "|" + sValue);
    EXPECT_EQ(Seen, (std::vector<std::string>{"gps|Latitude| 4807.038", "gps|Speed| 2.5",
                                              "gps|Raw| <binary 2500 bytes>"}));
}

TEST(NotificationLogTest, LineStaysOneLineWhateverTheText)
{
    CMOOSMsg Msg(MOOS_NOTIFY, "Text", "a\nb\tc", 1.0);
    EXPECT_EQ(NotificationLine(12.3456, Msg), "12.346 - Text a\\x0Ab\\x09c\n");
}
} // namespace
