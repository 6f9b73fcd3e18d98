// CMOOSApp: the base class of every MOOS process.
//
// A program derives one class from CMOOSApp, overrides a few hooks (Iterate,
// OnNewMail, OnStartUp, OnConnectToServer, ...), constructs one instance and
// calls Run. Run reads the framework's settings from the process's block of
// the mission file, starts the comms client towards the MOOS server, waits
// briefly for the connection, calls OnStartUp once and then runs a loop paced
// at "AppTick" Hz. Each pass hands newly arrived mail to OnNewMail and, while
// connected (or always, when iterating without comms is enabled or comms are
// off), publishes the status record under <NAME>_STATUS every 2 s and calls
// Iterate.
//
// Ownership: the application owns by value its comms client, its mission
// reader and its table of managed variables. Run returns with the comms
// client closed (its thread joined), so no hook runs while a derived object
// is being destroyed; the destructor closes it too when Run never returned.
//
// Threads:
//  - Run, and with it every pass and the hooks OnStartUp, Iterate, OnNewMail
//    and OnCommandMsg, runs on the thread that called Run.
//  - OnConnectToServer and OnDisconnectFromServer run on the comms client's
//    thread, beside the loop. From there an application may call the comms
//    client's posting calls and RegisterMOOSVariables.
//  - With UseMailCallBack, passes run on the comms client's thread instead
//    and the calling thread only watches for a quit request.
//  - RequestQuit may be called from any thread. Run returns once the current
//    pass has ended; its pacing sleep ends at once on a quit, whether asked
//    for by the pass itself (from Iterate, say) or from elsewhere. The last
//    posts then get at most a second to reach the server, so a stop takes
//    about a second at most whatever the ticks. A pass that waits on
//    something of the application's own (a device) is woken from
//    OnQuitRequested, which RequestQuit calls on the asking thread.
//  - The managed-variable table is guarded by a lock of its own, so
//    registering from the connect hook is safe beside the loop. A pointer
//    from GetMOOSVar is valid for the application's life but the variable
//    it points to belongs to the thread that runs the passes.
#ifndef MOOSLIB_MOOSAPP_H
#define MOOSLIB_MOOSAPP_H

#include "MOOSLIB/MOOSCommClient.h"
#include "MOOSLIB/MOOSMsg.h"
#include "MOOSLIB/MOOSVariable.h"
#include "MOOSLIB/ProcessConfigReader.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>

class CMOOSApp
{
public:
    // Builds the comms client and the mission reader, sets every setting to
    // its default and the process time warp to 1.0.
    CMOOSApp();
    virtual ~CMOOSApp();

    CMOOSApp(const CMOOSApp&) = delete;
    CMOOSApp& operator=(const CMOOSApp&) = delete;

    // --- Hooks a derived application overrides -------------------------
    // Called on the comms client's thread after every successful handshake.
    virtual bool OnConnectToServer();
    // Called on the comms client's thread after a broken connection is torn down.
    virtual bool OnDisconnectFromServer();
    // One unit of the application's work, once per pass; its result is ignored.
    virtual bool Iterate();
    // Every batch of fetched mail, oldest first unless "SortMailByTime" is false.
    virtual bool OnNewMail(MOOSMSG_LIST& NewMail);
    // One message under the command variable <NAME>_CMD, when command
    // messages are caught.
    virtual bool OnCommandMsg(CMOOSMsg Msg);
    // The status record published under <NAME>_STATUS.
    virtual std::string MakeStatusString();
    // Called once, after the comms client has started and before the loop;
    // returning false ends Run with false.
    virtual bool OnStartUp();
    // Reads the server settings and starts the comms client; false only when
    // the server host or port is unusable. The block key SendImmediately
    // (default false) makes posts leave at once instead of at the next
    // CommsTick (CMOOSCommClient::SetSendImmediately).
    virtual bool ConfigureComms();

