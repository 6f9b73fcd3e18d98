// TCP connections over loopback: connecting by name and by address, the
// transfer calls and their failure texts, waiting with a time-out, and the
// server side (bind, listen, accept).
#include "SocketTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/select.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <type_traits>

using namespace sockettest;

namespace
{
// A client socket connected to a peer socket accepted by a raw listener.
class XPCTcpSocketTest : public ::testing::Test
{
protected:
    void Connect(const char* host = "127.0.0.1")
    {
        client_ = std::make_unique<XPCTcpSocket>(static_cast<long>(listener_.Port()));
        client_->vConnect(host);
        peer_ = listener_.AcceptPeer();
        ASSERT_TRUE(peer_) << "no connection reached the listener";
    }

    void PeerSends(const std::string& text)
    {
        ASSERT_EQ(peer_->iSendMessage(text.data(), static_cast<int>(text.size())),
                  static_cast<int>(text.size()));
    }

    std::string ClientReceives(int size = 64)
    {
        std::string buffer(static_cast<std::size_t>(size), '\0');
        const int count = client_->iRecieveMessage(&buffer[0], size);
        return buffer.substr(0, static_cast<std::size_t>(count > 0 ? count : 0));
    }

    // Closes the peer; with reset, the close sends a reset instead of a FIN.
    void PeerCloses(bool reset = false)
    {
        if (reset)
            peer_->vSetLinger(linger{1, 0});
        peer_.reset();
    }

    int TimedRead(double seconds, double& elapsed)
    {
        char buffer[16];
        const auto start = std::chrono::steady_clock::now();
        const int count = client_->iReadMessageWithTimeOut(buffer, sizeof(buffer), seconds);
        elapsed = SecondsSince(start);
        return count;
    }

    LoopbackListener listener_;
    std::unique_ptr<XPCTcpSocket> client_;
    std::unique_ptr<XPCTcpSocket> peer_;
};

// A server socket listening on loopback at a system-chosen port.
class XPCTcpServerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        server_.vBindSocket("127.0.0.1");
        server_.vListen(4);
    }

    std::unique_ptr<XPCTcpSocket> Dial()
    {
        auto client = std::make_unique<XPCTcpSocket>(static_cast<long>(server_.iGetBoundPort()));
        client->vConnect("127.0.0.1");
        return client;
    }

    std::unique_ptr<XPCTcpSocket> AcceptOne(char* host = nullptr, std::size_t size = 256)
    {
        if (!WaitReady(server_.iGetSocketFd(), POLLIN))
            return nullptr;
        return std::unique_ptr<XPCTcpSocket>(server_.Accept(host, size));
    }

    XPCTcpSocket server_{0L};
};

void IgnoreSignal(int) {}

volatile sig_atomic_t brokenPipes = 0;
void CountBrokenPipe(int)
{
    brokenPipes = brokenPipes + 1;
}

// Counts SIGPIPE while it lives, whatever disposition the process inherited.
class BrokenPipeCounter
{
public:
    BrokenPipeCounter()
    {
        brokenPipes = 0;
        struct sigaction action
        {
        };
        action.sa_handler = CountBrokenPipe;
        ::sigaction(SIGPIPE, &action, &previous_);
    }
    ~BrokenPipeCounter() { ::sigaction(SIGPIPE, &previous_, nullptr); }
    int Count() const { return brokenPipes; }

private:
    struct sigaction previous_
    {
    };
};

// Sends SIGUSR1, whose handler does not restart calls, to one thread.
class Interrupter
{
public:
    Interrupter()
    {
        struct sigaction action
        {
        };
        action.sa_handler = IgnoreSignal;
        ::sigaction(SIGUSR1, &action, &previous_);
    }
    ~Interrupter() { ::sigaction(SIGUSR1, &previous_, nullptr); }

    void Interrupt(pthread_t thread) { ::pthread_kill(thread, SIGUSR1); }

private:
    struct sigaction previous_
    {
    };
};
} // namespace

