#include "SimpleSerial.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>

namespace
{
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
    : io(), serial(io), device(std::move(port)), baud(baud_rate),
      lines(device, StandardErrorTraces())
{
    open();
}

SimpleSerial::SimpleSerial(std::string port, unsigned int baud_rate, SerialDeferredOpen)
    : io(), serial(io), device(std::move(port)), baud(baud_rate),
      lines(device, StandardErrorTraces())
{
    tryOpen();
}

void SimpleSerial::setClock(std::function<Clock::time_point()> clock)
{
    now = std::move(clock);
    // The caller's absence is measured on the new clock from here.
    lines.endCall(now());
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
    lines.start(now());
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
    if (isOpen())
        ::ioctl(serial.native_handle(), TIOCNXCL);
    boost::system::error_code ignored;
    serial.close(ignored);
    deviceError.clear();
    lines.end();
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
    // The terminal's exclusive mode too: an ordinary process that opens the
    // device without asking for the lock (cat, a terminal program) is
    // refused instead of stealing lines. Root may still open it.
    ::ioctl(fd, TIOCEXCL);
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

SimpleSerial::WakeEvent::WakeEvent() : fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

SimpleSerial::WakeEvent::~WakeEvent()
{
    if (fd >= 0)
        ::close(fd);
}

std::string SimpleSerial::readString()
{
    std::string line;
    while (!readLineUntil(line, Clock::time_point::max()))
    {
    }
    return line;
}

void SimpleSerial::interruptWait()
{
    // Without the event (no descriptor was left), waits end at their time.
    // Adding to the event's count cannot fail short of 2^64 calls.
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = wake.fd >= 0 ? ::write(wake.fd, &one, sizeof one) : 0;
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
    struct EndCall
    {
        SimpleSerial& reader;
        ~EndCall() { reader.lines.endCall(reader.now()); }
    } endCall{*this};

    lines.beginCall(now());
    for (;;)
    {
        drainDevice();
        if (lines.take(line, now()))
            return true;
        if (deviceError)
            throw SystemError(deviceError, "reading " + device);
        if (!isOpen())
            throw SystemError(
                boost::system::errc::make_error_code(boost::system::errc::bad_file_descriptor),
                "reading " + device + " while it is closed");
        if (!waitReadable(deadline))
            return false;
    }
}

void SimpleSerial::drainDevice()
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
            lines.feed(chunk, static_cast<std::size_t>(got), now());
            total += static_cast<std::size_t>(got);
        }
        else if (got < 0 && errno == EINTR)
            continue;
        else if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        else
            return fail(got == 0
                            ? boost::asio::error::eof
                            : boost::system::error_code(errno, boost::system::system_category()));
    }
}

void SimpleSerial::fail(const boost::system::error_code& e)
{
    deviceError = e;
    lines.end();
}

bool SimpleSerial::waitReadable(Clock::time_point deadline)
{
    for (;;)
    {
        if (Clock::now() >= deadline)
            return false;
        pollfd watched[] = {{serial.native_handle(), POLLIN, 0}, {wake.fd, POLLIN, 0}};
        const int ready = ::poll(watched, wake.fd >= 0 ? 2 : 1, PollTimeout(deadline));
        if (ready < 0 && errno != EINTR)
        {
            fail(boost::system::error_code(errno, boost::system::system_category()));
            return true;
        }
        if (ready <= 0)
            continue;
        if (watched[1].revents & POLLIN)
        {
            // Taken, so that the next wait waits again.
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t taken = ::read(wake.fd, &count, sizeof count);
            return false;
        }
        // A hang-up without bytes would wake every poll at once: report it.
        if ((watched[0].revents & POLLIN) == 0)
            fail(boost::asio::error::eof);
        return true;
    }
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
