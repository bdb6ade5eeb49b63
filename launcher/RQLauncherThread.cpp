#include "launcher/RQLauncherThread.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <system_error>

#include "baselib/RQBLCodeInfo.h"
#include "baselib/RQBLCrc32.h"
#include "baselib/RQBLDownloadTemp.h"
#include "baselib/RQBLMain.h"
#include "baselib/log/RQBLLogTraceNum.h"
#include "launcher/RQLauncherGlobals.h"
#include "script/RQLuaTable.h"

namespace fs = std::filesystem;

namespace {

const wchar_t* const kTag = L"CRQLauncherThread::ThreadLoop";
constexpr int kTraceNum = 130011;
const wchar_t* const kScriptName = L"PATCHER_CODE.LUA";
const wchar_t* const kDestFolder = L"./";

const wchar_t* const kTextDiskFull = L"ハードディスクの容量が不足しています。";
const wchar_t* const kTextScriptNotFound = L"アップデートファイルが見つかりませんでした。";
const wchar_t* const kTextUpdateFailed = L"アップデート失敗。再度お試しください。";

// The window takes wParam and lParam of the progress messages as 32-bit
// signed numbers.
int64_t ClampKiB(uint64_t ullKiB) {
    return static_cast<int64_t>(std::min<uint64_t>(ullKiB, 0x7FFFFFFF));
}

}  // namespace

CRQLauncherThread::CRQLauncherThread(std::unique_ptr<CRQBLDownloader> pHttp,
                                     std::unique_ptr<CRQLauncherLink> pLink)
    : m_pHttp(std::move(pHttp)), m_pLink(std::move(pLink)) {
    m_pHttp->Open();  // a failure shows at the first download
    CRQBLCrc32::CreateInstance(false);
}

CRQLauncherThread::~CRQLauncherThread() {
    // First: the worker must not run on while the members go away.
    ThreadStop(STOP_TIMEOUT_MS);
    m_pHttp->Close();
    CRQBLCrc32::DestroyInstance();
}

bool CRQLauncherThread::ThreadLoop(float /*fElapsed*/) {
    switch (m_nUpdateState.load()) {
        case US_START_UP:
            StartUp();
            break;
        case US_PATCHER_CRC_DOWNLOAD:
            ReceiveScript();
            break;
        case US_PATCHER_FILE_DOWNLOAD:
            DownloadFiles();
            break;
        case US_UPDATE_END:
            RQ_LOG(kTag, RQ_LOG_NTS).Trace(kTraceNum, L"LAUNCHER US_UPDATE_END");
            m_nUpdateState = US_CLOSE;
            break;
        case US_CLOSE:
            RQ_LOG(kTag, RQ_LOG_NTS).Trace(kTraceNum, L"LAUNCHER US_CLOSE");
            m_pLink->SendToMainWindow(WM_RQ_UPDATE_DONE, 0, 0);
            ThreadStop(STOP_TIMEOUT_MS);
            break;
        default:
            break;
    }
    return true;
}

void CRQLauncherThread::StartUp() {
    RQ_LOG(kTag, RQ_LOG_NTS).Trace(kTraceNum, L"LAUNCHER US_START_UP : %ls", g_strCdnAddress.c_str());
    // Unfinished downloads of a run that was killed halfway.
    RQBLSweepDownloadTemps(L".");
    int32_t r = m_pHttp->DownloadBegin(g_strCdnAddress.c_str(), kScriptName, kDestFolder, kScriptName);
    if (r == DOWNLOAD_SUCCEEDED) {
        m_nUpdateState = US_PATCHER_CRC_DOWNLOAD;
        SendProgress(WM_RQ_PROGRESS_RANGE);
        return;
    }
    RQ_LOG(kTag, RQ_LOG_ERR).Trace(kTraceNum, L"LAUNCHER US_START_UP fail %d", r);
    FailAndClose(r == DOWNLOAD_DISK_FULL ? std::wstring(kTextDiskFull)
                                         : std::wstring(kTextScriptNotFound) + L" " + kScriptName);
}

