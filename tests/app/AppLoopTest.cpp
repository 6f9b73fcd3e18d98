// The application loop, its settings and its status record, without a
// server: applications here run with comms off or never connect.
#include "AppFields.h"
#include "AppTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <cmath>

using ::testing::HasSubstr;
using ::testing::Not;

class AppLoop : public ::testing::Test
{
protected:
    void TearDown() override { SetMOOSTimeWarp(1.0); }

    // A mission file holding global lines and the block of process "Probe".
    std::string Mission(const std::string& global, const std::string& block)
    {
        return dir.Write("probe.moos", global + "\nProcessConfig = Probe\n{\n" + block + "\n}\n");
    }

    // Runs the probe without comms until it has iterated n times; answers
    // what it traced.
    std::string RunPasses(const std::string& mission, int n)
    {
        app.UseMOOSComms(false);
        app.onIterate = [n](ProbeApp& a)
        {
            if (a.iterations >= n)
                a.RequestQuit();
        };
        testing::internal::CaptureStderr();
        runResult = app.Run("Probe", mission.c_str());
        return testing::internal::GetCapturedStderr();
    }

    TempDir dir;
    ProbeApp app;
    bool runResult = false;
};

TEST_F(AppLoop, PassSleepsWhatIsLeftOfThePeriodInWholeMilliseconds)
{
    EXPECT_EQ(ProbeApp::PacingSleepMs(0.0, 5.0), 200);
    EXPECT_EQ(ProbeApp::PacingSleepMs(189.9, 5.0), 11);
    EXPECT_EQ(ProbeApp::PacingSleepMs(195.0, 5.0), 0) << "5 ms left is not slept";
    EXPECT_EQ(ProbeApp::PacingSleepMs(190.0, 5.0), 0) << "10 ms left is not slept";
    EXPECT_EQ(ProbeApp::PacingSleepMs(500.0, 5.0), 0);
    EXPECT_EQ(ProbeApp::PacingSleepMs(-30.0, 5.0), 200) << "a clock step back counts as 0";
}

TEST_F(AppLoop, NoSleepAtHundredHertzOrWithoutAPositiveRate)
{
    EXPECT_EQ(ProbeApp::PacingSleepMs(0.0, 100.0), 0);
    EXPECT_EQ(ProbeApp::PacingSleepMs(0.0, 0.0), 0);
    EXPECT_EQ(ProbeApp::PacingSleepMs(0.0, -2.0), 0);
    EXPECT_EQ(ProbeApp::PacingSleepMs(0.0, std::nan("")), 0);
}

TEST_F(AppLoop, AbsurdRatesAndClockJumpsDoNotOverflowTheSleep)
{
    EXPECT_EQ(ProbeApp::PacingSleepMs(0.0, 1e-300), INT_MAX);
    EXPECT_EQ(ProbeApp::PacingSleepMs(1e300, 5.0), 0);
    EXPECT_EQ(ProbeApp::PacingSleepMs(std::nan(""), 5.0), 200);
}

TEST_F(AppLoop, RatesAreBounded)
{
    EXPECT_TRUE(app.SetAppFreq(50.0));
    EXPECT_FALSE(app.SetAppFreq(50.5));
    EXPECT_EQ(Field::AppFreq(app), 50.0);
    EXPECT_TRUE(app.SetCommsFreq(200));
    EXPECT_FALSE(app.SetCommsFreq(201));
    EXPECT_EQ(Field::CommsFreq(app), 200);
}

TEST_F(AppLoop, StatusRecordListsPublishedNamesInByteOrder)
{
    Field::AppName(app) = "Compass";
    // Names enter the published set even while no connection exists.
    app.comms.Notify("CompassData", std::string("x"), -1.0);
    app.comms.Notify("COMPASS_STATUS", std::string("x"), -1.0);
    const std::string expected = "AppErrorFlag=false,Uptime=12.5,MOOSName=Compass,"
                                 "Publishing=\"COMPASS_STATUS,CompassData,\","
                                 "Subscribing=\"\"";
    // The uptime reads the clock: a few tries let a busy machine hit 12.5
    // within the six digits written.
    std::string record;
    for (int attempt = 0; attempt < 20 && record != expected; ++attempt)
    {
        Field::AppStartTime(app) = MOOSTime() - 12.5;
        record = app.MakeStatusString();
    }
    EXPECT_EQ(record, expected);
}

