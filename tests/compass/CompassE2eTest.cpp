// Dirkel's numbers end to end: SensorSim's compass with a swinging attitude
// replayed on a pseudo-terminal, read by the real program with Numeric on and
// checked at the server; and answers to mail on GetCompassData sent by the
// real VarPoke through the server.
#include "E2eSupport.h"

#include "CompassFields.h"
#include "SensorLines.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>

using namespace e2e;

namespace
{
constexpr double kOffset = 0.5;
constexpr double kDeclination = -1.0;

std::string AsLogged(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.12g", value);
    return text;
}

class CompassE2eTest : public ::testing::Test
{
protected:
    void StartDirkel(const std::vector<std::string>& keys)
    {
        std::vector<std::string> all{"AppTick = 100", "CommsTick = 50", "Numeric = true"};
        all.insert(all.end(), keys.begin(), keys.end());
        WriteFile(dir / "Mission.moos", MissionText(server.Port(), {"Compass"}, all));
        dirkel = StartBridge("Dirkel", dir / "Mission.moos", feed.Device());
    }

    std::vector<std::string> Logged(const std::string& key) const
    {
        return server.Log().Values("Compass", key);
    }

    // Mail on GetCompassData from a client of its own name.
    int Poke(const std::string& name)
    {
        Process poke({Program("VarPoke"), "--server", "127.0.0.1:" + std::to_string(server.Port()),
                      "--name", name, "GetCompassData=1"});
        return poke.WaitExit().value_or(-1);
    }

    bool Subscribed() const
    {
        return WaitFor(
            [&]
            {
                for (const std::string& record : Logged("COMPASS_STATUS"))
                    if (record.find("Subscribing=\"GetCompassData,\"") != std::string::npos)
                        return true;
                return false;
            });
    }

    TempDir dir;
    TestServer server;
    ReplayFeed feed{dir};
    std::unique_ptr<Process> dirkel;
};

// Before the first reading a request is traced and not answered. Then every
// line gives its heading (turned by the offset and declination), pitch,
// roll and temperature, none lost, none out of order; a request after them
// publishes the latest reading again. DataTimeout ends a pass of the loop
// every second while the compass is quiet, so mail is read then.
TEST_F(CompassE2eTest, SwingingAttitudeGivesEveryValueInOrderAndRequestsTheLatest)
{
    const CompassSensor compass(true);
    std::vector<std::string> lines;
    std::map<std::string, std::vector<std::string>> expected;
    for (int i = 0; i < 300; ++i)
    {
        lines.push_back(compass.NextLine(i * 0.2) + "\r\n");
        const CompassReading reading = DecodeCompassLine(lines.back());
        ASSERT_TRUE(reading.heading && reading.pitch && reading.roll && reading.temperature);
        expected["COMPASS_HEADING"].push_back(AsLogged(VehicleHeading(*reading.heading, kOffset)));
        expected["COMPASS_HEADING_TRUE"].push_back(
            AsLogged(TrueHeading(*reading.heading, kOffset, kDeclination)));
        expected["COMPASS_PITCH"].push_back(AsLogged(*reading.pitch));
        expected["COMPASS_ROLL"].push_back(AsLogged(*reading.roll));
        expected["COMPASS_TEMPERATURE"].push_back(AsLogged(*reading.temperature));
    }
    StartDirkel({"HeadingOffset = 0.5", "MagneticDeclination = -1", "AnswerRequests = true",
                 "DataTimeout = 1"});
    ASSERT_TRUE(Subscribed()) << dirkel->Stderr();
    ASSERT_EQ(Poke("Asker1"), 0);
    EXPECT_TRUE(WaitFor(
        [&]
        {
            return dirkel->Stderr().find("GetCompassData asked for a reading before the compass "
                                         "gave one") != std::string::npos;
        }))
        << dirkel->Stderr();
    EXPECT_TRUE(Logged("COMPASS_HEADING").empty());

    ASSERT_TRUE(FeedInStep(feed, server.Log(), lines, "Compass", "CompassData", 16))
        << dirkel->Stderr();
    ASSERT_TRUE(server.Log().WaitForCount("Compass", "COMPASS_TEMPERATURE", lines.size()));
    for (const auto& [key, values] : expected)
        EXPECT_EQ(Logged(key), values) << key;

    std::vector<std::string> texts = Logged("CompassData");
    ASSERT_EQ(Poke("Asker2"), 0);
    ASSERT_TRUE(server.Log().WaitForCount("Compass", "COMPASS_TEMPERATURE", lines.size() + 1))
        << dirkel->Stderr();
    for (auto& [key, values] : expected)
    {
        values.push_back(values.back());
        EXPECT_EQ(Logged(key), values) << key;
    }
    texts.push_back(texts.back());
    EXPECT_EQ(Logged("CompassData"), texts);
}
} // namespace
