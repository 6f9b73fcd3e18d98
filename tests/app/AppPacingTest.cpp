// Pacing of the loop and quitting it, counted over real-time windows with
// generous bounds.
#include "AppTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>

class AppPacing : public ::testing::Test
{
protected:
    void TearDown() override { SetMOOSTimeWarp(1.0); }

    std::string Mission(const std::string& global, const std::string& block)
    {
        return dir.Write("pace.moos", global + "\nProcessConfig = Pace\n{\n" +
                                          "UseMOOSComms = false\n" + block + "\n}\n");
    }

    // Passes the loop makes during one real second once it is running,
    // with the given mission lines, checked against generous bounds.
    void ExpectPassesPerSecond(const std::string& global, const std::string& block, int least,
                               int most)
    {
        BackgroundRun run(app, "Pace", Mission(global, block));
        ASSERT_TRUE(WaitFor([&] { return app.iterations > 0; }));
        const int before = app.iterations;
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const int passes = app.iterations - before;
        run.Stop();
        EXPECT_GE(passes, least);
        EXPECT_LE(passes, most);
    }

    TempDir dir;
    ProbeApp app;
};

TEST_F(AppPacing, FiveHertzRunsFivePassesPerSecond)
{
    ExpectPassesPerSecond("", "AppTick = 5", 3, 6);
}

TEST_F(AppPacing, TimeWarpSpeedsThePassesUp)
{
    // 5 Hz of warped time under a warp of 4 is 20 passes per real second.
    ExpectPassesPerSecond("MOOSTimeWarp = 4", "AppTick = 5", 12, 22);
}

TEST_F(AppPacing, PassTimeCountsTowardsThePeriod)
{
    // Each Iterate takes about half the 100 ms period; the loop still holds
    // 10 Hz instead of sleeping a full period on top.
    app.onIterate = [](ProbeApp&) { std::this_thread::sleep_for(std::chrono::milliseconds(50)); };
    ExpectPassesPerSecond("", "AppTick = 10", 7, 11);
}

TEST_F(AppPacing, RequestQuitFromAnotherThreadCutsTheSleepShort)
{
    // One pass every 20 s: only a quit that wakes the sleep ends Run soon.
    BackgroundRun run(app, "Pace", Mission("", "AppTick = 0.05"));
    ASSERT_TRUE(WaitFor([&] { return app.iterations == 1; }));
    const auto asked = std::chrono::steady_clock::now();
    app.RequestQuit();
    ASSERT_TRUE(WaitFor([&] { return run.done.load(); }, 5.0));
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(2));
    EXPECT_TRUE(run.result);
    EXPECT_EQ(app.iterations, 1);
}

TEST_F(AppPacing, RequestQuitFromIterateCutsThePassesSleepShort)
{
    // At 0.25 Hz the pass would sleep 4 s; a stop must take about a second.
    app.onIterate = [](ProbeApp& a) { a.RequestQuit(); };
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(app.Run("Pace", Mission("", "AppTick = 0.25").c_str()));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
    EXPECT_EQ(app.iterations, 1);
}

TEST_F(AppPacing, QuitBeforeTheLoopMeansNoPass)
{
    app.RequestQuit();
    EXPECT_TRUE(app.Run("Pace", Mission("", "AppTick = 5").c_str()));
    EXPECT_TRUE(app.startedUp);
    EXPECT_EQ(app.iterations, 0);
}
