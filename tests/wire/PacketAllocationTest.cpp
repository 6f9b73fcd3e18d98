// A packet whose buffer cannot grow: the nothrow array allocation the packet
// uses is replaced in this test program, so a test can make it fail on
// demand. Every other allocation goes through the usual operator new[].
#include "MOOSLIB/MOOSCommPkt.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <string>
#include <vector>

namespace
{
std::atomic<bool> gbRefuseNothrowArrays{false};
} // namespace

void* operator new[](std::size_t nBytes, const std::nothrow_t&) noexcept
{
    if (gbRefuseNothrowArrays)
        return nullptr;
    try
    {
        return ::operator new[](nBytes);
    }
    catch (...)
    {
        return nullptr;
    }
}

namespace
{

class RefusedAllocation
{
public:
    RefusedAllocation() { gbRefuseNothrowArrays = true; }
    ~RefusedAllocation() { gbRefuseNothrowArrays = false; }
};

TEST(PacketAllocationTest, FailedGrowthIsTracedWithoutNewlineAndChangesNothing)
{
    CMOOSCommPkt Pkt;
    std::vector<unsigned char> Bytes(MOOS_PKT_DEFAULT_SPACE, 7);
    ASSERT_TRUE(Pkt.CopyToStream(Bytes.data(), 100));
    const unsigned char* pBefore = Pkt.Stream();

    testing::internal::CaptureStderr();
    {
        RefusedAllocation Refused;
        EXPECT_FALSE(Pkt.InflateTo(1 << 20));
        EXPECT_FALSE(Pkt.CopyToStream(Bytes.data(), MOOS_PKT_DEFAULT_SPACE));
    }
    const std::string sTrace = testing::internal::GetCapturedStderr();
    const std::string sLine = "memory allocation failed in CMOOSCommPkt::CopyToStream";
    EXPECT_EQ(sTrace, sLine + sLine);
    EXPECT_EQ(Pkt.Stream(), pBefore);

    // Once memory can be had again the packet grows and keeps its bytes.
    ASSERT_TRUE(Pkt.CopyToStream(Bytes.data(), MOOS_PKT_DEFAULT_SPACE));
    EXPECT_EQ(Pkt.Stream()[99], 7);
}

} // namespace
