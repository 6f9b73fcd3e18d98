#include "PokeAssignment.h"

#include <cmath>
#include <cstdlib>

namespace
{
bool IsQuoted(const std::string& sValue)
{
    return sValue.size() >= 2 && sValue.front() == '"' && sValue.back() == '"';
}

bool ToDecimal(const std::string& sText, double& dfValue)
{
    if (sText.empty() || sText.find_first_not_of("0123456789.eE+-") != std::string::npos)
        return false;
    char* pEnd = nullptr;
    const double dfParsed = std::strtod(sText.c_str(), &pEnd);
    if (*pEnd != '\0' || !std::isfinite(dfParsed))
        return false;
    dfValue = dfParsed;
    return true;
}

// A number a MOOS double cannot carry: infinity, not-a-number, or a decimal
// too large for a double.
bool IsNonFiniteNumber(const std::string& sText)
{
    char* pEnd = nullptr;
    const double dfParsed = std::strtod(sText.c_str(), &pEnd);
    return !sText.empty() && *pEnd == '\0' && sText.find_first_of("xX") == std::string::npos &&
           !std::isfinite(dfParsed);
}
} // namespace

bool ParsePokeAssignment(const std::string& sArg, bool bForceString, PokeAssignment& Out,
                         std::string& sError)
{
    const std::string::size_type nEquals = sArg.find('=');
    if (nEquals == std::string::npos || nEquals == 0)
    {
        sError = "\"" + sArg + "\" is not NAME=VALUE";
        return false;
    }
    PokeAssignment A;
    A.sName = sArg.substr(0, nEquals);
    const std::string sValue = sArg.substr(nEquals + 1);
    if (!bForceString && !IsQuoted(sValue) && IsNonFiniteNumber(sValue))
    {
        sError = sArg + ": " + sValue +
                 " is not a finite number and cannot be sent as one; give --string, or quote "
                 "it, to send it as text";
        return false;
    }
    if (IsQuoted(sValue))
        A.sValue = sValue.substr(1, sValue.size() - 2);
    else if (bForceString || !ToDecimal(sValue, A.dfValue))
        A.sValue = sValue;
    else
        A.bIsDouble = true;
    Out = A;
    return true;
}
