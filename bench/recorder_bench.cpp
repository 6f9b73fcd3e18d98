// Lines per second a bridge's reader gets through with the recorder of the
// raw lines on and off: a writer thread fills a pseudo-terminal with GGA
// sentences as fast as it takes them, and the reader reads them with
// SimpleSerial, handing each to LineRecorder when recording. Beside it, how
// fast the recorder alone writes lines to a file (Record, then all written).
#include "LineRecorder.h"
#include "PseudoTerminal.h"
#include "SimpleSerial.h"

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

void BM_ReadLines(benchmark::State& state)
{
    const bool recording = state.range(0) != 0;
    RecordingFolder folder;
    std::unique_ptr<LineRecorder> recorder;
    if (recording)
        recorder = std::make_unique<LineRecorder>(LineRecorder::Settings{folder.Pattern()},
                                                  [](const std::string&) {});
    Feeder feeder;
    SimpleSerial device(feeder.Device(), 19200);
    std::string line;
    for (auto _ : state)
    {
        if (!device.readLine(line, std::chrono::seconds(5)))
            state.SkipWithError("no line");
        if (recorder)
            recorder->Record(line);
    }
    state.SetItemsProcessed(state.iterations());
    if (recorder)
        state.counters["dropped"] = static_cast<double>(recorder->GetStatus().dropped);
}
BENCHMARK(BM_ReadLines)->Arg(0)->Arg(1)->ArgName("recording")->UseRealTime();

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
