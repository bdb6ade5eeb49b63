// The update worker: a state machine run one step per tick of its thread. It
// fetches the patch script, runs it, compares the files it lists with the
// game folder, downloads those that are missing or differ, and tells the
// launcher window when the update is over.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "baselib/RQBLDownloader.h"
#include "baselib/RQBLThread.h"
#include "launcher/RQLauncherLink.h"
#include "launcher/RQPatchPath.h"

class CRQLauncherThread : public CRQBLThread {
public:
    enum : int32_t {
        US_START_UP = 0,
        US_PATCHER_CRC_DOWNLOAD = 1,
        US_PATCHER_FILE_DOWNLOAD = 2,
        US_UPDATE_END = 3,
        US_CLOSE = 4,
    };
    enum : uint32_t {
        BEGIN_TRIES = 10,
        RETRY_PAUSE_MS = 1000,
        STOP_TIMEOUT_MS = 3000,
    };

    // Opens the downloader's session and creates the process-wide CRC-32
    // object. The worker owns both arguments.
    CRQLauncherThread(std::unique_ptr<CRQBLDownloader> pHttp, std::unique_ptr<CRQLauncherLink> pLink);
    // Stops the thread first, then closes the session.
    ~CRQLauncherThread() override;
    CRQLauncherThread(const CRQLauncherThread&) = delete;
    CRQLauncherThread& operator=(const CRQLauncherThread&) = delete;

    // Read by tests and tools from other threads.
    int32_t GetUpdateState() const { return m_nUpdateState.load(); }

protected:
    // One step of the state machine; always true.
    bool ThreadLoop(float fElapsed) override;

private:
    struct RQ_DOWNLOAD_ITEM {
        std::wstring strShown;  // the path as the script wrote it, for the player
        RQ_PATCH_PATH path;
        RQBL_DOWNLOAD_CHECK check;
    };

    void StartUp();
    void ReceiveScript();
    // Runs the script and lists the files to fetch; the next state.
    int32_t BuildDownloadList();
    bool NeedsDownload(const std::wstring& strLocal, const RQBL_DOWNLOAD_CHECK& check);
    void DownloadFiles();
    // Sizes of the listed files from the server, in bytes (the entries' own
    // sizes where the server names none); stops early on a stop request.
    uint64_t QueryTotalBytes();
    // Begins one file, up to BEGIN_TRIES times; false when it gave up.
    bool BeginWithRetries(const RQ_DOWNLOAD_ITEM& item);
    void FailAndClose(const std::wstring& strText);
    void SendProgress(uint32_t nMessage);
    void SendTotals(uint32_t nMessage, uint64_t ullDoneBytes, uint64_t ullTotalBytes);
    bool StopRequested() const { return m_nStopRequested.load() != 0; }

    std::atomic<int32_t> m_nUpdateState{US_START_UP};
    std::unique_ptr<CRQBLDownloader> m_pHttp;
    std::vector<RQ_DOWNLOAD_ITEM> m_vecDownloadList;
    std::unique_ptr<CRQLauncherLink> m_pLink;
};
