// CNotificationLog: LocalServer's one-line-per-notification log.
//
// Each line is NotificationLine (ValueText.h) at the server time:
//   <server time %.3f> <source> <key> <value>\n
// where the value is the number (%.12g) of double data, the text of string
// data with every control byte (and DEL) written as \xHH so that a line stays
// one line, and "<binary N bytes>" for binary data; an empty source is "-".
// Other programs parse these lines, so the form is part of the interface.
//
// Threads: Write may be called from any thread; one lock keeps each line
// whole, and each line is flushed as it is written.
#ifndef LOCALSERVER_NOTIFICATIONLOG_H
#define LOCALSERVER_NOTIFICATIONLOG_H

#include "MOOSLIB/MOOSMsg.h"

#include <mutex>
#include <ostream>
#include <string>

class CNotificationLog
{
public:
    // pOut null: logging is off. The stream is not owned and must outlive the
    // log.
    explicit CNotificationLog(std::ostream* pOut) : m_pOut(pOut) {}

    // Logs the notifications among Messages; returns how many there were
    // (whether or not logging is on).
    std::size_t Write(double dfNow, const MOOSMSG_LIST& Messages);

private:
    std::ostream* const m_pOut;
    std::mutex m_Lock;
};

#endif
