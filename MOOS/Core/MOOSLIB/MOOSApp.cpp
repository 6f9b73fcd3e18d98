#include "MOOSLIB/MOOSApp.h"

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"
#include "MOOSLIB/MOOSStopSignals.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <set>
#include <sstream>
#include <utility>
#include <vector>

namespace
{
// Longest wait, in wall-clock seconds, for the last posts to reach the server
// when the loop has ended.
const double kFinalFlushSeconds = 1.0;

// Names of a set, each followed by a comma, as the status record lists them.
std::string ListNames(const std::set<std::string>& names)
{
    std::string list;
    for (const std::string& name : names)
        list += name + ",";
    return list;
}

// A reason holding the record's own separators is quoted, as the name lists
// are, so that it cannot be read as further fields; a plain one stays bare.
std::string RecordText(const std::string& text)
{
    return text.find_first_of(",=\"") == std::string::npos ? text : "\"" + text + "\"";
}

// The server port written in the mission file, or 0 when it is no usable
// TCP port (not a number, 0, negative or above 65535).
long PortFromText(const std::string& text)
{
    const long port = std::strtol(text.c_str(), nullptr, 10);
    return (port > 0 && port <= 65535) ? port : 0;
}

// A millisecond count from a double, cut to [0, INT_MAX] so that a clock
// jump or an absurd rate cannot overflow the conversion.
int ClampedMs(double ms)
{
    if (!(ms > 0.0))
        return 0;
    if (ms >= static_cast<double>(INT_MAX))
        return INT_MAX;
    return static_cast<int>(ms);
}
} // namespace

CMOOSApp::CMOOSApp()
{
    SetMOOSTimeWarp(1.0);
    EnableIterateWithoutComms(false);
}

CMOOSApp::~CMOOSApp()
{
    // The client thread calls back into this object; it must be stopped
    // before the managed variables and settings it reads are destroyed.
    StopComms();
}

// --- Default hooks -----------------------------------------------------

bool CMOOSApp::OnConnectToServer()
{
    MOOSTrace("- default OnConnectToServer called\n");
    return true;
}

bool CMOOSApp::OnDisconnectFromServer()
{
    MOOSTrace("- default OnDisconnectFromServer called\n");
    return true;
}

bool CMOOSApp::Iterate()
{
    if (iterateCount == 0)
        MOOSTrace("Warning default Iterate handler invoked...doing nothing\n");
    return true;
}

bool CMOOSApp::OnNewMail(MOOSMSG_LIST&)
{
    return true;
}

bool CMOOSApp::OnCommandMsg(CMOOSMsg)
{
    MOOSTrace("- default OnCommandMsg called\n");
    return true;
}

bool CMOOSApp::OnStartUp()
{
    return true;
}

// --- Start-up ------------------------------------------------------------

bool CMOOSApp::Run(const char* sName, const char* sMissionFile, const char* sMOOSName)
{
    moosName = sMOOSName != nullptr ? sMOOSName : "";
    return Run(sName, sMissionFile);
}

bool CMOOSApp::Run(const char* sName, const char* sMissionFile)
{
    if (sName == nullptr)
        return MOOSFail("CMOOSApp::Run needs a process name");
    appName = sName;
    missionFile = sMissionFile != nullptr ? sMissionFile : "";
    missionReader.SetAppName(appName);
    if (moosName.empty())
        moosName = appName;
    if (sMissionFile != nullptr)
        ReadMissionSettings();
    appStartTime = MOOSTime(true);

    // Blocked before the comms thread starts, so that it inherits the mask.
    std::optional<CMOOSStopSignalWatcher> stopSignals;
    if (quitOnStopSignals)
    {
        MOOSBlockStopSignals();
        stopSignals.emplace([this] { RequestQuit(); });
    }
    const bool ok = StartUp();
    if (ok)
    {
        RunLoop();
        FlushComms();
    }
    // Run returns with the client thread stopped, so that the derived
    // object can be destroyed without its hooks still being called.
    StopComms();
    return ok && !serverRefused;
}

