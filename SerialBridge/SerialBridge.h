// CSimulator: the MOOS application of a serial bridge, built from a sensor's
// sentence format (SentenceFormat) and the settings of its block.
//
// The application owns the sensor's serial line (serial) and reads it: an
// Iterate waits for a line, then handles it and every whole line already
// received behind it, one after the other, each exactly as if it had come
// alone (HandleLine is the path of one line); the format only says what a
// line means. Around that it owns:
//  - the checks a line passes before its values are taken: it must be one of
//    the format's own, with VerifyChecksum its checksum must be sound, and
//    the format may still refuse it (valuesOf gives nullopt);
//  - the values: the last value of every name, held in one table and
//    published again after every line (or with PublishEveryLine false only
//    after a line that gave values), stamped with 0, with the MOOS time of
//    the line that gave the value (StampTime; a value published again keeps
//    its line's stamp, so its age shows), or with the time the format gives;
//    then the echo (Echo);
//  - time-outs: without DataTimeout a pass waits for a line as long as it
//    takes; with it, a pass waits at most a second, and silence of the
//    device (no line arrived, whether taken or dropped as too old) longer
//    than the timeout raises the application error, which the status record
//    carries, and clears it when lines return;
//  - the device going away: without ReopenDevice the reason is kept
//    (ReadError) and the loop asked to quit; with it the bridge raises the
//    application error and tries to open the device again every second;
//  - a change of the error is published in a status record at the next
//    pass, not at the end of the status period;
//  - stopping: reads wait in slices of at most 200 ms, so a quit request
//    (a signal, see RunBridgeProgram) ends Iterate within that time;
//  - keys of its block that neither it nor the framework asked for are
//    named once each on standard error when it starts;
//  - with RecordTo, every line read is handed to a recorder (LineRecorder)
//    before anything else is done with it; with PublishHealth, the health
//    record (BridgeHealth) is published under <NAME>_HEALTH every status
//    period and at once when its state changes. A failing recorder and,
//    with ExpectedRate, a slow sensor raise the application error while the
//    device's own troubles (missing, lost, silent) do not hold it.
//
// Seams, fixed at construction: the outbox that publishes a value (the
// comms client by default) and hooks that see every line with its fate (a
// health record, a recorder of raw lines).
//
// Threads: OnConnectToServer runs on the comms client's thread and only
// subscribes; everything else on the thread that calls Run, except
// RequestQuit, which any thread may call.
#ifndef SERIALBRIDGE_SERIALBRIDGE_H
#define SERIALBRIDGE_SERIALBRIDGE_H

#include "BridgeHealth.h"
#include "BridgeSettings.h"
#include "LineRecorder.h"
#include "SentenceFormat.h"
#include "SimpleSerial.h"

#include "MOOSLIB/MOOSApp.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

// What became of one line.
enum class LineFate
{
    Taken,       // its values were taken
    NotOwn,      // not one of the format's sentences
    BadChecksum, // refused by VerifyChecksum
    Refused      // the format gave no values for it
};

struct BridgeSeams
{
    // Publishes one value with its stamp; empty: the comms client's Notify.
    std::function<void(const SentenceValue& value, double time)> outbox;
    // Each sees every line after it was handled, on the loop's thread.
    std::vector<std::function<void(const SentenceLine& line, LineFate fate)>> lineHooks;
    // Upper-case names of the block's keys the bridge's early read asked
    // for; with the framework's they decide which keys are warned about.
    std::set<std::string> keysRead;
};

class CSimulator : public CMOOSApp
{
public:
    // Opens the device the settings name, at their rate. Throws
    // boost::system::system_error when it cannot be opened, unless
    // ReopenDevice makes the bridge wait for it.
    CSimulator(const BridgeProgram& program, SentenceFormat format, const BridgeSettings& settings,
               BridgeSeams seams = {});
    // Traces the total of lines the reader dropped, when it dropped any.
    ~CSimulator() override;

    bool OnNewMail(MOOSMSG_LIST& NewMail) override;
    bool Iterate() override;
    bool OnConnectToServer() override;
    bool OnStartUp() override;
    // Wakes the loop from its wait for the device.
    void OnQuitRequested() override { serial.interruptWait(); }

    // Handles one line read from the device now, line end included: takes
    // its values when it passes the checks, then publishes and echoes.
    void HandleLine(const std::string& text);

    // Why reading the device failed, when it did without ReopenDevice (the
    // loop has then been asked to quit); empty otherwise.
    const std::string& ReadError() const { return readError; }
    // Own lines refused for their checksum.
    std::size_t RejectedLines() const { return rejectedLines; }
    const BridgeSettings& Settings() const { return settings; }
    const ValueTable& Held() const { return held; }

private:
    using Clock = std::chrono::steady_clock;

    LineFate Take(const SentenceLine& line);
    void PublishHeld();
    // Keeps the values that stood for one reading from being published again.
    void RetireOnceValues();
    void Publish(const SentenceValue& value);
    void Subscribe();
    void CountRejected(const std::string& why);
    // Raises or clears "no <awaited> for N s" after line gave values.
    void NoteAwaited(const SentenceValues& given);
    void CheckAwaited();

    // The work of one Iterate: (re)opens the device when it is missing,
    // waits for a line and handles it and every line received behind it.
    void ServeLine();
    // Handles the lines already received, each through HandleLine, for at
    // most a fraction of a second.
    void HandleWaitingLines();
    // Waits for a line until the pass's deadline; false when none came.
    bool WaitForLine(std::string& line);
    Clock::time_point PassDeadline() const;
    // The silence clock: when a line last arrived from the device, handled
    // or dropped by the reader as too old, or when the device was opened.
    Clock::time_point LastArrival() const;
    void NoteSilence();
    void NoteLine();

    // Raises or clears the application error, which the next pass reports.
    void ReportHealth(bool error, const std::string& reason);
    void RequireDevice();
    void LoseDevice(const boost::system::error_code& reason);
    bool TryReopen();
    // Sleeps until when (at most a second), unless a quit is requested.
    void SleepUntil(Clock::time_point when);

    // Once a pass: brings the health up to date, raises or clears the
    // recorder's and the rate's error and publishes the health record when
    // it is due.
    void WatchHealth();
    void PublishHealthRecord();
    // The recorder's failure, else the slow rate; empty when neither.
    std::string OwnProblem() const;
    void RaiseOwnProblem();

    // Fixed after construction.
    const BridgeProgram program;
    const SentenceFormat format;
    const BridgeSettings settings;
    const BridgeSeams seams;

    // The loop's own, like everything below.
    SimpleSerial serial;
    ValueTable held;

    std::string readError;
    // When the device was opened or a line was last handled.
    Clock::time_point lastLine;
    bool silent = false;
    Clock::time_point nextOpenTry;
    std::size_t rejectedLines = 0;
    std::size_t rejectedSinceTrace = 0;
    Clock::time_point lastRejectionTrace;
    bool rejectionTraced = false;
    // What the format awaits under these settings (empty: nothing), when a
    // line last gave it and whether its absence is reported.
    const std::string awaited;
    Clock::time_point lastAwaited;
    bool awaitedMissing = false;

    BridgeHealth health;
    // With RecordTo; its writer thread traces on its own.
    std::unique_ptr<LineRecorder> recorder;
    // The problem WatchHealth last raised; none while the device's error
    // holds the application error.
    std::optional<std::string> ownProblemShown = std::string();
    double lastHealthRecord = -1.0;
};

#endif
