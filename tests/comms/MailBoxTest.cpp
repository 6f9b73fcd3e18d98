// The comms client's calls that need no server: searching fetched mail,
// staleness, skew arithmetic, settings and their traces.
#include "CommsTestSupport.h"

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <gtest/gtest.h>

#include <string>

using namespace commstest;

namespace
{

CMOOSMsg Timed(const std::string& sKey, const std::string& sVal, double dfTime)
{
    return CMOOSMsg(MOOS_NOTIFY, sKey, sVal, dfTime);
}

class PeekMailTest : public testing::Test
{
protected:
    MOOSMSG_LIST Mail{Timed("Other", "o", 20.0), Timed("Depth", "first", 10.0),
                      Timed("Depth", "young", 12.0), Timed("Depth", "tie", 12.0)};
    CMOOSMsg Found;
};

TEST_F(PeekMailTest, FirstMatchWithoutYoungest)
{
    ASSERT_TRUE(CMOOSCommClient::PeekMail(Mail, "Depth", Found));
    EXPECT_EQ(Found.m_sVal, "first");
    EXPECT_EQ(Mail.size(), 4u);
}

TEST_F(PeekMailTest, YoungestPrefersLatestTimeThenFrontMost)
{
    ASSERT_TRUE(CMOOSCommClient::PeekMail(Mail, "Depth", Found, false, true));
    EXPECT_EQ(Found.m_sVal, "young");
}

TEST_F(PeekMailTest, EraseRemovesOnlyTheFoundMessage)
{
    ASSERT_TRUE(CMOOSCommClient::PeekMail(Mail, "Depth", Found, true, true));
    EXPECT_EQ(Mail.size(), 3u);
    ASSERT_TRUE(CMOOSCommClient::PeekMail(Mail, "Depth", Found, false, true));
    EXPECT_EQ(Found.m_sVal, "tie");
}

TEST_F(PeekMailTest, NoMatchLeavesMessageUntouched)
{
    Found.m_sVal = "kept";
    EXPECT_FALSE(CMOOSCommClient::PeekMail(Mail, "Speed", Found));
    MOOSMSG_LIST Unset{Timed("Speed", "unset", -5.0)};
    EXPECT_FALSE(CMOOSCommClient::PeekMail(Unset, "Speed", Found, false, true));
    EXPECT_EQ(Found.m_sVal, "kept");
}

TEST(PeekAndCheckMailTest, AcceptsOnlyMailNearFiveSecondsAgo)
{
    const double dfNow = MOOSTime();
    const auto Check = [&](double dfAge)
    {
        MOOSMSG_LIST Mail{Timed("Depth", "x", dfNow - dfAge)};
        CMOOSMsg Found;
        return CMOOSCommClient::PeekAndCheckMail(Mail, "Depth", Found, true);
    };
    EXPECT_TRUE(Check(0.0));
    EXPECT_TRUE(Check(8.0));
    EXPECT_FALSE(Check(12.0));
    EXPECT_FALSE(Check(-1.0));
}

class SkewTest : public testing::Test
{
protected:
    void TearDown() override { SetMOOSSkew(0.0); }
    CMOOSCommClient Client;
};

TEST_F(SkewTest, FirstEstimateIsTakenWholeLaterOnesByATenth)
{
    SetMOOSSkew(0.0);
    Client.UpdateMOOSSkew(0.0, 1000.5, 999.0);
    EXPECT_DOUBLE_EQ(GetMOOSSkew(), 1.5);
    SetMOOSSkew(1.0);
    Client.UpdateMOOSSkew(0.0, 1000.5, 999.0);
    EXPECT_DOUBLE_EQ(GetMOOSSkew(), 1.05);
}

// Runs under the fixture's time warp, so that a started client ends quickly.
class CommsSettingsTest : public CommsFixture
{
};

TEST_F(CommsSettingsTest, CommsTickAboveMaximumIsCappedAndRefused)
{
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Client.SetCommsTick(250));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Setting Fundamental Freq to maximum value of 200 Hz\n");
    EXPECT_TRUE(Client.SetCommsTick(0));
    EXPECT_TRUE(Client.SetCommsTick(-1));
    EXPECT_FALSE(Client.SetReplyTimeOut(0.0));
    EXPECT_FALSE(Client.SetReplyTimeOut(-3.0));
}

TEST_F(CommsSettingsTest, EmptyRegistrationNameIsRefusedWithWarning)
{
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Client.Register("", 0.0));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\n ** WARNING ** Cannot register for \"\" (empty string)\n\n");
}

TEST_F(CommsSettingsTest, DestroyingUnstartedClientTracesTheClearing)
{
    testing::internal::CaptureStderr();
    {
        CMOOSCommClient Client;
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "purging out box...done\npurging in box...done\nclearing registered set...done\n");
}

TEST_F(CommsSettingsTest, RunPrintsBannerAndWarnsWithoutConnectCallback)
{
    testing::internal::CaptureStderr();
    Client.Run("LOCALHOST", 9000, "Lonely", 500);
    const std::string sTrace = testing::internal::GetCapturedStderr();
    Client.Close();
    const std::string sStars(52, '*');
    const std::string sBlank = "*" + std::string(50, ' ') + "*";
    EXPECT_EQ(sTrace.substr(0, 5 * 53),
              sStars + "\n" + sBlank + "\n*       This is MOOS Client                        *\n" +
                  sBlank + "\n" + sStars + "\n");
    EXPECT_NE(sTrace.find("Warning no connect call back has been specified\n"), std::string::npos);
    EXPECT_NE(sTrace.find("Setting Fundamental Freq to maximum value of 200 Hz\n"),
              std::string::npos);
    EXPECT_EQ(Client.GetDescription(), "LOCALHOST:9000");
}

} // namespace
