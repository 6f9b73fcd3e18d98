// CMOOSCommClient: this process's client of the MOOS server.
//
// The client owns two mail boxes: the outbox (messages posted and not yet
// sent, newest at the front, at most 1000) and the inbox (messages received
// and not yet fetched, newest packet first, purged when it holds more than
// 1000). Its own thread (the client thread, started by Run) connects to the
// server, handshakes, and then exchanges exactly one packet each way per turn
// at the fundamental frequency: the whole outbox out, the server's mail in.
// Turns are due a whole period apart, however long each takes; a client that
// falls more than a period behind pauses a whole period rather than catching
// up.
//
// Two threads meet only at the mail boxes and the name sets:
//   - the application's thread (any thread, in fact) posts with Post, the
//     Notify family, Register, UnRegister and ServerRequest, and takes mail
//     with Fetch and Peek. None of these calls ever waits for the network
//     (only ServerRequest waits, by design, for its answer to arrive);
//     every posting call fails while no handshaken connection exists.
//   - the client thread runs ClientLoop, the handshake and every network
//     transfer, and calls the connect, disconnect and mail callbacks. The
//     callbacks therefore run beside the application's thread.
// No lock is held across a network transfer or a callback.
//
// Ownership: messages are values; Post copies the caller's message into the
// outbox and Fetch/Peek copy out of the inbox. The client owns the socket of
// the current connection (made afresh for every attempt, used only by the
// client thread). Callback parameters are not owned.
//
// Bounds against a stalled or hostile server: the reply to each packet must
// arrive whole within the reply time-out (10 s unless SetReplyTimeOut says
// otherwise) and may not declare more than MOOS_MAX_PKT_LENGTH bytes, or the
// connection is closed and retried like any failed turn. A send that cannot
// finish within the same time-out fails the same way. A reply whose framing is
// whole but which holds an unreadable message costs only the rest of that
// packet: the messages before the damage are delivered, one trace says what
// was dropped, and the connection stays up. The server's answer to the
// handshake has the same bounds. Only a refusal ('K') stops the client for
// good; every other failed handshake (hang-up, reset, time-out, a welcome of
// which nothing can be read) is traced and retried a second later, like a lost
// connection. The client thread looks at the quit flag every 50 ms of these
// waits, so Close never waits for the full time-out. (Establishing the TCP
// connection itself is the system's blocking connect: to an unreachable host
// it can take the system's own connect time-out.)
//
// Packet size: no packet either way exceeds MOOS_MAX_PKT_LENGTH, the limit the
// server shares. A message larger than MOOS_MAX_MSG_LENGTH can never travel
// and is refused at posting; a post that would take the outbox past what one
// packet can carry is refused as well (false, with a trace, nothing queued),
// so the outbox always goes out as one packet the server accepts.
//
// Connect tries: on a terminal each try rewrites one line in place. When
// standard error is not a terminal (a log file, a service journal), tries are
// whole lines: the first, then at most one every 10 s while the server stays
// away, and the one that gets through, each with its true try number.
//
// Sending at once (SetSendImmediately, off by default): a post wakes the
// client thread from its pause between turns, so the value leaves within a
// round trip instead of waiting up to a whole comms tick. Still one turn at a
// time, each carrying the whole outbox, and turns stay at least 1 ms apart
// (wall clock) so that posting in a tight loop cannot flood the server. The
// connect retry, the second's pause after a lost connection and the wait for
// a reply are never shortened by a post.
//
// Closing: Close ends every pause of the client thread at once (between turns
// and after a lost connection) and its bounded waits within 50 ms, so it
// returns within about a tenth of a second unless a transfer is in flight.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "MOOSLIB/MOOSCommObject.h"
#include "MOOSLIB/MOOSLock.h"
#include "MOOSLIB/MOOSMsg.h"
#include "MOOSLIB/MOOSThread.h"

class XPCTcpSocket;
class CMOOSCommPkt;

// The client thread's entry: runs ClientLoop on the client passed as
// parameter and returns its result.
bool ClientLoopProc(void* pParameter);