    // --- Running --------------------------------------------------------
    // The whole life of the process: start-up, then the loop until
    // RequestQuit. False when start-up fails or the server refuses the
    // process's name (ServerRefused; one line says so and the loop ends),
    // true when the loop ends otherwise.
    bool Run(const char* sName, const char* sMissionFile);
    // The same, registering with the server under sMOOSName while the block
    // of the mission file is still the one named sName.
    bool Run(const char* sName, const char* sMissionFile, const char* sMOOSName);
    // Safe from any thread; the loop ends before its next pass.
    bool RequestQuit();
    // Opt-in, before Run: SIGTERM, SIGINT and SIGHUP become RequestQuit while
    // Run runs, so the process stops cleanly and Run returns true (see
    // MOOSStopSignals.h; a program with threads of its own started before
    // Run also calls MOOSBlockStopSignals first thing in main).
    void QuitOnStopSignals() { quitOnStopSignals = true; }
    // Whether the server refused the process's name, which ended the loop.
    bool ServerRefused() const { return serverRefused; }

    // Accepted up to 50 Hz; a larger value is refused and changes nothing.
    bool SetAppFreq(double freq);
    // Refused above 200 Hz; otherwise passed on to the comms client.
    bool SetCommsFreq(unsigned int freq);

    int GetIterateCount();
    double GetAppStartTime();
    double GetLastIterateTime();
    double GetTimeSinceIterate();
    std::string GetAppName();
    std::string GetMissionFileName();
    bool IsSimulateMode();

    // Takes effect only before Run.
    bool UseMOOSComms(bool useComms);
    void EnableIterateWithoutComms(bool enable);
    bool CanIterateWithoutComms();

    // Runs the passes from the comms client's thread after each exchange.
    bool UseMailCallBack();
    // One pass of the loop; called through MOOSAPP_OnMail.
    bool OnMailCallBack();

    // --- Server settings ------------------------------------------------
    // Host and port; replaced by ConfigureComms when Run starts the comms.
    void SetServer(const char* sServerHost = "LOCALHOST", long lPort = 9000);
    // False, with its reason traced, when the host is empty or the port is 0.
    bool CheckSetUp();

    // --- Command messages and status ------------------------------------
    // <NAME>_CMD, upper-cased.
    std::string GetCommandKey();
    // Starts or stops catching command messages, subscribing or
    // unsubscribing at once.
    void EnableCommandMessageFiltering(bool enable);
    // Hands every command message of the batch to OnCommandMsg; true when
    // every call returned true (or there were none).
    bool LookForAndHandleAppCommand(MOOSMSG_LIST& NewMail);
    // Sets or clears the application error that the status record carries.
    void SetAppError(bool error, const std::string& reason);
    // Publishes text under "MOOS_DEBUG"; false, and nothing else, while not
    // connected.
    bool MOOSDebugWrite(const std::string& text);

    // --- Managed variables ----------------------------------------------
    // False, changing nothing, when the local name is taken.
    bool AddMOOSVariable(std::string name, std::string subscribeName, std::string publishName,
                         double commsTime);
    // Subscribes to every variable with a subscribe name; false when any
    // registration failed (the others are still made).
    bool RegisterMOOSVariables();
    // Refreshes the variables from a batch of mail; skewed messages are
    // ignored. A variable keeps its local name whatever the message's key.
    bool UpdateMOOSVariables(MOOSMSG_LIST& NewMail);
    // Publishes every fresh variable under its publish name and clears fresh.
    // A variable without a publish name is never published (its fresh flag
    // is cleared all the same).
    bool PublishFreshMOOSVariables();
    // False when there is no variable of that local name.
    bool SetMOOSVar(const std::string& name, double value, double time);
    bool SetMOOSVar(const std::string& name, const std::string& value, double time);
    // Replaces the stored variable of local name var.GetName() by a fresh
    // copy of var; false, changing nothing, when there is none. A copy taken
    // from GetMOOSVar therefore always writes back into its own entry.
    bool SetMOOSVar(const CMOOSVariable& var);
    // The stored variable of that local name, or null.
    CMOOSVariable* GetMOOSVar(std::string name);

protected:
    // One pass of the loop: mail, status, Iterate, then the pacing sleep.
    bool DoRunWork();

