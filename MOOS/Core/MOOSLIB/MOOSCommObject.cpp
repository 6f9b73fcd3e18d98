#include "MOOSLIB/MOOSCommObject.h"

#include "MOOSLIB/MOOSException.h"
#include "MOOSLIB/MOOSGenLibGlobalHelper.h"
#include "MOOSLIB/XPCTcpSocket.h"

#include <algorithm>

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

int CMOOSCommObject::ReceiveSome(XPCTcpSocket* pSocket, unsigned char* pBuffer, int nBytes,
                                 int nSecondsTimeOut)
{
    int nGot = 0;
    try
    {
        nGot = nSecondsTimeOut < 0
                   ? pSocket->iRecieveMessage(pBuffer, nBytes, 0)
                   : pSocket->iReadMessageWithTimeOut(pBuffer, nBytes, nSecondsTimeOut, 0);
    }
    catch (XPCException& e)
    {
        MOOSTrace("Exception %s\n", e.sGetException());
        throw CMOOSException(kRxFailed);
    }
    if (nGot == -1)
        throw CMOOSException("Gross error....");
    if (nGot == 0)
        throw NothingReceived(nSecondsTimeOut);
    if (nGot < 0 || nGot > nBytes)
        throw CMOOSException(kRxFailed);
    return nGot;
}

// A peer may deliver the length field in pieces; it is gathered whole and
// checked before the packet sizes anything by it.
void CMOOSCommObject::ReadLengthField(XPCTcpSocket* pSocket, CMOOSCommPkt& PktRx,
                                      int nSecondsTimeOut)
{
    unsigned char LengthField[kLengthFieldSize];
    int nGot = 0;
    while (nGot < kLengthFieldSize)
        nGot += ReceiveSome(pSocket, LengthField + nGot, kLengthFieldSize - nGot, nSecondsTimeOut);
    const int nLength = CopyFromBufferAsLittleEndian<int>(LengthField);
    if (!CMOOSCommPkt::IsValidStreamLength(nLength))
        throw CMOOSException(
            MOOSFormat("CMOOSCommObject::ReadPkt() bad packet length %d", nLength));
    if (!PktRx.Fill(LengthField, kLengthFieldSize))
        throw CMOOSException(kRxFailed);
}

bool CMOOSCommObject::ReadPkt(XPCTcpSocket* pSocket, CMOOSCommPkt& PktRx, int nSecondsTimeOut)
{
    RequireSocket(pSocket, "ReadPkt");
    if (PktRx.GetStreamLength() == 0)
        ReadLengthField(pSocket, PktRx, nSecondsTimeOut);
    unsigned char Chunk[kChunkSize];
    for (int nRequired = PktRx.GetBytesRequired(); nRequired != 0;
         nRequired = PktRx.GetBytesRequired())
    {
        if (nRequired < 0)
            throw CMOOSException(kRxFailed);
        const int nGot =
            ReceiveSome(pSocket, Chunk, std::min(nRequired, kChunkSize), nSecondsTimeOut);
        if (!PktRx.Fill(Chunk, nGot))
            throw CMOOSException(kRxFailed);
    }
    return true;
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
