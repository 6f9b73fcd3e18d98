// Support for the bridge fuzz targets: a pseudo-terminal for the serial line
// the application opens at construction (the targets feed lines through the
// application's line handler, never through the device), and the bridge
// application built from a sensor's format with an outbox that records what
// it publishes instead of posting it.
#ifndef MOOS_FUZZ_BRIDGEFUZZSUPPORT_H
#define MOOS_FUZZ_BRIDGEFUZZSUPPORT_H

#include "FuzzSupport.h"

#include "SerialBridge.h"

#include <fcntl.h>
#include <stdlib.h>

#include <string>
#include <utility>
#include <vector>

namespace moosfuzz
{

// The far end of a pseudo-terminal that stays open for the whole run.
inline std::string PseudoTerminalPath()
{
    static const std::string sPath = []
    {
        const int nMaster = ::posix_openpt(O_RDWR | O_NOCTTY);
        MOOS_FUZZ_CHECK(nMaster >= 0 && ::grantpt(nMaster) == 0 && ::unlockpt(nMaster) == 0);
        return std::string(::ptsname(nMaster));
    }();
    return sPath;
}

using Publications = std::vector<std::pair<std::string, std::string>>;

// The bridge application of one sensor, its publications recorded.
class PublishProbe
{
public:
    PublishProbe(const BridgeProgram& Program, const SentenceFormat& Format)
        : m_App(Program, Format, DefaultSettingsFor(PseudoTerminalPath()),
                BridgeSeams{[this](const SentenceValue& Value, double)
                            { m_Published.emplace_back(Value.name, Value.text); },
                            {},
                            {}})
    {
    }
    void HandleLine(const std::string& sLine) { m_App.HandleLine(sLine); }
    Publications Take() { return std::exchange(m_Published, {}); }

private:
    Publications m_Published;
    CSimulator m_App;
};

// The one application of the run, built from Sensor's format when the fuzzer
// initialises.
template <class Sensor> PublishProbe& Bridge()
{
    static PublishProbe TheApp(Sensor::Program(), Sensor::Format());
    return TheApp;
}

} // namespace moosfuzz

// The bridge targets share their start: quiet, and the application built
// before the first input.
#define MOOS_FUZZ_BRIDGE_INITIALIZE(Sensor)                                                        \
    extern "C" int LLVMFuzzerInitialize(int*, char***)                                             \
    {                                                                                              \
        moosfuzz::QuietProcess();                                                                  \
        moosfuzz::Bridge<Sensor>();                                                                \
        return 0;                                                                                  \
    }

#endif