class CMOOSCommClient : public CMOOSCommObject
{
public:
    // A connect, disconnect or mail callback; it gets the parameter stored
    // with it and reports success.
    using CallBack = bool (*)(void*);

    static constexpr unsigned int kMaxCommsTick = 200;

    CMOOSCommClient();
    // Closes the client (see Close); destroying a client that never ran still
    // traces the clearing lines.
    ~CMOOSCommClient() override;

    CMOOSCommClient(const CMOOSCommClient&) = delete;
    CMOOSCommClient& operator=(const CMOOSCommClient&) = delete;

    // ----- Lifecycle (owner's thread) --------------------------------------

    // Records the server and the client name, prints the banner and starts
    // the client thread at the given turns per second (above 200 is cut to
    // 200; 0 runs at 1). True once started; false, changing nothing, while
    // the client thread still runs (Close first; a client stopped by a
    // refused handshake can run again once its thread has ended, a second
    // after the refusal).
    bool Run(const char* sServer, long lPort, const char* sMyName,
             unsigned int nFundamentalFrequency = 5);
    // Never call Close from a callback: it joins the thread that runs them.
    // Stops the client thread (its pauses end at once, its bounded waits
    // within 50 ms), then empties the outbox, the inbox and the
    // registered set. The argument is ignored. The disconnect callback is
    // not called. False only when the loop could not be seen to end.
    bool Close(bool bNice = true);
    // Waits, for at most dfMaxSeconds of wall clock, until everything posted
    // before the call has gone to the server in a completed turn, so that a
    // process about to Close does not drop its last values. True when it
    // has; false when not connected, or the connection or the time ran out.
    // While it waits, turns follow each other without the tick's pause, so a
    // flush takes two round trips whatever the comms tick.
    bool Flush(double dfMaxSeconds);

    // The callbacks run on the client thread. They may be set at any time;
    // the connect callback should be set before Run (Run warns otherwise).
    void SetOnConnectCallBack(CallBack pfn, void* pParam);
    void SetOnDisconnectCallBack(CallBack pfn, void* pParam);
    void SetOnMailCallBack(CallBack pfn, void* pParam);
    bool HasMailCallBack();

    // "host:port" of the server given to Run.
    std::string GetDescription();
    // The local host name ("unknown" when the system cannot say).
    static std::string GetLocalIPAddress();
    void DoBanner();

    // Turns per second of the client loop. Above 200: traces the limit, sets
    // 200 and returns false. 0 becomes 1; a negative value is kept as its
    // unsigned bit pattern (a pause of 0 ms).
    bool SetCommsTick(int nCommsTick);
    void SetVerboseDebug(bool bT);
    // How long the client waits for a whole reply (and for a send to
    // finish) before it drops the connection; seconds of wall clock, not
    // warped. Values of 0 or less are refused (false). The send bound takes
    // effect from the next connection.
    bool SetReplyTimeOut(double dfSeconds);
    // Off (the default): posts wait for the next turn, one per comms tick.
    // On: a post cuts the pause between turns short (see the top of this
    // file); may be switched at any time, from any thread.
    void SetSendImmediately(bool bSendImmediately);
    bool GetSendImmediately() const;

    // ----- Posting (any thread; never waits for the network) ----------------

    // Stamps the client name as source (except on a notification while the
    // fake-source flag is set) and the next message number as ID (-2 for a
    // server request) into msg, and queues a copy at the front of the
    // outbox. False, with msg unchanged, while not connected, and with a
    // trace when msg or the outbox would exceed the packet limit. The 1001st
    // queued message pushes out the oldest.
    bool Post(CMOOSMsg& msg);

    // Notifications of a named variable. dfTime -1 means "now" (MOOS time).
    // The name joins the published set even when the post fails.
    bool Notify(const std::string& sVar, double dfVal, double dfTime = -1);
    bool Notify(const std::string& sVar, double dfVal, const std::string& sSrcAux,
                double dfTime = -1);
    bool Notify(const std::string& sVar, const std::string& sVal, double dfTime = -1);
    bool Notify(const std::string& sVar, const std::string& sVal, const std::string& sSrcAux,
                double dfTime = -1);
    // Binary data: exactly nSize bytes from pData (zero bytes included); a
    // null pData with a non-zero size is refused with a trace.
    bool Notify(const std::string& sVar, void* pData, unsigned int nSize, double dfTime = -1);
    bool Notify(const std::string& sVar, void* pData, unsigned int nSize,
                const std::string& sSrcAux, double dfTime = -1);

