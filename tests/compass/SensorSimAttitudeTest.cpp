#include "CompassFields.h"
#include "SensorLines.h"
#include "SensorSimOptions.h"
#include "SerialTestSupport.h"
#include "SimpleSerial.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace
{
// The lines of 60 s of a swinging compass at ten lines a second.
constexpr long kMinuteOfLines = 600;

struct Span
{
    double low = 1e9, high = -1e9;
    void Add(double value)
    {
        low = std::min(low, value);
        high = std::max(high, value);
    }
};

TEST(CompassAttitudeTest, PlainCompassLinesAreAsBefore)
{
    const CompassSensor compass;
    EXPECT_EQ(compass.NextLine(0.0), "$C320.5P0.0R0.0T19.0*29");
    EXPECT_EQ(compass.NextLine(7.3), "$C324.2P1.5R-0.3T19.0*00");
    EXPECT_EQ(compass.NextLine(79.0), "$C0.0P-0.6R-3.0T19.0*28");
}

TEST(CompassAttitudeTest, EveryFieldSwingsThroughBothSignsAndDecodes)
{
    const CompassSensor compass(true);
    Span pitch, roll, temperature;
    for (long i = 0; i < kMinuteOfLines; ++i)
    {
        const std::string line = compass.NextLine(i * 0.1);
        const CompassReading reading = DecodeCompassLine(line);
        ASSERT_TRUE(reading.heading && reading.pitch && reading.roll && reading.temperature)
            << line;
        EXPECT_TRUE(HasValidChecksum(line)) << line;
        pitch.Add(*reading.pitch);
        roll.Add(*reading.roll);
        temperature.Add(*reading.temperature);
    }
    EXPECT_EQ(pitch.low, -25.0);
    EXPECT_EQ(pitch.high, 25.0);
    EXPECT_EQ(roll.low, -37.5);
    EXPECT_EQ(roll.high, 37.5);
    EXPECT_EQ(temperature.low, -2.0);
    EXPECT_EQ(temperature.high, 10.0);
}

TEST(CompassAttitudeTest, TheOptionIsForTheCompassOnly)
{
    SensorSimOptions options;
    std::string error;
    EXPECT_FALSE(options.attitude);
    ASSERT_TRUE(ParseSensorSimOptions({"--compass", "--attitude"}, options, error)) << error;
    EXPECT_TRUE(options.attitude);
    for (const char* other : {"--gps", "--replay"})
    {
        options = SensorSimOptions();
        std::vector<std::string> args{other, "--attitude"};
        if (std::string(other) == "--replay")
            args.insert(args.begin() + 1, "capture.nmea");
        EXPECT_FALSE(ParseSensorSimOptions(args, options, error)) << other;
        EXPECT_EQ(error, "--attitude applies to --compass only");
    }
}

TEST(CompassAttitudeTest, TheProgramSendsEveryValueInOrder)
{
    serialtest::ChildProcess sim({serialtest::Program("SensorSim"), "--compass", "--attitude",
                                  "--fast", "--count", std::to_string(kMinuteOfLines)});
    ASSERT_TRUE(sim.Started());
    SimpleSerial device(sim.FirstLine(), 19200);
    const CompassSensor compass(true);
    for (long i = 0; i < kMinuteOfLines; ++i)
    {
        const std::string line = device.readString();
        ASSERT_EQ(line, compass.NextLine(i * 0.1) + "\r\n") << "line " << i;
        const CompassReading reading = DecodeCompassLine(line);
        ASSERT_TRUE(reading.pitch && reading.roll && reading.temperature) << line;
    }
    EXPECT_EQ(sim.Wait(), 0);
}
} // namespace
