#include "ValueText.h"

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <cstdio>

std::string EscapeControlBytes(const std::string& sText)
{
    std::string sOut;
    sOut.reserve(sText.size());
    for (char c : sText)
    {
        const unsigned char nByte = static_cast<unsigned char>(c);
        if (nByte >= 0x20 && nByte != 0x7f)
        {
            sOut.push_back(c);
            continue;
        }
        char sEscape[5];
        std::snprintf(sEscape, sizeof(sEscape), "\\x%02X", nByte);
        sOut += sEscape;
    }
    return sOut;
}

std::string ValueText(const CMOOSMsg& Msg)
{
    char sBuffer[64];
    if (Msg.IsBinary())
    {
        std::snprintf(sBuffer, sizeof(sBuffer), "<binary %zu bytes>", Msg.m_sVal.size());
        return sBuffer;
    }
    if (Msg.IsString())
        return EscapeControlBytes(Msg.m_sVal);
    std::snprintf(sBuffer, sizeof(sBuffer), "%.12g", Msg.m_dfVal);
    return sBuffer;
}

std::string NotificationLine(double dfTime, const CMOOSMsg& Msg)
{
    const std::string sSource = Msg.GetSource().empty() ? "-" : Msg.GetSource();
    return MOOSFormat("%.3f ", dfTime) + EscapeControlBytes(sSource) + " " +
           EscapeControlBytes(Msg.GetKey()) + " " + ValueText(Msg) + "\n";
}
