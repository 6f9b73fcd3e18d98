// SensorSim: a GPS receiver, a compass or a GNSS heading receiver on a
// pseudo-terminal, for running the bridge programs without the hardware. See
// SensorSimUsage for the command line.
#include "../ProgramVersion.h"
#include "PseudoTerminal.h"
#include "Recording.h"
#include "SensorLines.h"
#include "SensorSimOptions.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <system_error>

namespace
{
using Clock = std::chrono::steady_clock;

// How long a line waits for the far end to make room before it is dropped.
constexpr std::chrono::milliseconds kRoomWait{500};

// Blocks the stop signals so that they are only taken while waiting: no
// stop can slip in between a check and a sleep.
class StopSignals
{
public:
    StopSignals()
    {
        sigemptyset(&set);
        for (const int sig : {SIGINT, SIGTERM, SIGHUP})
            sigaddset(&set, sig);
        sigprocmask(SIG_BLOCK, &set, nullptr);
    }

    // Waits until deadline; false when a stop signal came first (or was
    // already pending).
    bool WaitUntil(Clock::time_point deadline)
    {
        for (;;)
        {
            const auto left = std::max(Clock::duration::zero(), deadline - Clock::now());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            const timespec timeout{static_cast<time_t>(ns / 1000000000),
                                   static_cast<long>(ns % 1000000000)};
            if (sigtimedwait(&set, nullptr, &timeout) >= 0)
                return false;
            if (errno == EAGAIN)
                return true;
        }
    }

    void WaitForever()
    {
        while (WaitUntil(Clock::now() + std::chrono::hours(1)))
        {
        }
    }

private:
    sigset_t set;
};

// A symbolic link to the device, removed again if it still points there.
class DeviceLink
{
public:
    DeviceLink(const std::string& linkPath, const std::string& device)
        : path(linkPath), target(device)
    {
        struct stat existing;
        if (::lstat(path.c_str(), &existing) == 0 && S_ISLNK(existing.st_mode))
            ::unlink(path.c_str());
        if (::symlink(target.c_str(), path.c_str()) != 0)
            throw std::system_error(errno, std::generic_category(), "making the link " + path);
    }
    ~DeviceLink()
    {
        char pointsTo[4096];
        const ssize_t n = ::readlink(path.c_str(), pointsTo, sizeof pointsTo);
        if (n > 0 && std::string(pointsTo, static_cast<std::size_t>(n)) == target)
            ::unlink(path.c_str());
    }
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

private:
    std::string path;
    std::string target;
};

// The pseudo-terminal the sensor writes to, and the link to it, which can be
// pulled out and put back as a USB adapter: a new device, the same link.
class Device
{
public:
    explicit Device(std::string linkPath) : link(std::move(linkPath)) { PlugIn(); }

    // Opens a new pseudo-terminal, points the link at it and prints its path.
    void PlugIn()
    {
        pty = std::make_unique<PseudoTerminal>();
        ++plugs;
        if (!link.empty())
            linked = std::make_unique<DeviceLink>(link, pty->farEndPath());
        std::cout << pty->farEndPath() << std::endl;
    }
    // Removes the link and hangs the pseudo-terminal up.
    void PullOut()
    {
        linked.reset();
        pty.reset();
    }
    PseudoTerminal& Pty() { return *pty; }
    // How many pseudo-terminals have been plugged in so far.
    unsigned Plugs() const { return plugs; }

private:
    std::string link;
    unsigned plugs = 0;
    std::unique_ptr<PseudoTerminal> pty;
    std::unique_ptr<DeviceLink> linked;
};

struct Tally
{
    std::size_t lines = 0;
    std::size_t gga = 0;
    std::size_t corrupted = 0;
    std::size_t dropped = 0;
};

// Writes groups of lines with CR LF endings, one write per group, dropping
// them while nobody reads (see the usage text), and gives every Nth line a
// wrong checksum when asked to.
class LineWriter
{
public:
    LineWriter(Device& target, const SensorSimOptions& options)
        : device(target),
          ggaLabel(options.mode == SensorSimOptions::Mode::Gps ? "$" + options.talker + "GGA"
                                                               : "GGA"),
          corruptEvery(options.corruptEvery)
    {
    }

