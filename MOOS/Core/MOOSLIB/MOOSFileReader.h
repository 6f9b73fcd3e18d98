// CMOOSFileReader: reads a MOOS mission file.
//
// A mission file is plain text: global entries ("name = value"), "define:"
// lines that set substitution variables, references "${NAME}" expanded from
// those definitions or from the environment, and one configuration block per
// process (read by CProcessConfigReader, which derives from this class).
//
// What the reader makes of a line:
//   - whitespace before a line is skipped, so blank lines vanish; the line is
//     then trimmed of space, tab, newline and carriage return at both ends;
//   - a line beginning with "//" is a comment and is skipped;
//   - elsewhere the first "//" and all after it are cut off;
//   - with verbatim quoting on (the default) the first pair of double quotes
//     is removed and the text between them is kept as it is, so a "//" inside
//     the quotes does not start a comment;
//   - whole-file lookups remove every space, tab and carriage return of an
//     entry before splitting it at its first "="; names compare without
//     regard to case and the first matching entry of the file wins.
//
// Only a regular file is read: a directory, a FIFO or a device is refused like
// a missing file, since it would read as nothing, block or never end. Lines
// are read whole up to kMaxLineBytes; a longer line is traced and ends the
// reading like a read error (cutting it would silently change a value), and a
// line's references are not expanded beyond that length either, so no file
// makes the reader hold more than a line of that size at a time. Every loop
// over the file ends at the end of the file or at the first read error (a
// stream that fails never reports end of file, so the reader never waits for
// one).
//
// Threads: each thread that reads through one reader gets its own stream on
// the file, so threads never move each other's read position. A stream
// belongs to one thread's lifetime: it is closed when its thread ends, and a
// later thread always starts at the beginning of the file. The stream
// table, the file name and the definition table are guarded by locks, so
// any thread may call any operation. A thread's stream is kept alive
// for the length of every operation that uses it, even when another thread
// calls SetFile or ClearFileMap meanwhile; the raw pointer that GetFile hands
// out, though, is only valid until the next SetFile, ClearFileMap or the
// destructor.
//
// Ownership: the reader owns its lock and every stream of its table.
#ifndef MOOSLIB_MOOSFILEREADER_H
#define MOOSLIB_MOOSFILEREADER_H

#include <atomic>
#include <cstddef>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "MOOSLIB/MOOSLock.h"

class CMOOSFileReader
{
public:
    CMOOSFileReader();
    virtual ~CMOOSFileReader();
    CMOOSFileReader(const CMOOSFileReader&) = delete;
    CMOOSFileReader& operator=(const CMOOSFileReader&) = delete;

    // The longest line the reader reads or makes by expanding references.
    static constexpr std::size_t kMaxLineBytes = std::size_t(1) << 20;

    // Names the mission file. Every stream on a previously named file is
    // closed first. Answers false (and leaves the reader with no open stream
    // and no definitions) when the file cannot be opened for reading or is no
    // regular file; otherwise builds the definition table and answers true.
    bool SetFile(std::string const& sFile);

    // The calling thread's stream, opened on the file when needed; null when
    // the file cannot be opened (the next call tries again). Owned by the
    // reader; valid until SetFile, ClearFileMap or destruction.
    std::ifstream* GetFile();

    // Whether the calling thread's stream is open (opening it if needed).
    bool IsOpen();

    // False when the file is not open; otherwise whether the calling thread's
    // stream can read no further: end of file, or a read error.
    bool eof();

    // Rewinds the calling thread's stream to the start of the file, clearing
    // any end-of-file or error state. False when the file is not open.
    bool Reset();

    // The next meaningful line of the calling thread's stream, comments
    // removed; references are expanded when bDoSubstitution is set. Empty at
    // the end of the file or when the file is not open.
    std::string GetNextValidLine(bool bDoSubstitution = true);

    // Trims sLine in place and answers whether it begins with "//".
    static bool IsComment(std::string& sLine);

    // Splits an entry line at its first "=" into name and value (further "="
    // stay in the value). Carriage returns are removed, and spaces and tabs
    // too unless bPreserveWhiteSpace is set. False, with both outputs left
    // untouched, when the line holds no "=".
    static bool GetTokenValPair(std::string sLine, std::string& sTok, std::string& sVal,
                                bool bPreserveWhiteSpace = false);

