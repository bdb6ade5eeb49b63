// The downloader on WinINet: synchronous HTTP requests (GET for transfers,
// HEAD for size queries) through a direct connection, bypassing the local
// cache, one transfer at a time. A download is written beside its destination
// and renamed over it only when complete and checked (baselib/RQBLDownloadTemp.h).
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "baselib/RQBLDownloader.h"
#include "baselib/RQBLStreamCrc.h"
#include "baselib/win/RQBLInternetHandle.h"
#include "baselib/win/RQBLWinHandle.h"

class CRQBLHttp : public CRQBLDownloader {
public:
    enum : uint32_t {
        // The most that one Downloading call moves to the file.
        BLOCK_SIZE = 102400,
        // The most that one network read asks for (see ReceiveAhead).
        READ_AHEAD_MAX = 4 * 1024 * 1024,
        // Long enough for a busy server, short enough that a dead one does not
        // hold the launcher for minutes.
        DEFAULT_TIMEOUT_MS = 30000,
        // A read that took less grows the read-ahead; one that took more shrinks it.
        FAST_READ_MS = 10,
        SLOW_READ_MS = 50,
    };

    CRQBLHttp();
    ~CRQBLHttp() override;
    CRQBLHttp(const CRQBLHttp&) = delete;
    CRQBLHttp& operator=(const CRQBLHttp&) = delete;

    bool Open() override;
    void Close() override;
    void Reset() override;
    bool DownloadInfo(const wchar_t* pSrcPath, const wchar_t* pFileName) override;
    int32_t DownloadBegin(const wchar_t* pSrcPath, const wchar_t* pFileName, const wchar_t* pDestPath,
                          const wchar_t* pDestFileName, const RQBL_DOWNLOAD_CHECK* pCheck = nullptr) override;
    int32_t Downloading() override;
    bool DownloadText(const wchar_t* pszURL, std::wstring& strText) override;

    uint32_t GetFileSizeKB() const override { return m_dwFileSizeKB; }
    uint32_t GetDownloadSize() const override { return m_dwDownloadSize; }

    // Connect, send and receive time-out of every later request. Applied to
    // the open session at once and to every session opened later.
    void SetTimeouts(uint32_t dwMilliseconds);

protected:
    // Free bytes of the volume that holds pszFolder (all free bytes, not just
    // the caller's quota). False when the volume cannot be asked.
    virtual bool GetFreeDiskBytes(const wchar_t* pszFolder, uint64_t& ullFreeBytes);

private:
    enum OpenResult { OPEN_OK, OPEN_FAILED, OPEN_NOT_FOUND, OPEN_SERVER_ERROR };
    OpenResult OpenRequest(const wchar_t* pszVerb, const wchar_t* pSrcPath, const wchar_t* pFileName);
    // Sends the request; on success m_hConnect and m_hOpenURL are open.
    bool SendRequest(const wchar_t* pszVerb, const std::wstring& strUrl, DWORD dwFlags);
    void CloseRequest();
    void QuerySize();
    void ApplyTimeouts();
    // Refills the read buffer from the request; DOWNLOAD_SUCCEEDED or the
    // failure code of Downloading.
    int32_t ReceiveAhead();
    // Ends the transfer: closes the request and the local file, and removes
    // the unfinished file (the destination is never touched).
    void DiscardTransfer();
    // Checks the finished file and puts it in place of the destination.
    int32_t CommitTransfer();

    CRQBLInternetHandle m_hInternet;
    // The connection handle under m_hOpenURL, for the server it names.
    CRQBLInternetHandle m_hConnect;
    CRQBLInternetHandle m_hOpenURL;
    CRQBLHandle m_hLocalFile;
    // Read ahead from the request, written to the file a block at a time.
    // Allocated once with the object.
    std::unique_ptr<unsigned char[]> m_pReadBuffer;
    size_t m_nBufferedPos = 0;
    size_t m_nBufferedEnd = 0;
    size_t m_nReadAhead = BLOCK_SIZE;
    bool m_bEndOfBody = false;
    uint32_t m_dwReadSize = 0;
    uint32_t m_dwWriteSize = 0;
    uint32_t m_dwFileSizeKB = 0;
    uint32_t m_dwDownloadSize = 0;

    // The transfer in progress.
    std::wstring m_strDestPath;
    std::wstring m_strTempPath;
    bool m_bHasLength = false;
    uint64_t m_ullContentLength = 0;
    uint64_t m_ullReceived = 0;
    bool m_bHasCheck = false;
    RQBL_DOWNLOAD_CHECK m_check;
    CRQBLStreamCrc m_crc;

    uint32_t m_dwTimeoutMs = DEFAULT_TIMEOUT_MS;
};
