#include "MOOSLIB/XPCTcpSocket.h"

#include <arpa/inet.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

namespace
{
// A port that fits no TCP port is handed on as -1, so that the socket refuses
// it instead of wrapping it into some other port.
int iCheckedPort(long iPort)
{
    return iPort < 0 || iPort > 65535 ? -1 : static_cast<int>(iPort);
}

// A host text made only of digits, dots and spaces is a dotted address.
bool bIsNumericHost(const char* sHost)
{
    return std::strspn(sHost, "0123456789. ") == std::strlen(sHost);
}

// Writes the peer's host name, or failing that its dotted address, into the
// caller's buffer, cut to iSize bytes.
void vNamePeer(in_addr address, char* sHost, std::size_t iSize)
{
    char sDotted[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, sDotted, sizeof(sDotted));
    try
    {
        const XPCGetHostInfo host(sDotted, XPCGetHostInfo::ADDRESS);
        std::snprintf(sHost, iSize, "%s", host.sGetHostName());
    }
    catch (XPCException& e)
    {
        std::snprintf(sHost, iSize, "%s", sDotted);
        // Printed from our own copy: a zero-sized buffer holds no text at all.
        std::printf("INFO: %s using numeric address %s\n", e.sGetException(), sDotted);
    }
}
} // namespace

XPCTcpSocket::XPCTcpSocket(long iPort) : XPCSocket("tcp", iCheckedPort(iPort)) {}

XPCTcpSocket::XPCTcpSocket(short iSocketFd) : XPCSocket(static_cast<int>(iSocketFd)) {}

XPCTcpSocket::XPCTcpSocket(XPCAcceptedFd accepted) : XPCSocket(accepted.iSocketFd) {}

void XPCTcpSocket::vConnect(const char* sHost)
{
    const char* sText = sHost ? sHost : "";
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<uint16_t>(_iPort));
    if (bIsNumericHost(sText))
    {
        server.sin_addr.s_addr = inet_addr(sText);
    }
    else
    {
        const XPCGetHostInfo host(sText, XPCGetHostInfo::NAME);
        server.sin_addr.s_addr = inet_addr(host.sGetHostAddress());
    }
    // A malformed dotted text would otherwise mean the broadcast address.
    if (server.sin_addr.s_addr == INADDR_NONE)
        vThrowError("Error Connecting To Socket. %s", EINVAL);
    vConnectTo(server);
}

