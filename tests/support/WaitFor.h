// Bounded waits on events: a test polls a predicate instead of sleeping a
// fixed time and hoping that what it waits for has happened. The default
// bound is generous, for what must happen (sanitizer builds and a busy
// machine run several times slower); a wait for what must not happen names
// its own, shorter bound.
#ifndef TESTS_SUPPORT_WAITFOR_H
#define TESTS_SUPPORT_WAITFOR_H

#include <chrono>
#include <functional>
#include <thread>

namespace moostest
{
// How long a test waits for something that must happen.
constexpr std::chrono::milliseconds kMustHappen{20000};

// Polls done every few milliseconds until it holds or timeout has passed;
// answers its last answer.
inline bool WaitFor(const std::function<bool()>& done,
                    std::chrono::milliseconds timeout = kMustHappen)
{
    const auto giveUp = std::chrono::steady_clock::now() + timeout;
    while (!done())
    {
        if (std::chrono::steady_clock::now() > giveUp)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The same with the bound in seconds.
inline bool WaitFor(const std::function<bool()>& done, double dfSeconds)
{
    return WaitFor(done, std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::duration<double>(dfSeconds)));
}
} // namespace moostest

#endif // TESTS_SUPPORT_WAITFOR_H
