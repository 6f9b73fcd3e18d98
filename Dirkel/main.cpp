// Dirkel: publishes the heading text of a digital compass to the MOOS server.
//
//   Dirkel [MissionFile [ProcessName]]
//
// The compass's serial device is "/dev/ttyUSB0", or the one DIRKEL_DEVICE
// names. Exit status 1 when the device cannot be opened or fails later.
#include "Simulator.h"

#include <boost/system/system_error.hpp>

#include <iostream>
#include <memory>

namespace
{
const char kDeviceVariable[] = "DIRKEL_DEVICE";

void Report(const char* action, const std::string& device, const std::string& reason)
{
    std::cerr << SerialDeviceError("Dirkel", action, device, reason, kDeviceVariable) << std::endl;
}
} // namespace

int main(int argc, char* argv[])
{
    const CommandLine picked = ParseCommandLine(argc, argv);
    const std::string device = SerialDeviceFromEnvironment(kDeviceVariable);
    std::unique_ptr<CSimulator> TheApp;
    try
    {
        TheApp = std::make_unique<CSimulator>(device);
    }
    catch (const boost::system::system_error& e)
    {
        Report("cannot open", device, e.code().message());
        return 1;
    }
    TheApp->Run(picked.moosName.c_str(), picked.missionFile.c_str());
    if (!TheApp->ReadError().empty())
    {
        Report("lost the", device, TheApp->ReadError());
        return 1;
    }
    return 0;
}
