#include "baselib/win/RQBLWinInetTransport.h"

#include "baselib/win/RQBLHttpUrl.h"

#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cwchar>
#include <string>

namespace {

// INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE, as every download
// of the launcher, and redirects left to Fetch. Certificate errors are never ignored.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_AUTO_REDIRECT |
                                INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI |
                                INTERNET_FLAG_KEEP_CONNECTION;
// Under Wine a time-out of a read leaves the request usable (the next call
// goes on waiting); WinINet reports it as its own or as the socket's error.
constexpr DWORD kSocketTimeout = 10060;  // WSAETIMEDOUT
bool IsTimeout(DWORD dwError) {
    return dwError == ERROR_INTERNET_TIMEOUT || dwError == kSocketTimeout;
}

// A connection that the server refused, or reset or closed before answering:
// what a server does whose queue of new connections is full. A name that does
// not resolve, or a server that does not answer in time, is something else.
bool IsRefusal(DWORD dwError) {
    return dwError == ERROR_INTERNET_CANNOT_CONNECT || dwError == ERROR_INTERNET_CONNECTION_RESET ||
           dwError == ERROR_INTERNET_CONNECTION_ABORTED;
}

bool QueryText(HINTERNET hRequest, DWORD dwInfoLevel, std::wstring& strText) {
    DWORD dwBytes = 0;
    DWORD dwIndex = 0;
    HttpQueryInfoW(hRequest, dwInfoLevel, nullptr, &dwBytes, &dwIndex);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || dwBytes == 0) {
        return false;
    }
    std::wstring strBuffer(dwBytes / sizeof(wchar_t) + 1, L'\0');
    dwIndex = 0;
    if (!HttpQueryInfoW(hRequest, dwInfoLevel, strBuffer.data(), &dwBytes, &dwIndex)) {
        return false;
    }
    strBuffer.resize(dwBytes / sizeof(wchar_t));
    strText = strBuffer;
    return true;
}

bool ParseUInt64(const std::wstring& strText, uint64_t& ullValue) {
    if (strText.empty() || strText[0] < L'0' || strText[0] > L'9') {
        return false;
    }
    wchar_t* pEnd = nullptr;
    ullValue = std::wcstoull(strText.c_str(), &pEnd, 10);
    return pEnd != nullptr && *pEnd == L'\0';
}

std::string Ascii(const std::wstring& strText) {
    std::string strOut;
    for (wchar_t c : strText) {
        strOut.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return strOut;
}

bool IsRedirect(DWORD dwStatus) {
    return dwStatus == 301 || dwStatus == 302 || dwStatus == 303 || dwStatus == 307 || dwStatus == 308;
}

bool IsPost(const RQBL_FETCH_REQUEST& request) {
    return !request.strContentType.empty();
}

bool StartsWithHttps(const std::wstring& strUrl) {
    return _wcsnicmp(strUrl.c_str(), L"https:", 6) == 0;
}

}  // namespace

