// LocalServer: a MOOS publish/subscribe server for the clients of one host.
// Runs until SIGINT or SIGTERM; see ServerCommandLine.h for the options.
#include "../ProgramVersion.h"
#include "LocalServer.h"
#include "ServerCommandLine.h"

#include <csignal>
#include <cstdio>
#include <iostream>

namespace
{
int Fail(const std::string& sWhy)
{
    std::cerr << "LocalServer: " << sWhy << " (see --help)\n";
    return 2;
}

// Every thread started later inherits the mask, so the two stop signals reach
// only the sigwait below and never interrupt a transfer.
sigset_t BlockStopSignals()
{
    sigset_t Signals;
    sigemptyset(&Signals);
    sigaddset(&Signals, SIGINT);
    sigaddset(&Signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &Signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return Signals;
}

LocalServerOptions OptionsFrom(const ServerCommandLine& Line)
{
    LocalServerOptions Options;
    Options.AllowedNames = Line.AllowedNames;
    Options.TimeWarp = Line.dfTimeWarp;
    Options.Log = Line.bLog ? &std::cout : nullptr;
    return Options;
}
} // namespace

int main(int argc, char** argv)
{
    if (AnsweredVersion(argc, argv, "LocalServer"))
        return 0;
    ServerCommandLine Line;
    std::string sError;
    if (!ParseServerCommandLine(argc, argv, Line, sError))
        return Fail(sError);
    if (Line.bHelp)
    {
        std::cout << ServerUsage();
        return 0;
    }
    if (!ApplyMissionFile(Line, sError))
        return Fail(sError);
    sigset_t StopSignals = BlockStopSignals();
    CLocalServer Server(OptionsFrom(Line));
    if (!Server.Start(Line.sBindAddress, Line.nPort))
    {
        std::cerr << "LocalServer: cannot listen on " << Line.sBindAddress << ":" << Line.nPort
                  << ": " << Server.GetError() << "\n";
        return 1;
    }
    std::cout << "LocalServer listening on " << Line.sBindAddress << ":" << Server.GetPort()
              << std::endl;
    int nSignal = 0;
    while (sigwait(&StopSignals, &nSignal) != 0)
    {
    }
    Server.Stop();
    std::cout << "LocalServer stopped" << std::endl;
    return 0;
}
