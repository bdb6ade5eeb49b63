#include "baselib/win/RQBLHttpUrl.h"

namespace {

std::wstring Part(const wchar_t* pszPart, DWORD dwLength) {
    return pszPart != nullptr ? std::wstring(pszPart, dwLength) : std::wstring();
}

}  // namespace

bool RQBLCrackHttpUrl(const std::wstring& strUrl, RQBL_HTTP_URL& url) {
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof(parts);
    // Non-zero lengths: the parts point into strUrl.
    parts.dwHostNameLength = 1;
    parts.dwUrlPathLength = 1;
    parts.dwExtraInfoLength = 1;
    parts.dwUserNameLength = 1;
    parts.dwPasswordLength = 1;
    if (!InternetCrackUrlW(strUrl.c_str(), static_cast<DWORD>(strUrl.size()), 0, &parts) ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) ||
        parts.lpszHostName == nullptr || parts.dwHostNameLength == 0) {
        return false;
    }
    url.strHost = Part(parts.lpszHostName, parts.dwHostNameLength);
    url.nPort = parts.nPort;
    url.strUser = Part(parts.lpszUserName, parts.dwUserNameLength);
    url.strPassword = Part(parts.lpszPassword, parts.dwPasswordLength);
    url.strObject =
        Part(parts.lpszUrlPath, parts.dwUrlPathLength) + Part(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (url.strObject.empty()) {
        url.strObject = L"/";
    }
    url.bSecure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    return true;
}

void RQBLSetInternetTimeouts(HINTERNET hInternet, DWORD dwTimeoutMs) {
    for (DWORD dwOption :
         {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
        InternetSetOptionW(hInternet, dwOption, &dwTimeoutMs, sizeof(dwTimeoutMs));
    }
}
