// How long to leave a server alone, and how long a file waits before its next
// try. On a patch day a hundred thousand launchers meet one CDN: waits drawn
// at random ("full jitter") spread them out, and doubling ceilings thin them
// out, where a fixed pause would bring them all back in the same second.
#pragma once

#include <chrono>
#include <cstdint>

#include "launcher/transfer/RQTransferClock.h"

struct RQ_BACKOFF {
    using Duration = CRQTransferClock::Duration;
    // A server that refuses (503, 429, a refused or reset connection) without
    // Retry-After: the first pause is drawn from [0, first], each further
    // refusal in a row doubles the ceiling, up to most.
    Duration first = std::chrono::seconds(1);
    Duration most = std::chrono::seconds(60);
    // The longest Retry-After obeyed: a server that asks for more (or names
    // a date next week) is asked again after this.
    Duration retryAfterMost = std::chrono::minutes(10);
    // Between the tries of a file that failed otherwise (a cut, a wrong
    // answer, a server error): the same doubling from first, up to this.
    Duration tryMost = std::chrono::seconds(8);
};

// Full jitter: dUnit (in [0, 1), the caller's random draw) of the ceiling
// min(most, first * 2^(nInARow - 1)); nInARow counts from 1.
CRQTransferClock::Duration RQBackoffDelay(CRQTransferClock::Duration first, CRQTransferClock::Duration most,
                                          unsigned nInARow, double dUnit);

// What a Retry-After of ullSeconds asks for: at most retryAfterMost, then up
// to a tenth more (dUnit of it), so that the launchers one answer sent away
// do not all come back in the same second.
CRQTransferClock::Duration RQRetryAfterDelay(const RQ_BACKOFF& backoff, uint64_t ullSeconds, double dUnit);
