#include "MOOSLIB/MOOSCommClient.h"

#include "MOOSLIB/MOOSProtocol.h"

#include "MOOSLIB/MOOSCommPkt.h"
#include "MOOSLIB/MOOSException.h"
#include "MOOSLIB/MOOSGenLibGlobalHelper.h"
#include "MOOSLIB/XPCTcpSocket.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <thread>

namespace
{

using Guard = std::lock_guard<CMOOSLock>;

// Everything the outbox holds goes out in one packet after the header.
constexpr unsigned long long kMaxOutBoxBytes = MOOS_MAX_PKT_LENGTH - MOOS_PKT_HEADER_LENGTH;

// Into a log, a try that did not get through is written at most this often.
constexpr double kJournalTrySeconds = 10.0;

// Turns that posts start are never closer together than this (wall clock).
constexpr std::chrono::milliseconds kMinTurnGap(1);

void TraceResult(bool bOk, const char* sFail)
{
    MOOSTrace("%s", bOk ? "ok\n" : sFail);
}

} // namespace

bool ClientLoopProc(void* pParameter)
{
    auto* pClient = static_cast<CMOOSCommClient*>(pParameter);
    return pClient != nullptr && pClient->ClientLoop();
}

// ----- Construction and lifecycle ---------------------------------------------

CMOOSCommClient::CMOOSCommClient()
{
    SocketsInit();
    SetVerboseDebug(false);
}

CMOOSCommClient::~CMOOSCommClient()
{
    Close(true);
}

bool CMOOSCommClient::Run(const char* sServer, long lPort, const char* sMyName,
                          unsigned int nFundamentalFrequency)
{
    // The running loop reads the server and the name without a lock; they
    // must not change under it.
    if (m_ClientThread.IsThreadRunning())
        return MOOSFail("the comms client is already running: Close it before running it again");
    m_bQuit = false;
    DoBanner();
    m_sDBHost = sServer != nullptr ? sServer : "";
    m_lPort = lPort;
    m_sMyName = sMyName != nullptr ? sMyName : "";
    if (GetCallBack(&CMOOSCommClient::m_OnConnect).pfn == nullptr)
        MOOSTrace("Warning no connect call back has been specified\n");
    if (nFundamentalFrequency > kMaxCommsTick)
    {
        MOOSTrace("Setting Fundamental Freq to maximum value of %d Hz\n", kMaxCommsTick);
        nFundamentalFrequency = kMaxCommsTick;
    }
    m_nFundamentalFreq = nFundamentalFrequency;
    StartThreads();
    return true;
}

bool CMOOSCommClient::StartThreads()
{
    m_bQuit = false;
    m_bReachedServer = false;
    if (!m_ClientThread.Initialise(ClientLoopProc, this))
        return false;
    return m_ClientThread.Start(false);
}

bool CMOOSCommClient::Close(bool /*bNice*/)
{
    m_bQuit = true;
    WakeClientThread();
    m_ClientThread.Stop();
    for (int nPauses = 0; m_bClientLoopIsRunning; ++nPauses)
    {
        if (nPauses > 100)
        {
            MOOSTrace("failed to close MOOSClient object! Most Strange.\n");
            return false;
        }
        MOOSPause(100);
    }
    ClearResources();
    return true;
}

void CMOOSCommClient::DoBanner()
{
    MOOSTrace("****************************************************\n");
    MOOSTrace("*                                                  *\n");
    MOOSTrace("*       This is MOOS Client                        *\n");
    MOOSTrace("*                                                  *\n");
    MOOSTrace("****************************************************\n");
}

std::string CMOOSCommClient::GetDescription()
{
    return MOOSFormat("%s:%d", m_sDBHost.c_str(), static_cast<int>(m_lPort));
}

std::string CMOOSCommClient::GetLocalIPAddress()
{
    char sName[256] = {};
    if (gethostname(sName, 255) != 0)
    {
        MOOSTrace("Error getting host name\n");
        return "unknown";
    }
    return sName;
}

// ----- Callbacks ------------------------------------------------------------------

void CMOOSCommClient::SetOnConnectCallBack(CallBack pfn, void* pParam)
{
    Guard g(m_NamesLock);
    m_OnConnect = {pfn, pParam};
}

