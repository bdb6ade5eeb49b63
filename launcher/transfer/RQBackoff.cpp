#include "launcher/transfer/RQBackoff.h"

#include <algorithm>

namespace {

using Duration = CRQTransferClock::Duration;

Duration Fraction(Duration d, double dUnit) {
    dUnit = std::clamp(dUnit, 0.0, 1.0);
    return std::chrono::duration_cast<Duration>(
        std::chrono::duration<double, Duration::period>(static_cast<double>(d.count()) * dUnit));
}

}  // namespace

Duration RQBackoffDelay(Duration first, Duration most, unsigned nInARow, double dUnit) {
    Duration ceiling = std::min(first, most);
    // Doubling stops at the cap (and long before the count could overflow).
    for (unsigned n = 1; n < nInARow && ceiling < most; ++n) {
        ceiling = std::min(most, ceiling * 2);
    }
    return Fraction(ceiling, dUnit);
}

Duration RQRetryAfterDelay(const RQ_BACKOFF& backoff, uint64_t ullSeconds, double dUnit) {
    const auto asked = std::chrono::duration_cast<Duration>(
        std::chrono::seconds(std::min<uint64_t>(ullSeconds, 10ull * 365 * 24 * 3600)));
    const Duration wait = std::min(asked, backoff.retryAfterMost);
    return wait + Fraction(wait / 10, dUnit);
}
