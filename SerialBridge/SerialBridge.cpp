#include "SerialBridge.h"

#include "NmeaChecksum.h"

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <boost/system/system_error.hpp>

#include <algorithm>

namespace
{
using std::chrono::milliseconds;

// The longest single wait for the device: a quit request is seen within it.
constexpr milliseconds kReadSlice{200};
// With DataTimeout a pass waits at most this long, so that the loop and its
// status records go on while the device is quiet.
constexpr milliseconds kSilentPass{1000};
// How often a missing device is tried again.
constexpr milliseconds kReopenPeriod{1000};
// Rejected lines are traced at most this often.
constexpr std::chrono::seconds kRejectionTracePeriod{60};
} // namespace

SerialBridge::SerialBridge(const std::string& program, const BridgeSettings& settings,
                           SimpleSerial& line)
    : program(program), settings(settings), line(line), lastLine(Clock::now())
{
}

void SerialBridge::RequireDevice()
{
    lastLine = Clock::now();
    if (line.isOpen())
        return;
    if (!settings.reopenDevice)
        throw boost::system::system_error(line.openError(), "opening " + line.devicePath());
    const std::string reason = line.openError().message();
    MOOSTrace("%s: cannot open serial device %s: %s; trying again every second\n", program.c_str(),
              line.devicePath().c_str(), reason.c_str());
    ReportHealth(true, "cannot open serial device " + line.devicePath() + ": " + reason);
    nextOpenTry = Clock::now() + kReopenPeriod;
}

void SerialBridge::ServeLine()
{
    if (!line.isOpen() && !TryReopen())
        return;
    std::string text;
    try
    {
        if (!WaitForLine(text))
            return;
    }
    catch (const boost::system::system_error& e)
    {
        LoseDevice(e.code());
        return;
    }
    NoteLine();
    HandleLine(text);
}

void SerialBridge::HandleLine(const std::string& usbData)
{
    const bool taken = IsOwnSentence(usbData) && PassesChecks(usbData);
    if (taken)
        TakeValues(usbData);
    if (!taken && !settings.publishEveryLine)
        return;
    PublishValues();
    if (settings.echo)
        EchoReading(usbData);
}

bool SerialBridge::IsUsable(const std::string&) const
{
    return true;
}

void SerialBridge::Publish(const std::string& name, const std::string& value)
{
    comms.Notify(name, value, settings.stampTime ? MOOSTime() : 0.0);
}

bool SerialBridge::PassesChecks(const std::string& text)
{
    if (settings.verifyChecksum && !HasValidChecksum(text))
    {
        CountRejected();
        return false;
    }
    return IsUsable(text);
}

// One trace for the first rejection, then at most one a minute with the
// count since the last, so a noisy line cannot fill the log.
void SerialBridge::CountRejected()
{
    ++rejectedLines;
    ++rejectedSinceTrace;
    const Clock::time_point now = Clock::now();
    if (rejectionTraced && now - lastRejectionTrace < kRejectionTracePeriod)
        return;
    MOOSTrace("%s: %zu line(s) from %s rejected for a wrong or missing checksum "
              "(%zu since start)\n",
              program.c_str(), rejectedSinceTrace, line.devicePath().c_str(), rejectedLines);
    rejectionTraced = true;
    lastRejectionTrace = now;
    rejectedSinceTrace = 0;
}

bool SerialBridge::WaitForLine(std::string& text)
{
    const Clock::time_point deadline = PassDeadline();
    while (!QuitRequested())
    {
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
        {
            NoteSilence();
            return false;
        }
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - now);
        if (line.readLine(text, std::clamp(left, milliseconds(1), kReadSlice)))
            return true;
    }
    return false;
}

SerialBridge::Clock::time_point SerialBridge::PassDeadline() const
{
    if (settings.dataTimeout <= 0.0)
        return Clock::time_point::max();
    const Clock::time_point now = Clock::now();
    const auto timeout = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(settings.dataTimeout));
    const Clock::time_point silentFrom = lastLine + timeout;
    const Clock::time_point cap = now + kSilentPass;
    return silentFrom > now ? std::min(silentFrom, cap) : cap;
}

void SerialBridge::NoteSilence()
{
    if (silent || Clock::now() - lastLine < std::chrono::duration<double>(settings.dataTimeout))
        return;
    silent = true;
    const std::string reason = "no data from " + line.devicePath() + " for " +
                               MOOSFormat("%g", settings.dataTimeout) + " s";
    MOOSTrace("%s: %s\n", program.c_str(), reason.c_str());
    ReportHealth(true, reason);
}

void SerialBridge::NoteLine()
{
    lastLine = Clock::now();
    if (!silent)
        return;
    silent = false;
    MOOSTrace("%s: data from %s again\n", program.c_str(), line.devicePath().c_str());
    ReportHealth(false, "");
}

void SerialBridge::LoseDevice(const boost::system::error_code& reason)
{
    line.close();
    if (!settings.reopenDevice)
    {
        readError = reason.message();
        RequestQuit();
        return;
    }
    MOOSTrace("%s: lost serial device %s: %s; trying to open it again every second\n",
              program.c_str(), line.devicePath().c_str(), reason.message().c_str());
    ReportHealth(true, "lost serial device " + line.devicePath() + ": " + reason.message());
    silent = false;
    nextOpenTry = Clock::now() + kReopenPeriod;
}

bool SerialBridge::TryReopen()
{
    if (!settings.reopenDevice)
        return false;
    SleepUntil(nextOpenTry);
    if (QuitRequested())
        return false;
    nextOpenTry = Clock::now() + kReopenPeriod;
    if (!line.tryOpen())
        return false;
    MOOSTrace("%s: serial device %s is back; reading again\n", program.c_str(),
              line.devicePath().c_str());
    ReportHealth(false, "");
    lastLine = Clock::now();
    return true;
}

void SerialBridge::ReportHealth(bool error, const std::string& reason)
{
    SetAppError(error, reason);
    // The next pass publishes the status record at once, so subscribers
    // learn of the change without waiting out the status period.
    RequestStatusRecord();
}

void SerialBridge::SleepUntil(Clock::time_point when)
{
    const auto wait = std::min<Clock::duration>(when - Clock::now(), kReopenPeriod);
    const double ms = std::chrono::duration<double, std::milli>(wait).count();
    // The framework's pause is cut short by RequestQuit and shrinks with the
    // time warp; the device is waited for on the wall clock.
    if (ms >= 1.0)
        PauseUnlessQuit(static_cast<int>(ms * GetMOOSTimeWarp()));
}
