#include "MOOSLIB/MOOSMsg.h"

#include "MOOSLIB/MOOSException.h"
#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <iomanip>
#include <sstream>

namespace
{
// Bytes of the fixed-width fields: length, identifier, the two type
// characters, three doubles and the five string length fields.
constexpr unsigned int kFixedSize = 4 + 4 + 1 + 1 + 3 * 8 + 5 * 4;
// Further than this from now, a message is skewed.
constexpr double kSkewTolerance = 5.0;

const char* const kWriteOutOfSpace = "CMOOSMsg::operator << Out Of Space";
const char* const kReadOutOfSpace = "CMOOSMsg::operator >> Out Of Space";

double ReplaceUnsetTime(double dfTime)
{
    return dfTime == -1 ? MOOSTime() : dfTime;
}
} // namespace

CMOOSMsg::CMOOSMsg() = default;

CMOOSMsg::CMOOSMsg(char cMsgType, const std::string& sKey, double dfVal, double dfTime)
    : m_cMsgType(cMsgType), m_cDataType(MOOS_DOUBLE), m_sKey(sKey),
      m_dfTime(ReplaceUnsetTime(dfTime)), m_dfVal(dfVal)
{
}

CMOOSMsg::CMOOSMsg(char cMsgType, const std::string& sKey, const std::string& sVal, double dfTime)
    : m_cMsgType(cMsgType), m_cDataType(MOOS_STRING), m_sKey(sKey),
      m_dfTime(ReplaceUnsetTime(dfTime)), m_sVal(sVal)
{
}

CMOOSMsg::~CMOOSMsg() = default;

bool CMOOSMsg::IsSkewed(double dfTimeNow, double* pdfSkew)
{
    if (IsMOOSPlayBack())
        dfTimeNow = m_dfTime;
    const double dfSkew = std::fabs(dfTimeNow - m_dfTime);
    if (pdfSkew != nullptr)
        *pdfSkew = dfSkew;
    return dfSkew > kSkewTolerance;
}

unsigned int CMOOSMsg::GetSizeInBytesWhenSerialised() const
{
    const std::uint64_t nSize = std::uint64_t(kFixedSize) + m_sSrc.size() + m_sSrcAux.size() +
                                m_sOriginatingCommunity.size() + m_sKey.size() + m_sVal.size();
    return nSize > UINT_MAX ? UINT_MAX : static_cast<unsigned int>(nSize);
}

bool CMOOSMsg::CanSerialiseN(int nBytes) const
{
    if (nBytes < 0)
        return false;
    const std::int64_t nUsed = m_pSerializeBuffer - m_pSerializeBufferStart;
    return nUsed + nBytes <= m_nSerializeBufferLen;
}

// ---------------------------------------------------------------------------
// Cursor operators: one room test per field, then a plain copy. The throws
// live out of line so that the copies stay small enough to inline.

namespace
{
[[noreturn]] void ThrowOutOfSpace(const char* sWhich)
{
    throw CMOOSException(sWhich);
}
} // namespace

inline void CMOOSMsg::Room(int nBytes, const char* sWhich) const
{
    if (!CanSerialiseN(nBytes))
        ThrowOutOfSpace(sWhich);
}

// A char is one byte, which no byte order changes.
template <class T> inline void CMOOSMsg::PutNumber(T Val)
{
    Room(sizeof(T), kWriteOutOfSpace);
    CopyToBufferAsLittleEndian<T>(Val, m_pSerializeBuffer);
    m_pSerializeBuffer += sizeof(T);
}

template <class T> inline void CMOOSMsg::TakeNumber(T& Val)
{
    Room(sizeof(T), kReadOutOfSpace);
    Val = CopyFromBufferAsLittleEndian<T>(m_pSerializeBuffer);
    m_pSerializeBuffer += sizeof(T);
}

inline void CMOOSMsg::Put(const std::string& sVal)
{
    // A string no int can count cannot travel.
    if (sVal.size() > static_cast<std::size_t>(INT_MAX))
        ThrowOutOfSpace(kWriteOutOfSpace);
    const int nSize = static_cast<int>(sVal.size());
    PutNumber<int>(nSize);
    Room(nSize, kWriteOutOfSpace);
    if (nSize > 0)
        std::memcpy(m_pSerializeBuffer, sVal.data(), nSize);
    m_pSerializeBuffer += nSize;
}

inline void CMOOSMsg::Take(std::string& sVal)
{
    int nSize = 0;
    TakeNumber<int>(nSize);
    // A negative or overlong length from a damaged peer fails here, before any
    // byte is taken.
    Room(nSize, kReadOutOfSpace);
    const char* pBytes = reinterpret_cast<const char*>(m_pSerializeBuffer);
    // Appending to an empty string is the same as inserting at its front, and
    // cheaper.
    if (sVal.empty())
        sVal.append(pBytes, nSize);
    else
        sVal.insert(0, pBytes, nSize);
    m_pSerializeBuffer += nSize;
}

