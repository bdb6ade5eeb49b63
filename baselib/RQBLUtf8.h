// UTF-8 to and from the program's wide text (UTF-16 on Windows, UTF-32
// elsewhere): the one place where UTF-8 is encoded and decoded.
#pragma once

#include <cstddef>
#include <string>

// Unpaired surrogates and values beyond U+10FFFF become U+FFFD.
std::string RQBLWideToUtf8(const std::wstring& strText);
std::string RQBLUtf16ToUtf8(const std::u16string& strText);
// Fails instead of replacing: for names that must survive the round trip.
bool RQBLWideToUtf8Strict(const std::wstring& strText, std::string& strOut);

// Malformed sequences become U+FFFD, one per maximal bad prefix, as the
// Unicode standard advises.
std::wstring RQBLUtf8ToWide(const char* pszText, size_t nLen);
inline std::wstring RQBLUtf8ToWide(const std::string& strText) {
    return RQBLUtf8ToWide(strText.data(), strText.size());
}
