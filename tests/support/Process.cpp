#include "Process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>

extern char** environ;

namespace moostest
{
std::string Program(const std::string& name)
{
    return std::string(MOOS_BIN_DIR) + "/" + name;
}

namespace
{
std::vector<char*> Pointers(const std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    for (const std::string& text : texts)
        pointers.push_back(const_cast<char*>(text.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

std::string NameOf(const std::string& entry)
{
    return entry.substr(0, entry.find('='));
}

// The parent's environment with the entries of extra put in place of those
// of the same names.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& extra)
{
    std::vector<std::string> env(extra);
    for (char** entry = environ; *entry != nullptr; ++entry)
        if (std::none_of(extra.begin(), extra.end(),
                         [&](const std::string& mine) { return NameOf(mine) == NameOf(*entry); }))
            env.emplace_back(*entry);
    return env;
}
} // namespace

Process::Process(const std::vector<std::string>& args, const Options& options,
                 const Outputs& outputs)
    : out(outputs.out.empty() ? dir / "stdout" : outputs.out),
      err(outputs.err.empty() ? dir / "stderr" : outputs.err)
{
    const std::vector<std::string> env = ChildEnvironment(options.env);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    // The test's own sockets (an in-process server's listener) must not live
    // on in the children, or a restarted server could not bind its port.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (!options.cwd.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.cwd.c_str());
    std::vector<char*> argv = Pointers(args);
    std::vector<char*> envp = Pointers(env);
    if (args.empty() ||
        posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
}

Process::~Process()
{
    Stop();
}

std::optional<std::string> Process::LineAt(std::size_t offset, std::chrono::milliseconds timeout)
{
    WaitFor([&] { return Stdout().find('\n', offset) != std::string::npos || !Running(); },
            timeout);
    // Output written just before the end is in the file once it has ended.
    const std::string text = Stdout();
    const std::size_t end = text.find('\n', offset);
    if (end == std::string::npos)
        return std::nullopt;
    return text.substr(offset, end - offset);
}

std::string Process::FirstLine()
{
    return LineAt(0, kMustHappen).value_or("");
}

std::string Process::NextLine(std::chrono::milliseconds timeout)
{
    const std::optional<std::string> line = LineAt(nextLine, timeout);
    nextLine += line ? line->size() + 1 : 0;
    return line.value_or("");
}

bool Process::Running()
{
    if (pid <= 0 || reaped)
        return false;
    int result;
    do
        result = ::waitpid(pid, &status, WNOHANG);
    while (result < 0 && errno == EINTR);
    reaped = result == pid || result < 0;
    return !reaped;
}

std::optional<int> Process::WaitExit(std::chrono::milliseconds timeout)
{
    if (!WaitFor([this] { return !Running(); }, timeout) || !reaped || !WIFEXITED(status))
        return std::nullopt;
    return WEXITSTATUS(status);
}

void Process::Signal(int sig)
{
    if (Running())
        ::kill(pid, sig);
}

void Process::Stop()
{
    Signal(SIGTERM);
    if (!WaitFor([this] { return !Running(); }, std::chrono::seconds(5)))
        Kill();
}

void Process::Kill()
{
    if (!Running())
        return;
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR)
    {
    }
    reaped = true;
}
} // namespace moostest