TEST_F(XPCTcpSocketTest, ConnectsByDottedAddress)
{
    Connect("127.0.0.1");
    PeerSends("hello");
    EXPECT_EQ(ClientReceives(), "hello");
}

TEST_F(XPCTcpSocketTest, ConnectsByHostName)
{
    Connect("LOCALHOST");
    const std::string text = "by name";
    EXPECT_EQ(client_->iSendMessage(text.data(), static_cast<int>(text.size())), 7);
    char buffer[16] = {};
    EXPECT_EQ(peer_->iRecieveMessage(buffer, sizeof(buffer)), 7);
    EXPECT_STREQ(buffer, "by name");
}

TEST_F(XPCTcpSocketTest, RefusedConnectionThrowsTheSystemReason)
{
    XPCTcpSocket socket(static_cast<long>(UnusedPort()));
    EXPECT_EQ(ThrownText([&] { socket.vConnect("127.0.0.1"); }),
              "Error Connecting To Socket. " + Reason(ECONNREFUSED));
}

TEST_F(XPCTcpSocketTest, MalformedAddressOrUnknownNameIsRefused)
{
    XPCTcpSocket socket(static_cast<long>(listener_.Port()));
    EXPECT_EQ(ThrownText([&] { socket.vConnect("999.1.2.3"); }),
              "Error Connecting To Socket. " + Reason(EINVAL));
    EXPECT_EQ(ThrownText([&] { socket.vConnect(""); }),
              "Error Connecting To Socket. " + Reason(EINVAL));
    EXPECT_EQ(ThrownText([&] { socket.vConnect("no-such-host.invalid"); }),
              "Error Getting Host By Name");
}

TEST_F(XPCTcpSocketTest, ReceiveFromClosedOrResetPeerReadsZero)
{
    Connect();
    PeerSends("last");
    PeerCloses();
    EXPECT_EQ(ClientReceives(), "last");
    EXPECT_EQ(ClientReceives(), "");

    Connect();
    PeerCloses(true);
    EXPECT_EQ(ClientReceives(), "");
}

TEST_F(XPCTcpSocketTest, SendToGonePeerThrowsInsteadOfRaisingBrokenPipe)
{
    BrokenPipeCounter signals;
    Connect();
    PeerCloses(true);
    ASSERT_TRUE(WaitReady(client_->iGetSocketFd(), POLLIN)); // the reset has come
    // The first send reports the reset; the ones after it the broken pipe.
    std::string text;
    for (int i = 0; i < 3; ++i)
        text = ThrownText([&] { client_->iSendMessage("x", 1); });
    EXPECT_EQ(text, "Error sending socket message: " + Reason(EPIPE));
    EXPECT_EQ(signals.Count(), 0);
}

TEST_F(XPCTcpSocketTest, NegativeSizesAreRefused)
{
    Connect();
    char buffer[4];
    EXPECT_EQ(ThrownText([&] { client_->iSendMessage(buffer, -1); }),
              "Error sending socket message: " + Reason(EINVAL));
    testing::internal::CaptureStdout();
    EXPECT_EQ(ThrownText([&] { client_->iRecieveMessage(buffer, -1); }),
              "Error receiving on socket: " + Reason(EINVAL));
    testing::internal::GetCapturedStdout();
}

TEST_F(XPCTcpSocketTest, FailedReceivePrintsAndThrowsTheReason)
{
    Connect();
    client_->vSetSocketBlocking(1);
    const std::string expected = "Error receiving on socket: " + Reason(EAGAIN);
    testing::internal::CaptureStdout();
    EXPECT_EQ(ThrownText([&] { ClientReceives(); }), expected);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), expected + "\n");
}

TEST_F(XPCTcpSocketTest, ReadWithTimeOutWaitsAtLeastOneSecond)
{
    Connect();
    double elapsed = 0;
    EXPECT_EQ(TimedRead(0.2, elapsed), 0);
    EXPECT_GE(elapsed, 0.95);
    EXPECT_LT(elapsed, 1.9);
}

