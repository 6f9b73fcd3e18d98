#include "SimpleSerial.h"
#include "PseudoTerminal.h"
#include "SerialTestSupport.h"

#include <boost/system/system_error.hpp>
#include <gtest/gtest.h>

#include <cerrno>
#include <future>
#include <memory>

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
    std::string burst;
    for (int n = 0; n < 7; ++n)
        burst += Numbered(n);
    SendAndSettle(burst);
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
    std::string burst;
    for (int n = 0; n < 6; ++n)
        burst += Numbered(n);
    SendAndSettle(burst);
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
    std::string burst;
    for (int n = 0; n < 100; ++n)
        burst += Numbered(n);
    SendAndSettle(burst);
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
} // namespace
