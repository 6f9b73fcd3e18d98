#include "BridgeSettings.h"

#include "SimpleSerial.h"

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"
#include "MOOSLIB/ProcessConfigReader.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
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

std::string KeyValueError(const std::string& key, const std::string& value,
                          const std::string& wanted)
{
    return key + " = " + value + " cannot be used: " + wanted;
}

std::string ReadBaudRate(CProcessConfigReader& reader, unsigned int& rate)
{
    std::string text;
    if (!reader.GetConfigurationParam("BaudRate", text))
        return "";
    const bool digits = IsDigits(text) && text.size() < 10;
    if (!digits || !IsStandardBaudRate(std::strtoul(text.c_str(), nullptr, 10)))
        return KeyValueError("BaudRate", text,
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
        return KeyValueError(key, text, wanted);
    number = value;
    return "";
}

std::string ReadRecordMaxBytes(CProcessConfigReader& reader, std::uintmax_t& bytes)
{
    std::string text;
    if (!reader.GetConfigurationParam("RecordMaxBytes", text))
        return "";
    if (!IsDigits(text) || text.size() > 18)
        return KeyValueError("RecordMaxBytes", text, "give bytes, 0 (no limit) or more");
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

void ReadFlags(CProcessConfigReader& reader, const BridgeProgram& program, BridgeSettings& s)
{
    reader.GetConfigurationParam("SerialPort", s.serialPort);
    reader.GetConfigurationParam("VerifyChecksum", s.verifyChecksum);
    reader.GetConfigurationParam("PublishEveryLine", s.publishEveryLine);
    reader.GetConfigurationParam("StampTime", s.stampTime);
    reader.GetConfigurationParam("ReopenDevice", s.reopenDevice);
    reader.GetConfigurationParam("Echo", s.echo);
    reader.GetConfigurationParam("PublishHealth", s.publishHealth);
    reader.GetConfigurationParam("RecordTo", s.recordTo);
    if (program.readsGga)
    {
        reader.GetConfigurationParam("AcceptAnyTalker", s.acceptAnyTalker);
        reader.GetConfigurationParam("RequireFix", s.requireFix);
    }
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
    }
    return keys;
}

SettingsRead ReadBridgeSettings(const std::string& missionFile, const std::string& processName,
                                const BridgeProgram& program)
{
    SettingsRead read;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(missionFile, ec))
        return read;
    // The framework reads the file again in Run and says there what it
    // thinks of it; this read stays silent.
    InhibitMOOSTraceInThisThread(true);
    CProcessConfigReader reader;
    if (reader.SetFile(missionFile))
    {
        reader.SetAppName(processName);
        read.error = ReadNumbers(reader, read.settings);
        ReadFlags(reader, program, read.settings);
        read.keysRead = reader.KeysAskedFor();
        CheckBlock(reader, missionFile, processName, program, read.warnings);
    }
    InhibitMOOSTraceInThisThread(false);
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
                "  RequireFix = false          true: a GGA sentence without a fix is ignored\n";
    text += "  VerifyChecksum = false      true: a line with a wrong or missing *hh is\n"
            "                              ignored\n"
            "  PublishEveryLine = true     false: publish only after a line that gave values\n"
            "  StampTime = false           true: stamp values with the current MOOS time\n"
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
            "  RecordMaxBytes = 0          largest recording file in bytes (0: no limit)\n"
            "\n"
            "SIGTERM, SIGINT and SIGHUP stop it after delivering what it has read.\n"
            "Exit status: 0 when stopped by a signal; 1 when the device cannot be opened,\n"
            "is in use or is lost (without ReopenDevice), or the bridge cannot start (an\n"
            "empty ServerHost); 2 for a BaudRate, DataTimeout, ExpectedRate or\n"
            "RecordMaxBytes that cannot be used.\n";
    return text;
}
