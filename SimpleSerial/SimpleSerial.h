// SimpleSerial: a serial device read one CR LF-terminated line at a time.
//
// Opening takes the device (a serial port or a pseudo-terminal) for this
// process alone, with an advisory exclusive lock (flock) taken right after
// the open and before any setting is changed, and sets it to raw 8N1 without
// flow control at the given rate. While it is open the terminal's exclusive
// mode (TIOCEXCL) is set as well, so that an ordinary process that ignores
// the lock cannot open the device and steal its lines; a process running as
// root still can, and only the lock stops another reader of that kind.
//
// readLine waits a bounded time for a whole line, readString without bound;
// both return the line with its "\r\n". Bytes the device delivers behind a
// line (a receiver sends its sentences in a burst) stay in the reader's own
// buffer for the next call, so while the caller keeps up every line is
// returned once, whole and in order. Waiting uses poll on the descriptor:
// a silent device costs no CPU.
//
// Lines are put together by a LineAssembler (see there): over-long runs
// are discarded, lines older than kMaxLineAge are dropped unless they are
// the newest or the device has been lost, and at most kMaxPendingBytes of
// lines wait. The kernel does not time-stamp serial bytes, so arrival is
// what the reader sees: each call first empties the device's queue, and
// bytes read while a call waits are stamped when poll wakes for them.
// Losses are traced through the sink set by setTraceSink (standard error
// unless set), an absence at once and a slow caller's losses at most once a
// minute, and counted in drops(). The clock that
// stamps lines is a seam (setClock); waits always run on the real one.
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

#include "LineAssembler.h"

#include <boost/asio/io_service.hpp>
#include <boost/asio/serial_port.hpp>
#include <boost/system/error_code.hpp>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

// Tag for the constructor that does not throw when the device cannot be
// opened: the object is then closed, and openError() tells why.
struct SerialDeferredOpen
{
};

class SimpleSerial
{
public:
    using Clock = std::chrono::steady_clock;

    // The longest line returned, CR LF included.
    static constexpr std::size_t kMaxLineLength = LineAssembler::kMaxLineLength;
    // Whole lines that may wait for the caller, in bytes.
    static constexpr std::size_t kMaxPendingBytes = LineAssembler::kMaxPendingBytes;
    // The oldest a returned line may be, but for the newest and the last
    // lines of a lost device.
    static constexpr std::chrono::milliseconds kMaxLineAge = LineAssembler::kMaxLineAge;

    // Opens port, locks it and sets baud_rate, no flow control, no parity,
    // one stop bit and 8 data bits, in that order. Throws
    // boost::system::system_error (device_or_resource_busy when another
    // process holds the device).
    SimpleSerial(std::string port, unsigned int baud_rate);
    // As above, but a failed open leaves the object closed, with the reason
    // in openError().
    SimpleSerial(std::string port, unsigned int baud_rate, SerialDeferredOpen);

    // Closes the device, leaving its exclusive mode.
    ~SimpleSerial() { close(); }
    SimpleSerial(const SimpleSerial&) = delete;
    SimpleSerial& operator=(const SimpleSerial&) = delete;

    // Where the reader's traces go, one line per call without a newline;
    // an empty sink drops them.
    void setTraceSink(SerialTraceSink sink) { lines.setTraceSink(std::move(sink)); }
    // What traces of lines lost to a slow caller add on how the program can
    // keep up (its own setting); empty for nothing.
    void setBehindAdvice(std::string advice) { lines.setBehindAdvice(std::move(advice)); }
    // Traces the lines lost since the object was made, by cause (for the
    // end of a program); nothing when none was.
    void reportDropTotal() { lines.reportTotal(); }
    // The clock that stamps lines and measures their age (for tests that
    // move time); steady_clock::now unless set.
    void setClock(std::function<Clock::time_point()> now);

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
    // readLine waiting until deadline, on the steady clock (not setClock's);
    // Clock::time_point::max() waits for good.
    bool readLineUntil(std::string& line, Clock::time_point deadline);

    // Ends the wait of a readLine at once (it returns false), or of the next
    // one to wait if none waits now; readString waits on. Safe from any
    // thread: a program that is asked to stop wakes its reader with it
    // instead of waking it every so often to look.
    void interruptWait();

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

    // Lines lost so far, by cause.
    LineDrops drops() const { return lines.drops(); }
    // Whole lines dropped so far, for age or for room.
    std::size_t droppedLines() const { return drops().lines(); }
    // Over-long runs discarded so far.
    std::size_t discardedRuns() const { return drops().overlongRuns; }
    // When the most recent whole line was read from the device, whether it
    // was returned or dropped (on the clock of setClock); a device that sent
    // nothing since then has been silent. Lines found after the caller was
    // away count from when they were found: the reader cannot know when in
    // the absence they came, and must not claim a silence it did not see.
    Clock::time_point lastArrival() const { return lines.lastArrival(); }

private:
    void openAndLock();
    void configure();

    // Feeds what the device holds to the assembler without waiting; a read
    // error or end of input fails the device.
    void drainDevice();
    // Waits until the device has bytes or fails; false at the deadline.
    bool waitReadable(Clock::time_point deadline);
    // Keeps e for when the held lines are gone; no byte comes after it.
    void fail(const boost::system::error_code& e);

    boost::asio::io_service io;
    boost::asio::serial_port serial;

    const std::string device;
    const unsigned int baud;
    std::function<Clock::time_point()> now = Clock::now;
    boost::system::error_code lastOpenError;
    // A read failure not reported yet: thrown once no whole line is held.
    boost::system::error_code deviceError;
    LineAssembler lines;
    // Readable once interruptWait was called, until a wait takes it.
    struct WakeEvent
    {
        WakeEvent();
        ~WakeEvent();
        WakeEvent(const WakeEvent&) = delete;
        WakeEvent& operator=(const WakeEvent&) = delete;
        const int fd;
    } wake;
};

// True for the standard rates 1200, 2400, 4800, 9600, 19200, 38400, 57600,
// 115200, 230400, 460800, 921600.
bool IsStandardBaudRate(unsigned long rate);
// True when e (from open) means that another process holds the device's lock.
bool SerialDeviceInUse(const boost::system::error_code& e);

#endif
