// Real receiver captures: every GGA position against a conversion written
// independently of the decoder, and the fix records of the u-blox capture.
#include "FixEpoch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

using namespace gps;

namespace
{
const std::filesystem::path kCaptures = std::filesystem::path(MOOS_SHARED_DIR) / "captures/nmea";

std::vector<std::string> ReadLines(const std::filesystem::path& path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> CommaFields(const std::string& line)
{
    std::vector<std::string> fields;
    std::istringstream in(line.substr(0, line.find('*')));
    for (std::string field; std::getline(in, field, ',');)
        fields.push_back(field);
    return fields;
}

// ddmm.mmmm by way of a double of the whole text, as a consumer might write
// it (the test runs under the C locale).
double IndependentDegrees(const std::string& text, const std::string& hemisphere)
{
    const double value = std::stod(text);
    const double degrees = std::floor(value / 100.0);
    const double magnitude = degrees + (value - degrees * 100.0) / 60.0;
    return hemisphere == "S" || hemisphere == "W" ? -magnitude : magnitude;
}

// Checks one GGA line; true when it had a fix.
bool CheckGga(const std::string& line)
{
    const std::vector<std::string> f = CommaFields(line);
    const Decoding d = DecodeSentence(line, true);
    EXPECT_EQ(d.status, DecodeStatus::Decoded) << line << ": " << d.error;
    if (!d.sentence)
        return false;
    const std::optional<GeoPosition> position = std::get<GgaFix>(*d.sentence).FixPosition();
    const bool hasFix = f.size() > 6 && !f[6].empty() && f[6] != "0" && !f[2].empty();
    EXPECT_EQ(position.has_value(), hasFix) << line;
    if (!hasFix || !position)
        return false;
    EXPECT_NEAR(position->latitude, IndependentDegrees(f[2], f[3]), 1e-9) << line;
    EXPECT_NEAR(position->longitude, IndependentDegrees(f[4], f[5]), 1e-9) << line;
    return true;
}
} // namespace

TEST(Captures, EveryGgaWithAFixGivesItsPositionInDegrees)
{
    int files = 0;
    int fixes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kCaptures))
    {
        if (entry.path().extension() != ".nmea")
            continue;
        ++files;
        SCOPED_TRACE(entry.path().filename().string());
        for (const std::string& line : ReadLines(entry.path()))
        {
            if (IsSentence(line, "GGA", true))
                fixes += CheckGga(line);
            else // no other line of a real receiver is malformed
                EXPECT_NE(DecodeSentence(line, true).status, DecodeStatus::Rejected) << line;
        }
    }
    EXPECT_EQ(files, 7);
    EXPECT_GT(fixes, 200);
}

TEST(Captures, UbloxGivesSpeedAndFullUtcForEveryRmcEpoch)
{
    FixAccumulator fixes;
    std::map<std::int64_t, FixRecord> records; // by time of day
    std::vector<std::string> rmcLines;
    for (const std::string& line : ReadLines(kCaptures / "ublox-8.nmea"))
    {
        const Decoding d = DecodeSentence(line, true);
        if (IsSentence(line, "RMC", true) && d.sentence)
            rmcLines.push_back(line);
        if (!d.sentence)
            continue;
        if (std::optional<FixRecord> record = fixes.Add(*d.sentence))
            records[record->time.nanoseconds] = *record;
    }
    if (std::optional<FixRecord> record = fixes.Flush())
        records[record->time.nanoseconds] = *record;

    ASSERT_EQ(rmcLines.size(), 71u); // the 72nd is cut off in the capture
    for (const std::string& line : rmcLines)
    {
        const std::vector<std::string> f = CommaFields(line);
        ASSERT_EQ(f[9], "100117") << line;
        const int hhmmss = std::stoi(f[1]);
        const int secondOfDay = hhmmss / 10000 * 3600 + hhmmss / 100 % 100 * 60 + hhmmss % 100;
        const auto found = records.find(secondOfDay * 1000000000LL);
        ASSERT_NE(found, records.end()) << line;
        const FixRecord& record = found->second;
        ASSERT_TRUE(record.utc && record.speed && record.position) << line;
        EXPECT_EQ(record.utc->seconds, 1484006400 + secondOfDay) << line; // 2017-01-10
        EXPECT_NEAR(*record.speed, std::stod(f[7]) * 1852.0 / 3600.0, 1e-12) << line;
        // This receiver leaves the course empty while it stands still.
        EXPECT_EQ(record.course.has_value(), !f[8].empty()) << line;
    }
}
