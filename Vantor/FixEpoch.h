// Time of fix and fix records: from decoded sentences to one record per fix.
//
// DateTracker gives a time of day (GGA's) its date, from the latest sentence
// that carried one (RMC, ZDA), across midnight: of the day before, the day
// itself and the day after, the time of day takes the one that puts it
// nearest to that dated sentence. So a GGA at 000000.20 after an RMC at
// 235959.80 belongs to the next day, and months, years and leap days roll
// over with the calendar. Fix records follow the date from one epoch to the
// next, so it stays right between two dated sentences however far apart.
//
// FixAccumulator groups the sentences of one time of fix (an epoch) into a
// FixRecord. A sentence with a time of day belongs to the epoch of that time;
// a VTG, which has none, to the epoch open at the time. Values of different
// epochs are never combined: a field no sentence of the epoch gave stays
// empty. An epoch is complete, and Add returns its record,
//   - as soon as it holds all a record can hold (a GGA, speed, course and
//     the UTC; x/y follow from the GGA's fix): no later sentence of that
//     epoch could add anything, so the record goes out with no delay;
//   - otherwise when a sentence of another time of fix arrives: one sentence
//     after the last of the epoch, at most one receiver cycle late.
// Sentences of an epoch already complete are dropped, so each epoch gives
// at most one record. An epoch gives a record only when it had a GGA or an
// RMC (a sentence saying whether there is a fix).
//
// Values, not shared: one thread at a time.
#ifndef VANTOR_FIXEPOCH_H
#define VANTOR_FIXEPOCH_H

#include "LocalGrid.h"
#include "NmeaSentences.h"

#include <cstdint>
#include <optional>
#include <string>

namespace gps
{

// A time of fix as seconds since 1970-01-01 00:00 UTC, kept in whole
// seconds and nanoseconds so the receiver's fraction survives exactly.
struct UtcTime
{
    std::int64_t seconds = 0;
    std::int64_t nanoseconds = 0; // 0 to 999999999
    int fractionDigits = 0;       // as the receiver wrote its time

    // The time as a double (exact to about a microsecond in this era).
    double Seconds() const;
};

// The UTC of a date and a time of day.
UtcTime ToUtc(const CivilDate& date, const TimeOfDay& time);

class DateTracker
{
public:
    // Notes the date and time of a dated sentence.
    void NoteDated(const CivilDate& date, const TimeOfDay& time);
    // The UTC of time, once a dated sentence has been noted.
    std::optional<UtcTime> Resolve(const TimeOfDay& time) const;
    // Resolve, and the result becomes the reference for the next time: the
    // date then stays right through a day of undated sentences, as long as
    // no gap between two is half a day.
    std::optional<UtcTime> Follow(const TimeOfDay& time);

private:
    std::optional<UtcTime> reference;
};

struct FixRecord
{
    TimeOfDay time;
    std::optional<UtcTime> utc;
    std::optional<GeoPosition> position; // from a GGA with a fix
    std::optional<int> quality;
    std::optional<int> satellites;
    std::optional<double> hdop;
    std::optional<double> altitude;
    std::optional<double> speed;  // metres per second
    std::optional<double> course; // degrees true
    std::optional<LocalPoint> local;
};

// The record as "utc=...,lat=...,lon=...,quality=...,satellites=...,hdop=...,
// altitude=...,speed=...,course=...,x=...,y=...", in that order, fields not
// known left out. Written without the C locale. utc keeps the receiver's
// fraction digits (at least two); lat and lon are rounded to 9 decimals
// (0.1 mm) and hdop, altitude, speed and course to 3, trailing zeros dropped;
// x and y have 2 decimals (centimetres).
std::string FormatFixRecord(const FixRecord& record);

class FixAccumulator
{
public:
    // With a grid, records with a fix carry x/y.
    explicit FixAccumulator(std::optional<LocalGrid> grid = std::nullopt);

    // Takes one decoded sentence; returns the record this sentence completed,
    // if any.
    std::optional<FixRecord> Add(const Sentence& sentence);
    // At the end of input: the record of the open epoch, if it may give one.
    std::optional<FixRecord> Flush();

    const DateTracker& Dates() const { return dates; }

private:
    void Take(const GgaFix& gga);
    void Take(const RmcFix& rmc);
    void Take(const VtgMotion& vtg);
    void Take(const ZdaTime&) {}
    void NoteDate(const Sentence& sentence);
    std::optional<FixRecord> StartEpoch(const TimeOfDay& time);
    bool IsFull() const;
    std::optional<FixRecord> Finish();

    std::optional<LocalGrid> grid;
    DateTracker dates;
    std::optional<FixRecord> open; // the epoch being filled
    bool openHasGga = false;
    bool openHasRmc = false;
    std::optional<TimeOfDay> completedTime; // the epoch last given out
};

} // namespace gps

#endif
