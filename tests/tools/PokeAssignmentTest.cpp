// How VarPoke reads NAME=VALUE: which values become doubles, which strings.
#include "PokeAssignment.h"

#include <gtest/gtest.h>

namespace
{
PokeAssignment Parsed(const std::string& sArg, bool bForceString = false)
{
    PokeAssignment A;
    std::string sError;
    EXPECT_TRUE(ParsePokeAssignment(sArg, bForceString, A, sError)) << sArg << ": " << sError;
    return A;
}

TEST(PokeAssignmentTest, DecimalNumbersAreDoubles)
{
    for (const auto& Case : std::vector<std::pair<std::string, double>>{
             {"X=3.25", 3.25}, {"X=-12", -12.0}, {"X=1e-3", 1e-3}, {"X=+.5", 0.5}})
    {
        PokeAssignment A = Parsed(Case.first);
        EXPECT_TRUE(A.bIsDouble) << Case.first;
        EXPECT_EQ(A.dfValue, Case.second) << Case.first;
        EXPECT_EQ(A.sName, "X");
    }
}

TEST(PokeAssignmentTest, EverythingElseIsAStringAsWritten)
{
    for (const char* sValue :
         {"hello", "", "12abc", "0x10", "0x1p9999", "1.2.3-", " 5", "a=b", "\"half"})
    {
        PokeAssignment A = Parsed(std::string("X=") + sValue);
        EXPECT_FALSE(A.bIsDouble) << sValue;
        EXPECT_EQ(A.sValue, sValue);
    }
}

TEST(PokeAssignmentTest, QuotesOrStringFlagMakeAStringOfANumber)
{
    PokeAssignment Quoted = Parsed("X=\"42\"");
    EXPECT_FALSE(Quoted.bIsDouble);
    EXPECT_EQ(Quoted.sValue, "42");
    PokeAssignment Inner = Parsed("X=\"say \"hi\" twice\"");
    EXPECT_EQ(Inner.sValue, "say \"hi\" twice");
    PokeAssignment Forced = Parsed("X=42", true);
    EXPECT_FALSE(Forced.bIsDouble);
    EXPECT_EQ(Forced.sValue, "42");
    EXPECT_EQ(Parsed("X=\"\"").sValue, "");
}

// Not a reading: refused with one line, unless asked for as text.
TEST(PokeAssignmentTest, NonFiniteNumbersAreRefusedUnlessSentAsText)
{
    for (const char* sValue : {"nan", "inf", "-inf", "Infinity", "NAN", "1e999"})
    {
        PokeAssignment A;
        std::string sError;
        const std::string sArg = std::string("X=") + sValue;
        EXPECT_FALSE(ParsePokeAssignment(sArg, false, A, sError)) << sValue;
        EXPECT_EQ(sError, sArg + ": " + sValue +
                              " is not a finite number and cannot be sent as one; give --string, "
                              "or quote it, to send it as text");
        EXPECT_EQ(Parsed(sArg, true).sValue, sValue);
        EXPECT_EQ(Parsed("X=\"" + std::string(sValue) + "\"").sValue, sValue);
    }
}

TEST(PokeAssignmentTest, NameEndsAtTheFirstEqualsSign)
{
    PokeAssignment A = Parsed("CMD=speed=3");
    EXPECT_EQ(A.sName, "CMD");
    EXPECT_EQ(A.sValue, "speed=3");
}

TEST(PokeAssignmentTest, OperandWithoutANameIsRefusedAndLeavesTheOutputAlone)
{
    for (const char* sArg : {"X", "=5", ""})
    {
        PokeAssignment A;
        A.sName = "kept";
        std::string sError;
        EXPECT_FALSE(ParsePokeAssignment(sArg, false, A, sError)) << sArg;
        EXPECT_NE(sError.find("is not NAME=VALUE"), std::string::npos) << sError;
        EXPECT_EQ(A.sName, "kept");
    }
}
} // namespace
