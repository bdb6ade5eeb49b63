// What the update worker's tests drive it with: a link that records the
// messages, boxes and pauses instead of showing them, a downloader that plays
// a script of results, and the worker with its tick exposed.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "baselib/RQBLDownloader.h"
#include "launcher/RQLauncherLink.h"
#include "launcher/RQLauncherThread.h"

namespace rqtest {

struct CLinkEvent {
    enum Kind { MESSAGE, BOX, WAIT } kind = MESSAGE;
    uint32_t nMessage = 0;
    uint64_t wParam = 0;
    int64_t lParam = 0;
    std::wstring strText;
    uint32_t dwMs = 0;
};

// Shared between the link (owned by the worker) and the test.
struct CLinkRecord {
    mutable std::mutex mutex;
    std::vector<CLinkEvent> vecEvents;
    std::function<void(const CLinkEvent&)> onEvent;  // runs on the worker's thread

    std::vector<CLinkEvent> Events() const {
        std::lock_guard<std::mutex> lock(mutex);
        return vecEvents;
    }
    std::vector<uint32_t> Messages() const {
        std::vector<uint32_t> v;
        for (const CLinkEvent& e : Events()) {
            if (e.kind == CLinkEvent::MESSAGE) {
                v.push_back(e.nMessage);
            }
        }
        return v;
    }
    // (wParam, lParam) of every message of that number.
    std::vector<std::pair<uint64_t, int64_t>> Params(uint32_t nMessage) const {
        std::vector<std::pair<uint64_t, int64_t>> v;
        for (const CLinkEvent& e : Events()) {
            if (e.kind == CLinkEvent::MESSAGE && e.nMessage == nMessage) {
                v.emplace_back(e.wParam, e.lParam);
            }
        }
        return v;
    }
    std::vector<std::wstring> Boxes() const {
        std::vector<std::wstring> v;
        for (const CLinkEvent& e : Events()) {
            if (e.kind == CLinkEvent::BOX) {
                v.push_back(e.strText);
            }
        }
        return v;
    }
    std::vector<uint32_t> Waits() const {
        std::vector<uint32_t> v;
        for (const CLinkEvent& e : Events()) {
            if (e.kind == CLinkEvent::WAIT) {
                v.push_back(e.dwMs);
            }
        }
        return v;
    }
};

class CRecordingLink : public CRQLauncherLink {
public:
    explicit CRecordingLink(std::shared_ptr<CLinkRecord> pRecord) : m_pRecord(std::move(pRecord)) {}
    void SendToMainWindow(uint32_t nMessage, uint64_t wParam, int64_t lParam) override {
        CLinkEvent e;
        e.kind = CLinkEvent::MESSAGE;
        e.nMessage = nMessage;
        e.wParam = wParam;
        e.lParam = lParam;
        Add(e);
    }
    void ShowMessageBox(const std::wstring& strText) override {
        CLinkEvent e;
        e.kind = CLinkEvent::BOX;
        e.strText = strText;
        Add(e);
    }
    void WaitMs(uint32_t dwMilliseconds) override {
        CLinkEvent e;
        e.kind = CLinkEvent::WAIT;
        e.dwMs = dwMilliseconds;
        Add(e);
    }

private:
    void Add(const CLinkEvent& e) {
        {
            std::lock_guard<std::mutex> lock(m_pRecord->mutex);
            m_pRecord->vecEvents.push_back(e);
        }
        if (m_pRecord->onEvent) {
            m_pRecord->onEvent(e);
        }
    }
    std::shared_ptr<CLinkRecord> m_pRecord;
};

// One remote file as the scripted downloader plays it.
struct CScriptedFile {
    std::string strBody;
    // Results of the successive DownloadBegin calls; 1 once the list is used up.
    std::vector<int32_t> vecBeginResults;
    int nFailAtStep = -1;  // the Downloading call (from 0) that fails
    int32_t nFailResult = DOWNLOAD_READ_FAILED;
    bool bInfoFails = false;
    bool bNoContentLength = false;
};

struct CDownloaderCall {
    CDownloaderCall(std::wstring what, std::wstring url = std::wstring(), std::wstring dest = std::wstring())
        : strWhat(std::move(what)), strUrl(std::move(url)), strDest(std::move(dest)) {}
    std::wstring strWhat;  // "Open", "Close", "Info", "Begin", "Downloading"
    std::wstring strUrl;
    std::wstring strDest;
    bool bHasCheck = false;
    RQBL_DOWNLOAD_CHECK check;
};

struct CDownloaderScript {
    std::mutex mutex;
    std::map<std::wstring, CScriptedFile> mapFiles;  // by whole URL
    std::vector<CDownloaderCall> vecCalls;
    std::function<void(const CDownloaderCall&)> onCall;

    std::vector<std::wstring> Calls(const std::wstring& strWhat) {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::wstring> v;
        for (const CDownloaderCall& c : vecCalls) {
            if (c.strWhat == strWhat) {
                v.push_back(strWhat == L"Begin" ? c.strUrl + L" -> " + c.strDest : c.strUrl);
            }
        }
        return v;
    }
};

// Plays CScriptedFile bodies in blocks of 102400 bytes; a finished transfer
// writes the body to its destination, as the real downloader's commit does.
class CScriptedDownloader : public CRQBLDownloader {
public:
    explicit CScriptedDownloader(std::shared_ptr<CDownloaderScript> pScript)
        : m_pScript(std::move(pScript)) {}

