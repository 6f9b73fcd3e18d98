#include "GgaFormat.h"

#include <cctype>
#include <charconv>
#include <memory>

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

// Whether the receiver's other sentences count: they give motion, dates and
// times of fix.
bool ReadsMore(const GpsSettings& gps)
{
    return gps.numeric || gps.fixRecord || gps.stampReceiver;
}

// Whether sentences are decoded, so that malformed fields are refused.
bool Decodes(const BridgeSettings& settings)
{
    return settings.requireFix || ReadsMore(settings.gps);
}

bool IsOwnLine(const std::string& line, const BridgeSettings& settings)
{
    const bool any = settings.acceptAnyTalker;
    if (IsGgaSentence(line, any))
        return true;
    if (!ReadsMore(settings.gps))
        return false;
    for (const char* type : {"RMC", "VTG", "ZDA"})
        if (gps::IsSentence(line, type, any))
            return true;
    return false;
}

std::string Rejects(const std::string& line, const BridgeSettings& settings)
{
    if (!Decodes(settings))
        return "";
    const gps::Decoding decoding = gps::DecodeSentence(line, settings.acceptAnyTalker);
    return decoding.status == gps::DecodeStatus::Rejected ? decoding.error : "";
}

std::string EchoPosition(const std::string&, const ValueTable& held)
{
    std::string echo;
    for (const char* name : {"Latitude", "Longitude", "Indic_EW", "Indic_NS"})
        echo += held.Text(name) + '\n';
    return echo;
}

// Without the text variables the echo is what is published, one
// "name=value" a line.
std::string EchoPublished(const ValueTable& held)
{
    std::string echo;
    for (const SentenceValue& value : held.All())
        if (value.publish)
            echo += value.name + '=' + value.text + '\n';
    return echo;
}
} // namespace

std::optional<SentenceValues> GpsReading::ValuesOf(const SentenceLine& line,
                                                   const BridgeSettings& settings)
{
    if (!Decodes(settings))
        return PositionValues(GgaFields(line.text));
    const gps::Decoding decoding = gps::DecodeSentence(line.text, settings.acceptAnyTalker);
    if (decoding.status != gps::DecodeStatus::Decoded)
        return std::nullopt;
    const gps::Sentence& sentence = *decoding.sentence;
    const auto* gga = std::get_if<gps::GgaFix>(&sentence);
    const bool usable = gga && gga->IsUsableFix();
    if (settings.requireFix && gga && !usable)
        return std::nullopt;

    SentenceValues values;
    if (gga && settings.gps.publishText)
        values = PositionValues(GgaFields(line.text));
    const std::optional<gps::FixRecord> record = Fixes(settings.gps).Add(sentence);
    const std::optional<double> utc = TimeOf(sentence);
    if (settings.gps.numeric)
        AddNumbers(sentence, utc, settings.gps, values);
    if (settings.gps.stampReceiver)
        for (SentenceValue& value : values)
            value.time = utc ? *utc : line.readTime;
    if (settings.gps.fixRecord && record)
        values.push_back(FixValue(*record, line.readTime, settings.gps));
    if (usable)
    {
        SentenceValue fix = TextValue("fix", "");
        fix.publish = false;
        values.push_back(fix);
    }
    return values;
}

gps::FixAccumulator& GpsReading::Fixes(const GpsSettings& gps)
{
    if (!fixes)
    {
        std::optional<gps::LocalGrid> grid;
        if (gps.latOrigin && gps.longOrigin)
            grid = gps::LocalGrid::Make(*gps.latOrigin, *gps.longOrigin);
        if (grid)
            this->grid = *grid;
        fixes.emplace(grid);
    }
    return *fixes;
}

std::optional<double> GpsReading::TimeOf(const gps::Sentence& sentence)
{
    std::optional<gps::UtcTime> utc;
    if (const auto* gga = std::get_if<gps::GgaFix>(&sentence); gga && gga->time)
        utc = fixes->Dates().Resolve(*gga->time);
    else if (const auto* rmc = std::get_if<gps::RmcFix>(&sentence))
        utc = gps::ToUtc(rmc->date, rmc->time);
    else if (const auto* zda = std::get_if<gps::ZdaTime>(&sentence))
        utc = gps::ToUtc(zda->date, zda->time);
    else if (std::holds_alternative<gps::VtgMotion>(sentence))
        return lastUtc; // a VTG belongs to the fix it follows
    lastUtc = utc ? std::optional<double>(utc->Seconds()) : std::nullopt;
    return lastUtc;
}

