#include "CompassFields.h"
#include "SensorLines.h"
#include "SensorSimOptions.h"
#include "SerialTestSupport.h"
#include "SimpleSerial.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace
{
TEST(CompassAttitudeTest, PlainCompassLinesAreAsBeforeAndAttitudeIsForTheCompassOnly)
{
    const CompassSensor compass;
    EXPECT_EQ(compass.NextLine(7.3), "$C324.2P1.5R-0.3T19.0*00");
    EXPECT_EQ(compass.NextLine(79.0), "$C0.0P-0.6R-3.0T19.0*28");
    SensorSimOptions options;
    std::string error;
    EXPECT_FALSE(options.attitude);
    EXPECT_FALSE(ParseSensorSimOptions({"--gps", "--attitude"}, options, error));
    EXPECT_EQ(error, "--attitude applies to --compass only");
    options = SensorSimOptions();
    error.clear();
    EXPECT_TRUE(ParseSensorSimOptions({"--compass", "--attitude"}, options, error)) << error;
    EXPECT_TRUE(options.attitude);
}

// A minute of lines at the default ten a second: every field swings through
// both signs, and each line reaches the reader whole and in order.
TEST(CompassAttitudeTest, TheProgramSendsEveryValueInOrder)
{
    constexpr long kLines = 600;
    serialtest::ChildProcess sim({serialtest::Program("SensorSim"), "--compass", "--attitude",
                                  "--fast", "--count", std::to_string(kLines)});
    ASSERT_TRUE(sim.Started());
    SimpleSerial device(sim.FirstLine(), 19200);
    const CompassSensor compass(true);
    std::vector<double> pitch, roll, temperature;
    for (long i = 0; i < kLines; ++i)
    {
        const std::string line = device.readString();
        ASSERT_EQ(line, compass.NextLine(i * 0.1) + "\r\n") << "line " << i;
        const CompassReading reading = DecodeCompassLine(line);
        ASSERT_TRUE(reading.heading && reading.pitch && reading.roll && reading.temperature)
            << line;
        pitch.push_back(*reading.pitch);
        roll.push_back(*reading.roll);
        temperature.push_back(*reading.temperature);
    }
    EXPECT_EQ(sim.Wait(), 0);
    const auto span = [](const std::vector<double>& values)
    {
        const auto [low, high] = std::minmax_element(values.begin(), values.end());
        return std::make_pair(*low, *high);
    };
    EXPECT_EQ(span(pitch), std::make_pair(-25.0, 25.0));
    EXPECT_EQ(span(roll), std::make_pair(-37.5, 37.5));
    EXPECT_EQ(span(temperature), std::make_pair(-2.0, 10.0));
}
} // namespace
