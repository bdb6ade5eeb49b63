#include "launcher/transfer/RQTransferClock.h"

#include <ctime>

bool CRQSteadyClock::WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                               TimePoint deadline, const std::function<bool()>& fnDone) {
    if (deadline == kNever) {
        // wait_until with the largest time point overflows where the library
        // converts it to another clock.
        cv.wait(lock, fnDone);
        return true;
    }
    return cv.wait_until(lock, deadline, fnDone);
}

int64_t CRQSteadyClock::UtcSeconds() {
    return static_cast<int64_t>(std::time(nullptr));
}
