#include "baselib/win/RQBLHttp.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "baselib/RQBLDownloadTemp.h"
#include "baselib/log/RQBLLogTraceNum.h"
#include "baselib/win/RQBLHttpUrl.h"

namespace {

// INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE
constexpr DWORD kOpenUrlFlags = 0x84000100;
// INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE
constexpr DWORD kOpenTextFlags = 0x84000000;
constexpr DWORD kQueryChars = 512;
constexpr DWORD kTextBytes = 1024;
constexpr DWORD kMessageChars = 1024;
constexpr DWORD kDirChars = 260;

const wchar_t* const kTagOpen = L"CRQBLHttp::Open";
const wchar_t* const kTagInfo = L"CRQBLHttp::DownloadInfo";
const wchar_t* const kTagBegin = L"CRQBLHttp::DownloadBegin";
const wchar_t* const kTagDownloading = L"CRQBLHttp::Downloading";

// One header of the response as text; false when the server sent none.
bool QueryHeader(HINTERNET hRequest, DWORD dwInfoLevel, wchar_t (&szText)[kQueryChars]) {
    std::memset(szText, 0, sizeof(szText));
    DWORD dwLength = kQueryChars;  // in bytes: half the buffer, as much as any of these headers needs
    DWORD dwIndex = 0;
    return HttpQueryInfoW(hRequest, dwInfoLevel, szText, &dwLength, &dwIndex) != FALSE;
}

std::wstring SystemMessage(DWORD dwError) {
    wchar_t szMsg[kMessageChars] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, dwError, 0, szMsg,
                   kMessageChars, nullptr);
    std::wstring strMsg = szMsg;
    // The system's texts end in a line break, which would split the log line.
    while (!strMsg.empty() && (strMsg.back() == L'\r' || strMsg.back() == L'\n' || strMsg.back() == L' ')) {
        strMsg.pop_back();
    }
    return strMsg;
}

}  // namespace

CRQBLHttp::CRQBLHttp() : m_pReadBuffer(new unsigned char[READ_AHEAD_MAX]) {
    CRQBLHttp::Reset();
}

CRQBLHttp::~CRQBLHttp() {
    CRQBLHttp::Reset();
    m_hConnect.Close();
    m_hInternet.Close();
}

