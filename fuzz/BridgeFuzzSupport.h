// Support for the bridge fuzz targets: a pseudo-terminal for the serial line
// the application opens at construction (the targets feed lines through the
// application's line handler, never through the device), and an application
// probe that records what it publishes instead of posting it.
#ifndef MOOS_FUZZ_BRIDGEFUZZSUPPORT_H
#define MOOS_FUZZ_BRIDGEFUZZSUPPORT_H

#include "FuzzSupport.h"

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

// Application App with its Publish seam recording (name, value) pairs.
template <class App> class PublishProbe : public App
{
public:
    PublishProbe() : App(PseudoTerminalPath()) {}
    Publications Take() { return std::exchange(m_Published, {}); }

protected:
    void Publish(const std::string& sName, const std::string& sValue) override
    {
        m_Published.emplace_back(sName, sValue);
    }

private:
    Publications m_Published;
};

// The one application of the run, built when the fuzzer initialises.
template <class App> PublishProbe<App>& Bridge()
{
    static PublishProbe<App> TheApp;
    return TheApp;
}

} // namespace moosfuzz

// The bridge targets share their start: quiet, and the application built
// before the first input.
#define MOOS_FUZZ_BRIDGE_INITIALIZE(App)                                                           \
    extern "C" int LLVMFuzzerInitialize(int*, char***)                                             \
    {                                                                                              \
        moosfuzz::QuietProcess();                                                                  \
        moosfuzz::Bridge<App>();                                                                   \
        return 0;                                                                                  \
    }

#endif