void CRQLauncherThread::ReceiveScript() {
    int32_t r = m_pHttp->Downloading();
    if (r == DOWNLOAD_CONTINUE) {
        SendProgress(WM_RQ_PROGRESS_POS);
        return;
    }
    if (r != DOWNLOAD_SUCCEEDED) {
        RQ_LOG(kTag, RQ_LOG_ERR).Trace(kTraceNum, L"LAUNCHER US_PATCHER_CRC_DOWNLOAD FAIL : %d", r);
        SendProgress(WM_RQ_PROGRESS_POS);
        // The transfer is over (its handles are closed): trying to read on
        // would spin without end. It ends like a script that cannot be fetched.
        FailAndClose(std::wstring(kTextScriptNotFound) + L" " + kScriptName);
        return;
    }
    RQ_LOG(kTag, RQ_LOG_NTS).Trace(kTraceNum, L"LAUNCHER US_PATCHER_CRC_DOWNLOAD DOWNLOAD_SUCCEEDED");
    m_nUpdateState = BuildDownloadList();
}

int32_t CRQLauncherThread::BuildDownloadList() {
    m_vecDownloadList.clear();
    CRQLuaTable luaTable;
    if (!luaTable.DoFile(kScriptName)) {
        return US_CLOSE;
    }
    std::map<std::wstring, CODE_INFO> mapCodeInfo;
    std::map<std::wstring, CODE_INFO> mapDeleteInfo;  // read, but the launcher deletes nothing
    if (!CRQBLMain::ReadCodeTables(&luaTable, mapCodeInfo, mapDeleteInfo)) {
        return US_CLOSE;
    }
    for (const auto& entry : mapCodeInfo) {
        const CODE_INFO& info = entry.second;
        RQ_DOWNLOAD_ITEM item;
        item.strShown = info.strPath + info.strFileName;
        // The script comes from the network: a path that could reach outside
        // the game folder is never compared, created or written.
        if (RQMakePatchPath(item.strShown, item.path) != RQPatchPathError::NONE) {
            RQ_LOG(kTag, RQ_LOG_ERR)
                .Trace(kTraceNum, L"LAUNCHER PATCH PATH REFUSED : %ls",
                       RQPrintablePath(item.strShown).c_str());
            continue;
        }
        item.check.ullFileSize = info.ullFileSize;
        item.check.dwCRC = info.dwCRC;
        if (NeedsDownload(item.path.strLocal, item.check)) {
            m_vecDownloadList.push_back(item);
        }
    }
    return m_vecDownloadList.empty() ? US_UPDATE_END : US_PATCHER_FILE_DOWNLOAD;
}

bool CRQLauncherThread::NeedsDownload(const std::wstring& strLocal, const RQBL_DOWNLOAD_CHECK& check) {
    std::error_code ec;
    fs::path p(strLocal);
    fs::file_status status = fs::status(p, ec);
    if (ec || !fs::exists(status)) {
        return true;
    }
    // Anything but a file (a folder of that name) cannot be the listed file.
    if (!fs::is_regular_file(status)) {
        return true;
    }
    uintmax_t ullSize = fs::file_size(p, ec);
    if (ec || ullSize != check.ullFileSize) {
        return true;  // the checksum is computed only when the size matches
    }
    uint32_t dwCrc = 0;
    CRQBLCrc32* pCrc = CRQBLCrc32::GetInstance();
    if (pCrc == nullptr) {
        return true;
    }
    pCrc->GetFileCrc(strLocal.c_str(), dwCrc);
    return dwCrc != check.dwCRC;
}

