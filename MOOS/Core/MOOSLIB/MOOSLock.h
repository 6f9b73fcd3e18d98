// A plain, non-recursive mutex over POSIX threads.
//
// Owned by value by whoever guards data with it (the comms client's mail boxes,
// the mission reader's stream table, each CMOOSThread's flags). Any thread may
// Lock and UnLock; a thread that locks it twice blocks itself. It must be
// unlocked when destroyed. Prefer a scoped guard to paired calls:
//     std::lock_guard<CMOOSLock> Guard(m_OutboxLock);
// (lock() and unlock() make it usable by std::lock_guard, std::unique_lock and
// std::condition_variable_any.)
#ifndef MOOSLIB_MOOSLOCK_H
#define MOOSLIB_MOOSLOCK_H

#include <pthread.h>

class CMOOSLock
{
public:
    // The argument is ignored: a new lock is always unlocked.
    explicit CMOOSLock(bool bInitial = true);
    virtual ~CMOOSLock();

    CMOOSLock(const CMOOSLock&) = delete;
    CMOOSLock& operator=(const CMOOSLock&) = delete;

    // Blocks until the calling thread holds the lock.
    void Lock();
    void UnLock();

    void lock() { Lock(); }
    void unlock() { UnLock(); }

private:
    pthread_mutex_t m_hLock;
};

#endif
