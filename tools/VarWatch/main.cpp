// VarWatch: shows the variables of a MOOS network as they change.
//
// An example of using the comms client directly, without the application
// framework: Run starts the client thread, the connect callback registers
// for the wanted names on every (re)connection, ServerRequest lists the
// server's variables so that patterns pick up new ones, and Fetch takes the
// mail. See the usage text below for what it does.
#include "../ProgramVersion.h"
#include "ClientCommandLine.h"
#include "ClientSession.h"
#include "ValueText.h"
#include "WatchList.h"
#include "WatchTable.h"

#include "MOOSLIB/MOOSCommClient.h"
#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <iostream>

namespace
{
const char kUsage[] =
    "usage: VarWatch [--server HOST:PORT | --mission FILE] [--name NAME]\n"
    "                [--once] [--timeout SECONDS] [--help] NAME|PATTERN...\n"
    "Shows the variables given by name, and those whose names match a pattern\n"
    "('*' any run of characters, '?' any one character; quote it from the\n"
    "shell), as they change. Patterns are matched against the server's list of\n"
    "variables every 2 s, so variables that appear later are picked up.\n"
    "On a terminal: a table refreshed in place (name, value, source, message\n"
    "time, age of the latest update, updates per second). Otherwise, one line\n"
    "per update: <message time> <source> <name> <value>. Control bytes in text\n"
    "are shown as \\xHH, binary data as <binary N bytes>.\n"
    "  --server HOST:PORT  the server (default LOCALHOST:9000)\n"
    "  --mission FILE      take the server from the file's ServerHost, ServerPort\n"
    "  --name NAME         client name (default VarWatch-<process id>)\n"
    "  --once              print the current values as lines and exit\n"
    "  --timeout SECONDS   give up when not connected within this time\n"
    "                      (default: keep trying; with --once, 5 s)\n"
    "  --help              this text\n"
    "Exit status: 0 after --once or a stop (SIGINT, SIGTERM); 1 when the server\n"
    "cannot be reached in time or refuses the client; 2 for a bad command line.\n";

// Turns per second of the client: updates show within a tenth of a second.
const unsigned int kCommsTick = 10;
const double kDiscoverEvery = 2.0;
const double kRefreshEvery = 0.5;
const double kRequestTimeOut = 1.0;
const double kOnceTimeOut = 5.0;
// Registrations posted before the client has sent them: its outbox keeps
// 1000 messages and drops the oldest beyond that, and its inbox is purged
// above 1000, so a long list goes out in batches.
const std::size_t kRegisterBatch = 400;

double SteadyNow()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::size_t TerminalWidth()
{
    winsize Size = {};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &Size) == 0 && Size.ws_col > 0)
        return Size.ws_col;
    return 100;
}

// What the connect callback needs; lives as long as the client runs.
struct Watcher
{
    explicit Watcher(const std::vector<std::string>& Operands) : List(Operands) {}
    CWatchList List;
    CMOOSCommClient Comms;
};

// Registers for up to kRegisterBatch wanted names not yet registered on
// this connection; returns how many it posted. Registrations end with the
// connection, so the connect callback makes them again.
std::size_t RegisterSome(Watcher& W)
{
    std::size_t nPosted = 0;
    for (const std::string& sName : W.List.Names())
    {
        if (nPosted == kRegisterBatch)
            break;
        if (!W.Comms.IsRegisteredFor(sName) && W.Comms.Register(sName, 0.0))
            ++nPosted;
    }
    return nPosted;
}

// On the client thread, which does the sending: it cannot wait for a
// batch to go out, so it posts the first and the main loop the rest.
bool OnConnect(void* pParam)
{
    RegisterSome(*static_cast<Watcher*>(pParam));
    return true;
}

// Asks the server which variables it knows, so that the patterns find the
// new ones. Leaves the rest of the inbox for Fetch.
void Discover(Watcher& W, double dfTimeOut)
{
    MOOSMSG_LIST Answer;
    if (W.List.HasPatterns() && W.Comms.ServerRequest("ALL", Answer, dfTimeOut, false))
        for (const CMOOSMsg& Msg : Answer)
            W.List.Discover(Msg.GetString());
}

// Moves new mail into the table, writing a line per update when bLines.
void TakeMail(Watcher& W, CWatchTable& Table, bool bLines)
{
    MOOSMSG_LIST Mail;
    if (!W.Comms.Fetch(Mail))
        return;
    for (const CMOOSMsg& Msg : Mail)
    {
        // A list the server sent after its request had timed out.
        if (!Msg.IsType(MOOS_NOTIFY) || Msg.m_nID == MOOS_SERVER_REQUEST_ID)
            continue;
        Table.Update(Msg, SteadyNow());
        if (bLines)
            std::cout << CWatchTable::Line(Msg) << std::flush;
    }
}

// Registers for every wanted name, a batch at a time: after each batch it
// waits until the server has it and takes the current values it brings, so
// that neither mail box overflows. Main thread only.
void RegisterAll(Watcher& W, CWatchTable& Table, bool bLines)
{
    while (RegisterSome(W) > 0 && W.Comms.Flush(kRequestTimeOut))
        TakeMail(W, Table, bLines);
}