void CRQLauncherThread::DownloadFiles() {
    RQ_LOG(kTag, RQ_LOG_NTS).Trace(kTraceNum, L"LAUNCHER US_PATCHER_FILE_DOWNLOAD");
    uint64_t ullTotalBytes = QueryTotalBytes();
    // The bar's range so far was the script's size; from here on it is the
    // sum of the files to fetch, and the position counts over all of them.
    SendTotals(WM_RQ_PROGRESS_RANGE, 0, ullTotalBytes);
    uint64_t ullDoneBytes = 0;
    for (const RQ_DOWNLOAD_ITEM& item : m_vecDownloadList) {
        // A stop request (the window is closing) ends the pass here: going on
        // to begin every remaining file, each with up to ten tries a second
        // apart, would keep an invisible launcher alive for minutes when the
        // server is gone.
        if (StopRequested()) {
            break;
        }
        fs::path parent = fs::path(item.path.strLocal).parent_path();
        if (!parent.empty()) {
            std::error_code ec;
            fs::create_directories(parent, ec);  // a failure shows when the file is created
        }
        if (!BeginWithRetries(item)) {
            continue;
        }
        int32_t r = DOWNLOAD_CONTINUE;
        do {
            r = m_pHttp->Downloading();
            if (r != DOWNLOAD_CONTINUE && r != DOWNLOAD_SUCCEEDED) {
                m_nUpdateState = US_CLOSE;
                break;
            }
            SendTotals(WM_RQ_PROGRESS_POS, ullDoneBytes + m_pHttp->GetDownloadSize(), ullTotalBytes);
        } while (!StopRequested() && r != DOWNLOAD_SUCCEEDED);
        ullDoneBytes += m_pHttp->GetDownloadSize();
    }
    if (StopRequested()) {
        return;
    }
    m_vecDownloadList.clear();
    m_pLink->SendToMainWindow(WM_RQ_PROGRESS_FULL, 0, 0);
    m_nUpdateState = US_UPDATE_END;
}

uint64_t CRQLauncherThread::QueryTotalBytes() {
    uint64_t ullTotal = 0;
    size_t nAsked = 0;
    for (; nAsked < m_vecDownloadList.size() && !StopRequested(); ++nAsked) {
        const RQ_DOWNLOAD_ITEM& item = m_vecDownloadList[nAsked];
        uint64_t ullKiB = 0;
        if (m_pHttp->DownloadInfo(g_strCdnAddress.c_str(), item.path.strUrl.c_str())) {
            ullKiB = m_pHttp->GetFileSizeKB();
        }
        // The server's size only says KiB; the entry's exact size is used
        // where the two agree or the server names none.
        bool bUseEntry = ullKiB == 0 || ullKiB == (item.check.ullFileSize >> 10);
        ullTotal += bUseEntry ? item.check.ullFileSize : ullKiB << 10;
    }
    for (; nAsked < m_vecDownloadList.size(); ++nAsked) {
        ullTotal += m_vecDownloadList[nAsked].check.ullFileSize;
    }
    return ullTotal;
}

bool CRQLauncherThread::BeginWithRetries(const RQ_DOWNLOAD_ITEM& item) {
    const wchar_t* pszUrl = item.path.strUrl.c_str();
    const wchar_t* pszLocal = item.path.strLocal.c_str();
    int32_t r = m_pHttp->DownloadBegin(g_strCdnAddress.c_str(), pszUrl, kDestFolder, pszLocal, &item.check);
    for (uint32_t nFailed = 0; r != DOWNLOAD_SUCCEEDED;) {
        m_pLink->WaitMs(RETRY_PAUSE_MS);
        ++nFailed;
        if (StopRequested()) {
            return false;
        }
        if (r == DOWNLOAD_DISK_FULL) {
            FailAndClose(kTextDiskFull);
            return false;
        }
        if (nFailed >= BEGIN_TRIES) {
            FailAndClose(std::wstring(kTextUpdateFailed) + L" " + item.strShown);
            return false;
        }
        r = m_pHttp->DownloadBegin(g_strCdnAddress.c_str(), pszUrl, kDestFolder, pszLocal, &item.check);
    }
    return true;
}

void CRQLauncherThread::FailAndClose(const std::wstring& strText) {
    // The player reads the message before the window goes.
    m_pLink->ShowMessageBox(strText);
    m_pLink->SendToMainWindow(RQ_WM_CLOSE, 0, 0);
    m_nUpdateState = US_CLOSE;
}

void CRQLauncherThread::SendProgress(uint32_t nMessage) {
    m_pLink->SendToMainWindow(nMessage, m_pHttp->GetDownloadSize() >> 10, m_pHttp->GetFileSizeKB());
}

void CRQLauncherThread::SendTotals(uint32_t nMessage, uint64_t ullDoneBytes, uint64_t ullTotalBytes) {
    m_pLink->SendToMainWindow(nMessage, static_cast<uint64_t>(ClampKiB(ullDoneBytes >> 10)),
                              ClampKiB(ullTotalBytes >> 10));
}
