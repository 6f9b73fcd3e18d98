#include "MOOSLIB/MOOSException.h"

#include <algorithm>
#include <cstring>

CMOOSException::CMOOSException()
{
    m_sReason[0] = '\0';
}

CMOOSException::CMOOSException(const char* sStr)
{
    SetText(sStr, sStr == nullptr ? 0 : strnlen(sStr, sizeof(m_sReason)));
}

CMOOSException::CMOOSException(const std::string& s)
{
    SetText(s.data(), s.size());
}

CMOOSException::CMOOSException(const CMOOSException& Other)
{
    std::memcpy(m_sReason, Other.m_sReason, sizeof(m_sReason));
}

CMOOSException& CMOOSException::operator=(const CMOOSException& Other)
{
    std::memmove(m_sReason, Other.m_sReason, sizeof(m_sReason));
    return *this;
}

CMOOSException::~CMOOSException() = default;

void CMOOSException::SetText(const char* sStr, std::size_t nLength)
{
    std::size_t nKeep = std::min(nLength, sizeof(m_sReason) - 1);
    if (nKeep > 0)
        std::memcpy(m_sReason, sStr, nKeep);
    m_sReason[nKeep] = '\0';
    m_sReason[sizeof(m_sReason) - 1] = '\0';
}
