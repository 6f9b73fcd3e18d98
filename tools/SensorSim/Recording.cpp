#include "Recording.h"

#include <sys/stat.h>

#include <fstream>

namespace
{
// One text line without its LF into text; false at the end of the input.
// Returns with cut set when the line had no LF or was too long (its rest is
// read and thrown away).
bool ReadBoundedLine(std::istream& in, std::string& text, bool& cut)
{
    text.clear();
    cut = false;
    std::istream::int_type c = in.get();
    if (c == std::istream::traits_type::eof())
        return false;
    for (; c != std::istream::traits_type::eof(); c = in.get())
    {
        if (c == '\n')
            return true;
        if (text.size() < kMaxRecordingLine)
            text.push_back(static_cast<char>(c));
        else
            cut = true;
    }
    cut = true;
    return true;
}
} // namespace

bool RecordingReader::Next(RecordedLine& line)
{
    std::string text;
    bool cut = false;
    while (ReadBoundedLine(in, text, cut))
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
    return ReadBoundedLine(in, first, cut) &&
           (first == kRecordingHeader || ParseRecordingLine(first, arrival, bytes));
}
