#include "RQTestHttpServer.h"

#include <windows.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cctype>
#include <chrono>

namespace rqtest {

namespace {

constexpr size_t kMaxRequestBytes = 64 * 1024;
constexpr size_t kMaxUploadBytes = 64 * 1024 * 1024;
constexpr size_t kSendBlock = 256 * 1024;
constexpr int kPollMs = 50;

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string HeaderValue(const std::string& strHead, const std::string& strName) {
    std::string strLower = Lower(strHead);
    std::string strKey = "\r\n" + Lower(strName) + ":";
    size_t nPos = strLower.find(strKey);
    if (nPos == std::string::npos) {
        return std::string();
    }
    size_t nStart = nPos + strKey.size();
    size_t nEnd = strHead.find("\r\n", nStart);
    std::string strValue = strHead.substr(nStart, nEnd - nStart);
    size_t nFirst = strValue.find_first_not_of(' ');
    return nFirst == std::string::npos ? std::string() : strValue.substr(nFirst);
}

const char* Reason(int nStatus) {
    switch (nStatus) {
        case 200:
            return "OK";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

bool SendAll(SOCKET s, const char* p, size_t n) {
    while (n > 0) {
        int nPart = static_cast<int>(std::min<size_t>(n, kSendBlock));
        int nSent = send(s, p, nPart, 0);
        if (nSent <= 0) {
            return false;
        }
        p += nSent;
        n -= static_cast<size_t>(nSent);
    }
    return true;
}

bool ReadWholeFile(const std::wstring& strPath, std::string& strData) {
    HANDLE h = CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    LARGE_INTEGER size{};
    bool bOk = GetFileSizeEx(h, &size) != FALSE;
    if (bOk) {
        strData.resize(static_cast<size_t>(size.QuadPart));
        size_t nDone = 0;
        while (bOk && nDone < strData.size()) {
            DWORD dwRead = 0;
            DWORD dwWant = static_cast<DWORD>(std::min<size_t>(strData.size() - nDone, 1 << 24));
            bOk = ReadFile(h, &strData[nDone], dwWant, &dwRead, nullptr) != FALSE && dwRead > 0;
            nDone += dwRead;
        }
    }
    CloseHandle(h);
    return bOk;
}

std::wstring Utf8ToWide(const std::string& s) {
    if (s.empty()) {
        return std::wstring();
    }
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(std::max(n, 0)), L'\0');
    if (n > 0) {
        MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    }
    return w;
}

}  // namespace

std::string UrlDecode(const std::string& strPath) {
    std::string out;
    for (size_t i = 0; i < strPath.size(); ++i) {
        if (strPath[i] == '%' && i + 2 < strPath.size() &&
            std::isxdigit(static_cast<unsigned char>(strPath[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(strPath[i + 2]))) {
            out += static_cast<char>(std::stoi(strPath.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += strPath[i];
        }
    }
    return out;
}

bool CRQTestHttpServer::Start(const std::wstring& strRoot) {
    Stop();
    WSADATA wsa{};
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        return false;
    }
    m_bWsaStarted = true;
    m_strRoot = strRoot;
    m_listen = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (m_listen == INVALID_SOCKET) {
        Stop();
        return false;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    int nLen = sizeof(addr);
    if (bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || listen(m_listen, 64) != 0 ||
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &nLen) != 0) {
        Stop();
        return false;
    }
    m_nPort = ntohs(addr.sin_port);
    m_bStop = false;
    m_acceptThread = std::thread([this] { AcceptLoop(); });
    return true;
}

void CRQTestHttpServer::Stop() {
    m_bStop = true;
    if (m_acceptThread.joinable()) {
        m_acceptThread.join();
    }
    std::vector<std::thread> vecWorkers;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // Wakes connections that wait in recv for a next request.
        for (SOCKET s : m_vecOpen) {
            shutdown(s, SD_BOTH);
        }
        vecWorkers.swap(m_vecWorkers);
    }
    for (std::thread& t : vecWorkers) {
        t.join();
    }
    if (m_listen != INVALID_SOCKET) {
        closesocket(m_listen);
        m_listen = INVALID_SOCKET;
    }
    if (m_bWsaStarted) {
        WSACleanup();
        m_bWsaStarted = false;
    }
}

std::wstring CRQTestHttpServer::BaseUrl() const {
    return L"http://127.0.0.1:" + std::to_wstring(m_nPort) + L"/";
}

void CRQTestHttpServer::SetBehaviour(const std::string& strPath, const CServerBehaviour& behaviour) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mapBehaviours[strPath] = behaviour;
}

void CRQTestHttpServer::SetStorm(uint32_t dwMs, int nStatus, const std::string& strRetryAfter) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_dwStormMs = dwMs;
    m_nStormStatus = nStatus;
    m_strStormRetryAfter = strRetryAfter;
    m_bStormStarted = false;
}

void CRQTestHttpServer::ClearBehaviours() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mapBehaviours.clear();
}

std::vector<CServerRequest> CRQTestHttpServer::Requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_vecRequests;
}

