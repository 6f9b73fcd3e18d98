// PseudoTerminal: a pseudo-terminal pair that stands in for a serial device.
//
// The object writes on the master side; a reader opens the far end
// (farEndPath, e.g. "/dev/pts/7") as if it were a serial port. The far end
// is put in raw mode at once, so bytes written before a reader has opened it
// arrive unchanged, and the object keeps one descriptor of it open, so the
// far end can be opened and closed any number of times while the object
// lives. Destroying the object (or close) hangs the far end up: its readers
// then see end of input or an I/O error.
//
// Writes never block for good: the master is non-blocking and write waits a
// bounded time for the kernel to take the bytes.
//
// Ownership and threads: owns both descriptors (closed on exec, so that a
// child process cannot keep the pair alive). One thread at a time.
// Errors of the system calls are thrown as std::system_error.
#ifndef SENSORSIM_PSEUDOTERMINAL_H
#define SENSORSIM_PSEUDOTERMINAL_H

#include <chrono>
#include <cstddef>
#include <string>

class PseudoTerminal
{
public:
    enum class WriteResult
    {
        Written, // every byte was handed to the kernel
        NoRoom,  // nothing was written: the far end's buffer stayed full
        Cut      // only the first part was written before the wait ran out
    };

    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // The device path a reader opens.
    const std::string& farEndPath() const { return slavePath; }

    // Writes bytes, waiting at most roomWait for room for the first of them;
    // once the first bytes are in, the rest may take up to a second more.
    WriteResult write(const std::string& bytes, std::chrono::milliseconds roomWait);

    // Bytes the far end has received and its readers have not read yet.
    std::size_t farEndPending() const;

    // Closes both sides; the far end is hung up. Idempotent.
    void close();

private:
    // Waits until the master can take bytes; false when the wait ran out.
    bool waitForRoom(std::chrono::steady_clock::time_point deadline) const;

    int master = -1;
    int slave = -1;
    std::string slavePath;
};

#endif
