#include "SerialBridge.h"

#include "DeviceMessages.h"
#include "NmeaChecksum.h"

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <boost/system/system_error.hpp>

#include <algorithm>
#include <iostream>

namespace
{
using std::chrono::milliseconds;

// With DataTimeout a pass waits at most this long, so that the loop and its
// status records go on while the device is quiet.
constexpr milliseconds kSilentPass{1000};
// How often a missing device is tried again.
constexpr milliseconds kReopenPeriod{1000};
// Lines that keep arriving while a pass handles them end the pass after
// this long, so that mail and status records are not held off for ever.
constexpr milliseconds kLongestPassOfLines{200};
// Rejected lines are traced at most this often.
constexpr std::chrono::seconds kRejectionTracePeriod{60};
// The health record's period, in MOOS seconds: the status record's.
constexpr double kHealthPeriod = 2.0;

std::unique_ptr<LineRecorder> MakeRecorder(const BridgeProgram& program,
                                           const BridgeSettings& settings)
{
    if (settings.recordTo.empty())
        return nullptr;
    return std::make_unique<LineRecorder>(
        LineRecorder::Settings{settings.recordTo, settings.recordMaxBytes},
        [name = program.name](const std::string& line)
        { MOOSTrace("%s: %s\n", name.c_str(), line.c_str()); });
}
} // namespace

CSimulator::CSimulator(const BridgeProgram& program, SentenceFormat format,
                       const BridgeSettings& settings, BridgeSeams seams)
    : program(program), format(std::move(format)), settings(settings), seams(std::move(seams)),
      serial(settings.serialPort, settings.baudRate, SerialDeferredOpen{}),
      held(this->format.initialFor ? this->format.initialFor(settings) : this->format.initial),
      lastLine(Clock::now()),
      awaited(this->format.awaited ? this->format.awaited(settings) : std::string()),
      lastAwaited(lastLine), health(settings.serialPort, settings.expectedRate, Clock::now()),
      recorder(MakeRecorder(program, settings))
{
    RequireDevice();
}

void CSimulator::RequireDevice()
{
    if (serial.isOpen())
        return;
    if (!settings.reopenDevice)
        throw boost::system::system_error(serial.openError(), "opening " + serial.devicePath());
    const std::string reason = serial.openError().message();
    if (SerialDeviceInUse(serial.openError()))
        MOOSTrace("%s; trying again every second\n",
                  DeviceInUseLine(program.name, serial.devicePath()).c_str());
    else
        MOOSTrace("%s: cannot open serial device %s: %s; trying again every second\n",
                  program.name.c_str(), serial.devicePath().c_str(), reason.c_str());
    ReportHealth(true, "cannot open serial device " + serial.devicePath() + ": " + reason);
    nextOpenTry = Clock::now() + kReopenPeriod;
}

CSimulator::~CSimulator()
{
    serial.reportDropTotal();
}

bool CSimulator::OnStartUp()
{
    // Now that every line already received is handled each pass, lines go
    // stale only when passes are further apart than a line may wait.
    serial.setBehindAdvice("raise \"AppTick\" in the block of " + GetAppName() +
                           " so that a pass comes at least every 2 s");
    for (const std::string& warning : UnreadKeyWarnings(program, GetMissionFileName(), GetAppName(),
                                                        missionReader, seams.keysRead))
        std::cerr << warning << std::endl;
    Subscribe();
    return true;
}

bool CSimulator::OnConnectToServer()
{
    Subscribe();
    return true;
}

void CSimulator::Subscribe()
{
    for (const std::string& name : format.subscriptions)
        comms.Register(name, 0.0);
}

bool CSimulator::OnNewMail(MOOSMSG_LIST& NewMail)
{
    if (!format.answer)
        return true;
    for (const CMOOSMsg& mail : NewMail)
        for (const SentenceValue& value : format.answer(mail, held))
            Publish(value);
    return true;
}

bool CSimulator::Iterate()
{
    ServeLine();
    WatchHealth();
    return true;
}

void CSimulator::ServeLine()
{
    if (!serial.isOpen() && !TryReopen())
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
    HandleWaitingLines();
    CheckAwaited();
}

// A receiver sends its sentences in bursts, several a second: taking one
// line per pass would leave the rest to age and be dropped at any ordinary
// AppTick. Every line already received is handled now, each as if alone.
void CSimulator::HandleWaitingLines()
{
    const Clock::time_point end = Clock::now() + kLongestPassOfLines;
    std::string text;
    try
    {
        while (!QuitRequested() && Clock::now() < end && serial.readLine(text, milliseconds(0)))
        {
            NoteLine();
            HandleLine(text);
        }
    }
    catch (const boost::system::system_error& e)
    {
        LoseDevice(e.code());
    }
}