uint64_t CRQTestHttpServer::SentBodyBytes(const std::string& strDecodedPath) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_mapSentBytes.find(strDecodedPath);
    return it != m_mapSentBytes.end() ? it->second : 0;
}

CServerBehaviour CRQTestHttpServer::BehaviourFor(const std::string& strDecodedPath) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_mapBehaviours.find(strDecodedPath);
    return it != m_mapBehaviours.end() ? it->second : CServerBehaviour();
}

bool CRQTestHttpServer::PauseMs(uint32_t dwMs) const {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwMs);
    while (!m_bStop.load()) {
        auto now = std::chrono::steady_clock::now();
        if (now >= end) {
            return true;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
        Sleep(static_cast<DWORD>(std::min<long long>(left, kPollMs)));
    }
    return false;
}

void CRQTestHttpServer::AcceptLoop() {
    while (!m_bStop.load()) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(m_listen, &set);
        timeval tv{0, kPollMs * 1000};
        if (select(0, &set, nullptr, nullptr, &tv) <= 0) {
            continue;
        }
        SOCKET s = accept(m_listen, nullptr, nullptr);
        if (s == INVALID_SOCKET) {
            continue;
        }
        // Headers and body go out in separate sends: without this the body
        // would wait for the client's delayed acknowledgement of the headers.
        BOOL bNoDelay = TRUE;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&bNoDelay), sizeof(bNoDelay));
        int nConnection = ++m_nConnections;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_vecOpen.push_back(s);
        m_vecWorkers.emplace_back([this, s, nConnection] { Serve(s, nConnection); });
    }
}

void CRQTestHttpServer::Serve(SOCKET s, int nConnection) {
    std::string strBuffer;
    bool bOpen = true;
    bool bAbort = false;
    while (bOpen && !m_bStop.load()) {
        size_t nEnd = strBuffer.find("\r\n\r\n");
        if (nEnd == std::string::npos) {
            if (strBuffer.size() > kMaxRequestBytes) {
                break;
            }
            // Polled, so that an idle keep-alive connection notices Stop.
            fd_set set;
            FD_ZERO(&set);
            FD_SET(s, &set);
            timeval tv{0, kPollMs * 1000};
            int nReady = select(0, &set, nullptr, nullptr, &tv);
            if (nReady == 0) {
                continue;
            }
            char chunk[4096];
            int n = nReady < 0 ? -1 : recv(s, chunk, sizeof(chunk), 0);
            if (n <= 0) {
                break;
            }
            strBuffer.append(chunk, static_cast<size_t>(n));
            continue;
        }
        std::string strHead = "\r\n" + strBuffer.substr(0, nEnd + 2);
        strBuffer.erase(0, nEnd + 4);
        size_t nLineEnd = strHead.find("\r\n", 2);
        std::string strLine = strHead.substr(2, nLineEnd - 2);
        CServerRequest request;
        size_t nSp1 = strLine.find(' ');
        size_t nSp2 = strLine.find(' ', nSp1 + 1);
        if (nSp1 == std::string::npos || nSp2 == std::string::npos) {
            break;
        }
        request.strMethod = strLine.substr(0, nSp1);
        request.strPath = strLine.substr(nSp1 + 1, nSp2 - nSp1 - 1);
        request.strUserAgent = HeaderValue(strHead, "User-Agent");
        request.strPragma = HeaderValue(strHead, "Pragma");
        request.strCacheControl = HeaderValue(strHead, "Cache-Control");
        request.strRange = HeaderValue(strHead, "Range");
        request.strIfRange = HeaderValue(strHead, "If-Range");
        request.strContentType = HeaderValue(strHead, "Content-Type");
        request.nConnection = nConnection;
        const std::string strLength = HeaderValue(strHead, "Content-Length");
        if (!strLength.empty() &&
            !ReadBody(s, strBuffer, static_cast<size_t>(std::strtoull(strLength.c_str(), nullptr, 10)),
                      BehaviourFor(UrlDecode(request.strPath)).dwSlowReadDelayMs, request.strBody)) {
            break;
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            const auto now = std::chrono::steady_clock::now();
            if (m_dwStormMs > 0 && !m_bStormStarted) {
                m_bStormStarted = true;
                m_stormEnd = now + std::chrono::milliseconds(m_dwStormMs);
            }
            request.bStorm = m_bStormStarted && now < m_stormEnd;
            m_vecRequests.push_back(request);
        }
        bool bKeepAlive = Lower(HeaderValue(strHead, "Connection")) != "close" &&
                          strLine.compare(strLine.size() - 8, 8, "HTTP/1.0") != 0;
        bOpen = Answer(s, request, bKeepAlive);
        CServerBehaviour behaviour = BehaviourFor(UrlDecode(request.strPath));
        bAbort = !bOpen && behaviour.nResetAfter >= 0;
    }
    if (bAbort) {
        // A zero linger time turns the close into a reset.
        linger lg{1, 0};
        setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&lg), sizeof(lg));
    } else {
        shutdown(s, SD_SEND);
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_vecOpen.erase(std::remove(m_vecOpen.begin(), m_vecOpen.end(), s), m_vecOpen.end());
    }
    closesocket(s);
}