CRQBLInternetSession::CRQBLInternetSession(uint32_t dwTimeoutMs, unsigned nConnectionsPerServer)
    : m_dwTimeoutMs(dwTimeoutMs) {
    m_hSession.Reset(InternetOpenW(L"RQ_HTTP", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    // Parallel transfers need as many connections to one server; the default
    // allows two. The setting is the process's: a session that needs no more
    // (0) leaves it as the others set it.
    if (nConnectionsPerServer == 0) {
        return;
    }
    DWORD dwConnections = nConnectionsPerServer;
    InternetSetOptionW(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &dwConnections, sizeof(dwConnections));
    InternetSetOptionW(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &dwConnections,
                       sizeof(dwConnections));
}

CRQBLWinInetTransport::CRQBLWinInetTransport(std::shared_ptr<CRQBLInternetSession> pSession)
    : m_pSession(std::move(pSession)), m_pBuffer(new uint8_t[READ_MAX]) {}

CRQBLWinInetTransport::~CRQBLWinInetTransport() {
    CloseHandles();
}

void CRQBLWinInetTransport::Abort() {
    m_bAbort = true;
    // Closing a request from another thread ends a call blocked on it (on
    // Windows; Wine lets the call run to its time-out). The fetching thread
    // looks at the abort flag after every call and uses no handle after it.
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hRequest.Close();
    m_hConnect.Close();
}

void CRQBLWinInetTransport::CloseHandles() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hRequest.Close();
    m_hConnect.Close();
}

RQBL_FETCH_RESULT CRQBLWinInetTransport::Fetch(const RQBL_FETCH_REQUEST& request, CRQBLFetchSink& sink) {
    m_bAbort = false;
    std::wstring strUrl = request.strUrl;
    RQBL_FETCH_RESULT result;
    for (int nRedirects = 0;; ++nRedirects) {
        result = Send(strUrl, request);
        if (result.error != RQBLFetchError::NONE || !IsRedirect(static_cast<DWORD>(result.nStatus))) {
            break;
        }
        std::wstring strLocation;
        HINTERNET hRequest = m_hRequest.Get();
        if (!QueryText(hRequest, HTTP_QUERY_LOCATION, strLocation)) {
            result.error = RQBLFetchError::STATUS;
            break;
        }
        // A relative Location is taken against the URL that answered.
        DWORD dwChars = INTERNET_MAX_URL_LENGTH;
        std::wstring strNext(dwChars, L'\0');
        if (!InternetCombineUrlW(strUrl.c_str(), strLocation.c_str(), strNext.data(), &dwChars,
                                 ICU_NO_ENCODE)) {
            result.error = RQBLFetchError::BAD_URL;
            break;
        }
        strNext.resize(dwChars);
        if (nRedirects + 1 > RQBL_MAX_REDIRECTS) {
            result.error = RQBLFetchError::TOO_MANY_REDIRECTS;
            break;
        }
        // What came over https must not be handed over to a connection that
        // anyone on the way can read and change.
        if (StartsWithHttps(strUrl) && !StartsWithHttps(strNext)) {
            result.error = RQBLFetchError::INSECURE_REDIRECT;
            break;
        }
        strUrl = strNext;
        CloseHandles();
    }
    if (result.error == RQBLFetchError::NONE) {
        result = Receive(request, sink);
    }
    CloseHandles();
    if (Aborted()) {
        result.error = RQBLFetchError::ABORTED;
    }
    return result;
}

RQBL_FETCH_RESULT CRQBLWinInetTransport::Send(const std::wstring& strUrl, const RQBL_FETCH_REQUEST& request) {
    RQBL_FETCH_RESULT result;
    RQBL_HTTP_URL url;
    if (!RQBLCrackHttpUrl(strUrl, url)) {
        result.error = RQBLFetchError::BAD_URL;
        return result;
    }
    DWORD dwFlags = kRequestFlags | (url.bSecure ? INTERNET_FLAG_SECURE : 0);
    HINTERNET hRequest = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (Aborted()) {
            result.error = RQBLFetchError::ABORTED;
            return result;
        }
        // A connection handle per request: each goes to the server that its
        // own URL names (WinINet still keeps the TCP connections alive).
        m_hConnect.Reset(InternetConnectW(m_pSession->Get(), url.strHost.c_str(), url.nPort,
                                          url.strUser.empty() ? nullptr : url.strUser.c_str(),
                                          url.strPassword.empty() ? nullptr : url.strPassword.c_str(),
                                          INTERNET_SERVICE_HTTP, 0, 0));
        if (m_hConnect) {
            m_hRequest.Reset(HttpOpenRequestW(m_hConnect.Get(), IsPost(request) ? L"POST" : L"GET",
                                              url.strObject.c_str(), nullptr, nullptr, nullptr, dwFlags, 0));
        }
        hRequest = m_hRequest.Get();
    }
    if (hRequest == nullptr) {
        result.error = RQBLFetchError::CONNECT;
        result.dwSystemError = GetLastError();
        return result;
    }
    RQBLSetInternetTimeouts(hRequest, m_pSession->TimeoutMs());
    // Nothing but the plain bytes: a compressed body would not match its checksum.
    std::wstring strHeaders = L"Accept-Encoding: identity\r\n";
    if (IsPost(request)) {
        strHeaders += L"Content-Type: " +
                      std::wstring(request.strContentType.begin(), request.strContentType.end()) + L"\r\n";
    }
    if (RQBLAsksRange(request)) {
        strHeaders += L"Range: bytes=" + std::to_wstring(request.ullRangeStart) + L"-" +
                      (request.ullRangeEnd > 0 ? std::to_wstring(request.ullRangeEnd - 1) : std::wstring()) +
                      L"\r\n";
        if (!request.strIfRange.empty()) {
            strHeaders +=
                L"If-Range: " + std::wstring(request.strIfRange.begin(), request.strIfRange.end()) + L"\r\n";
        }
    }
    const bool bSent = IsPost(request) ? SendBody(hRequest, strHeaders, request)
                                       : HttpSendRequestW(hRequest, strHeaders.c_str(),
                                                          static_cast<DWORD>(strHeaders.size()), nullptr, 0);
    if (!bSent) {
        result.error = Aborted() ? RQBLFetchError::ABORTED : RQBLFetchError::CONNECT;
        result.dwSystemError = GetLastError();
        result.bRefused = IsRefusal(result.dwSystemError);
        return result;
    }
    if (Aborted()) {
        result.error = RQBLFetchError::ABORTED;
        return result;
    }
    DWORD dwStatus = 0;
    DWORD dwBytes = sizeof(dwStatus);
    DWORD dwIndex = 0;
    HttpQueryInfoW(hRequest, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &dwStatus, &dwBytes, &dwIndex);
    result.nStatus = static_cast<int>(dwStatus);
    // Only the file itself is content: 200, or 206 where the rest was asked
    // for. An error page, whatever its status, is never taken for the file.
    // An upload's answer is any 2xx; it is not redirected.
    const bool bContent = IsPost(request) ? dwStatus >= 200 && dwStatus < 300
                                          : dwStatus == 200 || (dwStatus == 206 && RQBLAsksRange(request));
    if (!bContent && (IsPost(request) || !IsRedirect(dwStatus))) {
        result.error = RQBLFetchError::STATUS;
        std::wstring strText;
        if (QueryText(hRequest, HTTP_QUERY_RETRY_AFTER, strText)) {
            result.strRetryAfter = Ascii(strText);
        }
        if (QueryText(hRequest, HTTP_QUERY_DATE, strText)) {
            result.strDate = Ascii(strText);
        }
    }
    return result;
}

