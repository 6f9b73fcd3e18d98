#include "MOOSLIB/XPCSocket.h"

#include <arpa/inet.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <vector>

std::string XPCErrorText(int iErrno)
{
    return std::generic_category().message(iErrno);
}

XPCException::XPCException(const char* sText)
{
    std::snprintf(_sExceptionText, sizeof(_sExceptionText), "%s", sText ? sText : "");
}

XPCException XPCException::Format(const char* sFormat, const std::string& sArg)
{
    // The argument is put in place of the %s as plain text, so a reason that
    // itself holds a % sign cannot be read as a format; the constructor cuts.
    std::string sText = sFormat ? sFormat : "";
    const std::size_t iAt = sText.find("%s");
    if (iAt != std::string::npos)
        sText.replace(iAt, 2, sArg);
    return XPCException(sText);
}

namespace
{
// Room for one database entry; the re-entrant look-ups ask for more by ERANGE.
constexpr std::size_t kEntryBufferSize = 1024;
constexpr std::size_t kMaxEntryBufferSize = 1 << 20;

// Protocols the socket layer must work with even without a protocol database.
int iWellKnownProtocol(const std::string& sName)
{
    if (sName == "tcp")
        return IPPROTO_TCP;
    if (sName == "udp")
        return IPPROTO_UDP;
    return -1;
}

const char* sWellKnownProtocol(int iNumber)
{
    if (iNumber == IPPROTO_TCP)
        return "tcp";
    if (iNumber == IPPROTO_UDP)
        return "udp";
    return nullptr;
}

// Runs a re-entrant look-up, growing its scratch buffer while it reports
// ERANGE. Returns true when the look-up found an entry.
template <typename LookUp> bool bLookUp(std::vector<char>& buffer, LookUp lookUp)
{
    buffer.resize(kEntryBufferSize);
    for (;;)
    {
        const int iResult = lookUp(buffer.data(), buffer.size());
        if (iResult != ERANGE || buffer.size() >= kMaxEntryBufferSize)
            return iResult == 0;
        buffer.resize(buffer.size() * 2);
    }
}
} // namespace

XPCGetProtocol::XPCGetProtocol(const char* sName)
{
    protoent entry{};
    protoent* pFound = nullptr;
    std::vector<char> buffer;
    const bool bFound =
        sName &&
        bLookUp(buffer, [&](char* pBuf, std::size_t iSize)
                { return getprotobyname_r(sName, &entry, pBuf, iSize, &pFound); }) &&
        pFound;
    if (bFound)
    {
        _sName = entry.p_name;
        _iNumber = entry.p_proto;
        return;
    }
    _iNumber = sName ? iWellKnownProtocol(sName) : -1;
    if (_iNumber < 0)
        throw XPCException("Could Not Get Protocol By Name");
    _sName = sName;
}

XPCGetProtocol::XPCGetProtocol(int iNumber)
{
    protoent entry{};
    protoent* pFound = nullptr;
    std::vector<char> buffer;
    const bool bFound =
        bLookUp(buffer, [&](char* pBuf, std::size_t iSize)
                { return getprotobynumber_r(iNumber, &entry, pBuf, iSize, &pFound); }) &&
        pFound;
    const char* sKnown = bFound ? entry.p_name : sWellKnownProtocol(iNumber);
    if (!sKnown)
        throw XPCException("Could Not Get Protocol By Number");
    _sName = sKnown;
    _iNumber = iNumber;
}

XPCGetHostInfo::XPCGetHostInfo(const char* sHost, hostType type)
{
    if (type == ADDRESS)
    {
        in_addr address{};
        address.s_addr = sHost ? inet_addr(sHost) : INADDR_NONE;
        vLookUpAddress(address);
        return;
    }
    if (type != NAME)
        throw XPCException("Parameter Error Constructing XPCGetHostInfo");

    hostent entry{};
    hostent* pFound = nullptr;
    int iHostErrno = 0;
    std::vector<char> buffer;
    const bool bFound =
        sHost &&
        bLookUp(buffer, [&](char* pBuf, std::size_t iSize)
                { return gethostbyname_r(sHost, &entry, pBuf, iSize, &pFound, &iHostErrno); }) &&
        pFound;
    if (!bFound || entry.h_addrtype != AF_INET)
        throw XPCException("Error Getting Host By Name");
    vTakeEntry(entry);
}

