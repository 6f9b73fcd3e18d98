// The exception, the database look-ups and the descriptor-owning base: texts,
// options, blocking mode and closing each descriptor exactly once.
#include "SocketTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <string>

using namespace sockettest;

namespace
{
bool IsNonBlocking(int fd)
{
    return (::fcntl(fd, F_GETFL) & O_NONBLOCK) != 0;
}

void SetNonBlocking(int fd, bool on)
{
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK);
}

bool IsOpen(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1;
}
} // namespace

TEST(XPCExceptionTest, KeepsShortTextWhole)
{
    EXPECT_STREQ(XPCException("Error Getting Host By Name").sGetException(),
                 "Error Getting Host By Name");
    EXPECT_STREQ(XPCException(static_cast<const char*>(nullptr)).sGetException(), "");
}

TEST(XPCExceptionTest, CutsLongTextAt254Characters)
{
    const std::string longText = std::string(200, 'a') + std::string(200, 'b');
    const XPCException e(longText);
    EXPECT_EQ(std::string(e.sGetException()), longText.substr(0, 254));

    const XPCException formatted = XPCException::Format("Error Connecting To Socket. %s", longText);
    EXPECT_EQ(std::strlen(formatted.sGetException()), 254u);
    EXPECT_EQ(std::string(formatted.sGetException()).rfind("Error Connecting To Socket. aaa", 0),
              0u);
    EXPECT_STREQ(XPCException::Format("Error binding to socket: %s", "50% %s %d").sGetException(),
                 "Error binding to socket: 50% %s %d");
}

TEST(XPCLookUpTest, FindsTcpByNameAndByNumber)
{
    EXPECT_EQ(XPCGetProtocol("tcp").iGetProtocolNumber(), IPPROTO_TCP);
    EXPECT_STREQ(XPCGetProtocol(IPPROTO_UDP).sGetProtocolName(), "udp");
}

TEST(XPCLookUpTest, UnknownProtocolThrowsFixedTexts)
{
    EXPECT_EQ(ThrownText([] { XPCGetProtocol("no-such-protocol"); }),
              "Could Not Get Protocol By Name");
    EXPECT_EQ(ThrownText([] { XPCGetProtocol(100000); }), "Could Not Get Protocol By Number");
    EXPECT_EQ(ThrownText([] { XPCGetProtocol(static_cast<const char*>(nullptr)); }),
              "Could Not Get Protocol By Name");
}

TEST(XPCLookUpTest, FindsLocalhostByNameAndByAddress)
{
    EXPECT_STREQ(XPCGetHostInfo("localhost", XPCGetHostInfo::NAME).sGetHostAddress(), "127.0.0.1");
    const XPCGetHostInfo byAddress("127.0.0.1", XPCGetHostInfo::ADDRESS);
    EXPECT_STRNE(byAddress.sGetHostName(), "");
    EXPECT_EQ(byAddress.cGetNextHost(), 0);
}

TEST(XPCLookUpTest, BadHostLookUpsThrowFixedTexts)
{
    EXPECT_EQ(ThrownText([] { XPCGetHostInfo("no-such-host.invalid", XPCGetHostInfo::NAME); }),
              "Error Getting Host By Name");
    EXPECT_EQ(ThrownText([] { XPCGetHostInfo("not.an.address", XPCGetHostInfo::ADDRESS); }),
              "Error Getting Host By Address");
    EXPECT_EQ(ThrownText([] { XPCGetHostInfo("127.0.0.1", XPCGetHostInfo::hostType(2)); }),
              "Parameter Error Constructing XPCGetHostInfo");
    unsigned long allOnes = INADDR_NONE;
    EXPECT_EQ(ThrownText([&] { XPCGetHostInfo{&allOnes}; }), "Error Getting Host By Address");
}

TEST(XPCSocketTest, UnknownProtocolIsAProtocolErrorDefinition)
{
    EXPECT_EQ(ThrownText([] { XPCSocket("no-such-protocol", 9000); }),
              "Protocol Error Definition: Could Not Get Protocol By Name");
}

TEST(XPCSocketTest, ProtocolOtherThanTcpOrUdpIsRefused)
{
    EXPECT_EQ(ThrownText([] { XPCSocket("icmp", 9000); }),
              "Protocol Error Definition: Error opening socket: " + Reason(EPROTONOSUPPORT));
}

TEST(XPCSocketTest, PortOutsideSixteenBitsIsRefused)
{
    const std::string refused =
        "Protocol Error Definition: Error opening socket: " + Reason(EINVAL);
    EXPECT_EQ(ThrownText([] { XPCTcpSocket(70000L); }), refused);
    EXPECT_EQ(ThrownText([] { XPCTcpSocket(-1L); }), refused);
    EXPECT_EQ(ThrownText([] { XPCTcpSocket(4294967296L + 9000); }), refused);
}

