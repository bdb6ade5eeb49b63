// What a busy server's Retry-After asks for: a number of seconds, or an HTTP
// date (RFC 9110: "Sun, 06 Nov 1994 08:49:37 GMT", and the two obsolete forms
// servers still send). A date is measured against the answer's own Date
// header where it has a valid one, so that a player's computer whose clock is
// wrong still waits as long as the server meant; only without one does the
// computer's clock count.
#pragma once

#include <cstdint>
#include <string_view>

// False for anything else (the header is then ignored). A date in the past
// asks for no wait. The caller caps what a server may ask for.
bool RQParseRetryAfter(std::string_view strValue, std::string_view strDate, int64_t nNowUtc,
                       uint64_t& ullSeconds);

// Seconds since 1970-01-01 UTC of an HTTP date; false when it is none.
bool RQParseHttpDate(std::string_view strText, int64_t& nUnixSeconds);
