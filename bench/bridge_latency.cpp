// Latency, CPU time and memory of the two bridge programs in operation.
//
// The real Vantor and Dirkel read simulated sensors (SensorSim's GPS receiver
// and compass lines, written by this program on two pseudo-terminals) and
// publish to a LocalServer running in this process, whose notification log
// gives the time each value arrived. The latency of a line is the time from
// its write to the pseudo-terminal until the server logged its values, both
// on the wall clock: for the GPS the $GPGGA sentence (the burst's other
// lines carry no values of their own), for the compass every line. Every line
// publishes once, so the n-th notification of "Latitude" (or "CompassData")
// belongs to the n-th line written; its value is checked against the line.
//
// Three scenarios, each a benchmark run once:
//   Default:   default ticks (AppTick 5, CommsTick 5), one line a second to
//              each bridge;
//   Operating: AppTick 20, CommsTick 20, a GPS burst (GGA first) a second
//              and ten compass lines a second; also the CPU time and peak
//              resident memory of each bridge over the run;
//   SendImmediately: the default ticks and feed of the first scenario with
//              SendImmediately = true, so that a value leaves as soon as it
//              is posted; also the CPU time and peak memory.
// Targets: 99th percentile latency at most one comms period plus 20 ms (with
// SendImmediately: median at most 2 ms, 99th percentile at most 10 ms); no
// line lost; CPU under 1 % of one core; peak resident memory under 8 MiB.
// The exit status is 1 when a target is missed.
//
//   bridge_latency [--seconds N] [Google Benchmark options]   (default 60 s)
#include "E2eSupport.h"
#include "PseudoTerminal.h"
#include "SensorLines.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

using namespace e2e;

namespace
{
double g_seconds = 60.0;
bool g_missed = false;

double WallNow()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

struct Scenario
{
    std::vector<std::string> blockKeys;
    double p99LimitMs;   // target of the 99th percentile latency
    bool gpsBursts;      // the whole burst, or its GGA sentence only
    double compassRate;  // lines a second
    bool measureProcess; // CPU time and peak memory
    double p50LimitMs;   // target of the median latency; 0: none
};

// One line written to a device: when, and the value it should publish.
struct Written
{
    double time;
    std::string value;
    bool timed; // its latency counts
};

// CPU seconds (user + system) of a process so far, from /proc/<pid>/stat.
double CpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0.0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i >= 14)
            ticks += std::atof(field.c_str());
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// Peak resident memory in KiB, from /proc/<pid>/status.
double PeakResidentKiB(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atof(line.c_str() + 6);
    return 0.0;
}

double Percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const std::size_t rank = static_cast<std::size_t>(std::ceil(fraction * values.size()));
    return values[std::min(values.size(), std::max<std::size_t>(rank, 1)) - 1];
}

// The field after the second comma: the latitude of a GGA sentence.
std::string GgaLatitude(const std::string& line)
{
    const std::size_t first = line.find(',');
    const std::size_t second = line.find(',', first + 1);
    return line.substr(second + 1, line.find(',', second + 1) - second - 1);
}

// The text between "$C" and the first "P" of a compass line.
std::string CompassText(const std::string& line)
{
    return line.substr(2, line.find('P') - 2);
}

// Writes lines to a pseudo-terminal and records when.
class Device
{
public:
    const std::string& Path() const { return pty.farEndPath(); }

    void Write(const std::vector<std::string>& lines, const std::vector<Written>& what)
    {
        std::string bytes;
        for (const std::string& line : lines)
            bytes += line + "\r\n";
        // Taken before the write: once written, the bridge may read, publish
        // and be logged before this thread runs again.
        const double now = WallNow();
        pty.write(bytes, std::chrono::milliseconds(500));
        for (Written w : what)
        {
            w.time = now;
            written.push_back(w);
        }
    }
    const std::vector<Written>& Lines() const { return written; }

private:
    PseudoTerminal pty;
    std::vector<Written> written;
};

struct BridgeRun
{
    const char* name; // the process name at the server
    const char* key;  // published once a line
    Device device;
    std::unique_ptr<Process> process;
    double cpuAtStart = 0.0;
};

// Latencies of the timed lines; counts the lines whose values did not arrive
// or were not the line's.
std::vector<double> Latencies(const BridgeRun& bridge, const LogCapture& log, std::size_t& lost)
{
    const std::vector<LoggedNotification> got = log.From(bridge.name, bridge.key);
    const std::vector<Written>& lines = bridge.device.Lines();
    std::vector<double> latencies;
    lost = 0;
    for (std::size_t i = 0; i < lines.size(); ++i)
    {
        if (i >= got.size() || got[i].value != lines[i].value)
            ++lost;
        else if (lines[i].timed)
            latencies.push_back(got[i].time - lines[i].time);
    }
    return latencies;
}

class Bench
{
public:
    explicit Bench(const Scenario& s) : scenario(s) {}

    // Starts both bridges and waits until both loops run (first status).
    bool Start()
    {
        WriteFile(dir / "Mission.moos",
                  MissionText(server.Port(), {"Vantor", "Compass"}, scenario.blockKeys));
        for (BridgeRun* b : {&gps, &compass})
        {
            const std::string variable = b == &gps ? "VANTOR_DEVICE=" : "DIRKEL_DEVICE=";
            b->process = std::make_unique<Process>(
                std::vector<std::string>{Program(b == &gps ? "Vantor" : "Dirkel"),
                                         (dir / "Mission.moos").string()},
                Process::Options{{variable + b->device.Path()}, {}});
        }
        return server.Log().WaitForCount("Vantor", "VANTOR_STATUS", 1) &&
               server.Log().WaitForCount("Compass", "COMPASS_STATUS", 1);
    }

