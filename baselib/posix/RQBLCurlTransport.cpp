#include "baselib/posix/RQBLCurlTransport.h"

#include <curl/curl.h>

#include <cstring>
#include <string>

namespace {

// libcurl's global set-up is not thread-safe: once, before the first handle.
void StartCurl() {
    static const bool s_bStarted = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    (void)s_bStarted;
}

std::string Narrow(const std::wstring& str) {
    std::string out;
    for (wchar_t c : str) {
        out.push_back(static_cast<char>(c < 0x80 ? c : '?'));
    }
    return out;
}

std::string Lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return s;
}

// What one transfer needs in libcurl's callbacks.
struct CTransfer {
    const RQBL_FETCH_REQUEST* pRequest = nullptr;
    CRQBLFetchSink* pSink = nullptr;
    const std::atomic<bool>* pAbort = nullptr;
    RQBL_RESPONSE_HEAD head;
    std::string strEtag;
    std::string strLastModified;
    bool bHeadSent = false;
    bool bSinkRefused = false;
    uint64_t ullReceived = 0;

    // A new response (a redirect's, then the real one) starts its own head.
    void StartHead(int nStatus) {
        head = RQBL_RESPONSE_HEAD();
        head.nStatus = nStatus;
        strEtag.clear();
        strLastModified.clear();
    }
};

size_t OnHeader(char* pLine, size_t nSize, size_t nItems, void* pUser) {
    auto& t = *static_cast<CTransfer*>(pUser);
    const std::string strLine(pLine, nSize * nItems);
    if (strLine.compare(0, 5, "HTTP/") == 0) {
        const size_t nSpace = strLine.find(' ');
        t.StartHead(nSpace == std::string::npos ? 0 : std::atoi(strLine.c_str() + nSpace + 1));
        return nSize * nItems;
    }
    const size_t nColon = strLine.find(':');
    if (nColon == std::string::npos) {
        return nSize * nItems;
    }
    const std::string strName = Lower(strLine.substr(0, nColon));
    std::string strValue = strLine.substr(nColon + 1);
    strValue.erase(0, strValue.find_first_not_of(" \t"));
    strValue.erase(strValue.find_last_not_of(" \t\r\n") + 1);
    if (strName == "content-length") {
        char* pEnd = nullptr;
        t.head.ullLength = std::strtoull(strValue.c_str(), &pEnd, 10);
        t.head.bHasLength = pEnd != strValue.c_str() && *pEnd == '\0';
    } else if (strName == "content-range" && strValue.compare(0, 6, "bytes ") == 0) {
        t.head.ullRangeStart = std::strtoull(strValue.c_str() + 6, nullptr, 10);
    } else if (strName == "etag") {
        t.strEtag = strValue;
    } else if (strName == "last-modified") {
        t.strLastModified = strValue;
    }
    return nSize * nItems;
}

bool IsContent(const CTransfer& t) {
    const int n = t.head.nStatus;
    if (!t.pRequest->strContentType.empty()) {
        return n >= 200 && n < 300;
    }
    return n == 200 || (n == 206 && RQBLAsksRange(*t.pRequest));
}

size_t OnData(char* pData, size_t nSize, size_t nItems, void* pUser) {
    auto& t = *static_cast<CTransfer*>(pUser);
    const size_t nBytes = nSize * nItems;
    if (!IsContent(t)) {
        return nBytes;  // an error page: read and dropped
    }
    if (!t.bHeadSent) {
        t.bHeadSent = true;
        t.head.strValidator = !t.strEtag.empty() ? t.strEtag : t.strLastModified;
        if (!t.pSink->OnHead(t.head)) {
            t.bSinkRefused = true;
            return 0;
        }
    }
    if (!t.pSink->OnData(reinterpret_cast<const uint8_t*>(pData), nBytes)) {
        t.bSinkRefused = true;
        return 0;
    }
    t.ullReceived += nBytes;
    return nBytes;
}

int OnProgress(void* pUser, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<CTransfer*>(pUser)->pAbort->load() ? 1 : 0;
}

}  // namespace

CRQBLCurlTransport::CRQBLCurlTransport(uint32_t dwTimeoutMs) : m_pCurl(nullptr), m_dwTimeoutMs(dwTimeoutMs) {
    StartCurl();
    m_pCurl = curl_easy_init();
}

CRQBLCurlTransport::~CRQBLCurlTransport() {
    curl_easy_cleanup(static_cast<CURL*>(m_pCurl));
}

