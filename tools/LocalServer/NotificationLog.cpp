#include "NotificationLog.h"

#include "ValueText.h"

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
        std::string sLine = NotificationLine(dfNow, Msg);
        std::lock_guard<std::mutex> Guard(m_Lock);
        *m_pOut << sLine << std::flush;
    }
    return nCount;
}
