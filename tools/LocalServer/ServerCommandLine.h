// The command line of the LocalServer program.
//
//   LocalServer [--port N] [--bind ADDR] [--log] [--allow NAMES]
//               [--warp W | --mission FILE] [--help]
#ifndef LOCALSERVER_SERVERCOMMANDLINE_H
#define LOCALSERVER_SERVERCOMMANDLINE_H

#include <set>
#include <string>

struct ServerCommandLine
{
    std::string sBindAddress = "127.0.0.1";
    int nPort = 9000;
    bool bLog = false;
    std::set<std::string> AllowedNames;
    double dfTimeWarp = 1.0;
    // The mission file whose "MOOSTimeWarp" sets the warp, if given.
    std::string sMissionFile;
    bool bHelp = false;
};

// The usage text printed by --help.
const char* ServerUsage();

// Fills Line from the arguments; false with a one-line reason in sError when
// they are not a valid command line.
bool ParseServerCommandLine(int argc, char** argv, ServerCommandLine& Line, std::string& sError);

// Takes the time warp from Line.sMissionFile when one is given; false with a
// reason when the file cannot be read or its warp is out of range.
bool ApplyMissionFile(ServerCommandLine& Line, std::string& sError);

#endif
