#include "launcher/update/RQLauncherThread.h"

#include <algorithm>
#include <chrono>
#include <map>

#include "baselib/RQBLFileOps.h"
#include "baselib/RQBLSha256.h"
#include "baselib/RQBLUtf8.h"
#include "baselib/log/RQBLLogTraceNum.h"
#include "launcher/transfer/RQUrlText.h"
#include "launcher/update/RQDownloadResult.h"
#include "patch/RQCodeInfo.h"
#include "patch/RQPatchManifest.h"
#include "patch/RQPatchPath.h"
#include "patch/RQReleaseState.h"
#include "patch/RQReservedNames.h"
#include "patch/RQScriptSignature.h"
#include "patch/RQScriptTrust.h"
#include "patch/RQUpdateTrust.h"
#include "patch/RQZstdFrames.h"
#include "script/RQLuaTable.h"

namespace {

const wchar_t* const kTag = L"CRQLauncherThread::ThreadLoop";
constexpr int kTraceNum = 130011;

// The window takes wParam and lParam of the progress messages as 32-bit
// signed numbers.
int64_t ClampKiB(uint64_t ullKiB) {
    return static_cast<int64_t>(std::min<uint64_t>(ullKiB, 0x7FFFFFFF));
}

// The downloader's result codes, which the log has always shown for a
// script that could not be fetched.
int32_t LegacyResult(const RQ_TRANSFER_OUTCOME& out) {
    switch (out.failure) {
        case RQTransferFailure::DISK_FULL:
            return DOWNLOAD_DISK_FULL;
        case RQTransferFailure::SERVER_REFUSED:
            return out.nStatus == 404 ? DOWNLOAD_NOT_FOUND : DOWNLOAD_SERVER_ERROR;
        case RQTransferFailure::UNREACHABLE:
            return DOWNLOAD_OPEN_URL_FAILED;
        case RQTransferFailure::WRITE_FAILED:
        case RQTransferFailure::FILE_IN_USE:
        case RQTransferFailure::FOLDER_IN_WAY:
            return DOWNLOAD_CREATE_FILE_FAILED;
        default:
            return DOWNLOAD_READ_FAILED;
    }
}

}  // namespace

CRQLauncherThread::CRQLauncherThread(RQ_UPDATE_SETTINGS settings,
                                     CRQTransferQueue::TransportFactory fnMakeTransport,
                                     std::unique_ptr<CRQLauncherLink> pLink, CRQBLLogSink& log)
    : CRQBLThread(log),
      m_log(log),
      m_settings(std::move(settings)),
      m_fnMakeTransport(std::move(fnMakeTransport)),
      m_pLink(std::move(pLink)),
      // No strong hash yet: the script's SHA-256 is checked once a hash
      // factory is handed in here.
      m_reader(RQMakeSha256Hash) {}

CRQLauncherThread::~CRQLauncherThread() {
    // First: the worker must not run on while the members go away.
    ThreadStop(STOP_TIMEOUT_MS);
    m_pQueue.reset();
}

bool CRQLauncherThread::ThreadLoop(float /*fElapsed*/) {
    switch (m_nUpdateState.load()) {
        case US_START_UP:
            BeginScript();
            break;
        case US_PATCHER_CRC_DOWNLOAD:
            ReceiveScript();
            break;
        case US_PATCHER_FILE_DOWNLOAD:
            DownloadFiles();
            break;
        case US_UPDATE_END:
            RQ_LOG(m_log, kTag, RQ_LOG_NTS).Trace(kTraceNum, L"LAUNCHER US_UPDATE_END");
            m_nUpdateState = US_CLOSE;
            break;
        case US_CLOSE:
            RQ_LOG(m_log, kTag, RQ_LOG_NTS).Trace(kTraceNum, L"LAUNCHER US_CLOSE");
            ShowStatus(RQ_STATUS{RQUpdatePhase::DONE}, true);
            m_pLink->SendToMainWindow(WM_RQ_UPDATE_DONE, 0, 0);
            ThreadStop(STOP_TIMEOUT_MS);
            break;
        default:
            break;
    }
    return true;
}

