// CProcessConfigReader: the mission file reader with per-process blocks.
//
// A mission file holds one configuration block per process:
//
//     ProcessConfig = Vantor
//     {
//         AppTick   = 4
//         CommsTick = 4
//     }
//
// The header line is found with its blanks removed and without regard to
// case; the next meaningful line must begin with "{" and a line beginning with
// "}" ends the block (a "}" later in a line does not). Every space, tab and
// carriage return of a block line is removed, so names and values never hold
// blanks. Lines with no value are dropped, except matrix lines (holding "["
// or "]") and lines with an empty name such as a bare "=".
//
// Lookups walk the block from its last line upwards: when a parameter is
// given twice the later line wins, and a kept line without a value ends the
// search, so parameters above it are not found. Nothing is cached; every
// lookup rereads the file from its start.
//
// The application framework owns one reader, sets the process name once at
// start-up, before any lookup, and then reads whole-file values through the
// inherited GetValue forms and its own block through GetConfigurationParam.
// Lookups use the calling thread's own stream, so threads may look up
// parameters concurrently; a lookup moves that thread's read position.
//
// Every lookup leaves its destination untouched when it answers false. The
// forms without a process-name argument use this reader's process name and
// answer false, with a trace, while it is not set.
//
// The reader remembers the name of every parameter it was asked for, found
// or not, through a block lookup or a whole-file GetValue, so that a program
// can tell which keys of its block nobody reads (KeysAskedFor) without
// keeping a list of other readers' keys.
#ifndef MOOSLIB_PROCESSCONFIGREADER_H
#define MOOSLIB_PROCESSCONFIGREADER_H

#include <list>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "MOOSLIB/MOOSFileReader.h"

class CProcessConfigReader : public CMOOSFileReader
{
public:
    CProcessConfigReader();
    ~CProcessConfigReader() override;

    // The name of the block the single-name lookups read. Set before lookups
    // start; not guarded.
    void SetAppName(std::string sAppName);
    std::string GetAppName();

    // The mission file name given to SetFile.
    std::string GetFileName();

    // Gathers the block of process sAppName into Params, last line of the
    // block first. False when there is no such block, no "{" after its header
    // or no closing line (Params then keeps what was gathered).
    bool GetConfiguration(std::string sAppName, std::list<std::string>& Params);

    // The value of sParam (any letter case) in the block of sAppName.
    bool GetConfigurationParam(std::string sAppName, std::string sParam, std::string& sValue);
    bool GetConfigurationParam(std::string sParam, std::string& sValue);

    // Accepted only when the value begins with a digit or "-".
    bool GetConfigurationParam(std::string sAppName, std::string sParam, double& dfValue);
    bool GetConfigurationParam(std::string sParam, double& dfValue);
    bool GetConfigurationParam(std::string sAppName, std::string sParam, float& fValue);
    bool GetConfigurationParam(std::string sParam, float& fValue);

    // The value converted as atoi does: text that is not a number reads as 0.
    bool GetConfigurationParam(std::string sAppName, std::string sParam, int& nValue);
    bool GetConfigurationParam(std::string sParam, int& nValue);

    // As the int forms, the int then stored as unsigned unchanged (so -1 gives
    // the largest unsigned value), as MOOSValFromString reads the same text.
    bool GetConfigurationParam(std::string sAppName, std::string sParam, unsigned int& nValue);
    bool GetConfigurationParam(std::string sParam, unsigned int& nValue);

    // True for "TRUE" in any letter case or a number greater than 0, false for
    // any other value; answers true whenever the parameter was found.
    bool GetConfigurationParam(std::string sAppName, std::string sParam, bool& bValue);
    bool GetConfigurationParam(std::string sParam, bool& bValue);

    // The whole-file lookups of CMOOSFileReader, noting the name asked for.
    template <typename T> bool GetValue(std::string sName, T& Result)
    {
        NoteAskedFor(sName);
        return CMOOSFileReader::GetValue(sName, Result);
    }

    // The upper-case names of every parameter asked for so far.
    std::set<std::string> KeysAskedFor() const;

    // A matrix value such as [2x3]{1,2,3,4,5,6} of this process's block, with
    // its row and column counts.
    bool GetConfigurationParam(std::string sParam, std::vector<double>& Vec, int& nRows,
                               int& nCols);

private:
    // The lookup of sParam in this reader's own block, for any value type.
    template <typename T> bool GetOwnParam(std::string const& sParam, T& Value);
    bool CheckAppName();
    static bool IsGathered(std::string const& sLine);
    static void SplitBlockLine(std::string sLine, std::string& sName, std::string& sValue);

    void NoteAskedFor(std::string sName);

    std::string m_sAppName;
    // Guards m_AskedFor: lookups may run on several threads.
    mutable std::mutex m_AskedLock;
    std::set<std::string> m_AskedFor;
};

#endif // MOOSLIB_PROCESSCONFIGREADER_H
