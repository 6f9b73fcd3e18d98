#include "SimpleSerial.h"

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace
{
const char kLineEnd[] = "\r\n";
// One read takes at most this much.
constexpr std::size_t kReadChunk = 4096;

using SystemError = boost::system::system_error;

SystemError ErrnoError(int error, const std::string& what)
{
    return SystemError(boost::system::error_code(error, boost::system::system_category()), what);
}

bool Interrupted(const boost::system::error_code& ec)
{
    return ec == boost::asio::error::interrupted;
}

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// Milliseconds for poll until deadline, rounded up; -1 waits for ever.
int PollTimeout(std::chrono::steady_clock::time_point deadline)
{
    if (deadline == std::chrono::steady_clock::time_point::max())
        return -1;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX));
}
} // namespace

SimpleSerial::SimpleSerial(std::string port, unsigned int baud_rate)
    : io(), serial(io), device(std::move(port)), baud(baud_rate)
{
    open();
}

SimpleSerial::SimpleSerial(std::string port, unsigned int baud_rate, SerialDeferredOpen)
    : io(), serial(io), device(std::move(port)), baud(baud_rate)
{
    tryOpen();
}

bool SimpleSerial::isOpen() const
{
    return serial.is_open();
}

void SimpleSerial::open()
{
    // A second descriptor would find the device locked, by this very object.
    if (isOpen())
        throw SystemError(boost::asio::error::already_open, "opening " + device);
    try
    {
        openAndLock();
        configure();
    }
    catch (const SystemError& e)
    {
        boost::system::error_code ignored;
        serial.close(ignored);
        lastOpenError = e.code();
        throw;
    }
    lastOpenError.clear();
    deviceError.clear();
    lastCallEnd = Clock::now();
    usualAway = Clock::duration::zero();
}

bool SimpleSerial::tryOpen()
{
    try
    {
        open();
        return true;
    }
    catch (const SystemError&)
    {
        return false;
    }
}

void SimpleSerial::close()
{
    boost::system::error_code ignored;
    serial.close(ignored);
    partial.clear();
    discardingRun = false;
    deviceError.clear();
}

void SimpleSerial::openAndLock()
{
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw ErrnoError(errno, "opening " + device);
    // The lock comes before any setting, so a second reader changes nothing
    // on a device that another process reads.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
    {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            throw SystemError(
                boost::system::errc::make_error_code(boost::system::errc::device_or_resource_busy),
                "locking " + device);
        throw ErrnoError(error, "locking " + device);
    }
    boost::system::error_code ec;
    serial.assign(fd, ec);
    if (ec)
    {
        ::close(fd);
        throw SystemError(ec, "opening " + device);
    }
}

void SimpleSerial::configure()
{
    using boost::asio::serial_port_base;
    termios settings{};
    const int fd = serial.native_handle();
    if (::tcgetattr(fd, &settings) != 0)
        throw ErrnoError(errno, "configuring " + device);
    ::cfmakeraw(&settings);
    settings.c_iflag |= IGNPAR;
    settings.c_cflag |= CREAD | CLOCAL;
    if (::tcsetattr(fd, TCSANOW, &settings) != 0)
        throw ErrnoError(errno, "configuring " + device);
    serial.set_option(serial_port_base::baud_rate(baud));
    serial.set_option(serial_port_base::flow_control(serial_port_base::flow_control::none));
    serial.set_option(serial_port_base::parity(serial_port_base::parity::none));
    serial.set_option(serial_port_base::stop_bits(serial_port_base::stop_bits::one));
    serial.set_option(serial_port_base::character_size(8));
}

void SimpleSerial::writeString(std::string s)
{
    std::size_t written = 0;
    while (written < s.size())
    {
        boost::system::error_code ec;
        written +=
            serial.write_some(boost::asio::buffer(s.data() + written, s.size() - written), ec);
        if (ec && !Interrupted(ec))
            throw SystemError(ec, "writing " + device);
    }
}

