// The health record on a clock the test moves, the keys that turn health
// and recording on, and the bridge application recording and reporting
// through them on a pseudo-terminal.
#include "BridgeHealth.h"
#include "BridgeTestSupport.h"

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <gtest/gtest.h>

#include <fstream>

namespace
{
using std::chrono::milliseconds;
using Clock = BridgeHealth::Clock;

const Clock::time_point kStart{std::chrono::hours(1)};

class BridgeHealthTest : public ::testing::Test
{
protected:
    // Lines giving values at rate a second from now for seconds; the
    // device reading all along.
    void ValuesAt(double rate, double seconds)
    {
        const auto step =
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
        for (const Clock::time_point end = now + Seconds(seconds); now + step <= end;)
        {
            now += step;
            health.CountLine(true, false, now);
            health.Observe({}, now);
        }
    }
    static Clock::duration Seconds(double s)
    {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
    }

    Clock::time_point now = kStart;
    BridgeHealth health{"/dev/gps", 10.0, kStart};
};

TEST_F(BridgeHealthTest, StateIsTheFirstOfWaitingSilentSlowReading)
{
    ValuesAt(1.0, 6.0); // slow underneath all of them
    const struct
    {
        bool waiting, silent;
        HealthState state;
    } cases[] = {{true, true, HealthState::Waiting},
                 {true, false, HealthState::Waiting},
                 {false, true, HealthState::Silent}};
    for (const auto& c : cases)
    {
        BridgeHealth probe("/dev/gps", 10.0, kStart);
        probe.Observe({c.waiting, c.silent, {}}, kStart + std::chrono::seconds(6));
        EXPECT_EQ(probe.State(), c.state) << c.waiting << c.silent;
    }
    EXPECT_EQ(health.State(), HealthState::Slow);
    EXPECT_EQ(health.SlowReason(), "values from /dev/gps at 1.0 a second for 5 s (expected 10)");
}

// Half the expected rate over the last five seconds is not slow; below it
// is, and only once the window's rate has fallen that far; recovery clears.
TEST_F(BridgeHealthTest, SlowMeansBelowHalfTheRateOverFiveSeconds)
{
    ValuesAt(5.0, 10.0);
    EXPECT_EQ(health.State(), HealthState::Reading);
    ValuesAt(10.0, 5.0);
    ValuesAt(4.0, 4.0); // the window: 1 s at 10, 4 s at 4: 5.2 a second
    EXPECT_EQ(health.State(), HealthState::Reading);
    ValuesAt(4.0, 1.0);
    EXPECT_EQ(health.State(), HealthState::Slow);
    ValuesAt(10.0, 5.0);
    EXPECT_EQ(health.State(), HealthState::Reading);
    EXPECT_EQ(health.SlowReason(), "");
}

// Values stop altogether (lines may still come): slow once the window holds
// none; a silence or a missing device restarts the judgement, so the first
// seconds back at full rate are not slow for the gap before them.
TEST_F(BridgeHealthTest, NoValuesIsSlowButAGapOfTheDeviceIsNot)
{
    ValuesAt(10.0, 6.0);
    now += std::chrono::seconds(6);
    health.CountLine(false, true, now);
    EXPECT_TRUE(health.Observe({}, now));
    EXPECT_EQ(health.State(), HealthState::Slow);

    EXPECT_TRUE(health.Observe({false, true, {}}, now));
    ValuesAt(10.0, 1.0);
    EXPECT_EQ(health.State(), HealthState::Reading);
    health.Observe({true, false, {}}, now += std::chrono::seconds(30));
    ValuesAt(10.0, 4.0);
    EXPECT_EQ(health.State(), HealthState::Reading);

    BridgeHealth unjudged("/dev/gps", 0.0, kStart);
    EXPECT_FALSE(unjudged.Observe({}, kStart + std::chrono::hours(1)));
    EXPECT_EQ(unjudged.State(), HealthState::Reading);
}

TEST_F(BridgeHealthTest, RecordCountsFromStartUpAndRatesOverTheLastPeriod)
{
    EXPECT_EQ(health.TakeRecord(now + std::chrono::seconds(3)),
              "state=reading,device=/dev/gps,lines=0,line_rate=0.0,values_rate=0.0,rejected=0,"
              "dropped_stale=0,dropped_cap=0,last_line_age=3.00,last_values_age=3.00,reopens=0");
    now += std::chrono::seconds(3);
    ValuesAt(2.0, 2.0); // 4 lines with values
    health.CountLine(false, true, now += milliseconds(500));
    health.CountLine(false, false, now += milliseconds(500));
    health.Observe({true, false, {}}, now);
    health.Observe({false, false, {3, 1, 2, 4}}, now);
    EXPECT_EQ(health.TakeRecord(now + milliseconds(250)),
              "state=reading,device=/dev/gps,lines=6,line_rate=1.8,values_rate=1.2,rejected=1,"
              "dropped_stale=4,dropped_cap=6,last_line_age=0.25,last_values_age=1.25,reopens=1");
    EXPECT_NE(health.TakeRecord(now + milliseconds(2250))
                  .find(",lines=6,line_rate=0.0,values_rate=0.0,rejected=1,"),
              std::string::npos);
}

// Settings: the keys and their refusals, one line naming key and value.
TEST(HealthSettingsTest, KeysAreReadAndUnusableNumbersRefused)
{
    serialtest::TempDir dir;
    const std::string mission = (dir.Path() / "m.moos").string();
    const BridgeProgram gps{"Vantor", "Vantor", "VANTOR_DEVICE", "a GPS receiver", true};
    const auto read = [&](const std::string& entries)
    {
        std::ofstream(mission) << "ProcessConfig = Vantor\n{\n" << entries << "}\n";
        return ReadBridgeSettings(mission, "Vantor", gps);
    };
    const SettingsRead all = read("publishhealth = true\nExpectedRate = 0.5\n"
                                  "RecordTo = /tmp/gps-%Y%m%d.nmea\nRecordMaxBytes = 1048576\n");
    EXPECT_TRUE(all.error.empty()) << all.error;
    EXPECT_TRUE(all.settings.publishHealth);
    EXPECT_EQ(all.settings.expectedRate, 0.5);
    EXPECT_EQ(all.settings.recordTo, "/tmp/gps-%Y%m%d.nmea");
    EXPECT_EQ(all.settings.recordMaxBytes, 1048576u);
    EXPECT_NE(StartupLine(gps, all.settings).find("PublishHealth, ExpectedRate = 0.5 a second"),
              std::string::npos);

    const BridgeSettings none = read("").settings;
    EXPECT_FALSE(none.publishHealth);
    EXPECT_EQ(none.expectedRate, 0.0);
    EXPECT_EQ(none.recordTo, "");

    for (const char* bad : {"0", "-1", "fast", "nan", "inf", "2Hz"})
        EXPECT_EQ(read(std::string("ExpectedRate = ") + bad + "\n").error,
                  std::string("ExpectedRate = ") + bad +
                      " cannot be used: give values a second, a positive number");
    for (const char* bad : {"-1", "1MB", "1e6"})
        EXPECT_EQ(read(std::string("RecordMaxBytes = ") + bad + "\n").error,
                  std::string("RecordMaxBytes = ") + bad +
                      " cannot be used: give bytes, 0 (no limit) or more");
}

// A sensor whose own lines are "$T<value>*hh": enough to give the bridge
// values, rejections and other lines without a real sensor's format.
SentenceFormat TestFormat()
{
    SentenceFormat format;
    format.isOwn = [](const std::string& line, const BridgeSettings&)
    { return line.rfind("$T", 0) == 0; };
    format.valuesOf = [](const SentenceLine& line, const BridgeSettings&, const ValueTable&)
    {
        return std::optional<SentenceValues>(
            SentenceValues{TextValue("T", line.text.substr(2, line.text.find('*') - 2))});
    };
    return format;
}

struct TestSensor
{
    static BridgeProgram Program()
    {
        return {"Tester", "Tester", "TESTER_DEVICE", "a test", false};
    }
    static SentenceFormat Format() { return TestFormat(); }
};

class BridgeRecordingTest : public bridgetest::BridgeTest<TestSensor>
{
protected:
    std::vector<std::string> HealthRecords() const
    {
        std::vector<std::string> records;
        for (const auto& [name, value] : app->published)
            if (name.size() >= 7 && name.compare(name.size() - 7, 7, "_HEALTH") == 0)
                records.push_back(value);
        return records;
    }

