// BridgeSettings: how a serial bridge reads its device, from the process's
// block of the mission file.
//
// main reads the bridge's keys once, before it constructs the application,
// so that the constructor can open the device with the configured path and
// rate; the framework reads its own keys when the application runs. That
// early read prints nothing; what it finds wrong comes back as text for main
// to print: a value that cannot be used (the program then ends with status 2
// before the device is touched) or a block that is missing. The keys it asked
// for are kept, so that once the framework has read its own the keys nobody
// asked for can be named (UnreadKeyWarnings). Every key is optional; with
// none of them the bridge reads /dev/ttyUSB0 at 19200 baud and publishes and
// echoes every line.
//
// Key names are compared without regard to case, like every other key of the
// mission file; boolean values follow the block's rule (TRUE in any case or a
// positive number is true, anything else false), and a value that is neither
// true, false nor a number ("yes", "on") is warned about with how it is read.
//
// Plain values; safe to copy and to read from any thread.
#ifndef SERIALBRIDGE_BRIDGESETTINGS_H
#define SERIALBRIDGE_BRIDGESETTINGS_H

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

class CProcessConfigReader;

// What tells one bridge program from the other to the shared layer.
struct BridgeProgram
{
    std::string name;           // "Vantor": the program's name in its messages
    std::string defaultProcess; // the process name when none is given
    std::string deviceVariable; // the environment variable that names the device
    std::string reads;          // what it reads, for the usage text
    bool readsGga = false;      // takes the GPS keys (AcceptAnyTalker, RequireFix, Numeric...)
    // Keys of the block that the program reads itself, for its sentence
    // format: never warned about as unread, and listed with BridgeKeys.
    std::vector<std::string> formatKeys{};
    // Their lines of the usage text, "  Key = default   meaning\n" each.
    std::string formatUsage{};
};

// The keys that say whether a bridge publishes its sensor's numbers beside
// (or instead of) its text, and under which names; both bridges read them
// alike (ReadPublishSettings), each with its own default prefix.
struct PublishSettings
{
    explicit PublishSettings(std::string defaultPrefix) : variablePrefix(std::move(defaultPrefix))
    {
    }

    bool numeric = false;    // Numeric: the numbers as doubles, <prefix>_...
    bool publishText = true; // PublishText: the text variables
    // VariablePrefix: letters, digits and underscores, so that every name
    // made from it is one plain variable name.
    std::string variablePrefix;
};

// What a GPS bridge publishes besides the receiver's position text; every
// key off by default, so that the four text variables are all it publishes.
// Numeric gives <prefix>_LAT, _LON, ...; PublishText covers "Latitude",
// "Longitude", ...
struct GpsSettings : PublishSettings
{
    GpsSettings() : PublishSettings("GPS") {}

    bool fixRecord = false;     // FixRecord: one <prefix>_FIX string per fix
    bool stampReceiver = false; // StampTime = receiver: stamped with the time of fix
    // The origin of <prefix>_X and _Y (LatOrigin, LongOrigin), in signed
    // decimal degrees: both or neither.
    std::optional<double> latOrigin;
    std::optional<double> longOrigin;
};

struct BridgeSettings
{
    std::string serialPort = "/dev/ttyUSB0";
    unsigned int baudRate = 19200;
    bool acceptAnyTalker = false;
    bool verifyChecksum = false;
    bool requireFix = false;
    bool publishEveryLine = true;
    bool stampTime = false;
    // Seconds without a line before the bridge reports silence; 0 is off.
    double dataTimeout = 0.0;
    bool reopenDevice = false;
    bool echo = true;
    // Publish <NAME>_HEALTH (see BridgeHealth).
    bool publishHealth = false;
    // Values a second the sensor should give; 0 is off. Below half of it
    // for a while raises the application error.
    double expectedRate = 0.0;
    // strftime pattern (UTC) of the files every line read is recorded in
    // (see LineRecorder); empty is off.
    std::string recordTo;
    // Largest size of one recording file; 0 for no limit.
    std::uintmax_t recordMaxBytes = 0;
    GpsSettings gps;
};

// The defaults, reading device.
BridgeSettings DefaultSettingsFor(const std::string& device);

// What the early read of a process's block found.
struct SettingsRead
{
    BridgeSettings settings;
    // One line naming a key and a value that cannot be used; empty when all
    // is well.
    std::string error;
    // Lines to print once at start-up: a mission file without the process's
    // block, a boolean key with a value such as "yes".
    std::vector<std::string> warnings;
    // The upper-case names of the keys the read asked for.
    std::set<std::string> keysRead;
};

// The line that names a key whose value cannot be used, and what would do:
// "<key> = <value> cannot be used: <wanted>".
std::string UnusableValue(const std::string& key, const std::string& value,
                          const std::string& wanted);

// Reads the boolean key of the block into flag by the block's rule, and
// adds to warnings, in the name of program, a value that the rule reads
// but that is neither true, false nor a number ("yes", "on"). Leaves flag
// as it is when the block does not give key.
void ReadFlag(CProcessConfigReader& reader, const std::string& program, const std::string& key,
              bool& flag, std::vector<std::string>& warnings);

// Reads Numeric, PublishText and VariablePrefix of the block into publish,
// leaving what the block does not give; flags as ReadFlag. The line that
// names an unusable prefix, empty when all is well.
std::string ReadPublishSettings(CProcessConfigReader& reader, const std::string& program,
                                PublishSettings& publish, std::vector<std::string>& warnings);

// Reads text, the value of key, as decimal degrees from -limit to limit,
// the same whatever the C locale: digits with at most one point after an
// optional "-", no exponent. Sets degrees and returns empty; otherwise the
// line that names key and text.
std::string ReadDegrees(const std::string& key, const std::string& text, double limit,
                        std::optional<double>& degrees);

// Calls read with a reader of the block of processName in missionFile,
// its traces silenced (the framework reads the file again and says there
// what it thinks of it); does nothing when the file cannot be read.
void ReadBlockSilently(const std::string& missionFile, const std::string& processName,
                       const std::function<void(CProcessConfigReader&)>& read);

// Reads the block of processName in missionFile. A mission file that cannot
// be read gives the defaults and no warning (the framework warns about it
// when it starts).
SettingsRead ReadBridgeSettings(const std::string& missionFile, const std::string& processName,
                                const BridgeProgram& program);

// One warning for each key of the block of processName that neither reader
// (the framework's, after it read its settings) nor the bridge's early read
// (keysRead) asked for, once per key in any letter case, in the order of the
// block.
std::vector<std::string> UnreadKeyWarnings(const BridgeProgram& program,
                                           const std::string& missionFile,
                                           const std::string& processName,
                                           CProcessConfigReader& reader,
                                           const std::set<std::string>& keysRead);

// The keys the program reads from its block.
std::vector<std::string> BridgeKeys(const BridgeProgram& program);

// The start-up line: the device, its line settings and the settings that
// differ from their defaults, e.g. "Vantor: reading /dev/ttyUSB0 at 9600
// baud, 8N1, no flow control; AcceptAnyTalker, DataTimeout = 5 s".
std::string StartupLine(const BridgeProgram& program, const BridgeSettings& settings);

// The usage text of --help: the command line, the device variable and every
// key with its default.
std::string UsageText(const BridgeProgram& program);

#endif
