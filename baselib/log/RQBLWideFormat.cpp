#include "baselib/log/RQBLWideFormat.h"

#include <cwchar>
#include <vector>

namespace rqbl {

size_t FormatIntoV(wchar_t* pszBuffer, size_t nChars, const wchar_t* pszFormat, va_list args) {
    if (pszBuffer == nullptr || nChars == 0) {
        return 0;
    }
    pszBuffer[0] = L'\0';
    if (pszFormat == nullptr) {
        return 0;
    }
    va_list copy;
    va_copy(copy, args);
    int n = std::vswprintf(pszBuffer, nChars, pszFormat, copy);
    va_end(copy);
    if (n >= 0 && static_cast<size_t>(n) < nChars) {
        return static_cast<size_t>(n);
    }
    // Too long (or a bad conversion): keep what fits, measured to be sure.
    pszBuffer[nChars - 1] = L'\0';
    return std::wcslen(pszBuffer);
}

size_t FormatInto(wchar_t* pszBuffer, size_t nChars, const wchar_t* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    size_t n = FormatIntoV(pszBuffer, nChars, pszFormat, args);
    va_end(args);
    return n;
}

std::wstring FormatV(const wchar_t* pszFormat, va_list args) {
    if (pszFormat == nullptr) {
        return std::wstring();
    }
    // vswprintf cannot tell how long the text would be, so grow until it fits.
    std::vector<wchar_t> buf(512);
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        int n = std::vswprintf(buf.data(), buf.size(), pszFormat, copy);
        va_end(copy);
        if (n >= 0 && static_cast<size_t>(n) < buf.size()) {
            return std::wstring(buf.data(), static_cast<size_t>(n));
        }
        if (buf.size() >= (size_t{1} << 24)) {
            return std::wstring();  // a conversion error, not a length problem
        }
        buf.resize(buf.size() * 4);
    }
}

std::wstring Format(const wchar_t* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    std::wstring s = FormatV(pszFormat, args);
    va_end(args);
    return s;
}

}  // namespace rqbl
