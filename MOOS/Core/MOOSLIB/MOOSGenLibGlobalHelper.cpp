#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>
#include <sys/time.h>
#include <termios.h>
#include <unistd.h>

namespace
{
// Process-wide time base. Written at start-up (warp, play-back) and by the comms
// client's thread (skew); read by every thread.
std::atomic<double> gdfMOOSSkew{0.0};
std::atomic<double> gdfMOOSTimeWarp{1.0};
std::atomic<bool> gbPlayBack{false};

// Per-thread trace silencing. A thread-local flag needs no shared table and no
// lock, and a thread that starts after another ended never inherits its flag.
thread_local bool gbTraceInhibited = false;

const double kMaxTimeWarp = 100.0;
const double kLongestPauseMS = 1e15;

const std::size_t kTraceBufferSize = 4096;
const std::size_t kTraceMaxFormat = 2047;
const std::size_t kFormatBufferSize = 2048;
const std::size_t kFormatMaxFormat = 1023;

// True when the format string is longer than nMax, reading at most nMax + 1
// characters of it.
bool FormatTooLong(const char* FormatStr, std::size_t nMax)
{
    return FormatStr == nullptr || strnlen(FormatStr, nMax + 1) > nMax;
}

// Formats into Buffer (always terminated) and returns whether the text had to be
// cut. An encoding error leaves the buffer empty.
bool FormatInto(char* Buffer, std::size_t nSize, const char* FormatStr, va_list Args)
{
    int nLength = vsnprintf(Buffer, nSize, FormatStr, Args);
    if (nLength < 0)
        Buffer[0] = '\0';
    return nLength >= 0 && static_cast<std::size_t>(nLength) >= nSize;
}

// MOOSFormat without the length check, shared with MOOSFail.
std::string FormatChecked(const char* FormatStr, va_list Args)
{
    char Buffer[kFormatBufferSize];
    if (FormatInto(Buffer, sizeof(Buffer), FormatStr, Args))
        MOOSTrace("WARNING MOOFormat() TRUNCATED TO %d CHARS", static_cast<int>(sizeof(Buffer)));
    return Buffer;
}

void TraceText(const char* sText)
{
    fputs(sText, stderr);
}
} // namespace

// ---------------------------------------------------------------------------
// Time and pacing

double MOOSLocalTime(bool bApplyTimeWarping)
{
    double dfT = -1.0;
    timeval TimeVal;
    if (gettimeofday(&TimeVal, nullptr) == 0)
        dfT = TimeVal.tv_sec + TimeVal.tv_usec / 1000000.0;
    else
        MOOSAssert(false, nullptr, nullptr, 0);
    return bApplyTimeWarping ? dfT * gdfMOOSTimeWarp.load() : dfT;
}

double MOOSTime(bool bApplyTimeWarping)
{
    return MOOSLocalTime(bApplyTimeWarping) + gdfMOOSSkew.load();
}

double HPMOOSTime(bool bApplyTimeWarping)
{
    return MOOSTime(bApplyTimeWarping);
}

double MOOSSteadySeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool SetWin32HighPrecisionTiming(bool)
{
    return false;
}

void SetMOOSSkew(double dfSkew)
{
    gdfMOOSSkew = dfSkew;
}

double GetMOOSSkew()
{
    return gdfMOOSSkew;
}

bool SetMOOSTimeWarp(double dfWarp)
{
    // Written so that NaN is refused as well.
    if (!(dfWarp > 0.0 && dfWarp < kMaxTimeWarp))
        return MOOSFail("Time warp must be positive and less than %f \n", kMaxTimeWarp);
    gdfMOOSTimeWarp = dfWarp;
    return true;
}

double GetMOOSTimeWarp()
{
    return gdfMOOSTimeWarp;
}

void SetMOOSPlayBack(bool bPlayBack)
{
    if (bPlayBack)
        std::printf("PLAY BACK MODE IS ON\n");
    gbPlayBack = bPlayBack;
}

bool IsMOOSPlayBack()
{
    return gbPlayBack;
}