void CMOOSCommClient::SetOnDisconnectCallBack(CallBack pfn, void* pParam)
{
    Guard g(m_NamesLock);
    m_OnDisconnect = {pfn, pParam};
}

void CMOOSCommClient::SetOnMailCallBack(CallBack pfn, void* pParam)
{
    Guard g(m_NamesLock);
    m_OnMail = {pfn, pParam};
}

bool CMOOSCommClient::HasMailCallBack()
{
    return GetCallBack(&CMOOSCommClient::m_OnMail).pfn != nullptr;
}

CMOOSCommClient::CallBackSlot CMOOSCommClient::GetCallBack(CallBackSlot CMOOSCommClient::*pSlot)
{
    Guard g(m_NamesLock);
    return this->*pSlot;
}

// Calls the callback without any lock held, so that it may post and register.
void CMOOSCommClient::CallBackAndReport(CallBackSlot CMOOSCommClient::*pSlot, const char* sIntro,
                                        const char* sFail)
{
    const CallBackSlot Slot = GetCallBack(pSlot);
    if (Slot.pfn == nullptr)
        return;
    MOOSTrace("%s", sIntro);
    TraceResult(Slot.pfn(Slot.pParam), sFail);
}

// ----- Settings -------------------------------------------------------------------

bool CMOOSCommClient::SetCommsTick(int nCommsTick)
{
    if (nCommsTick > static_cast<int>(kMaxCommsTick))
    {
        MOOSTrace("Setting Fundamental Freq to maximum value of %d Hz\n", kMaxCommsTick);
        m_nFundamentalFreq = kMaxCommsTick;
        return false;
    }
    MOOSTrace("setting comms tick\n");
    const auto nFreq = static_cast<unsigned int>(nCommsTick);
    m_nFundamentalFreq = nFreq == 0 ? 1 : nFreq;
    return true;
}

void CMOOSCommClient::SetVerboseDebug(bool bT)
{
    m_bVerboseDebug = bT;
}

bool CMOOSCommClient::SetReplyTimeOut(double dfSeconds)
{
    if (!(dfSeconds > 0.0) || !std::isfinite(dfSeconds))
        return MOOSFail("the reply time-out must be a positive number of seconds");
    m_dfReplyTimeOut = dfSeconds;
    return true;
}

void CMOOSCommClient::SetSendImmediately(bool bSendImmediately)
{
    m_bSendImmediately = bSendImmediately;
    WakeClientThread(); // a pause begun under the old setting ends now
}

bool CMOOSCommClient::GetSendImmediately() const
{
    return m_bSendImmediately;
}

bool CMOOSCommClient::FakeSource(bool bFake)
{
    m_bFakeSource = bFake;
    return true;
}

bool CMOOSCommClient::HasReachedServer()
{
    return m_bReachedServer;
}

bool CMOOSCommClient::IsConnected()
{
    return m_bConnected;
}

bool CMOOSCommClient::IsRunning()
{
    return m_ClientThread.IsThreadRunning();
}

