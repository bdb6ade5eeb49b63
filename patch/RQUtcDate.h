// Calendar dates in UTC ("YYYY-MM-DD", Gregorian) as the Unix time of their
// first second: the expiry of a signed release.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// False for anything but four, two and two digits naming a real day from
// 1970-01-01 to 9999-12-31.
bool RQParseUtcDate(std::string_view strDate, int64_t& nUnixSeconds);

// The day (UTC) of a Unix time as "YYYY-MM-DD", for times from 1970 to 9999.
std::string RQFormatUtcDate(int64_t nUnixSeconds);
