#include "FixEpoch.h"

#include <algorithm>
#include <charconv>

namespace gps
{
namespace
{
constexpr std::int64_t kNanosPerSecond = 1000000000;
constexpr std::int64_t kNanosPerDay = 86400 * kNanosPerSecond;

std::int64_t TotalNanos(const UtcTime& utc)
{
    return utc.seconds * kNanosPerSecond + utc.nanoseconds;
}

std::int64_t Distance(std::int64_t a, std::int64_t b)
{
    return a > b ? a - b : b - a;
}

// value with a fixed number of decimals; a value that rounds to zero has no
// minus sign.
std::string Fixed(double value, int decimals)
{
    char text[64];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    std::string out(text, result.ptr);
    if (out.front() == '-' && out.find_first_not_of("-0.") == std::string::npos)
        out.erase(0, 1);
    return out;
}

// At most maxDecimals decimals, trailing zeros (and a bare point) dropped.
std::string Trimmed(double value, int maxDecimals)
{
    std::string out = Fixed(value, maxDecimals);
    if (out.find('.') == std::string::npos)
        return out;
    out.erase(out.find_last_not_of('0') + 1);
    if (out.back() == '.')
        out.pop_back();
    return out;
}

std::string UtcText(const UtcTime& utc)
{
    const std::string nanos = std::to_string(kNanosPerSecond + utc.nanoseconds).substr(1);
    return std::to_string(utc.seconds) + "." +
           nanos.substr(0, static_cast<std::size_t>(std::max(2, utc.fractionDigits)));
}

void Append(std::string& out, const char* name, const std::string& value)
{
    if (!out.empty())
        out += ',';
    out += name;
    out += '=';
    out += value;
}

template <typename T> void SetIfKnown(std::optional<T>& into, const std::optional<T>& value)
{
    if (value)
        into = value;
}

std::optional<TimeOfDay> TimeOf(const Sentence& sentence)
{
    if (const auto* gga = std::get_if<GgaFix>(&sentence))
        return gga->time;
    if (const auto* rmc = std::get_if<RmcFix>(&sentence))
        return rmc->time;
    if (const auto* zda = std::get_if<ZdaTime>(&sentence))
        return zda->time;
    return std::nullopt;
}
} // namespace

double UtcTime::Seconds() const
{
    return static_cast<double>(seconds) + static_cast<double>(nanoseconds) * 1e-9;
}

UtcTime ToUtc(const CivilDate& date, const TimeOfDay& time)
{
    return {DayStart(date) + time.nanoseconds / kNanosPerSecond, time.nanoseconds % kNanosPerSecond,
            time.fractionDigits};
}

void DateTracker::NoteDated(const CivilDate& date, const TimeOfDay& time)
{
    reference = ToUtc(date, time);
}

std::optional<UtcTime> DateTracker::Resolve(const TimeOfDay& time) const
{
    if (!reference)
        return std::nullopt;
    const std::int64_t near = TotalNanos(*reference);
    const std::int64_t sameDay = near - near % kNanosPerDay + time.nanoseconds;
    std::int64_t best = sameDay;
    for (const std::int64_t candidate : {sameDay - kNanosPerDay, sameDay + kNanosPerDay})
        if (Distance(candidate, near) < Distance(best, near))
            best = candidate;
    return UtcTime{best / kNanosPerSecond, best % kNanosPerSecond, time.fractionDigits};
}

std::optional<UtcTime> DateTracker::Follow(const TimeOfDay& time)
{
    const std::optional<UtcTime> utc = Resolve(time);
    if (utc)
        reference = utc;
    return utc;
}

std::string FormatFixRecord(const FixRecord& record)
{
    std::string out;
    if (record.utc)
        Append(out, "utc", UtcText(*record.utc));
    if (record.position)
    {
        Append(out, "lat", Trimmed(record.position->latitude, 9));
        Append(out, "lon", Trimmed(record.position->longitude, 9));
    }
    if (record.quality)
        Append(out, "quality", std::to_string(*record.quality));
    if (record.satellites)
        Append(out, "satellites", std::to_string(*record.satellites));
    const std::pair<const char*, const std::optional<double>*> measures[] = {
        {"hdop", &record.hdop},
        {"altitude", &record.altitude},
        {"speed", &record.speed},
        {"course", &record.course}};
    for (const auto& [name, value] : measures)
        if (*value)
            Append(out, name, Trimmed(**value, 3));
    if (record.local)
    {
        Append(out, "x", Fixed(record.local->x, 2));
        Append(out, "y", Fixed(record.local->y, 2));
    }
    return out;
}

FixAccumulator::FixAccumulator(std::optional<LocalGrid> gridIn) : grid(gridIn) {}

std::optional<FixRecord> FixAccumulator::Add(const Sentence& sentence)
{
    NoteDate(sentence);
    const std::optional<TimeOfDay> time = TimeOf(sentence);
    const bool timeless = std::holds_alternative<VtgMotion>(sentence);
    if (!time && !timeless)
        return std::nullopt; // a GGA without a time of fix cannot be placed
    if (time && time == completedTime)
        return std::nullopt;
    std::optional<FixRecord> finished;
    if (time && (!open || open->time != *time))
        finished = StartEpoch(*time);
    if (!open)
        return finished;
    std::visit([this](const auto& s) { Take(s); }, sentence);
    if (!finished && IsFull())
        finished = Finish();
    return finished;
}

std::optional<FixRecord> FixAccumulator::Flush()
{
    return Finish();
}

std::optional<FixRecord> FixAccumulator::StartEpoch(const TimeOfDay& time)
{
    std::optional<FixRecord> finished = Finish();
    open = FixRecord{};
    open->time = time;
    return finished;
}

void FixAccumulator::Take(const GgaFix& gga)
{
    openHasGga = true;
    open->position = gga.FixPosition();
    open->quality = gga.quality;
    open->satellites = gga.satellites;
    open->hdop = gga.hdop;
    open->altitude = gga.altitude;
}

void FixAccumulator::Take(const RmcFix& rmc)
{
    openHasRmc = true;
    SetIfKnown(open->speed, rmc.speed);
    SetIfKnown(open->course, rmc.course);
}

void FixAccumulator::Take(const VtgMotion& vtg)
{
    SetIfKnown(open->speed, vtg.speed);
    SetIfKnown(open->course, vtg.course);
}

void FixAccumulator::NoteDate(const Sentence& sentence)
{
    if (const auto* rmc = std::get_if<RmcFix>(&sentence))
        dates.NoteDated(rmc->date, rmc->time);
    if (const auto* zda = std::get_if<ZdaTime>(&sentence))
        dates.NoteDated(zda->date, zda->time);
}

bool FixAccumulator::IsFull() const
{
    return openHasGga && open->speed && open->course && dates.Resolve(open->time);
}

std::optional<FixRecord> FixAccumulator::Finish()
{
    if (!open)
        return std::nullopt;
    FixRecord record = *open;
    const bool givesRecord = openHasGga || openHasRmc;
    open.reset();
    openHasGga = openHasRmc = false;
    completedTime = record.time;
    if (!givesRecord)
        return std::nullopt;
    record.utc = dates.Follow(record.time);
    if (grid && record.position)
        record.local = grid->ToLocal(*record.position);
    return record;
}

} // namespace gps