// A message posted before the call is either in the turn now in flight or
// still in the outbox, which the turn after it takes: two completed turns
// carry it. While a flush waits, turns follow each other without their pause,
// so that it takes two round trips, not two comms ticks.
bool CMOOSCommClient::Flush(double dfMaxSeconds)
{
    const unsigned long nCarried = m_nTurnsCompleted + 2;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration<double>(std::max(0.0, dfMaxSeconds));
    ++m_nFlushing;
    WakeClientThread();
    while (m_bConnected && m_nTurnsCompleted < nCarried &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    --m_nFlushing;
    return m_nTurnsCompleted >= nCarried;
}

// ----- Posting ----------------------------------------------------------------------

bool CMOOSCommClient::Post(CMOOSMsg& msg)
{
    if (!QueueMsg(msg))
        return false;
    if (m_bSendImmediately)
        WakeClientThread();
    return true;
}

bool CMOOSCommClient::QueueMsg(CMOOSMsg& msg)
{
    Guard g(m_OutLock);
    // Looked at under the outbox lock: the clean-up after a lost connection
    // clears the flag before it empties the outbox, so nothing posted for a
    // dead connection can survive into the next one.
    if (!m_bConnected)
        return false;
    if (!(m_bFakeSource && msg.IsType(MOOS_NOTIFY)))
        msg.m_sSrc = m_sMyName;
    if (!OutboxHasRoomFor(msg))
        return false;
    msg.m_nID = msg.IsType(MOOS_SERVER_REQUEST) ? MOOS_SERVER_REQUEST_ID : NextMessageID();
    m_OutBox.push_front(msg);
    m_nOutBoxBytes += msg.GetSizeInBytesWhenSerialised();
    if (m_OutBox.size() > m_nOutPendingLimit)
    {
        MOOSTrace("\nThe outbox is very full. This is suspicious and dangerous.\n");
        MOOSTrace("\nRemoving old unsent messages as new ones are added\n");
        m_nOutBoxBytes -= m_OutBox.back().GetSizeInBytesWhenSerialised();
        m_OutBox.pop_back();
    }
    m_bPostWaiting = true;
    return true;
}

// Called with the outbox lock held. Refusing here, rather than building a
// packet the server would refuse, keeps the connection and tells the caller.
bool CMOOSCommClient::OutboxHasRoomFor(const CMOOSMsg& msg)
{
    const unsigned long long nBytes = msg.GetSizeInBytesWhenSerialised();
    if (nBytes > MOOS_MAX_MSG_LENGTH)
        return MOOSFail("cannot post \"%s\": its %llu bytes are more than the %d bytes a "
                        "message may take",
                        msg.m_sKey.c_str(), nBytes, MOOS_MAX_MSG_LENGTH);
    if (m_nOutBoxBytes + nBytes > kMaxOutBoxBytes)
        return MOOSFail("cannot post \"%s\" now: the outbox already holds %llu bytes and one "
                        "packet carries at most %llu; try again after the next turn",
                        msg.m_sKey.c_str(), m_nOutBoxBytes, kMaxOutBoxBytes);
    return true;
}

// Taking the wake lock before notifying means a client thread about to wait
// either sees m_bPostWaiting already set or is waiting when notified.
void CMOOSCommClient::WakeClientThread()
{
    {
        std::lock_guard<std::mutex> g(m_WakeLock);
    }
    m_WakeUp.notify_one();
}

// Called with the outbox lock held. Wraps to 0 rather than overflow: the
// negative IDs mean something else (-2 is a server request).
int CMOOSCommClient::NextMessageID()
{
    const int nID = m_nNextMsgID;
    m_nNextMsgID = nID == std::numeric_limits<int>::max() ? 0 : nID + 1;
    return nID;
}

bool CMOOSCommClient::NotifyMsg(const std::string& sVar, CMOOSMsg& msg)
{
    {
        Guard g(m_NamesLock);
        m_Published.insert(sVar);
    }
    return Post(msg);
}

bool CMOOSCommClient::Notify(const std::string& sVar, double dfVal, double dfTime)
{
    CMOOSMsg msg(MOOS_NOTIFY, sVar, dfVal, dfTime);
    return NotifyMsg(sVar, msg);
}

bool CMOOSCommClient::Notify(const std::string& sVar, double dfVal, const std::string& sSrcAux,
                             double dfTime)
{
    CMOOSMsg msg(MOOS_NOTIFY, sVar, dfVal, dfTime);
    msg.SetSourceAux(sSrcAux);
    return NotifyMsg(sVar, msg);
}

bool CMOOSCommClient::Notify(const std::string& sVar, const std::string& sVal, double dfTime)
{
    CMOOSMsg msg(MOOS_NOTIFY, sVar, sVal, dfTime);
    return NotifyMsg(sVar, msg);
}

bool CMOOSCommClient::Notify(const std::string& sVar, const std::string& sVal,
                             const std::string& sSrcAux, double dfTime)
{
    CMOOSMsg msg(MOOS_NOTIFY, sVar, sVal, dfTime);
    msg.SetSourceAux(sSrcAux);
    return NotifyMsg(sVar, msg);
}

bool CMOOSCommClient::Notify(const std::string& sVar, void* pData, unsigned int nSize,
                             double dfTime)
{
    return Notify(sVar, pData, nSize, std::string(), dfTime);
}

bool CMOOSCommClient::Notify(const std::string& sVar, void* pData, unsigned int nSize,
                             const std::string& sSrcAux, double dfTime)
{
    if (pData == nullptr && nSize > 0)
        return MOOSFail("cannot notify \"%s\": no data behind %u bytes", sVar.c_str(), nSize);
    const std::string sBytes(static_cast<const char*>(pData), nSize);
    CMOOSMsg msg(MOOS_NOTIFY, sVar, sBytes, dfTime);
    msg.MarkAsBinary();
    msg.SetSourceAux(sSrcAux);
    return NotifyMsg(sVar, msg);
}

// The names lock is held across the post so that the check, the post and the
// record are one step against a concurrent Register or clean-up.
bool CMOOSCommClient::Register(const std::string& sVar, double dfInterval)
{
    if (sVar.empty())
        return MOOSFail("\n ** WARNING ** Cannot register for \"\" (empty string)\n");
    Guard g(m_NamesLock);
    if (m_Registered.count(sVar) != 0)
        return false;
    CMOOSMsg msg(MOOS_REGISTER, sVar, dfInterval, -1);
    if (!Post(msg))
        return false;
    m_Registered.insert(sVar);
    return true;
}

bool CMOOSCommClient::UnRegister(const std::string& sVar)
{
    Guard g(m_NamesLock);
    if (m_Registered.count(sVar) == 0)
        return true;
    CMOOSMsg msg(MOOS_UNREGISTER, sVar, 0.0, -1);
    if (!Post(msg))
        return false;
    m_Registered.erase(sVar);
    return true;
}

bool CMOOSCommClient::IsRegisteredFor(const std::string& sVariable)
{
    Guard g(m_NamesLock);
    return m_Registered.count(sVariable) != 0;
}

std::set<std::string> CMOOSCommClient::GetPublished()
{
    Guard g(m_NamesLock);
    return m_Published;
}

std::set<std::string> CMOOSCommClient::GetRegistered()
{
    Guard g(m_NamesLock);
    return m_Registered;
}

bool CMOOSCommClient::ServerRequest(const std::string& sWhat, MOOSMSG_LIST& MsgList,
                                    double dfTimeOut, bool bClear)
{
    if (!m_bConnected)
        return false;
    CMOOSMsg msg(MOOS_SERVER_REQUEST, sWhat, std::string(), -1);
    Post(msg);
    if (msg.m_nID != MOOS_SERVER_REQUEST_ID)
        return MOOSFail("Logical Error in ::ServerRequest");
    // Counted in pauses, so that the wait follows the time warp like every
    // other pause of the client.
    for (double dfElapsed = 0.0; dfElapsed < dfTimeOut; dfElapsed += 0.1)
    {
        if (Peek(MsgList, MOOS_SERVER_REQUEST_ID, bClear))
            return true;
        MOOSPause(100);
    }
    return false;
}

// ----- Taking mail ----------------------------------------------------------------

bool CMOOSCommClient::Fetch(MOOSMSG_LIST& MsgList)
{
    if (!m_bMailPresent)
        return false;
    MsgList.clear();
    {
        Guard g(m_InLock);
        // The inbox holds the newest first; inserting each at the front
        // gives the caller the arrival order.
        for (CMOOSMsg& msg : m_InBox)
        {
            if (!msg.IsType(MOOS_NULL_MSG))
                MsgList.push_front(std::move(msg));
        }
        m_InBox.clear();
        m_bMailPresent = false;
    }
    return !MsgList.empty();
}

bool CMOOSCommClient::Peek(MOOSMSG_LIST& MsgList, int nIDRequired, bool bClear)
{
    MsgList.clear();
    Guard g(m_InLock);
    for (auto it = m_InBox.begin(); it != m_InBox.end();)
    {
        auto next = std::next(it);
        if (!it->IsType(MOOS_NULL_MSG) && it->m_nID == nIDRequired)
            MsgList.splice(MsgList.begin(), m_InBox, it);
        it = next;
    }
    if (bClear)
        m_InBox.clear();
    return !MsgList.empty();
}

bool CMOOSCommClient::PeekMail(MOOSMSG_LIST& Mail, const std::string& sKey, CMOOSMsg& Msg,
                               bool bErase, bool bFindYoungest)
{
    auto chosen = Mail.end();
    double dfYoungest = -1.0;
    for (auto it = Mail.begin(); it != Mail.end(); ++it)
    {
        if (it->m_sKey != sKey)
            continue;
        if (!bFindYoungest)
        {
            chosen = it;
            break;
        }
        if (it->m_dfTime > dfYoungest)
        {
            dfYoungest = it->m_dfTime;
            chosen = it;
        }
    }
    if (chosen == Mail.end())
        return false;
    Msg = *chosen;
    if (bErase)
        Mail.erase(chosen);
    return true;
}

bool CMOOSCommClient::PeekAndCheckMail(MOOSMSG_LIST& Mail, const std::string& sKey, CMOOSMsg& Msg,
                                       bool bErase, bool bFindYoungest)
{
    if (!PeekMail(Mail, sKey, Msg, bErase, bFindYoungest))
        return false;
    return !Msg.IsSkewed(MOOSTime() - 5.0, nullptr);
}

// ----- Clean-up ----------------------------------------------------------------------

bool CMOOSCommClient::ClearResources()
{
    MOOSTrace("purging out box...");
    {
        Guard g(m_OutLock);
        m_OutBox.clear();
        m_nOutBoxBytes = 0;
        m_bPostWaiting = false;
    }
    MOOSTrace("done\n");
    MOOSTrace("purging in box...");
    {
        Guard g(m_InLock);
        m_InBox.clear();
    }
    MOOSTrace("done\n");
    MOOSTrace("clearing registered set...");
    {
        Guard g(m_NamesLock);
        m_Registered.clear();
    }
    MOOSTrace("done\n");
    return true;
}

bool CMOOSCommClient::OnCloseConnection()
{
    MOOSTrace("closing connection...");
    DestroySocket();
    m_bConnected = false;
    MOOSTrace("done\n");
    ClearResources();
    CallBackAndReport(&CMOOSCommClient::m_OnDisconnect, "Invoking User OnDisconnect() callback...",
                      "returned fail\n");
    return true;
}

void CMOOSCommClient::DestroySocket()
{
    if (m_pSocket)
        m_pSocket->vCloseSocket();
    m_pSocket.reset();
}

// ----- Connection and handshake (client thread) ---------------------------------

bool CMOOSCommClient::ConnectToServer()
{
    if (m_bConnected)
    {
        MOOSTrace("attempt to connect to server whilst already connected...\n");
        return true;
    }
    MOOSTrace("\n---------------MOOS CONNECT-----------------------\n");
    if (!ReachServer())
    {
        MOOSTrace("ConnectToServer returns early\n");
        return false;
    }
    MOOSTrace("\n  Contact Made\n");
    const HandShakeResult Result = ShakeHands();
    if (Result != HandShakeResult::kWelcomed)
    {
        // A server that refuses us will refuse us again: stop for good. A
        // handshake cut short (a server restarting, a reset, a lost or
        // unreadable welcome) is retried like a lost connection.
        if (Result == HandShakeResult::kRefused)
            m_bQuit = true;
        DestroySocket();
        return false;
    }
    m_bConnected = true;
    CallBackAndReport(&CMOOSCommClient::m_OnConnect, "  Invoking User OnConnect() callback...",
                      "fail\n");
    MOOSTrace("--------------------------------------------------\n\n");
    return true;
}

// Tries until a connection is made (true) or the client is closing (false).
// On a terminal every try rewrites one line in place; into a log, shown tries
// are whole lines at a bounded rate, and the try that gets through is always
// shown, so its number counts every attempt.
bool CMOOSCommClient::ReachServer()
{
    const bool bTerminal = isatty(fileno(stderr)) != 0;
    double dfLastShown = 0.0;
    for (int nAttempt = 1; !m_bQuit; ++nAttempt)
    {
        const double dfNow = MOOSSteadySeconds();
        const bool bShow = bTerminal || nAttempt == 1 || dfNow - dfLastShown >= kJournalTrySeconds;
        if (bShow)
        {
            TraceTry(nAttempt, bTerminal ? "" : "\n");
            dfLastShown = dfNow;
        }
        if (TryConnectOnce())
        {
            m_bReachedServer = true;
            if (!bShow)
                TraceTry(nAttempt, "\n");
            return true;
        }
        MOOSPause(100);
        if (bTerminal)
            MOOSTrace("\r");
    }
    return false;
}

void CMOOSCommClient::TraceTry(int nAttempt, const char* sEnd)
{
    MOOSTrace("  contacting a MOOS server %s:%d -  try %.5d %s", m_sDBHost.c_str(),
              static_cast<int>(m_lPort), nAttempt, sEnd);
}

// One attempt on a fresh socket. A socket the system will not give us is
// retried like a refused connection.
bool CMOOSCommClient::TryConnectOnce()
{
    try
    {
        if (!m_pSocket)
            m_pSocket = std::make_unique<XPCTcpSocket>(m_lPort);
        m_pSocket->vConnect(m_sDBHost.c_str());
    }
    catch (XPCException& e)
    {
        if (!m_pSocket)
            MOOSTrace("(%s)", e.sGetException());
        DestroySocket();
        return false;
    }
    LimitSendWait();
    return true;
}

// A send into a server that has stopped reading must not block the client
// thread (and with it Close) for ever: after the reply time-out the send
// comes back short and the turn fails.
void CMOOSCommClient::LimitSendWait()
{
    const double dfSeconds = m_dfReplyTimeOut;
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(dfSeconds);
    tv.tv_usec = static_cast<suseconds_t>((dfSeconds - static_cast<double>(tv.tv_sec)) * 1e6);
    if (setsockopt(m_pSocket->iGetSocketFd(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv)) != 0)
        MOOSTrace("cannot bound the send wait: %s\n", XPCSocket::sGetError());
}

bool CMOOSCommClient::HandShake()
{
    return ShakeHands() == HandShakeResult::kWelcomed;
}

CMOOSCommClient::HandShakeResult CMOOSCommClient::ShakeHands()
{
    MOOSTrace("  Handshaking as \"%s\"\n", m_sMyName.c_str());
    SetMOOSSkew(0.0);
    try
    {
        SendIdentification();
        CMOOSMsg Greeting(MOOS_DATA, "", m_sMyName, -1);
        SendMsg(m_pSocket.get(), Greeting);
        const CMOOSMsg Reply = ReadWelcome();
        if (Reply.IsType(MOOS_POISON))
        {
            MOOSTrace("..failed\n");
            MOOSTrace("->   MOOS Server Poisoned me....\n");
            MOOSTrace("->   What I did wrong was :\"%s\"", Reply.m_sVal.c_str());
            return HandShakeResult::kRefused;
        }
        MOOSTrace("  Handshaking Complete\n");
        // A skew that is not a number would spoil MOOS time for good.
        SetMOOSSkew(std::isfinite(Reply.m_dfVal) ? Reply.m_dfVal : 0.0);
        return HandShakeResult::kWelcomed;
    }
    catch (const CMOOSException& e)
    {
        MOOSTrace("Exception in hand shaking : %s", e.m_sReason);
        return HandShakeResult::kFailed;
    }
}

void CMOOSCommClient::SendIdentification()
{
    const MOOSProtocolBlock& Block = MOOSIdentificationBlock();
    int nSent = 0;
    try
    {
        nSent = m_pSocket->iSendMessage(Block.data(), static_cast<int>(Block.size()));
    }
    catch (XPCException& e)
    {
        throw CMOOSException(MOOSFormat("protocol block not sent: %s", e.sGetException()));
    }
    if (nSent != static_cast<int>(Block.size()))
        throw CMOOSException("protocol block not sent whole");
}

// The server's one answer to the greeting: the last message read from its
// packet. An unreadable message at the end does not undo the answer read
// before it; a damaged packet of which nothing can be read, or one that holds
// no message, is no answer at all (taking it would set a skew of -1 s).
CMOOSMsg CMOOSCommClient::ReadWelcome()
{
    CMOOSCommPkt Pkt;
    ReadBoundedPkt(Pkt);
    MOOSMSG_LIST Messages;
    if (!Pkt.Serialize(Messages, false, false, nullptr) && Messages.empty())
        throw CMOOSException("damaged welcome packet");
    if (Messages.empty())
        throw CMOOSException("empty welcome packet");
    return Messages.front();
}

// ----- Bounded receive (client thread) -------------------------------------------

// Gathers one whole packet within the reply time-out, however the peer cuts it
// up, looking at the quit flag between slices of the wait.
void CMOOSCommClient::ReadBoundedPkt(CMOOSCommPkt& Pkt)
{
    ReadBounds Bounds;
    Bounds.dfWholePktSeconds = m_dfReplyTimeOut;
    Bounds.CheckAbort = [this]
    {
        if (m_bQuit)
            throw CMOOSException("the client is closing");
    };
    ReadPkt(m_pSocket.get(), Pkt, Bounds);
}

// ----- Client loop (client thread) --------------------------------------------------

bool CMOOSCommClient::ClientLoop()
{
    m_bClientLoopIsRunning = true;
    double dfTickMark = MOOSLocalTime();
    while (!m_bQuit)
    {
        if (ConnectToServer())
            RunTurns(dfTickMark);
        PauseUnless(1000, [this] { return m_bQuit.load(); });
    }
    DestroySocket();
    m_bConnected = false;
    m_bClientLoopIsRunning = false;
    return true;
}

void CMOOSCommClient::RunTurns(double& dfTickMark)
{
    m_TurnDue = std::chrono::steady_clock::now();
    while (!m_bQuit)
    {
        if (m_bVerboseDebug)
        {
            MOOSTrace("COMMSCLIENT DEBUG: Tick period %f ms (should be %d ms)\n",
                      MOOSLocalTime() - dfTickMark, static_cast<int>(1000 / TurnsPerSecond()));
            dfTickMark = MOOSLocalTime();
        }
        if (!DoClientWork())
            return;
        if (m_bVerboseDebug)
            MOOSTrace("COMMSCLIENT DEBUG: DoClientWork takes %fs\n", MOOSLocalTime() - dfTickMark);
        PauseBetweenTurns();
    }
}

// Turns are due one period apart on the steady clock, so the time a turn
// itself takes does not stretch the period; a turn that woke late or ran
// long is followed at once. A client that fell more than a period behind (a
// slow server, say) pauses a whole period from now instead of catching up. Off: the tick's pause.
// On: the same pause, cut short by a post, and the next turns are then due a period after that
// early one. Either way Close and Flush end it at once, and turns stay at least the minimum gap
// apart.
void CMOOSCommClient::PauseBetweenTurns()
{
    const auto Start = std::chrono::steady_clock::now();
    const auto Period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double, std::milli>(1000.0 / TurnsPerSecond() / GetMOOSTimeWarp()));
    m_TurnDue += Period;
    if (m_TurnDue + Period < Start)
        m_TurnDue = Start + Period;
    const bool bWakeOnPost = m_bSendImmediately;
    PauseUntil(m_TurnDue, [this, bWakeOnPost]
               { return m_bQuit || m_nFlushing > 0 || (bWakeOnPost && m_bPostWaiting); });
    std::this_thread::sleep_until(Start + kMinTurnGap);
    m_TurnDue = std::min(m_TurnDue, std::chrono::steady_clock::now());
}

