// A scripted server that handshakes well or badly and then answers with
// damaged, truncated or missing packets. Whatever it does, the client ends the
// connection through its one disconnect path (or, for a damaged welcome,
// tries the handshake again), never crashes, never waits past its reply
// time-out, and keeps its descriptors and memory flat over many such
// connections. A reply that arrives whole with an unreadable message inside
// keeps the connection.
#include "CommsTestSupport.h"
#include "FaultTestSupport.h"

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"
#include "MOOSLIB/MOOSMsg.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <ostream>
#include <string>

using namespace commstest;

namespace
{

constexpr double kReplyTimeOut = 0.5;

std::string GoodPacket()
{
    return PacketBytes({Note("Key", "value")});
}

// A one-message packet whose key length field (after the identifier, the two
// type bytes and three empty-or-short source strings) is replaced.
std::string PacketWithKeyLength(int nLength)
{
    CMOOSMsg Msg = Note("Key", "value");
    Msg.m_sSrc.clear();
    const std::string sPacket = PacketBytes({Msg});
    const size_t nKeyField = 9 + 4 + 4 + 1 + 1 + 3 * 4;
    return sPacket.substr(0, nKeyField) + Int32(nLength) + sPacket.substr(nKeyField + 4);
}

std::string PacketWithCount(int nCount)
{
    std::string sPacket = GoodPacket();
    return sPacket.replace(4, 4, Int32(nCount));
}

struct Hostility
{
    const char* sName;
    std::string sBytes;
    bool bCloseAfter;
};

void PrintTo(const Hostility& H, std::ostream* pOut)
{
    *pOut << H.sName;
}

// Whole replies whose message cannot be read: the connection stays.
const Hostility kUnreadableReplies[] = {
    {"KeyWithNegativeLength", PacketWithKeyLength(-7), false},
    {"KeyLongerThanPacket", PacketWithKeyLength(1 << 20), false},
    {"NegativeMessageCount", PacketWithCount(-1), false},
};

// Replies that the tests of the comms client do not already play.
const Hostility kHostileReplies[] = {
    {"TruncatedThenSilent", GoodPacket().substr(0, 30), false},
    {"LengthOnlyThenSilent", Int32(65), false},
    {"HeaderOnlyOfALargePacket", Int32(64 * 1024 * 1024) + Int32(1) + std::string(1, '\0'), false},
};

// Every damage, this time in place of the welcome.
const Hostility kHostileWelcomes[] = {
    {"NegativeLength", Int32(-1), false},
    {"LengthShorterThanHeader", Int32(5) + std::string(1, '\0'), false},
    {"LengthBeyondLimit", Int32(0x7fffffff), false},
    {"CountBeyondMessages", Int32(9) + Int32(2) + std::string(1, '\0'), false},
    {"KeyWithNegativeLength", PacketWithKeyLength(-7), false},
    {"TruncatedThenSilent", GoodPacket().substr(0, 30), false},
    {"CloseInsidePacket", GoodPacket().substr(0, 20), true},
    {"Nothing", "", false},
};

class HostileFixture : public CommsFixture
{
protected:
    void SetUp() override
    {
        CommsFixture::SetUp();
        ASSERT_TRUE(Client.SetReplyTimeOut(kReplyTimeOut));
    }

    std::unique_ptr<ScriptedPeer> ConnectedPeer()
    {
        auto pPeer = Server.AcceptAndWelcome();
        if (pPeer)
        {
            EXPECT_TRUE(WaitFor([this] { return Client.IsConnected(); }));
            pPeer->ReadPacket();
        }
        return pPeer;
    }

    static void Play(ScriptedPeer& Peer, const Hostility& H)
    {
        Peer.SendBytes(H.sBytes);
        if (H.bCloseAfter)
            Peer.Close();
    }

