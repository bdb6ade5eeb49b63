#include "patch/RQUtcDate.h"

#include <cstdio>

namespace {

constexpr int64_t kSecondsPerDay = 86400;

bool IsLeapYear(int64_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int64_t y, int m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// Days from 1970-01-01 to the given date (Howard Hinnant's days_from_civil).
int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

bool ReadDigits(std::string_view strText, size_t nStart, size_t nCount, int64_t& nValue) {
    nValue = 0;
    for (size_t i = nStart; i < nStart + nCount; ++i) {
        if (strText[i] < '0' || strText[i] > '9') {
            return false;
        }
        nValue = nValue * 10 + (strText[i] - '0');
    }
    return true;
}

}  // namespace

std::string RQFormatUtcDate(int64_t nUnixSeconds) {
    // Howard Hinnant's civil_from_days.
    const int64_t z =
        (nUnixSeconds >= 0 ? nUnixSeconds : nUnixSeconds - (kSecondsPerDay - 1)) / kSecondsPerDay + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    char szDate[16];
    std::snprintf(szDate, sizeof(szDate), "%04d-%02d-%02d", static_cast<int>(y), static_cast<int>(m),
                  static_cast<int>(d));
    return szDate;
}

bool RQParseUtcDate(std::string_view strDate, int64_t& nUnixSeconds) {
    int64_t y = 0;
    int64_t m = 0;
    int64_t d = 0;
    if (strDate.size() != 10 || strDate[4] != '-' || strDate[7] != '-' || !ReadDigits(strDate, 0, 4, y) ||
        !ReadDigits(strDate, 5, 2, m) || !ReadDigits(strDate, 8, 2, d)) {
        return false;
    }
    if (y < 1970 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, static_cast<int>(m))) {
        return false;
    }
    nUnixSeconds = DaysFromCivil(y, static_cast<int>(m), static_cast<int>(d)) * kSecondsPerDay;
    return true;
}
