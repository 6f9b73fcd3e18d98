// SimpleSerial: a serial device read one CR LF-terminated line at a time.
//
// The constructor opens a device (a serial port or a pseudo-terminal) and sets
// it to raw 8N1 without flow control at the given rate. readString blocks
// until a whole line has arrived and returns it with its "\r\n".
//
// Bytes the device delivers behind a line (a receiver sends its sentences in
// a burst) stay in the reader's own buffer for the next call, so while the
// caller keeps up every line is returned once, whole and in order.
//
// Two bounds keep a misbehaving device from stalling or swamping the caller:
//  - Backlog: when more than about two seconds of data at the line rate is
//    waiting (in the reader's buffer and in the kernel's), the oldest whole
//    lines are dropped, so what is returned is never staler than that. This
//    happens when the device sends more lines per second than the caller
//    reads (the application's "AppTick"); it is traced once per overrun.
//    The newest whole line is always kept; an older one longer than the
//    whole bound (only at low rates) is dropped for the lines behind it.
//  - Line length: a run of more than kMaxLineLength bytes without CR LF is
//    discarded up to its CR LF, with one trace, and reading goes on.
//
// Errors of the device (it cannot be opened, refuses an option, is unplugged,
// its far end closes) are thrown as boost::system::system_error carrying the
// system's error code.
//
// Ownership and threads: the object owns the port and closes it when it is
// destroyed. It is not copyable, takes no locks and must be used by one
// thread at a time (the application loop's).
#ifndef SIMPLESERIAL_SIMPLESERIAL_H
#define SIMPLESERIAL_SIMPLESERIAL_H

#include <boost/asio/io_service.hpp>
#include <boost/asio/serial_port.hpp>

#include <cstddef>
#include <string>

class SimpleSerial
{
public:
    // The longest line returned, CR LF included.
    static constexpr std::size_t kMaxLineLength = 4096;

    // Opens port and sets baud_rate, no flow control, no parity, one stop bit
    // and 8 data bits, in that order. Throws boost::system::system_error.
    SimpleSerial(std::string port, unsigned int baud_rate);

    SimpleSerial(const SimpleSerial&) = delete;
    SimpleSerial& operator=(const SimpleSerial&) = delete;

    // Writes every byte of s; no line ending is added.
    void writeString(std::string s);

    // Blocks until a whole line has arrived; returns it with its "\r\n".
    std::string readString();

    // Bytes that may wait before the oldest lines are dropped: two seconds
    // of the line at 10 bits per character.
    std::size_t backlogLimit() const { return backlogBytes; }
    // Lines dropped so far because the backlog outgrew backlogLimit.
    std::size_t droppedLines() const { return droppedLineCount; }
    // Over-long runs discarded so far.
    std::size_t discardedRuns() const { return discardedRunCount; }

private:
    // Fills pending with at most maxBytes from the device, blocking until at
    // least one byte is there; retries interrupted calls.
    void readSome(std::size_t maxBytes);
    // Bytes the kernel has received from the device and not yet handed over.
    std::size_t kernelPending();

    // Drops the oldest whole lines while the backlog is over its limit.
    void boundBacklog();
    bool holdsTwoLines() const;
    void dropOldestLine();
    void reportOverrun();

    // Removes from the front of pending what belongs to over-long runs.
    void skipOverlongRuns();
    // Moves the first whole line out of pending; false when there is none.
    bool takeLine(std::string& line);

    boost::asio::io_service io;
    boost::asio::serial_port serial;

    const std::string device;
    const std::size_t backlogBytes;
    // Received bytes not yet returned; starts at a line start unless
    // discardingRun is set.
    std::string pending;
    // The front of pending is the tail of an over-long run.
    bool discardingRun = false;
    // The current overrun has been traced; cleared once the reader catches up.
    bool overrunReported = false;
    std::size_t droppedLineCount = 0;
    std::size_t discardedRunCount = 0;
};

// The device a bridge program reads: the value of the environment variable
// named variable when it is set and not empty, else "/dev/ttyUSB0".
std::string SerialDeviceFromEnvironment(const char* variable);

// The one line a bridge program prints on standard error when its device
// fails: "<program>: <action> serial device <device>: <reason> (set
// <variable> to read another device)", without a newline.
std::string SerialDeviceError(const std::string& program, const std::string& action,
                              const std::string& device, const std::string& reason,
                              const char* variable);

#endif
