// Process-wide time base, trace output and string helpers of the middleware layer.
//
// MOOS time is the local wall clock (seconds since the epoch) multiplied by the
// process time warp, plus the clock skew that the comms client learns from the
// MOOS server. Every time stamp, every pacing sleep and every diagnostic line of
// every layer goes through the free functions below, so that any layer can use
// them without owning anything.
//
// Threads: every function here may be called from any thread. The warp, skew and
// play-back values are atomics (a reader sees the old or the new value whole).
// Trace inhibition is per thread and costs an uninhibited thread nothing beyond
// reading one thread-local flag.
//
// The string helpers are stateless: they take no lock and keep nothing between
// calls. Lookups that return false leave their destination untouched.
#ifndef MOOSLIB_MOOSGENLIBGLOBALHELPER_H
#define MOOSLIB_MOOSGENLIBGLOBALHELPER_H

#include <string>

// ---------------------------------------------------------------------------
// Time and pacing. The warp flag of these functions is true for every caller in
// the system; false reads the unwarped clock or sleeps the full duration.

// Local wall clock in seconds since the epoch (microsecond resolution), times
// the time warp when bApplyTimeWarping is true. -1.0 (warped likewise) when the
// clock cannot be read.
double MOOSLocalTime(bool bApplyTimeWarping = true);
// MOOSLocalTime plus the clock skew; the skew is added after the warp and is
// never warped itself.
double MOOSTime(bool bApplyTimeWarping = true);
// Same value as MOOSTime: this platform has no separate high-precision clock.
double HPMOOSTime(bool bApplyTimeWarping = true);
// No effect on this platform; returns false.
bool SetWin32HighPrecisionTiming(bool bEnable);
// Seconds on a clock that never jumps and is never warped, for deadlines,
// time-outs and silences: they must not move when the wall clock is set.
double MOOSSteadySeconds();

// Clock skew (seconds) between this process and the MOOS server. Written by
// the comms client's thread, read by every thread.
void SetMOOSSkew(double dfSkew);
double GetMOOSSkew();

// Accepts a warp strictly between 0.0 and 100.0; anything else is refused with
// a trace, leaves the warp in force and returns false.
bool SetMOOSTimeWarp(double dfWarp);
double GetMOOSTimeWarp();

// Play-back mode, consulted when judging whether a message is stale. Switching
// it on prints "PLAY BACK MODE IS ON" on standard output.
void SetMOOSPlayBack(bool bPlayBack);
bool IsMOOSPlayBack();

// Sleeps the calling thread for nMS milliseconds, divided by the warp (and
// truncated to whole milliseconds) when bApplyTimeWarping is true, so a warp
// below 1 makes the pause longer than nMS. A negative duration returns at
// once. A signal caught during the sleep ends it early; it is not resumed.
void MOOSPause(int nMS, bool bApplyTimeWarping = true);

// ---------------------------------------------------------------------------
// Trace output and formatting.

// printf-style text to standard error in one stream write; no newline is added.
// Formats of 2048 characters or more are dropped silently; output longer than
// 4095 characters is cut to that and announced by a warning.
void MOOSTrace(const char* FormatStr, ...) __attribute__((format(printf, 1, 2)));
// Traces the text verbatim (a '%' in it is not interpreted).
void MOOSTrace(std::string Str);
// Silences (true) or restores (false) the calling thread's trace output only.
void InhibitMOOSTraceInThisThread(bool bInhibit = true);

// printf-style formatting into a string of at most 2047 characters. A format
// of 1024 characters or more gives "STRING TOO LONG TO FORMAT".
std::string MOOSFormat(const char* FormatStr, ...) __attribute__((format(printf, 1, 2)));
// Formats like MOOSFormat, traces the text plus a newline and returns false,
// so that failing functions can report and fail in one step:
//     return MOOSFail("cannot open \"%s\"", sFile.c_str());
bool MOOSFail(const char* FormatStr, ...) __attribute__((format(printf, 1, 2)));
// Hook for conditions that should never fail; does nothing and lets execution
// continue.
void MOOSAssert(bool bCondition, const char* sExpression, const char* sFile, int nLine);

// ---------------------------------------------------------------------------
// Dates and console.

