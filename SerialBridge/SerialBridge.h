// SerialBridge: what a MOOS application that publishes the lines of one
// serial sensor needs besides knowing the sensor's sentences.
//
// A bridge program derives its application from SerialBridge, owns the
// sensor's SimpleSerial itself and hands it to this base, which then reads
// the line for it, one line per Iterate, and owns everything around that:
//  - the settings of the process's block (BridgeSettings);
//  - the checks a line passes before its values are taken (its sentence, its
//    checksum with VerifyChecksum, what the derived class asks of it);
//  - publishing, stamped with 0 or with the MOOS time (StampTime), after
//    every line or only after lines that gave values (PublishEveryLine), and
//    the echo on standard output (Echo);
//  - time-outs: without DataTimeout a pass waits for a line as long as it
//    takes; with it, a pass waits at most a second, and silence longer than
//    the timeout raises the application error, which the status record
//    carries, and clears it when lines return;
//  - the device going away: without ReopenDevice the reason is kept
//    (ReadError) and the loop asked to quit; with it the bridge raises the
//    application error and tries to open the device again every second;
//  - a change of the error is published in a status record at the next
//    pass, not at the end of the status period;
//  - stopping: reads wait in slices of at most 200 ms, so a quit request (a
//    signal, see RunBridgeProgram) ends Iterate within that time.
// The derived class says which lines are its own, takes their values,
// publishes them through Publish and echoes them.
//
// Ownership and threads: the serial line belongs to the derived object and
// lives as long as it; this base only uses it. Everything here runs on the
// thread that calls Run, except RequestQuit, which any thread may call.
#ifndef SERIALBRIDGE_SERIALBRIDGE_H
#define SERIALBRIDGE_SERIALBRIDGE_H

#include "BridgeSettings.h"
#include "SimpleSerial.h"

#include "MOOSLIB/MOOSApp.h"

#include <chrono>
#include <cstddef>
#include <string>

class SerialBridge : public CMOOSApp
{
public:
    // Handles one line read from the device, line end included: takes its
    // values when it is the derived class's sentence and passes the checks,
    // then publishes and echoes (after every line, or with PublishEveryLine
    // false only after a line whose values were taken).
    void HandleLine(const std::string& usbData);

    // Why reading the device failed, when it did without ReopenDevice (the
    // loop has then been asked to quit); empty otherwise.
    const std::string& ReadError() const { return readError; }
    // Lines of the derived class's sentence refused for their checksum.
    std::size_t RejectedLines() const { return rejectedLines; }
    const BridgeSettings& Settings() const { return settings; }

protected:
    using Clock = std::chrono::steady_clock;

    // program names the bridge in its traces; line is the derived object's
    // serial member, not yet constructed when this runs and not used until
    // RequireDevice.
    SerialBridge(const std::string& program, const BridgeSettings& settings, SimpleSerial& line);

    // Called at the end of the derived constructor, with the line built
    // closed when it could not be opened: throws boost::system::system_error
    // with the reason, unless ReopenDevice makes the bridge wait for it.
    void RequireDevice();

    // The work of one Iterate: (re)opens the device when it is missing,
    // waits for a line and handles it.
    void ServeLine();

    // Publishes one value: the comms client's Notify with the time 0.0, or
    // the current MOOS time with StampTime. Tests record it instead.
    virtual void Publish(const std::string& name, const std::string& value);

    // Whether line is one of the sentences the bridge takes values from.
    virtual bool IsOwnSentence(const std::string& line) const = 0;
    // Whether an own sentence with a sound checksum may give its values.
    virtual bool IsUsable(const std::string& line) const;
    // Takes the values of an own sentence that passed every check.
    virtual void TakeValues(const std::string& line) = 0;
    // Publishes the current values (through Publish).
    virtual void PublishValues() = 0;
    // Echoes one reading on standard output, flushed.
    virtual void EchoReading(const std::string& line) = 0;

private:
    bool PassesChecks(const std::string& line);
    void CountRejected();

    // Waits for a line until the pass's deadline; false when none came.
    bool WaitForLine(std::string& line);
    Clock::time_point PassDeadline() const;
    void NoteSilence();
    void NoteLine();

    // Raises or clears the application error, which the next pass reports.
    void ReportHealth(bool error, const std::string& reason);
    void LoseDevice(const boost::system::error_code& reason);
    bool TryReopen();
    // Sleeps until when (at most a second), unless a quit is requested.
    void SleepUntil(Clock::time_point when);

    const std::string program;
    const BridgeSettings settings;
    SimpleSerial& line;

    std::string readError;
    Clock::time_point lastLine;
    bool silent = false;
    Clock::time_point nextOpenTry;
    std::size_t rejectedLines = 0;
    std::size_t rejectedSinceTrace = 0;
    Clock::time_point lastRejectionTrace;
    bool rejectionTraced = false;
};

#endif
