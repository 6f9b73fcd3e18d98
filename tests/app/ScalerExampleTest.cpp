// The example application, run as its own process against an in-process
// LocalServer: what the README promises a user's application does.
#include "AppTestSupport.h"

#include "LocalServer.h"
#include "MOOSLIB/MOOSCommClient.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <memory>

class ScalerExample : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetMOOSTimeWarp(10.0);
        LocalServerOptions options;
        options.TimeWarp = 10.0;
        server = std::make_unique<CLocalServer>(options);
        ASSERT_TRUE(server->Start("127.0.0.1", 0)) << server->GetError();
    }
    void TearDown() override
    {
        scaler.reset();
        sender.Close();
        server.reset();
        SetMOOSTimeWarp(1.0);
    }

    void StartScaler(const std::string& block)
    {
        LaunchScaler(block);
        sender.Run("127.0.0.1", server->GetPort(), "Sender", 20);
        ASSERT_TRUE(WaitFor([&] { return sender.IsConnected(); }));
    }

    // The example alone, registered with the server.
    void LaunchScaler(const std::string& block)
    {
        const std::string mission =
            dir.Write("scaler.moos", "MOOSTimeWarp = 10\nServerHost = 127.0.0.1\nServerPort = " +
                                         std::to_string(server->GetPort()) +
                                         "\nProcessConfig = Scaler\n{\nAppTick = 20\n"
                                         "CommsTick = 20\n" +
                                         block + "\n}\n");
        scaler = std::make_unique<moostest::Process>(
            std::vector<std::string>{SCALER_PATH, mission, "Scaler"});
        ASSERT_TRUE(scaler->Started());
        ASSERT_TRUE(server->WaitForClient("Scaler", 20.0));
    }

    // Publishes input until the server holds output (the scaler may not
    // have registered yet when the first value goes out); answers it.
    double Scaled(double input, const std::string& output)
    {
        CMOOSMsg msg;
        WaitFor(
            [&]
            {
                sender.Notify("DEPTH", input, -1.0);
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                return server->GetValue(output, msg);
            });
        return msg.m_dfVal;
    }

    TempDir dir;
    std::unique_ptr<CLocalServer> server;
    CMOOSCommClient sender;
    std::unique_ptr<moostest::Process> scaler;
};

TEST_F(ScalerExample, PublishesTheScaledInput)
{
    StartScaler("Input = DEPTH\nOutput = DEPTH_FEET\nFactor = 3.28084");
    EXPECT_NEAR(Scaled(10.0, "DEPTH_FEET"), 32.8084, 1e-9);
}

TEST_F(ScalerExample, OutputNameDefaultsFromTheInput)
{
    StartScaler("Input = DEPTH\nOffset = -1");
    EXPECT_NEAR(Scaled(10.0, "DEPTH_SCALED"), 9.0, 1e-9);
}

// What a service manager does to stop it: every stop signal ends it cleanly
// once it runs, connected to the server.
TEST_F(ScalerExample, StopSignalsEndItWithStatusZero)
{
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
    {
        LaunchScaler("Input = DEPTH");
        ASSERT_TRUE(
            WaitFor([&] { return scaler->Stderr().find("is Running") != std::string::npos; }))
            << scaler->Stderr();
        ::kill(scaler->Pid(), signal);
        EXPECT_EQ(scaler->WaitExit(), 0) << "signal " << signal;
    }
}
