// Bounded wide-character formatting. The C libraries disagree on what happens
// when the text does not fit (glibc returns -1, the Microsoft one may leave the
// buffer unterminated); these always cut the text and always terminate it.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

namespace rqbl {

// Returns the number of characters stored, terminator excluded.
size_t FormatIntoV(wchar_t* pszBuffer, size_t nChars, const wchar_t* pszFormat, va_list args);
size_t FormatInto(wchar_t* pszBuffer, size_t nChars, const wchar_t* pszFormat, ...);

// Formats without a length limit.
std::wstring FormatV(const wchar_t* pszFormat, va_list args);
std::wstring Format(const wchar_t* pszFormat, ...);

}  // namespace rqbl
