// Applications run end to end against an in-process LocalServer over
// loopback. Server, clients and applications share a time warp of 10, so
// status records come every 0.2 s and reconnections within a fraction of a
// second.
#include "AppFields.h"
#include "AppTestSupport.h"

#include "LocalServer.h"
#include "MOOSLIB/MOOSCommClient.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::HasSubstr;

namespace
{
const double kWarp = 10.0;

LocalServerOptions WarpedServer()
{
    LocalServerOptions options;
    options.TimeWarp = kWarp;
    return options;
}
} // namespace

class AppServer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetMOOSTimeWarp(kWarp);
        ASSERT_TRUE(server.Start("127.0.0.1", 0)) << server.GetError();
        port = server.GetPort();
    }
    void TearDown() override
    {
        commander.Close();
        SetMOOSTimeWarp(1.0);
    }

    std::string Mission(const std::string& block = "")
    {
        return dir.Write("probe.moos", "MOOSTimeWarp = 10\nServerHost = 127.0.0.1\n"
                                       "ServerPort = " +
                                           std::to_string(port) +
                                           "\nProcessConfig = Probe\n{\nCommsTick = 20\n"
                                           "AppTick = 20\n" +
                                           block + "\n}\n");
    }

    // The text of the latest notification of key at the server ("" if none).
    std::string ServerText(const std::string& key)
    {
        CMOOSMsg msg;
        return server.GetValue(key, msg) ? msg.m_sVal : "";
    }

    bool ServerTextHas(const std::string& key, const std::string& part)
    {
        return WaitFor([&] { return ServerText(key).find(part) != std::string::npos; });
    }

    // A second client of the server, for sending the probe its mail.
    void ConnectCommander()
    {
        commander.Run("127.0.0.1", port, "Commander", 20);
        ASSERT_TRUE(WaitFor([&] { return commander.IsConnected(); }));
    }

    void SendCommand(const std::string& text)
    {
        ASSERT_TRUE(WaitFor([&] { return commander.IsConnected(); }));
        ASSERT_TRUE(commander.Notify("PROBE_CMD", text, -1.0));
    }

    TempDir dir;
    CLocalServer server{WarpedServer()};
    int port = 0;
    ProbeApp app;
    CMOOSCommClient commander;
};

TEST_F(AppServer, ConnectsAndPublishesItsStatusRecord)
{
    BackgroundRun run(app, "Probe", Mission());
    ASSERT_TRUE(server.WaitForClient("Probe", 10.0));
    EXPECT_TRUE(ServerTextHas("PROBE_STATUS", "AppErrorFlag=false,Uptime="));
    // The status variable joins the published set with its first record.
    EXPECT_TRUE(ServerTextHas("PROBE_STATUS", ",MOOSName=Probe,Publishing=\"PROBE_STATUS,\","
                                              "Subscribing=\"\""));
    EXPECT_GT(app.iterations, 0);
    EXPECT_EQ(app.connects, 1);
}

TEST_F(AppServer, CommandMessageReachesOnCommandMsgAndOnNewMail)
{
    BackgroundRun run(app, "Probe", Mission("CatchCommandMessages = true"));
    ASSERT_TRUE(WaitFor([&] { return app.comms.IsRegisteredFor("PROBE_CMD"); }));
    ConnectCommander();
    SendCommand("go");
    ASSERT_TRUE(WaitFor([&] { return app.CommandCount() == 1; }));
    EXPECT_EQ(app.commands[0], "go");
    EXPECT_THAT(app.MailKeys(), ::testing::Contains("PROBE_CMD"));
    EXPECT_TRUE(ServerTextHas("PROBE_STATUS", "Subscribing=\"PROBE_CMD,\""));
}

