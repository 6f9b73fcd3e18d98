// Speed of the wire format: one typical notification written and read back,
// a packet of 1000 of them from list to bytes and from bytes to list, and a
// plain memcpy of the same packet bytes as the reference to compare against.
#include "MOOSLIB/MOOSCommPkt.h"
#include "MOOSLIB/MOOSMsg.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace
{
constexpr int kPacketMessages = 1000;

// A key and a string value of about 10 characters, as the bridges publish.
CMOOSMsg TypicalNotification()
{
    CMOOSMsg Msg(MOOS_NOTIFY, "Latitude_1", "4807.03812", 1765154877.25);
    Msg.m_sSrc = "Vantor";
    Msg.m_nID = 42;
    return Msg;
}

MOOSMSG_LIST TypicalMail()
{
    return MOOSMSG_LIST(kPacketMessages, TypicalNotification());
}

std::vector<unsigned char> PacketBytes()
{
    MOOSMSG_LIST List = TypicalMail();
    CMOOSCommPkt Pkt;
    Pkt.Serialize(List, true);
    return std::vector<unsigned char>(Pkt.Stream(), Pkt.Stream() + Pkt.GetStreamLength());
}

void BM_MessageWriteAndReadBack(benchmark::State& State)
{
    CMOOSMsg Msg = TypicalNotification();
    std::vector<unsigned char> Buffer(Msg.GetSizeInBytesWhenSerialised());
    const int nSize = static_cast<int>(Buffer.size());
    for (auto _ : State)
    {
        Msg.Serialize(Buffer.data(), nSize, true);
        CMOOSMsg Read;
        benchmark::DoNotOptimize(Read.Serialize(Buffer.data(), nSize, false));
        benchmark::DoNotOptimize(Read.m_sVal.data());
    }
    State.SetItemsProcessed(State.iterations());
    State.SetBytesProcessed(State.iterations() * nSize);
}
BENCHMARK(BM_MessageWriteAndReadBack);

void BM_PacketListToBytes(benchmark::State& State)
{
    MOOSMSG_LIST List = TypicalMail();
    int nBytes = 0;
    for (auto _ : State)
    {
        CMOOSCommPkt Pkt;
        benchmark::DoNotOptimize(Pkt.Serialize(List, true));
        nBytes = Pkt.GetStreamLength();
    }
    State.SetItemsProcessed(State.iterations() * kPacketMessages);
    State.SetBytesProcessed(State.iterations() * nBytes);
}
BENCHMARK(BM_PacketListToBytes);

// Gathering the received bytes into the packet is part of the cost.
void BM_PacketBytesToList(benchmark::State& State)
{
    std::vector<unsigned char> Bytes = PacketBytes();
    const int nSize = static_cast<int>(Bytes.size());
    for (auto _ : State)
    {
        CMOOSCommPkt Pkt;
        Pkt.Fill(Bytes.data(), 4);
        Pkt.Fill(Bytes.data() + 4, nSize - 4);
        MOOSMSG_LIST List;
        benchmark::DoNotOptimize(Pkt.Serialize(List, false, true));
        benchmark::DoNotOptimize(List.size());
    }
    State.SetItemsProcessed(State.iterations() * kPacketMessages);
    State.SetBytesProcessed(State.iterations() * nSize);
}
BENCHMARK(BM_PacketBytesToList);

// The reference: copying the packet's bytes and nothing else.
void BM_MemcpyOfPacketBytes(benchmark::State& State)
{
    std::vector<unsigned char> Bytes = PacketBytes();
    std::vector<unsigned char> Copy(Bytes.size());
    for (auto _ : State)
    {
        std::memcpy(Copy.data(), Bytes.data(), Bytes.size());
        benchmark::ClobberMemory();
    }
    State.SetItemsProcessed(State.iterations() * kPacketMessages);
    State.SetBytesProcessed(State.iterations() * static_cast<int64_t>(Bytes.size()));
}
BENCHMARK(BM_MemcpyOfPacketBytes);
} // namespace

BENCHMARK_MAIN();