void XPCTcpSocket::vConnectTo(const sockaddr_in& address)
{
    if (::connect(_iSocket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0)
        return;
    int iErrno = errno;
    // An interrupted connect goes on in the background; calling connect again
    // would only report EALREADY, so wait for its outcome instead.
    if (iErrno == EINTR)
        iErrno = iAwaitConnection();
    if (iErrno != 0)
        vThrowError("Error Connecting To Socket. %s", iErrno);
}

int XPCTcpSocket::iAwaitConnection()
{
    pollfd entry{_iSocket, POLLOUT, 0};
    int iReady;
    do
        iReady = ::poll(&entry, 1, -1);
    while (iReady == -1 && errno == EINTR);
    if (iReady == -1)
        return errno;
    int iError = 0;
    socklen_t iSize = sizeof(iError);
    if (::getsockopt(_iSocket, SOL_SOCKET, SO_ERROR, &iError, &iSize) == -1)
        return errno;
    return iError;
}

void XPCTcpSocket::vBindSocket()
{
    vBindTo(_clientAddr);
}

void XPCTcpSocket::vBindSocket(const char* sInterface)
{
    sockaddr_in address = _clientAddr;
    address.sin_addr.s_addr = sInterface ? inet_addr(sInterface) : INADDR_NONE;
    if (address.sin_addr.s_addr == INADDR_NONE)
        vThrowError("Error binding to socket: %s", EINVAL);
    vBindTo(address);
}

void XPCTcpSocket::vBindTo(const sockaddr_in& address)
{
    if (::bind(_iSocket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == -1)
        vThrowError("Error binding to socket: %s", errno);
}

void XPCTcpSocket::vListen(int iBacklog)
{
    if (::listen(_iSocket, iBacklog) == -1)
        vThrowError("Error Listening To Socket. %s", errno);
}

int XPCTcpSocket::iGetBoundPort()
{
    sockaddr_in address{};
    socklen_t iSize = sizeof(address);
    if (::getsockname(_iSocket, reinterpret_cast<sockaddr*>(&address), &iSize) == -1)
        vThrowError("Error Reading Socket Name: %s", errno);
    return ntohs(address.sin_port);
}

XPCTcpSocket* XPCTcpSocket::Accept(char* sHost, std::size_t iHostSize)
{
    sockaddr_in peer{};
    int iAccepted;
    do
    {
        socklen_t iSize = sizeof(peer);
        iAccepted = ::accept4(_iSocket, reinterpret_cast<sockaddr*>(&peer), &iSize, SOCK_CLOEXEC);
    } while (iAccepted == -1 && errno == EINTR);
    if (iAccepted == -1)
        vThrowError("Error Accepting Socket. %s", errno);

    // Owned from here on, so that nothing below can leak the descriptor.
    std::unique_ptr<XPCTcpSocket> accepted(new XPCTcpSocket(XPCAcceptedFd{iAccepted}));
    if (sHost)
        vNamePeer(peer.sin_addr, sHost, iHostSize);
    return accepted.release();
}

int XPCTcpSocket::iSendMessage(const void* pMessage, int iSize)
{
    if (iSize < 0)
        vThrowError("Error sending socket message: %s", EINVAL);
    ssize_t iSent;
    do
        iSent = ::send(_iSocket, pMessage, static_cast<std::size_t>(iSize), MSG_NOSIGNAL);
    while (iSent == -1 && errno == EINTR);
    if (iSent == -1)
        vThrowError("Error sending socket message: %s", errno);
    return static_cast<int>(iSent);
}

int XPCTcpSocket::iRecieveMessage(void* pMessage, int iSize, int iFlags)
{
    ssize_t iReceived = -1;
    int iErrno = EINVAL;
    if (iSize >= 0)
    {
        do
            iReceived = ::recv(_iSocket, pMessage, static_cast<std::size_t>(iSize), iFlags);
        while (iReceived == -1 && errno == EINTR);
        iErrno = errno;
    }
    if (iReceived >= 0)
        return static_cast<int>(iReceived);
    if (iErrno == ECONNRESET)
        return 0; // a reset peer reads as one that has closed
    const XPCException error =
        XPCException::Format("Error receiving on socket: %s", XPCErrorText(iErrno));
    std::printf("%s\n", error.sGetException());
    throw error;
}

int XPCTcpSocket::iReadMessageWithTimeOut(void* pMessage, int iSize, double dSeconds, int iFlags)
{
    // Whole seconds, at least one; NaN waits one second, and the longest wait
    // is what fits an int of milliseconds (about 24 days).
    constexpr double dMaxSeconds = INT_MAX / 1000;
    const double dWait = !(dSeconds >= 1.0) ? 1.0 : dSeconds > dMaxSeconds ? dMaxSeconds : dSeconds;
    const int iReady = iWaitForReadable(static_cast<int>(dWait) * 1000);
    if (iReady <= 0)
        return iReady;
    return iRecieveMessage(pMessage, iSize, iFlags);
}

int XPCTcpSocket::iWaitForReadable(int iMilliSeconds)
{
    using Clock = std::chrono::steady_clock;
    if (_iSocket < 0)
    {
        errno = EBADF; // poll would skip a closed socket and just time out
        return -1;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(iMilliSeconds);
    pollfd entry{_iSocket, POLLIN, 0};
    for (int iLeft = iMilliSeconds;;)
    {
        const int iReady = ::poll(&entry, 1, iLeft);
        if (iReady >= 0 || errno != EINTR)
            return iReady < 0 || (entry.revents & POLLNVAL) ? -1 : iReady;
        if (iMilliSeconds >= 0)
        {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            iLeft = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
    }
}
