#include "LineRecorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <system_error>

const char* const kRecordingHeader = "#serial-recording 1";

namespace
{
// How long a failed write waits before it is tried again without a new line.
constexpr std::chrono::seconds kRetry{1};
// "2026-12-09T00:15:19.123456Z"
constexpr std::size_t kStampLength = 27;

const char kHex[] = "0123456789ABCDEF";

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string ErrnoText(int error)
{
    return std::generic_category().message(error);
}

std::string FormatStamp(RecordClock::time_point arrival)
{
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(arrival.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(micros / 1000000 - (micros % 1000000 < 0));
    const long fraction = static_cast<long>(micros - seconds * 1000000LL);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06ldZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, fraction);
    return text;
}

bool ParseStamp(const std::string& text, RecordClock::time_point& arrival)
{
    static const char shape[] = "dddd-dd-ddTdd:dd:dd.ddddddZ";
    if (text.size() != kStampLength)
        return false;
    for (std::size_t i = 0; i < kStampLength; ++i)
        if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(text[i]))
                            : text[i] != shape[i])
            return false;
    std::tm utc{};
    long fraction = 0;
    std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%6ld", &utc.tm_year, &utc.tm_mon,
                &utc.tm_mday, &utc.tm_hour, &utc.tm_min, &utc.tm_sec, &fraction);
    if (utc.tm_mon < 1 || utc.tm_mon > 12 || utc.tm_mday < 1 || utc.tm_mday > 31 ||
        utc.tm_hour > 23 || utc.tm_min > 59 || utc.tm_sec > 60)
        return false;
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    const std::time_t seconds = timegm(&utc);
    arrival = RecordClock::time_point(std::chrono::duration_cast<RecordClock::duration>(
        std::chrono::seconds(seconds) + std::chrono::microseconds(fraction)));
    return true;
}

// Files on disk. The descriptor of the last file stays open, so a line costs
// one write; a failed append cuts the file back to where it was, so a retry
// does not leave half a batch twice.
class DiskRecordFiles : public RecordFiles
{
public:
    ~DiskRecordFiles() override { Close(); }

    std::uintmax_t Size(const std::string& path) override
    {
        struct stat info;
        return ::stat(path.c_str(), &info) == 0 ? static_cast<std::uintmax_t>(info.st_size) : 0;
    }

    std::string Append(const std::string& path, const std::string& bytes) override
    {
        if (path != openPath || fd < 0)
        {
            Close();
            fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
            if (fd < 0)
                return "cannot open " + path + ": " + ErrnoText(errno);
            openPath = path;
        }
        const off_t before = ::lseek(fd, 0, SEEK_END);
        const std::string error = WriteAll(bytes);
        if (!error.empty())
        {
            if (before >= 0 && ::ftruncate(fd, before) != 0)
            {
                // Nothing more to do: the next append reopens the file.
            }
            Close();
            return "cannot write " + path + ": " + error;
        }
        return "";
    }

private:
    std::string WriteAll(const std::string& bytes)
    {
        std::size_t done = 0;
        while (done < bytes.size())
        {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return n < 0 ? ErrnoText(errno) : "nothing written";
            done += static_cast<std::size_t>(n);
        }
        return "";
    }

    void Close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        openPath.clear();
    }

    int fd = -1;
    std::string openPath;
};
} // namespace

std::string EscapeLineBytes(const std::string& bytes)
{
    std::string text;
    text.reserve(bytes.size() + 8);
    for (const char c : bytes)
    {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\')
            text += "\\\\";
        else if (c == '\r')
            text += "\\r";
        else if (c == '\n')
            text += "\\n";
        else if (byte >= 0x20 && byte < 0x7F)
            text += c;
        else
            text += {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xF]};
    }
    return text;
}

bool UnescapeLineBytes(const std::string& text, std::string& bytes)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte >= 0x7F)
            return false;
        if (text[i] != '\\')
        {
            out += text[i];
            continue;
        }
        const char kind = i + 1 < text.size() ? text[++i] : '\0';
        if (kind == '\\' || kind == 'r' || kind == 'n')
            out += kind == '\\' ? '\\' : kind == 'r' ? '\r' : '\n';
        else if (kind == 'x' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
                 HexValue(text[i + 2]) >= 0)
        {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        }
        else
            return false;
    }
    bytes = std::move(out);
    return true;
}

std::string FormatRecordingLine(RecordClock::time_point arrival, const std::string& bytes)
{
    return FormatStamp(arrival) + ' ' + EscapeLineBytes(bytes);
}

bool ParseRecordingLine(const std::string& text, RecordClock::time_point& arrival,
                        std::string& bytes)
{
    RecordClock::time_point stamp;
    std::string raw;
    if (text.size() <= kStampLength || text[kStampLength] != ' ' ||
        !ParseStamp(text.substr(0, kStampLength), stamp) ||
        !UnescapeLineBytes(text.substr(kStampLength + 1), raw))
        return false;
    arrival = stamp;
    bytes = std::move(raw);
    return true;
}

std::unique_ptr<RecordFiles> MakeDiskRecordFiles()
{
    return std::make_unique<DiskRecordFiles>();
}

