#include "ServerLink.h"

#include "MOOSLIB/MOOSException.h"
#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <chrono>
#include <climits>

namespace
{
const int kChunkBytes = 8192;

std::string PeerOf(int nFd)
{
    sockaddr_in Address{};
    socklen_t nSize = sizeof(Address);
    char sText[INET_ADDRSTRLEN] = "?";
    if (getpeername(nFd, reinterpret_cast<sockaddr*>(&Address), &nSize) != 0)
        return "unknown peer";
    inet_ntop(AF_INET, &Address.sin_addr, sText, sizeof(sText));
    return MOOSFormat("%s:%d", sText, ntohs(Address.sin_port));
}

// A send that cannot complete within the bound returns short, which the packet
// layer reports as a failed send.
void SetSendTimeOut(int nFd, int nMs)
{
    if (nMs < 0)
        return;
    timeval Limit{};
    Limit.tv_sec = nMs / 1000;
    Limit.tv_usec = (nMs % 1000) * 1000;
    setsockopt(nFd, SOL_SOCKET, SO_SNDTIMEO, &Limit, sizeof(Limit));
}
// Every reply is one send that the client waits for; holding back its tail
// until earlier bytes are acknowledged would only delay the turn.
void SetNoDelay(int nFd)
{
    int nOn = 1;
    setsockopt(nFd, IPPROTO_TCP, TCP_NODELAY, &nOn, sizeof(nOn));
}
} // namespace

CServerLink::CServerLink(std::unique_ptr<XPCTcpSocket> pSocket, int nWaitMs)
    : m_nWaitMs(nWaitMs), m_pSocket(std::move(pSocket))
{
    m_sPeer = PeerOf(m_pSocket->iGetSocketFd());
    SetSendTimeOut(m_pSocket->iGetSocketFd(), nWaitMs);
    SetNoDelay(m_pSocket->iGetSocketFd());
}

CServerLink::~CServerLink()
{
    Close();
}

bool CServerLink::Fail(const std::string& sWhy)
{
    m_sError = sWhy;
    return false;
}

bool CServerLink::WaitForBytes(int nWaitMs)
{
    if (m_bHungUp)
        return Fail("hung up by the server");
    int nReady = m_pSocket->iWaitForReadable(nWaitMs);
    if (nReady == 0)
        return Fail(MOOSFormat("silent for more than %d ms", nWaitMs));
    if (nReady < 0)
        return Fail("waiting for data failed");
    return true;
}

bool CServerLink::ReadExact(unsigned char* pBuffer, std::size_t nBytes, int nFirstWaitMs)
{
    if (m_bHungUp)
        return Fail("hung up by the server");
    std::size_t nGot = TakeStashed(pBuffer, nBytes);
    while (nGot < nBytes)
    {
        if (!WaitForBytes(nGot == 0 ? nFirstWaitMs : m_nWaitMs))
            return false;
        int nRead = 0;
        try
        {
            nRead = m_pSocket->iRecieveMessage(m_Stash.data(), static_cast<int>(m_Stash.size()));
        }
        catch (const XPCException& e)
        {
            return Fail(e.sGetException());
        }
        if (nRead <= 0)
            return Fail(m_bHungUp ? "hung up by the server" : "closed by the client");
        m_nStashBegin = 0;
        m_nStashEnd = static_cast<std::size_t>(nRead);
        nGot += TakeStashed(pBuffer + nGot, nBytes - nGot);
    }
    return true;
}

// Bytes received beyond what the last read asked for (the next packet's
// length field behind a body, say) wait here for the next read.
std::size_t CServerLink::TakeStashed(unsigned char* pBuffer, std::size_t nBytes)
{
    const std::size_t nTake = std::min(nBytes, m_nStashEnd - m_nStashBegin);
    std::copy_n(m_Stash.begin() + static_cast<std::ptrdiff_t>(m_nStashBegin), nTake, pBuffer);
    m_nStashBegin += nTake;
    return nTake;
}

bool CServerLink::ReadPacket(CMOOSCommPkt& Pkt, std::size_t nByteLimit, int nFirstWaitMs)
{
    // ReadExact has already said why it failed; this only unwinds the read.
    struct LinkFailed
    {
    };
    int nWaitMs = nFirstWaitMs;
    auto Receive = [this, &nWaitMs](unsigned char* pBuffer, int nBytes)
    {
        if (!ReadExact(pBuffer, std::size_t(nBytes), nWaitMs))
            throw LinkFailed();
        nWaitMs = m_nWaitMs;
        return nBytes;
    };
    const int nLimit = int(std::min<std::size_t>(nByteLimit, INT_MAX));
    try
    {
        CMOOSCommObject::ReadPktFrom(Receive, Pkt, nLimit,
                                     {"bad packet length %d", "cannot hold the packet"});
    }
    catch (const LinkFailed&)
    {
        return false;
    }
    catch (const CMOOSException& e)
    {
        return Fail(e.m_sReason);
    }
    return true;
}

void CServerLink::SendPacket(CMOOSCommPkt& Pkt)
{
    if (m_bHungUp)
        throw CMOOSException("hung up by the server");
    m_Wire.SendPkt(m_pSocket.get(), Pkt);
}

void CServerLink::SendMessage(CMOOSMsg& Msg)
{
    if (m_bHungUp)
        throw CMOOSException("hung up by the server");
    m_Wire.SendMsg(m_pSocket.get(), Msg);
}

void CServerLink::Hangup()
{
    std::lock_guard<std::mutex> Guard(m_CloseLock);
    m_bHungUp = true;
    if (m_pSocket && m_pSocket->iGetSocketFd() >= 0)
        shutdown(m_pSocket->iGetSocketFd(), SHUT_RDWR);
}

void CServerLink::Drain(int nWaitMs)
{
    shutdown(m_pSocket->iGetSocketFd(), SHUT_WR);
    auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nWaitMs);
    unsigned char Scratch[kChunkBytes];
    for (;;)
    {
        auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(
                         Deadline - std::chrono::steady_clock::now())
                         .count();
        if (nLeft <= 0 || m_bHungUp || m_pSocket->iWaitForReadable(int(nLeft)) != 1)
            return;
        try
        {
            if (m_pSocket->iRecieveMessage(Scratch, sizeof(Scratch)) <= 0)
                return;
        }
        catch (const XPCException&)
        {
            return;
        }
    }
}

void CServerLink::Close()
{
    std::lock_guard<std::mutex> Guard(m_CloseLock);
    if (m_pSocket)
        m_pSocket->vCloseSocket();
}
