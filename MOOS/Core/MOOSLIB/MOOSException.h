// The exception of the message, packet and comms client layers.
//
// Thrown by value when a transfer or a serialization fails, and caught by the
// comms client, which traces its text and closes the connection. The text is a
// C string of at most 99 characters held in the object itself, so throwing and
// copying never allocate; catchers read m_sReason directly, e.g.
//     catch (const CMOOSException& e) { MOOSTrace("%s\n", e.m_sReason); }
#ifndef MOOSLIB_MOOSEXCEPTION_H
#define MOOSLIB_MOOSEXCEPTION_H

#include <string>

class CMOOSException
{
public:
    // Starts with an empty text.
    CMOOSException();
    // Keep the first 99 characters of the text.
    CMOOSException(const char* sStr);
    CMOOSException(const std::string& s);
    CMOOSException(const CMOOSException& Other);
    CMOOSException& operator=(const CMOOSException& Other);
    virtual ~CMOOSException();

    // Always NUL-terminated within the buffer.
    char m_sReason[100];

private:
    void SetText(const char* sStr, std::size_t nLength);
};

#endif