bool CRQBLHttp::Open() {
    Close();
    m_hInternet.Reset(InternetOpenW(L"RQ_HTTP", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!m_hInternet) {
        RQ_LOG(kTagOpen, RQ_LOG_ERR).Trace(10081, L"InternetOpen Fail");
        return false;
    }
    ApplyTimeouts();
    return true;
}

void CRQBLHttp::Close() {
    Reset();
    m_hConnect.Close();
    m_hInternet.Close();
}

void CRQBLHttp::Reset() {
    DiscardTransfer();
    m_nReadAhead = BLOCK_SIZE;
    m_dwReadSize = 0;
    m_dwWriteSize = 0;
    m_dwFileSizeKB = 0;
    m_dwDownloadSize = 0;
    m_bHasLength = false;
    m_ullContentLength = 0;
    m_ullReceived = 0;
    m_bHasCheck = false;
    m_check = RQBL_DOWNLOAD_CHECK();
    m_crc.Restart();
}

void CRQBLHttp::SetTimeouts(uint32_t dwMilliseconds) {
    m_dwTimeoutMs = dwMilliseconds;
    ApplyTimeouts();
}

void CRQBLHttp::ApplyTimeouts() {
    if (!m_hInternet) {
        return;
    }
    // Without time-outs WinINet waits for a server that accepted the
    // connection and then fell silent for as long as the connection stays
    // open. Set on the session for whatever inherits them, and again on every
    // request (SendRequest).
    RQBLSetInternetTimeouts(m_hInternet.Get(), m_dwTimeoutMs);
}

bool CRQBLHttp::SendRequest(const wchar_t* pszVerb, const std::wstring& strUrl, DWORD dwFlags) {
    // The request is put together from its parts rather than through
    // InternetOpenUrlW, so that the time-outs can be set on the request
    // itself before anything is sent: not every WinINet passes the session's
    // time-outs on to the requests that InternetOpenUrlW makes.
    RQBL_HTTP_URL url;
    if (!RQBLCrackHttpUrl(strUrl, url)) {
        return false;
    }
    // A connection handle per request: WinINet moves a handle to the server
    // that a redirect names, and a kept one would send every later request
    // there. (The TCP connections themselves stay alive either way.)
    m_hConnect.Reset(InternetConnectW(m_hInternet.Get(), url.strHost.c_str(), url.nPort, nullptr, nullptr,
                                      INTERNET_SERVICE_HTTP, 0, 0));
    if (!m_hConnect) {
        return false;
    }
    if (url.bSecure) {
        dwFlags |= INTERNET_FLAG_SECURE;
    }
    m_hOpenURL.Reset(HttpOpenRequestW(m_hConnect.Get(), pszVerb, url.strObject.c_str(), nullptr, nullptr,
                                      nullptr, dwFlags, 0));
    if (!m_hOpenURL) {
        return false;
    }
    RQBLSetInternetTimeouts(m_hOpenURL.Get(), m_dwTimeoutMs);
    if (!HttpSendRequestW(m_hOpenURL.Get(), nullptr, 0, nullptr, 0)) {
        CloseRequest();
        return false;
    }
    return true;
}

void CRQBLHttp::CloseRequest() {
    m_hOpenURL.Close();
}

CRQBLHttp::OpenResult CRQBLHttp::OpenRequest(const wchar_t* pszVerb, const wchar_t* pSrcPath,
                                             const wchar_t* pFileName) {
    if (!SendRequest(pszVerb, std::wstring(pSrcPath) + pFileName, kOpenUrlFlags)) {
        return OPEN_FAILED;
    }
    // Only "200" is the file: an error page (403, 503, ...) is never stored
    // in its place. "404" keeps its own result; every other status is a
    // server error. A status that cannot be read is no answer at all.
    wchar_t szStatus[kQueryChars];
    if (!QueryHeader(m_hOpenURL.Get(), HTTP_QUERY_STATUS_CODE, szStatus)) {
        return OPEN_FAILED;
    }
    if (std::wcscmp(szStatus, L"200") == 0) {
        return OPEN_OK;
    }
    return std::wcscmp(szStatus, L"404") == 0 ? OPEN_NOT_FOUND : OPEN_SERVER_ERROR;
}

void CRQBLHttp::QuerySize() {
    wchar_t szLength[kQueryChars];
    if (!QueryHeader(m_hOpenURL.Get(), HTTP_QUERY_CONTENT_LENGTH, szLength)) {
        return;  // no Content-Length: the size stays unknown (0)
    }
    m_dwFileSizeKB = static_cast<uint32_t>(std::wcstod(szLength, nullptr) * 0.0009765625);
    // The exact length decides whether the body arrived whole.
    wchar_t* pEnd = nullptr;
    unsigned long long ullLength = std::wcstoull(szLength, &pEnd, 10);
    if (pEnd != szLength && *pEnd == L'\0') {
        m_bHasLength = true;
        m_ullContentLength = ullLength;
    }
}

bool CRQBLHttp::DownloadInfo(const wchar_t* pSrcPath, const wchar_t* pFileName) {
    Reset();
    if (!m_hInternet) {
        RQ_LOG(kTagInfo, RQ_LOG_ERR).Trace(10082, L"m_hInternet is NULL");
        return false;
    }
    if (pSrcPath == nullptr) {
        RQ_LOG(kTagInfo, RQ_LOG_ERR).Trace(10083, L"pSrcPath is NULL");
        return false;
    }
    if (pFileName == nullptr) {
        RQ_LOG(kTagInfo, RQ_LOG_ERR).Trace(10084, L"pFileName is NULL");
        return false;
    }
    // HEAD: the same status and Content-Length as the GET, without a body.
    // Closing a GET whose body was not read makes WinINet either read the
    // whole body to keep the connection or drop the connection; both cost as
    // much as the download itself for a large file.
    OpenResult result = OpenRequest(L"HEAD", pSrcPath, pFileName);
    if (result == OPEN_FAILED) {
        RQ_LOG(kTagInfo, RQ_LOG_ERR).Trace(10085, L"m_hOpenURL is NULL");
        return false;
    }
    if (result != OPEN_OK) {
        CloseRequest();
        return false;
    }
    QuerySize();
    CloseRequest();
    return true;
}

bool CRQBLHttp::GetFreeDiskBytes(const wchar_t* pszFolder, uint64_t& ullFreeBytes) {
    ULARGE_INTEGER available{};
    ULARGE_INTEGER total{};
    ULARGE_INTEGER totalFree{};
    if (!GetDiskFreeSpaceExW(pszFolder, &available, &total, &totalFree)) {
        return false;
    }
    ullFreeBytes = totalFree.QuadPart;
    return true;
}

int32_t CRQBLHttp::DownloadBegin(const wchar_t* pSrcPath, const wchar_t* pFileName, const wchar_t* pDestPath,
                                 const wchar_t* pDestFileName, const RQBL_DOWNLOAD_CHECK* pCheck) {
    Reset();
    if (!m_hInternet) {
        RQ_LOG(kTagBegin, RQ_LOG_ERR).Trace(10086, L"m_hInternet is NULL");
        return DOWNLOAD_NO_INTERNET;
    }
    if (pSrcPath == nullptr) {
        RQ_LOG(kTagBegin, RQ_LOG_ERR).Trace(10087, L"pSrcPath is NULL");
        return DOWNLOAD_NULL_SRC_PATH;
    }
    if (pFileName == nullptr) {
        RQ_LOG(kTagBegin, RQ_LOG_ERR).Trace(10088, L"pFileName is NULL");
        return DOWNLOAD_NULL_FILE_NAME;
    }
    if (pDestPath == nullptr) {
        RQ_LOG(kTagBegin, RQ_LOG_ERR).Trace(10089, L"pDestPath is NULL");
        return DOWNLOAD_NULL_DEST_PATH;
    }
    if (pDestFileName == nullptr) {
        RQ_LOG(kTagBegin, RQ_LOG_ERR).Trace(10090, L"pDestFileName is NULL");
        return DOWNLOAD_NULL_DEST_FILE_NAME;
    }
    switch (OpenRequest(L"GET", pSrcPath, pFileName)) {
        case OPEN_FAILED:
            RQ_LOG(kTagBegin, RQ_LOG_ERR).Trace(10091, L"m_hOpenURL is NULL");
            return DOWNLOAD_OPEN_URL_FAILED;
        case OPEN_NOT_FOUND:
            return DOWNLOAD_NOT_FOUND;
        case OPEN_SERVER_ERROR:
            return DOWNLOAD_SERVER_ERROR;
        case OPEN_OK:
            break;
    }
    QuerySize();
    std::wstring strDestPath = std::wstring(pDestPath) + pDestFileName;

    // The volume of the working directory is checked, whatever the
    // destination; a volume that cannot be asked does not stop the update
    // (writing will fail if the disk really is full).
    wchar_t szCurDir[kDirChars] = {};
    DWORD nDir = GetCurrentDirectoryW(kDirChars, szCurDir);
    uint64_t ullFree = 0;
    if (nDir > 0 && nDir < kDirChars && GetFreeDiskBytes(szCurDir, ullFree) &&
        (ullFree >> 10) <= m_dwFileSizeKB) {
        RQ_LOG(kTagBegin, RQ_LOG_ERR).Trace(11489, L"Disk Free Size Check");
        return DOWNLOAD_DISK_FULL;
    }

    // The body goes into a file beside the destination, which stays as it is
    // until the whole body has arrived and passed its checks.
    std::wstring strTempPath = RQBLDownloadTempPath(strDestPath);
    DWORD dwTempAttributes = GetFileAttributesW(strTempPath.c_str());
    if (dwTempAttributes != INVALID_FILE_ATTRIBUTES && (dwTempAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetFileAttributesW(strTempPath.c_str(), dwTempAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    }
    m_hLocalFile.Reset(CreateFileW(strTempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_hLocalFile) {
        DWORD dwError = GetLastError();
        RQ_LOG(kTagBegin, RQ_LOG_ERR)
            .Trace(10092, L"hLocalFile is INVALID_HANDLE_VALUE: %ls, %d", strDestPath.c_str(),
                   static_cast<int>(dwError));
        return DOWNLOAD_CREATE_FILE_FAILED;
    }
    m_strDestPath = strDestPath;
    m_strTempPath = strTempPath;
    if (pCheck != nullptr) {
        m_bHasCheck = true;
        m_check = *pCheck;
    }
    return DOWNLOAD_SUCCEEDED;
}

int32_t CRQBLHttp::Downloading() {
    if (m_nBufferedPos == m_nBufferedEnd && !m_bEndOfBody) {
        int32_t r = ReceiveAhead();
        if (r != DOWNLOAD_SUCCEEDED) {
            return r;
        }
    }
    // At most one block per call, so that the caller reports progress and
    // sees a stop request after every block.
    m_dwReadSize = static_cast<uint32_t>(std::min<size_t>(m_nBufferedEnd - m_nBufferedPos, BLOCK_SIZE));
    const unsigned char* pBlock = m_pReadBuffer.get() + m_nBufferedPos;
    DWORD dwWritten = 0;
    BOOL bWritten = WriteFile(m_hLocalFile.Get(), pBlock, m_dwReadSize, &dwWritten, nullptr);
    m_dwWriteSize = dwWritten;
    if (!bWritten || dwWritten != m_dwReadSize) {
        RQ_LOG(kTagDownloading, RQ_LOG_ERR).Trace(10095, L"WriteFile is FALSE");
        DiscardTransfer();
        return DOWNLOAD_WRITE_FAILED;
    }
    if (m_dwReadSize != 0) {
        m_crc.Update(pBlock, m_dwReadSize);
        m_nBufferedPos += m_dwReadSize;
        m_dwDownloadSize += m_dwReadSize;
        m_ullReceived += m_dwReadSize;
        return DOWNLOAD_CONTINUE;
    }
    return CommitTransfer();
}

int32_t CRQBLHttp::ReceiveAhead() {
    DWORD dwAvailable = 0;
    if (!InternetQueryDataAvailable(m_hOpenURL.Get(), &dwAvailable, 0, 0)) {
        DWORD dwError = GetLastError();
        RQ_LOG(kTagDownloading, RQ_LOG_ERR).Trace(10093, L"InternetQueryDataAvailable is FALSE");
        RQ_LOG(kTagDownloading, RQ_LOG_ERR)
            .Trace(10092, L"CRQBLHttp::Downloading : LastError : %d, ErrMsg : %ls", static_cast<int>(dwError),
                   SystemMessage(dwError).c_str());
        DiscardTransfer();
        return DOWNLOAD_QUERY_FAILED;
    }
    // The read asks for a whole read-ahead, whatever the available count
    // says: that count is only what the HTTP layer holds already (a few KiB),
    // and every read call has a fixed cost that small reads multiply. The
    // read-ahead starts at one block and grows while reads complete quickly,
    // so a slow server never keeps a call waiting for more than a block or two.
    LARGE_INTEGER start{};
    QueryPerformanceCounter(&start);
    size_t nFilled = 0;
    while (nFilled < m_nReadAhead) {
        DWORD dwRead = 0;
        if (!InternetReadFile(m_hOpenURL.Get(), m_pReadBuffer.get() + nFilled,
                              static_cast<DWORD>(m_nReadAhead - nFilled), &dwRead)) {
            RQ_LOG(kTagDownloading, RQ_LOG_ERR).Trace(10094, L"InternetReadFile is FALSE");
            DiscardTransfer();
            return DOWNLOAD_READ_FAILED;
        }
        if (dwRead == 0) {
            m_bEndOfBody = true;
            break;
        }
        nFilled += dwRead;
    }
    m_nBufferedPos = 0;
    m_nBufferedEnd = nFilled;
    LARGE_INTEGER end{};
    LARGE_INTEGER freq{};
    QueryPerformanceCounter(&end);
    QueryPerformanceFrequency(&freq);
    double dMs = freq.QuadPart > 0 ? 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                                         static_cast<double>(freq.QuadPart)
                                   : 0.0;
    if (!m_bEndOfBody && dMs < FAST_READ_MS) {
        m_nReadAhead = std::min<size_t>(m_nReadAhead * 2, READ_AHEAD_MAX);
    } else if (dMs > SLOW_READ_MS) {
        m_nReadAhead = std::max<size_t>(m_nReadAhead / 2, BLOCK_SIZE);
    }
    return DOWNLOAD_SUCCEEDED;
}

int32_t CRQBLHttp::CommitTransfer() {
    // WinINet reports the end of the data also when the connection broke off
    // early; only the length the server announced tells the two apart.
    if (m_bHasLength && m_ullReceived != m_ullContentLength) {
        RQ_LOG(kTagDownloading, RQ_LOG_ERR)
            .Trace(10096, L"Transfer incomplete: %ls, %ls of %ls bytes", m_strDestPath.c_str(),
                   std::to_wstring(m_ullReceived).c_str(), std::to_wstring(m_ullContentLength).c_str());
        DiscardTransfer();
        return DOWNLOAD_READ_FAILED;
    }
    if (m_bHasCheck && (m_ullReceived != m_check.ullFileSize || m_crc.Value() != m_check.dwCRC)) {
        RQ_LOG(kTagDownloading, RQ_LOG_ERR)
            .Trace(10098, L"Downloaded file differs from its entry: %ls, %ls bytes, CRC %08X",
                   m_strDestPath.c_str(), std::to_wstring(m_ullReceived).c_str(), m_crc.Value());
        DiscardTransfer();
        return DOWNLOAD_READ_FAILED;
    }
    m_hLocalFile.Close();
    // A read-only destination cannot be replaced; its attribute is put back
    // should the replacement fail, so that the old file stays exactly as it was.
    DWORD dwDestAttributes = GetFileAttributesW(m_strDestPath.c_str());
    bool bReadOnly =
        dwDestAttributes != INVALID_FILE_ATTRIBUTES && (dwDestAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (bReadOnly) {
        SetFileAttributesW(m_strDestPath.c_str(), dwDestAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    }
    if (!MoveFileExW(m_strTempPath.c_str(), m_strDestPath.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DWORD dwError = GetLastError();
        if (bReadOnly) {
            SetFileAttributesW(m_strDestPath.c_str(), dwDestAttributes);
        }
        RQ_LOG(kTagDownloading, RQ_LOG_ERR)
            .Trace(10099, L"MoveFileEx Fail: %ls, %d", m_strDestPath.c_str(), static_cast<int>(dwError));
        DiscardTransfer();
        return DOWNLOAD_WRITE_FAILED;
    }
    m_strTempPath.clear();  // in place now: nothing to remove
    DiscardTransfer();
    return DOWNLOAD_SUCCEEDED;
}

void CRQBLHttp::DiscardTransfer() {
    CloseRequest();
    m_hLocalFile.Close();
    if (!m_strTempPath.empty()) {
        DeleteFileW(m_strTempPath.c_str());
        m_strTempPath.clear();
    }
    m_strDestPath.clear();
    // Whatever was read ahead belongs to the ended transfer; a later
    // Downloading without a new begin fails at its availability check.
    m_nBufferedPos = 0;
    m_nBufferedEnd = 0;
    m_bEndOfBody = false;
}

bool CRQBLHttp::DownloadText(const wchar_t* pszURL, std::wstring& strText) {
    Reset();
    if (!m_hInternet || pszURL == nullptr) {
        return false;
    }
    if (!SendRequest(L"GET", pszURL, kOpenTextFlags)) {
        // A session that went bad is replaced once.
        if (!Open()) {
            return false;
        }
        SendRequest(L"GET", pszURL, kOpenTextFlags);
    }
    DWORD dwAvailable = 0;
    if (!InternetQueryDataAvailable(m_hOpenURL.Get(), &dwAvailable, 0, 0)) {
        return false;
    }
    char szText[kTextBytes + 1] = {};
    DWORD dwRead = 0;
    if (!InternetReadFile(m_hOpenURL.Get(), szText, kTextBytes, &dwRead)) {
        DiscardTransfer();
        return false;
    }
    size_t nLen = std::strlen(szText);  // up to the first zero byte
    strText.clear();
    if (nLen > 0) {
        int nChars = MultiByteToWideChar(CP_THREAD_ACP, 0, szText, static_cast<int>(nLen), nullptr, 0);
        if (nChars > 0) {
            strText.resize(static_cast<size_t>(nChars));
            MultiByteToWideChar(CP_THREAD_ACP, 0, szText, static_cast<int>(nLen), strText.data(), nChars);
        }
    }
    return true;
}
