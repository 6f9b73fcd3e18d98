// HeldLines: whole lines a reader has received and not yet handed out,
// oldest first, each with the moment it arrived.
//
// The bytes of all lines sit in one buffer and the lines' lengths and
// arrivals in another; both are reused as lines come and go, so a device
// that streams lines for days makes no allocation once the buffers have
// grown to the most that ever waited at once (which the owner bounds).
//
// A plain value type; one thread at a time.
#ifndef SIMPLESERIAL_HELDLINES_H
#define SIMPLESERIAL_HELDLINES_H

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

class HeldLines
{
public:
    using Clock = std::chrono::steady_clock;

    bool empty() const { return first == marks.size(); }
    std::size_t count() const { return marks.size() - first; }
    // Bytes of all lines held.
    std::size_t bytes() const { return text.size() - textFront; }
    // Precondition for the rest: not empty.
    Clock::time_point oldestArrival() const { return marks[first].arrived; }
    std::size_t oldestLength() const { return marks[first].length; }

    void push(const char* line, std::size_t length, Clock::time_point arrived)
    {
        text.append(line, length);
        marks.push_back({length, arrived});
    }
    // Moves the oldest line into line.
    void take(std::string& line)
    {
        line.assign(text, textFront, marks[first].length);
        drop();
    }
    // Forgets the oldest line.
    void drop()
    {
        textFront += marks[first].length;
        ++first;
        if (empty())
            clear();
        else if (first >= kCompactAfter && first * 2 > marks.size())
            compact();
    }

private:
    // Moving what is left to the front costs no more than what was taken
    // since the last move, once this many lines went.
    static constexpr std::size_t kCompactAfter = 1024;

    struct Mark
    {
        std::size_t length;
        Clock::time_point arrived;
    };

    void clear()
    {
        text.clear();
        marks.clear();
        textFront = first = 0;
    }
    void compact()
    {
        text.erase(0, textFront);
        marks.erase(marks.begin(), marks.begin() + static_cast<std::ptrdiff_t>(first));
        textFront = first = 0;
    }

    std::string text;
    std::size_t textFront = 0;
    std::vector<Mark> marks;
    std::size_t first = 0;
};

#endif
