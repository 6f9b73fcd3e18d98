// CWatchList: which variables VarWatch asks the server for.
//
// It starts from the command line's operands: each is a variable name, or a
// pattern when it holds '*' (any run of characters) or '?' (any one
// character), matched case-sensitively as MOOSWildCmp matches. Names are
// wanted at once; a pattern adds the names it matches among the variables
// that the server lists (see Discover), so a variable that appears later is
// picked up at the next listing. Names are never dropped.
//
// Threads: every member may be called from any thread (the comms client's
// connect callback reads the names while the main thread discovers more);
// one internal lock guards the names.
#ifndef VARWATCH_WATCHLIST_H
#define VARWATCH_WATCHLIST_H

#include <mutex>
#include <set>
#include <string>
#include <vector>

class CWatchList
{
public:
    explicit CWatchList(const std::vector<std::string>& Operands);

    static bool IsPattern(const std::string& sOperand);
    bool HasPatterns() const { return !m_Patterns.empty(); }
    // Names given as such on the command line, sorted.
    const std::set<std::string>& ExactNames() const { return m_ExactNames; }

    // Adds the names of the server's comma-separated variable list that a
    // pattern matches; returns how many were new.
    std::size_t Discover(const std::string& sServerList);
    // Every name wanted so far, sorted.
    std::vector<std::string> Names() const;

private:
    std::set<std::string> m_ExactNames;
    std::vector<std::string> m_Patterns;

    mutable std::mutex m_Lock;
    std::set<std::string> m_Names; // guarded by m_Lock
};

#endif
