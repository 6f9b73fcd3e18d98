// The serial line assembler over arbitrary device bytes: whatever the device
// sends, and however its reads split it, every line handed out is whole (it
// ends with its first CR LF) and, for inputs shorter than the line length
// bound, the lines put back together are exactly the bytes sent.
//
// The input's first byte chooses the size of the reads; the rest, followed by
// an end marker on a line of its own, is what the device sends. All of it is
// read at one moment, so no line ages.
#include "FuzzSupport.h"

#include "LineAssembler.h"

#include <algorithm>
#include <chrono>

namespace
{
// Inputs up to this size stay below the assembler's bounds.
constexpr size_t kMaxInput = 2048;
const std::string kEndMarker = "\r\nEND-OF-FUZZ-INPUT\r\n";
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    moosfuzz::QuietProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize == 0 || nSize > kMaxInput)
        return 0;
    const size_t nChunk = std::max<size_t>(pData[0], 1);
    const std::string sSent = moosfuzz::AsString(pData + 1, nSize - 1) + kEndMarker;
    const auto tNow = std::chrono::steady_clock::now();
    LineAssembler Lines("fuzz", nullptr);
    Lines.start(tNow);
    for (size_t nAt = 0; nAt < sSent.size(); nAt += nChunk)
        Lines.feed(sSent.data() + nAt, std::min(nChunk, sSent.size() - nAt), tNow);
    std::string sJoined;
    for (std::string sLine; Lines.take(sLine, tNow);)
    {
        MOOS_FUZZ_CHECK(sLine.size() >= 2 && sLine.find("\r\n") == sLine.size() - 2);
        sJoined += sLine;
    }
    MOOS_FUZZ_CHECK(sJoined == sSent);
    MOOS_FUZZ_CHECK(Lines.drops().lines() == 0 && Lines.drops().overlongRuns == 0);
    return 0;
}
