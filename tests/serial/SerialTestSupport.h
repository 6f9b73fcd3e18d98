// Helpers shared by the serial and bridge tests: the test toolkit's waits,
// folders and pseudo-terminals under the names these tests know, text
// searches, and a child program whose exit status is a plain number.
#ifndef TESTS_SERIAL_SERIALTESTSUPPORT_H
#define TESTS_SERIAL_SERIALTESTSUPPORT_H

#include "support/Process.h"
#include "support/Terminal.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace serialtest
{
using moostest::DeliverThenHangUp;
using moostest::Program;
using moostest::ReadFile;
using moostest::TempDir;
using moostest::WaitFor;

// The lines of text that contain needle.
inline std::vector<std::string> LinesWith(const std::string& text, const std::string& needle)
{
    std::vector<std::string> found;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.find(needle) != std::string::npos)
            found.push_back(line);
    return found;
}

// The lines of text wider than columns, for usage texts that must fit a
// terminal.
inline std::vector<std::string> LinesWiderThan(const std::string& text, std::size_t columns)
{
    std::vector<std::string> found;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.size() > columns)
            found.push_back(line);
    return found;
}

// A program run with extra environment entries ("NAME=value").
class ChildProcess : public moostest::Process
{
public:
    explicit ChildProcess(const std::vector<std::string>& args,
                          const std::vector<std::string>& extraEnv = {})
        : Process(args, Options{extraEnv, {}})
    {
    }

    std::vector<std::string> LinesWithOnStderr(const std::string& needle) const
    {
        return LinesWith(Stderr(), needle);
    }

    // The exit status, or -1 when the program has not ended within timeout
    // (or ended by a signal).
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(20))
    {
        return WaitExit(timeout).value_or(-1);
    }
};
} // namespace serialtest

#endif
