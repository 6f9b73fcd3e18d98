// The serial line reader over arbitrary device bytes: whatever the device
// sends, every line handed out is whole (it ends with its first CR LF) and,
// for inputs shorter than the line length bound, the lines put back together
// are exactly the bytes sent.
//
// The bytes go through a real pseudo-terminal, followed by an end marker on a
// line of its own, so that the reader can be drained without a hang-up and
// reused for the next input.
#include "FuzzSupport.h"

#include "PseudoTerminal.h"
#include "SimpleSerial.h"

#include <chrono>

namespace
{

// Inputs up to this size stay below the reader's bounds and fit in the
// pseudo-terminal's buffer, so one thread can write them and then read.
constexpr size_t kMaxInput = 2048;
const std::string kEndMarker = "\r\nEND-OF-FUZZ-INPUT\r\n";

struct Device
{
    PseudoTerminal Pty;
    SimpleSerial Reader{Pty.farEndPath(), 19200};
};

Device& TheDevice()
{
    static Device D;
    return D;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    moosfuzz::QuietProcess();
    TheDevice();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize > kMaxInput)
        return 0;
    const std::string sSent = moosfuzz::AsString(pData, nSize) + kEndMarker;
    Device& D = TheDevice();
    // A read just before the write tells the reader that its caller is
    // present: after a long gap between inputs (start-up, a slow input) the
    // bytes below would otherwise be taken for lines that waited through an
    // absence, and dropped as stale.
    std::string sLine;
    MOOS_FUZZ_CHECK(!D.Reader.readLine(sLine, std::chrono::milliseconds(0)));
    MOOS_FUZZ_CHECK(D.Pty.write(sSent, std::chrono::seconds(5)) ==
                    PseudoTerminal::WriteResult::Written);
    std::string sJoined;
    for (;;)
    {
        MOOS_FUZZ_CHECK(D.Reader.readLine(sLine, std::chrono::seconds(5)));
        MOOS_FUZZ_CHECK(sLine.size() >= 2 && sLine.find("\r\n") == sLine.size() - 2);
        sJoined += sLine;
        if (sJoined.size() >= sSent.size())
            break;
    }
    MOOS_FUZZ_CHECK(sJoined == sSent);
    return 0;
}
