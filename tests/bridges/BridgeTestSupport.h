// Helpers shared by the tests of both bridge programs.
#ifndef TESTS_BRIDGES_BRIDGETESTSUPPORT_H
#define TESTS_BRIDGES_BRIDGETESTSUPPORT_H

#include "PseudoTerminal.h"
#include "SerialTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace bridgetest
{
using Publications = std::vector<std::pair<std::string, std::string>>;

// A bridge application with its publications recorded instead of posted.
template <typename App> class Recording : public App
{
public:
    using App::App;
    Publications published;
    bool QuitWasRequested() const { return this->quitRequested; }

protected:
    void Publish(const std::string& name, const std::string& value) override
    {
        published.emplace_back(name, value);
    }
};

// A bridge application reading a pseudo-terminal.
template <typename App> class BridgeTest : public ::testing::Test
{
protected:
    // Sends line over the device and runs one Iterate; returns what it
    // printed on standard output.
    std::string Feed(const std::string& line)
    {
        EXPECT_EQ(pty.write(line, std::chrono::seconds(5)), PseudoTerminal::WriteResult::Written);
        app.published.clear();
        testing::internal::CaptureStdout();
        EXPECT_TRUE(app.Iterate());
        return testing::internal::GetCapturedStdout();
    }

    // A read that fails is recorded, ends the loop and publishes nothing.
    void ExpectFailedReadEndsTheLoop()
    {
        pty.close();
        EXPECT_TRUE(app.Iterate());
        EXPECT_FALSE(app.ReadError().empty());
        EXPECT_TRUE(app.QuitWasRequested());
        EXPECT_TRUE(app.published.empty());
    }

    PseudoTerminal pty;
    Recording<App> app{pty.farEndPath()};
};

// "<mission file>|<process name>" as picked from the first argc arguments.
template <typename Parse> std::string Picked(Parse parse, int argc, const char* const argv[])
{
    const auto line = parse(argc, argv);
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
    const auto lines = bridge.LinesWithOnStderr(program + ":");
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
