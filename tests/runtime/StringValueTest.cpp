#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <gtest/gtest.h>

#include <climits>

namespace
{
std::string Trimmed(std::string s)
{
    MOOSTrimWhiteSpace(s);
    return s;
}

std::string Removed(std::string s, const std::string& sChars)
{
    MOOSRemoveChars(s, sChars);
    return s;
}
} // namespace

TEST(StringCutTest, ChompSplitsAtTheTokenOrTakesEverything)
{
    std::string s = "alpha,beta";
    EXPECT_EQ(MOOSChomp(s, ","), "alpha");
    EXPECT_EQ(s, "beta");
    s = "alpha,beta";
    EXPECT_EQ(MOOSChomp(s, ";"), "alpha,beta");
    EXPECT_EQ(s, "");
    s = "keyANDvalue";
    EXPECT_EQ(MOOSChomp(s, "and", true), "key");
    EXPECT_EQ(s, "value");
}

TEST(StringCutTest, FindIsCaseSensitiveUnlessAsked)
{
    EXPECT_EQ(MOOSStrFind("Hello World", "world"), std::string::npos);
    EXPECT_EQ(MOOSStrFind("Hello World", "world", true), 6u);
    EXPECT_EQ(MOOSStrFind("abc", "", true), 0u);
    EXPECT_EQ(MOOSStrFind("", "", true), 0u);
    EXPECT_EQ(MOOSStrFind("ab", "abc", true), std::string::npos);
}

TEST(StringCutTest, CompareAndUpperCaseIgnoreCase)
{
    EXPECT_TRUE(MOOSStrCmp("AppTick", "APPTICK"));
    EXPECT_FALSE(MOOSStrCmp("AppTick", "AppTicks"));
    std::string s = "gps_1";
    MOOSToUpper(s);
    EXPECT_EQ(s, "GPS_1");
    EXPECT_TRUE(CompareInsensitive()('q', 'Q'));
}

TEST(StringCutTest, TrimRemovesOnlyTheFourBlanksAtTheEnds)
{
    EXPECT_EQ(Trimmed(" \t\r\n x y \r\n"), "x y");
    EXPECT_EQ(Trimmed("\t  \t "), "");
    EXPECT_EQ(Trimmed(""), "");
    EXPECT_EQ(Trimmed("\vx\f"), "\vx\f");
}

TEST(StringCutTest, RemoveCharsRemovesEveryOccurrence)
{
    EXPECT_EQ(Removed(" a b\tc\r", " \t\r"), "abc");
    EXPECT_EQ(Removed("aaa", "a"), "");
    EXPECT_EQ(Removed("abc", ""), "abc");
}

TEST(StringCutTest, NumericLooksOnlyAtWhichCharactersOccur)
{
    EXPECT_TRUE(MOOSIsNumeric(""));
    EXPECT_TRUE(MOOSIsNumeric("  1.5e-3 \t"));
    EXPECT_TRUE(MOOSIsNumeric("+-e"));
    EXPECT_FALSE(MOOSIsNumeric("12a"));
    EXPECT_FALSE(MOOSIsNumeric("1 2"));
}

TEST(WildcardTest, StarAndQuestionMarkMatch)
{
    EXPECT_TRUE(MOOSWildCmp("*.moos", "mission.moos"));
    EXPECT_FALSE(MOOSWildCmp("*.moos", "mission.moose"));
    EXPECT_TRUE(MOOSWildCmp("a?c", "abc"));
    EXPECT_FALSE(MOOSWildCmp("a?c", "ac"));
    EXPECT_FALSE(MOOSWildCmp("a*", "b"));
    EXPECT_TRUE(MOOSWildCmp("a*", "a"));
    EXPECT_TRUE(MOOSWildCmp("*", ""));
    EXPECT_TRUE(MOOSWildCmp("", ""));
    EXPECT_FALSE(MOOSWildCmp("", "x"));
    EXPECT_FALSE(MOOSWildCmp("abc", "ab"));
    EXPECT_FALSE(MOOSWildCmp("ab", "abc"));
}

TEST(WildcardTest, StarBacktracksOverFalseStarts)
{
    EXPECT_TRUE(MOOSWildCmp("*_STATUS", "VANTOR_STAT_STATUS"));
    EXPECT_TRUE(MOOSWildCmp("a*b*c", "aXbYbZc"));
    EXPECT_FALSE(MOOSWildCmp("a*b*c", "aXbYbZ"));
    EXPECT_TRUE(MOOSWildCmp("*?x**", "yx"));
    EXPECT_FALSE(MOOSWildCmp("*.MOOS", "mission.moos"));
}

// ---------------------------------------------------------------------------

namespace
{
// Name-value lookups with a destination that must stay untouched on failure.
class ValueFromStringTest : public ::testing::Test
{
protected:
    template <class T>
    static bool Read(T& Value, const std::string& sSource, const std::string& sName,
                     bool bInsensitive = false)
    {
        return MOOSValFromString(Value, sSource, sName, bInsensitive);
    }
    const std::string kList = "a=1,b = 2 ,c=3";
};
} // namespace

