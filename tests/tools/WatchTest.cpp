// What VarWatch asks for (names and patterns) and how it shows what comes:
// the printable value, the update line and the table.
#include "ValueText.h"
#include "WatchList.h"
#include "WatchTable.h"

#include <gtest/gtest.h>

#include <sstream>

namespace
{
CMOOSMsg Update(const std::string& sKey, const std::string& sVal, const std::string& sSrc = "src",
                double dfTime = 12.5)
{
    CMOOSMsg Msg(MOOS_NOTIFY, sKey, sVal, dfTime);
    Msg.m_sSrc = sSrc;
    return Msg;
}

std::vector<std::string> LinesOf(const std::string& sText)
{
    std::vector<std::string> Lines;
    std::istringstream In(sText);
    for (std::string sLine; std::getline(In, sLine);)
        Lines.push_back(sLine);
    return Lines;
}

// ---------------------------------------------------------------------------
// Names and patterns.

TEST(WatchListTest, NamesAreWantedAtOncePatternsOnlyWhatTheServerLists)
{
    CWatchList List({"Heading", "GPS_*", "Depth?"});
    EXPECT_TRUE(List.HasPatterns());
    EXPECT_EQ(List.Names(), std::vector<std::string>{"Heading"});
    EXPECT_EQ(List.Discover("Depth1,GPS_X,Heading,Depth12,gps_y,,Speed"), 2u);
    EXPECT_EQ(List.Names(), (std::vector<std::string>{"Depth1", "GPS_X", "Heading"}));
    EXPECT_EQ(List.Discover("GPS_X,GPS_Y"), 1u) << "only new names count";
    EXPECT_EQ(List.Names().size(), 4u);
}

TEST(WatchListTest, WithoutPatternsTheListNeverGrows)
{
    CWatchList List({"A", "B"});
    EXPECT_FALSE(List.HasPatterns());
    EXPECT_EQ(List.Discover("A,B,C"), 0u);
    EXPECT_EQ(List.Names(), (std::vector<std::string>{"A", "B"}));
}

// ---------------------------------------------------------------------------
// Values and lines.

TEST(ValueTextTest, NoValueCanMoveTheCursorOrBreakALine)
{
    EXPECT_EQ(ValueText(Update("K", std::string("a\x1b[2Jb\r\nc\x7f\0d", 12))),
              "a\\x1B[2Jb\\x0D\\x0Ac\\x7F\\x00d");
    EXPECT_EQ(ValueText(Update("K", "\xc3\xa9t\xc3\xa9")), "\xc3\xa9t\xc3\xa9")
        << "UTF-8 text stays readable";
}

TEST(ValueTextTest, NumbersAndBinaryData)
{
    EXPECT_EQ(ValueText(CMOOSMsg(MOOS_NOTIFY, "K", -12.5, 0)), "-12.5");
    EXPECT_EQ(ValueText(CMOOSMsg(MOOS_NOTIFY, "K", 0.1 + 0.2, 0)), "0.3");
    CMOOSMsg Binary = Update("K", std::string("\x01\x00\x02\n\x1b", 5));
    Binary.MarkAsBinary();
    EXPECT_EQ(ValueText(Binary), "<binary 5 bytes>");
}

TEST(WatchTableTest, LineHasTimeSourceNameAndValueLast)
{
    EXPECT_EQ(CWatchTable::Line(Update("Name", "a b c", "Vantor", 0.0)),
              "0.000 Vantor Name a b c\n");
    EXPECT_EQ(CWatchTable::Line(Update("Name", "x", "", 1796748899.6274)),
              "1796748899.627 - Name x\n")
        << "an empty source is a dash, so the fields stay countable";
    EXPECT_EQ(CWatchTable::Line(Update("Na\nme", "v", "s\tt")), "12.500 s\\x09t Na\\x0Ame v\n");
}

TEST(WatchTableTest, LinesHoldTheLatestValueOfEachVariableByName)
{
    CWatchTable Table;
    Table.Update(Update("B", "1"), 0.0);
    Table.Update(Update("A", "2"), 0.1);
    Table.Update(Update("B", "3"), 0.2);
    EXPECT_EQ(Table.Lines(), "12.500 src A 2\n12.500 src B 3\n");
    EXPECT_TRUE(Table.Has("A"));
    EXPECT_FALSE(Table.Has("C"));
}

// ---------------------------------------------------------------------------
// The table.

TEST(WatchTableTest, RateCountsTheLastFiveSeconds)
{
    CWatchTable Table;
    for (int i = 0; i < 50; ++i)
        Table.Update(Update("X", "v"), 100.0 + i * 0.1); // 10 per second for 5 s
    EXPECT_NEAR(Table.Rate("X", 105.0), 9.8, 0.01);
    EXPECT_NEAR(Table.Rate("X", 107.05), 5.8, 0.01) << "older arrivals leave the window";
    EXPECT_EQ(Table.Rate("X", 200.0), 0.0);
    EXPECT_EQ(Table.Rate("unknown", 100.0), 0.0);
}

TEST(WatchTableTest, FirstSecondDoesNotInflateTheRate)
{
    CWatchTable Table;
    Table.Update(Update("X", "v"), 100.0);
    Table.Update(Update("X", "v"), 100.1);
    EXPECT_EQ(Table.Rate("X", 100.2), 2.0);
}

// A time a clock cannot show is printed as the number it is, never as a
// clock with a broken field.
TEST(WatchTableTest, TimeColumnShowsAClockOnlyWhereOneFits)
{
    const struct
    {
        double dfTime;
        std::string sShown;
    } Cases[] = {{1e300, "1e+300"}, {-5.0, "-5"}, {0.0, "0"}, {1e12, "1e+12"}};
    for (const auto& C : Cases)
    {
        CWatchTable Table;
        Table.Update(Update("X", "v", "src", C.dfTime), 1.0);
        const std::vector<std::string> Rows = LinesOf(Table.Table(1.0, 200));
        ASSERT_EQ(Rows.size(), 2u);
        EXPECT_NE(Rows[1].find(" " + C.sShown + " "), std::string::npos) << Rows[1];
    }
    CWatchTable Table;
    Table.Update(Update("X", "v", "src", 1796748899.6274), 1.0);
    EXPECT_NE(LinesOf(Table.Table(1.0, 200))[1].find(".627 "), std::string::npos);
}

TEST(WatchTableTest, TableHasOneRowPerVariableAndFitsTheWidth)
{
    CWatchTable Table;
    Table.Update(Update("Heading", "271.5", "Compass", 0.0), 10.0);
    Table.Update(Update("Log", std::string(500, 'x') + "\n", "Logger"), 10.0);
    const std::vector<std::string> Rows = LinesOf(Table.Table(12.0, 80));
    ASSERT_EQ(Rows.size(), 3u);
    EXPECT_EQ(Rows[0].rfind("NAME", 0), 0u);
    for (const char* sHeading : {"VALUE", "SOURCE", "TIME", "AGE", "RATE"})
        EXPECT_NE(Rows[0].find(sHeading), std::string::npos) << sHeading;
    EXPECT_EQ(Rows[1].rfind("Heading", 0), 0u);
    EXPECT_NE(Rows[1].find("271.5"), std::string::npos);
    EXPECT_NE(Rows[1].find("2.0s"), std::string::npos) << "age of the latest arrival";
    for (const std::string& sRow : Rows)
        EXPECT_LE(sRow.size(), 80u) << sRow;
    EXPECT_NE(Rows[2].find("..."), std::string::npos) << "a long value is cut, visibly";
}
} // namespace