LineRecorder::LineRecorder(Settings settingsIn, TraceSink traceIn, Now nowIn,
                           std::unique_ptr<RecordFiles> filesIn)
    : settings(std::move(settingsIn)), trace(std::move(traceIn)), now(std::move(nowIn)),
      files(std::move(filesIn))
{
    writer = std::thread(&LineRecorder::WriterLoop, this);
}

LineRecorder::~LineRecorder()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_one();
    writer.join();
}

void LineRecorder::Record(const std::string& line)
{
    Entry entry{now(), line};
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (heldBytes + line.size() > settings.bufferBytes)
        {
            ++dropped;
            return;
        }
        heldBytes += line.size();
        queue.push_back(std::move(entry));
    }
    wake.notify_one();
}

LineRecorder::Status LineRecorder::GetStatus() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return Status{failing, problem, recorded, dropped, overLimit, heldBytes};
}

void LineRecorder::WriterLoop()
{
    // The file of the start-up time is opened at once, header and all.
    SwitchTo(FileFor(now()));
    if (headerDue)
        AppendChunk("");
    std::unique_lock<std::mutex> lock(mutex);
    for (;;)
    {
        wake.wait_for(lock, kRetry, [this] { return stopping || !queue.empty(); });
        const bool last = stopping;
        std::move(queue.begin(), queue.end(), std::back_inserter(taken));
        queue.clear();
        lock.unlock();
        TraceDrops();
        WriteTaken();
        lock.lock();
        if (last)
            return;
    }
}

void LineRecorder::WriteTaken()
{
    while (!taken.empty())
    {
        const std::string& path = FileFor(taken.front().arrival);
        if (path != currentFile)
            SwitchTo(path);
        std::string chunk;
        std::size_t lines = 0;
        std::size_t lineBytes = 0;
        std::size_t refused = 0;
        for (auto it = taken.begin(); it != taken.end() && FileFor(it->arrival) == currentFile;
             ++it)
        {
            lineBytes += it->bytes.size();
            ++lines;
            refused += !Admit(*it, chunk);
        }
        if (!AppendChunk(chunk))
            return;
        taken.erase(taken.begin(), taken.begin() + static_cast<std::ptrdiff_t>(lines));
        std::lock_guard<std::mutex> lock(mutex);
        heldBytes -= lineBytes;
        recorded += lines - refused;
        overLimit += refused;
    }
}

// Adds the entry's recording line to chunk unless the file would outgrow
// the limit; false when refused.
bool LineRecorder::Admit(const Entry& entry, std::string& chunk)
{
    const std::string text = FormatRecordingLine(entry.arrival, entry.bytes) + '\n';
    const std::uintmax_t header = headerDue ? std::strlen(kRecordingHeader) + 1 : 0;
    if (settings.maxBytes > 0 &&
        fileBytes + header + chunk.size() + text.size() > settings.maxBytes)
    {
        if (!limitTraced)
            trace("recording into " + currentFile + " stopped at " +
                  std::to_string(fileBytes + header + chunk.size()) + " bytes (RecordMaxBytes " +
                  std::to_string(settings.maxBytes) + ")");
        limitTraced = true;
        return false;
    }
    chunk += text;
    return true;
}

bool LineRecorder::AppendChunk(const std::string& chunk)
{
    const std::string bytes = (headerDue ? std::string(kRecordingHeader) + '\n' : "") + chunk;
    const std::string error = bytes.empty() ? "" : files->Append(currentFile, bytes);
    bool wasFailing = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        wasFailing = failing;
        failing = !error.empty();
        if (failing)
            problem = error;
    }
    if (!error.empty())
    {
        if (!wasFailing)
            trace("recording failed: " + error);
        return false;
    }
    if (wasFailing)
        trace("recording into " + currentFile + " again");
    fileBytes += bytes.size();
    headerDue = false;
    return true;
}

const std::string& LineRecorder::FileFor(RecordClock::time_point arrival)
{
    const std::time_t second = RecordClock::to_time_t(arrival);
    if (second == nameSecond)
        return nameForSecond;
    std::tm utc{};
    gmtime_r(&second, &utc);
    char name[4096];
    const std::size_t n = std::strftime(name, sizeof name, settings.pattern.c_str(), &utc);
    nameSecond = second;
    nameForSecond.assign(name, n);
    return nameForSecond;
}

void LineRecorder::SwitchTo(const std::string& path)
{
    currentFile = path;
    fileBytes = files->Size(path);
    headerDue = fileBytes == 0;
    limitTraced = false;
}

// One trace when lines start to be dropped and one with their number when
// a pass of the writer finds no new drop.
void LineRecorder::TraceDrops()
{
    std::size_t droppedNow = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        droppedNow = dropped;
    }
    if (droppedNow != dropsTraced && !dropping)
        trace("recording buffer full: lines are not recorded until the file takes them");
    else if (droppedNow == dropsTraced && dropping)
        trace("recording buffer: " + std::to_string(droppedNow - episodeStart) +
              " lines were not recorded (" + std::to_string(droppedNow) + " in all)");
    if (droppedNow != dropsTraced && !dropping)
        episodeStart = dropsTraced;
    dropping = droppedNow != dropsTraced;
    dropsTraced = droppedNow;
}