void CSimulator::HandleLine(const std::string& text)
{
    if (recorder)
        recorder->Record(text);
    const SentenceLine line{text, MOOSTime()};
    RetireOnceValues();
    const LineFate fate = Take(line);
    health.CountLine(fate == LineFate::Taken, fate == LineFate::BadChecksum, Clock::now());
    if (fate == LineFate::Taken || settings.publishEveryLine)
    {
        PublishHeld();
        if (settings.echo && format.echo)
            std::cout << format.echo(line.text, held) << std::flush;
    }
    for (const auto& hook : seams.lineHooks)
        hook(line, fate);
}

LineFate CSimulator::Take(const SentenceLine& line)
{
    if (!format.isOwn(line.text, settings))
        return LineFate::NotOwn;
    if (settings.verifyChecksum && !HasValidChecksum(line.text))
    {
        CountRejected("for a wrong or missing checksum");
        return LineFate::BadChecksum;
    }
    const std::string malformed = format.rejects ? format.rejects(line.text, settings) : "";
    if (!malformed.empty())
    {
        CountRejected("as malformed, the last: " + malformed);
        return LineFate::Refused;
    }
    const std::optional<SentenceValues> values = format.valuesOf(line, settings, held);
    if (!values)
        return LineFate::Refused;
    NoteAwaited(*values);
    for (SentenceValue value : *values)
    {
        value.readTime = line.readTime;
        held.Update(value);
    }
    return LineFate::Taken;
}

void CSimulator::PublishHeld()
{
    for (const SentenceValue& value : held.All())
        if (value.publish)
            Publish(value);
}

void CSimulator::RetireOnceValues()
{
    SentenceValues retired;
    for (const SentenceValue& value : held.All())
        if (value.once && value.publish)
            retired.push_back(value);
    for (SentenceValue& value : retired)
    {
        value.publish = false;
        held.Update(value);
    }
}

void CSimulator::Publish(const SentenceValue& value)
{
    // A value keeps the time of the line that gave it, however often it is
    // published again, so that its age stays visible to its readers.
    const double time = value.time ? *value.time : settings.stampTime ? value.readTime : 0.0;
    if (seams.outbox)
        seams.outbox(value, time);
    else if (value.number)
        comms.Notify(value.name, *value.number, time);
    else
        comms.Notify(value.name, value.text, time);
}

// One trace for the first rejection, then at most one a minute with the
// count since the last, so a noisy line cannot fill the log.
void CSimulator::CountRejected(const std::string& why)
{
    ++rejectedLines;
    ++rejectedSinceTrace;
    const Clock::time_point now = Clock::now();
    if (rejectionTraced && now - lastRejectionTrace < kRejectionTracePeriod)
        return;
    MOOSTrace("%s: %zu line(s) from %s rejected %s (%zu since start)\n", program.name.c_str(),
              rejectedSinceTrace, serial.devicePath().c_str(), why.c_str(), rejectedLines);
    rejectionTraced = true;
    lastRejectionTrace = now;
    rejectedSinceTrace = 0;
}

bool CSimulator::WaitForLine(std::string& text)
{
    const Clock::time_point deadline = PassDeadline();
    // A quit request ends the wait early (OnQuitRequested).
    while (!QuitRequested())
    {
        if (serial.readLineUntil(text, deadline))
            return true;
        if (Clock::now() >= deadline)
        {
            NoteSilence();
            return false;
        }
    }
    return false;
}

CSimulator::Clock::time_point CSimulator::PassDeadline() const
{
    if (settings.dataTimeout <= 0.0)
        return Clock::time_point::max();
    const Clock::time_point now = Clock::now();
    const auto timeout = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(settings.dataTimeout));
    const Clock::time_point silentFrom = LastArrival() + timeout;
    const Clock::time_point cap = now + kSilentPass;
    return silentFrom > now ? std::min(silentFrom, cap) : cap;
}

CSimulator::Clock::time_point CSimulator::LastArrival() const
{
    // Lines the reader dropped as too old still came from the device: the
    // device was not silent, the loop was late.
    return std::max(lastLine, serial.lastArrival());
}

void CSimulator::NoteSilence()
{
    if (silent ||
        Clock::now() - LastArrival() < std::chrono::duration<double>(settings.dataTimeout))
        return;
    silent = true;
    const std::string reason = "no data from " + serial.devicePath() + " for " +
                               MOOSFormat("%g", settings.dataTimeout) + " s";
    MOOSTrace("%s: %s\n", program.name.c_str(), reason.c_str());
    ReportHealth(true, reason);
}

void CSimulator::NoteAwaited(const SentenceValues& given)
{
    const auto gives = [&](const SentenceValue& value) { return value.name == awaited; };
    if (awaited.empty() || std::none_of(given.begin(), given.end(), gives))
        return;
    lastAwaited = Clock::now();
    if (!awaitedMissing)
        return;
    awaitedMissing = false;
    MOOSTrace("%s: %s again\n", program.name.c_str(), awaited.c_str());
    ReportHealth(false, "");
}

