#include "ClientCommandLine.h"

#include "MOOSLIB/MOOSFileReader.h"
#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <unistd.h>

#include <charconv>
#include <cmath>

namespace
{
// Whole-text conversions: no blanks, no trailing characters.
template <class Number> bool ParseWhole(const std::string& sText, Number& Value)
{
    const char* pEnd = sText.data() + sText.size();
    const std::from_chars_result Result = std::from_chars(sText.data(), pEnd, Value);
    return Result.ec == std::errc() && Result.ptr == pEnd;
}

bool ToPort(const std::string& sText, int& nPort)
{
    int nValue = 0;
    if (!ParseWhole(sText, nValue) || nValue < 1 || nValue > 65535)
        return false;
    nPort = nValue;
    return true;
}

bool ToSeconds(const std::string& sText, double& dfSeconds)
{
    double dfValue = 0.0;
    if (!ParseWhole(sText, dfValue) || !std::isfinite(dfValue) || dfValue <= 0.0)
        return false;
    dfSeconds = dfValue;
    return true;
}

bool TakesValue(const std::string& sOption)
{
    return sOption == "--server" || sOption == "--mission" || sOption == "--name" ||
           sOption == "--timeout";
}

// Applies one option that takes a value.
bool TakeValue(const std::string& sOption, const std::string& sValue, ClientCommandLine& Line,
               bool& bServerGiven)
{
    if (sOption == "--server")
        return bServerGiven = ParseServerAddress(sValue, Line.sHost, Line.nPort);
    if (sOption == "--mission")
        Line.sMissionFile = sValue;
    else if (sOption == "--name")
        Line.sName = sValue;
    else if (sOption == "--timeout")
        return ToSeconds(sValue, Line.dfTimeout);
    return !sValue.empty();
}

// Where the mission file puts the server, as every application of it reads it.
bool ApplyMissionFile(ClientCommandLine& Line, std::string& sError)
{
    CMOOSFileReader Reader;
    if (!Reader.SetFile(Line.sMissionFile))
    {
        sError = "cannot read the mission file \"" + Line.sMissionFile + "\"";
        return false;
    }
    Reader.GetValue("ServerHost", Line.sHost);
    std::string sPort;
    if (Reader.GetValue("ServerPort", sPort) && !ToPort(sPort, Line.nPort))
    {
        sError = "ServerPort \"" + sPort + "\" in \"" + Line.sMissionFile + "\" is not a port";
        return false;
    }
    return true;
}
} // namespace

std::string ClientCommandLine::Server() const
{
    return sHost + ":" + std::to_string(nPort);
}

bool ParseServerAddress(const std::string& sText, std::string& sHost, int& nPort)
{
    std::string::size_type nColon = sText.rfind(':');
    if (nColon == std::string::npos || nColon == 0)
        return false;
    int nParsed = 0;
    if (!ToPort(sText.substr(nColon + 1), nParsed))
        return false;
    sHost = sText.substr(0, nColon);
    nPort = nParsed;
    return true;
}

bool ParseClientCommandLine(int argc, char** argv, const std::string& sProgram,
                            const std::set<std::string>& ToolFlags, ClientCommandLine& Line,
                            std::string& sError)
{
    bool bServerGiven = false;
    bool bOptionsEnded = false;
    for (int i = 1; i < argc; ++i)
    {
        std::string sArg = argv[i];
        if (!bOptionsEnded && sArg == "--")
            bOptionsEnded = true;
        else if (!bOptionsEnded && (sArg == "--help" || sArg == "-h"))
            Line.bHelp = true;
        else if (bOptionsEnded || sArg.rfind("--", 0) != 0)
            Line.Operands.push_back(sArg);
        else if (ToolFlags.count(sArg))
            Line.Flags.insert(sArg);
        else if (!TakesValue(sArg))
            sError = "unknown option \"" + sArg + "\"";
        else if (i + 1 >= argc)
            sError = sArg + " needs a value";
        else if (!TakeValue(sArg, argv[++i], Line, bServerGiven))
            sError = "bad value \"" + std::string(argv[i]) + "\" for " + sArg;
        if (!sError.empty())
            return false;
    }
    if (Line.bHelp)
        return true;
    if (bServerGiven && !Line.sMissionFile.empty())
    {
        sError = "--server and --mission exclude each other";
        return false;
    }
    if (Line.sName.empty())
        Line.sName = sProgram + "-" + std::to_string(getpid());
    return Line.sMissionFile.empty() || ApplyMissionFile(Line, sError);
}
