// CServerDatabase: the variables and the per-client mail queues of LocalServer.
//
// Pure bookkeeping, no I/O: the connection threads hand it the messages of each
// packet they read and take back the mail for the reply. Clients are known by
// a connection number the caller chooses; names are kept only for reporting.
// Times are the server's clock, passed in by the caller, so that registration
// intervals follow the server's (possibly warped) time.
//
// Threads: every member may be called from any thread; one internal lock
// guards all state and is never held while calling out.
#ifndef LOCALSERVER_SERVERDATABASE_H
#define LOCALSERVER_SERVERDATABASE_H

#include "MOOSLIB/MOOSMsg.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// Source name of the messages the server makes itself.
extern const char* const kLocalServerName;

struct MailBounds
{
    std::size_t Messages = 10000;
    std::size_t Bytes = std::size_t(64) << 20;
};

class CServerDatabase
{
public:
    explicit CServerDatabase(MailBounds Bounds = MailBounds());

    // A client joins with an empty queue and no registrations.
    void AddClient(std::uint64_t nClient, const std::string& sName);
    // Forgets the client, its queue and its registrations.
    void RemoveClient(std::uint64_t nClient);

    // Applies the messages of one packet of nClient, in posting order, at
    // server time dfNow, and returns (appended to Mail) everything queued for
    // that client, oldest first. nDropped receives the number of its messages
    // dropped from a full queue since its previous turn.
    void Exchange(std::uint64_t nClient, const MOOSMSG_LIST& Incoming, double dfNow,
                  MOOSMSG_LIST& Mail, std::size_t& nDropped);

    std::vector<std::string> GetClientNames() const;
    std::size_t GetNotificationCount() const;
    std::size_t GetDroppedCount() const;
    std::size_t GetDroppedCount(const std::string& sName) const;
    bool GetValue(const std::string& sKey, CMOOSMsg& Msg) const;
    void Clear();

private:
    struct Registration
    {
        double dfInterval = 0.0;
        double dfLastDelivery = 0.0;
        bool bDelivered = false;
    };
    struct Client
    {
        std::string sName;
        std::deque<CMOOSMsg> Queue;
        std::size_t nQueuedBytes = 0;
        std::size_t nDropped = 0;
        std::size_t nDroppedUnreported = 0;
    };
    typedef std::map<std::uint64_t, Registration> Subscribers;

    void ApplyLocked(std::uint64_t nClient, const CMOOSMsg& Msg, double dfNow);
    void NotifyLocked(const CMOOSMsg& Msg, double dfNow);
    void RegisterLocked(std::uint64_t nClient, const CMOOSMsg& Msg, double dfNow);
    void AnswerRequestLocked(std::uint64_t nClient, const CMOOSMsg& Msg, double dfNow);
    void DeliverLocked(std::uint64_t nClient, Registration& Reg, const CMOOSMsg& Msg, double dfNow);
    void QueueLocked(Client& C, const CMOOSMsg& Msg);

    const MailBounds m_Bounds;

    // Everything below is guarded by m_Lock.
    mutable std::mutex m_Lock;
    std::map<std::uint64_t, Client> m_Clients;
    std::map<std::string, CMOOSMsg> m_Variables;
    std::map<std::string, Subscribers> m_Subscriptions;
    std::size_t m_nNotifications = 0;
    std::size_t m_nDropped = 0;
};

#endif
