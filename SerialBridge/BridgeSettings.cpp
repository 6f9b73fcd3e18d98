#include "BridgeSettings.h"

#include "SimpleSerial.h"

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"
#include "MOOSLIB/ProcessConfigReader.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <list>
#include <set>

namespace
{
// A silence longer than a day is a typing error, not a setting.
constexpr double kLongestDataTimeout = 86400.0;

bool IsDigits(const std::string& text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

std::string ReadBaudRate(CProcessConfigReader& reader, unsigned int& rate)
{
    std::string text;
    if (!reader.GetConfigurationParam("BaudRate", text))
        return "";
    const bool digits = IsDigits(text) && text.size() < 10;
    if (!digits || !IsStandardBaudRate(std::strtoul(text.c_str(), nullptr, 10)))
        return UnusableValue("BaudRate", text,
                             "give a standard rate: 1200, 2400, 4800, 9600, 19200, 38400, "
                             "57600, 115200, 230400, 460800 or 921600");
    rate = static_cast<unsigned int>(std::strtoul(text.c_str(), nullptr, 10));
    return "";
}

// Reads key as a finite number from low to high (low itself only when
// lowAllowed); the error line when its value is anything else.
std::string ReadNumber(CProcessConfigReader& reader, const char* key, double low, bool lowAllowed,
                       double high, const std::string& wanted, double& number)
{
    std::string text;
    if (!reader.GetConfigurationParam(key, text))
        return "";
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !std::isfinite(value) || value < low ||
        (value == low && !lowAllowed) || value > high)
        return UnusableValue(key, text, wanted);
    number = value;
    return "";
}

std::string ReadRecordMaxBytes(CProcessConfigReader& reader, std::uintmax_t& bytes)
{
    std::string text;
    if (!reader.GetConfigurationParam("RecordMaxBytes", text))
        return "";
    if (!IsDigits(text) || text.size() > 18)
        return UnusableValue("RecordMaxBytes", text, "give bytes, 0 (no limit) or more");
    bytes = std::strtoull(text.c_str(), nullptr, 10);
    return "";
}

// The first key of the block whose value cannot be used; empty when none.
std::string ReadNumbers(CProcessConfigReader& reader, BridgeSettings& s)
{
    for (const std::string& error :
         {ReadBaudRate(reader, s.baudRate),
          ReadNumber(reader, "DataTimeout", 0.0, true, kLongestDataTimeout,
                     "give seconds from 0 (off) to 86400", s.dataTimeout),
          ReadNumber(reader, "ExpectedRate", 0.0, false, HUGE_VAL,
                     "give values a second, a positive number", s.expectedRate),
          ReadRecordMaxBytes(reader, s.recordMaxBytes)})
        if (!error.empty())
            return error;
    return "";
}

// true, false (any case) or a number: what the block's rule was made for.
bool IsPlainFlag(const std::string& text)
{
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    return MOOSStrCmp(text, "TRUE") || MOOSStrCmp(text, "FALSE") || (!text.empty() && *end == '\0');
}

void ReadFlags(CProcessConfigReader& reader, const BridgeProgram& program, BridgeSettings& s,
               std::vector<std::string>& warnings)
{
    reader.GetConfigurationParam("SerialPort", s.serialPort);
    const auto flag = [&](const char* key, bool& value)
    { ReadFlag(reader, program.name, key, value, warnings); };
    flag("VerifyChecksum", s.verifyChecksum);
    flag("PublishEveryLine", s.publishEveryLine);
    flag("ReopenDevice", s.reopenDevice);
    flag("Echo", s.echo);
    flag("PublishHealth", s.publishHealth);
    reader.GetConfigurationParam("RecordTo", s.recordTo);
    if (program.readsGga)
    {
        flag("AcceptAnyTalker", s.acceptAnyTalker);
        flag("RequireFix", s.requireFix);
    }
}

// StampTime is a flag, or for a GPS bridge "receiver": the time of fix.
void ReadStampTime(CProcessConfigReader& reader, const BridgeProgram& program, BridgeSettings& s,
                   std::vector<std::string>& warnings)
{
    std::string text;
    if (program.readsGga && reader.GetConfigurationParam("StampTime", text) &&
        MOOSStrCmp(text, "receiver"))
        s.gps.stampReceiver = true;
    else
        ReadFlag(reader, program.name, "StampTime", s.stampTime, warnings);
}

// An origin is the mission file's global key, as every program of the
// mission shares it; a block may give its own.
std::string ReadOrigin(CProcessConfigReader& reader, const std::string& key, double limit,
                       std::optional<double>& degrees)
{
    std::string text;
    if (!reader.GetConfigurationParam(key, text) && !reader.GetValue(key, text))
        return "";
    return ReadDegrees(key, text, limit, degrees);
}

// The GPS bridge's own keys; the origin only when something uses it, so a
// mission file's origin for other programs cannot stop a bridge that ignores
// it.
std::string ReadGps(CProcessConfigReader& reader, const BridgeProgram& program, GpsSettings& gps,
                    std::vector<std::string>& warnings)
{
    std::string error = ReadPublishSettings(reader, program.name, gps, warnings);
    ReadFlag(reader, program.name, "FixRecord", gps.fixRecord, warnings);
    if (!error.empty() || !(gps.numeric || gps.fixRecord))
        return error;
    error = ReadOrigin(reader, "LatOrigin", 90.0, gps.latOrigin);
    if (error.empty())
        error = ReadOrigin(reader, "LongOrigin", 180.0, gps.longOrigin);
    if (error.empty() && gps.latOrigin.has_value() != gps.longOrigin.has_value())
        error = std::string(gps.latOrigin ? "LatOrigin" : "LongOrigin") + " is set without " +
                (gps.latOrigin ? "LongOrigin" : "LatOrigin") + ": give both, or neither";
    return error;
}

// Said once at start-up, so that missing local metres are not a surprise.
void CheckOrigin(const BridgeProgram& program, const std::string& missionFile,
                 const GpsSettings& gps, std::vector<std::string>& warnings)
{
    if ((gps.numeric || gps.fixRecord) && !gps.latOrigin)
        warnings.push_back(program.name + ": no LatOrigin and LongOrigin in " + missionFile + ": " +
                           gps.variablePrefix + "_X and " + gps.variablePrefix +
                           "_Y are not published");
}

void CheckBlock(CProcessConfigReader& reader, const std::string& missionFile,
                const std::string& processName, const BridgeProgram& program,
                std::vector<std::string>& warnings)
{
    std::list<std::string> block;
    if (!reader.GetConfiguration(processName, block))
        warnings.push_back(program.name + ": warning: " + missionFile +
                           " has no complete block \"ProcessConfig = " + processName +
                           "\"; running on the defaults");
}

void ReadBlock(CProcessConfigReader& reader, const std::string& missionFile,
               const std::string& processName, const BridgeProgram& program, SettingsRead& read)
{
    read.error = ReadNumbers(reader, read.settings);
    ReadFlags(reader, program, read.settings, read.warnings);
    ReadStampTime(reader, program, read.settings, read.warnings);
    if (read.error.empty() && program.readsGga)
        read.error = ReadGps(reader, program, read.settings.gps, read.warnings);
    read.keysRead = reader.KeysAskedFor();
    for (std::string key : program.formatKeys)
    {
        MOOSToUpper(key);
        read.keysRead.insert(key);
    }
    CheckBlock(reader, missionFile, processName, program, read.warnings);
    if (program.readsGga)
        CheckOrigin(program, missionFile, read.settings.gps, read.warnings);
}

std::string Seconds(double seconds)
{
    return MOOSFormat("%g s", seconds);
}
} // namespace

