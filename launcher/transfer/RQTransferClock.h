// The time the transfers go by. The launcher runs on the steady clock; the
// tests of back-off, pauses and progress give the queue a clock of their own
// that they move on, so that an hour of a slow line or a ten-minute
// Retry-After takes no real time. Every wait of the queue and of its slots
// goes through the clock, so that such a clock knows when all of them wait.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

class CRQTransferClock {
public:
    using Duration = std::chrono::steady_clock::duration;
    using TimePoint = std::chrono::steady_clock::time_point;
    // A wait without a deadline: it ends only when its condition holds.
    static constexpr TimePoint kNever = TimePoint::max();

    virtual ~CRQTransferClock() = default;

    virtual TimePoint Now() = 0;
    // Waits on cv, whose mutex lock holds, until fnDone() is true or the clock
    // reaches deadline; returns fnDone(). Whoever makes fnDone() true
    // notifies cv, as with any condition variable.
    virtual bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                           TimePoint deadline, const std::function<bool()>& fnDone) = 0;
    // A thread that waits on this clock is counted from before it starts
    // (Join, by whoever starts it) to its end (Leave, by the thread itself).
    // A test's clock moves time on only while every counted thread waits.
    virtual void Join() {}
    virtual void Leave() {}
    // Seconds since 1970-01-01 UTC by the computer's calendar clock: what a
    // Retry-After date is measured against when the server sends no Date.
    virtual int64_t UtcSeconds() = 0;
};

class CRQSteadyClock final : public CRQTransferClock {
public:
    TimePoint Now() override { return std::chrono::steady_clock::now(); }
    bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, TimePoint deadline,
                   const std::function<bool()>& fnDone) override;
    int64_t UtcSeconds() override;
};
