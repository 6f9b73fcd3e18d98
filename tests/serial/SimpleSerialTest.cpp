#include "SimpleSerial.h"
#include "PseudoTerminal.h"
#include "SerialTestSupport.h"

#include <boost/system/system_error.hpp>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <future>
#include <memory>
#include <sstream>
#include <thread>

using serialtest::WaitFor;

namespace
{
class SimpleSerialTest : public ::testing::Test
{
protected:
    SimpleSerial& Open(unsigned baud = 19200)
    {
        reader = std::make_unique<SimpleSerial>(pty.farEndPath(), baud);
        return *reader;
    }

    void Send(const std::string& bytes)
    {
        ASSERT_EQ(pty.write(bytes, std::chrono::seconds(5)), PseudoTerminal::WriteResult::Written);
    }

    // Sends bytes and waits until the kernel holds them all for the reader.
    void SendAndSettle(const std::string& bytes)
    {
        const std::size_t before = pty.farEndPending();
        Send(bytes);
        ASSERT_TRUE(WaitFor([&] { return pty.farEndPending() == before + bytes.size(); }));
    }

    // For more than the kernel holds: the reader must drain it meanwhile.
    std::future<PseudoTerminal::WriteResult> SendWhileReading(const std::string& bytes)
    {
        return std::async(std::launch::async,
                          [this, bytes] { return pty.write(bytes, std::chrono::seconds(10)); });
    }

    std::vector<std::string> ReadLines(std::size_t count)
    {
        std::vector<std::string> lines;
        while (lines.size() < count)
            lines.push_back(reader->readString());
        return lines;
    }

    static std::string Numbered(int n) { return "$GPGGA,line," + std::to_string(n) + "\r\n"; }
    // Lines numbered from first on, as one burst.
    static std::string NumberedBurst(int first, int count)
    {
        std::string burst;
        for (int n = first; n < first + count; ++n)
            burst += Numbered(n);
        return burst;
    }