    void Write(std::vector<std::string> lines)
    {
        // A new device starts with an empty buffer and no cut line.
        if (device.Plugs() != plugsSeen)
        {
            plugsSeen = device.Plugs();
            stalled = lineCut = false;
        }
        const std::size_t corrupted = Corrupt(lines);
        std::string bytes = lineCut ? "\r\n" : "";
        for (const std::string& line : lines)
            bytes += line + "\r\n";
        const auto result =
            device.Pty().write(bytes, stalled ? std::chrono::milliseconds(0) : kRoomWait);
        stalled = result != PseudoTerminal::WriteResult::Written;
        // A cut line is ended by the next write, so it cannot swallow a whole one.
        lineCut = result == PseudoTerminal::WriteResult::Cut;
        if (stalled)
        {
            tally.dropped += lines.size();
            return;
        }
        tally.lines += lines.size();
        tally.corrupted += corrupted;
        for (const std::string& line : lines)
            tally.gga += IsGga(line);
    }

    const Tally& Count() const { return tally; }
    const std::string& GgaLabel() const { return ggaLabel; }

private:
    // A GGA sentence of any talker ("$GNGGA" of a u-blox as well as
    // "$GPGGA"), as a bridge that accepts any talker reads it.
    static bool IsGga(const std::string& line)
    {
        return line.size() >= 6 && line[0] == '$' &&
               std::isupper(static_cast<unsigned char>(line[1])) &&
               std::isupper(static_cast<unsigned char>(line[2])) && line.compare(3, 3, "GGA") == 0;
    }

    // Gives the lines that fall on the corruption count a wrong checksum;
    // returns how many.
    std::size_t Corrupt(std::vector<std::string>& lines)
    {
        std::size_t corrupted = 0;
        for (std::string& line : lines)
            if (corruptEvery > 0 && ++offered % corruptEvery == 0)
            {
                line = WithWrongChecksum(line);
                ++corrupted;
            }
        return corrupted;
    }

