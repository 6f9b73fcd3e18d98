#include "WatchList.h"

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

CWatchList::CWatchList(const std::vector<std::string>& Operands)
{
    for (const std::string& sOperand : Operands)
    {
        if (IsPattern(sOperand))
            m_Patterns.push_back(sOperand);
        else
            m_ExactNames.insert(sOperand);
    }
    m_Names = m_ExactNames;
}

bool CWatchList::IsPattern(const std::string& sOperand)
{
    return sOperand.find_first_of("*?") != std::string::npos;
}

std::size_t CWatchList::Discover(const std::string& sServerList)
{
    std::string sRest = sServerList;
    std::size_t nNew = 0;
    std::lock_guard<std::mutex> Guard(m_Lock);
    while (!sRest.empty())
    {
        const std::string sName = MOOSChomp(sRest, ",");
        for (const std::string& sPattern : m_Patterns)
        {
            if (!sName.empty() && MOOSWildCmp(sPattern, sName))
            {
                nNew += m_Names.insert(sName).second ? 1 : 0;
                break;
            }
        }
    }
    return nNew;
}

std::vector<std::string> CWatchList::Names() const
{
    std::lock_guard<std::mutex> Guard(m_Lock);
    return std::vector<std::string>(m_Names.begin(), m_Names.end());
}
