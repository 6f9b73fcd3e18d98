// A thread that runs one callback once, from start to return.
//
// The owner (e.g. the comms client for its client loop) calls Initialise, then
// Start and Stop from its own thread; the callback runs on the new thread. Stop
// does not tell the callback to end: the callback must watch a stop condition
// of its owner's, which the owner sets before calling Stop. Stop then waits for
// the callback to return. The destructor calls Stop, so destroying a
// CMOOSThread whose callback still runs blocks until it returns.
//
// The callback parameter is not owned; its owner keeps it alive until the
// thread has ended. The internal lock guards only this object's own members,
// never the callback's data, and is never held while waiting for the thread.
#ifndef MOOSLIB_MOOSTHREAD_H
#define MOOSLIB_MOOSTHREAD_H

#include "MOOSLIB/MOOSLock.h"

#include <condition_variable>
#include <pthread.h>

class CMOOSThread
{
public:
    typedef bool (*ThreadCallback)(void*);

    CMOOSThread();
    ~CMOOSThread();

    CMOOSThread(const CMOOSThread&) = delete;
    CMOOSThread& operator=(const CMOOSThread&) = delete;

    // Stores the callback and its parameter and clears the quit request.
    // Returns whether the callback is set; starts nothing.
    bool Initialise(ThreadCallback pfnThreadFunc, void* pThreadParam);

    // Creates the thread (detached when bDetach). False when one is already
    // running (or ended without a callback and has not been stopped), or when
    // the thread cannot be created. Of two callers that start one object at
    // once, exactly one succeeds, so the callback never runs twice.
    bool Start(bool bDetach = false);

    // Waits for the thread to end if one was started and not yet stopped.
    // Always true; safe to call again, and on a thread never started.
    bool Stop();

    // Whether Start has been called and the callback has not yet returned
    // (or the thread has not yet been stopped).
    bool IsThreadRunning();
    // Whether Stop has been called since the last Start.
    bool IsQuitRequested();

    // Entry function handed to pthread_create; pParam is the CMOOSThread.
    static void* CallbackProc(void* pParam);

    // Runs the callback on the calling thread and returns its result; false
    // without calling anything when no callback is set.
    bool Work();

    void SetRunningFlag(bool bState);

private:
    // pthread_create into m_hThread; called with m_Lock held.
    bool CreateThread(bool bDetach);
    void WaitForThreadEnd();
    void MarkThreadEnded();

    // All members below are guarded by m_Lock.
    CMOOSLock m_Lock;
    pthread_t m_hThread;
    bool m_bRunning;
    bool m_bQuitRequested;
    ThreadCallback m_pfnThreadFunc;
    void* m_pThreadParam;
    // A created thread that has not been joined (joinable) or has not yet
    // finished (detached); Start and Stop settle it before going on.
    bool m_bThreadOutstanding;
    bool m_bDetached;
    bool m_bThreadEnded;
    std::condition_variable_any m_ThreadEnded;
};

#endif
