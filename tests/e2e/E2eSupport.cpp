#include "E2eSupport.h"

#include "LineRecorder.h"
#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace e2e
{
namespace
{
// The server writes control bytes as \xHH with upper-case digits, as the
// line recorder does; any other text is itself (a backslash too).
std::string Unescaped(const std::string& text)
{
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        std::string byte;
        if (text.compare(i, 2, "\\x") == 0 && UnescapeLineBytes(text.substr(i, 4), byte))
        {
            bytes += byte;
            i += 3;
        }
        else
            bytes += text[i];
    }
    return bytes;
}
} // namespace

bool ParseLogLine(const std::string& line, LoggedNotification& entry)
{
    const std::size_t afterTime = line.find(' ');
    if (afterTime == std::string::npos || afterTime == 0)
        return false;
    const std::size_t afterSource = line.find(' ', afterTime + 1);
    if (afterSource == std::string::npos)
        return false;
    const std::size_t afterKey = line.find(' ', afterSource + 1);
    if (afterKey == std::string::npos)
        return false;
    char* end = nullptr;
    const std::string time = line.substr(0, afterTime);
    entry.time = std::strtod(time.c_str(), &end);
    if (*end != '\0')
        return false;
    entry.source = line.substr(afterTime + 1, afterSource - afterTime - 1);
    entry.key = line.substr(afterSource + 1, afterKey - afterSource - 1);
    entry.value = Unescaped(line.substr(afterKey + 1));
    return true;
}

std::vector<LoggedNotification> ParseLog(const std::string& text)
{
    std::vector<LoggedNotification> entries;
    std::istringstream in(text);
    LoggedNotification entry;
    for (std::string line; std::getline(in, line);)
        if (ParseLogLine(line, entry))
            entries.push_back(entry);
    return entries;
}

std::vector<LoggedNotification> LogCapture::Entries() const
{
    std::lock_guard<std::mutex> guard(lock);
    return entries;
}

std::vector<LoggedNotification> LogCapture::From(const std::string& source) const
{
    std::vector<LoggedNotification> found;
    for (const LoggedNotification& entry : Entries())
        if (entry.source == source)
            found.push_back(entry);
    return found;
}

std::vector<LoggedNotification> LogCapture::From(const std::string& source,
                                                 const std::string& key) const
{
    std::vector<LoggedNotification> found;
    for (const LoggedNotification& entry : From(source))
        if (entry.key == key)
            found.push_back(entry);
    return found;
}

std::vector<std::string> LogCapture::Values(const std::string& source, const std::string& key) const
{
    std::vector<std::string> values;
    for (const LoggedNotification& entry : From(source, key))
        values.push_back(entry.value);
    return values;
}

std::size_t LogCapture::Count(const std::string& source, const std::string& key) const
{
    return From(source, key).size();
}

bool LogCapture::WaitForCount(const std::string& source, const std::string& key,
                              std::size_t count) const
{
    return WaitFor([&] { return Count(source, key) >= count; });
}

LogCapture::int_type LogCapture::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    std::lock_guard<std::mutex> guard(lock);
    AppendLocked(&byte, 1);
    return c;
}

std::streamsize LogCapture::xsputn(const char* text, std::streamsize size)
{
    std::lock_guard<std::mutex> guard(lock);
    AppendLocked(text, static_cast<std::size_t>(size));
    return size;
}

void LogCapture::AppendLocked(const char* text, std::size_t size)
{
    partial.append(text, size);
    for (std::size_t end; (end = partial.find('\n')) != std::string::npos;)
    {
        LoggedNotification entry;
        if (ParseLogLine(partial.substr(0, end), entry))
            entries.push_back(entry);
        partial.erase(0, end + 1);
    }
}

LocalServerOptions TestServer::OptionsFor(LogCapture& log, double warp)
{
    LocalServerOptions options;
    options.Log = &log.Stream();
    options.TimeWarp = warp;
    return options;
}

TestServer::TestServer(double warp) : server(OptionsFor(log, warp))
{
    if (!server.Start("127.0.0.1", 0))
        throw std::runtime_error("test server: " + server.GetError());
    port = server.GetPort();
}

