// A bare client of LocalServer for tests, on the library's own socket and
// packet code: it speaks the protocol step by step, so that tests can also
// break it on purpose.
#ifndef TESTS_SERVER_RAWCLIENT_H
#define TESTS_SERVER_RAWCLIENT_H

#include "MOOSLIB/MOOSCommObject.h"
#include "MOOSLIB/MOOSMsg.h"
#include "MOOSLIB/XPCTcpSocket.h"

#include <memory>
#include <string>

class RawClient
{
public:
    // Connects to 127.0.0.1:nPort; throws XPCException when it cannot.
    explicit RawClient(int nPort);

    // The 32-byte protocol identification block.
    static std::string ProtocolBlock();
    void SendBytes(const std::string& sBytes);
    // Block and greeting; returns the server's answer (a 'K' refusal or the
    // welcome). dfTime -1 stamps the current MOOS time.
    CMOOSMsg Greet(const std::string& sName, double dfTime = -1);

    // Sends Posted (oldest first) as the comms client does, newest first in
    // the packet, and returns the reply's mail in arrival order, without the
    // leading null message, whose double value lands in dfPacketTime.
    MOOSMSG_LIST Exchange(const MOOSMSG_LIST& Posted, double* pdfPacketTime = nullptr);
    // Shorthands for one-message exchanges.
    MOOSMSG_LIST Notify(const std::string& sKey, double dfVal);
    MOOSMSG_LIST Notify(const std::string& sKey, const std::string& sVal);
    MOOSMSG_LIST Register(const std::string& sKey, double dfInterval = 0.0);

    // Whether the server has closed the connection, waiting up to dfSeconds;
    // bytes that come meanwhile are discarded.
    bool IsClosedByServer(double dfSeconds);

    XPCTcpSocket& Socket() { return *m_pSocket; }

    std::string m_sName;

private:
    std::unique_ptr<XPCTcpSocket> m_pSocket;
    CMOOSCommObject m_Wire;
};

#endif
