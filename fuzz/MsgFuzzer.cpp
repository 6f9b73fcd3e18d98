// A message's byte form read back from arbitrary bytes, as every message of a
// peer's packet is read.
//
// Beyond "no crash, no read outside the buffer", a message that reads must
// have taken no more bytes than it was given, must write back to exactly its
// announced size, read back to the same fields, and refuse a buffer one byte
// short.
#include "FuzzSupport.h"

#include "MOOSLIB/MOOSMsg.h"

#include <climits>
#include <vector>

namespace
{

bool SameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof(double)) == 0;
}

bool SameFields(const CMOOSMsg& a, const CMOOSMsg& b)
{
    return a.m_cMsgType == b.m_cMsgType && a.m_cDataType == b.m_cDataType && a.m_nID == b.m_nID &&
           a.m_sKey == b.m_sKey && a.m_sVal == b.m_sVal && a.m_sSrc == b.m_sSrc &&
           a.m_sSrcAux == b.m_sSrcAux && a.m_sOriginatingCommunity == b.m_sOriginatingCommunity &&
           SameBits(a.m_dfTime, b.m_dfTime) && SameBits(a.m_dfVal, b.m_dfVal) &&
           SameBits(a.m_dfVal2, b.m_dfVal2);
}

void CheckRoundTrip(CMOOSMsg& Msg)
{
    const unsigned int nSize = Msg.GetSizeInBytesWhenSerialised();
    std::vector<unsigned char> Out(nSize);
    const int nWritten = Msg.Serialize(Out.data(), static_cast<int>(nSize), true);
    MOOS_FUZZ_CHECK(nWritten == static_cast<int>(nSize));

    CMOOSMsg Back;
    MOOS_FUZZ_CHECK(Back.Serialize(Out.data(), nWritten, false) == nWritten);
    MOOS_FUZZ_CHECK(SameFields(Msg, Back));

    // Exact-size heap buffer: a write past its end is an ASan report.
    std::vector<unsigned char> Short(nSize - 1);
    MOOS_FUZZ_CHECK(Msg.Serialize(Short.data(), static_cast<int>(Short.size()), true) == -1);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    moosfuzz::QuietProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize > INT_MAX)
        return 0;
    // A copy of exactly the input's size, so that any read past it is caught.
    std::vector<unsigned char> Bytes(pData, pData + nSize);
    CMOOSMsg Msg;
    if (Msg.Serialize(Bytes.data(), static_cast<int>(nSize), false) == -1)
        return 0;
    MOOS_FUZZ_CHECK(Msg.GetSizeInBytesWhenSerialised() <= nSize);

    // The renderings see whatever a peer sent.
    Msg.GetAsString();
    Msg.Trace();
    Msg.IsSkewed(MOOSTime());
    CheckRoundTrip(Msg);
    return 0;
}
