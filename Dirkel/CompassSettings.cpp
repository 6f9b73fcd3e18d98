#include "CompassSettings.h"

#include "BridgeSettings.h"

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"
#include "MOOSLIB/ProcessConfigReader.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace
{
// A decimal number of degrees within [-limit, limit], read the same
// whatever the C locale.
std::optional<double> Degrees(const std::string& text, double limit)
{
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    if (error != std::errc() || stop != end || !std::isfinite(value) || std::fabs(value) > limit)
        return std::nullopt;
    return value;
}

std::string ReadDegrees(CProcessConfigReader& reader, const std::string& key, double limit,
                        std::optional<double>& degrees)
{
    std::string text;
    if (!reader.GetConfigurationParam(key, text))
        return "";
    degrees = Degrees(text, limit);
    if (degrees)
        return "";
    return UnusableValue(key, text,
                         "give degrees from " + MOOSFormat("%g to %g", -limit, limit) +
                             " as a decimal number, e.g. -2.5");
}

// A prefix makes variable names: no blank, control character or "=", which
// would split or hide them.
std::string ReadPrefix(CProcessConfigReader& reader, std::string& prefix)
{
    std::string text;
    if (!reader.GetConfigurationParam("VariablePrefix", text))
        return "";
    const bool usable =
        !text.empty() && std::none_of(text.begin(), text.end(),
                                      [](char c) { return c <= ' ' || c == '=' || c == 127; });
    if (!usable)
        return UnusableValue("VariablePrefix", text,
                             "give a name without blanks or \"=\", e.g. COMPASS_AFT");
    prefix = text;
    return "";
}

std::string ReadKeys(CProcessConfigReader& reader, CompassSettings& s)
{
    reader.GetConfigurationParam("Numeric", s.numeric);
    reader.GetConfigurationParam("PublishText", s.publishText);
    reader.GetConfigurationParam("AnswerRequests", s.answerRequests);
    std::optional<double> offset;
    std::string error = ReadPrefix(reader, s.variablePrefix);
    if (error.empty())
        error = ReadDegrees(reader, "HeadingOffset", 360.0, offset);
    if (error.empty())
        error = ReadDegrees(reader, "MagneticDeclination", 180.0, s.magneticDeclination);
    s.headingOffset = offset.value_or(0.0);
    return error;
}
} // namespace

CompassSettingsRead ReadCompassSettings(const std::string& missionFile,
                                        const std::string& processName)
{
    CompassSettingsRead read;
    ReadBlockSilently(missionFile, processName,
                      [&read](CProcessConfigReader& reader)
                      { read.error = ReadKeys(reader, read.settings); });
    return read;
}

std::vector<std::string> CompassKeys()
{
    return {"Numeric",     "VariablePrefix", "HeadingOffset", "MagneticDeclination",
            "PublishText", "AnswerRequests"};
}

std::string CompassUsage()
{
    return "  Numeric = false             true: heading, pitch, roll and temperature as\n"
           "                              numbers, COMPASS_HEADING, ...\n"
           "  VariablePrefix = COMPASS    the first part of the numbers' names\n"
           "  HeadingOffset = 0           degrees added to every heading, -360 to 360 (-90:\n"
           "                              compass pointing 90 degrees to starboard)\n"
           "  MagneticDeclination         degrees, east positive: also publish\n"
           "                              COMPASS_HEADING_TRUE\n"
           "  PublishText = true          false: no CompassData\n"
           "  AnswerRequests = false      true: mail on GetCompassData publishes the latest\n"
           "                              reading again with the time it was read\n";
}