RQ_TRANSFER_OPTIONS CRQLauncherThread::TransferOptions(std::vector<std::wstring> vecBaseUrls,
                                                       unsigned nTries) const {
    RQ_TRANSFER_OPTIONS options;
    options.vecBaseUrls = std::move(vecBaseUrls);
    options.nParallel = std::max(1u, m_settings.nParallel);
    options.nTries = nTries;
    options.backoff.first = std::chrono::milliseconds(m_settings.dwRetryPauseMs);
    options.dwBusyPatienceMs = m_settings.dwBusyPatienceMs;
    options.progress.window = std::chrono::seconds(m_settings.dwStallSeconds);
    options.ullRateLimitBytesPerSec = m_settings.ullRateLimitKiB * 1024;
    options.strSelfPath = m_settings.strSelfPath;
    options.strResumeRecordPath = RQ_RESUME_RECORD_FILE;
    for (const std::wstring& strServer : options.vecBaseUrls) {
        auto it = m_mapPausedUntil.find(strServer);
        options.vecPausedUntil.push_back(it != m_mapPausedUntil.end() ? it->second
                                                                      : CRQTransferClock::TimePoint());
    }
    return options;
}

bool CRQLauncherThread::WaitStep() {
    return m_pQueue->WaitForEnd(PROGRESS_STEP_MS);
}

// The script, whole from one server: the content server first, then each
// mirror in turn while the ones before could not deliver it.
void CRQLauncherThread::BeginScript() {
    std::vector<std::wstring> vecServers = {m_settings.strCdnAddress};
    vecServers.insert(vecServers.end(), m_settings.vecMirrors.begin(), m_settings.vecMirrors.end());
    if (!m_bStartLogged) {
        m_bStartLogged = true;
        AskCompressedScriptFirst();
        RQ_LOG(m_log, kTag, RQ_LOG_NTS)
            .Trace(kTraceNum, L"LAUNCHER US_START_UP : %ls", RQUrlForLog(m_settings.strCdnAddress).c_str());
        // A launcher that replaced itself left its old self beside it.
        if (!m_settings.strSelfPath.empty()) {
            rqbl::RemoveFile(RQReplacedPath(m_settings.strSelfPath));
        }
    }
    ShowStatus(RQ_STATUS{RQUpdatePhase::GETTING_SCRIPT}, true);
    RQ_TRANSFER_OUTCOME failed;
    for (; m_nScriptServer < vecServers.size(); ++m_nScriptServer) {
        // One after the other, the script first: its size is the bar's range.
        // Server errors and broken transfers are tried again on this server;
        // one that says it is busy is waited for only when no other is left.
        RQ_TRANSFER_OPTIONS options = TransferOptions({vecServers[m_nScriptServer]}, SCRIPT_TRIES);
        options.nParallel = 1;
        if (m_nScriptServer + 1 < vecServers.size()) {
            options.dwBusyPatienceMs = 0;
        }
        m_pQueue = std::make_unique<CRQTransferQueue>(options, m_fnMakeTransport, m_log);
        m_pQueue->Start(ScriptJobs());
        // Until the transfer has begun (or could not).
        for (;;) {
            bool bEnded = WaitStep();
            if (StopRequested()) {
                m_pQueue->Stop();
                return;
            }
            ShowScriptWait(m_pQueue->Progress());
            // A response began: its bytes (or its break) are received next.
            if (m_pQueue->Progress().nStarted > 0) {
                m_nUpdateState = US_PATCHER_CRC_DOWNLOAD;
                m_ullLastSentKiB = UINT64_MAX;
                SendTotals(WM_RQ_PROGRESS_RANGE, 0, m_pQueue->Progress().ullTotalBytes);
                return;
            }
            if (bEnded) {
                break;
            }
        }
        failed = m_pQueue->Outcomes()[0];
        // A server that said "later" is not asked for the files at once either.
        m_mapPausedUntil[vecServers[m_nScriptServer]] = m_pQueue->PausedUntil()[0];
        if (PlainScriptAfter(&failed, L"not served")) {
            m_pQueue.reset();
            return;
        }
        AskCompressedScriptFirst();
    }
    RQ_LOG(m_log, kTag, RQ_LOG_ERR).Trace(kTraceNum, L"LAUNCHER US_START_UP fail %d", LegacyResult(failed));
    FailAndClose(RQScriptFailureText(failed, rqbl::GetVolumeName(L".")));
}

