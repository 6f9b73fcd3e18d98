// CSimulator: the GPS bridge application.
//
// Reads the NMEA sentences of a GPS receiver, one line per Iterate, and
// publishes the position fields of the last "$GPGGA" sentence as the string
// variables "Latitude", "Longitude", "Indic_EW" and "Indic_NS" after every
// line, each with the time 0.0. The text is published as the receiver sent
// it: no conversion. The four values are echoed to standard output, one a
// line, flushed after each reading so that a log or a journal has them at
// once.
//
// Settings of the process's block change that (BridgeSettings): with
// AcceptAnyTalker any talker's GGA sentence ("$GNGGA", "$GLGGA", ...) counts
// as "$GPGGA"; with RequireFix a GGA sentence whose fix quality is empty or 0
// gives nothing; with VerifyChecksum neither does one whose checksum is wrong
// or missing. Reading, publishing, echo, time-outs and the device's loss are
// the shared SerialBridge's.
//
// Threads: everything but OnConnectToServer runs on the thread that calls Run.
#ifndef VANTOR_SIMULATOR_H
#define VANTOR_SIMULATOR_H

#include "SerialBridge.h"

#include <string>

// The position fields of one GGA sentence, as text.
struct GgaPosition
{
    std::string latitude;
    std::string indic_NS;
    std::string longitude;
    std::string indic_EW;
};

// Whether line begins with "$GPGGA", or with anyTalker with "$", two
// upper-case letters and "GGA".
bool IsGgaSentence(const std::string& line, bool anyTalker);

// Whether a GGA sentence reports a fix: its fix quality (the sixth field
// after the name) is there and is not 0.
bool GgaHasFix(const std::string& line);

// Takes the position fields of line when it begins with "$GPGGA" (in that
// case); false, leaving position alone, for any other line. Missing fields
// shift or come out empty; nothing is rejected.
bool ParseGpgga(const std::string& line, GgaPosition& position);

// The position fields of any GGA sentence, by the same rules.
GgaPosition GgaFields(const std::string& line);

class CSimulator : public SerialBridge
{
public:
    // Opens device at 19200 baud; throws boost::system::system_error.
    explicit CSimulator(const std::string& device);
    // Opens the device the settings name; throws boost::system::system_error
    // unless ReopenDevice makes it wait for the device.
    explicit CSimulator(const BridgeSettings& settings);

    bool OnNewMail(MOOSMSG_LIST& NewMail) override;
    bool Iterate() override;
    bool OnConnectToServer() override;
    bool OnStartUp() override;

protected:
    bool IsOwnSentence(const std::string& line) const override;
    bool IsUsable(const std::string& line) const override;
    void TakeValues(const std::string& line) override;
    void PublishValues() override;
    void EchoReading(const std::string& line) override;

private:
    SimpleSerial serial;
    std::string longitude;
    std::string latitude;
    std::string indic_NS;
    std::string indic_EW;
};

// What the shared main needs to know of this program.
BridgeProgram VantorProgram();

#endif
