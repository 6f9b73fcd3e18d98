#include "MOOSLIB/MOOSGlobalHelper.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// Parses matrix text; a failed parse must leave the vector as it was.
class MatrixTextTest : public ::testing::Test
{
protected:
    bool Parse(const std::string& sText)
    {
        return MOOSVectorFromString(sText, m_Values, m_nRows, m_nCols);
    }
    void ExpectUntouchedAfterFailure(const std::string& sText)
    {
        m_Values = {42.0};
        EXPECT_FALSE(Parse(sText)) << sText;
        EXPECT_EQ(m_Values, std::vector<double>({42.0})) << sText;
    }
    std::vector<double> m_Values;
    int m_nRows = -99;
    int m_nCols = -99;
};
} // namespace

TEST_F(MatrixTextTest, RowsAndColumnsAreReadInRowOrder)
{
    ASSERT_TRUE(Parse("[2x3]{1,2,3,4,5,6}"));
    EXPECT_EQ(m_nRows, 2);
    EXPECT_EQ(m_nCols, 3);
    EXPECT_EQ(m_Values, std::vector<double>({1, 2, 3, 4, 5, 6}));
}

TEST_F(MatrixTextTest, CountWithoutColumnsMeansOneColumn)
{
    ASSERT_TRUE(Parse("[3]{7,8,9}"));
    EXPECT_EQ(m_nRows, 3);
    EXPECT_EQ(m_nCols, 1);
    EXPECT_EQ(m_Values, std::vector<double>({7, 8, 9}));
}

TEST_F(MatrixTextTest, WrittenTextReadsBackTheSameValues)
{
    std::vector<double> Original = {1, 2.5, -3};
    std::string sText = DoubleVector2String(Original);
    EXPECT_EQ(sText, "[3x1]{1.0000,2.5000,-3.0000}");
    ASSERT_TRUE(Parse(sText));
    EXPECT_EQ(m_Values, Original);
    EXPECT_EQ(m_nRows, 3);
    EXPECT_EQ(m_nCols, 1);
    EXPECT_EQ(DoubleVector2String({}), "[0x1]{}");
}

TEST_F(MatrixTextTest, IntegersAreWrittenInTheStreamFormat)
{
    std::stringstream ss;
    Write(ss, std::vector<int>{4, -5});
    EXPECT_EQ(ss.str(), "[2x1]{4,-5}");
}

TEST_F(MatrixTextTest, MalformedTextOrTooFewElementsAreRefused)
{
    for (const char* text :
         {"2x3]{1,2,3,4,5,6}", "[0x3]{}", "[2x3]1,2,3,4,5,6", "[-2x3]{1,2,3,4,5,6}",
          "[2x-3]{1,2,3,4,5,6}", "[2000000000x2000000000]{1}", "[2x3]{1,2,3,4,5}",
          "[3]{1,2},M=[2]{8,9}", "[4]{1,2,3"})
    {
        SCOPED_TRACE(text);
        ExpectUntouchedAfterFailure(text);
    }
}

TEST_F(MatrixTextTest, CountsAreKeptOnceTheHeadIsRead)
{
    ExpectUntouchedAfterFailure("[0x3]{}");
    EXPECT_EQ(m_nRows, 0);
    EXPECT_EQ(m_nCols, 3);
}

TEST_F(MatrixTextTest, FloatAndUnsignedElements)
{
    std::vector<float> Floats;
    ASSERT_TRUE(MOOSVectorFromString("[1x2]{0.5,-1.5}", Floats, m_nRows, m_nCols));
    EXPECT_EQ(Floats, std::vector<float>({0.5f, -1.5f}));
    std::vector<unsigned int> Counts;
    ASSERT_TRUE(MOOSVectorFromString("[2]{3,4}", Counts, m_nRows, m_nCols));
    EXPECT_EQ(Counts, std::vector<unsigned int>({3, 4}));
}

TEST_F(MatrixTextTest, NamedMatrixIsFoundInAList)
{
    std::string sList = "Gain=[2]{0.1,0.2},Name=xray";
    ASSERT_TRUE(MOOSValFromString(m_Values, m_nRows, m_nCols, sList, "gain", true));
    EXPECT_EQ(m_Values, std::vector<double>({0.1, 0.2}));
    EXPECT_EQ(m_nCols, 1) << "an 'x' after the matrix is not its column count";
    EXPECT_FALSE(MOOSValFromString(m_Values, m_nRows, m_nCols, sList, "gain", false));
    EXPECT_FALSE(MOOSValFromString(m_Values, m_nRows, m_nCols, "Gain =[1]{1}", "Gain"));
    std::vector<unsigned int> Counts;
    ASSERT_TRUE(MOOSValFromString(Counts, m_nRows, m_nCols, "Bins=[1x2]{5,6}", "Bins"));
    EXPECT_EQ(Counts, std::vector<unsigned int>({5, 6}));
}

// ---------------------------------------------------------------------------

TEST(TokenLookupTest, FirstLineWithTheNameGivesItsValueWithoutBlanks)
{
    std::list<std::string> Lines = {"no equals here", " AppTick = 4 \r", "apptick=8"};
    std::string sVal = "untouched";
    ASSERT_TRUE(MOOSGetValueFromToken(Lines, "APPTICK", sVal));
    EXPECT_EQ(sVal, "4");
    sVal = "untouched";
    EXPECT_FALSE(MOOSGetValueFromToken(Lines, "CommsTick", sVal));
    EXPECT_EQ(sVal, "untouched");
}

