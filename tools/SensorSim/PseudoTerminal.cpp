#include "PseudoTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace
{
constexpr std::chrono::milliseconds kFinishWait{1000};

std::system_error TerminalError(const std::string& what)
{
    return std::system_error(errno, std::generic_category(), what);
}
} // namespace

PseudoTerminal::PseudoTerminal()
{
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0)
        throw TerminalError("posix_openpt");
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0)
    {
        const std::system_error error = TerminalError("unlocking the pseudo-terminal");
        close();
        throw error;
    }
    char name[128];
    if (::ptsname_r(master, name, sizeof name) != 0 ||
        (slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC)) < 0)
    {
        const std::system_error error = TerminalError("opening the pseudo-terminal's far end");
        close();
        throw error;
    }
    slavePath = name;
    termios raw{};
    if (::tcgetattr(slave, &raw) == 0)
    {
        ::cfmakeraw(&raw);
        ::tcsetattr(slave, TCSANOW, &raw);
    }
}

PseudoTerminal::~PseudoTerminal()
{
    close();
}

void PseudoTerminal::close()
{
    for (int* fd : {&slave, &master})
    {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

PseudoTerminal::WriteResult PseudoTerminal::write(const std::string& bytes,
                                                  std::chrono::milliseconds roomWait)
{
    auto deadline = std::chrono::steady_clock::now() + roomWait;
    std::size_t written = 0;
    while (written < bytes.size())
    {
        const ssize_t n = ::write(master, bytes.data() + written, bytes.size() - written);
        if (n > 0)
        {
            // Once begun, the bytes are finished if at all possible, so that
            // the far end does not get a cut line.
            if (written == 0)
                deadline = std::max(deadline, std::chrono::steady_clock::now() + kFinishWait);
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            throw TerminalError("writing the pseudo-terminal");
        if (!waitForRoom(deadline))
            return written == 0 ? WriteResult::NoRoom : WriteResult::Cut;
    }
    return WriteResult::Written;
}

bool PseudoTerminal::waitForRoom(std::chrono::steady_clock::time_point deadline) const
{
    for (;;)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd out{master, POLLOUT, 0};
        const int ready = ::poll(&out, 1, static_cast<int>(left.count()));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            throw TerminalError("waiting for the pseudo-terminal");
    }
}

std::size_t PseudoTerminal::farEndPending() const
{
    int count = 0;
    if (::ioctl(slave, FIONREAD, &count) != 0)
        throw TerminalError("FIONREAD on the pseudo-terminal");
    return static_cast<std::size_t>(count);
}
