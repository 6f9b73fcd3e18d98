// The framework's private state, for the tests that must set it up or read
// it without running the loop.
#ifndef TESTS_APP_APPFIELDS_H
#define TESTS_APP_APPFIELDS_H

#include "MOOSLIB/MOOSApp.h"

struct CMOOSAppTestAccess
{
    static double& AppFreq(CMOOSApp& App) { return App.appFreq; }
    static int& CommsFreq(CMOOSApp& App) { return App.commsFreq; }
    static std::string& AppName(CMOOSApp& App) { return App.appName; }
    static double& AppStartTime(CMOOSApp& App) { return App.appStartTime; }
    static double& LastStatusTime(CMOOSApp& App) { return App.lastStatusTime; }
    static std::atomic<bool>& CommandFiltering(CMOOSApp& App)
    {
        return App.commandFilteringEnabled;
    }
    static bool SortsMailByTime(const CMOOSApp& App) { return App.sortMailByTime; }
    static bool UsesMOOSComms(const CMOOSApp& App) { return App.useMOOSComms; }
    static std::string ServerHost(const CMOOSApp& App) { return App.serverHost; }
    static long ServerPort(const CMOOSApp& App) { return App.serverPort; }
    // The application error the status record carries; empty when none.
    static std::string AppError(const CMOOSApp& App)
    {
        return App.appErrorFlag ? App.appErrorReason : "";
    }
};
using Field = CMOOSAppTestAccess;

#endif
