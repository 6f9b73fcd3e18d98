#include "WireTestSupport.h"

#include "MOOSLIB/MOOSCommObject.h"
#include "MOOSLIB/MOOSException.h"
#include "MOOSLIB/XPCTcpSocket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <memory>
#include <thread>

namespace
{
// A connected loopback pair: m_pNear is read and written by the code under
// test, m_pFar plays the peer.
class CommObjectTest : public ::testing::Test
{
protected:
    void SetUp() override { Connect(); }

    void TearDown() override { JoinPeer(); }

    // A fresh pair of ends and an empty packet to read into.
    void Connect()
    {
        JoinPeer();
        m_pRx = std::make_unique<CMOOSCommPkt>();
        XPCTcpSocket Listener(0L);
        Listener.vBindSocket("127.0.0.1");
        Listener.vListen(1);
        m_pNear = std::make_unique<XPCTcpSocket>(static_cast<long>(Listener.iGetBoundPort()));
        m_pNear->vConnect("127.0.0.1");
        m_pFar.reset(Listener.Accept());
    }

    void JoinPeer()
    {
        if (m_Peer.joinable())
            m_Peer.join();
    }

    // The peer sends these bytes, one byte per send with a short pause when
    // bDribble is set, on a thread of its own.
    void PeerSends(Bytes b, bool bDribble = false)
    {
        m_Peer = std::thread(
            [this, b, bDribble]
            {
                for (std::size_t n = 0; n < b.size();)
                {
                    const int nSize = bDribble ? 1 : static_cast<int>(b.size() - n);
                    n += m_pFar->iSendMessage(b.data() + n, nSize);
                    if (bDribble)
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            });
    }

    // Reads one packet from the near end; the text of the CMOOSException it
    // raised, or "" when it read a whole packet.
    std::string ReadFails(int nSecondsTimeOut = -1)
    {
        CMOOSCommObject::ReadBounds Bounds;
        Bounds.nSecondsTimeOut = nSecondsTimeOut;
        return ReadFails(Bounds);
    }

    std::string ReadFails(const CMOOSCommObject::ReadBounds& Bounds)
    {
        try
        {
            ::testing::internal::CaptureStderr();
            m_Comms.ReadPkt(m_pNear.get(), *m_pRx, Bounds);
            ::testing::internal::GetCapturedStderr();
            return "";
        }
        catch (const CMOOSException& e)
        {
            ::testing::internal::GetCapturedStderr();
            return e.m_sReason;
        }
    }

    MOOSMSG_LIST ReceivedMessages()
    {
        MOOSMSG_LIST List;
        EXPECT_TRUE(m_pRx->Serialize(List, false));
        return List;
    }

    static Bytes LengthField(int nLength)
    {
        Bytes b;
        AppendInt(b, nLength);
        return b;
    }

    CMOOSCommObject m_Comms;
    std::unique_ptr<CMOOSCommPkt> m_pRx;
    std::unique_ptr<XPCTcpSocket> m_pNear;
    std::unique_ptr<XPCTcpSocket> m_pFar;
    std::thread m_Peer;
};

TEST_F(CommObjectTest, MessageTravelsAsAOneMessagePacket)
{
    CMOOSMsg Sent = WorkedNotification();
    ASSERT_TRUE(m_Comms.SendMsg(m_pFar.get(), Sent));
    CMOOSMsg Got;
    EXPECT_TRUE(m_Comms.ReadMsg(m_pNear.get(), Got));
    ExpectSameMessage(Got, Sent);
}

TEST_F(CommObjectTest, ReadMsgTakesThePacketsLastMessage)
{
    PeerSends(PacketBytesOf({StringNotification("First", "1"), StringNotification("Last", "2")}));
    CMOOSMsg Got;
    EXPECT_TRUE(m_Comms.ReadMsg(m_pNear.get(), Got, 5));
    EXPECT_EQ(Got.GetKey(), "Last");
}

TEST_F(CommObjectTest, ReadMsgOfAnEmptyPacketLeavesTheMessageAlone)
{
    PeerSends(PacketBytesOf(MOOSMSG_LIST()));
    CMOOSMsg Got = StringNotification("Mine", "kept");
    EXPECT_FALSE(m_Comms.ReadMsg(m_pNear.get(), Got));
    EXPECT_EQ(Got.GetKey(), "Mine");
}

TEST_F(CommObjectTest, PacketLargerThanOneChunkArrivesWhole)
{
    MOOSMSG_LIST List;
    for (int i = 0; i < 1000; i++)
        List.push_back(StringNotification("Key" + std::to_string(i), "Value" + std::to_string(i)));
    CMOOSCommPkt Tx;
    ASSERT_TRUE(Tx.Serialize(List, true));
    ASSERT_GT(Tx.GetStreamLength(), 8192 * 4);
    m_Peer = std::thread([&] { m_Comms.SendPkt(m_pFar.get(), Tx); });
    EXPECT_EQ(ReadFails(), "");
    m_Peer.join();
    MOOSMSG_LIST Got = ReceivedMessages();
    ASSERT_EQ(Got.size(), 1000u);
    ExpectSameMessage(Got.back(), List.front());
}

TEST_F(CommObjectTest, PeerDribblingOneByteAtATimeIsGathered)
{
    PeerSends(PacketBytesOf({WorkedNotification()}), true);
    EXPECT_EQ(ReadFails(5), "");
    MOOSMSG_LIST Got = ReceivedMessages();
    ASSERT_EQ(Got.size(), 1u);
    ExpectSameMessage(Got.front(), WorkedNotification());
}

TEST_F(CommObjectTest, LengthFieldOutOfRangeIsRefusedBeforeTheBody)
{
    for (int nLength : {8, 0, -1, MOOS_MAX_PKT_LENGTH + 1, INT_MAX})
    {
        Connect();
        PeerSends(LengthField(nLength));
        EXPECT_EQ(ReadFails(),
                  "CMOOSCommObject::ReadPkt() bad packet length " + std::to_string(nLength));
    }
}

TEST_F(CommObjectTest, PeerClosingMidPacketIsReported)
{
    Bytes b = PacketBytesOf({WorkedNotification()});
    b.resize(20);
    PeerSends(b);
    JoinPeer();
    m_pFar.reset();
    EXPECT_EQ(ReadFails(), "remote side closed....");
}

TEST_F(CommObjectTest, PeerClosingInsideTheLengthFieldIsReported)
{
    PeerSends({0x41, 0x00});
    JoinPeer();
    m_pFar.reset();
    EXPECT_EQ(ReadFails(0), "remote side closed....");
}

TEST_F(CommObjectTest, SilentPeerRunsOutTheWait)
{
    const auto Start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadFails(1), "remote side closed or lazy client ( waited more than 1s )");
    EXPECT_GE(std::chrono::steady_clock::now() - Start, std::chrono::milliseconds(900));
}

TEST_F(CommObjectTest, WholePacketBoundCatchesAPeerStallingMidPacket)
{
    Bytes b = PacketBytesOf({WorkedNotification()});
    b.resize(20);
    PeerSends(b);
    CMOOSCommObject::ReadBounds Bounds;
    Bounds.dfWholePktSeconds = 0.2;
    EXPECT_EQ(ReadFails(Bounds), "no reply from the server within 0.2 s");
}

TEST_F(CommObjectTest, BoundedReadStillGathersADribbledPacket)
{
    PeerSends(PacketBytesOf({WorkedNotification()}), true);
    CMOOSCommObject::ReadBounds Bounds;
    Bounds.dfWholePktSeconds = 30.0;
    Bounds.CheckAbort = [] {};
    EXPECT_EQ(ReadFails(Bounds), "");
    ASSERT_EQ(ReceivedMessages().size(), 1u);
}

TEST_F(CommObjectTest, AbortCheckIsHeardWhileThePeerIsSilent)
{
    int nChecks = 0;
    CMOOSCommObject::ReadBounds Bounds;
    Bounds.CheckAbort = [&nChecks]
    {
        if (++nChecks == 3)
            throw CMOOSException("abandoned");
    };
    EXPECT_EQ(ReadFails(Bounds), "abandoned");
    EXPECT_EQ(nChecks, 3);
}

TEST_F(CommObjectTest, PerReceiveTimeOutHoldsUnderAbortChecks)
{
    CMOOSCommObject::ReadBounds Bounds;
    Bounds.nSecondsTimeOut = 1;
    Bounds.CheckAbort = [] {};
    EXPECT_EQ(ReadFails(Bounds), "remote side closed or lazy client ( waited more than 1s )");
}

TEST_F(CommObjectTest, PacketWithoutBytesIsNotSent)
{
    CMOOSCommPkt Never;
    EXPECT_THROW(m_Comms.SendPkt(m_pFar.get(), Never), CMOOSException);
    EXPECT_THROW(m_Comms.SendPkt(nullptr, Never), CMOOSException);
    EXPECT_THROW(m_Comms.ReadPkt(nullptr, *m_pRx, -1), CMOOSException);
}

TEST_F(CommObjectTest, SendingToAGonePeerFails)
{
    m_pFar.reset();
    CMOOSMsg Msg = WorkedNotification();
    ::testing::internal::CaptureStderr();
    std::string sReason;
    // The first sends may still be taken by the system before the reset is seen.
    for (int i = 0; i < 100 && sReason.empty(); i++)
    {
        try
        {
            m_Comms.SendMsg(m_pNear.get(), Msg);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        catch (const CMOOSException& e)
        {
            sReason = e.m_sReason;
        }
    }
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(sReason, "CMOOSCommObject::SendPkt() Failed Tx");
}
} // namespace
