// CMOOSCommObject: moves whole packets and single messages over a connected
// XPCTcpSocket.
//
// The base of CMOOSCommClient. It holds no state, so its operations may be
// called from any thread on a socket that thread alone uses (in this system:
// the comms client's thread). The socket stays owned by the caller.
//
// Every failure surfaces as CMOOSException (socket errors are caught as
// XPCException and translated); nothing returns an error code. The texts:
//   "CMOOSCommObject::SendPkt() Failed Tx"     send failed or was short
//   "CMOOSCommObject::ReadPkt() Failed Rx"     the socket reported an error
//   "Gross error...."                          waiting for data failed
//   "remote side closed...."                   peer closed (no time-out asked)
//   "remote side closed or lazy client ( waited more than %ds )"
//                                              peer closed or time-out ran out
//   "CMOOSCommObject::ReadPkt() bad packet length %d"
//                                              length field out of range
//   "no reply from the server within %.1f s"   whole-packet bound ran out
#ifndef MOOSLIB_MOOSCOMMOBJECT_H
#define MOOSLIB_MOOSCOMMOBJECT_H

#include "MOOSLIB/MOOSCommPkt.h"
#include "MOOSLIB/MOOSMsg.h"

#include <functional>

class XPCTcpSocket;

class CMOOSCommObject
{
public:
    CMOOSCommObject() = default;
    virtual ~CMOOSCommObject();

    // Sends the whole packet in one send. True, or throws CMOOSException; a
    // short send is a failure and nothing is resent. A packet without even a
    // header (never serialized, or its serialization failed) is refused
    // rather than sent as nothing.
    bool SendPkt(XPCTcpSocket* pSocket, CMOOSCommPkt& PktTx);

    // Receives one whole packet into the empty packet PktRx. nSecondsTimeOut
    // negative waits without limit; otherwise every single receive waits at
    // most that many whole seconds (at least 1) for its next bytes, so a peer
    // that goes silent mid-packet is detected as well as one that never
    // answers. The 4 length bytes are gathered across short reads, the length
    // is checked before the body is received, and the body is received in
    // chunks of at most 8192 bytes. True, or throws CMOOSException.
    bool ReadPkt(XPCTcpSocket* pSocket, CMOOSCommPkt& PktRx, int nSecondsTimeOut = -1);

    // How long one packet receive may wait, and what may cut it short.
    struct ReadBounds
    {
        // Each single receive waits at most this many whole seconds (at
        // least 1) for its next bytes; negative: no limit.
        int nSecondsTimeOut = -1;
        // The whole packet must arrive within this many seconds (steady
        // clock, never warped) of the start of the read; 0 or less: no bound.
        double dfWholePktSeconds = 0.0;
        // When set, called before every wait of at most 50 ms; it abandons
        // the receive by throwing CMOOSException, whose text then stands.
        std::function<void()> CheckAbort;
    };

    // ReadPkt with every bound it knows; the form above sets only the
    // per-receive time-out.
    bool ReadPkt(XPCTcpSocket* pSocket, CMOOSCommPkt& PktRx, const ReadBounds& Bounds);

    // What a packet read says when the packet itself is at fault.
    struct PktFramingTexts
    {
        // Formatted with the declared length.
        const char* sBadLength;
        // The packet could not take the bytes it was sent.
        const char* sCannotHold;
    };

    // Receives up to nBytes into pBuffer and returns how many (at least 1);
    // throws when it cannot.
    using ByteSource = std::function<int(unsigned char* pBuffer, int nBytes)>;

    // The framing every packet read shares, whatever waits for its bytes:
    // gathers the 4 length bytes whole, refuses a length the packet format
    // does not allow or beyond nByteLimit before anything is sized by it,
    // then fills the body in chunks of at most 8192 bytes. Fills the empty
    // packet PktRx, or throws CMOOSException with one of Texts (or whatever
    // Receive throws).
    static void ReadPktFrom(const ByteSource& Receive, CMOOSCommPkt& PktRx, int nByteLimit,
                            const PktFramingTexts& Texts);

    // Sends Msg as a one-message packet: SendPkt's result, or throws
    // CMOOSException, also when Msg cannot be serialized.
    bool SendMsg(XPCTcpSocket* pSocket, CMOOSMsg& Msg);

    // Receives one packet and copies out its last message (null messages
    // included). True when the packet held a message; Msg is untouched when
    // it held none. Throws CMOOSException as ReadPkt does.
    bool ReadMsg(XPCTcpSocket* pSocket, CMOOSMsg& Msg, int nSecondsTimeOut = -1);

    // No work is needed on this platform: returns true.
    bool SocketsInit();
};

#endif
