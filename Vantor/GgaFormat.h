// The sentence format of the GPS bridge, Vantor.
//
// The receiver's "$GPGGA" sentences give the position fields as the string
// variables "Latitude", "Longitude", "Indic_EW" and "Indic_NS", published in
// that order as the receiver sent them: no conversion. Before the first GGA
// sentence they are empty. The echo is the four values, one a line.
//
// Settings of the process's block change that (BridgeSettings): with
// AcceptAnyTalker any talker's GGA sentence ("$GNGGA", "$GLGGA", ...) counts
// as "$GPGGA"; with RequireFix only a GGA sentence with a usable fix (quality
// 1 to 5, well-formed position fields) gives values, and the format awaits a
// "fix" (DataTimeout then watches for one). Numeric, FixRecord and StampTime =
// receiver make the receiver's RMC, VTG and ZDA sentences count too, and
// publish <prefix>_LAT, _LON, _QUALITY, _SATELLITES, _HDOP, _ALTITUDE, _SPEED,
// _COURSE, _UTC, _X, _Y as numbers and <prefix>_FIX as one record per fix
// (GpsReading). Whenever sentences are decoded (any of these keys), a
// sentence whose position, time or quality fields are malformed gives nothing
// and is counted with the rejected lines. With PublishText false the four
// text variables are not published and the echo is "name=value" of every
// published value. Checksums, publishing, time-outs and the device are the
// bridge application's (CSimulator).
//
// The free functions are pure and safe from any thread. GgaFormat's
// functions share one GpsReading: a format is for one bridge, on its loop's
// thread.
#ifndef VANTOR_GGAFORMAT_H
#define VANTOR_GGAFORMAT_H

#include "BridgeSettings.h"
#include "FixEpoch.h"
#include "SentenceFormat.h"

#include <optional>
#include <string>

// The position fields of one GGA sentence, as text.
struct GgaPosition
{
    std::string latitude;
    std::string indic_NS;
    std::string longitude;
    std::string indic_EW;
};

// Whether line begins with "$GPGGA", or with anyTalker with "$", two
// upper-case letters and "GGA".
bool IsGgaSentence(const std::string& line, bool anyTalker);

// Takes the position fields of line when it begins with "$GPGGA" (in that
// case); false, leaving position alone, for any other line. Missing fields
// shift or come out empty; nothing is rejected.
bool ParseGpgga(const std::string& line, GgaPosition& position);

// The position fields of any GGA sentence, by the same rules.
GgaPosition GgaFields(const std::string& line);

// What the receiver's decoded sentences give, with what must outlive one
// line: the date learnt from RMC or ZDA, the fix being gathered and the
// time of the last timed sentence (which a VTG shares). Made with the first
// line's settings, which stay the same for a bridge.
class GpsReading
{
public:
    // The values of an own line under settings; nullopt for a sentence that
    // gives nothing (no data, malformed, or without a fix under RequireFix).
    // A usable fix adds the unpublished value "fix".
    std::optional<SentenceValues> ValuesOf(const SentenceLine& line,
                                           const BridgeSettings& settings);

private:
    gps::FixAccumulator& Fixes(const GpsSettings& gps);
    // The UTC seconds of a sentence's time of fix, once a date is known.
    std::optional<double> TimeOf(const gps::Sentence& sentence);
    void AddNumbers(const gps::Sentence& sentence, std::optional<double> utc,
                    const GpsSettings& gps, SentenceValues& values) const;
    static SentenceValue FixValue(const gps::FixRecord& record, double readTime,
                                  const GpsSettings& gps);

    std::optional<gps::FixAccumulator> fixes;
    std::optional<gps::LocalGrid> grid;
    std::optional<double> lastUtc;
};

// The table the bridge application is built from.
SentenceFormat GgaFormat();

// What the shared main needs to know of this program.
BridgeProgram VantorProgram();

#endif
