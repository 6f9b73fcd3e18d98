// The main of a serial bridge program, shared by both bridges.
//
//   <program> [MissionFile [ProcessName]]
//   <program> --help | -h | --version
//
// RunBridgeProgram, in this order: answers --help and --version (exit 0,
// nothing opened); reads the process's block (BridgeSettings; an unusable
// value ends it with one line and status 2); prints the start-up line and
// the warnings; constructs the application, which opens the device (a
// device that cannot be opened or is in use by another process ends it with
// one line and status 1, unless ReopenDevice makes it wait); and runs it
// until it quits.
//
// SIGTERM, SIGINT and SIGHUP ask the application to quit: it finishes its
// pass (a read waits at most 200 ms), delivers what it has published, closes
// its connection and the program exits 0. A device lost without
// ReopenDevice ends it with one line saying what happened and what to do,
// and status 1; so does a start that fails inside Run (no usable server
// host or port in the mission file).
//
// Call it from main before any other thread is started: it blocks the stop
// signals in the calling thread so that every thread started later inherits
// the mask and one watcher thread alone receives them.
#ifndef SERIALBRIDGE_BRIDGEMAIN_H
#define SERIALBRIDGE_BRIDGEMAIN_H

#include "BridgeSettings.h"
#include "SerialBridge.h"

#include <functional>
#include <memory>
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

using BridgeFactory = std::function<std::unique_ptr<SerialBridge>(const BridgeSettings&)>;

// The whole program; returns its exit status.
int RunBridgeProgram(int argc, char* argv[], const BridgeProgram& program,
                     const BridgeFactory& makeBridge);

#endif