void MOOSPause(int nMS, bool bApplyTimeWarping)
{
    // Worked in double: a warp below 1 stretches a pause beyond what an int
    // holds. The cap (tens of thousands of years) only keeps the whole
    // milliseconds within a long long.
    double dfMS = nMS;
    if (bApplyTimeWarping)
        dfMS = std::trunc(dfMS / gdfMOOSTimeWarp.load());
    if (!(dfMS > 0.0))
        return;
    const long long nWholeMS = static_cast<long long>(std::min(dfMS, kLongestPauseMS));
    timespec Duration;
    Duration.tv_sec = static_cast<time_t>(nWholeMS / 1000);
    Duration.tv_nsec = static_cast<long>(nWholeMS % 1000) * 1000000L;
    // One request, not resumed: a signal handler that wants to wake a
    // sleeping loop relies on the sleep ending early.
    nanosleep(&Duration, nullptr);
}

// ---------------------------------------------------------------------------
// Trace output and formatting

void MOOSTrace(const char* FormatStr, ...)
{
    if (gbTraceInhibited || FormatTooLong(FormatStr, kTraceMaxFormat))
        return;
    char Buffer[kTraceBufferSize];
    va_list Args;
    va_start(Args, FormatStr);
    bool bTruncated = FormatInto(Buffer, sizeof(Buffer), FormatStr, Args);
    va_end(Args);
    if (bTruncated)
        MOOSTrace("WARNING MOOSTrace() TRUNCATED TO %d CHARS", static_cast<int>(sizeof(Buffer)));
    TraceText(Buffer);
}

void MOOSTrace(std::string Str)
{
    MOOSTrace("%s", Str.c_str());
}

void InhibitMOOSTraceInThisThread(bool bInhibit)
{
    gbTraceInhibited = bInhibit;
}

std::string MOOSFormat(const char* FormatStr, ...)
{
    if (FormatTooLong(FormatStr, kFormatMaxFormat))
        return "STRING TOO LONG TO FORMAT";
    va_list Args;
    va_start(Args, FormatStr);
    std::string sResult = FormatChecked(FormatStr, Args);
    va_end(Args);
    return sResult;
}

bool MOOSFail(const char* FormatStr, ...)
{
    if (FormatTooLong(FormatStr, kFormatMaxFormat))
        return false;
    va_list Args;
    va_start(Args, FormatStr);
    std::string sText = FormatChecked(FormatStr, Args);
    va_end(Args);
    MOOSTrace(sText + "\n");
    return false;
}

void MOOSAssert(bool, const char*, const char*, int) {}

// ---------------------------------------------------------------------------
// Dates and console

std::string MOOSGetDate()
{
    time_t Now = time(nullptr);
    char Buffer[64];
    if (ctime_r(&Now, Buffer) == nullptr)
        return "";
    return Buffer;
}

std::string MOOSGetTimeStampString()
{
    time_t Now = time(nullptr);
    tm Local;
    if (localtime_r(&Now, &Local) == nullptr)
        return "";
    return MOOSFormat("_%d_%d_%d_____%.2d_%.2d", Local.tm_mday, Local.tm_mon + 1,
                      Local.tm_year + 1900, Local.tm_hour, Local.tm_min);
}

void Progress(double dfFraction)
{
    if (dfFraction >= 1.0)
    {
        MOOSTrace("\n");
        return;
    }
    const int kBarWidth = 40;
    char Bar[kBarWidth] = {};
    // A negative or NaN fraction gives no valid count: show an empty bar.
    if (dfFraction > 0.0)
        std::fill_n(Bar, static_cast<int>(kBarWidth * dfFraction), '*');
    std::printf("\r%.2f  %s", dfFraction, Bar);
}

int MOOSGetch()
{
    termios Saved;
    if (tcgetattr(STDIN_FILENO, &Saved) != 0)
        return getchar();
    termios Raw = Saved;
    Raw.c_lflag = 0;
    Raw.c_cc[VMIN] = 1;
    Raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &Raw);
    int nChar = getchar();
    tcsetattr(STDIN_FILENO, TCSANOW, &Saved);
    return nChar;
}

// ---------------------------------------------------------------------------
// Cutting, searching and comparing

bool CompareInsensitive::operator()(char a, char b) const
{
    return std::toupper(static_cast<unsigned char>(a)) ==
           std::toupper(static_cast<unsigned char>(b));
}