std::vector<RQ_TRANSFER_JOB> CRQLauncherThread::ScriptJobs() const {
    const bool bSigned = !m_settings.vecTrustedKeys.empty();
    RQ_TRANSFER_JOB script;
    script.strShown = RQ_SCRIPT_FILE;
    script.strUrlPath = RQ_SCRIPT_FILE;
    script.strLocal = bSigned ? RQ_UNVERIFIED_SCRIPT_FILE : RQ_SCRIPT_FILE;
    script.ullMaxBytes = RQ_SCRIPT_MAX_BYTES;
    if (m_bCompressedScript) {
        script.strShown = RQ_COMPRESSED_SCRIPT_FILE;
        script.strUrlPath = RQ_COMPRESSED_SCRIPT_FILE;
        script.strLocal = RQ_UNVERIFIED_COMPRESSED_SCRIPT_FILE;
        script.bMayBeMissing = true;
    }
    if (!bSigned) {
        return {script};
    }
    // The signed files beside the script, each capped far below what it
    // could hold, so that a hostile server cannot feed them without end.
    // A server that has none of them (a release its roots sign themselves,
    // without a key list) says so with a 404: the trust check judges the
    // absence, and tries with waits would only hold up every start.
    auto beside = [](const wchar_t* pszName, const wchar_t* pszLocal, uint64_t ullMaxBytes) {
        RQ_TRANSFER_JOB job;
        job.strShown = pszName;
        job.strUrlPath = pszName;
        job.strLocal = pszLocal;
        job.ullMaxBytes = ullMaxBytes;
        job.bMayBeMissing = true;
        return job;
    };
    return {script,
            beside(RQ_SCRIPT_SIGNATURE_FILE, RQ_UNVERIFIED_SIGNATURE_FILE, RQ_SCRIPT_SIGNATURE_MAX_BYTES),
            beside(RQ_KEY_LIST_FILE, RQ_UNVERIFIED_KEY_LIST_FILE, RQ_KEY_LIST_MAX_BYTES),
            beside(RQ_TIMESTAMP_FILE, RQ_UNVERIFIED_TIMESTAMP_FILE, RQ_TIMESTAMP_MAX_BYTES)};
}

bool CRQLauncherThread::PlainScriptAfter(const RQ_TRANSFER_OUTCOME* pOut, const wchar_t* pszWhy) {
    // A server without the compressed script answers 404 (a bucket that
    // may not be listed, 403). One that cannot be reached, breaks off or
    // stays busy is no better for the plain script: the usual rules.
    const bool bNotThere =
        pOut == nullptr || (pOut->failure == RQTransferFailure::SERVER_REFUSED && pOut->nStatus >= 400 &&
                            pOut->nStatus < 500 && pOut->nStatus != 429);
    if (!m_bCompressedScript || !bNotThere) {
        return false;
    }
    if (pszWhy != nullptr) {
        RQ_LOG(m_log, kTag, RQ_LOG_NTS)
            .Trace(kTraceNum, L"LAUNCHER SCRIPT COMPRESSED UNUSED : %ls, the plain one next", pszWhy);
    }
    m_bCompressedScript = false;
    RemoveUnverifiedFiles();
    m_nUpdateState = US_START_UP;
    return true;
}

void CRQLauncherThread::AskCompressedScriptFirst() {
    m_bCompressedScript = !m_settings.vecTrustedKeys.empty();
}

bool CRQLauncherThread::DecompressScript() {
    std::string strFrame;
    std::string strScript;
    CRQZstdDecompressor zstd;
    const bool bOk =
        rqbl::ReadSmallFile(RQ_UNVERIFIED_COMPRESSED_SCRIPT_FILE, RQ_SCRIPT_MAX_BYTES, strFrame) &&
        zstd.DecompressWhole(strFrame, RQ_SCRIPT_MAX_BYTES, strScript) &&
        rqbl::WriteFileAtomically(RQ_UNVERIFIED_SCRIPT_FILE, strScript);
    rqbl::RemoveFile(RQ_UNVERIFIED_COMPRESSED_SCRIPT_FILE);
    return bOk;
}

