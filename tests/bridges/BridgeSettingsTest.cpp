// The settings both bridges read from their process's block, the checksum
// test and the texts the shared main prints.
#include "BridgeSettings.h"
#include "NmeaChecksum.h"

#include "MOOSLIB/MOOSApp.h"

#include "SerialTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

namespace
{
const BridgeProgram kGps{"Vantor", "Vantor", "VANTOR_DEVICE", "a GPS receiver", true};
const BridgeProgram kCompass{"Dirkel", "Compass", "DIRKEL_DEVICE", "a compass", false};

// A framework application that makes the framework's reads of a mission file
// (its comms set up, never waited for) and then names the keys nobody read.
class StartProbe : public CMOOSApp
{
public:
    StartProbe(const BridgeProgram& program, const SettingsRead& read)
        : program(program), read(read)
    {
    }
    bool ConfigureComms() override
    {
        const bool configured = CMOOSApp::ConfigureComms();
        RequestQuit();
        return configured;
    }
    bool OnStartUp() override
    {
        warnings = UnreadKeyWarnings(program, GetMissionFileName(), GetAppName(), missionReader,
                                     read.keysRead);
        return true;
    }

    const BridgeProgram program;
    const SettingsRead read;
    std::vector<std::string> warnings;
};

class BridgeSettingsTest : public ::testing::Test
{
protected:
    // The warnings of a start on a mission file with text: the early read's,
    // then those about keys neither it nor the framework read.
    std::vector<std::string> WarningsOf(const std::string& text, const BridgeProgram& program,
                                        const std::string& process)
    {
        StartProbe probe(program, Read(text, program, process));
        EXPECT_TRUE(probe.Run(process.c_str(), Mission().c_str()));
        std::vector<std::string> warnings = probe.read.warnings;
        warnings.insert(warnings.end(), probe.warnings.begin(), probe.warnings.end());
        return warnings;
    }
    // Reads the block of process from a mission file with text.
    SettingsRead Read(const std::string& text, const BridgeProgram& program = kGps,
                      const std::string& process = "Vantor")
    {
        std::ofstream(Mission()) << text;
        return ReadBridgeSettings(Mission(), process, program);
    }
    // The error of a block with the one entry.
    std::string ErrorOf(const std::string& entry)
    {
        return Read("ProcessConfig = Vantor\n{\n  " + entry + "\n}\n").error;
    }
    std::string Mission() const { return (dir.Path() / "m.moos").string(); }