XPCGetHostInfo::XPCGetHostInfo(unsigned long* pAddress)
{
    in_addr address{};
    address.s_addr = pAddress ? static_cast<in_addr_t>(*pAddress) : INADDR_NONE;
    if (pAddress && *pAddress != address.s_addr)
        address.s_addr = INADDR_NONE; // not an IPv4 address at all
    vLookUpAddress(address);
}

void XPCGetHostInfo::vLookUpAddress(in_addr address)
{
    if (address.s_addr == INADDR_NONE)
        throw XPCException("Error Getting Host By Address");
    hostent entry{};
    hostent* pFound = nullptr;
    int iHostErrno = 0;
    std::vector<char> buffer;
    const bool bFound =
        bLookUp(buffer,
                [&](char* pBuf, std::size_t iSize)
                {
                    return gethostbyaddr_r(&address, sizeof(address), AF_INET, &entry, pBuf, iSize,
                                           &pFound, &iHostErrno);
                }) &&
        pFound;
    if (!bFound)
        throw XPCException("Error Getting Host By Address");
    vTakeEntry(entry);
}

void XPCGetHostInfo::vTakeEntry(const hostent& entry)
{
    _sName = entry.h_name ? entry.h_name : "";
    if (entry.h_addr_list && entry.h_addr_list[0])
        inet_ntop(AF_INET, entry.h_addr_list[0], _sAddress, sizeof(_sAddress));
}

XPCSocket::XPCSocket(const char* sProtocol, int iPort)
    : _iPort(iPort), _iSocket(-1), _iBlocking(0), _clientAddr{}
{
    try
    {
        vOpen(sProtocol);
    }
    catch (XPCException& e)
    {
        throw XPCException::Format("Protocol Error Definition: %s", e.sGetException());
    }
}

XPCSocket::XPCSocket(int iSocketFd) : _iPort(0), _iSocket(iSocketFd), _iBlocking(0), _clientAddr{}
{
    _clientAddr.sin_family = AF_INET;
    _clientAddr.sin_addr.s_addr = htonl(INADDR_ANY);
}

XPCSocket::~XPCSocket()
{
    vCloseSocket();
}

void XPCSocket::vOpen(const char* sProtocol)
{
    const XPCGetProtocol protocol(sProtocol);
    const std::string sName = protocol.sGetProtocolName();
    const int iType = sName == "udp" ? SOCK_DGRAM : sName == "tcp" ? SOCK_STREAM : -1;
    if (iType < 0)
        vThrowError("Error opening socket: %s", EPROTONOSUPPORT);
    // A port outside 16 bits would silently become another port on the wire.
    if (_iPort < 0 || _iPort > 65535)
        vThrowError("Error opening socket: %s", EINVAL);

    // Close-on-exec: a program started by this process must not hold our
    // sockets open (a listening port would stay busy after we close it).
    _iSocket = ::socket(AF_INET, iType | SOCK_CLOEXEC, protocol.iGetProtocolNumber());
    if (_iSocket == -1)
        vThrowError("Error opening socket: %s", errno);

    _clientAddr.sin_family = AF_INET;
    _clientAddr.sin_addr.s_addr = htonl(INADDR_ANY);
    _clientAddr.sin_port = htons(static_cast<uint16_t>(_iPort));
}

void XPCSocket::vCloseSocket()
{
    if (_iSocket < 0)
        return;
    // Not retried on EINTR: the descriptor is released either way, and a
    // second close could hit a descriptor another thread has just opened.
    ::close(_iSocket);
    _iSocket = -1;
}

void XPCSocket::vSetSocketBlocking(int iToggle)
{
    int iMode = iToggle ? 1 : 0;
    if (iMode == _iBlocking)
        return;
    if (::ioctl(_iSocket, FIONBIO, &iMode) == -1)
        vThrowError(iMode ? "Error Turning ON Socket Blocking Status: %s"
                          : "Error Turning OFF Socket Blocking Status: %s",
                    errno);
    // Recorded only once the system has taken the new mode.
    _iBlocking = iMode;
}

