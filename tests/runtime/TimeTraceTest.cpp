#include "MOOSLIB/MOOSGenLibGlobalHelper.h"
#include "support/Terminal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <sys/time.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace
{
double WallClock()
{
    timeval Now;
    gettimeofday(&Now, nullptr);
    return Now.tv_sec + Now.tv_usec / 1e6;
}

// Restores the process-wide time base and the trace switch after every test.
class TimeBaseTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        SetMOOSSkew(0.0);
        SetMOOSTimeWarp(1.0);
        SetMOOSPlayBack(false);
        InhibitMOOSTraceInThisThread(false);
    }

    static long PauseMS(int nMS, bool bWarp)
    {
        auto Start = std::chrono::steady_clock::now();
        MOOSPause(nMS, bWarp);
        auto Elapsed = std::chrono::steady_clock::now() - Start;
        return static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Elapsed).count());
    }

    template <class F> static std::string Stderr(F Action)
    {
        ::testing::internal::CaptureStderr();
        Action();
        return ::testing::internal::GetCapturedStderr();
    }
};
} // namespace

TEST_F(TimeBaseTest, UnwarpedTimeFollowsTheWallClock)
{
    double dfBefore = WallClock();
    double dfMOOS = MOOSTime(true);
    double dfLocal = MOOSLocalTime(true);
    double dfAfter = WallClock();
    EXPECT_GE(dfMOOS, dfBefore);
    EXPECT_LE(dfLocal, dfAfter);
    EXPECT_NEAR(dfMOOS, dfLocal, 0.01);
    EXPECT_NEAR(HPMOOSTime(), dfLocal, 0.01);
}

TEST_F(TimeBaseTest, SkewIsAddedAfterTheWarpAndNeverWarped)
{
    ASSERT_TRUE(SetMOOSTimeWarp(2.0));
    SetMOOSSkew(10.0);
    EXPECT_DOUBLE_EQ(GetMOOSSkew(), 10.0);
    double dfClock = WallClock();
    EXPECT_NEAR(MOOSTime(true), 2.0 * dfClock + 10.0, 0.05);
    EXPECT_NEAR(MOOSTime(false), dfClock + 10.0, 0.05);
    EXPECT_NEAR(MOOSLocalTime(true), 2.0 * dfClock, 0.05);
    EXPECT_NEAR(MOOSLocalTime(false), dfClock, 0.05);
}

TEST_F(TimeBaseTest, WarpOutsideTheOpenRangeIsRefusedAndTraced)
{
    ASSERT_TRUE(SetMOOSTimeWarp(3.0));
    for (double dfBad : {0.0, -1.0, 100.0, std::nan("")})
    {
        std::string sErr = Stderr([&] { EXPECT_FALSE(SetMOOSTimeWarp(dfBad)); });
        EXPECT_EQ(sErr, "Time warp must be positive and less than 100.000000 \n\n");
        EXPECT_DOUBLE_EQ(GetMOOSTimeWarp(), 3.0);
    }
    EXPECT_TRUE(SetMOOSTimeWarp(99.9));
    EXPECT_DOUBLE_EQ(GetMOOSTimeWarp(), 99.9);
}

TEST_F(TimeBaseTest, WarpAndSkewAreSafeToReadWhileAnotherThreadWrites)
{
    std::atomic<bool> bDone{false};
    std::thread Writer(
        [&]
        {
            for (int i = 0; i < 2000; ++i)
                SetMOOSSkew(i % 2 == 0 ? 1.0 : -1.0);
            bDone = true;
        });
    while (!bDone)
    {
        double dfSkew = GetMOOSSkew();
        ASSERT_TRUE(dfSkew == 0.0 || dfSkew == 1.0 || dfSkew == -1.0);
    }
    Writer.join();
}

TEST_F(TimeBaseTest, PauseIsShortenedByTheWarp)
{
    ASSERT_TRUE(SetMOOSTimeWarp(4.0));
    long nWarped = PauseMS(1000, true);
    EXPECT_GE(nWarped, 245);
    EXPECT_LT(nWarped, 900);
    long nUnwarped = PauseMS(400, false);
    EXPECT_GE(nUnwarped, 395);
}

TEST_F(TimeBaseTest, WarpedPauseIsTruncatedToWholeMilliseconds)
{
    ASSERT_TRUE(SetMOOSTimeWarp(3.0));
    long nWarped = PauseMS(1000, true);
    EXPECT_GE(nWarped, 330);
    EXPECT_LT(nWarped, 900);
}

TEST_F(TimeBaseTest, NegativePauseReturnsAtOnce)
{
    EXPECT_LT(PauseMS(-5000, true), 100);
}

