// Lines per second a bridge gets through with the recorder of the raw lines
// on and off: a writer thread fills a pseudo-terminal with GGA sentences as
// fast as it takes them, and a bridge application (RecordTo set or not,
// PublishHealth on, no echo, its values handed to an outbox that drops
// them) reads them one Iterate at a time. Beside it, how fast the recorder
// alone writes lines to a file (Record, then all written).
#include "LineRecorder.h"
#include "PseudoTerminal.h"
#include "SerialBridge.h"

#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

namespace
{
const std::string kLine =
    "$GPGGA,123519.00,4807.03812,N,01131.00000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";

// A temporary folder for the recording, removed with what is in it.
struct RecordingFolder
{
    RecordingFolder()
    {
        char pattern[] = "/tmp/recorder-bench-XXXXXX";
        path = ::mkdtemp(pattern);
    }
    ~RecordingFolder() { std::filesystem::remove_all(path); }
    std::string Pattern() const { return path + "/gps-%Y%m%d.nmea"; }
    std::string path;
};

// Keeps the pseudo-terminal full of lines until stopped.
class Feeder
{
public:
    Feeder() : thread([this] { Run(); }) {}
    ~Feeder()
    {
        stop = true;
        thread.join();
    }
    const std::string& Device() const { return pty.farEndPath(); }

private:
    void Run()
    {
        std::string block;
        for (int i = 0; i < 50; ++i)
            block += kLine;
        while (!stop)
            pty.write(block, std::chrono::milliseconds(50));
    }
    PseudoTerminal pty;
    std::atomic<bool> stop{false};
    std::thread thread;
};

// A sensor whose own lines are GGA sentences, each giving its latitude.
SentenceFormat GgaLatitude()
{
    SentenceFormat format;
    format.isOwn = [](const std::string& line, const BridgeSettings&)
    { return line.rfind("$GPGGA,", 0) == 0; };
    format.valuesOf = [](const SentenceLine& line, const BridgeSettings&, const ValueTable&)
    { return std::optional<SentenceValues>({TextValue("Latitude", line.text.substr(17, 10))}); };
    return format;
}

void BM_BridgeLines(benchmark::State& state)
{
    RecordingFolder folder;
    Feeder feeder;
    BridgeSettings settings = DefaultSettingsFor(feeder.Device());
    settings.baudRate = 921600;
    settings.echo = false;
    settings.publishHealth = true;
    if (state.range(0) != 0)
        settings.recordTo = folder.Pattern();
    CSimulator bridge({"Bench", "Bench", "BENCH_DEVICE", "lines", false}, GgaLatitude(), settings,
                      BridgeSeams{[](const SentenceValue&, double) {}, {}, {}});
    for (auto _ : state)
        bridge.Iterate();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BridgeLines)->Arg(0)->Arg(1)->ArgName("recording")->UseRealTime();

void BM_RecordToFile(benchmark::State& state)
{
    RecordingFolder folder;
    LineRecorder recorder(LineRecorder::Settings{folder.Pattern(), 0, 64 << 20},
                          [](const std::string&) {});
    for (auto _ : state)
    {
        for (int i = 0; i < 10000; ++i)
            recorder.Record(kLine);
        while (recorder.GetStatus().pendingBytes > 0)
            std::this_thread::yield();
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_RecordToFile)->UseRealTime();
} // namespace

BENCHMARK_MAIN();
