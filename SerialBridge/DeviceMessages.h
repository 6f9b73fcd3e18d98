// DeviceMessages: how a bridge program names its serial device and tells
// the user about it failing. Plain functions, no state.
#ifndef SERIALBRIDGE_DEVICEMESSAGES_H
#define SERIALBRIDGE_DEVICEMESSAGES_H

#include <string>

// The device a bridge program reads: the value of the environment variable
// named variable when it is set and not empty, else fallback.
std::string SerialDeviceFromEnvironment(const char* variable,
                                        const std::string& fallback = "/dev/ttyUSB0");

// The one line a bridge program prints on standard error when its device
// fails: "<program>: <action> serial device <device>: <reason> (set
// <variable> to read another device)", without a newline.
std::string SerialDeviceError(const std::string& program, const std::string& action,
                              const std::string& device, const std::string& reason,
                              const char* variable);

// The line when another process holds the device: "<program>: serial device
// <device> is in use by another process (another bridge reading it?)",
// without a newline; the caller adds what happens next.
std::string DeviceInUseLine(const std::string& program, const std::string& device);

#endif
