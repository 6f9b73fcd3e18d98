#include "Simulator.h"

#include <boost/system/system_error.hpp>

#include <iostream>

namespace
{
// Everything behind the first comma; the whole text when there is none.
std::string AfterFirstComma(const std::string& text)
{
    const std::size_t comma = text.find(',');
    return comma == std::string::npos ? text : text.substr(comma + 1);
}

// Everything before the first comma; the whole text when there is none.
std::string UpToFirstComma(const std::string& text)
{
    return text.substr(0, text.find(','));
}

std::string FirstCharacter(const std::string& text)
{
    return text.substr(0, 1);
}
} // namespace

bool ParseGpgga(const std::string& line, GgaPosition& position)
{
    if (line.compare(0, 6, "$GPGGA") != 0)
        return false;
    std::string rest = AfterFirstComma(line); // drops the sentence name
    rest = AfterFirstComma(rest);             // drops the time
    position.latitude = UpToFirstComma(rest);
    rest = AfterFirstComma(rest);
    position.indic_NS = FirstCharacter(rest);
    rest = AfterFirstComma(rest);
    position.longitude = UpToFirstComma(rest);
    rest = AfterFirstComma(rest);
    position.indic_EW = FirstCharacter(rest);
    return true;
}

CommandLine ParseCommandLine(int argc, const char* const argv[])
{
    CommandLine picked{"Mission.moos", "Vantor"};
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
    return true;
}

bool CSimulator::OnStartUp()
{
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
    GgaPosition position;
    if (ParseGpgga(usbData, position))
    {
        latitude = position.latitude;
        indic_NS = position.indic_NS;
        longitude = position.longitude;
        indic_EW = position.indic_EW;
    }
    Publish("Latitude", latitude);
    Publish("Longitude", longitude);
    Publish("Indic_EW", indic_EW);
    Publish("Indic_NS", indic_NS);
    std::cout << latitude << '\n' << longitude << '\n' << indic_EW << '\n' << indic_NS << '\n';
}

void CSimulator::Publish(const std::string& name, const std::string& value)
{
    comms.Notify(name, value, 0.0);
}
