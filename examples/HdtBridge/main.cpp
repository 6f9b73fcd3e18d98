// HdtBridge: publishes the true heading of a GNSS heading receiver, from its
// "$..HDT,<heading>,T*hh" sentences (any talker), as the number GPS_HEADING
// in degrees.
//
//   HdtBridge [MissionFile [ProcessName]]
//   HdtBridge --help | -h | --version
//
// The settings, checks, reopening, status record and exit statuses are
// those of every bridge (see Vantor(1)); the device is "/dev/ttyUSB0", the
// block's "SerialPort", or the one HDTBRIDGE_DEVICE names.
#include "BridgeMain.h"

#include <cstdlib>

namespace
{
// Where the heading field begins: behind "$", a two-letter talker and "HDT,".
constexpr std::size_t kHeadingField = 7;

bool IsHdtSentence(const std::string& line, const BridgeSettings&)
{
    return line.size() > kHeadingField && line[0] == '$' && line.compare(3, 4, "HDT,") == 0;
}

// The heading, when its field is a number of degrees from 0 to 360 marked
// "T" (true); a receiver without a heading sends the field empty.
std::optional<SentenceValues> HeadingOf(const SentenceLine& line, const BridgeSettings&,
                                        const ValueTable&)
{
    const std::size_t comma = line.text.find(',', kHeadingField);
    if (comma == std::string::npos || line.text.compare(comma, 2, ",T") != 0)
        return std::nullopt;
    const std::string field = line.text.substr(kHeadingField, comma - kHeadingField);
    char* end = nullptr;
    const double degrees = std::strtod(field.c_str(), &end);
    if (field.empty() || *end != '\0' || !(degrees >= 0.0 && degrees <= 360.0))
        return std::nullopt;
    return SentenceValues{NumberValue("GPS_HEADING", field, degrees)};
}

SentenceFormat HdtFormat()
{
    SentenceFormat format;
    format.isOwn = IsHdtSentence;
    format.valuesOf = HeadingOf;
    format.echo = [](const std::string&, const ValueTable& held)
    { return held.Text("GPS_HEADING") + "\n"; };
    return format;
}
} // namespace

int main(int argc, char* argv[])
{
    const BridgeProgram program{"HdtBridge", "HdtBridge", "HDTBRIDGE_DEVICE",
                                "the HDT sentences of a GNSS heading receiver", false};
    return RunBridgeProgram(argc, argv, program, HdtFormat());
}
