#include "FaultTestSupport.h"

#include "MOOSLIB/XPCTcpSocket.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

extern char** environ;

namespace faults
{

void WriteFile(const std::filesystem::path& Path, const std::string& sText)
{
    std::ofstream(Path, std::ios::binary) << sText;
}

int FreePort()
{
    XPCTcpSocket Probe(0L);
    Probe.vBindSocket("127.0.0.1");
    return Probe.iGetBoundPort();
}

namespace
{
std::vector<char*> Pointers(const std::vector<std::string>& Texts)
{
    std::vector<char*> Result;
    for (const std::string& sText : Texts)
        Result.push_back(const_cast<char*>(sText.c_str()));
    Result.push_back(nullptr);
    return Result;
}
} // namespace

Child::Child(const std::vector<std::string>& Args, const std::filesystem::path& Out,
             const std::filesystem::path& Err, const std::vector<std::string>& Env)
{
    std::vector<std::string> FullEnv(Env);
    for (char** pEntry = environ; *pEntry != nullptr; ++pEntry)
        FullEnv.emplace_back(*pEntry);
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_addopen(&Actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&Actions, 1, Out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&Actions, 2, Err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> Argv = Pointers(Args);
    std::vector<char*> Envp = Pointers(FullEnv);
    if (posix_spawn(&m_Pid, Argv[0], &Actions, nullptr, Argv.data(), Envp.data()) != 0)
        m_Pid = -1;
    posix_spawn_file_actions_destroy(&Actions);
}

Child::~Child()
{
    Kill();
}

bool Child::Running()
{
    if (m_Pid > 0 && !m_bReaped)
        m_bReaped = ::waitpid(m_Pid, nullptr, WNOHANG) == m_Pid;
    return m_Pid > 0 && !m_bReaped;
}

void Child::Kill()
{
    if (!Running())
        return;
    ::kill(m_Pid, SIGKILL);
    ::waitpid(m_Pid, nullptr, 0);
    m_bReaped = true;
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
