#include "BridgeTestSupport.h"
#include "CompassFormat.h"
#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace
{
using bridgetest::Publications;

struct Compass
{
    static BridgeProgram Program() { return DirkelProgram(); }
    static SentenceFormat Format() { return CompassFormat(); }
};

using DirkelTest = bridgetest::BridgeTest<Compass>;

// What the last of a few lines publishes and prints: the heading text of
// the latest compass line, published again after other lines unless
// PublishEveryLine is off, and the line echoed with "poslano".
TEST_F(DirkelTest, CompassLinesPublishTheirTextAndEveryLineIsEchoed)
{
    BridgeSettings quiet;
    quiet.publishEveryLine = false;
    ExpectLinesCases({
        {{},
         {"$C123.4P5.6R-7.8T20.0*2B\r\n"},
         {{"CompassData", "123.4"}},
         "$C123.4P5.6R-7.8T20.0*2B\r\n\nposlano\n"},
        {{}, {":\r\n"}, {{"CompassData", ""}}, {}},
        {{},
         {"$C10.0P1R2\r\n", "$HCHDT,10.0,T*1C\r\n"},
         {{"CompassData", "10.0"}},
         "$HCHDT,10.0,T*1C\r\n\nposlano\n"},
        {quiet, {":\r\n"}, {}, ""},
        {quiet, {":\r\n", "$C1.5P0R0\r\n"}, {{"CompassData", "1.5"}}, "$C1.5P0R0\r\n\nposlano\n"},
    });
}

// The text is what follows "$C" up to the first P, or the whole rest with
// its line end when there is none; other lines leave it as it was.
TEST(CompassLineTextTest, TextEndsAtTheFirstPOrKeepsTheLineEnd)
{
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"$CP1.0R2.0\r\n", ""},
        {"$C1PxP2P3\r\n", "1"},
        {"$C212.4P2.5R-14.0T28.4Mx107977.90My-79422.00Mz173.27*3A\r\n", "212.4"},
        {"$C328.3T22.3*1F\r\n", "328.3T22.3*1F\r\n"},
        {"$C\r\n", "\r\n"},
        {"$c123.4P1\r\n", std::nullopt},
        {"C123.4P1\r\n", std::nullopt},
        {" $C123.4P1\r\n", std::nullopt},
        {"$\r\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [line, text] : cases)
    {
        std::string compassData = "kept";
        EXPECT_EQ(ParseCompassLine(line, compassData), text.has_value()) << line;
        EXPECT_EQ(compassData, text.value_or("kept")) << line;
    }
}

TEST_F(DirkelTest, VerifyChecksumKeepsTheHeadingOfDamagedLines)
{
    BridgeSettings settings;
    settings.verifyChecksum = true;
    Configure(settings);
    Feed("$C328.3P0.2R-18.3T19.0*1F\r\n");
    EXPECT_EQ(app->published, (Publications{{"CompassData", ""}}));
    Feed("$C212.4P2.5R-14.0T28.4Mx107977.90My-79422.00Mz173.27*08\r\n");
    EXPECT_EQ(app->published, (Publications{{"CompassData", "212.4"}}));
    const std::string printed = Feed("$C4480E001\r\n");
    EXPECT_EQ(app->published, (Publications{{"CompassData", "212.4"}}));
    EXPECT_EQ(printed, "$C4480E001\r\n\nposlano\n");
    EXPECT_EQ(app->RejectedLines(), 2u);
}

TEST_F(DirkelTest, HeadingKeepsItsStampThroughDamagedLines)
{
    BridgeSettings settings;
    settings.verifyChecksum = true;
    settings.stampTime = true;
    Configure(settings);
    const std::string damaged = "$C328.3P0.2R-18.3T19.0*1F\r\n";
    bridgetest::ExpectRepublishedValuesKeepTheirStamp(
        *app, {"$C212.4P2.5R-14.0T28.4Mx107977.90My-79422.00Mz173.27*08\r\n"},
        std::vector<std::string>(20, damaged));
}

TEST_F(DirkelTest, FailedReadIsRecordedAndEndsTheLoop)
{
    ExpectFailedReadEndsTheLoop();
}

TEST(DirkelCommandLineTest, DefaultProcessNameIsCompass)
{
    const char* argv[] = {"Dirkel", "c.moos", "Compass2", "extra"};
    EXPECT_EQ(bridgetest::Picked(DirkelProgram(), 1, argv), "Mission.moos|Compass");
    EXPECT_EQ(bridgetest::Picked(DirkelProgram(), 2, argv), "c.moos|Compass");
    EXPECT_EQ(bridgetest::Picked(DirkelProgram(), 3, argv), "c.moos|Compass2");
    EXPECT_EQ(bridgetest::Picked(DirkelProgram(), 4, argv), "Mission.moos|Compass");
}

TEST(DirkelProgramTest, DeviceThatCannotBeOpenedEndsWithOneLineAndStatusOne)
{
    bridgetest::ExpectMissingDeviceEndsWithOneLine("Dirkel", "DIRKEL_DEVICE");
}

TEST(DirkelProgramTest, ClosedDeviceEndsTheProgramWithStatusOne)
{
    bridgetest::ExpectHangUpEndsWithStatusOne("Dirkel", "DIRKEL_DEVICE", "Compass", "$C1.5P0R0\r\n",
                                              "$C1.5P0R0\r\n\nposlano\n");
}

// The compass's numbers: a bridge built from the format with the compass's
// settings, its publications recorded with their stamps.
class CompassNumbersTest : public ::testing::Test
{
protected:
    struct Stamped
    {
        std::string name, value;
        double time;
    };

    void Start(const CompassSettings& compass, BridgeSettings settings = {})
    {
        app.reset();
        settings.serialPort = pty.farEndPath();
        const auto record = [this](const SentenceValue& value, double time) {
            stamped.push_back({value.name, value.text, time});
        };
        app = std::make_unique<CSimulator>(DirkelProgram(), CompassFormat(compass), settings,
                                           BridgeSeams{record, {}, {}});
    }

    static CompassSettings Numeric()
    {
        CompassSettings compass;
        compass.numeric = true;
        return compass;
    }

    // What handling line published, stamps left out.
    Publications Handle(const std::string& line)
    {
        stamped.clear();
        testing::internal::CaptureStdout();
        app->HandleLine(line);
        testing::internal::GetCapturedStdout();
        return Published();
    }

    Publications Published() const
    {
        Publications published;
        for (const Stamped& value : stamped)
            published.emplace_back(value.name, value.value);
        return published;
    }

    // What mail on name published; trace gets the standard error.
    Publications Mail(const std::string& name, std::string* trace = nullptr)
    {
        stamped.clear();
        MOOSMSG_LIST mail{CMOOSMsg(MOOS_NOTIFY, name, "1")};
        testing::internal::CaptureStderr();
        EXPECT_TRUE(app->OnNewMail(mail));
        const std::string error = testing::internal::GetCapturedStderr();
        if (trace)
            *trace = error;
        return Published();
    }

    PseudoTerminal pty;
    std::vector<Stamped> stamped;
    std::unique_ptr<CSimulator> app;
};

TEST_F(CompassNumbersTest, EachLineGivesExactlyTheNumbersItCarriesWhole)
{
    const struct
    {
        std::string line;
        Publications numbers; // after CompassData
    } cases[] = {
        // The factory default's line (the other lines' decoding, field by
        // field, is pinned where the fields are decoded).
        {"$C320.5P0.2R-18.3T19.0*3C\r\n",
         {{"COMPASS_HEADING", "320.5"},
          {"COMPASS_PITCH", "0.2"},
          {"COMPASS_ROLL", "-18.3"},
          {"COMPASS_TEMPERATURE", "19"}}},
        // A bad field leaves the others; a cut line gives no number.
        {"$C400.0P1.0R--2.0T3,5\r\n", {{"COMPASS_PITCH", "1"}}},
        {"$C320.5P0.2R-1", {}},
    };
    for (const auto& c : cases)
    {
        Start(Numeric());
        std::string text;
        ParseCompassLine(c.line, text);
        Publications expected{{"CompassData", text}};
        expected.insert(expected.end(), c.numbers.begin(), c.numbers.end());
        EXPECT_EQ(Handle(c.line), expected) << c.line;
    }
}

// A controller must not steer by an attitude the compass stopped sending:
// a number the latest compass line did not give is not repeated.
TEST_F(CompassNumbersTest, NumbersOnlyWhileTheLatestCompassLineCarriesThem)
{
    Start(Numeric());
    Handle("$C320.5P0.2R-18.3T19.0*3C\r\n");
    EXPECT_EQ(Handle("$C10.0T5.0*23\r\n"), (Publications{{"CompassData", "10.0T5.0*23\r\n"},
                                                         {"COMPASS_HEADING", "10"},
                                                         {"COMPASS_TEMPERATURE", "5"}}));
    // Another sentence repeats what the latest compass line gave.
    EXPECT_EQ(Handle(":\r\n"), (Publications{{"CompassData", "10.0T5.0*23\r\n"},
                                             {"COMPASS_HEADING", "10"},
                                             {"COMPASS_TEMPERATURE", "5"}}));
    EXPECT_EQ(Handle("$C11.0P1"), (Publications{{"CompassData", "11.0"}}));
}

TEST_F(CompassNumbersTest, OffsetAndDeclinationTurnEveryHeadingPublished)
{
    const struct
    {
        double offset;
        std::optional<double> declination;
        std::string line;
        Publications headings;
    } cases[] = {
        {0.2, std::nullopt, "$C359.9P1.0R2.0T3.0*13\r\n", {{"AFT_HEADING", "0.1"}}},
        {-90.0,
         -2.5,
         "$C320.5P0.2R-18.3T19.0*3C\r\n",
         {{"AFT_HEADING", "230.5"}, {"AFT_HEADING_TRUE", "228"}}},
    };
    for (const auto& c : cases)
    {
        CompassSettings compass = Numeric();
        compass.variablePrefix = "AFT";
        compass.headingOffset = c.offset;
        compass.magneticDeclination = c.declination;
        compass.publishText = false;
        Start(compass);
        Publications headings = Handle(c.line);
        headings.erase(std::remove_if(headings.begin(), headings.end(),
                                      [](const auto& p)
                                      { return p.first.rfind("AFT_HEADING", 0) != 0; }),
                       headings.end());
        EXPECT_EQ(headings, c.headings) << c.line;
        EXPECT_EQ(Handle("\r\n").front().first, c.headings.front().first) << "no CompassData";
    }
}

TEST_F(CompassNumbersTest, VerifyChecksumKeepsTheNumbersOfDamagedLines)
{
    BridgeSettings settings;
    settings.verifyChecksum = true;
    Start(Numeric(), settings);
    EXPECT_EQ(Handle("$C320.5P0.2R-18.3T19.0*3D\r\n"), (Publications{{"CompassData", ""}}));
    EXPECT_EQ(Handle("$C175.2P1.8R47.9T29.6D0.00\r\n"), (Publications{{"CompassData", ""}}));
    EXPECT_EQ(Handle("$C10.0T5.0*23\r\n").size(), 3u);
}

TEST_F(CompassNumbersTest, RequestsAreAnsweredWithTheLatestReadingWhenAsked)
{
    Start(Numeric());
    Handle("$C10.0T5.0*23\r\n");
    EXPECT_TRUE(Mail("GetCompassData").empty()) << "ignored without AnswerRequests";

    CompassSettings compass = Numeric();
    compass.answerRequests = true;
    Start(compass);
    std::string trace;
    EXPECT_TRUE(Mail("GetCompassData", &trace).empty());
    EXPECT_NE(trace.find("Dirkel: GetCompassData asked for a reading before the compass gave one"),
              std::string::npos)
        << trace;
    Handle(":\r\n");
    EXPECT_TRUE(Mail("GetCompassData").empty()) << "no compass line yet";

    Handle("$C320.5P0.2R-18.3T19.0*3C\r\n");
    Handle("$C10.0T5.0*23\r\n");
    const double readTime = app->Held().Find("COMPASS_HEADING")->readTime;
    Handle(":\r\n");
    EXPECT_EQ(Mail("GetCompassData"), (Publications{{"CompassData", "10.0T5.0*23\r\n"},
                                                    {"COMPASS_HEADING", "10"},
                                                    {"COMPASS_TEMPERATURE", "5"}}));
    for (const Stamped& value : stamped)
        EXPECT_EQ(value.time, readTime) << value.name;
    EXPECT_GT(readTime, 0.0);
    EXPECT_TRUE(Mail("OtherMail").empty());
}

class CompassSettingsTest : public ::testing::Test
{
protected:
    CompassSettingsRead Read(const std::string& entries)
    {
        std::ofstream(Mission()) << "ProcessConfig = Compass\n{\n" << entries << "}\n";
        return ReadCompassSettings(Mission(), "Compass");
    }
    std::string Mission() const { return (dir.Path() / "m.moos").string(); }

    serialtest::TempDir dir;
};

TEST_F(CompassSettingsTest, KeysAreReadAndUnusableValuesNamed)
{
    const CompassSettingsRead none = Read("");
    EXPECT_FALSE(none.settings.numeric || none.settings.answerRequests);
    EXPECT_TRUE(none.settings.publishText);
    EXPECT_EQ(none.settings.variablePrefix, "COMPASS");
    EXPECT_FALSE(none.settings.magneticDeclination);

    const CompassSettingsRead all =
        Read("numeric = true\nVariablePrefix = AFT\nHeadingOffset = -2.5\n"
             "MagneticDeclination = 0\nPublishText = false\nAnswerRequests = TRUE\n");
    EXPECT_EQ(all.error, "");
    EXPECT_TRUE(all.settings.numeric && all.settings.answerRequests);
    EXPECT_FALSE(all.settings.publishText);
    EXPECT_EQ(all.settings.variablePrefix, "AFT");
    EXPECT_EQ(all.settings.headingOffset, -2.5);
    EXPECT_EQ(all.settings.magneticDeclination, 0.0);

    for (const char* bad : {"HeadingOffset = 1,5", "HeadingOffset = 361", "HeadingOffset = nan",
                            "HeadingOffset = 1e2", "MagneticDeclination = -180.5",
                            "MagneticDeclination = east", "VariablePrefix = A=B"})
        EXPECT_EQ(Read(std::string(bad) + "\n").error.rfind(std::string(bad) + " cannot be used: "),
                  0u)
            << bad;
}

TEST_F(CompassSettingsTest, CompassKeysAreNeitherWarnedAboutNorMissingFromTheUsage)
{
    std::ofstream(Mission()) << "ProcessConfig = Compass\n{\n  Numeric = true\n}\n";
    const SettingsRead read = ReadBridgeSettings(Mission(), "Compass", DirkelProgram());
    for (const std::string& key : CompassKeys())
    {
        std::string upper = key;
        MOOSToUpper(upper);
        EXPECT_EQ(read.keysRead.count(upper), 1u) << key;
        EXPECT_NE(UsageText(DirkelProgram()).find("  " + key), std::string::npos) << key;
    }
}

// Numeric, PublishText and VariablePrefix mean the same to both bridges: one
// rule for a prefix, and a warning for a flag the block's rule misreads.
TEST_F(CompassSettingsTest, SharedKeysFollowOneRuleInBothBridges)
{
    const BridgeProgram gps{"Vantor", "Vantor", "VANTOR_DEVICE", "a GPS receiver", true};
    const std::string notFlag = " is neither true nor false nor a number; read as false";
    const std::string notName = " cannot be used: give letters, digits and underscores";
    const struct
    {
        std::string entry;
        std::string said; // the error, then each warning without "<program>: "
    } cases[] = {{"VariablePrefix = AFT-2", "VariablePrefix = AFT-2" + notName},
                 {"VariablePrefix = AFT.2", "VariablePrefix = AFT.2" + notName},
                 {"Numeric = yes", "warning: Numeric = yes" + notFlag},
                 {"PublishText = on", "warning: PublishText = on" + notFlag},
                 {"VariablePrefix = Aft_2", ""}};
    const auto said =
        [](const std::string& program, std::string text, const std::vector<std::string>& warnings)
    {
        for (const std::string& warning : warnings)
            text += warning.rfind(program + ": ", 0) == 0 ? warning.substr(program.size() + 2)
                                                          : "(unnamed) " + warning;
        return text;
    };
    for (const auto& c : cases)
    {
        const CompassSettingsRead compass = Read(c.entry + "\n");
        const SettingsRead vantor = ReadBridgeSettings(Mission(), "Compass", gps);
        EXPECT_EQ(said("Dirkel", compass.error, compass.warnings), c.said);
        EXPECT_EQ(said("Vantor", vantor.error, vantor.warnings), c.said);
    }
}
} // namespace
