#include "MOOSLIB/ProcessConfigReader.h"
#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>

#include "MissionFileFixture.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class ProcessConfigTest : public MissionFileFixture<CProcessConfigReader>
{
protected:
    // Opens a mission file holding one block for process sApp.
    bool OpenBlock(std::string const& sBody, std::string const& sApp = "Vantor")
    {
        m_Reader.SetAppName(sApp);
        return Open("ProcessConfig = " + sApp + "\n{\n" + sBody + "}\n");
    }

    // The text value of sParam in this reader's own block, or "<absent>".
    std::string Param(std::string const& sParam)
    {
        std::string sValue = "<absent>";
        m_Reader.GetConfigurationParam(sParam, sValue);
        return sValue;
    }
};

TEST_F(ProcessConfigTest, BlockHeaderMatchesInAnyCaseAndSpacing)
{
    m_Reader.SetAppName("Vantor");
    ASSERT_TRUE(Open("  processCONFIG   =  vantor  \n{\n  AppTick = 4\n}\n"));
    EXPECT_EQ(Param("apptick"), "4");
    EXPECT_EQ(m_Reader.GetFileName(), PathOf("Mission.moos"));
}

TEST_F(ProcessConfigTest, LaterLineOfABlockWinsAndBlanksAreRemoved)
{
    ASSERT_TRUE(OpenBlock("Rate = 1\nName = a b\tc\nRate = 2\n"));
    EXPECT_EQ(Param("RATE"), "2");
    EXPECT_EQ(Param("name"), "abc");
}

TEST_F(ProcessConfigTest, ParameterOfAnotherProcessIsNotFound)
{
    m_Reader.SetAppName("Vantor");
    ASSERT_TRUE(Open("ProcessConfig = Compass\n{\nRate = 1\n}\nProcessConfig = Vantor\n{\n"
                     "Other = 2\n}\n"));
    EXPECT_EQ(Param("Rate"), "<absent>");
    std::string sValue;
    EXPECT_TRUE(m_Reader.GetConfigurationParam("Compass", "Rate", sValue));
    EXPECT_EQ(sValue, "1");
    EXPECT_FALSE(m_Reader.GetConfigurationParam("Nobody", "Rate", sValue));
}

TEST_F(ProcessConfigTest, BlockValuesAreExpandedAndAlsoSeenByWholeFileLookups)
{
    ASSERT_TRUE(Open("define: TICK = 8\nProcessConfig = Vantor\n{\nAppTick = ${TICK}\n}\n"
                     "AppTick = 1\n"));
    m_Reader.SetAppName("Vantor");
    EXPECT_EQ(Param("AppTick"), "8");
    std::string sWhole;
    EXPECT_TRUE(m_Reader.GetValue("AppTick", sWhole));
    EXPECT_EQ(sWhole, "8") << "the first entry of the file wins, inside a block too";
}

TEST_F(ProcessConfigTest, DoubleFormNeedsADigitOrMinusFirst)
{
    ASSERT_TRUE(OpenBlock("plus = +1\ndot = .5\nminus = -2.5\nword = x\n"));
    double dfValue = 7.0;
    EXPECT_FALSE(m_Reader.GetConfigurationParam("plus", dfValue));
    EXPECT_FALSE(m_Reader.GetConfigurationParam("dot", dfValue));
    EXPECT_FALSE(m_Reader.GetConfigurationParam("word", dfValue));
    EXPECT_EQ(dfValue, 7.0);
    EXPECT_TRUE(m_Reader.GetConfigurationParam("minus", dfValue));
    EXPECT_EQ(dfValue, -2.5);
    float fValue = 0.0f;
    EXPECT_TRUE(m_Reader.GetConfigurationParam("Vantor", "minus", fValue));
    EXPECT_FLOAT_EQ(fValue, -2.5f);
}

TEST_F(ProcessConfigTest, WholeNumberFormsReadAnyTextAndNeverWrap)
{
    ASSERT_TRUE(OpenBlock("word = abc\nneg = -1\nbig = 99999999999\n"));
    int nValue = 7;
    EXPECT_TRUE(m_Reader.GetConfigurationParam("word", nValue));
    EXPECT_EQ(nValue, 0);
    EXPECT_TRUE(m_Reader.GetConfigurationParam("big", nValue));
    EXPECT_EQ(nValue, INT_MAX);
}

TEST_F(ProcessConfigTest, UnsignedFormReadsTheTextAsNameValueListsDo)
{
    ASSERT_TRUE(OpenBlock("neg = -1\nbig = 99999999999\nsmall = 12\n"));
    for (char const* sName : {"neg", "big", "small"})
    {
        std::string sText;
        ASSERT_TRUE(m_Reader.GetConfigurationParam(sName, sText));
        unsigned int nFromBlock = 7, nFromList = 8;
        EXPECT_TRUE(m_Reader.GetConfigurationParam(sName, nFromBlock));
        EXPECT_TRUE(MOOSValFromString(nFromList, "x=" + sText, "x"));
        EXPECT_EQ(nFromBlock, nFromList) << sName;
    }
    unsigned int nValue = 0;
    m_Reader.GetConfigurationParam("neg", nValue);
    EXPECT_EQ(nValue, UINT_MAX);
}

TEST_F(ProcessConfigTest, FlagFormReadsTrueAndPositiveNumbers)
{
    ASSERT_TRUE(OpenBlock("a = TRUE\nb = True\nc = 1\nd = FALSE\ne = 0\n"));
    for (char const* sName : {"a", "b", "c"})
    {
        bool bFlag = false;
        EXPECT_TRUE(m_Reader.GetConfigurationParam(sName, bFlag));
        EXPECT_TRUE(bFlag) << sName;
    }
    for (char const* sName : {"d", "e"})
    {
        bool bFlag = true;
        EXPECT_TRUE(m_Reader.GetConfigurationParam(sName, bFlag));
        EXPECT_FALSE(bFlag) << sName;
    }
}

