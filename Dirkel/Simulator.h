// CSimulator: the compass bridge application.
//
// Reads the lines of a digital compass, one per Iterate, and publishes after
// every line the text of the last compass sentence between its leading "$C"
// and its first "P" (the heading) as the string variable "CompassData", with
// the time 0.0. The text is published as the compass sent it. Every line is
// echoed to standard output, followed by "poslano", and flushed. The
// application subscribes to "GetCompassData" at start-up and on every
// connection, and ignores the mail that brings.
//
// Settings of the process's block change that (BridgeSettings): with
// VerifyChecksum a compass line whose checksum is wrong or missing gives no
// heading. Reading, publishing, echo, time-outs and the device's loss are the
// shared SerialBridge's.
//
// Threads: OnConnectToServer runs on the comms client's thread; everything
// else on the thread that calls Run.
#ifndef DIRKEL_SIMULATOR_H
#define DIRKEL_SIMULATOR_H

#include "SerialBridge.h"

#include <string>

// Takes the compass text of line when it begins with "$C": the characters
// after "$C" up to the first "P", or to the end of the line (line end
// included) when there is no "P". False, leaving compassData alone, for any
// other line.
bool ParseCompassLine(const std::string& line, std::string& compassData);

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
    void TakeValues(const std::string& line) override;
    void PublishValues() override;
    void EchoReading(const std::string& line) override;

private:
    SimpleSerial serial;
    std::string compassData;
};

// What the shared main needs to know of this program.
BridgeProgram DirkelProgram();

#endif
