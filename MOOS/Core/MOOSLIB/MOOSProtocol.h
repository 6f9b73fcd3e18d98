// The fixed parts of the MOOS protocol that both ends of a connection must
// agree on, kept in one place so that the client and the server cannot drift
// apart: the identification block that opens every connection, and (in
// MOOSCommPkt.h) the packet and message limits that CMOOSCommObject's bounded
// packet read enforces.
//
// A connection begins with the client sending kMOOSProtocolBlockBytes bytes:
// the protocol's name followed by zero bytes. A server closes a connection
// that begins with anything else. The functions hold no state; any thread
// may call them.
#ifndef MOOSLIB_MOOSPROTOCOL_H
#define MOOSLIB_MOOSPROTOCOL_H

#include "MOOSLIB/MOOSCommPkt.h"

#include <array>
#include <cstddef>

constexpr std::size_t kMOOSProtocolBlockBytes = 32;
using MOOSProtocolBlock = std::array<unsigned char, kMOOSProtocolBlockBytes>;

// The block a client sends first.
const MOOSProtocolBlock& MOOSIdentificationBlock();
// Whether the kMOOSProtocolBlockBytes bytes at pBlock are that block.
bool IsMOOSIdentificationBlock(const unsigned char* pBlock);

#endif
