// CLocalServer: a small publish/subscribe server for MOOS clients on one host.
//
// It speaks the server side of the client protocol: it reads the 32-byte
// protocol identification block and the greeting ('i' message carrying the
// client's name), welcomes the client with its clock skew or refuses it with a
// 'K' message, and then answers every packet a client sends with exactly one
// packet: a leading null message carrying the server's time, then the mail
// queued for that client, oldest first.
//
// What it does with the messages of a client's packet (in posting order):
//   'N'  keeps the value as the latest one of its key and queues a copy for
//        every client registered for the key (the sender too, if registered);
//   'R'  registers the client for the key; the double value is the minimum
//        interval in seconds between two deliveries to it (0: every one); the
//        current value, if any, is queued at once;
//   'U'  cancels the registration;
//   'Q'  queues an answer with identifier -2: an 'N' message under the
//        request's key whose string value lists the known variables, comma
//        separated and sorted, and whose double value is their number;
//   '.'  and anything else: nothing.
// Per-client queues are bounded (oldest dropped, counted, reported on standard
// error).
//
// One owner per client name: a new connection under a name whose connection
// is alive (a packet heard from it within NameHoldSeconds) is refused with a
// 'K' saying the name is in use, and the live one is left alone. A name whose
// connection has been silent longer than that is taken over: the older
// connection is hung up, so a process whose connection died unnoticed can
// come back at once.
//
// Threads: Start, Stop and the destructor belong to the owner's thread. The
// server runs one thread that accepts connections and one thread per
// connection; a client that stalls, sends garbage or vanishes costs only its
// own thread. The inspection calls (GetPort, GetClientNames, the counters,
// Wait...) may be called from any thread at any time.
#ifndef LOCALSERVER_LOCALSERVER_H
#define LOCALSERVER_LOCALSERVER_H

#include "MOOSLIB/MOOSCommPkt.h"
#include "MOOSLIB/MOOSMsg.h"

#include <cstddef>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

struct LocalServerOptions
{
    // Names allowed to connect; empty admits every name.
    std::set<std::string> AllowedNames;
    // The server's clock runs at this multiple of the wall clock, like the
    // clients' MOOS time under the same warp (0 < warp < 100).
    double TimeWarp = 1.0;
    // Longest wait, in seconds, for the rest of a handshake or of a packet
    // once it has begun, and for a reply to be taken by the client. 0 or
    // less: no bound.
    double IoTimeout = 10.0;
    // Longest silence, in seconds, between two packets of a connected client
    // before the server hangs up on it. 0 or less: no bound.
    double IdleTimeout = 30.0;
    // Bounds of one client's queue of undelivered mail. A queue within the
    // byte bound goes out as one reply within the clients' packet limit: a
    // byte bound above MOOS_MAX_MSG_LENGTH counts as that, and a message
    // larger than MOOS_MAX_MSG_LENGTH is refused (traced, the sender kept).
    std::size_t QueueLimit = 10000;
    std::size_t QueueByteLimit = MOOS_MAX_MSG_LENGTH;
    // Largest packet accepted from a client: the limit the clients share.
    std::size_t PacketByteLimit = MOOS_MAX_PKT_LENGTH;
    // A connection heard from within this many seconds (wall clock) owns its
    // name: a newcomer under the name is refused. 0 or less: every newcomer
    // takes the name over.
    double NameHoldSeconds = 5.0;
    // Connections beyond this number are closed as soon as they are accepted.
    std::size_t MaxConnections = 1000;
    // When set, one line per notification, flushed per line:
    //   <server time %.3f> <source> <key> <value>
    // The value is the number (%.12g) for double data, the text for string
    // data (control characters written as \xHH), and "<binary N bytes>" for
    // binary data. An empty source is written as "-".
    std::ostream* Log = nullptr;
};

class CLocalServer
{
public:
    explicit CLocalServer(LocalServerOptions Options = LocalServerOptions());
    // Stops the server if it runs.
    ~CLocalServer();

    CLocalServer(const CLocalServer&) = delete;
    CLocalServer& operator=(const CLocalServer&) = delete;

    // Listens on sAddress (dotted IPv4) and nPort (0 picks a free port; the
    // address is reusable at once, so a stopped server can start again on the
    // same port). False, with GetError() saying why, when it cannot listen or
    // already runs.
    bool Start(const std::string& sAddress = "127.0.0.1", int nPort = 0);
    // Closes every connection and the listener and joins every thread; a
    // no-op when not running. Variables and counters are kept until the next
    // Start, which begins with an empty server.
    void Stop();

    bool IsRunning() const;
    // The port actually listened on; 0 before the first Start.
    int GetPort() const;
    // Why the last Start failed.
    std::string GetError() const;
    // The server's clock (seconds since the epoch times the time warp): the
    // time it stamps on every reply packet.
    double GetTime() const;

    // Names of the clients that completed their handshake and are connected,
    // sorted.
    std::vector<std::string> GetClientNames() const;
    bool IsClientConnected(const std::string& sName) const;
    // Open connections, including those still handshaking.
    std::size_t GetConnectionCount() const;
    // Notifications received since Start.
    std::size_t GetNotificationCount() const;
    // Messages dropped from full queues since Start, in total or for the
    // connected client sName.
    std::size_t GetDroppedCount() const;
    std::size_t GetDroppedCount(const std::string& sName) const;
    // Handshakes refused since Start (bad greeting, name not allowed or in
    // use).
    std::size_t GetRefusedCount() const;
    // The latest notification of sKey; false (Msg untouched) when none.
    bool GetValue(const std::string& sKey, CMOOSMsg& Msg) const;

    // Hangs up on the client sName as if its connection had broken; false when
    // no such client is connected.
    bool Disconnect(const std::string& sName);

    // Bounded waits for tests: true as soon as the condition holds, false when
    // dfSeconds pass first.
    bool WaitForClient(const std::string& sName, double dfSeconds) const;
    bool WaitForClientGone(const std::string& sName, double dfSeconds) const;
    bool WaitForNotifications(std::size_t nCount, double dfSeconds) const;

private:
    class Impl;
    std::unique_ptr<Impl> m_pImpl;
};

#endif