    // Asks the server for a variable; dfInterval is the interval asked for.
    // False for an empty name (with a warning), for a name already
    // registered on this connection (nothing sent) and while not connected.
    bool Register(const std::string& sVar, double dfInterval);
    // True without sending anything when the name is not registered.
    bool UnRegister(const std::string& sVar);
    bool IsRegisteredFor(const std::string& sVariable);

    // Posts a server request and waits up to dfTimeOut seconds (in 100 ms
    // pauses) for messages with ID -2; bClear is handed to Peek. This call
    // waits for mail, on the calling thread; never call it from a callback.
    bool ServerRequest(const std::string& sWhat, MOOSMSG_LIST& MsgList, double dfTimeOut = 2.0,
                       bool bClear = true);

    // ----- Taking mail (any thread) ------------------------------------------

    // Moves all new mail into MsgList, oldest first, without null messages.
    // True when MsgList is not empty; false with MsgList untouched when no
    // exchange completed since the last Fetch.
    bool Fetch(MOOSMSG_LIST& MsgList);
    // Moves inbox messages with the given ID into MsgList; bClear also drops
    // the rest of the inbox. True when MsgList is not empty.
    bool Peek(MOOSMSG_LIST& MsgList, int nIDRequired, bool bClear = false);

    // Finds a message by name in any list (no lock: the list is the
    // caller's). bErase removes the found message; bFindYoungest searches for
    // the latest time (front-most among equals, times <= -1 never chosen).
    // False, with Msg untouched, when nothing matches.
    static bool PeekMail(MOOSMSG_LIST& Mail, const std::string& sKey, CMOOSMsg& Msg,
                         bool bErase = false, bool bFindYoungest = false);
    // PeekMail, then true only when the message is within 5 s of the current
    // MOOS time minus 5 s. Msg is copied out (and erased when asked) even
    // when the answer is false.
    static bool PeekAndCheckMail(MOOSMSG_LIST& Mail, const std::string& sKey, CMOOSMsg& Msg,
                                 bool bErase = false, bool bFindYoungest = false);

    // ----- State -------------------------------------------------------------

    std::set<std::string> GetPublished();
    std::set<std::string> GetRegistered();
    bool FakeSource(bool bFake);
    bool IsConnected();
    // Whether a server has accepted a connection since Run: true while a
    // handshake is under way, too, so that a slow server can be told from an
    // absent one.
    bool HasReachedServer();
    // Whether the client thread still runs: true from Run until Close, or
    // until a refusal stops the client for good. A client that runs but is
    // not connected is still looking for its server.
    bool IsRunning();

    // Refines the process clock skew from one exchange (request time unused):
    // estimate = server time - reply time; taken whole when the skew is 0,
    // otherwise the skew moves a tenth of the way. Always true.
    bool UpdateMOOSSkew(double dfRqTime, double dfTxTime, double dfRxTime);

    // The client thread's body: connect, turns, reconnect, until quit.
    bool ClientLoop();

protected:
    // ----- Client thread only -------------------------------------------------

    // One turn: send the outbox (or one null message), read the reply into
    // the inbox, refine the skew, call the mail callback. False when the
    // connection failed and has been closed.
    virtual bool DoClientWork();
    // Connects (retrying every 100 ms until quit) and handshakes. A refusal
    // sets the quit flag: the client stops for good. Any other failed
    // handshake returns false with the quit flag clear, so the loop tries
    // again a second later.
    bool ConnectToServer();
    // True when welcomed; false when refused or failed.
    bool HandShake();
    // The one disconnect path: closes the socket, clears the connected flag,
    // the mail boxes and the registered set, and calls the disconnect
    // callback. Always true.
    bool OnCloseConnection();
    // Empties the outbox, the inbox and the registered set. Always true.
    bool ClearResources();
    bool StartThreads();

private:
    struct CallBackSlot
    {
        CallBack pfn = nullptr;
        void* pParam = nullptr;
    };