BridgeSettings DefaultSettingsFor(const std::string& device)
{
    BridgeSettings settings;
    settings.serialPort = device;
    return settings;
}

std::vector<std::string> UnreadKeyWarnings(const BridgeProgram& program,
                                           const std::string& missionFile,
                                           const std::string& processName,
                                           CProcessConfigReader& reader,
                                           const std::set<std::string>& keysRead)
{
    std::vector<std::string> warnings;
    std::set<std::string> asked = reader.KeysAskedFor();
    asked.insert(keysRead.begin(), keysRead.end());
    std::list<std::string> block;
    reader.GetConfiguration(processName, block);
    // The reader gathers the block last line first.
    for (auto line = block.rbegin(); line != block.rend(); ++line)
    {
        const std::string name = line->substr(0, line->find('='));
        std::string upper = name;
        MOOSToUpper(upper);
        if (name.empty() || !asked.insert(upper).second)
            continue;
        warnings.push_back(program.name + ": warning: \"" + name + "\" in the block of " +
                           processName + " in " + missionFile + " is read by neither " +
                           program.name + " nor the framework; it is ignored (misspelt?)");
    }
    return warnings;
}

std::vector<std::string> BridgeKeys(const BridgeProgram& program)
{
    std::vector<std::string> keys{"SerialPort",       "BaudRate",  "VerifyChecksum",
                                  "PublishEveryLine", "StampTime", "DataTimeout",
                                  "ReopenDevice",     "Echo",      "PublishHealth",
                                  "ExpectedRate",     "RecordTo",  "RecordMaxBytes"};
    if (program.readsGga)
    {
        keys.push_back("AcceptAnyTalker");
        keys.push_back("RequireFix");
        for (const char* key :
             {"Numeric", "VariablePrefix", "FixRecord", "PublishText", "LatOrigin", "LongOrigin"})
            keys.push_back(key);
    }
    keys.insert(keys.end(), program.formatKeys.begin(), program.formatKeys.end());
    return keys;
}

