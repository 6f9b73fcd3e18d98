// SimpleSerial: a serial device read one CR LF-terminated line at a time.
//
// Opening takes the device (a serial port or a pseudo-terminal) for this
// process alone, with an advisory exclusive lock (flock) taken right after
// the open and before any setting is changed, and sets it to raw 8N1 without
// flow control at the given rate. The terminal's own exclusive mode is not
// used: it does not stop a process running as root, and the lock does.
//
// readLine waits a bounded time for a whole line, readString without bound;
// both return the line with its "\r\n". Bytes the device delivers behind a
// line (a receiver sends its sentences in a burst) stay in the reader's own
// buffer for the next call, so while the caller keeps up every line is
// returned once, whole and in order. Waiting uses poll on the descriptor:
// a silent device costs no CPU.
//
// Staleness: a line older than kMaxLineAge when it would be returned is
// dropped, oldest first, so a caller slower than the device, or one that did
// not read for a while, gets current lines instead of a growing delay.
// The kernel does not time-stamp serial bytes, so arrival is what the reader
// sees: each call first empties the device's queue, and bytes read while a
// call waits are stamped when poll wakes for them, which is when they came
// (give or take the scheduler). Bytes found at the start of a call came at
// some moment since the previous call ended; they are stamped when read, so
// a returned line can be older than kMaxLineAge by the caller's time away:
// one loop period for a loop that calls at its own steady pace. That only
// holds while the caller's pace is steady, so a call that comes after an
// absence longer than kMaxLineAge and more than twice the caller's usual one
// (the loop was held up, or did not read while its server was away) takes
// what it finds as having waited since the previous call, the earliest
// moment possible, and drops it; lines that come after it are read as
// usual. A caller that comes back within about a second and takes each
// burst within kMaxLineAge of its arrival therefore never loses a line to
// this bound, however large the burst is: the nominal line rate plays no
// part, which matters for USB receivers that deliver at their own speed.
//
// Memory: whole lines waiting are capped at kMaxPendingBytes of text (their
// bookkeeping adds 16 bytes a line: about 1 MB at most, when every line is
// empty); beyond it the oldest whole lines are dropped. A run of more than kMaxLineLength bytes
// without CR LF is discarded up to its CR LF, and reading goes on. Each kind
// of loss is traced with its cause and what was dropped.
//
// Errors of the device (it cannot be opened, is locked by another process,
// refuses an option, is unplugged, its far end closes) are thrown as
// boost::system::system_error carrying the system's error code. A read error
// or end of input is reported only after every whole line received before it
// has been returned; the object then stays failed until close() and open().
//
// Ownership and threads: the object owns the port and its lock and releases
// both when closed or destroyed. It is not copyable, takes no locks and must
// be used by one thread at a time (the application loop's).
#ifndef SIMPLESERIAL_SIMPLESERIAL_H
#define SIMPLESERIAL_SIMPLESERIAL_H

#include "HeldLines.h"

#include <boost/asio/io_service.hpp>
#include <boost/asio/serial_port.hpp>
#include <boost/system/error_code.hpp>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

// Tag for the constructor that does not throw when the device cannot be
// opened: the object is then closed, and openError() tells why.
struct SerialDeferredOpen
{
};

class SimpleSerial
{
public:
    // The longest line returned, CR LF included.
    static constexpr std::size_t kMaxLineLength = 4096;
    // Whole lines that may wait for the caller, in bytes.
    static constexpr std::size_t kMaxPendingBytes = 64 * 1024;
    // The oldest a returned line may be.
    static constexpr std::chrono::milliseconds kMaxLineAge{2000};

    // Opens port, locks it and sets baud_rate, no flow control, no parity,
    // one stop bit and 8 data bits, in that order. Throws
    // boost::system::system_error (device_or_resource_busy when another
    // process holds the device).
    SimpleSerial(std::string port, unsigned int baud_rate);
    // As above, but a failed open leaves the object closed, with the reason
    // in openError().
    SimpleSerial(std::string port, unsigned int baud_rate, SerialDeferredOpen);

    SimpleSerial(const SimpleSerial&) = delete;
    SimpleSerial& operator=(const SimpleSerial&) = delete;

    // Writes every byte of s; no line ending is added.
    void writeString(std::string s);

    // Blocks until a whole line has arrived; returns it with its "\r\n".
    // Throws as readLine does.
    std::string readString();

