#include "MOOSLIB/MOOSFileReader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include "MissionFileFixture.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class FileReaderTest : public MissionFileFixture<CMOOSFileReader>
{
protected:
    // The whole-file text value of sName, or "<absent>".
    std::string Lookup(std::string const& sName)
    {
        std::string sValue = "<absent>";
        m_Reader.GetValue(sName, sValue);
        return sValue;
    }
};

TEST_F(FileReaderTest, ValidLinesDropCommentsBlankLinesAndTrailingComments)
{
    ASSERT_TRUE(Open("// heading\n\n   \t// indented comment\n  a = 1 // note\r\n\r\nb=2\r\n"));
    EXPECT_THAT(RemainingLines(), ElementsAre("a = 1 ", "b=2"));
}

TEST_F(FileReaderTest, VerbatimQuotesProtectSlashesUnlessQuotingIsOff)
{
    ASSERT_TRUE(Open("url = \"http://host/x\" // where\nlone = \"a // b\n"));
    EXPECT_THAT(RemainingLines(), ElementsAre("url = http://host/x ", "lone = \"a "));
    m_Reader.EnableVerbatimQuoting(false);
    m_Reader.Reset();
    EXPECT_THAT(RemainingLines(), ElementsAre("url = \"http:", "lone = \"a "));
}

TEST_F(FileReaderTest, LookupIgnoresCaseAndBlanksAndTheFirstEntryWins)
{
    ASSERT_TRUE(Open("ProcessConfig = A\n{\n  Speed = 1 2\t3\n}\nspeed = 9\nkey = a=b\n"));
    EXPECT_EQ(Lookup("SPEED"), "123");
    EXPECT_EQ(Lookup("Key"), "a=b");
    EXPECT_EQ(Lookup("missing"), "<absent>");
}

TEST_F(FileReaderTest, NumericFormsAcceptOnlyNumericTextAndEmptyReadsAsZero)
{
    ASSERT_TRUE(Open("empty =\nword = 12a\nbig = 99999999999\nneg = -5\nhalf = 0.5\n"));
    double dfValue = 7.0;
    int nValue = 7;
    EXPECT_TRUE(m_Reader.GetValue("empty", dfValue));
    EXPECT_TRUE(m_Reader.GetValue("empty", nValue));
    EXPECT_EQ(dfValue, 0.0);
    EXPECT_EQ(nValue, 0);
    EXPECT_FALSE(m_Reader.GetValue("word", dfValue));
    EXPECT_FALSE(m_Reader.GetValue("word", nValue));
    EXPECT_FALSE(m_Reader.GetValue("missing", nValue));
    EXPECT_EQ(nValue, 0);
    EXPECT_TRUE(m_Reader.GetValue("big", nValue));
    EXPECT_EQ(nValue, INT_MAX) << "an out-of-range number must not wrap round";
    unsigned int nUnsigned = 7;
    EXPECT_TRUE(m_Reader.GetValue("neg", nUnsigned));
    EXPECT_EQ(nUnsigned, 0U);
    float fValue = 0.0f;
    EXPECT_TRUE(m_Reader.GetValue("half", fValue));
    EXPECT_FLOAT_EQ(fValue, 0.5f);
}

TEST_F(FileReaderTest, FlagIsTrueForTrueOrAPositiveNumber)
{
    ASSERT_TRUE(Open("a=TRUE\nb=true\nc=1\nd=2.5\ne=0\nf=-1\ng=yes\nh=\n"));
    for (char const* sName : {"a", "b", "c", "d"})
    {
        bool bFlag = false;
        EXPECT_TRUE(m_Reader.GetValue(sName, bFlag));
        EXPECT_TRUE(bFlag) << sName;
    }
    for (char const* sName : {"e", "f", "g", "h"})
    {
        bool bFlag = true;
        EXPECT_TRUE(m_Reader.GetValue(sName, bFlag));
        EXPECT_FALSE(bFlag) << sName;
    }
    bool bUntouched = true;
    EXPECT_FALSE(m_Reader.GetValue("missing", bUntouched));
    EXPECT_TRUE(bUntouched);
}

