// How long and how many: the receiver's limits on connections, which keep a
// slow or greedy client from holding what other players need.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

struct CRQServerOptions {
    size_t nMaxConnections = 32;
    size_t nMaxPerAddress = 4;
    // From accepting a connection to the blank line that ends its request
    // head. The body is given as long again to get going.
    std::chrono::milliseconds headLimit = std::chrono::seconds(10);
    // After that start, the body must have kept this rate on average since it
    // began (a pause is made up by a burst, a trickle is not).
    size_t nBodyMinBytesPerSecond = 4096;
    // No connection lasts longer, whatever its rate.
    std::chrono::milliseconds uploadLimit = std::chrono::minutes(5);
    // A reverse proxy on this address (nginx terminating TLS) speaks for many
    // players: its connections are exempt from the per-address limit, and its
    // requests name the player in X-Real-IP. Empty: no proxy is trusted.
    std::string strProxyAddress;
};

// When a body that began at tBodyStart and has nReceived bytes counts as too
// slow, not counting the upload limit.
std::chrono::steady_clock::time_point BodyDeadline(const CRQServerOptions& options,
                                                   std::chrono::steady_clock::time_point tBodyStart,
                                                   size_t nReceived);
