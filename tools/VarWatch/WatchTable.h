// CWatchTable: the latest value of every watched variable, and how to show it.
//
// Each update records the message and when it arrived (seconds on a clock the
// caller chooses, normally a steady clock). Two ways to show what is held:
//   - one line per update, for pipes and --once:
//       <message time %.3f> <source> <name> <value>
//     the same fields, in the same order, as LocalServer's log, with the
//     value last because it may hold spaces (see ValueText.h; an empty source
//     is "-");
//   - a table for a terminal, one row per variable sorted by name: NAME,
//     VALUE, SOURCE, TIME (the message time as the local clock's HH:MM:SS.mmm,
//     or 0 for a value stamped with the time 0), AGE (seconds since the
//     latest update arrived here) and RATE (updates per second over the last
//     five seconds), cut to the terminal's width.
//
// Threads: one thread only (VarWatch's main thread).
#ifndef VARWATCH_WATCHTABLE_H
#define VARWATCH_WATCHTABLE_H

#include "MOOSLIB/MOOSMsg.h"

#include <deque>
#include <map>
#include <string>
#include <vector>

class CWatchTable
{
public:
    // Keeps Msg as the latest value of its variable, arrived at dfNow.
    void Update(const CMOOSMsg& Msg, double dfNow);

    bool Has(const std::string& sName) const { return m_Rows.count(sName) != 0; }
    // The line of one update (newline included).
    static std::string Line(const CMOOSMsg& Msg);
    // The latest value of every variable as lines, sorted by name.
    std::string Lines() const;
    // The table as it stands at dfNow, at most nWidth columns wide.
    std::string Table(double dfNow, std::size_t nWidth) const;
    // Updates per second of sName over the last five seconds before dfNow.
    double Rate(const std::string& sName, double dfNow) const;

private:
    struct Row
    {
        CMOOSMsg Latest;
        double dfFirstArrival = 0.0;
        double dfLastArrival = 0.0;
        // Arrival times within the rate window, oldest first.
        std::deque<double> Recent;
    };
    std::vector<std::string> RowCells(const std::string& sName, const Row& R, double dfNow) const;

    std::map<std::string, Row> m_Rows;
};

#endif
