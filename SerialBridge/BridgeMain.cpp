#include "BridgeMain.h"
#include "DeviceMessages.h"

#include "SerialBridge.h"

#include <boost/system/system_error.hpp>

#include "MOOSLIB/MOOSStopSignals.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>

#ifndef MOOS_BRIDGES_VERSION
#define MOOS_BRIDGES_VERSION "unknown"
#endif

namespace
{
bool IsOnlyArgument(int argc, char* argv[], const char* a, const char* b = nullptr)
{
    return argc == 2 && (std::strcmp(argv[1], a) == 0 || (b && std::strcmp(argv[1], b) == 0));
}

// One line when the device cannot be opened at start-up; the program then
// ends with status 1.
void ReportOpenFailure(const BridgeProgram& program, const std::string& device,
                       const boost::system::error_code& reason)
{
    if (SerialDeviceInUse(reason))
        std::cerr << DeviceInUseLine(program.name, device)
                  << "; stop it, or set ReopenDevice = true to wait until it lets go" << std::endl;
    else
        std::cerr << SerialDeviceError(program.name, "cannot open", device, reason.message(),
                                       program.deviceVariable.c_str())
                  << std::endl;
}

void ReportLostDevice(const BridgeProgram& program, const std::string& device,
                      const std::string& reason)
{
    std::cerr << program.name << ": lost the serial device " << device << ": " << reason
              << "; the adapter was unplugged, lost power or its driver closed it. Check the "
                 "cable and start "
              << program.name << " again, or set ReopenDevice = true to wait for the device"
              << std::endl;
}

// How a run of the application ended.
struct RunOutcome
{
    bool started = false;
    bool refused = false; // the server refused the name, and the run said so
    std::string readError;
};

// Builds and runs the application; it is gone, its connection closed and
// its traces written, when this returns. Throws boost::system::system_error
// when the device cannot be opened.
RunOutcome RunApplication(const CommandLine& picked, const BridgeProgram& program,
                          const SentenceFormat& format, const SettingsRead& read)
{
    CSimulator app(program, format, read.settings, BridgeSeams{{}, {}, read.keysRead});
    app.QuitOnStopSignals();
    RunOutcome outcome;
    outcome.started = app.Run(picked.moosName.c_str(), picked.missionFile.c_str());
    outcome.refused = app.ServerRefused();
    outcome.readError = app.ReadError();
    return outcome;
}

int RunBridge(const CommandLine& picked, const BridgeProgram& program, const SentenceFormat& format)
{
    // Before anything about the device: a wrong mission file explains the rest.
    if (!std::ifstream(picked.missionFile))
        std::cerr << program.name << ": cannot read mission file " << picked.missionFile << ": "
                  << std::strerror(errno) << "; running on the defaults" << std::endl;
    SettingsRead read = ReadBridgeSettings(picked.missionFile, picked.moosName, program);
    if (!read.error.empty())
    {
        std::cerr << program.name << ": " << read.error << std::endl;
        return 2;
    }
    read.settings.serialPort =
        SerialDeviceFromEnvironment(program.deviceVariable.c_str(), read.settings.serialPort);
    std::cerr << StartupLine(program, read.settings) << std::endl;
    for (const std::string& warning : read.warnings)
        std::cerr << warning << std::endl;

    RunOutcome outcome;
    try
    {
        outcome = RunApplication(picked, program, format, read);
    }
    catch (const boost::system::system_error& e)
    {
        ReportOpenFailure(program, read.settings.serialPort, e.code());
        return 1;
    }
    if (outcome.refused)
        return 1;
    if (!outcome.started)
    {
        // A bridge that never ran (no usable server address, say) must not
        // look like one that was stopped: a service manager restarts on 1.
        std::cerr << program.name << ": did not start; the lines above say why" << std::endl;
        return 1;
    }
    if (outcome.readError.empty())
        return 0;
    ReportLostDevice(program, read.settings.serialPort, outcome.readError);
    return 1;
}
} // namespace

CommandLine ParseCommandLine(int argc, const char* const argv[], const std::string& defaultProcess)
{
    CommandLine picked{"Mission.moos", defaultProcess};
    if (argc == 3)
        picked = {argv[1], argv[2]};
    else if (argc == 2)
        picked.missionFile = argv[1];
    return picked;
}

int RunBridgeProgram(int argc, char* argv[], const BridgeProgram& program,
                     const SentenceFormat& format)
{
    MOOSBlockStopSignals();
    if (IsOnlyArgument(argc, argv, "--help", "-h"))
    {
        std::cout << UsageText(program);
        return 0;
    }
    if (IsOnlyArgument(argc, argv, "--version"))
    {
        std::cout << program.name << " " << MOOS_BRIDGES_VERSION << std::endl;
        return 0;
    }
    return RunBridge(ParseCommandLine(argc, argv, program.defaultProcess), program, format);
}
