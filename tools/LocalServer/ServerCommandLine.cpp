#include "ServerCommandLine.h"

#include "LocalServer.h"

#include "MOOSLIB/MOOSFileReader.h"
#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace
{
bool IsValidWarp(double dfWarp)
{
    return dfWarp > 0.0 && dfWarp < 100.0;
}

bool ToPort(const std::string& sText, int& nPort)
{
    char* pEnd = nullptr;
    errno = 0;
    long nValue = std::strtol(sText.c_str(), &pEnd, 10);
    if (sText.empty() || *pEnd != '\0' || errno != 0 || nValue < 0 || nValue > 65535)
        return false;
    nPort = static_cast<int>(nValue);
    return true;
}

bool ToWarp(const std::string& sText, double& dfWarp)
{
    char* pEnd = nullptr;
    double dfValue = std::strtod(sText.c_str(), &pEnd);
    if (sText.empty() || *pEnd != '\0' || !IsValidWarp(dfValue))
        return false;
    dfWarp = dfValue;
    return true;
}

bool ToNames(std::string sText, std::set<std::string>& Names)
{
    while (!sText.empty())
    {
        std::string sName = MOOSChomp(sText, ",");
        MOOSTrimWhiteSpace(sName);
        if (sName.empty())
            return false;
        Names.insert(sName);
    }
    return !Names.empty();
}

// Applies one option that takes a value.
bool TakeValue(const std::string& sOption, const std::string& sValue, ServerCommandLine& Line,
               std::string& sError)
{
    bool bOk = true;
    if (sOption == "--port")
        bOk = ToPort(sValue, Line.nPort);
    else if (sOption == "--bind")
        Line.sBindAddress = sValue;
    else if (sOption == "--allow")
        bOk = ToNames(sValue, Line.AllowedNames);
    else if (sOption == "--warp")
        bOk = ToWarp(sValue, Line.dfTimeWarp);
    else if (sOption == "--mission")
        Line.sMissionFile = sValue;
    if (!bOk)
        sError = "bad value \"" + sValue + "\" for " + sOption;
    return bOk;
}

bool TakesValue(const std::string& sOption)
{
    return sOption == "--port" || sOption == "--bind" || sOption == "--allow" ||
           sOption == "--warp" || sOption == "--mission";
}
} // namespace

const char* ServerUsage()
{
    static const std::string sUsage =
        "usage: LocalServer [--port N] [--bind ADDR] [--log] [--allow NAMES]\n"
        "                   [--warp W | --mission FILE] [--help]\n"
        "  --port N        port to listen on (default 9000; 0 picks a free one)\n"
        "  --bind ADDR     IPv4 address to listen on (default 127.0.0.1)\n"
        "  --log           one line per notification on standard output:\n"
        "                  <time> <source> <key> <value>\n"
        "  --allow NAMES   comma-separated client names; others are refused\n"
        "  --warp W        time warp of the server's clock (0 < W < 100)\n"
        "  --mission FILE  take the time warp from the file's MOOSTimeWarp\n"
        "  --help          this text\n" +
        MOOSFormat("One owner per client name: a client that connects under a name whose\n"
                   "connection is alive (heard from within the last %g s) is refused, and the\n"
                   "running one keeps its connection; a name silent for longer is taken over\n"
                   "by the newcomer, so a client whose connection died unnoticed can come back.\n",
                   LocalServerOptions().NameHoldSeconds);
    return sUsage.c_str();
}

bool ParseServerCommandLine(int argc, char** argv, ServerCommandLine& Line, std::string& sError)
{
    bool bWarpGiven = false;
    for (int i = 1; i < argc; ++i)
    {
        std::string sOption = argv[i];
        if (sOption == "--help" || sOption == "-h")
            Line.bHelp = true;
        else if (sOption == "--log")
            Line.bLog = true;
        else if (!TakesValue(sOption))
        {
            sError = "unknown option \"" + sOption + "\"";
            return false;
        }
        else if (i + 1 >= argc)
        {
            sError = sOption + " needs a value";
            return false;
        }
        else if (!TakeValue(sOption, argv[++i], Line, sError))
            return false;
        bWarpGiven = bWarpGiven || sOption == "--warp";
    }
    if (bWarpGiven && !Line.sMissionFile.empty())
    {
        sError = "--warp and --mission exclude each other";
        return false;
    }
    return true;
}

bool ApplyMissionFile(ServerCommandLine& Line, std::string& sError)
{
    if (Line.sMissionFile.empty())
        return true;
    CMOOSFileReader Reader;
    if (!Reader.SetFile(Line.sMissionFile))
    {
        sError = "cannot read the mission file \"" + Line.sMissionFile + "\"";
        return false;
    }
    double dfWarp = 1.0;
    if (!Reader.GetValue("MOOSTimeWarp", dfWarp))
        return true;
    if (!IsValidWarp(dfWarp))
    {
        sError = MOOSFormat("MOOSTimeWarp %g in \"%s\" is not between 0 and 100", dfWarp,
                            Line.sMissionFile.c_str());
        return false;
    }
    Line.dfTimeWarp = dfWarp;
    return true;
}
