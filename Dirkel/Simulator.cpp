#include "Simulator.h"

#include <boost/system/system_error.hpp>

#include <iostream>

bool ParseCompassLine(const std::string& line, std::string& compassData)
{
    if (line.compare(0, 2, "$C") != 0)
        return false;
    const std::size_t compassStart = line.find("$C") + 2;
    const std::size_t compassEnd = line.find('P');
    compassData = compassEnd == std::string::npos
                      ? line.substr(compassStart)
                      : line.substr(compassStart, compassEnd - compassStart);
    return true;
}

CommandLine ParseCommandLine(int argc, const char* const argv[])
{
    CommandLine picked{"Mission.moos", "Compass"};
    if (argc == 3)
        picked = {argv[1], argv[2]};
    else if (argc == 2)
        picked.missionFile = argv[1];
    return picked;
}

CSimulator::CSimulator(const std::string& device) : serial(device, 19200) {}

bool CSimulator::OnNewMail(MOOSMSG_LIST&)
{
    return true;
}

bool CSimulator::OnConnectToServer()
{
    comms.Register("GetCompassData", 0.0);
    return true;
}

bool CSimulator::OnStartUp()
{
    comms.Register("GetCompassData", 0.0);
    return true;
}

bool CSimulator::Iterate()
{
    std::string usbData;
    try
    {
        usbData = serial.readString();
    }
    catch (const boost::system::system_error& e)
    {
        readError = e.code().message();
        RequestQuit();
        return true;
    }
    HandleLine(usbData);
    return true;
}

void CSimulator::HandleLine(const std::string& usbData)
{
    ParseCompassLine(usbData, compassData);
    Publish("CompassData", compassData);
    std::cout << usbData << '\n' << "poslano" << std::endl;
}

void CSimulator::Publish(const std::string& name, const std::string& value)
{
    comms.Notify(name, value, 0.0);
}
