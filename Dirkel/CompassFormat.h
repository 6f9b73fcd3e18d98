// The sentence format of the compass bridge, Dirkel.
//
// A compass line, one beginning with "$C", gives the text between its "$C"
// and its first "P" (the heading) as the string variable "CompassData", as
// the compass sent it; before the first one it is empty. Every line is
// echoed followed by "poslano". The bridge subscribes to "GetCompassData"
// at start-up and on every connection, and ignores the mail that brings.
//
// The compass's settings (CompassSettings) add to that:
//  - with Numeric, the line's heading (plus HeadingOffset), true heading
//    (with MagneticDeclination), pitch, roll and temperature as doubles.
//    A number is published only while the latest compass line carried it
//    whole: one that line did not give is held back, not repeated from an
//    older line, so a controller never steers by a stale attitude;
//  - without PublishText, "CompassData" is kept but not published;
//  - with AnswerRequests, mail on "GetCompassData" gives the values the
//    latest compass line gave, each stamped with the time that line was
//    read; before the first, nothing but one trace line.
//
// Checksums (VerifyChecksum), publishing, echo, time-outs and the device are
// the bridge application's (CSimulator).
//
// Pure functions; safe from any thread.
#ifndef DIRKEL_COMPASSFORMAT_H
#define DIRKEL_COMPASSFORMAT_H

#include "BridgeSettings.h"
#include "CompassSettings.h"
#include "SentenceFormat.h"

#include <string>

// Takes the compass text of line when it begins with "$C": the characters
// after "$C" up to the first "P", or to the end of the line (line end
// included) when there is no "P". False, leaving compassData alone, for any
// other line.
bool ParseCompassLine(const std::string& line, std::string& compassData);

// The table the bridge application is built from.
SentenceFormat CompassFormat(const CompassSettings& compass = {});

// What the shared main needs to know of this program.
BridgeProgram DirkelProgram();

#endif
