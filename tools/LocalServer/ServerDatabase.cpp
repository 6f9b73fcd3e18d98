#include "ServerDatabase.h"

#include "MOOSLIB/MOOSCommPkt.h"

#include <cmath>

const char* const kLocalServerName = "LocalServer";

namespace
{
// A registration interval that is negative or not a number asks for every
// delivery.
double SaneInterval(double dfInterval)
{
    return std::isfinite(dfInterval) && dfInterval > 0.0 ? dfInterval : 0.0;
}

std::size_t SizeOf(const CMOOSMsg& Msg)
{
    return Msg.GetSizeInBytesWhenSerialised();
}
} // namespace

CServerDatabase::CServerDatabase(MailBounds Bounds) : m_Bounds(Bounds) {}

void CServerDatabase::AddClient(std::uint64_t nClient, const std::string& sName)
{
    std::lock_guard<std::mutex> Guard(m_Lock);
    m_Clients[nClient].sName = sName;
}

void CServerDatabase::RemoveClient(std::uint64_t nClient)
{
    std::lock_guard<std::mutex> Guard(m_Lock);
    m_Clients.erase(nClient);
    for (auto it = m_Subscriptions.begin(); it != m_Subscriptions.end();)
    {
        it->second.erase(nClient);
        it = it->second.empty() ? m_Subscriptions.erase(it) : std::next(it);
    }
}

void CServerDatabase::Exchange(std::uint64_t nClient, const MOOSMSG_LIST& Incoming, double dfNow,
                               MOOSMSG_LIST& Mail, std::size_t& nDropped)
{
    std::lock_guard<std::mutex> Guard(m_Lock);
    nDropped = 0;
    auto it = m_Clients.find(nClient);
    if (it == m_Clients.end())
        return;
    for (const CMOOSMsg& Msg : Incoming)
        ApplyLocked(nClient, Msg, dfNow);
    Client& C = it->second;
    for (CMOOSMsg& Msg : C.Queue)
        Mail.push_back(std::move(Msg));
    C.Queue.clear();
    C.nQueuedBytes = 0;
    nDropped = C.nDroppedUnreported;
    C.nDroppedUnreported = 0;
}

void CServerDatabase::ApplyLocked(std::uint64_t nClient, const CMOOSMsg& Msg, double dfNow)
{
    switch (Msg.m_cMsgType)
    {
    case MOOS_NOTIFY:
        NotifyLocked(Msg, dfNow);
        break;
    case MOOS_REGISTER:
        RegisterLocked(nClient, Msg, dfNow);
        break;
    case MOOS_UNREGISTER:
    {
        auto it = m_Subscriptions.find(Msg.m_sKey);
        if (it != m_Subscriptions.end() && it->second.erase(nClient) && it->second.empty())
            m_Subscriptions.erase(it);
        break;
    }
    case MOOS_SERVER_REQUEST:
        AnswerRequestLocked(nClient, Msg, dfNow);
        break;
    default:
        break;
    }
}

void CServerDatabase::NotifyLocked(const CMOOSMsg& Msg, double dfNow)
{
    ++m_nNotifications;
    m_Variables[Msg.m_sKey] = Msg;
    auto it = m_Subscriptions.find(Msg.m_sKey);
    if (it == m_Subscriptions.end())
        return;
    for (auto& Subscriber : it->second)
        DeliverLocked(Subscriber.first, Subscriber.second, Msg, dfNow);
}

void CServerDatabase::RegisterLocked(std::uint64_t nClient, const CMOOSMsg& Msg, double dfNow)
{
    Registration& Reg = m_Subscriptions[Msg.m_sKey][nClient];
    Reg = Registration();
    Reg.dfInterval = SaneInterval(Msg.m_dfVal);
    auto it = m_Variables.find(Msg.m_sKey);
    if (it != m_Variables.end())
        DeliverLocked(nClient, Reg, it->second, dfNow);
}

void CServerDatabase::AnswerRequestLocked(std::uint64_t nClient, const CMOOSMsg& Msg, double dfNow)
{
    std::string sNames;
    for (const auto& Variable : m_Variables)
        sNames += (sNames.empty() ? "" : ",") + Variable.first;
    CMOOSMsg Answer(MOOS_NOTIFY, Msg.m_sKey, sNames, dfNow);
    Answer.m_dfVal = static_cast<double>(m_Variables.size());
    Answer.m_nID = MOOS_SERVER_REQUEST_ID;
    Answer.m_sSrc = kLocalServerName;
    QueueLocked(m_Clients[nClient], Answer);
}

// Honours the registration's minimum interval: a value that comes sooner than
// that after the previous delivery is not sent to this client.
void CServerDatabase::DeliverLocked(std::uint64_t nClient, Registration& Reg, const CMOOSMsg& Msg,
                                    double dfNow)
{
    if (Reg.bDelivered && dfNow - Reg.dfLastDelivery < Reg.dfInterval)
        return;
    auto it = m_Clients.find(nClient);
    if (it == m_Clients.end())
        return;
    Reg.bDelivered = true;
    Reg.dfLastDelivery = dfNow;
    QueueLocked(it->second, Msg);
}

// Drops the oldest mail while the queue is over either bound; the newest
// message always stays, unless it is larger than any reply could carry.
void CServerDatabase::QueueLocked(Client& C, const CMOOSMsg& Msg)
{
    if (SizeOf(Msg) > MOOS_MAX_MSG_LENGTH)
    {
        ++C.nDropped;
        ++C.nDroppedUnreported;
        ++m_nDropped;
        return;
    }
    C.Queue.push_back(Msg);
    C.nQueuedBytes += SizeOf(Msg);
    while (C.Queue.size() > 1 &&
           (C.Queue.size() > m_Bounds.Messages || C.nQueuedBytes > m_Bounds.Bytes))
    {
        C.nQueuedBytes -= SizeOf(C.Queue.front());
        C.Queue.pop_front();
        ++C.nDropped;
        ++C.nDroppedUnreported;
        ++m_nDropped;
    }
}

std::vector<std::string> CServerDatabase::GetClientNames() const
{
    std::lock_guard<std::mutex> Guard(m_Lock);
    std::vector<std::string> Names;
    for (const auto& C : m_Clients)
        Names.push_back(C.second.sName);
    return Names;
}

std::size_t CServerDatabase::GetNotificationCount() const
{
    std::lock_guard<std::mutex> Guard(m_Lock);
    return m_nNotifications;
}

std::size_t CServerDatabase::GetDroppedCount() const
{
    std::lock_guard<std::mutex> Guard(m_Lock);
    return m_nDropped;
}

std::size_t CServerDatabase::GetDroppedCount(const std::string& sName) const
{
    std::lock_guard<std::mutex> Guard(m_Lock);
    std::size_t nDropped = 0;
    for (const auto& C : m_Clients)
        if (C.second.sName == sName)
            nDropped += C.second.nDropped;
    return nDropped;
}

bool CServerDatabase::GetValue(const std::string& sKey, CMOOSMsg& Msg) const
{
    std::lock_guard<std::mutex> Guard(m_Lock);
    auto it = m_Variables.find(sKey);
    if (it == m_Variables.end())
        return false;
    Msg = it->second;
    return true;
}

void CServerDatabase::Clear()
{
    std::lock_guard<std::mutex> Guard(m_Lock);
    m_Clients.clear();
    m_Variables.clear();
    m_Subscriptions.clear();
    m_nNotifications = 0;
    m_nDropped = 0;
}
