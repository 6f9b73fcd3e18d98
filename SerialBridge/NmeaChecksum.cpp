#include "NmeaChecksum.h"

namespace
{
int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The line without its trailing CR LF (or LF, or CR).
std::string::size_type TextLength(const std::string& line)
{
    std::string::size_type length = line.size();
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r'))
        --length;
    return length;
}
} // namespace

bool HasValidChecksum(const std::string& line)
{
    const std::string::size_type length = TextLength(line);
    if (length < 4 || line[0] != '$' || line[length - 3] != '*')
        return false;
    const int high = HexValue(line[length - 2]);
    const int low = HexValue(line[length - 1]);
    if (high < 0 || low < 0)
        return false;
    unsigned char sum = 0;
    for (std::string::size_type i = 1; i < length - 3; ++i)
        sum ^= static_cast<unsigned char>(line[i]);
    return sum == high * 16 + low;
}