TEST_F(XPCTcpSocketTest, ReadWithTimeOutDropsTheFraction)
{
    Connect();
    double elapsed = 0;
    EXPECT_EQ(TimedRead(2.7, elapsed), 0);
    EXPECT_GE(elapsed, 1.95);
    EXPECT_LT(elapsed, 2.6);
}

TEST_F(XPCTcpSocketTest, ReadWithTimeOutReturnsWaitingDataAtOnce)
{
    Connect();
    PeerSends("ready");
    double elapsed = 0;
    EXPECT_EQ(TimedRead(30.0, elapsed), 5);
    EXPECT_LT(elapsed, 5.0);
}

TEST_F(XPCTcpSocketTest, ReadWithTimeOutWorksOnHighDescriptorNumbers)
{
    Connect();
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    const int high = FD_SETSIZE + 100; // beyond what a select set can hold
    if (limit.rlim_cur <= static_cast<rlim_t>(high))
        GTEST_SKIP() << "the descriptor limit is below " << high;
    ASSERT_EQ(::dup2(client_->iGetSocketFd(), high), high);
    XPCTcpSocket copy(XPCAcceptedFd{high});
    PeerSends("far");
    char buffer[8] = {};
    EXPECT_EQ(copy.iReadMessageWithTimeOut(buffer, sizeof(buffer), 5.0), 3);
    EXPECT_STREQ(buffer, "far");
}

TEST_F(XPCTcpSocketTest, WaitOnClosedSocketFailsAtOnce)
{
    Connect();
    client_->vCloseSocket();
    double elapsed = 0;
    EXPECT_EQ(TimedRead(30.0, elapsed), -1);
    EXPECT_EQ(client_->iWaitForReadable(-1), -1);
}

TEST_F(XPCTcpSocketTest, WaitForReadableSeesDataAndClosedPeer)
{
    Connect();
    EXPECT_EQ(client_->iWaitForReadable(20), 0);
    PeerSends("x");
    EXPECT_EQ(client_->iWaitForReadable(kReadyMs), 1);
    EXPECT_EQ(ClientReceives(), "x");
    PeerCloses();
    EXPECT_EQ(client_->iWaitForReadable(kReadyMs), 1);
}

TEST_F(XPCTcpSocketTest, InterruptedReceiveGoesOnWaiting)
{
    Connect();
    Interrupter interrupter;
    std::atomic<bool> started{false};
    std::string received;
    std::thread reader(
        [&]
        {
            started = true;
            received = ClientReceives();
        });
    while (!started)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // let it block in recv
    interrupter.Interrupt(reader.native_handle());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    PeerSends("after signal");
    reader.join();
    EXPECT_EQ(received, "after signal");
}

