// Helpers shared by the tests of both bridge programs.
#ifndef TESTS_BRIDGES_BRIDGETESTSUPPORT_H
#define TESTS_BRIDGES_BRIDGETESTSUPPORT_H

#include "../app/AppFields.h"
#include "BridgeMain.h"
#include "PseudoTerminal.h"
#include "SerialBridge.h"
#include "SerialTestSupport.h"

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace bridgetest
{
using Publications = std::vector<std::pair<std::string, std::string>>;

// Lines fed, one after the other, to an application built afresh with
// settings: what the last of them publishes and, when given, prints.
struct LinesCase
{
    BridgeSettings settings;
    std::vector<std::string> lines;
    Publications published;
    std::optional<std::string> printed;
};

// Held before the application, which publishes into it.
struct RecordedPublications
{
    Publications published;
    std::vector<double> stamps; // the time of each publication
};

// A bridge application with its publications recorded instead of posted.
class Recording : public RecordedPublications, public CSimulator
{
public:
    Recording(const BridgeProgram& program, const SentenceFormat& format,
              const BridgeSettings& settings)
        : CSimulator(program, format, settings,
                     BridgeSeams{[this](const SentenceValue& value, double time)
                                 {
                                     published.emplace_back(value.name, value.text);
                                     stamps.push_back(time);
                                 },
                                 {},
                                 {}})
    {
    }
    bool QuitWasRequested() const { return QuitRequested(); }
    // The application error the status record carries; empty when none.
    std::string AppError() const { return CMOOSAppTestAccess::AppError(*this); }
};

// A bridge application of Sensor (its static Program() and Format()) reading
// a pseudo-terminal, with default settings until a test configures it.
template <typename Sensor> class BridgeTest : public ::testing::Test
{
protected:
    // Builds the application again with settings, its device the
    // pseudo-terminal's far end or a path to it.
    void Configure(BridgeSettings settings, const std::string& device = "")
    {
        app.reset(); // lets go of the device first
        settings.serialPort = device.empty() ? pty.farEndPath() : device;
        app = Make(settings);
    }

    static std::unique_ptr<Recording> Make(const BridgeSettings& settings)
    {
        return std::make_unique<Recording>(Sensor::Program(), Sensor::Format(), settings);
    }

    // Sends line over the device and runs one Iterate; returns what it
    // printed on standard output.
    std::string Feed(const std::string& line)
    {
        EXPECT_EQ(pty.write(line, std::chrono::seconds(5)), PseudoTerminal::WriteResult::Written);
        app->published.clear();
        testing::internal::CaptureStdout();
        EXPECT_TRUE(app->Iterate());
        return testing::internal::GetCapturedStdout();
    }

    void ExpectLinesCases(const std::vector<LinesCase>& cases)
    {
        for (const LinesCase& c : cases)
        {
            SCOPED_TRACE(c.lines.back());
            Configure(c.settings);
            std::string printed;
            for (const std::string& line : c.lines)
                printed = Feed(line);
            EXPECT_EQ(app->published, c.published);
            if (c.printed)
            {
                EXPECT_EQ(printed, *c.printed);
            }
        }
    }

    // A read that fails is recorded, ends the loop and publishes nothing.
    void ExpectFailedReadEndsTheLoop()
    {
        pty.close();
        EXPECT_TRUE(app->Iterate());
        EXPECT_FALSE(app->ReadError().empty());
        EXPECT_TRUE(app->QuitWasRequested());
        EXPECT_TRUE(app->published.empty());
    }

    PseudoTerminal pty;
    std::unique_ptr<Recording> app = Make(DefaultSettingsFor(pty.farEndPath()));
};

// Feeds every CR LF-terminated line of in to the application's line handler
// and returns "<number of publications> <FNV-1a of every name and value>":
// a short pin of everything a capture publishes, in order.
inline std::string DigestOfFeeding(Recording& app, std::istream& in)
{
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    app.published.clear();
    testing::internal::CaptureStdout();
    for (std::size_t start = 0; start < text.size();)
    {
        const std::size_t end = text.find("\r\n", start);
        const std::size_t next = end == std::string::npos ? text.size() : end + 2;
        app.HandleLine(text.substr(start, next - start));
        start = next;
    }
    testing::internal::GetCapturedStdout();
    std::uint64_t hash = 14695981039346656037ull;
    for (const auto& [name, value] : app.published)
        for (const std::string* part : {&name, &value})
            for (const char c : *part + '\0')
                hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return std::to_string(app.published.size()) + " " + std::to_string(hash);
}

// With StampTime, the lines of fresh each give values and those of stale
// none: everything published after the last fresh line, again and again,
// keeps that line's stamp, however much later it goes out.
inline void ExpectRepublishedValuesKeepTheirStamp(Recording& app,
                                                  const std::vector<std::string>& fresh,
                                                  const std::vector<std::string>& stale)
{
    // Each line read at a later MOOS time than the one before.
    const auto handleLater = [&app](const std::string& line)
    {
        const double before = MOOSTime();
        EXPECT_TRUE(serialtest::WaitFor([&] { return MOOSTime() > before; }));
        app.HandleLine(line);
    };
    testing::internal::CaptureStdout();
    for (const std::string& line : fresh)
        handleLater(line);
    EXPECT_FALSE(app.stamps.empty());
    const double stamp = app.stamps.empty() ? 0.0 : app.stamps.back();
    EXPECT_GT(stamp, 0.0);
    app.stamps.clear();
    for (const std::string& line : stale)
        handleLater(line);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(app.stamps, std::vector<double>(app.stamps.size(), stamp));
    EXPECT_GE(app.stamps.size(), stale.size());
}

// "<mission file>|<process name>" as picked from the first argc arguments.
inline std::string Picked(const BridgeProgram& program, int argc, const char* const argv[])
{
    const CommandLine line = ParseCommandLine(argc, argv, program.defaultProcess);
    return line.missionFile + "|" + line.moosName;
}

// The program, told by variable to read a device that does not exist, ends
// with status 1 and one line naming the device, the reason and the variable.
inline void ExpectMissingDeviceEndsWithOneLine(const std::string& program,
                                               const std::string& variable)
{
    serialtest::ChildProcess bridge({serialtest::Program(program)},
                                    {variable + "=/dev/no-such-sensor"});
    EXPECT_EQ(bridge.Wait(), 1);
    const auto lines = bridge.LinesWithOnStderr(program + ": cannot open");
    ASSERT_EQ(lines.size(), 1u) << bridge.Stderr();
    EXPECT_NE(lines[0].find("/dev/no-such-sensor: No such file or directory"), std::string::npos);
    EXPECT_NE(lines[0].find(variable), std::string::npos);
}

// Runs the program without comms (block names its mission file block) on a
// pseudo-terminal, hands it line, hangs the device up and checks that it
// echoed echo and ended with status 1 and one line about the lost device.
inline void ExpectHangUpEndsWithStatusOne(const std::string& program, const std::string& variable,
                                          const std::string& block, const std::string& line,
                                          const std::string& echo)
{
    serialtest::TempDir dir;
    const std::string mission = (dir.Path() / "m.moos").string();
    std::ofstream(mission) << "ProcessConfig = " << block << "\n{\n  UseMOOSComms = false\n}\n";
    PseudoTerminal pty;
    serialtest::ChildProcess bridge({serialtest::Program(program), mission},
                                    {variable + "=" + pty.farEndPath()});
    ASSERT_TRUE(
        serialtest::WaitFor([&] { return !bridge.LinesWithOnStderr("is Running").empty(); }));
    ASSERT_TRUE(serialtest::DeliverThenHangUp(pty, line));
    EXPECT_EQ(bridge.Wait(), 1);
    EXPECT_EQ(bridge.Stdout(), echo);
    EXPECT_EQ(bridge.LinesWithOnStderr(program + ": lost the serial device").size(), 1u)
        << bridge.Stderr();
}
} // namespace bridgetest

#endif
