#include "WireTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <memory>

namespace
{
class PacketTest : public ::testing::Test
{
protected:
    // Gathers packet bytes the way a receiver does: the 4 length bytes first,
    // then the rest in chunks. False when the packet refuses a piece.
    bool FillFrom(const Bytes& b, std::size_t nChunk = 8192)
    {
        Bytes Copy(b);
        if (Copy.size() < 4 || !m_pRx->Fill(Copy.data(), 4))
            return false;
        for (std::size_t n = 4; n < Copy.size(); n += nChunk)
        {
            const int nPiece = static_cast<int>(std::min(nChunk, Copy.size() - n));
            if (!m_pRx->Fill(Copy.data() + n, nPiece))
                return false;
        }
        return true;
    }

    // Reads the gathered packet into m_List, keeping the serializer's answer.
    bool ReadInto(bool bNoNULL = false, double* pdfTime = nullptr)
    {
        ::testing::internal::CaptureStderr();
        const bool bOK = m_pRx->Serialize(m_List, false, bNoNULL, pdfTime);
        m_sErr = ::testing::internal::GetCapturedStderr();
        return bOK;
    }

    std::string Keys() const
    {
        std::string s;
        for (const CMOOSMsg& Msg : m_List)
            s += Msg.GetKey();
        return s;
    }

    static MOOSMSG_LIST Notifications(const std::string& sKeys)
    {
        MOOSMSG_LIST List;
        for (char c : sKeys)
            List.push_back(StringNotification(std::string(1, c), "value"));
        return List;
    }

    // Notifications A and B with a null message carrying 12.5 first or last.
    static MOOSMSG_LIST WithNullMessage(bool bLeading)
    {
        CMOOSMsg Null;
        Null.m_dfVal = 12.5;
        MOOSMSG_LIST List = Notifications("AB");
        List.insert(bLeading ? List.begin() : List.end(), Null);
        return List;
    }

    // A packet whose stream is no longer inside the object lives on the heap.
    static bool OnHeap(const CMOOSCommPkt& Pkt)
    {
        const auto* pObject = reinterpret_cast<const unsigned char*>(&Pkt);
        return Pkt.Stream() < pObject || Pkt.Stream() >= pObject + sizeof(Pkt);
    }