    // Framework work done just before the matching hook.
    bool IteratePrivate();
    bool OnNewMailPrivate(MOOSMSG_LIST& NewMail);
    void OnConnectToServerPrivate();
    void OnDisconnectToServerPrivate();

    // <NAME>_STATUS, upper-cased.
    std::string GetStatusKey();

    // Milliseconds a pass should sleep to hold freq Hz after running for
    // elapsedMs; 0 when the rest is 10 ms or less or freq is not positive.
    static int PacingSleepMs(double elapsedMs, double freq);

    // MOOSPause with the warp applied, cut short by RequestQuit (none at all
    // when a quit was asked for before it began).
    void PauseUnlessQuit(int ms);

    // Asks for the status record at the next pass instead of at the end of
    // the status period, so subscribers learn of a change at once.
    void RequestStatusRecord();
    // Whether RequestQuit has been called; safe from any thread.
    bool QuitRequested() const;
    // Called by RequestQuit on the thread that asked (a stop signal's, the
    // loop's, any other): an application that waits on something of its
    // own outside the framework wakes it here. Must be quick and safe from
    // any thread; does nothing unless overridden.
    virtual void OnQuitRequested() {}

    // The derived application's own ways to the server and to its block of
    // the mission file.
    CMOOSCommClient comms;
    CProcessConfigReader missionReader;

private:
    // The framework's state: derived classes reach it only through the calls
    // above, so it cannot be changed behind the loop's back.

    // Guards the structure of moosVars and each walk over it; never held
    // across a comms call.
    std::mutex moosVarsLock;
    std::map<std::string, CMOOSVariable> moosVars;

    bool simulateMode = false;
    long serverPort = 0;
    std::string serverHost;
    std::string serverPortText;
    bool useMOOSComms = true;
    // appName and moosName are fixed before the comms client starts and
    // only read afterwards, also on its thread.
    std::string appName;
    std::string moosName;
    int commsFreq = 5;
    double appFreq = 5.0;
    std::string missionFile;
    // Read on the comms client's thread when a connection is made.
    std::atomic<bool> commandFilteringEnabled{false};
    double appStartTime = -1.0;
    std::atomic<double> lastIterateTime{-1.0};
    bool sortMailByTime = true;
    std::string appErrorReason;
    bool appErrorFlag = false;
    std::atomic<bool> iterateWithoutComms{false};
    std::atomic<int> iterateCount{0};
    double lastStatusTime = -1.0;
    std::atomic<bool> quitRequested{false};
    std::atomic<bool> quitOnStopSignals{false};
    // Set by the loop's thread when the comms client was refused for good.
    std::atomic<bool> serverRefused{false};

    // The framework's own tests set up states no public call reaches (a
    // status record due, a given uptime) without running the loop.
    friend struct CMOOSAppTestAccess;
    friend bool MOOSAPP_OnConnect(void* pParam);
    friend bool MOOSAPP_OnDisconnect(void* pParam);

    bool StartUp();
    void RunLoop();
    void ReadMissionSettings();
    void WaitForConnection();
    void PrintBanner();
    void ReadServerHost();
    void ReadServerPort();
    // Waits (bounded) until what was posted has reached the server.
    void FlushComms();
    // Closes the comms client once if ConfigureComms started it.
    void StopComms();
    void HandleMail(MOOSMSG_LIST& mail);
    void NoteRefusal();
    void IterateOnce();

    std::atomic<bool> commsStarted{false};

    // Wakes PauseUnlessQuit when a quit is requested, also one requested
    // before the pause began (during Iterate, say).
    std::mutex quitWakeLock;
    std::condition_variable quitWake;
};

// The comms client's callbacks; each takes the application as its parameter
// and answers false when it is null.
bool MOOSAPP_OnConnect(void* pParam);
bool MOOSAPP_OnDisconnect(void* pParam);
bool MOOSAPP_OnMail(void* pParam);

#endif
