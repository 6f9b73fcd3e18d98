#include "BridgeTestSupport.h"
#include "DeviceMessages.h"
#include "GgaFormat.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <boost/system/system_error.hpp>

#include <pthread.h>
#include <signal.h>

#include <cstdlib>
#include <fstream>
#include <future>
#include <thread>

namespace
{
using bridgetest::Publications;

const char kWorkedExample[] =
    "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";

Publications Position(const std::string& lat, const std::string& lon, const std::string& ew,
                      const std::string& ns)
{
    return {{"Latitude", lat}, {"Longitude", lon}, {"Indic_EW", ew}, {"Indic_NS", ns}};
}

struct Gps
{
    static BridgeProgram Program() { return VantorProgram(); }
    static SentenceFormat Format() { return GgaFormat(); }
};

class VantorTest : public bridgetest::BridgeTest<Gps>
{
protected:
    // "latitude|indic_NS|longitude|indic_EW" of a "$GPGGA" line.
    static std::string Parsed(const std::string& line)
    {
        GgaPosition p;
        EXPECT_TRUE(ParseGpgga(line, p)) << line;
        return p.latitude + "|" + p.indic_NS + "|" + p.longitude + "|" + p.indic_EW;
    }
};

// Fields are cut from the line where the sentence puts them, without
// complaint: a sentence without a fix gives an empty position and commas as
// indicators, a short one shifted or empty fields.
TEST_F(VantorTest, OddSentencesGiveWhatTheirFieldPositionsHold)
{
    const std::pair<const char*, const char*> cases[] = {
        {"$GPGGA,,,,,,0,,,,M,,M,,*66\r\n", "|,||,"},
        {"$GPGGA,212607.891,,,,,0,00,,,M,0.0,M,,0000*56\r\n", "|,||,"},
        {"$GPGGA\r\n", "$GPGGA\r\n|$|$GPGGA\r\n|$"},
        {"$GPGGA,123519,4807.038,N\r\n", "4807.038|N|N\r\n|N"},
        {"$GPGGA,\r\n", "\r\n|\r|\r\n|\r"},
    };
    for (const auto& [line, fields] : cases)
        EXPECT_EQ(Parsed(line), fields) << line;
}

TEST_F(VantorTest, OnlyAnExactUpperCaseSentenceNameIsParsed)
{
    GgaPosition position{"kept", "k", "kept", "k"};
    for (const char* line :
         {"$gpgga,123519,4807.038,N,01131.000,E\r\n", "$GNGGA,123519,4807.038,N,01131.000,E\r\n",
          "GPGGA,123519,4807.038,N,01131.000,E\r\n", "$GPGG\r\n", ""})
        EXPECT_FALSE(ParseGpgga(line, position)) << line;
    EXPECT_EQ(position.latitude, "kept");
}

TEST_F(VantorTest, CapturedSentencesGiveTheirPositionFields)
{
    const std::filesystem::path capture = moostest::CapturePath("nmea/venus634lp.nmea");
    MOOS_SKIP_WITHOUT_CAPTURE(capture);
    std::ifstream in(capture, std::ios::binary);
    int parsed = 0;
    for (std::string line; std::getline(in, line);)
    {
        GgaPosition position;
        if (!ParseGpgga(line + "\n", position))
            continue;
        ++parsed;
        EXPECT_EQ(line.find(position.latitude + "," + position.indic_NS + "," + position.longitude +
                            "," + position.indic_EW + ","),
                  line.find(',', 7) + 1)
            << line;
    }
    EXPECT_EQ(parsed, 6);
}

const char kUbloxGga[] =
    "$GNGGA,000941.00,4404.13387,N,12118.85628,W,1,12,1.01,1144.8,M,-21.4,M,,*4D\r\n";
const char kNoFix[] = "$GPGGA,212607.891,,,,,0,00,,,M,0.0,M,,0000*56\r\n";

BridgeSettings With(bool BridgeSettings::*flag, bool value = true)
{
    BridgeSettings settings;
    settings.*flag = value;
    return settings;
}

// What the last of a few lines publishes and prints under one setting: the
// four fields of the last position in order, published again after other
// lines; a cut sentence as its fields fall without VerifyChecksum.
TEST_F(VantorTest, EachSettingDecidesWhatALinePublishesAndPrints)
{
    const std::string echoed = "4807.038\n01131.000\nE\nN\n";
    const Publications worked = Position("4807.038", "01131.000", "E", "N");
    const char rmc[] = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";
    const char gsv[] = "$GPGSV,1,1,00*79\r\n";
    ExpectLinesCases({
        {{}, {kWorkedExample}, worked, echoed},
        {{}, {rmc}, Position("", "", "", ""), "\n\n\n\n"},
        {{}, {kWorkedExample, gsv}, worked, echoed},
        {{}, {"$GPGGA,123519,4807.038,N,0113\r\n"}, Position("4807.038", "0113\r\n", "0", "N"), {}},
        {{}, {kUbloxGga}, Position("", "", "", ""), {}},
        {With(&BridgeSettings::acceptAnyTalker),
         {kUbloxGga},
         Position("4404.13387", "12118.85628", "W", "N"),
         "4404.13387\n12118.85628\nW\nN\n"},
        {With(&BridgeSettings::requireFix), {kWorkedExample, kNoFix}, worked, {}},
        {With(&BridgeSettings::publishEveryLine, false), {gsv}, {}, ""},
        {With(&BridgeSettings::publishEveryLine, false), {gsv, kWorkedExample}, worked, echoed},
        {With(&BridgeSettings::echo, false), {kWorkedExample}, worked, ""},
    });
}

TEST(VantorSentenceTest, AnyTalkerIsADollarTwoUpperCaseLettersAndGga)
{
    for (const char* line :
         {"$GPGGA,1", "$GNGGA,1", "$GLGGA,1", "$GAGGA,1", "$GBGGA,1", "$BDGGA,1", "$GNGGA"})
        EXPECT_TRUE(IsGgaSentence(line, true)) << line;
    for (const char* line : {"$gnGGA,1", "$GNgga,1", "$G1GGA,1", "$GNGSA,1", "GNGGA,1", "$GGA,1",
                             "$PGGA,1", "$GNGG", ""})
        EXPECT_FALSE(IsGgaSentence(line, true)) << line;
    EXPECT_FALSE(IsGgaSentence(kUbloxGga, false));
}

// A corrupted sentence, or one cut short (its end and checksum lost), gives
// nothing with VerifyChecksum: the last good position is published again.
TEST_F(VantorTest, VerifyChecksumRejectsCorruptedAndCutSentences)
{
    Configure(With(&BridgeSettings::verifyChecksum));
    testing::internal::CaptureStderr();
    Feed(kWorkedExample);
    Feed("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*48\r\n");
    EXPECT_EQ(app->published, Position("4807.038", "01131.000", "E", "N"));
    Feed("$GPGGA,123520,4807\r\n");
    EXPECT_EQ(app->published, Position("4807.038", "01131.000", "E", "N"));
    Feed("$GPGSV,1,1,00*00\r\n"); // not a position: not counted
    EXPECT_EQ(app->RejectedLines(), 2u);
    // The first rejection is traced; the next waits for the minute to pass.
    const std::string traces = testing::internal::GetCapturedStderr();
    EXPECT_EQ(serialtest::LinesWith(traces, "rejected").size(), 1u) << traces;
}

TEST_F(VantorTest, PositionsWithoutNewFixKeepTheStampOfTheirFix)
{
    BridgeSettings settings = With(&BridgeSettings::requireFix);
    settings.stampTime = true;
    Configure(settings);
    bridgetest::ExpectRepublishedValuesKeepTheirStamp(
        *app, {kWorkedExample, kWorkedExample, kWorkedExample},
        {kNoFix, kNoFix, kNoFix, kNoFix, kNoFix});
}

// A burst is handled in the pass that finds it, each line as if alone.
TEST_F(VantorTest, OnePassHandlesEveryLineAlreadyReceived)
{
    const std::string printed =
        Feed(std::string(kUbloxGga) + "$GPGSV,1,1,00*79\r\n" + kWorkedExample);
    ASSERT_EQ(app->published.size(), 12u);
    EXPECT_EQ(Publications(app->published.begin(), app->published.begin() + 4),
              Position("", "", "", ""));
    EXPECT_EQ(Publications(app->published.end() - 4, app->published.end()),
              Position("4807.038", "01131.000", "E", "N"));
    EXPECT_EQ(printed, "\n\n\n\n\n\n\n\n4807.038\n01131.000\nE\nN\n");
}

// Every line of every capture, fed with no settings, publishes what the
// application built from the previous release published for it (pinned as
// a count and a digest of every published name and value).
TEST_F(VantorTest, NoSettingsPublishWhatThePreviousReleaseDid)
{
    const std::vector<std::pair<std::string, std::string>> pinned = {
        {"bundg_zeus_9.nmea", "19996 10357249120356883116"},
        {"ch-4711.nmea", "300 10723447694287911322"},
        {"hemi.nmea", "3012 7257343701642369491"},
        {"motorola-t805.nmea", "200 10463648379948641797"},
        {"telit-he910.nmea", "6232 11112421960333956907"},
        {"ublox-8.nmea", "4032 15280684408431410149"},
        {"venus634lp.nmea", "204 8442889454586421455"}};
    for (const auto& [name, digest] : pinned)
    {
        const std::filesystem::path capture = moostest::CapturePath("nmea/" + name);
        MOOS_SKIP_WITHOUT_CAPTURE(capture);
        std::ifstream in(capture, std::ios::binary);
        Configure({}); // each capture from a fresh start
        EXPECT_EQ(bridgetest::DigestOfFeeding(*app, in), digest) << name;
    }
}

// The shared layer's waiting, shown on the GPS bridge.
TEST_F(VantorTest, SilencePastDataTimeoutRaisesTheErrorUntilALineComes)
{
    BridgeSettings settings;
    settings.dataTimeout = 0.2;
    Configure(settings);
    ASSERT_TRUE(serialtest::WaitFor(
        [&]
        {
            app->Iterate();
            return !app->AppError().empty();
        }));
    EXPECT_EQ(app->AppError(), "no data from " + pty.farEndPath() + " for 0.2 s");
    EXPECT_TRUE(app->published.empty());
    Feed(kWorkedExample);
    EXPECT_EQ(app->AppError(), "");
    EXPECT_EQ(app->published, Position("4807.038", "01131.000", "E", "N"));
}

// Lines keep coming but none with a usable fix: RequireFix with DataTimeout
// says so until the next fix.
TEST_F(VantorTest, NoUsableFixPastDataTimeoutRaisesTheErrorUntilAFix)
{
    BridgeSettings settings;
    settings.requireFix = true;
    settings.dataTimeout = 0.2;
    Configure(settings);
    ASSERT_TRUE(serialtest::WaitFor(
        [&]
        {
            Feed(kNoFix);
            return !app->AppError().empty();
        }));
    EXPECT_EQ(app->AppError(), "no fix for 0.2 s");
    Feed(kWorkedExample);
    EXPECT_EQ(app->AppError(), "");
}

// Silence is the device's, not the loop's: a line every 1.5 s while the loop
// is held up (its server away) for longer than DataTimeout, so that the reader
// drops what waited as too old, raises no error.
TEST_F(VantorTest, LinesDroppedWhileTheLoopWasHeldUpAreNotSilence)
{
    BridgeSettings settings;
    settings.dataTimeout = 3;
    Configure(settings);
    Feed(kWorkedExample);
    for (int line = 0; line < 3; ++line) // the loop held up for 4.5 s
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        ASSERT_EQ(pty.write(kWorkedExample, std::chrono::seconds(5)),
                  PseudoTerminal::WriteResult::Written);
    }
    EXPECT_TRUE(app->Iterate()); // drops the lines that waited, then waits a second
    EXPECT_EQ(app->AppError(), "");
    Feed(kWorkedExample);
    EXPECT_EQ(app->AppError(), "");
}

