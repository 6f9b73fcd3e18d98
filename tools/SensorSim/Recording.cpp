#include "Recording.h"

#include "SensorLines.h"

#include <sys/stat.h>

#include <fstream>

namespace
{
// A recording's lines end in LF alone: a raw CR is a damaged byte.
const TextLineRule kRecordingLines{false, kMaxRecordingLine};
} // namespace

bool RecordingReader::Next(RecordedLine& line)
{
    std::string text;
    bool cut = false;
    while (ReadTextLine(in, text, cut, kRecordingLines))
    {
        if (!cut && !text.empty() && text[0] == '#')
            continue;
        if (!cut && ParseRecordingLine(text, line.arrival, line.bytes))
            return true;
        ++skipped;
    }
    return false;
}

bool IsRecordingFile(const std::string& path)
{
    // Reading a pipe to look would take its first line from the replay.
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    std::ifstream in(path, std::ios::binary);
    std::string first;
    bool cut = false;
    RecordClock::time_point arrival;
    std::string bytes;
    return ReadTextLine(in, first, cut, kRecordingLines) &&
           (first == kRecordingHeader || ParseRecordingLine(first, arrival, bytes));
}
