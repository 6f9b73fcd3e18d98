// The recorder: its format, its files and how it lives through a failing disk.
#include "LineRecorder.h"

#include "SerialTestSupport.h"
#include "WaitFor.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace
{
using namespace std::chrono;

// 2026-12-09T10:59:59Z
constexpr std::int64_t kBaseSecond = 1796813999;

TEST(RecordingFormatTest, EveryByteValueSurvivesTheRoundTripAndOnlyPrintableTextIsWritten)
{
    std::string everyByte;
    for (int b = 0; b < 256; ++b)
        everyByte += static_cast<char>(b);
    const RecordClock::time_point when{microseconds(kBaseSecond * 1000000 + 123456)};
    for (const std::string& bytes :
         {everyByte, std::string(), std::string("\r\n"), std::string("\\x41\\r"),
          std::string("$C123.4P-0.5R1.0T20.0*4A \r\n"), std::string("\0\0\r", 3)})
    {
        const std::string text = FormatRecordingLine(when, bytes);
        for (const char c : text)
            ASSERT_TRUE(c >= 0x20 && c < 0x7F) << text;
        RecordClock::time_point arrival;
        std::string back;
        ASSERT_TRUE(ParseRecordingLine(text, arrival, back)) << text;
        EXPECT_EQ(back, bytes);
        EXPECT_EQ(arrival, when);
    }
    EXPECT_EQ(FormatRecordingLine(when, "$GPGGA,1,2*47\r\n"),
              "2026-12-09T10:59:59.123456Z $GPGGA,1,2*47\\r\\n");
}

TEST(RecordingFormatTest, MalformedRecordingLinesAreRefused)
{
    const std::string stamp = "2026-12-09T10:59:59.123456Z ";
    for (const std::string& text : std::vector<std::string>{
             "$GPGGA,1,2*47\\r\\n", std::string("2026-12-09T10:59:59Z $GPGGA"),
             "2026-13-09T10:59:59.123456Z $GP", "2026-12-09T10:59:59.123456Z", stamp + "\\x4",
             stamp + "\\xg0", stamp + "\\x0a", stamp + "\\q", stamp + "end\\", stamp + "tab\there",
             stamp + "high\xff", "2026-12-09T10:59:59.123456Z_$GP"})
    {
        RecordClock::time_point arrival;
        std::string bytes = "untouched";
        EXPECT_FALSE(ParseRecordingLine(text, arrival, bytes)) << text;
        EXPECT_EQ(bytes, "untouched");
    }
}

// Files on disk that can be made to fail, as a full disk does.
class FailingFiles : public RecordFiles
{
public:
    explicit FailingFiles(std::atomic<bool>& failSwitch)
        : disk(MakeDiskRecordFiles()), fail(failSwitch)
    {
    }
    std::uintmax_t Size(const std::string& path) override { return disk->Size(path); }
    std::string Append(const std::string& path, const std::string& bytes) override
    {
        return fail ? "No space left on device" : disk->Append(path, bytes);
    }

private:
    std::unique_ptr<RecordFiles> disk;
    std::atomic<bool>& fail;
};

class LineRecorderTest : public ::testing::Test
{
protected:
    void Start(const std::string& pattern, std::uintmax_t maxBytes = 0,
               std::size_t bufferBytes = 1 << 20)
    {
        recorder = std::make_unique<LineRecorder>(
            LineRecorder::Settings{(dir.Path() / pattern).string(), maxBytes, bufferBytes},
            [this](const std::string& text)
            {
                std::lock_guard<std::mutex> lock(traceMutex);
                traces.push_back(text);
            },
            [this] { return RecordClock::time_point(microseconds(clockMicros.load())); },
            std::make_unique<FailingFiles>(failWrites));
    }
    void SetClock(double secondsAfterBase)
    {
        clockMicros = kBaseSecond * 1000000 + static_cast<std::int64_t>(secondsAfterBase * 1e6);
    }
    bool WaitWritten()
    {
        return moostest::WaitFor([this] { return recorder->GetStatus().pendingBytes == 0; });
    }
    std::vector<std::string> TracesWith(const std::string& needle)
    {
        std::lock_guard<std::mutex> lock(traceMutex);
        std::vector<std::string> found;
        for (const std::string& text : traces)
            if (text.find(needle) != std::string::npos)
                found.push_back(text);
        return found;
    }
    // The serial lines of a recording file, in order.
    std::vector<std::string> LinesOf(const std::string& name)
    {
        std::istringstream in(serialtest::ReadFile(dir.Path() / name));
        std::vector<std::string> lines;
        std::string text;
        std::getline(in, text);
        EXPECT_EQ(text, kRecordingHeader);
        for (; std::getline(in, text);)
        {
            RecordClock::time_point arrival;
            std::string bytes;
            EXPECT_TRUE(ParseRecordingLine(text, arrival, bytes)) << text;
            lines.push_back(bytes);
        }
        return lines;
    }

    serialtest::TempDir dir;
    std::atomic<std::int64_t> clockMicros{kBaseSecond * 1000000};
    std::atomic<bool> failWrites{false};
    std::mutex traceMutex;
    std::vector<std::string> traces;
    std::unique_ptr<LineRecorder> recorder;
};

TEST_F(LineRecorderTest, EachLineGoesToTheFileNamedByItsArrivalTime)
{
    SetClock(0.5);
    Start("gps-%Y%m%d-%H.nmea");
    recorder->Record("$GPGGA,1*00\r\n");
    recorder->Record(std::string("bin\0\xff", 5));
    SetClock(1.25);
    recorder->Record("$GPGGA,2*00\r\n");
    ASSERT_TRUE(WaitWritten());
    EXPECT_EQ(LinesOf("gps-20261209-10.nmea"),
              (std::vector<std::string>{"$GPGGA,1*00\r\n", std::string("bin\0\xff", 5)}));
    EXPECT_EQ(LinesOf("gps-20261209-11.nmea"), std::vector<std::string>{"$GPGGA,2*00\r\n"});
    EXPECT_NE(serialtest::ReadFile(dir.Path() / "gps-20261209-11.nmea")
                  .find("2026-12-09T11:00:00.250000Z $GPGGA,2*00\\r\\n\n"),
              std::string::npos);
    EXPECT_EQ(recorder->GetStatus().recorded, 3u);
}

TEST_F(LineRecorderTest, AFileStopsAtRecordMaxBytesUntilTheNameChanges)
{
    const std::string line = "$GPGGA,1*00\r\n";
    const std::size_t perLine = FormatRecordingLine({}, line).size() + 1;
    Start("gps-%H.nmea", std::strlen(kRecordingHeader) + 1 + 2 * perLine);
    for (int i = 0; i < 5; ++i)
        recorder->Record(line);
    ASSERT_TRUE(WaitWritten());
    EXPECT_EQ(LinesOf("gps-10.nmea").size(), 2u);
    EXPECT_EQ(recorder->GetStatus().overLimit, 3u);
    EXPECT_EQ(TracesWith("RecordMaxBytes").size(), 1u);
    SetClock(3600);
    recorder->Record(line);
    ASSERT_TRUE(WaitWritten());
    EXPECT_EQ(LinesOf("gps-11.nmea").size(), 1u);
}

// A folder that is missing or cannot be written, or a full disk: traced
// once; the lines recorded meanwhile are kept and written once, in order,
// when recording can resume.
TEST_F(LineRecorderTest, AFailingFileIsTracedOnceAndItsLinesWrittenWhenItRecovers)
{
    struct Case
    {
        const char* name;
        bool makeFolder;
        mode_t mode;
        bool fullDisk;
    };
    for (const Case& c : {Case{"missing", false, 0, false}, Case{"readonly", true, 0555, false},
                          Case{"full", true, 0755, true}})
    {
        SCOPED_TRACE(c.name);
        if (c.mode == 0555 && ::geteuid() == 0)
            continue; // root writes anywhere
        const auto folder = dir.Path() / c.name;
        if (c.makeFolder)
        {
            std::filesystem::create_directory(folder);
            ::chmod(folder.c_str(), c.mode);
        }
        Start(std::string(c.name) + "/gps.nmea");
        if (c.fullDisk)
        {
            ASSERT_TRUE(WaitWritten()); // the disk fills once the file is begun
            failWrites = true;
        }
        recorder->Record("$GPGGA,1*00\r\n");
        recorder->Record("$GPGGA,2*00\r\n");
        ASSERT_TRUE(moostest::WaitFor([this] { return recorder->GetStatus().failing; }));
        if (c.fullDisk)
        {
            EXPECT_EQ(recorder->GetStatus().problem, "No space left on device");
        }
        EXPECT_EQ(TracesWith("recording failed").size(), 1u);
        std::filesystem::create_directories(folder);
        ::chmod(folder.c_str(), 0755);
        failWrites = false;
        recorder->Record("$GPGGA,3*00\r\n");
        ASSERT_TRUE(WaitWritten());
        EXPECT_FALSE(recorder->GetStatus().failing);
        EXPECT_EQ(
            LinesOf(std::string(c.name) + "/gps.nmea"),
            (std::vector<std::string>{"$GPGGA,1*00\r\n", "$GPGGA,2*00\r\n", "$GPGGA,3*00\r\n"}));
        EXPECT_EQ(TracesWith("again").size(), 1u);
        recorder.reset();
        traces.clear();
    }
}

TEST_F(LineRecorderTest, LinesThatDoNotFitTheBufferAreCountedAndTraced)
{
    failWrites = true;
    Start("gps.nmea", 0, 100);
    const std::string line(30, 'x');
    for (int i = 0; i < 10; ++i)
        recorder->Record(line);
    EXPECT_EQ(recorder->GetStatus().dropped, 7u);
    ASSERT_TRUE(moostest::WaitFor([this] { return !TracesWith("buffer full").empty(); }));
    failWrites = false;
    recorder->Record("y");
    ASSERT_TRUE(WaitWritten());
    ASSERT_TRUE(moostest::WaitFor([this] { return !TracesWith("7 lines were not").empty(); }));
    EXPECT_EQ(LinesOf("gps.nmea").size(), 4u);
}
} // namespace
