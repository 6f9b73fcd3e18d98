// CMOOSMsg: the one record that travels between a process and the MOOS server.
//
// A message is a value with public fields: a publication of a value, a
// subscription request, a handshake greeting or a server's reply. Its byte form,
// written and read by Serialize, is the wire format of one message:
//
//   offset width  field
//   0      4      total length of the message in bytes, this field included
//   4      4      message identifier
//   8      1      message type           9  1  data type
//   10     4+n    source, then auxiliary source, then further source, then key
//   ...    8      time, then double value, then second double value
//   ...    4+n    string value
//
// Integers are 32-bit signed, doubles IEEE 754 binary64, both little-endian on
// every host; a string is a 32-bit length followed by exactly that many bytes
// (no terminator, so strings may hold NUL and any other byte). The size is 54
// plus the lengths of the five strings.
//
// Ownership and threads: a message owns its strings and has no lock. It is built
// on one thread and handed to another by copy. The serialization cursor is
// working state of Serialize and the cursor operators, so one message must not
// be serialized from two threads at once.
#ifndef MOOSLIB_MOOSMSG_H
#define MOOSLIB_MOOSMSG_H

#include <algorithm>
#include <cstring>
#include <list>
#include <string>

// Message type characters.
#define MOOS_NOTIFY 'N'
#define MOOS_REGISTER 'R'
#define MOOS_UNREGISTER 'U'
#define MOOS_SERVER_REQUEST 'Q'
#define MOOS_DATA 'i'   // handshake greeting; string value = the client's name
#define MOOS_POISON 'K' // the server's refusal of a handshake; string value = why
#define MOOS_NULL_MSG '.'
// Data type characters.
#define MOOS_DOUBLE 'D'
#define MOOS_STRING 'S'
#define MOOS_BINARY_STRING 'B'

// The identifier the comms client gives a server request.
#define MOOS_SERVER_REQUEST_ID -2

class CMOOSMsg
{
public:
    // All defaults: a null message ('.') of data type 'D', identifier -1, the
    // three doubles -1 and every string empty.
    CMOOSMsg();
    // A message of data type 'D'. A time of exactly -1 is replaced by the
    // current MOOSTime(); any other time (0 included) is kept.
    CMOOSMsg(char cMsgType, const std::string& sKey, double dfVal, double dfTime = -1);
    // A message of data type 'S'; the double value stays -1. Time as above.
    CMOOSMsg(char cMsgType, const std::string& sKey, const std::string& sVal, double dfTime = -1);
    // Copies and moves take every field, the cursor included.
    CMOOSMsg(const CMOOSMsg&) = default;
    CMOOSMsg(CMOOSMsg&&) = default;
    CMOOSMsg& operator=(const CMOOSMsg&) = default;
    CMOOSMsg& operator=(CMOOSMsg&&) = default;
    virtual ~CMOOSMsg();

    std::string GetKey() const { return m_sKey; }
    double GetTime() const { return m_dfTime; }
    double GetDouble() const { return m_dfVal; }
    std::string GetString() const { return m_sVal; }
    std::string GetSource() const { return m_sSrc; }
    std::string GetSourceAux() const { return m_sSrcAux; }
    void SetSourceAux(const std::string& sSrcAux) { m_sSrcAux = sSrcAux; }

    bool IsType(char cType) const { return m_cMsgType == cType; }
    bool IsDataType(char cDataType) const { return m_cDataType == cDataType; }
    bool IsDouble() const { return IsDataType(MOOS_DOUBLE); }
    bool IsString() const { return IsDataType(MOOS_STRING); }
    bool IsBinary() const { return IsDataType(MOOS_BINARY_STRING); }
    // Binary data travels in the string value; call after building a string
    // message from the raw bytes.
    void MarkAsBinary() { m_cDataType = MOOS_BINARY_STRING; }

    // Whether the message's time is at or after dfAge.
    bool IsYoungerThan(double dfAge) const { return m_dfTime >= dfAge; }
    // Whether the message's time is more than 5 s away from dfTimeNow (exactly
    // 5 s is not skewed). The distance is stored through pdfSkew when given.
    // In play-back mode the message's own time stands in for dfTimeNow, so
    // nothing is skewed.
    bool IsSkewed(double dfTimeNow, double* pdfSkew = nullptr);

    // Length of the message last written or read by Serialize (as declared in
    // its first field when reading).
    int GetLength() const { return m_nLength; }
    // Exact number of bytes Serialize writes for this message (saturates at
    // UINT_MAX for strings no buffer could hold).
    unsigned int GetSizeInBytesWhenSerialised() const;

    // Writes (bToStream true) or reads (false) the byte form in
    // pBuffer[0, nBufferLen). Returns the length written, or when reading the
    // length declared by the first field (the bytes the fields took may
    // differ); -1 when the buffer is too short or, when reading, a string length
    // is negative or larger than what remains. Never touches a byte outside the
    // buffer. On failure the fields read so far stay in the message. Reading
    // expects a freshly constructed message: strings are read in front of what
    // they hold.
    int Serialize(unsigned char* pBuffer, int nBufferLen, bool bToStream = true);

