// The server's bookkeeping without sockets: what each client's reply carries.
#include "ServerDatabase.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{
class ServerDatabaseTest : public ::testing::Test
{
protected:
    CServerDatabase Db{MailBounds{5, 1 << 20}};
    double dfNow = 1000.0;

    void Join(std::uint64_t nClient, const std::string& sName = "c")
    {
        Db.AddClient(nClient, sName);
    }

    // One turn of nClient sending Incoming; returns its mail.
    MOOSMSG_LIST Turn(std::uint64_t nClient, MOOSMSG_LIST Incoming = MOOSMSG_LIST())
    {
        MOOSMSG_LIST Mail;
        Db.Exchange(nClient, Incoming, dfNow, Mail, nLastDropped);
        return Mail;
    }
    static CMOOSMsg Note(const std::string& sKey, double dfVal)
    {
        return CMOOSMsg(MOOS_NOTIFY, sKey, dfVal, 1.0);
    }
    static CMOOSMsg Reg(const std::string& sKey, double dfInterval = 0.0)
    {
        return CMOOSMsg(MOOS_REGISTER, sKey, dfInterval, 1.0);
    }
    static std::vector<double> Values(const MOOSMSG_LIST& Mail)
    {
        std::vector<double> Out;
        for (const CMOOSMsg& Msg : Mail)
            Out.push_back(Msg.m_dfVal);
        return Out;
    }

    std::size_t nLastDropped = 0;
};

TEST_F(ServerDatabaseTest, SubscribersGetEveryNotificationInOrderAndOthersNone)
{
    Join(1);
    Join(2);
    Join(3);
    Turn(2, {Reg("X")});
    Turn(1, {Note("X", 1), Note("X", 2), Note("Y", 9)});
    EXPECT_EQ(Values(Turn(2)), (std::vector<double>{1, 2}));
    EXPECT_TRUE(Turn(3).empty());
    EXPECT_EQ(Db.GetNotificationCount(), 3u);
}

TEST_F(ServerDatabaseTest, SenderRegisteredForItsOwnKeyGetsItsCopyInTheSameReply)
{
    Join(1);
    EXPECT_EQ(Values(Turn(1, {Reg("X"), Note("X", 4)})), (std::vector<double>{4}));
}

TEST_F(ServerDatabaseTest, RegisteringQueuesTheCurrentValueAtOnce)
{
    Join(1);
    Join(2);
    Turn(1, {Note("X", 1), Note("X", 2)});
    MOOSMSG_LIST Mail = Turn(2, {Reg("X")});
    ASSERT_EQ(Values(Mail), (std::vector<double>{2}));
    EXPECT_TRUE(Turn(2, {Reg("Unknown")}).empty());
}

TEST_F(ServerDatabaseTest, UnregisteringStopsDelivery)
{
    Join(1);
    Turn(1, {Reg("X"), CMOOSMsg(MOOS_UNREGISTER, "X", 0.0, 1.0), Note("X", 1)});
    EXPECT_TRUE(Turn(1).empty());
}

TEST_F(ServerDatabaseTest, RegistrationIntervalSkipsValuesThatComeTooSoon)
{
    Join(1);
    Join(2);
    Turn(2, {Reg("X", 2.0)});
    for (int i = 0; i < 5; ++i, dfNow += 1.0)
        Turn(1, {Note("X", i)});
    // Delivered at t=1000, 1002, 1004.
    EXPECT_EQ(Values(Turn(2)), (std::vector<double>{0, 2, 4}));
}

TEST_F(ServerDatabaseTest, BadIntervalsMeanEveryValue)
{
    Join(1);
    Turn(1, {Reg("A", -3.0), Reg("B", std::nan(""))});
    EXPECT_EQ(Values(Turn(1, {Note("A", 1), Note("A", 2), Note("B", 3), Note("B", 4)})),
              (std::vector<double>{1, 2, 3, 4}));
}

TEST_F(ServerDatabaseTest, FullQueueDropsTheOldestAndCountsIt)
{
    Join(1, "slow");
    Join(2);
    Turn(1, {Reg("X")});
    for (int i = 0; i < 8; ++i)
        Turn(2, {Note("X", i)});
    EXPECT_EQ(Values(Turn(1)), (std::vector<double>{3, 4, 5, 6, 7}));
    EXPECT_EQ(nLastDropped, 3u);
    EXPECT_EQ(Db.GetDroppedCount("slow"), 3u);
    EXPECT_EQ(Db.GetDroppedCount(), 3u);
    Turn(1);
    EXPECT_EQ(nLastDropped, 0u) << "drops are reported once";
}

TEST_F(ServerDatabaseTest, QueueByteBoundDropsOldestButKeepsTheNewest)
{
    CServerDatabase Small(MailBounds{100, 300});
    MOOSMSG_LIST Mail;
    std::size_t nDropped = 0;
    Small.AddClient(1, "c");
    Small.AddClient(2, "pub");
    Small.Exchange(1, {Reg("X")}, dfNow, Mail, nDropped);
    for (int i = 0; i < 4; ++i)
        Small.Exchange(2, {CMOOSMsg(MOOS_NOTIFY, "X", std::string(200, char('a' + i)), 1.0)}, dfNow,
                       Mail, nDropped);
    Mail.clear();
    Small.Exchange(1, {}, dfNow, Mail, nDropped);
    ASSERT_EQ(Mail.size(), 1u);
    EXPECT_EQ(Mail.front().m_sVal[0], 'd');
}

TEST_F(ServerDatabaseTest, ServerRequestIsAnsweredWithIdMinusTwoListingVariables)
{
    Join(1);
    Turn(1, {Note("Zeta", 1), Note("Alpha", 2)});
    MOOSMSG_LIST Mail = Turn(1, {CMOOSMsg(MOOS_SERVER_REQUEST, "ALL", "", 1.0)});
    ASSERT_EQ(Mail.size(), 1u);
    EXPECT_EQ(Mail.front().m_nID, -2);
    EXPECT_EQ(Mail.front().m_sVal, "Alpha,Zeta");
    EXPECT_EQ(Mail.front().m_dfVal, 2.0);
    EXPECT_EQ(Mail.front().m_sSrc, kLocalServerName);
}

TEST_F(ServerDatabaseTest, RemovedClientGetsNothingAndItsRegistrationsGo)
{
    Join(1);
    Join(2);
    Turn(2, {Reg("X")});
    Db.RemoveClient(2);
    Turn(1, {Note("X", 1)});
    Join(2);
    EXPECT_TRUE(Turn(2).empty());
    EXPECT_EQ(Db.GetClientNames().size(), 2u);
}

TEST_F(ServerDatabaseTest, LatestValueKeepsEveryField)
{
    Join(1);
    CMOOSMsg Msg(MOOS_NOTIFY, "Bin", std::string("a\0b", 3), 5.0);
    Msg.MarkAsBinary();
    Msg.m_sSrc = "me";
    Turn(1, {Msg});
    CMOOSMsg Got;
    ASSERT_TRUE(Db.GetValue("Bin", Got));
    EXPECT_EQ(Got.m_sVal, Msg.m_sVal);
    EXPECT_TRUE(Got.IsDataType(MOOS_BINARY_STRING));
    EXPECT_EQ(Got.m_sSrc, "me");
    EXPECT_FALSE(Db.GetValue("None", Got));
}
} // namespace