TEST_F(FileReaderTest, ReferencesExpandFromDefinitionsThenTheEnvironment)
{
    setenv("MOOS_TEST_HOST", "envhost", 1);
    setenv("MOOS_TEST_BOTH", "fromenv", 1);
    ASSERT_TRUE(Open("define: PORT = 90\ndefine: PORT = 9000\ndefine:BOTH=fromfile\n"
                     "define: NOTHING =\n"
                     "port = ${PORT}\nhost = ${MOOS_TEST_HOST}\nboth = ${BOTH}\n"
                     "path = a${NOTHING}b\n"));
    EXPECT_EQ(Lookup("port"), "9000");
    EXPECT_EQ(Lookup("host"), "envhost");
    EXPECT_EQ(Lookup("both"), "fromfile");
    EXPECT_EQ(Lookup("path"), "ab");
    unsetenv("MOOS_TEST_HOST");
    unsetenv("MOOS_TEST_BOTH");
}

TEST_F(FileReaderTest, UnknownReferenceIsTracedAndLeftBare)
{
    ASSERT_TRUE(Open("x = <${MOOS_TEST_UNSET_NAME}>\n"));
    std::string sValue;
    std::string sTrace = TraceOf([&] { m_Reader.GetValue("x", sValue); });
    EXPECT_EQ(sValue, "<MOOS_TEST_UNSET_NAME>");
    EXPECT_EQ(sTrace, "Error in mission file\n\t no shell or mission file expansion fouind for "
                      "${MOOS_TEST_UNSET_NAME}\n");
}

TEST_F(FileReaderTest, SelfReferringDefinitionsDoNotGrow)
{
    ASSERT_TRUE(Open("define: A = ${A}x\ndefine: B = ${C}\ndefine: C = ${B}\n"
                     "a = ${A}\nb = ${B}\n"));
    EXPECT_EQ(Lookup("a"), "${A}x");
    EXPECT_EQ(Lookup("b"), "${C}");
}

TEST_F(FileReaderTest, EmptyOrUnclosedReferenceKeepsTheRestOfTheLine)
{
    ASSERT_TRUE(Open("define: V = 1\nx = a${}b${V}\ny = c${V\nz = d${\n"));
    std::string sTrace = TraceOf(
        [&]
        {
            EXPECT_EQ(Lookup("x"), "ab1");
            EXPECT_EQ(Lookup("y"), "c1");
            EXPECT_EQ(Lookup("z"), "d");
        });
    EXPECT_EQ(sTrace, "") << "an empty name is no error";
}

TEST_F(FileReaderTest, GoToOnlyMovesForward)
{
    ASSERT_TRUE(Open("first\nProcess Config = Mine\nafter = 1\n"));
    EXPECT_TRUE(m_Reader.GoTo("processconfig=MINE"));
    EXPECT_EQ(m_Reader.GetNextValidLine(), "after = 1");
    EXPECT_FALSE(m_Reader.GoTo("first"));
    m_Reader.Reset();
    EXPECT_TRUE(m_Reader.GoTo("first"));
}

TEST_F(FileReaderTest, EachThreadReadsTheWholeFileOnItsOwnStream)
{
    std::string sText;
    for (int i = 0; i < 200; ++i)
        sText += "line" + std::to_string(i) + " = " + std::to_string(i) + "\n";
    ASSERT_TRUE(Open(sText));
    m_Reader.GetNextValidLine(); // this thread's position must not leak into the others
    std::vector<size_t> Counts(4, 0);
    std::vector<std::thread> Readers;
    for (size_t i = 0; i < Counts.size(); ++i)
        Readers.emplace_back([&, i] { Counts[i] = RemainingLines().size(); });
    for (std::thread& Reader : Readers)
        Reader.join();
    EXPECT_THAT(Counts, ElementsAre(200, 200, 200, 200));
    EXPECT_EQ(RemainingLines().size(), 199U);
}

