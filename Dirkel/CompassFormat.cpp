#include "CompassFormat.h"

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

SentenceFormat CompassFormat()
{
    SentenceFormat format;
    format.isOwn = [](const std::string& line, const BridgeSettings&)
    { return line.compare(0, 2, "$C") == 0; };
    format.valuesOf = [](const SentenceLine& line, const BridgeSettings&, const ValueTable&)
    {
        std::string heading;
        ParseCompassLine(line.text, heading);
        return std::optional<SentenceValues>({TextValue("CompassData", heading)});
    };
    format.echo = [](const std::string& line, const ValueTable&) { return line + "\nposlano\n"; };
    format.initial = {TextValue("CompassData", "")};
    format.subscriptions = {"GetCompassData"};
    return format;
}

BridgeProgram DirkelProgram()
{
    return {"Dirkel", "Compass", "DIRKEL_DEVICE", "the heading lines of a digital compass", false};
}