    enum class HandShakeResult
    {
        kWelcomed,
        kRefused,
        kFailed
    };

    int NextMessageID();
    bool NotifyMsg(const std::string& sVar, CMOOSMsg& msg);
    CallBackSlot GetCallBack(CallBackSlot CMOOSCommClient::*pSlot);
    void CallBackAndReport(CallBackSlot CMOOSCommClient::*pSlot, const char* sIntro,
                           const char* sFail);
    void CallMailCallBack();
    void DestroySocket();
    bool ReachServer();
    bool TryConnectOnce();
    void TraceTry(int nAttempt, const char* sEnd);
    void LimitSendWait();
    HandShakeResult ShakeHands();
    void SendIdentification();
    CMOOSMsg ReadWelcome();
    bool QueueMsg(CMOOSMsg& msg);
    bool OutboxHasRoomFor(const CMOOSMsg& msg);
    void WakeClientThread();
    void PauseBetweenTurns();
    template <class Predicate> void PauseUnless(double dfMS, Predicate Done);
    template <class Predicate>
    void PauseUntil(std::chrono::steady_clock::time_point Due, Predicate Done);
    void ReadBoundedPkt(CMOOSCommPkt& Pkt);
    void RunTurns(double& dfTickMark);
    unsigned int TurnsPerSecond();
    void BuildOutgoingPkt(CMOOSCommPkt& Pkt);
    void StoreReply(CMOOSCommPkt& Pkt, double dfTxTime, double dfRxTime);

    // ----- Fixed while the client thread runs (written by Run) ---------------
    std::string m_sDBHost;
    long m_lPort = 0;
    std::string m_sMyName;

    // ----- Guarded by m_OutLock ------------------------------------------------
    CMOOSLock m_OutLock;
    MOOSMSG_LIST m_OutBox;
    int m_nNextMsgID = 0; // never reset, not even by a reconnection
    unsigned int m_nOutPendingLimit = 1000;
    unsigned long long m_nOutBoxBytes = 0; // byte forms of the queued messages

    // ----- Guarded by m_InLock -------------------------------------------------
    CMOOSLock m_InLock;
    MOOSMSG_LIST m_InBox;
    unsigned int m_nInPendingLimit = 1000;

    // ----- Guarded by m_NamesLock: the name sets and the callbacks. Taken
    // before, never inside, the outbox lock; never held during a callback.
    CMOOSLock m_NamesLock;
    std::set<std::string> m_Published;
    std::set<std::string> m_Registered;
    CallBackSlot m_OnConnect;
    CallBackSlot m_OnDisconnect;
    CallBackSlot m_OnMail;

    // ----- Client thread only ---------------------------------------------------
    std::unique_ptr<XPCTcpSocket> m_pSocket;
    CMOOSThread m_ClientThread;
    std::chrono::steady_clock::time_point m_TurnDue; // when the last turn was due

    // ----- Wakes the pause between turns (send at once). A post sets
    // m_bPostWaiting under the outbox lock, then notifies through m_WakeLock
    // so that a waiter cannot miss it.
    std::mutex m_WakeLock;
    std::condition_variable m_WakeUp;

    // ----- Shared by both threads ------------------------------------------------
    std::atomic<bool> m_bConnected{false};
    std::atomic<bool> m_bReachedServer{false};
    std::atomic<bool> m_bMailPresent{false};
    std::atomic<bool> m_bQuit{false};
    std::atomic<bool> m_bClientLoopIsRunning{false};
    std::atomic<bool> m_bFakeSource{false};
    std::atomic<bool> m_bVerboseDebug{false};
    std::atomic<bool> m_bSendImmediately{false};
    std::atomic<bool> m_bPostWaiting{false}; // a post since the last packet was built
    std::atomic<int> m_nFlushing{0};         // Flush calls waiting for their turns
    std::atomic<unsigned int> m_nFundamentalFreq{5};
    std::atomic<double> m_dfReplyTimeOut{10.0};
    std::atomic<unsigned long> m_nTurnsCompleted{0}; // turns whose reply arrived
};