TEST_F(AppLoop, StatusRecordCarriesTheErrorUntilCleared)
{
    Field::AppName(app) = "Compass";
    Field::AppStartTime(app) = MOOSTime();
    app.SetAppError(true, "x");
    EXPECT_THAT(app.MakeStatusString(), ::testing::StartsWith("AppErrorFlag=true,AppErrorReason=x,"
                                                              "Uptime="));
    app.SetAppError(true, "bad,Uptime=0");
    EXPECT_THAT(app.MakeStatusString(),
                ::testing::StartsWith("AppErrorFlag=true,AppErrorReason=\"bad,Uptime=0\",Uptime="))
        << "separators in the reason must not make fields of their own";
    app.SetAppError(false, "ignored");
    EXPECT_THAT(app.MakeStatusString(), ::testing::StartsWith("AppErrorFlag=false,Uptime="));
}

TEST_F(AppLoop, LongUptimeIsWrittenInExponentForm)
{
    Field::AppStartTime(app) = MOOSTime() - 1234567.8;
    EXPECT_THAT(app.MakeStatusString(), HasSubstr(",Uptime=1.23457e+06,"));
}

TEST_F(AppLoop, StatusIsPublishedOnFirstPassThenAfterTwoSeconds)
{
    Field::AppName(app) = "Probe";
    app.IteratePrivate();
    EXPECT_EQ(app.comms.GetPublished().count("PROBE_STATUS"), 1u);
    const double first = Field::LastStatusTime(app);
    app.IteratePrivate();
    EXPECT_EQ(Field::LastStatusTime(app), first) << "no second record within 2 s";
    Field::LastStatusTime(app) = MOOSTime() - 2.1;
    app.IteratePrivate();
    EXPECT_GT(Field::LastStatusTime(app), first);
}

TEST_F(AppLoop, CommandMessagesReachTheHookWhateverTheirCase)
{
    Field::AppName(app) = "Compass";
    Field::CommandFiltering(app) = true;
    MOOSMSG_LIST mail{CMOOSMsg(MOOS_NOTIFY, "compass_cmd", std::string("go"), -1),
                      CMOOSMsg(MOOS_NOTIFY, "OTHER", std::string("no"), -1)};
    app.OnNewMailPrivate(mail);
    ASSERT_EQ(app.CommandCount(), 1u);
    EXPECT_EQ(app.commands[0], "go");
    EXPECT_EQ(mail.size(), 2u) << "command messages stay in the batch for OnNewMail";
}

TEST_F(AppLoop, CommandMessagesAreNotCaughtWhenFilteringIsOff)
{
    Field::AppName(app) = "Compass";
    MOOSMSG_LIST mail{CMOOSMsg(MOOS_NOTIFY, "COMPASS_CMD", std::string("go"), -1)};
    app.OnNewMailPrivate(mail);
    EXPECT_EQ(app.CommandCount(), 0u);
}

TEST_F(AppLoop, EveryCommandIsHandledAfterOneFails)
{
    Field::AppName(app) = "Compass";
    app.commandResults = {false, true};
    MOOSMSG_LIST mail{CMOOSMsg(MOOS_NOTIFY, "COMPASS_CMD", std::string("a"), -1),
                      CMOOSMsg(MOOS_NOTIFY, "COMPASS_CMD", std::string("b"), -1)};
    EXPECT_FALSE(app.LookForAndHandleAppCommand(mail));
    EXPECT_EQ(app.CommandCount(), 2u);
    MOOSMSG_LIST none;
    EXPECT_TRUE(app.LookForAndHandleAppCommand(none));
}

