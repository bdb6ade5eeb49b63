// When a try is given up: only for lack of progress, never for its length.
// A try ends when it receives fewer than the window's minimum within one
// stall window (a server that has stopped sending), or when it averages less
// than the minimum rate over the last few windows (a server that drips just
// enough to pass every single window). A slow line that keeps delivering
// goes on for as long as the file takes.
//
// Time is handed in (now): no clock is read here.
#pragma once

#include <cstdint>
#include <deque>

#include "launcher/transfer/RQTransferClock.h"

struct RQ_PROGRESS_RULE {
    CRQTransferClock::Duration window = std::chrono::seconds(30);
    uint64_t ullWindowMinBytes = 1024;
    // Bytes per second, averaged over nAverageWindows windows; 0: no such rule.
    uint64_t ullMinAverageBytesPerSec = 256;
    unsigned nAverageWindows = 4;
};

// Under a bandwidth cap (bytes per second, 0: none) each of nParallel tries
// gets its share of it, however good the line: the least average rate asks
// for at most a quarter of that share, so that a low cap never ends tries
// that deliver all they are allowed to.
RQ_PROGRESS_RULE RQProgressRuleUnderCap(const RQ_PROGRESS_RULE& rule, uint64_t ullCapBytesPerSec,
                                        unsigned nParallel);

class CRQProgressGuard {
public:
    using TimePoint = CRQTransferClock::TimePoint;

    explicit CRQProgressGuard(const RQ_PROGRESS_RULE& rule) : m_rule(rule) {}

    // A try begins with ullBytes received so far (the count only grows).
    void Begin(TimePoint now, uint64_t ullBytes);
    // When Check has something to decide.
    TimePoint NextCheck() const { return m_nextCheck; }
    // False when the try is to end. Before NextCheck() it only says true.
    bool Check(TimePoint now, uint64_t ullBytes);

private:
    struct CMark {
        TimePoint at;
        uint64_t ullBytes;
    };
    const RQ_PROGRESS_RULE m_rule;
    TimePoint m_nextCheck{};
    // The counts at the ends of the last windows, oldest first.
    std::deque<CMark> m_marks;
};
