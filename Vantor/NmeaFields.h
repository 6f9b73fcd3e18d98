// NMEA fields: splitting a sentence and reading its numbers, positions,
// times and dates.
//
// Pure functions over text, without state: any thread may call them. None of
// them reads the C locale: numbers go through std::from_chars, so a process
// whose LC_NUMERIC writes decimal commas reads "4807.038" as every other
// process does. Every parser is strict and total: it returns a value only
// when the whole field is well formed (digits with at most one decimal point
// where a number is expected, no sign unless one is allowed, no blanks, no
// control bytes, no NUL) and in range, and std::nullopt otherwise, never a
// partial value and never 0 for an empty field.
#ifndef VANTOR_NMEAFIELDS_H
#define VANTOR_NMEAFIELDS_H

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace gps
{

// The fields of one sentence: field 0 is the address without its '$'
// ("GPGGA"), then each comma-separated field in order. The checksum ('*' and
// what follows) and the CR and LF that end the line are not part of any
// field; a CR or LF elsewhere is. The views point
// into the line, which must outlive them.
using Fields = std::vector<std::string_view>;
Fields SplitFields(std::string_view line);

// Whether line is a sentence of the given type ("GGA", "RMC"...): it starts
// with "$GP" and the type, or with anyTalker with '$', any two upper-case
// letters and the type, and the address ends there (a ',' or '*' or the end
// of the line follows).
bool IsSentence(std::string_view line, std::string_view type, bool anyTalker);

// A decimal number: digits with at most one decimal point and at least one
// digit, with allowSign also a leading '-'. No exponent, no "inf" or "nan".
std::optional<double> ParseDecimal(std::string_view text, bool allowSign = false);

// A count: digits only, at least one.
std::optional<unsigned> ParseCount(std::string_view text);

// Signed decimal degrees: north and east positive.
struct GeoPosition
{
    double latitude = 0.0;
    double longitude = 0.0;
};

// A latitude written ddmm.mmmm with hemisphere "N" or "S": at most two digits
// of degrees before the two of whole minutes, minutes below 60, at most 90
// degrees in all. "8832.55","N" gives 88.5425; "4807.038","S" gives -48.1173.
std::optional<double> ParseLatitude(std::string_view value, std::string_view hemisphere);

// A longitude written dddmm.mmmm with hemisphere "E" or "W": at most three
// digits of degrees, minutes below 60, at most 180 degrees in all. A lost
// leading zero ("1131.000") still reads as 11 degrees 31 minutes.
std::optional<double> ParseLongitude(std::string_view value, std::string_view hemisphere);

// Both coordinates of a fix; std::nullopt unless all four fields parse.
std::optional<GeoPosition> ParsePosition(std::string_view latitude, std::string_view northSouth,
                                         std::string_view longitude, std::string_view eastWest);

// A time of day, kept in whole nanoseconds so that "142159.999" stays
// 14:21:59.999 (a double of hhmmss would round it into 142160). The number
// of fraction digits the receiver sent is kept for writing the time back.
struct TimeOfDay
{
    std::int64_t nanoseconds = 0; // since midnight
    int fractionDigits = 0;

    bool operator==(const TimeOfDay& other) const { return nanoseconds == other.nanoseconds; }
    bool operator!=(const TimeOfDay& other) const { return !(*this == other); }
};

// "hhmmss" or "hhmmss.f" with one to nine fraction digits; hours below 24,
// minutes below 60, seconds up to 60 (a leap second).
std::optional<TimeOfDay> ParseTimeOfDay(std::string_view text);

// A day of the Gregorian calendar, always a real one (no 30 February).
struct CivilDate
{
    int year = 1970;
    int month = 1; // 1 to 12
    int day = 1;   // 1 to the length of the month
};

// The date of year, month and day when it exists, from 1970 on.
std::optional<CivilDate> MakeDate(int year, int month, int day);

// A date written ddmmyy: years 80 to 99 are 1980 to 1999, 00 to 79 are 2000
// to 2079.
std::optional<CivilDate> ParseDdmmyy(std::string_view text);

// Seconds from 1970-01-01 00:00 UTC to the start of date.
std::int64_t DayStart(const CivilDate& date);

} // namespace gps

#endif