// Waits dfMS milliseconds of MOOS time (shortened by the time warp, as
// MOOSPause does) or until Done holds.
template <class Predicate> void CMOOSCommClient::PauseUnless(double dfMS, Predicate Done)
{
    const std::chrono::duration<double, std::milli> Pause(dfMS / GetMOOSTimeWarp());
    PauseUntil(std::chrono::steady_clock::now() +
                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(Pause),
               Done);
}

// Waits until the steady clock reaches Due or until Done holds, looked at
// whenever the thread is woken.
template <class Predicate>
void CMOOSCommClient::PauseUntil(std::chrono::steady_clock::time_point Due, Predicate Done)
{
    std::unique_lock<std::mutex> Lock(m_WakeLock);
    m_WakeUp.wait_until(Lock, Due, Done);
}

// The fundamental frequency, with 0 (accepted by Run) turned into 1.
unsigned int CMOOSCommClient::TurnsPerSecond()
{
    unsigned int nZero = 0;
    m_nFundamentalFreq.compare_exchange_strong(nZero, 1);
    return m_nFundamentalFreq;
}

bool CMOOSCommClient::DoClientWork()
{
    try
    {
        CMOOSCommPkt PktTx;
        BuildOutgoingPkt(PktTx);
        const double dfTxTime = MOOSLocalTime();
        if (m_bVerboseDebug)
            MOOSTrace("COMMSERVER DEBUG: instigated call in to DB at %f\n", dfTxTime);
        SendPkt(m_pSocket.get(), PktTx);
        CMOOSCommPkt PktRx;
        ReadBoundedPkt(PktRx);
        const double dfRxTime = MOOSLocalTime();
        if (m_bVerboseDebug)
            MOOSTrace("COMMSERVER DEBUG: completed call to DB after %f s\n", dfRxTime - dfTxTime);
        StoreReply(PktRx, dfTxTime, dfRxTime);
        ++m_nTurnsCompleted;
    }
    catch (const CMOOSException& e)
    {
        // A turn cut short by Close is not a lost connection: the loop ends
        // and tears down without telling the application of a disconnect.
        if (m_bQuit)
            return false;
        MOOSTrace("Exception in ClientLoop() : %s\n", e.m_sReason);
        OnCloseConnection();
        return false;
    }
    CallMailCallBack();
    return true;
}