    // Prints the message on one line through MOOSTrace.
    void Trace();
    // The value as text: "NotSet" when the time is unset, a double in fixed
    // notation with nPrecision digits, a binary size in kB, or the string value
    // up to its first NUL byte.
    std::string GetAsString(int nFieldWidth = 12, int nPrecision = 5);

    // Cursor operators: room at the current position for the item (and, for a
    // string, for its length and then its bytes), else they throw
    // CMOOSException ("CMOOSMsg::operator << Out Of Space" when writing,
    // "CMOOSMsg::operator >> Out Of Space" when reading). Only meaningful inside
    // a Serialize call or after setting the cursor the same way.
    CMOOSMsg& operator<<(double& dfVal);
    CMOOSMsg& operator<<(int& nVal);
    CMOOSMsg& operator<<(std::string& sVal);
    CMOOSMsg& operator<<(char& cVal);
    CMOOSMsg& operator>>(double& dfVal);
    CMOOSMsg& operator>>(int& nVal);
    // Inserts the bytes read at the front of sVal.
    CMOOSMsg& operator>>(std::string& sVal);
    CMOOSMsg& operator>>(char& cVal);

    // Whether nBytes more fit between the current position and the end of the
    // buffer. A negative count never fits.
    bool CanSerialiseN(int nBytes) const;

    // ---- Public fields, in wire order where they travel.
    char m_cMsgType = MOOS_NULL_MSG;
    char m_cDataType = MOOS_DOUBLE;
    std::string m_sKey;
    int m_nID = -1;
    double m_dfTime = -1;
    double m_dfVal = -1;
    // Carried unchanged; nothing in the client sets it.
    double m_dfVal2 = -1;
    // Text payload, or the raw bytes of binary data.
    std::string m_sVal;
    // Publishing process, filled by the comms client when posting.
    std::string m_sSrc;
    std::string m_sSrcAux;
    // Carried and serialized unchanged; the client never sets or reads it.
    std::string m_sOriginatingCommunity;

    // ---- Serialization cursor: valid only while Serialize runs.
    unsigned char* m_pSerializeBufferStart = nullptr;
    unsigned char* m_pSerializeBuffer = nullptr;
    int m_nSerializeBufferLen = 0;
    int m_nLength = 0;

private:
    // Cursor helpers behind the operators: each tests room once per item
    // (a string: its length field, then its bytes) and throws when out of room.
    void Room(int nBytes, const char* sWhich) const;
    template <class T> void PutNumber(T Val);
    template <class T> void TakeNumber(T& Val);
    void Put(int nVal) { PutNumber<int>(nVal); }
    void Put(char cVal) { PutNumber<char>(cVal); }
    void Put(double dfVal) { PutNumber<double>(dfVal); }
    void Put(const std::string& sVal);
    void Take(int& nVal) { TakeNumber<int>(nVal); }
    void Take(char& cVal) { TakeNumber<char>(cVal); }
    void Take(double& dfVal) { TakeNumber<double>(dfVal); }
    void Take(std::string& sVal);
    // Hands every field after the length field to Visit, in wire order: the
    // one place that order is written down, for both directions.
    template <class Visitor> void ForEachField(Visitor Visit);
};

// Messages by value: mail boxes, fetched batches and packet contents.
typedef std::list<CMOOSMsg> MOOSMSG_LIST;

// Orders mail oldest first: whether m1's time is less than m2's.
bool MOOSMsgTimeSorter(const CMOOSMsg& m1, const CMOOSMsg& m2);

// ---------------------------------------------------------------------------
// Byte order helpers shared by the message and packet byte forms, used for int
// (4 bytes) and double (8 bytes). They do not check bounds: the caller has
// checked room for sizeof(T) bytes.

// Decided once per process from the first byte of a stored 16-bit 1. Inline,
// because every field of every message asks.
inline bool IsLittleEndian()
{
    static const bool bLittle = []
    {
        const unsigned short nOne = 1;
        unsigned char cFirst;
        std::memcpy(&cFirst, &nOne, 1);
        return cFirst == 1;
    }();
    return bLittle;
}

template <class T> T SwapByteOrder(const T& Val)
{
    T Result;
    unsigned char Bytes[sizeof(T)];
    std::memcpy(Bytes, &Val, sizeof(T));
    std::reverse(Bytes, Bytes + sizeof(T));
    std::memcpy(&Result, Bytes, sizeof(T));
    return Result;
}

template <class T> void CopyToBufferAsLittleEndian(T Val, unsigned char* pBuffer)
{
    if (!IsLittleEndian())
        Val = SwapByteOrder<T>(Val);
    std::memcpy(pBuffer, &Val, sizeof(T));
}

template <class T> T CopyFromBufferAsLittleEndian(const unsigned char* pBuffer)
{
    T Val;
    std::memcpy(&Val, pBuffer, sizeof(T));
    return IsLittleEndian() ? Val : SwapByteOrder<T>(Val);
}

#endif
