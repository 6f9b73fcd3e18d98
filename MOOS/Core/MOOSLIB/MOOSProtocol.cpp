#include "MOOSLIB/MOOSProtocol.h"

#include <cstring>

namespace
{
constexpr char kProtocolName[] = "OWLS WON'T SKATE 4/9/11";
static_assert(sizeof(kProtocolName) <= kMOOSProtocolBlockBytes, "the name fits the block");

MOOSProtocolBlock MakeBlock()
{
    MOOSProtocolBlock Block{};
    std::memcpy(Block.data(), kProtocolName, sizeof(kProtocolName) - 1);
    return Block;
}
} // namespace

const MOOSProtocolBlock& MOOSIdentificationBlock()
{
    static const MOOSProtocolBlock Block = MakeBlock();
    return Block;
}

bool IsMOOSIdentificationBlock(const unsigned char* pBlock)
{
    return std::memcmp(MOOSIdentificationBlock().data(), pBlock, kMOOSProtocolBlockBytes) == 0;
}
