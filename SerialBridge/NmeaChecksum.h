// The "*hh" checksum that ends an NMEA sentence and most sensor lines.
//
// The checksum is the XOR of every character between the leading "$" and the
// "*", written as two hexadecimal digits in either case right before the
// line end. A line cut short by a lost byte or a bad contact loses or spoils
// it, which is how a reader tells a whole sentence from a damaged one.
//
// A library of its own, without dependencies, so that the simulated sensors
// write their lines with the very sum the bridges check.
#ifndef SERIALBRIDGE_NMEACHECKSUM_H
#define SERIALBRIDGE_NMEACHECKSUM_H

#include <string>
#include <string_view>

// The XOR of the characters of text (a sentence's body, between "$" and "*").
unsigned char NmeaChecksum(std::string_view text);

// "$" + body + "*" + the two upper-case hex digits of NmeaChecksum(body).
std::string WithChecksum(const std::string& body);

// True when line (its CR LF, or a lone LF, may follow) starts with "$", ends
// with "*hh" and hh is the XOR of the characters between them.
bool HasValidChecksum(const std::string& line);

#endif
