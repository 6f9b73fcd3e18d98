#include "SimpleSerial.h"
#include "LineAssembler.h"
#include "PseudoTerminal.h"
#include "SerialTestSupport.h"

#include <boost/system/system_error.hpp>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <future>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

using serialtest::WaitFor;
using namespace std::chrono_literals;

namespace
{
std::string Numbered(int n)
{
    return "$GPGGA,line," + std::to_string(n) + "\r\n";
}

// Lines numbered from first on, as one burst.
std::string NumberedBurst(int first, int count)
{
    std::string burst;
    for (int n = first; n < first + count; ++n)
        burst += Numbered(n);
    return burst;
}

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

    PseudoTerminal pty;
    std::unique_ptr<SimpleSerial> reader;
};

// Only CR LF ends a line, and every line comes back once, whole and in
// order, with its line end; the longest accepted line is kept.
TEST_F(SimpleSerialTest, LinesAreReturnedWithTheirCrLf)
{
    const std::string longest = std::string(SimpleSerial::kMaxLineLength - 2, 'y') + "\r\n";
    const struct
    {
        std::string bytes;
        std::vector<std::string> lines;
    } cases[] = {
        {"$GPGGA,123519,4807.038,N\r\n", {"$GPGGA,123519,4807.038,N\r\n"}},
        {"a\nb\rc\r\n", {"a\nb\rc\r\n"}},
        {"\r\nnext\r\n", {"\r\n", "next\r\n"}},
        {longest + "z\r\n", {longest, "z\r\n"}},
    };
    Open();
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.bytes.substr(0, 20));
        auto sent = SendWhileReading(c.bytes);
        EXPECT_EQ(ReadLines(c.lines.size()), c.lines);
        EXPECT_EQ(sent.get(), PseudoTerminal::WriteResult::Written);
    }
}

