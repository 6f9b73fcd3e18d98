#include "WireTestSupport.h"

#include "MOOSLIB/MOOSException.h"
#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

namespace
{
class MessageTest : public ::testing::Test
{
protected:
    // Reads a message back from exactly these bytes (a heap copy of the exact
    // size, so a read past the end is caught by the address sanitizer).
    int ReadFrom(const Bytes& b)
    {
        Bytes Exact(b);
        m_nRead = m_Read.Serialize(Exact.data(), static_cast<int>(Exact.size()), false);
        return m_nRead;
    }

    CMOOSMsg RoundTrip(const CMOOSMsg& Msg)
    {
        const Bytes b = BytesOf(Msg);
        EXPECT_EQ(b.size(), Msg.GetSizeInBytesWhenSerialised());
        EXPECT_EQ(ReadFrom(b), static_cast<int>(b.size()));
        return m_Read;
    }

    // Offset of the key's length field in a message with a one-letter source
    // and empty auxiliary and further sources.
    static constexpr std::size_t kKeyLengthAt = 10 + 5 + 4 + 4;

    CMOOSMsg m_Read;
    int m_nRead = 0;
};

TEST_F(MessageTest, WorkedNotificationIsByteExact)
{
    const Bytes Expected = {0x38, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x4E, 0x44, 0x01, 0x00,
                            0x00, 0x00, 0x61, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01,
                            0x00, 0x00, 0x00, 0x58, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F,
                            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00,
                            0x00, 0x00, 0xF0, 0xBF, 0x00, 0x00, 0x00, 0x00};
    CMOOSMsg Msg = WorkedNotification();
    EXPECT_EQ(Hex(BytesOf(Msg)), Hex(Expected));
    EXPECT_EQ(Msg.GetSizeInBytesWhenSerialised(), 56u);
}

TEST_F(MessageTest, DefaultMessageIsA54ByteNullMessage)
{
    CMOOSMsg Msg;
    const Bytes b = BytesOf(Msg);
    ASSERT_EQ(b.size(), 54u);
    EXPECT_EQ(Hex(Bytes(b.begin(), b.begin() + 10)), "36 00 00 00 FF FF FF FF 2E 44");
    EXPECT_EQ(Msg.m_dfTime, -1);
    EXPECT_EQ(Msg.m_dfVal, -1);
    EXPECT_EQ(Msg.m_dfVal2, -1);
    EXPECT_TRUE(Msg.IsType(MOOS_NULL_MSG));
    EXPECT_TRUE(Msg.IsDataType(MOOS_DOUBLE));
}

TEST_F(MessageTest, EveryMessageAndDataTypeRoundTrips)
{
    for (char cType : {MOOS_NOTIFY, MOOS_REGISTER, MOOS_UNREGISTER, MOOS_SERVER_REQUEST, MOOS_DATA,
                       MOOS_POISON, MOOS_NULL_MSG})
    {
        for (char cData : {MOOS_DOUBLE, MOOS_STRING, MOOS_BINARY_STRING})
        {
            CMOOSMsg Msg(cType, "Key", std::string("v\0al\xFF", 5), 123.25);
            Msg.m_cDataType = cData;
            Msg.m_nID = -2;
            Msg.m_dfVal = -0.5;
            Msg.m_dfVal2 = 1e300;
            Msg.m_sSrc = "pSrc";
            Msg.SetSourceAux("aux");
            Msg.m_sOriginatingCommunity = "community";
            SCOPED_TRACE(std::string(1, cType) + cData);
            ExpectSameMessage(RoundTrip(Msg), Msg);
            m_Read = CMOOSMsg();
        }
    }
}

TEST_F(MessageTest, StringsCarryNulAndEveryByteValue)
{
    std::string sAll;
    for (int c = 0; c < 256; c++)
        sAll.push_back(static_cast<char>(c));
    CMOOSMsg Msg(MOOS_NOTIFY, std::string("K\0ey", 4), sAll, 5.0);
    Msg.MarkAsBinary();
    Msg.m_sSrc = std::string("\0\0", 2);
    ExpectSameMessage(RoundTrip(Msg), Msg);
}

TEST_F(MessageTest, WritingNeedsExactlyTheAnnouncedSize)
{
    CMOOSMsg Msg = StringNotification("Latitude", "4807.038");
    const int nSize = static_cast<int>(Msg.GetSizeInBytesWhenSerialised());
    Bytes Short(nSize - 1);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Msg.Serialize(Short.data(), nSize - 1, true), -1);
    const std::string sErr = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(sErr.find("exception : CMOOSMsg::Serialize failed: CMOOSMsg::operator << Out Of "
                        "Space\n "),
              std::string::npos);
    EXPECT_NE(sErr.find("perhaps accummulated messages exceeded available buffer space of " +
                        std::to_string(nSize - 1) + " bytes\n"),
              std::string::npos);

