// Speed of GPS sentence decoding: lines per second of the largest real
// capture through the decoder alone, and through the decoder, the fix
// records with local metres and their text.
#include "FixEpoch.h"

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
} // namespace

BENCHMARK_CAPTURE(BM_DecodeSentences, ublox8, "ublox-8.nmea");
BENCHMARK_CAPTURE(BM_DecodeSentences, bundg_zeus_9, "bundg_zeus_9.nmea");
BENCHMARK_CAPTURE(BM_DecodeIntoFixRecords, ublox8, "ublox-8.nmea");

BENCHMARK_MAIN();
