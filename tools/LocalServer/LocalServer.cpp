#include "LocalServer.h"

#include "NotificationLog.h"
#include "ServerDatabase.h"
#include "ServerLink.h"

#include "MOOSLIB/MOOSCommPkt.h"
#include "MOOSLIB/MOOSException.h"
#include "MOOSLIB/MOOSGenLibGlobalHelper.h"
#include "MOOSLIB/MOOSProtocol.h"
#include "MOOSLIB/XPCTcpSocket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <list>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

namespace
{
// How long a refused client is given to read its refusal.
const int kPartingMs = 1000;

// A bound of 0 or less means waiting without limit (-1).
int ToMs(double dfSeconds)
{
    return dfSeconds > 0.0 ? std::max(1, static_cast<int>(std::min(dfSeconds * 1000.0, 2e9))) : -1;
}

// A name travels in log lines and diagnostics as one word.
bool IsUsableName(const std::string& sName)
{
    if (sName.empty() || sName.size() > 255)
        return false;
    for (unsigned char c : sName)
        if (c <= ' ' || c == 0x7f)
            return false;
    return true;
}

// Wakes the accept thread's wait when the server stops.
class CWakePipe
{
public:
    CWakePipe()
    {
        if (pipe2(m_Fds, O_CLOEXEC | O_NONBLOCK) != 0)
            m_Fds[0] = m_Fds[1] = -1;
    }
    ~CWakePipe()
    {
        for (int nFd : m_Fds)
            if (nFd >= 0)
                close(nFd);
    }
    CWakePipe(const CWakePipe&) = delete;
    CWakePipe& operator=(const CWakePipe&) = delete;

    bool IsOpen() const { return m_Fds[0] >= 0; }
    int ReadFd() const { return m_Fds[0]; }
    void Signal()
    {
        char c = 1;
        while (write(m_Fds[1], &c, 1) < 0 && errno == EINTR)
        {
        }
    }

private:
    int m_Fds[2];
};

// One accepted connection; its thread is the only one to transfer on the link.
struct Connection
{
    Connection(std::uint64_t nId, std::unique_ptr<XPCTcpSocket> pSocket, int nWaitMs)
        : nId(nId), Link(std::move(pSocket), nWaitMs)
    {
    }
    const std::uint64_t nId;
    CServerLink Link;
    // Set once by the connection's thread when its handshake succeeds, before
    // the connection is published under that name.
    std::string sName;
    std::thread Thread;
    std::atomic<bool> bFinished{false};
    // When a packet (or the greeting) was last heard, in MOOSSteadySeconds.
    std::atomic<double> dfLastHeard{0.0};
};
} // namespace

class CLocalServer::Impl
{
public:
    explicit Impl(LocalServerOptions Options)
        : m_Options(std::move(Options)),
          m_Db(MailBounds{m_Options.QueueLimit,
                          std::min<std::size_t>(m_Options.QueueByteLimit, MOOS_MAX_MSG_LENGTH)}),
          m_Log(m_Options.Log)
    {
    }
    ~Impl() { Stop(); }

    bool Start(const std::string& sAddress, int nPort);
    void Stop();
    double Now() const { return MOOSLocalTime(false) * m_Options.TimeWarp; }
    bool Disconnect(const std::string& sName);
    template <class Predicate> bool WaitUntil(double dfSeconds, Predicate Holds) const;
    bool IsNamed(const std::string& sName) const { return m_ByName.count(sName) != 0; }

    const LocalServerOptions m_Options;
    CServerDatabase m_Db;
    std::atomic<bool> m_bRunning{false};
    std::atomic<int> m_nPort{0};
    std::atomic<std::size_t> m_nOpen{0};
    std::atomic<std::size_t> m_nRefused{0};

    // Guards everything below and is the lock of m_Changed. Taken before the
    // database's own lock, never after it.
    mutable std::mutex m_Lock;
    mutable std::condition_variable m_Changed;
    std::string m_sError;
    std::map<std::string, std::shared_ptr<Connection>> m_ByName;

private:
    bool Listen(const std::string& sAddress, int nPort);
    void AcceptLoop();
    void AcceptOne();
    void ReapFinished();
    void Serve(std::shared_ptr<Connection> pConn);
    bool Handshake(Connection& Conn, double& dfSkew);
    void Welcome(Connection& Conn, double dfSkew);
    bool Refuse(Connection& Conn, const std::string& sWhy);
    bool Admit(const std::shared_ptr<Connection>& pConn);
    bool TryAdmit(const std::shared_ptr<Connection>& pConn, std::string& sInUse);
    bool Turn(Connection& Conn);
    void RefuseOversize(const Connection& Conn, MOOSMSG_LIST& Incoming) const;
    void Finish(const std::shared_ptr<Connection>& pConn);
    // Wakes the Wait... calls after a change made outside m_Lock; passing
    // through the lock first means no waiter can miss it.
    void NotifyChanged()
    {
        {
            std::lock_guard<std::mutex> Guard(m_Lock);
        }
        m_Changed.notify_all();
    }

