#include "GgaFormat.h"

#include <cctype>

namespace
{
// Everything behind the first comma; the whole text when there is none.
std::string AfterFirstComma(const std::string& text)
{
    const std::size_t comma = text.find(',');
    return comma == std::string::npos ? text : text.substr(comma + 1);
}

// Everything before the first comma; the whole text when there is none.
std::string UpToFirstComma(const std::string& text)
{
    return text.substr(0, text.find(','));
}

std::string FirstCharacter(const std::string& text)
{
    return text.substr(0, 1);
}

bool IsUpper(char c)
{
    return std::isupper(static_cast<unsigned char>(c)) != 0;
}
} // namespace

bool IsGgaSentence(const std::string& line, bool anyTalker)
{
    if (!anyTalker)
        return line.compare(0, 6, "$GPGGA") == 0;
    return line.size() >= 6 && line[0] == '$' && IsUpper(line[1]) && IsUpper(line[2]) &&
           line.compare(3, 3, "GGA") == 0;
}

bool GgaHasFix(const std::string& line)
{
    std::string rest = line;
    for (int field = 0; field < 6; ++field)
    {
        if (rest.find(',') == std::string::npos)
            return false;
        rest = AfterFirstComma(rest);
    }
    const std::string quality = rest.substr(0, rest.find_first_of(",*\r\n"));
    return !quality.empty() && quality != "0";
}

GgaPosition GgaFields(const std::string& line)
{
    GgaPosition position;
    std::string rest = AfterFirstComma(line); // drops the sentence name
    rest = AfterFirstComma(rest);             // drops the time
    position.latitude = UpToFirstComma(rest);
    rest = AfterFirstComma(rest);
    position.indic_NS = FirstCharacter(rest);
    rest = AfterFirstComma(rest);
    position.longitude = UpToFirstComma(rest);
    rest = AfterFirstComma(rest);
    position.indic_EW = FirstCharacter(rest);
    return position;
}

bool ParseGpgga(const std::string& line, GgaPosition& position)
{
    if (!IsGgaSentence(line, false))
        return false;
    position = GgaFields(line);
    return true;
}

namespace
{
// In the order they are published.
SentenceValues PositionValues(const GgaPosition& position)
{
    return {TextValue("Latitude", position.latitude), TextValue("Longitude", position.longitude),
            TextValue("Indic_EW", position.indic_EW), TextValue("Indic_NS", position.indic_NS)};
}

std::optional<SentenceValues> GgaValues(const SentenceLine& line, const BridgeSettings& settings,
                                        const ValueTable&)
{
    if (settings.requireFix && !GgaHasFix(line.text))
        return std::nullopt;
    return PositionValues(GgaFields(line.text));
}

std::string EchoPosition(const std::string&, const ValueTable& held)
{
    std::string echo;
    for (const char* name : {"Latitude", "Longitude", "Indic_EW", "Indic_NS"})
        echo += held.Text(name) + '\n';
    return echo;
}
} // namespace

SentenceFormat GgaFormat()
{
    SentenceFormat format;
    format.isOwn = [](const std::string& line, const BridgeSettings& settings)
    { return IsGgaSentence(line, settings.acceptAnyTalker); };
    format.valuesOf = GgaValues;
    format.echo = EchoPosition;
    format.initial = PositionValues({});
    return format;
}

BridgeProgram VantorProgram()
{
    return {"Vantor", "Vantor", "VANTOR_DEVICE", "the NMEA sentences of a GPS receiver", true};
}
