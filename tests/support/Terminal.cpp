#include "Terminal.h"

#include "WaitFor.h"

#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace moostest
{
bool DeliverThenHangUp(PseudoTerminal& pty, const std::string& bytes)
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

TerminalStream::TerminalStream(int fd) : fd(fd)
{
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        return;
    std::fflush(nullptr);
    saved = ::dup(fd);
    if (saved < 0 || ::dup2(slave, fd) < 0)
        return;
    if (fd == STDIN_FILENO)
        std::clearerr(stdin);
    collector = std::thread([this] { Collect(); });
}

TerminalStream::~TerminalStream()
{
    Restore();
}

std::string TerminalStream::Restore()
{
    if (saved >= 0)
    {
        std::fflush(nullptr);
        ::dup2(saved, fd);
        ::close(saved);
        saved = -1;
        if (fd == STDIN_FILENO)
            std::clearerr(stdin);
    }
    ::close(slave);
    slave = -1;
    restoring = true;
    if (collector.joinable())
        collector.join();
    ::close(master);
    master = -1;
    return screen;
}

// Reads the near end until every far end is closed (the read fails then,
// after the last bytes); a far end that something else still holds is given
// up a few seconds after Restore.
void TerminalStream::Collect()
{
    char buffer[4096];
    for (int idleAfterRestore = 0; idleAfterRestore < 100;)
    {
        pollfd entry{master, POLLIN, 0};
        const int ready = ::poll(&entry, 1, 50);
        if (ready == 0)
            idleAfterRestore += restoring ? 1 : 0;
        const ssize_t got = ready <= 0 ? -1 : ::read(master, buffer, sizeof(buffer));
        if (got > 0)
            screen.append(buffer, static_cast<std::size_t>(got));
        else if (ready != 0 && (got == 0 || errno != EINTR))
            return;
    }
}
} // namespace moostest