    // Whole-file lookups: the first entry of the file, inside or outside a
    // process block, whose name matches sName without regard to case. Each
    // call rereads the file from the start. All leave the destination
    // untouched when they answer false.
    bool GetValue(std::string sName, std::string& sResult);
    // Numeric forms accept a value made only of "1234567890.eE-+" (an empty
    // value counts, and reads as 0).
    bool GetValue(std::string sName, double& dfResult);
    bool GetValue(std::string sName, float& fResult);
    bool GetValue(std::string sName, int& nResult);
    // A negative value reads as 0.
    bool GetValue(std::string sName, unsigned int& nResult);
    // True for "TRUE" in any letter case or a number greater than 0, false for
    // any other value; answers true whenever the name was found.
    bool GetValue(std::string sName, bool& bResult);

    // Moves the calling thread's read position forward to just after the next
    // line that equals sLine once blanks are removed from both, compared
    // without regard to case. No rewind: a line before the current position
    // is not found. False at the end of the file.
    bool GoTo(std::string sLine);

    // Fills the definition table from every "define:" line of the file (a
    // later definition of a name replaces an earlier one) and rewinds the
    // calling thread's stream. False when the file is not open.
    bool BuildLocalShellVars();

    // Replaces every "${NAME}" in sVal by the file's definition of NAME, else
    // by the environment variable NAME. A name known to neither is traced and
    // left in the line bare (without "${" and "}"). An empty name ("${}", or
    // "${" ending the line) is removed without a trace; the rest of the line
    // stays. Inserted values are not expanded again, so a definition that
    // refers to itself cannot grow.
    bool DoVariableExpansion(std::string& sVal);

    // Writes a copy of the mission file to sCopyName in which each entry whose
    // name (blanks removed, case-sensitive) is a key of Overloads is commented
    // out, marked as the default and followed by "name = value" from the map.
    // Every other line is copied as it stands. False when the mission file is
    // not open, when the copy would overwrite the mission file itself, or when
    // the copy cannot be written in full.
    bool MakeOverloadedCopy(std::string const& sCopyName,
                            std::map<std::string, std::string>& Overloads);

    // Turns the removal of the first pair of double quotes on and off.
    void EnableVerbatimQuoting(bool bEnable);

    // Closes and forgets every thread's stream; each thread reopens the file
    // at its next access, at the start.
    void ClearFileMap();

protected:
    // The name given to the last SetFile (empty before).
    std::string StoredFileName() const;

    // How mission values read as flags and whole numbers, shared with the
    // block lookups: a flag is "TRUE" in any letter case or a number greater
    // than 0; a whole number is read as atoi does, but a value beyond the
    // range of int gives its nearest end instead of wrapping round.
    static bool ToFlag(std::string const& sVal);
    static int ToInt(std::string const& sVal);

private:
    using StreamPtr = std::shared_ptr<std::ifstream>;

    // The calling thread's stream, opened when needed; null when the file
    // cannot be opened. Callers hold the pointer for the whole operation.
    StreamPtr ThreadStream();
    static bool Rewind(std::ifstream& File);
    static bool AtEnd(std::ifstream const& File);
    // Reads the next meaningful line into sLine; false when nothing more can
    // be read (end of file or a read error).
    bool ReadValidLine(std::ifstream& File, bool bDoSubstitution, std::string& sLine);
    static void RemoveVerbatimQuotes(std::string& sLine, std::string::size_type& nComment);
    std::string ExpansionOf(std::string const& sName) const;
    static void AppendExpansion(std::string& sOut, std::string const& sExpansion,
                                std::string const& sName);
    static std::string OverloadedForm(std::string const& sLine,
                                      std::map<std::string, std::string> const& Overloads);
    bool IsTheMissionFile(std::string const& sPath) const;

    // The streams of the threads that read through this reader, one per
    // thread's lifetime: keyed by a number that no later thread is given
    // again (unlike pthread_t), and shared with the threads themselves, so
    // that a thread that ends releases its stream and descriptor at once,
    // while the reader lives on. Has a lock of its own, taken after m_Lock.
    class StreamTable;

    // Guards m_sFileName and m_ShellVars, and makes each change of the stream
    // table one step with the file name it belongs to.
    mutable CMOOSLock m_Lock;
    std::string m_sFileName;
    std::map<std::string, std::string> m_ShellVars;
    const std::shared_ptr<StreamTable> m_pStreams;

    std::atomic<bool> m_bVerbatimQuoting;
};

#endif // MOOSLIB_MOOSFILEREADER_H
