// What a short-lived command-line client of the MOOS server needs around
// its CMOOSCommClient: a clean stop on SIGINT and SIGTERM, and a bounded
// wait for the connection that tells "no server there" from "the server
// refused us" and from "the server is too slow to welcome us".
//
// Threads: InstallStopSignals once, from main, before any thread starts;
// StopRequested and WaitForConnection from the main thread.
#ifndef VARCLIENT_CLIENTSESSION_H
#define VARCLIENT_CLIENTSESSION_H

#include "MOOSLIB/MOOSCommClient.h"

#include <string>

// SIGINT and SIGTERM set a flag (and cut a sleep short) instead of killing
// the process, so that it can close its connection and restore the terminal.
// SIGPIPE is ignored: a vanished server is a failed send, not a dead process.
void InstallStopSignals();
bool StopRequested();

enum class ConnectOutcome
{
    Connected,
    Refused,    // the server refused the client, which has stopped for good
    Unwelcomed, // a server took the connection but did not welcome the client in time
    TimedOut,   // no server took the connection within the time-out
    Stopped     // a stop signal came first
};

struct ConnectWait
{
    // Give up after this many seconds; 0 or less waits without limit.
    double dfTimeout = 5.0;
    // Print sHint (one line, to standard error) once after this many seconds
    // while no server has taken the connection; nothing when sHint is empty.
    double dfHintAfter = 3.0;
    std::string sHint;
};

// Waits, after Comms.Run, until the client is connected or one of the other
// outcomes happens.
ConnectOutcome WaitForConnection(CMOOSCommClient& Comms, const ConnectWait& Wait);

// The one line (no newline) that tells the user of sProgram why it could not
// use the server sServer as sName, and what to check; for any outcome but
// Connected. dfTimeout is the time-out that ran out.
std::string ConnectFailureText(const std::string& sProgram, ConnectOutcome Outcome,
                               const std::string& sServer, const std::string& sName,
                               double dfTimeout);
// The hint printed while no server answers yet at sHost:nPort.
std::string NoServerHint(const std::string& sProgram, const std::string& sHost, int nPort);

// Sleeps up to nMs milliseconds; a stop signal ends the sleep early.
void PauseUnlessStopped(int nMs);

#endif