TEST_F(AppServer, ResubscribedAfterTheServerRestarts)
{
    BackgroundRun run(app, "Probe", Mission("CatchCommandMessages = true"));
    ConnectCommander();
    ASSERT_TRUE(WaitFor([&] { return app.comms.IsRegisteredFor("PROBE_CMD"); }));
    SendCommand("before");
    ASSERT_TRUE(WaitFor([&] { return app.CommandCount() == 1; }));

    server.Stop();
    ASSERT_TRUE(WaitFor([&] { return app.disconnects >= 1; }));
    ASSERT_TRUE(server.Start("127.0.0.1", port)) << server.GetError();
    ASSERT_TRUE(WaitFor([&] { return app.connects >= 2; }));
    ASSERT_TRUE(WaitFor([&] { return app.comms.IsRegisteredFor("PROBE_CMD"); }));
    ASSERT_TRUE(server.WaitForClient("Commander", 10.0));
    // The probe's registration must reach the new server before the command.
    ASSERT_TRUE(ServerTextHas("PROBE_STATUS", "Subscribing=\"PROBE_CMD,\""));
    SendCommand("after");
    ASSERT_TRUE(WaitFor([&] { return app.CommandCount() == 2; }));
    EXPECT_EQ(app.commands[1], "after");
}

TEST_F(AppServer, ManagedVariablesFollowMailAndArePublishedWhenFresh)
{
    app.AddMOOSVariable("speed", "SPEED", "SPEED_ECHO", 0.0);
    app.AddMOOSVariable("local", "", "LOCAL_OUT", 0.0);
    app.AddMOOSVariable("watched", "SPEED", "", 0.0); // subscribed, never published
    app.registerOnConnect = true;
    app.updateVariables = true;
    app.onIterate = [](ProbeApp& a) { a.PublishFreshMOOSVariables(); };
    BackgroundRun run(app, "Probe", Mission());
    ASSERT_TRUE(WaitFor([&] { return app.comms.IsRegisteredFor("SPEED"); }));
    EXPECT_EQ(app.comms.GetRegistered(), std::set<std::string>{"SPEED"});
    ConnectCommander();
    ASSERT_TRUE(commander.Notify("SPEED", 3.5, -1.0));
    ASSERT_TRUE(WaitFor(
        [&]
        {
            CMOOSMsg echo;
            return server.GetValue("SPEED_ECHO", echo) && echo.m_dfVal == 3.5;
        }));
    EXPECT_EQ(app.GetMOOSVar("speed")->GetWriter(), "Commander");
    EXPECT_FALSE(app.GetMOOSVar("speed")->IsFresh());
    EXPECT_EQ(app.GetMOOSVar("watched")->GetDoubleVal(), 3.5);
    CMOOSMsg unnamed;
    EXPECT_FALSE(server.GetValue("", unnamed)) << "published under the empty name";
    EXPECT_EQ(app.comms.GetPublished().count(""), 0u);
}

TEST_F(AppServer, DebugTextIsPublishedWhileConnected)
{
    app.onIterate = [](ProbeApp& a)
    {
        if (a.iterations == 1)
            a.MOOSDebugWrite("hello");
    };
    BackgroundRun run(app, "Probe", Mission());
    EXPECT_TRUE(WaitFor([&] { return ServerText("MOOS_DEBUG") == "hello"; }));
}

TEST_F(AppServer, ThirdRunArgumentNamesTheClientButNotTheBlock)
{
    std::atomic<bool> done{false};
    const std::string mission = Mission("AppTick = 0.5");
    std::thread worker(
        [&]
        {
            app.Run("Probe", mission.c_str(), "Alias");
            done = true;
        });
    EXPECT_TRUE(server.WaitForClient("Alias", 10.0));
    EXPECT_TRUE(ServerTextHas("PROBE_STATUS", "MOOSName=Probe,"));
    EXPECT_EQ(Field::AppFreq(app), 0.5) << "settings still come from the block named Probe";
    app.RequestQuit();
    worker.join();
    EXPECT_TRUE(done);
}

TEST_F(AppServer, LoopIdlesUntilTheServerComesUp)
{
    server.Stop();
    BackgroundRun run(app, "Probe", Mission());
    // The connection wait gives up after about 5.5 s of warped time.
    ASSERT_TRUE(WaitFor([&] { return app.startedUp.load(); }, 5.0));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(app.iterations, 0);
    ASSERT_TRUE(server.Start("127.0.0.1", port)) << server.GetError();
    EXPECT_TRUE(WaitFor([&] { return app.iterations > 0; }));
    EXPECT_TRUE(ServerTextHas("PROBE_STATUS", "MOOSName=Probe,"));
}