    bool Open() override {
        Record(CDownloaderCall(L"Open"));
        return true;
    }
    void Close() override { Record(CDownloaderCall(L"Close")); }
    void Reset() override {
        m_pCurrent = nullptr;
        m_dwFileSizeKB = 0;
        m_dwDownloadSize = 0;
    }
    bool DownloadInfo(const wchar_t* pSrcPath, const wchar_t* pFileName) override {
        Reset();
        std::wstring strUrl = std::wstring(pSrcPath) + pFileName;
        Record(CDownloaderCall(L"Info", strUrl));
        CScriptedFile* pFile = Find(strUrl);
        if (pFile == nullptr || pFile->bInfoFails) {
            return false;
        }
        m_dwFileSizeKB = pFile->bNoContentLength ? 0 : static_cast<uint32_t>(pFile->strBody.size() >> 10);
        return true;
    }
    int32_t DownloadBegin(const wchar_t* pSrcPath, const wchar_t* pFileName, const wchar_t* pDestPath,
                          const wchar_t* pDestFileName,
                          const RQBL_DOWNLOAD_CHECK* pCheck = nullptr) override {
        Reset();
        CDownloaderCall call(L"Begin", std::wstring(pSrcPath) + pFileName,
                             std::wstring(pDestPath) + pDestFileName);
        if (pCheck != nullptr) {
            call.bHasCheck = true;
            call.check = *pCheck;
        }
        Record(call);
        CScriptedFile* pFile = Find(call.strUrl);
        if (pFile == nullptr) {
            return DOWNLOAD_NOT_FOUND;
        }
        int32_t r = DOWNLOAD_SUCCEEDED;
        if (!pFile->vecBeginResults.empty()) {
            r = pFile->vecBeginResults.front();
            pFile->vecBeginResults.erase(pFile->vecBeginResults.begin());
        }
        if (r != DOWNLOAD_SUCCEEDED) {
            return r;
        }
        m_pCurrent = pFile;
        m_strDest = call.strDest;
        m_nStep = 0;
        m_nPos = 0;
        m_dwFileSizeKB = pFile->bNoContentLength ? 0 : static_cast<uint32_t>(pFile->strBody.size() >> 10);
        return DOWNLOAD_SUCCEEDED;
    }
    int32_t Downloading() override {
        Record(CDownloaderCall(L"Downloading"));
        if (m_pCurrent == nullptr) {
            return DOWNLOAD_QUERY_FAILED;
        }
        if (m_nStep++ == m_pCurrent->nFailAtStep) {
            int32_t r = m_pCurrent->nFailResult;
            m_pCurrent = nullptr;
            return r;
        }
        if (m_nPos == m_pCurrent->strBody.size()) {
            std::ofstream out(std::filesystem::path(m_strDest), std::ios::binary | std::ios::trunc);
            out.write(m_pCurrent->strBody.data(), static_cast<std::streamsize>(m_pCurrent->strBody.size()));
            m_pCurrent = nullptr;
            return out ? DOWNLOAD_SUCCEEDED : DOWNLOAD_WRITE_FAILED;
        }
        size_t n = std::min<size_t>(102400, m_pCurrent->strBody.size() - m_nPos);
        m_nPos += n;
        m_dwDownloadSize += static_cast<uint32_t>(n);
        return DOWNLOAD_CONTINUE;
    }
    bool DownloadText(const wchar_t*, std::wstring&) override { return false; }
    uint32_t GetFileSizeKB() const override { return m_dwFileSizeKB; }
    uint32_t GetDownloadSize() const override { return m_dwDownloadSize; }

private:
    CScriptedFile* Find(const std::wstring& strUrl) {
        std::lock_guard<std::mutex> lock(m_pScript->mutex);
        auto it = m_pScript->mapFiles.find(strUrl);
        return it == m_pScript->mapFiles.end() ? nullptr : &it->second;
    }
    void Record(const CDownloaderCall& call) {
        {
            std::lock_guard<std::mutex> lock(m_pScript->mutex);
            m_pScript->vecCalls.push_back(call);
        }
        if (m_pScript->onCall) {
            m_pScript->onCall(call);
        }
    }

    std::shared_ptr<CDownloaderScript> m_pScript;
    CScriptedFile* m_pCurrent = nullptr;
    std::wstring m_strDest;
    int m_nStep = 0;
    size_t m_nPos = 0;
    uint32_t m_dwFileSizeKB = 0;
    uint32_t m_dwDownloadSize = 0;
};

// The worker with its tick and its stop flag within the test's reach.
class CTestWorker : public CRQLauncherThread {
public:
    using CRQLauncherThread::CRQLauncherThread;
    void Tick() { ThreadLoop(0.0f); }
    void RequestStop() { m_nStopRequested = 1; }
    bool IsStopRequested() const { return m_nStopRequested.load() != 0; }
};

}  // namespace rqtest
