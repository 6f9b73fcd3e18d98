#include "SensorSimOptions.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace
{
bool ParseWhole(const std::string& text, long low, long high, long& value)
{
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || parsed < low || parsed > high)
        return false;
    value = parsed;
    return true;
}

// A finite number within [low, high], or above low when low is excluded.
bool ParseReal(const std::string& text, double low, bool lowIncluded, double high, double& value)
{
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(parsed) || parsed < low ||
        (parsed == low && !lowIncluded) || parsed > high)
        return false;
    value = parsed;
    return true;
}

// Seconds for the timed options: up to about eleven days.
bool ParseSeconds(const std::string& text, double& value)
{
    return ParseReal(text, 0.0, true, 1e6, value);
}

bool IsTalker(const std::string& text)
{
    return text.size() == 2 && std::isupper(static_cast<unsigned char>(text[0])) &&
           std::isupper(static_cast<unsigned char>(text[1]));
}

bool SetMode(SensorSimOptions& options, SensorSimOptions::Mode mode, std::string& error)
{
    if (options.mode != SensorSimOptions::Mode::None)
    {
        error = "give only one of --gps, --compass, --heading and --replay";
        return false;
    }
    options.mode = mode;
    return true;
}

// Handles one option that takes a value; false with error set when it is bad.
bool TakeValue(const std::string& name, const std::string& value, SensorSimOptions& options,
               std::string& error)
{
    long whole = 0;
    bool ok = true;
    if (name == "--replay")
    {
        options.replayFile = value;
        return SetMode(options, SensorSimOptions::Mode::Replay, error);
    }
    if (name == "--count")
        ok = ParseWhole(value, 0, 1000000000L, options.count);
    else if (name == "--rate")
        ok = ParseReal(value, 0.0, false, 100000.0, options.rate);
    else if (name == "--baud")
    {
        ok = ParseWhole(value, 50, 4000000L, whole);
        options.baud = ok ? static_cast<unsigned>(whole) : options.baud;
    }
    else if (name == "--no-fix")
    {
        ok = ParseWhole(value, 0, 1000000L, whole);
        options.noFix = ok ? static_cast<int>(whole) : options.noFix;
    }
    else if (name == "--start-delay")
        ok = ParseWhole(value, 0, 3600000L, options.startDelayMs);
    else if (name == "--link")
    {
        ok = !value.empty();
        options.link = value;
    }
    else if (name == "--talker")
    {
        ok = IsTalker(value);
        options.talker = ok ? value : options.talker;
    }
    else if (name == "--corrupt")
        ok = ParseWhole(value, 1, 1000000000L, options.corruptEvery);
    else if (name == "--pause-after")
        ok = ParseSeconds(value, options.pauseAfter);
    else if (name == "--pause-for")
        ok = ParseSeconds(value, options.pauseFor);
    else if (name == "--unplug-after")
        ok = ParseSeconds(value, options.unplugAfter);
    else if (name == "--replug-after")
        ok = ParseSeconds(value, options.replugAfter);
    if (!ok)
        error = "bad value \"" + value + "\" for " + name;
    return ok;
}

bool IsValueOption(const std::string& name)
{
    for (const char* known : {"--replay", "--count", "--rate", "--baud", "--no-fix",
                              "--start-delay", "--link", "--talker", "--corrupt", "--pause-after",
                              "--pause-for", "--unplug-after", "--replug-after"})
        if (name == known)
            return true;
    return false;
}

bool TakeFlag(const std::string& name, SensorSimOptions& options, std::string& error)
{
    if (name == "--gps")
        return SetMode(options, SensorSimOptions::Mode::Gps, error);
    if (name == "--compass")
        return SetMode(options, SensorSimOptions::Mode::Compass, error);
    if (name == "--heading")
        return SetMode(options, SensorSimOptions::Mode::Heading, error);
    if (name == "--fast")
        options.fast = true;
    else if (name == "--hold")
        options.hold = true;
    else if (name == "--attitude")
        options.attitude = true;
    else if (name == "--help" || name == "-h")
        options.help = true;
    else
    {
        error = "unknown option \"" + name + "\"";
        return false;
    }
    return true;
}
} // namespace

