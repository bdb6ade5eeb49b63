// The parts of an http or https URL that a WinINet request is put together
// from, and the time-outs every request of ours carries. Both HTTP clients
// (the whole-file one and the transfer transport) build requests this way.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

struct RQBL_HTTP_URL {
    std::wstring strHost;
    INTERNET_PORT nPort = 0;
    std::wstring strUser;      // empty when the URL names none
    std::wstring strPassword;  // empty when the URL names none
    std::wstring strObject;    // path and query; "/" when the URL has none
    bool bSecure = false;      // https
};

// False for anything but an http or https URL with a host.
bool RQBLCrackHttpUrl(const std::wstring& strUrl, RQBL_HTTP_URL& url);

// Connect, send and receive time-outs on a session or a request handle.
void RQBLSetInternetTimeouts(HINTERNET hInternet, DWORD dwTimeoutMs);