// The device is read behind a link of the test's own that goes with it: a
// pseudo-terminal's path, once given up, may be another test's next one,
// which the bridge would take when it tries again.
TEST_F(VantorTest, LostDeviceWithReopenDeviceKeepsTheLoopAndRaisesTheError)
{
    serialtest::TempDir dir;
    const std::string link = (dir.Path() / "gps").string();
    std::filesystem::create_symlink(pty.farEndPath(), link);
    Configure(With(&BridgeSettings::reopenDevice), link);
    pty.close();
    std::filesystem::remove(link);
    EXPECT_TRUE(app->Iterate());
    EXPECT_TRUE(app->ReadError().empty());
    EXPECT_FALSE(app->QuitWasRequested());
    EXPECT_EQ(app->AppError().rfind("lost serial device " + link, 0), 0u) << app->AppError();
    EXPECT_TRUE(app->Iterate()); // waits for the next try, which fails again
    EXPECT_FALSE(app->QuitWasRequested());
}

TEST(VantorDeviceTest, MissingDeviceThrowsUnlessReopenDeviceWaitsForIt)
{
    BridgeSettings settings;
    settings.serialPort = "/dev/no-such-receiver";
    EXPECT_THROW(CSimulator app(VantorProgram(), GgaFormat(), settings),
                 boost::system::system_error);
    settings.reopenDevice = true;
    bridgetest::Recording app(VantorProgram(), GgaFormat(), settings);
    EXPECT_EQ(app.AppError(),
              "cannot open serial device /dev/no-such-receiver: No such file or directory");
}

