// The GPS bridge's numbers, fix records, prefixes and receiver time stamps:
// lines handed to the bridge application built from Vantor's format, with
// what it publishes recorded with numbers and stamps.
#include "GgaFormat.h"
#include "PseudoTerminal.h"
#include "SerialBridge.h"
#include "support/Files.h"

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

namespace
{
const char kGga[] = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
const char kRmc[] = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";
constexpr double kRmcUtc = 764426119.0; // 1994-03-23 12:35:19
constexpr double kKnot = 1852.0 / 3600.0;

struct Sent
{
    std::string text;
    std::optional<double> number;
    double time = 0.0;
};

class VantorGpsTest : public ::testing::Test
{
protected:
    // Numbers without the text variables, and only after a line that gave
    // values, unless a test says otherwise.
    static BridgeSettings Numeric()
    {
        BridgeSettings settings;
        settings.gps.numeric = true;
        settings.gps.publishText = false;
        settings.publishEveryLine = false;
        return settings;
    }

    void Configure(BridgeSettings settings)
    {
        app.reset();
        settings.serialPort = pty.farEndPath();
        const auto outbox = [this](const SentenceValue& value, double time) {
            sent[value.name] = Sent{value.text, value.number, time};
        };
        app = std::make_unique<CSimulator>(VantorProgram(), GgaFormat(), settings,
                                           BridgeSeams{outbox, {}, {}});
    }

    // What line published, by name; echo gets what it printed.
    const std::map<std::string, Sent>& Feed(const std::string& line)
    {
        sent.clear();
        testing::internal::CaptureStdout();
        app->HandleLine(line);
        echo = testing::internal::GetCapturedStdout();
        return sent;
    }

    double Number(const std::string& name) const
    {
        const auto found = sent.find(name);
        EXPECT_TRUE(found != sent.end() && found->second.number) << name;
        return found != sent.end() ? found->second.number.value_or(NAN) : NAN;
    }

