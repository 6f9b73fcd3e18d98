// --version of the tools: "<program> <version>" on standard output, exit 0,
// when it is the only argument; the version is the project's, given to each
// tool at build time as MOOS_TOOLS_VERSION.
#ifndef TOOLS_PROGRAMVERSION_H
#define TOOLS_PROGRAMVERSION_H

#include <cstring>
#include <iostream>

#ifndef MOOS_TOOLS_VERSION
#define MOOS_TOOLS_VERSION "unknown"
#endif

// True, after printing the version line, when the only argument is --version.
inline bool AnsweredVersion(int argc, char** argv, const char* program)
{
    if (argc != 2 || std::strcmp(argv[1], "--version") != 0)
        return false;
    std::cout << program << " " << MOOS_TOOLS_VERSION << std::endl;
    return true;
}

#endif
