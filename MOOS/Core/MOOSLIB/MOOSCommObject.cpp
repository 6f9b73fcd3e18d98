#include "MOOSLIB/MOOSCommObject.h"

#include "MOOSLIB/MOOSException.h"
#include "MOOSLIB/MOOSGenLibGlobalHelper.h"
#include "MOOSLIB/XPCTcpSocket.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <limits>

namespace
{
// Bytes received per call: a large packet costs several receives, no more.
constexpr int kChunkSize = 8192;
constexpr int kLengthFieldSize = sizeof(int);

const char* const kTxFailed = "CMOOSCommObject::SendPkt() Failed Tx";
const char* const kRxFailed = "CMOOSCommObject::ReadPkt() Failed Rx";

void RequireSocket(XPCTcpSocket* pSocket, const char* sWho)
{
    if (pSocket == nullptr)
        throw CMOOSException(MOOSFormat("CMOOSCommObject::%s() has no socket", sWho));
}

// The one text for a receive that got nothing: a closed peer or, when a wait
// was bounded, a peer that said nothing in time.
CMOOSException NothingReceived(int nSecondsTimeOut)
{
    if (nSecondsTimeOut < 1)
        return CMOOSException("remote side closed....");
    return CMOOSException(
        MOOSFormat("remote side closed or lazy client ( waited more than %ds )", nSecondsTimeOut));
}

// A sliced wait lasts at most this long, so an abort request is heard soon.
constexpr int kWaitSliceMS = 50;
constexpr double kNever = std::numeric_limits<double>::infinity();

int SliceMS(double dfSecondsLeft)
{
    const double dfMS = std::ceil(dfSecondsLeft * 1000.0);
    return dfMS < kWaitSliceMS ? static_cast<int>(dfMS) : kWaitSliceMS;
}

// One packet's receive on one socket under one set of bounds; the
// whole-packet deadline is fixed when it is made.
class PacketReceiver
{
public:
    PacketReceiver(XPCTcpSocket& Socket, const CMOOSCommObject::ReadBounds& Bounds)
        : m_Socket(Socket), m_Bounds(Bounds),
          m_bSliced(Bounds.dfWholePktSeconds > 0.0 || Bounds.CheckAbort),
          m_dfDeadline(Bounds.dfWholePktSeconds > 0.0
                           ? MOOSSteadySeconds() + Bounds.dfWholePktSeconds
                           : kNever)
    {
    }

    // The packet's byte source: at least one byte, or throws.
    int ReceiveSome(unsigned char* pBuffer, int nBytes)
    {
        int nGot = 0;
        try
        {
            nGot = ReceiveOnce(pBuffer, nBytes);
        }
        catch (XPCException& e)
        {
            MOOSTrace("Exception %s\n", e.sGetException());
            throw CMOOSException(kRxFailed);
        }
        if (nGot == -1)
            throw CMOOSException("Gross error....");
        if (nGot == 0)
            throw NothingReceived(m_Bounds.nSecondsTimeOut);
        if (nGot < 0 || nGot > nBytes)
            throw CMOOSException(kRxFailed);
        return nGot;
    }

private:
    // A count; 0 for a closed peer or a per-receive time-out; -1 when the
    // wait failed.
    int ReceiveOnce(unsigned char* pBuffer, int nBytes)
    {
        // Once a packet has begun, the rest of it has usually arrived with
        // its first bytes: take it without a wait.
        if (m_bBegun)
        {
            const int nGot = ReceiveWaiting(pBuffer, nBytes);
            if (nGot != 0)
                return nGot;
        }
        m_bBegun = true;
        if (m_bSliced)
        {
            const int nReady = WaitReadable();
            return nReady > 0 ? m_Socket.iRecieveMessage(pBuffer, nBytes, 0) : nReady;
        }
        if (m_Bounds.nSecondsTimeOut < 0)
            return m_Socket.iRecieveMessage(pBuffer, nBytes, 0);
        return m_Socket.iReadMessageWithTimeOut(pBuffer, nBytes, m_Bounds.nSecondsTimeOut, 0);
    }

    // What a receive takes without waiting; 0 when nothing is there yet. A
    // closed peer or a failure shows in the waiting receive that follows.
    int ReceiveWaiting(unsigned char* pBuffer, int nBytes)
    {
        ssize_t nGot = -1;
        do
            nGot = ::recv(m_Socket.iGetSocketFd(), pBuffer, static_cast<std::size_t>(nBytes),
                          MSG_DONTWAIT);
        while (nGot == -1 && errno == EINTR);
        return nGot > 0 ? static_cast<int>(nGot) : 0;
    }

    // Waits in slices short enough for CheckAbort to be heard: 1 when a
    // receive would not block, 0 when the per-receive time-out ran out, -1
    // when the wait failed. Throws when the whole-packet bound runs out.
    int WaitReadable()
    {
        const double dfReceiveDeadline =
            m_Bounds.nSecondsTimeOut < 0
                ? kNever
                : MOOSSteadySeconds() + std::max(1, m_Bounds.nSecondsTimeOut);
        for (;;)
        {
            if (m_Bounds.CheckAbort)
                m_Bounds.CheckAbort();
            const double dfNow = MOOSSteadySeconds();
            if (dfNow >= m_dfDeadline)
                throw CMOOSException(MOOSFormat("no reply from the server within %.1f s",
                                                m_Bounds.dfWholePktSeconds));
            if (dfNow >= dfReceiveDeadline)
                return 0;
            const double dfLeft = std::min(m_dfDeadline, dfReceiveDeadline) - dfNow;
            const int nReady = m_Socket.iWaitForReadable(SliceMS(dfLeft));
            if (nReady != 0)
                return nReady > 0 ? 1 : -1;
        }
    }

