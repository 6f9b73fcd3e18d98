#include "MOOSLIB/MOOSFileReader.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <vector>

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

namespace
{
// Blanks that never belong to a name or a value of an entry.
const char* const kBlanks = " \t\r";

// A directory opens like a file but reads as nothing, and a FIFO or a device
// may never end or never answer: only a regular file is a mission file.
bool IsRegularFile(std::string const& sPath)
{
    std::error_code Error;
    return std::filesystem::is_regular_file(sPath, Error);
}

// Reads one line as std::getline does, but holds at most
// CMOOSFileReader::kMaxLineBytes of it: a longer line is a read error, so that
// no file makes the reader hold more than that.
bool ReadBoundedLine(std::istream& In, std::string& sLine)
{
    sLine.clear();
    std::istream::int_type c;
    while ((c = In.get()) != std::istream::traits_type::eof() && c != '\n')
    {
        if (sLine.size() >= CMOOSFileReader::kMaxLineBytes)
        {
            MOOSTrace("Error in mission file\n\t a line is longer than %zu bytes; the file "
                      "is read no further\n",
                      CMOOSFileReader::kMaxLineBytes);
            In.setstate(std::ios::failbit);
            return false;
        }
        sLine.push_back(static_cast<char>(c));
    }
    return c == '\n' || !sLine.empty();
}

bool BeginsWith(std::string const& sText, char const* sPrefix)
{
    return sText.rfind(sPrefix, 0) == 0;
}

// A number for the calling thread's lifetime, never given to another thread.
std::uint64_t ThreadLifeId()
{
    static std::atomic<std::uint64_t> NextId{1};
    thread_local const std::uint64_t nId = NextId++;
    return nId;
}
} // namespace

class CMOOSFileReader::StreamTable
{
public:
    // Each under the table's own lock.
    StreamPtr Find(std::uint64_t nThread)
    {
        std::lock_guard<std::mutex> Guard(m_Lock);
        auto Found = m_Streams.find(nThread);
        return Found != m_Streams.end() ? Found->second : nullptr;
    }
    void Put(std::uint64_t nThread, StreamPtr pFile)
    {
        std::lock_guard<std::mutex> Guard(m_Lock);
        m_Streams[nThread] = std::move(pFile);
    }
    void Erase(std::uint64_t nThread)
    {
        std::lock_guard<std::mutex> Guard(m_Lock);
        m_Streams.erase(nThread);
    }
    void Clear()
    {
        std::lock_guard<std::mutex> Guard(m_Lock);
        m_Streams.clear();
    }

    // Makes the calling thread release its stream in pTable when it ends,
    // unless the table has gone by then.
    static void ReleaseAtThreadExit(std::shared_ptr<StreamTable> const& pTable);

private:
    class Releaser;

    std::mutex m_Lock;
    std::map<std::uint64_t, StreamPtr> m_Streams;
};

// One per thread: the tables the thread holds a stream in.
class CMOOSFileReader::StreamTable::Releaser
{
public:
    void Watch(std::shared_ptr<StreamTable> const& pTable)
    {
        // Tables of readers that have gone are dropped here, so the list
        // never outgrows the readers alive.
        m_Tables.erase(std::remove_if(m_Tables.begin(), m_Tables.end(),
                                      [](std::weak_ptr<StreamTable> const& pWatched)
                                      { return pWatched.expired(); }),
                       m_Tables.end());
        for (std::weak_ptr<StreamTable> const& pWatched : m_Tables)
            if (pWatched.lock() == pTable)
                return;
        m_Tables.push_back(pTable);
    }
    ~Releaser()
    {
        for (std::weak_ptr<StreamTable> const& pWatched : m_Tables)
            if (std::shared_ptr<StreamTable> pTable = pWatched.lock())
                pTable->Erase(m_nThread);
    }

private:
    const std::uint64_t m_nThread = ThreadLifeId();
    std::vector<std::weak_ptr<StreamTable>> m_Tables;
};

