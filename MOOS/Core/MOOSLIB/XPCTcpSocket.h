// A TCP socket: connects to a server, or binds, listens and accepts; and the
// transfer calls the packet layer moves its bytes with.
//
// Ownership: the object owns its descriptor (see XPCSocket). Accept hands the
// caller a new heap object that the caller deletes.
// Threads: no lock; one thread at a time may use an object.
// Failures throw XPCException, except where a result says otherwise below.
#ifndef MOOSLIB_XPCTCPSOCKET_H
#define MOOSLIB_XPCTCPSOCKET_H

#include "MOOSLIB/XPCSocket.h"

#include <cstddef>

// Names a descriptor that a new XPCTcpSocket should take over, such as one
// returned by accept. A distinct type keeps "wrap this descriptor" apart from
// "use this port", and keeps the whole int descriptor.
struct XPCAcceptedFd
{
    int iSocketFd;
};

class XPCTcpSocket : public XPCSocket
{
public:
    // Room Accept assumes in a host buffer when the caller gives no size:
    // enough for any host name (at most 253 characters) and its zero byte.
    static constexpr std::size_t kHostBufferSize = 256;

    // A fresh, unconnected stream socket for iPort (host order).
    explicit XPCTcpSocket(long iPort);
    // Takes over the open, connected stream descriptor iSocketFd, as accepted
    // by a server. The descriptor must fit 16 bits; XPCAcceptedFd takes any.
    // With both this and the port constructor, a plain int argument is
    // ambiguous and does not compile: say long for a port, short for a
    // descriptor.
    explicit XPCTcpSocket(short iSocketFd);
    // Takes over an open, connected stream descriptor of any number.
    explicit XPCTcpSocket(XPCAcceptedFd accepted);
    ~XPCTcpSocket() override = default;

    // Connects to sHost at the object's port. sHost is a dotted address when it
    // holds only digits, dots and spaces (an empty text too); otherwise it is a
    // host name, looked up first ("Error Getting Host By Name" when unknown).
    // A refused or failed connection throws "Error Connecting To Socket. %s".
    virtual void vConnect(const char* sHost);

    // Binds to the object's port on every interface, or on the interface whose
    // dotted address is sInterface. Port 0 lets the system choose a port,
    // which iGetBoundPort reads back.
    void vBindSocket();
    void vBindSocket(const char* sInterface);
    void vListen(int iBacklog);
    // The local port the descriptor is bound to (host order).
    int iGetBoundPort();

    // Waits for one connection and returns it as a new socket owned by the
    // caller. When sHost is not null it receives the peer's host name, or its
    // dotted address when the name is unknown, cut to fit iHostSize bytes
    // including the zero byte.
    XPCTcpSocket* Accept(char* sHost = nullptr, std::size_t iHostSize = kHostBufferSize);

    // One send of iSize bytes; returns the count sent, which may be smaller.
    // A peer that has gone throws "Error sending socket message: %s"; it never
    // raises a broken-pipe signal.
    int iSendMessage(const void* pMessage, int iSize);

    // One receive of at most iSize bytes. Returns the count, or 0 when the peer
    // has closed or reset the connection. Other failures print and throw
    // "Error receiving on socket: %s".
    int iRecieveMessage(void* pMessage, int iSize, int iFlags = 0);

    // Waits for data for the whole seconds of dSeconds (at least 1), then
    // receives once as iRecieveMessage does. Returns 0 on time-out (as for a
    // closed peer) and -1 when the wait itself fails; it throws only from the
    // receive.
    int iReadMessageWithTimeOut(void* pMessage, int iSize, double dSeconds, int iFlags = 0);

    // Waits up to iMilliSeconds (negative: without limit) until a receive
    // would not block: data has come, or the peer has closed or failed.
    // Returns 1 then, 0 on time-out and -1 when the wait fails. Interrupted
    // waits resume for the time that is left, so a caller can read N bytes
    // within a deadline by alternating this wait and iRecieveMessage.
    int iWaitForReadable(int iMilliSeconds);

private:
    void vBindTo(const sockaddr_in& address);
    void vConnectTo(const sockaddr_in& address);
    // After a connect interrupted by a signal: waits for the connection to
    // finish and returns its errno (0 when connected).
    int iAwaitConnection();
};

#endif // MOOSLIB_XPCTCPSOCKET_H
