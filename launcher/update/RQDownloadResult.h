// The downloader interface through which the update worker fetches files. A
// transfer is cut into steps so that the caller regains control after every
// block: DownloadBegin opens the request and the local file, then Downloading
// moves one block per call until it reports the end or a failure.
#pragma once

#include <cstdint>
#include <string>

// Results of DownloadBegin and Downloading. The two share the value space; a
// value's meaning depends on the operation that returned it.
enum : int32_t {
    DOWNLOAD_SUCCEEDED = 1,
    // DownloadBegin
    DOWNLOAD_NO_INTERNET = 2,
    DOWNLOAD_NULL_SRC_PATH = 3,
    DOWNLOAD_NULL_FILE_NAME = 4,
    DOWNLOAD_NULL_DEST_PATH = 5,
    DOWNLOAD_NULL_DEST_FILE_NAME = 6,
    DOWNLOAD_OPEN_URL_FAILED = 7,
    DOWNLOAD_NOT_FOUND = 8,     // status 404
    DOWNLOAD_SERVER_ERROR = 9,  // status 500
    DOWNLOAD_DISK_FULL = 10,
    DOWNLOAD_CREATE_FILE_FAILED = 11,
    // Downloading
    DOWNLOAD_QUERY_FAILED = 2,
    DOWNLOAD_READ_FAILED = 3,  // also: body shorter than announced, or not the expected file
    DOWNLOAD_WRITE_FAILED = 6,
    DOWNLOAD_CONTINUE = 12,
};

// What the finished file must be. A transfer that ends with a different size
// or CRC-32 is a failed read and never replaces the destination.
struct RQBL_DOWNLOAD_CHECK {
    uint64_t ullFileSize = 0;
    uint32_t dwCRC = 0;
};

class CRQBLDownloader {
public:
    virtual ~CRQBLDownloader() {}

    virtual bool Open() = 0;
    virtual void Close() = 0;
    // Ends any transfer in progress (an unfinished file is discarded) and
    // clears the counters.
    virtual void Reset() = 0;
    // Status and size of a remote file; nothing is written locally.
    virtual bool DownloadInfo(const wchar_t* pSrcPath, const wchar_t* pFileName) = 0;
    // URL = pSrcPath + pFileName; local file = pDestPath + pDestFileName. The
    // destination is replaced only when the whole body has arrived and, with
    // pCheck, matches its size and CRC-32.
    virtual int32_t DownloadBegin(const wchar_t* pSrcPath, const wchar_t* pFileName, const wchar_t* pDestPath,
                                  const wchar_t* pDestFileName,
                                  const RQBL_DOWNLOAD_CHECK* pCheck = nullptr) = 0;
    virtual int32_t Downloading() = 0;
    // The first block of a URL as text (thread ANSI code page).
    virtual bool DownloadText(const wchar_t* pszURL, std::wstring& strText) = 0;

    // Progress of the file of the last DownloadInfo or DownloadBegin: its size
    // in KiB from the server's Content-Length (0 when unknown), and the bytes
    // of it received and written so far.
    virtual uint32_t GetFileSizeKB() const = 0;
    virtual uint32_t GetDownloadSize() const = 0;
};
