// A program run as a child process of the test. Its standard input is
// /dev/null; its standard output and error go to files of the object's own,
// or to paths the test names (a file, a named pipe, /dev/null). It inherits
// no other descriptor of the test, so an in-process server's listener does
// not live on in it.
//
// The object owns the child: the destructor stops one that still runs
// (SIGTERM, then SIGKILL after a few seconds) and reaps it, so no test
// leaves a process behind on any path. Every wait is bounded. Threads: one
// at a time.
#ifndef TESTS_SUPPORT_PROCESS_H
#define TESTS_SUPPORT_PROCESS_H

#include "Files.h"
#include "WaitFor.h"

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace moostest
{
// The path of a program built beside the tests.
std::string Program(const std::string& name);

class Process
{
public:
    struct Options
    {
        // "NAME=value" entries; they replace the parent's entries of the same
        // names, the rest of the parent's environment is passed on.
        std::vector<std::string> env;
        // Working folder of the child; empty for the test's own.
        std::filesystem::path cwd;
    };
    // Where standard output and error go; empty for a file of the object's
    // own.
    struct Outputs
    {
        std::filesystem::path out;
        std::filesystem::path err;
    };

    // args[0] is the program's path. A child that cannot be started has
    // ended at once: Started() is false.
    explicit Process(const std::vector<std::string>& args, const Options& options = {},
                     const Outputs& outputs = {});
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool Started() const { return pid > 0; }
    pid_t Pid() const { return pid; }
    std::string Stdout() const { return ReadFile(out); }
    std::string Stderr() const { return ReadFile(err); }
    // The first line of standard output without its newline, once written;
    // empty when none came within the bound or the program ended first.
    std::string FirstLine();
    // The line of standard output after the one NextLine answered last (the
    // first line at first call), without its newline, once complete; empty
    // when none came within timeout or the program ended without it.
    std::string NextLine(std::chrono::milliseconds timeout = kMustHappen);

    // Whether the program still runs (reaps it when it has ended).
    bool Running();
    // The exit status once the program has ended by itself within timeout;
    // nothing when it still runs or was ended by a signal.
    std::optional<int> WaitExit(std::chrono::milliseconds timeout = kMustHappen);
    // Sends sig to a child that still runs.
    void Signal(int sig);
    // Stops the program (SIGTERM, then SIGKILL) and reaps it.
    void Stop();
    // Kills the program at once (SIGKILL) and reaps it.
    void Kill();

private:
    // The line of standard output that starts at offset, once complete.
    std::optional<std::string> LineAt(std::size_t offset, std::chrono::milliseconds timeout);

    TempDir dir;
    std::filesystem::path out;
    std::filesystem::path err;
    pid_t pid = -1;
    bool reaped = false;
    int status = 0;
    std::size_t nextLine = 0;
};
} // namespace moostest

#endif // TESTS_SUPPORT_PROCESS_H