// A USB receiver hands over its bytes at its own speed, whatever the
// nominal rate: 100 lines at once are many seconds of a 1200 baud line.
TEST_F(SimpleSerialTest, LinesArrivingTogetherAreEachReturnedOnceInOrder)
{
    for (const auto& [baud, count] : {std::pair<unsigned, int>{19200, 7}, {1200, 100}})
    {
        SCOPED_TRACE(baud);
        reader.reset();
        Open(baud);
        SendAndSettle(NumberedBurst(0, count));
        const std::vector<std::string> lines = ReadLines(count);
        for (int n = 0; n < count; ++n)
            EXPECT_EQ(lines[n], Numbered(n));
        EXPECT_EQ(reader->droppedLines(), 0u);
    }
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

TEST_F(SimpleSerialTest, DeviceThatCannotBeReadIsRefusedWithTheSystemsError)
{
    for (const auto& [path, error] :
         {std::pair<const char*, int>{"/dev/no-such-serial-device", ENOENT},
          {"/dev/null", 0}}) // no terminal: any error
    {
        try
        {
            SimpleSerial device(path, 19200);
            ADD_FAILURE() << "opened " << path;
        }
        catch (const boost::system::system_error& e)
        {
            if (error != 0)
            {
                EXPECT_EQ(e.code().value(), error) << path;
            }
        }
    }
}

// The errno of opening path in a process without root's powers; 0 when it
// opened.
int OpenErrorOfAnOrdinaryProcess(const std::string& path)
{
    const pid_t child = ::fork();
    if (child == 0)
    {
        if (::geteuid() == 0 && ::setuid(65534) != 0)
            ::_exit(255);
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ::_exit(fd < 0 ? errno : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

// An interruption ends the wait in progress, or the next one when it comes
// first, once; readString is not cut short and lines still arrive after it.
TEST_F(SimpleSerialTest, InterruptedWaitReturnsAtOnceWithoutALine)
{
    SimpleSerial& serial = Open();
    std::string line;
    for (const bool fromAnotherThread : {false, true})
    {
        SCOPED_TRACE(fromAnotherThread ? "while waiting" : "before the wait");
        std::thread interrupter;
        if (fromAnotherThread)
            interrupter = std::thread([&serial] { serial.interruptWait(); });
        else
            serial.interruptWait();
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(serial.readLine(line, 300s));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
        if (interrupter.joinable())
            interrupter.join();
    }
    EXPECT_FALSE(serial.readLine(line, 50ms)) << "an interruption is taken once";
    serial.interruptWait();
    Send(Numbered(1));
    EXPECT_EQ(serial.readString(), Numbered(1));
}

// cat on the device must not steal the bridge's lines.
TEST_F(SimpleSerialTest, OrdinaryProcessCannotOpenTheDeviceWhileItIsRead)
{
    ::chmod(pty.farEndPath().c_str(), 0666);
    Open();
    EXPECT_EQ(OpenErrorOfAnOrdinaryProcess(pty.farEndPath()), EBUSY);
    reader.reset();
    EXPECT_EQ(OpenErrorOfAnOrdinaryProcess(pty.farEndPath()), 0);
}

TEST_F(SimpleSerialTest, LinesHeldWhenTheFarEndClosesAreAllReturnedBeforeTheErrorWhateverTheirAge)
{
    // As an adapter pulled out 50 ms after a burst, read one line per
    // 200 ms: the last lines are older than the age bound when their turn
    // comes, and are the device's last words; the partial line after
    // them is not.
    Open();
    auto now = std::chrono::steady_clock::now();
    reader->setClock([&] { return now; });
    SendAndSettle(NumberedBurst(0, 15) + "partial");
    EXPECT_EQ(reader->readString(), Numbered(0));
    const auto burstRead = now;
    now += std::chrono::milliseconds(50);
    pty.close();
    std::string line;
    for (int n = 1; n < 15; ++n)
    {
        now += std::chrono::milliseconds(200);
        ASSERT_TRUE(reader->readLine(line, std::chrono::seconds(5)));
        EXPECT_EQ(line, Numbered(n));
    }
    EXPECT_EQ(reader->droppedLines(), 0u);
    EXPECT_EQ(reader->lastArrival(), burstRead);
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
// The line assembler alone, on a clock the test moves.
using TimePoint = LineAssembler::TimePoint;

class LineAssemblerTest : public ::testing::Test
{
protected:
    LineAssemblerTest() { lines.start(At(0)); }

    // Milliseconds of the test's clock, an hour after its epoch.
    static TimePoint At(long ms) { return TimePoint{} + 1h + std::chrono::milliseconds(ms); }

    void Feed(const std::string& bytes, long ms) { lines.feed(bytes.data(), bytes.size(), At(ms)); }

    // One call of the caller at ms, as the device's owner makes it: the
    // device's bytes are fed, then one line is taken if there is one.
    std::optional<std::string> Call(long ms, const std::string& found = "")
    {
        lines.beginCall(At(ms));
        if (!found.empty())
            Feed(found, ms);
        std::string line;
        const bool got = lines.take(line, At(ms));
        lines.endCall(At(ms));
        return got ? std::optional<std::string>(line) : std::nullopt;
    }

    std::size_t TracesWith(const std::string& needle) const
    {
        std::size_t count = 0;
        for (const std::string& text : traces)
            count += text.find(needle) != std::string::npos;
        return count;
    }

    std::vector<std::string> traces;
    LineAssembler lines{"/dev/ttyTEST",
                        [this](const std::string& text) { traces.push_back(text); }};
};

TEST_F(LineAssemblerTest, LinesAreFramedByCrLfWhateverTheReadsBoundaries)
{
    const std::string longest = std::string(LineAssembler::kMaxLineLength - 2, 'y') + "\r\n";
    const std::string overlong = std::string(3 * LineAssembler::kMaxLineLength, 'x');
    struct Case
    {
        std::string bytes;
        std::vector<std::string> expected;
        std::size_t discardedRuns;
    } cases[] = {
        {"$GPGGA,1\r\n", {"$GPGGA,1\r\n"}, 0},
        {"a\nb\rc\r\n", {"a\nb\rc\r\n"}, 0},
        {"\r\nnext\r\n", {"\r\n", "next\r\n"}, 0},
        {"no end yet", {}, 0},
        {longest + "z\r\n", {longest, "z\r\n"}, 0},
        {overlong + "\r\nafter\r\n", {"after\r\n"}, 1},
        // The run's own CR LF split between reads of any size.
        {overlong + "\r", {}, 1},
    };
    // An overlong run is traced once, ending at its CR LF.
    const std::string traced =
        "discarding a run of more than 4096 bytes without CR LF on /dev/ttyTEST";
    for (const Case& c : cases)
        for (std::size_t chunk : {std::size_t(1), std::size_t(7), c.bytes.size()})
        {
            std::size_t traces = 0;
            LineAssembler fresh("/dev/ttyTEST", [&](const std::string& text)
                                { traces += text.find(traced) != std::string::npos; });
            fresh.start(At(0));
            for (std::size_t at = 0; at < c.bytes.size(); at += chunk)
                fresh.feed(c.bytes.data() + at, std::min(chunk, c.bytes.size() - at), At(0));
            std::vector<std::string> got;
            for (std::string line; fresh.take(line, At(0));)
                got.push_back(line);
            EXPECT_EQ(got, c.expected) << c.bytes.substr(0, 20) << " in chunks of " << chunk;
            EXPECT_EQ(fresh.drops().overlongRuns, c.discardedRuns);
            EXPECT_EQ(traces, c.discardedRuns);
        }
}

TEST_F(LineAssemblerTest, LinesThatWaitedWhileNobodyReadAreDroppedNotReturnedAsCurrent)
{
    EXPECT_EQ(Call(0), std::nullopt);
    // The caller comes back 2.8 s later and finds five lines: they may have
    // waited all that time, the newest too.
    EXPECT_EQ(Call(2800, NumberedBurst(0, 5)), std::nullopt);
    EXPECT_EQ(lines.drops().waitedAway, 5u);
    EXPECT_EQ(TracesWith("dropped 5 lines from /dev/ttyTEST that waited while nothing read them "
                         "for 2.8 s"),
              1u);
    // The device was heard from when they were found.
    EXPECT_EQ(lines.lastArrival(), At(2800));
    Feed(Numbered(5), 2900);
    EXPECT_EQ(Call(2900), Numbered(5));
}

TEST_F(LineAssemblerTest, LoopSlowerThanTheDeviceGetsLinesNoOlderThanTheAgeBound)
{
    // Fifty lines a second, read ten a second for longer than the bound.
    int sent = 0;
    int lastTaken = -1;
    for (long ms = 0; ms <= 3500; ms += 20)
    {
        Feed(Numbered(sent++), ms);
        if (ms % 100 != 0)
            continue;
        const std::optional<std::string> line = Call(ms);
        ASSERT_TRUE(line);
        const int number = std::stoi(line->substr(12));
        EXPECT_GT(number, lastTaken) << "lines out of order";
        EXPECT_LE(ms - 20 * number, LineAssembler::kMaxLineAge.count()) << *line;
        lastTaken = number;
    }
    EXPECT_GT(lines.drops().stale, 0u);
    EXPECT_EQ(lines.drops().lines(), lines.drops().stale);
    // Told once, not once a pass, and in the reader's own words.
    EXPECT_EQ(TracesWith("waited more than 2 s unread"), 1u);
    EXPECT_EQ(TracesWith("AppTick"), 0u);
}

// A loop that stays behind for minutes: a summary a minute, with the
// program's advice, whose counts add up to every line dropped; the total
// when the program ends.
TEST_F(LineAssemblerTest, DropsOfASlowLoopAreAllCountedOnceAMinuteAndInTheTotal)
{
    lines.setBehindAdvice("raise \"AppTick\"");
    int sent = 0;
    for (long ms = 0; ms <= 150000; ms += 20)
    {
        Feed(Numbered(sent++), ms);
        if (ms % 2500 == 0)
            Call(ms);
    }
    // The first pass after the start looks like an absence: told as one.
    std::size_t told = 0;
    for (const std::string& text : traces)
        told += std::stoul(text.substr(text.find("dropped ") + 8));
    EXPECT_EQ(TracesWith("2 s unread"), 3u); // at the first drop, a minute and two later
    EXPECT_EQ(TracesWith("; raise \"AppTick\""), 3u);
    // Only the last minute's drops wait for the next summary.
    EXPECT_LE(told, lines.drops().lines());
    EXPECT_GE(told + 60 * 50, lines.drops().lines());
    lines.reportTotal();
    EXPECT_EQ(TracesWith(std::to_string(lines.drops().lines()) +
                         " lines from /dev/ttyTEST were dropped in all: " +
                         std::to_string(lines.drops().stale) + " waited too long"),
              1u);
}

TEST_F(LineAssemblerTest, BurstReadSlowlyKeepsItsNewestLines)
{
    // Fifteen lines in one block, read one per 200 ms: 3 s for the last.
    // The device hangs up 50 ms after the burst, or stays silent.
    for (const bool hangUp : {true, false})
    {
        LineAssembler burst("/dev/ttyTEST", nullptr);
        burst.start(At(0));
        const std::string bytes = NumberedBurst(0, 15);
        burst.feed(bytes.data(), bytes.size(), At(0));
        if (hangUp)
            burst.end();
        std::vector<std::string> got;
        std::string line;
        for (long ms = 200; burst.take(line, At(ms)); ms += 200)
            got.push_back(line);
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got.back(), Numbered(14)) << "hang-up " << hangUp;
        if (hangUp)
        {
            EXPECT_EQ(got.size(), 15u) << "the last lines of a lost device are all returned";
        }
        EXPECT_EQ(got.size() + burst.drops().stale, 15u);
    }
}

TEST_F(LineAssemblerTest, LinesBeyondThePendingCapDropTheOldestAndTheTraceSaysHowMany)
{
    // The caller takes one line per hundred that come, all within a moment.
    std::vector<std::string> taken;
    int sent = 0;
    for (; sent < 5000; sent += 100)
        taken.push_back(*Call(0, NumberedBurst(sent, 100)));
    while (std::optional<std::string> line = Call(0))
        taken.push_back(*line);

    EXPECT_EQ(taken.back(), Numbered(sent - 1));
    EXPECT_EQ(taken.size() + lines.drops().noRoom, std::size_t(sent));
    EXPECT_EQ(lines.drops().lines(), lines.drops().noRoom);
    // Everything that fitted under the cap was kept.
    EXPECT_GE(taken.size() * Numbered(sent - 1).size(), LineAssembler::kMaxPendingBytes);
    for (std::size_t i = 1; i < taken.size(); ++i)
        EXPECT_LT(std::stoi(taken[i - 1].substr(12)), std::stoi(taken[i].substr(12)));
    EXPECT_EQ(TracesWith("more than 65536 bytes"), 1u);
    lines.reportTotal();
    EXPECT_EQ(TracesWith(std::to_string(lines.drops().noRoom) + " for room"), 1u);
}

TEST_F(LineAssemblerTest, LastArrivalIsWhenTheNewestWholeLineWasRead)
{
    EXPECT_EQ(lines.lastArrival(), TimePoint{});
    Feed("a\r\n", 100);
    Feed("unfinished", 300);
    EXPECT_EQ(lines.lastArrival(), At(100));
    Feed(" line\r\nb\r\n", 400);
    Feed("c\r\n", 600);
    EXPECT_EQ(lines.lastArrival(), At(600));
    EXPECT_EQ(Call(1000), "a\r\n");
    // Two lines outlived the bound; the newest is returned however old.
    EXPECT_EQ(Call(2700), "c\r\n");
    EXPECT_EQ(lines.drops().stale, 2u);
    EXPECT_EQ(lines.lastArrival(), At(600));
}

TEST(HeldLinesTest, LinesComeOutWholeAndInOrderWhileTheStorageIsReused)
{
    HeldLines held;
    const auto at = HeldLines::Clock::now();
    int pushed = 0;
    int taken = 0;
    std::string line;
    // Enough lines, taken and pushed in turns, to move the storage several times.
    for (int round = 0; round < 5; ++round)
    {
        for (int n = 0; n < 1500; ++n, ++pushed)
        {
            const std::string text = std::to_string(pushed) + "\r\n";
            held.push(text.data(), text.size(), at + std::chrono::milliseconds(pushed));
        }
        for (int n = 0; n < 1200; ++n, ++taken)
        {
            ASSERT_EQ(held.oldestArrival(), at + std::chrono::milliseconds(taken));
            held.take(line);
            ASSERT_EQ(line, std::to_string(taken) + "\r\n");
        }
    }
    std::size_t bytes = 0;
    for (int n = taken; n < pushed; ++n)
        bytes += std::to_string(n).size() + 2;
    EXPECT_EQ(held.bytes(), bytes);
    EXPECT_EQ(held.count(), std::size_t(pushed - taken));
    while (!held.empty())
        held.drop();
    EXPECT_EQ(held.bytes(), 0u);
}
} // namespace
