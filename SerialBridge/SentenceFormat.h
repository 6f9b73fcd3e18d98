// SentenceFormat: what a bridge knows of one sensor's lines, as a table of
// functions handed to the generic bridge application (CSimulator).
//
// A format says which lines are the sensor's own, which values such a line
// gives and what is echoed after a reading; optionally which variables the
// bridge subscribes to and how it answers their mail. The functions are pure:
// everything they depend on comes in as arguments (the line, the settings
// and the values the bridge holds), so a format keeps no state of its own.
// What must outlive one line (the last position, a date learnt from one
// sentence and used by a later one) is a value in the table the bridge holds
// and passes back in: a value with publish false is kept and passed back but
// never published. A format whose state is not a value (a GPS receiver's
// fix being gathered) keeps it behind its functions: such a format is made
// for one bridge.
//
// Values are published as text or, when number is set, as a double; the
// bridge stamps them (see CSimulator) unless the format gives a time of its
// own (a receiver's time of fix, in MOOS time).
//
// Plain values; a format may be copied and used from any thread.
#ifndef SERIALBRIDGE_SENTENCEFORMAT_H
#define SERIALBRIDGE_SENTENCEFORMAT_H

#include "BridgeSettings.h"

#include "MOOSLIB/MOOSMsg.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// One value a line gives.
struct SentenceValue
{
    std::string name;
    std::string text;
    // Published as a double instead of text when set.
    std::optional<double> number;
    // The time the value stands for, when the sensor says (a fix's time);
    // otherwise the bridge's own stamp applies.
    std::optional<double> time;
    // When the line that gave it was read, in MOOS time; set by the bridge.
    double readTime = 0.0;
    // False for what a format keeps between lines without publishing it.
    bool publish = true;
    // True for a value that stands for one reading (a GPS fix's numbers):
    // published after the line that gave it, never again after later lines.
    bool once = false;
};

using SentenceValues = std::vector<SentenceValue>;

// A value published as text.
inline SentenceValue TextValue(std::string name, std::string text)
{
    SentenceValue value;
    value.name = std::move(name);
    value.text = std::move(text);
    return value;
}

// A value published as the number, with text as the sensor wrote it (the
// echo's).
inline SentenceValue NumberValue(std::string name, std::string text, double number)
{
    SentenceValue value = TextValue(std::move(name), std::move(text));
    value.number = number;
    return value;
}

// The values the bridge holds, in the order they are published: the
// format's initial values first, names a line adds later after them.
class ValueTable
{
public:
    explicit ValueTable(SentenceValues initial = {}) : values(std::move(initial)) {}

    // Replaces the value of the same name, or adds it at the end.
    void Update(const SentenceValue& value);
    // The value of that name; null when there is none.
    const SentenceValue* Find(const std::string& name) const;
    // The text of that name; empty when there is none.
    std::string Text(const std::string& name) const;
    const SentenceValues& All() const { return values; }

private:
    SentenceValues values;
};

// A line as read from the device, line end included.
struct SentenceLine
{
    std::string text;
    // When it was read, in MOOS time.
    double readTime = 0.0;
};

struct SentenceFormat
{
    // Whether line is one of the sensor's sentences: only those are checked
    // for their checksum (VerifyChecksum) and give values.
    std::function<bool(const std::string& line, const BridgeSettings&)> isOwn;
    // The values of an own line that passed the checksum; nullopt when the
    // line may not give any (a GPS sentence without a fix under RequireFix),
    // which counts as a line that gave nothing.
    std::function<std::optional<SentenceValues>(const SentenceLine&, const BridgeSettings&,
                                                const ValueTable& held)>
        valuesOf;
    // The text printed (and flushed) on standard output after a reading,
    // given the line and the values as just published.
    std::function<std::string(const std::string& line, const ValueTable& held)> echo;
    // What is published before the first own line gave values, in order.
    SentenceValues initial;

    // Optional, for formats whose lines and values depend on the settings.
    // initialFor, when set, gives what is published first instead of
    // initial.
    std::function<SentenceValues(const BridgeSettings&)> initialFor;
    // Why an own line that passed the checksum is malformed (one line), or
    // empty: a malformed line gives nothing and counts with the lines
    // rejected for their checksum.
    std::function<std::string(const std::string& line, const BridgeSettings&)> rejects;
    // What the bridge waits for besides lines (a GPS "fix"), or empty for
    // nothing: with DataTimeout, when no own line gave a value of that name
    // for that long, the application error "no <awaited> for N s" is raised,
    // and cleared by the next line that gives one.
    std::function<std::string(const BridgeSettings&)> awaited;

    // Variables the bridge subscribes to at start-up and on every
    // connection; their mail goes to answer when it is set.
    std::vector<std::string> subscriptions;
    std::function<SentenceValues(const CMOOSMsg& mail, const ValueTable& held)> answer;
};

#endif
