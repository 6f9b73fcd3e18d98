// The command line of SensorSim.
#ifndef SENSORSIM_SENSORSIMOPTIONS_H
#define SENSORSIM_SENSORSIMOPTIONS_H

#include <string>
#include <vector>

struct SensorSimOptions
{
    enum class Mode
    {
        None,
        Gps,
        Compass,
        Heading,
        Replay
    };

    Mode mode = Mode::None;
    std::string replayFile;
    // Write without pacing.
    bool fast = false;
    // Bursts (GPS) or lines (compass, replay) to write; negative: no limit.
    long count = -1;
    // Bursts or lines per second; 0 for the mode's own pace (a GPS burst a
    // second, ten compass lines a second, a replay at the line's baud rate).
    double rate = 0.0;
    // Baud rate whose pace a replay follows.
    unsigned baud = 19200;
    // GPS bursts without a fix at the start.
    int noFix = 3;
    // After a replay or a count, keep the pseudo-terminal until signalled.
    bool hold = false;
    long startDelayMs = 0;
    // Where to make a symbolic link to the device; empty for none.
    std::string link;
    // Talker of the GPS sentences ("GN" makes "$GNGGA").
    std::string talker = "GP";
    // Compass lines with pitch and roll swinging wide and the temperature
    // drifting.
    bool attitude = false;
    // Every corruptEvery-th line gets a wrong checksum; 0 for none.
    long corruptEvery = 0;
    // Seconds after the first line at which the sensor goes quiet, and for
    // how long; negative: never, and until stopped.
    double pauseAfter = -1.0;
    double pauseFor = -1.0;
    // The same for pulling the device out and putting it back.
    double unplugAfter = -1.0;
    double replugAfter = -1.0;
    bool help = false;
};

// Parses the arguments after the program name. On failure returns false
// with a one-line reason in error.
bool ParseSensorSimOptions(const std::vector<std::string>& args, SensorSimOptions& options,
                           std::string& error);

// The --help text.
std::string SensorSimUsage();

#endif