bool CMOOSApp::StartUp()
{
    if (useMOOSComms)
    {
        if (!ConfigureComms())
            return false;
        WaitForConnection();
        NoteRefusal();
        if (serverRefused)
            return false;
    }
    if (!OnStartUp())
    {
        MOOSTrace("Derived OnStartUp() returned false... Quitting\n");
        return false;
    }
    PrintBanner();
    return true;
}

void CMOOSApp::RunLoop()
{
    while (!quitRequested)
    {
        if (comms.HasMailCallBack())
            PauseUnlessQuit(1000);
        else
            DoRunWork();
    }
}

void CMOOSApp::ReadMissionSettings()
{
    if (!missionReader.SetFile(missionFile))
    {
        MOOSTrace("Warning Mission File \"%s\" not found...\n", missionFile.c_str());
        return;
    }
    double warp = 1.0;
    if (missionReader.GetValue("MOOSTimeWarp", warp))
        SetMOOSTimeWarp(warp);
    missionReader.GetConfigurationParam("UseMOOSComms", useMOOSComms);
    missionReader.GetConfigurationParam("SortMailByTime", sortMailByTime);
    std::string flag;
    if (missionReader.GetValue("SIMULATOR", flag))
        simulateMode = MOOSStrCmp(flag, "TRUE");
    if (missionReader.GetValue("PLAYBACK", flag))
        SetMOOSPlayBack(MOOSStrCmp(flag, "TRUE"));
    missionReader.GetConfigurationParam("APPTICK", appFreq);
    bool catchCommands = commandFilteringEnabled;
    if (missionReader.GetConfigurationParam("CatchCommandMessages", catchCommands))
        commandFilteringEnabled = catchCommands;
}

void CMOOSApp::WaitForConnection()
{
    int waited = 0;
    while (!comms.IsConnected() && !quitRequested && waited <= 5000)
    {
        PauseUnlessQuit(50);
        waited += 50;
    }
    if (!quitRequested)
        PauseUnlessQuit(500);
}

void CMOOSApp::PrintBanner()
{
    MOOSTrace("%s is Running:\n", appName.c_str());
    MOOSTrace("\t AppTick   @ %.1f Hz\n", appFreq);
    MOOSTrace("\t CommsTick @ %d Hz\n", commsFreq);
    if (comms.GetSendImmediately())
        MOOSTrace("\t SendImmediately: posts leave at once, not at the next CommsTick\n");
    if (GetMOOSTimeWarp() != 1.0)
        MOOSTrace("\t Time Warp @ %.1f \n", GetMOOSTimeWarp());
}

bool CMOOSApp::ConfigureComms()
{
    ReadServerHost();
    ReadServerPort();
    if (!CheckSetUp())
        return false;
    missionReader.GetConfigurationParam("COMMSTICK", commsFreq);
    if (commsFreq < 0)
        commsFreq = 1;
    bool sendImmediately = false;
    if (missionReader.GetConfigurationParam("SendImmediately", sendImmediately))
        comms.SetSendImmediately(sendImmediately);
    comms.SetOnConnectCallBack(MOOSAPP_OnConnect, this);
    comms.SetOnDisconnectCallBack(MOOSAPP_OnDisconnect, this);
    if (moosName.empty())
        moosName = appName;
    commsStarted = true;
    comms.Run(serverHost.c_str(), serverPort, moosName.c_str(),
              static_cast<unsigned int>(commsFreq));
    return true;
}

void CMOOSApp::ReadServerHost()
{
    if (!missionReader.GetValue("SERVERHOST", serverHost))
    {
        MOOSTrace("Warning Server host not read from mission file: assuming LOCALHOST\n");
        serverHost = "LOCALHOST";
    }
}

void CMOOSApp::ReadServerPort()
{
    if (!missionReader.GetValue("SERVERPORT", serverPortText))
    {
        MOOSTrace("Warning Server port not read from mission file: assuming 9000\n");
        serverPortText = "9000";
    }
    serverPort = PortFromText(serverPortText);
    if (serverPort == 0)
    {
        serverPort = 9000;
        MOOSTrace("Warning Server port not read from mission file: assuming 9000\n");
    }
}

