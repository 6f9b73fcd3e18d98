#include "FaultTestSupport.h"

#include "MOOSLIB/XPCTcpSocket.h"

#include <stdlib.h>

#include <fstream>

namespace faults
{

int FreePort()
{
    XPCTcpSocket Probe(0L);
    Probe.vBindSocket("127.0.0.1");
    return Probe.iGetBoundPort();
}

int OpenDescriptors(pid_t Pid)
{
    std::error_code Error;
    std::filesystem::directory_iterator It("/proc/" + std::to_string(Pid) + "/fd", Error);
    if (Error)
        return -1;
    int nCount = 0;
    for (; It != std::filesystem::directory_iterator(); It.increment(Error))
        ++nCount;
    return nCount;
}

long ResidentKb(pid_t Pid)
{
    std::ifstream Status("/proc/" + std::to_string(Pid) + "/status");
    for (std::string sLine; std::getline(Status, sLine);)
        if (sLine.rfind("VmRSS:", 0) == 0)
            return std::atol(sLine.c_str() + 6);
    return -1;
}

} // namespace faults