bool CRQBLWinInetTransport::SendBody(HINTERNET hRequest, const std::wstring& strHeaders,
                                     const RQBL_FETCH_REQUEST& request) {
    INTERNET_BUFFERSW buffers{};
    buffers.dwStructSize = sizeof(buffers);
    buffers.lpcszHeader = strHeaders.c_str();
    buffers.dwHeadersLength = static_cast<DWORD>(strHeaders.size());
    buffers.dwBufferTotal = static_cast<DWORD>(request.strBody.size());
    if (request.strBody.size() > MAXDWORD || !HttpSendRequestExW(hRequest, &buffers, nullptr, 0, 0)) {
        return false;
    }
    // In pieces, so that an abort takes effect between them even where the
    // system does not let a blocked call be cut short.
    for (size_t nSent = 0; nSent < request.strBody.size();) {
        if (Aborted()) {
            return false;
        }
        const DWORD dwPiece =
            static_cast<DWORD>(std::min<size_t>(request.strBody.size() - nSent, SEND_PIECE));
        DWORD dwWritten = 0;
        if (!InternetWriteFile(hRequest, request.strBody.data() + nSent, dwPiece, &dwWritten) ||
            dwWritten == 0) {
            return false;
        }
        nSent += dwWritten;
    }
    return !Aborted() && HttpEndRequestW(hRequest, nullptr, 0, 0);
}

