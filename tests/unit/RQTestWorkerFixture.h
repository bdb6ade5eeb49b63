// The update worker's test fixture: the worker driven tick by tick against a
// server in memory, with a link that records what the window and the player
// would see, in a fresh folder for each test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "RQTestLogCapture.h"
#include "RQTestPatchScript.h"
#include "RQTestTempDir.h"
#include "RQTestTransport.h"
#include "RQTestWorkerKit.h"
#include "baselib/RQBLPlatform.h"
#include "baselib/RQBLSha256.h"
#include "baselib/RQBLStreamCrc.h"
#include "baselib/RQBLUtf8.h"
#include "launcher/check/RQVerifyRecord.h"
#include "launcher/transfer/RQResumeRecord.h"
#include "launcher/update/RQDownloadResult.h"
#include "patch/RQReservedNames.h"

namespace rqtest {

namespace fs = std::filesystem;
using Worker = CTestWorker;

inline const std::wstring kCdn = L"http://cdn.test/LIVE/";
inline const std::wstring kTag = L"CRQLauncherThread::ThreadLoop";
inline const std::wstring kNotFound = L"アップデートファイルが見つかりませんでした。 PATCHER_CODE.LUA";
inline const std::wstring kDiskFull = L"ハードディスクの容量が不足しています。";
inline const std::wstring kUpdateFailed = L"アップデート失敗。再度お試しください。 ";

using Entry = rqtest::CPatchEntry;

inline std::string MakeScript(const std::vector<Entry>& entries) {
    return rqtest::MakePatchScript(entries);
}

inline std::string Body(size_t n, char c) {
    std::string s(n, c);
    for (size_t i = 0; i < n; i += 7) {
        s[i] = static_cast<char>(i * 31);
    }
    return s;
}

inline std::wstring Wide(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

class CWorkerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        m_pRecord = std::make_shared<rqtest::CLinkRecord>();
        m_pServer = std::make_shared<rqtest::CFakeServer>();
        m_settings = RQ_UPDATE_SETTINGS();
        m_settings.strCdnAddress = kCdn;
        m_settings.dwRetryPauseMs = 1;
        m_settings.dwStallSeconds = 2;
        m_settings.dwBusyPatienceMs = 300;
    }
    void Restart() {
        m_pWorker.reset();
        SetUp();
        m_log.Clear();
    }
    void TearDown() override { m_pWorker.reset(); }

    // Serves the script listing the entries and each entry's body.
    void ServeUpdate(const std::vector<Entry>& entries) {
        ServeScript(MakeScript(entries));
        for (const Entry& e : entries) {
            Serve(Wide(e.strPath + e.strName), e.strBody);
        }
    }
    rqtest::CFakeFile& ServeScript(const std::string& strLua) { return Serve(L"PATCHER_CODE.LUA", strLua); }
    rqtest::CFakeFile& Serve(const std::wstring& strUrlPath, const std::string& strBody) {
        return m_pServer->Put(kCdn + strUrlPath, strBody);
    }
    static void PutLocal(const std::string& strRel, const std::string& strData) {
        RQTestTempDir::WriteAll(fs::path(strRel), strData);
    }
    static std::string Local(const std::string& strRel) {
        std::vector<char> v = RQTestTempDir::ReadAll(fs::path(strRel));
        return std::string(v.begin(), v.end());
    }

    Worker& MakeWorker() {
        m_pWorker = std::make_unique<Worker>(m_settings, rqtest::FakeTransports(m_pServer),
                                             std::make_unique<rqtest::CRecordingLink>(m_pRecord), m_log);
        return *m_pWorker;
    }
    // Ticks until the US_CLOSE tick has run; returns the states the ticks
    // started in, repetitions folded.
    std::vector<int32_t> Run(int nMaxTicks = 2000) {
        if (!m_pWorker) {
            MakeWorker();
        }
        std::vector<int32_t> states;
        for (int i = 0; i < nMaxTicks; ++i) {
            int32_t n = m_pWorker->GetUpdateState();
            if (states.empty() || states.back() != n) {
                states.push_back(n);
            }
            m_pWorker->Tick();
            if (n == Worker::US_CLOSE) {
                break;
            }
        }
        return states;
    }
    // The URL paths requested, in order.
    std::vector<std::wstring> Requests() {
        std::vector<std::wstring> v;
        for (const std::wstring& strUrl : m_pServer->Urls()) {
            v.push_back(strUrl.substr(kCdn.size()));
        }
        return v;
    }
    std::vector<uint32_t> Messages() const { return m_pRecord->Messages(); }

    RQTestTempDir m_dir;
    RQTestLogCapture m_log;
    RQ_UPDATE_SETTINGS m_settings;
    std::shared_ptr<rqtest::CLinkRecord> m_pRecord;
    std::shared_ptr<rqtest::CFakeServer> m_pServer;
    std::unique_ptr<Worker> m_pWorker;
};

// The worker's summary of the comparison, without its time.
inline std::wstring CheckLine(const std::vector<std::wstring>& vecTexts) {
    for (const std::wstring& strText : vecTexts) {
        if (strText.find(L"LAUNCHER CHECK : ") != std::wstring::npos) {
            return strText.substr(0, strText.find(L" MiB)") + 5);
        }
    }
    return L"";
}

// The log lines with the comparison's time cut off.
inline std::vector<std::wstring> Untimed(std::vector<std::wstring> vecTexts) {
    for (std::wstring& strText : vecTexts) {
        if (strText.find(L"LAUNCHER CHECK : ") != std::wstring::npos) {
            strText = CheckLine({strText});
        }
    }
    return vecTexts;
}

inline bool Has(const std::vector<std::wstring>& vecTexts, const std::wstring& strText) {
    return std::find(vecTexts.begin(), vecTexts.end(), strText) != vecTexts.end();
}

inline const std::vector<int32_t> kFullPath = {Worker::US_START_UP, Worker::US_PATCHER_CRC_DOWNLOAD,
                                               Worker::US_PATCHER_FILE_DOWNLOAD, Worker::US_UPDATE_END,
                                               Worker::US_CLOSE};

}  // namespace rqtest
