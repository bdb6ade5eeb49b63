// A receiver on a free loopback port, serving on its own thread, in a
// temporary working folder that holds the files curl sends; its log lines are
// kept for the test to read.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/unit/RQTestTempDir.h"
#include "tools/crashreceiver/RQReceiver.h"
#include "tools/crashreceiver/RQReportStore.h"
#include "tools/crashreceiver/RQServerOptions.h"
#include "tools/crashreceiver/RQStoreQuota.h"
#include "tools/crashreceiver/posix/RQReceiverServer.h"

constexpr size_t kTestMaxBytes = 64 * 1024;
const std::string kDump = std::string("MDMP\x93\xa7", 6) + std::string(2000, '\0') + "dump";
const std::string kLog = std::string("\x01\x02 enciphered log\r\n--RQCrashReport-0\r\n", 36);

struct CurlResult {
    int nStatus = 0;
    std::string strBody;
};

inline std::string Slurp(const std::filesystem::path& path) {
    std::vector<char> v = RQTestTempDir::ReadAll(path);
    return std::string(v.begin(), v.end());
}

inline CRQReceiverLimits TestLimits(size_t nPerMinute) {
    CRQReceiverLimits limits;
    limits.nMaxBodyBytes = kTestMaxBytes;
    limits.nReportsPerMinute = nPerMinute;
    return limits;
}

// No cap and no floor: the tests that are not about the disk do not depend on
// how full the machine's is.
inline CRQStoreLimits UnlimitedStore() {
    return CRQStoreLimits{~uint64_t{0} >> 1, 0};
}

class ReceiverTest : public ::testing::Test {
protected:
    void Start(const CRQReceiverLimits& limits, const CRQStoreLimits& storeLimits = UnlimitedStore(),
               const CRQServerOptions& options = CRQServerOptions()) {
        RQTestTempDir::WriteAll("crash.dmp", kDump);
        RQTestTempDir::WriteAll("LAUNCHER_20260101_120000.log", kLog);
        RQTestTempDir::WriteAll("big.dmp", "MDMP" + std::string(kTestMaxBytes, 'x'));
        m_pStore = std::make_unique<CRQReportStore>(m_temp.Path() / "store", storeLimits);
        std::string strError;
        ASSERT_TRUE(m_pStore->Open(strError)) << strError;
        m_pReceiver = std::make_unique<CRQReceiver>(*m_pStore, limits);
        m_pServer =
            std::make_unique<CRQReceiverServer>(*m_pReceiver, options, [this](const std::string& strLine) {
                std::lock_guard<std::mutex> lock(m_csLog);
                m_vecLog.push_back(strLine);
            });
        ASSERT_TRUE(m_pServer->Listen("127.0.0.1", 0, strError)) << strError;
        m_serving = std::thread(&CRQReceiverServer::Run, m_pServer.get());
    }
    void TearDown() override {
        if (m_serving.joinable()) {
            m_pServer->Stop();
            m_serving.join();
        }
    }

    // curl's own arguments go first; it sends to the receiver unless strUrl names another
    // address, and gives up after a minute, so that a test stops by itself whatever happens.
    CurlResult Curl(const std::string& strArgs, const std::string& strUrl = std::string()) {
        std::string strCommand = "curl -s --max-time 60 -o answer.txt -w '%{http_code}' " + strArgs + " " +
                                 (strUrl.empty() ? Url() : strUrl);
        CurlResult result;
        FILE* pPipe = popen(strCommand.c_str(), "r");
        if (pPipe == nullptr) {
            return result;
        }
        char szCode[16] = {};
        if (std::fgets(szCode, sizeof(szCode), pPipe) != nullptr) {
            result.nStatus = std::atoi(szCode);
        }
        pclose(pPipe);
        result.strBody = Slurp("answer.txt");
        return result;
    }
    std::string Url() const {
        return "http://127.0.0.1:" + std::to_string(m_pServer->Port()) + "/reception_jpn/Default.aspx";
    }

    // Every entry of the store folder, the hidden ones of unfinished writes too.
    std::vector<std::string> StoredReports() const {
        std::vector<std::string> vecIds;
        for (const std::filesystem::directory_entry& entry :
             std::filesystem::directory_iterator(m_temp.Path() / "store")) {
            vecIds.push_back(entry.path().filename().string());
        }
        return vecIds;
    }

    std::vector<std::string> LogLines() {
        std::lock_guard<std::mutex> lock(m_csLog);
        return m_vecLog;
    }

    RQTestTempDir m_temp;
    std::unique_ptr<CRQReportStore> m_pStore;
    std::unique_ptr<CRQReceiver> m_pReceiver;
    std::unique_ptr<CRQReceiverServer> m_pServer;
    std::thread m_serving;
    std::mutex m_csLog;
    std::vector<std::string> m_vecLog;
};
