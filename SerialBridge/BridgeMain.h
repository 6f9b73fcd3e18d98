// The main of a serial bridge program, shared by both bridges.
//
//   <program> [MissionFile [ProcessName]]
//   <program> --help | -h | --version
//
// RunBridgeProgram, in this order: blocks the stop signals; answers --help
// and --version (exit 0, nothing opened); reads the bridge's keys of the
// process's block (BridgeSettings; an unusable value ends it with one line
// and status 2); prints the start-up line and the warnings; builds the
// bridge application from the sensor's format, which opens the device (a
// device that cannot be opened or is in use by another process ends it with
// one line and status 1, unless ReopenDevice makes it wait); and runs it
// until it quits.
//
// SIGTERM, SIGINT and SIGHUP ask the application to quit (the framework's
// CMOOSApp::QuitOnStopSignals): it finishes its pass (a read waits at most
// 200 ms), delivers what it has published, closes its connection and the
// program exits 0. A device lost without ReopenDevice ends it with one line
// saying what happened and what to do, and status 1; so does a start that
// fails inside Run (no usable server host or port in the mission file).
// Either line is the last the program prints on standard error: the
// application, and with it its connection, is gone by then. A name the
// server refuses ends it with status 1 after the framework's line saying
// so. A mission file that cannot be read is the first line it prints; it
// then runs on the defaults.
//
// Call it first thing in main, before any other thread is started: it
// blocks the stop signals in the calling thread so that every thread started
// later inherits the mask and one watcher thread alone receives them, and a
// signal that comes while the settings are read waits for the watcher
// instead of killing the program.
#ifndef SERIALBRIDGE_BRIDGEMAIN_H
#define SERIALBRIDGE_BRIDGEMAIN_H

#include "BridgeSettings.h"
#include "SentenceFormat.h"

#include <string>

// The mission file and process name picked from the command line.
struct CommandLine
{
    std::string missionFile;
    std::string moosName;
};

// One argument names the mission file, two the mission file and the process
// name; none, or more than two, leave "Mission.moos" and defaultProcess.
CommandLine ParseCommandLine(int argc, const char* const argv[], const std::string& defaultProcess);

// The whole program of the bridge reading format's sentences; returns its
// exit status.
int RunBridgeProgram(int argc, char* argv[], const BridgeProgram& program,
                     const SentenceFormat& format);

#endif
