#include "MOOSLIB/MOOSCommPkt.h"

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <new>

namespace
{
constexpr int kLengthFieldSize = sizeof(int);
} // namespace

CMOOSCommPkt::CMOOSCommPkt() : m_pStream(m_DefaultStream), m_pNextData(m_DefaultStream) {}

CMOOSCommPkt::~CMOOSCommPkt() = default;

bool CMOOSCommPkt::IsValidStreamLength(int nLength)
{
    return nLength >= MOOS_PKT_HEADER_LENGTH && nLength <= MOOS_MAX_PKT_LENGTH;
}

int CMOOSCommPkt::GetBytesRequired() const
{
    return m_nByteCount == 0 ? kLengthFieldSize : m_nStreamLength - m_nByteCount;
}

bool CMOOSCommPkt::InflateTo(int nNewStreamSize)
{
    if (nNewStreamSize < m_nByteCount || nNewStreamSize <= 0)
        return false;
    std::unique_ptr<unsigned char[]> pNew(new (std::nothrow) unsigned char[nNewStreamSize]);
    if (!pNew)
    {
        MOOSTrace("memory allocation failed in CMOOSCommPkt::CopyToStream");
        return false;
    }
    if (m_nByteCount > 0)
        std::memcpy(pNew.get(), m_pStream, m_nByteCount);
    m_pHeapStream = std::move(pNew);
    m_pStream = m_pHeapStream.get();
    m_pNextData = m_pStream + m_nByteCount;
    m_nStreamSpace = nNewStreamSize;
    return true;
}

bool CMOOSCommPkt::MakeRoomFor(int nBytes)
{
    if (nBytes < 0)
        return false;
    // Bytes that would exactly fill the buffer make it grow too.
    const std::int64_t nNeeded = std::int64_t(m_nByteCount) + nBytes;
    if (nNeeded < m_nStreamSpace)
        return true;
    const std::int64_t nWanted = (std::int64_t(m_nStreamSpace) + nBytes) * 2;
    const int nNewSpace = nWanted > INT_MAX ? INT_MAX : static_cast<int>(nWanted);
    return nNeeded <= nNewSpace && InflateTo(nNewSpace);
}

bool CMOOSCommPkt::CopyToStream(unsigned char* pData, int nBytes)
{
    if (!MakeRoomFor(nBytes))
        return false;
    if (nBytes > 0)
        std::memcpy(m_pNextData, pData, nBytes);
    m_pNextData += nBytes;
    m_nByteCount += nBytes;
    return true;
}

bool CMOOSCommPkt::Fill(unsigned char* InData, int nData)
{
    if (m_nByteCount != 0)
    {
        if (nData > GetBytesRequired())
            return MOOSFail("CMOOSCommPkt::Fill() %d bytes are more than the %d the packet lacks",
                            nData, GetBytesRequired());
        return CopyToStream(InData, nData);
    }
    if (nData != kLengthFieldSize)
        return MOOSFail("CMOOSCommPkt::Fill() must start with the 4 length bytes, not %d", nData);
    const int nLength = CopyFromBufferAsLittleEndian<int>(InData);
    if (!IsValidStreamLength(nLength))
        return MOOSFail("CMOOSCommPkt::Fill() refuses a packet length of %d bytes", nLength);
    if (!CopyToStream(InData, nData))
        return false;
    m_nStreamLength = nLength;
    return true;
}

bool CMOOSCommPkt::Serialize(MOOSMSG_LIST& List, bool bToStream, bool bNoNULL,
                             double* pdfPacketTime)
{
    return bToStream ? WriteList(List) : ReadList(List, bNoNULL, pdfPacketTime);
}

// ---------------------------------------------------------------------------
// List to bytes.

