#include "tools/crashreceiver/RQServerOptions.h"

#include <cstdint>

std::chrono::steady_clock::time_point BodyDeadline(const CRQServerOptions& options,
                                                   std::chrono::steady_clock::time_point tBodyStart,
                                                   size_t nReceived) {
    // Each nBodyMinBytesPerSecond bytes that arrived buy one more second.
    size_t nRate = options.nBodyMinBytesPerSecond > 0 ? options.nBodyMinBytesPerSecond : 1;
    uint64_t nEarnedMs = static_cast<uint64_t>(nReceived) * 1000 / nRate;
    return tBodyStart + options.headLimit + std::chrono::milliseconds(nEarnedMs);
}
