// Speed of GPS sentence decoding: lines per second of the largest real
// capture through the decoder alone, and through the decoder, the fix
// records with local metres and their text; and through the GPS bridge's
// sentence format with its default settings against Numeric and FixRecord.
#include "FixEpoch.h"
#include "GgaFormat.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>
#include <vector>

namespace
{
std::vector<std::string> CaptureLines(const char* name)
{
    std::ifstream in(std::string(MOOS_SHARED_DIR) + "/captures/nmea/" + name);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line + "\n");
    return lines;
}

void BM_DecodeSentences(benchmark::State& State, const char* capture)
{
    const std::vector<std::string> lines = CaptureLines(capture);
    for (auto _ : State)
        for (const std::string& line : lines)
            benchmark::DoNotOptimize(gps::DecodeSentence(line, true));
    State.SetItemsProcessed(State.iterations() * static_cast<std::int64_t>(lines.size()));
}

void BM_DecodeIntoFixRecords(benchmark::State& State, const char* capture)
{
    const std::vector<std::string> lines = CaptureLines(capture);
    for (auto _ : State)
    {
        gps::FixAccumulator fixes(gps::LocalGrid::Make(44.07, -121.31));
        for (const std::string& line : lines)
        {
            const gps::Decoding decoding = gps::DecodeSentence(line, true);
            if (!decoding.sentence)
                continue;
            if (const std::optional<gps::FixRecord> record = fixes.Add(*decoding.sentence))
                benchmark::DoNotOptimize(gps::FormatFixRecord(*record));
        }
    }
    State.SetItemsProcessed(State.iterations() * static_cast<std::int64_t>(lines.size()));
}
// What the bridge does with a line short of the device and the server: the
// format's checks and values, kept in the table it publishes from.
void BM_GpsFormat(benchmark::State& State, bool numbers)
{
    const std::vector<std::string> lines = CaptureLines("ublox-8.nmea");
    BridgeSettings settings;
    settings.acceptAnyTalker = true;
    settings.gps.numeric = numbers;
    settings.gps.fixRecord = numbers;
    settings.gps.latOrigin = 44.07;
    settings.gps.longOrigin = -121.31;
    const SentenceFormat format = GgaFormat();
    ValueTable held(format.initialFor(settings));
    for (auto _ : State)
        for (const std::string& line : lines)
        {
            if (!format.isOwn(line, settings) || !format.rejects(line, settings).empty())
                continue;
            if (const std::optional<SentenceValues> values =
                    format.valuesOf(SentenceLine{line, 0.0}, settings, held))
                for (const SentenceValue& value : *values)
                    held.Update(value);
        }
    State.SetItemsProcessed(State.iterations() * static_cast<std::int64_t>(lines.size()));
}
} // namespace

BENCHMARK_CAPTURE(BM_GpsFormat, text_only, false);
BENCHMARK_CAPTURE(BM_GpsFormat, numeric_and_fix_record, true);
BENCHMARK_CAPTURE(BM_DecodeSentences, ublox8, "ublox-8.nmea");
BENCHMARK_CAPTURE(BM_DecodeSentences, bundg_zeus_9, "bundg_zeus_9.nmea");
BENCHMARK_CAPTURE(BM_DecodeIntoFixRecords, ublox8, "ublox-8.nmea");

BENCHMARK_MAIN();
