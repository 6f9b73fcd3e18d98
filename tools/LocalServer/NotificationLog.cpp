#include "NotificationLog.h"

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

namespace
{
std::string PrintableText(const std::string& sText)
{
    std::string sOut;
    sOut.reserve(sText.size());
    for (unsigned char c : sText)
    {
        if (c < 0x20 || c == 0x7f)
            sOut += MOOSFormat("\\x%02X", c);
        else
            sOut += static_cast<char>(c);
    }
    return sOut;
}

std::string ValueText(const CMOOSMsg& Msg)
{
    if (Msg.IsDataType(MOOS_BINARY_STRING))
        return MOOSFormat("<binary %zu bytes>", Msg.m_sVal.size());
    if (Msg.IsDataType(MOOS_STRING))
        return PrintableText(Msg.m_sVal);
    return MOOSFormat("%.12g", Msg.m_dfVal);
}
} // namespace

std::string FormatNotification(double dfNow, const CMOOSMsg& Msg)
{
    std::string sSource = Msg.m_sSrc.empty() ? "-" : PrintableText(Msg.m_sSrc);
    return MOOSFormat("%.3f ", dfNow) + sSource + " " + PrintableText(Msg.m_sKey) + " " +
           ValueText(Msg) + "\n";
}

std::size_t CNotificationLog::Write(double dfNow, const MOOSMSG_LIST& Messages)
{
    std::size_t nCount = 0;
    for (const CMOOSMsg& Msg : Messages)
    {
        if (!Msg.IsType(MOOS_NOTIFY))
            continue;
        ++nCount;
        if (!m_pOut)
            continue;
        std::string sLine = FormatNotification(dfNow, Msg);
        std::lock_guard<std::mutex> Guard(m_Lock);
        *m_pOut << sLine << std::flush;
    }
    return nCount;
}