void CMOOSFileReader::StreamTable::ReleaseAtThreadExit(std::shared_ptr<StreamTable> const& pTable)
{
    thread_local Releaser ThisThread;
    ThisThread.Watch(pTable);
}

CMOOSFileReader::CMOOSFileReader()
    : m_Lock(true), m_pStreams(std::make_shared<StreamTable>()), m_bVerbatimQuoting(true)
{
}

CMOOSFileReader::~CMOOSFileReader() = default;

bool CMOOSFileReader::SetFile(std::string const& sFile)
{
    {
        std::lock_guard<CMOOSLock> Guard(m_Lock);
        m_sFileName = sFile;
        m_pStreams->Clear();
        m_ShellVars.clear();
    }
    return IsOpen() && BuildLocalShellVars();
}

CMOOSFileReader::StreamPtr CMOOSFileReader::ThreadStream()
{
    const std::uint64_t nThread = ThreadLifeId();
    std::lock_guard<CMOOSLock> Guard(m_Lock);
    StreamPtr pFile = m_pStreams->Find(nThread);
    if (pFile)
        return pFile;
    if (m_sFileName.empty() || !IsRegularFile(m_sFileName))
        return nullptr;
    pFile = std::make_shared<std::ifstream>(m_sFileName);
    if (!pFile->is_open())
        return nullptr;
    m_pStreams->Put(nThread, pFile);
    StreamTable::ReleaseAtThreadExit(m_pStreams);
    return pFile;
}

std::ifstream* CMOOSFileReader::GetFile()
{
    // The table keeps its own reference, so the stream outlives this call.
    return ThreadStream().get();
}

bool CMOOSFileReader::IsOpen()
{
    return ThreadStream() != nullptr;
}

bool CMOOSFileReader::eof()
{
    StreamPtr pFile = ThreadStream();
    return pFile && AtEnd(*pFile);
}

bool CMOOSFileReader::Reset()
{
    StreamPtr pFile = ThreadStream();
    return pFile && Rewind(*pFile);
}

bool CMOOSFileReader::Rewind(std::ifstream& File)
{
    File.clear();
    File.seekg(0, std::ios::beg);
    return !File.fail();
}

bool CMOOSFileReader::AtEnd(std::ifstream const& File)
{
    // A read error leaves the stream short of its end for ever; treating it
    // as the end is what lets every loop over the file finish.
    return !File.good();
}

std::string CMOOSFileReader::GetNextValidLine(bool bDoSubstitution)
{
    std::string sLine;
    StreamPtr pFile = ThreadStream();
    if (!pFile || !ReadValidLine(*pFile, bDoSubstitution, sLine))
        return "";
    return sLine;
}

bool CMOOSFileReader::ReadValidLine(std::ifstream& File, bool bDoSubstitution, std::string& sLine)
{
    do
    {
        if (AtEnd(File) || !ReadBoundedLine(File >> std::ws, sLine))
            return false;
    } while (IsComment(sLine));

    std::string::size_type nComment = sLine.find("//");
    if (m_bVerbatimQuoting)
        RemoveVerbatimQuotes(sLine, nComment);
    if (nComment != std::string::npos)
        sLine.erase(nComment);
    if (bDoSubstitution)
        DoVariableExpansion(sLine);
    return true;
}

void CMOOSFileReader::RemoveVerbatimQuotes(std::string& sLine, std::string::size_type& nComment)
{
    const std::string::size_type nOpen = sLine.find('"');
    if (nOpen == std::string::npos)
        return;
    const std::string::size_type nClose = sLine.find('"', nOpen + 1);
    if (nClose == std::string::npos)
        return;
    sLine.erase(nClose, 1);
    sLine.erase(nOpen, 1);
    // A "//" found inside the quotes was text, not a comment: look again from
    // just after the formerly quoted text.
    if (nComment != std::string::npos && nComment > nOpen)
        nComment = sLine.find("//", nClose - 1);
}

