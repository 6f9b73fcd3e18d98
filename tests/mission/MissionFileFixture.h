// A temporary directory that holds mission files written by the tests, and
// small verbs to read them back.
#ifndef MOOS_TESTS_MISSION_FILE_FIXTURE_H
#define MOOS_TESTS_MISSION_FILE_FIXTURE_H

#include "support/Files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

template <typename Reader> class MissionFileFixture : public ::testing::Test
{
protected:
    std::string PathOf(std::string const& sName) const { return (m_Dir / sName).string(); }

    // Writes sText (bytes as given) as the file sName and answers its path.
    std::string WriteFile(std::string const& sText, std::string const& sName = "Mission.moos")
    {
        return m_Temp.Write(sName, sText);
    }

    std::string ReadFile(std::string const& sPath) const { return moostest::ReadFile(sPath); }

    // Writes the mission file and points the reader at it.
    bool Open(std::string const& sText) { return m_Reader.SetFile(WriteFile(sText)); }

    // Every valid line left on the calling thread's stream.
    std::vector<std::string> RemainingLines(bool bExpand = true)
    {
        std::vector<std::string> Lines;
        while (!m_Reader.eof())
        {
            std::string sLine = m_Reader.GetNextValidLine(bExpand);
            if (!sLine.empty())
                Lines.push_back(sLine);
        }
        return Lines;
    }

    moostest::TempDir m_Temp;
    const std::filesystem::path m_Dir = m_Temp.Path();
    Reader m_Reader;
};

// Runs Action and answers what it traced to standard error.
template <typename F> std::string TraceOf(F Action)
{
    ::testing::internal::CaptureStderr();
    Action();
    return ::testing::internal::GetCapturedStderr();
}

#endif
