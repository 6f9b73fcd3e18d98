#include "Simulator.h"

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

CSimulator::CSimulator(const std::string& device) : CSimulator(DefaultSettingsFor(device)) {}

CSimulator::CSimulator(const BridgeSettings& settings)
    : SerialBridge("Dirkel", settings, serial),
      serial(settings.serialPort, settings.baudRate, SerialDeferredOpen{})
{
    RequireDevice();
}

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
    ServeLine();
    return true;
}

bool CSimulator::IsOwnSentence(const std::string& line) const
{
    return line.compare(0, 2, "$C") == 0;
}

void CSimulator::TakeValues(const std::string& line)
{
    ParseCompassLine(line, compassData);
}

void CSimulator::PublishValues()
{
    Publish("CompassData", compassData);
}

void CSimulator::EchoReading(const std::string& line)
{
    std::cout << line << '\n' << "poslano" << std::endl;
}

BridgeProgram DirkelProgram()
{
    return {"Dirkel", "Compass", "DIRKEL_DEVICE", "the heading lines of a digital compass", false};
}