// A process that quits (a bridge whose device has gone, say) still delivers
// what its last passes posted: two turns carry it, which the flush makes
// follow each other at once. A server slower than that costs at most a
// second, so a stop stays within about a second whatever the ticks.
void CMOOSApp::FlushComms()
{
    if (commsStarted && comms.IsConnected())
        comms.Flush(kFinalFlushSeconds);
}

void CMOOSApp::StopComms()
{
    if (commsStarted.exchange(false))
        comms.Close(true);
}

void CMOOSApp::SetServer(const char* sServerHost, long lPort)
{
    serverHost = sServerHost != nullptr ? sServerHost : "";
    serverPort = lPort;
}

bool CMOOSApp::CheckSetUp()
{
    if (serverHost.empty())
        return MOOSFail("MOOS Server host not specified");
    if (serverPort == 0)
        return MOOSFail("MOOS Server port not specified");
    return true;
}

bool MOOSAPP_OnConnect(void* pParam)
{
    if (pParam == nullptr)
        return false;
    CMOOSApp* app = static_cast<CMOOSApp*>(pParam);
    app->OnConnectToServerPrivate();
    return app->OnConnectToServer();
}

bool MOOSAPP_OnDisconnect(void* pParam)
{
    if (pParam == nullptr)
        return false;
    CMOOSApp* app = static_cast<CMOOSApp*>(pParam);
    app->OnDisconnectToServerPrivate();
    return app->OnDisconnectFromServer();
}

bool MOOSAPP_OnMail(void* pParam)
{
    if (pParam == nullptr)
        return false;
    return static_cast<CMOOSApp*>(pParam)->OnMailCallBack();
}

void CMOOSApp::OnConnectToServerPrivate()
{
    if (commandFilteringEnabled)
        comms.Register(GetCommandKey(), 0.0);
}

void CMOOSApp::OnDisconnectToServerPrivate() {}

// --- The loop -------------------------------------------------------------

bool CMOOSApp::DoRunWork()
{
    const double start = MOOSLocalTime(true);
    MOOSMSG_LIST mail;
    if (!useMOOSComms)
        IterateOnce();
    else
    {
        if (comms.Fetch(mail))
            HandleMail(mail);
        if (comms.IsConnected() || CanIterateWithoutComms())
            IterateOnce();
        NoteRefusal();
    }
    const double end = MOOSLocalTime(true);
    lastIterateTime = end;
    const int sleep = PacingSleepMs((end - start) * 1000.0, appFreq);
    if (sleep > 0 && !comms.HasMailCallBack())
        PauseUnlessQuit(sleep);
    return true;
}

// A client the server refused stops for good: idling on would look like a
// running process to whoever watches it, so the loop ends and Run fails.
void CMOOSApp::NoteRefusal()
{
    if (!commsStarted || comms.IsRunning() || serverRefused)
        return;
    serverRefused = true;
    // The comms client's own trace of the reason ends without a line break.
    MOOSTrace("\n%s: the MOOS server refused the name \"%s\" (the reason is above); stopping\n",
              appName.c_str(), moosName.c_str());
    RequestQuit();
}

void CMOOSApp::HandleMail(MOOSMSG_LIST& mail)
{
    if (sortMailByTime)
        mail.sort(MOOSMsgTimeSorter);
    OnNewMailPrivate(mail);
    OnNewMail(mail);
}

void CMOOSApp::IterateOnce()
{
    IteratePrivate();
    Iterate();
    ++iterateCount;
}

int CMOOSApp::PacingSleepMs(double elapsedMs, double freq)
{
    if (!(freq > 0.0))
        return 0;
    const int sleep = ClampedMs(1000.0 / freq) - ClampedMs(elapsedMs);
    return sleep > 10 ? sleep : 0;
}

void CMOOSApp::PauseUnlessQuit(int ms)
{
    const int warped = ClampedMs(ms / GetMOOSTimeWarp());
    if (warped <= 0)
        return;
    std::unique_lock<std::mutex> lock(quitWakeLock);
    quitWake.wait_for(lock, std::chrono::milliseconds(warped),
                      [this] { return quitRequested.load(); });
}

