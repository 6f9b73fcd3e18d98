// Test support for the comms client: a fixture that runs a client under a
// fast time warp, callback counters, and a scripted server whose every step is
// played by the test thread over a real loopback connection.
#pragma once

#include "MOOSLIB/MOOSCommClient.h"
#include "MOOSLIB/MOOSCommObject.h"
#include "MOOSLIB/MOOSMsg.h"
#include "MOOSLIB/XPCTcpSocket.h"

#include "../support/WaitFor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace commstest
{

// Every pause of the client (retry, reconnect, tick) runs this much faster.
constexpr double kWarp = 20.0;

using moostest::WaitFor;

// Counts the client's callbacks (they run on the client thread). OnConnect,
// when set before Run, runs inside the connect callback.
struct CallBackLog
{
    std::atomic<int> nConnects{0};
    std::atomic<int> nDisconnects{0};
    std::atomic<int> nMails{0};
    std::function<void()> OnConnect;

    void Install(CMOOSCommClient& Client, bool bWithMail = false);
};

// One connection accepted by a ScriptedServer.
class ScriptedPeer
{
public:
    explicit ScriptedPeer(std::unique_ptr<XPCTcpSocket> pSocket);

    // Reads the raw 32-byte identification block only.
    bool ReadIdentificationBlock(std::string& sBlock);
    // Reads the raw identification block and the greeting packet.
    bool ReadHello(std::string& sBlock, CMOOSMsg& Hello);
    // Answers the greeting with one message of type cType whose double value
    // is the skew (or its string value the reason, for a refusal 'K').
    void Answer(char cType, double dfSkew, const std::string& sText = "");
    // One packet from the client, its messages in packet order.
    MOOSMSG_LIST ReadPacket(double dfSeconds = 10.0);
    // Sends Msgs as one packet, in the given order.
    void SendPacket(const MOOSMSG_LIST& Msgs);
    // Sends a packet led by a null message carrying dfServerTime.
    void Reply(MOOSMSG_LIST Msgs, double dfServerTime);
    void SendBytes(const std::string& sBytes);
    // Whether the client closes its end within dfSeconds (bytes it still
    // sends are read and dropped).
    bool SeesClientClose(double dfSeconds = 10.0);
    void Close();

private:
    std::unique_ptr<XPCTcpSocket> m_pSocket;
    CMOOSCommObject m_Wire;
};

// A listener on 127.0.0.1 at a port the system picks.
class ScriptedServer
{
public:
    // nPort 0 lets the system pick a free port.
    explicit ScriptedServer(int nPort = 0);
    int Port() const { return m_nPort; }
    // Null when no client connects within dfSeconds.
    std::unique_ptr<ScriptedPeer> Accept(double dfSeconds = 10.0);
    // Accept and read the hello; null (with a test failure) when none comes.
    std::unique_ptr<ScriptedPeer> AcceptHello();
    // AcceptHello, then welcome with the given skew.
    std::unique_ptr<ScriptedPeer> AcceptAndWelcome(double dfSkew = 0.0);

private:
    XPCTcpSocket m_Listener;
    int m_nPort = 0;
};

// The byte form of a packet holding Msgs.
std::string PacketBytes(const MOOSMSG_LIST& Msgs);
// A 32-bit little-endian int as 4 bytes.
std::string Int32(int nValue);
// The byte form of a packet holding Msgs, with the 4 bytes at nOffset of the
// message at index nDamaged (0 is its declared length) replaced by nValue.
std::string PacketWithDamage(const MOOSMSG_LIST& Msgs, std::size_t nDamaged, std::size_t nOffset,
                             int nValue);
CMOOSMsg Note(const std::string& sKey, const std::string& sVal, int nID = -1);

// A client running under a fast time warp, with its callbacks counted.
class CommsFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    void StartClient(int nPort, const std::string& sName = "Tester", unsigned int nFreq = 50,
                     bool bWithMail = false);
    bool WaitConnected(double dfSeconds = 10.0);
    // Waits until the connect callback has run n times in all: the client
    // is connected a moment before its thread calls the callback.
    bool WaitConnects(int n);
    bool WaitDisconnected(double dfSeconds = 10.0);

    CallBackLog Log;
    CMOOSCommClient Client;
};

} // namespace commstest
