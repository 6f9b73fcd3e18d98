// LineRecorder: keeps every line a bridge reads, byte for byte, with the
// host time it arrived, in plain text files that SensorSim replays and
// scripts/plot-recording draws.
//
// The recording format, one text line per serial line:
//   2026-12-09T00:15:19.123456Z $GPGGA,...*47\r\n
// the arrival time in UTC with microseconds, one space, and the serial line's
// bytes escaped: printable ASCII stays as it is, a backslash is "\\", CR is
// "\r", LF is "\n" and every other byte "\xHH" (two upper-case hex digits).
// The escaping is exact and reversible, so a rejected, binary or cut line is
// kept as it came; an ordinary NMEA line reads as itself followed by "\r\n".
// A file begins with the line "#serial-recording 1"; lines starting with "#"
// are comments.
//
// Files: the name comes from a strftime pattern applied to the line's arrival
// time in UTC ("/var/lib/moos/gps-%Y%m%d.nmea"); a new name starts a new file,
// an existing file is appended to. With a size limit, a file that would grow
// past it takes no more lines (one trace), until the name changes.
//
// Threads: Record may be called from any thread and only ever waits for a
// short lock, never for the disk: lines go into a bounded buffer that a
// writer thread of the recorder's own empties. A line that does not fit is
// counted and traced, not waited for. A failed write is traced once, shows in
// Status().failing, keeps its lines in the buffer and is tried again a second
// later or at the next line; recording resumes when writing works again.
// Traces go to the sink from the writer thread. The destructor writes what it
// can of the buffer once more and joins the writer.
#ifndef SERIALBRIDGE_LINERECORDER_H
#define SERIALBRIDGE_LINERECORDER_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

using RecordClock = std::chrono::system_clock;

// The first line of every recording file.
extern const char* const kRecordingHeader;

// The escaped form of a serial line's bytes (see above).
std::string EscapeLineBytes(const std::string& bytes);
// The bytes back from their escaped form; false (bytes untouched) when text
// holds a raw control or non-ASCII byte or a malformed escape.
bool UnescapeLineBytes(const std::string& text, std::string& bytes);

// One recording line, without its LF.
std::string FormatRecordingLine(RecordClock::time_point arrival, const std::string& bytes);
// Splits one recording line (without its LF) into arrival time and bytes;
// false, outputs untouched, when it is not one.
bool ParseRecordingLine(const std::string& text, RecordClock::time_point& arrival,
                        std::string& bytes);

// Where the recorder's bytes go; tests put a failing one in its place.
class RecordFiles
{
public:
    virtual ~RecordFiles() = default;
    // The size of the file at path, 0 when there is none.
    virtual std::uintmax_t Size(const std::string& path) = 0;
    // Appends bytes to the file at path, creating it; the reason on failure
    // (then nothing of bytes is left in the file), empty on success.
    virtual std::string Append(const std::string& path, const std::string& bytes) = 0;
};

// Files on disk, the last one kept open between appends.
std::unique_ptr<RecordFiles> MakeDiskRecordFiles();

class LineRecorder
{
public:
    struct Settings
    {
        // strftime pattern of the file names, in UTC.
        std::string pattern;
        // Largest size of one file; 0 for no limit.
        std::uintmax_t maxBytes = 0;
        // Bytes of serial lines the buffer holds while the writer is behind.
        std::size_t bufferBytes = 1 << 20;
    };

    struct Status
    {
        bool failing = false;
        std::string problem;       // the last write failure while failing
        std::size_t recorded = 0;  // lines written
        std::size_t dropped = 0;   // lines that did not fit in the buffer
        std::size_t overLimit = 0; // lines refused by the size limit
        std::size_t pendingBytes = 0;
    };

    using TraceSink = std::function<void(const std::string&)>;
    using Now = std::function<RecordClock::time_point()>;

    // Starts the writer, which at once opens the file for the current time
    // (so a missing folder is reported at start-up).
    LineRecorder(Settings settings, TraceSink trace, Now now = RecordClock::now,
                 std::unique_ptr<RecordFiles> files = MakeDiskRecordFiles());
    ~LineRecorder();
    LineRecorder(const LineRecorder&) = delete;
    LineRecorder& operator=(const LineRecorder&) = delete;

    // Stamps line with the clock and queues it; any thread.
    void Record(const std::string& line);
    Status GetStatus() const;

private:
    struct Entry
    {
        RecordClock::time_point arrival;
        std::string bytes;
    };

    void WriterLoop();
    // Writes the taken entries in order, up to the first failure.
    void WriteTaken();
    // Appends chunk to file, tracing a change between failing and working.
    bool AppendChunk(const std::string& chunk);
    const std::string& FileFor(RecordClock::time_point arrival);
    void SwitchTo(const std::string& path);
    bool Admit(const Entry& entry, std::string& chunk);
    void TraceDrops();

    // Fixed after construction.
    const Settings settings;
    const TraceSink trace;
    const Now now;
    const std::unique_ptr<RecordFiles> files;

    // Guarded by mutex: the buffer and what the reader and the writer share.
    mutable std::mutex mutex;
    std::condition_variable wake;
    std::deque<Entry> queue;
    std::size_t heldBytes = 0; // queued and taken, not yet written
    bool stopping = false;
    bool failing = false;
    std::string problem;
    std::size_t recorded = 0;
    std::size_t dropped = 0;
    std::size_t overLimit = 0;

    // Writer thread only.
    std::deque<Entry> taken;
    std::string currentFile;
    std::time_t nameSecond = -1;
    std::string nameForSecond;
    std::uintmax_t fileBytes = 0;
    bool headerDue = false;
    bool limitTraced = false;
    std::size_t dropsTraced = 0;
    std::size_t episodeStart = 0;
    bool dropping = false;

    std::thread writer;
};

#endif
