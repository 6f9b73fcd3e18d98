// Bounded waits on events, shared by the test folders: tests poll a predicate
// instead of sleeping a fixed time and hoping the event has happened.
#ifndef TESTS_SUPPORT_WAITFOR_H
#define TESTS_SUPPORT_WAITFOR_H

#include <chrono>
#include <functional>
#include <thread>

namespace moostest
{

// Polls pred every few milliseconds; true as soon as it holds, false after
// dfSeconds of wall clock (generous by default: for what must happen).
inline bool WaitFor(const std::function<bool()>& pred, double dfSeconds = 10.0)
{
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(dfSeconds));
    while (!pred())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace moostest

#endif // TESTS_SUPPORT_WAITFOR_H