// Silence of the device is the louder fault: it is reported instead.
void CSimulator::CheckAwaited()
{
    const std::chrono::duration<double> timeout(settings.dataTimeout);
    if (awaited.empty() || timeout.count() <= 0.0 || awaitedMissing || silent ||
        Clock::now() - lastAwaited < timeout)
        return;
    awaitedMissing = true;
    const std::string reason =
        "no " + awaited + " for " + MOOSFormat("%g", settings.dataTimeout) + " s";
    MOOSTrace("%s: %s\n", program.name.c_str(), reason.c_str());
    ReportHealth(true, reason);
}

void CSimulator::NoteLine()
{
    lastLine = Clock::now();
    if (!silent)
        return;
    silent = false;
    awaitedMissing = false; // raised again at once if still missing
    MOOSTrace("%s: data from %s again\n", program.name.c_str(), serial.devicePath().c_str());
    ReportHealth(false, "");
}

void CSimulator::LoseDevice(const boost::system::error_code& reason)
{
    serial.close();
    if (!settings.reopenDevice)
    {
        readError = reason.message();
        RequestQuit();
        return;
    }
    MOOSTrace("%s: lost serial device %s: %s; trying to open it again every second\n",
              program.name.c_str(), serial.devicePath().c_str(), reason.message().c_str());
    ReportHealth(true, "lost serial device " + serial.devicePath() + ": " + reason.message());
    silent = false;
    nextOpenTry = Clock::now() + kReopenPeriod;
}

bool CSimulator::TryReopen()
{
    if (!settings.reopenDevice)
        return false;
    SleepUntil(nextOpenTry);
    if (QuitRequested())
        return false;
    nextOpenTry = Clock::now() + kReopenPeriod;
    if (!serial.tryOpen())
        return false;
    MOOSTrace("%s: serial device %s is back; reading again\n", program.name.c_str(),
              serial.devicePath().c_str());
    ReportHealth(false, "");
    lastLine = Clock::now();
    return true;
}

void CSimulator::ReportHealth(bool error, const std::string& reason)
{
    SetAppError(error, reason);
    // The next pass publishes the status record at once, so subscribers
    // learn of the change without waiting out the status period.
    RequestStatusRecord();
}

void CSimulator::SleepUntil(Clock::time_point when)
{
    const auto wait = std::min<Clock::duration>(when - Clock::now(), kReopenPeriod);
    const double ms = std::chrono::duration<double, std::milli>(wait).count();
    // The framework's pause is cut short by RequestQuit and shrinks with the
    // time warp; the device is waited for on the wall clock.
    if (ms >= 1.0)
        PauseUnlessQuit(static_cast<int>(ms * GetMOOSTimeWarp()));
}

void CSimulator::WatchHealth()
{
    const HealthState before = health.State();
    const bool changed = health.Observe(
        {settings.reopenDevice && !serial.isOpen(), silent, serial.drops()}, Clock::now());
    if (changed && health.State() == HealthState::Slow)
        MOOSTrace("%s: %s\n", program.name.c_str(), health.SlowReason().c_str());
    else if (changed && before == HealthState::Slow && health.State() == HealthState::Reading)
        MOOSTrace("%s: values from %s at the expected rate again\n", program.name.c_str(),
                  serial.devicePath().c_str());
    RaiseOwnProblem();
    if (settings.publishHealth && (changed || MOOSTime() - lastHealthRecord > kHealthPeriod))
        PublishHealthRecord();
}

void CSimulator::PublishHealthRecord()
{
    std::string key = GetAppName() + "_HEALTH";
    MOOSToUpper(key);
    SentenceValue record = TextValue(key, health.TakeRecord(Clock::now()));
    record.time = lastHealthRecord = MOOSTime();
    Publish(record);
}

std::string CSimulator::OwnProblem() const
{
    if (recorder)
    {
        const LineRecorder::Status status = recorder->GetStatus();
        if (status.failing)
            return "recording failed: " + status.problem;
    }
    return health.SlowReason();
}

// The device's errors (missing, lost, silent) are raised and cleared where
// they happen; the recorder's and the rate's are raised here, only while
// none of those holds the application error, and again once it clears.
void CSimulator::RaiseOwnProblem()
{
    if (silent || !serial.isOpen())
    {
        ownProblemShown.reset();
        return;
    }
    const std::string problem = OwnProblem();
    if (ownProblemShown == problem || (!ownProblemShown && problem.empty()))
    {
        ownProblemShown = problem;
        return;
    }
    ReportHealth(!problem.empty(), problem);
    ownProblemShown = problem;
}