    CNotificationLog m_Log;
    std::unique_ptr<XPCTcpSocket> m_pListener;
    std::unique_ptr<CWakePipe> m_pWake;
    std::thread m_AcceptThread;
    std::uint64_t m_nNextId = 0; // accept thread only

    // Guarded by m_Lock.
    bool m_bStopping = false;
    std::list<std::shared_ptr<Connection>> m_Connections;
};

// ---------------------------------------------------------------------------
// Lifecycle.

bool CLocalServer::Impl::Start(const std::string& sAddress, int nPort)
{
    std::lock_guard<std::mutex> Guard(m_Lock);
    if (m_bRunning)
    {
        m_sError = "already running";
        return false;
    }
    if (!Listen(sAddress, nPort))
        return false;
    m_pWake.reset(new CWakePipe);
    if (!m_pWake->IsOpen())
    {
        m_pListener.reset();
        m_sError = "cannot create the wake-up pipe";
        return false;
    }
    m_Db.Clear();
    m_nRefused = 0;
    m_bStopping = false;
    m_bRunning = true;
    m_AcceptThread = std::thread(&Impl::AcceptLoop, this);
    return true;
}

bool CLocalServer::Impl::Listen(const std::string& sAddress, int nPort)
{
    try
    {
        std::unique_ptr<XPCTcpSocket> pListener(new XPCTcpSocket(long(nPort)));
        pListener->vSetReuseAddr(1);
        pListener->vBindSocket(sAddress.c_str());
        pListener->vListen(SOMAXCONN);
        m_nPort = pListener->iGetBoundPort();
        m_pListener = std::move(pListener);
        return true;
    }
    catch (const XPCException& e)
    {
        m_sError = e.sGetException();
        return false;
    }
}

void CLocalServer::Impl::Stop()
{
    {
        std::lock_guard<std::mutex> Guard(m_Lock);
        if (!m_bRunning || m_bStopping)
            return;
        m_bStopping = true;
    }
    m_pWake->Signal();
    m_AcceptThread.join();
    std::list<std::shared_ptr<Connection>> All;
    {
        std::lock_guard<std::mutex> Guard(m_Lock);
        All.swap(m_Connections);
        for (auto& pConn : All)
            pConn->Link.Hangup();
    }
    for (auto& pConn : All)
        pConn->Thread.join();
    std::lock_guard<std::mutex> Guard(m_Lock);
    m_ByName.clear();
    m_pListener.reset();
    m_pWake.reset();
    m_bRunning = false;
    m_Changed.notify_all();
}

// ---------------------------------------------------------------------------
// Accepting.

void CLocalServer::Impl::AcceptLoop()
{
    pollfd Fds[2] = {{m_pListener->iGetSocketFd(), POLLIN, 0}, {m_pWake->ReadFd(), POLLIN, 0}};
    for (;;)
    {
        int nReady = poll(Fds, 2, -1);
        if (nReady < 0 && errno != EINTR)
            MOOSPause(100, false);
        if (Fds[1].revents != 0)
            return;
        if (nReady > 0 && Fds[0].revents != 0)
            AcceptOne();
        ReapFinished();
    }
}

void CLocalServer::Impl::AcceptOne()
{
    std::unique_ptr<XPCTcpSocket> pSocket;
    try
    {
        pSocket.reset(m_pListener->Accept());
    }
    catch (const XPCException& e)
    {
        // Out of descriptors and the like: say so and give the system a
        // moment rather than spin on a listener that stays readable.
        MOOSTrace("LocalServer: %s\n", e.sGetException());
        MOOSPause(100, false);
        return;
    }
    if (m_nOpen >= m_Options.MaxConnections)
    {
        MOOSTrace("LocalServer: too many connections, closing a new one\n");
        return;
    }
    auto pConn =
        std::make_shared<Connection>(++m_nNextId, std::move(pSocket), ToMs(m_Options.IoTimeout));
    std::lock_guard<std::mutex> Guard(m_Lock);
    try
    {
        pConn->Thread = std::thread(&Impl::Serve, this, pConn);
    }
    catch (const std::system_error& e)
    {
        MOOSTrace("LocalServer: cannot serve a new connection: %s\n", e.what());
        return;
    }
    ++m_nOpen;
    m_Connections.push_back(pConn);
}