    Device& device;
    const std::string ggaLabel;
    const long corruptEvery;
    long offered = 0;
    Tally tally;
    unsigned plugsSeen = 0;
    bool stalled = false;
    bool lineCut = false;
};

// Where the lines come from: the next group of lines and the time until the
// group after it is due; false when there are no more.
class LineSource
{
public:
    virtual ~LineSource() = default;
    virtual bool Next(std::vector<std::string>& lines, Clock::duration& interval) = 0;
};

Clock::duration Seconds(double s)
{
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
}

class GpsSource : public LineSource
{
public:
    GpsSource(int noFix, const std::string& talker, double rate)
        : receiver(noFix, talker), period(1.0 / rate)
    {
    }
    bool Next(std::vector<std::string>& lines, Clock::duration& interval) override
    {
        lines = receiver.NextBurst(bursts++ * period, std::chrono::system_clock::now());
        interval = Seconds(period);
        return true;
    }

private:
    GpsReceiver receiver;
    double period;
    long bursts = 0;
};

// One line every period of the compass: its own lines, or with heading its
// heading as HDT sentences.
class CompassSource : public LineSource
{
public:
    CompassSource(double rate, bool attitude, bool heading)
        : compass(attitude), period(1.0 / rate), hdt(heading)
    {
    }
    bool Next(std::vector<std::string>& lines, Clock::duration& interval) override
    {
        const double elapsed = count++ * period;
        lines = {hdt ? compass.NextHeadingLine(elapsed) : compass.NextLine(elapsed)};
        interval = Seconds(period);
        return true;
    }

private:
    CompassSensor compass;
    double period;
    bool hdt;
    long count = 0;
};

class ReplaySource : public LineSource
{
public:
    ReplaySource(const std::string& file, const SensorSimOptions& options)
        : in(file, std::ios::binary), baud(options.baud), rate(options.rate)
    {
        if (!in)
            throw std::system_error(errno, std::generic_category(), "cannot open " + file);
    }
    bool Next(std::vector<std::string>& lines, Clock::duration& interval) override
    {
        std::string line;
        if (!ReadTextLine(in, line))
            return false;
        // 10 bits a character on an 8N1 line, CR LF included.
        interval = Seconds(rate > 0.0 ? 1.0 / rate : (line.size() + 2) * 10.0 / baud);
        lines = {line};
        return true;
    }

private:
    std::ifstream in;
    unsigned baud;
    double rate;
};

// The lines of a recording at their recorded arrival times, gaps included
// (or at --rate), as they came: a line that arrived without its CR LF gets
// one, since every write ends its lines.
class RecordingSource : public LineSource
{
public:
    RecordingSource(const std::string& file, double linesPerSecond)
        : in(file, std::ios::binary), reader(in), rate(linesPerSecond)
    {
        if (!in)
            throw std::system_error(errno, std::generic_category(), "cannot open " + file);
        haveNext = reader.Next(next);
    }
    bool Next(std::vector<std::string>& lines, Clock::duration& interval) override
    {
        if (!haveNext)
        {
            if (reader.Skipped() > 0)
                std::cerr << "SensorSim: " << reader.Skipped()
                          << " damaged lines of the recording skipped" << std::endl;
            return false;
        }
        RecordedLine line = std::move(next);
        haveNext = reader.Next(next);
        const auto gap = haveNext ? next.arrival - line.arrival : RecordClock::duration::zero();
        interval = rate > 0.0 ? Seconds(1.0 / rate)
                              : std::chrono::duration_cast<Clock::duration>(
                                    std::max(gap, RecordClock::duration::zero()));
        if (line.bytes.size() >= 2 && line.bytes.compare(line.bytes.size() - 2, 2, "\r\n") == 0)
            line.bytes.resize(line.bytes.size() - 2);
        lines = {line.bytes};
        return true;
    }

private:
    std::ifstream in;
    RecordingReader reader;
    double rate;
    RecordedLine next;
    bool haveNext = false;
};

std::unique_ptr<LineSource> MakeSource(const SensorSimOptions& options)
{
    switch (options.mode)
    {
    case SensorSimOptions::Mode::Gps:
        return std::make_unique<GpsSource>(options.noFix, options.talker,
                                           options.rate > 0 ? options.rate : 1.0);
    case SensorSimOptions::Mode::Compass:
    case SensorSimOptions::Mode::Heading:
        return std::make_unique<CompassSource>(options.rate > 0 ? options.rate : 10.0,
                                               options.attitude,
                                               options.mode == SensorSimOptions::Mode::Heading);
    default:
        if (IsRecordingFile(options.replayFile))
            return std::make_unique<RecordingSource>(options.replayFile, options.rate);
        return std::make_unique<ReplaySource>(options.replayFile, options);
    }
}

// A stretch in which the sensor sends nothing: it goes quiet, or its device
// is pulled out (and put back after the stretch, when it ends).
struct Outage
{
    Clock::duration after;                 // since the first line
    std::optional<Clock::duration> length; // none: until stopped
    bool unplug;
};

std::vector<Outage> Outages(const SensorSimOptions& options)
{
    std::vector<Outage> outages;
    const auto add = [&](double after, double length, bool unplug)
    {
        if (after < 0.0)
            return;
        outages.push_back(
            {Seconds(after), length < 0.0 ? std::nullopt : std::optional(Seconds(length)), unplug});
    };
    add(options.pauseAfter, options.pauseFor, false);
    add(options.unplugAfter, options.replugAfter, true);
    std::sort(outages.begin(), outages.end(),
              [](const Outage& a, const Outage& b) { return a.after < b.after; });
    return outages;
}

// Sends nothing for the outage's length; false when a stop signal came.
bool SitOut(const Outage& outage, Device& device, StopSignals& signals)
{
    std::cerr << (outage.unplug ? "SensorSim: device unplugged" : "SensorSim: quiet") << std::endl;
    if (outage.unplug)
        device.PullOut();
    if (!outage.length)
    {
        signals.WaitForever();
        return false;
    }
    if (!signals.WaitUntil(Clock::now() + *outage.length))
        return false;
    if (outage.unplug)
        device.PlugIn();
    std::cerr << (outage.unplug ? "SensorSim: device plugged in again" : "SensorSim: sending again")
              << std::endl;
    return true;
}

// Writes the source's lines on their schedule, sitting out the outages,
// until it ends, the count is reached or a stop signal arrives; true when
// it was not stopped.
bool Pump(LineSource& source, const SensorSimOptions& options, Device& device, LineWriter& writer,
          StopSignals& signals)
{
    const auto start = Clock::now() + std::chrono::milliseconds(options.startDelayMs);
    auto due = start;
    const std::vector<Outage> outages = Outages(options);
    auto outage = outages.begin();
    std::vector<std::string> lines;
    Clock::duration interval{};
    for (long groups = 0; options.count < 0 || groups < options.count; ++groups)
    {
        const auto next = options.fast ? std::max(start, Clock::now()) : due;
        if (outage != outages.end() && start + outage->after <= next)
        {
            if (!signals.WaitUntil(start + outage->after) || !SitOut(*outage++, device, signals))
                return false;
            // The sensor carries on from where it stopped, as of now.
            due = Clock::now();
        }
        if (!signals.WaitUntil(options.fast ? Clock::now() : due))
            return false;
        if (!source.Next(lines, interval))
            return true;
        writer.Write(lines);
        // Deadlines add up from the start, so the pace does not drift.
        due += interval;
    }
    return true;
}

// Closing the pseudo-terminal throws away what its far end has not read, so
// the last lines get a little time to be taken (none when nobody reads).
void LetReaderDrain(PseudoTerminal& pty, StopSignals& signals)
{
    using std::chrono::milliseconds;
    const auto giveUp = Clock::now() + std::chrono::seconds(2);
    // Bytes still on their way inside the kernel (the terminal's own work
    // queue moves them, late on a busy machine) are not counted yet, hence
    // an empty far end for a while, not at one look.
    const milliseconds settled{200};
    auto emptySince = Clock::time_point::max();
    while (Clock::now() < giveUp)
    {
        if (pty.farEndPending() != 0)
            emptySince = Clock::time_point::max();
        else if (emptySince == Clock::time_point::max())
            emptySince = Clock::now();
        else if (Clock::now() - emptySince >= settled)
            return;
        if (!signals.WaitUntil(Clock::now() + milliseconds(20)))
            return;
    }
}

int Simulate(const SensorSimOptions& options)
{
    StopSignals signals;
    std::unique_ptr<LineSource> source = MakeSource(options);
    Device device(options.link);
    LineWriter writer(device, options);
    if (Pump(*source, options, device, writer, signals))
    {
        if (options.hold)
            signals.WaitForever();
        else
            LetReaderDrain(device.Pty(), signals);
    }
    const Tally& tally = writer.Count();
    std::cerr << "SensorSim: " << tally.lines << " lines written (" << tally.gga << " "
              << writer.GgaLabel() << " sentences";
    if (options.corruptEvery > 0)
        std::cerr << ", " << tally.corrupted << " with a wrong checksum";
    std::cerr << "), " << tally.dropped << " dropped" << std::endl;
    return 0;
}
} // namespace

int main(int argc, char* argv[])
{
    if (AnsweredVersion(argc, argv, "SensorSim"))
        return 0;
    SensorSimOptions options;
    std::string error;
    if (!ParseSensorSimOptions(std::vector<std::string>(argv + 1, argv + argc), options, error))
    {
        std::cerr << "SensorSim: " << error << " (see SensorSim --help)" << std::endl;
        return 2;
    }
    if (options.help)
    {
        std::cout << SensorSimUsage();
        return 0;
    }
    try
    {
        return Simulate(options);
    }
    catch (const std::system_error& e)
    {
        std::cerr << "SensorSim: " << e.what() << std::endl;
        return 1;
    }
}
