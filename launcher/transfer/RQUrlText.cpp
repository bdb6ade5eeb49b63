#include "launcher/transfer/RQUrlText.h"

namespace {

bool EndsUrl(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'"' || c == L'\'';
}

}  // namespace

std::wstring RQUrlForLog(const std::wstring& strUrl) {
    return RQTextForLog(strUrl);
}

std::wstring RQTextForLog(const std::wstring& strText) {
    std::wstring strOut;
    size_t nDone = 0;
    for (size_t nScheme = strText.find(L"://"); nScheme != std::wstring::npos;
         nScheme = strText.find(L"://", nScheme + 3)) {
        const size_t nAuthority = nScheme + 3;
        size_t nEnd = nAuthority;
        while (nEnd < strText.size() && !EndsUrl(strText[nEnd])) {
            ++nEnd;
        }
        const size_t nAt = strText.rfind(L'@', nEnd == 0 ? 0 : nEnd - 1);
        if (nAt == std::wstring::npos || nAt < nAuthority || nAt >= nEnd) {
            continue;
        }
        strOut.append(strText, nDone, nAuthority - nDone);
        strOut += L"***";
        nDone = nAt;
        nScheme = nAt - 3;  // the next search starts at the "@"
    }
    strOut.append(strText, nDone, std::wstring::npos);
    return strOut;
}