bool CRQLauncherThread::NextScriptServer() {
    if (m_nScriptServer + 1 < 1 + m_settings.vecMirrors.size()) {
        AskCompressedScriptFirst();
        ++m_nScriptServer;  // the next server, from the start
        m_nUpdateState = US_START_UP;
        return true;
    }
    return false;
}

void CRQLauncherThread::ReceiveScript() {
    bool bEnded = WaitStep();
    if (StopRequested()) {
        m_pQueue->Stop();
        return;
    }
    RQ_TRANSFER_PROGRESS progress = m_pQueue->Progress();
    if (!bEnded) {
        SendTotals(WM_RQ_PROGRESS_POS, progress.ullDoneBytes, progress.ullTotalBytes);
        return;
    }
    std::vector<RQ_TRANSFER_OUTCOME> vecOutcomes = m_pQueue->Outcomes();
    m_pQueue.reset();
    // A signed file beside the script that the server does not have is the
    // update's fault, not the server's: the trust check judges its absence.
    bool abMissing[3] = {false, false, false};
    const RQ_TRANSFER_OUTCOME* pFailed = vecOutcomes[0].bDone ? nullptr : &vecOutcomes[0];
    for (size_t i = 1; i < vecOutcomes.size() && i <= 3; ++i) {
        const RQ_TRANSFER_OUTCOME& out = vecOutcomes[i];
        abMissing[i - 1] =
            !out.bDone && out.failure == RQTransferFailure::SERVER_REFUSED && out.nStatus == 404;
        if (pFailed == nullptr && !out.bDone && !abMissing[i - 1]) {
            pFailed = &out;
        }
    }
    if (!vecOutcomes[0].bDone && PlainScriptAfter(&vecOutcomes[0], L"not served")) {
        return;
    }
    if (pFailed == nullptr && m_bCompressedScript && !DecompressScript()) {
        PlainScriptAfter(nullptr, L"not a script compressed whole");
        return;
    }
    if (pFailed != nullptr) {
        int32_t r = LegacyResult(*pFailed);
        RQ_LOG(m_log, kTag, RQ_LOG_ERR).Trace(kTraceNum, L"LAUNCHER US_PATCHER_CRC_DOWNLOAD FAIL : %d", r);
        SendTotals(WM_RQ_PROGRESS_POS, progress.ullDoneBytes, progress.ullTotalBytes);
        RemoveUnverifiedFiles();
        if (!NextScriptServer()) {
            FailAndClose(RQScriptFailureText(*pFailed, rqbl::GetVolumeName(L".")));
        }
        return;
    }
    RQ_LOG(m_log, kTag, RQ_LOG_NTS).Trace(kTraceNum, L"LAUNCHER US_PATCHER_CRC_DOWNLOAD DOWNLOAD_SUCCEEDED");
    std::string strScript;
    if (!m_settings.vecTrustedKeys.empty()) {
        switch (AcceptSignedScript(abMissing, strScript)) {
            case RQAcceptance::ACCEPTED:
                break;
            case RQAcceptance::REFUSED:
                // An older compressed script left on the server: the plain
                // one may be the signed one. Else another server may have the
                // current, rightly signed update.
                if (PlainScriptAfter(nullptr, nullptr)) {
                    return;
                }
                if (!NextScriptServer()) {
                    FailAndClose(RQNotVerifiedText());
                }
                return;
            case RQAcceptance::NOT_STORED:
                return;
        }
    } else if (!rqbl::ReadSmallFile(RQ_SCRIPT_FILE, RQ_SCRIPT_MAX_BYTES, strScript)) {
        m_nUpdateState = ScriptNotRun();
        return;
    }
    m_nUpdateState = BuildDownloadList(strScript);
}

int32_t CRQLauncherThread::ScriptNotRun() {
    // Without keys, as ever: the game starts as it is. With keys, nothing of
    // the game has been checked: it does not start.
    if (!m_settings.vecTrustedKeys.empty()) {
        FailAndClose(RQNotVerifiedText());
    }
    return US_CLOSE;
}

void CRQLauncherThread::RefuseScript(RQScriptVerdict verdict, const std::wstring& strDetail) {
    RQ_LOG(m_log, kTag, RQ_LOG_ERR)
        .Trace(kTraceNum, L"LAUNCHER SCRIPT REFUSED : %ls%ls", RQScriptVerdictText(verdict),
               strDetail.c_str());
    FailAndClose(RQNotVerifiedText());
}

