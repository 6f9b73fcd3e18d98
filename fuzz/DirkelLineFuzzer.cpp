// The compass bridge's handling of one line from the compass.
//
// Properties beyond "no crash": every line publishes "CompassData" once; a
// "$C" line publishes the text up to its first "P", inside the line, and any
// other line the text of the last compass sentence.
#include "BridgeFuzzSupport.h"

#include "CompassFormat.h"

namespace
{
struct Sensor
{
    static BridgeProgram Program() { return DirkelProgram(); }
    static SentenceFormat Format() { return CompassFormat(); }
};
} // namespace

MOOS_FUZZ_BRIDGE_INITIALIZE(Sensor)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    static std::string sLastHeading;
    const std::string sLine = moosfuzz::AsString(pData, nSize);
    std::string sHeading;
    if (ParseCompassLine(sLine, sHeading))
    {
        MOOS_FUZZ_CHECK(sLine.find(sHeading) != std::string::npos);
        MOOS_FUZZ_CHECK(sHeading.find('P') == std::string::npos);
        sLastHeading = sHeading;
    }
    moosfuzz::Bridge<Sensor>().HandleLine(sLine);
    const moosfuzz::Publications Expected{{"CompassData", sLastHeading}};
    MOOS_FUZZ_CHECK(moosfuzz::Bridge<Sensor>().Take() == Expected);
    return 0;
}
