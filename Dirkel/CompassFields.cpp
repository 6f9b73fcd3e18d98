#include "CompassFields.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace
{
// The order in which a compass sends the fields it is set to send.
constexpr std::string_view kTagOrder[] = {"C",  "P",  "R",  "X",  "Y",  "Z", "T", "Mx",
                                          "My", "Mz", "Ax", "Ay", "Az", "D", "E"};

bool IsUpper(char c)
{
    return c >= 'A' && c <= 'Z';
}

bool IsLower(char c)
{
    return c >= 'a' && c <= 'z';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsHex(char c)
{
    return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// The tag's place in kTagOrder; -1 for a tag no compass layout has.
int TagRank(std::string_view tag)
{
    for (std::size_t rank = 0; rank < std::size(kTagOrder); ++rank)
        if (kTagOrder[rank] == tag)
            return static_cast<int>(rank);
    return -1;
}

bool EndsWith(std::string_view text, std::string_view end)
{
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// The fields of a line that begins with "$": the text after the "$" up to
// the "*" of its checksum or its line end; nothing when the line is cut.
std::optional<std::string_view> WholeFields(std::string_view line)
{
    const bool ended = EndsWith(line, "\n");
    line.remove_suffix(EndsWith(line, "\r\n") ? 2 : ended ? 1 : 0);
    line.remove_prefix(1);
    if (line.find('$') != std::string_view::npos)
        return std::nullopt;
    const std::size_t star = line.find('*');
    if (star == std::string_view::npos)
        return ended ? std::optional(line) : std::nullopt;
    const std::string_view sum = line.substr(star + 1);
    if (sum.size() != 2 || !IsHex(sum[0]) || !IsHex(sum[1]))
        return std::nullopt;
    return line.substr(0, star);
}

std::size_t CountDigits(std::string_view text, std::size_t from)
{
    std::size_t end = from;
    while (end < text.size() && IsDigit(text[end]))
        ++end;
    return end - from;
}

// "-" once at most, digits, and "." with digits after it at most once.
bool IsPlainNumber(std::string_view text)
{
    std::size_t at = !text.empty() && text[0] == '-' ? 1 : 0;
    const std::size_t whole = CountDigits(text, at);
    if (whole == 0)
        return false;
    at += whole;
    if (at == text.size())
        return true;
    return text[at] == '.' && CountDigits(text, at + 1) > 0 &&
           at + 1 + CountDigits(text, at + 1) == text.size();
}

// text as a number within [low, high]; from_chars reads it the same under
// every C locale.
std::optional<double> Number(std::string_view text, double low, double high)
{
    if (!IsPlainNumber(text))
        return std::nullopt;
    double value = 0.0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}

struct Field
{
    std::string_view tag;
    std::string_view value;
};

// The field that begins at at (on an upper-case letter); moves at past it.
Field NextField(std::string_view fields, std::size_t& at)
{
    std::size_t valueStart = at + 1;
    while (valueStart < fields.size() && IsLower(fields[valueStart]))
        ++valueStart;
    std::size_t end = valueStart;
    while (end < fields.size() && !IsUpper(fields[end]))
        ++end;
    const Field field{fields.substr(at, valueStart - at),
                      fields.substr(valueStart, end - valueStart)};
    at = end;
    return field;
}

void Take(const Field& field, CompassReading& reading)
{
    constexpr double kAny = std::numeric_limits<double>::max();
    if (field.tag == "C")
        reading.heading = Number(field.value, 0.0, 360.0);
    else if (field.tag == "P")
        reading.pitch = Number(field.value, -180.0, 180.0);
    else if (field.tag == "R")
        reading.roll = Number(field.value, -180.0, 180.0);
    else if (field.tag == "T")
        reading.temperature = Number(field.value, -kAny, kAny);
}
} // namespace

CompassReading DecodeCompassLine(std::string_view line)
{
    if (line.substr(0, 2) != "$C")
        return {};
    const std::optional<std::string_view> fields = WholeFields(line);
    if (!fields)
        return {};
    CompassReading reading;
    int lastRank = -1;
    for (std::size_t at = 0; at < fields->size();)
    {
        const Field field = NextField(*fields, at);
        const int rank = TagRank(field.tag);
        // An unknown tag (rank -1) fails here too: a layout not known.
        if (rank <= lastRank)
            return {};
        lastRank = rank;
        Take(field, reading);
    }
    return reading;
}

double WrapHeading(double degrees)
{
    if (!std::isfinite(degrees))
        return std::numeric_limits<double>::quiet_NaN();
    constexpr long long kMicroTurn = 360'000'000;
    // fmod is exact and keeps the product below within range of llround.
    long long micro = std::llround(std::fmod(degrees, 360.0) * 1e6) % kMicroTurn;
    if (micro < 0)
        micro += kMicroTurn;
    return static_cast<double>(micro) / 1e6;
}

double VehicleHeading(double compassHeading, double headingOffset)
{
    return WrapHeading(compassHeading + headingOffset);
}

double TrueHeading(double compassHeading, double headingOffset, double magneticDeclination)
{
    return WrapHeading(compassHeading + headingOffset + magneticDeclination);
}