namespace
{
void IgnoreSignal(int) {}

// Runs a pause on a thread of its own and, once it has slept for
// nAwakeAfterMS, interrupts it with a caught signal until it returns.
// Answers whether the pause was still sleeping when the signals began, and
// how long it slept in all.
class InterruptedPause
{
public:
    InterruptedPause(int nMS, int nAwakeAfterMS)
    {
        struct sigaction Action;
        std::memset(&Action, 0, sizeof(Action));
        Action.sa_handler = IgnoreSignal; // no SA_RESTART: the sleep sees EINTR
        sigaction(SIGUSR1, &Action, &m_Previous);
        const auto Start = std::chrono::steady_clock::now();
        std::thread Sleeper(
            [&]
            {
                MOOSPause(nMS, true);
                m_bDone = true;
            });
        std::this_thread::sleep_for(std::chrono::milliseconds(nAwakeAfterMS));
        m_bSleptThrough = !m_bDone;
        while (!m_bDone)
        {
            pthread_kill(Sleeper.native_handle(), SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        Sleeper.join();
        m_nElapsedMS = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - Start)
                           .count();
    }
    ~InterruptedPause() { sigaction(SIGUSR1, &m_Previous, nullptr); }

    std::atomic<bool> m_bDone{false};
    bool m_bSleptThrough = false;
    long m_nElapsedMS = 0;

private:
    struct sigaction m_Previous;
};
} // namespace

TEST_F(TimeBaseTest, PauseInterruptedByASignalEndsEarly)
{
    InterruptedPause Pause(5000, 100);
    EXPECT_TRUE(Pause.m_bSleptThrough);
    EXPECT_LT(Pause.m_nElapsedMS, 2500);
}

TEST_F(TimeBaseTest, WarpBelowOneMakesALongPauseLonger)
{
    // 2e9 ms at warp 0.5 is 4e9 ms, beyond an int: it must not wrap into a
    // pause that returns at once.
    ASSERT_TRUE(SetMOOSTimeWarp(0.5));
    InterruptedPause Pause(2000000000, 300);
    EXPECT_TRUE(Pause.m_bSleptThrough);
    ASSERT_TRUE(SetMOOSTimeWarp(1e-9));
    InterruptedPause Longest(2000000000, 300);
    EXPECT_TRUE(Longest.m_bSleptThrough);
}

TEST_F(TimeBaseTest, PlayBackBannerIsPrintedWhenSwitchedOn)
{
    ::testing::internal::CaptureStdout();
    SetMOOSPlayBack(true);
    SetMOOSPlayBack(false);
    SetMOOSPlayBack(true);
    fflush(stdout);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "PLAY BACK MODE IS ON\nPLAY BACK MODE IS ON\n");
    EXPECT_TRUE(IsMOOSPlayBack());
    SetMOOSPlayBack(false);
    EXPECT_FALSE(IsMOOSPlayBack());
    EXPECT_FALSE(SetWin32HighPrecisionTiming(true));
}

// ---------------------------------------------------------------------------

using TraceTest = TimeBaseTest;

TEST_F(TraceTest, TextIsWrittenVerbatimWithoutNewline)
{
    EXPECT_EQ(Stderr([] { MOOSTrace("a=%d b=%s", 3, "x"); }), "a=3 b=x");
    EXPECT_EQ(Stderr([] { MOOSTrace(std::string("100% sure %s")); }), "100% sure %s");
}

TEST_F(TraceTest, OverlongOutputIsCutAndAnnounced)
{
    std::string sLong(5000, 'y');
    std::string sErr = Stderr([&] { MOOSTrace("%s", sLong.c_str()); });
    std::string sWarning = "WARNING MOOSTrace() TRUNCATED TO 4096 CHARS";
    EXPECT_EQ(sErr, sWarning + std::string(4095, 'y'));
}

TEST_F(TraceTest, OverlongFormatIsDroppedSilently)
{
    std::string sLongest(2047, 'f');
    std::string sTooLong(2048, 'f');
    EXPECT_EQ(Stderr([&] { MOOSTrace(sLongest.c_str()); }), sLongest);
    EXPECT_EQ(Stderr([&] { MOOSTrace(sTooLong.c_str()); }), "");
}

TEST_F(TraceTest, InhibitSilencesOnlyTheCallingThread)
{
    std::string sErr = Stderr(
        []
        {
            InhibitMOOSTraceInThisThread(true);
            MOOSTrace("main ");
            std::thread Other([] { MOOSTrace("other "); });
            Other.join();
            MOOSFail("failed");
            InhibitMOOSTraceInThisThread(false);
            MOOSTrace("back");
        });
    EXPECT_EQ(sErr, "other back");
}

TEST_F(TraceTest, InhibitWhileOthersTraceIsSafe)
{
    std::atomic<bool> bStop{false};
    std::string sErr = Stderr(
        [&]
        {
            std::thread Tracer(
                [&]
                {
                    while (!bStop)
                        MOOSTrace("%s", "");
                });
            for (int i = 0; i < 1000; ++i)
                InhibitMOOSTraceInThisThread(i % 2 == 0);
            bStop = true;
            Tracer.join();
        });
    EXPECT_EQ(sErr, "");
}