namespace
{
std::string NumberText(double number)
{
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, number);
    return std::string(text, written.ptr);
}

void AddNumber(SentenceValues& values, const std::string& prefix, const char* name,
               std::optional<double> number)
{
    if (!number)
        return;
    values.push_back(NumberValue(prefix + name, NumberText(*number), *number));
    values.back().once = true;
}

std::optional<double> AsDouble(std::optional<int> count)
{
    return count ? std::optional<double>(*count) : std::nullopt;
}
} // namespace

void GpsReading::AddNumbers(const gps::Sentence& sentence, std::optional<double> utc,
                            const GpsSettings& gps, SentenceValues& values) const
{
    const std::string& p = gps.variablePrefix;
    if (const auto* gga = std::get_if<gps::GgaFix>(&sentence))
    {
        const std::optional<gps::GeoPosition> position = gga->FixPosition();
        AddNumber(values, p, "_LAT", position ? std::optional(position->latitude) : std::nullopt);
        AddNumber(values, p, "_LON", position ? std::optional(position->longitude) : std::nullopt);
        AddNumber(values, p, "_QUALITY", AsDouble(gga->quality));
        AddNumber(values, p, "_SATELLITES", AsDouble(gga->satellites));
        AddNumber(values, p, "_HDOP", gga->hdop);
        AddNumber(values, p, "_ALTITUDE", gga->altitude);
        if (position && grid)
        {
            const gps::LocalPoint local = grid->ToLocal(*position);
            AddNumber(values, p, "_X", local.x);
            AddNumber(values, p, "_Y", local.y);
        }
    }
    else if (const auto* rmc = std::get_if<gps::RmcFix>(&sentence))
    {
        AddNumber(values, p, "_SPEED", rmc->speed);
        AddNumber(values, p, "_COURSE", rmc->course);
    }
    else if (const auto* vtg = std::get_if<gps::VtgMotion>(&sentence))
    {
        AddNumber(values, p, "_SPEED", vtg->speed);
        AddNumber(values, p, "_COURSE", vtg->course);
    }
    if (!std::holds_alternative<gps::VtgMotion>(sentence) &&
        !std::holds_alternative<gps::ZdaTime>(sentence))
        AddNumber(values, p, "_UTC", utc);
}

SentenceValue GpsReading::FixValue(const gps::FixRecord& record, double readTime,
                                   const GpsSettings& gps)
{
    SentenceValue value = TextValue(gps.variablePrefix + "_FIX", gps::FormatFixRecord(record));
    value.once = true;
    if (gps.stampReceiver)
        value.time = record.utc ? record.utc->Seconds() : readTime;
    return value;
}

SentenceFormat GgaFormat()
{
    // The receiver's date and open fix outlive a line; the format's copies
    // share them, as one bridge reads one receiver.
    const auto reading = std::make_shared<GpsReading>();
    SentenceFormat format;
    format.isOwn = IsOwnLine;
    format.valuesOf = [reading](const SentenceLine& line, const BridgeSettings& settings,
                                const ValueTable&) { return reading->ValuesOf(line, settings); };
    format.echo = [](const std::string& line, const ValueTable& held)
    { return held.Find("Latitude") ? EchoPosition(line, held) : EchoPublished(held); };
    format.initial = PositionValues({});
    format.initialFor = [](const BridgeSettings& settings)
    { return settings.gps.publishText ? PositionValues({}) : SentenceValues{}; };
    format.rejects = Rejects;
    format.awaited = [](const BridgeSettings& settings)
    { return settings.requireFix ? std::string("fix") : std::string(); };
    return format;
}
BridgeProgram VantorProgram()
{
    return {"Vantor", "Vantor", "VANTOR_DEVICE", "the NMEA sentences of a GPS receiver", true};
}
