// Dirkel: publishes the heading text of a digital compass to the MOOS server,
// and on request its numbers (CompassSettings).
//
//   Dirkel [MissionFile [ProcessName]]
//   Dirkel --help | -h | --version
//
// The compass's serial device is "/dev/ttyUSB0", the process block's
// "SerialPort", or the one DIRKEL_DEVICE names. Exit status 1 when the device
// cannot be opened or fails later, 2 for an unusable setting, 0 when stopped
// by SIGTERM, SIGINT or SIGHUP.
#include "BridgeMain.h"
#include "CompassFormat.h"

#include <iostream>

int main(int argc, char* argv[])
{
    const BridgeProgram program = DirkelProgram();
    const CommandLine picked = ParseCommandLine(argc, argv, program.defaultProcess);
    const CompassSettingsRead compass = ReadCompassSettings(picked.missionFile, picked.moosName);
    if (!compass.error.empty())
    {
        std::cerr << program.name << ": " << compass.error << std::endl;
        return 2;
    }
    for (const std::string& warning : compass.warnings)
        std::cerr << warning << std::endl;
    return RunBridgeProgram(argc, argv, program, CompassFormat(compass.settings));
}
