// Shared helpers of the fuzz targets: a quiet process, a check that stops the
// run with a readable reason, and a scratch file to hand file readers.
//
// Every fuzz target runs its inputs one at a time on libFuzzer's thread.
#ifndef MOOS_FUZZ_FUZZSUPPORT_H
#define MOOS_FUZZ_FUZZSUPPORT_H

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace moosfuzz
{

// A broken property is a finding like a crash: print it and abort, so that
// libFuzzer keeps the input.
#define MOOS_FUZZ_CHECK(cond)                                                                      \
    do                                                                                             \
    {                                                                                              \
        if (!(cond))                                                                               \
        {                                                                                          \
            std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__);    \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

// Silences the library's traces on the fuzzing thread and sends standard
// output (the bridges' echo) to /dev/null; libFuzzer reports on standard
// error, which stays.
inline void QuietProcess()
{
    InhibitMOOSTraceInThisThread(true);
    const int nNull = ::open("/dev/null", O_WRONLY);
    if (nNull >= 0)
    {
        ::dup2(nNull, STDOUT_FILENO);
        ::close(nNull);
    }
}

inline std::string AsString(const uint8_t* pData, size_t nSize)
{
    return std::string(reinterpret_cast<const char*>(pData), nSize);
}

// One scratch directory per process, removed at exit; files in it are
// rewritten for every input, so it lives in memory (/dev/shm) where the
// system has it: a disk would cost more than the input's parsing.
class ScratchDir
{
public:
    ScratchDir()
    {
        std::string sTemplate = (::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                std::string("/moosfuzz.XXXXXX");
        if (::mkdtemp(&sTemplate[0]) == nullptr)
        {
            std::perror("mkdtemp");
            std::abort();
        }
        m_sPath = sTemplate;
    }
    ~ScratchDir()
    {
        for (const std::string& sFile : {Path("input"), Path("copy")})
            ::unlink(sFile.c_str());
        ::rmdir(m_sPath.c_str());
    }
    std::string Path(const std::string& sName) const { return m_sPath + "/" + sName; }

    // Writes the bytes to the named file, replacing it.
    std::string Write(const std::string& sName, const uint8_t* pData, size_t nSize) const
    {
        const std::string sFile = Path(sName);
        FILE* pFile = std::fopen(sFile.c_str(), "wb");
        MOOS_FUZZ_CHECK(pFile != nullptr);
        MOOS_FUZZ_CHECK(nSize == 0 || std::fwrite(pData, 1, nSize, pFile) == nSize);
        MOOS_FUZZ_CHECK(std::fclose(pFile) == 0);
        return sFile;
    }

private:
    std::string m_sPath;
};

} // namespace moosfuzz

#endif