    Bytes Exact(nSize);
    EXPECT_EQ(Msg.Serialize(Exact.data(), nSize, true), nSize);
}

TEST_F(MessageTest, WritingIntoTinyBuffersFailsWithoutTouchingThem)
{
    CMOOSMsg Msg;
    for (int nLen = 0; nLen < 8; nLen++)
    {
        Bytes Tiny(nLen);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(Msg.Serialize(Tiny.data(), nLen, true), -1) << nLen;
        ::testing::internal::GetCapturedStderr();
    }
}

TEST_F(MessageTest, ReadingReturnsTheDeclaredLength)
{
    Bytes b = BytesOf(WorkedNotification());
    PutInt(b, 0, 1000);
    EXPECT_EQ(ReadFrom(b), 1000);
    EXPECT_EQ(m_Read.GetLength(), 1000);
    EXPECT_EQ(m_Read.m_sKey, "X");
}

TEST_F(MessageTest, ReadingEveryTruncationFailsCleanly)
{
    const Bytes Full = BytesOf(StringNotification("Key", "Value"));
    ::testing::internal::CaptureStderr();
    for (std::size_t n = 0; n < Full.size(); n++)
    {
        m_Read = CMOOSMsg();
        EXPECT_EQ(ReadFrom(Bytes(Full.begin(), Full.begin() + n)), -1) << n;
    }
    const std::string sErr = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(sErr.find("CMOOSMsg::operator >> Out Of Space"), std::string::npos);
    EXPECT_EQ(sErr.find("perhaps accummulated"), std::string::npos);
}

TEST_F(MessageTest, ReadingRefusesBadStringLengths)
{
    const Bytes Good = BytesOf(WorkedNotification());
    const int nLeft = static_cast<int>(Good.size() - kKeyLengthAt - 4);
    for (int nBad : {-1, -5, INT_MIN, nLeft + 1, INT_MAX})
    {
        Bytes b = Good;
        PutInt(b, kKeyLengthAt, nBad);
        m_Read = CMOOSMsg();
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(ReadFrom(b), -1) << nBad;
        ::testing::internal::GetCapturedStderr();
        EXPECT_TRUE(m_Read.m_sKey.empty()) << nBad;
        EXPECT_EQ(m_Read.m_sSrc, "a") << "fields read before the failure stay";
    }
}

TEST_F(MessageTest, ReadingANegativeBufferLengthFails)
{
    Bytes b = BytesOf(WorkedNotification());
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(m_Read.Serialize(b.data(), -1, false), -1);
    ::testing::internal::GetCapturedStderr();
}

TEST_F(MessageTest, CursorOperatorsOutsideSerializeThrowWhenOutOfRoom)
{
    unsigned char Buffer[6] = {};
    CMOOSMsg Msg;
    Msg.m_pSerializeBufferStart = Msg.m_pSerializeBuffer = Buffer;
    Msg.m_nSerializeBufferLen = sizeof(Buffer);
    int nVal = 7;
    Msg << nVal;
    try
    {
        Msg << nVal;
        FAIL() << "no exception";
    }
    catch (const CMOOSException& e)
    {
        EXPECT_STREQ(e.m_sReason, "CMOOSMsg::operator << Out Of Space");
    }
    Msg.m_pSerializeBuffer = Buffer;
    double dfVal = 0;
    try
    {
        Msg >> dfVal;
        FAIL() << "no exception";
    }
    catch (const CMOOSException& e)
    {
        EXPECT_STREQ(e.m_sReason, "CMOOSMsg::operator >> Out Of Space");
    }
}

TEST_F(MessageTest, StringReadInsertsInFrontOfWhatTheTargetHolds)
{
    unsigned char Buffer[7] = {3, 0, 0, 0, 'a', 'b', 'c'};
    CMOOSMsg Msg;
    Msg.m_pSerializeBufferStart = Msg.m_pSerializeBuffer = Buffer;
    Msg.m_nSerializeBufferLen = sizeof(Buffer);
    std::string s = "XY";
    Msg >> s;
    EXPECT_EQ(s, "abcXY");
}

TEST(MessageConstruction, TimeMinusOneMeansNowAndAnyOtherTimeIsKept)
{
    const double dfBefore = MOOSTime();
    CMOOSMsg Now(MOOS_NOTIFY, "K", 1.0, -1);
    CMOOSMsg NowText(MOOS_NOTIFY, "K", std::string("v"), -1);
    EXPECT_GE(Now.GetTime(), dfBefore);
    EXPECT_LE(Now.GetTime(), MOOSTime());
    EXPECT_GE(NowText.GetTime(), dfBefore);
    EXPECT_EQ(CMOOSMsg(MOOS_NOTIFY, "K", 1.0, 0.0).GetTime(), 0.0);
    EXPECT_EQ(CMOOSMsg(MOOS_NOTIFY, "K", "v", -2.0).GetTime(), -2.0);
}