TestServer::~TestServer()
{
    server.Stop();
}

void TestServer::Restart()
{
    server.Stop();
    if (!server.Start("127.0.0.1", port))
        throw std::runtime_error("test server restart: " + server.GetError());
}

std::string MissionText(int port, const std::vector<std::string>& names,
                        const std::vector<std::string>& keys, double warp)
{
    std::string text = "ServerHost = localhost\nServerPort = " + std::to_string(port) + "\n";
    if (warp != 1.0)
        text += "MOOSTimeWarp = " + std::to_string(warp) + "\n";
    for (const std::string& name : names)
    {
        text += "\nProcessConfig = " + name + "\n{\n";
        for (const std::string& key : keys)
            text += "    " + key + "\n";
        text += "}\n";
    }
    return text;
}

std::string StatusKey(const std::string& process)
{
    std::string key = process + "_STATUS";
    MOOSToUpper(key);
    return key;
}

std::unique_ptr<Process> StartBridge(const std::string& program,
                                     const std::filesystem::path& mission,
                                     const std::string& device, const std::string& process)
{
    std::vector<std::string> args{Program(program), mission.string()};
    if (!process.empty())
        args.push_back(process);
    const std::string variable = program == "Vantor" ? "VANTOR_DEVICE=" : "DIRKEL_DEVICE=";
    return std::make_unique<Process>(args, Process::Options{{variable + device}, {}});
}

namespace
{
std::string MakePipe(const TempDir& dir)
{
    const std::string path = (dir / "replay.pipe").string();
    if (::mkfifo(path.c_str(), 0600) != 0)
        throw std::runtime_error("cannot make the pipe " + path);
    return path;
}
} // namespace

// --fast: SensorSim writes each line as soon as it has read it from the pipe,
// so the pace is the test's.
ReplayFeed::ReplayFeed(const TempDir& dir)
    : sim({Program("SensorSim"), "--replay", MakePipe(dir), "--fast"})
{
    if (OpenWriter(dir / "replay.pipe"))
        device = sim.FirstLine();
}

ReplayFeed::~ReplayFeed()
{
    End();
}

bool ReplayFeed::OpenWriter(const std::filesystem::path& pipe)
{
    // A non-blocking open of a pipe's writing end fails until a reader has
    // it open, so the wait stays bounded when SensorSim fails to start.
    WaitFor(
        [&]
        {
            writer = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            return writer >= 0 || !sim.Running();
        });
    if (writer < 0)
        return false;
    ::fcntl(writer, F_SETFL, ::fcntl(writer, F_GETFL) & ~O_NONBLOCK);
    return true;
}

bool ReplayFeed::Write(const std::string& bytes)
{
    std::size_t done = 0;
    while (writer >= 0 && done < bytes.size())
    {
        const ssize_t n = ::write(writer, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return writer >= 0;
}

void ReplayFeed::End()
{
    if (writer >= 0)
        ::close(writer);
    writer = -1;
}

bool FeedInStep(ReplayFeed& feed, const LogCapture& log, const std::vector<std::string>& lines,
                const std::string& source, const std::string& key, std::size_t groupSize)
{
    const std::size_t before = log.Count(source, key);
    for (std::size_t sent = 0; sent < lines.size();)
    {
        const std::size_t end = std::min(lines.size(), sent + groupSize);
        std::string group;
        for (; sent < end; ++sent)
            group += lines[sent];
        if (!feed.Write(group) || !log.WaitForCount(source, key, before + sent))
            return false;
    }
    return true;
}

bool HasLostDeviceLine(const std::string& text, const std::string& program,
                       const std::string& device)
{
    const std::string start = program + ": lost the serial device " + device + ": ";
    const std::string end = " or set ReopenDevice = true to wait for the device";
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.size() > start.size() + end.size() && line.rfind(start, 0) == 0 &&
            line.compare(line.size() - end.size(), end.size(), end) == 0)
            return true;
    return false;
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line;
    return text;
}
} // namespace e2e
