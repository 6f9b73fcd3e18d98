#include "MOOSLIB/MOOSGlobalHelper.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <iomanip>
#include <memory>
#include <sys/stat.h>

// ---------------------------------------------------------------------------
// Matrix text

namespace
{
double ReadElement(const char* sText, double*)
{
    return std::atof(sText);
}

float ReadElement(const char* sText, float*)
{
    return static_cast<float>(std::atof(sText));
}

unsigned int ReadElement(const char* sText, unsigned int*)
{
    return static_cast<unsigned int>(std::atoi(sText));
}

// Reads the "[rows x cols]" head; the counts are written once the '[' is found.
// On success nBrace is the position of the '{' that opens the elements.
bool ReadMatrixHead(const std::string& sStr, int& nRows, int& nCols, std::string::size_type& nBrace)
{
    std::string::size_type nOpen = sStr.find('[');
    if (nOpen == std::string::npos)
        return false;
    nRows = std::atoi(sStr.c_str() + nOpen + 1);
    // The "x" belongs to the head only when it comes before the closing ']';
    // a later one is part of whatever text follows the matrix.
    std::string::size_type nClose = sStr.find(']', nOpen);
    std::string::size_type nX = sStr.find('x', nOpen);
    bool bHasCols = nX != std::string::npos && nX < nClose;
    nCols = bHasCols ? std::atoi(sStr.c_str() + nX + 1) : 1;
    nBrace = sStr.find('{', bHasCols ? nX : nOpen);
    return nBrace != std::string::npos && nRows > 0 && nCols > 0;
}

// Parses into a fresh vector so that the caller's is untouched on failure. The
// elements must all lie before the closing '}' (or the end of the text).
template <class T>
bool VectorFromString(const std::string& sStr, std::vector<T>& Vec, int& nRows, int& nCols)
{
    std::string::size_type nPos = 0;
    if (!ReadMatrixHead(sStr, nRows, nCols, nPos))
        return false;
    std::string::size_type nEnd = std::min(sStr.find('}', nPos), sStr.size());
    long long nElements = static_cast<long long>(nRows) * nCols;
    // Every element takes at least one character of text.
    if (nElements > static_cast<long long>(nEnd - nPos))
        return false;
    std::vector<T> Parsed;
    Parsed.reserve(static_cast<std::size_t>(nElements));
    for (long long i = 0; i < nElements; ++i)
    {
        if (nPos >= nEnd)
            return false;
        Parsed.push_back(ReadElement(sStr.c_str() + nPos + 1, static_cast<T*>(nullptr)));
        nPos = sStr.find(',', nPos + 1);
        nPos = nPos == std::string::npos ? nEnd : nPos;
    }
    Vec.swap(Parsed);
    return true;
}

template <class T>
bool MatrixValFromString(std::vector<T>& Vec, int& nRows, int& nCols, const std::string& sStr,
                         const std::string& sToken, bool bInsensitive)
{
    std::string::size_type nPos = MOOSStrFind(sStr, sToken + "=", bInsensitive);
    if (nPos == std::string::npos)
        return false;
    return VectorFromString(sStr.substr(nPos), Vec, nRows, nCols);
}

template <class T> std::stringstream& WriteColumn(std::stringstream& os, const std::vector<T>& Vec)
{
    os << "[" << Vec.size() << "x1]{";
    for (std::size_t i = 0; i < Vec.size(); ++i)
        os << (i == 0 ? "" : ",") << Vec[i];
    os << "}";
    return os;
}
} // namespace

bool MOOSVectorFromString(const std::string& sStr, std::vector<double>& dfValVec, int& nRows,
                          int& nCols)
{
    return VectorFromString(sStr, dfValVec, nRows, nCols);
}

bool MOOSVectorFromString(const std::string& sStr, std::vector<float>& fValVec, int& nRows,
                          int& nCols)
{
    return VectorFromString(sStr, fValVec, nRows, nCols);
}

bool MOOSVectorFromString(const std::string& sStr, std::vector<unsigned int>& nValVec, int& nRows,
                          int& nCols)
{
    return VectorFromString(sStr, nValVec, nRows, nCols);
}

bool MOOSValFromString(std::vector<double>& dfValVec, int& nRows, int& nCols,
                       const std::string& sStr, const std::string& sToken, bool bInsensitive)
{
    return MatrixValFromString(dfValVec, nRows, nCols, sStr, sToken, bInsensitive);
}

bool MOOSValFromString(std::vector<unsigned int>& nValVec, int& nRows, int& nCols,
                       const std::string& sStr, const std::string& sToken, bool bInsensitive)
{
    return MatrixValFromString(nValVec, nRows, nCols, sStr, sToken, bInsensitive);
}

std::stringstream& Write(std::stringstream& os, const std::vector<double>& Vec)
{
    os << std::fixed << std::setprecision(4);
    return WriteColumn(os, Vec);
}

std::stringstream& Write(std::stringstream& os, const std::vector<int>& Vec)
{
    return WriteColumn(os, Vec);
}