namespace
{
// How many descriptors of this process are open on the file sPath.
int DescriptorsOpenOn(std::string const& sPath)
{
    int nOpen = 0;
    std::error_code Error;
    for (auto const& Entry : std::filesystem::directory_iterator("/proc/self/fd", Error))
    {
        std::error_code LinkError;
        nOpen += std::filesystem::read_symlink(Entry.path(), LinkError) == sPath;
    }
    return nOpen;
}
} // namespace

TEST_F(FileReaderTest, AFinishedThreadReleasesItsStream)
{
    ASSERT_TRUE(Open("a = 1\nb = 2\n"));
    const std::string sPath = std::filesystem::canonical(PathOf("Mission.moos")).string();
    const int nBefore = DescriptorsOpenOn(sPath);
    for (int i = 0; i < 50; ++i)
        std::thread([&] { m_Reader.GetNextValidLine(); }).join();
    EXPECT_EQ(DescriptorsOpenOn(sPath), nBefore);
}

TEST_F(FileReaderTest, ALaterThreadStartsAtTheTopOfTheFile)
{
    // The system hands a finished thread's id to the next one more often than
    // not; that thread must not carry on where the finished one stopped.
    ASSERT_TRUE(Open("first = 1\nsecond = 2\n"));
    for (int i = 0; i < 5; ++i)
    {
        std::string sFirst;
        std::thread([&] { sFirst = m_Reader.GetNextValidLine(); }).join();
        EXPECT_EQ(sFirst, "first = 1") << "thread " << i;
    }
}

TEST_F(FileReaderTest, OverloadedCopyReplacesOnlyTheNamedEntries)
{
    ASSERT_TRUE(Open("// mission\n\nServerPort = 9000\n  host=localhost\n"));
    std::map<std::string, std::string> Overloads{{"ServerPort", "9001"}, {"host ", "x"}};
    ASSERT_TRUE(m_Reader.MakeOverloadedCopy(PathOf("Copy.moos"), Overloads));
    EXPECT_EQ(ReadFile(PathOf("Copy.moos")),
              "// mission\n\n"
              "//----  Next Line was commented and replaced with a command line overload ---- //\n"
              "//ServerPort = 9000    (default)\n"
              "ServerPort = 9001\n"
              "  host=localhost\n");
    EXPECT_EQ(Lookup("ServerPort"), "9000") << "the stream is rewound for the next reader";
}

TEST_F(FileReaderTest, OverloadedCopyFailsRatherThanLoseData)
{
    const std::string sText = "ServerPort = 9000\n";
    ASSERT_TRUE(Open(sText));
    std::map<std::string, std::string> Overloads{{"ServerPort", "1"}};
    EXPECT_FALSE(m_Reader.MakeOverloadedCopy(PathOf("Mission.moos"), Overloads));
    EXPECT_FALSE(m_Reader.MakeOverloadedCopy(PathOf("no/such/dir/Copy.moos"), Overloads));
    if (std::filesystem::exists("/dev/full"))
    {
        EXPECT_FALSE(m_Reader.MakeOverloadedCopy("/dev/full", Overloads))
            << "a copy that could not be written must not be reported as made";
    }
    EXPECT_EQ(ReadFile(PathOf("Mission.moos")), sText);
}

TEST_F(FileReaderTest, MissingFileOrNoRegularFileIsRefusedAndLookupsFail)
{
    const std::string sFifo = PathOf("fifo");
    ASSERT_EQ(mkfifo(sFifo.c_str(), 0600), 0);
    for (std::string const& sPath :
         {PathOf("absent.moos"), m_Dir.string(), sFifo, std::string("/dev/zero")})
    {
        EXPECT_FALSE(m_Reader.SetFile(sPath));
        EXPECT_FALSE(m_Reader.IsOpen());
        EXPECT_FALSE(m_Reader.eof());
        EXPECT_EQ(m_Reader.GetNextValidLine(), "");
        EXPECT_EQ(Lookup("x"), "<absent>");
        EXPECT_FALSE(m_Reader.GoTo("x"));
    }
}