void CLocalServer::Impl::ReapFinished()
{
    std::list<std::shared_ptr<Connection>> Finished;
    {
        std::lock_guard<std::mutex> Guard(m_Lock);
        for (auto it = m_Connections.begin(); it != m_Connections.end();)
        {
            auto Next = std::next(it);
            if ((*it)->bFinished)
                Finished.splice(Finished.end(), m_Connections, it);
            it = Next;
        }
    }
    for (auto& pConn : Finished)
        pConn->Thread.join();
}

// ---------------------------------------------------------------------------
// One connection: the handshake, then one reply per packet until it breaks.

void CLocalServer::Impl::Serve(std::shared_ptr<Connection> pConn)
{
    try
    {
        double dfSkew = 0.0;
        if (Handshake(*pConn, dfSkew) && Admit(pConn))
        {
            Welcome(*pConn, dfSkew);
            while (Turn(*pConn))
            {
            }
        }
    }
    catch (const CMOOSException& e)
    {
        MOOSTrace("LocalServer: connection from %s failed: %s\n", pConn->Link.GetPeer().c_str(),
                  e.m_sReason);
    }
    catch (const XPCException& e)
    {
        MOOSTrace("LocalServer: connection from %s failed: %s\n", pConn->Link.GetPeer().c_str(),
                  e.sGetException());
    }
    Finish(pConn);
}

// Takes the identification block and the greeting; on success the connection
// has its name and dfSkew the skew to welcome it with.
bool CLocalServer::Impl::Handshake(Connection& Conn, double& dfSkew)
{
    MOOSProtocolBlock Block;
    if (!Conn.Link.ReadExact(Block.data(), Block.size(), ToMs(m_Options.IoTimeout)))
        return false;
    if (!IsMOOSIdentificationBlock(Block.data()))
        return MOOSFail("LocalServer: %s does not speak this protocol; closing",
                        Conn.Link.GetPeer().c_str());
    CMOOSCommPkt Pkt;
    if (!Conn.Link.ReadPacket(Pkt, m_Options.PacketByteLimit, ToMs(m_Options.IoTimeout)))
        return Refuse(Conn, "expected a greeting packet: " + Conn.Link.GetError());
    MOOSMSG_LIST Greeting;
    if (!Pkt.Serialize(Greeting, false) || Greeting.size() != 1 ||
        !Greeting.front().IsType(MOOS_DATA) || !Greeting.front().IsDataType(MOOS_STRING))
        return Refuse(Conn, "expected one identification message ('i') carrying the client name");
    const CMOOSMsg& Hello = Greeting.front();
    if (!IsUsableName(Hello.m_sVal))
        return Refuse(Conn, "the client name must be a word of 1 to 255 printable characters");
    if (!m_Options.AllowedNames.empty() && !m_Options.AllowedNames.count(Hello.m_sVal))
        return Refuse(Conn, "\"" + Hello.m_sVal + "\" is not allowed on this server");
    // A greeting without a usable time gets no correction rather than a wild one.
    bool bTimed = std::isfinite(Hello.m_dfTime) && Hello.m_dfTime > 0;
    dfSkew = bTimed ? Now() - Hello.m_dfTime : 0.0;
    Conn.sName = Hello.m_sVal;
    Conn.dfLastHeard = MOOSSteadySeconds();
    return true;
}

void CLocalServer::Impl::Welcome(Connection& Conn, double dfSkew)
{
    CMOOSMsg Welcome(MOOS_DATA, "", dfSkew, Now());
    Welcome.m_sSrc = kLocalServerName;
    Welcome.m_sVal = kLocalServerName;
    Conn.Link.SendMessage(Welcome);
}

