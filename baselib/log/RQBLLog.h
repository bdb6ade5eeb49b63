// The log object: five dated files per run in one folder, of which the .log
// file receives every line as an enciphered record. A program makes one at
// its start and hands it to whatever logs; lines traced before Start are
// dropped.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "baselib/RQBLFile.h"
#include "baselib/RQBLPlatform.h"
#include "baselib/log/RQBLLogSink.h"

class CRQBLLog : public CRQBLLogSink {
public:
    // vecKey: the XOR key of the .log records (RQBLLogKey()); with an empty
    // key no record can be made and the .log file stays empty.
    explicit CRQBLLog(std::vector<int32_t> vecKey);
    ~CRQBLLog() override;
    CRQBLLog(const CRQBLLog&) = delete;
    CRQBLLog& operator=(const CRQBLLog&) = delete;

    // nKind 0 to 3 (error, notice, network, debug). Returns false when the
    // .log file is not open, in which case no sink receives the line.
    bool Write(int nKind, bool bEcho, const wchar_t* pszText, bool bEncrypt);
    // Every traced line, enciphered into the .log file and plain into its kind's file.
    void TraceLine(const wchar_t* pszTag, int nLevel, const wchar_t* pszText) override;

    bool Start(const wchar_t* pszFolder, const wchar_t* pszPrefix, int nRotateHours);
    bool OpenLogFile(const RQBL_DATETIME& dt, CRQBLFile& stream, const wchar_t* pszExt);
    bool CheckRotation(const RQBL_DATETIME& now);
    void CloseAll();

    // Full path of a file of the current set, for tests and support tools.
    std::wstring BuildLogFilePath(const RQBL_DATETIME& dt, const wchar_t* pszExt) const;
    // Base name "prefixYYYYMMDD_HHMMSS"; empty when it does not fit its buffer.
    static std::wstring BuildBaseName(const wchar_t* pszPrefix, const RQBL_DATETIME& dt);
    const RQBL_DATETIME& GetFileTime() const { return m_FileTime; }
    bool IsLogFileOpen() const { return static_cast<bool>(m_pLogFile); }

    enum {
        FOLDER_CHARS = 260,
        PREFIX_CHARS = 256,
        BASE_NAME_CHARS = 256,
        PATH_CHARS = 260,
        START_ATTEMPTS = 5,
        START_RETRY_MS = 2000,
    };

    // Pause between start attempts; tests shorten it.
    void SetStartRetryDelay(uint32_t dwMilliseconds) { m_dwStartRetryMs = dwMilliseconds; }

private:
    struct FileSlot {
        CRQBLFile* pStream;
        const wchar_t* pszExt;
    };
    // The five files in the order in which they are opened.
    std::array<FileSlot, 5> OpenOrder();
    bool OpenAll(const RQBL_DATETIME& dt, bool bStopAtFailure);
    FILE* KindFile(int nKind) const;

    const std::vector<int32_t> m_vecKey;
    std::recursive_mutex m_cs;
    std::wstring m_szFolder;
    std::wstring m_szPrefix;
    CRQBLFile m_pErrFile;
    CRQBLFile m_pNtsFile;
    CRQBLFile m_pDbgFile;
    CRQBLFile m_pLogFile;
    CRQBLFile m_pHtmFile;
    int m_nRotateHours = 0;
    RQBL_DATETIME m_FileTime;
    uint32_t m_dwStartRetryMs = START_RETRY_MS;
};
