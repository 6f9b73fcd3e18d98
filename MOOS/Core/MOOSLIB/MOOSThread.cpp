#include "MOOSLIB/MOOSThread.h"

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <cerrno>
#include <mutex>

namespace
{
void TraceJoinError(int nError)
{
    switch (nError)
    {
    case EINVAL:
        MOOSTrace("pthread_join returned error: EINVAL\n");
        break;
    case ESRCH:
        MOOSTrace("pthread_join returned error: ESRCH\n");
        break;
    case EDEADLK:
        MOOSTrace("pthread_join returned error: EDEADLK\n");
        break;
    default:
        MOOSTrace("pthread_join returned error: %d\n", nError);
        break;
    }
}
} // namespace

CMOOSThread::CMOOSThread()
    : m_hThread(), m_bRunning(false), m_bQuitRequested(false), m_pfnThreadFunc(nullptr),
      m_pThreadParam(nullptr), m_bThreadOutstanding(false), m_bDetached(false), m_bThreadEnded(true)
{
}

CMOOSThread::~CMOOSThread()
{
    Stop();
}

bool CMOOSThread::Initialise(ThreadCallback pfnThreadFunc, void* pThreadParam)
{
    std::lock_guard<CMOOSLock> Guard(m_Lock);
    m_pfnThreadFunc = pfnThreadFunc;
    m_pThreadParam = pThreadParam;
    m_bQuitRequested = false;
    return m_pfnThreadFunc != nullptr;
}

bool CMOOSThread::Start(bool bDetach)
{
    // The test and the set of the running flag are one step under the lock:
    // of two callers that start this object at once, only one goes on.
    {
        std::lock_guard<CMOOSLock> Guard(m_Lock);
        if (m_bRunning)
            return false;
        m_bRunning = true;
        m_bQuitRequested = false;
    }
    // A thread whose callback returned by itself is reaped before a new one is
    // made, so that no thread is ever left unjoined.
    WaitForThreadEnd();

    // Held while the thread is made, so that the new thread (which takes the
    // lock first) never sees the flags or the handle half set.
    std::lock_guard<CMOOSLock> Guard(m_Lock);
    // A thread that stopped itself and lives on cannot be reaped from its
    // own Start; its handle must not be overwritten.
    if (m_bThreadOutstanding || !CreateThread(bDetach))
    {
        m_bRunning = false;
        return false;
    }
    m_bThreadEnded = false;
    m_bDetached = bDetach;
    m_bThreadOutstanding = true;
    return true;
}

bool CMOOSThread::CreateThread(bool bDetach)
{
    pthread_attr_t Attributes;
    pthread_attr_init(&Attributes);
    if (bDetach)
        pthread_attr_setdetachstate(&Attributes, PTHREAD_CREATE_DETACHED);
    const int nResult = pthread_create(&m_hThread, &Attributes, &CMOOSThread::CallbackProc, this);
    pthread_attr_destroy(&Attributes);
    return nResult == 0;
}

bool CMOOSThread::Stop()
{
    {
        std::lock_guard<CMOOSLock> Guard(m_Lock);
        // Another Stop is already waiting for this thread.
        if (m_bRunning && m_bQuitRequested)
            return true;
        if (!m_bRunning && !m_bThreadOutstanding)
            return true;
        if (m_bRunning)
            m_bQuitRequested = true;
    }
    // The lock is free while waiting: the ending thread takes it to clear its
    // running flag.
    WaitForThreadEnd();
    SetRunningFlag(false);
    return true;
}

bool CMOOSThread::IsThreadRunning()
{
    std::lock_guard<CMOOSLock> Guard(m_Lock);
    return m_bRunning;
}

bool CMOOSThread::IsQuitRequested()
{
    std::lock_guard<CMOOSLock> Guard(m_Lock);
    return m_bQuitRequested;
}

void* CMOOSThread::CallbackProc(void* pParam)
{
    CMOOSThread* pMe = static_cast<CMOOSThread*>(pParam);
    pMe->Work();
    pMe->MarkThreadEnded();
    return nullptr;
}

bool CMOOSThread::Work()
{
    ThreadCallback pfnThreadFunc = nullptr;
    void* pThreadParam = nullptr;
    {
        std::lock_guard<CMOOSLock> Guard(m_Lock);
        pfnThreadFunc = m_pfnThreadFunc;
        pThreadParam = m_pThreadParam;
    }
    if (pfnThreadFunc == nullptr)
        return false;
    SetRunningFlag(true);
    bool bResult = pfnThreadFunc(pThreadParam);
    SetRunningFlag(false);
    return bResult;
}

void CMOOSThread::SetRunningFlag(bool bState)
{
    std::lock_guard<CMOOSLock> Guard(m_Lock);
    m_bRunning = bState;
}

void CMOOSThread::MarkThreadEnded()
{
    // Notified under the lock: once the waiter sees the flag it may destroy
    // this object, and by then this thread no longer touches it.
    std::lock_guard<CMOOSLock> Guard(m_Lock);
    m_bThreadEnded = true;
    m_ThreadEnded.notify_all();
}

// Joins a joinable thread, or waits until a detached one has finished with
// this object. Called on the owner's thread, never with the lock held.
void CMOOSThread::WaitForThreadEnd()
{
    pthread_t hThread;
    {
        std::unique_lock<CMOOSLock> Guard(m_Lock);
        if (!m_bThreadOutstanding)
            return;
        hThread = m_hThread;
        if (m_bDetached)
        {
            // A detached thread stopping itself cannot wait for its own end.
            if (!pthread_equal(hThread, pthread_self()))
                m_ThreadEnded.wait(Guard, [this] { return m_bThreadEnded; });
            m_bThreadOutstanding = false;
            return;
        }
        // Claimed here, so that a thread is never joined twice.
        m_bThreadOutstanding = false;
    }
    // Joining oneself is refused up front: not every threads library reports
    // it rather than blocking for ever.
    int nResult = pthread_equal(hThread, pthread_self()) ? EDEADLK : pthread_join(hThread, nullptr);
    if (nResult != 0)
        TraceJoinError(nResult);
    if (nResult == EDEADLK)
    {
        // A thread that tried to join itself lives on and may be joined later.
        std::lock_guard<CMOOSLock> Guard(m_Lock);
        m_bThreadOutstanding = true;
    }
}
