// The mission file reader and the process block reader over arbitrary file
// contents: every line, every lookup the framework makes at start-up, the
// block of the process, a matrix parameter and an overloaded copy.
//
// Beyond "no crash": reading line by line ends within one line per byte of
// the file (a loop that does not end at the end of the file is a finding),
// and the overloaded copy holds every line of the file.
#include "FuzzSupport.h"

#include "MOOSLIB/ProcessConfigReader.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <list>
#include <map>
#include <vector>

namespace
{

const moosfuzz::ScratchDir& Scratch()
{
    static const moosfuzz::ScratchDir Dir;
    return Dir;
}

void ReadEveryLine(CProcessConfigReader& Reader, size_t nSize)
{
    MOOS_FUZZ_CHECK(Reader.Reset());
    size_t nLines = 0;
    while (!Reader.eof())
    {
        Reader.GetNextValidLine(nLines % 2 == 0);
        MOOS_FUZZ_CHECK(++nLines <= nSize + 2);
    }
}

// One destination of every type the lookups fill.
struct Destinations
{
    std::string sText;
    double dfValue = 0;
    float fValue = 0;
    int nValue = 0;
    unsigned int uValue = 0;
    bool bValue = false;
};

void AskWholeFileValues(CProcessConfigReader& Reader)
{
    Destinations To;
    Reader.GetValue("MOOSTimeWarp", To.dfValue);
    Reader.GetValue("SERVERHOST", To.sText);
    Reader.GetValue("SERVERPORT", To.nValue);
    Reader.GetValue("SERVERPORT", To.uValue);
    Reader.GetValue("SIMULATOR", To.bValue);
    Reader.GetValue("PLAYBACK", To.fValue);
}

void AskBlockValues(CProcessConfigReader& Reader)
{
    std::list<std::string> Block;
    Reader.GetConfiguration("Vantor", Block);
    Destinations To;
    Reader.GetConfigurationParam("APPTICK", To.dfValue);
    Reader.GetConfigurationParam("COMMSTICK", To.nValue);
    Reader.GetConfigurationParam("COMMSTICK", To.uValue);
    Reader.GetConfigurationParam("UseMOOSComms", To.bValue);
    Reader.GetConfigurationParam("SortMailByTime", To.sText);
    Reader.GetConfigurationParam("Compass", "CatchCommandMessages", To.fValue);
    std::vector<double> Matrix;
    int nRows = 0, nCols = 0;
    Reader.GetConfigurationParam("Matrix", Matrix, nRows, nCols);
}

// The copy replaces every "SERVERPORT" entry by three lines and copies every
// other line, so it holds at least as many lines as the file.
void CheckOverloadedCopy(CProcessConfigReader& Reader, const std::string& sText)
{
    std::map<std::string, std::string> Overloads{{"SERVERPORT", "9001"}};
    const std::string sCopy = Scratch().Path("copy");
    if (!Reader.MakeOverloadedCopy(sCopy, Overloads))
        return;
    std::ifstream Copy(sCopy, std::ios::binary);
    const std::string sWritten((std::istreambuf_iterator<char>(Copy)),
                               std::istreambuf_iterator<char>());
    const auto Lines = [](const std::string& s) { return std::count(s.begin(), s.end(), '\n'); };
    MOOS_FUZZ_CHECK(Lines(sWritten) >= Lines(sText));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    moosfuzz::QuietProcess();
    ::setenv("MOOS_FUZZ_DEFINED", "from the environment", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const std::string sFile = Scratch().Write("input", pData, nSize);
    CProcessConfigReader Reader;
    Reader.SetAppName("Vantor");
    if (!Reader.SetFile(sFile))
        return 0;
    Reader.EnableVerbatimQuoting(nSize % 2 == 0);
    ReadEveryLine(Reader, nSize);
    AskWholeFileValues(Reader);
    AskBlockValues(Reader);
    CheckOverloadedCopy(Reader, moosfuzz::AsString(pData, nSize));
    return 0;
}
