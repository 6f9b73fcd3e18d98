#include "Simulator.h"

#include <cctype>
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

bool IsUpper(char c)
{
    return std::isupper(static_cast<unsigned char>(c)) != 0;
}
} // namespace

bool IsGgaSentence(const std::string& line, bool anyTalker)
{
    if (!anyTalker)
        return line.compare(0, 6, "$GPGGA") == 0;
    return line.size() >= 6 && line[0] == '$' && IsUpper(line[1]) && IsUpper(line[2]) &&
           line.compare(3, 3, "GGA") == 0;
}

bool GgaHasFix(const std::string& line)
{
    std::string rest = line;
    for (int field = 0; field < 6; ++field)
    {
        if (rest.find(',') == std::string::npos)
            return false;
        rest = AfterFirstComma(rest);
    }
    const std::string quality = rest.substr(0, rest.find_first_of(",*\r\n"));
    return !quality.empty() && quality != "0";
}

GgaPosition GgaFields(const std::string& line)
{
    GgaPosition position;
    std::string rest = AfterFirstComma(line); // drops the sentence name
    rest = AfterFirstComma(rest);             // drops the time
    position.latitude = UpToFirstComma(rest);
    rest = AfterFirstComma(rest);
    position.indic_NS = FirstCharacter(rest);
    rest = AfterFirstComma(rest);
    position.longitude = UpToFirstComma(rest);
    rest = AfterFirstComma(rest);
    position.indic_EW = FirstCharacter(rest);
    return position;
}

bool ParseGpgga(const std::string& line, GgaPosition& position)
{
    if (!IsGgaSentence(line, false))
        return false;
    position = GgaFields(line);
    return true;
}

CSimulator::CSimulator(const std::string& device) : CSimulator(DefaultSettingsFor(device)) {}

CSimulator::CSimulator(const BridgeSettings& settings)
    : SerialBridge("Vantor", settings, serial),
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
    return true;
}

bool CSimulator::OnStartUp()
{
    return true;
}

bool CSimulator::Iterate()
{
    ServeLine();
    return true;
}

bool CSimulator::IsOwnSentence(const std::string& line) const
{
    return IsGgaSentence(line, Settings().acceptAnyTalker);
}

bool CSimulator::IsUsable(const std::string& line) const
{
    return !Settings().requireFix || GgaHasFix(line);
}

void CSimulator::TakeValues(const std::string& line)
{
    const GgaPosition position = GgaFields(line);
    latitude = position.latitude;
    indic_NS = position.indic_NS;
    longitude = position.longitude;
    indic_EW = position.indic_EW;
}

void CSimulator::PublishValues()
{
    Publish("Latitude", latitude);
    Publish("Longitude", longitude);
    Publish("Indic_EW", indic_EW);
    Publish("Indic_NS", indic_NS);
}

void CSimulator::EchoReading(const std::string&)
{
    std::cout << latitude << '\n'
              << longitude << '\n'
              << indic_EW << '\n'
              << indic_NS << '\n'
              << std::flush;
}

BridgeProgram VantorProgram()
{
    return {"Vantor", "Vantor", "VANTOR_DEVICE", "the NMEA sentences of a GPS receiver", true};
}
