#include "launcher/transfer/RQRetryAfter.h"

#include <cstdio>
#include <string>
#include <vector>

#include "patch/RQUtcDate.h"

namespace {

// More seconds than anyone waits: the caller's cap applies long before.
constexpr uint64_t kSecondsMax = 1000000000000ull;

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

std::vector<std::string_view> Words(std::string_view s) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && s[i] == ' ') {
            ++i;
        }
        size_t j = i;
        while (j < s.size() && s[j] != ' ') {
            ++j;
        }
        if (j > i) {
            words.push_back(s.substr(i, j - i));
        }
        i = j;
    }
    return words;
}

bool Number(std::string_view s, size_t nMinDigits, size_t nMaxDigits, int64_t& nValue) {
    if (s.size() < nMinDigits || s.size() > nMaxDigits) {
        return false;
    }
    nValue = 0;
    for (char c : s) {
        if (c < '0' || c > '9') {
            return false;
        }
        nValue = nValue * 10 + (c - '0');
    }
    return true;
}

int Month(std::string_view s) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int i = 0; i < 12; ++i) {
        if (s == kMonths[i]) {
            return i + 1;
        }
    }
    return 0;
}

// "08:49:37" as seconds into the day.
bool TimeOfDay(std::string_view s, int64_t& nSeconds) {
    int64_t h = 0;
    int64_t m = 0;
    int64_t sec = 0;
    if (s.size() != 8 || s[2] != ':' || s[5] != ':' || !Number(s.substr(0, 2), 2, 2, h) ||
        !Number(s.substr(3, 2), 2, 2, m) || !Number(s.substr(6, 2), 2, 2, sec) || h > 23 || m > 59 ||
        sec > 60) {
        return false;
    }
    nSeconds = h * 3600 + m * 60 + sec;
    return true;
}

bool Compose(int64_t nYear, int nMonth, int64_t nDay, int64_t nSecondOfDay, int64_t& nUnixSeconds) {
    if (nMonth == 0 || nYear > 9999) {
        return false;
    }
    char szDate[16];
    std::snprintf(szDate, sizeof(szDate), "%04d-%02d-%02d", static_cast<int>(nYear), nMonth,
                  static_cast<int>(nDay));
    int64_t nDayStart = 0;
    if (!RQParseUtcDate(szDate, nDayStart)) {
        return false;  // no such day (or before 1970)
    }
    nUnixSeconds = nDayStart + nSecondOfDay;
    return true;
}

}  // namespace

bool RQParseHttpDate(std::string_view strText, int64_t& nUnixSeconds) {
    const std::vector<std::string_view> w = Words(Trim(strText));
    int64_t nDay = 0;
    int64_t nYear = 0;
    int64_t nTime = 0;
    // IMF-fixdate: "Sun, 06 Nov 1994 08:49:37 GMT"
    if (w.size() == 6 && w[0].size() == 4 && w[0].back() == ',' && Number(w[1], 2, 2, nDay) &&
        Number(w[3], 4, 4, nYear) && TimeOfDay(w[4], nTime) && w[5] == "GMT") {
        return Compose(nYear, Month(w[2]), nDay, nTime, nUnixSeconds);
    }
    // RFC 850: "Sunday, 06-Nov-94 08:49:37 GMT"; a two-digit year from 70 on
    // is of the 1900s, below it of the 2000s.
    if (w.size() == 4 && w[0].size() > 1 && w[0].back() == ',' && w[1].size() == 9 && w[1][2] == '-' &&
        w[1][6] == '-' && Number(w[1].substr(0, 2), 2, 2, nDay) && Number(w[1].substr(7, 2), 2, 2, nYear) &&
        TimeOfDay(w[2], nTime) && w[3] == "GMT") {
        return Compose(nYear + (nYear >= 70 ? 1900 : 2000), Month(w[1].substr(3, 3)), nDay, nTime,
                       nUnixSeconds);
    }
    // asctime: "Sun Nov  6 08:49:37 1994"
    if (w.size() == 5 && w[0].size() == 3 && Number(w[2], 1, 2, nDay) && TimeOfDay(w[3], nTime) &&
        Number(w[4], 4, 4, nYear)) {
        return Compose(nYear, Month(w[1]), nDay, nTime, nUnixSeconds);
    }
    return false;
}

bool RQParseRetryAfter(std::string_view strValue, std::string_view strDate, int64_t nNowUtc,
                       uint64_t& ullSeconds) {
    strValue = Trim(strValue);
    if (strValue.empty()) {
        return false;
    }
    if (strValue.front() >= '0' && strValue.front() <= '9') {
        uint64_t ullValue = 0;
        for (char c : strValue) {
            if (c < '0' || c > '9') {
                return false;
            }
            ullValue = ullValue < kSecondsMax ? ullValue * 10 + static_cast<uint64_t>(c - '0') : kSecondsMax;
        }
        ullSeconds = ullValue;
        return true;
    }
    int64_t nWhen = 0;
    if (!RQParseHttpDate(strValue, nWhen)) {
        return false;
    }
    int64_t nServerNow = 0;
    const int64_t nNow = RQParseHttpDate(strDate, nServerNow) ? nServerNow : nNowUtc;
    ullSeconds = nWhen > nNow ? static_cast<uint64_t>(nWhen - nNow) : 0;
    return true;
}
