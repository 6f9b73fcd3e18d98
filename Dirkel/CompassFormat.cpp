#include "CompassFormat.h"

#include "CompassFields.h"

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <charconv>

namespace
{
const char* const kText = "CompassData";
const char* const kRequest = "GetCompassData";

// The shortest text that reads back as number, whatever the C locale.
std::string NumberText(double number)
{
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, number).ptr;
    return std::string(text, end);
}

// The numbers of one reading, named with the prefix; nothing for a field
// the line did not give.
class NumberNames
{
public:
    explicit NumberNames(const CompassSettings& compass) : compass(compass) {}

    SentenceValues Of(const CompassReading& reading) const
    {
        SentenceValues values;
        const auto add = [&](const char* suffix, const std::optional<double>& number)
        {
            if (number)
                values.push_back(NumberValue(Name(suffix), NumberText(*number), *number));
        };
        if (reading.heading)
        {
            add("_HEADING", VehicleHeading(*reading.heading, compass.headingOffset));
            if (compass.magneticDeclination)
                add("_HEADING_TRUE", TrueHeading(*reading.heading, compass.headingOffset,
                                                 *compass.magneticDeclination));
        }
        add("_PITCH", reading.pitch);
        add("_ROLL", reading.roll);
        add("_TEMPERATURE", reading.temperature);
        return values;
    }

    // Every name a reading may give.
    std::vector<std::string> All() const
    {
        return {Name("_HEADING"), Name("_HEADING_TRUE"), Name("_PITCH"), Name("_ROLL"),
                Name("_TEMPERATURE")};
    }

private:
    std::string Name(const char* suffix) const { return compass.variablePrefix + suffix; }

    const CompassSettings compass;
};

bool Has(const SentenceValues& values, const std::string& name)
{
    for (const SentenceValue& value : values)
        if (value.name == name)
            return true;
    return false;
}

// The numbers of line, and the held numbers it did not give, kept but no
// longer published.
SentenceValues NumbersOf(const std::string& line, const NumberNames& names, const ValueTable& held)
{
    SentenceValues values = names.Of(DecodeCompassLine(line));
    for (const std::string& name : names.All())
    {
        const SentenceValue* old = held.Find(name);
        if (old && !Has(values, name))
        {
            values.push_back(*old);
            values.back().publish = false;
        }
    }
    return values;
}

// The values the latest compass line gave, stamped with when it was read.
SentenceValues LatestReading(const CMOOSMsg& mail, const ValueTable& held)
{
    SentenceValues reading;
    if (mail.GetKey() != kRequest)
        return reading;
    for (const SentenceValue& value : held.All())
        if (value.publish && value.readTime > 0.0)
        {
            reading.push_back(value);
            reading.back().time = value.readTime;
        }
    if (reading.empty())
        MOOSTrace("Dirkel: %s asked for a reading before the compass gave one; nothing "
                  "published\n",
                  kRequest);
    return reading;
}
} // namespace

bool ParseCompassLine(const std::string& line, std::string& compassData)
{
    if (line.compare(0, 2, "$C") != 0)
        return false;
    const std::size_t compassStart = line.find("$C") + 2;
    const std::size_t compassEnd = line.find('P');
    compassData = compassEnd == std::string::npos
                      ? line.substr(compassStart)
                      : line.substr(compassStart, compassEnd - compassStart);
    return true;
}

SentenceFormat CompassFormat(const CompassSettings& compass)
{
    SentenceFormat format;
    format.isOwn = [](const std::string& line, const BridgeSettings&)
    { return line.compare(0, 2, "$C") == 0; };
    format.valuesOf = [compass, names = NumberNames(compass)](
                          const SentenceLine& line, const BridgeSettings&, const ValueTable& held)
    {
        SentenceValue text = TextValue(kText, "");
        ParseCompassLine(line.text, text.text);
        text.publish = compass.publishText;
        SentenceValues values{text};
        if (compass.numeric)
            for (const SentenceValue& number : NumbersOf(line.text, names, held))
                values.push_back(number);
        return std::optional<SentenceValues>(std::move(values));
    };
    format.echo = [](const std::string& line, const ValueTable&) { return line + "\nposlano\n"; };
    format.initial = {TextValue(kText, "")};
    format.initial.front().publish = compass.publishText;
    format.subscriptions = {kRequest};
    if (compass.answerRequests)
        format.answer = LatestReading;
    return format;
}

BridgeProgram DirkelProgram()
{
    return {"Dirkel", "Compass",     "DIRKEL_DEVICE", "the heading lines of a digital compass",
            false,    CompassKeys(), CompassUsage()};
}
