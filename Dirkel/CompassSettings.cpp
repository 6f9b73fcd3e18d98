#include "CompassSettings.h"

#include "BridgeSettings.h"

#include "MOOSLIB/ProcessConfigReader.h"

namespace
{
// Whose warnings they are: the program that reads these keys.
const char* const kProgram = "Dirkel";

std::string ReadBlockDegrees(CProcessConfigReader& reader, const std::string& key, double limit,
                             std::optional<double>& degrees)
{
    std::string text;
    if (!reader.GetConfigurationParam(key, text))
        return "";
    return ReadDegrees(key, text, limit, degrees);
}

std::string ReadKeys(CProcessConfigReader& reader, CompassSettingsRead& read)
{
    CompassSettings& s = read.settings;
    std::string error = ReadPublishSettings(reader, kProgram, s, read.warnings);
    ReadFlag(reader, kProgram, "AnswerRequests", s.answerRequests, read.warnings);
    std::optional<double> offset;
    if (error.empty())
        error = ReadBlockDegrees(reader, "HeadingOffset", 360.0, offset);
    if (error.empty())
        error = ReadBlockDegrees(reader, "MagneticDeclination", 180.0, s.magneticDeclination);
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
                      { read.error = ReadKeys(reader, read); });
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