    ScriptedServer Server;
};

class HostileReplyTest : public HostileFixture, public testing::WithParamInterface<Hostility>
{
};

TEST_P(HostileReplyTest, ConnectionIsDroppedWithinTheTimeOutAndMadeAgain)
{
    StartClient(Server.Port(), "Victim");
    auto pPeer = ConnectedPeer();
    ASSERT_TRUE(pPeer);
    testing::internal::CaptureStderr();
    const auto Start = std::chrono::steady_clock::now();
    Play(*pPeer, GetParam());
    EXPECT_TRUE(WaitFor([this] { return Log.nDisconnects == 1; }));
    const double dfSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
    EXPECT_LT(dfSeconds, kReplyTimeOut + 2.0);
    EXPECT_TRUE(ConnectedPeer()) << "the client did not connect again";
    const std::string sTrace = testing::internal::GetCapturedStderr();
    EXPECT_NE(sTrace.find("Exception in ClientLoop() : "), std::string::npos) << sTrace;
    MOOSMSG_LIST Mail;
    EXPECT_FALSE(Client.Fetch(Mail) && !Mail.empty()) << "half a damaged reply was handed out";
}

INSTANTIATE_TEST_SUITE_P(Faults, HostileReplyTest, testing::ValuesIn(kHostileReplies),
                         [](const testing::TestParamInfo<Hostility>& Info)
                         { return std::string(Info.param.sName); });

class UnreadableReplyFaultTest : public HostileFixture,
                                 public testing::WithParamInterface<Hostility>
{
};

TEST_P(UnreadableReplyFaultTest, ConnectionStaysAndTheNextTurnComes)
{
    StartClient(Server.Port(), "Victim");
    auto pPeer = ConnectedPeer();
    ASSERT_TRUE(pPeer);
    testing::internal::CaptureStderr();
    Play(*pPeer, GetParam());
    pPeer->ReadPacket();
    const std::string sTrace = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Log.nDisconnects, 0);
    EXPECT_TRUE(Client.IsConnected());
    EXPECT_NE(sTrace.find("the rest of that packet is dropped"), std::string::npos) << sTrace;
}

INSTANTIATE_TEST_SUITE_P(Faults, UnreadableReplyFaultTest, testing::ValuesIn(kUnreadableReplies),
                         [](const testing::TestParamInfo<Hostility>& Info)
                         { return std::string(Info.param.sName); });

class HostileWelcomeTest : public HostileFixture, public testing::WithParamInterface<Hostility>
{
};

TEST_P(HostileWelcomeTest, HandshakeFailsAndIsTriedAgain)
{
    testing::internal::CaptureStderr();
    StartClient(Server.Port(), "Victim");
    auto pPeer = Server.AcceptHello();
    ASSERT_TRUE(pPeer);
    Play(*pPeer, GetParam());
    EXPECT_EQ(Log.nConnects, 0);
    const auto pAgain = ConnectedPeer(); // kept open: its hang-up would be a disconnect
    EXPECT_TRUE(pAgain) << "the client did not try again";
    const auto Start = std::chrono::steady_clock::now();
    EXPECT_TRUE(Client.Close());
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count(), 3.0);
    const std::string sTrace = testing::internal::GetCapturedStderr();
    EXPECT_NE(sTrace.find("Exception in hand shaking : "), std::string::npos) << sTrace;
    EXPECT_EQ(Log.nConnects, 1);
    EXPECT_EQ(Log.nDisconnects, 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, HostileWelcomeTest, testing::ValuesIn(kHostileWelcomes),
                         [](const testing::TestParamInfo<Hostility>& Info)
                         { return std::string(Info.param.sName); });

long PeakResidentKb()
{
    rusage Usage{};
    getrusage(RUSAGE_SELF, &Usage);
    return Usage.ru_maxrss;
}

// Thirty bad replies in a row, each on a fresh connection: the client comes
// back every time, and neither its descriptors nor its memory grow with the
// number of connections, nor with the sizes the replies claim.
TEST_F(HostileFixture, ManyHostileConnectionsLeaveDescriptorsAndMemoryFlat)
{
    StartClient(Server.Port(), "Victim");
    auto pPeer = ConnectedPeer();
    ASSERT_TRUE(pPeer);
    testing::internal::CaptureStderr();
    const int nFdsBefore = faults::OpenDescriptors(getpid());
    const long nPeakBefore = PeakResidentKb();
    const Hostility Replies[] = {kHostileWelcomes[0], kHostileWelcomes[1], kHostileWelcomes[2],
                                 kHostileReplies[2], kHostileWelcomes[6]};
    for (int i = 0; i < 30; ++i)
    {
        Play(*pPeer, Replies[i % 5]);
        ASSERT_TRUE(WaitFor([&] { return Log.nDisconnects == i + 1; })) << "cycle " << i;
        pPeer = ConnectedPeer();
        ASSERT_TRUE(pPeer) << "cycle " << i;
    }
    testing::internal::GetCapturedStderr();
    EXPECT_LE(faults::OpenDescriptors(getpid()), nFdsBefore);
    EXPECT_LT(PeakResidentKb() - nPeakBefore, 32 * 1024) << "a claimed size was allocated";
}

} // namespace
