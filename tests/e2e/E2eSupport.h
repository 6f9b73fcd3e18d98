// The harness of the end-to-end tests: the real programs (SensorSim, Vantor,
// Dirkel, LocalServer) run as child processes, with a server in process
// where the tests need to stop and start it or read its log line by line.
//
// The child processes, temporary folders, waits and capture files are the
// test toolkit's (tests/support), named here as the end-to-end tests know
// them. Every object owns what it started: a TestServer is stopped, a
// ReplayFeed ends its SensorSim.
//
// Threads: the objects belong to the test's thread, except LogCapture, whose
// stream is written by the server's connection threads while the test reads
// the entries.
#ifndef TESTS_E2E_E2ESUPPORT_H
#define TESTS_E2E_E2ESUPPORT_H

#include "LocalServer.h"
#include "support/Files.h"
#include "support/Process.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace e2e
{
using moostest::kMustHappen;
using moostest::Process;
using moostest::Program;
using moostest::ReadCaptureLines;
using moostest::ReadFile;
using moostest::TempDir;
using moostest::WaitFor;
using moostest::WriteFile;

// One line of LocalServer's notification log, "<time> <source> <key>
// <value>", with the value's \xHH escapes turned back into their bytes.
struct LoggedNotification
{
    double time = 0.0;
    std::string source;
    std::string key;
    std::string value;
};

// Parses one log line without its newline; false for any other line.
bool ParseLogLine(const std::string& line, LoggedNotification& entry);
// The notifications among the lines of a program's standard output.
std::vector<LoggedNotification> ParseLog(const std::string& text);

// The notification log of an in-process server: a stream whose lines are
// parsed as they are completed. Write access comes from the server's threads
// through Stream(); the readers take copies under the same lock.
class LogCapture : private std::streambuf
{
public:
    LogCapture() : stream(this) {}
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::ostream& Stream() { return stream; }

    std::vector<LoggedNotification> Entries() const;
    // The entries of one source, and of one source and key, in log order.
    std::vector<LoggedNotification> From(const std::string& source) const;
    std::vector<LoggedNotification> From(const std::string& source, const std::string& key) const;
    // The values of one source and key, in log order.
    std::vector<std::string> Values(const std::string& source, const std::string& key) const;
    std::size_t Count(const std::string& source, const std::string& key) const;
    // Waits until at least count entries of source and key are logged.
    bool WaitForCount(const std::string& source, const std::string& key, std::size_t count) const;

private:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize size) override;
    // Appends under the lock held by the caller.
    void AppendLocked(const char* text, std::size_t size);

    mutable std::mutex lock;
    std::string partial;
    std::vector<LoggedNotification> entries;
    std::ostream stream;
};

// A LocalServer in process on a free loopback port, its log captured. Its
// clock runs at warp, which must be the clients' "MOOSTimeWarp": a client
// takes its clock skew from the server.
class TestServer
{
public:
    explicit TestServer(double warp = 1.0);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int Port() const { return port; }
    CLocalServer& Core() { return server; }
    const LogCapture& Log() const { return log; }
    // Stops the server, dropping every connection, and starts it again on
    // the same port; the log is kept.
    void Restart();

private:
    static LocalServerOptions OptionsFor(LogCapture& log, double warp);

    LogCapture log;
    CLocalServer server;
    int port = 0;
};

// A mission file for the server at port: "ServerHost = localhost", the
// port, the time warp unless it is 1, then a block per name with keys, one
// "Key = value" a line.
std::string MissionText(int port, const std::vector<std::string>& names,
                        const std::vector<std::string>& keys, double warp = 1.0);

// The key of process's status record, "<PROCESS>_STATUS".
std::string StatusKey(const std::string& process);

// Starts program (Vantor or Dirkel) with the mission file at mission, named
// process unless that is empty, reading device (given in the program's
// device variable).
std::unique_ptr<Process> StartBridge(const std::string& program,
                                     const std::filesystem::path& mission,
                                     const std::string& device, const std::string& process = "");

// SensorSim replaying lines that the test hands it through a named pipe, so
// that the test decides when each group of lines reaches the device.
class ReplayFeed
{
public:
    explicit ReplayFeed(const TempDir& dir);
    ~ReplayFeed();
    ReplayFeed(const ReplayFeed&) = delete;
    ReplayFeed& operator=(const ReplayFeed&) = delete;

    // The device path of SensorSim's pseudo-terminal; empty when it did not
    // start.
    const std::string& Device() const { return device; }
    // Hands bytes to SensorSim, which writes them to the device line by line.
    bool Write(const std::string& bytes);
    // Ends the replay: SensorSim lets the reader take the last lines and
    // closes the device.
    void End();
    Process& Sim() { return sim; }

private:
    // Opens the pipe's writing end once SensorSim has its reading end open.
    bool OpenWriter(const std::filesystem::path& pipe);

    Process sim;
    int writer = -1;
    std::string device;
};

// Hands lines to feed in groups of at most groupSize and waits after each
// group until the server has logged one notification of key from source per
// line so far (each bridge publishes that key once for every line it reads).
// False when a group is not taken or not published within the bound.
bool FeedInStep(ReplayFeed& feed, const LogCapture& log, const std::vector<std::string>& lines,
                const std::string& source, const std::string& key, std::size_t groupSize);

// Whether text has the line a bridge prints when its device fails while it
// reads: "<program>: lost the serial device <device>: <reason>; <what
// happened>. <what to do>, or set ReopenDevice = true to wait for the device".
bool HasLostDeviceLine(const std::string& text, const std::string& program,
                       const std::string& device);

// The lines joined into one text.
std::string Joined(const std::vector<std::string>& lines);
// The folder of the GPS captures (which may not exist on this machine).
inline std::filesystem::path CaptureDir()
{
    return moostest::CapturePath("nmea");
}
} // namespace e2e

#endif
