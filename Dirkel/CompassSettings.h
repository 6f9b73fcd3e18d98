// CompassSettings: what the compass's numbers become, from Dirkel's block of
// the mission file.
//
// With none of these keys Dirkel publishes only the compass's text,
// "CompassData", and ignores the mail on "GetCompassData". The keys:
//  - Numeric = true: the heading, pitch, roll and temperature as doubles,
//    <VariablePrefix>_HEADING, _PITCH, _ROLL and _TEMPERATURE;
//  - VariablePrefix (default COMPASS) names them, so two compasses can run
//    side by side;
//  - HeadingOffset (degrees, default 0): added to every heading published,
//    for a compass not mounted along the vehicle's axis (-90 for one
//    pointing 90 degrees to starboard);
//  - MagneticDeclination (degrees, east positive): when set, the true
//    heading is published as well, <VariablePrefix>_HEADING_TRUE;
//  - PublishText = false leaves "CompassData" out;
//  - AnswerRequests = true: mail on "GetCompassData" publishes the latest
//    reading again at once, stamped with the time it was read.
//
// Like the bridge's own keys they are read once, before the application is
// built, and silently; what cannot be used comes back as one line of text
// for main, which then ends with status 2 before the device is touched, and
// a flag such as "Numeric = yes" as a warning for main to print.
//
// Plain values; safe to copy and to read from any thread.
#ifndef DIRKEL_COMPASSSETTINGS_H
#define DIRKEL_COMPASSSETTINGS_H

#include "BridgeSettings.h"

#include <optional>
#include <string>
#include <vector>

// Numeric, PublishText and VariablePrefix as every bridge reads them.
struct CompassSettings : PublishSettings
{
    CompassSettings() : PublishSettings("COMPASS") {}

    double headingOffset = 0.0;
    // East positive; the true heading is published only when it is set.
    std::optional<double> magneticDeclination;
    bool answerRequests = false;
};

// What the early read of the compass's keys found.
struct CompassSettingsRead
{
    CompassSettings settings;
    // One line naming a key and a value that cannot be used; empty when all
    // is well.
    std::string error;
    // Lines to print once at start-up: a flag with a value such as "yes".
    std::vector<std::string> warnings;
};

// Reads the compass's keys of the block of processName in missionFile. A
// file that cannot be read, or has no such block, gives the defaults (the
// bridge's own read warns about it).
CompassSettingsRead ReadCompassSettings(const std::string& missionFile,
                                        const std::string& processName);

// The names of the keys above, for the bridge's list of keys it reads.
std::vector<std::string> CompassKeys();

// Their lines of the usage text of --help.
std::string CompassUsage();

#endif
