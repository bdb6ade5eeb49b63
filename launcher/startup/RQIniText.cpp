#include "launcher/startup/RQIniText.h"

#include <cwctype>
#include <limits>

namespace {

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

std::wstring Trim(const std::wstring& s) {
    size_t nBegin = 0;
    size_t nEnd = s.size();
    while (nBegin < nEnd && IsBlank(s[nBegin])) {
        ++nBegin;
    }
    while (nEnd > nBegin && IsBlank(s[nEnd - 1])) {
        --nEnd;
    }
    return s.substr(nBegin, nEnd - nBegin);
}

bool SameName(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::towupper(a[i]) != std::towupper(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool RQReadIniString(const std::wstring& strText, const std::wstring& strSection, const std::wstring& strKey,
                     std::wstring& strValue) {
    strValue.clear();
    bool bInSection = false;
    bool bSectionSeen = false;
    size_t nPos = 0;
    while (nPos < strText.size()) {
        size_t nEnd = strText.find_first_of(L"\r\n", nPos);
        if (nEnd == std::wstring::npos) {
            nEnd = strText.size();
        }
        std::wstring strLine = Trim(strText.substr(nPos, nEnd - nPos));
        nPos = nEnd + 1;
        if (strLine.empty() || strLine[0] == L';') {
            continue;
        }
        if (strLine[0] == L'[') {
            size_t nClose = strLine.find(L']');
            std::wstring strName =
                Trim(strLine.substr(1, nClose == std::wstring::npos ? nClose : nClose - 1));
            // Only the first section of a name is read.
            bInSection = !bSectionSeen && SameName(strName, strSection);
            bSectionSeen = bSectionSeen || bInSection;
            continue;
        }
        size_t nEqual = strLine.find(L'=');
        if (!bInSection || nEqual == std::wstring::npos ||
            !SameName(Trim(strLine.substr(0, nEqual)), strKey)) {
            continue;
        }
        std::wstring strFound = Trim(strLine.substr(nEqual + 1));
        if (strFound.size() >= 2 && (strFound.front() == L'"' || strFound.front() == L'\'') &&
            strFound.back() == strFound.front()) {
            strFound = strFound.substr(1, strFound.size() - 2);
        }
        strValue = strFound;
        return true;
    }
    return false;
}

int RQReadIniInt(const std::wstring& strText, const std::wstring& strSection, const std::wstring& strKey,
                 int nDefault) {
    std::wstring strValue;
    if (!RQReadIniString(strText, strSection, strKey, strValue)) {
        return nDefault;
    }
    size_t i = 0;
    bool bNegative = false;
    if (i < strValue.size() && (strValue[i] == L'-' || strValue[i] == L'+')) {
        bNegative = strValue[i] == L'-';
        ++i;
    }
    if (i == strValue.size() || strValue[i] < L'0' || strValue[i] > L'9') {
        return nDefault;
    }
    long long nValue = 0;
    for (; i < strValue.size() && strValue[i] >= L'0' && strValue[i] <= L'9'; ++i) {
        nValue = nValue * 10 + (strValue[i] - L'0');
        if (nValue > std::numeric_limits<int>::max()) {
            nValue = std::numeric_limits<int>::max();
        }
    }
    return static_cast<int>(bNegative ? -nValue : nValue);
}
