// Pseudo-terminals in tests: the serial-device stand-in (PseudoTerminal,
// whose far end a reader opens as its device) and a terminal in place of one
// of the test's own standard streams, for code that behaves differently on a
// terminal.
#ifndef TESTS_SUPPORT_TERMINAL_H
#define TESTS_SUPPORT_TERMINAL_H

#include "PseudoTerminal.h"

#include <atomic>
#include <string>
#include <thread>

namespace moostest
{
// Writes bytes, waits until the reader has taken them (nothing waiting for
// 100 ms on end, as the kernel hands bytes over a little later) and hangs
// the device up. False when the bytes were not written or not taken.
bool DeliverThenHangUp(PseudoTerminal& pty, const std::string& bytes);

// A pseudo-terminal standing in for one of the process's standard streams
// (STDIN_FILENO, STDOUT_FILENO or STDERR_FILENO) until Restore or the
// destructor. What the code under test writes to the stream is collected by
// a thread of the object, so the terminal never fills up and blocks the
// writer; the test types input into the near end.
//
// Threads: the object belongs to the test's thread; the stream itself may
// be used by any thread of the code under test.
class TerminalStream
{
public:
    explicit TerminalStream(int fd);
    ~TerminalStream();
    TerminalStream(const TerminalStream&) = delete;
    TerminalStream& operator=(const TerminalStream&) = delete;

    // Whether the terminal stands in for the stream.
    bool IsOpen() const { return collector.joinable(); }
    // The near end: what is written here is the stream's input.
    int Master() const { return master; }
    // Gives the stream back and answers every byte written to the terminal
    // while it stood in (its echo of typed input included).
    std::string Restore();

private:
    void Collect();

    int fd;
    int master = -1;
    int slave = -1;
    int saved = -1;
    std::atomic<bool> restoring{false};
    // Written by the collector only, read once it has ended.
    std::string screen;
    std::thread collector;
};
} // namespace moostest

#endif // TESTS_SUPPORT_TERMINAL_H