bool CMOOSFileReader::IsComment(std::string& sLine)
{
    MOOSTrimWhiteSpace(sLine);
    return BeginsWith(sLine, "//");
}

bool CMOOSFileReader::GetTokenValPair(std::string sLine, std::string& sTok, std::string& sVal,
                                      bool bPreserveWhiteSpace)
{
    if (sLine.find('=') == std::string::npos)
        return false;
    MOOSRemoveChars(sLine, "\r");
    if (!bPreserveWhiteSpace)
        MOOSRemoveChars(sLine, " \t");
    sTok = MOOSChomp(sLine, "=", false);
    sVal = sLine;
    return true;
}

bool CMOOSFileReader::GetValue(std::string sName, std::string& sResult)
{
    StreamPtr pFile = ThreadStream();
    if (!pFile || !Rewind(*pFile))
        return false;
    std::string sLine, sTok, sVal;
    while (ReadValidLine(*pFile, true, sLine))
    {
        if (GetTokenValPair(sLine, sTok, sVal) && MOOSStrCmp(sTok, sName))
        {
            sResult = sVal;
            return true;
        }
    }
    return false;
}

bool CMOOSFileReader::GetValue(std::string sName, double& dfResult)
{
    std::string sVal;
    if (!GetValue(sName, sVal) || !MOOSIsNumeric(sVal))
        return false;
    dfResult = std::atof(sVal.c_str());
    return true;
}

bool CMOOSFileReader::GetValue(std::string sName, float& fResult)
{
    double dfVal = 0.0;
    if (!GetValue(sName, dfVal))
        return false;
    fResult = static_cast<float>(dfVal);
    return true;
}

bool CMOOSFileReader::GetValue(std::string sName, int& nResult)
{
    std::string sVal;
    if (!GetValue(sName, sVal) || !MOOSIsNumeric(sVal))
        return false;
    nResult = ToInt(sVal);
    return true;
}

bool CMOOSFileReader::GetValue(std::string sName, unsigned int& nResult)
{
    int nVal = 0;
    if (!GetValue(sName, nVal))
        return false;
    nResult = nVal < 0 ? 0U : static_cast<unsigned int>(nVal);
    return true;
}

bool CMOOSFileReader::GetValue(std::string sName, bool& bResult)
{
    std::string sVal;
    if (!GetValue(sName, sVal))
        return false;
    bResult = ToFlag(sVal);
    return true;
}

bool CMOOSFileReader::ToFlag(std::string const& sVal)
{
    return MOOSStrCmp(sVal, "TRUE") || (MOOSIsNumeric(sVal) && std::atof(sVal.c_str()) > 0.0);
}

int CMOOSFileReader::ToInt(std::string const& sVal)
{
    return MOOSAtoiClamped(sVal);
}

bool CMOOSFileReader::GoTo(std::string sLine)
{
    StreamPtr pFile = ThreadStream();
    if (!pFile)
        return false;
    MOOSRemoveChars(sLine, kBlanks);
    std::string sNext;
    while (ReadValidLine(*pFile, true, sNext))
    {
        MOOSRemoveChars(sNext, kBlanks);
        if (MOOSStrCmp(sNext, sLine))
            return true;
    }
    return false;
}

bool CMOOSFileReader::BuildLocalShellVars()
{
    StreamPtr pFile = ThreadStream();
    if (!pFile || !Rewind(*pFile))
        return false;
    std::map<std::string, std::string> Vars;
    std::string sLine, sTok, sVal;
    while (ReadValidLine(*pFile, false, sLine))
    {
        MOOSChomp(sLine, "define:", false);
        if (GetTokenValPair(sLine, sTok, sVal))
            Vars[sTok] = sVal;
    }
    Rewind(*pFile);
    std::lock_guard<CMOOSLock> Guard(m_Lock);
    m_ShellVars.swap(Vars);
    return true;
}