bool CLocalServer::Impl::Refuse(Connection& Conn, const std::string& sWhy)
{
    ++m_nRefused;
    MOOSTrace("LocalServer: refusing %s: %s\n", Conn.Link.GetPeer().c_str(), sWhy.c_str());
    CMOOSMsg Refusal(MOOS_POISON, "", sWhy, Now());
    Refusal.m_sSrc = kLocalServerName;
    Conn.Link.SendMessage(Refusal);
    Conn.Link.Drain(kPartingMs);
    return false;
}

// Publishes the connection under its name, or refuses it when the name
// belongs to a live connection. The refusal is sent after the lock is
// released: no lock is held across network I/O.
bool CLocalServer::Impl::Admit(const std::shared_ptr<Connection>& pConn)
{
    std::string sInUse;
    if (TryAdmit(pConn, sInUse))
        return true;
    return !sInUse.empty() && Refuse(*pConn, sInUse);
}

// False with sInUse saying why when the name's owner was heard from within
// the hold time, false with sInUse empty when the server stops. An owner
// silent for longer is hung up and forgotten at once: its process may be
// the newcomer, back after a connection that died unnoticed.
bool CLocalServer::Impl::TryAdmit(const std::shared_ptr<Connection>& pConn, std::string& sInUse)
{
    const std::string& sName = pConn->sName;
    std::lock_guard<std::mutex> Guard(m_Lock);
    if (m_bStopping)
        return false;
    auto it = m_ByName.find(sName);
    if (it != m_ByName.end())
    {
        double dfSilent = MOOSSteadySeconds() - it->second->dfLastHeard;
        if (m_Options.NameHoldSeconds > 0.0 && dfSilent < m_Options.NameHoldSeconds)
        {
            sInUse = MOOSFormat("the name \"%s\" is in use by a live connection (heard from "
                                "%.1f s ago; a name is free after %g s of silence)",
                                sName.c_str(), dfSilent, m_Options.NameHoldSeconds);
            return false;
        }
        MOOSTrace("LocalServer: \"%s\" connected again after %.1f s of silence; dropping its "
                  "older connection\n",
                  sName.c_str(), dfSilent);
        m_Db.RemoveClient(it->second->nId);
        it->second->Link.Hangup();
    }
    m_ByName[sName] = pConn;
    m_Db.AddClient(pConn->nId, sName);
    m_Changed.notify_all();
    return true;
}

// A message larger than one message may be could never reach a subscriber:
// every reply carrying it would exceed the clients' packet limit. It is left
// out and traced; the sender stays connected, like a sender of other bad mail.
void CLocalServer::Impl::RefuseOversize(const Connection& Conn, MOOSMSG_LIST& Incoming) const
{
    Incoming.remove_if(
        [&Conn](const CMOOSMsg& Msg)
        {
            std::size_t nBytes = Msg.GetSizeInBytesWhenSerialised();
            if (nBytes <= MOOS_MAX_MSG_LENGTH)
                return false;
            MOOSTrace("LocalServer: \"%s\" sent a message of %zu bytes under \"%s\"; refused: a "
                      "message may take at most %d bytes\n",
                      Conn.sName.c_str(), nBytes, Msg.m_sKey.c_str(), MOOS_MAX_MSG_LENGTH);
            return true;
        });
}

bool CLocalServer::Impl::Turn(Connection& Conn)
{
    CMOOSCommPkt In;
    if (!Conn.Link.ReadPacket(In, m_Options.PacketByteLimit, ToMs(m_Options.IdleTimeout)))
        return MOOSFail("LocalServer: \"%s\" dropped: %s", Conn.sName.c_str(),
                        Conn.Link.GetError().c_str());
    Conn.dfLastHeard = MOOSSteadySeconds();
    MOOSMSG_LIST Incoming;
    if (!In.Serialize(Incoming, false, true))
        return MOOSFail("LocalServer: \"%s\" dropped: damaged packet", Conn.sName.c_str());
    RefuseOversize(Conn, Incoming);
    double dfNow = Now();
    MOOSMSG_LIST Reply(1);
    Reply.front().m_dfVal = dfNow;
    Reply.front().m_dfTime = dfNow;
    Reply.front().m_sSrc = kLocalServerName;
    std::size_t nDropped = 0;
    m_Db.Exchange(Conn.nId, Incoming, dfNow, Reply, nDropped);
    if (nDropped > 0)
        MOOSTrace("LocalServer: %zu messages for \"%s\" dropped: its queue was full\n", nDropped,
                  Conn.sName.c_str());
    if (m_Log.Write(dfNow, Incoming) > 0)
        NotifyChanged();
    CMOOSCommPkt Out;
    if (!Out.Serialize(Reply, true))
        throw CMOOSException("cannot build the reply packet");
    Conn.Link.SendPacket(Out);
    return true;
}

