#include "NmeaFields.h"

#include <algorithm>
#include <charconv>
#include <ctime>

namespace gps
{
namespace
{
constexpr std::int64_t kNanosPerSecond = 1000000000;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsUpper(char c)
{
    return c >= 'A' && c <= 'Z';
}

bool AllDigits(std::string_view text)
{
    for (char c : text)
        if (!IsDigit(c))
            return false;
    return !text.empty();
}

// Digits with at most one '.', and at least one digit.
bool IsPlainDecimal(std::string_view text)
{
    int points = 0;
    int digits = 0;
    for (char c : text)
    {
        if (c == '.')
            ++points;
        else if (IsDigit(c))
            ++digits;
        else
            return false;
    }
    return points <= 1 && digits > 0;
}

// The value of a field of exactly the digits it holds.
int DigitsValue(std::string_view text)
{
    int value = 0;
    for (char c : text)
        value = value * 10 + (c - '0');
    return value;
}

// ddmm.mmmm or dddmm.mmmm to degrees, with at most maxDegreeDigits digits of
// degrees and minutes below 60; the sign is the caller's.
std::optional<double> ParseDegreesMinutes(std::string_view text, std::size_t maxDegreeDigits)
{
    if (!IsPlainDecimal(text))
        return std::nullopt;
    const std::size_t whole = std::min(text.find('.'), text.size());
    if (whole < 2 || whole > maxDegreeDigits + 2)
        return std::nullopt;
    const std::string_view degreeText = text.substr(0, whole - 2);
    const std::optional<double> minutes = ParseDecimal(text.substr(whole - 2));
    if (!minutes || *minutes >= 60.0)
        return std::nullopt;
    return DigitsValue(degreeText) + *minutes / 60.0;
}

std::optional<double> Hemispheric(std::optional<double> magnitude, double limit,
                                  std::string_view hemisphere, char positive, char negative)
{
    if (!magnitude || *magnitude > limit || hemisphere.size() != 1)
        return std::nullopt;
    if (hemisphere[0] == positive)
        return *magnitude;
    if (hemisphere[0] == negative)
        return -*magnitude;
    return std::nullopt;
}
} // namespace

Fields SplitFields(std::string_view line)
{
    if (!line.empty() && line.front() == '$')
        line.remove_prefix(1);
    line = line.substr(0, line.find('*'));
    // Only the line end is dropped: a CR or LF inside a field is a fault of
    // the line and must make that field malformed, not end the sentence.
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    Fields fields;
    for (;;)
    {
        const std::size_t comma = line.find(',');
        fields.push_back(line.substr(0, comma));
        if (comma == std::string_view::npos)
            return fields;
        line.remove_prefix(comma + 1);
    }
}

bool IsSentence(std::string_view line, std::string_view type, bool anyTalker)
{
    const std::size_t end = 3 + type.size();
    if (line.size() < end || line[0] != '$' || line.substr(3, type.size()) != type)
        return false;
    const bool talkerOk =
        anyTalker ? IsUpper(line[1]) && IsUpper(line[2]) : line.substr(1, 2) == "GP";
    return talkerOk && (line.size() == end || line[end] == ',' || line[end] == '*' ||
                        line[end] == '\r' || line[end] == '\n');
}

std::optional<double> ParseDecimal(std::string_view text, bool allowSign)
{
    const bool negative = allowSign && !text.empty() && text.front() == '-';
    const std::string_view magnitude = negative ? text.substr(1) : text;
    if (!IsPlainDecimal(magnitude))
        return std::nullopt;
    double value = 0.0;
    const auto [end, error] = std::from_chars(magnitude.data(), magnitude.data() + magnitude.size(),
                                              value, std::chars_format::fixed);
    if (error != std::errc() || end != magnitude.data() + magnitude.size())
        return std::nullopt;
    return negative ? -value : value;
}

std::optional<unsigned> ParseCount(std::string_view text)
{
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (!AllDigits(text) || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<double> ParseLatitude(std::string_view value, std::string_view hemisphere)
{
    return Hemispheric(ParseDegreesMinutes(value, 2), 90.0, hemisphere, 'N', 'S');
}

std::optional<double> ParseLongitude(std::string_view value, std::string_view hemisphere)
{
    return Hemispheric(ParseDegreesMinutes(value, 3), 180.0, hemisphere, 'E', 'W');
}

std::optional<GeoPosition> ParsePosition(std::string_view latitude, std::string_view northSouth,
                                         std::string_view longitude, std::string_view eastWest)
{
    const std::optional<double> lat = ParseLatitude(latitude, northSouth);
    const std::optional<double> lon = ParseLongitude(longitude, eastWest);
    if (!lat || !lon)
        return std::nullopt;
    return GeoPosition{*lat, *lon};
}

std::optional<TimeOfDay> ParseTimeOfDay(std::string_view text)
{
    const std::string_view clock = text.substr(0, 6);
    const std::string_view fraction = text.size() > 7 ? text.substr(7) : std::string_view();
    const bool hasPoint = text.size() > 6;
    if (!AllDigits(clock) || clock.size() != 6 ||
        (hasPoint && (text[6] != '.' || !AllDigits(fraction) || fraction.size() > 9)))
        return std::nullopt;
    const int hours = DigitsValue(clock.substr(0, 2));
    const int minutes = DigitsValue(clock.substr(2, 2));
    const int seconds = DigitsValue(clock.substr(4, 2));
    if (hours > 23 || minutes > 59 || seconds > 60)
        return std::nullopt;
    std::int64_t nanos = DigitsValue(fraction);
    for (std::size_t digit = fraction.size(); digit < 9; ++digit)
        nanos *= 10;
    const std::int64_t wholeSeconds = (hours * 60 + minutes) * 60 + seconds;
    return TimeOfDay{wholeSeconds * kNanosPerSecond + nanos, static_cast<int>(fraction.size())};
}

std::optional<CivilDate> MakeDate(int year, int month, int day)
{
    if (year < 1970 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31)
        return std::nullopt;
    const CivilDate date{year, month, day};
    // timegm carries 30 February into March; a date that does not come back
    // unchanged does not exist.
    const std::time_t start = static_cast<std::time_t>(DayStart(date));
    std::tm back{};
    if (gmtime_r(&start, &back) == nullptr || back.tm_mday != day || back.tm_mon != month - 1)
        return std::nullopt;
    return date;
}

std::optional<CivilDate> ParseDdmmyy(std::string_view text)
{
    if (text.size() != 6 || !AllDigits(text))
        return std::nullopt;
    const int yy = DigitsValue(text.substr(4, 2));
    return MakeDate(yy < 80 ? 2000 + yy : 1900 + yy, DigitsValue(text.substr(2, 2)),
                    DigitsValue(text.substr(0, 2)));
}

std::int64_t DayStart(const CivilDate& date)
{
    std::tm civil{};
    civil.tm_year = date.year - 1900;
    civil.tm_mon = date.month - 1;
    civil.tm_mday = date.day;
    return static_cast<std::int64_t>(timegm(&civil));
}

} // namespace gps
