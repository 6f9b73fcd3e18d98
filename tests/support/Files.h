// Files and folders of a test: a temporary folder that is removed with
// everything in it, whole-file reads and writes, and the real receiver
// captures, kept outside the repository in the shared folder beside the
// checkout (its captures/ folder).
//
// A developer's machine may lack the captures: a test that needs one is
// skipped. A build machine must have them: where the environment variable CI
// is set (to anything but an empty text), a missing capture fails the test
// instead, so that a run cannot pass while silently testing less.
//
// Everything here belongs to the calling thread.
#ifndef TESTS_SUPPORT_FILES_H
#define TESTS_SUPPORT_FILES_H

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace moostest
{
// The bytes of a file; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);
// Makes (or replaces) a file holding exactly text.
void WriteFile(const std::filesystem::path& path, const std::string& text);

// A folder of its own under the system's temporary folder, removed with
// everything in it by the destructor. Throws std::runtime_error when the
// folder cannot be made.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path; }
    std::filesystem::path operator/(const std::string& name) const { return path / name; }
    // Writes text as the file name of the folder and answers its path.
    std::string Write(const std::string& name, const std::string& text) const;

private:
    std::filesystem::path path;
};

// The path of a capture, relative to the captures folder (e.g.
// "nmea/hemi.nmea"); the file need not exist.
std::filesystem::path CapturePath(const std::string& relative);

// Whether the capture at path can be read. When it cannot and CI is set,
// records a test failure that names it; the caller then ends the test.
bool HaveCapture(const std::filesystem::path& path);

// The lines of a capture file, each with its CR LF.
std::vector<std::string> ReadCaptureLines(const std::filesystem::path& path);
} // namespace moostest

// Ends the calling test when the capture at path is missing: skipped, or
// failed where CI is set.
#define MOOS_SKIP_WITHOUT_CAPTURE(path)                                                            \
    if (!moostest::HaveCapture(path))                                                              \
    GTEST_SKIP() << "capture " << (path) << " is not on this machine"

#endif // TESTS_SUPPORT_FILES_H
