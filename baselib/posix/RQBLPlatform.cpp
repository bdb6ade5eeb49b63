#include "baselib/RQBLPlatform.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <cwchar>
#include <thread>

#include "baselib/RQBLUtf8.h"

namespace rqbl {

std::wstring AnsiToWide(const char* pszText, size_t nLen) {
    std::wstring strOut;
    std::mbstate_t state{};
    size_t i = 0;
    while (i < nLen) {
        wchar_t wc = 0;
        size_t n = std::mbrtowc(&wc, pszText + i, nLen - i, &state);
        if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
            strOut.push_back(L'\uFFFD');
            state = std::mbstate_t{};
            ++i;
            continue;
        }
        if (n == 0) {
            n = 1;  // an embedded zero byte
        }
        strOut.push_back(wc);
        i += n;
    }
    return strOut;
}

bool WideToAnsi(const std::wstring& strText, std::string& strOut) {
    std::string out;
    std::mbstate_t state{};
    char buf[MB_LEN_MAX];
    for (wchar_t wc : strText) {
        size_t n = std::wcrtomb(buf, wc, &state);
        if (n == static_cast<size_t>(-1)) {
            return false;
        }
        out.append(buf, n);
    }
    strOut.swap(out);
    return true;
}

bool WideToFileName(const std::wstring& strPath, std::string& strOut) {
    // File names on Linux are bytes; UTF-8 is what every tool expects.
    return RQBLWideToUtf8Strict(strPath, strOut);
}

std::u16string WideToUtf16(const std::wstring& strText) {
    std::u16string out;
    out.reserve(strText.size());
    for (wchar_t wc : strText) {
        auto c = static_cast<uint32_t>(wc);
        if (c >= 0x10000 && c < 0x110000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c < 0x110000 ? c : 0xFFFD));
        }
    }
    return out;
}

std::wstring Utf16ToWide(const std::u16string& strText) {
    std::wstring out;
    out.reserve(strText.size());
    for (size_t i = 0; i < strText.size(); ++i) {
        uint32_t c = strText[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < strText.size() && strText[i + 1] >= 0xDC00 &&
            strText[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (strText[i + 1] - 0xDC00);
            ++i;
        }
        out.push_back(static_cast<wchar_t>(c));
    }
    return out;
}

std::wstring GetCurrentDir() {
    std::string buf(PATH_MAX, '\0');
    if (getcwd(buf.data(), buf.size()) == nullptr) {
        return std::wstring();
    }
    buf.resize(std::strlen(buf.c_str()));
    return AnsiToWide(buf.data(), buf.size());
}

bool SetCurrentDir(const std::wstring& strPath) {
    std::string name;
    return WideToFileName(strPath, name) && chdir(name.c_str()) == 0;
}

bool IsDirectory(const std::wstring& strPath) {
    std::string name;
    struct stat st {};
    return WideToFileName(strPath, name) && stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectory(const std::wstring& strPath) {
    std::string name;
    if (!WideToFileName(strPath, name)) {
        return false;
    }
    return mkdir(name.c_str(), 0777) == 0 || (errno == EEXIST && IsDirectory(strPath));
}

FILE* OpenDenyWrite(const std::wstring& strPath) {
    std::string name;
    if (!WideToFileName(strPath, name)) {
        return nullptr;
    }
    // Open without truncating, take the lock, and only then empty the file: a
    // file held by another writer must not lose its content to a failed open.
    int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return nullptr;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ftruncate(fd, 0) != 0) {
        close(fd);
        return nullptr;
    }
    FILE* pStream = fdopen(fd, "wb");
    if (pStream == nullptr) {
        close(fd);
    }
    return pStream;
}

RQBL_DATETIME LocalNow() {
    time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    RQBL_DATETIME dt;
    dt.wYear = static_cast<uint16_t>(local.tm_year + 1900);
    dt.byMonth = static_cast<uint8_t>(local.tm_mon + 1);
    dt.byDay = static_cast<uint8_t>(local.tm_mday);
    dt.byHour = static_cast<uint8_t>(local.tm_hour);
    dt.byMinute = static_cast<uint8_t>(local.tm_min);
    dt.bySecond = static_cast<uint8_t>(local.tm_sec);
    return dt;
}

uint32_t TimeGetTime() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

void SleepMs(uint32_t dwMilliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

void SetConsoleAttribute(int /*nAttribute*/) {
    // Terminal colours are not worth escape sequences in a support log.
}

}  // namespace rqbl