// Local date and time in ctime form, e.g. "Tue Dec  8 00:27:57 2026\n" (the
// newline is part of the text).
std::string MOOSGetDate();
// Local time as "_day_month_year_____HH_MM", e.g. "_8_12_2026_____00_27".
std::string MOOSGetTimeStampString();
// One-line progress bar on standard output ("\r0.50  ****..."); a fraction of
// 1.0 or more ends the line with a newline on standard error. A negative or
// NaN fraction prints an empty bar.
void Progress(double dfFraction);
// One character from standard input without waiting for a line and without
// echo; EOF at end of input. When standard input is not a terminal it is read
// as it is.
int MOOSGetch();

// ---------------------------------------------------------------------------
// Cutting, searching and comparing strings.

// Case-insensitive character equality (upper-case forms as toupper gives them);
// the predicate of the case-insensitive search.
class CompareInsensitive
{
public:
    bool operator()(char a, char b) const;
};

// Position of the first occurrence of sToken in sSource (case-insensitive when
// bInsensitive), npos when absent. An empty token is found at 0.
std::string::size_type MOOSStrFind(const std::string& sSource, const std::string& sToken,
                                   bool bInsensitive = false);
// Returns the text before the first sToken and erases it and the token from
// sStr. Without the token, returns all of sStr and leaves it empty.
std::string MOOSChomp(std::string& sStr, const std::string& sToken = ",",
                      bool bInsensitive = false);
// Case-insensitive equality.
bool MOOSStrCmp(std::string s1, std::string s2);
void MOOSToUpper(std::string& str);
// Whether sText matches sPattern, in which '*' matches any run (also none) and
// '?' any one character; case-sensitive.
bool MOOSWildCmp(const std::string& sPattern, const std::string& sText);
// Removes leading and trailing " \t\n\r".
void MOOSTrimWhiteSpace(std::string& str);
// Removes every occurrence of every character of sChars.
void MOOSRemoveChars(std::string& sStr, const std::string& sChars);
// True when, once trimmed, every character is one of "1234567890.eE-+" (so an
// empty string counts as numeric; the order of characters is not checked).
bool MOOSIsNumeric(std::string s);

// The whole number at the start of sText as atoi reads it (leading blanks, a
// sign and digits; what follows is ignored; 0 when there is no number),
// except that a number beyond the range of int gives the nearest end of that
// range instead of wrapping round. Mission files and name-value lists read
// whole numbers this way.
int MOOSAtoiClamped(const std::string& sText);

// ---------------------------------------------------------------------------
// Values from name-value lists such as "a=1,b = 2 ,c=3".
//
// Each finds sToken followed (after optional whitespace) by '=' in sStr and
// reads the value up to the next ',' or the end. The name is matched wherever it
// occurs, so it may be the tail of a longer name; the first match wins. The
// destination is written only when the call returns true.

// The raw value, untrimmed, possibly empty.
bool MOOSValFromString(std::string& sVal, const std::string& sStr, const std::string& sToken,
                       bool bInsensitive = false);
// The numeric members need the first non-space character of the value to start
// a number (a digit or sign, or '.' for the floating forms); trailing text after
// the number is ignored. A whole number beyond the destination's range gives
// the nearest end of the range; the unsigned form reads through the int form.
bool MOOSValFromString(int& nVal, const std::string& sStr, const std::string& sToken,
                       bool bInsensitive = false);
// -1 gives the largest unsigned value.
bool MOOSValFromString(unsigned int& nVal, const std::string& sStr, const std::string& sToken,
                       bool bInsensitive = false);
bool MOOSValFromString(long& nVal, const std::string& sStr, const std::string& sToken,
                       bool bInsensitive = false);
// True only when a whole number could be read from the value.
bool MOOSValFromString(long long& nVal, const std::string& sStr, const std::string& sToken,
                       bool bInsensitive = false);
bool MOOSValFromString(double& dfVal, const std::string& sStr, const std::string& sToken,
                       bool bInsensitive = false);
bool MOOSValFromString(float& fVal, const std::string& sStr, const std::string& sToken,
                       bool bInsensitive = false);
// Spaces removed, the value is true for "true" (any case) or "1", else false.
// Returns true whenever the name was found.
bool MOOSValFromString(bool& bVal, const std::string& sStr, const std::string& sToken,
                       bool bInsensitive = false);

#endif
