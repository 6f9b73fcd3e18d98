// Vantor: publishes the position of every "$GPGGA" sentence of a GPS receiver
// to the MOOS server.
//
//   Vantor [MissionFile [ProcessName]]
//   Vantor --help | -h | --version
//
// The receiver's serial device is "/dev/ttyUSB0", the process block's
// "SerialPort", or the one VANTOR_DEVICE names. Exit status 1 when the device
// cannot be opened or fails later, 2 for an unusable setting, 0 when stopped
// by SIGTERM, SIGINT or SIGHUP.
#include "BridgeMain.h"
#include "GgaFormat.h"

int main(int argc, char* argv[])
{
    return RunBridgeProgram(argc, argv, VantorProgram(), GgaFormat());
}
