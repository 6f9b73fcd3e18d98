// The GPS bridge's numbers end to end: two real Vantor processes, one per
// receiver (SensorSim replays), each with its own block and prefix, checked
// at an in-process server.
#include "E2eSupport.h"

#include <gtest/gtest.h>

using namespace e2e;

namespace
{
const char kGga[] = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
const char kRmc[] = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";
const char kSouthWest[] = "$GPGGA,123520,3351.5,S,15112.25,W,4,12,0.7,10.0,M,,M,,*00\r\n";

class VantorGpsE2eTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WriteFile(dir / "Mission.moos",
                  "ServerHost = localhost\nServerPort = " + std::to_string(server.Port()) +
                      "\nLatOrigin = 48.1173\nLongOrigin = 11.516666666666667\n"
                      "\nProcessConfig = GPS1\n{\n  AppTick = 0\n  CommsTick = 50\n"
                      "  PublishEveryLine = false\n  Numeric = true\n  FixRecord = true\n"
                      "  StampTime = receiver\n}\n"
                      "\nProcessConfig = GPS2\n{\n  AppTick = 0\n  CommsTick = 50\n"
                      "  PublishEveryLine = false\n  Numeric = true\n  PublishText = false\n"
                      "  VariablePrefix = GPS2\n}\n");
    }

    // The one value process published for key.
    LoggedNotification Only(const std::string& process, const std::string& key)
    {
        const std::vector<LoggedNotification> entries = server.Log().From(process, key);
        EXPECT_EQ(entries.size(), 1u) << process << " " << key;
        return entries.empty() ? LoggedNotification{} : entries.front();
    }

    TempDir dir, firstDir, secondDir;
    TestServer server;
};

TEST_F(VantorGpsE2eTest, TwoReceiversPublishTheirOwnNumbersAndFixRecords)
{
    ReplayFeed first(firstDir), second(secondDir);
    const auto gps1 = StartBridge("Vantor", dir / "Mission.moos", first.Device(), "GPS1");
    const auto gps2 = StartBridge("Vantor", dir / "Mission.moos", second.Device(), "GPS2");
    ASSERT_TRUE(server.Log().WaitForCount("GPS1", "GPS1_STATUS", 1)) << gps1->Stderr();
    ASSERT_TRUE(server.Log().WaitForCount("GPS2", "GPS2_STATUS", 1)) << gps2->Stderr();
    EXPECT_NE(gps1->Stderr().find("Numeric, FixRecord"), std::string::npos) << gps1->Stderr();

    ASSERT_TRUE(first.Write(std::string(kGga) + kRmc));
    ASSERT_TRUE(second.Write(kSouthWest));
    ASSERT_TRUE(server.Log().WaitForCount("GPS1", "GPS_FIX", 1)) << gps1->Stderr();
    ASSERT_TRUE(server.Log().WaitForCount("GPS2", "GPS2_LAT", 1)) << gps2->Stderr();

    const LoggedNotification fix = Only("GPS1", "GPS_FIX");
    EXPECT_EQ(fix.value, "utc=764426119.00,lat=48.1173,lon=11.516666667,quality=1,satellites=8,"
                         "hdop=0.9,altitude=545.4,speed=11.524,course=84.4,x=0.00,y=0.00");
    EXPECT_NEAR(std::stod(Only("GPS1", "GPS_LAT").value), 48.1173, 1e-9);
    EXPECT_NEAR(std::stod(Only("GPS1", "GPS_X").value), 0.0, 1e-6);
    EXPECT_EQ(server.Log().From("GPS1", "Latitude").size(), 2u); // the RMC gave no text

    EXPECT_NEAR(std::stod(Only("GPS2", "GPS2_LAT").value), -(33 + 51.5 / 60), 1e-9);
    EXPECT_NEAR(std::stod(Only("GPS2", "GPS2_LON").value), -(151 + 12.25 / 60), 1e-9);
    EXPECT_EQ(Only("GPS2", "GPS2_QUALITY").value, "4");
    for (const LoggedNotification& entry : server.Log().From("GPS2"))
        EXPECT_EQ(entry.key.rfind("GPS2_", 0), 0u) << entry.key;
}
} // namespace
