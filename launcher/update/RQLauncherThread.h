// The update worker: a state machine run one step per tick of its thread. It
// fetches the patch script, runs it, compares the files it lists with the
// game folder, downloads those that are missing or differ, and tells the
// launcher window when the update is over.
//
// The transfers themselves run on threads of a transfer queue; the worker
// only starts them and waits for them in short steps, so it reports progress
// steadily and a stop request ends everything at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "baselib/RQBLThread.h"
#include "launcher/check/RQContentReader.h"
#include "launcher/check/RQFileChecker.h"
#include "launcher/startup/RQLauncherSettings.h"
#include "launcher/transfer/RQTransferQueue.h"
#include "launcher/update/RQLauncherLink.h"
#include "launcher/update/RQStatusText.h"
#include "patch/RQPatchManifest.h"
#include "patch/RQReleaseState.h"
#include "patch/RQScriptTrust.h"

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
        STOP_TIMEOUT_MS = 3000,
        // The window hears of progress at most this often.
        PROGRESS_STEP_MS = 50,
        // The status line changes at most this often.
        STATUS_STEP_MS = 250,
        // More entries than this are not a game's file list: the script is
        // refused like one that cannot be run.
        MAX_CODE_ENTRIES = RQ_MAX_CODE_ENTRIES,
        // Tries of the script on each server before the next is asked.
        SCRIPT_TRIES = 3,
    };

    // Every transfer gets a transport of its own from fnMakeTransport. The
    // worker owns the link; the log outlives the worker.
    CRQLauncherThread(RQ_UPDATE_SETTINGS settings, CRQTransferQueue::TransportFactory fnMakeTransport,
                      std::unique_ptr<CRQLauncherLink> pLink, CRQBLLogSink& log);
    // Stops the thread first, then everything it started.
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
        RQ_TRANSFER_JOB job;
    };

    enum class RQAcceptance {
        ACCEPTED,
        REFUSED,     // by the trust rules (logged; the next server may do better)
        NOT_STORED,  // the script or the install's record could not be written (the box is shown)
    };

    // address -> script -> manifest -> list -> transfers -> end
    void BeginScript();
    std::vector<RQ_TRANSFER_JOB> ScriptJobs() const;
    void ReceiveScript();
    // The next server for the script, if there is one (then true).
    bool NextScriptServer();
    // With keys, the script is asked for compressed first. True when it was
    // and did not serve (pOut: the fetch of it, if that failed): the plain one
    // is asked for next, from the same server. pszWhy, if given, is logged.
    bool PlainScriptAfter(const RQ_TRANSFER_OUTCOME* pOut, const wchar_t* pszWhy);
    // Every server is first asked for the compressed script (with keys only).
    void AskCompressedScriptFirst();
    // The compressed script that arrived, as the script to be judged.
    bool DecompressScript();
    // With built-in keys: judges the script and the signed files beside it;
    // only a script that passes takes its name, and its bytes, read once and
    // checked, are what runs (strScript). abMissing: which of the files beside
    // the script the server does not have (signature, key list, timestamp).
    RQAcceptance AcceptSignedScript(const bool abMissing[3], std::string& strScript);
    // Stops the update with the disk's reason when the install's record of
    // accepted releases cannot be written.
    bool SaveTrustState(const RQ_TRUST_STATE& before, const RQ_TRUST_STATE& after);
    // The downloaded script and the files beside it, before they were judged.
    static void RemoveUnverifiedFiles();
    // Runs the script from its bytes and lists what is to be fetched.
    int32_t BuildDownloadList(const std::string& strScript);
    // A script that cannot be run, or has no file list.
    int32_t ScriptNotRun();
    void RefuseScript(RQScriptVerdict verdict, const std::wstring& strDetail);
    // The comparison: one finding per job, in order.
    std::vector<RQCheckFinding> CheckFiles(const std::vector<RQ_TRANSFER_JOB>& vecJobs, RQ_STATUS checking);
    void LogRepairFindings(const std::vector<RQ_TRANSFER_JOB>& vecJobs,
                           const std::vector<RQCheckFinding>& vecFindings);
    // The files downloaded and verified join those found current; the
    // record is saved for the next run.
    void RecordVerified(const std::vector<RQ_TRANSFER_OUTCOME>& vecOutcomes);
    void SaveVerifyRecord();
    void DownloadFiles();
    void ReportFailures(const std::vector<RQ_TRANSFER_OUTCOME>& vecOutcomes);

    RQ_TRANSFER_OPTIONS TransferOptions(std::vector<std::wstring> vecBaseUrls, unsigned nTries) const;
    // Waits one progress step; true when the queue has ended.
    bool WaitStep();
    void FailAndClose(const std::wstring& strText);
    void SendTotals(uint32_t nMessage, uint64_t ullDoneBytes, uint64_t ullTotalBytes);
    // The status line, unless one went out less than STATUS_STEP_MS ago
    // (bForce: a change of phase, which always shows).
    void ShowStatus(const RQ_STATUS& status, bool bForce);
    void ShowDownloadStatus(const RQ_TRANSFER_PROGRESS& progress, bool bForce);
    // While the script's server is waited for: how long, else the phase.
    void ShowScriptWait(const RQ_TRANSFER_PROGRESS& progress);
    // Parts of earlier runs that this one will not resume go.
    void SweepStaleParts();
    bool StopRequested() const { return m_nStopRequested.load() != 0; }

    CRQBLLogSink& m_log;
    const RQ_UPDATE_SETTINGS m_settings;
    const CRQTransferQueue::TransportFactory m_fnMakeTransport;
    std::unique_ptr<CRQLauncherLink> m_pLink;
    std::atomic<int32_t> m_nUpdateState{US_START_UP};
    std::vector<RQ_DOWNLOAD_ITEM> m_vecDownloadList;
    CRQFileContentReader m_reader;
    // From the comparison to the end of the downloads.
    std::unique_ptr<CRQFileChecker> m_pChecker;
    // The transfers in progress: the script's, then the files'.
    std::unique_ptr<CRQTransferQueue> m_pQueue;
    // The server the script comes from (0: the content server, then mirrors).
    size_t m_nScriptServer = 0;
    // Whether the script is asked for compressed (with keys only: without,
    // nothing could tell an older compressed script left on a server).
    bool m_bCompressedScript = false;
    bool m_bStartLogged = false;
    uint64_t m_ullLastSentKiB = UINT64_MAX;
    int64_t m_nLastStatusMs = 0;
    bool m_bShowingBusy = false;
    // Until when servers asked to be left alone, by base URL (the transfer
    // queue's steady clock).
    std::map<std::wstring, CRQTransferClock::TimePoint> m_mapPausedUntil;
    CRQSpeedMeter m_speed;
};