bool ParseSensorSimOptions(const std::vector<std::string>& args, SensorSimOptions& options,
                           std::string& error)
{
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        const std::string& name = args[i];
        if (!IsValueOption(name))
        {
            if (!TakeFlag(name, options, error))
                return false;
            continue;
        }
        if (i + 1 == args.size())
        {
            error = name + " needs a value";
            return false;
        }
        if (!TakeValue(name, args[++i], options, error))
            return false;
    }
    if (options.help)
        return true;
    if (options.mode == SensorSimOptions::Mode::None)
        error = "give one of --gps, --compass, --heading and --replay FILE";
    else if (options.talker != "GP" && options.mode != SensorSimOptions::Mode::Gps)
        error = "--talker applies to --gps only";
    else if (options.attitude && options.mode != SensorSimOptions::Mode::Compass)
        error = "--attitude applies to --compass only";
    else if (options.pauseFor >= 0.0 && options.pauseAfter < 0.0)
        error = "--pause-for needs --pause-after";
    else if (options.replugAfter >= 0.0 && options.unplugAfter < 0.0)
        error = "--replug-after needs --unplug-after";
    return error.empty();
}

std::string SensorSimUsage()
{
    return "Usage: SensorSim (--gps | --compass | --heading | --replay FILE) [options]\n"
           "\n"
           "Opens a pseudo-terminal, prints the device path of its far end on the first\n"
           "line of standard output, and writes sensor lines ending in CR LF to it until\n"
           "stopped (SIGINT, SIGTERM or SIGHUP), the count is reached or a replay ends.\n"
           "\n"
           "Sensors:\n"
           "  --gps              a GPS receiver: every second a burst of GGA, GSA, GSV and\n"
           "                     RMC sentences; the position goes round a 200 m circle\n"
           "                     near 4807.038 N 01131.000 E; the first bursts have no fix\n"
           "  --compass          a compass: \"$C<heading>P<pitch>R<roll>T<temp>*<checksum>\"\n"
           "                     ten times a second, the heading turning 0.5 degrees a\n"
           "                     second\n"
           "  --attitude         with --compass: pitch (+-25) and roll (+-37.5) swing wide\n"
           "                     and the temperature drifts between -2 and 10\n"
           "  --heading          a GNSS heading receiver: \"$HEHDT,<heading>,T*<checksum>\"\n"
           "                     ten times a second, the heading turning as --compass's\n"
           "  --replay FILE      the lines of a capture file, paced like the serial line;\n"
           "                     a bridge's recording at its recorded arrival times\n"
           "\n"
           "Options:\n"
           "  --fast             write as fast as the reader takes the lines\n"
           "  --rate HZ          bursts (--gps) or lines per second instead of the default\n"
           "  --baud N           line rate whose pace a replay follows (default 19200)\n"
           "  --count N          stop after N bursts (--gps) or lines\n"
           "  --no-fix N         GPS bursts without a fix at the start (default 3)\n"
           "  --start-delay MS   wait MS milliseconds before the first line\n"
           "  --hold             when the lines are done, keep the device open until\n"
           "                     signalled\n"
           "  --link PATH        make a symbolic link PATH to the device (removed at exit;\n"
           "                     an existing symbolic link there is replaced)\n"
           "  --talker XX        talker of the GPS sentences (default GP; GN makes $GNGGA)\n"
           "  --corrupt N        give every Nth line a wrong checksum (one is added to a\n"
           "                     line without); every other line keeps what it has\n"
           "  --pause-after S    go quiet S seconds after the first line, as a receiver that\n"
           "                     stops sending; the lines resume where they stopped\n"
           "  --pause-for S      stay quiet S seconds (default: until stopped)\n"
           "  --unplug-after S   S seconds after the first line, close the pseudo-terminal\n"
           "                     and remove the --link, as a USB adapter pulled out\n"
           "  --replug-after S   S seconds later open a new pseudo-terminal, print its path\n"
           "                     on a new line of standard output and point the --link at\n"
           "                     it, as the adapter put back (default: stay unplugged)\n"
           "  --help             this text\n"
           "\n"
           "Going quiet, unplugging and plugging in again are each told on standard error.\n"
           "At exit a summary goes to standard error: the lines written, the $GPGGA\n"
           "sentences among them ($XXGGA with --talker), those with a wrong checksum\n"
           "(with --corrupt) and the lines dropped. A line is dropped whole when the\n"
           "far end's buffer stays full for half a second (nobody reads the device);\n"
           "after a drop, lines are dropped at once until the reader takes bytes again.\n"
           "Before it ends by itself it gives the reader up to 2 s to take the last lines.\n"
           "Exit status: 0 when done or signalled, 1 on a system error, 2 on a bad command\n"
           "line.\n";
}
