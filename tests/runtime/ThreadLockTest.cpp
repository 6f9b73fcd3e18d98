#include "MOOSLIB/MOOSLock.h"
#include "MOOSLIB/MOOSThread.h"

#include "../support/WaitFor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace
{
using moostest::WaitFor;

// A thread body that runs until released, counting its runs.
struct Body
{
    std::atomic<int> nRuns{0};
    std::atomic<bool> bInside{false};
    std::atomic<bool> bRelease{false};
    std::atomic<bool> bFinished{false};
    CMOOSThread* pSelf = nullptr;

    static bool Run(void* pParam)
    {
        Body* pMe = static_cast<Body*>(pParam);
        ++pMe->nRuns;
        pMe->bInside = true;
        while (!pMe->bRelease)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        pMe->bInside = false;
        pMe->bFinished = true;
        return true;
    }
    static bool RunOnce(void* pParam)
    {
        Body* pMe = static_cast<Body*>(pParam);
        ++pMe->nRuns;
        pMe->bFinished = true;
        return true;
    }
    static bool StopSelf(void* pParam)
    {
        Body* pMe = static_cast<Body*>(pParam);
        pMe->pSelf->Stop();
        pMe->bFinished = true;
        return true;
    }
};

class MOOSThreadTest : public ::testing::Test
{
protected:
    void StartHeld()
    {
        ASSERT_TRUE(m_Thread.Initialise(&Body::Run, &m_Body));
        ASSERT_TRUE(m_Thread.Start());
        ASSERT_TRUE(WaitFor([&] { return m_Body.bInside.load(); }));
    }
    void Release() { m_Body.bRelease = true; }

    Body m_Body;
    CMOOSThread m_Thread;
};
} // namespace

TEST_F(MOOSThreadTest, SecondStartWhileRunningIsRefused)
{
    StartHeld();
    EXPECT_FALSE(m_Thread.Start());
    EXPECT_TRUE(m_Thread.IsThreadRunning());
    Release();
    EXPECT_TRUE(m_Thread.Stop());
    EXPECT_EQ(m_Body.nRuns, 1);
    EXPECT_FALSE(m_Thread.IsThreadRunning());
}

TEST_F(MOOSThreadTest, TwoCallersStartingAtOnceRunTheCallbackOnce)
{
    for (int nTry = 0; nTry < 200; ++nTry)
    {
        Body Once; // held inside its callback until both Starts have returned
        CMOOSThread Thread;
        ASSERT_TRUE(Thread.Initialise(&Body::Run, &Once));
        std::atomic<int> nReady{0};
        std::atomic<int> nReturned{0};
        std::atomic<int> nStarted{0};
        auto Starter = [&]
        {
            ++nReady;
            while (nReady < 2)
            {
            }
            nStarted += Thread.Start();
            ++nReturned;
        };
        std::thread First(Starter), Second(Starter);
        // Bounded: a Start that waits for the running callback must not hang
        // the test.
        WaitFor([&] { return nReturned == 2; }, 2.0);
        Once.bRelease = true;
        First.join();
        Second.join();
        Thread.Stop();
        ASSERT_EQ(Once.nRuns, 1) << "try " << nTry;
        ASSERT_EQ(nStarted, 1) << "try " << nTry;
    }
}

TEST_F(MOOSThreadTest, StopWithoutStartDoesNothing)
{
    EXPECT_TRUE(m_Thread.Stop());
    EXPECT_TRUE(m_Thread.Stop());
    EXPECT_FALSE(m_Thread.IsQuitRequested());
}

TEST_F(MOOSThreadTest, StopWaitsForTheCallbackAndCanBeRepeated)
{
    StartHeld();
    std::thread Releaser(
        [&]
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            Release();
        });
    EXPECT_TRUE(m_Thread.Stop());
    EXPECT_TRUE(m_Body.bFinished);
    EXPECT_TRUE(m_Thread.IsQuitRequested());
    EXPECT_TRUE(m_Thread.Stop());
    Releaser.join();
}

TEST_F(MOOSThreadTest, CallbackThatReturnedByItselfNeedsNoStop)
{
    ASSERT_TRUE(m_Thread.Initialise(&Body::RunOnce, &m_Body));
    ASSERT_TRUE(m_Thread.Start());
    ASSERT_TRUE(WaitFor([&] { return !m_Thread.IsThreadRunning(); }));
    EXPECT_TRUE(m_Thread.Stop());
    EXPECT_FALSE(m_Thread.IsQuitRequested());
}