// Taking the lock between setting the flag and notifying means a pause about
// to begin either sees the flag or is waiting when notified.
bool CMOOSApp::RequestQuit()
{
    quitRequested = true;
    {
        std::lock_guard<std::mutex> lock(quitWakeLock);
    }
    quitWake.notify_all();
    OnQuitRequested();
    return true;
}

bool CMOOSApp::UseMailCallBack()
{
    comms.SetOnMailCallBack(MOOSAPP_OnMail, this);
    return true;
}

bool CMOOSApp::OnMailCallBack()
{
    return DoRunWork();
}

// --- Settings and accessors -------------------------------------------------

bool CMOOSApp::SetAppFreq(double freq)
{
    if (!(freq <= 50.0))
        return false;
    appFreq = freq;
    return true;
}

bool CMOOSApp::SetCommsFreq(unsigned int freq)
{
    if (freq > 200)
        return false;
    commsFreq = static_cast<int>(freq);
    return comms.SetCommsTick(static_cast<int>(freq));
}

int CMOOSApp::GetIterateCount()
{
    return iterateCount;
}

double CMOOSApp::GetAppStartTime()
{
    return appStartTime;
}

double CMOOSApp::GetLastIterateTime()
{
    return lastIterateTime;
}

double CMOOSApp::GetTimeSinceIterate()
{
    return MOOSLocalTime(true) - lastIterateTime;
}

std::string CMOOSApp::GetAppName()
{
    return appName;
}

std::string CMOOSApp::GetMissionFileName()
{
    return missionFile;
}

bool CMOOSApp::IsSimulateMode()
{
    return simulateMode;
}

bool CMOOSApp::UseMOOSComms(bool useComms)
{
    useMOOSComms = useComms;
    return true;
}

void CMOOSApp::EnableIterateWithoutComms(bool enable)
{
    iterateWithoutComms = enable;
}

bool CMOOSApp::CanIterateWithoutComms()
{
    return iterateWithoutComms;
}

// --- Command messages and status -------------------------------------------

std::string CMOOSApp::GetCommandKey()
{
    std::string key = appName + "_CMD";
    MOOSToUpper(key);
    return key;
}

std::string CMOOSApp::GetStatusKey()
{
    std::string key = appName + "_STATUS";
    MOOSToUpper(key);
    return key;
}

void CMOOSApp::EnableCommandMessageFiltering(bool enable)
{
    commandFilteringEnabled = enable;
    if (enable)
        comms.Register(GetCommandKey(), 0.0);
    else
        comms.UnRegister(GetCommandKey());
}

bool CMOOSApp::LookForAndHandleAppCommand(MOOSMSG_LIST& NewMail)
{
    const std::string key = GetCommandKey();
    bool ok = true;
    for (const CMOOSMsg& msg : NewMail)
    {
        if (MOOSStrCmp(msg.GetKey(), key))
            ok = OnCommandMsg(msg) && ok;
    }
    return ok;
}

bool CMOOSApp::OnNewMailPrivate(MOOSMSG_LIST& NewMail)
{
    if (commandFilteringEnabled)
        LookForAndHandleAppCommand(NewMail);
    return true;
}

bool CMOOSApp::IteratePrivate()
{
    const double now = MOOSTime(true);
    if (std::fabs(lastStatusTime - now) > 2.0)
    {
        comms.Notify(GetStatusKey(), MakeStatusString(), -1.0);
        lastStatusTime = MOOSTime(true);
    }
    return true;
}

std::string CMOOSApp::MakeStatusString()
{
    std::ostringstream os;
    os << "AppErrorFlag=" << (appErrorFlag ? "true" : "false") << ",";
    if (appErrorFlag)
        os << "AppErrorReason=" << RecordText(appErrorReason) << ",";
    os << "Uptime=" << (MOOSTime(true) - appStartTime) << ",";
    os << "MOOSName=" << appName << ",";
    os << "Publishing=\"" << ListNames(comms.GetPublished()) << "\",";
    os << "Subscribing=\"" << ListNames(comms.GetRegistered()) << "\"";
    return os.str();
}

void CMOOSApp::SetAppError(bool error, const std::string& reason)
{
    appErrorFlag = error;
    appErrorReason = error ? reason : "";
}

