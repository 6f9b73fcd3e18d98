// Decoding of NMEA fields and sentences: well-formed values, every kind of
// malformed field, and the same numbers under a locale with decimal commas.
#include "NmeaSentences.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

using namespace gps;

namespace
{
constexpr double kKnot = 1852.0 / 3600.0;

struct PositionCase
{
    std::string lat, ns, lon, ew;
    bool ok;
    double expectLat, expectLon;
};

// Latitude, longitude and their hemispheres, good and bad.
void ExpectPositionTable()
{
    using S = std::string;
    const PositionCase cases[] = {
        {"8832.55", "N", "01131.000", "E", true, 88.5425, 11.516666666666667},
        {"4807.038", "S", "1131.000", "W", true, -48.1173, -11.516666666666667},
        {"0000.000", "N", "18000.000", "W", true, 0.0, -180.0},
        {"9000.0000", "S", "00000.5", "E", true, -90.0, 0.5 / 60},
        {"4860.000", "N", "01131.000", "E", false, 0, 0},   // minutes of 60
        {"9000.001", "N", "01131.000", "E", false, 0, 0},   // beyond 90
        {"99999.9999", "N", "01131.000", "E", false, 0, 0}, // too many degree digits
        {"4807.038", "N", "18000.001", "E", false, 0, 0},   // beyond 180
        {"4807.038", "N", "ABC", "E", false, 0, 0},
        {"4807.038", "Q", "01131.000", "E", false, 0, 0},
        {"4807.038", "n", "01131.000", "E", false, 0, 0},
        {"4807.038", "NN", "01131.000", "E", false, 0, 0},
        {"4807.038", "N", "01131.000", "N", false, 0, 0}, // N is no longitude hemisphere
        {"4807.038", "", "01131.000", "E", false, 0, 0},
        {"", "N", "01131.000", "E", false, 0, 0},
        {"4807.038", "N", "", "E", false, 0, 0},
        {"48.07.038", "N", "01131.000", "E", false, 0, 0},
        {"-4807.038", "N", "01131.000", "E", false, 0, 0},
        {" 4807.038", "N", "01131.000", "E", false, 0, 0},
        {"4807.0e1", "N", "01131.000", "E", false, 0, 0},
        {S("4807\0.038", 9), "N", "01131.000", "E", false, 0, 0},
        {"4807.038\t", "N", "01131.000", "E", false, 0, 0},
        {"7.038", "N", "01131.000", "E", false, 0, 0}, // one digit of minutes
    };
    for (const PositionCase& c : cases)
    {
        SCOPED_TRACE(c.lat + "," + c.ns + "," + c.lon + "," + c.ew);
        const std::optional<GeoPosition> p = ParsePosition(c.lat, c.ns, c.lon, c.ew);
        ASSERT_EQ(p.has_value(), c.ok);
        if (c.ok)
        {
            EXPECT_NEAR(p->latitude, c.expectLat, 1e-12);
            EXPECT_NEAR(p->longitude, c.expectLon, 1e-12);
        }
    }
}

// Times of day: kept to the nanosecond, never rounded up into the next second.
void ExpectTimeTable()
{
    const std::pair<const char*, std::int64_t> good[] = {
        {"142159.999", (14 * 3600 + 21 * 60 + 59) * 1000000000LL + 999000000},
        {"004646", (46 * 60 + 46) * 1000000000LL},
        {"235960.5", (23 * 3600 + 59 * 60 + 60) * 1000000000LL + 500000000},
        {"105153.408123456", (10 * 3600 + 51 * 60 + 53) * 1000000000LL + 408123456}};
    for (const auto& [text, nanos] : good)
    {
        const std::optional<TimeOfDay> time = ParseTimeOfDay(text);
        ASSERT_TRUE(time) << text;
        EXPECT_EQ(time->nanoseconds, nanos) << text;
    }
    for (const char* bad : {"", "12351", "240000", "126000", "123561", "123519.", "12a519",
                            "123519.1234567890", "123519,5", "-12351", "123519.5.5"})
        EXPECT_FALSE(ParseTimeOfDay(bad)) << bad;
}

struct SentenceCase
{
    const char* line;
    bool anyTalker;
    DecodeStatus status;
};

void ExpectSentenceTable()
{
    using D = DecodeStatus;
    const SentenceCase cases[] = {
        {"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n", false,
         D::Decoded},
        {"$GPGGA,,,,,,0,,,,M,,M,,*66", false, D::Decoded},
        {"$GNGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,", false, D::NotDecoded},
        {"$GNGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,", true, D::Decoded},
        {"$gpgga,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,", true, D::NotDecoded},
        {"$GPGGAX,123519,4807.038,N,01131.000,E,1", true, D::NotDecoded},
        {"$GPGSA,A,3,23,09,16,07,26,03,27,22,,,,,1.71,1.01,1.38*1B", true, D::NotDecoded},
        {"$GPGGA,123519,99999.9999,N,01131.000,E,1,08,0.9,545.4,M,,M,,", false, D::Rejected},
        {"$GPGGA,123519,4807.038,N,ABC,E,1,08,0.9,545.4,M,,M,,", false, D::Rejected},
        {"$GPGGA,123519,4807.038,N,01131.000,Q,1,08,0.9,545.4,M,,M,,", false, D::Rejected},
        {"$GPGGA,123519,4807.038,,01131.000,E,1,08,0.9,545.4,M,,M,,", false, D::Rejected},
        {"$GPGGA,12a519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,,M,,", false, D::Rejected},
        {"$GPGGA,123519,4807.038,N,01131.000,E,9,08,0.9,545.4,M,,M,,", false, D::Rejected},
        {"$GPGGA,123519,4807.038,N,01131.000,E,x,08,0.9,545.4,M,,M,,", false, D::Rejected},
        {"$GPRMC,,V,,,,,,,,,,N*53", false, D::NoData},
        {"$GPRMC,123519,V,4807.038,N,01131.000,E,022.4,084.4,230394,,,A", false, D::NoData},
        {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,,,,A", false, D::NoData},
        {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,,,N", false, D::NoData},
        {"$GNRMC,001053.00,A,4404.14083,N,12118.85886,W,0.", true, D::NoData},
        {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,300223,,,A", false, D::Rejected},
        {"$GPRMC,123519,A,4807.038,N,01131.000,X,022.4,084.4,230394,,,A", false, D::Rejected},
        {"$GPRMC,1235x9,A,4807.038,N,01131.000,E,022.4,084.4,230394,,,A", false, D::Rejected},
        {"$GPVTG,,T,,M,,N,,K,N*2C", false, D::NoData},
        {"$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K,N", false, D::NoData},
        {"$GPVTG,,T,,M,,N,,K,A", false, D::NoData},
        {"$GPZDA,,,,,00,00", false, D::NoData},
        {"$GPZDA,120000.00,29,02,2023,00,00", false, D::Rejected},
    };
    for (const SentenceCase& c : cases)
    {
        const Decoding d = DecodeSentence(c.line, c.anyTalker);
        EXPECT_EQ(d.status, c.status) << c.line;
        EXPECT_EQ(d.sentence.has_value(), c.status == D::Decoded) << c.line;
        EXPECT_EQ(d.error.empty(), c.status != D::Rejected) << c.line;
    }
}

template <typename T> T Decode(const std::string& line)
{
    const Decoding d = DecodeSentence(line, true);
    EXPECT_EQ(d.status, DecodeStatus::Decoded) << line << ": " << d.error;
    return d.sentence ? std::get<T>(*d.sentence) : T{};
}

// The numbers of each sentence type, checked field by field.
void ExpectSentenceValues()
{
    const GgaFix gga =
        Decode<GgaFix>("$GPGGA,123519,4807.038,N,01131.000,E,4,12,0.7,-4,M,46.9,M,,*47\r\n");
    ASSERT_TRUE(gga.position && gga.quality && gga.satellites && gga.hdop && gga.altitude);
    EXPECT_DOUBLE_EQ(gga.position->latitude, 48.1173);
    EXPECT_EQ(*gga.quality, 4);
    EXPECT_EQ(*gga.satellites, 12);
    EXPECT_DOUBLE_EQ(*gga.hdop, 0.7);
    EXPECT_DOUBLE_EQ(*gga.altitude, -4.0);

    const RmcFix rmc =
        Decode<RmcFix>("$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A");
    EXPECT_DOUBLE_EQ(rmc.speed.value_or(-1), 22.4 * kKnot);
    EXPECT_DOUBLE_EQ(rmc.course.value_or(-1), 84.4);
    EXPECT_DOUBLE_EQ(rmc.position.value_or(GeoPosition{}).longitude, 11.516666666666667);
    EXPECT_EQ(rmc.date.year * 10000 + rmc.date.month * 100 + rmc.date.day, 19940323);

    const VtgMotion knots = Decode<VtgMotion>("$GNVTG,,T,,M,0.029,N,0.053,K,A*30");
    EXPECT_FALSE(knots.course);
    EXPECT_DOUBLE_EQ(knots.speed.value_or(-1), 0.029 * kKnot);
    const VtgMotion kmh = Decode<VtgMotion>("$GPVTG,054.7,T,034.4,M,,N,36.0,K");
    EXPECT_DOUBLE_EQ(kmh.speed.value_or(-1), 10.0);
    EXPECT_DOUBLE_EQ(kmh.course.value_or(-1), 54.7);

    const ZdaTime zda = Decode<ZdaTime>("$GPZDA,193913.00,29,02,2024,00,00*63");
    EXPECT_EQ(zda.date.year * 10000 + zda.date.month * 100 + zda.date.day, 20240229);
}

class LocaleScope
{
public:
    explicit LocaleScope(const char* name) : ok(std::setlocale(LC_ALL, name) != nullptr) {}
    ~LocaleScope() { std::setlocale(LC_ALL, "C"); }
    const bool ok;
};
} // namespace

TEST(NmeaFields, PositionsTimesAndDates)
{
    ExpectPositionTable();
    ExpectTimeTable();
    EXPECT_TRUE(ParseDdmmyy("290224"));
    for (const char* bad : {"290223", "300224", "320124", "001324", "000124", "2902241", "29022x"})
        EXPECT_FALSE(ParseDdmmyy(bad)) << bad;
    EXPECT_EQ(ParseDdmmyy("311299")->year, 1999);
}

TEST(NmeaFields, DecimalsAreDigitsWithOnePoint)
{
    EXPECT_DOUBLE_EQ(ParseDecimal("545.4").value_or(0), 545.4);
    EXPECT_DOUBLE_EQ(ParseDecimal("-4", true).value_or(0), -4.0);
    for (const char* bad : {"", ".", "-4", "+4", "1e3", "inf", "nan", "4,5", "1.2.3", " 4", "0x10"})
        EXPECT_FALSE(ParseDecimal(bad)) << bad;
    EXPECT_FALSE(ParseDecimal("--4", true));
}

TEST(NmeaSentences, OutcomeOfEachSentence)
{
    ExpectSentenceTable();
}

TEST(NmeaSentences, ValuesOfEachSentence)
{
    ExpectSentenceValues();
}

TEST(NmeaSentences, FixQualityDecidesUsableFix)
{
    const std::pair<const char*, bool> cases[] = {
        {"$GPGGA,123519,4807.038,N,01131.000,E,5,08,0.9,545.4,M,,M,,", true},
        {"$GPGGA,123519,4807.038,N,01131.000,E,6,08,0.9,545.4,M,,M,,", false},
        {"$GPGGA,123519,4807.038,N,01131.000,E,0,08,0.9,545.4,M,,M,,", false},
        {"$GPGGA,123519,,,,,1,08,0.9,545.4,M,,M,,", false}};
    for (const auto& [line, usable] : cases)
        EXPECT_EQ(Decode<GgaFix>(line).IsUsableFix(), usable) << line;
    EXPECT_TRUE(Decode<GgaFix>(cases[1].first).FixPosition()); // dead reckoning still a position
    EXPECT_FALSE(Decode<GgaFix>(cases[2].first).FixPosition());
}

TEST(NmeaSentences, RejectionIsOneLineNamingTheField)
{
    const Decoding d =
        DecodeSentence(std::string("$GPGGA,123519,4807.038,N,011\r\0.0,E,1\r\n", 38), false);
    EXPECT_EQ(d.status, DecodeStatus::Rejected);
    EXPECT_EQ(d.error, "GPGGA: malformed position \"4807.038,N,011\\x0D\\x00.0,E\"");
}

TEST(NmeaSentences, LongHighPrecisionSentenceDecodes)
{
    const std::string line = "$GNGGA,123519.123456,4807.0381234567,N,01131.0001234567,E,4,32,0.51,"
                             "545.4123,M,46.9123,M,1.2,0001*5A\r\n";
    ASSERT_GT(line.size(), 82u);
    const GgaFix gga = Decode<GgaFix>(line);
    EXPECT_NEAR(gga.position.value_or(GeoPosition{}).latitude, 48 + 7.0381234567 / 60, 1e-12);
}

TEST(NmeaLocale, CommaDecimalLocaleReadsTheSameNumbers)
{
    LocaleScope german("de_DE.UTF-8");
    if (!german.ok)
        GTEST_SKIP() << "locale de_DE.UTF-8 is not installed; scripts/install-deps.sh makes it";
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    ExpectPositionTable();
    ExpectTimeTable();
    ExpectSentenceTable();
    ExpectSentenceValues();
}
