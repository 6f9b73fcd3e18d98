// Sending at once: a post wakes the comms client between its turns, a burst
// still travels in few packets, nothing changes with the switch off, Close
// stays prompt and a post without a connection wakes nothing. Time runs
// unwarped here: at one turn a second, "long before the next tick" has room
// to spare on a loaded machine.
#include "CommsTestSupport.h"

#include "LocalServer/LocalServer.h"
#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace commstest;

namespace
{

constexpr double kTickSeconds = 1.0; // CommsTick 1

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point Start)
{
    return std::chrono::duration<double>(Clock::now() - Start).count();
}

class SendImmediatelyTest : public CommsFixture
{
protected:
    void SetUp() override
    {
        CommsFixture::SetUp();
        SetMOOSTimeWarp(1.0);
        ASSERT_TRUE(Server.Start("127.0.0.1", 0)) << Server.GetError();
    }

    // A client at one turn a second whose first turn has completed, so that
    // it now pauses until the next tick (or a post).
    void Connect(bool bSendImmediately)
    {
        Client.SetSendImmediately(bSendImmediately);
        StartClient(Server.GetPort(), "Tester", 1, true);
        ASSERT_TRUE(WaitConnected());
        ASSERT_TRUE(WaitFor([this] { return Log.nMails >= 1; }));
    }

    CLocalServer Server;
};

TEST_F(SendImmediatelyTest, PostReachesTheServerLongBeforeTheNextTick)
{
    Connect(true);
    const auto Start = Clock::now();
    ASSERT_TRUE(Client.Notify("Heading", 90.0, 0.0));
    ASSERT_TRUE(Server.WaitForNotifications(1, 10.0));
    EXPECT_LT(SecondsSince(Start), kTickSeconds / 2);
}

TEST_F(SendImmediatelyTest, BurstTravelsInFewPackets)
{
    Connect(true);
    const int nTurnsBefore = Log.nMails;
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(Client.Notify("Count", static_cast<double>(i), 0.0));
    ASSERT_TRUE(Server.WaitForNotifications(100, 10.0));
    EXPECT_TRUE(WaitFor([&] { return Log.nMails > nTurnsBefore; }));
    EXPECT_LE(Log.nMails - nTurnsBefore, 20) << "one packet per post or nearly";
}

TEST_F(SendImmediatelyTest, SwitchedOffThePostWaitsForTheTick)
{
    Connect(false);
    const auto Start = Clock::now();
    ASSERT_TRUE(Client.Notify("Heading", 90.0, 0.0));
    ASSERT_TRUE(Server.WaitForNotifications(1, 10.0));
    // The turn that carried it came a whole tick after the previous one.
    EXPECT_GT(SecondsSince(Start), kTickSeconds * 0.75);
}

TEST_F(SendImmediatelyTest, CloseStaysPromptWhilePostsKeepWaking)
{
    Connect(true);
    std::atomic<bool> bStop{false};
    std::thread Poster(
        [&]
        {
            for (int i = 0; !bStop; ++i)
                Client.Notify("Count", static_cast<double>(i), 0.0);
        });
    ASSERT_TRUE(Server.WaitForNotifications(1000, 10.0));
    const auto Start = Clock::now();
    EXPECT_TRUE(Client.Close());
    EXPECT_LT(SecondsSince(Start), 5.0);
    bStop = true;
    Poster.join();
}

TEST_F(SendImmediatelyTest, PostWithoutAConnectionWakesNothing)
{
    Client.SetSendImmediately(true);
    CMOOSMsg Msg(MOOS_NOTIFY, "Heading", 90.0, 0.0);
    EXPECT_FALSE(Client.Post(Msg));
    EXPECT_EQ(Msg.m_nID, -1);
    StartClient(Server.GetPort(), "Tester", 1, true);
    ASSERT_TRUE(WaitConnected());
    ASSERT_TRUE(WaitFor([this] { return Log.nMails >= 1; }));
    // No stale wake-up: the second turn keeps to the tick.
    std::this_thread::sleep_for(std::chrono::duration<double>(kTickSeconds / 2));
    EXPECT_EQ(Log.nMails, 1);
    EXPECT_EQ(Server.GetNotificationCount(), 0u);
}

} // namespace
