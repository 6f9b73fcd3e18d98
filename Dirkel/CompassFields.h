// The numbers of a digital compass's "$C" line, and the heading arithmetic
// of a compass mounted on a vehicle.
//
// A compass line is "$C<heading>P<pitch>R<roll>T<temperature>...*hh" and a
// line end. Each field is a tag (an upper-case letter, for some fields
// followed by lower-case ones: "Mx") and the number after it. The compass
// can be told to leave any field out, but the fields it sends keep one order:
//   C P R X Y Z T Mx My Mz Ax Ay Az D E
// (heading, pitch, roll, the magnetic field of one compass family, board
// temperature, the magnetic field and acceleration of another, depth, a
// distortion flag). Only C, P, R and T are decoded; the others are skipped
// whatever they hold.
//
// DecodeCompassLine is strict, so that a controller never steers by a number
// the compass did not send:
//  - A field's number is an optional "-", digits, and optionally "." and
//    more digits; nothing else (no "+", no second sign, no ",", no exponent,
//    no blank or control byte). It is read the same whatever the C locale.
//  - The heading must lie in [0, 360], pitch and roll in [-180, 180].
//  - A field that fails either rule gives nothing; the others still decode.
//  - A line gives no number at all when its layout cannot be trusted: a tag
//    outside the order above (or twice), a tag not in the list, or a line
//    that is cut. A line is cut when its fields do not end in one of the
//    two ways a whole line ends: "*" with exactly two hex digits (then
//    optionally the line end), or, for a compass set to send no checksum,
//    the line end itself ("\r\n" or "\n"). So a line that stops inside a
//    field without a line end, a "*" followed by anything but two hex
//    digits, and a "$" inside the line (a new line begun before the old one
//    ended) are all cut.
// The checksum itself is not verified here; that is the bridge's setting.
//
// All functions are pure: any thread, no state.
#ifndef DIRKEL_COMPASSFIELDS_H
#define DIRKEL_COMPASSFIELDS_H

#include <optional>
#include <string_view>

// What one compass line says, in degrees (temperature in the compass's own
// unit); a field is empty when the line did not carry it or it was bad.
struct CompassReading
{
    std::optional<double> heading;
    std::optional<double> pitch;
    std::optional<double> roll;
    std::optional<double> temperature;
};

// Decodes line, as read from the device (with its line end) or without a
// line end when it ends in its checksum. A line that does not begin with
// "$C" gives an empty reading.
CompassReading DecodeCompassLine(std::string_view line);

// degrees wrapped into [0, 360). The result is rounded to a millionth of a
// degree, far below any compass's resolution, so that sums of the decimal
// tenths a compass and its settings use come out as the numbers they read
// (359.9 + 0.2 gives exactly the double 0.1) and no heading a hair below 360
// is shown as 360.0 by a reader that rounds. NaN for a non-finite input.
double WrapHeading(double degrees);

// The vehicle's magnetic heading: the compass's heading plus headingOffset,
// the angle from the vehicle's axis to the compass's, wrapped.
double VehicleHeading(double compassHeading, double headingOffset);

// The vehicle's true heading: VehicleHeading plus magneticDeclination (east
// positive), wrapped.
double TrueHeading(double compassHeading, double headingOffset, double magneticDeclination);

#endif