int32_t CRQLauncherThread::BuildDownloadList(const std::string& strScript) {
    m_vecDownloadList.clear();
    const bool bKeyed = !m_settings.vecTrustedKeys.empty();
    CRQLuaTable luaTable(m_log);
    // A closing window ends the run, wherever the script spends its time.
    luaTable.SetStopFlag(&m_nStopRequested);
    // The bytes that were checked, not the file: nobody can swap it in between.
    if (!luaTable.DoBuffer(strScript, "PATCHER_CODE.LUA")) {
        return StopRequested() ? US_CLOSE : ScriptNotRun();
    }
    std::map<std::wstring, CODE_INFO> mapCodeInfo;
    std::map<std::wstring, CODE_INFO> mapDeleteInfo;  // read, but the launcher deletes nothing
    RQ_MANIFEST_RULES rules;
    rules.nMaxEntries = MAX_CODE_ENTRIES;
    rules.bRequireSha256 = bKeyed;
    std::wstring strBadEntry;
    switch (RQReadManifest(luaTable, mapCodeInfo, mapDeleteInfo, m_log, rules, strBadEntry)) {
        case RQManifestRead::OK:
            break;
        case RQManifestRead::SHA256_MISSING:
            RefuseScript(RQScriptVerdict::SHA256_MISSING, L": " + RQPrintablePath(strBadEntry));
            return US_CLOSE;
        default:
            return ScriptNotRun();
    }
    std::vector<RQ_DOWNLOAD_ITEM> vecItems;
    std::vector<std::wstring> vecRefused;
    bool bGameListed = false;
    for (const auto& entry : mapCodeInfo) {
        const CODE_INFO& info = entry.second;
        RQ_DOWNLOAD_ITEM item;
        item.strShown = info.strPath + info.strFileName;
        // The script comes from the network: a path that could reach outside
        // the game folder is never compared, created or written, and the
        // update fails, naming it.
        RQ_PATCH_PATH path;
        if (RQMakePatchPath(item.strShown, path) != RQPatchPathError::NONE ||
            RQIsLauncherStateFile(path.strLocal)) {
            RQ_LOG(m_log, kTag, RQ_LOG_ERR)
                .Trace(kTraceNum, L"LAUNCHER PATCH PATH REFUSED : %ls",
                       RQPrintablePath(item.strShown).c_str());
            vecRefused.push_back(RQPrintablePath(item.strShown));
            continue;
        }
        item.job.strShown = item.strShown;
        item.job.strUrlPath = path.strUrl;
        item.job.strLocal = path.strLocal;
        item.job.bHasCheck = true;
        item.job.ullSize = info.ullFileSize;
        item.job.dwCrc = info.dwCRC;
        // A hash that is not one would make the file fail every try.
        RQ_SHA256 digest{};
        if (!info.strSHA256.empty() && !RQBLParseSha256Hex(info.strSHA256, digest)) {
            RQ_LOG(m_log, kTag, RQ_LOG_ERR)
                .Trace(kTraceNum, L"LAUNCHER PATCH HASH REFUSED : %ls",
                       RQPrintablePath(item.strShown).c_str());
            continue;
        }
        // In lower case, as the content reader writes the hashes it computes.
        item.job.strSha256 = info.strSHA256.empty() ? std::string() : RQBLSha256Hex(digest);
        // A file with an index may be made from what the player has where
        // that costs less (a bad index: fetched whole); the transfer queue
        // decides, for the files that are fetched at all.
        RQ_SHA256 indexHash{};
        if (!item.job.strSha256.empty() && RQBLParseSha256Hex(info.strDeltaIndex, indexHash)) {
            item.job.strDeltaIndex = RQBLSha256Hex(indexHash);
        }
        // What runs with administrator rights is read at every start.
        item.job.bCheckEveryStart = bKeyed && RQIsExecutableName(path.strLocal);
        bGameListed = bGameListed || RQIsGameFile(path.strLocal);
        vecItems.push_back(std::move(item));
    }
    if (!vecRefused.empty()) {
        FailAndClose(RQRefusedNamesText(vecRefused));
        return US_CLOSE;
    }
    if (bKeyed && !bGameListed) {
        RefuseScript(RQScriptVerdict::GAME_NOT_LISTED, std::wstring());
        return US_CLOSE;
    }
    RQ_STATUS checking{RQUpdatePhase::CHECKING};
    checking.nFilesTotal = static_cast<uint32_t>(vecItems.size());
    ShowStatus(checking, true);
    std::vector<RQ_TRANSFER_JOB> vecJobs;
    for (const RQ_DOWNLOAD_ITEM& item : vecItems) {
        vecJobs.push_back(item.job);
    }
    std::vector<RQCheckFinding> vecFindings = CheckFiles(vecJobs, checking);
    // Comparing a long list takes a while: a closing window must not wait.
    if (StopRequested()) {
        return US_CLOSE;
    }
    for (size_t i = 0; i < vecItems.size(); ++i) {
        if (RQNeedsDownload(vecFindings[i])) {
            m_vecDownloadList.push_back(vecItems[i]);
        }
    }
    SweepStaleParts();
    if (m_vecDownloadList.empty()) {
        SaveVerifyRecord();
        return US_UPDATE_END;
    }
    return US_PATCHER_FILE_DOWNLOAD;
}