    serialtest::TempDir dir;
};

TEST_F(BridgeSettingsTest, NoMissionFileGivesTheDefaultsSilently)
{
    const SettingsRead read = ReadBridgeSettings(Mission() + ".absent", "Vantor", kGps);
    EXPECT_EQ(read.settings.serialPort, "/dev/ttyUSB0");
    EXPECT_EQ(read.settings.baudRate, 19200u);
    EXPECT_TRUE(read.settings.publishEveryLine);
    EXPECT_TRUE(read.settings.echo);
    EXPECT_FALSE(read.settings.reopenDevice);
    EXPECT_EQ(read.settings.dataTimeout, 0.0);
    EXPECT_TRUE(read.error.empty());
    EXPECT_TRUE(read.warnings.empty());
}

TEST_F(BridgeSettingsTest, EveryKeyIsReadInAnyLetterCase)
{
    const SettingsRead read =
        Read("ProcessConfig = Vantor\n{\n  serialport = /dev/ttyACM0\n  BAUDRATE = 9600\n"
             "  acceptanytalker = true\n  VerifyChecksum = TRUE\n  requirefix = 1\n"
             "  PublishEveryLine = false\n  stamptime = true\n  DataTimeout = 2.5\n"
             "  ReopenDevice = true\n  echo = false\n}\n");
    const BridgeSettings& s = read.settings;
    EXPECT_EQ(s.serialPort, "/dev/ttyACM0");
    EXPECT_EQ(s.baudRate, 9600u);
    EXPECT_TRUE(s.acceptAnyTalker && s.verifyChecksum && s.requireFix && s.stampTime &&
                s.reopenDevice);
    EXPECT_FALSE(s.publishEveryLine || s.echo);
    EXPECT_EQ(s.dataTimeout, 2.5);
    EXPECT_TRUE(read.error.empty()) << read.error;
    EXPECT_TRUE(read.warnings.empty());
}

// A value that cannot be used is named with its key on one line: only a
// standard baud rate, DataTimeout from none to a day, an origin on the
// globe given whole, a prefix that can start a variable's name.
TEST_F(BridgeSettingsTest, UnusableValuesAreNamed)
{
    const struct
    {
        std::string key;
        std::vector<std::string> good, bad;
    } keys[] = {
        {"BaudRate",
         {"1200", "9600", "115200", "921600"},
         {"9601", "fast", "-9600", "115200baud", "0", "99999999999999999999"}},
        {"DataTimeout", {"0", "5", "0.5", "86400"}, {"-1", "5s", "abc", "86401", "nan", "inf"}},
        {"Numeric = true\n  LatOrigin", {}, {"90.5", "north", "4.8e1"}},
        {"Numeric = true\n  LongOrigin", {}, {"1e3"}},
        {"Numeric = true\n  VariablePrefix", {}, {"GPS-2"}}};
    for (const auto& k : keys)
    {
        for (const std::string& value : k.good)
            EXPECT_EQ(ErrorOf(k.key + " = " + value), "") << k.key << value;
        const std::string named = k.key.substr(k.key.rfind(' ') + 1);
        for (const std::string& value : k.bad)
            EXPECT_EQ(
                ErrorOf(k.key + " = " + value).rfind(named + " = " + value + " cannot be used", 0),
                0u)
                << k.key << value;
    }
    EXPECT_EQ(
        ErrorOf("Numeric = true\n  LatOrigin = 48").rfind("LatOrigin is set without LongOrigin", 0),
        0u);
}

// A misspelt key is named once; the framework's own keys (of the block and
// of the whole file) are not warned about, nor is a key of the other bridge
// read by this one.
TEST_F(BridgeSettingsTest, KeysNobodyReadsAreWarnedAboutOnceEach)
{
    const std::vector<std::string> warnings =
        WarningsOf("ProcessConfig = Vantor\n{\n  AppTik = 10\n  apptick = 10\n  CommsTick = 10\n"
                   "  SendImmediately = true\n  ServerPort = 9000\n  CatchCommandMessages = false\n"
                   "  appTIK = 4\n  BaudRat = 9600\n  MOOSTimeWarp = 1\n}\n",
                   kGps, "Vantor");
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_NE(warnings[0].find("\"AppTik\""), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[1].find("\"BaudRat\""), std::string::npos) << warnings[1];
}

TEST_F(BridgeSettingsTest, GpsKeysAreUnknownToTheCompassBridge)
{
    const std::vector<std::string> warnings = WarningsOf(
        "ProcessConfig = Compass\n{\n  AcceptAnyTalker = true\n  VerifyChecksum = true\n}\n",
        kCompass, "Compass");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("\"AcceptAnyTalker\""), std::string::npos);
    const SettingsRead read =
        Read("ProcessConfig = Compass\n{\n  AcceptAnyTalker = true\n  VerifyChecksum = true\n}\n",
             kCompass, "Compass");
    EXPECT_FALSE(read.settings.acceptAnyTalker);
    EXPECT_TRUE(read.settings.verifyChecksum);
}

TEST_F(BridgeSettingsTest, AMissionFileWithoutTheBlockIsWarnedAbout)
{
    const SettingsRead read =
        Read("ServerPort = 9000\nProcessConfig = Other\n{\n  Echo = false\n}\n");
    ASSERT_EQ(read.warnings.size(), 1u);
    EXPECT_NE(read.warnings[0].find("ProcessConfig = Vantor"), std::string::npos);
    EXPECT_TRUE(read.settings.echo);
}

// "yes" reads as false by the block's rule: the user is told, once per key.
TEST_F(BridgeSettingsTest, FlagsThatAreNeitherTrueNorFalseNorANumberAreWarnedAbout)
{
    const struct
    {
        const char* value;
        const char* warning; // empty: none
    } cases[] = {{"yes", "Vantor: warning: RequireFix = yes is neither true nor false nor a "
                         "number; read as false"},
                 {"on", "RequireFix = on is neither"},
                 {"TRUE", ""},
                 {"false", ""},
                 {"1", ""},
                 {"0.5", ""}};
    for (const auto& c : cases)
    {
        const SettingsRead read =
            Read(std::string("ProcessConfig = Vantor\n{\n  RequireFix = ") + c.value + "\n}\n");
        if (*c.warning == '\0')
        {
            EXPECT_TRUE(read.warnings.empty()) << c.value;
            continue;
        }
        ASSERT_EQ(read.warnings.size(), 1u) << c.value;
        EXPECT_NE(read.warnings[0].find(c.warning), std::string::npos) << read.warnings[0];
        EXPECT_FALSE(read.settings.requireFix);
    }
}