// Moves the whole outbox (newest first) into the packet; from here on the
// posted messages exist only in the packet.
void CMOOSCommClient::BuildOutgoingPkt(CMOOSCommPkt& Pkt)
{
    Guard g(m_OutLock);
    if (m_OutBox.empty())
    {
        CMOOSMsg Null;
        Null.m_sSrc = m_sMyName;
        m_OutBox.push_front(Null);
    }
    const bool bOk = Pkt.Serialize(m_OutBox, true, false, nullptr);
    m_OutBox.clear();
    m_nOutBoxBytes = 0;
    m_bPostWaiting = false;
    if (!bOk)
        throw CMOOSException("Serialisation Failed - this must be a lot of mail...");
}

void CMOOSCommClient::StoreReply(CMOOSCommPkt& Pkt, double dfTxTime, double dfRxTime)
{
    double dfServerTime = std::numeric_limits<double>::quiet_NaN();
    bool bWhole = true;
    {
        Guard g(m_InLock);
        if (m_InBox.size() > m_nInPendingLimit)
        {
            MOOSTrace("Too many unread incoming messages [%d] : purging\n",
                      static_cast<int>(m_InBox.size()));
            MOOSTrace("The user must read mail occasionally");
            m_InBox.clear();
        }
        // The packet arrived whole, so the connection is sound: an unreadable
        // message only hides where the ones after it begin. The messages read
        // before it are good mail and are handed out; the rest is dropped.
        bWhole = Pkt.Serialize(m_InBox, false, true, &dfServerTime);
        m_bMailPresent = true;
    }
    if (!bWhole)
        MOOSTrace("an unreadable message in the server's reply: the rest of that packet is "
                  "dropped\n");
    if (std::isfinite(dfServerTime))
        UpdateMOOSSkew(dfTxTime, dfServerTime, dfRxTime);
}

void CMOOSCommClient::CallMailCallBack()
{
    const CallBackSlot Slot = GetCallBack(&CMOOSCommClient::m_OnMail);
    // Another thread's Fetch may already have taken the mail.
    if (Slot.pfn == nullptr || !m_bMailPresent)
        return;
    if (!Slot.pfn(Slot.pParam))
        MOOSTrace("user mail callback returned false..is all ok?\n");
}

bool CMOOSCommClient::UpdateMOOSSkew(double /*dfRqTime*/, double dfTxTime, double dfRxTime)
{
    const double dfEstimate = dfTxTime - dfRxTime;
    const double dfOldSkew = GetMOOSSkew();
    SetMOOSSkew(dfOldSkew == 0.0 ? dfEstimate : 0.9 * dfOldSkew + 0.1 * dfEstimate);
    return true;
}