void CLocalServer::Impl::Finish(const std::shared_ptr<Connection>& pConn)
{
    {
        std::lock_guard<std::mutex> Guard(m_Lock);
        auto it = m_ByName.find(pConn->sName);
        if (it != m_ByName.end() && it->second == pConn)
        {
            m_ByName.erase(it);
            m_Db.RemoveClient(pConn->nId);
        }
        --m_nOpen;
        m_Changed.notify_all();
    }
    pConn->Link.Close();
    pConn->bFinished = true;
}

bool CLocalServer::Impl::Disconnect(const std::string& sName)
{
    std::lock_guard<std::mutex> Guard(m_Lock);
    auto it = m_ByName.find(sName);
    if (it == m_ByName.end())
        return false;
    it->second->Link.Hangup();
    return true;
}

template <class Predicate>
bool CLocalServer::Impl::WaitUntil(double dfSeconds, Predicate Holds) const
{
    std::unique_lock<std::mutex> Guard(m_Lock);
    auto Limit = std::chrono::duration<double>(std::max(0.0, dfSeconds));
    return m_Changed.wait_for(Guard, Limit, Holds);
}

// ---------------------------------------------------------------------------
// The public face.

CLocalServer::CLocalServer(LocalServerOptions Options) : m_pImpl(new Impl(std::move(Options))) {}

CLocalServer::~CLocalServer() = default;

bool CLocalServer::Start(const std::string& sAddress, int nPort)
{
    return m_pImpl->Start(sAddress, nPort);
}

void CLocalServer::Stop()
{
    m_pImpl->Stop();
}

bool CLocalServer::IsRunning() const
{
    return m_pImpl->m_bRunning;
}

int CLocalServer::GetPort() const
{
    return m_pImpl->m_nPort;
}

std::string CLocalServer::GetError() const
{
    std::lock_guard<std::mutex> Guard(m_pImpl->m_Lock);
    return m_pImpl->m_sError;
}

double CLocalServer::GetTime() const
{
    return m_pImpl->Now();
}

std::vector<std::string> CLocalServer::GetClientNames() const
{
    std::lock_guard<std::mutex> Guard(m_pImpl->m_Lock);
    std::vector<std::string> Names;
    for (const auto& Named : m_pImpl->m_ByName)
        Names.push_back(Named.first);
    return Names;
}

bool CLocalServer::IsClientConnected(const std::string& sName) const
{
    std::lock_guard<std::mutex> Guard(m_pImpl->m_Lock);
    return m_pImpl->IsNamed(sName);
}

std::size_t CLocalServer::GetConnectionCount() const
{
    return m_pImpl->m_nOpen;
}

std::size_t CLocalServer::GetNotificationCount() const
{
    return m_pImpl->m_Db.GetNotificationCount();
}

std::size_t CLocalServer::GetDroppedCount() const
{
    return m_pImpl->m_Db.GetDroppedCount();
}

std::size_t CLocalServer::GetDroppedCount(const std::string& sName) const
{
    return m_pImpl->m_Db.GetDroppedCount(sName);
}

std::size_t CLocalServer::GetRefusedCount() const
{
    return m_pImpl->m_nRefused;
}

bool CLocalServer::GetValue(const std::string& sKey, CMOOSMsg& Msg) const
{
    return m_pImpl->m_Db.GetValue(sKey, Msg);
}

bool CLocalServer::Disconnect(const std::string& sName)
{
    return m_pImpl->Disconnect(sName);
}

bool CLocalServer::WaitForClient(const std::string& sName, double dfSeconds) const
{
    return m_pImpl->WaitUntil(dfSeconds, [&] { return m_pImpl->IsNamed(sName); });
}

bool CLocalServer::WaitForClientGone(const std::string& sName, double dfSeconds) const
{
    return m_pImpl->WaitUntil(dfSeconds, [&] { return !m_pImpl->IsNamed(sName); });
}

bool CLocalServer::WaitForNotifications(std::size_t nCount, double dfSeconds) const
{
    return m_pImpl->WaitUntil(dfSeconds,
                              [&] { return m_pImpl->m_Db.GetNotificationCount() >= nCount; });
}
