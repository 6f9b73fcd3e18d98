// CMOOSCommPkt: one packet, the length-prefixed batch of messages that every
// exchange with the MOOS server consists of.
//
// Byte form (integers 32-bit signed little-endian):
//
//   offset width  field
//   0      4      total packet length, these 9 header bytes included
//   4      4      number of messages that follow
//   8      1      0 when written; skipped unread
//   9      ...    the messages' byte forms back to back, in list order
//
// An empty list is the 9 bytes 09 00 00 00 00 00 00 00 00.
//
// Reading puts the messages in front of the caller's list in reverse packet
// order (so a packet A, B, C read into a list X gives C, B, A, X), and when the
// packet's first message is a null message its double value is the sender's
// packet time.
//
// Ownership and threads: a packet is built for one use on the stack of the call
// that sends or receives it and is never shared. It keeps a 32 KiB buffer inside
// itself and moves to a heap buffer it owns (growing by doubling) only when a
// packet outgrows that. Not copyable: its stream points into itself.
//
// Limits: MOOS_MAX_PKT_LENGTH (64 MiB) is the one packet limit of both
// directions, for the clients and the server alike. A received packet may
// declare at most that many bytes and at least the 9 header bytes; anything
// else is a damaged or hostile stream and is refused before any of its body is
// received. A single message may take at most MOOS_MAX_MSG_LENGTH bytes, so
// that the packet carrying it, led by the server's null message when it is
// delivered, stays within the limit on every leg of its way.
#ifndef MOOSLIB_MOOSCOMMPKT_H
#define MOOSLIB_MOOSCOMMPKT_H

#include "MOOSLIB/MOOSMsg.h"

#include <memory>

#define MOOS_PKT_DEFAULT_SPACE 32768
#define MOOS_PKT_HEADER_LENGTH 9
#define MOOS_MAX_PKT_LENGTH (64 * 1024 * 1024)
// Room kept in every packet for its header and a leading null message.
#define MOOS_PKT_RESERVED_LENGTH 1024
#define MOOS_MAX_MSG_LENGTH (MOOS_MAX_PKT_LENGTH - MOOS_PKT_RESERVED_LENGTH)

class CMOOSCommPkt
{
public:
    CMOOSCommPkt();
    CMOOSCommPkt(const CMOOSCommPkt&) = delete;
    CMOOSCommPkt& operator=(const CMOOSCommPkt&) = delete;
    virtual ~CMOOSCommPkt();

    // bToStream true: replaces the packet's bytes by the byte form of List
    // (List is not changed); false on a message that cannot be written, with
    // the stream length left 0.
    //
    // bToStream false: reads the packet's bytes (as gathered by Fill) into the
    // front of List, dropping null messages when bNoNULL is set, and stores the
    // packet time through pdfPacketTime (when given) if the first message is a
    // null message, dropped or not. Returns false when the packet is damaged:
    // shorter than its header, a message count larger than the messages
    // present, a message cut short or declaring a length that does not fit;
    // the messages read before the damage stay in List.
    bool Serialize(MOOSMSG_LIST& List, bool bToStream = true, bool bNoNULL = false,
                   double* pdfPacketTime = nullptr);

    // Appends received bytes. The first call on an empty packet must carry
    // exactly the 4 bytes of the length field, which must lie between the
    // header length and MOOS_MAX_PKT_LENGTH; later calls may not carry more
    // than GetBytesRequired(). Returns false, changing nothing, when a
    // precondition is broken or the buffer cannot grow.
    bool Fill(unsigned char* InData, int nData);

    // 4 while the packet is empty, else the bytes still missing.
    int GetBytesRequired() const;
    int GetStreamLength() const { return m_nStreamLength; }
    // The packet's bytes: GetStreamLength() of them once complete.
    const unsigned char* Stream() const { return m_pStream; }

    // Appends bytes, growing the buffer first when they would reach its end.
    // Returns false, changing nothing, when it cannot grow.
    bool CopyToStream(unsigned char* pData, int nBytes);
    // Moves the bytes held to a heap buffer of nNewStreamSize bytes. Returns
    // false (the packet unchanged) when that is smaller than the bytes held or
    // the memory cannot be had.
    bool InflateTo(int nNewStreamSize);

    // There is no compression: always 1.0.
    double GetCompression() const { return m_dfCompression; }

    // Whether a length field read from a peer can be a packet's length.
    static bool IsValidStreamLength(int nLength);

private:
    // Grows the buffer, doubling, when nBytes more would reach its end.
    bool MakeRoomFor(int nBytes);
    bool WriteList(MOOSMSG_LIST& List);
    int ReadMessage(MOOSMSG_LIST& List, int nRemaining);
    bool ReadList(MOOSMSG_LIST& List, bool bNoNULL, double* pdfPacketTime);
    void WriteHeader(int nMessages);

    unsigned char* m_pStream;
    unsigned char* m_pNextData;
    int m_nStreamSpace = MOOS_PKT_DEFAULT_SPACE;
    unsigned char m_DefaultStream[MOOS_PKT_DEFAULT_SPACE];
    int m_nByteCount = 0;
    int m_nStreamLength = 0;
    // Owns the heap buffer once the packet has outgrown m_DefaultStream.
    std::unique_ptr<unsigned char[]> m_pHeapStream;
    double m_dfCompression = 1.0;
};

#endif