namespace
{
// MOOSStrFind starting at nOffset (which may be past the end).
std::string::size_type FindFrom(const std::string& sSource, const std::string& sToken,
                                std::string::size_type nOffset, bool bInsensitive)
{
    if (!bInsensitive)
        return sSource.find(sToken, nOffset);
    if (nOffset > sSource.size())
        return std::string::npos;
    auto Found = std::search(sSource.begin() + nOffset, sSource.end(), sToken.begin(), sToken.end(),
                             CompareInsensitive());
    if (Found == sSource.end() && !sToken.empty())
        return std::string::npos;
    return Found - sSource.begin();
}
} // namespace

std::string::size_type MOOSStrFind(const std::string& sSource, const std::string& sToken,
                                   bool bInsensitive)
{
    return FindFrom(sSource, sToken, 0, bInsensitive);
}

std::string MOOSChomp(std::string& sStr, const std::string& sToken, bool bInsensitive)
{
    std::string::size_type nPos = MOOSStrFind(sStr, sToken, bInsensitive);
    if (nPos == std::string::npos)
    {
        std::string sAll;
        sAll.swap(sStr);
        return sAll;
    }
    std::string sBefore = sStr.substr(0, nPos);
    sStr.erase(0, nPos + sToken.size());
    return sBefore;
}

bool MOOSStrCmp(std::string s1, std::string s2)
{
    MOOSToUpper(s1);
    MOOSToUpper(s2);
    return s1 == s2;
}

