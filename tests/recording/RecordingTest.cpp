// Reading a recording back, and SensorSim replaying it into a serial line.
#include "Recording.h"
#include "SimpleSerial.h"

#include "SerialTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <sstream>

namespace
{
using namespace std::chrono;

RecordClock::time_point At(double seconds)
{
    return RecordClock::time_point(
        duration_cast<RecordClock::duration>(duration<double>(1796813999.0 + seconds)));
}

std::string Recorded(double seconds, const std::string& bytes)
{
    return FormatRecordingLine(At(seconds), bytes) + "\n";
}

TEST(RecordingReaderTest, DamagedLinesAreSkippedAndCountedAndTheSoundOnesKept)
{
    std::istringstream in(
        std::string(kRecordingHeader) + "\n" + Recorded(0.0, "$GPGGA,1*00\r\n") +
        "no time at all\n" + "2026-12-09T10:59:59.000000Z raw\x01\xff binary\n" + "# a comment\n" +
        "2026-12-09T10:59:59.000000Z " + std::string(kMaxRecordingLine, 'A') + "\n" +
        Recorded(1.5, std::string("\0\r", 2)) + Recorded(2.0, "$GPGGA,cut").substr(0, 35));
    RecordingReader reader(in);
    std::vector<RecordedLine> lines;
    for (RecordedLine line; reader.Next(line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].bytes, "$GPGGA,1*00\r\n");
    EXPECT_EQ(lines[1].bytes, std::string("\0\r", 2));
    EXPECT_EQ(lines[1].arrival - lines[0].arrival, milliseconds(1500));
    EXPECT_EQ(reader.Skipped(), 4u);
}

TEST(RecordingReaderTest, ARecordingIsToldFromACaptureByItsFirstLine)
{
    serialtest::TempDir dir;
    const struct
    {
        const char* name;
        std::string text;
        bool recording;
    } cases[] = {{"header", std::string(kRecordingHeader) + "\n", true},
                 {"headless", Recorded(0, "$GPGGA\r\n"), true},
                 {"capture", "$GPGGA,000941.00,4404.13387,N*4D\r\n", false},
                 {"empty", "", false},
                 {"binary", std::string(200000, '\x01'), false}};
    for (const auto& c : cases)
    {
        const std::string path = (dir.Path() / c.name).string();
        std::ofstream(path, std::ios::binary) << c.text;
        EXPECT_EQ(IsRecordingFile(path), c.recording) << c.name;
    }
    EXPECT_FALSE(IsRecordingFile((dir.Path() / "absent").string()));
    const std::string pipe = (dir.Path() / "pipe").string();
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_FALSE(IsRecordingFile(pipe)); // and does not wait for a writer
}

class ReplayTest : public ::testing::Test
{
protected:
    // Starts SensorSim replaying a recording made of text.
    std::unique_ptr<serialtest::ChildProcess> Replay(const std::string& text,
                                                     std::vector<std::string> options = {})
    {
        const std::string path = (dir.Path() / "session.rec").string();
        std::ofstream(path, std::ios::binary) << text;
        options.insert(options.begin(), {serialtest::Program("SensorSim"), "--replay", path});
        auto sim = std::make_unique<serialtest::ChildProcess>(options);
        EXPECT_TRUE(sim->Started());
        return sim;
    }

    serialtest::TempDir dir;
};

TEST_F(ReplayTest, RecordedLinesArriveAsTheyCameWithTheirGapsAndDamagedOnesSkipped)
{
    auto sim = Replay(std::string(kRecordingHeader) + "\n" + Recorded(0.0, "$GPGGA,1*00\r\n") +
                      Recorded(0.05, std::string("$C1\0P2\r\n", 8)) + "garbage\n" +
                      Recorded(1.55, "$GPGGA,3*00\r\n") + Recorded(1.6, "$GPGGA,4*00\r\n"));
    SimpleSerial device(sim->FirstLine(), 19200);
    std::vector<std::string> lines;
    std::vector<steady_clock::time_point> arrivals;
    for (std::string line; lines.size() < 4 && device.readLine(line, seconds(10));)
    {
        lines.push_back(line);
        arrivals.push_back(steady_clock::now());
    }
    ASSERT_EQ(lines, (std::vector<std::string>{"$GPGGA,1*00\r\n", std::string("$C1\0P2\r\n", 8),
                                               "$GPGGA,3*00\r\n", "$GPGGA,4*00\r\n"}));
    // The line after the gap cannot come early; late only by the load.
    EXPECT_GE(arrivals[2] - arrivals[0], milliseconds(1300));
    EXPECT_LT(arrivals[2] - arrivals[0], seconds(10));
    EXPECT_EQ(sim->Wait(), 0);
    EXPECT_EQ(serialtest::LinesWith(sim->Stderr(), "1 damaged lines").size(), 1u) << sim->Stderr();
}

TEST_F(ReplayTest, FastReplayIgnoresTheRecordedGaps)
{
    auto sim =
        Replay(Recorded(0.0, "$GPGGA,1*00\r\n") + Recorded(600.0, "$GPGGA,2*00\r\n"), {"--fast"});
    SimpleSerial device(sim->FirstLine(), 19200);
    std::string line;
    ASSERT_TRUE(device.readLine(line, seconds(10)));
    ASSERT_TRUE(device.readLine(line, seconds(60)));
    EXPECT_EQ(line, "$GPGGA,2*00\r\n");
    EXPECT_EQ(sim->Wait(), 0);
}
} // namespace
