// The socket layer beneath the comms client: a thin object layer over BSD
// sockets for IPv4.
//
//  - XPCException: the one exception of the layer; every failing system call
//    and every failed look-up throws it by value, callers catch it by reference.
//  - XPCGetProtocol / XPCGetHostInfo: one look-up each in the protocol and host
//    databases. They use the re-entrant C library calls and keep their own copy
//    of the result, so a result stays valid for the object's life and look-ups
//    on different threads do not disturb each other.
//  - XPCSocket: owns one socket descriptor (closed exactly once, by
//    vCloseSocket or the destructor) and reads and sets its options.
//
// Threads: a socket object has no lock; one thread at a time may use it.
#ifndef MOOSLIB_XPCSOCKET_H
#define MOOSLIB_XPCSOCKET_H

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <string>

// Text of the system's reason for errno value iErrno ("Connection refused").
// Thread-safe; the one place where an errno becomes text.
std::string XPCErrorText(int iErrno);

class XPCException
{
public:
    // Longest text kept; a longer text is cut to its first 254 characters.
    static constexpr int kMaxTextLength = 254;

    explicit XPCException(const char* sText);
    explicit XPCException(const std::string& sText) : XPCException(sText.c_str()) {}

    // Builds the exception from a text whose first %s is replaced by sArg;
    // no other part of the text is interpreted.
    static XPCException Format(const char* sFormat, const std::string& sArg);

    const char* sGetException() const { return _sExceptionText; }

private:
    char _sExceptionText[kMaxTextLength + 1];
};

// One protocol database entry, looked up by name or by number. Throws
// "Could Not Get Protocol By Name" / "Could Not Get Protocol By Number" when
// the database has no such entry. "tcp" (6) and "udp" (17) are known even on a
// host whose protocol database is missing or lacks them.
class XPCGetProtocol
{
public:
    explicit XPCGetProtocol(const char* sName);
    explicit XPCGetProtocol(int iNumber);

    const char* sGetProtocolName() const { return _sName.c_str(); }
    int iGetProtocolNumber() const { return _iNumber; }

private:
    std::string _sName;
    int _iNumber = 0;
};

// One host database entry. hostType selects the look-up of the text
// constructor: by name (gethostbyname) or by dotted address (gethostbyaddr).
class XPCGetHostInfo
{
public:
    enum hostType
    {
        NAME = 0,
        ADDRESS = 1
    };

    // Throws "Error Getting Host By Name", "Error Getting Host By Address" or,
    // for a kind that is neither, "Parameter Error Constructing XPCGetHostInfo".
    XPCGetHostInfo(const char* sHost, hostType type);
    // Looks up an IPv4 address given in network byte order; INADDR_NONE and an
    // address without an entry throw "Error Getting Host By Address".
    explicit XPCGetHostInfo(unsigned long* pAddress);

    // The entry's official name.
    const char* sGetHostName() const { return _sName.c_str(); }
    // The entry's first address as dotted text; owned by this object.
    const char* sGetHostAddress() const { return _sAddress; }
    // Always 0: an object holds the result of a single look-up.
    char cGetNextHost() const { return 0; }

private:
    void vLookUpAddress(in_addr address);
    void vTakeEntry(const struct hostent& entry);

    std::string _sName;
    char _sAddress[INET_ADDRSTRLEN] = {};
};

// Owns one IPv4 socket descriptor. Every failure throws XPCException whose text
// is the operation's fixed format filled with the system's reason.
class XPCSocket
{
public:
    // Opens a socket for protocol "tcp" (stream) or "udp" (datagram) that will
    // use iPort (host order). Any failure throws "Protocol Error Definition: %s"
    // holding the text of the underlying failure.
    XPCSocket(const char* sProtocol, int iPort);
    // Takes ownership of the open descriptor iSocketFd. The port is 0, the
    // blocking flag 0 and the address INADDR_ANY port 0.
    explicit XPCSocket(int iSocketFd);
    virtual ~XPCSocket();

    XPCSocket(const XPCSocket&) = delete;
    XPCSocket& operator=(const XPCSocket&) = delete;

    // Closes the descriptor. Safe to call again: only the first call closes,
    // so a later call never closes a descriptor the process has reused.
    void vCloseSocket();
    // The owned descriptor, or -1 once closed.
    int iGetSocketFd() const { return _iSocket; }

    // The blocking flag is the non-blocking mode handed to FIONBIO: 0 (the
    // state at construction) means calls block, 1 means they return at once
    // with EAGAIN instead of waiting. vSetSocketBlocking(nonzero) therefore
    // makes the socket non-blocking and vSetSocketBlocking(0) makes it block
    // again; each asks the system only when the mode actually changes.
    int iGetSocketBlocking() const { return _iBlocking; }
    void vSetSocketBlocking(int iToggle);

    // The system's text for, and the value of, the calling thread's errno.
    static const char* sGetError();
    static int iGetLastError();

    void vSetDebug(int iToggle);
    void vSetBroadcast(int iToggle);
    void vSetReuseAddr(int iToggle);
    void vSetKeepAlive(int iToggle);
    void vSetLinger(linger lingerOption);
    void vSetSendBuf(int iSize);
    void vSetRecieveBuf(int iSize);
    // Receive time-out in milliseconds; 0 waits without limit, a negative
    // value is refused. A receive that times out throws (EAGAIN).
    void vSetRecieveTimeOut(int iMilliSeconds);

    int iGetDebug();
    int iGetBroadcast();
    int iGetReuseAddr();
    int iGetKeepAlive();
    void vGetLinger(linger& lingerOption);
    int iGetSendBuf();
    int iGetRecieveBuf();

protected:
    // Throws sFormat filled with the text of iErrno.
    [[noreturn]] static void vThrowError(const char* sFormat, int iErrno);

    int _iPort;
    int _iSocket;
    int _iBlocking;
    sockaddr_in _clientAddr;

private:
    void vOpen(const char* sProtocol);
    void vSetOption(int iOption, const void* pValue, socklen_t iSize, const char* sFormat);
    void vGetOption(int iOption, void* pValue, socklen_t iSize, const char* sFormat);
    int iGetIntOption(int iOption, const char* sFormat);
};

#endif // MOOSLIB_XPCSOCKET_H
