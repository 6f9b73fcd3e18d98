#include "NmeaSentences.h"

#include <cstdio>

namespace gps
{
namespace
{
constexpr double kMetresPerSecondPerKnot = 1852.0 / 3600.0;
constexpr double kMetresPerSecondPerKmh = 1000.0 / 3600.0;

std::string_view Field(const Fields& fields, std::size_t index)
{
    return index < fields.size() ? fields[index] : std::string_view();
}

// The field as it can go into a one-line message: bytes outside printable
// ASCII written as \xNN.
std::string Printable(std::string_view text)
{
    std::string out;
    for (unsigned char c : text)
    {
        if (c >= 0x20 && c < 0x7f)
        {
            out += static_cast<char>(c);
            continue;
        }
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
        out += escaped;
    }
    return out;
}

Decoding Reject(const Fields& fields, const char* what, std::string_view text)
{
    return {DecodeStatus::Rejected, std::nullopt,
            std::string(Field(fields, 0)) + ": malformed " + what + " \"" + Printable(text) + "\""};
}

Decoding NoData()
{
    return {DecodeStatus::NoData, std::nullopt, {}};
}

Decoding Decoded(Sentence sentence)
{
    return {DecodeStatus::Decoded, std::move(sentence), {}};
}

std::optional<double> Course(std::string_view text)
{
    const std::optional<double> course = ParseDecimal(text);
    return course && *course <= 360.0 ? course : std::nullopt;
}

std::optional<double> Scaled(std::optional<double> value, double factor)
{
    return value ? std::optional<double>(*value * factor) : std::nullopt;
}

// count fields from first, with their commas, for a message.
std::string Joined(const Fields& fields, std::size_t first, std::size_t count)
{
    std::string out(Field(fields, first));
    for (std::size_t index = first + 1; index < first + count; ++index)
        out += "," + std::string(Field(fields, index));
    return out;
}

// The four position fields from first: all empty leave into empty, all
// well formed fill it; anything else is malformed (false).
bool TakePosition(const Fields& f, std::size_t first, std::optional<GeoPosition>& into)
{
    if (Joined(f, first, 4) == ",,,")
        return true;
    into = ParsePosition(Field(f, first), Field(f, first + 1), Field(f, first + 2),
                         Field(f, first + 3));
    return into.has_value();
}

// An optional field that names the fix: empty is fine, malformed is not.
template <typename T, typename Parse>
bool TakeOptional(std::string_view text, Parse parse, std::optional<T>& into)
{
    if (text.empty())
        return true;
    into = parse(text);
    return into.has_value();
}

Decoding DecodeGga(const Fields& f)
{
    GgaFix gga;
    if (!TakeOptional(Field(f, 1), ParseTimeOfDay, gga.time))
        return Reject(f, "time", Field(f, 1));
    if (!TakePosition(f, 2, gga.position))
        return Reject(f, "position", Joined(f, 2, 4));
    const auto quality = [](std::string_view text) -> std::optional<int>
    {
        const std::optional<unsigned> value = ParseCount(text);
        return value && *value <= 8 ? std::optional<int>(*value) : std::nullopt;
    };
    if (!TakeOptional(Field(f, 6), quality, gga.quality))
        return Reject(f, "fix quality", Field(f, 6));
    if (const std::optional<unsigned> satellites = ParseCount(Field(f, 7)))
        gga.satellites = static_cast<int>(*satellites);
    gga.hdop = ParseDecimal(Field(f, 8));
    gga.altitude = ParseDecimal(Field(f, 9), true);
    return Decoded(gga);
}

Decoding DecodeRmc(const Fields& f)
{
    const std::string_view mode = Field(f, 12);
    if (Field(f, 2) != "A" || Field(f, 1).empty() || Field(f, 9).empty() || mode == "N")
        return NoData();
    const std::optional<TimeOfDay> time = ParseTimeOfDay(Field(f, 1));
    if (!time)
        return Reject(f, "time", Field(f, 1));
    const std::optional<CivilDate> date = ParseDdmmyy(Field(f, 9));
    if (!date)
        return Reject(f, "date", Field(f, 9));
    std::optional<GeoPosition> position;
    if (!TakePosition(f, 3, position))
        return Reject(f, "position", Joined(f, 3, 4));
    return Decoded(RmcFix{*time, *date, position,
                          Scaled(ParseDecimal(Field(f, 7)), kMetresPerSecondPerKnot),
                          Course(Field(f, 8))});
}

Decoding DecodeVtg(const Fields& f)
{
    if (Field(f, 9) == "N")
        return NoData();
    VtgMotion vtg;
    vtg.course = Course(Field(f, 1));
    vtg.speed = Scaled(ParseDecimal(Field(f, 5)), kMetresPerSecondPerKnot);
    if (!vtg.speed)
        vtg.speed = Scaled(ParseDecimal(Field(f, 7)), kMetresPerSecondPerKmh);
    if (!vtg.speed && !vtg.course)
        return NoData();
    return Decoded(vtg);
}

Decoding DecodeZda(const Fields& f)
{
    if (Field(f, 1).empty() || Field(f, 2).empty() || Field(f, 3).empty() || Field(f, 4).empty())
        return NoData();
    const std::optional<TimeOfDay> time = ParseTimeOfDay(Field(f, 1));
    if (!time)
        return Reject(f, "time", Field(f, 1));
    const std::optional<unsigned> day = ParseCount(Field(f, 2));
    const std::optional<unsigned> month = ParseCount(Field(f, 3));
    const std::optional<unsigned> year = ParseCount(Field(f, 4));
    std::optional<CivilDate> date;
    if (day && month && year && *day <= 31 && *month <= 12 && *year <= 9999)
        date = MakeDate(static_cast<int>(*year), static_cast<int>(*month), static_cast<int>(*day));
    if (!date)
        return Reject(f, "date", Joined(f, 2, 3));
    return Decoded(ZdaTime{*time, *date});
}
} // namespace

std::optional<GeoPosition> GgaFix::FixPosition() const
{
    return quality && *quality != 0 ? position : std::nullopt;
}

bool GgaFix::IsUsableFix() const
{
    return quality && *quality >= 1 && *quality <= 5 && position;
}

Decoding DecodeSentence(std::string_view line, bool anyTalker)
{
    if (IsSentence(line, "GGA", anyTalker))
        return DecodeGga(SplitFields(line));
    if (IsSentence(line, "RMC", anyTalker))
        return DecodeRmc(SplitFields(line));
    if (IsSentence(line, "VTG", anyTalker))
        return DecodeVtg(SplitFields(line));
    if (IsSentence(line, "ZDA", anyTalker))
        return DecodeZda(SplitFields(line));
    return {};
}

} // namespace gps
