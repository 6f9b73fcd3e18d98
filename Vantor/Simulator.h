// CSimulator: the GPS bridge application.
//
// Reads the NMEA sentences of a GPS receiver, one line per Iterate, and
// publishes the position fields of the last "$GPGGA" sentence as the string
// variables "Latitude", "Longitude", "Indic_EW" and "Indic_NS" after every
// line, each with the time 0.0. The text is published as the receiver sent
// it: no conversion and no checksum test. The four values are echoed to
// standard output.
//
// The application owns its serial line (opened by the constructor). When a
// read fails (the receiver is unplugged, its line closes), Iterate records
// the reason, asks the loop to quit and reads no more; ReadError tells why.
//
// Threads: everything but OnConnectToServer runs on the thread that calls Run.
#ifndef VANTOR_SIMULATOR_H
#define VANTOR_SIMULATOR_H

#include "MOOSLIB/MOOSApp.h"
#include "SimpleSerial.h"

#include <string>

// The position fields of one "$GPGGA" sentence, as text.
struct GgaPosition
{
    std::string latitude;
    std::string indic_NS;
    std::string longitude;
    std::string indic_EW;
};

// Takes the position fields of line when it begins with "$GPGGA" (in that
// case); false, leaving position alone, for any other line. Missing fields
// shift or come out empty; nothing is rejected.
bool ParseGpgga(const std::string& line, GgaPosition& position);

// The mission file and process name picked from the command line.
struct CommandLine
{
    std::string missionFile;
    std::string moosName;
};

// One argument names the mission file, two the mission file and the process
// name; none, or more than two, leave "Mission.moos" and "Vantor".
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

    // Handles one line read from the receiver, line end included: takes the
    // position from a "$GPGGA" sentence, publishes and echoes the values.
    void HandleLine(const std::string& usbData);

    // Why reading the device failed; empty while it has not.
    const std::string& ReadError() const { return readError; }

protected:
    // Publishes one value; the comms client's Notify with the time 0.0.
    virtual void Publish(const std::string& name, const std::string& value);

private:
    SimpleSerial serial;
    std::string longitude;
    std::string latitude;
    std::string indic_NS;
    std::string indic_EW;
    std::string readError;
};

#endif