    PseudoTerminal pty;
    std::unique_ptr<SimpleSerial> reader;
};

TEST_F(SimpleSerialTest, LineIsReturnedWithItsCrLf)
{
    Open();
    Send("$GPGGA,123519,4807.038,N\r\n");
    EXPECT_EQ(reader->readString(), "$GPGGA,123519,4807.038,N\r\n");
}

TEST_F(SimpleSerialTest, LoneLineFeedOrCarriageReturnDoesNotEndALine)
{
    Open();
    Send("a\nb\rc\r\n");
    EXPECT_EQ(reader->readString(), "a\nb\rc\r\n");
}

TEST_F(SimpleSerialTest, EmptyLineIsJustItsLineEnd)
{
    Open();
    Send("\r\nnext\r\n");
    EXPECT_EQ(reader->readString(), "\r\n");
    EXPECT_EQ(reader->readString(), "next\r\n");
}

TEST_F(SimpleSerialTest, LinesArrivingTogetherAreEachReturnedOnceInOrder)
{
    Open();
    SendAndSettle(NumberedBurst(0, 7));
    const std::vector<std::string> lines = ReadLines(7);
    for (int n = 0; n < 7; ++n)
        EXPECT_EQ(lines[n], Numbered(n));
    EXPECT_EQ(reader->droppedLines(), 0u);
}

TEST_F(SimpleSerialTest, LineSplitAcrossReadsIsReturnedWhole)
{
    Open();
    auto line = std::async(std::launch::async, [this] { return reader->readString(); });
    for (const std::string part : {"$GPG", "GA,1\r", "\nrest"})
    {
        Send(part);
        // The reader takes each part before the next is sent.
        ASSERT_TRUE(WaitFor([&] { return pty.farEndPending() == 0; }));
    }
    EXPECT_EQ(line.get(), "$GPGGA,1\r\n");
    Send("\r\n");
    EXPECT_EQ(reader->readString(), "rest\r\n");
}

TEST_F(SimpleSerialTest, MissingDeviceThrowsTheSystemsError)
{
    try
    {
        SimpleSerial missing("/dev/no-such-serial-device", 19200);
        FAIL() << "opened a missing device";
    }
    catch (const boost::system::system_error& e)
    {
        EXPECT_EQ(e.code().value(), ENOENT);
    }
}

TEST_F(SimpleSerialTest, DeviceThatIsNoTerminalIsRefused)
{
    EXPECT_THROW(SimpleSerial("/dev/null", 19200), boost::system::system_error);
}

TEST_F(SimpleSerialTest, ClosedFarEndEndsReadingWithAnError)
{
    Open();
    Send("whole\r\npartial");
    EXPECT_EQ(reader->readString(), "whole\r\n");
    pty.close();
    EXPECT_THROW(reader->readString(), boost::system::system_error);
}

TEST_F(SimpleSerialTest, LinesHeldWhenTheFarEndClosesAreReturnedBeforeTheError)
{
    // As an adapter pulled out right after a burst: the reader already holds
    // the burst when the device fails.
    Open();
    SendAndSettle(NumberedBurst(0, 6));
    EXPECT_EQ(reader->readString(), Numbered(0));
    pty.close();
    std::string line;
    for (int n = 1; n < 6; ++n)
    {
        ASSERT_TRUE(reader->readLine(line, std::chrono::seconds(5)));
        EXPECT_EQ(line, Numbered(n));
    }
    EXPECT_THROW(reader->readLine(line, std::chrono::seconds(5)), boost::system::system_error);
    // The failure stays until the device is opened again.
    EXPECT_THROW(reader->readString(), boost::system::system_error);
}

TEST_F(SimpleSerialTest, OverlongRunIsDiscardedOnceTracedAndReadingGoesOn)
{
    Open();
    testing::internal::CaptureStderr();
    auto sent = SendWhileReading(std::string(3 * SimpleSerial::kMaxLineLength, 'x') +
                                 "\r\n$GPGGA,after\r\n");
    EXPECT_EQ(reader->readString(), "$GPGGA,after\r\n");
    EXPECT_EQ(sent.get(), PseudoTerminal::WriteResult::Written);
    const std::string traced = testing::internal::GetCapturedStderr();
    EXPECT_EQ(serialtest::LinesWith(traced, "discarding a run").size(), 1u) << traced;
    EXPECT_EQ(reader->discardedRuns(), 1u);
}

TEST_F(SimpleSerialTest, LineOfTheLongestAcceptedLengthIsKept)
{
    Open();
    const std::string longest = std::string(SimpleSerial::kMaxLineLength - 2, 'y') + "\r\n";
    auto sent = SendWhileReading(longest + "z\r\n");
    EXPECT_EQ(reader->readString(), longest);
    EXPECT_EQ(reader->readString(), "z\r\n");
    EXPECT_EQ(sent.get(), PseudoTerminal::WriteResult::Written);
}

TEST_F(SimpleSerialTest, BurstFarAboveTheLineRateIsReturnedWholeWhileTheReaderKeepsUp)
{
    // A USB receiver hands over its bytes at its own speed, whatever the
    // nominal rate: 100 lines at once are many seconds of a 1200 baud line.
    Open(1200);
    SendAndSettle(NumberedBurst(0, 100));
    const std::vector<std::string> lines = ReadLines(100);
    for (int n = 0; n < 100; ++n)
        EXPECT_EQ(lines[n], Numbered(n));
    EXPECT_EQ(reader->droppedLines(), 0u);
}

TEST_F(SimpleSerialTest, ReaderThatKeepsUpNeverDrops)
{
    Open(1200);
    for (int n = 0; n < 50; ++n)
    {
        Send(Numbered(n));
        EXPECT_EQ(reader->readString(), Numbered(n));
    }
    EXPECT_EQ(reader->droppedLines(), 0u);
}
TEST_F(SimpleSerialTest, LinesThatWaitedWhileNobodyReadAreDroppedNotReturnedAsCurrent)
{
    // A bridge that stops reading while its server is away finds old lines
    // when it comes back.
    Open();
    for (int n = 0; n < 5; ++n)
        SendAndSettle(Numbered(n));
    std::this_thread::sleep_for(SimpleSerial::kMaxLineAge + std::chrono::milliseconds(300));

    testing::internal::CaptureStderr();
    std::string line;
    EXPECT_FALSE(reader->readLine(line, std::chrono::milliseconds(0))) << line;
    Send(Numbered(5));
    ASSERT_TRUE(reader->readLine(line, std::chrono::seconds(5)));
    const std::string traced = testing::internal::GetCapturedStderr();
    EXPECT_EQ(line, Numbered(5));
    EXPECT_EQ(reader->droppedLines(), 5u);
    EXPECT_EQ(serialtest::LinesWith(traced, "dropped 5 lines").size(), 1u) << traced;
    EXPECT_EQ(serialtest::LinesWith(traced, "while nothing read them").size(), 1u) << traced;
}

TEST_F(SimpleSerialTest, LoopSlowerThanTheDeviceGetsLinesNoOlderThanTheAgeBound)
{
    // Fifty lines a second, each carrying when it was sent, read ten a second
    // for longer than the bound; a high rate, so that no byte count saves it.
    using namespace std::chrono;
    Open(115200);
    std::atomic<bool> sending{true};
    auto writer = std::async(std::launch::async,
                             [&]
                             {
                                 for (int n = 0; sending; ++n)
                                 {
                                     const auto sent = steady_clock::now().time_since_epoch();
                                     pty.write("$T," + std::to_string(n) + "," +
                                                   std::to_string(sent.count()) + "\r\n",
                                               seconds(1));
                                     std::this_thread::sleep_for(milliseconds(20));
                                 }
                             });
    testing::internal::CaptureStderr();
    long lastNumber = -1;
    milliseconds oldest{0};
    for (const auto until = steady_clock::now() + milliseconds(3500); steady_clock::now() < until;)
    {
        std::this_thread::sleep_for(milliseconds(100));
        std::string line;
        ASSERT_TRUE(reader->readLine(line, seconds(5)));
        std::istringstream fields(line.substr(3));
        long number = 0;
        long long sent = 0;
        char comma = 0;
        fields >> number >> comma >> sent;
        EXPECT_GT(number, lastNumber) << "lines out of order";
        lastNumber = number;
        oldest =
            std::max(oldest, duration_cast<milliseconds>(steady_clock::now().time_since_epoch() -
                                                         steady_clock::duration(sent)));
    }
    sending = false;
    writer.get();
    const std::string traced = testing::internal::GetCapturedStderr();
    // The loop's own period and a loaded machine's lateness on top.
    EXPECT_LE(oldest, SimpleSerial::kMaxLineAge + seconds(1));
    EXPECT_GT(reader->droppedLines(), 0u);
    EXPECT_EQ(serialtest::LinesWith(traced, "faster than the loop reads").size(), 1u) << traced;
}

TEST_F(SimpleSerialTest, LinesBeyondThePendingCapDropTheOldestAndTheTraceSaysHowMany)
{
    // The caller takes one line per hundred that come, all within a moment.
    Open();
    testing::internal::CaptureStderr();
    std::vector<std::string> lines;
    int sent = 0;
    for (; sent < 5000; sent += 100)
    {
        SendAndSettle(NumberedBurst(sent, 100));
        lines.push_back(reader->readString());
    }
    std::string line;
    while (reader->readLine(line, std::chrono::milliseconds(0)))
        lines.push_back(line);
    const std::string traced = testing::internal::GetCapturedStderr();

    EXPECT_EQ(lines.back(), Numbered(sent - 1));
    EXPECT_EQ(lines.size() + reader->droppedLines(), std::size_t(sent));
    // Everything that fitted under the cap was kept.
    EXPECT_GE(lines.size() * Numbered(sent - 1).size(), SimpleSerial::kMaxPendingBytes);
    for (std::size_t i = 1; i < lines.size(); ++i)
        EXPECT_LT(std::stoi(lines[i - 1].substr(12)), std::stoi(lines[i].substr(12)));
    EXPECT_EQ(serialtest::LinesWith(traced, "more than 65536 bytes").size(), 1u) << traced;
    EXPECT_EQ(serialtest::LinesWith(traced, "is current again").size(), 1u) << traced;
}
} // namespace
