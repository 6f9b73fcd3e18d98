#include "BridgeHealth.h"

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <cmath>

const char* HealthStateName(HealthState state)
{
    switch (state)
    {
    case HealthState::Silent:
        return "silent";
    case HealthState::Waiting:
        return "waiting";
    case HealthState::Slow:
        return "slow";
    default:
        return "reading";
    }
}

BridgeHealth::BridgeHealth(std::string deviceIn, double expectedRateIn, Clock::time_point startIn)
    : device(std::move(deviceIn)), expectedRate(expectedRateIn), start(startIn),
      periodStart(startIn), judgedFrom(startIn)
{
}

void BridgeHealth::CountLine(bool gaveValues, bool wasRejected, Clock::time_point now)
{
    ++lines;
    ++periodLines;
    lastLine = now;
    anyLine = true;
    rejected += wasRejected;
    if (!gaveValues)
        return;
    ++values;
    ++periodValues;
    lastValues = now;
    anyValues = true;
    recentValues.push_back(now);
    // Only whether the window holds enough values matters: the oldest
    // beyond that many would leave the window first anyway.
    const auto enough = static_cast<std::size_t>(std::ceil(expectedRate * kSlowWindow.count()));
    while (recentValues.size() > enough + 1)
        recentValues.pop_front();
}

bool BridgeHealth::Observe(const Device& seen, Clock::time_point now)
{
    if (wasWaiting && !seen.waiting)
        ++reopens;
    wasWaiting = seen.waiting;
    last = seen;
    // A device that was away is judged afresh: its first seconds back are
    // not slow for the silence before them.
    if (seen.waiting || seen.silent)
        judgedFrom = now;
    const HealthState before = state;
    state = seen.waiting  ? HealthState::Waiting
            : seen.silent ? HealthState::Silent
            : IsSlow(now) ? HealthState::Slow
                          : HealthState::Reading;
    return state != before;
}

bool BridgeHealth::IsSlow(Clock::time_point now)
{
    if (expectedRate <= 0.0 || now - judgedFrom < kSlowWindow)
        return false;
    while (!recentValues.empty() && now - recentValues.front() >= kSlowWindow)
        recentValues.pop_front();
    const double window = std::chrono::duration<double>(kSlowWindow).count();
    slowRate = static_cast<double>(recentValues.size()) / window;
    return slowRate < expectedRate / 2.0;
}

std::string BridgeHealth::SlowReason() const
{
    if (state != HealthState::Slow)
        return "";
    return MOOSFormat("values from %s at %.1f a second for %d s (expected %g)", device.c_str(),
                      slowRate, static_cast<int>(kSlowWindow.count()), expectedRate);
}

double BridgeHealth::SecondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

std::string BridgeHealth::TakeRecord(Clock::time_point now)
{
    const double period = SecondsBetween(periodStart, now);
    const double lineRate = period > 0.0 ? static_cast<double>(periodLines) / period : 0.0;
    const double valuesRate = period > 0.0 ? static_cast<double>(periodValues) / period : 0.0;
    const std::string text = MOOSFormat(
        "state=%s,device=%s,lines=%zu,line_rate=%.1f,values_rate=%.1f,rejected=%zu,"
        "dropped_stale=%zu,dropped_cap=%zu,last_line_age=%.2f,last_values_age=%.2f,reopens=%zu",
        HealthStateName(state), device.c_str(), lines, lineRate, valuesRate, rejected,
        last.drops.stale + last.drops.waitedAway, last.drops.noRoom + last.drops.overlongRuns,
        SecondsBetween(anyLine ? lastLine : start, now),
        SecondsBetween(anyValues ? lastValues : start, now), reopens);
    periodStart = now;
    periodLines = periodValues = 0;
    return text;
}
