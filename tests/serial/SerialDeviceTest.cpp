// The serial reader's hold on its device: the lock, deferred opening and
// reopening behind a path that goes and comes back, bounded waits without
// spinning, and the settings that reach the line.
#include "PseudoTerminal.h"
#include "SerialTestSupport.h"
#include "SimpleSerial.h"

#include <boost/system/system_error.hpp>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <memory>

namespace
{
using namespace std::chrono_literals;

double ThreadCpuSeconds()
{
    timespec used{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
    return used.tv_sec + used.tv_nsec / 1e9;
}

// The input speed the far end's settings carry, read back as any process
// on the machine would see them.
speed_t LineSpeed(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios settings{};
    const bool read = fd >= 0 && ::tcgetattr(fd, &settings) == 0;
    if (fd >= 0)
        ::close(fd);
    return read ? ::cfgetispeed(&settings) : B0;
}

class SerialDeviceTest : public ::testing::Test
{
protected:
    // A path that points at the current pseudo-terminal, as /dev/ttyUSB0 at
    // an adapter: it goes when the adapter is pulled out.
    std::string Link() const { return (dir.Path() / "ttyUSB0").string(); }
    void PlugIn()
    {
        pty = std::make_unique<PseudoTerminal>();
        std::filesystem::create_symlink(pty->farEndPath(), Link());
    }
    void PullOut()
    {
        std::filesystem::remove(Link());
        pty.reset();
    }
    void Send(const std::string& bytes)
    {
        ASSERT_EQ(pty->write(bytes, 5s), PseudoTerminal::WriteResult::Written);
    }
    static void ExpectNextLine(SimpleSerial& reader, const std::string& expected)
    {
        std::string line;
        ASSERT_TRUE(reader.readLine(line, 5s)) << "no line within 5 s";
        EXPECT_EQ(line, expected);
    }

    serialtest::TempDir dir;
    std::unique_ptr<PseudoTerminal> pty;
};

TEST_F(SerialDeviceTest, SecondReaderOfADeviceIsRefusedUntilTheFirstLetsGo)
{
    PlugIn();
    SimpleSerial first(Link(), 19200);
    try
    {
        SimpleSerial second(pty->farEndPath(), 19200);
        FAIL() << "two readers hold one device";
    }
    catch (const boost::system::system_error& e)
    {
        EXPECT_TRUE(SerialDeviceInUse(e.code()));
        EXPECT_EQ(e.code().message(), "Device or resource busy");
    }
    // Opening again what is open is refused and keeps the device.
    EXPECT_THROW(first.open(), boost::system::system_error);
    EXPECT_TRUE(first.isOpen());
    SimpleSerial deferred(Link(), 19200, SerialDeferredOpen{});
    EXPECT_FALSE(deferred.isOpen());
    EXPECT_TRUE(SerialDeviceInUse(deferred.openError()));

    first.close();
    EXPECT_TRUE(deferred.tryOpen());
    EXPECT_FALSE(deferred.openError());
}

TEST_F(SerialDeviceTest, RefusedReaderLeavesTheHoldersSettingsAlone)
{
    PlugIn();
    SimpleSerial holder(Link(), 9600);
    EXPECT_THROW(SimpleSerial(Link(), 115200), boost::system::system_error);
    EXPECT_EQ(LineSpeed(pty->farEndPath()), B9600);
}

TEST_F(SerialDeviceTest, DeviceMissingAtStartIsOpenedOnceItAppears)
{
    SimpleSerial reader(Link(), 19200, SerialDeferredOpen{});
    EXPECT_FALSE(reader.isOpen());
    EXPECT_EQ(reader.openError().value(), ENOENT);
    EXPECT_FALSE(reader.tryOpen());
    EXPECT_EQ(reader.devicePath(), Link());

    PlugIn();
    ASSERT_TRUE(reader.tryOpen()) << reader.openError().message();
    Send("$GPGGA,first\r\n");
    ExpectNextLine(reader, "$GPGGA,first\r\n");
}

TEST_F(SerialDeviceTest, DevicePulledOutAndPutBackIsReadAgainAfterReopening)
{
    PlugIn();
    SimpleSerial reader(Link(), 19200);
    PullOut();
    std::string line;
    EXPECT_THROW(reader.readLine(line, 5s), boost::system::system_error);
    reader.close();
    EXPECT_THROW(reader.open(), boost::system::system_error);
    EXPECT_FALSE(reader.isOpen());

    PlugIn();
    reader.open();
    Send("$GPGGA,back\r\n");
    ExpectNextLine(reader, "$GPGGA,back\r\n");
}

TEST_F(SerialDeviceTest, ClosedReaderRefusesToReadInsteadOfBlocking)
{
    PlugIn();
    SimpleSerial reader(Link(), 19200);
    Send("half a li");
    reader.close();
    std::string line;
    EXPECT_THROW(reader.readLine(line, 5s), boost::system::system_error);
}

TEST_F(SerialDeviceTest, SilentDeviceTimesOutWithoutSpinning)
{
    PlugIn();
    SimpleSerial reader(Link(), 19200);
    Send("no line end yet");
    const double cpuBefore = ThreadCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    std::string line;
    EXPECT_FALSE(reader.readLine(line, 400ms));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 400ms);
    EXPECT_LT(waited, 5s);
    // A spinning reader burns the whole wait.
    EXPECT_LT(ThreadCpuSeconds() - cpuBefore, 0.1);

    Send("\r\n");
    ExpectNextLine(reader, "no line end yet\r\n");
}

TEST_F(SerialDeviceTest, ZeroTimeoutOnlyTakesWhatIsAlreadyThere)
{
    PlugIn();
    SimpleSerial reader(Link(), 19200);
    std::string line;
    EXPECT_FALSE(reader.readLine(line, 0ms));
    Send("$GPGGA,now\r\n");
    ASSERT_TRUE(serialtest::WaitFor([&] { return reader.readLine(line, 0ms); }));
    EXPECT_EQ(line, "$GPGGA,now\r\n");
}

TEST_F(SerialDeviceTest, EveryStandardRateReachesTheLine)
{
    PlugIn();
    for (const unsigned rate : {1200u, 9600u, 19200u, 115200u, 921600u})
    {
        SimpleSerial reader(Link(), rate);
        EXPECT_EQ(reader.baudRate(), rate);
        speed_t expected = B0;
        switch (rate)
        {
        case 1200:
            expected = B1200;
            break;
        case 9600:
            expected = B9600;
            break;
        case 19200:
            expected = B19200;
            break;
        case 115200:
            expected = B115200;
            break;
        default:
            expected = B921600;
            break;
        }
        EXPECT_EQ(LineSpeed(pty->farEndPath()), expected) << rate;
    }
}

TEST_F(SerialDeviceTest, RateKeepsItsSettingAcrossAReopen)
{
    PlugIn();
    SimpleSerial reader(Link(), 57600);
    reader.close();
    PullOut();
    PlugIn();
    reader.open();
    EXPECT_EQ(LineSpeed(pty->farEndPath()), B57600);
}

TEST(SerialBaudRateTest, OnlyTheStandardRatesAreStandard)
{
    for (const unsigned long rate : {1200ul, 2400ul, 4800ul, 9600ul, 19200ul, 38400ul, 57600ul,
                                     115200ul, 230400ul, 460800ul, 921600ul})
        EXPECT_TRUE(IsStandardBaudRate(rate)) << rate;
    for (const unsigned long rate : {0ul, 300ul, 600ul, 14400ul, 19201ul, 250000ul, 1000000ul})
        EXPECT_FALSE(IsStandardBaudRate(rate)) << rate;
}
} // namespace
