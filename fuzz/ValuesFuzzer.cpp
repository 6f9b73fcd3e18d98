// The name-value and matrix helpers over arbitrary text, as they read command
// messages, mission values and log lines.
//
// Input layout: a name, a flag byte and the source text (FuzzedDataProvider).
// Properties beyond "no crash": a lookup that answers false leaves its
// destination as it was; a string value found lies inside the source; a
// matrix that reads holds rows x cols elements.
#include "FuzzSupport.h"

#include "MOOSLIB/MOOSGlobalHelper.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <list>
#include <sstream>
#include <vector>

namespace
{

// Looks up sName with every scalar member of the family; a refused lookup
// must not have written its destination.
template <class T>
void CheckScalar(const std::string& sSource, const std::string& sName, bool bInsensitive,
                 T Sentinel)
{
    T Value = Sentinel;
    if (!MOOSValFromString(Value, sSource, sName, bInsensitive))
        MOOS_FUZZ_CHECK(Value == Sentinel);
}

void CheckScalars(const std::string& sSource, const std::string& sName, bool bInsensitive)
{
    std::string sValue = "untouched";
    if (MOOSValFromString(sValue, sSource, sName, bInsensitive))
        MOOS_FUZZ_CHECK(sSource.find(sValue) != std::string::npos);
    else
        MOOS_FUZZ_CHECK(sValue == "untouched");
    CheckScalar<int>(sSource, sName, bInsensitive, 12345);
    CheckScalar<unsigned int>(sSource, sName, bInsensitive, 12345u);
    CheckScalar<long>(sSource, sName, bInsensitive, 12345L);
    CheckScalar<long long>(sSource, sName, bInsensitive, 12345LL);
    CheckScalar<double>(sSource, sName, bInsensitive, 1.5);
    CheckScalar<float>(sSource, sName, bInsensitive, 1.5f);
    bool bValue = true;
    if (!MOOSValFromString(bValue, sSource, sName, bInsensitive))
        MOOS_FUZZ_CHECK(bValue);
}

template <class T> void CheckMatrix(const std::string& sSource)
{
    std::vector<T> Values;
    int nRows = 0, nCols = 0;
    if (MOOSVectorFromString(sSource, Values, nRows, nCols))
        MOOS_FUZZ_CHECK(Values.size() == static_cast<size_t>(nRows) * static_cast<size_t>(nCols));
}

void CheckMatrices(const std::string& sSource, const std::string& sName, bool bInsensitive)
{
    CheckMatrix<double>(sSource);
    CheckMatrix<float>(sSource);
    CheckMatrix<unsigned int>(sSource);
    std::vector<double> Doubles;
    std::vector<unsigned int> Counts;
    int nRows = 0, nCols = 0;
    MOOSValFromString(Doubles, nRows, nCols, sSource, sName, bInsensitive);
    MOOSValFromString(Counts, nRows, nCols, sSource, sName, bInsensitive);
    DoubleVector2String(Doubles);
}

// The other readers of outside text: mission block lines, log lines, cutting.
void ExerciseOtherReaders(const std::string& sSource, const std::string& sName)
{
    std::list<std::string> Lines;
    std::istringstream Split(sSource);
    for (std::string sLine; std::getline(Split, sLine);)
        Lines.push_back(sLine);
    std::string sValue;
    MOOSGetValueFromToken(Lines, sName, sValue);

    std::istringstream Log(sSource);
    double dfTime = 0;
    std::string sSource2;
    while (GetNextAlogLineByMessageName(Log, sName, dfTime, sSource2, sValue))
    {
    }

    std::string sRest = sSource;
    MOOSChomp(sRest, sName.empty() ? "," : sName);
    MOOSWildCmp(sName, sSource);
    MOOSIsNumeric(sSource);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    moosfuzz::QuietProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    FuzzedDataProvider Input(pData, nSize);
    const std::string sName = Input.ConsumeRandomLengthString(32);
    const bool bInsensitive = Input.ConsumeBool();
    const std::string sSource = Input.ConsumeRemainingBytesAsString();
    CheckScalars(sSource, sName, bInsensitive);
    CheckMatrices(sSource, sName, bInsensitive);
    ExerciseOtherReaders(sSource, sName);
    return 0;
}