void ReadFlag(CProcessConfigReader& reader, const std::string& program, const std::string& key,
              bool& flag, std::vector<std::string>& warnings)
{
    std::string text;
    if (!reader.GetConfigurationParam(key, text) || !reader.GetConfigurationParam(key, flag) ||
        IsPlainFlag(text))
        return;
    warnings.push_back(program + ": warning: " + key + " = " + text +
                       " is neither true nor false nor a number; read as " +
                       (flag ? "true" : "false"));
}

std::string ReadPublishSettings(CProcessConfigReader& reader, const std::string& program,
                                PublishSettings& publish, std::vector<std::string>& warnings)
{
    ReadFlag(reader, program, "Numeric", publish.numeric, warnings);
    ReadFlag(reader, program, "PublishText", publish.publishText, warnings);
    std::string text;
    if (!reader.GetConfigurationParam("VariablePrefix", text))
        return "";
    // Other programs name these variables in their mission files, where
    // blanks vanish and "=" and "," split; these characters read the same
    // everywhere.
    const bool name = !text.empty() && text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                              "abcdefghijklmnopqrstuvwxyz"
                                                              "0123456789_") == std::string::npos;
    if (!name)
        return UnusableValue("VariablePrefix", text, "give letters, digits and underscores");
    publish.variablePrefix = text;
    return "";
}

std::string ReadDegrees(const std::string& key, const std::string& text, double limit,
                        std::optional<double>& degrees)
{
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    if (error != std::errc() || stop != end || !std::isfinite(value) || std::fabs(value) > limit)
        return UnusableValue(
            key, text,
            MOOSFormat("give degrees from %g to %g as a decimal number, e.g. -2.5", -limit, limit));
    degrees = value;
    return "";
}

std::string UnusableValue(const std::string& key, const std::string& value,
                          const std::string& wanted)
{
    return key + " = " + value + " cannot be used: " + wanted;
}

void ReadBlockSilently(const std::string& missionFile, const std::string& processName,
                       const std::function<void(CProcessConfigReader&)>& read)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(missionFile, ec))
        return;
    // The framework reads the file again in Run and says there what it
    // thinks of it; this read stays silent.
    InhibitMOOSTraceInThisThread(true);
    CProcessConfigReader reader;
    if (reader.SetFile(missionFile))
    {
        reader.SetAppName(processName);
        read(reader);
    }
    InhibitMOOSTraceInThisThread(false);
}

SettingsRead ReadBridgeSettings(const std::string& missionFile, const std::string& processName,
                                const BridgeProgram& program)
{
    SettingsRead read;
    ReadBlockSilently(missionFile, processName,
                      [&](CProcessConfigReader& reader)
                      { ReadBlock(reader, missionFile, processName, program, read); });
    return read;
}

