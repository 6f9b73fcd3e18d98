// CServerLink: LocalServer's end of one client connection.
//
// Wraps the accepted socket with the bounded transfers the server needs: reads
// of an exact byte count where every wait for more bytes has a limit, packet
// reads bounded in size, packet sends with a time-out, and a hang-up that any
// thread may call to end the connection's pending and future transfers at once.
//
// Ownership: the link owns its socket and closes it in Close or the destructor.
// Threads: the connection's own thread does every transfer and the Close; any
// thread may call Hangup.
#ifndef LOCALSERVER_SERVERLINK_H
#define LOCALSERVER_SERVERLINK_H

#include "MOOSLIB/MOOSCommObject.h"
#include "MOOSLIB/MOOSCommPkt.h"
#include "MOOSLIB/XPCTcpSocket.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

class CServerLink
{
public:
    // nWaitMs bounds every wait for more bytes of a block or a packet once it
    // has begun, and every send (negative: no bound).
    CServerLink(std::unique_ptr<XPCTcpSocket> pSocket, int nWaitMs);
    ~CServerLink();

    CServerLink(const CServerLink&) = delete;
    CServerLink& operator=(const CServerLink&) = delete;

    // Reads exactly nBytes. The first byte may take nFirstWaitMs (negative:
    // without limit), each later one nWaitMs. False, with GetError() saying
    // why, when the peer closes, fails, goes silent or the link is hung up.
    bool ReadExact(unsigned char* pBuffer, std::size_t nBytes, int nFirstWaitMs);
    // Reads one whole packet into the empty packet Pkt, refusing one that
    // declares more than nByteLimit bytes. The packet's first byte may take
    // nFirstWaitMs.
    bool ReadPacket(CMOOSCommPkt& Pkt, std::size_t nByteLimit, int nFirstWaitMs);
    // Sends the packet whole; throws CMOOSException when it cannot.
    void SendPacket(CMOOSCommPkt& Pkt);
    // Sends one message as a one-message packet; throws CMOOSException.
    void SendMessage(CMOOSMsg& Msg);

    // Ends the connection's transfers from any thread; the socket stays open
    // until Close.
    void Hangup();
    // For a parting message: stops sending, then discards what the peer still
    // sends until it closes or nWaitMs pass, so that closing does not reset the
    // connection before the peer has read the parting message.
    void Drain(int nWaitMs);
    // Closes the socket; safe to call again.
    void Close();

    const std::string& GetError() const { return m_sError; }
    // The peer's address and port as text, for diagnostics.
    const std::string& GetPeer() const { return m_sPeer; }

private:
    bool WaitForBytes(int nWaitMs);
    std::size_t TakeStashed(unsigned char* pBuffer, std::size_t nBytes);
    bool Fail(const std::string& sWhy);

    CMOOSCommObject m_Wire;
    const int m_nWaitMs;
    std::unique_ptr<XPCTcpSocket> m_pSocket;
    // One receive takes all the peer has sent, up to the stash's size, so a
    // small packet costs one wait and one receive rather than two of each.
    std::array<unsigned char, 8192> m_Stash{};
    std::size_t m_nStashBegin = 0;
    std::size_t m_nStashEnd = 0;
    std::string m_sError;
    std::string m_sPeer;
    std::atomic<bool> m_bHungUp{false};
    // Guards the descriptor between Hangup on any thread and Close.
    std::mutex m_CloseLock;
};

#endif