TEST_F(VantorTest, SecondBridgeOnTheSameDeviceIsToldItIsInUse)
{
    try
    {
        CSimulator second(VantorProgram(), GgaFormat(), DefaultSettingsFor(pty.farEndPath()));
        FAIL() << "the second bridge opened the device";
    }
    catch (const boost::system::system_error& e)
    {
        EXPECT_TRUE(SerialDeviceInUse(e.code())) << e.what();
    }
}

// A stop request reaches an Iterate that waits on a silent device.
TEST_F(VantorTest, QuitRequestEndsAWaitingIterate)
{
    auto pass = std::async(std::launch::async, [this] { return app->Iterate(); });
    app->RequestQuit();
    ASSERT_EQ(pass.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_TRUE(app->published.empty());
}

TEST_F(VantorTest, FailedReadIsRecordedAndEndsTheLoop)
{
    ExpectFailedReadEndsTheLoop();
}

TEST(VantorCommandLineTest, ArgumentsPickMissionFileAndProcessName)
{
    const char* argv[] = {"Vantor", "a.moos", "GPS2", "extra"};
    EXPECT_EQ(bridgetest::Picked(VantorProgram(), 1, argv), "Mission.moos|Vantor");
    EXPECT_EQ(bridgetest::Picked(VantorProgram(), 2, argv), "a.moos|Vantor");
    EXPECT_EQ(bridgetest::Picked(VantorProgram(), 3, argv), "a.moos|GPS2");
    EXPECT_EQ(bridgetest::Picked(VantorProgram(), 4, argv), "Mission.moos|Vantor");
}

TEST(VantorCommandLineTest, DeviceVariableNamesAnotherDeviceUnlessEmpty)
{
    ::unsetenv("VANTOR_DEVICE");
    EXPECT_EQ(SerialDeviceFromEnvironment("VANTOR_DEVICE"), "/dev/ttyUSB0");
    EXPECT_EQ(SerialDeviceFromEnvironment("VANTOR_DEVICE", "/dev/gps"), "/dev/gps");
    ::setenv("VANTOR_DEVICE", "", 1);
    EXPECT_EQ(SerialDeviceFromEnvironment("VANTOR_DEVICE"), "/dev/ttyUSB0");
    EXPECT_EQ(SerialDeviceFromEnvironment("VANTOR_DEVICE", "/dev/gps"), "/dev/gps");
    ::setenv("VANTOR_DEVICE", "/dev/ttyS3", 1);
    EXPECT_EQ(SerialDeviceFromEnvironment("VANTOR_DEVICE"), "/dev/ttyS3");
    EXPECT_EQ(SerialDeviceFromEnvironment("VANTOR_DEVICE", "/dev/gps"), "/dev/ttyS3");
    ::unsetenv("VANTOR_DEVICE");
}

// The stop signals are blocked before anything else is done, so that one
// that comes while the settings are read waits for the watcher instead of
// killing the program (status -15 instead of 0): even --version leaves them
// blocked.
TEST(VantorProgramTest, StopSignalsAreBlockedFirstThing)
{
    std::thread(
        []
        {
            char name[] = "Vantor";
            char version[] = "--version";
            char* argv[] = {name, version, nullptr};
            testing::internal::CaptureStdout();
            EXPECT_EQ(RunBridgeProgram(2, argv, VantorProgram(), GgaFormat()), 0);
            testing::internal::GetCapturedStdout();
            sigset_t blocked;
            pthread_sigmask(SIG_BLOCK, nullptr, &blocked);
            for (const int signal : {SIGTERM, SIGINT, SIGHUP})
                EXPECT_EQ(sigismember(&blocked, signal), 1) << signal;
        })
        .join();
}

// A mistyped mission file explains everything after it: it comes first.
TEST(VantorProgramTest, MissionFileThatCannotBeReadIsTheFirstLine)
{
    serialtest::ChildProcess bridge({serialtest::Program("Vantor"), "nosuch.moos"},
                                    {"VANTOR_DEVICE=/dev/no-such-sensor"});
    EXPECT_EQ(bridge.Wait(), 1);
    EXPECT_EQ(bridge.Stderr().rfind("Vantor: cannot read mission file nosuch.moos: No such file "
                                    "or directory; running on the defaults\n",
                                    0),
              0u)
        << bridge.Stderr();
}

TEST(VantorProgramTest, DeviceThatCannotBeOpenedEndsWithOneLineAndStatusOne)
{
    bridgetest::ExpectMissingDeviceEndsWithOneLine("Vantor", "VANTOR_DEVICE");
}

TEST(VantorProgramTest, ClosedDeviceEndsTheProgramWithStatusOne)
{
    bridgetest::ExpectHangUpEndsWithStatusOne("Vantor", "VANTOR_DEVICE", "Vantor", kWorkedExample,
                                              "4807.038\n01131.000\nE\nN\n");
}
} // namespace