RQBL_FETCH_RESULT CRQBLCurlTransport::Fetch(const RQBL_FETCH_REQUEST& request, CRQBLFetchSink& sink) {
    m_bAbort = false;
    RQBL_FETCH_RESULT result;
    CURL* pCurl = static_cast<CURL*>(m_pCurl);
    const std::string strUrl = Narrow(request.strUrl);
    const bool bHttps = Lower(strUrl.substr(0, 6)) == "https:";
    if (pCurl == nullptr || (!bHttps && Lower(strUrl.substr(0, 5)) != "http:")) {
        result.error = RQBLFetchError::BAD_URL;
        return result;
    }
    CTransfer t;
    t.pRequest = &request;
    t.pSink = &sink;
    t.pAbort = &m_bAbort;
    curl_easy_reset(pCurl);
    curl_easy_setopt(pCurl, CURLOPT_URL, strUrl.c_str());
    curl_easy_setopt(pCurl, CURLOPT_USERAGENT, "RQ_HTTP");
    curl_easy_setopt(pCurl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(pCurl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_dwTimeoutMs));
    // Less than one byte a second for the whole time-out: nothing moves.
    curl_easy_setopt(pCurl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(pCurl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(m_dwTimeoutMs / 1000 + 1));
    curl_easy_setopt(pCurl, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(pCurl, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(pCurl, CURLOPT_WRITEFUNCTION, OnData);
    curl_easy_setopt(pCurl, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(pCurl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(pCurl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(pCurl, CURLOPT_XFERINFODATA, &t);
    // Plain bytes: a compressed body would not match its checksum.
    curl_slist* pHeaders = curl_slist_append(nullptr, "Accept-Encoding: identity");
    pHeaders = curl_slist_append(pHeaders, "Cache-Control: no-cache");
    std::string strRange;
    std::string strIfRange;
    if (RQBLAsksRange(request)) {
        strRange = std::to_string(request.ullRangeStart) + "-" +
                   (request.ullRangeEnd > 0 ? std::to_string(request.ullRangeEnd - 1) : std::string());
        curl_easy_setopt(pCurl, CURLOPT_RANGE, strRange.c_str());
        if (!request.strIfRange.empty()) {
            strIfRange = "If-Range: " + request.strIfRange;
            pHeaders = curl_slist_append(pHeaders, strIfRange.c_str());
        }
    }
    std::string strType;
    if (!request.strContentType.empty()) {
        strType = "Content-Type: " + request.strContentType;
        pHeaders = curl_slist_append(pHeaders, strType.c_str());
        curl_easy_setopt(pCurl, CURLOPT_POSTFIELDS, request.strBody.data());
        curl_easy_setopt(pCurl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.strBody.size()));
    } else {
        curl_easy_setopt(pCurl, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(pCurl, CURLOPT_MAXREDIRS, static_cast<long>(RQBL_MAX_REDIRECTS));
        // What came over https is never handed on in the clear.
        curl_easy_setopt(pCurl, CURLOPT_REDIR_PROTOCOLS_STR, bHttps ? "https" : "http,https");
    }
    curl_easy_setopt(pCurl, CURLOPT_HTTPHEADER, pHeaders);
    const CURLcode code = curl_easy_perform(pCurl);
    curl_slist_free_all(pHeaders);
    long nStatus = 0;
    curl_easy_getinfo(pCurl, CURLINFO_RESPONSE_CODE, &nStatus);
    result.nStatus = static_cast<int>(nStatus);
    if (m_bAbort) {
        result.error = RQBLFetchError::ABORTED;
    } else if (t.bSinkRefused) {
        result.error = RQBLFetchError::SINK;
    } else if (code == CURLE_TOO_MANY_REDIRECTS) {
        result.error = RQBLFetchError::TOO_MANY_REDIRECTS;
    } else if (code == CURLE_UNSUPPORTED_PROTOCOL) {
        result.error = RQBLFetchError::INSECURE_REDIRECT;
    } else if (code == CURLE_PARTIAL_FILE || code == CURLE_RECV_ERROR || code == CURLE_OPERATION_TIMEDOUT) {
        result.error = t.ullReceived > 0 ? RQBLFetchError::CUT : RQBLFetchError::CONNECT;
        result.dwSystemError = static_cast<uint32_t>(code);
    } else if (code != CURLE_OK) {
        result.error = RQBLFetchError::CONNECT;
        result.dwSystemError = static_cast<uint32_t>(code);
    } else if (!IsContent(t)) {
        result.error = RQBLFetchError::STATUS;
    } else if (!t.bHeadSent && !sink.OnHead(t.head)) {
        result.error = RQBLFetchError::SINK;  // an empty body: the head all the same
    } else if (t.head.bHasLength && t.ullReceived != t.head.ullLength) {
        result.error = RQBLFetchError::CUT;
    }
    return result;
}
