// A packet from bytes to a message list, the way each side of a connection
// reads what its peer sent:
//   - gathered with Fill in the chunks the receive loop uses, then read;
//   - received whole by CMOOSCommObject::ReadPkt, plain and bounded as the
//     client reads its replies, and by ReadMsg, from the far end of a
//     socket pair;
//   - received by LocalServer's link, which bounds the packet's size.
//
// Properties beyond "no crash": a packet is complete only at its declared
// length; a list read from it holds at most the declared count; and a list
// that reads writes back to a packet that reads to as many messages.
#include "FuzzSupport.h"

#include "MOOSLIB/MOOSCommObject.h"
#include "MOOSLIB/MOOSCommPkt.h"
#include "MOOSLIB/MOOSException.h"
#include "MOOSLIB/XPCTcpSocket.h"
#include "ServerLink.h"

#include <sys/socket.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace
{

// Inputs larger than this are skipped: they must fit in a socket pair's
// buffer so that one thread can write them and then read them.
constexpr size_t kMaxInput = 64 * 1024;
constexpr int kChunk = 8192;

int Int32At(const uint8_t* pData)
{
    return CopyFromBufferAsLittleEndian<int>(pData);
}

void CheckListRoundTrip(const MOOSMSG_LIST& List)
{
    MOOSMSG_LIST Copy = List;
    CMOOSCommPkt Out;
    MOOS_FUZZ_CHECK(Out.Serialize(Copy, true));
    CMOOSCommPkt In;
    MOOS_FUZZ_CHECK(In.Fill(const_cast<unsigned char*>(Out.Stream()), 4));
    MOOS_FUZZ_CHECK(
        In.Fill(const_cast<unsigned char*>(Out.Stream()) + 4, Out.GetStreamLength() - 4));
    MOOSMSG_LIST Back;
    MOOS_FUZZ_CHECK(In.Serialize(Back, false));
    MOOS_FUZZ_CHECK(Back.size() == List.size());
}

// Reads a complete or partial packet; checks the count and, for a packet
// that reads without damage, the round trip.
void ReadAndCheck(CMOOSCommPkt& Pkt, const uint8_t* pData, size_t nSize, bool bNoNull)
{
    MOOSMSG_LIST List;
    double dfPacketTime = -1;
    const bool bRead = Pkt.Serialize(List, false, bNoNull, &dfPacketTime);
    if (nSize >= 8)
        MOOS_FUZZ_CHECK(static_cast<long long>(List.size()) <= std::max(0, Int32At(pData + 4)));
    if (bRead)
        CheckListRoundTrip(List);
}

// The receive loop's way: the 4 length bytes alone first, then chunks of at
// most what the packet still lacks.
void GatherWithFill(const uint8_t* pData, size_t nSize, bool bNoNull)
{
    CMOOSCommPkt Pkt;
    std::vector<unsigned char> Bytes(pData, pData + nSize);
    if (nSize < 4 || !Pkt.Fill(Bytes.data(), 4))
        return;
    size_t nUsed = 4;
    while (Pkt.GetBytesRequired() > 0 && nUsed < nSize)
    {
        const int nTake =
            std::min<size_t>({size_t(Pkt.GetBytesRequired()), size_t(kChunk), nSize - nUsed});
        MOOS_FUZZ_CHECK(Pkt.Fill(Bytes.data() + nUsed, nTake));
        nUsed += nTake;
    }
    if (Pkt.GetBytesRequired() == 0)
        MOOS_FUZZ_CHECK(nUsed == static_cast<size_t>(Int32At(pData)));
    ReadAndCheck(Pkt, pData, nSize, bNoNull);
}

// A socket pair whose far end has sent the input and closed for writing.
struct SentBytes
{
    SentBytes(const uint8_t* pData, size_t nSize)
    {
        int Fds[2];
        MOOS_FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM, 0, Fds) == 0);
        pReader = std::make_unique<XPCTcpSocket>(XPCAcceptedFd{Fds[0]});
        size_t nSent = 0;
        while (nSent < nSize)
        {
            const ssize_t n = ::send(Fds[1], pData + nSent, nSize - nSent, MSG_NOSIGNAL);
            MOOS_FUZZ_CHECK(n > 0);
            nSent += static_cast<size_t>(n);
        }
        ::close(Fds[1]);
    }
    std::unique_ptr<XPCTcpSocket> pReader;
};

// The stream length of a packet received whole by ReadPkt, or -1 when the
// receive was refused; bounded as the comms client bounds its replies when
// bBounded is set.
int ReceivedLength(const uint8_t* pData, size_t nSize, bool bBounded, CMOOSCommPkt& Pkt)
{
    SentBytes Wire(pData, nSize);
    CMOOSCommObject Comms;
    CMOOSCommObject::ReadBounds Bounds;
    Bounds.dfWholePktSeconds = 10.0;
    Bounds.CheckAbort = [] {};
    try
    {
        MOOS_FUZZ_CHECK(bBounded ? Comms.ReadPkt(Wire.pReader.get(), Pkt, Bounds)
                                 : Comms.ReadPkt(Wire.pReader.get(), Pkt, -1));
    }
    catch (const CMOOSException&)
    {
        return -1;
    }
    MOOS_FUZZ_CHECK(Pkt.GetBytesRequired() == 0 && Pkt.GetStreamLength() == Int32At(pData));
    return Pkt.GetStreamLength();
}

void ReceiveWithCommObject(const uint8_t* pData, size_t nSize)
{
    CMOOSCommPkt Pkt, BoundedPkt;
    const int nLength = ReceivedLength(pData, nSize, false, Pkt);
    MOOS_FUZZ_CHECK(ReceivedLength(pData, nSize, true, BoundedPkt) == nLength);
    if (nLength < 0)
        return;
    ReadAndCheck(Pkt, pData, nSize, true);

    SentBytes Again(pData, nSize);
    CMOOSMsg Msg;
    try
    {
        CMOOSCommObject().ReadMsg(Again.pReader.get(), Msg, 1);
    }
    catch (const CMOOSException&)
    {
        MOOS_FUZZ_CHECK(!"ReadMsg refused a packet that ReadPkt took");
    }
}

void ReceiveWithServerLink(const uint8_t* pData, size_t nSize)
{
    SentBytes Wire(pData, nSize);
    CServerLink Link(std::move(Wire.pReader), 100);
    CMOOSCommPkt Pkt;
    if (Link.ReadPacket(Pkt, kMaxInput, 100))
        ReadAndCheck(Pkt, pData, nSize, false);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    moosfuzz::QuietProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize > kMaxInput)
        return 0;
    GatherWithFill(pData, nSize, nSize > 0 && (pData[nSize - 1] & 1));
    ReceiveWithCommObject(pData, nSize);
    ReceiveWithServerLink(pData, nSize);
    return 0;
}
