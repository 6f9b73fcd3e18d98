// The lines the simulated sensors send, without their CR LF.
//
// GpsReceiver makes the once-a-second burst of a GPS receiver: GGA, GSA, GSV
// and RMC sentences (four lines) of one talker with valid checksums, the position going round a
// circle of 200 m at 4 m/s; the first bursts have no fix (empty position
// fields), as after a cold start. CompassSensor makes "$C<heading>P<pitch>
// R<roll>T<temp>*<checksum>" lines, the heading turning at 0.5 degrees per
// second; with attitude, pitch and roll swing wide and the temperature drifts
// across freezing, as on a boat in a seaway in cold water. NextHeadingLine
// gives the heading as "$HEHDT" sentences of a GNSS heading receiver.
// ReadTextLine splits a capture file into lines whatever its line endings
// (CR LF, LF or CR), and a recording into its LF-ended lines, keeping at
// most a bounded length of each.
//
// All of it is plain computation; one thread at a time per object.
#ifndef SENSORSIM_SENSORLINES_H
#define SENSORSIM_SENSORLINES_H

#include "NmeaChecksum.h"

#include <chrono>
#include <cstddef>
#include <istream>
#include <string>
#include <utility>
#include <vector>

// line with a checksum that does not match it: the text between a leading
// "$" and the last "*" is kept and the two hex digits after that "*" are
// replaced (or "*" and two digits appended when the line has no "*").
std::string WithWrongChecksum(const std::string& line);

class GpsReceiver
{
public:
    // The first noFixBursts bursts report no fix; talker is the two letters
    // after the "$" of every sentence ("GP", "GN"...).
    explicit GpsReceiver(int noFixBursts, std::string talker = "GP")
        : noFixLeft(noFixBursts), talkerId(std::move(talker))
    {
    }

    // The sentences of one burst, at elapsed seconds since the start, stamped
    // with the UTC time utc.
    std::vector<std::string> NextBurst(double elapsed, std::chrono::system_clock::time_point utc);

private:
    int noFixLeft;
    std::string talkerId;
};

class CompassSensor
{
public:
    explicit CompassSensor(bool attitude = false) : swinging(attitude) {}

    // One line, at elapsed seconds since the start.
    std::string NextLine(double elapsed) const;
    // The same heading as a GNSS heading receiver's "$HEHDT,<heading>,T*hh".
    std::string NextHeadingLine(double elapsed) const;

private:
    bool swinging;
};

// How ReadTextLine splits a file into lines.
struct TextLineRule
{
    // Whether CR (alone or before LF) ends a line, as LF always does; a
    // format that writes no raw CR keeps one as a byte of its line, which
    // then reads as damaged.
    bool crEnds = true;
    // The most of one line kept; far longer than any line a bridge takes.
    std::size_t maxLength = 64 * 1024;
};

// Reads the next line of a text file into line, without its ending; false at
// the end of the file. A line longer than rule.maxLength keeps its first
// maxLength bytes and the rest of it is read and thrown away; cut is set then,
// and when the file ends without a line ending.
bool ReadTextLine(std::istream& in, std::string& line, bool& cut, const TextLineRule& rule = {});
// The same for a reader that takes a cut line as it is.
bool ReadTextLine(std::istream& in, std::string& line);

#endif
