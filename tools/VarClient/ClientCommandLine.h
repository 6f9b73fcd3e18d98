// The command line that VarWatch and VarPoke share.
//
//   PROGRAM [--server HOST:PORT | --mission FILE] [--name NAME]
//           [--timeout SECONDS] [tool flags] [--help | -h] OPERAND...
//
// The server is the one given with --server, else the one named by the
// mission file's ServerHost and ServerPort (LOCALHOST and 9000 where the
// file leaves them out), else LOCALHOST:9000, the framework's own default.
// The client name is --name, else the program's name and its process id, so
// that two runs of one tool never take each other's name at the server.
// Operands are what is left after the options; "--" ends the options.
#ifndef VARCLIENT_CLIENTCOMMANDLINE_H
#define VARCLIENT_CLIENTCOMMANDLINE_H

#include <set>
#include <string>
#include <vector>

struct ClientCommandLine
{
    std::string sHost = "LOCALHOST";
    int nPort = 9000;
    std::string sMissionFile;
    std::string sName;
    // Seconds; negative when --timeout was not given.
    double dfTimeout = -1.0;
    bool bHelp = false;
    // The tool flags (from the set the tool accepts) that were given.
    std::set<std::string> Flags;
    std::vector<std::string> Operands;

    bool Has(const std::string& sFlag) const { return Flags.count(sFlag) != 0; }
    // "host:port", for messages.
    std::string Server() const;
};

// Fills Line from the arguments. ToolFlags are the value-less options the
// tool accepts besides the shared ones. False, with a one-line reason in
// sError, for an unknown option, a missing or bad value, or --server given
// with --mission; a mission file that cannot be read, or whose ServerPort
// is not a port, is a bad command line too. sProgram names the default
// client name.
bool ParseClientCommandLine(int argc, char** argv, const std::string& sProgram,
                            const std::set<std::string>& ToolFlags, ClientCommandLine& Line,
                            std::string& sError);

// Splits "HOST:PORT" (the last colon separates them; the port is 1 to
// 65535). False, leaving sHost and nPort untouched, when it is not that.
bool ParseServerAddress(const std::string& sText, std::string& sHost, int& nPort);

#endif