std::string StartupLine(const BridgeProgram& program, const BridgeSettings& s)
{
    std::string on;
    const auto add = [&on](bool set, const std::string& what)
    {
        if (set)
            on += (on.empty() ? "; " : ", ") + what;
    };
    add(s.acceptAnyTalker, "AcceptAnyTalker");
    add(s.verifyChecksum, "VerifyChecksum");
    add(s.requireFix, "RequireFix");
    add(!s.publishEveryLine, "PublishEveryLine = false");
    add(s.stampTime, "StampTime");
    add(s.gps.stampReceiver, "StampTime = receiver");
    add(s.gps.numeric, "Numeric");
    add(s.gps.fixRecord, "FixRecord");
    add(!s.gps.publishText, "PublishText = false");
    add(s.gps.variablePrefix != GpsSettings().variablePrefix,
        "VariablePrefix = " + s.gps.variablePrefix);
    add(s.gps.latOrigin.has_value(), MOOSFormat("origin %.9g, %.9g", s.gps.latOrigin.value_or(0.0),
                                                s.gps.longOrigin.value_or(0.0)));
    add(s.dataTimeout > 0.0, "DataTimeout = " + Seconds(s.dataTimeout));
    add(s.reopenDevice, "ReopenDevice");
    add(!s.echo, "Echo = false");
    add(s.publishHealth, "PublishHealth");
    add(s.expectedRate > 0.0, MOOSFormat("ExpectedRate = %g a second", s.expectedRate));
    add(!s.recordTo.empty(), "RecordTo = " + s.recordTo);
    add(s.recordMaxBytes > 0, "RecordMaxBytes = " + std::to_string(s.recordMaxBytes));
    return program.name + ": reading " + s.serialPort + " at " + std::to_string(s.baudRate) +
           " baud, 8N1, no flow control" + on;
}

std::string UsageText(const BridgeProgram& program)
{
    std::string text =
        "Usage: " + program.name + " [MissionFile [ProcessName]]\n" + "       " + program.name +
        " --help | -h | --version\n\n" + program.name + " reads " + program.reads +
        " and publishes what it reads\n"
        "to the MOOS server. MissionFile defaults to Mission.moos, ProcessName to\n" +
        program.defaultProcess +
        "; the process's block of the mission file may set these keys\n"
        "(names in any letter case):\n\n"
        "  SerialPort = /dev/ttyUSB0   the device (" +
        program.deviceVariable +
        ", when set and not empty,\n"
        "                              wins)\n"
        "  BaudRate = 19200            1200, 2400, 4800, 9600, 19200, 38400, 57600,\n"
        "                              115200, 230400, 460800 or 921600\n";
    if (program.readsGga)
        text += "  AcceptAnyTalker = false     true: $GNGGA, $GLGGA, ... read as $GPGGA\n"
                "  RequireFix = false          true: a GGA sentence without a usable fix\n"
                "                              (quality 1 to 5, a well-formed position) is\n"
                "                              ignored; with DataTimeout, no fix for that long\n"
                "                              raises the application error\n"
                "  StampTime = receiver        stamp values with their time of fix\n"
                "  Numeric = false             true: GPS_LAT, GPS_LON, GPS_QUALITY, GPS_SPEED,\n"
                "                              GPS_UTC, GPS_X, ... as numbers\n"
                "  FixRecord = false           true: one GPS_FIX string per fix\n"
                "  VariablePrefix = GPS        the prefix of those names (GPS2: GPS2_LAT, ...)\n"
                "  PublishText = true          false: no Latitude, Longitude, Indic_EW, Indic_NS\n"
                "  LatOrigin, LongOrigin       the origin of GPS_X and GPS_Y (the mission\n"
                "                              file's global keys; the block may override)\n";
    text += "  VerifyChecksum = false      true: a line with a wrong or missing *hh is\n"
            "                              ignored\n"
            "  PublishEveryLine = true     false: publish only after a line that gave values\n"
            "  StampTime = false           true: stamp values with the time of their line\n"
            "  DataTimeout = 0             seconds of silence (up to 86400) that raise the\n"
            "                              application error (0: off)\n"
            "  ReopenDevice = false        true: wait for a missing, busy or lost device\n"
            "  Echo = true                 false: no echo of each reading on standard output\n"
            "  PublishHealth = false       true: publish <NAME>_HEALTH every status period\n"
            "                              and when its state changes\n"
            "  ExpectedRate = 0            values a second; below half of it for 5 s raises\n"
            "                              the application error (0: off)\n"
            "  RecordTo =                  record every line read into files named by this\n"
            "                              strftime pattern in UTC (empty: off)\n"
            "  RecordMaxBytes = 0          largest recording file in bytes (0: no limit)\n" +
            program.formatUsage +
            "\n"
            "SIGTERM, SIGINT and SIGHUP stop it after delivering what it has read.\n"
            "Exit status: 0 when stopped by a signal; 1 when the device cannot be opened,\n"
            "is in use or is lost (without ReopenDevice), or the bridge cannot start (an\n"
            "empty ServerHost); 2 for a setting that cannot be used.\n";
    return text;
}
