// CSimulator: the compass bridge application.
//
// Reads the lines of a digital compass, one per Iterate, and publishes after
// every line the text of the last compass sentence between its leading "$C"
// and its first "P" (the heading) as the string variable "CompassData", with
// the time 0.0. The text is published as the compass sent it. Every line is
// echoed to standard output, followed by "poslano". The application
// subscribes to "GetCompassData" at start-up and on every connection.
//
// The application owns its serial line (opened by the constructor). When a
// read fails (the compass is unplugged, its line closes), Iterate records the
// reason, asks the loop to quit and reads no more; ReadError tells why.
//
// Threads: OnConnectToServer runs on the comms client's thread; everything
// else on the thread that calls Run.
#ifndef DIRKEL_SIMULATOR_H
#define DIRKEL_SIMULATOR_H

#include "MOOSLIB/MOOSApp.h"
#include "SimpleSerial.h"

#include <string>

// Takes the compass text of line when it begins with "$C": the characters
// after "$C" up to the first "P", or to the end of the line (line end
// included) when there is no "P". False, leaving compassData alone, for any
// other line.
bool ParseCompassLine(const std::string& line, std::string& compassData);

// The mission file and process name picked from the command line.
struct CommandLine
{
    std::string missionFile;
    std::string moosName;
};

// One argument names the mission file, two the mission file and the process
// name; none, or more than two, leave "Mission.moos" and "Compass".
CommandLine ParseCommandLine(int argc, const char* const argv[]);

class CSimulator : public CMOOSApp
{
public:
    // Opens device at 19200 baud; throws boost::system::system_error.
    explicit CSimulator(const std::string& device);

    bool OnNewMail(MOOSMSG_LIST& NewMail) override;
    bool Iterate() override;
    bool OnConnectToServer() override;
    bool OnStartUp() override;

    // Handles one line read from the compass, line end included: takes the
    // compass text from a "$C" sentence, publishes it and echoes the line.
    void HandleLine(const std::string& usbData);

    // Why reading the device failed; empty while it has not.
    const std::string& ReadError() const { return readError; }

protected:
    // Publishes one value; the comms client's Notify with the time 0.0.
    virtual void Publish(const std::string& name, const std::string& value);

private:
    SimpleSerial serial;
    std::string compassData;
    std::string readError;
};

#endif
