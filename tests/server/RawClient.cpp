#include "RawClient.h"

#include "MOOSLIB/MOOSCommPkt.h"

#include <chrono>

namespace
{
// Generous: a reply that does not come within this is a failure.
const int kReplySeconds = 10;
} // namespace

RawClient::RawClient(int nPort) : m_pSocket(new XPCTcpSocket(long(nPort)))
{
    m_pSocket->vConnect("127.0.0.1");
}

std::string RawClient::ProtocolBlock()
{
    std::string sBlock = "OWLS WON'T SKATE 4/9/11";
    sBlock.resize(32, '\0');
    return sBlock;
}

void RawClient::SendBytes(const std::string& sBytes)
{
    m_pSocket->iSendMessage(sBytes.data(), int(sBytes.size()));
}

CMOOSMsg RawClient::Greet(const std::string& sName, double dfTime)
{
    m_sName = sName;
    SendBytes(ProtocolBlock());
    CMOOSMsg Hello(MOOS_DATA, "", sName, dfTime);
    m_Wire.SendMsg(m_pSocket.get(), Hello);
    CMOOSMsg Reply;
    m_Wire.ReadMsg(m_pSocket.get(), Reply, kReplySeconds);
    return Reply;
}

MOOSMSG_LIST RawClient::Exchange(const MOOSMSG_LIST& Posted, double* pdfPacketTime)
{
    MOOSMSG_LIST Outbox;
    for (const CMOOSMsg& Msg : Posted)
        Outbox.push_front(Msg);
    if (Outbox.empty())
        Outbox.push_front(CMOOSMsg());
    for (CMOOSMsg& Msg : Outbox)
        Msg.m_sSrc = m_sName;
    CMOOSCommPkt Out;
    Out.Serialize(Outbox, true);
    m_Wire.SendPkt(m_pSocket.get(), Out);
    CMOOSCommPkt In;
    m_Wire.ReadPkt(m_pSocket.get(), In, kReplySeconds);
    MOOSMSG_LIST Inbox;
    In.Serialize(Inbox, false, true, pdfPacketTime);
    // Like the comms client's Fetch: the inbox reversed is arrival order.
    return MOOSMSG_LIST(Inbox.rbegin(), Inbox.rend());
}

MOOSMSG_LIST RawClient::Notify(const std::string& sKey, double dfVal)
{
    return Exchange({CMOOSMsg(MOOS_NOTIFY, sKey, dfVal, -1)});
}

MOOSMSG_LIST RawClient::Notify(const std::string& sKey, const std::string& sVal)
{
    return Exchange({CMOOSMsg(MOOS_NOTIFY, sKey, sVal, -1)});
}

MOOSMSG_LIST RawClient::Register(const std::string& sKey, double dfInterval)
{
    return Exchange({CMOOSMsg(MOOS_REGISTER, sKey, dfInterval, -1)});
}

bool RawClient::IsClosedByServer(double dfSeconds)
{
    auto Deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(dfSeconds);
    char Scratch[4096];
    while (std::chrono::steady_clock::now() < Deadline)
    {
        if (m_pSocket->iWaitForReadable(50) != 1)
            continue;
        if (m_pSocket->iRecieveMessage(Scratch, sizeof(Scratch)) == 0)
            return true;
    }
    return false;
}