CMOOSMsg& CMOOSMsg::operator<<(double& dfVal)
{
    PutNumber<double>(dfVal);
    return *this;
}

CMOOSMsg& CMOOSMsg::operator<<(int& nVal)
{
    PutNumber<int>(nVal);
    return *this;
}

CMOOSMsg& CMOOSMsg::operator<<(char& cVal)
{
    PutNumber<char>(cVal);
    return *this;
}

CMOOSMsg& CMOOSMsg::operator<<(std::string& sVal)
{
    Put(sVal);
    return *this;
}

CMOOSMsg& CMOOSMsg::operator>>(double& dfVal)
{
    TakeNumber<double>(dfVal);
    return *this;
}

CMOOSMsg& CMOOSMsg::operator>>(int& nVal)
{
    TakeNumber<int>(nVal);
    return *this;
}

CMOOSMsg& CMOOSMsg::operator>>(char& cVal)
{
    TakeNumber<char>(cVal);
    return *this;
}

CMOOSMsg& CMOOSMsg::operator>>(std::string& sVal)
{
    Take(sVal);
    return *this;
}

// ---------------------------------------------------------------------------
// Byte form.

template <class Visitor> inline void CMOOSMsg::ForEachField(Visitor Visit)
{
    Visit(m_nID);
    Visit(m_cMsgType);
    Visit(m_cDataType);
    Visit(m_sSrc);
    Visit(m_sSrcAux);
    Visit(m_sOriginatingCommunity);
    Visit(m_sKey);
    Visit(m_dfTime);
    Visit(m_dfVal);
    Visit(m_dfVal2);
    Visit(m_sVal);
}

int CMOOSMsg::Serialize(unsigned char* pBuffer, int nBufferLen, bool bToStream)
{
    m_pSerializeBufferStart = pBuffer;
    m_pSerializeBuffer = pBuffer;
    m_nSerializeBufferLen = nBufferLen;
    try
    {
        if (!bToStream)
        {
            TakeNumber<int>(m_nLength);
            ForEachField([this](auto& Field) { Take(Field); });
            return m_nLength;
        }
        // The length field goes in last, once the length is known; its room is
        // tested before the cursor moves past it, so the cursor never leaves
        // the buffer.
        Room(sizeof(int), kWriteOutOfSpace);
        m_pSerializeBuffer += sizeof(int);
        ForEachField([this](auto& Field) { Put(Field); });
        m_nLength = static_cast<int>(m_pSerializeBuffer - m_pSerializeBufferStart);
        m_pSerializeBuffer = m_pSerializeBufferStart;
        PutNumber<int>(m_nLength);
        return m_nLength;
    }
    catch (const CMOOSException& e)
    {
        MOOSTrace("exception : CMOOSMsg::Serialize failed: %s\n ", e.m_sReason);
        if (bToStream)
            MOOSTrace("perhaps accummulated messages exceeded available buffer space of %d bytes\n",
                      nBufferLen);
        return -1;
    }
}

// ---------------------------------------------------------------------------
// Text renderings.

void CMOOSMsg::Trace()
{
    MOOSTrace("Type=%c DataType=%c Key =%s ", m_cMsgType, m_cDataType, m_sKey.c_str());
    switch (m_cDataType)
    {
    case MOOS_DOUBLE:
        MOOSTrace("Data=%f ", m_dfVal);
        break;
    case MOOS_STRING:
        MOOSTrace("Data=%s ", m_sVal.c_str());
        break;
    case MOOS_BINARY_STRING:
        MOOSTrace("Data=%.3f KB of binary\tdata ", m_sVal.size() / 1000.0);
        break;
    default:
        break;
    }
    MOOSTrace("Source= %s Time = %10.3f\n", m_sSrc.c_str(), m_dfTime);
}

std::string CMOOSMsg::GetAsString(int nFieldWidth, int nPrecision)
{
    std::ostringstream os;
    os.setf(std::ios::left, std::ios::adjustfield);
    if (m_dfTime == -1)
        os << std::setw(nFieldWidth) << "NotSet";
    else if (m_cDataType == MOOS_DOUBLE)
        os << std::setw(nFieldWidth) << std::fixed << std::setprecision(nPrecision) << m_dfVal;
    else if (m_cDataType == MOOS_BINARY_STRING)
        os << "BINARY DATA [" << m_sVal.size() / 1000.0 << " kB]";
    else
        os << m_sVal.c_str();
    return os.str();
}

bool MOOSMsgTimeSorter(const CMOOSMsg& m1, const CMOOSMsg& m2)
{
    return m1.m_dfTime < m2.m_dfTime;
}