RQBL_FETCH_RESULT CRQBLWinInetTransport::Receive(const RQBL_FETCH_REQUEST& request, CRQBLFetchSink& sink) {
    RQBL_FETCH_RESULT result;
    HINTERNET hRequest = m_hRequest.Get();
    DWORD dwStatus = 0;
    DWORD dwBytes = sizeof(dwStatus);
    DWORD dwIndex = 0;
    HttpQueryInfoW(hRequest, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &dwStatus, &dwBytes, &dwIndex);
    result.nStatus = static_cast<int>(dwStatus);

    RQBL_RESPONSE_HEAD head;
    head.nStatus = result.nStatus;
    std::wstring strText;
    head.bHasLength =
        QueryText(hRequest, HTTP_QUERY_CONTENT_LENGTH, strText) && ParseUInt64(strText, head.ullLength);
    if (dwStatus == 206) {
        // "bytes <first>-<last>/<total>"
        if (!QueryText(hRequest, HTTP_QUERY_CONTENT_RANGE, strText) ||
            strText.compare(0, 6, L"bytes ") != 0 ||
            !ParseUInt64(strText.substr(6, strText.find(L'-') - 6), head.ullRangeStart)) {
            result.error = RQBLFetchError::STATUS;
            return result;
        }
    }
    if (QueryText(hRequest, HTTP_QUERY_ETAG, strText) ||
        QueryText(hRequest, HTTP_QUERY_LAST_MODIFIED, strText)) {
        head.strValidator = Ascii(strText);
    }
    if (!sink.OnHead(head)) {
        result.error = RQBLFetchError::SINK;
        return result;
    }
    const size_t nReadMax =
        request.nMaxReadBytes == 0 ? READ_MAX : std::clamp<size_t>(request.nMaxReadBytes, 1, READ_MAX);
    uint64_t ullReceived = 0;
    // A read returns only when it has all it asked for (or the body ends),
    // and nothing cuts it short under Wine: so never ask for more than about
    // READ_AHEAD_MS of the rate seen so far. On a fast line that grows to
    // large reads at once (few calls); a server that drips gets reads of what
    // is there, and the stall check stays in charge.
    double dBytesPerSecond = 0;
    auto last = std::chrono::steady_clock::now();
    for (;;) {
        if (Aborted()) {
            result.error = RQBLFetchError::ABORTED;
            return result;
        }
        size_t nWant = 0;
        const uint64_t ullRest = head.bHasLength ? head.ullLength - std::min(ullReceived, head.ullLength) : 0;
        if (head.bHasLength && ullRest <= READ_REST_MAX) {
            // Waits for the rest no longer than asking what is there would.
            if (ullRest == 0) {
                break;
            }
            nWant = std::min(nReadMax, static_cast<size_t>(ullRest));
        } else {
            DWORD dwAvailable = 0;
            if (!InternetQueryDataAvailable(hRequest, &dwAvailable, 0, 0)) {
                DWORD dwError = GetLastError();
                if (IsTimeout(dwError) && !Aborted()) {
                    continue;  // nothing yet: the watchdog decides when that is too long
                }
                result.error = RQBLFetchError::CUT;
                result.dwSystemError = dwError;
                return result;
            }
            if (dwAvailable == 0) {
                break;  // the end of the body
            }
            auto nAhead = static_cast<size_t>(dBytesPerSecond * READ_AHEAD_MS / 1000.0);
            nWant = std::min(nReadMax, std::max<size_t>(dwAvailable, nAhead));
        }
        DWORD dwRead = 0;
        if (!InternetReadFile(hRequest, m_pBuffer.get(), static_cast<DWORD>(nWant), &dwRead)) {
            DWORD dwError = GetLastError();
            if (IsTimeout(dwError) && dwRead == 0 && !Aborted()) {
                continue;  // as a time-out while asking what is there
            }
            result.error = RQBLFetchError::CUT;
            result.dwSystemError = dwError;
            return result;
        }
        if (Aborted()) {
            result.error = RQBLFetchError::ABORTED;
            return result;
        }
        if (dwRead == 0) {
            break;
        }
        // Bytes per second over about the last RATE_WINDOW_MS: each read's
        // bytes count in full now and fade out as time goes on.
        auto now = std::chrono::steady_clock::now();
        double dSeconds = std::chrono::duration<double>(now - last).count();
        const double dWindow = RATE_WINDOW_MS / 1000.0;
        dBytesPerSecond =
            dBytesPerSecond * std::exp(-dSeconds / dWindow) + static_cast<double>(dwRead) / dWindow;
        last = now;
        if (!sink.OnData(m_pBuffer.get(), dwRead)) {
            result.error = RQBLFetchError::SINK;
            return result;
        }
        ullReceived += dwRead;
    }
    // WinINet reports the end of the data also when the connection broke off
    // early; only the announced length tells the two apart.
    if (head.bHasLength && ullReceived != head.ullLength) {
        result.error = RQBLFetchError::CUT;
    }
    return result;
}