    // Waits at most timeout for a whole line. True with the line (CR LF
    // included); false when no whole line came in time. Throws
    // boost::system::system_error on a device error or end of file, but only
    // after every whole line already received has been returned, and when the
    // object is closed and holds no line.
    bool readLine(std::string& line, std::chrono::milliseconds timeout);

    bool isOpen() const;
    // Opens the same device again with the same settings and lock; throws
    // boost::system::system_error (the object stays closed). Precondition:
    // closed (an open object throws already_open and stays as it is).
    void open();
    // Tries open(); false, keeping the reason in openError(), when it fails.
    bool tryOpen();
    // Closes the port and releases the lock; bytes of an unfinished line are
    // dropped, whole lines already received are still returned by readLine.
    void close();
    // The last open failure (empty error_code when the last open succeeded).
    boost::system::error_code openError() const { return lastOpenError; }
    const std::string& devicePath() const { return device; }
    unsigned int baudRate() const { return baud; }

    // Whole lines dropped so far, for age or for room.
    std::size_t droppedLines() const { return droppedLineCount; }
    // Over-long runs discarded so far.
    std::size_t discardedRuns() const { return discardedRunCount; }

private:
    using Clock = std::chrono::steady_clock;
    // Why lines are being dropped; each cause is traced in its own words.
    enum class DropCause
    {
        CallerSlower, // lines outlived kMaxLineAge while the caller kept reading
        CallerAway,   // lines waited while nobody read for longer than that
        NoRoom        // more than kMaxPendingBytes waited
    };

    bool readLineUntil(std::string& line, Clock::time_point deadline);
    void openAndLock();
    void configure();

    // Reads what the device holds without waiting, keeping a read error
    // or end of input in deviceError for when the held lines are gone. The
    // lines completed are stamped with arrived, or else with the moment read.
    void drainDevice(std::optional<Clock::time_point> arrived);
    // Waits until the device has bytes or fails; false at the deadline.
    bool waitReadable(Clock::time_point deadline);
    // Splits newly read bytes into whole lines stamped with arrival.
    void absorb(const char* bytes, std::size_t count, Clock::time_point arrived);
    void discardOverlongPartial();

    void dropStaleLines(Clock::time_point now);
    void boundHeldBytes();
    void dropOldestLine(DropCause cause);
    void reportDrops();
    void reportCatchUp();
    bool takeLine(std::string& line);

    boost::asio::io_service io;
    boost::asio::serial_port serial;

    const std::string device;
    const unsigned int baud;
    boost::system::error_code lastOpenError;
    // A read failure not reported yet: thrown once no whole line is held.
    boost::system::error_code deviceError;

    // Whole lines received and not yet returned, oldest first.
    HeldLines held;
    // The start of the next line; never reaches kMaxLineLength.
    std::string partial;
    // Bytes up to the next CR LF belong to an over-long run.
    bool discardingRun = false;
    // When the previous call returned or threw (or the device was opened);
    // the caller's usual time away between calls (the longest recent one,
    // halving with every call); whether this call follows an absence far
    // longer than that.
    Clock::time_point lastCallEnd;
    Clock::duration usualAway{};
    bool absent = false;

    // Drop bookkeeping for the traces: lines dropped since the reader was
    // last caught up (nothing held when it had to wait), how many of those a
    // trace has told, and the lines, cause and caller's absence of this call.
    std::size_t droppedSinceCaughtUp = 0;
    std::size_t droppedReported = 0;
    bool behindReported = false;
    DropCause reportedCause = DropCause::CallerSlower;
    std::size_t droppedThisCall = 0;
    DropCause callCause = DropCause::CallerSlower;
    Clock::duration awayFor{};
    std::size_t droppedLineCount = 0;
    std::size_t discardedRunCount = 0;
};

// True for the standard rates 1200, 2400, 4800, 9600, 19200, 38400, 57600,
// 115200, 230400, 460800, 921600.
bool IsStandardBaudRate(unsigned long rate);
// True when e (from open) means that another process holds the device's lock.
bool SerialDeviceInUse(const boost::system::error_code& e);

// The device a bridge program reads: the value of the environment variable
// named variable when it is set and not empty, else fallback.
std::string SerialDeviceFromEnvironment(const char* variable,
                                        const std::string& fallback = "/dev/ttyUSB0");

// The one line a bridge program prints on standard error when its device
// fails: "<program>: <action> serial device <device>: <reason> (set
// <variable> to read another device)", without a newline.
std::string SerialDeviceError(const std::string& program, const std::string& action,
                              const std::string& device, const std::string& reason,
                              const char* variable);

#endif