std::string SimpleSerial::readString()
{
    std::string line;
    readLineUntil(line, Clock::time_point::max());
    return line;
}

bool SimpleSerial::readLine(std::string& line, std::chrono::milliseconds timeout)
{
    const Clock::time_point now = Clock::now();
    const bool endless = timeout >= std::chrono::duration_cast<std::chrono::milliseconds>(
                                        Clock::time_point::max() - now);
    return readLineUntil(line, endless ? Clock::time_point::max() : now + timeout);
}

bool SimpleSerial::readLineUntil(std::string& line, Clock::time_point deadline)
{
    // Whatever way the call ends, the next one measures the absence from here.
    struct StampEnd
    {
        Clock::time_point& at;
        ~StampEnd() { at = Clock::now(); }
    } stampEnd{lastCallEnd};

    const Clock::duration away = Clock::now() - lastCallEnd;
    // Far longer away than usual (the loop was held up, or did not read while
    // its server was away): what waits may have waited the whole absence.
    absent = away > kMaxLineAge && away > 2 * usualAway;
    usualAway = std::max(away, usualAway / 2);
    awayFor = away;
    if (absent)
        drainDevice(lastCallEnd);
    for (;;)
    {
        drainDevice(std::nullopt);
        dropStaleLines(Clock::now());
        reportDrops();
        absent = false;
        if (takeLine(line))
            return true;
        if (deviceError)
            throw SystemError(deviceError, "reading " + device);
        if (!isOpen())
            throw SystemError(
                boost::system::errc::make_error_code(boost::system::errc::bad_file_descriptor),
                "reading " + device + " while it is closed");
        reportCatchUp();
        if (!waitReadable(deadline))
            return false;
    }
}

void SimpleSerial::drainDevice(std::optional<Clock::time_point> arrived)
{
    if (!isOpen() || deviceError)
        return;
    char chunk[kReadChunk];
    // Bounded, so that a device sending without pause cannot hold the call.
    for (std::size_t total = 0; total < kMaxPendingBytes;)
    {
        const ssize_t got = ::read(serial.native_handle(), chunk, sizeof chunk);
        if (got > 0)
        {
            absorb(chunk, static_cast<std::size_t>(got), arrived.value_or(Clock::now()));
            total += static_cast<std::size_t>(got);
        }
        else if (got < 0 && errno == EINTR)
            continue;
        else if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        else
        {
            deviceError = got == 0
                              ? boost::asio::error::eof
                              : boost::system::error_code(errno, boost::system::system_category());
            return;
        }
    }
}

bool SimpleSerial::waitReadable(Clock::time_point deadline)
{
    for (;;)
    {
        if (Clock::now() >= deadline)
            return false;
        pollfd watched{serial.native_handle(), POLLIN, 0};
        const int ready = ::poll(&watched, 1, PollTimeout(deadline));
        if (ready < 0 && errno != EINTR)
        {
            deviceError = boost::system::error_code(errno, boost::system::system_category());
            return true;
        }
        if (ready <= 0)
            continue;
        // A hang-up without bytes would wake every poll at once: report it.
        if ((watched.revents & POLLIN) == 0)
            deviceError = boost::asio::error::eof;
        return true;
    }
}

void SimpleSerial::absorb(const char* bytes, std::size_t count, Clock::time_point arrived)
{
    partial.append(bytes, count);
    std::size_t start = 0;
    for (std::size_t end; (end = partial.find(kLineEnd, start)) != std::string::npos;)
    {
        const std::size_t length = end + 2 - start;
        if (!discardingRun && length <= kMaxLineLength)
        {
            held.push(partial.data() + start, length, arrived);
            boundHeldBytes();
        }
        else if (!discardingRun)
            discardOverlongPartial();
        start = end + 2;
        discardingRun = false;
    }
    partial.erase(0, start);
    if (partial.size() >= kMaxLineLength || (discardingRun && !partial.empty()))
    {
        if (!discardingRun)
            discardOverlongPartial();
        discardingRun = true;
        // A CR at the very end may be the first half of the run's line end.
        partial.assign(partial.back() == '\r' ? "\r" : "");
    }
}

