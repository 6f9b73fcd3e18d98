// Dirkel: publishes the heading text of a digital compass to the MOOS server.
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

int main(int argc, char* argv[])
{
    return RunBridgeProgram(argc, argv, DirkelProgram(), CompassFormat());
}