TEST(XPCSocketTest, UdpSocketIsADatagramSocket)
{
    XPCSocket socket("udp", 0);
    int type = 0;
    socklen_t size = sizeof(type);
    ::getsockopt(socket.iGetSocketFd(), SOL_SOCKET, SO_TYPE, &type, &size);
    EXPECT_EQ(type, SOCK_DGRAM);
}

TEST(XPCSocketTest, DestructorClosesTheDescriptor)
{
    int fd = -1;
    {
        XPCTcpSocket socket(9000L);
        fd = socket.iGetSocketFd();
        ASSERT_TRUE(IsOpen(fd));
    }
    EXPECT_FALSE(IsOpen(fd));
}

TEST(XPCSocketTest, ClosedSocketNeverClosesAReusedDescriptor)
{
    LoopbackListener listener;
    auto first = std::make_unique<XPCTcpSocket>(9000L);
    const int fd = first->iGetSocketFd();
    first->vCloseSocket();
    first->vCloseSocket();
    EXPECT_EQ(first->iGetSocketFd(), -1);

    XPCTcpSocket second(static_cast<long>(listener.Port()));
    if (second.iGetSocketFd() != fd)
        GTEST_SKIP() << "the system did not hand out descriptor " << fd << " again";
    first.reset();
    ASSERT_TRUE(IsOpen(fd));
    EXPECT_NO_THROW(second.vConnect("127.0.0.1"));
}

TEST(XPCSocketTest, BlockingFlagSelectsNonBlockingMode)
{
    XPCTcpSocket socket(9000L);
    EXPECT_EQ(socket.iGetSocketBlocking(), 0);
    socket.vSetSocketBlocking(5);
    EXPECT_EQ(socket.iGetSocketBlocking(), 1);
    EXPECT_TRUE(IsNonBlocking(socket.iGetSocketFd()));
    socket.vSetSocketBlocking(0);
    EXPECT_EQ(socket.iGetSocketBlocking(), 0);
    EXPECT_FALSE(IsNonBlocking(socket.iGetSocketFd()));
}

TEST(XPCSocketTest, UnchangedBlockingFlagAsksTheSystemNothing)
{
    XPCTcpSocket socket(9000L);
    const int fd = socket.iGetSocketFd();
    SetNonBlocking(fd, true);
    socket.vSetSocketBlocking(0); // already 0: the mode set behind its back stays
    EXPECT_TRUE(IsNonBlocking(fd));

    socket.vSetSocketBlocking(1);
    SetNonBlocking(fd, false);
    socket.vSetSocketBlocking(1); // already 1: no second request
    EXPECT_FALSE(IsNonBlocking(fd));
}

TEST(XPCSocketTest, FailedBlockingChangeKeepsTheFlag)
{
    XPCTcpSocket socket(9000L);
    socket.vCloseSocket();
    EXPECT_EQ(ThrownText([&] { socket.vSetSocketBlocking(1); }),
              "Error Turning ON Socket Blocking Status: " + Reason(EBADF));
    EXPECT_EQ(socket.iGetSocketBlocking(), 0);
}

TEST(XPCSocketTest, OptionsReadBackWhatWasSet)
{
    XPCTcpSocket socket(9000L);
    socket.vSetReuseAddr(1);
    socket.vSetKeepAlive(1);
    EXPECT_NE(socket.iGetReuseAddr(), 0);
    EXPECT_NE(socket.iGetKeepAlive(), 0);
    EXPECT_EQ(socket.iGetBroadcast(), 0);

    socket.vSetLinger(linger{1, 7});
    linger read{};
    socket.vGetLinger(read);
    EXPECT_EQ(read.l_onoff, 1);
    EXPECT_EQ(read.l_linger, 7);

    socket.vSetRecieveBuf(64 * 1024);
    EXPECT_GE(socket.iGetRecieveBuf(), 64 * 1024);
}

TEST(XPCSocketTest, ReceiveTimeOutIsInMilliseconds)
{
    XPCTcpSocket socket(9000L);
    socket.vSetRecieveTimeOut(1500);
    timeval timeOut{};
    socklen_t size = sizeof(timeOut);
    ::getsockopt(socket.iGetSocketFd(), SOL_SOCKET, SO_RCVTIMEO, &timeOut, &size);
    EXPECT_EQ(timeOut.tv_sec, 1);
    EXPECT_NEAR(static_cast<double>(timeOut.tv_usec), 500000.0, 4000.0);

    EXPECT_EQ(ThrownText([&] { socket.vSetRecieveTimeOut(-1); }),
              "Error Setting ReciveTimeOut Option: " + Reason(EINVAL));
}

TEST(XPCSocketTest, FailedOptionCallThrowsItsFormatWithTheReason)
{
    XPCTcpSocket socket(9000L);
    socket.vCloseSocket();
    EXPECT_EQ(ThrownText([&] { socket.iGetSendBuf(); }),
              "Error Extracting SendBuf Option: " + Reason(EBADF));
    EXPECT_EQ(ThrownText([&] { socket.vSetDebug(1); }),
              "Error Setting Debug Option: " + Reason(EBADF));
}