TEST_F(XPCTcpSocketTest, InterruptedWaitKeepsItsDeadline)
{
    Connect();
    Interrupter interrupter;
    std::atomic<int> result{-2};
    const auto start = std::chrono::steady_clock::now();
    std::thread waiter([&] { result = client_->iWaitForReadable(600); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    interrupter.Interrupt(waiter.native_handle());
    waiter.join();
    EXPECT_EQ(result, 0);
    EXPECT_GE(SecondsSince(start), 0.55);
}

TEST_F(XPCTcpServerTest, AcceptWithoutHostBufferGivesAConnectedSocket)
{
    auto client = Dial();
    auto accepted = AcceptOne();
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->iSendMessage("ping", 4), 4);
    char buffer[8] = {};
    EXPECT_EQ(client->iReadMessageWithTimeOut(buffer, sizeof(buffer), 5.0), 4);
    EXPECT_STREQ(buffer, "ping");
}

// A child process (a simulator, a bridge started by a test) must not keep a
// listening port or a connection alive after this process closes it.
TEST_F(XPCTcpServerTest, SocketsAreNotInheritedByStartedPrograms)
{
    auto client = Dial();
    auto accepted = AcceptOne();
    ASSERT_TRUE(accepted);
    EXPECT_NE(::fcntl(client->iGetSocketFd(), F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_NE(::fcntl(accepted->iGetSocketFd(), F_GETFD) & FD_CLOEXEC, 0);
}

TEST_F(XPCTcpServerTest, AcceptNamesThePeer)
{
    auto client = Dial();
    char host[256] = {};
    testing::internal::CaptureStdout();
    auto accepted = AcceptOne(host);
    const std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(accepted);

    std::string expected = "127.0.0.1";
    try
    {
        expected = XPCGetHostInfo("127.0.0.1", XPCGetHostInfo::ADDRESS).sGetHostName();
    }
    catch (XPCException&)
    {
        EXPECT_EQ(printed, "INFO: Error Getting Host By Address using numeric address 127.0.0.1\n");
    }
    EXPECT_EQ(std::string(host), expected);
}

TEST_F(XPCTcpServerTest, AcceptCutsThePeerNameToTheBuffer)
{
    auto client = Dial();
    char host[8];
    std::memset(host, '#', sizeof(host));
    testing::internal::CaptureStdout();
    auto accepted = AcceptOne(host, 4);
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(accepted);
    EXPECT_EQ(std::strlen(host), 3u);
    EXPECT_EQ(host[4], '#');
}

TEST_F(XPCTcpServerTest, ShortDescriptorIsWrappedNotTakenForAPort)
{
    static_assert(!std::is_constructible<XPCTcpSocket, int>::value,
                  "a plain int must not silently pick the port or the descriptor meaning");
    auto client = Dial();
    ASSERT_TRUE(WaitReady(server_.iGetSocketFd(), POLLIN));
    const int fd = ::accept(server_.iGetSocketFd(), nullptr, nullptr);
    ASSERT_GE(fd, 0);
    ASSERT_LT(fd, 32768);
    {
        XPCTcpSocket wrapped(static_cast<short>(fd));
        EXPECT_EQ(wrapped.iGetSocketFd(), fd);
        EXPECT_EQ(wrapped.iSendMessage("hi", 2), 2);
        char buffer[4] = {};
        EXPECT_EQ(client->iRecieveMessage(buffer, sizeof(buffer)), 2);
        EXPECT_STREQ(buffer, "hi");
    }
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1) << "the wrapped descriptor stays open";
}

TEST_F(XPCTcpServerTest, BindingAnInterfaceOrPortTakenIsRefused)
{
    XPCTcpSocket second(static_cast<long>(server_.iGetBoundPort()));
    EXPECT_EQ(ThrownText([&] { second.vBindSocket("127.0.0.1"); }),
              "Error binding to socket: " + Reason(EADDRINUSE));
    XPCTcpSocket third(0L);
    EXPECT_EQ(ThrownText([&] { third.vBindSocket("not an address"); }),
              "Error binding to socket: " + Reason(EINVAL));
}

TEST_F(XPCTcpServerTest, BindOnEveryInterfaceTakesASystemPort)
{
    XPCTcpSocket anywhere(0L);
    anywhere.vBindSocket();
    anywhere.vListen(1);
    const int port = anywhere.iGetBoundPort();
    EXPECT_GT(port, 0);
    XPCTcpSocket client(static_cast<long>(port));
    EXPECT_NO_THROW(client.vConnect("127.0.0.1"));
}

TEST_F(XPCTcpServerTest, ListenAndAcceptFailuresThrowTheirTexts)
{
    XPCTcpSocket unbound(0L);
    EXPECT_EQ(ThrownText([&] { delete unbound.Accept(); }),
              "Error Accepting Socket. " + Reason(EINVAL));
    unbound.vCloseSocket();
    EXPECT_EQ(ThrownText([&] { unbound.vListen(1); }),
              "Error Listening To Socket. " + Reason(EBADF));
}