TEST_F(MOOSThreadTest, IdleThreadCanBeStartedAgain)
{
    ASSERT_TRUE(m_Thread.Initialise(&Body::RunOnce, &m_Body));
    ASSERT_TRUE(m_Thread.Start());
    ASSERT_TRUE(WaitFor([&] { return !m_Thread.IsThreadRunning(); }));
    ASSERT_TRUE(m_Thread.Start());
    ASSERT_TRUE(WaitFor([&] { return m_Body.nRuns == 2; }));
    EXPECT_TRUE(m_Thread.Stop());
}

TEST_F(MOOSThreadTest, ThreadWithoutCallbackStaysRunningUntilStopped)
{
    EXPECT_FALSE(m_Thread.Initialise(nullptr, nullptr));
    ASSERT_TRUE(m_Thread.Start());
    EXPECT_FALSE(m_Thread.Start());
    EXPECT_TRUE(m_Thread.IsThreadRunning());
    EXPECT_TRUE(m_Thread.Stop());
    EXPECT_FALSE(m_Thread.IsThreadRunning());
    EXPECT_TRUE(m_Thread.Initialise(&Body::RunOnce, &m_Body));
    EXPECT_TRUE(m_Thread.Start());
    EXPECT_TRUE(WaitFor([&] { return m_Body.bFinished.load(); }));
}

TEST_F(MOOSThreadTest, WorkRunsTheCallbackOnTheCallingThread)
{
    EXPECT_FALSE(m_Thread.Work());
    ASSERT_TRUE(m_Thread.Initialise(&Body::RunOnce, &m_Body));
    EXPECT_TRUE(m_Thread.Work());
    EXPECT_EQ(m_Body.nRuns, 1);
}

TEST_F(MOOSThreadTest, DestroyingARunningThreadWaitsForTheCallback)
{
    Body LocalBody;
    {
        CMOOSThread Thread;
        ASSERT_TRUE(Thread.Initialise(&Body::Run, &LocalBody));
        ASSERT_TRUE(Thread.Start());
        ASSERT_TRUE(WaitFor([&] { return LocalBody.bInside.load(); }));
        std::thread Releaser(
            [&]
            {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                LocalBody.bRelease = true;
            });
        Releaser.detach();
    }
    EXPECT_TRUE(LocalBody.bFinished);
}

TEST_F(MOOSThreadTest, StopWaitsForADetachedThreadToo)
{
    auto pThread = std::make_unique<CMOOSThread>();
    ASSERT_TRUE(pThread->Initialise(&Body::Run, &m_Body));
    ASSERT_TRUE(pThread->Start(true));
    ASSERT_TRUE(WaitFor([&] { return m_Body.bInside.load(); }));
    std::thread Releaser(
        [&]
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            Release();
        });
    EXPECT_TRUE(pThread->Stop());
    EXPECT_TRUE(m_Body.bFinished);
    pThread.reset();
    Releaser.join();
}

TEST_F(MOOSThreadTest, StopFromTheThreadItselfIsReportedAndJoinedLater)
{
    m_Body.pSelf = &m_Thread;
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(m_Thread.Initialise(&Body::StopSelf, &m_Body));
    ASSERT_TRUE(m_Thread.Start());
    ASSERT_TRUE(WaitFor([&] { return m_Body.bFinished.load(); }));
    EXPECT_TRUE(m_Thread.Stop());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "pthread_join returned error: EDEADLK\n");
}

// ---------------------------------------------------------------------------

TEST(MOOSLockTest, LockSerialisesTwoThreads)
{
    CMOOSLock Lock;
    long nCount = 0;
    auto Add = [&]
    {
        for (int i = 0; i < 20000; ++i)
        {
            Lock.Lock();
            ++nCount;
            Lock.UnLock();
        }
    };
    std::thread Other(Add);
    for (int i = 0; i < 20000; ++i)
    {
        std::lock_guard<CMOOSLock> Guard(Lock);
        ++nCount;
    }
    Other.join();
    EXPECT_EQ(nCount, 40000);
}

TEST(MOOSLockTest, WaitsWithAConditionVariable)
{
    CMOOSLock Lock;
    std::condition_variable_any Changed;
    bool bReady = false;
    std::thread Setter(
        [&]
        {
            std::lock_guard<CMOOSLock> Guard(Lock);
            bReady = true;
            Changed.notify_all();
        });
    std::unique_lock<CMOOSLock> Guard(Lock);
    EXPECT_TRUE(Changed.wait_for(Guard, std::chrono::seconds(10), [&] { return bReady; }));
    Guard.unlock();
    Setter.join();
}
