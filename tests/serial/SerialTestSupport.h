// Helpers shared by the serial and bridge tests: bounded waits and a child
// process whose standard output and error go to files in a temporary folder.
#ifndef TESTS_SERIAL_SERIALTESTSUPPORT_H
#define TESTS_SERIAL_SERIALTESTSUPPORT_H

#include "PseudoTerminal.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace serialtest
{
// Polls done until it holds or timeout passes; returns its last answer.
inline bool WaitFor(const std::function<bool()>& done,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    const auto giveUp = std::chrono::steady_clock::now() + timeout;
    while (!done())
    {
        if (std::chrono::steady_clock::now() > giveUp)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

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

// A temporary folder, removed with everything in it.
class TempDir
{
public:
    TempDir()
    {
        char pattern[] = "/tmp/serialtest-XXXXXX";
        path = ::mkdtemp(pattern);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path; }

private:
    std::filesystem::path path;
};

// A program run with extra environment entries ("NAME=value"), standard
// input from /dev/null. Killed and reaped by the destructor if still running.
class ChildProcess
{
public:
    ChildProcess(const std::vector<std::string>& args,
                 const std::vector<std::string>& extraEnv = {})
    {
        std::vector<std::string> env(extraEnv);
        for (char** entry = environ; *entry != nullptr; ++entry)
            env.emplace_back(*entry);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, OutPath().c_str(), O_WRONLY | O_CREAT, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, ErrPath().c_str(), O_WRONLY | O_CREAT, 0600);
        std::vector<char*> argv = Pointers(args);
        std::vector<char*> envp = Pointers(env);
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess()
    {
        if (pid > 0 && !exited)
        {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid > 0; }
    std::string Stdout() const { return ReadFile(OutPath()); }
    std::string Stderr() const { return ReadFile(ErrPath()); }

    // The first line of standard output, without its newline, once written.
    std::string FirstLine() const
    {
        WaitFor([this] { return Stdout().find('\n') != std::string::npos; });
        const std::string out = Stdout();
        return out.substr(0, out.find('\n'));
    }

    std::vector<std::string> LinesWithOnStderr(const std::string& needle) const
    {
        return LinesWith(Stderr(), needle);
    }

    void Signal(int sig) { ::kill(pid, sig); }

    // The exit status, or -1 when the program has not ended within timeout
    // (or ended by a signal).
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(20))
    {
        WaitFor(
            [this]
            {
                if (!exited)
                    exited = ::waitpid(pid, &status, WNOHANG) == pid;
                return exited;
            },
            timeout);
        return exited && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    static std::vector<char*> Pointers(const std::vector<std::string>& texts)
    {
        std::vector<char*> pointers;
        for (const std::string& text : texts)
            pointers.push_back(const_cast<char*>(text.c_str()));
        pointers.push_back(nullptr);
        return pointers;
    }
    std::string OutPath() const { return (dir.Path() / "stdout").string(); }
    std::string ErrPath() const { return (dir.Path() / "stderr").string(); }

    TempDir dir;
    pid_t pid = -1;
    bool exited = false;
    int status = 0;
};

// Writes bytes, waits until the reader has taken them (nothing waiting for
// 100 ms on end, as the kernel hands bytes over a little later) and closes.
inline bool DeliverThenHangUp(PseudoTerminal& pty, const std::string& bytes)
{
    if (pty.write(bytes, std::chrono::seconds(5)) != PseudoTerminal::WriteResult::Written)
        return false;
    auto emptySince = std::chrono::steady_clock::now();
    const bool taken = WaitFor(
        [&]
        {
            const auto now = std::chrono::steady_clock::now();
            if (pty.farEndPending() != 0)
                emptySince = now;
            return now - emptySince > std::chrono::milliseconds(100);
        });
    pty.close();
    return taken;
}

inline std::string Program(const std::string& name)
{
    return std::string(MOOS_BIN_DIR) + "/" + name;
}

} // namespace serialtest

#endif