const char* XPCSocket::sGetError()
{
    thread_local std::string sText;
    sText = XPCErrorText(errno);
    return sText.c_str();
}

int XPCSocket::iGetLastError()
{
    return errno;
}

void XPCSocket::vThrowError(const char* sFormat, int iErrno)
{
    throw XPCException::Format(sFormat, XPCErrorText(iErrno));
}

void XPCSocket::vSetOption(int iOption, const void* pValue, socklen_t iSize, const char* sFormat)
{
    if (::setsockopt(_iSocket, SOL_SOCKET, iOption, pValue, iSize) == -1)
        vThrowError(sFormat, errno);
}

void XPCSocket::vGetOption(int iOption, void* pValue, socklen_t iSize, const char* sFormat)
{
    if (::getsockopt(_iSocket, SOL_SOCKET, iOption, pValue, &iSize) == -1)
        vThrowError(sFormat, errno);
}

int XPCSocket::iGetIntOption(int iOption, const char* sFormat)
{
    int iValue = 0;
    vGetOption(iOption, &iValue, sizeof(iValue), sFormat);
    return iValue;
}

void XPCSocket::vSetDebug(int iToggle)
{
    vSetOption(SO_DEBUG, &iToggle, sizeof(iToggle), "Error Setting Debug Option: %s");
}

void XPCSocket::vSetBroadcast(int iToggle)
{
    vSetOption(SO_BROADCAST, &iToggle, sizeof(iToggle), "Error Setting Broadcast Option: %s");
}

void XPCSocket::vSetReuseAddr(int iToggle)
{
    vSetOption(SO_REUSEADDR, &iToggle, sizeof(iToggle), "Error Setting Reuseaddr Option: %s");
}

void XPCSocket::vSetKeepAlive(int iToggle)
{
    vSetOption(SO_KEEPALIVE, &iToggle, sizeof(iToggle), "Error Setting Keepalive Option: %s");
}

void XPCSocket::vSetLinger(linger lingerOption)
{
    vSetOption(SO_LINGER, &lingerOption, sizeof(lingerOption), "Error Setting Linger Option: %s");
}

void XPCSocket::vSetSendBuf(int iSize)
{
    vSetOption(SO_SNDBUF, &iSize, sizeof(iSize), "Error Setting SendBufSize Option: %s");
}

void XPCSocket::vSetRecieveBuf(int iSize)
{
    vSetOption(SO_RCVBUF, &iSize, sizeof(iSize), "Error Setting RecieveBufSize Option: %s");
}

void XPCSocket::vSetRecieveTimeOut(int iMilliSeconds)
{
    const char* sFormat = "Error Setting ReciveTimeOut Option: %s";
    if (iMilliSeconds < 0)
        vThrowError(sFormat, EINVAL);
    timeval timeOut{};
    timeOut.tv_sec = iMilliSeconds / 1000;
    timeOut.tv_usec = (iMilliSeconds % 1000) * 1000;
    vSetOption(SO_RCVTIMEO, &timeOut, sizeof(timeOut), sFormat);
}

int XPCSocket::iGetDebug()
{
    return iGetIntOption(SO_DEBUG, "Error Recieving Debug Option: %s");
}

int XPCSocket::iGetBroadcast()
{
    return iGetIntOption(SO_BROADCAST, "Error Extracting Broadcast Option: %s");
}

int XPCSocket::iGetReuseAddr()
{
    return iGetIntOption(SO_REUSEADDR, "Error Extracting Resuseaddr Option: %s");
}

int XPCSocket::iGetKeepAlive()
{
    return iGetIntOption(SO_KEEPALIVE, "Error Extracting Keepalive Option: %s");
}

void XPCSocket::vGetLinger(linger& lingerOption)
{
    vGetOption(SO_LINGER, &lingerOption, sizeof(lingerOption),
               "Error Extracting Linger Option: %s");
}

int XPCSocket::iGetSendBuf()
{
    return iGetIntOption(SO_SNDBUF, "Error Extracting SendBuf Option: %s");
}

int XPCSocket::iGetRecieveBuf()
{
    return iGetIntOption(SO_RCVBUF, "Error Extracting RcvBuf Option: %s");
}
