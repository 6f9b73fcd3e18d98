// BridgeHealth: what a bridge's device has been doing, as the text of its
// health record (<NAME>_HEALTH) and as the "slow" condition that ExpectedRate
// turns into the application error.
//
// The record, one line of name=value items:
//   state=reading,device=/dev/gps,lines=12034,line_rate=7.0,values_rate=1.0,
//   rejected=3,dropped_stale=0,dropped_cap=0,last_line_age=0.12,
//   last_values_age=0.93,reopens=1
// state is, first that applies: waiting (the device is missing or lost and
// the bridge waits for it), silent (no line for longer than DataTimeout),
// slow (values come at less than half the expected rate, judged over the
// last kSlowWindow of reading), reading. The rates are per second over the
// time since the previous record; every counter counts from start-up; the
// ages are seconds since the last line and the last line that gave values
// (since start-up while there was none, so an age alarm also fires for a
// device that never gave anything).
//
// A pure value on a clock handed in: the bridge tells it of every line and,
// once a pass, of the device's condition; tests move time themselves. One
// thread (the bridge's loop).
#ifndef SERIALBRIDGE_BRIDGEHEALTH_H
#define SERIALBRIDGE_BRIDGEHEALTH_H

#include "LineAssembler.h"

#include <chrono>
#include <cstddef>
#include <deque>
#include <string>

enum class HealthState
{
    Reading,
    Silent,
    Waiting,
    Slow
};

// "reading", "silent", "waiting" or "slow".
const char* HealthStateName(HealthState state);

class BridgeHealth
{
public:
    using Clock = std::chrono::steady_clock;

    // How long values must stay below half the expected rate to be slow.
    static constexpr std::chrono::seconds kSlowWindow{5};

    // What the bridge knows of its device at the end of a pass.
    struct Device
    {
        bool waiting = false; // missing or lost, waited for
        bool silent = false;  // past DataTimeout
        LineDrops drops;      // the reader's losses so far
    };

    // expectedRate: values per second; 0 judges no rate.
    BridgeHealth(std::string device, double expectedRate, Clock::time_point start);

    // One line the reader returned; gaveValues when its values were taken,
    // rejected when its checksum refused it.
    void CountLine(bool gaveValues, bool rejected, Clock::time_point now);
    // Takes the device's condition at now; true when the state changed.
    bool Observe(const Device& device, Clock::time_point now);

    HealthState State() const { return state; }
    // Why the state is slow ("values from /dev/gps at 0.4 a second for 5 s
    // (expected 1)"); empty in any other state.
    std::string SlowReason() const;
    // The record's text at now; the next record's rates count from now.
    std::string TakeRecord(Clock::time_point now);

private:
    bool IsSlow(Clock::time_point now);
    static double SecondsBetween(Clock::time_point from, Clock::time_point to);

    const std::string device;
    const double expectedRate;
    const Clock::time_point start;

    HealthState state = HealthState::Reading;
    Device last;
    bool wasWaiting = false;
    std::size_t lines = 0;
    std::size_t values = 0;
    std::size_t rejected = 0;
    std::size_t reopens = 0;
    Clock::time_point lastLine;
    Clock::time_point lastValues;
    bool anyLine = false;
    bool anyValues = false;

    // The rate period: since the previous record.
    Clock::time_point periodStart;
    std::size_t periodLines = 0;
    std::size_t periodValues = 0;

    // Slowness: the times of the latest values (no more than it takes to
    // tell slow from not), judged only after a whole window of reading.
    std::deque<Clock::time_point> recentValues;
    Clock::time_point judgedFrom;
    double slowRate = 0.0;
};

#endif
