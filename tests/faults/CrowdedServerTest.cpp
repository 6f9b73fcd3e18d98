// LocalServer with a crowd: 200 well-behaved clients beside one that sends
// garbage, one that connects and never speaks and one that stalls in the
// middle of a packet, all at the same time. The misbehaving connections cost
// only themselves: every other client keeps exchanging its mail, and once
// everybody has gone the server holds no descriptor more than before.
#include "FaultTestSupport.h"
#include "LocalServer.h"
#include "RawClient.h"

#include "MOOSLIB/MOOSCommPkt.h"
#include "MOOSLIB/XPCTcpSocket.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

using namespace faults;

namespace
{

class CrowdedServerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        nFdsBefore = OpenDescriptors(getpid());
        // The silent and the stalled connections stay open for the whole
        // test, so everything the others do happens beside them.
        Options.IoTimeout = 60.0;
        Options.IdleTimeout = 60.0;
        Server = std::make_unique<CLocalServer>(Options);
        ASSERT_TRUE(Server->Start()) << Server->GetError();
    }

    std::unique_ptr<RawClient> Join(const std::string& sName)
    {
        auto pClient = std::make_unique<RawClient>(Server->GetPort());
        EXPECT_FALSE(pClient->Greet(sName).IsType(MOOS_POISON));
        return pClient;
    }

    // Values of the double mail a client gets in one exchange.
    static std::vector<double> MailOf(RawClient& Client)
    {
        std::vector<double> Values;
        for (const CMOOSMsg& Msg : Client.Exchange({}))
            Values.push_back(Msg.m_dfVal);
        return Values;
    }

    LocalServerOptions Options;
    std::unique_ptr<CLocalServer> Server;
    int nFdsBefore = -1;
};

TEST_F(CrowdedServerTest, MisbehavingConnectionsDoNotStopTheOthers)
{
    std::vector<std::unique_ptr<RawClient>> Crowd;
    for (int i = 0; i < 200; ++i)
    {
        Crowd.push_back(Join("crowd" + std::to_string(i)));
        Crowd.back()->Register("All");
    }

    auto pSilent = std::make_unique<RawClient>(Server->GetPort());
    auto pStalled = Join("stalled");
    pStalled->SendBytes(std::string("\x40\x00\x00\x00\x01", 5));
    auto pGarbage = Join("garbage");
    pGarbage->SendBytes(std::string("\xff\xff\xff\x7f", 4) + std::string(64, '\x5a'));
    EXPECT_TRUE(pGarbage->IsClosedByServer(10.0));

    auto pPublisher = Join("publisher");
    for (double dfValue : {1.0, 2.0, 3.0})
        pPublisher->Notify("All", dfValue);
    for (auto& pClient : Crowd)
        ASSERT_EQ(MailOf(*pClient), (std::vector<double>{1.0, 2.0, 3.0})) << pClient->m_sName;
    EXPECT_GE(Server->GetConnectionCount(), 203u) << "the silent or the stalled client was dropped";

    Crowd.clear();
    pSilent.reset();
    pStalled.reset();
    pGarbage.reset();
    pPublisher.reset();
    EXPECT_TRUE(WaitFor([&] { return Server->GetConnectionCount() == 0; }));
    Server->Stop();
    EXPECT_TRUE(WaitFor([&] { return OpenDescriptors(getpid()) <= nFdsBefore; }))
        << OpenDescriptors(getpid()) << " descriptors open, " << nFdsBefore << " before";
}

} // namespace