    XPCTcpSocket& m_Socket;
    const CMOOSCommObject::ReadBounds& m_Bounds;
    const bool m_bSliced;
    const double m_dfDeadline;
    bool m_bBegun = false; // a receive has been made for this packet
};
} // namespace

CMOOSCommObject::~CMOOSCommObject() = default;

bool CMOOSCommObject::SocketsInit()
{
    return true;
}

bool CMOOSCommObject::SendPkt(XPCTcpSocket* pSocket, CMOOSCommPkt& PktTx)
{
    RequireSocket(pSocket, "SendPkt");
    const int nLength = PktTx.GetStreamLength();
    // Sending nothing and reporting success would leave the caller waiting
    // for a reply the peer was never asked for.
    if (nLength < MOOS_PKT_HEADER_LENGTH)
        throw CMOOSException("CMOOSCommObject::SendPkt() packet holds no serialised messages");
    int nSent = 0;
    try
    {
        nSent = pSocket->iSendMessage(PktTx.Stream(), nLength);
    }
    catch (XPCException& e)
    {
        MOOSTrace("MOOSCommObject::SendPkt Exception caught %s\n", e.sGetException());
        throw CMOOSException(kTxFailed);
    }
    if (nSent != nLength)
        throw CMOOSException(kTxFailed);
    return true;
}

bool CMOOSCommObject::ReadPkt(XPCTcpSocket* pSocket, CMOOSCommPkt& PktRx, int nSecondsTimeOut)
{
    ReadBounds Bounds;
    Bounds.nSecondsTimeOut = nSecondsTimeOut;
    return ReadPkt(pSocket, PktRx, Bounds);
}

bool CMOOSCommObject::ReadPkt(XPCTcpSocket* pSocket, CMOOSCommPkt& PktRx, const ReadBounds& Bounds)
{
    RequireSocket(pSocket, "ReadPkt");
    PacketReceiver Receiver(*pSocket, Bounds);
    const PktFramingTexts Texts{"CMOOSCommObject::ReadPkt() bad packet length %d", kRxFailed};
    ReadPktFrom([&Receiver](unsigned char* pBuffer, int nBytes)
                { return Receiver.ReceiveSome(pBuffer, nBytes); },
                PktRx, MOOS_MAX_PKT_LENGTH, Texts);
    return true;
}

void CMOOSCommObject::ReadPktFrom(const ByteSource& Receive, CMOOSCommPkt& PktRx, int nByteLimit,
                                  const PktFramingTexts& Texts)
{
    // A peer may deliver the length field in pieces; it is gathered whole
    // and checked before the packet sizes anything by it.
    if (PktRx.GetStreamLength() == 0)
    {
        unsigned char LengthField[kLengthFieldSize];
        for (int nGot = 0; nGot < kLengthFieldSize;)
            nGot += Receive(LengthField + nGot, kLengthFieldSize - nGot);
        const int nLength = CopyFromBufferAsLittleEndian<int>(LengthField);
        if (!CMOOSCommPkt::IsValidStreamLength(nLength) || nLength > nByteLimit)
            throw CMOOSException(MOOSFormat(Texts.sBadLength, nLength));
        if (!PktRx.Fill(LengthField, kLengthFieldSize))
            throw CMOOSException(Texts.sCannotHold);
    }
    unsigned char Chunk[kChunkSize];
    for (int nRequired = PktRx.GetBytesRequired(); nRequired != 0;
         nRequired = PktRx.GetBytesRequired())
    {
        if (nRequired < 0)
            throw CMOOSException(Texts.sCannotHold);
        const int nGot = Receive(Chunk, std::min(nRequired, kChunkSize));
        if (!PktRx.Fill(Chunk, nGot))
            throw CMOOSException(Texts.sCannotHold);
    }
}

bool CMOOSCommObject::SendMsg(XPCTcpSocket* pSocket, CMOOSMsg& Msg)
{
    MOOSMSG_LIST List(1, Msg);
    CMOOSCommPkt Pkt;
    if (!Pkt.Serialize(List, true, false, nullptr))
        throw CMOOSException("CMOOSCommObject::SendMsg() cannot serialise the message");
    return SendPkt(pSocket, Pkt);
}

bool CMOOSCommObject::ReadMsg(XPCTcpSocket* pSocket, CMOOSMsg& Msg, int nSecondsTimeOut)
{
    CMOOSCommPkt Pkt;
    ReadPkt(pSocket, Pkt, nSecondsTimeOut);
    MOOSMSG_LIST List;
    // A damaged packet still yields the messages read before the damage.
    Pkt.Serialize(List, false, false, nullptr);
    if (List.empty())
        return false;
    // Reading reverses the order: the front is the packet's last message.
    Msg = List.front();
    return true;
}
