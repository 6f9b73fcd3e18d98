#include "LineAssembler.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <iostream>

namespace
{
const char kLineEnd[] = "\r\n";

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}
} // namespace

SerialTraceSink StandardErrorTraces()
{
    return [](const std::string& text) { std::cerr << text << '\n' << std::flush; };
}

LineAssembler::LineAssembler(std::string sourceName, SerialTraceSink sink)
    : source(std::move(sourceName)), trace(std::move(sink))
{
}

void LineAssembler::start(TimePoint now)
{
    inputEnded = false;
    lastCallEnd = now;
    usualAway = Clock::duration::zero();
}

void LineAssembler::end()
{
    inputEnded = true;
    partial.clear();
    discardingRun = false;
}

void LineAssembler::beginCall(TimePoint now)
{
    const Clock::duration away = now - lastCallEnd;
    // Far longer away than usual: what waits may have waited the whole time.
    absent = away > kMaxLineAge && away > 2 * usualAway;
    usualAway = std::max(away, usualAway / 2);
    awayFor = away;
}

void LineAssembler::feed(const char* bytes, std::size_t count, TimePoint now)
{
    partial.append(bytes, count);
    std::size_t start = 0;
    for (std::size_t end; (end = partial.find(kLineEnd, start)) != std::string::npos;)
    {
        const std::size_t length = end + 2 - start;
        if (!discardingRun && length <= kMaxLineLength)
            completeLine(start, length, now);
        else if (!discardingRun)
            discardOverlongRun();
        start = end + 2;
        discardingRun = false;
    }
    partial.erase(0, start);
    if (partial.size() >= kMaxLineLength || (discardingRun && !partial.empty()))
    {
        if (!discardingRun)
            discardOverlongRun();
        discardingRun = true;
        // A CR at the very end may be the first half of the run's line end.
        partial.assign(partial.back() == '\r' ? "\r" : "");
    }
}

void LineAssembler::completeLine(std::size_t start, std::size_t length, TimePoint read)
{
    // Found after an absence: it may have come right after the previous call.
    held.push(partial.data() + start, length, absent ? lastCallEnd : read);
    lastLineRead = read;
    boundHeldBytes();
}

void LineAssembler::discardOverlongRun()
{
    ++dropped.overlongRuns;
    emit("SimpleSerial: discarding a run of more than %zu bytes without CR LF on %s",
         kMaxLineLength, source.c_str());
}

bool LineAssembler::take(std::string& line, TimePoint now)
{
    dropStaleLines(now);
    reportDrops();
    absent = false;
    if (held.empty())
        return false;
    held.take(line);
    return true;
}

void LineAssembler::dropStaleLines(TimePoint now)
{
    if (inputEnded)
        return;
    const DropCause cause = absent ? DropCause::CallerAway : DropCause::CallerSlower;
    while (!held.empty() && now - held.oldestArrival() > kMaxLineAge &&
           (absent || held.count() > 1))
        dropOldestLine(cause);
}

void LineAssembler::boundHeldBytes()
{
    while (held.bytes() > kMaxPendingBytes && held.count() > 1)
        dropOldestLine(DropCause::NoRoom);
}

void LineAssembler::dropOldestLine(DropCause cause)
{
    if (droppedThisTake == 0)
        takeCause = cause;
    held.drop();
    ++droppedThisTake;
    ++droppedSinceCaughtUp;
    switch (cause)
    {
    case DropCause::CallerSlower:
        ++dropped.stale;
        break;
    case DropCause::CallerAway:
        ++dropped.waitedAway;
        break;
    case DropCause::NoRoom:
        ++dropped.noRoom;
        break;
    }
}

void LineAssembler::reportDrops()
{
    if (droppedThisTake == 0)
        return;
    // An absence is told every time; a slow caller once until it catches up.
    const bool news =
        takeCause == DropCause::CallerAway || !behindReported || takeCause != reportedCause;
    if (news)
    {
        switch (takeCause)
        {
        case DropCause::CallerAway:
            emit("SimpleSerial: dropped %zu lines from %s that waited while nothing read them "
                 "for %.1f s",
                 droppedThisTake, source.c_str(), Seconds(awayFor));
            break;
        case DropCause::CallerSlower:
            emit("SimpleSerial: dropped %zu lines from %s that waited more than %.0f s, and drops "
                 "the oldest while the device sends lines faster than the loop reads them",
                 droppedThisTake, source.c_str(), Seconds(kMaxLineAge));
            break;
        case DropCause::NoRoom:
            emit("SimpleSerial: dropped the oldest %zu lines from %s: more than %zu bytes of "
                 "lines waited unread, the loop reads slower than the device sends",
                 droppedThisTake, source.c_str(), kMaxPendingBytes);
            break;
        }
        behindReported = true;
        reportedCause = takeCause;
        droppedReported = droppedSinceCaughtUp;
    }
    droppedThisTake = 0;
}

void LineAssembler::caughtUp()
{
    if (behindReported && droppedSinceCaughtUp > droppedReported)
        emit("SimpleSerial: reading %s is current again; %zu lines were dropped in all while it "
             "was behind",
             source.c_str(), droppedSinceCaughtUp);
    behindReported = false;
    droppedSinceCaughtUp = 0;
    droppedReported = 0;
}

void LineAssembler::emit(const char* format, ...)
{
    if (!trace)
        return;
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(static_cast<std::size_t>(std::max(length, 0)) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    text.pop_back();
    trace(text);
}
