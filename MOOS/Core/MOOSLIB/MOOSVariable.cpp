#include "MOOSLIB/MOOSVariable.h"

#include "MOOSLIB/MOOSMsg.h"

#include <iomanip>
#include <sstream>
#include <utility>

CMOOSVariable::CMOOSVariable() = default;

CMOOSVariable::CMOOSVariable(std::string sName, std::string sSubscribeName,
                             std::string sPublishName, double dfCommsTime)
    : commsTime(dfCommsTime), name(std::move(sName)), subscribeName(std::move(sSubscribeName)),
      publishName(std::move(sPublishName))
{
}

bool CMOOSVariable::Set(double dfValue, double dfTime)
{
    doubleVal = dfValue;
    time = dfTime;
    isDouble = true;
    fresh = true;
    return true;
}

bool CMOOSVariable::Set(const std::string& sValue, double dfTime)
{
    stringVal = sValue;
    time = dfTime;
    isDouble = false;
    fresh = true;
    return true;
}

bool CMOOSVariable::Set(const CMOOSMsg& msg)
{
    UpdateFrom(msg);
    name = msg.m_sKey;
    return true;
}

bool CMOOSVariable::UpdateFrom(const CMOOSMsg& msg)
{
    if (msg.IsDataType(MOOS_DOUBLE))
    {
        isDouble = true;
        doubleVal = msg.m_dfVal;
    }
    else if (msg.IsDataType(MOOS_STRING) || msg.IsDataType(MOOS_BINARY_STRING))
    {
        isDouble = false;
        stringVal = msg.m_sVal;
    }
    time = msg.m_dfTime;
    writer = msg.m_sSrc;
    fresh = true;
    return true;
}

bool CMOOSVariable::SetFresh(bool bFresh)
{
    fresh = bFresh;
    return true;
}

double CMOOSVariable::GetAge(double dfNow) const
{
    return dfNow - time;
}

std::string CMOOSVariable::GetAsString(int nWidth) const
{
    std::ostringstream os;
    os.setf(std::ios::left);
    if (time == -1.0)
        os << std::setw(nWidth) << "NaN";
    else if (isDouble)
        os << std::setw(nWidth) << doubleVal;
    else
        os << stringVal;
    os << std::ends;
    return os.str();
}