    PseudoTerminal pty;
    std::unique_ptr<CSimulator> app;
    std::map<std::string, Sent> sent;
    std::string echo;
};

std::vector<std::string> Names(const std::map<std::string, Sent>& sent)
{
    std::vector<std::string> names;
    for (const auto& entry : sent)
        names.push_back(entry.first);
    return names;
}

TEST_F(VantorGpsTest, NumericGivesSignedDegreesAndTheReceiversMeasurements)
{
    Configure(Numeric());
    Feed(kGga);
    EXPECT_NEAR(Number("GPS_LAT"), 48.1173, 1e-12);
    EXPECT_NEAR(Number("GPS_LON"), 11.0 + 31.0 / 60.0, 1e-12);
    EXPECT_EQ(Number("GPS_QUALITY"), 1);
    EXPECT_EQ(Number("GPS_SATELLITES"), 8);
    EXPECT_EQ(Number("GPS_HDOP"), 0.9);
    EXPECT_EQ(Number("GPS_ALTITUDE"), 545.4);
    EXPECT_EQ(sent.count("GPS_UTC") + sent.count("GPS_X") + sent.count("Latitude"), 0u);
    EXPECT_NE(echo.find("GPS_LAT=48.1173\n"), std::string::npos) << echo;

    Feed("$GPGGA,123520,3351.5,S,15112.25,W,4,12,0.7,10.0,M,,M,,*00\r\n");
    EXPECT_NEAR(Number("GPS_LAT"), -(33 + 51.5 / 60), 1e-12);
    EXPECT_NEAR(Number("GPS_LON"), -(151 + 12.25 / 60), 1e-12);
    EXPECT_EQ(Number("GPS_QUALITY"), 4);

    // No fix is said, and never gives a position, not even one the
    // receiver still writes.
    for (const char* noFix : {"$GPGGA,212607.891,,,,,0,00,,,M,0.0,M,,0000*56\r\n",
                              "$GPGGA,123521,4807.038,N,01131.000,E,0,08,0.9,545.4,M,,M,,*00\r\n"})
    {
        Feed(noFix);
        EXPECT_EQ(Number("GPS_QUALITY"), 0) << noFix;
        EXPECT_EQ(sent.count("GPS_LAT") + sent.count("GPS_LON"), 0u) << noFix;
    }

    Feed(kRmc);
    EXPECT_NEAR(Number("GPS_SPEED"), 22.4 * kKnot, 1e-9);
    EXPECT_EQ(Number("GPS_COURSE"), 84.4);
    EXPECT_EQ(Number("GPS_UTC"), kRmcUtc);
    Feed("$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K,A*00\r\n");
    EXPECT_EQ(Number("GPS_COURSE"), 54.7);
    EXPECT_NEAR(Number("GPS_SPEED"), 2.83, 0.01);
}

// Sentences that say "no data" change nothing and are not rejected; a field
// that names the fix but is malformed gives nothing from its sentence and is
// counted, with Numeric as with RequireFix. Which fields are malformed is
// pinned where sentences are decoded; here a range error, and a NUL inside
// the line, which must not cut it into a shorter line that is not counted.
TEST_F(VantorGpsTest, EmptyAndMalformedSentencesGiveNothing)
{
    const std::vector<std::string> noData{
        "$GPVTG,,T,,M,,N,,K,N*2C\r\n",
        "$GPRMC,123519,V,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*00\r\n"};
    const std::vector<std::string> malformed{
        "$GPGGA,123519,4860.000,N,01131.000,E,1,08,0.9,545.4,M,,M,,*00\r\n",
        std::string("$GPGGA,123519,4807.0\0"
                    "38,N,01131.000,E,1,08,0.9,545.4,M,,M,,*00\r\n",
                    64)};
    BridgeSettings requireFix;
    requireFix.requireFix = true;
    requireFix.publishEveryLine = false;
    for (const BridgeSettings& settings : {Numeric(), requireFix})
    {
        Configure(settings);
        for (const std::string& line : noData)
            EXPECT_TRUE(Feed(line).empty()) << line;
        for (const std::string& line : malformed)
            EXPECT_TRUE(Feed(line).empty()) << line;
        EXPECT_EQ(app->RejectedLines(), malformed.size());
    }
}

TEST_F(VantorGpsTest, RequireFixTakesQualitiesOneToFiveWithAPosition)
{
    BridgeSettings settings;
    settings.requireFix = true;
    settings.publishEveryLine = false;
    Configure(settings);
    for (int quality = 0; quality <= 8; ++quality)
    {
        const std::string line = "$GPGGA,123519,4807.038,N,01131.000,E," + std::to_string(quality) +
                                 ",08,0.9,545.4,M,,M,,*00\r\n";
        EXPECT_EQ(Feed(line).size(), quality >= 1 && quality <= 5 ? 4u : 0u) << quality;
    }
    EXPECT_TRUE(Feed("$GPGGA,123519,,,,,1,08,0.9,545.4,M,,M,,*00\r\n").empty());
    EXPECT_EQ(app->RejectedLines(), 0u);
}

// A GGA takes the date of the last dated sentence, across midnight; with
// StampTime = receiver every value is stamped with its time of fix, and
// with the time its line was read before a date is known.
TEST_F(VantorGpsTest, TimeOfFixDatesGgaAcrossMidnightAndStampsValues)
{
    BridgeSettings settings = Numeric();
    settings.gps.publishText = true;
    settings.gps.stampReceiver = true;
    Configure(settings);
    const double before = MOOSTime();
    Feed(kGga);
    EXPECT_GE(sent.at("Latitude").time, before);
    EXPECT_LE(sent.at("GPS_LAT").time, MOOSTime());

    Feed("$GPRMC,235959.80,A,4807.038,N,01131.000,E,0.0,,311224,,*00\r\n");
    EXPECT_NEAR(Number("GPS_UTC"), 1735689599.8, 1e-6);
    EXPECT_EQ(sent.count("GPS_COURSE"), 0u); // standing still: no course, not 0
    Feed("$GPGGA,000000.20,4807.038,N,01131.000,E,1,08,0.9,545.4,M,,M,,*00\r\n");
    EXPECT_NEAR(Number("GPS_UTC"), 1735689600.2, 1e-6);
    for (const auto& [name, value] : sent)
        EXPECT_NEAR(value.time, 1735689600.2, 1e-6) << name;
}

TEST_F(VantorGpsTest, FixRecordGathersOneEpochAndGoesOutWhenComplete)
{
    BridgeSettings settings;
    settings.gps.fixRecord = true;
    settings.gps.latOrigin = 48.1173;
    settings.gps.longOrigin = 11.0 + 31.0 / 60.0;
    settings.publishEveryLine = false;
    Configure(settings);
    Feed(kGga);
    EXPECT_EQ(sent.count("GPS_FIX"), 0u);
    Feed(kRmc); // the epoch now holds all a record can hold
    ASSERT_EQ(sent.count("GPS_FIX"), 1u);
    EXPECT_EQ(sent.at("GPS_FIX").text,
              "utc=764426119.00,lat=48.1173,lon=11.516666667,quality=1,satellites=8,hdop=0.9,"
              "altitude=545.4,speed=11.524,course=84.4,x=0.00,y=0.00");
    EXPECT_EQ(Feed(kRmc).count("GPS_FIX"), 0u); // one record per epoch
    EXPECT_EQ(Names(Feed("$GPGGA,123520,4807.038,N,01131.000,E,1,08,0.9,545.4,M,,M,,*00\r\n")),
              (std::vector<std::string>{"Indic_EW", "Indic_NS", "Latitude", "Longitude"}));
    // The next epoch closes the last one, with only what it had.
    Feed("$GPGGA,123521,4807.038,N,01131.000,E,0,08,0.9,545.4,M,,M,,*00\r\n");
    EXPECT_EQ(sent.at("GPS_FIX").text,
              "utc=764426120.00,lat=48.1173,lon=11.516666667,quality=1,satellites=8,hdop=0.9,"
              "altitude=545.4,x=0.00,y=0.00");
}

// A second receiver's bridge publishes only its own prefixed numbers, from
// the first line on, whatever the line.
TEST_F(VantorGpsTest, PrefixWithoutTextPublishesOnlyItsOwnNames)
{
    BridgeSettings settings = Numeric();
    settings.publishEveryLine = true;
    settings.gps.variablePrefix = "GPS2";
    Configure(settings);
    EXPECT_TRUE(Feed("$GPGSV,1,1,00*79\r\n").empty());
    EXPECT_EQ(echo, "");
    Feed(kGga);
    EXPECT_EQ(Names(sent),
              (std::vector<std::string>{"GPS2_ALTITUDE", "GPS2_HDOP", "GPS2_LAT", "GPS2_LON",
                                        "GPS2_QUALITY", "GPS2_SATELLITES"}));
}

// Every GGA with a fix in every capture gives the position of an independent
// conversion of its text, none without a fix gives one, and the u-blox
// capture's whole RMC sentences give speed and a full time of fix (no course:
// it stands still) and a fix record each.
TEST_F(VantorGpsTest, CapturesGivePositionsInDegreesAndUbloxMotionAndTime)
{
    const auto degrees = [](const std::string& text, int width, const std::string& hemisphere)
    {
        const double value = std::stod(text.substr(0, width)) + std::stod(text.substr(width)) / 60;
        return hemisphere == "S" || hemisphere == "W" ? -value : value;
    };
    BridgeSettings settings = Numeric();
    settings.acceptAnyTalker = true;
    settings.gps.fixRecord = true;
    for (const char* name : {"bundg_zeus_9.nmea", "ch-4711.nmea", "hemi.nmea", "motorola-t805.nmea",
                             "telit-he910.nmea", "ublox-8.nmea", "venus634lp.nmea"})
    {
        const std::filesystem::path capture = moostest::CapturePath(std::string("nmea/") + name);
        MOOS_SKIP_WITHOUT_CAPTURE(capture);
        Configure(settings);
        std::ifstream in(capture, std::ios::binary);
        int fixes = 0, rmc = 0, records = 0;
        for (std::string line; std::getline(in, line);)
        {
            records += static_cast<int>(Feed(line + "\n").count("GPS_FIX"));
            std::vector<std::string> f;
            std::istringstream fields(line);
            for (std::string field; std::getline(fields, field, ',');)
                f.push_back(field);
            const std::string type = line.size() > 6 ? line.substr(3, 3) : "";
            if (type == "RMC" && f[2] == "A" && line.find('*') != std::string::npos &&
                std::string(name) == "ublox-8.nmea")
            {
                ++rmc;
                EXPECT_GT(Number("GPS_UTC"), 1e9) << line;
                EXPECT_GE(Number("GPS_SPEED"), 0.0) << line;
                EXPECT_EQ(sent.count("GPS_COURSE"), 0u) << line;
            }
            if (type != "GGA" || !sent.count("GPS_QUALITY"))
                continue;
            EXPECT_EQ(sent.count("GPS_LAT"), f[6] == "0" ? 0u : 1u) << line;
            if (f[6] == "0")
                continue;
            ++fixes;
            EXPECT_NEAR(Number("GPS_LAT"), degrees(f[2], 2, f[3]), 1e-9) << line;
            EXPECT_NEAR(Number("GPS_LON"), degrees(f[4], 3, f[5]), 1e-9) << line;
        }
        EXPECT_GT(fixes, 0) << name;
        EXPECT_GE(records, rmc - 1) << name; // the last epoch is still open at the end
    }
}

} // namespace
