// Time of fix across midnight and the calendar, fix records of one epoch
// each, their text, and local metres about an origin.
#include "FixEpoch.h"

#include <GeographicLib/Geodesic.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace gps;

namespace
{
Sentence Decode(const std::string& line)
{
    const Decoding d = DecodeSentence(line, true);
    EXPECT_EQ(d.status, DecodeStatus::Decoded) << line << ": " << d.error;
    return d.sentence.value_or(Sentence{});
}

std::string Gga(const std::string& time, const std::string& quality = "4")
{
    return "$GPGGA," + time + ",4807.038,N,01131.000,E," + quality + ",12,0.7,545.4,M,46.9,M,,";
}

std::string Rmc(const std::string& time, const std::string& course = "84.4",
                const std::string& date = "091224")
{
    return "$GPRMC," + time + ",A,4807.038,N,01131.000,E,0.6," + course + "," + date + ",,,A";
}

// Feeds lines to an accumulator and keeps the records it gives, the index of
// the line that gave each included.
struct Feed
{
    FixAccumulator fixes;
    std::vector<std::pair<int, FixRecord>> records;
    int lines = 0;

    void operator()(const std::string& line)
    {
        if (std::optional<FixRecord> record = fixes.Add(Decode(line)))
            records.emplace_back(lines, *record);
        ++lines;
    }
};
} // namespace

TEST(DateTracker, TimeOfDayTakesTheNearestDayOfTheLatestDate)
{
    struct Case
    {
        const char* date;
        const char* datedTime;
        const char* time;
        std::int64_t expect;
    };
    const Case cases[] = {
        {"311224", "235959.80", "000000.20", 1735689600},      // into a new year
        {"280224", "235959", "000001", 1709164801},            // into a leap day
        {"280223", "235959", "000001", 1677628801},            // no leap day in 2023
        {"010324", "000000.10", "235959.90", 1709251199},      // a late GGA of the day before
        {"091224", "120000", "120000.50", 1733702400 + 43200}, // the same day
    };
    for (const Case& c : cases)
    {
        DateTracker dates;
        EXPECT_FALSE(dates.Resolve(*ParseTimeOfDay(c.time)));
        dates.NoteDated(*ParseDdmmyy(c.date), *ParseTimeOfDay(c.datedTime));
        const std::optional<UtcTime> utc = dates.Resolve(*ParseTimeOfDay(c.time));
        ASSERT_TRUE(utc) << c.time;
        EXPECT_EQ(utc->seconds, c.expect) << c.date << " " << c.time;
    }
}

TEST(DateTracker, FollowingKeepsTheDateThroughUndatedDays)
{
    DateTracker dates;
    dates.NoteDated(*ParseDdmmyy("091224"), *ParseTimeOfDay("230000"));
    std::int64_t utc = 0;
    for (const char* time : {"050000", "110000", "170000", "230000", "050000"})
        utc = dates.Follow(*ParseTimeOfDay(time))->seconds;
    EXPECT_EQ(utc, 1733702400 + 2 * 86400 + 5 * 3600); // 11 December
}

TEST(FixRecordText, FieldsInOrderWithChosenPrecision)
{
    FixRecord record;
    record.utc = UtcTime{1733700000, 200000000, 2};
    record.position = GeoPosition{48.1173, 11.516666666666667};
    record.quality = 4;
    record.satellites = 12;
    record.hdop = 0.7;
    record.altitude = 545.4;
    record.speed = 0.31;
    record.course = 84.4;
    record.local = LocalPoint{12.5, -3.2};
    EXPECT_EQ(FormatFixRecord(record),
              "utc=1733700000.20,lat=48.1173,lon=11.516666667,quality=4,satellites=12,hdop=0.7,"
              "altitude=545.4,speed=0.31,course=84.4,x=12.50,y=-3.20");

    FixRecord sparse;
    sparse.utc = UtcTime{1733700000, 999000000, 3};
    sparse.local = LocalPoint{-0.001, 0.0};
    EXPECT_EQ(FormatFixRecord(sparse), "utc=1733700000.999,x=0.00,y=0.00");
}

