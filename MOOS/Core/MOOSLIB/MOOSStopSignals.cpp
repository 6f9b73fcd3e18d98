#include "MOOSLIB/MOOSStopSignals.h"

#include <pthread.h>
#include <signal.h>

namespace
{
sigset_t StopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}
} // namespace

void MOOSBlockStopSignals()
{
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

CMOOSStopSignalWatcher::CMOOSStopSignalWatcher(std::function<void()> onStop)
    : watcher([this, onStop = std::move(onStop)] { Watch(onStop); })
{
}

CMOOSStopSignalWatcher::~CMOOSStopSignalWatcher()
{
    done = true;
    // Wakes the watcher's sigwait; it sees done and ends without a request.
    pthread_kill(watcher.native_handle(), SIGHUP);
    watcher.join();
}

void CMOOSStopSignalWatcher::Watch(const std::function<void()>& onStop)
{
    const sigset_t signals = StopSignals();
    int signal = 0;
    while (!done)
        if (sigwait(&signals, &signal) == 0 && !done)
            onStop();
}
