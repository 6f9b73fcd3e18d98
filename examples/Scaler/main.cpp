// Scaler [mission file [process name]]: publishes a scaled copy of a
// variable (see Scaler.h); defaults Scaler.moos and Scaler.
#include "Scaler.h"

int main(int argc, char* argv[])
{
    const char* missionFile = argc > 1 ? argv[1] : "Scaler.moos";
    const char* processName = argc > 2 ? argv[2] : "Scaler";
    CScaler app;
    // SIGTERM (a service manager's stop), SIGINT and SIGHUP end the loop
    // cleanly: the last values are delivered and the program exits 0.
    app.QuitOnStopSignals();
    return app.Run(processName, missionFile) ? 0 : 1;
}