TEST(FixAccumulator, RecordCompleteAsSoonAsNothingCanBeAdded)
{
    Feed feed;
    feed(Gga("120000.00"));
    feed(Rmc("120000.00"));
    ASSERT_EQ(feed.records.size(), 1u);
    EXPECT_EQ(feed.records[0].first, 1);
    EXPECT_EQ(FormatFixRecord(feed.records[0].second),
              "utc=1733745600.00,lat=48.1173,lon=11.516666667,quality=4,satellites=12,hdop=0.7,"
              "altitude=545.4,speed=0.309,course=84.4");
    feed("$GPVTG,200.0,T,,M,5.0,N,,K,A"); // same epoch, already given out
    feed(Gga("120001.00"));
    EXPECT_EQ(feed.fixes.Flush()->speed, std::nullopt);
    EXPECT_EQ(feed.records.size(), 1u);
}

TEST(FixAccumulator, EpochsNeverMixAndEndWithTheNextTime)
{
    Feed feed;
    feed("$GNVTG,,T,,M,0.029,N,0.053,K,A"); // no epoch open yet: dropped
    feed(Gga("000941.00"));
    feed("$GNZDA,000941.00,10,01,2017,00,00");
    feed(Rmc("000942.00", "", "100117")); // no course: the epoch stays open
    feed("$GNVTG,,T,,M,0.041,N,0.076,K,A");
    feed(Gga("000942.00", "0"));
    feed("$GPGGA,,,,,,0,,,,M,,M,,"); // no time: cannot be placed
    ASSERT_EQ(feed.records.size(), 1u);
    const FixRecord& first = feed.records[0].second;
    EXPECT_EQ(feed.records[0].first, 3);
    EXPECT_EQ(first.utc->seconds, 1484006400 + 9 * 60 + 41);
    EXPECT_FALSE(first.speed);
    const std::optional<FixRecord> second = feed.fixes.Flush();
    ASSERT_TRUE(second);
    EXPECT_EQ(FormatFixRecord(*second),
              "utc=1484006982.00,quality=0,satellites=12,hdop=0.7,altitude=545.4,speed=0.021");
    EXPECT_FALSE(feed.fixes.Flush());
}

TEST(FixAccumulator, GridGivesMetresOnlyWithAFix)
{
    FixAccumulator fixes(LocalGrid::Make(48.1173, 11.516666666666667));
    fixes.Add(Decode(Gga("120000")));
    const std::optional<FixRecord> withFix = fixes.Add(Decode(Gga("120001", "0")));
    ASSERT_TRUE(withFix && withFix->local);
    EXPECT_NEAR(withFix->local->x, 0.0, 1e-6);
    EXPECT_FALSE(fixes.Flush()->local);
    EXPECT_FALSE(LocalGrid::Make(91.0, 0.0));
    EXPECT_FALSE(LocalGrid::Make(0.0, NAN));
}

TEST(LocalGrid, GeodesicPointsComeBackAtTheirRangeAndBearing)
{
    const GeographicLib::Geodesic& earth = GeographicLib::Geodesic::WGS84();
    for (const GeoPosition origin :
         {GeoPosition{48.1173, 11.5167}, GeoPosition{-33.9, 151.2}, GeoPosition{71.0, -156.8}})
    {
        const LocalGrid grid = *LocalGrid::Make(origin.latitude, origin.longitude);
        for (double range : {1000.0, 10000.0})
            for (double bearing : {0.0, 45.0, 90.0, 200.0})
            {
                GeoPosition p;
                earth.Direct(origin.latitude, origin.longitude, bearing, range, p.latitude,
                             p.longitude);
                const LocalPoint xy = grid.ToLocal(p);
                const double radians = bearing * M_PI / 180.0;
                EXPECT_NEAR(xy.x, range * std::sin(radians), 0.05) << range << " " << bearing;
                EXPECT_NEAR(xy.y, range * std::cos(radians), 0.05) << range << " " << bearing;
            }
    }
}
