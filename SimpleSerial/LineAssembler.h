// LineAssembler: CR LF-terminated lines out of a device's bytes, with the
// bounds that keep a caller slower than its device current.
//
// A pure function of the bytes fed and the times given: it reads no clock
// and no device, so every bound below can be tried by feeding bytes at
// chosen moments. The device's owner tells it when a caller's call begins
// and ends, feeds it each read with the moment it was read, takes lines,
// and says when the input starts and ends.
//
// Lines: everything up to and including the first CR LF; a lone CR or LF
// ends nothing. A run of more than kMaxLineLength bytes without CR LF is
// discarded up to its CR LF, and assembly goes on.
//
// Age: a line older than kMaxLineAge when it would be taken is dropped,
// oldest first, so a caller slower than the device gets current lines
// instead of a growing delay. Bytes are stamped when they are read; but a
// call that comes after an absence longer than kMaxLineAge and more than
// twice the caller's usual one (the caller was held up) takes what it finds
// first as having waited since the previous call, and drops it. Two lines
// are never dropped for age:
// - the newest line held while the caller is present: a device hands a
//   burst over in one block, so its lines cannot be told apart by arrival,
//   and the newest of them is the most current reading there is; dropping it
//   would leave the caller with older data, not newer;
// - every line held once the input has ended: they are the device's last
//   words, and nothing newer can come.
//
// Memory: whole lines waiting are capped at kMaxPendingBytes of text (plus
// 16 bytes a line of bookkeeping); beyond it the oldest are dropped, never
// the newest.
//
// Each kind of loss is counted (drops()) and traced through the sink with
// its cause and what was dropped: every absence at once; a slow caller's
// losses at the first and then in a summary at most once a minute (with the
// advice the owner gave, setBehindAdvice), so every dropped line is counted
// in some trace; reportTotal gives the total since start (at exit).
//
// A plain value; one thread at a time.
#ifndef SIMPLESERIAL_LINEASSEMBLER_H
#define SIMPLESERIAL_LINEASSEMBLER_H

#include "HeldLines.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

// Receives one trace line at a time, without its newline.
using SerialTraceSink = std::function<void(const std::string&)>;

// The sink that writes each trace as a line on standard error.
SerialTraceSink StandardErrorTraces();

// Lines lost so far, by cause.
struct LineDrops
{
    std::size_t stale = 0;        // outlived the age bound while the caller read
    std::size_t waitedAway = 0;   // waited through the caller's absence
    std::size_t noRoom = 0;       // beyond the pending cap
    std::size_t overlongRuns = 0; // runs without CR LF discarded (not lines)

    std::size_t lines() const { return stale + waitedAway + noRoom; }
};

class LineAssembler
{
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;

    // The longest line taken, CR LF included.
    static constexpr std::size_t kMaxLineLength = 4096;
    // Whole lines that may wait for the caller, in bytes.
    static constexpr std::size_t kMaxPendingBytes = 64 * 1024;
    // The oldest a taken line may be, but for the two exemptions above.
    static constexpr std::chrono::milliseconds kMaxLineAge{2000};

    // source names the device in traces.
    LineAssembler(std::string source, SerialTraceSink trace);

    void setTraceSink(SerialTraceSink sink) { trace = std::move(sink); }
    // What the traces of lines a slow caller lost add on how to keep up (the
    // program's own setting); empty for nothing.
    void setBehindAdvice(std::string advice) { behindAdvice = std::move(advice); }
    // Traces the lines lost since the assembler was made, by cause; nothing
    // when none was.
    void reportTotal();

    // The input (re)starts at now: the caller's pace is measured afresh and
    // lines held age as usual again.
    void start(TimePoint now);
    // The input ended: the unfinished line is dropped, whole lines held are
    // all taken whatever their age.
    void end();

    // A caller's call begins and ends; the time between is its absence.
    void beginCall(TimePoint now);
    void endCall(TimePoint now) { lastCallEnd = now; }
    // Bytes read from the device at now.
    void feed(const char* bytes, std::size_t count, TimePoint now);
    // Drops what the bounds say at now, then moves the oldest line left into
    // line; false when none is held.
    bool take(std::string& line, TimePoint now);

    LineDrops drops() const { return dropped; }
    // When the newest whole line was read from the device, whether it was
    // taken or dropped since; the epoch of the clock before the first.
    TimePoint lastArrival() const { return lastLineRead; }

private:
    enum class DropCause
    {
        CallerSlower,
        CallerAway,
        NoRoom
    };

    void completeLine(std::size_t start, std::size_t length, TimePoint read);
    void discardOverlongRun();
    void dropStaleLines(TimePoint now);
    void boundHeldBytes();
    void dropOldestLine(DropCause cause);
    void reportDrops(TimePoint now);
    void emit(const char* format, ...) __attribute__((format(printf, 2, 3)));

    const std::string source;
    SerialTraceSink trace;

    // Whole lines not yet taken, oldest first; the start of the next line
    // (never kMaxLineLength long); whether bytes up to the next CR LF belong
    // to an over-long run; whether the input has ended.
    HeldLines held;
    std::string partial;
    bool discardingRun = false;
    bool inputEnded = false;
    TimePoint lastLineRead{};

    // The caller's pace: when its previous call ended, its usual time away
    // (the longest recent one, halving with every call), and whether this
    // call follows an absence far longer than that, and how long it was.
    TimePoint lastCallEnd{};
    Clock::duration usualAway{};
    Clock::duration awayFor{};
    bool absent = false;

    // Drop bookkeeping for the traces: slow-caller losses not yet told,
    // when the last summary was told, and the lines and cause of this take.
    static constexpr std::chrono::seconds kDropSummaryPeriod{60};
    std::string behindAdvice;
    std::size_t unreported = 0;
    bool summaryTold = false;
    TimePoint lastSummary{};
    std::size_t droppedThisTake = 0;
    DropCause takeCause = DropCause::CallerSlower;
    LineDrops dropped;
};

#endif
