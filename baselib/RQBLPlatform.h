// The few operating-system services that the platform-free code needs.
// Implemented once for Windows (baselib/win) and once for POSIX (baselib/posix);
// nothing else in the platform-free code reaches the operating system directly.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// A local calendar time, packed as the log object keeps it.
struct RQBL_DATETIME {
    uint16_t wYear = 0;
    uint8_t byMonth = 0;
    uint8_t byDay = 0;
    uint8_t byHour = 0;
    uint8_t byMinute = 0;
    uint8_t bySecond = 0;
};

namespace rqbl {

// Text conversions through the calling thread's ANSI code page (the C library's
// locale on POSIX). A byte sequence that cannot be converted yields U+FFFD
// rather than failing, so a script in a foreign encoding still gives names.
std::wstring AnsiToWide(const char* pszText, size_t nLen);
// Fails (false) instead of producing half-converted text.
bool WideToAnsi(const std::wstring& strText, std::string& strOut);
// For file names handed to narrow-character APIs (the process ANSI code page).
bool WideToFileName(const std::wstring& strPath, std::string& strOut);

// UTF-16 code units of a wide string (wchar_t is 32 bits wide on POSIX).
std::u16string WideToUtf16(const std::wstring& strText);
std::wstring Utf16ToWide(const std::u16string& strText);

std::wstring GetCurrentDir();
bool SetCurrentDir(const std::wstring& strPath);
bool IsDirectory(const std::wstring& strPath);
// True when the folder exists afterwards (created now or already there).
bool MakeDirectory(const std::wstring& strPath);
constexpr wchar_t PathSeparator() {
#ifdef _WIN32
    return L'\\';
#else
    return L'/';
#endif
}

// Creates or empties a file for binary writing while denying other writers
// (readers are allowed). Null when the file cannot be opened or is held.
FILE* OpenDenyWrite(const std::wstring& strPath);

RQBL_DATETIME LocalNow();

// The system's 32-bit millisecond counter (wraps after about 49.7 days).
uint32_t TimeGetTime();

void SleepMs(uint32_t dwMilliseconds);

// Sets the text colour of the console's standard output, where there is one.
void SetConsoleAttribute(int nAttribute);

}  // namespace rqbl
