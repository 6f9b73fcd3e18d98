#include "CommsTestSupport.h"

#include "MOOSLIB/MOOSCommPkt.h"
#include "MOOSLIB/MOOSException.h"
#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <chrono>
#include <thread>

namespace commstest
{

namespace
{
bool CountConnect(void* pParam)
{
    auto* pLog = static_cast<CallBackLog*>(pParam);
    if (pLog->OnConnect)
        pLog->OnConnect();
    ++pLog->nConnects;
    return true;
}
bool CountDisconnect(void* pParam)
{
    ++static_cast<CallBackLog*>(pParam)->nDisconnects;
    return true;
}
bool CountMail(void* pParam)
{
    ++static_cast<CallBackLog*>(pParam)->nMails;
    return true;
}
} // namespace

void CallBackLog::Install(CMOOSCommClient& Client, bool bWithMail)
{
    Client.SetOnConnectCallBack(CountConnect, this);
    Client.SetOnDisconnectCallBack(CountDisconnect, this);
    if (bWithMail)
        Client.SetOnMailCallBack(CountMail, this);
}

// ----- Scripted server -----------------------------------------------------------

ScriptedPeer::ScriptedPeer(std::unique_ptr<XPCTcpSocket> pSocket) : m_pSocket(std::move(pSocket)) {}

bool ScriptedPeer::ReadIdentificationBlock(std::string& sBlock)
{
    sBlock.assign(32, '\0');
    for (int nHeld = 0; nHeld < 32;)
    {
        if (m_pSocket->iWaitForReadable(10000) != 1)
            return false;
        const int nGot = m_pSocket->iRecieveMessage(&sBlock[nHeld], 32 - nHeld);
        if (nGot <= 0)
            return false;
        nHeld += nGot;
    }
    return true;
}

bool ScriptedPeer::ReadHello(std::string& sBlock, CMOOSMsg& Hello)
{
    if (!ReadIdentificationBlock(sBlock))
        return false;
    const MOOSMSG_LIST Greeting = ReadPacket();
    if (Greeting.size() != 1)
        return false;
    Hello = Greeting.front();
    return true;
}

void ScriptedPeer::Answer(char cType, double dfSkew, const std::string& sText)
{
    CMOOSMsg Msg(cType, "", sText, 0.0);
    Msg.m_dfVal = dfSkew;
    SendPacket({Msg});
}

MOOSMSG_LIST ScriptedPeer::ReadPacket(double dfSeconds)
{
    MOOSMSG_LIST Msgs;
    try
    {
        CMOOSCommPkt Pkt;
        m_Wire.ReadPkt(m_pSocket.get(), Pkt, static_cast<int>(dfSeconds));
        Pkt.Serialize(Msgs, false, false, nullptr);
    }
    catch (const CMOOSException& e)
    {
        ADD_FAILURE() << "scripted server read no packet: " << e.m_sReason;
    }
    Msgs.reverse(); // reading reverses; give the packet order
    return Msgs;
}

void ScriptedPeer::SendPacket(const MOOSMSG_LIST& Msgs)
{
    SendBytes(PacketBytes(Msgs));
}

void ScriptedPeer::Reply(MOOSMSG_LIST Msgs, double dfServerTime)
{
    CMOOSMsg Null;
    Null.m_dfVal = dfServerTime;
    Msgs.push_front(Null);
    SendPacket(Msgs);
}

void ScriptedPeer::SendBytes(const std::string& sBytes)
{
    const int nSize = static_cast<int>(sBytes.size());
    ASSERT_EQ(m_pSocket->iSendMessage(sBytes.data(), nSize), nSize);
}

bool ScriptedPeer::SeesClientClose(double dfSeconds)
{
    char Sink[4096];
    return WaitFor(
        [&]
        {
            if (m_pSocket->iWaitForReadable(10) != 1)
                return false;
            return m_pSocket->iRecieveMessage(Sink, sizeof(Sink)) == 0;
        },
        dfSeconds);
}

void ScriptedPeer::Close()
{
    m_pSocket->vCloseSocket();
}

ScriptedServer::ScriptedServer(int nPort) : m_Listener(static_cast<long>(nPort))
{
    m_Listener.vSetReuseAddr(1);
    m_Listener.vBindSocket("127.0.0.1");
    m_Listener.vListen(8);
    m_nPort = m_Listener.iGetBoundPort();
}

std::unique_ptr<ScriptedPeer> ScriptedServer::Accept(double dfSeconds)
{
    if (m_Listener.iWaitForReadable(static_cast<int>(dfSeconds * 1000)) != 1)
        return nullptr;
    return std::make_unique<ScriptedPeer>(std::unique_ptr<XPCTcpSocket>(m_Listener.Accept()));
}

std::unique_ptr<ScriptedPeer> ScriptedServer::AcceptHello()
{
    auto pPeer = Accept();
    std::string sBlock;
    CMOOSMsg Hello;
    if (!pPeer || !pPeer->ReadHello(sBlock, Hello))
    {
        ADD_FAILURE() << "no client said hello";
        return nullptr;
    }
    return pPeer;
}

std::unique_ptr<ScriptedPeer> ScriptedServer::AcceptAndWelcome(double dfSkew)
{
    auto pPeer = AcceptHello();
    if (pPeer)
        pPeer->Answer(MOOS_DATA, dfSkew);
    return pPeer;
}

std::string PacketBytes(const MOOSMSG_LIST& Msgs)
{
    MOOSMSG_LIST Copy = Msgs;
    CMOOSCommPkt Pkt;
    EXPECT_TRUE(Pkt.Serialize(Copy, true, false, nullptr));
    return std::string(reinterpret_cast<const char*>(Pkt.Stream()),
                       static_cast<std::size_t>(Pkt.GetStreamLength()));
}

std::string Int32(int nValue)
{
    unsigned char Bytes[4];
    CopyToBufferAsLittleEndian<int>(nValue, Bytes);
    return std::string(reinterpret_cast<char*>(Bytes), 4);
}

std::string PacketWithDamage(const MOOSMSG_LIST& Msgs, std::size_t nDamaged, std::size_t nOffset,
                             int nValue)
{
    std::size_t nAt = MOOS_PKT_HEADER_LENGTH;
    auto it = Msgs.begin();
    for (std::size_t i = 0; i < nDamaged; ++i, ++it)
        nAt += it->GetSizeInBytesWhenSerialised();
    return PacketBytes(Msgs).replace(nAt + nOffset, 4, Int32(nValue));
}

CMOOSMsg Note(const std::string& sKey, const std::string& sVal, int nID)
{
    CMOOSMsg Msg(MOOS_NOTIFY, sKey, sVal, 0.0);
    Msg.m_nID = nID;
    return Msg;
}

// ----- Fixture ---------------------------------------------------------------------

void CommsFixture::SetUp()
{
    SetMOOSTimeWarp(kWarp);
    SetMOOSSkew(0.0);
}

void CommsFixture::TearDown()
{
    Client.Close();
    SetMOOSTimeWarp(1.0);
    SetMOOSSkew(0.0);
}

void CommsFixture::StartClient(int nPort, const std::string& sName, unsigned int nFreq,
                               bool bWithMail)
{
    Log.Install(Client, bWithMail);
    Client.Run("127.0.0.1", nPort, sName.c_str(), nFreq);
}

bool CommsFixture::WaitConnected(double dfSeconds)
{
    return WaitFor([this] { return Client.IsConnected(); }, dfSeconds);
}

bool CommsFixture::WaitConnects(int n)
{
    return WaitFor([this, n] { return Log.nConnects == n; });
}

bool CommsFixture::WaitDisconnected(double dfSeconds)
{
    return WaitFor([this] { return !Client.IsConnected(); }, dfSeconds);
}

} // namespace commstest
