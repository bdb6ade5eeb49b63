#include "baselib/RQBLUtf8.h"

#include <cstdint>

namespace {

constexpr uint32_t kReplacement = 0xFFFD;

void AppendUtf8(uint32_t cp, std::string& strOut) {
    if (cp < 0x80) {
        strOut.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        strOut.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        strOut.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        strOut.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        strOut.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        strOut.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        strOut.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        strOut.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        strOut.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        strOut.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// The next code point of UTF-16 code units held in any character type; false
// (with cp as U+FFFD) for an unpaired surrogate or a value beyond U+10FFFF.
template <typename CharT>
bool NextCodePoint(const std::basic_string<CharT>& s, size_t& i, uint32_t& cp) {
    auto c = static_cast<uint32_t>(s[i++]);
    if (c >= 0xD800 && c < 0xDC00 && i < s.size()) {
        auto c2 = static_cast<uint32_t>(s[i]);
        if (c2 >= 0xDC00 && c2 < 0xE000) {
            ++i;
            cp = 0x10000 + ((c - 0xD800) << 10) + (c2 - 0xDC00);
            return true;
        }
    }
    if ((c >= 0xD800 && c < 0xE000) || c > 0x10FFFF) {
        cp = kReplacement;
        return false;
    }
    cp = c;
    return true;
}

template <typename CharT>
bool EncodeUtf8(const std::basic_string<CharT>& strText, bool bStrict, std::string& strOut) {
    strOut.clear();
    strOut.reserve(strText.size());
    for (size_t i = 0; i < strText.size();) {
        uint32_t cp = 0;
        if (!NextCodePoint(strText, i, cp) && bStrict) {
            return false;
        }
        AppendUtf8(cp, strOut);
    }
    return true;
}

void AppendWide(uint32_t cp, std::wstring& strOut) {
    if (sizeof(wchar_t) == 2 && cp >= 0x10000) {
        cp -= 0x10000;
        strOut.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
        strOut.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        strOut.push_back(static_cast<wchar_t>(cp));
    }
}

}  // namespace

std::string RQBLWideToUtf8(const std::wstring& strText) {
    std::string strOut;
    EncodeUtf8(strText, false, strOut);
    return strOut;
}

std::string RQBLUtf16ToUtf8(const std::u16string& strText) {
    std::string strOut;
    EncodeUtf8(strText, false, strOut);
    return strOut;
}

bool RQBLWideToUtf8Strict(const std::wstring& strText, std::string& strOut) {
    std::string strMade;
    if (!EncodeUtf8(strText, true, strMade)) {
        return false;
    }
    strOut.swap(strMade);
    return true;
}

std::wstring RQBLUtf8ToWide(const char* pszText, size_t nLen) {
    const auto* p = reinterpret_cast<const unsigned char*>(pszText);
    std::wstring strOut;
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
            AppendWide(kReplacement, strOut);
            ++i;
            continue;
        }
        size_t j = 1;
        for (; j <= nMore && i + j < nLen && (p[i + j] & 0xC0) == 0x80; ++j) {
            cp = (cp << 6) | (p[i + j] & 0x3Fu);
        }
        if (j <= nMore || cp < nMin || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
            AppendWide(kReplacement, strOut);
            i += j;
            continue;
        }
        AppendWide(cp, strOut);
        i += nMore + 1;
    }
    return strOut;
}