void CRQLauncherThread::DownloadFiles() {
    RQ_LOG(m_log, kTag, RQ_LOG_NTS).Trace(kTraceNum, L"LAUNCHER US_PATCHER_FILE_DOWNLOAD");
    std::vector<RQ_TRANSFER_JOB> vecJobs;
    uint64_t ullTotalBytes = 0;
    for (const RQ_DOWNLOAD_ITEM& item : m_vecDownloadList) {
        vecJobs.push_back(item.job);
        ullTotalBytes += item.job.ullSize;
    }
    // The bar's range so far was the script's size; from here on it is the
    // sum of the files to fetch, and the position counts over all of them.
    m_ullLastSentKiB = UINT64_MAX;
    SendTotals(WM_RQ_PROGRESS_RANGE, 0, ullTotalBytes);

    std::vector<std::wstring> vecServers = {m_settings.strCdnAddress};
    vecServers.insert(vecServers.end(), m_settings.vecMirrors.begin(), m_settings.vecMirrors.end());
    m_pQueue = std::make_unique<CRQTransferQueue>(TransferOptions(vecServers, m_settings.nTries),
                                                  m_fnMakeTransport, m_log);
    m_pQueue->Start(std::move(vecJobs));
    ShowDownloadStatus(m_pQueue->Progress(), true);
    // Files made from the player's old ones count what travels, known once
    // they are planned (and the whole file again if one falls back).
    uint64_t ullRangeSent = ullTotalBytes;
    auto fnSendPosition = [this, &ullRangeSent](const RQ_TRANSFER_PROGRESS& progress) {
        if (progress.ullTotalBytes != ullRangeSent) {
            ullRangeSent = progress.ullTotalBytes;
            m_ullLastSentKiB = UINT64_MAX;
            SendTotals(WM_RQ_PROGRESS_RANGE, 0, ullRangeSent);
        }
        SendTotals(WM_RQ_PROGRESS_POS, progress.ullDoneBytes, progress.ullTotalBytes);
    };
    while (!WaitStep()) {
        if (StopRequested()) {
            break;
        }
        RQ_TRANSFER_PROGRESS progress = m_pQueue->Progress();
        fnSendPosition(progress);
        ShowDownloadStatus(progress, false);
    }
    if (StopRequested()) {
        // The window is closing: nothing more is reported or changed.
        m_pQueue->Stop();
        return;
    }
    fnSendPosition(m_pQueue->Progress());
    std::vector<RQ_TRANSFER_OUTCOME> vecOutcomes = m_pQueue->Outcomes();
    m_pQueue.reset();
    RecordVerified(vecOutcomes);
    bool bAllDone = std::all_of(vecOutcomes.begin(), vecOutcomes.end(),
                                [](const RQ_TRANSFER_OUTCOME& out) { return out.bDone; });
    if (!bAllDone) {
        ReportFailures(vecOutcomes);
        return;
    }
    m_vecDownloadList.clear();
    m_pLink->SendToMainWindow(WM_RQ_PROGRESS_FULL, 0, 0);
    m_nUpdateState = US_UPDATE_END;
}

