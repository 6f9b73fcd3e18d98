// Managed variables: the record itself and the application's table of them,
// as far as neither needs a server.
#include "AppTestSupport.h"

#include "MOOSLIB/MOOSMsg.h"
#include "MOOSLIB/MOOSVariable.h"

#include <gtest/gtest.h>

namespace
{
CMOOSMsg Mail(const std::string& key, double value, double time, const std::string& source = "")
{
    CMOOSMsg msg(MOOS_NOTIFY, key, value, time);
    msg.m_sSrc = source;
    return msg;
}

CMOOSMsg TextMail(const std::string& key, const std::string& value, double time)
{
    return CMOOSMsg(MOOS_NOTIFY, key, value, time);
}
} // namespace

TEST(MOOSVariable, StartsUnsetAndNotFreshWithDefaultInterval)
{
    CMOOSVariable var;
    EXPECT_FALSE(var.IsFresh());
    EXPECT_EQ(var.GetTime(), -1.0);
    EXPECT_EQ(var.GetCommsTime(), 0.2);
    CMOOSVariable named("speed", "SPEED", "SPEED_OUT", 0.5);
    EXPECT_EQ(named.GetName(), "speed");
    EXPECT_EQ(named.GetSubscribeName(), "SPEED");
    EXPECT_EQ(named.GetPublishName(), "SPEED_OUT");
    EXPECT_EQ(named.GetCommsTime(), 0.5);
    EXPECT_FALSE(named.IsFresh());
}

TEST(MOOSVariable, SettingSwitchesBetweenDoubleAndStringAndMakesFresh)
{
    CMOOSVariable var("v", "", "", 0);
    var.Set(2.5, 10.0);
    EXPECT_TRUE(var.IsDouble());
    EXPECT_TRUE(var.IsFresh());
    EXPECT_EQ(var.GetDoubleVal(), 2.5);
    var.SetFresh(false);
    var.Set(std::string("abc"), 11.0);
    EXPECT_FALSE(var.IsDouble());
    EXPECT_TRUE(var.IsFresh());
    EXPECT_EQ(var.GetStringVal(), "abc");
    EXPECT_EQ(var.GetTime(), 11.0);
    EXPECT_DOUBLE_EQ(var.GetAge(14.5), 3.5);
}

TEST(MOOSVariable, SetFromMessageTakesKeySourceAndValueByDataType)
{
    CMOOSVariable var("local", "SPEED", "", 0);
    var.Set(Mail("SPEED", 4.0, 20.0, "sensor"));
    EXPECT_TRUE(var.IsDouble());
    EXPECT_EQ(var.GetDoubleVal(), 4.0);
    EXPECT_EQ(var.GetName(), "SPEED");
    EXPECT_EQ(var.GetWriter(), "sensor");
    EXPECT_EQ(var.GetTime(), 20.0);

    CMOOSMsg binary = TextMail("SPEED", std::string("\x01\x02", 2), 21.0);
    binary.MarkAsBinary();
    var.Set(binary);
    EXPECT_FALSE(var.IsDouble());
    EXPECT_EQ(var.GetStringVal(), std::string("\x01\x02", 2));
}

TEST(MOOSVariable, MessageOfUnknownDataTypeKeepsValueButUpdatesTime)
{
    CMOOSVariable var("v", "V", "", 0);
    var.Set(1.0, 5.0);
    var.SetFresh(false);
    CMOOSMsg odd = Mail("V", 9.0, 6.0);
    odd.m_cDataType = 'X';
    var.Set(odd);
    EXPECT_TRUE(var.IsDouble());
    EXPECT_EQ(var.GetDoubleVal(), 1.0);
    EXPECT_EQ(var.GetTime(), 6.0);
    EXPECT_TRUE(var.IsFresh());
}

TEST(MOOSVariable, TextFormPadsNumbersAndNeverSetButNotStrings)
{
    CMOOSVariable var("v", "", "", 0);
    EXPECT_EQ(var.GetAsString(8), std::string("NaN     \0", 9));
    var.Set(3.5, 1.0);
    EXPECT_EQ(var.GetAsString(8), std::string("3.5     \0", 9));
    var.Set(std::string("abc"), 1.0);
    EXPECT_EQ(var.GetAsString(8), std::string("abc\0", 4));
}

class MOOSVariableTable : public ::testing::Test
{
protected:
    void SetUp() override { app.AddMOOSVariable("speed", "SPEED", "SPEED_OUT", 0.1); }

    MOOSMSG_LIST Batch(std::initializer_list<CMOOSMsg> msgs) { return MOOSMSG_LIST(msgs); }

