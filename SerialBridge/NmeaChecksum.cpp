#include "NmeaChecksum.h"

#include <cstdio>

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

unsigned char NmeaChecksum(std::string_view text)
{
    unsigned char sum = 0;
    for (const char c : text)
        sum ^= static_cast<unsigned char>(c);
    return sum;
}

std::string WithChecksum(const std::string& body)
{
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", NmeaChecksum(body));
    return "$" + body + "*" + digits;
}

bool HasValidChecksum(const std::string& line)
{
    const std::string::size_type length = TextLength(line);
    if (length < 4 || line[0] != '$' || line[length - 3] != '*')
        return false;
    const int high = HexValue(line[length - 2]);
    const int low = HexValue(line[length - 1]);
    if (high < 0 || low < 0)
        return false;
    return NmeaChecksum(std::string_view(line).substr(1, length - 4)) == high * 16 + low;
}
