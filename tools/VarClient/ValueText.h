// The printable form of a variable's value, safe to put on a terminal or in
// a line-based pipe: a number as %.12g (which gives back the double a
// poke wrote as "3.25" as "3.25"), a string as its text with every control
// byte and DEL written \xHH (so no value can move the cursor or break a
// line), and binary data as "<binary N bytes>", never its bytes.
#ifndef VARCLIENT_VALUETEXT_H
#define VARCLIENT_VALUETEXT_H

#include "MOOSLIB/MOOSMsg.h"

#include <string>

std::string EscapeControlBytes(const std::string& sText);
std::string ValueText(const CMOOSMsg& Msg);

// The one line (newline included) that shows the notification Msg at time
// dfTime, as LocalServer logs it and VarWatch prints it, for other programs
// to parse: "<dfTime %.3f> <source> <key> <value>", an empty source as "-",
// the source and key escaped as text is, the value last because it may hold
// spaces.
std::string NotificationLine(double dfTime, const CMOOSMsg& Msg);

#endif
