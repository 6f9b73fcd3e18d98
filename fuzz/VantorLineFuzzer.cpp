// The GPS bridge's handling of one line from the receiver.
//
// Properties beyond "no crash": every line publishes the four position
// variables, in their fixed order; a "$GPGGA" line publishes its own fields
// and any other line the values of the last "$GPGGA" line.
#include "BridgeFuzzSupport.h"

#include "GgaFormat.h"

namespace
{

moosfuzz::Publications Expected(const GgaPosition& Position)
{
    return {{"Latitude", Position.latitude},
            {"Longitude", Position.longitude},
            {"Indic_EW", Position.indic_EW},
            {"Indic_NS", Position.indic_NS}};
}

} // namespace

namespace
{
struct Sensor
{
    static BridgeProgram Program() { return VantorProgram(); }
    static SentenceFormat Format() { return GgaFormat(); }
};
} // namespace

MOOS_FUZZ_BRIDGE_INITIALIZE(Sensor)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    static GgaPosition LastFix;
    const std::string sLine = moosfuzz::AsString(pData, nSize);
    GgaPosition Position;
    if (ParseGpgga(sLine, Position))
        LastFix = Position;
    moosfuzz::Bridge<Sensor>().HandleLine(sLine);
    MOOS_FUZZ_CHECK(moosfuzz::Bridge<Sensor>().Take() == Expected(LastFix));
    return 0;
}