// Each message is written straight into the stream once there is room for
// it, so no byte is copied twice.
bool CMOOSCommPkt::WriteList(MOOSMSG_LIST& List)
{
    m_nStreamLength = 0;
    m_pNextData = m_pStream + MOOS_PKT_HEADER_LENGTH;
    m_nByteCount = MOOS_PKT_HEADER_LENGTH;

    for (CMOOSMsg& Msg : List)
    {
        const unsigned int nExpected = Msg.GetSizeInBytesWhenSerialised();
        if (nExpected > INT_MAX || !MakeRoomFor(static_cast<int>(nExpected)))
            return MOOSFail("CMOOSCommPkt::Serialize no room for a message of %u bytes", nExpected);
        const int n = Msg.Serialize(m_pNextData, m_nStreamSpace - m_nByteCount, true);
        if (n != static_cast<int>(nExpected))
        {
            std::cerr << "bad news expected " << nExpected << " but serialisation took " << n
                      << "\n";
            Msg.Trace();
        }
        if (n == -1)
            return false;
        m_pNextData += n;
        m_nByteCount += n;
    }
    WriteHeader(static_cast<int>(List.size()));
    m_nStreamLength = m_nByteCount;
    return true;
}

void CMOOSCommPkt::WriteHeader(int nMessages)
{
    m_pNextData = m_pStream;
    CopyToBufferAsLittleEndian<int>(m_nByteCount, m_pNextData);
    CopyToBufferAsLittleEndian<int>(nMessages, m_pNextData + 4);
    m_pNextData[8] = 0;
    m_pNextData += MOOS_PKT_HEADER_LENGTH;
}

// ---------------------------------------------------------------------------
// Bytes to list.

bool CMOOSCommPkt::ReadList(MOOSMSG_LIST& List, bool bNoNULL, double* pdfPacketTime)
{
    const int nHeld = m_nByteCount;
    m_pNextData = m_pStream;
    m_nStreamLength = 0;
    m_nByteCount = 0;
    if (nHeld < MOOS_PKT_HEADER_LENGTH)
        return MOOSFail("CMOOSCommPkt::Serialize a packet of %d bytes has no header", nHeld);

    const int nLength = CopyFromBufferAsLittleEndian<int>(m_pStream);
    const int nCount = CopyFromBufferAsLittleEndian<int>(m_pStream + 4);
    m_pNextData += MOOS_PKT_HEADER_LENGTH;
    m_nByteCount = MOOS_PKT_HEADER_LENGTH;
    if (nLength < MOOS_PKT_HEADER_LENGTH || nLength > nHeld)
        return MOOSFail("CMOOSCommPkt::Serialize packet claims %d bytes but holds %d", nLength,
                        nHeld);

    int nRemaining = nLength - MOOS_PKT_HEADER_LENGTH;
    bool bComplete = nCount >= 0;
    for (int i = 0; i < nCount; i++)
    {
        const int n = ReadMessage(List, nRemaining);
        if (n < 0)
        {
            bComplete = false;
            break;
        }
        if (List.front().IsType(MOOS_NULL_MSG))
        {
            // The sender's packet time rides on a leading null message.
            if (i == 0 && pdfPacketTime != nullptr)
                *pdfPacketTime = List.front().GetDouble();
            if (bNoNULL)
                List.pop_front();
        }
        m_pNextData += n;
        m_nByteCount += n;
        nRemaining -= n;
    }
    m_nStreamLength = m_nByteCount;
    return bComplete;
}

// Reads the message at the next data into the front of List and returns its
// declared length; -1, with nothing inserted, when it is cut short or declares
// a length that does not cover its own fields or that runs past the packet
// (either would put the next message at a wrong place). Silent: the reader of
// the packet decides what an unreadable message costs and says so once.
int CMOOSCommPkt::ReadMessage(MOOSMSG_LIST& List, int nRemaining)
{
    CMOOSMsg& Msg = List.emplace_front();
    const int nLength = Msg.Serialize(m_pNextData, nRemaining, false);
    if (nLength == -1)
    {
        List.pop_front();
        return -1;
    }
    const unsigned int nTaken = Msg.GetSizeInBytesWhenSerialised();
    if (nLength < 0 || static_cast<unsigned int>(nLength) < nTaken || nLength > nRemaining)
    {
        List.pop_front();
        return -1;
    }
    return nLength;
}
