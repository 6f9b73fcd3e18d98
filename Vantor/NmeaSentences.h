// NMEA sentences: what one GGA, RMC, VTG or ZDA line says, as numbers.
//
// DecodeSentence is a pure function of one line (no state, any thread). It
// tells four outcomes apart, so that a caller can count rejected lines and
// still ignore sentences that merely say "no data":
//   NotDecoded  not one of the four sentences (or not of an accepted talker);
//   NoData      a well-formed sentence without values: an RMC whose status is
//               not A or whose time or date is empty, a VTG whose mode is N or
//               which has neither course nor speed, a ZDA without time or date;
//   Rejected    a field that names the fix (time, date, position, hemisphere,
//               quality) is there but malformed or out of range:
//               nothing of that line may be used; error says which field;
//   Decoded     sentence holds the values.
// A field that is only a measurement (satellites, HDOP, altitude, speed,
// course) is left out when it is empty or does not parse; the rest of the
// sentence still counts. Speeds are in metres per second, courses in degrees
// true, altitude in metres above mean sea level. The length of a line is not
// limited here: high-precision receivers write more than 82 characters.
#ifndef VANTOR_NMEASENTENCES_H
#define VANTOR_NMEASENTENCES_H

#include "NmeaFields.h"

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace gps
{

// A GGA sentence. position is there only when all four of its fields parse;
// four empty fields leave it out (never 0,0), some empty and some not reject
// the sentence.
struct GgaFix
{
    std::optional<TimeOfDay> time;
    std::optional<GeoPosition> position;
    std::optional<int> quality; // 0 no fix ... 8 simulation, as sent
    std::optional<int> satellites;
    std::optional<double> hdop;
    std::optional<double> altitude;

    // The position a navigator may use: the receiver claims a fix (quality
    // not 0) and both coordinates parsed.
    std::optional<GeoPosition> FixPosition() const;
    // A usable fix: quality 1 to 5 (6 dead reckoning, 7 manual input and 8
    // simulation are not) and a position.
    bool IsUsableFix() const;
};

// An RMC sentence with status A, a time and a date. Its position follows
// the rules of GGA's.
struct RmcFix
{
    TimeOfDay time;
    CivilDate date;
    std::optional<GeoPosition> position;
    std::optional<double> speed;
    std::optional<double> course;
};

// A VTG sentence whose mode is not N; at least one of the two is there.
struct VtgMotion
{
    std::optional<double> speed;
    std::optional<double> course;
};

// A ZDA sentence: the receiver's date and time.
struct ZdaTime
{
    TimeOfDay time;
    CivilDate date;
};

using Sentence = std::variant<GgaFix, RmcFix, VtgMotion, ZdaTime>;

enum class DecodeStatus
{
    NotDecoded,
    NoData,
    Rejected,
    Decoded
};

struct Decoding
{
    DecodeStatus status = DecodeStatus::NotDecoded;
    std::optional<Sentence> sentence; // set when status is Decoded
    std::string error;                // one line when status is Rejected
};

// Decodes a GGA, RMC, VTG or ZDA of talker "GP", or of any talker when
// anyTalker. line may keep its checksum and line end; the checksum is not
// verified here.
Decoding DecodeSentence(std::string_view line, bool anyTalker);

} // namespace gps

#endif