    std::unique_ptr<CMOOSCommPkt> m_pRx = std::make_unique<CMOOSCommPkt>();
    MOOSMSG_LIST m_List;
    std::string m_sErr;
};

TEST_F(PacketTest, EmptyListIsTheNineByteHeader)
{
    EXPECT_EQ(Hex(PacketBytesOf(MOOSMSG_LIST())), "09 00 00 00 00 00 00 00 00");
}

TEST_F(PacketTest, WorkedNotificationPacketIsByteExact)
{
    const Bytes b = PacketBytesOf({WorkedNotification()});
    ASSERT_EQ(b.size(), 65u);
    EXPECT_EQ(Hex(Bytes(b.begin(), b.begin() + 9)), "41 00 00 00 01 00 00 00 00");
    EXPECT_EQ(Hex(Bytes(b.begin() + 9, b.end())), Hex(BytesOf(WorkedNotification())));
}

TEST_F(PacketTest, WritingLeavesTheListAlone)
{
    MOOSMSG_LIST List = Notifications("AB");
    CMOOSCommPkt Pkt;
    ASSERT_TRUE(Pkt.Serialize(List, true));
    EXPECT_EQ(List.size(), 2u);
    EXPECT_EQ(List.front().GetKey(), "A");
}

TEST_F(PacketTest, ReadingReversesOrderInFrontOfWhatTheListHolds)
{
    ASSERT_TRUE(FillFrom(PacketBytesOf(Notifications("ABC"))));
    m_List.push_back(StringNotification("X", "old"));
    EXPECT_TRUE(ReadInto());
    EXPECT_EQ(Keys(), "CBAX");
    EXPECT_EQ(m_pRx->GetStreamLength(),
              static_cast<int>(PacketBytesOf(Notifications("ABC")).size()));
}

TEST_F(PacketTest, MessagesRoundTripThroughAPacket)
{
    MOOSMSG_LIST List = Notifications("A");
    List.front().m_sVal = std::string("bin\0ary", 7);
    List.front().MarkAsBinary();
    ASSERT_TRUE(FillFrom(PacketBytesOf(List)));
    EXPECT_TRUE(ReadInto());
    ASSERT_EQ(m_List.size(), 1u);
    ExpectSameMessage(m_List.front(), List.front());
}

TEST_F(PacketTest, CountZeroAddsNothing)
{
    ASSERT_TRUE(FillFrom(PacketBytesOf(MOOSMSG_LIST())));
    EXPECT_TRUE(ReadInto());
    EXPECT_TRUE(m_List.empty());
}

TEST_F(PacketTest, LeadingNullMessageCarriesThePacketTimeEvenWhenDropped)
{
    ASSERT_TRUE(FillFrom(PacketBytesOf(WithNullMessage(true))));
    double dfTime = -7;
    EXPECT_TRUE(ReadInto(true, &dfTime));
    EXPECT_EQ(dfTime, 12.5);
    EXPECT_EQ(Keys(), "BA");
}

TEST_F(PacketTest, NullMessageElsewhereIsNeverThePacketTime)
{
    ASSERT_TRUE(FillFrom(PacketBytesOf(WithNullMessage(false))));
    double dfTime = -7;
    EXPECT_TRUE(ReadInto(false, &dfTime));
    EXPECT_EQ(dfTime, -7);
    EXPECT_EQ(m_List.size(), 3u) << "null messages are kept unless asked otherwise";
}

TEST_F(PacketTest, BytesThatExactlyFillTheBuiltInBufferMakeItGrow)
{
    // One message of exactly 32768 - 9 bytes.
    CMOOSMsg Big = StringNotification("K", "");
    Big.m_sVal.assign(32768 - 9 - Big.GetSizeInBytesWhenSerialised(), 'x');
    MOOSMSG_LIST List = {Big};
    CMOOSCommPkt Pkt;
    ASSERT_TRUE(Pkt.Serialize(List, true));
    EXPECT_EQ(Pkt.GetStreamLength(), 32768);
    EXPECT_TRUE(OnHeap(Pkt));

    Big.m_sVal.pop_back();
    List = {Big};
    CMOOSCommPkt Smaller;
    ASSERT_TRUE(Smaller.Serialize(List, true));
    EXPECT_FALSE(OnHeap(Smaller));
}

TEST_F(PacketTest, LargePacketsGrowAndRoundTripInChunks)
{
    MOOSMSG_LIST List;
    List.push_back(StringNotification("Huge", std::string(100000, 'h'))); // beyond the scratch
    for (int i = 0; i < 2000; i++)
        List.push_back(StringNotification("K" + std::to_string(i), "v"));
    const Bytes b = PacketBytesOf(List);
    ASSERT_FALSE(b.empty());
    ASSERT_TRUE(FillFrom(b, 8192));
    EXPECT_TRUE(ReadInto());
    ASSERT_EQ(m_List.size(), List.size());
    ExpectSameMessage(m_List.back(), List.front());
    EXPECT_EQ(m_List.front().GetKey(), "K1999");
}

TEST_F(PacketTest, BytesRequiredCountsDownFromTheLengthField)
{
    EXPECT_EQ(m_pRx->GetBytesRequired(), 4);
    Bytes b = PacketBytesOf({WorkedNotification()});
    ASSERT_TRUE(m_pRx->Fill(b.data(), 4));
    EXPECT_EQ(m_pRx->GetBytesRequired(), 61);
    EXPECT_EQ(m_pRx->GetStreamLength(), 65);
    ASSERT_TRUE(m_pRx->Fill(b.data() + 4, 60));
    EXPECT_EQ(m_pRx->GetBytesRequired(), 1);
}

TEST_F(PacketTest, FillRefusesBadLengthFieldsAndExtraBytes)
{
    ::testing::internal::CaptureStderr();
    for (int nLength : {-1, 0, 4, 8, MOOS_MAX_PKT_LENGTH + 1, INT_MAX, INT_MIN})
    {
        CMOOSCommPkt Pkt;
        Bytes b;
        AppendInt(b, nLength);
        EXPECT_FALSE(Pkt.Fill(b.data(), 4)) << nLength;
        EXPECT_EQ(Pkt.GetBytesRequired(), 4) << "a refused length leaves the packet empty";
    }
    Bytes b = PacketBytesOf(MOOSMSG_LIST());
    CMOOSCommPkt Pkt;
    EXPECT_FALSE(Pkt.Fill(b.data(), 9)) << "the length field comes alone";
    EXPECT_FALSE(Pkt.Fill(b.data(), 2));
    ASSERT_TRUE(Pkt.Fill(b.data(), 4));
    b.push_back(0);
    EXPECT_FALSE(Pkt.Fill(b.data() + 4, 6)) << "bytes beyond the declared length";
    EXPECT_TRUE(Pkt.Fill(b.data() + 4, 5));
    EXPECT_EQ(Pkt.GetBytesRequired(), 0);
    ::testing::internal::GetCapturedStderr();
}

TEST_F(PacketTest, CountLargerThanTheMessagesPresentIsRefused)
{
    Bytes b = PacketBytesOf(Notifications("AB"));
    PutInt(b, 4, 3);
    ASSERT_TRUE(FillFrom(b));
    EXPECT_FALSE(ReadInto());
    EXPECT_EQ(Keys(), "BA") << "messages before the damage are kept";
}

TEST_F(PacketTest, NegativeCountIsRefused)
{
    Bytes b = PacketBytesOf(Notifications("A"));
    PutInt(b, 4, -1);
    ASSERT_TRUE(FillFrom(b));
    EXPECT_FALSE(ReadInto());
    EXPECT_TRUE(m_List.empty());
}

TEST_F(PacketTest, TruncatedMessageIsRefused)
{
    Bytes b = PacketBytesOf(Notifications("AB"));
    b.resize(b.size() - 3);
    PutInt(b, 0, static_cast<int>(b.size()));
    ASSERT_TRUE(FillFrom(b));
    EXPECT_FALSE(ReadInto());
    EXPECT_EQ(Keys(), "A");
}

TEST_F(PacketTest, MessageLengthThatMisplacesTheNextMessageIsRefused)
{
    const Bytes Good = PacketBytesOf(Notifications("AB"));
    const int nFirst = static_cast<int>(BytesOf(StringNotification("A", "value")).size());
    const int nBody = static_cast<int>(Good.size()) - 9;
    for (int nDeclared : {0, -1, -100, 4, nFirst - 1, nBody + 1, INT_MAX})
    {
        Bytes b = Good;
        PutInt(b, 9, nDeclared);
        m_pRx = std::make_unique<CMOOSCommPkt>();
        m_List.clear();
        ASSERT_TRUE(FillFrom(b));
        EXPECT_FALSE(ReadInto()) << nDeclared;
        EXPECT_TRUE(m_List.empty()) << nDeclared;
    }
}

TEST_F(PacketTest, MessageLengthLongerThanItsFieldsIsSkippedOver)
{
    // A sender may pad a message; the next one starts where the length says.
    Bytes First = BytesOf(StringNotification("A", "value"));
    First.insert(First.end(), 3, 0xEE);
    PutInt(First, 0, static_cast<int>(First.size()));
    Bytes b = {0, 0, 0, 0, 2, 0, 0, 0, 0};
    b.insert(b.end(), First.begin(), First.end());
    const Bytes Second = BytesOf(StringNotification("B", "value"));
    b.insert(b.end(), Second.begin(), Second.end());
    PutInt(b, 0, static_cast<int>(b.size()));
    ASSERT_TRUE(FillFrom(b));
    EXPECT_TRUE(ReadInto());
    EXPECT_EQ(Keys(), "BA");
}

TEST_F(PacketTest, PacketWithoutAWholeHeaderIsRefused)
{
    CMOOSCommPkt Pkt;
    MOOSMSG_LIST List;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(Pkt.Serialize(List, false));
    Bytes b = {12, 0, 0, 0, 1, 0};
    ASSERT_TRUE(Pkt.Fill(b.data(), 4));
    ASSERT_TRUE(Pkt.Fill(b.data() + 4, 2));
    EXPECT_FALSE(Pkt.Serialize(List, false)) << "6 of 12 bytes gathered";
    ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(List.empty());
}

TEST_F(PacketTest, InflateRefusesToShrinkBelowTheBytesHeld)
{
    CMOOSCommPkt Pkt;
    Bytes b(100, 1);
    ASSERT_TRUE(Pkt.CopyToStream(b.data(), 100));
    EXPECT_FALSE(Pkt.InflateTo(50));
    EXPECT_FALSE(Pkt.CopyToStream(b.data(), -1));
    EXPECT_TRUE(Pkt.InflateTo(200));
    EXPECT_TRUE(OnHeap(Pkt));
    EXPECT_EQ(Hex(Bytes(Pkt.Stream(), Pkt.Stream() + 3)), "01 01 01");
    EXPECT_EQ(Pkt.GetCompression(), 1.0);
}
} // namespace