TEST_F(FileReaderTest, NamingAMissingFileAfterAGoodOneFails)
{
    ASSERT_TRUE(Open("define: V = 1\nx = 1\n"));
    EXPECT_FALSE(m_Reader.SetFile(PathOf("absent.moos")));
    EXPECT_FALSE(m_Reader.IsOpen());
    EXPECT_EQ(Lookup("x"), "<absent>");
}

TEST_F(FileReaderTest, EmptyFileOpensWithNothingInIt)
{
    ASSERT_TRUE(Open(""));
    EXPECT_EQ(m_Reader.GetNextValidLine(), "");
    EXPECT_TRUE(m_Reader.eof());
    EXPECT_EQ(Lookup("x"), "<absent>");
}

TEST_F(FileReaderTest, LongLinesAreReadWhole)
{
    const std::string sLong(100000, 'v');
    ASSERT_TRUE(Open("a = " + std::string(1999, 'a') + "\nlong = " + sLong + "\nafter = 1"));
    EXPECT_EQ(Lookup("a").size(), 1999U);
    EXPECT_EQ(Lookup("long"), sLong);
    EXPECT_EQ(Lookup("after"), "1");
}

// No file, however long its lines or its references, makes the reader hold
// more than a line of the bound.
TEST_F(FileReaderTest, NoLineGrowsPastTheBound)
{
    const std::size_t nMax = CMOOSFileReader::kMaxLineBytes;
    const std::string sQuarter(nMax / 4 - 16, 'q');
    ASSERT_TRUE(Open("define: Q = " + sQuarter + "\nx = ${Q}${Q}${Q}${Q}${Q}\nover = " +
                     std::string(nMax, 'o') + "\nafter = 1\n"));
    EXPECT_EQ(Lookup("x"), sQuarter + sQuarter + sQuarter + sQuarter)
        << "the expansion that would pass the bound is left out";
    EXPECT_EQ(Lookup("over"), "<absent>");
    EXPECT_EQ(Lookup("after"), "<absent>") << "an over-long line ends the reading";
    std::map<std::string, std::string> NoOverloads;
    EXPECT_FALSE(m_Reader.MakeOverloadedCopy(PathOf("Copy.moos"), NoOverloads))
        << "a copy cut short at the over-long line is no copy";
}

TEST_F(FileReaderTest, BinaryJunkEndsEveryLoop)
{
    std::mt19937 Random(42);
    std::string sJunk(64 * 1024, '\0');
    for (char& c : sJunk)
        c = static_cast<char>(Random());
    ASSERT_TRUE(Open(sJunk + "\nafter = 1\n"));
    EXPECT_EQ(Lookup("after"), "1");
    EXPECT_FALSE(m_Reader.GoTo("no such line"));
    EXPECT_TRUE(m_Reader.eof());
}

TEST_F(FileReaderTest, AReadErrorEndsTheLoopsLikeTheEndOfTheFile)
{
    ASSERT_TRUE(Open("a = 1\nb = 2\n"));
    m_Reader.GetFile()->setstate(std::ios::badbit);
    EXPECT_TRUE(m_Reader.eof());
    EXPECT_EQ(m_Reader.GetNextValidLine(), "");
    EXPECT_FALSE(m_Reader.GoTo("b = 2"));
    EXPECT_EQ(Lookup("b"), "2") << "a lookup rewinds and clears the error";
}

TEST(FileReaderSplit, EntrySplitsAtTheFirstEqualsSign)
{
    std::string sTok = "untouched", sVal = "untouched";
    EXPECT_FALSE(CMOOSFileReader::GetTokenValPair("no equals", sTok, sVal));
    EXPECT_EQ(sTok, "untouched");
    EXPECT_TRUE(CMOOSFileReader::GetTokenValPair(" a b = c = d\r", sTok, sVal));
    EXPECT_EQ(sTok, "ab");
    EXPECT_EQ(sVal, "c=d");
    EXPECT_TRUE(CMOOSFileReader::GetTokenValPair(" a = c d\r", sTok, sVal, true));
    EXPECT_EQ(sTok, " a ");
    EXPECT_EQ(sVal, " c d");
}
