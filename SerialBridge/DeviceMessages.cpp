#include "DeviceMessages.h"

#include <cstdlib>

std::string SerialDeviceFromEnvironment(const char* variable, const std::string& fallback)
{
    const char* named = std::getenv(variable);
    return named != nullptr && *named != '\0' ? named : fallback;
}

std::string SerialDeviceError(const std::string& program, const std::string& action,
                              const std::string& device, const std::string& reason,
                              const char* variable)
{
    return program + ": " + action + " serial device " + device + ": " + reason + " (set " +
           variable + " to read another device)";
}

std::string DeviceInUseLine(const std::string& program, const std::string& device)
{
    return program + ": serial device " + device +
           " is in use by another process (another bridge reading it?)";
}
