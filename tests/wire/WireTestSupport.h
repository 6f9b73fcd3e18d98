// Small verbs shared by the message, packet and transfer tests.
#ifndef TESTS_WIRE_WIRETESTSUPPORT_H
#define TESTS_WIRE_WIRETESTSUPPORT_H

#include "MOOSLIB/MOOSCommPkt.h"
#include "MOOSLIB/MOOSMsg.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

// "38 00 00 00 ..." from bytes, for readable failure output.
inline std::string Hex(const Bytes& b)
{
    std::string s;
    char Two[4];
    for (unsigned char c : b)
    {
        std::snprintf(Two, sizeof(Two), "%02X ", c);
        s += Two;
    }
    if (!s.empty())
        s.pop_back();
    return s;
}

// The byte form of one message, through Serialize with an exactly sized buffer.
inline Bytes BytesOf(CMOOSMsg Msg)
{
    Bytes b(Msg.GetSizeInBytesWhenSerialised());
    const int n = Msg.Serialize(b.data(), static_cast<int>(b.size()), true);
    b.resize(n < 0 ? 0 : n);
    return b;
}

// The notification of the worked example: identifier 0, source "a", key "X",
// time 1.0, double value 2.0.
inline CMOOSMsg WorkedNotification()
{
    CMOOSMsg Msg(MOOS_NOTIFY, "X", 2.0, 1.0);
    Msg.m_nID = 0;
    Msg.m_sSrc = "a";
    return Msg;
}

inline CMOOSMsg StringNotification(const std::string& sKey, const std::string& sVal)
{
    CMOOSMsg Msg(MOOS_NOTIFY, sKey, sVal, 10.0);
    Msg.m_sSrc = "pTest";
    return Msg;
}

// The bytes of a packet written from List.
inline Bytes PacketBytesOf(MOOSMSG_LIST List)
{
    CMOOSCommPkt Pkt;
    if (!Pkt.Serialize(List, true))
        return Bytes();
    return Bytes(Pkt.Stream(), Pkt.Stream() + Pkt.GetStreamLength());
}

inline void PutInt(Bytes& b, std::size_t nAt, int nVal)
{
    CopyToBufferAsLittleEndian<int>(nVal, b.data() + nAt);
}

inline void AppendInt(Bytes& b, int nVal)
{
    b.resize(b.size() + 4);
    PutInt(b, b.size() - 4, nVal);
}

// Every field that travels, compared one by one.
inline void ExpectSameMessage(const CMOOSMsg& a, const CMOOSMsg& b)
{
    EXPECT_EQ(a.m_cMsgType, b.m_cMsgType);
    EXPECT_EQ(a.m_cDataType, b.m_cDataType);
    EXPECT_EQ(a.m_sKey, b.m_sKey);
    EXPECT_EQ(a.m_nID, b.m_nID);
    EXPECT_EQ(a.m_dfTime, b.m_dfTime);
    EXPECT_EQ(a.m_dfVal, b.m_dfVal);
    EXPECT_EQ(a.m_dfVal2, b.m_dfVal2);
    EXPECT_EQ(a.m_sVal, b.m_sVal);
    EXPECT_EQ(a.m_sSrc, b.m_sSrc);
    EXPECT_EQ(a.m_sSrcAux, b.m_sSrcAux);
    EXPECT_EQ(a.m_sOriginatingCommunity, b.m_sOriginatingCommunity);
}

#endif
