// One client of LocalServer's cost curve (bench/cost_curve.py starts many):
// publishes 10 variables at 10 Hz and follows the 10 variables of each of
// up to 5 other clients, and counts what it receives.
//
//   cost_client PORT INDEX CLIENTS SEND_IMMEDIATELY SECONDS LATENCY_FILE
//
// Protocol on the standard streams: once registered it prints "ready" and
// waits for a line on standard input; it then posts for SECONDS, waits up to
// 5 s more for the last mail, prints "done <received> <expected> <repeated>"
// and waits for standard input to close, so that its CPU time can be read
// while it is still alive. Each received notification's latency (the
// receiver's clock minus the time stamped at posting, one computer's clock)
// goes to LATENCY_FILE as raw doubles in seconds.
#include "MOOSLIB/MOOSCommClient.h"
#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace
{
constexpr int kVariables = 10;
constexpr int kRate = 10;
constexpr int kFollowed = 5;
constexpr int kCommsTick = 20;

std::string VariableName(int client, int variable)
{
    return "v" + std::to_string(client) + "_" + std::to_string(variable);
}

// The clients this one follows: the next kFollowed, round the ring (itself
// when it is alone).
std::vector<int> Followed(int index, int clients)
{
    std::vector<int> out;
    for (int d = 1; d <= kFollowed && d < clients; ++d)
        out.push_back((index + d) % clients);
    if (out.empty())
        out.push_back(index);
    return out;
}

// Mail is counted on the client thread; the main thread reads the totals.
struct Receiver
{
    CMOOSCommClient Client;
    std::vector<std::string> Names;
    // This client's own last variable, followed to see its last post reach
    // the server: closing drops whatever the outbox still holds.
    std::string OwnLast;
    std::mutex Guard; // guards the fields below
    double dfOwnLastSeen = -1;
    std::map<std::string, double> LastSeq; // of every followed variable
    std::vector<double> Latencies;
    long nReceived = 0;
    long nRepeated = 0;

    static bool OnConnect(void* pParam)
    {
        Receiver& Self = *static_cast<Receiver*>(pParam);
        for (const std::string& Name : Self.Names)
            Self.Client.Register(Name, 0.0);
        Self.Client.Register(Self.OwnLast, 0.0);
        return true;
    }
    static bool OnMail(void* pParam)
    {
        Receiver& Self = *static_cast<Receiver*>(pParam);
        MOOSMSG_LIST Mail;
        Self.Client.Fetch(Mail);
        const double Now = MOOSLocalTime(false);
        std::lock_guard<std::mutex> Lock(Self.Guard);
        for (const CMOOSMsg& Msg : Mail)
            Self.Take(Msg, Now);
        return true;
    }
    void Take(const CMOOSMsg& Msg, double Now)
    {
        if (Msg.GetKey() == OwnLast)
            dfOwnLastSeen = Msg.GetDouble();
        auto Last = LastSeq.find(Msg.GetKey());
        if (Last == LastSeq.end())
            return;
        if (Msg.GetDouble() <= Last->second)
        {
            ++nRepeated;
            return;
        }
        Last->second = Msg.GetDouble();
        ++nReceived;
        Latencies.push_back(Now - Msg.GetTime());
    }
    bool AllRegistered()
    {
        for (const std::string& Name : Names)
            if (!Client.IsRegisteredFor(Name))
                return false;
        return true;
    }
};

bool WaitUntil(const std::function<bool()>& Holds, double dfSeconds)
{
    const auto Deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(dfSeconds);
    while (!Holds())
    {
        if (std::chrono::steady_clock::now() > Deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Posts every variable once a tick, each tick's number as the value and the
// posting time as the message time, on an absolute schedule. The clients'
// ticks are spread over the period, as independent processes' would be, and
// a client's neighbours on the ring (those it follows) are not its
// neighbours in time: a client that sends at once turns when it posts, so
// values posted just after its own would wait almost a whole comms period
// for its next turn, and all posting at the same instant would measure a
// whole period too.
void Publish(CMOOSCommClient& Client, int index, int clients, long ticks)
{
    auto Due = std::chrono::steady_clock::now() +
               std::chrono::microseconds(1000000 / kRate * (index * 37 % clients) / clients);
    for (long Tick = 0; Tick < ticks; ++Tick)
    {
        std::this_thread::sleep_until(Due);
        for (int v = 0; v < kVariables; ++v)
            Client.Notify(VariableName(index, v), double(Tick), MOOSLocalTime(false));
        Due += std::chrono::microseconds(1000000 / kRate);
    }
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 7)
    {
        std::cerr << "usage: cost_client PORT INDEX CLIENTS SEND_IMMEDIATELY SECONDS FILE\n";
        return 2;
    }
    const long Port = std::atol(argv[1]);
    const int Index = std::atoi(argv[2]);
    const int Clients = std::atoi(argv[3]);
    const long Ticks = long(std::atof(argv[5]) * kRate);
    Receiver Self;
    for (int Other : Followed(Index, Clients))
        for (int v = 0; v < kVariables; ++v)
        {
            Self.Names.push_back(VariableName(Other, v));
            Self.LastSeq[Self.Names.back()] = -1;
        }
    Self.OwnLast = VariableName(Index, kVariables - 1);
    const long Expected = Ticks * long(Self.Names.size());
    Self.Client.SetSendImmediately(std::atoi(argv[4]) != 0);
    Self.Client.SetOnConnectCallBack(&Receiver::OnConnect, &Self);
    Self.Client.SetOnMailCallBack(&Receiver::OnMail, &Self);
    const std::string Name = "c" + std::to_string(Index);
    Self.Client.Run("127.0.0.1", Port, Name.c_str(), kCommsTick);
    if (!WaitUntil([&] { return Self.AllRegistered(); }, 120))
    {
        std::cerr << Name << ": not registered within 120 s\n";
        return 1;
    }
    std::cout << "ready" << std::endl;
    std::string Line;
    if (!std::getline(std::cin, Line))
        return 1;
    Publish(Self.Client, Index, Clients, Ticks);
    WaitUntil(
        [&]
        {
            std::lock_guard<std::mutex> Lock(Self.Guard);
            return Self.nReceived >= Expected && Self.dfOwnLastSeen >= double(Ticks - 1);
        },
        5);
    Self.Client.Close();
    std::lock_guard<std::mutex> Lock(Self.Guard);
    if (FILE* Out = std::fopen(argv[6], "wb"))
    {
        std::fwrite(Self.Latencies.data(), sizeof(double), Self.Latencies.size(), Out);
        std::fclose(Out);
    }
    std::cout << "done " << Self.nReceived << ' ' << Expected << ' ' << Self.nRepeated << std::endl;
    while (std::getline(std::cin, Line))
    {
    }
    return 0;
}
