// CMOOSVariable: one managed variable of an application.
//
// A managed variable pairs a server variable the application subscribes to
// (the subscribe name) with one it publishes under (the publish name), and
// keeps the latest value, either a double or a string, with its time, its
// writer and a fresh flag. The fresh flag is raised by every change of value
// and lowered when the application publishes the variable.
//
// CMOOSApp keeps its managed variables by value in a table keyed by local
// name (see MOOSApp.h); this class is a plain value and takes no locks, so a
// single instance must not be used by two threads at once.
#ifndef MOOSLIB_MOOSVARIABLE_H
#define MOOSLIB_MOOSVARIABLE_H

#include <string>

class CMOOSMsg;

class CMOOSVariable
{
public:
    // Not subscribed, not published, never set; asks the server for updates
    // at most every 0.2 s once subscribed.
    CMOOSVariable();
    // Local name, server name to subscribe to (empty: none), server name to
    // publish under, and the minimum interval in seconds asked of the server.
    CMOOSVariable(std::string name, std::string subscribeName, std::string publishName,
                  double commsTime);
    virtual ~CMOOSVariable() = default;

    CMOOSVariable(const CMOOSVariable&) = default;
    CMOOSVariable& operator=(const CMOOSVariable&) = default;

    // Each Set makes the value current and the variable fresh; they return true.
    bool Set(double value, double time);
    bool Set(const std::string& value, double time);
    // Takes value, time, key (as the name) and source (as the writer) from a
    // message. A double message sets the double, a string or binary message
    // the string; a message of any other data type changes neither value.
    bool Set(const CMOOSMsg& msg);
    // As Set(msg), but the variable keeps its own name. A variable of an
    // application's table takes its mail this way, so that it stays the
    // entry it was added as, whatever the message's key.
    bool UpdateFrom(const CMOOSMsg& msg);

    bool SetFresh(bool fresh);
    bool IsFresh() const { return fresh; }
    bool IsDouble() const { return isDouble; }

    double GetDoubleVal() const { return doubleVal; }
    std::string GetStringVal() const { return stringVal; }
    double GetTime() const { return time; }
    double GetCommsTime() const { return commsTime; }
    std::string GetName() const { return name; }
    std::string GetSubscribeName() const { return subscribeName; }
    std::string GetPublishName() const { return publishName; }
    std::string GetWriter() const { return writer; }

    // Seconds from the value's time to the given time.
    double GetAge(double now) const;

    // The value as text, left-aligned: "NaN" when never set, a double padded
    // to the width, a string unpadded. The text is followed by one null
    // character, as a stream terminated with std::ends gives it.
    std::string GetAsString(int width = 10) const;

private:
    double doubleVal = 0.0;
    std::string stringVal;
    bool isDouble = false;
    bool fresh = false;
    double time = -1.0; // -1.0: never set
    double commsTime = 0.2;
    std::string name;
    std::string writer;
    std::string subscribeName;
    std::string publishName;
};

#endif