// The framework reads the file again when it runs and says then what it
// has to say; the early read must not say it a second time.
TEST_F(BridgeSettingsTest, TheEarlyReadPrintsNothing)
{
    testing::internal::CaptureStderr();
    Read("ProcessConfig = Vantor\n{\n  {\n  Echo = false\n}\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(BridgeTextTest, StartupLineNamesTheDeviceAndWhatIsOn)
{
    BridgeSettings s;
    EXPECT_EQ(StartupLine(kGps, s),
              "Vantor: reading /dev/ttyUSB0 at 19200 baud, 8N1, no flow control");
    s.serialPort = "/dev/ttyS1";
    s.baudRate = 9600;
    s.acceptAnyTalker = true;
    s.dataTimeout = 5;
    s.echo = false;
    EXPECT_EQ(StartupLine(kGps, s), "Vantor: reading /dev/ttyS1 at 9600 baud, 8N1, no flow "
                                    "control; AcceptAnyTalker, DataTimeout = 5 s, Echo = false");
}

TEST(BridgeTextTest, UsageNamesTheVariableAndOnlyTheProgramsKeysInEightyColumns)
{
    const std::string gps = UsageText(kGps);
    const std::string compass = UsageText(kCompass);
    for (const std::string& key : BridgeKeys(kGps))
        EXPECT_NE(gps.find(key), std::string::npos) << key;
    EXPECT_NE(gps.find("VANTOR_DEVICE"), std::string::npos);
    EXPECT_NE(compass.find("DIRKEL_DEVICE"), std::string::npos);
    EXPECT_EQ(compass.find("AcceptAnyTalker"), std::string::npos);
    for (const std::string& usage : {gps, compass})
        EXPECT_EQ(serialtest::LinesWiderThan(usage, 80), std::vector<std::string>{}) << usage;
}

// A sound checksum passes in either letter case; a wrong, missing, cut or
// malformed one fails.
TEST(NmeaChecksumTest, OnlyASoundChecksumPasses)
{
    for (const char* line :
         {"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n",
          "$C328.3T22.3*2E\r\n", "$C328.3T22.3*2e", "$*00\r\n"})
        EXPECT_TRUE(HasValidChecksum(line)) << line;
    for (const char* line :
         {"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*48\r\n",
          "$GPGGA,123519,4807.038,N,01131.000,E\r\n", "$GPGGA,123519,4807\r\n",
          "$C328.3T22.3*1\r\n", "$C328.3T22.3*1G\r\n", "$C328.3T22.3*1F0\r\n", "C328.3T22.3*1F\r\n",
          "$C328.3T22.3*\r\n", "*00\r\n", "\r\n", ""})
        EXPECT_FALSE(HasValidChecksum(line)) << line;
}

// The GPS keys: an origin is the mission file's global key unless the block
// gives its own, and is read only when something publishes local metres.
TEST_F(BridgeSettingsTest, GpsKeysAndTheOriginOfLocalMetres)
{
    const std::string globals = "LatOrigin = 48.1\nLongOrigin = -11.5\n";
    SettingsRead read = Read(globals + "ProcessConfig = Vantor\n{\n  Numeric = true\n"
                                       "  FixRecord = true\n  PublishText = false\n"
                                       "  VariablePrefix = GPS2\n  StampTime = Receiver\n"
                                       "  LongOrigin = 7.25\n}\n");
    const GpsSettings& gps = read.settings.gps;
    EXPECT_TRUE(read.error.empty()) << read.error;
    EXPECT_TRUE(gps.numeric && gps.fixRecord && gps.stampReceiver && !gps.publishText);
    EXPECT_FALSE(read.settings.stampTime);
    EXPECT_EQ(gps.variablePrefix, "GPS2");
    EXPECT_EQ(gps.latOrigin, 48.1);
    EXPECT_EQ(gps.longOrigin, 7.25);
    EXPECT_TRUE(read.warnings.empty());

    // Nothing asks for the origin: a bad one stops nothing.
    read = Read("LatOrigin = 95\nProcessConfig = Vantor\n{\n  StampTime = true\n}\n");
    EXPECT_TRUE(read.error.empty() && read.settings.stampTime && !read.settings.gps.latOrigin);

    read = Read("ProcessConfig = Vantor\n{\n  Numeric = true\n}\n");
    ASSERT_EQ(read.warnings.size(), 1u);
    EXPECT_EQ(read.warnings[0], "Vantor: no LatOrigin and LongOrigin in " + Mission() +
                                    ": GPS_X and GPS_Y are not published");
}

} // namespace