    // Feeds both devices on their schedules for the given time.
    void Run(double seconds)
    {
        for (BridgeRun* b : {&gps, &compass})
            b->cpuAtStart = CpuSeconds(b->process->Pid());
        const auto start = std::chrono::steady_clock::now();
        const long compassLines = std::lround(seconds * scenario.compassRate);
        long nextGps = 0;
        for (long n = 0; n < compassLines; ++n)
        {
            const double at = n / scenario.compassRate;
            std::this_thread::sleep_until(start + std::chrono::duration<double>(at));
            if (at >= nextGps)
                WriteGps(nextGps++);
            const std::string line = compassSensor.NextLine(at);
            compass.device.Write({line}, {{0.0, CompassText(line), true}});
        }
        runSeconds = seconds;
        // The last lines get time to arrive.
        WaitFor(
            [this]
            {
                return server.Log().Count("Vantor", "Latitude") >= gps.device.Lines().size() &&
                       server.Log().Count("Compass", "CompassData") >=
                           compass.device.Lines().size();
            },
            std::chrono::seconds(5));
    }

    void Report(benchmark::State& state)
    {
        for (BridgeRun* b : {&gps, &compass})
            Report(state, *b);
    }

private:
    void WriteGps(long burst)
    {
        const std::vector<std::string> lines =
            receiver.NextBurst(double(burst), std::chrono::system_clock::now());
        const std::vector<std::string> sent =
            scenario.gpsBursts ? lines : std::vector<std::string>{lines.front()};
        std::vector<Written> what;
        const std::string latitude = GgaLatitude(lines.front());
        for (std::size_t i = 0; i < sent.size(); ++i)
            what.push_back({0.0, latitude, i == 0});
        gps.device.Write(sent, what);
    }

    void Report(benchmark::State& state, const BridgeRun& b)
    {
        std::size_t lost = 0;
        const std::vector<double> latencies = Latencies(b, server.Log(), lost);
        const std::string prefix = b.name;
        const double p50 = Percentile(latencies, 0.50) * 1000.0;
        const double p99 = Percentile(latencies, 0.99) * 1000.0;
        state.counters[prefix + "_p50_ms"] = p50;
        state.counters[prefix + "_p99_ms"] = p99;
        state.counters[prefix + "_lines"] = double(b.device.Lines().size());
        state.counters[prefix + "_lost"] = double(lost);
        if (scenario.p50LimitMs > 0.0)
            Check(b.name, "median latency (ms)", p50, scenario.p50LimitMs);
        Check(b.name, "99th percentile latency (ms)", p99, scenario.p99LimitMs);
        Check(b.name, "lines lost", double(lost), 0.0);
        if (!scenario.measureProcess)
            return;
        const double cpu = (CpuSeconds(b.process->Pid()) - b.cpuAtStart) / runSeconds * 100.0;
        const double peak = PeakResidentKiB(b.process->Pid());
        state.counters[prefix + "_cpu_pct"] = cpu;
        state.counters[prefix + "_peak_kib"] = peak;
        Check(b.name, "CPU (% of one core)", cpu, 1.0);
        Check(b.name, "peak resident memory (KiB)", peak, 8.0 * 1024.0);
    }

    static void Check(const char* bridge, const char* what, double value, double limit)
    {
        const bool met = value <= limit;
        g_missed = g_missed || !met;
        std::fprintf(stderr, "%-8s %-30s %10.2f  (target <= %.2f) %s\n", bridge, what, value, limit,
                     met ? "met" : "MISSED");
    }

    const Scenario scenario;
    TempDir dir;
    TestServer server;
    GpsReceiver receiver{0};
    CompassSensor compassSensor;
    BridgeRun gps{"Vantor", "Latitude", {}, nullptr};
    BridgeRun compass{"Compass", "CompassData", {}, nullptr};
    double runSeconds = 1.0;
};

void RunScenario(benchmark::State& state, const Scenario& scenario)
{
    for (auto _ : state)
    {
        Bench bench(scenario);
        if (!bench.Start())
        {
            state.SkipWithError("the bridges did not start");
            g_missed = true;
            return;
        }
        bench.Run(g_seconds);
        state.SetIterationTime(g_seconds);
        bench.Report(state);
    }
}

// One comms period plus 20 ms.
constexpr double kDefaultP99Ms = 200.0 + 20.0;
constexpr double kTick20P99Ms = 50.0 + 20.0;

void BM_DefaultTicksOneLineASecond(benchmark::State& state)
{
    RunScenario(state, {{}, kDefaultP99Ms, false, 1.0, false, 0.0});
}

void BM_Tick20GpsBurstsCompass10Hz(benchmark::State& state)
{
    RunScenario(state, {{"AppTick = 20", "CommsTick = 20"}, kTick20P99Ms, true, 10.0, true, 0.0});
}

void BM_DefaultTicksSendImmediately(benchmark::State& state)
{
    RunScenario(
        state,
        {{"AppTick = 5", "CommsTick = 5", "SendImmediately = true"}, 10.0, false, 1.0, true, 2.0});
}

BENCHMARK(BM_DefaultTicksOneLineASecond)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_Tick20GpsBurstsCompass10Hz)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_DefaultTicksSendImmediately)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// Takes --seconds N out of the arguments.
void TakeSeconds(int& argc, char** argv)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--seconds") == 0)
        {
            g_seconds = std::max(1.0, std::atof(argv[i + 1]));
            std::copy(argv + i + 2, argv + argc, argv + i);
            argc -= 2;
            return;
        }
}
} // namespace

int main(int argc, char** argv)
{
    TakeSeconds(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return g_missed ? 1 : 0;
}