bool CMOOSApp::MOOSDebugWrite(const std::string& text)
{
    if (!comms.IsConnected())
        return false;
    MOOSTrace(" %s says: %s\n", appName.c_str(), text.c_str());
    return comms.Notify("MOOS_DEBUG", text, -1.0);
}

// --- Managed variables -------------------------------------------------------

bool CMOOSApp::AddMOOSVariable(std::string name, std::string subscribeName, std::string publishName,
                               double commsTime)
{
    std::lock_guard<std::mutex> lock(moosVarsLock);
    CMOOSVariable var(name, std::move(subscribeName), std::move(publishName), commsTime);
    return moosVars.emplace(std::move(name), std::move(var)).second;
}

bool CMOOSApp::RegisterMOOSVariables()
{
    std::vector<std::pair<std::string, double>> wanted;
    {
        std::lock_guard<std::mutex> lock(moosVarsLock);
        for (const auto& entry : moosVars)
        {
            const CMOOSVariable& var = entry.second;
            if (!var.GetSubscribeName().empty())
                wanted.emplace_back(var.GetSubscribeName(), std::max(var.GetCommsTime(), 0.0));
        }
    }
    bool ok = true;
    for (const auto& item : wanted)
        ok = comms.Register(item.first, item.second) && ok;
    return ok;
}

bool CMOOSApp::UpdateMOOSVariables(MOOSMSG_LIST& NewMail)
{
    const double now = MOOSTime(true);
    std::lock_guard<std::mutex> lock(moosVarsLock);
    for (auto& entry : moosVars)
    {
        CMOOSVariable& var = entry.second;
        // A variable without a subscribe name gets no mail of its own, not
        // even a stray message under the empty name.
        if (var.GetSubscribeName().empty())
            continue;
        CMOOSMsg msg;
        if (CMOOSCommClient::PeekMail(NewMail, var.GetSubscribeName(), msg, false, false) &&
            !msg.IsSkewed(now))
            var.UpdateFrom(msg);
    }
    return true;
}

bool CMOOSApp::PublishFreshMOOSVariables()
{
    std::vector<CMOOSVariable> fresh;
    {
        std::lock_guard<std::mutex> lock(moosVarsLock);
        for (auto& entry : moosVars)
        {
            if (!entry.second.IsFresh())
                continue;
            // A variable that is only subscribed has nothing to publish
            // under: the empty name would reach the server as a variable.
            if (!entry.second.GetPublishName().empty())
                fresh.push_back(entry.second);
            entry.second.SetFresh(false);
        }
    }
    for (const CMOOSVariable& var : fresh)
    {
        if (var.IsDouble())
            comms.Notify(var.GetPublishName(), var.GetDoubleVal(), var.GetTime());
        else
            comms.Notify(var.GetPublishName(), var.GetStringVal(), var.GetTime());
    }
    return true;
}

bool CMOOSApp::SetMOOSVar(const std::string& name, double value, double time)
{
    std::lock_guard<std::mutex> lock(moosVarsLock);
    auto found = moosVars.find(name);
    return found != moosVars.end() && found->second.Set(value, time);
}

bool CMOOSApp::SetMOOSVar(const std::string& name, const std::string& value, double time)
{
    std::lock_guard<std::mutex> lock(moosVarsLock);
    auto found = moosVars.find(name);
    return found != moosVars.end() && found->second.Set(value, time);
}

bool CMOOSApp::SetMOOSVar(const CMOOSVariable& var)
{
    std::lock_guard<std::mutex> lock(moosVarsLock);
    auto found = moosVars.find(var.GetName());
    if (found == moosVars.end())
        return false;
    found->second = var;
    found->second.SetFresh(true);
    return true;
}

CMOOSVariable* CMOOSApp::GetMOOSVar(std::string name)
{
    std::lock_guard<std::mutex> lock(moosVarsLock);
    auto found = moosVars.find(name);
    return found != moosVars.end() ? &found->second : nullptr;
}

void CMOOSApp::RequestStatusRecord()
{
    lastStatusTime = -1.0;
}

bool CMOOSApp::QuitRequested() const
{
    return quitRequested;
}
