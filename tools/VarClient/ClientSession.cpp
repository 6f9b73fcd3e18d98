#include "ClientSession.h"

#include <signal.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <sstream>
#include <thread>

namespace
{
std::atomic<bool> g_bStopRequested{false};

extern "C" void OnStopSignal(int)
{
    g_bStopRequested = true;
}

double SecondsSince(std::chrono::steady_clock::time_point Start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
}
} // namespace

void InstallStopSignals()
{
    struct sigaction Action = {};
    Action.sa_handler = OnStopSignal;
    sigemptyset(&Action.sa_mask);
    sigaction(SIGINT, &Action, nullptr);
    sigaction(SIGTERM, &Action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

bool StopRequested()
{
    return g_bStopRequested;
}

void PauseUnlessStopped(int nMs)
{
    // In slices, so that a stop never waits for a whole pause.
    const auto Start = std::chrono::steady_clock::now();
    while (!StopRequested() && SecondsSince(Start) * 1000.0 < nMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

ConnectOutcome WaitForConnection(CMOOSCommClient& Comms, const ConnectWait& Wait)
{
    const auto Start = std::chrono::steady_clock::now();
    bool bHinted = Wait.sHint.empty();
    for (;;)
    {
        if (Comms.IsConnected())
            return ConnectOutcome::Connected;
        if (!Comms.IsRunning())
            return ConnectOutcome::Refused;
        if (StopRequested())
            return ConnectOutcome::Stopped;
        const double dfWaited = SecondsSince(Start);
        if (Wait.dfTimeout > 0.0 && dfWaited >= Wait.dfTimeout)
            return Comms.HasReachedServer() ? ConnectOutcome::Unwelcomed : ConnectOutcome::TimedOut;
        if (!bHinted && dfWaited >= Wait.dfHintAfter && !Comms.HasReachedServer())
        {
            // The library's attempt lines end in a carriage return.
            std::cerr << "\n" << Wait.sHint << std::endl;
            bHinted = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

namespace
{
const char kWhereToLook[] = "Check --server, or ServerHost and ServerPort in the mission file";
}

std::string ConnectFailureText(const std::string& sProgram, ConnectOutcome Outcome,
                               const std::string& sServer, const std::string& sName,
                               double dfTimeout)
{
    std::ostringstream Text;
    Text << sProgram << ": ";
    switch (Outcome)
    {
    case ConnectOutcome::Refused:
        Text << "the server at " << sServer << " refused the client \"" << sName
             << "\" (its reason is above); if the name is in use, choose another with --name";
        break;
    case ConnectOutcome::Unwelcomed:
        Text << "the server at " << sServer << " took the connection but did not welcome \""
             << sName << "\" within " << dfTimeout
             << " s: it may be busy; try again, or allow longer with --timeout";
        break;
    case ConnectOutcome::TimedOut:
        Text << "no MOOS server answered at " << sServer << " within " << dfTimeout
             << " s: is one running there? " << kWhereToLook;
        break;
    case ConnectOutcome::Stopped:
        Text << "stopped before the server at " << sServer << " answered";
        break;
    case ConnectOutcome::Connected:
        Text << "connected to " << sServer;
        break;
    }
    return Text.str();
}

std::string NoServerHint(const std::string& sProgram, const std::string& sHost, int nPort)
{
    const std::string sPort = std::to_string(nPort);
    return sProgram + ": no MOOS server answers at " + sHost + ":" + sPort +
           " yet: is one running there (for example LocalServer --port " + sPort + ")? " +
           kWhereToLook + ". Still trying; Ctrl-C stops.";
}