    ProbeApp app;
};

TEST_F(MOOSVariableTable, SecondVariableOfSameLocalNameIsRefused)
{
    EXPECT_FALSE(app.AddMOOSVariable("speed", "OTHER", "OTHER_OUT", 1.0));
    ASSERT_NE(app.GetMOOSVar("speed"), nullptr);
    EXPECT_EQ(app.GetMOOSVar("speed")->GetSubscribeName(), "SPEED");
}

TEST_F(MOOSVariableTable, UnknownNamesCreateNothing)
{
    EXPECT_EQ(app.GetMOOSVar("nope"), nullptr);
    EXPECT_FALSE(app.SetMOOSVar("nope", 1.0, 1.0));
    EXPECT_FALSE(app.SetMOOSVar("nope", std::string("x"), 1.0));
    EXPECT_EQ(app.GetMOOSVar("nope"), nullptr);
}

TEST_F(MOOSVariableTable, SetMOOSVarMakesStoredVariableFresh)
{
    EXPECT_TRUE(app.SetMOOSVar("speed", 7.0, 3.0));
    CMOOSVariable* var = app.GetMOOSVar("speed");
    ASSERT_NE(var, nullptr);
    EXPECT_TRUE(var->IsFresh());
    EXPECT_EQ(var->GetDoubleVal(), 7.0);
}

TEST_F(MOOSVariableTable, UpdateTakesFirstMessageOfTheSubscribedName)
{
    const double now = MOOSTime();
    MOOSMSG_LIST mail = Batch({Mail("OTHER", 1.0, now), Mail("SPEED", 2.0, now, "first"),
                               Mail("SPEED", 3.0, now + 1.0, "second")});
    app.UpdateMOOSVariables(mail);
    CMOOSVariable* var = app.GetMOOSVar("speed");
    EXPECT_EQ(var->GetDoubleVal(), 2.0);
    EXPECT_EQ(var->GetWriter(), "first");
    EXPECT_TRUE(var->IsFresh());
    EXPECT_EQ(mail.size(), 3u) << "the batch is left as it was";
}

TEST_F(MOOSVariableTable, UpdateIgnoresSkewedMessages)
{
    MOOSMSG_LIST mail = Batch({Mail("SPEED", 2.0, MOOSTime() - 10.0)});
    app.UpdateMOOSVariables(mail);
    EXPECT_FALSE(app.GetMOOSVar("speed")->IsFresh());
    EXPECT_EQ(app.GetMOOSVar("speed")->GetTime(), -1.0);
}

TEST_F(MOOSVariableTable, VariableWithoutSubscribeNameIgnoresMailUnderEmptyName)
{
    app.AddMOOSVariable("local", "", "LOCAL_OUT", 0.0);
    MOOSMSG_LIST mail = Batch({Mail("", 5.0, MOOSTime())});
    app.UpdateMOOSVariables(mail);
    EXPECT_FALSE(app.GetMOOSVar("local")->IsFresh());
}

TEST_F(MOOSVariableTable, VariableUpdatedFromMailKeepsItsLocalName)
{
    app.AddMOOSVariable("SPEED", "", "", 0.0); // an entry named like the key
    MOOSMSG_LIST mail = Batch({Mail("SPEED", 2.0, MOOSTime(), "sensor")});
    app.UpdateMOOSVariables(mail);
    CMOOSVariable copy = *app.GetMOOSVar("speed");
    EXPECT_EQ(copy.GetName(), "speed");
    EXPECT_EQ(copy.GetWriter(), "sensor");
    copy.Set(9.0, 1.0);
    copy.SetFresh(false);
    EXPECT_TRUE(app.SetMOOSVar(copy));
    EXPECT_EQ(app.GetMOOSVar("speed")->GetDoubleVal(), 9.0);
    EXPECT_TRUE(app.GetMOOSVar("speed")->IsFresh());
    EXPECT_EQ(app.GetMOOSVar("SPEED")->GetTime(), -1.0) << "another entry was written";
}

TEST_F(MOOSVariableTable, SetMOOSVarOfAVariableNamedByNoEntryChangesNothing)
{
    CMOOSVariable stray("speed", "SPEED", "SPEED_OUT", 0.1);
    stray.Set(Mail("HEADING", 4.0, MOOSTime())); // a plain variable takes the key
    ASSERT_EQ(stray.GetName(), "HEADING");
    EXPECT_FALSE(app.SetMOOSVar(stray));
    EXPECT_EQ(app.GetMOOSVar("speed")->GetTime(), -1.0);
    EXPECT_EQ(app.GetMOOSVar("HEADING"), nullptr);
}