    serialtest::TempDir dir;
};

// Every line the reader returns is in the recording as it came, whatever
// became of it, and the health record counts them.
TEST_F(BridgeRecordingTest, EveryLineReadIsRecordedAndCounted)
{
    BridgeSettings settings;
    settings.verifyChecksum = true;
    settings.publishHealth = true;
    settings.recordTo = (dir.Path() / "rec-%Y.txt").string();
    Configure(settings);
    const std::vector<std::string> lines{"$T1*00\r\n", "$T2\r\n", "other\x01\r\n",
                                         "$T3*" + MOOSFormat("%02X", 'T' ^ '3') + "\r\n"};
    // The record is due every 2 s of MOOS time: fast at this warp.
    SetMOOSTimeWarp(50.0);
    for (const std::string& line : lines)
    {
        const double before = MOOSTime();
        ASSERT_TRUE(serialtest::WaitFor([&] { return MOOSTime() - before > 2.5; }));
        Feed(line);
        ASSERT_EQ(HealthRecords().size(), 1u);
    }
    SetMOOSTimeWarp(1.0);
    const std::string record = HealthRecords().back();
    EXPECT_EQ(record.rfind("state=reading,device=" + pty.farEndPath() + ",lines=4,", 0), 0u)
        << record;
    EXPECT_NE(record.find(",rejected=2,"), std::string::npos) << record;
    app.reset(); // writes the recording out

    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::ifstream in(dir.Path() / ("rec-" + std::to_string(1900 + utc.tm_year) + ".txt"));
    std::string text, bytes;
    std::vector<std::string> recorded;
    RecordClock::time_point arrival;
    std::getline(in, text);
    EXPECT_EQ(text, kRecordingHeader);
    while (std::getline(in, text) && ParseRecordingLine(text, arrival, bytes))
        recorded.push_back(bytes);
    EXPECT_EQ(recorded, lines);
}

} // namespace
