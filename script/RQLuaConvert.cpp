#include "script/RQLuaConvert.h"

#include <limits>

#include "baselib/RQBLPlatform.h"

namespace rqlua {

namespace {
constexpr double kTwo31 = 2147483648.0;
constexpr double kTwo63 = 9223372036854775808.0;
constexpr double kTwo64 = 18446744073709551616.0;
}  // namespace

int32_t TruncToInt32(double dValue) {
    // Written as "inside" tests so that NaN falls through to the fallback.
    if (dValue > -kTwo31 - 1.0 && dValue < kTwo31) {
        return static_cast<int32_t>(dValue);
    }
    return std::numeric_limits<int32_t>::min();
}

int64_t TruncToInt64(double dValue) {
    // -2^63 is the smallest double that fits; the next one down is far below.
    if (dValue >= -kTwo63 && dValue < kTwo63) {
        return static_cast<int64_t>(dValue);
    }
    return std::numeric_limits<int64_t>::min();
}

uint64_t TruncToUInt64(double dValue) {
    if (dValue >= kTwo63 && dValue < kTwo64) {
        return static_cast<uint64_t>(dValue);
    }
    return static_cast<uint64_t>(TruncToInt64(dValue));
}

uint32_t TruncToUInt32(double dValue) {
    return static_cast<uint32_t>(static_cast<uint64_t>(TruncToInt64(dValue)));
}

std::wstring Utf8ToWide(const char* pszText, size_t nLen) {
    const auto* p = reinterpret_cast<const unsigned char*>(pszText);
    std::u16string strOut;
    strOut.reserve(nLen);
    size_t i = 0;
    while (i < nLen) {
        unsigned char c = p[i];
        uint32_t cp = 0;
        size_t nMore = 0;
        uint32_t nMin = 0;
        if (c < 0x80) {
            cp = c;
        } else if (c >= 0xC2 && c < 0xE0) {
            cp = c & 0x1Fu;
            nMore = 1;
            nMin = 0x80;
        } else if (c >= 0xE0 && c < 0xF0) {
            cp = c & 0x0Fu;
            nMore = 2;
            nMin = 0x800;
        } else if (c >= 0xF0 && c < 0xF5) {
            cp = c & 0x07u;
            nMore = 3;
            nMin = 0x10000;
        } else {
            strOut.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        size_t j = 1;
        for (; j <= nMore && i + j < nLen && (p[i + j] & 0xC0) == 0x80; ++j) {
            cp = (cp << 6) | (p[i + j] & 0x3Fu);
        }
        if (j <= nMore || cp < nMin || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
            // One replacement per maximal bad prefix, as the Unicode standard advises.
            strOut.push_back(u'\uFFFD');
            i += j;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            strOut.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            strOut.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            strOut.push_back(static_cast<char16_t>(cp));
        }
        i += nMore + 1;
    }
    return rqbl::Utf16ToWide(strOut);
}

}  // namespace rqlua
