#include "launcher/transfer/RQUrlText.h"

std::wstring RQUrlForLog(const std::wstring& strUrl) {
    size_t nScheme = strUrl.find(L"://");
    if (nScheme == std::wstring::npos) {
        return strUrl;
    }
    size_t nAuthority = nScheme + 3;
    size_t nEnd = strUrl.find_first_of(L"/?#", nAuthority);
    if (nEnd == std::wstring::npos) {
        nEnd = strUrl.size();
    }
    size_t nAt = strUrl.rfind(L'@', nEnd);
    if (nAt == std::wstring::npos || nAt < nAuthority) {
        return strUrl;
    }
    return strUrl.substr(0, nAuthority) + L"***" + strUrl.substr(nAt);
}
