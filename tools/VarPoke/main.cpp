// VarPoke: sets variables of a MOOS network by hand.
//
// An example of using the comms client directly, without the application
// framework: Run starts the client thread, Notify posts each value, and
// Flush waits until the server has them before Close ends the client (a
// client closed at once would drop what is still in its outbox).
#include "../ProgramVersion.h"
#include "ClientCommandLine.h"
#include "ClientSession.h"
#include "PokeAssignment.h"

#include "MOOSLIB/MOOSCommClient.h"

#include <chrono>
#include <iostream>
#include <vector>

namespace
{
const char kUsage[] =
    "usage: VarPoke [--server HOST:PORT | --mission FILE] [--name NAME]\n"
    "               [--string] [--timeout SECONDS] [--help] NAME=VALUE...\n"
    "Publishes each value, waits until the server has them, and exits.\n"
    "A value is a double when it is a decimal number, and a string otherwise,\n"
    "or when it is written in double quotes (quoted again for the shell:\n"
    "X='\"42\"'), or with --string.\n"
    "  --server HOST:PORT  the server (default LOCALHOST:9000)\n"
    "  --mission FILE      take the server from the file's ServerHost, ServerPort\n"
    "  --name NAME         client name, the values' source\n"
    "                      (default VarPoke-<process id>)\n"
    "  --string            publish every value as a string\n"
    "  --timeout SECONDS   give up when the server has not taken the values\n"
    "                      within this time (default 5)\n"
    "  --help              this text\n"
    "Exit status: 0 when the server has every value; 1 when it cannot be\n"
    "reached in time, refuses the client or loses the connection; 2 for a bad\n"
    "command line.\n";

// A fast tick: the values go out, and are confirmed, within tens of ms.
const unsigned int kCommsTick = 20;
const double kDefaultTimeOut = 5.0;
// Values posted before waiting for the server to take them.
const std::size_t kBatch = 500;

bool OnConnect(void*)
{
    return true; // nothing to register: VarPoke only publishes
}

bool Publish(CMOOSCommClient& Comms, const PokeAssignment& A)
{
    if (A.bIsDouble)
        return Comms.Notify(A.sName, A.dfValue, -1.0);
    return Comms.Notify(A.sName, A.sValue, -1.0);
}

bool ParseAssignments(const ClientCommandLine& Line, std::vector<PokeAssignment>& Values,
                      std::string& sError)
{
    if (Line.Operands.empty())
        sError = "give at least one NAME=VALUE";
    for (const std::string& sArg : Line.Operands)
    {
        PokeAssignment A;
        if (!ParsePokeAssignment(sArg, Line.Has("--string"), A, sError))
            return false;
        Values.push_back(A);
    }
    return sError.empty();
}

double SecondsLeft(std::chrono::steady_clock::time_point Deadline)
{
    return std::chrono::duration<double>(Deadline - std::chrono::steady_clock::now()).count();
}

// Publishes the values on a connected client and waits for the server to
// have them. Returns why it failed, or "" when the server has them all.
std::string PublishAll(CMOOSCommClient& Comms, const std::vector<PokeAssignment>& Values,
                       const ClientCommandLine& Line,
                       std::chrono::steady_clock::time_point Deadline)
{
    const std::string sUnconfirmed =
        "VarPoke: the server at " + Line.Server() +
        " did not confirm the values in time (connection lost or too slow)";
    for (std::size_t i = 0; i < Values.size(); ++i)
    {
        if (!Publish(Comms, Values[i]))
            return "VarPoke: lost the connection to " + Line.Server() +
                   " before every value was sent";
        // The outbox keeps at most 1000 messages and drops the oldest beyond
        // that: a long list goes out in batches.
        if ((i + 1) % kBatch == 0 && !Comms.Flush(SecondsLeft(Deadline)))
            return sUnconfirmed;
    }
    return Comms.Flush(SecondsLeft(Deadline)) ? "" : sUnconfirmed;
}

// One whole run of the client: connect, publish, wait for the server to
// have the values. Returns why it failed, or "". The client is closed, with
// its closing traces, by the time this returns.
std::string Poke(const ClientCommandLine& Line, const std::vector<PokeAssignment>& Values)
{
    ConnectWait Wait;
    Wait.dfTimeout = Line.dfTimeout > 0.0 ? Line.dfTimeout : kDefaultTimeOut;
    const auto Deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(Wait.dfTimeout));
    CMOOSCommClient Comms;
    Comms.SetOnConnectCallBack(OnConnect, nullptr);
    Comms.Run(Line.sHost.c_str(), Line.nPort, Line.sName.c_str(), kCommsTick);
    const ConnectOutcome Outcome = WaitForConnection(Comms, Wait);
    if (Outcome != ConnectOutcome::Connected)
        return ConnectFailureText("VarPoke", Outcome, Line.Server(), Line.sName, Wait.dfTimeout);
    return PublishAll(Comms, Values, Line, Deadline);
}
} // namespace

int main(int argc, char** argv)
{
    if (AnsweredVersion(argc, argv, "VarPoke"))
        return 0;
    ClientCommandLine Line;
    std::vector<PokeAssignment> Values;
    std::string sError;
    if (!ParseClientCommandLine(argc, argv, "VarPoke", {"--string"}, Line, sError) ||
        (!Line.bHelp && !ParseAssignments(Line, Values, sError)))
    {
        std::cerr << "VarPoke: " << sError << " (see --help)" << std::endl;
        return 2;
    }
    if (Line.bHelp)
    {
        std::cout << kUsage;
        return 0;
    }
    InstallStopSignals();
    // The verdict comes after the client's closing traces: the last line.
    const std::string sFailure = Poke(Line, Values);
    if (sFailure.empty())
        return 0;
    std::cerr << "\n" << sFailure << std::endl;
    return 1;
}