TEST_F(AppLoop, DebugWriteWhileDisconnectedDoesNothing)
{
    testing::internal::CaptureStderr();
    EXPECT_FALSE(app.MOOSDebugWrite("hello"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(app.comms.GetPublished().count("MOOS_DEBUG"), 0u);
}

TEST_F(AppLoop, DefaultIterateWarnsOnlyOnTheFirstPass)
{
    // The framework's own Iterate, reached through a class that only opens
    // up the pass.
    struct Plain : CMOOSApp
    {
        using CMOOSApp::DoRunWork;
    } plain;
    plain.UseMOOSComms(false);
    plain.SetAppFreq(0.0);
    testing::internal::CaptureStderr();
    plain.DoRunWork();
    plain.DoRunWork();
    const std::string trace = testing::internal::GetCapturedStderr();
    EXPECT_EQ(plain.GetIterateCount(), 2);
    const std::string warning = "Warning default Iterate handler invoked...doing nothing\n";
    EXPECT_EQ(trace.find(warning), trace.rfind(warning));
    EXPECT_NE(trace.find(warning), std::string::npos);
}

TEST_F(AppLoop, DisconnectedPassSkipsIterateUnlessIteratingWithoutComms)
{
    app.SetAppFreq(0.0);
    app.DoRunWork();
    EXPECT_EQ(app.iterations, 0);
    EXPECT_EQ(app.GetIterateCount(), 0);
    app.EnableIterateWithoutComms(true);
    app.DoRunWork();
    EXPECT_EQ(app.iterations, 1);
    EXPECT_EQ(app.GetIterateCount(), 1);
}

TEST_F(AppLoop, RunWithoutCommsReadsBlockSettingsAndPrintsTheBanner)
{
    const std::string trace =
        RunPasses(Mission("SIMULATOR = True", "APPTICK = 40\nSortMailByTime = false"), 3);
    EXPECT_TRUE(runResult);
    EXPECT_TRUE(app.startedUp);
    EXPECT_EQ(app.GetIterateCount(), 3);
    EXPECT_TRUE(app.IsSimulateMode());
    EXPECT_FALSE(Field::SortsMailByTime(app));
    EXPECT_THAT(trace, HasSubstr("Probe is Running:\n\t AppTick   @ 40.0 Hz\n"
                                 "\t CommsTick @ 5 Hz\n"));
    EXPECT_THAT(trace, Not(HasSubstr("Time Warp")));
    EXPECT_THAT(trace, Not(HasSubstr("Server")));
}

TEST_F(AppLoop, SimulatorFlagMustBeSpelledTrue)
{
    RunPasses(Mission("SIMULATOR = 1", "AppTick = 40"), 1);
    EXPECT_FALSE(app.IsSimulateMode());
}

TEST_F(AppLoop, RateThatIsNotANumberKeepsTheDefault)
{
    RunPasses(Mission("", "APPTICK = .5"), 1);
    EXPECT_EQ(Field::AppFreq(app), 5.0);
}

TEST_F(AppLoop, BannerShowsAWarpOtherThanOne)
{
    EXPECT_THAT(RunPasses(Mission("MOOSTimeWarp = 2", "APPTICK = 40"), 1),
                HasSubstr("\t Time Warp @ 2.0 \n"));
    EXPECT_EQ(GetMOOSTimeWarp(), 2.0);
}

TEST_F(AppLoop, WarpOfOneFromTheMissionFilePrintsNoWarpLine)
{
    EXPECT_THAT(RunPasses(Mission("MOOSTimeWarp = 1.0", "APPTICK = 40"), 1),
                Not(HasSubstr("Time Warp")));
}

TEST_F(AppLoop, UseMOOSCommsFalseInTheBlockStartsNoClient)
{
    app.onIterate = [](ProbeApp& a) { a.RequestQuit(); };
    testing::internal::CaptureStderr();
    EXPECT_TRUE(app.Run("Probe", Mission("", "UseMOOSComms = false\nAPPTICK = 40").c_str()));
    const std::string trace = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(Field::UsesMOOSComms(app));
    EXPECT_EQ(app.iterations, 1);
    EXPECT_THAT(trace, Not(HasSubstr("MOOS Client")));
    EXPECT_THAT(trace, Not(HasSubstr("Server")));
}

TEST_F(AppLoop, FailedStartUpEndsRunBeforeTheBanner)
{
    app.startUpResult = false;
    const std::string trace = RunPasses(Mission("", "APPTICK = 40"), 1);
    EXPECT_FALSE(runResult);
    EXPECT_EQ(app.iterations, 0);
    EXPECT_THAT(trace, HasSubstr("Derived OnStartUp() returned false... Quitting\n"));
    EXPECT_THAT(trace, Not(HasSubstr("is Running")));
}

TEST_F(AppLoop, UnusableMissionFilesGiveTheWarningAndDefaults)
{
    const std::string junk(4000, '\0');
    const std::string cases[] = {(dir / "missing.moos").string(), dir.Path().string(),
                                 dir.Write("empty.moos", ""),
                                 dir.Write("junk.moos", junk + "\xff\xfe{}=//\"\r\n" + junk)};
    for (const std::string& path : cases)
    {
        ProbeApp probe;
        probe.UseMOOSComms(false);
        probe.onIterate = [](ProbeApp& a) { a.RequestQuit(); };
        testing::internal::CaptureStderr();
        EXPECT_TRUE(probe.Run("Probe", path.c_str())) << path;
        const std::string trace = testing::internal::GetCapturedStderr();
        EXPECT_EQ(Field::AppFreq(probe), 5.0) << path;
        EXPECT_EQ(probe.iterations, 1) << path;
        const bool unreadable = path == cases[0] || path == cases[1];
        EXPECT_EQ(trace.find("Warning Mission File \"" + path + "\" not found...\n") !=
                      std::string::npos,
                  unreadable)
            << path;
    }
}

TEST_F(AppLoop, MissingMissionFileFallsBackToTheDefaultServer)
{
    SetMOOSTimeWarp(50.0); // shortens the wait for a connection that never comes
    app.startUpResult = false;
    testing::internal::CaptureStderr();
    app.Run("Probe", (dir / "missing.moos").c_str());
    const std::string trace = testing::internal::GetCapturedStderr();
    const size_t mission = trace.find("Warning Mission File");
    const size_t host =
        trace.find("Warning Server host not read from mission file: assuming LOCALHOST\n");
    const size_t port =
        trace.find("Warning Server port not read from mission file: assuming 9000\n");
    ASSERT_NE(mission, std::string::npos);
    ASSERT_NE(host, std::string::npos);
    ASSERT_NE(port, std::string::npos);
    EXPECT_LT(mission, host);
    EXPECT_LT(host, port);
    EXPECT_EQ(Field::ServerHost(app), "LOCALHOST");
    EXPECT_EQ(Field::ServerPort(app), 9000);
}

class AppComms : public AppLoop
{
protected:
    // Reads the server settings of a mission file as Run would, starting
    // the client towards a port where nothing is expected to answer.
    std::string Configure(const std::string& global, const std::string& block)
    {
        app.missionReader.SetAppName("Probe");
        app.missionReader.SetFile(Mission(global, block));
        testing::internal::CaptureStderr();
        configured = app.ConfigureComms();
        return testing::internal::GetCapturedStderr();
    }

    bool configured = false;
};

TEST_F(AppComms, PortFromTheMissionFileIsUsedWithoutWarning)
{
    const std::string trace = Configure("ServerHost = 127.0.0.1\nServerPort = 9001", "");
    EXPECT_TRUE(configured);
    EXPECT_EQ(Field::ServerPort(app), 9001);
    EXPECT_EQ(Field::ServerHost(app), "127.0.0.1");
    EXPECT_THAT(trace, Not(HasSubstr("Warning")));
}

TEST_F(AppComms, UnusablePortGivesOneWarningAndTheDefault)
{
    for (const char* text : {"abc", "0", "-5", "70000"})
    {
        ProbeApp probe;
        probe.missionReader.SetAppName("Probe");
        probe.missionReader.SetFile(
            Mission("ServerHost = 127.0.0.1\nServerPort = " + std::string(text), ""));
        testing::internal::CaptureStderr();
        EXPECT_TRUE(probe.ConfigureComms());
        const std::string trace = testing::internal::GetCapturedStderr();
        EXPECT_EQ(Field::ServerPort(probe), 9000) << text;
        const std::string warning = "Warning Server port not read from mission file";
        EXPECT_NE(trace.find(warning), std::string::npos) << text;
        EXPECT_EQ(trace.find(warning), trace.rfind(warning)) << text;
    }
}

TEST_F(AppComms, EmptyServerHostStopsStartUp)
{
    const std::string trace = Configure("ServerHost =\nServerPort = 9001", "");
    EXPECT_FALSE(configured);
    EXPECT_THAT(trace, HasSubstr("MOOS Server host not specified\n"));
    EXPECT_THAT(trace, Not(HasSubstr("MOOS Client")));
}

TEST_F(AppComms, NegativeCommsTickBecomesOneAndZeroStays)
{
    Configure("ServerHost = 127.0.0.1\nServerPort = 9001", "CommsTick = -3");
    EXPECT_EQ(Field::CommsFreq(app), 1);
    ProbeApp zero;
    zero.missionReader.SetAppName("Probe");
    zero.missionReader.SetFile(
        Mission("ServerHost = 127.0.0.1\nServerPort = 9001", "CommsTick = 0"));
    zero.ConfigureComms();
    EXPECT_EQ(Field::CommsFreq(zero), 0);
}

TEST_F(AppLoop, CallBacksRefuseANullApplication)
{
    EXPECT_FALSE(MOOSAPP_OnConnect(nullptr));
    EXPECT_FALSE(MOOSAPP_OnDisconnect(nullptr));
    EXPECT_FALSE(MOOSAPP_OnMail(nullptr));
}

TEST_F(AppLoop, RunWithoutAProcessNameFails)
{
    testing::internal::CaptureStderr();
    EXPECT_FALSE(app.Run(nullptr, Mission("", "").c_str()));
    EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("needs a process name"));
    EXPECT_FALSE(app.startedUp);
}
