#include "MOOSLIB/ProcessConfigReader.h"

#include <cctype>
#include <cstdlib>

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"
#include "MOOSLIB/MOOSGlobalHelper.h"

namespace
{
const char* const kBlanks = " \t\r";

bool BeginsWith(std::string const& sText, char cFirst)
{
    return !sText.empty() && sText[0] == cFirst;
}
} // namespace

CProcessConfigReader::CProcessConfigReader() = default;

CProcessConfigReader::~CProcessConfigReader() = default;

void CProcessConfigReader::SetAppName(std::string sAppName)
{
    m_sAppName = std::move(sAppName);
}

std::string CProcessConfigReader::GetAppName()
{
    return m_sAppName;
}

std::string CProcessConfigReader::GetFileName()
{
    return StoredFileName();
}

bool CProcessConfigReader::GetConfiguration(std::string sAppName, std::list<std::string>& Params)
{
    Params.clear();
    if (!Reset() || !GoTo("PROCESSCONFIG=" + sAppName))
        return false;
    if (!BeginsWith(GetNextValidLine(true), '{'))
        return false;
    while (!eof())
    {
        std::string sLine = GetNextValidLine(true);
        if (sLine.empty() && eof())
            break; // nothing more could be read: the block is unterminated
        MOOSRemoveChars(sLine, kBlanks);
        if (BeginsWith(sLine, '}'))
            return true;
        if (IsGathered(sLine))
            Params.push_front(sLine);
        if (BeginsWith(sLine, '{'))
            MOOSTrace("CProcessConfigReader::GetConfiguration() missing \"}\" syntax error in "
                      "mission file\n");
    }
    return false;
}

void CProcessConfigReader::SplitBlockLine(std::string sLine, std::string& sName,
                                          std::string& sValue)
{
    sName = MOOSChomp(sLine, "=", false);
    sValue = sLine;
    MOOSTrimWhiteSpace(sValue);
}

bool CProcessConfigReader::IsGathered(std::string const& sLine)
{
    std::string sName, sValue;
    SplitBlockLine(sLine, sName, sValue);
    return sName.empty() || !sValue.empty() || sLine.find_first_of("[]") != std::string::npos;
}

void CProcessConfigReader::NoteAskedFor(std::string sName)
{
    MOOSToUpper(sName);
    std::lock_guard<std::mutex> Guard(m_AskedLock);
    m_AskedFor.insert(std::move(sName));
}

std::set<std::string> CProcessConfigReader::KeysAskedFor() const
{
    std::lock_guard<std::mutex> Guard(m_AskedLock);
    return m_AskedFor;
}

bool CProcessConfigReader::GetConfigurationParam(std::string sAppName, std::string sParam,
                                                 std::string& sValue)
{
    NoteAskedFor(sParam);
    std::list<std::string> Params;
    if (!GetConfiguration(sAppName, Params))
        return false;
    // Last line of the block first, so a parameter given twice takes its
    // later value.
    std::string sName, sVal;
    for (std::string const& sLine : Params)
    {
        SplitBlockLine(sLine, sName, sVal);
        if (sVal.empty())
            return false;
        if (MOOSStrCmp(sName, sParam))
        {
            sValue = sVal;
            return true;
        }
    }
    return false;
}

bool CProcessConfigReader::GetConfigurationParam(std::string sAppName, std::string sParam,
                                                 double& dfValue)
{
    std::string sVal;
    if (!GetConfigurationParam(sAppName, sParam, sVal))
        return false;
    const unsigned char cFirst = sVal.empty() ? '\0' : static_cast<unsigned char>(sVal[0]);
    if (!std::isdigit(cFirst) && cFirst != '-')
        return false;
    dfValue = std::atof(sVal.c_str());
    return true;
}

bool CProcessConfigReader::GetConfigurationParam(std::string sAppName, std::string sParam,
                                                 float& fValue)
{
    double dfVal = 0.0;
    if (!GetConfigurationParam(sAppName, sParam, dfVal))
        return false;
    fValue = static_cast<float>(dfVal);
    return true;
}

bool CProcessConfigReader::GetConfigurationParam(std::string sAppName, std::string sParam,
                                                 int& nValue)
{
    std::string sVal;
    if (!GetConfigurationParam(sAppName, sParam, sVal))
        return false;
    nValue = ToInt(sVal);
    return true;
}

bool CProcessConfigReader::GetConfigurationParam(std::string sAppName, std::string sParam,
                                                 unsigned int& nValue)
{
    int nVal = 0;
    if (!GetConfigurationParam(sAppName, sParam, nVal))
        return false;
    // Stored unchanged, as the name-value lists read it: -1 is the largest
    // unsigned value.
    nValue = static_cast<unsigned int>(nVal);
    return true;
}

bool CProcessConfigReader::GetConfigurationParam(std::string sAppName, std::string sParam,
                                                 bool& bValue)
{
    std::string sVal;
    if (!GetConfigurationParam(sAppName, sParam, sVal))
        return false;
    bValue = ToFlag(sVal);
    return true;
}

bool CProcessConfigReader::CheckAppName()
{
    if (!m_sAppName.empty())
        return true;
    MOOSTrace("App Name not set in CProcessConfigReader::GetConfigurationParam()\n");
    return false;
}

template <typename T> bool CProcessConfigReader::GetOwnParam(std::string const& sParam, T& Value)
{
    return CheckAppName() && GetConfigurationParam(m_sAppName, sParam, Value);
}

bool CProcessConfigReader::GetConfigurationParam(std::string sParam, std::string& sValue)
{
    return GetOwnParam(sParam, sValue);
}

bool CProcessConfigReader::GetConfigurationParam(std::string sParam, double& dfValue)
{
    return GetOwnParam(sParam, dfValue);
}

bool CProcessConfigReader::GetConfigurationParam(std::string sParam, float& fValue)
{
    return GetOwnParam(sParam, fValue);
}

bool CProcessConfigReader::GetConfigurationParam(std::string sParam, int& nValue)
{
    return GetOwnParam(sParam, nValue);
}

bool CProcessConfigReader::GetConfigurationParam(std::string sParam, unsigned int& nValue)
{
    return GetOwnParam(sParam, nValue);
}

bool CProcessConfigReader::GetConfigurationParam(std::string sParam, bool& bValue)
{
    return GetOwnParam(sParam, bValue);
}

bool CProcessConfigReader::GetConfigurationParam(std::string sParam, std::vector<double>& Vec,
                                                 int& nRows, int& nCols)
{
    std::string sVal;
    if (!GetOwnParam(sParam, sVal))
        return false;
    // Parse into scratch space so that a bad matrix leaves the outputs as
    // they were.
    std::vector<double> Parsed;
    int nR = 0, nC = 0;
    if (!MOOSVectorFromString(sVal, Parsed, nR, nC))
        return false;
    Vec.swap(Parsed);
    nRows = nR;
    nCols = nC;
    return true;
}
