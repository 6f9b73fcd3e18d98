#include "SensorLines.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace
{
// Centre of the GPS track: 48 deg 07.038' N, 11 deg 31.000' E.
constexpr double kCentreLatMinutes = 48 * 60 + 7.038;
constexpr double kCentreLonMinutes = 11 * 60 + 31.000;
constexpr double kTrackRadiusM = 200.0;
constexpr double kSpeedMps = 4.0;
constexpr double kMetresPerMinute = 1852.0;
constexpr double kKnotsPerMps = 1.943844;
constexpr double kPi = 3.14159265358979323846;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// An angle in minutes of arc as "ddmm.mmmm" (or "dddmm.mmmm").
std::string DegreesMinutes(double minutes, int degreeDigits)
{
    const long long tenThousandths = std::llround(minutes * 10000.0);
    const long long degrees = tenThousandths / 600000;
    const long long rest = tenThousandths % 600000;
    return Format("%0*lld%02lld.%04lld", degreeDigits, degrees, rest / 10000, rest % 10000);
}

struct UtcStamp
{
    std::string time; // hhmmss.ss
    std::string date; // ddmmyy
};

UtcStamp Stamp(std::chrono::system_clock::time_point utc)
{
    const auto sinceEpoch = utc.time_since_epoch();
    const std::time_t seconds =
        std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch).count();
    const long centis =
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() % 1000 / 10;
    std::tm parts{};
    ::gmtime_r(&seconds, &parts);
    return {Format("%02d%02d%02d.%02ld", parts.tm_hour, parts.tm_min, parts.tm_sec, centis),
            Format("%02d%02d%02d", parts.tm_mday, parts.tm_mon + 1, parts.tm_year % 100)};
}

// One decimal, never "-0.0".
double Tenths(double value)
{
    const double rounded = std::round(value * 10.0) / 10.0;
    return rounded == 0.0 ? 0.0 : rounded;
}

std::vector<std::string> NoFixBurst(const UtcStamp& at)
{
    return {"GGA," + at.time + ",,,,,0,00,99.99,,,,,,", "GSA,A,1,,,,,,,,,,,,,99.99,99.99,99.99",
            "GSV,1,1,00", "RMC," + at.time + ",V,,,,,,," + at.date + ",,,N"};
}

// The sentences' bodies without their talker.
std::vector<std::string> FixBurst(const UtcStamp& at, double elapsed)
{
    const double angle = kSpeedMps / kTrackRadiusM * elapsed;
    const double northM = kTrackRadiusM * std::sin(angle);
    const double eastM = kTrackRadiusM * std::cos(angle);
    const double lat = kCentreLatMinutes + northM / kMetresPerMinute;
    const double lon =
        kCentreLonMinutes +
        eastM / (kMetresPerMinute * std::cos(kCentreLatMinutes / 60.0 * kPi / 180.0));
    // Going round anticlockwise: the velocity is the radius turned by 90 deg.
    const double course =
        std::fmod(std::atan2(-std::sin(angle), std::cos(angle)) * 180.0 / kPi + 360.0, 360.0);
    const std::string position = DegreesMinutes(lat, 2) + ",N," + DegreesMinutes(lon, 3) + ",E";
    return {"GGA," + at.time + "," + position + ",1,04,0.9,545.4,M,46.9,M,,",
            "GSA,A,3,04,05,09,12,,,,,,,,,1.8,0.9,1.5",
            "GSV,1,1,04,04,45,123,42,05,30,078,40,09,62,301,45,12,15,210,35",
            Format("RMC,%s,A,%s,%.2f,%.1f,%s,,,A", at.time.c_str(), position.c_str(),
                   kSpeedMps * kKnotsPerMps, Tenths(course), at.date.c_str())};
}
} // namespace

std::string WithWrongChecksum(const std::string& line)
{
    const std::size_t star = line.rfind('*');
    const std::string kept = line.substr(0, star);
    const std::size_t from = !kept.empty() && kept[0] == '$' ? 1 : 0;
    // Every bit flipped: never the right sum, whatever the line held before.
    return kept + Format("*%02X", NmeaChecksum(kept.substr(from)) ^ 0xFFu);
}

std::vector<std::string> GpsReceiver::NextBurst(double elapsed,
                                                std::chrono::system_clock::time_point utc)
{
    const UtcStamp at = Stamp(utc);
    std::vector<std::string> sentences = noFixLeft > 0 ? NoFixBurst(at) : FixBurst(at, elapsed);
    noFixLeft -= noFixLeft > 0;
    for (std::string& sentence : sentences)
        sentence = WithChecksum(talkerId + sentence);
    return sentences;
}

namespace
{
long long HeadingInTenths(double elapsed)
{
    return std::llround((320.5 + 0.5 * elapsed) * 10.0) % 3600;
}
} // namespace

std::string CompassSensor::NextHeadingLine(double elapsed) const
{
    const long long tenthsOfDegree = HeadingInTenths(elapsed);
    return WithChecksum(Format("HEHDT,%lld.%lld,T", tenthsOfDegree / 10, tenthsOfDegree % 10));
}

std::string CompassSensor::NextLine(double elapsed) const
{
    const long long tenthsOfDegree = HeadingInTenths(elapsed);
    const double swing = swinging ? 12.5 : 1.0;
    const double pitch = Tenths(2.0 * swing * std::sin(2.0 * kPi * elapsed / 20.0));
    const double roll = Tenths(-3.0 * swing * std::sin(2.0 * kPi * elapsed / 15.0));
    const double temperature =
        swinging ? Tenths(4.0 + 6.0 * std::sin(2.0 * kPi * elapsed / 60.0)) : 19.0;
    return WithChecksum(Format("C%lld.%lldP%.1fR%.1fT%.1f", tenthsOfDegree / 10,
                               tenthsOfDegree % 10, pitch, roll, temperature));
}

bool ReadTextLine(std::istream& in, std::string& line, bool& cut, const TextLineRule& rule)
{
    line.clear();
    cut = false;
    std::istream::int_type c = in.get();
    if (c == std::istream::traits_type::eof())
        return false;
    for (; c != std::istream::traits_type::eof(); c = in.get())
    {
        if (c == '\n')
            return true;
        if (c == '\r' && rule.crEnds)
        {
            if (in.peek() == '\n')
                in.get();
            return true;
        }
        if (line.size() < rule.maxLength)
            line.push_back(static_cast<char>(c));
        else
            cut = true;
    }
    cut = true;
    return true;
}

bool ReadTextLine(std::istream& in, std::string& line)
{
    bool cut = false;
    return ReadTextLine(in, line, cut);
}