void MOOSToUpper(std::string& str)
{
    for (char& c : str)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool MOOSWildCmp(const std::string& sPattern, const std::string& sText)
{
    const char* pWild = sPattern.c_str();
    const char* pString = sText.c_str();
    const char* pWildEnd = pWild + sPattern.size();
    const char* pStringEnd = pString + sText.size();

    for (; pString < pStringEnd && (pWild >= pWildEnd || *pWild != '*'); ++pWild, ++pString)
    {
        if (pWild >= pWildEnd || (*pWild != *pString && *pWild != '?'))
            return false;
    }

    const char* pRetryWild = nullptr;
    const char* pRetryString = nullptr;
    while (pString < pStringEnd)
    {
        if (pWild < pWildEnd && *pWild == '*')
        {
            if (++pWild == pWildEnd)
                return true;
            pRetryWild = pWild;
            pRetryString = pString + 1;
        }
        else if (pWild < pWildEnd && (*pWild == *pString || *pWild == '?'))
        {
            ++pWild;
            ++pString;
        }
        else
        {
            if (pRetryWild == nullptr)
                return false;
            pWild = pRetryWild;
            pString = pRetryString++;
        }
    }

    while (pWild < pWildEnd && *pWild == '*')
        ++pWild;
    return pWild == pWildEnd;
}

void MOOSTrimWhiteSpace(std::string& str)
{
    const char* kWhite = " \t\n\r";
    std::string::size_type nFirst = str.find_first_not_of(kWhite);
    if (nFirst == std::string::npos)
    {
        str.clear();
        return;
    }
    str.erase(str.find_last_not_of(kWhite) + 1);
    str.erase(0, nFirst);
}

void MOOSRemoveChars(std::string& sStr, const std::string& sChars)
{
    for (char c : sChars)
        sStr.erase(std::remove(sStr.begin(), sStr.end(), c), sStr.end());
}

bool MOOSIsNumeric(std::string s)
{
    MOOSTrimWhiteSpace(s);
    return s.find_first_not_of("1234567890.eE-+") == std::string::npos;
}

// ---------------------------------------------------------------------------
// Values from name-value lists

namespace
{
bool IsBlank(std::string sText)
{
    MOOSTrimWhiteSpace(sText);
    return sText.empty();
}

// Whether the first character of sVal that is not a space is one of sStart.
bool StartsWithOneOf(const std::string& sVal, const char* sStart)
{
    std::string::size_type nPos = sVal.find_first_not_of(' ');
    return nPos != std::string::npos && std::strchr(sStart, sVal[nPos]) != nullptr;
}

// The raw value, found only when it begins like a number of the given kind.
bool NumericValFromString(std::string& sVal, const std::string& sStr, const std::string& sToken,
                          bool bInsensitive, const char* sStart)
{
    std::string sFound;
    if (!MOOSValFromString(sFound, sStr, sToken, bInsensitive) || !StartsWithOneOf(sFound, sStart))
        return false;
    sVal.swap(sFound);
    return true;
}

const char* kIntegerStart = "0123456789-+";
const char* kRealStart = "0123456789.-+";
} // namespace

int MOOSAtoiClamped(const std::string& sText)
{
    const long nVal = std::strtol(sText.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long>(nVal, INT_MIN, INT_MAX));
}

bool MOOSValFromString(std::string& sVal, const std::string& sStr, const std::string& sToken,
                       bool bInsensitive)
{
    for (std::string::size_type nOffset = 0;;)
    {
        std::string::size_type nName = FindFrom(sStr, sToken, nOffset, bInsensitive);
        if (nName == std::string::npos)
            return false;
        std::string::size_type nEquals = sStr.find('=', nName);
        if (nEquals == std::string::npos)
            return false;
        // Only blanks may stand between the name and its '='; otherwise this
        // occurrence is part of some other text.
        std::string::size_type nNameEnd = nName + sToken.size();
        if (nEquals >= nNameEnd && IsBlank(sStr.substr(nNameEnd, nEquals - nNameEnd)))
        {
            std::string::size_type nComma = sStr.find(',', nEquals);
            std::string::size_type nLength =
                nComma == std::string::npos ? std::string::npos : nComma - nEquals - 1;
            sVal = sStr.substr(nEquals + 1, nLength);
            return true;
        }
        nOffset = nName + 1;
    }
}

bool MOOSValFromString(int& nVal, const std::string& sStr, const std::string& sToken,
                       bool bInsensitive)
{
    std::string sVal;
    if (!NumericValFromString(sVal, sStr, sToken, bInsensitive, kIntegerStart))
        return false;
    nVal = MOOSAtoiClamped(sVal);
    return true;
}

bool MOOSValFromString(unsigned int& nVal, const std::string& sStr, const std::string& sToken,
                       bool bInsensitive)
{
    int nSigned = 0;
    if (!MOOSValFromString(nSigned, sStr, sToken, bInsensitive))
        return false;
    nVal = static_cast<unsigned int>(nSigned);
    return true;
}

bool MOOSValFromString(long& nVal, const std::string& sStr, const std::string& sToken,
                       bool bInsensitive)
{
    std::string sVal;
    if (!NumericValFromString(sVal, sStr, sToken, bInsensitive, kIntegerStart))
        return false;
    // strtol, unlike atol, is defined beyond the range: it gives the nearest end.
    nVal = std::strtol(sVal.c_str(), nullptr, 10);
    return true;
}

bool MOOSValFromString(long long& nVal, const std::string& sStr, const std::string& sToken,
                       bool bInsensitive)
{
    std::string sVal;
    if (!MOOSValFromString(sVal, sStr, sToken, bInsensitive))
        return false;
    std::istringstream Input(sVal);
    long long nRead = 0;
    if (!(Input >> nRead))
        return false;
    nVal = nRead;
    return true;
}

bool MOOSValFromString(double& dfVal, const std::string& sStr, const std::string& sToken,
                       bool bInsensitive)
{
    std::string sVal;
    if (!NumericValFromString(sVal, sStr, sToken, bInsensitive, kRealStart))
        return false;
    dfVal = std::atof(sVal.c_str());
    return true;
}

bool MOOSValFromString(float& fVal, const std::string& sStr, const std::string& sToken,
                       bool bInsensitive)
{
    std::string sVal;
    if (!NumericValFromString(sVal, sStr, sToken, bInsensitive, kRealStart))
        return false;
    fVal = static_cast<float>(std::atof(sVal.c_str()));
    return true;
}

bool MOOSValFromString(bool& bVal, const std::string& sStr, const std::string& sToken,
                       bool bInsensitive)
{
    std::string sVal;
    if (!MOOSValFromString(sVal, sStr, sToken, bInsensitive))
        return false;
    MOOSRemoveChars(sVal, " ");
    bVal = MOOSStrCmp(sVal, "true") || sVal == "1";
    return true;
}
