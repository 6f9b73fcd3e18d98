#include "Files.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace moostest
{
std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "moostest-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a temporary folder from " + pattern);
    path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string TempDir::Write(const std::string& name, const std::string& text) const
{
    const std::filesystem::path file = path / name;
    WriteFile(file, text);
    return file.string();
}

std::filesystem::path CapturePath(const std::string& relative)
{
    return std::filesystem::path(MOOS_SHARED_DIR) / "captures" / relative;
}

bool HaveCapture(const std::filesystem::path& path)
{
    if (std::ifstream(path, std::ios::binary))
        return true;
    const char* ci = std::getenv("CI");
    if (ci != nullptr && *ci != '\0')
        ADD_FAILURE() << "capture " << path << " is missing, and CI is set: the captures must be "
                      << "in the shared folder beside the checkout";
    return false;
}

std::vector<std::string> ReadCaptureLines(const std::filesystem::path& path)
{
    const std::string text = ReadFile(path);
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();)
    {
        const std::size_t end = text.find("\r\n", start);
        const std::size_t next = end == std::string::npos ? text.size() : end + 2;
        lines.push_back(text.substr(start, next - start));
        start = next;
    }
    return lines;
}
} // namespace moostest
