// Shared verbs of the fault-injection tests, beside the bounded waits, files
// and folders of the serial tests' support: a child program whose process id
// the test may inspect, a port to start a server on again, and what /proc
// says about a process's descriptors and memory.
//
// Everything here belongs to the test's thread and owns what it starts: a
// Child is killed and reaped by its destructor.
#ifndef TESTS_FAULTS_FAULTTESTSUPPORT_H
#define TESTS_FAULTS_FAULTTESTSUPPORT_H

#include "SerialTestSupport.h"

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace faults
{

using serialtest::Program;
using serialtest::ReadFile;
using serialtest::TempDir;
using serialtest::WaitFor;

void WriteFile(const std::filesystem::path& Path, const std::string& sText);

// A loopback port that was free a moment ago, for a program that must be
// started again on the same port.
int FreePort();

// A program run with extra "NAME=value" environment entries, standard input
// from /dev/null and standard output and error into the given files.
class Child
{
public:
    Child(const std::vector<std::string>& Args, const std::filesystem::path& Out,
          const std::filesystem::path& Err, const std::vector<std::string>& Env = {});
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t Pid() const { return m_Pid; }
    bool Running();
    // SIGKILL, then reaps it.
    void Kill();

private:
    pid_t m_Pid = -1;
    bool m_bReaped = false;
};

// Open descriptors of a process (entries of /proc/<pid>/fd); -1 when unknown.
int OpenDescriptors(pid_t Pid);
// Resident memory of a process in kB (VmRSS of /proc/<pid>/status); -1 when
// unknown.
long ResidentKb(pid_t Pid);

} // namespace faults

#endif