std::string DoubleVector2String(const std::vector<double>& V)
{
    std::stringstream ss;
    Write(ss, V);
    return ss.str();
}

// ---------------------------------------------------------------------------
// Other lookups

bool MOOSGetValueFromToken(std::list<std::string>& sParams, const std::string& sToken,
                           std::string& sVal)
{
    for (const std::string& sLine : sParams)
    {
        if (sLine.find('=') == std::string::npos)
            continue;
        std::string sValue = sLine;
        MOOSRemoveChars(sValue, " \t\r");
        std::string sName = MOOSChomp(sValue, "=");
        if (MOOSStrCmp(sName, sToken))
        {
            sVal = sValue;
            return true;
        }
    }
    return false;
}

bool GetNextAlogLineByMessageName(std::istream& Input, const std::string& sMessageName,
                                  double& dfTime, std::string& sSource, std::string& sValue)
{
    std::string sLine;
    while (std::getline(Input, sLine))
    {
        if (sLine.empty() || sLine[0] == '%')
            continue;
        std::istringstream Line(sLine);
        double dfLineTime = 0.0;
        std::string sName;
        // A line that does not start with a time is not a log entry.
        if (!(Line >> dfLineTime))
            continue;
        dfTime = dfLineTime;
        if (!(Line >> sName) || !MOOSStrCmp(sName, sMessageName))
            continue;
        std::string sLineSource;
        std::string sRest;
        Line >> sLineSource;
        std::getline(Line, sRest);
        sSource = sLineSource;
        sValue = sRest;
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Third-party texts

std::string MOOSThirdPartyStatusString(std::string sStatusCommand)
{
    std::ostringstream os;
    os << "STATUS:" << sStatusCommand << "," << '\0';
    return os.str();
}

std::string MOOSThirdPartyActuationString(double* pdfRudder, double* pdfElevator, double* pdfThrust)
{
    std::ostringstream os;
    os << "ACTUATION:";
    if (pdfRudder != nullptr)
        os << "RUDDER=" << *pdfRudder << ",";
    if (pdfElevator != nullptr)
        os << "ELEVATOR=" << *pdfElevator << ",";
    if (pdfThrust != nullptr)
        os << "THRUST=" << *pdfThrust << ",";
    os << '\0';
    return os.str();
}

// ---------------------------------------------------------------------------
// File system

bool MOOSFileParts(std::string sFullPath, std::string& sPath, std::string& sFile,
                   std::string& sExtension)
{
    std::string::size_type nSlash = sFullPath.rfind('/');
    sPath = nSlash == std::string::npos ? std::string() : sFullPath.substr(0, nSlash);
    std::string sFullFile = nSlash == std::string::npos ? sFullPath : sFullPath.substr(nSlash + 1);
    std::string::size_type nDot = sFullFile.rfind('.');
    sFile = sFullFile.substr(0, nDot);
    sExtension = nDot == std::string::npos ? std::string() : sFullFile.substr(nDot + 1);
    return true;
}

namespace
{
// Owns the entry table that scandir allocates.
struct DirectoryScan
{
    dirent** ppEntries = nullptr;
    int nEntries = 0;
    ~DirectoryScan()
    {
        for (int i = 0; i < nEntries; ++i)
            std::free(ppEntries[i]);
        std::free(ppEntries);
    }
};

// Whether the entry is of the kind asked for; entries that cannot be examined
// are of no kind.
bool IsWantedEntry(const std::string& sPath, const char* sName, bool bFiles)
{
    if (std::strcmp(sName, ".") == 0 || std::strcmp(sName, "..") == 0)
        return false;
    struct stat Status;
    if (stat((sPath + "/" + sName).c_str(), &Status) != 0)
        return false;
    return bFiles ? S_ISREG(Status.st_mode) : S_ISDIR(Status.st_mode);
}
} // namespace

bool GetDirectoryContents(const std::string& sPath, std::list<std::string>& sContents, bool bFiles)
{
    DirectoryScan Scan;
    Scan.nEntries = scandir(sPath.c_str(), &Scan.ppEntries, nullptr, alphasort);
    if (Scan.nEntries < 0)
    {
        int nError = errno;
        Scan.nEntries = 0;
        return MOOSFail("error reading directory contents %s\n", std::strerror(nError));
    }
    for (int i = Scan.nEntries - 1; i >= 0; --i)
    {
        if (IsWantedEntry(sPath, Scan.ppEntries[i]->d_name, bFiles))
            sContents.push_front(Scan.ppEntries[i]->d_name);
    }
    return true;
}

bool MOOSCreateDirectory(const std::string& sDirectory)
{
    if (mkdir(sDirectory.c_str(), 0755) == 0)
        return true;
    int nError = errno;
    // An existing directory is success; an existing file of that name is not.
    struct stat Status;
    if (nError == EEXIST && stat(sDirectory.c_str(), &Status) == 0 && S_ISDIR(Status.st_mode))
        return true;
    MOOSTrace("Error %ld  making directory :  \"%s\"\n", static_cast<long>(nError),
              std::strerror(nError));
    return false;
}

// ---------------------------------------------------------------------------
// Numeric helpers

namespace
{
const double kPi = 3.141592653589;
const double kTwoPi = 6.283185307178;
const double kRandMax = 2147483647.0;

double UnitRandom()
{
    return std::rand() / kRandMax;
}

// Percentiles of the standard normal distribution: entry i is the z with
// Phi(z) = i/100. Entries 0 and 100 are unbounded and are never looked up.
const double kNormalTable[101] = {
    0.0,     -2.3263, -2.0537, -1.8808, -1.7507, -1.6449, -1.5548, -1.4758, -1.4051, -1.3408,
    -1.2816, -1.2265, -1.1750, -1.1264, -1.0803, -1.0364, -0.9945, -0.9542, -0.9154, -0.8779,
    -0.8416, -0.8064, -0.7722, -0.7388, -0.7063, -0.6745, -0.6433, -0.6128, -0.5828, -0.5534,
    -0.5244, -0.4959, -0.4677, -0.4399, -0.4125, -0.3853, -0.3585, -0.3319, -0.3055, -0.2793,
    -0.2533, -0.2275, -0.2019, -0.1764, -0.1510, -0.1257, -0.1004, -0.0753, -0.0502, -0.0251,
    0.0,     0.0251,  0.0502,  0.0753,  0.1004,  0.1257,  0.1510,  0.1764,  0.2019,  0.2275,
    0.2533,  0.2793,  0.3055,  0.3319,  0.3585,  0.3853,  0.4125,  0.4399,  0.4677,  0.4959,
    0.5244,  0.5534,  0.5828,  0.6128,  0.6433,  0.6745,  0.7063,  0.7388,  0.7722,  0.8064,
    0.8416,  0.8779,  0.9154,  0.9542,  0.9945,  1.0364,  1.0803,  1.1264,  1.1750,  1.2265,
    1.2816,  1.3408,  1.4051,  1.4758,  1.5548,  1.6449,  1.7507,  1.8808,  2.0537,  2.3263,
    0.0};

// Quantile of a lower-tail probability below the first percentile, where the
// table has no entry: the rational approximation of the lower tail due to
// P. J. Acklam (relative error below 1.2e-9).
double LowerTailQuantile(double p)
{
    const double c[] = {-7.784894002430293e-03, -3.223964580411365e-01, -2.400758277161838e+00,
                        -2.549732539343734e+00, 4.374664141464968e+00,  2.938163982698783e+00};
    const double d[] = {7.784695709041462e-03, 3.224671290700398e-01, 2.445134137142996e+00,
                        3.754408661907416e+00};
    double q = std::sqrt(-2.0 * std::log(p));
    return (((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
           ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1.0);
}
} // namespace

double MOOS_ANGLE_WRAP(double dfAng)
{
    if (dfAng > -kPi && dfAng < kPi)
        return dfAng;
    double r = std::fmod(dfAng + kPi, kTwoPi);
    if (r < 0.0)
        r += kTwoPi;
    return r == 0.0 ? kPi : r - kPi;
}

bool MOOSAbsLimit(double& dfVal, double dfLimit)
{
    if (dfVal > dfLimit)
    {
        dfVal = dfLimit;
        return true;
    }
    if (dfVal < -dfLimit)
    {
        dfVal = -dfLimit;
        return true;
    }
    return false;
}

double MOOSDeg2Rad(double dfDeg)
{
    return kPi * dfDeg / 180.0;
}

double MOOSRad2Deg(double dfRad)
{
    return 180.0 * dfRad / kPi;
}

double MOOSUniformRandom(double dfMin, double dfMax)
{
    return (dfMax - dfMin) * UnitRandom() + dfMin;
}

int MOOSDiscreteUniform(int nMin, int nMax)
{
    double x = MOOSUniformRandom(nMin, nMax);
    int n = static_cast<int>(x);
    return x - n > 0.5 ? n + 1 : n;
}

double MOOSWhiteNoise(double dfSigma)
{
    static bool bSpareReady = false;
    static double dfSpare = 0.0;
    if (bSpareReady)
    {
        bSpareReady = false;
        return dfSpare * dfSigma;
    }
    double u = 0.0;
    double v = 0.0;
    double s = 0.0;
    do
    {
        u = 2.0 * UnitRandom() - 1.0;
        v = 2.0 * UnitRandom() - 1.0;
        s = u * u + v * v;
    } while (s > 1.0 || s == 0.0);
    double f = std::sqrt(-2.0 * std::log(s) / s);
    dfSpare = u * f;
    bSpareReady = true;
    return v * f * dfSigma;
}

double MOOSNormalInv(double dfArea)
{
    if (std::isnan(dfArea))
        return dfArea;
    if (dfArea <= 0.0)
        return -1e60;
    if (dfArea >= 1.0)
        return 1e60;
    if (dfArea < 0.01)
        return LowerTailQuantile(dfArea);
    return kNormalTable[static_cast<int>(100.0 * dfArea)];
}