TEST(MessageConstruction, ConstructorsSetDataTypeAndLeaveTheRestDefault)
{
    CMOOSMsg Double(MOOS_REGISTER, "K", 0.5, 3.0);
    EXPECT_TRUE(Double.IsDouble());
    EXPECT_EQ(Double.m_dfVal2, -1);
    EXPECT_EQ(Double.m_nID, -1);
    EXPECT_TRUE(Double.m_sVal.empty());
    CMOOSMsg Text(MOOS_NOTIFY, "K", "text", 3.0);
    EXPECT_TRUE(Text.IsString());
    EXPECT_EQ(Text.GetDouble(), -1);
    EXPECT_EQ(Text.GetString(), "text");
}

TEST(MessageSkew, FiveSecondsIsTheLastUnskewedDistance)
{
    CMOOSMsg Msg(MOOS_NOTIFY, "K", 1.0, 100.0);
    double dfSkew = 0;
    EXPECT_FALSE(Msg.IsSkewed(105.0, &dfSkew));
    EXPECT_EQ(dfSkew, 5.0);
    EXPECT_FALSE(Msg.IsSkewed(95.0));
    EXPECT_TRUE(Msg.IsSkewed(105.01, &dfSkew));
    EXPECT_TRUE(Msg.IsSkewed(94.0));
}

TEST(MessageSkew, NothingIsSkewedInPlayBack)
{
    CMOOSMsg Msg(MOOS_NOTIFY, "K", 1.0, 100.0);
    testing::internal::CaptureStdout();
    SetMOOSPlayBack(true);
    double dfSkew = -1;
    const bool bSkewed = Msg.IsSkewed(1000.0, &dfSkew);
    SetMOOSPlayBack(false);
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(bSkewed);
    EXPECT_EQ(dfSkew, 0.0);
}

TEST(MessageText, GetAsStringRendersEachDataType)
{
    CMOOSMsg Unset(MOOS_NOTIFY, "K", "text", 5.0);
    Unset.m_dfTime = -1;
    EXPECT_EQ(Unset.GetAsString(10, 2), "NotSet    ");
    EXPECT_EQ(CMOOSMsg(MOOS_NOTIFY, "K", 3.14159, 5.0).GetAsString(8, 2), "3.14    ");
    CMOOSMsg Binary(MOOS_NOTIFY, "K", std::string(2500, 'b'), 5.0);
    Binary.MarkAsBinary();
    EXPECT_EQ(Binary.GetAsString(20, 2), "BINARY DATA [2.5 kB]");
    EXPECT_EQ(CMOOSMsg(MOOS_NOTIFY, "K", std::string("ab\0cd", 5), 5.0).GetAsString(10, 2), "ab");
}

TEST(MessageText, TraceShowsTypeDataAndSource)
{
    CMOOSMsg Binary(MOOS_NOTIFY, "Blob", std::string(2500, 'b'), 7.0);
    Binary.MarkAsBinary();
    Binary.m_sSrc = "pSrc";
    testing::internal::CaptureStderr();
    Binary.Trace();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Type=N DataType=B Key =Blob Data=2.500 KB of binary\tdata Source= pSrc Time =      "
              "7.000\n");
    CMOOSMsg Odd(MOOS_NOTIFY, "K", 1.0, 7.0);
    Odd.m_cDataType = 'Z';
    testing::internal::CaptureStderr();
    Odd.Trace();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Type=N DataType=Z Key =K Source=  Time =      7.000\n");
}

TEST(ByteOrder, HelpersWriteLittleEndianAndSwapReverses)
{
    unsigned char Buffer[8];
    CopyToBufferAsLittleEndian<int>(0x01020304, Buffer);
    EXPECT_EQ(Hex(Bytes(Buffer, Buffer + 4)), "04 03 02 01");
    EXPECT_EQ(CopyFromBufferAsLittleEndian<int>(Buffer), 0x01020304);
    CopyToBufferAsLittleEndian<double>(-1.0, Buffer);
    EXPECT_EQ(Hex(Bytes(Buffer, Buffer + 8)), "00 00 00 00 00 00 F0 BF");
    EXPECT_EQ(CopyFromBufferAsLittleEndian<double>(Buffer), -1.0);
    EXPECT_EQ(SwapByteOrder<int>(0x01020304), 0x04030201);
    EXPECT_EQ(SwapByteOrder<double>(SwapByteOrder<double>(2.5)), 2.5);
}

} // namespace
