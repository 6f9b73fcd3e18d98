// Shared verbs of the fault-injection tests, beside the test toolkit's waits,
// files, folders and child processes: a child program with its output at
// paths of the test's choosing, a port to start a server on again, and what
// /proc says about a process's descriptors and memory.
#ifndef TESTS_FAULTS_FAULTTESTSUPPORT_H
#define TESTS_FAULTS_FAULTTESTSUPPORT_H

#include "support/Files.h"
#include "support/Process.h"
#include "support/WaitFor.h"

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace faults
{

using moostest::Program;
using moostest::ReadFile;
using moostest::TempDir;
using moostest::WaitFor;
using moostest::WriteFile;

// A loopback port that was free a moment ago, for a program that must be
// started again on the same port.
int FreePort();

// A program run with extra "NAME=value" environment entries, its standard
// output and error into the given files.
class Child : public moostest::Process
{
public:
    Child(const std::vector<std::string>& Args, const std::filesystem::path& Out,
          const std::filesystem::path& Err, const std::vector<std::string>& Env = {})
        : Process(Args, Options{Env, {}}, Outputs{Out, Err})
    {
    }
};

// Open descriptors of a process (entries of /proc/<pid>/fd); -1 when unknown.
int OpenDescriptors(pid_t Pid);
// Resident memory of a process in kB (VmRSS of /proc/<pid>/status); -1 when
// unknown.
long ResidentKb(pid_t Pid);

} // namespace faults

#endif