bool CRQTestHttpServer::ReadBody(SOCKET s, std::string& strBuffer, size_t nBytes, uint32_t dwDelayMs,
                                 std::string& strBody) {
    if (nBytes > kMaxUploadBytes) {
        return false;
    }
    while (strBuffer.size() < nBytes && !m_bStop.load()) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval tv{0, kPollMs * 1000};
        int nReady = select(0, &set, nullptr, nullptr, &tv);
        if (nReady == 0) {
            continue;
        }
        char chunk[65536];
        int n = nReady < 0 ? -1 : recv(s, chunk, sizeof(chunk), 0);
        if (n <= 0) {
            return false;
        }
        strBuffer.append(chunk, static_cast<size_t>(n));
        m_nBodyBytes += static_cast<size_t>(n);
        if (dwDelayMs > 0 && !PauseMs(dwDelayMs)) {
            return false;
        }
    }
    if (strBuffer.size() < nBytes) {
        return false;
    }
    strBody = strBuffer.substr(0, nBytes);
    strBuffer.erase(0, nBytes);
    return true;
}

// Sends one answer; false when the connection is to be closed afterwards.
bool CRQTestHttpServer::Answer(SOCKET s, const CServerRequest& request, bool bKeepAlive) {
    std::string strDecoded = UrlDecode(request.strPath);
    CServerBehaviour behaviour = BehaviourFor(strDecoded);
    int nAnswer = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        nAnswer = m_mapAnswers[strDecoded]++;
        if (request.bStorm) {
            behaviour = CServerBehaviour();
            behaviour.nStatus = m_nStormStatus;
            behaviour.strRetryAfter = m_strStormRetryAfter;
        }
    }
    if (behaviour.nFaultyAnswers >= 0 && nAnswer >= behaviour.nFaultyAnswers) {
        behaviour.nCutAfter = -1;
        behaviour.nResetAfter = -1;
    }
    if (behaviour.bNoResponse) {
        PauseMs(MAX_STALL_MS);
        return false;
    }
    std::string strBody;
    int nStatus = behaviour.nStatus;
    bool bFound = false;
    if (request.strMethod == "POST") {
        strBody = "received " + std::to_string(request.strBody.size()) + "\n";
        bFound = true;
    } else if (strDecoded.find("..") == std::string::npos && !strDecoded.empty() && strDecoded[0] == '/') {
        std::wstring strFile = m_strRoot + Utf8ToWide(strDecoded);
        std::replace(strFile.begin(), strFile.end(), L'/', L'\\');
        bFound = ReadWholeFile(strFile, strBody);
    }
    if (nStatus == 200 && !bFound) {
        nStatus = 404;
    }
    if (nStatus != 200 && nStatus != 206) {
        strBody = !behaviour.strErrorBody.empty()
                      ? behaviour.strErrorBody
                      : "<html><body>" + std::to_string(nStatus) + " " + Reason(nStatus) + "</body></html>";
    }
    // The rest of the file, when asked for it and the file has not changed
    // (the ETag is the file's size, which is enough for tests).
    const std::string strETag = "\"" + std::to_string(strBody.size()) + "\"";
    // One range, "bytes=<first>-" or "bytes=<first>-<last>".
    size_t nFrom = 0;
    size_t nTo = strBody.size();
    if (nStatus == 200 && behaviour.bRanges && request.strRange.compare(0, 6, "bytes=") == 0 &&
        (request.strIfRange.empty() || request.strIfRange == strETag)) {
        char* pDash = nullptr;
        nFrom = static_cast<size_t>(std::strtoull(request.strRange.c_str() + 6, &pDash, 10));
        if (pDash != nullptr && pDash[0] == '-' && pDash[1] >= '0' && pDash[1] <= '9') {
            nTo = std::min(nTo, static_cast<size_t>(std::strtoull(pDash + 1, nullptr, 10)) + 1);
        }
        if (nFrom < nTo && (nFrom > 0 || nTo < strBody.size())) {
            nStatus = 206;
        } else {
            nFrom = 0;
            nTo = strBody.size();
        }
    }
    const size_t nWhole = strBody.size();
    if (nStatus == 206) {
        strBody = strBody.substr(nFrom, nTo - nFrom);
    }
    bool bHead = request.strMethod == "HEAD";
    bool bCloseAfter = !bKeepAlive || behaviour.bNoContentLength || behaviour.nCutAfter >= 0 ||
                       behaviour.nResetAfter >= 0 || behaviour.bStallAfterHeaders;

    std::string strHead = "HTTP/1.1 " + std::to_string(nStatus) + " " + Reason(nStatus) + "\r\n";
    strHead += "Content-Type: application/octet-stream\r\n";
    if (!behaviour.strLocation.empty()) {
        strHead += "Location: " + behaviour.strLocation + "\r\n";
    }
    if (!behaviour.strRetryAfter.empty()) {
        strHead += "Retry-After: " + behaviour.strRetryAfter + "\r\n";
    }
    if (behaviour.bRanges) {
        strHead += "Accept-Ranges: bytes\r\nETag: " + strETag + "\r\n";
    }
    if (nStatus == 206) {
        strHead += "Content-Range: bytes " + std::to_string(nFrom) + "-" + std::to_string(nTo - 1) + "/" +
                   std::to_string(nWhole) + "\r\n";
    }
    if (behaviour.bChunked) {
        strHead += "Transfer-Encoding: chunked\r\n";
    } else if (!behaviour.bNoContentLength) {
        strHead += "Content-Length: " + std::to_string(strBody.size()) + "\r\n";
    }
    strHead += bCloseAfter ? "Connection: close\r\n\r\n" : "Connection: keep-alive\r\n\r\n";
    if (!SendAll(s, strHead.data(), strHead.size())) {
        return false;
    }
    if (behaviour.bStallAfterHeaders) {
        PauseMs(MAX_STALL_MS);
        return false;
    }
    if (bHead) {
        return !bCloseAfter;
    }

    size_t nLimit = strBody.size();
    if (behaviour.nCutAfter >= 0) {
        nLimit = std::min<size_t>(nLimit, static_cast<size_t>(behaviour.nCutAfter));
    }
    if (behaviour.nResetAfter >= 0) {
        nLimit = std::min<size_t>(nLimit, static_cast<size_t>(behaviour.nResetAfter));
    }
    size_t nPiece = behaviour.dwSlowDelayMs > 0 ? std::max<size_t>(behaviour.nSlowChunk, 1) : kSendBlock;
    if (behaviour.bChunked) {
        nPiece = std::min<size_t>(nPiece, 8192);  // several chunks even for small bodies
    }
    for (size_t nDone = 0; nDone < nLimit;) {
        size_t n = std::min(nPiece, nLimit - nDone);
        if (behaviour.bChunked) {
            char szSize[32];
            int nLen = std::snprintf(szSize, sizeof(szSize), "%zx\r\n", n);
            if (!SendAll(s, szSize, static_cast<size_t>(nLen)) || !SendAll(s, strBody.data() + nDone, n) ||
                !SendAll(s, "\r\n", 2)) {
                return false;
            }
        } else if (!SendAll(s, strBody.data() + nDone, n)) {
            return false;
        }
        nDone += n;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_mapSentBytes[strDecoded] += n;
        }
        if (behaviour.dwSlowDelayMs > 0 && nDone < nLimit && !PauseMs(behaviour.dwSlowDelayMs)) {
            return false;
        }
    }
    if (nLimit < strBody.size()) {
        return false;  // cut or reset: the caller closes the connection accordingly
    }
    if (behaviour.bChunked && !SendAll(s, "0\r\n\r\n", 5)) {
        return false;
    }
    return !bCloseAfter;
}

}  // namespace rqtest