bool CMOOSFileReader::DoVariableExpansion(std::string& sVal)
{
    std::string sOut;
    std::string::size_type nStart;
    while ((nStart = sVal.find("${")) != std::string::npos)
    {
        sOut += sVal.substr(0, nStart);
        sVal.erase(0, nStart + 2);
        // Without a closing "}" the whole rest of the line is the name. An
        // empty name ("${}", or "${" at the end) expands to nothing, silently.
        const std::string sName = MOOSChomp(sVal, "}", false);
        if (!sName.empty())
            AppendExpansion(sOut, ExpansionOf(sName), sName);
    }
    sOut += sVal;
    sVal = sOut;
    return true;
}

// References may not make a line longer than a line may be read: many
// references to one long definition would otherwise multiply it.
void CMOOSFileReader::AppendExpansion(std::string& sOut, std::string const& sExpansion,
                                      std::string const& sName)
{
    if (sOut.size() + sExpansion.size() > kMaxLineBytes)
    {
        MOOSTrace("Error in mission file\n\t ${%s} not expanded: the line would grow longer "
                  "than %zu bytes\n",
                  sName.c_str(), kMaxLineBytes);
        return;
    }
    sOut += sExpansion;
}

std::string CMOOSFileReader::ExpansionOf(std::string const& sName) const
{
    {
        std::lock_guard<CMOOSLock> Guard(m_Lock);
        auto Definition = m_ShellVars.find(sName);
        if (Definition != m_ShellVars.end())
            return Definition->second;
    }
    if (char const* sEnv = std::getenv(sName.c_str()))
        return sEnv;
    MOOSTrace("Error in mission file\n\t no shell or mission file expansion fouind for ${%s}\n",
              sName.c_str());
    return sName;
}

bool CMOOSFileReader::MakeOverloadedCopy(std::string const& sCopyName,
                                         std::map<std::string, std::string>& Overloads)
{
    StreamPtr pFile = ThreadStream();
    if (!pFile)
        return false;
    // Opening the copy for writing would empty the mission file it is read from.
    if (IsTheMissionFile(sCopyName))
        return MOOSFail("cannot write an overloaded copy over the mission file \"%s\" itself",
                        sCopyName.c_str());
    std::ofstream Copy(sCopyName, std::ios::out | std::ios::trunc);
    if (!Copy)
        return MOOSFail("cannot open \"%s\" for the overloaded mission file copy",
                        sCopyName.c_str());
    Rewind(*pFile);
    std::string sLine;
    while (Copy && ReadBoundedLine(*pFile, sLine))
        Copy << OverloadedForm(sLine, Overloads) << '\n';
    const bool bReadAll = pFile->eof() && !pFile->bad();
    Rewind(*pFile);
    Copy.close();
    if (!bReadAll || Copy.fail())
        return MOOSFail("failed to write the overloaded mission file copy \"%s\"",
                        sCopyName.c_str());
    return true;
}

std::string CMOOSFileReader::OverloadedForm(std::string const& sLine,
                                            std::map<std::string, std::string> const& Overloads)
{
    std::string sTrimmed = sLine;
    std::string sTok, sVal;
    if (IsComment(sTrimmed) || !GetTokenValPair(sLine, sTok, sVal))
        return sLine;
    auto Overload = Overloads.find(sTok);
    if (Overload == Overloads.end())
        return sLine;
    return "//----  Next Line was commented and replaced with a command line overload ---- //\n"
           "//" +
           sLine + "    (default)\n" + sTok + " = " + Overload->second;
}

bool CMOOSFileReader::IsTheMissionFile(std::string const& sPath) const
{
    std::error_code Error;
    return std::filesystem::equivalent(sPath, StoredFileName(), Error);
}

void CMOOSFileReader::EnableVerbatimQuoting(bool bEnable)
{
    m_bVerbatimQuoting = bEnable;
}

void CMOOSFileReader::ClearFileMap()
{
    std::lock_guard<CMOOSLock> Guard(m_Lock);
    m_pStreams->Clear();
}

std::string CMOOSFileReader::StoredFileName() const
{
    std::lock_guard<CMOOSLock> Guard(m_Lock);
    return m_sFileName;
}
