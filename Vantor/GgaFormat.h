// The sentence format of the GPS bridge, Vantor.
//
// The receiver's "$GPGGA" sentences give the position fields as the string
// variables "Latitude", "Longitude", "Indic_EW" and "Indic_NS", published in
// that order as the receiver sent them: no conversion. Before the first GGA
// sentence they are empty. The echo is the four values, one a line.
//
// Settings of the process's block change that (BridgeSettings): with
// AcceptAnyTalker any talker's GGA sentence ("$GNGGA", "$GLGGA", ...) counts
// as "$GPGGA"; with RequireFix a GGA sentence whose fix quality is empty or 0
// gives nothing. Checksums, publishing, echo, time-outs and the device are the
// bridge application's (CSimulator).
//
// Pure functions; safe from any thread.
#ifndef VANTOR_GGAFORMAT_H
#define VANTOR_GGAFORMAT_H

#include "BridgeSettings.h"
#include "SentenceFormat.h"

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

// The table the bridge application is built from.
SentenceFormat GgaFormat();

// What the shared main needs to know of this program.
BridgeProgram VantorProgram();

#endif
