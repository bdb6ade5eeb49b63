#include "patch/RQPatchPath.h"

#include <vector>

#include "baselib/RQBLPlatform.h"
#include "baselib/RQBLUtf8.h"
#include "patch/RQReservedNames.h"

namespace {

bool IsSeparator(wchar_t c) {
    return c == L'/' || c == L'\\';
}

bool IsControl(uint32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

wchar_t AsciiUpper(wchar_t c) {
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

// Windows maps these names to devices in every folder and with any extension
// ("nul.txt", "COM1.dat"), and ignores trailing blanks before the extension.
bool IsDeviceName(const std::wstring& strComponent) {
    size_t nEnd = strComponent.find(L'.');
    std::wstring strBase = strComponent.substr(0, nEnd);
    while (!strBase.empty() && strBase.back() == L' ') {
        strBase.pop_back();
    }
    for (wchar_t& c : strBase) {
        c = AsciiUpper(c);
    }
    static const wchar_t* const kNames[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* pszName : kNames) {
        if (strBase == pszName) {
            return true;
        }
    }
    if (strBase.size() == 4 && (strBase.compare(0, 3, L"COM") == 0 || strBase.compare(0, 3, L"LPT") == 0)) {
        wchar_t d = strBase[3];
        // Superscript one, two and three count as digits here, too.
        return (d >= L'1' && d <= L'9') || d == L'\u00B9' || d == L'\u00B2' || d == L'\u00B3';
    }
    return false;
}

// Decodes the next code point (a UTF-16 pair where wchar_t is 16 bits wide).
// False for an unpaired surrogate or a value beyond U+10FFFF.
bool NextCodePoint(const std::wstring& s, size_t& i, uint32_t& cp) {
    uint32_t c = static_cast<uint32_t>(s[i++]);
    if (c >= 0xD800 && c <= 0xDBFF) {
        if (sizeof(wchar_t) != 2 || i >= s.size()) {
            return false;
        }
        uint32_t c2 = static_cast<uint32_t>(s[i]);
        if (c2 < 0xDC00 || c2 > 0xDFFF) {
            return false;
        }
        ++i;
        cp = 0x10000 + ((c - 0xD800) << 10) + (c2 - 0xDC00);
        return true;
    }
    if ((c >= 0xDC00 && c <= 0xDFFF) || c > 0x10FFFF) {
        return false;
    }
    cp = c;
    return true;
}

// Bytes that stand for themselves in a URL path segment (RFC 3986 unreserved
// and sub-delims, plus "@"). Everything else, "%" and "#" among it, is escaped,
// so a name is never read as an escape, a query or a fragment.
bool IsPlainUrlByte(unsigned char b) {
    if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9')) {
        return true;
    }
    switch (b) {
        case '-':
        case '.':
        case '_':
        case '~':
        case '!':
        case '$':
        case '&':
        case '\'':
        case '(':
        case ')':
        case '+':
        case ',':
        case ';':
        case '=':
        case '@':
            return true;
        default:
            return false;
    }
}

void AppendUrlSegment(const std::string& strUtf8, std::wstring& strUrl) {
    static const char kHex[] = "0123456789ABCDEF";
    for (char ch : strUtf8) {
        auto b = static_cast<unsigned char>(ch);
        if (IsPlainUrlByte(b)) {
            strUrl += static_cast<wchar_t>(b);
        } else {
            strUrl += L'%';
            strUrl += static_cast<wchar_t>(kHex[b >> 4]);
            strUrl += static_cast<wchar_t>(kHex[b & 0x0F]);
        }
    }
}

RQPatchPathError CheckComponent(const std::wstring& strComponent, std::string& strUtf8) {
    if (strComponent.empty()) {
        return RQPatchPathError::EMPTY_COMPONENT;
    }
    if (strComponent == L"." || strComponent == L"..") {
        return RQPatchPathError::DOT_COMPONENT;
    }
    for (size_t i = 0; i < strComponent.size();) {
        uint32_t cp = 0;
        if (!NextCodePoint(strComponent, i, cp)) {
            return RQPatchPathError::INVALID_UNICODE;
        }
        if (IsControl(cp)) {
            return RQPatchPathError::CONTROL_CHARACTER;
        }
        if (cp == ':') {
            return RQPatchPathError::COLON;
        }
        if (cp == '<' || cp == '>' || cp == '"' || cp == '|' || cp == '?' || cp == '*') {
            return RQPatchPathError::INVALID_CHARACTER;
        }
    }
    // Windows drops a trailing dot or blank, so "a." would open "a".
    if (strComponent.back() == L'.' || strComponent.back() == L' ') {
        return RQPatchPathError::TRAILING_DOT_OR_SPACE;
    }
    if (IsDeviceName(strComponent)) {
        return RQPatchPathError::DEVICE_NAME;
    }
    // Every code point was checked above, so the strict encoding cannot fail.
    return RQBLWideToUtf8Strict(strComponent, strUtf8) ? RQPatchPathError::NONE
                                                       : RQPatchPathError::INVALID_UNICODE;
}

}  // namespace

RQPatchPathError RQMakePatchPath(const std::wstring& strRelPath, RQ_PATCH_PATH& path) {
    path = RQ_PATCH_PATH();
    if (strRelPath.empty()) {
        return RQPatchPathError::EMPTY;
    }
    if (IsSeparator(strRelPath.front())) {
        return RQPatchPathError::ABSOLUTE_PATH;
    }
    // Colons are refused wherever they are, before the components are looked
    // at, so that "C:x" is reported as a drive and not as a device or name.
    if (strRelPath.find(L':') != std::wstring::npos) {
        return RQPatchPathError::COLON;
    }
    std::vector<std::wstring> vecComponents;
    size_t nStart = 0;
    for (size_t i = 0; i <= strRelPath.size(); ++i) {
        if (i == strRelPath.size() || IsSeparator(strRelPath[i])) {
            vecComponents.push_back(strRelPath.substr(nStart, i - nStart));
            nStart = i + 1;
        }
    }
    RQ_PATCH_PATH made;
    std::string strUtf8;
    for (size_t i = 0; i < vecComponents.size(); ++i) {
        RQPatchPathError err = CheckComponent(vecComponents[i], strUtf8);
        if (err != RQPatchPathError::NONE) {
            return err;
        }
        if (i > 0) {
            made.strLocal += rqbl::PathSeparator();
            made.strUrl += L'/';
        }
        made.strLocal += vecComponents[i];
        AppendUrlSegment(strUtf8, made.strUrl);
    }
    // A listed file with this name would be taken for an unfinished download
    // of its neighbour and swept away.
    if (RQIsDownloadTempName(vecComponents.back())) {
        return RQPatchPathError::TEMP_NAME;
    }
    path = made;
    return RQPatchPathError::NONE;
}

std::wstring RQPrintablePath(const std::wstring& strRelPath) {
    std::wstring strOut = strRelPath;
    for (wchar_t& c : strOut) {
        if (IsControl(static_cast<uint32_t>(c))) {
            c = L'?';
        }
    }
    return strOut;
}
