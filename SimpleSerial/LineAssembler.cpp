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
    reportDrops(now);
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

void LineAssembler::reportDrops(TimePoint now)
{
    if (droppedThisTake == 0)
        return;
    unreported += droppedThisTake;
    // An absence is told every time; lines a slow caller loses at once and
    // then in a summary at most once a minute, so every one is counted.
    if (takeCause == DropCause::CallerAway)
    {
        emit("SimpleSerial: dropped %zu lines from %s that waited while nothing read them "
             "for %.1f s",
             droppedThisTake, source.c_str(), Seconds(awayFor));
        unreported -= droppedThisTake;
    }
    else if (!summaryTold || now - lastSummary >= kDropSummaryPeriod)
    {
        const char* why = takeCause == DropCause::NoRoom
                              ? "more than 65536 bytes of lines waited unread"
                              : "they waited more than 2 s unread";
        emit("SimpleSerial: dropped %zu lines from %s: %s (%zu since start)%s%s", unreported,
             source.c_str(), why, dropped.lines(), behindAdvice.empty() ? "" : "; ",
             behindAdvice.c_str());
        unreported = 0;
        summaryTold = true;
        lastSummary = now;
    }
    droppedThisTake = 0;
}

void LineAssembler::reportTotal()
{
    if (dropped.lines() == 0)
        return;
    emit("SimpleSerial: %zu lines from %s were dropped in all: %zu waited too long, %zu while "
         "nothing read them, %zu for room",
         dropped.lines(), source.c_str(), dropped.stale, dropped.waitedAway, dropped.noRoom);
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
