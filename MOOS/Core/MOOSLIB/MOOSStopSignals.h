// The stop signals of a MOOS process: SIGTERM (a service manager), SIGINT
// (Ctrl-C) and SIGHUP (a closed terminal) turned into a quit request of a
// CMOOSApp, so that the application finishes its pass, delivers what it has
// published, closes its connection and Run returns true (the program exits
// 0) instead of dying with the signal's status.
//
// An application opts in with CMOOSApp::QuitOnStopSignals() before Run; Run
// then blocks the signals in its thread and keeps a CMOOSStopSignalWatcher
// while it runs. Signals are taken by sigwait on a thread of their own, so
// the request is made by ordinary code, never inside a signal handler.
//
// Signals are delivered to any thread that does not block them: a program
// that starts threads of its own before Run calls MOOSBlockStopSignals()
// first thing in main, so that every thread inherits the mask (a signal that
// comes before Run then waits for the watcher instead of killing the
// program).
#ifndef MOOSLIB_MOOSSTOPSIGNALS_H
#define MOOSLIB_MOOSSTOPSIGNALS_H

#include <atomic>
#include <functional>
#include <thread>

// Blocks SIGTERM, SIGINT and SIGHUP in the calling thread and in the threads
// it starts from now on.
void MOOSBlockStopSignals();

// While it lives, a thread calls onStop for each stop signal (the
// application's RequestQuit). The signals must be blocked in every thread
// (MOOSBlockStopSignals). Destroy it before whatever onStop reaches.
class CMOOSStopSignalWatcher
{
public:
    explicit CMOOSStopSignalWatcher(std::function<void()> onStop);
    ~CMOOSStopSignalWatcher();
    CMOOSStopSignalWatcher(const CMOOSStopSignalWatcher&) = delete;
    CMOOSStopSignalWatcher& operator=(const CMOOSStopSignalWatcher&) = delete;

private:
    void Watch(const std::function<void()>& onStop);

    std::atomic<bool> done{false};
    std::thread watcher;
};

#endif