TEST_F(ValueFromStringTest, StringValueIsRawAndUntrimmed)
{
    std::string s = "untouched";
    EXPECT_TRUE(Read(s, kList, "b"));
    EXPECT_EQ(s, " 2 ");
    EXPECT_TRUE(Read(s, kList, "c"));
    EXPECT_EQ(s, "3");
    s = "untouched";
    EXPECT_FALSE(Read(s, kList, "d"));
    EXPECT_EQ(s, "untouched");
    EXPECT_TRUE(Read(s, "empty=,x=1", "empty"));
    EXPECT_EQ(s, "");
}

TEST_F(ValueFromStringTest, NameMatchIgnoresCaseOnlyWhenAsked)
{
    std::string s = "untouched";
    EXPECT_FALSE(Read(s, kList, "B"));
    EXPECT_EQ(s, "untouched");
    EXPECT_TRUE(Read(s, kList, "B", true));
    EXPECT_EQ(s, " 2 ");
}

TEST_F(ValueFromStringTest, NameMayBeTheTailOfALongerName)
{
    int n = 0;
    EXPECT_TRUE(Read(n, "Max_Speed=3", "Speed"));
    EXPECT_EQ(n, 3);
}

TEST_F(ValueFromStringTest, OccurrenceInsideAValueIsSkipped)
{
    std::string s;
    EXPECT_TRUE(Read(s, "Name=Speed up,Speed=4", "Speed"));
    EXPECT_EQ(s, "4");
    EXPECT_FALSE(Read(s, "Name=Speedy", "Speed"));
}

TEST_F(ValueFromStringTest, IntegersNeedALeadingDigitOrSign)
{
    int n = 42;
    EXPECT_FALSE(Read(n, "x=abc", "x"));
    EXPECT_FALSE(Read(n, "x=\t5", "x"));
    EXPECT_FALSE(Read(n, "x=   ", "x"));
    EXPECT_FALSE(Read(n, "x=.5", "x"));
    EXPECT_EQ(n, 42);
    EXPECT_TRUE(Read(n, "x=12abc", "x"));
    EXPECT_EQ(n, 12);
    EXPECT_TRUE(Read(n, "x=  -7", "x"));
    EXPECT_EQ(n, -7);
    long l = 0;
    EXPECT_TRUE(Read(l, "x=+123456", "x"));
    EXPECT_EQ(l, 123456);
}

TEST_F(ValueFromStringTest, UnsignedWrapsMinusOneToTheLargestValue)
{
    unsigned int n = 5;
    EXPECT_TRUE(Read(n, "x=-1", "x"));
    EXPECT_EQ(n, UINT_MAX);
    n = 5;
    EXPECT_FALSE(Read(n, "x=q", "x"));
    EXPECT_EQ(n, 5u);
}

TEST_F(ValueFromStringTest, WholeNumbersBeyondTheRangeClampInsteadOfWrapping)
{
    int n = 0;
    EXPECT_TRUE(Read(n, "x=99999999999", "x"));
    EXPECT_EQ(n, INT_MAX);
    EXPECT_TRUE(Read(n, "x=-99999999999", "x"));
    EXPECT_EQ(n, INT_MIN);
    unsigned int u = 0;
    EXPECT_TRUE(Read(u, "x=4294967297", "x"));
    EXPECT_EQ(u, static_cast<unsigned int>(INT_MAX)) << "not wrapped round to 1";
    long l = 0;
    EXPECT_TRUE(Read(l, "x=99999999999999999999999", "x"));
    EXPECT_EQ(l, LONG_MAX);
    EXPECT_TRUE(Read(l, "x=-99999999999999999999999", "x"));
    EXPECT_EQ(l, LONG_MIN);
}

TEST_F(ValueFromStringTest, LongLongNeedsAWholeNumberToBeRead)
{
    long long n = 9;
    EXPECT_TRUE(Read(n, "x= 9000000000", "x"));
    EXPECT_EQ(n, 9000000000LL);
    n = 9;
    EXPECT_FALSE(Read(n, "x=many", "x"));
    EXPECT_EQ(n, 9);
}

TEST_F(ValueFromStringTest, RealsAcceptALeadingPoint)
{
    double df = 1.0;
    EXPECT_TRUE(Read(df, "warp=.25,tick=4", "warp"));
    EXPECT_DOUBLE_EQ(df, 0.25);
    float f = 1.0f;
    EXPECT_TRUE(Read(f, "g=-9.81", "g"));
    EXPECT_FLOAT_EQ(f, -9.81f);
    EXPECT_FALSE(Read(f, "g=e5", "g"));
    EXPECT_FLOAT_EQ(f, -9.81f);
}

TEST_F(ValueFromStringTest, BoolIsTrueOnlyForTrueOrOne)
{
    for (const char* sTrue : {"x=TRUE", "x=True", "x= true ", "x=1"})
    {
        bool b = false;
        EXPECT_TRUE(Read(b, sTrue, "x"));
        EXPECT_TRUE(b) << sTrue;
    }
    for (const char* sFalse : {"x=yes", "x=0", "x="})
    {
        bool b = true;
        EXPECT_TRUE(Read(b, sFalse, "x"));
        EXPECT_FALSE(b) << sFalse;
    }
    bool b = true;
    EXPECT_FALSE(Read(b, "y=1", "x"));
    EXPECT_TRUE(b);
}