TEST_F(ProcessConfigTest, StrayOpeningBraceIsTracedAndReadingGoesOn)
{
    ASSERT_TRUE(OpenBlock("a = 1\n{\nb = 2\n"));
    std::string sTrace = TraceOf([&] { EXPECT_EQ(Param("a"), "1"); });
    EXPECT_EQ(sTrace,
              "CProcessConfigReader::GetConfiguration() missing \"}\" syntax error in mission "
              "file\n");
    EXPECT_EQ(Param("b"), "2");
}

TEST_F(ProcessConfigTest, ClosingBraceAfterTextDoesNotEndTheBlock)
{
    ASSERT_TRUE(OpenBlock("a = 1 }\nb = 2\n"));
    EXPECT_EQ(Param("a"), "1}");
    EXPECT_EQ(Param("b"), "2");
}

TEST_F(ProcessConfigTest, ValuelessLineEndsEverySearchThatReachesIt)
{
    ASSERT_TRUE(OpenBlock("above = 1\ndropped =\nbare\nbelow = 2\n[2x2]\nlast = 3\n"));
    std::list<std::string> Lines;
    ASSERT_TRUE(m_Reader.GetConfiguration("Vantor", Lines));
    EXPECT_THAT(Lines, ElementsAre("last=3", "[2x2]", "below=2", "above=1"));
    EXPECT_EQ(Param("last"), "3");
    EXPECT_EQ(Param("below"), "<absent>");
    EXPECT_EQ(Param("above"), "<absent>");
}

TEST_F(ProcessConfigTest, UnterminatedBlockAnswersFalseAndKeepsWhatWasGathered)
{
    m_Reader.SetAppName("Vantor");
    ASSERT_TRUE(Open("ProcessConfig = Vantor\n{\na = 1\nb = 2"));
    std::list<std::string> Lines;
    EXPECT_FALSE(m_Reader.GetConfiguration("Vantor", Lines));
    EXPECT_THAT(Lines, ElementsAre("b=2", "a=1"));
    EXPECT_EQ(Param("a"), "<absent>");
}

TEST_F(ProcessConfigTest, HeaderWithoutOpeningBraceIsNoBlock)
{
    m_Reader.SetAppName("Vantor");
    ASSERT_TRUE(Open("ProcessConfig = Vantor\na = 1\n}\n"));
    EXPECT_EQ(Param("a"), "<absent>");
}

TEST_F(ProcessConfigTest, SingleNameLookupsNeedAnAppName)
{
    ASSERT_TRUE(Open("ProcessConfig = Vantor\n{\na = 1\n}\n"));
    std::string sValue = "untouched";
    std::string sTrace =
        TraceOf([&] { EXPECT_FALSE(m_Reader.GetConfigurationParam("a", sValue)); });
    EXPECT_EQ(sTrace, "App Name not set in CProcessConfigReader::GetConfigurationParam()\n");
    EXPECT_EQ(sValue, "untouched");
    EXPECT_TRUE(m_Reader.GetConfigurationParam("Vantor", "a", sValue));
    EXPECT_EQ(sValue, "1");
}

TEST_F(ProcessConfigTest, MatrixParameterGivesItsShape)
{
    ASSERT_TRUE(OpenBlock("M = [2x3]{1, 2, 3, 4, 5, 6}\nBad = [0x3]{}\n"));
    std::vector<double> Values{9.0};
    int nRows = -1, nCols = -1;
    EXPECT_FALSE(m_Reader.GetConfigurationParam("Bad", Values, nRows, nCols));
    EXPECT_THAT(Values, ElementsAre(9.0));
    EXPECT_EQ(nRows, -1);
    ASSERT_TRUE(m_Reader.GetConfigurationParam("M", Values, nRows, nCols));
    EXPECT_THAT(Values, ElementsAre(1, 2, 3, 4, 5, 6));
    EXPECT_EQ(nRows, 2);
    EXPECT_EQ(nCols, 3);
}

TEST_F(ProcessConfigTest, MissingMissionFileAnswersFalseQuietly)
{
    m_Reader.SetAppName("Vantor");
    EXPECT_FALSE(m_Reader.SetFile(PathOf("absent.moos")));
    std::string sTrace = TraceOf([&] { EXPECT_EQ(Param("a"), "<absent>"); });
    EXPECT_EQ(sTrace, "");
}

// Every name asked for is remembered, upper-cased, found or not, through
// every form of lookup: what tells a misspelt key from one somebody reads.
TEST_F(ProcessConfigTest, NamesAskedForAreRememberedFoundOrNot)
{
    ASSERT_TRUE(OpenBlock("AppTick = 4\nRate = 2\n"));
    double dfValue = 0.0;
    bool bValue = false;
    std::string sValue;
    m_Reader.GetConfigurationParam("apptick", dfValue);
    m_Reader.GetConfigurationParam("Absent", bValue);
    m_Reader.GetConfigurationParam("Compass", "Heading", sValue);
    m_Reader.GetValue("ServerPort", sValue);
    m_Reader.GetValue("MOOSTimeWarp", dfValue);
    EXPECT_THAT(m_Reader.KeysAskedFor(),
                ElementsAre("ABSENT", "APPTICK", "HEADING", "MOOSTIMEWARP", "SERVERPORT"));
}