void CRQLauncherThread::ReportFailures(const std::vector<RQ_TRANSFER_OUTCOME>& vecOutcomes) {
    // One box for all of them: the game does not start with files known to
    // be wrong, and the player learns which ones, and why.
    std::vector<RQ_FAILED_FILE> vecFailed;
    for (size_t i = 0; i < vecOutcomes.size(); ++i) {
        if (!vecOutcomes[i].bDone && vecOutcomes[i].failure != RQTransferFailure::STOPPED) {
            vecFailed.push_back(RQ_FAILED_FILE{m_vecDownloadList[i].strShown, vecOutcomes[i]});
        }
    }
    FailAndClose(RQFailureText(vecFailed, rqbl::GetVolumeName(L".")));
}

void CRQLauncherThread::FailAndClose(const std::wstring& strText) {
    // The player reads the message before the window goes.
    m_pLink->ShowMessageBox(strText);
    m_pLink->SendToMainWindow(RQ_WM_CLOSE, 0, 0);
    m_nUpdateState = US_CLOSE;
}

void CRQLauncherThread::SendTotals(uint32_t nMessage, uint64_t ullDoneBytes, uint64_t ullTotalBytes) {
    const uint64_t ullDoneKiB = ullDoneBytes >> 10;
    // The bar only changes in whole KiB; repeating a position costs the
    // window a repaint for nothing.
    if (nMessage == WM_RQ_PROGRESS_POS && ullDoneKiB == m_ullLastSentKiB) {
        return;
    }
    if (nMessage == WM_RQ_PROGRESS_POS) {
        m_ullLastSentKiB = ullDoneKiB;
    }
    m_pLink->SendToMainWindow(nMessage, static_cast<uint64_t>(ClampKiB(ullDoneKiB)),
                              ClampKiB(ullTotalBytes >> 10));
}

void CRQLauncherThread::ShowStatus(const RQ_STATUS& status, bool bForce) {
    const int64_t nNowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
    if (!bForce && nNowMs - m_nLastStatusMs < STATUS_STEP_MS) {
        return;
    }
    m_nLastStatusMs = nNowMs;
    m_pLink->ShowStatus(RQStatusLine(status));
}

void CRQLauncherThread::ShowDownloadStatus(const RQ_TRANSFER_PROGRESS& progress, bool bForce) {
    const int64_t nNowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
    m_speed.Sample(progress.ullReceivedBytes, nNowMs);
    RQ_STATUS status{RQUpdatePhase::DOWNLOADING};
    status.nFilesDone = progress.nFilesDone;
    status.nFilesTotal = progress.nFilesTotal;
    status.ullDoneBytes = progress.ullDoneBytes;
    status.ullTotalBytes = progress.ullTotalBytes;
    status.dBytesPerSecond = m_speed.BytesPerSecond();
    uint64_t ullRemaining =
        progress.ullTotalBytes > progress.ullDoneBytes ? progress.ullTotalBytes - progress.ullDoneBytes : 0;
    status.bHasSecondsLeft = m_speed.SecondsLeft(ullRemaining, status.ullSecondsLeft);
    // Files remain but none is being fetched: a try failed, the next waits.
    status.bRetrying = progress.nActive == 0 && !progress.bEnded && progress.nRetries > 0;
    status.bServerBusy = progress.bWaitingForServer;
    status.ullRetrySeconds = (progress.ullRetryInMs + 999) / 1000;
    ShowStatus(status, bForce);
}

void CRQLauncherThread::ShowScriptWait(const RQ_TRANSFER_PROGRESS& progress) {
    if (!progress.bWaitingForServer && !m_bShowingBusy) {
        return;  // the phase's line stands
    }
    RQ_STATUS status{RQUpdatePhase::GETTING_SCRIPT};
    status.bServerBusy = progress.bWaitingForServer;
    status.ullRetrySeconds = (progress.ullRetryInMs + 999) / 1000;
    ShowStatus(status, m_bShowingBusy != progress.bWaitingForServer);
    m_bShowingBusy = progress.bWaitingForServer;
}