TEST_F(AppServer, RunReturnsWithTheClientClosed)
{
    BackgroundRun run(app, "Probe", Mission());
    ASSERT_TRUE(server.WaitForClient("Probe", 10.0));
    run.Stop();
    EXPECT_TRUE(run.result);
    EXPECT_FALSE(app.comms.IsConnected());
    EXPECT_TRUE(server.WaitForClientGone("Probe", 10.0));
}

TEST_F(AppServer, QuittingDeliversWhatTheLastPassPosted)
{
    app.onIterate = [](ProbeApp& a)
    {
        if (a.comms.Notify("Last", "final", 0.0))
            a.RequestQuit();
    };
    const std::string mission = Mission("CommsTick = 1");
    EXPECT_TRUE(app.Run("Probe", mission.c_str()));
    EXPECT_EQ(ServerText("Last"), "final");
}

class AppServerMail : public AppServer
{
protected:
    // Runs the probe with mission and sends A stamped now and then B stamped
    // a second earlier, in one packet of the commander, until the probe got
    // both in one batch; answers that batch's keys in the order the probe
    // saw them. The variables are set up before the run starts: a probe that
    // connects first would otherwise never register them.
    std::vector<std::string> BatchOfAThenOlderB(const std::string& mission)
    {
        app.AddMOOSVariable("a", "A", "", 0.0);
        app.AddMOOSVariable("b", "B", "", 0.0);
        app.registerOnConnect = true;
        BackgroundRun run(app, "Probe", mission);
        ConnectCommander();
        EXPECT_TRUE(WaitFor([&] { return app.comms.IsRegisteredFor("B"); }));
        EXPECT_TRUE(server.WaitForClient("Probe", 10.0));
        std::vector<std::string> batch;
        for (int attempt = 0; attempt < 5 && batch.empty(); ++attempt)
        {
            const double now = MOOSTime();
            commander.Notify("A", 1.0, now);
            commander.Notify("B", 2.0, now - 1.0);
            WaitFor([&] { return !(batch = app.BatchWith({"A", "B"})).empty(); }, 2.0);
        }
        return batch;
    }
};

TEST_F(AppServerMail, MailIsHandedOverOldestFirst)
{
    EXPECT_EQ(BatchOfAThenOlderB(Mission()), (std::vector<std::string>{"B", "A"}));
}

TEST_F(AppServerMail, MailKeepsArrivalOrderWhenSortingIsOff)
{
    EXPECT_EQ(BatchOfAThenOlderB(Mission("SortMailByTime = false")),
              (std::vector<std::string>{"A", "B"}));
}

TEST_F(AppServer, MailCallBackRunsThePassesOnTheClientThread)
{
    app.UseMailCallBack();
    BackgroundRun run(app, "Probe", Mission());
    ASSERT_TRUE(WaitFor([&] { return app.iterations > 2; }));
    EXPECT_TRUE(ServerTextHas("PROBE_STATUS", "MOOSName=Probe,"));
    {
        std::lock_guard<std::mutex> guard(app.lock);
        EXPECT_NE(app.iterateThread, run.worker.get_id());
    }
    run.Stop();
    EXPECT_TRUE(run.result);
}

// The block key reaches the comms client before it starts, and the banner
// says so; without the key the client keeps its default pacing.
TEST_F(AppServer, SendImmediatelyKeyTurnsTheSwitchOnAndIsAnnounced)
{
    testing::internal::CaptureStderr();
    {
        BackgroundRun run(app, "Probe", Mission("SendImmediately = true"));
        ASSERT_TRUE(WaitFor([&] { return app.iterations > 0; }));
        EXPECT_TRUE(app.comms.GetSendImmediately());
    }
    EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("\t SendImmediately:"));

    ProbeApp plain;
    BackgroundRun run(plain, "Plain", Mission());
    ASSERT_TRUE(WaitFor([&] { return plain.iterations > 0; }));
    EXPECT_FALSE(plain.comms.GetSendImmediately());
}
