#include "SimpleSerial.h"

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>

#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace
{
const char kLineEnd[] = "\r\n";
// One blocking read takes at most this much; with kMaxLineLength it bounds
// what the reader holds beyond the backlog limit.
constexpr std::size_t kReadChunk = 1024;

bool Interrupted(const boost::system::error_code& ec)
{
    return ec == boost::asio::error::interrupted;
}
} // namespace

SimpleSerial::SimpleSerial(std::string port, unsigned int baud_rate)
    : io(), serial(io), device(port), backlogBytes(baud_rate / 5)
{
    using boost::asio::serial_port_base;
    serial.open(port);
    serial.set_option(serial_port_base::baud_rate(baud_rate));
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
            throw boost::system::system_error(ec, "writing " + device);
    }
}

std::string SimpleSerial::readString()
{
    std::string line;
    for (;;)
    {
        boundBacklog();
        if (takeLine(line))
            return line;
        readSome(kReadChunk);
    }
}

void SimpleSerial::readSome(std::size_t maxBytes)
{
    const std::size_t held = pending.size();
    pending.resize(held + maxBytes);
    boost::system::error_code ec;
    std::size_t got = 0;
    do
        got = serial.read_some(boost::asio::buffer(&pending[held], maxBytes), ec);
    while (Interrupted(ec));
    pending.resize(held + got);
    if (ec)
        throw boost::system::system_error(ec, "reading " + device);
}

std::size_t SimpleSerial::kernelPending()
{
    int count = 0;
    if (::ioctl(serial.native_handle(), FIONREAD, &count) != 0)
        throw boost::system::system_error(errno, boost::system::system_category(),
                                          "reading " + device);
    return static_cast<std::size_t>(std::max(count, 0));
}

void SimpleSerial::boundBacklog()
{
    // Only what the kernel held on entry is pulled in, so the loop ends even
    // while the device keeps sending.
    std::size_t toPull = kernelPending();
    if (toPull == 0 && pending.find(kLineEnd) == std::string::npos)
        overrunReported = false;
    while (pending.size() + toPull > backlogBytes)
    {
        skipOverlongRuns();
        if (holdsTwoLines())
            dropOldestLine();
        else if (toPull > 0)
        {
            const std::size_t before = pending.size();
            readSome(std::min(toPull, kReadChunk));
            toPull -= std::min(toPull, pending.size() - before);
        }
        else
            break; // the newest whole line is never dropped
    }
}

bool SimpleSerial::holdsTwoLines() const
{
    if (discardingRun)
        return false;
    const std::size_t first = pending.find(kLineEnd);
    return first != std::string::npos && pending.find(kLineEnd, first + 2) != std::string::npos;
}

void SimpleSerial::dropOldestLine()
{
    std::string stale;
    if (!takeLine(stale))
        return;
    ++droppedLineCount;
    reportOverrun();
}

void SimpleSerial::reportOverrun()
{
    if (overrunReported)
        return;
    overrunReported = true;
    MOOSTrace("SimpleSerial: input on %s arrives faster than AppTick lets it be read; "
              "dropping the oldest lines so that at most %zu bytes (about 2 s) wait. "
              "Raise \"AppTick\" in the process's mission file block.\n",
              device.c_str(), backlogBytes);
}

void SimpleSerial::skipOverlongRuns()
{
    for (;;)
    {
        const std::size_t end = pending.find(kLineEnd);
        const bool overlong =
            end == std::string::npos ? pending.size() >= kMaxLineLength : end + 2 > kMaxLineLength;
        if (!discardingRun && !overlong)
            return;
        if (!discardingRun)
        {
            discardingRun = true;
            ++discardedRunCount;
            MOOSTrace("SimpleSerial: discarding a run of more than %zu bytes without CR LF on %s\n",
                      kMaxLineLength, device.c_str());
        }
        if (end == std::string::npos)
        {
            // A CR at the very end may be the first half of the run's line end.
            const bool keepCR = !pending.empty() && pending.back() == '\r';
            pending.assign(keepCR ? "\r" : "");
            return;
        }
        pending.erase(0, end + 2);
        discardingRun = false;
    }
}

bool SimpleSerial::takeLine(std::string& line)
{
    skipOverlongRuns();
    const std::size_t end = pending.find(kLineEnd);
    if (discardingRun || end == std::string::npos)
        return false;
    line.assign(pending, 0, end + 2);
    pending.erase(0, end + 2);
    return true;
}

std::string SerialDeviceFromEnvironment(const char* variable)
{
    const char* named = std::getenv(variable);
    return named != nullptr && *named != '\0' ? named : "/dev/ttyUSB0";
}

std::string SerialDeviceError(const std::string& program, const std::string& action,
                              const std::string& device, const std::string& reason,
                              const char* variable)
{
    return program + ": " + action + " serial device " + device + ": " + reason + " (set " +
           variable + " to read another device)";
}
