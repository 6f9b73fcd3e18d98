// Speed of LocalServer: notifications streamed from one comms client to a
// subscribed second one (delivered per second, how many were lost, and the
// packets per second the server saw from the two), with the publisher's
// SendImmediately switch off and on; and the loopback round trip of one turn
// (one packet out, its reply back).
#include "LocalServer.h"

#include "MOOSLIB/MOOSCommClient.h"
#include "MOOSLIB/MOOSCommObject.h"
#include "MOOSLIB/MOOSCommPkt.h"
#include "MOOSLIB/MOOSGenLibGlobalHelper.h"
#include "MOOSLIB/XPCTcpSocket.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <vector>

namespace
{
constexpr int kCommsTick = 200;
// What a client can hand over per turn: its outbox holds 1000 messages.
constexpr int kBatch = 1000;
constexpr double kDesignLimit = 200.0 * 1000.0;
// Most notifications on their way to the subscriber at once: well inside the
// server's queue for one client (10000), so that a publisher sending at once
// measures speed and not how much the server's queue drops.
constexpr long kWindow = 4 * kBatch;

// Refills the producer's outbox after each of its turns, on its own client
// thread, so that a batch never meets a half-sent one and overflows.
struct Producer
{
    CMOOSCommClient Client;
    std::atomic<long> nToSend{0};
    std::atomic<long> nTurns{0};
    long nPosted = 0; // client thread only
    const std::atomic<long>* pDelivered = nullptr;

    static bool OnMail(void* pParam)
    {
        Producer& Self = *static_cast<Producer*>(pParam);
        ++Self.nTurns;
        MOOSMSG_LIST Ignored;
        Self.Client.Fetch(Ignored);
        if (Self.nPosted - *Self.pDelivered > kWindow)
            return true;
        for (int i = 0; i < kBatch && Self.nToSend > 0; ++i, --Self.nToSend, ++Self.nPosted)
            Self.Client.Notify("Stream", double(Self.nToSend));
        return true;
    }
};

// Counts what reaches the subscriber, fetching after every turn so that its
// inbox never fills.
struct Consumer
{
    CMOOSCommClient Client;
    std::atomic<long> nReceived{0};
    std::atomic<long> nTurns{0};

    static bool OnConnect(void* pParam)
    {
        return static_cast<Consumer*>(pParam)->Client.Register("Stream", 0.0);
    }
    static bool OnMail(void* pParam)
    {
        Consumer& Self = *static_cast<Consumer*>(pParam);
        ++Self.nTurns;
        MOOSMSG_LIST Mail;
        Self.Client.Fetch(Mail);
        Self.nReceived += static_cast<long>(Mail.size());
        return true;
    }
};

bool WaitFor(const std::function<bool()>& Holds, double dfSeconds)
{
    auto Deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(dfSeconds);
    while (!Holds())
    {
        if (std::chrono::steady_clock::now() > Deadline)
            return false;
        MOOSPause(1, false);
    }
    return true;
}

void BM_StreamThroughServer(benchmark::State& State)
{
    const long nPerRun = State.range(0);
    CLocalServer Server;
    Server.Start();
    Producer Pub;
    Consumer Sub;
    Pub.pDelivered = &Sub.nReceived;
    Pub.Client.SetOnMailCallBack(&Producer::OnMail, &Pub);
    Pub.Client.SetSendImmediately(State.range(1) != 0);
    Sub.Client.SetOnConnectCallBack(&Consumer::OnConnect, &Sub);
    Sub.Client.SetOnMailCallBack(&Consumer::OnMail, &Sub);
    Sub.Client.Run("127.0.0.1", Server.GetPort(), "sub", kCommsTick);
    Pub.Client.Run("127.0.0.1", Server.GetPort(), "pub", kCommsTick);
    WaitFor([&] { return Pub.Client.IsConnected() && Sub.Client.IsRegisteredFor("Stream"); }, 10);
    MOOSPause(100, false);
    long nSent = 0;
    long nReceived = 0;
    const long nTurnsBefore = Pub.nTurns + Sub.nTurns;
    auto Start = std::chrono::steady_clock::now();
    for (auto _ : State)
    {
        long nBefore = Sub.nReceived;
        Pub.nToSend = nPerRun;
        WaitFor([&] { return Sub.nReceived - nBefore >= nPerRun; }, 30);
        nSent += nPerRun;
        nReceived += Sub.nReceived - nBefore;
    }
    double dfSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
    State.SetItemsProcessed(nReceived);
    State.counters["lost"] = double(nSent - nReceived);
    State.counters["dropped_by_server"] = double(Server.GetDroppedCount());
    // Delivered per second against 200 turns x 1000 messages per second.
    State.counters["of_design_limit"] = double(nReceived) / dfSeconds / kDesignLimit;
    State.counters["server_packets_per_s"] =
        double(Pub.nTurns + Sub.nTurns - nTurnsBefore) / dfSeconds;
    Pub.Client.Close();
    Sub.Client.Close();
}
BENCHMARK(BM_StreamThroughServer)
    ->ArgNames({"n", "send_immediately"})
    ->Args({200000, 0})
    ->Args({200000, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// One bare client's turn: a packet holding one null message, and the reply.
void BM_TurnRoundTrip(benchmark::State& State)
{
    CLocalServer Server;
    Server.Start();
    XPCTcpSocket Socket(long(Server.GetPort()));
    Socket.vConnect("127.0.0.1");
    std::string sBlock = "OWLS WON'T SKATE 4/9/11";
    sBlock.resize(32, '\0');
    Socket.iSendMessage(sBlock.data(), int(sBlock.size()));
    CMOOSCommObject Wire;
    CMOOSMsg Hello(MOOS_DATA, "", "rtt", -1);
    CMOOSMsg Welcome;
    Wire.SendMsg(&Socket, Hello);
    Wire.ReadMsg(&Socket, Welcome, 10);
    std::vector<double> Micros;
    for (auto _ : State)
    {
        auto Start = std::chrono::steady_clock::now();
        MOOSMSG_LIST Out(1);
        CMOOSCommPkt Tx;
        Tx.Serialize(Out, true);
        Wire.SendPkt(&Socket, Tx);
        CMOOSCommPkt Rx;
        Wire.ReadPkt(&Socket, Rx, 10);
        Micros.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - Start)
                .count());
    }
    std::sort(Micros.begin(), Micros.end());
    State.counters["median_us"] = Micros[Micros.size() / 2];
    State.counters["p99_us"] = Micros[std::min(Micros.size() - 1, Micros.size() * 99 / 100)];
}
BENCHMARK(BM_TurnRoundTrip)->Unit(benchmark::kMicrosecond);
} // namespace

BENCHMARK_MAIN();