void SimpleSerial::discardOverlongPartial()
{
    ++discardedRunCount;
    MOOSTrace("SimpleSerial: discarding a run of more than %zu bytes without CR LF on %s\n",
              kMaxLineLength, device.c_str());
}

void SimpleSerial::dropStaleLines(Clock::time_point now)
{
    const DropCause cause = absent ? DropCause::CallerAway : DropCause::CallerSlower;
    while (!held.empty() && now - held.oldestArrival() > kMaxLineAge)
        dropOldestLine(cause);
}

void SimpleSerial::boundHeldBytes()
{
    // The newest line is never dropped for room: it alone is far below the cap.
    while (held.bytes() > kMaxPendingBytes && held.bytes() > held.oldestLength())
        dropOldestLine(DropCause::NoRoom);
}

void SimpleSerial::dropOldestLine(DropCause cause)
{
    if (droppedThisCall == 0)
        callCause = cause;
    held.drop();
    ++droppedThisCall;
    ++droppedSinceCaughtUp;
    ++droppedLineCount;
}

void SimpleSerial::reportDrops()
{
    if (droppedThisCall == 0)
        return;
    const bool news =
        callCause == DropCause::CallerAway || !behindReported || callCause != reportedCause;
    if (news)
    {
        switch (callCause)
        {
        case DropCause::CallerAway:
            MOOSTrace("SimpleSerial: dropped %zu lines from %s that waited while nothing read "
                      "them for %.1f s\n",
                      droppedThisCall, device.c_str(), Seconds(awayFor));
            break;
        case DropCause::CallerSlower:
            MOOSTrace("SimpleSerial: dropped %zu lines from %s that waited more than %.0f s, and "
                      "drops the oldest while the device sends lines faster than the loop reads "
                      "them; raise \"AppTick\" in the process's mission file block\n",
                      droppedThisCall, device.c_str(), Seconds(kMaxLineAge));
            break;
        case DropCause::NoRoom:
            MOOSTrace("SimpleSerial: dropped the oldest %zu lines from %s: more than %zu bytes of "
                      "lines waited unread, the loop reads slower than the device sends\n",
                      droppedThisCall, device.c_str(), kMaxPendingBytes);
            break;
        }
        behindReported = true;
        reportedCause = callCause;
        droppedReported = droppedSinceCaughtUp;
    }
    droppedThisCall = 0;
}

void SimpleSerial::reportCatchUp()
{
    if (behindReported && droppedSinceCaughtUp > droppedReported)
        MOOSTrace("SimpleSerial: reading %s is current again; %zu lines were dropped in all while "
                  "it was behind\n",
                  device.c_str(), droppedSinceCaughtUp);
    behindReported = false;
    droppedSinceCaughtUp = 0;
    droppedReported = 0;
}

bool SimpleSerial::takeLine(std::string& line)
{
    if (held.empty())
        return false;
    held.take(line);
    return true;
}

bool IsStandardBaudRate(unsigned long rate)
{
    static const unsigned long kRates[] = {1200,  2400,   4800,   9600,   19200, 38400,
                                           57600, 115200, 230400, 460800, 921600};
    return std::find(std::begin(kRates), std::end(kRates), rate) != std::end(kRates);
}

bool SerialDeviceInUse(const boost::system::error_code& e)
{
    return e == boost::system::errc::device_or_resource_busy;
}

std::string SerialDeviceFromEnvironment(const char* variable, const std::string& fallback)
{
    const char* named = std::getenv(variable);
    return named != nullptr && *named != '\0' ? named : fallback;
}

std::string SerialDeviceError(const std::string& program, const std::string& action,
                              const std::string& device, const std::string& reason,
                              const char* variable)
{
    return program + ": " + action + " serial device " + device + ": " + reason + " (set " +
           variable + " to read another device)";
}