TEST_F(TraceTest, FormatReturnsTheTextAndRefusesOverlongFormats)
{
    EXPECT_EQ(MOOSFormat("%s-%03d", "id", 7), "id-007");
    EXPECT_EQ(MOOSFormat("%s", std::string(1023, 'z').c_str()), std::string(1023, 'z'));
    std::string sTooLong(1024, 'f');
    EXPECT_EQ(Stderr([&] { EXPECT_EQ(MOOSFormat(sTooLong.c_str()), "STRING TOO LONG TO FORMAT"); }),
              "");
}

TEST_F(TraceTest, FormatCutsOverlongOutputAtItsBuffer)
{
    std::string sLong(3000, 'q');
    std::string sResult;
    std::string sErr = Stderr([&] { sResult = MOOSFormat("%s", sLong.c_str()); });
    EXPECT_EQ(sResult, std::string(2047, 'q'));
    EXPECT_EQ(sErr, "WARNING MOOFormat() TRUNCATED TO 2048 CHARS");
}

TEST_F(TraceTest, FailTracesOneLineAndReturnsFalse)
{
    bool bResult = true;
    EXPECT_EQ(Stderr([&] { bResult = MOOSFail("count %d", 3); }), "count 3\n");
    EXPECT_FALSE(bResult);
    std::string sTooLong(1024, 'f');
    EXPECT_EQ(Stderr([&] { EXPECT_FALSE(MOOSFail(sTooLong.c_str())); }), "");
}

// ---------------------------------------------------------------------------

using ConsoleTest = TimeBaseTest;

TEST_F(ConsoleTest, DateHasTheCtimeForm)
{
    std::string sDate = MOOSGetDate();
    ASSERT_EQ(sDate.size(), 25u) << sDate;
    EXPECT_EQ(sDate.back(), '\n');
    tm Parsed = {};
    const char* pEnd = strptime(sDate.c_str(), "%a %b %e %H:%M:%S %Y", &Parsed);
    ASSERT_NE(pEnd, nullptr) << sDate;
    EXPECT_STREQ(pEnd, "\n");
    EXPECT_EQ(sDate[8] == ' ', Parsed.tm_mday < 10) << "single-digit days are space-aligned";
}

TEST_F(ConsoleTest, TimeStampHasDayMonthYearHourMinute)
{
    std::string sStamp = MOOSGetTimeStampString();
    int nDay = 0, nMonth = 0, nYear = 0, nEnd = 0;
    char sHour[3] = {}, sMinute[3] = {};
    ASSERT_EQ(sscanf(sStamp.c_str(), "_%d_%d_%d_____%2[0-9]_%2[0-9]%n", &nDay, &nMonth, &nYear,
                     sHour, sMinute, &nEnd),
              5)
        << sStamp;
    EXPECT_EQ(static_cast<std::size_t>(nEnd), sStamp.size()) << sStamp;
    EXPECT_EQ(sStamp.substr(1, std::to_string(nDay).size()), std::to_string(nDay));
    EXPECT_TRUE(nMonth >= 1 && nMonth <= 12);
    EXPECT_GE(nYear, 2000);
    EXPECT_EQ(std::string(sHour).size(), 2u);
    EXPECT_EQ(std::string(sMinute).size(), 2u);
}

TEST_F(ConsoleTest, ProgressBarShowsTheFractionAndAsterisks)
{
    auto Shown = [](double dfFraction)
    {
        ::testing::internal::CaptureStdout();
        Progress(dfFraction);
        fflush(stdout);
        return ::testing::internal::GetCapturedStdout();
    };
    EXPECT_EQ(Shown(0.5), "\r0.50  " + std::string(20, '*'));
    EXPECT_EQ(Shown(0.999), "\r1.00  " + std::string(39, '*'));
    EXPECT_EQ(Shown(-0.25), "\r-0.25  ");
    EXPECT_EQ(Shown(std::nan("")), "\rnan  ");
    EXPECT_EQ(Shown(1.0), "");
    EXPECT_EQ(Stderr([] { Progress(2.0); }), "\n");
}

TEST_F(ConsoleTest, GetchReadsOneKeyWithoutWaitingForALineAndRestoresTheTerminal)
{
    moostest::TerminalStream Terminal(STDIN_FILENO);
    ASSERT_TRUE(Terminal.IsOpen());
    termios Before;
    ASSERT_EQ(tcgetattr(STDIN_FILENO, &Before), 0);
    // In line mode the key alone would never be delivered; a late newline keeps
    // a broken build from hanging.
    std::atomic<bool> bRead{false};
    std::thread Watchdog(
        [&]
        {
            for (int i = 0; i < 30 && !bRead; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (!bRead)
            {
                EXPECT_EQ(write(Terminal.Master(), "\n", 1), 1);
            }
        });
    ASSERT_EQ(write(Terminal.Master(), "k", 1), 1);
    auto Start = std::chrono::steady_clock::now();
    EXPECT_EQ(MOOSGetch(), 'k');
    bRead = true;
    EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(2));
    termios After;
    ASSERT_EQ(tcgetattr(STDIN_FILENO, &After), 0);
    EXPECT_EQ(After.c_lflag, Before.c_lflag);
    Watchdog.join();
}