void DrawTable(Watcher& W, const CWatchTable& Table, const std::string& sServer)
{
    std::string sState = W.Comms.IsConnected() ? "connected" : "connecting";
    std::cout << "\033[H\033[J"
              << EscapeControlBytes("VarWatch " + sServer + " (" + sState + "), Ctrl-C to stop")
              << "\n\n"
              << Table.Table(SteadyNow(), TerminalWidth()) << std::flush;
}

// Follows the variables until a stop signal, until standard output is
// closed (a pipe's reader has gone: "VarWatch X | head") or until the client
// stops for good. Returns why it ended on its own, or "" for the first two.
std::string Follow(Watcher& W, const ClientCommandLine& Line, bool bTable)
{
    CWatchTable Table;
    double dfNextDiscovery = 0.0;
    double dfNextRefresh = 0.0;
    if (bTable)
        std::cout << "\033[?25l";
    while (!StopRequested() && W.Comms.IsRunning() && std::cout.good())
    {
        if (W.Comms.IsConnected() && SteadyNow() >= dfNextDiscovery)
        {
            Discover(W, kRequestTimeOut);
            RegisterAll(W, Table, !bTable);
            dfNextDiscovery = SteadyNow() + kDiscoverEvery;
        }
        TakeMail(W, Table, !bTable);
        if (bTable && SteadyNow() >= dfNextRefresh)
        {
            DrawTable(W, Table, Line.Server());
            dfNextRefresh = SteadyNow() + kRefreshEvery;
        }
        PauseUnlessStopped(20);
    }
    if (bTable)
        std::cout << "\033[?25h" << std::flush;
    if (W.Comms.IsRunning())
        return "";
    return ConnectFailureText("VarWatch", ConnectOutcome::Refused, Line.Server(), Line.sName, 0.0);
}

// The exit status and the last word for standard error ("" for none).
struct Ending
{
    int nStatus = 0;
    std::string sText;
};

// Prints what is current: registering brings each variable's current value
// in the reply to the packet that carries the registration, so once every
// registration has gone out in a completed turn the values are in the inbox.
// The last word names the names that have no value.
Ending PrintOnce(Watcher& W, const ClientCommandLine& Line, double dfTimeOut)
{
    Discover(W, dfTimeOut);
    CWatchTable Table;
    RegisterAll(W, Table, false);
    if (!W.Comms.Flush(dfTimeOut))
        return {1, "VarWatch: the server at " + Line.Server() +
                       " did not answer in time (connection lost or too slow)"};
    TakeMail(W, Table, false);
    std::cout << Table.Lines() << std::flush;
    std::string sMissing;
    for (const std::string& sName : W.List.ExactNames())
        if (!Table.Has(sName))
            sMissing += " " + EscapeControlBytes(sName);
    return {0, sMissing.empty() ? "" : "VarWatch: no value on the server for" + sMissing};
}

Ending Watch(Watcher& W, const ClientCommandLine& Line, const ConnectWait& Wait)
{
    const ConnectOutcome Outcome = WaitForConnection(W.Comms, Wait);
    if (Outcome == ConnectOutcome::Stopped)
        return {0, ""};
    if (Outcome != ConnectOutcome::Connected)
        return {1,
                ConnectFailureText("VarWatch", Outcome, Line.Server(), Line.sName, Wait.dfTimeout)};
    if (Line.Has("--once"))
        return PrintOnce(W, Line, Wait.dfTimeout);
    const std::string sWhy = Follow(W, Line, isatty(STDOUT_FILENO) != 0);
    return {sWhy.empty() ? 0 : 1, sWhy};
}

// One whole run of the client; it is closed, with its closing traces, by
// the time this returns.
Ending RunClient(const ClientCommandLine& Line)
{
    Watcher W(Line.Operands);
    W.Comms.SetOnConnectCallBack(OnConnect, &W);
    W.Comms.Run(Line.sHost.c_str(), Line.nPort, Line.sName.c_str(), kCommsTick);
    ConnectWait Wait;
    Wait.dfTimeout =
        Line.dfTimeout > 0.0 ? Line.dfTimeout : (Line.Has("--once") ? kOnceTimeOut : 0.0);
    Wait.sHint = NoServerHint("VarWatch", Line.sHost, Line.nPort);
    return Watch(W, Line, Wait);
}
} // namespace

int main(int argc, char** argv)
{
    if (AnsweredVersion(argc, argv, "VarWatch"))
        return 0;
    ClientCommandLine Line;
    std::string sError;
    if (!ParseClientCommandLine(argc, argv, "VarWatch", {"--once"}, Line, sError))
    {
        std::cerr << "VarWatch: " << sError << " (see --help)" << std::endl;
        return 2;
    }
    if (Line.bHelp)
    {
        std::cout << kUsage;
        return 0;
    }
    if (Line.Operands.empty())
    {
        std::cerr << "VarWatch: give the names or patterns to watch, e.g. '*' (see --help)"
                  << std::endl;
        return 2;
    }
    InstallStopSignals();
    // The last word comes after the client's closing traces.
    const Ending End = RunClient(Line);
    if (!End.sText.empty())
        std::cerr << "\n" << End.sText << std::endl;
    return End.nStatus;
}