TEST(AlogTest, FindsTheNextLineOfTheNamedMessage)
{
    std::istringstream Log("%% header\n"
                           "\n"
                           "1.5 NAV_X pNav 12\n"
                           "2.5 nav_y pNav  3 4 5\n"
                           "3.5 NAV_Y pNav 6\n");
    double dfTime = 0.0;
    std::string sSource;
    std::string sValue;
    ASSERT_TRUE(GetNextAlogLineByMessageName(Log, "NAV_Y", dfTime, sSource, sValue));
    EXPECT_DOUBLE_EQ(dfTime, 2.5);
    EXPECT_EQ(sSource, "pNav");
    EXPECT_EQ(sValue, "  3 4 5");
    ASSERT_TRUE(GetNextAlogLineByMessageName(Log, "NAV_Y", dfTime, sSource, sValue));
    EXPECT_DOUBLE_EQ(dfTime, 3.5);
    EXPECT_EQ(sValue, " 6");
}

TEST(AlogTest, EndOfLogLeavesTheLastTimeSeen)
{
    std::istringstream Log("1.0 A s 1\nnot-a-time B s 2\n4.0 C s 3\n");
    double dfTime = 0.0;
    std::string sSource = "src";
    std::string sValue = "val";
    EXPECT_FALSE(GetNextAlogLineByMessageName(Log, "B", dfTime, sSource, sValue));
    EXPECT_DOUBLE_EQ(dfTime, 4.0);
    EXPECT_EQ(sSource, "src");
    EXPECT_EQ(sValue, "val");
}

TEST(ThirdPartyTextTest, TextsEndInANul)
{
    EXPECT_EQ(MOOSThirdPartyStatusString("OK"), std::string("STATUS:OK,\0", 11));
    double dfThrust = 12.5;
    EXPECT_EQ(MOOSThirdPartyActuationString(nullptr, nullptr, &dfThrust),
              std::string("ACTUATION:THRUST=12.5,\0", 23));
    double dfRudder = -1.0 / 3.0;
    double dfElevator = 2;
    EXPECT_EQ(MOOSThirdPartyActuationString(&dfRudder, &dfElevator, nullptr),
              std::string("ACTUATION:RUDDER=-0.333333,ELEVATOR=2,\0", 39));
    EXPECT_EQ(MOOSThirdPartyActuationString(nullptr, nullptr, nullptr),
              std::string("ACTUATION:\0", 11));
}

// ---------------------------------------------------------------------------

namespace
{
// A fresh temporary directory per test, removed afterwards.
class FileSystemTest : public ::testing::Test
{
protected:
    std::string Path(const std::string& sName) const { return m_sDir + "/" + sName; }
    void MakeFile(const std::string& sName) const { std::ofstream(Path(sName)) << "x"; }
    static std::string Stderr(bool (*pfnAction)(const std::string&), const std::string& s,
                              bool& bResult)
    {
        ::testing::internal::CaptureStderr();
        bResult = pfnAction(s);
        return ::testing::internal::GetCapturedStderr();
    }
    moostest::TempDir m_Dir;
    const std::string m_sDir = m_Dir.Path().string();
};
} // namespace

TEST_F(FileSystemTest, FilePartsSplitDirectoryNameAndExtension)
{
    std::string sDir, sFile, sExt;
    EXPECT_TRUE(MOOSFileParts("/a/b/c.tar.gz", sDir, sFile, sExt));
    EXPECT_EQ(sDir, "/a/b");
    EXPECT_EQ(sFile, "c.tar");
    EXPECT_EQ(sExt, "gz");
    EXPECT_TRUE(MOOSFileParts("Mission", sDir, sFile, sExt));
    EXPECT_EQ(sDir, "");
    EXPECT_EQ(sFile, "Mission");
    EXPECT_EQ(sExt, "");
}

TEST_F(FileSystemTest, DirectoryContentsListFilesOrSubdirectoriesSorted)
{
    MakeFile("b.moos");
    MakeFile("a.moos");
    ASSERT_EQ(mkdir(Path("logs").c_str(), 0755), 0);
    ASSERT_EQ(symlink("/nonexistent/target", Path("dangling").c_str()), 0);
    std::list<std::string> Files = {"kept"};
    ASSERT_TRUE(GetDirectoryContents(m_sDir, Files, true));
    EXPECT_EQ(Files, std::list<std::string>({"a.moos", "b.moos", "kept"}));
    std::list<std::string> Dirs;
    ASSERT_TRUE(GetDirectoryContents(m_sDir, Dirs, false));
    EXPECT_EQ(Dirs, std::list<std::string>({"logs"}));
}

TEST_F(FileSystemTest, UnreadableDirectoryIsReported)
{
    std::list<std::string> Files;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(GetDirectoryContents(Path("missing"), Files));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "error reading directory contents No such file or directory\n\n");
    EXPECT_TRUE(Files.empty());
}

TEST_F(FileSystemTest, CreatingADirectoryThatExistsSucceedsQuietly)
{
    bool bResult = false;
    EXPECT_EQ(Stderr(MOOSCreateDirectory, Path("new"), bResult), "");
    EXPECT_TRUE(bResult);
    struct stat Status;
    ASSERT_EQ(stat(Path("new").c_str(), &Status), 0);
    EXPECT_TRUE(S_ISDIR(Status.st_mode));
    EXPECT_EQ(Stderr(MOOSCreateDirectory, Path("new"), bResult), "");
    EXPECT_TRUE(bResult);
}

TEST_F(FileSystemTest, CreatingADirectoryOverAFileOrWithoutItsParentFails)
{
    MakeFile("plain");
    for (const auto& [name, error] :
         {std::pair<const char*, const char*>{"plain",
                                              "Error 17  making directory :  \"File exists\"\n"},
          {"no/such", "Error 2  making directory :  \"No such file or directory\"\n"}})
    {
        bool bResult = true;
        EXPECT_EQ(Stderr(MOOSCreateDirectory, Path(name), bResult), error);
        EXPECT_FALSE(bResult) << name;
    }
}
