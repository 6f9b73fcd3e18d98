// Loopback helpers shared by the socket tests: a raw listener on 127.0.0.1 with
// a system-chosen port, and bounded waits for a descriptor to become ready.
#ifndef TESTS_SOCKETS_SOCKETTESTSUPPORT_H
#define TESTS_SOCKETS_SOCKETTESTSUPPORT_H

#include "MOOSLIB/XPCTcpSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

namespace sockettest
{
// Generous bound for anything that must happen.
constexpr int kReadyMs = 5000;

inline bool WaitReady(int fd, short events, int ms = kReadyMs)
{
    pollfd entry{fd, events, 0};
    return ::poll(&entry, 1, ms) == 1;
}

// A plain listening socket on 127.0.0.1, port 0; owns its descriptor.
class LoopbackListener
{
public:
    LoopbackListener()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = Loopback(0);
        if (fd_ < 0 || ::bind(fd_, Raw(address), sizeof(address)) != 0 || ::listen(fd_, 4) != 0)
            throw std::runtime_error("cannot listen on loopback");
        socklen_t size = sizeof(address);
        ::getsockname(fd_, Raw(address), &size);
        port_ = ntohs(address.sin_port);
    }
    ~LoopbackListener() { ::close(fd_); }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    int Port() const { return port_; }

    // The next connection, taken over by a socket object; null after the bound.
    std::unique_ptr<XPCTcpSocket> AcceptPeer()
    {
        if (!WaitReady(fd_, POLLIN))
            return nullptr;
        return std::make_unique<XPCTcpSocket>(XPCAcceptedFd{::accept(fd_, nullptr, nullptr)});
    }

    static sockaddr_in Loopback(int port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }
    static sockaddr* Raw(sockaddr_in& address) { return reinterpret_cast<sockaddr*>(&address); }

private:
    int fd_ = -1;
    int port_ = 0;
};

// A loopback port on which nothing listens: bound once, then released.
inline int UnusedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = LoopbackListener::Loopback(0);
    socklen_t size = sizeof(address);
    ::bind(fd, LoopbackListener::Raw(address), sizeof(address));
    ::getsockname(fd, LoopbackListener::Raw(address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

inline double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline std::string Reason(int error)
{
    return XPCErrorText(error);
}

// The text of the XPCException that call raises, or "<nothing thrown>".
template <typename Call> std::string ThrownText(Call call)
{
    try
    {
        call();
    }
    catch (XPCException& e)
    {
        return e.sGetException();
    }
    return "<nothing thrown>";
}

} // namespace sockettest

#endif // TESTS_SOCKETS_SOCKETTESTSUPPORT_H
