// The receiver on loopback with curl as the client, and the launcher's own
// form read back by the receiver's parser.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "crashupload/RQCrashUploadForm.h"
#include "tests/unit/RQTestTempDir.h"
#include "tools/crashreceiver/RQFormData.h"
#include "tools/crashreceiver/RQReceiver.h"
#include "tools/crashreceiver/RQReportStore.h"
#include "tools/crashreceiver/posix/RQReceiverServer.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kTestMaxBytes = 64 * 1024;
const std::string kDump = std::string("MDMP\x93\xa7", 6) + std::string(2000, '\0') + "dump";
const std::string kLog = std::string("\x01\x02 enciphered log\r\n--RQCrashReport-0\r\n", 36);

struct CurlResult {
    int nStatus = 0;
    std::string strBody;
};

std::string Slurp(const fs::path& path) {
    std::vector<char> v = RQTestTempDir::ReadAll(path);
    return std::string(v.begin(), v.end());
}

// A receiver on a free loopback port, serving on its own thread, in a
// temporary working folder that holds the files curl sends.
class ReceiverTest : public ::testing::Test {
protected:
    void Start(const CRQReceiverLimits& limits) {
        RQTestTempDir::WriteAll("crash.dmp", kDump);
        RQTestTempDir::WriteAll("LAUNCHER_20260101_120000.log", kLog);
        RQTestTempDir::WriteAll("big.dmp", "MDMP" + std::string(kTestMaxBytes, 'x'));
        m_pStore = std::make_unique<CRQReportStore>(m_temp.Path() / "store");
        std::string strError;
        ASSERT_TRUE(m_pStore->Open(strError)) << strError;
        m_pReceiver = std::make_unique<CRQReceiver>(*m_pStore, limits);
        m_pServer = std::make_unique<CRQReceiverServer>(*m_pReceiver);
        ASSERT_TRUE(m_pServer->Listen("127.0.0.1", 0, strError)) << strError;
        m_serving = std::thread(&CRQReceiverServer::Run, m_pServer.get());
    }
    void TearDown() override {
        if (m_serving.joinable()) {
            m_pServer->Stop();
            m_serving.join();
        }
    }

    CurlResult Curl(const std::string& strArgs) {
        std::string strCommand = "curl -s -o answer.txt -w '%{http_code}' " + strArgs +
                                 " http://127.0.0.1:" + std::to_string(m_pServer->Port()) +
                                 "/reception_jpn/Default.aspx";
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

    std::vector<std::string> StoredReports() const {
        std::vector<std::string> vecIds;
        for (const fs::directory_entry& entry : fs::directory_iterator(m_temp.Path() / "store")) {
            vecIds.push_back(entry.path().filename().string());
        }
        return vecIds;
    }

    RQTestTempDir m_temp;
    std::unique_ptr<CRQReportStore> m_pStore;
    std::unique_ptr<CRQReceiver> m_pReceiver;
    std::unique_ptr<CRQReceiverServer> m_pServer;
    std::thread m_serving;
};

CRQReceiverLimits TestLimits(size_t nPerMinute) {
    CRQReceiverLimits limits;
    limits.nMaxBodyBytes = kTestMaxBytes;
    limits.nReportsPerMinute = nPerMinute;
    return limits;
}

}  // namespace

TEST_F(ReceiverTest, StoresAReportUnderItsAnsweredIdWithNamesOfItsOwn) {
    Start(TestLimits(10));
    CurlResult result = Curl(
        "-F upload_file_minidump=@crash.dmp -F prod=PXPatcher -F 'ver=ver 0.9a' "
        "-F 'log_1=@LAUNCHER_20260101_120000.log;type=application/octet-stream'");
    ASSERT_EQ(result.nStatus, 200) << result.strBody;
    std::string strId = result.strBody.substr(0, result.strBody.find('\n'));
    ASSERT_EQ(StoredReports(), std::vector<std::string>{strId});

    fs::path report = m_temp.Path() / "store" / strId;
    EXPECT_EQ(Slurp(report / "upload_file_minidump.dmp"), kDump);
    EXPECT_EQ(Slurp(report / "file-4.log"), kLog);
    std::string strIndex = Slurp(report / "index.txt");
    EXPECT_NE(strIndex.find("id: " + strId + "\n"), std::string::npos) << strIndex;
    EXPECT_NE(strIndex.find("client: 127.0.0.1\n"), std::string::npos) << strIndex;
    EXPECT_NE(strIndex.find("field prod: PXPatcher\n"), std::string::npos) << strIndex;
    EXPECT_NE(strIndex.find("field ver: ver 0.9a\n"), std::string::npos) << strIndex;
    EXPECT_NE(
        strIndex.find("file file-4.log: field \"log_1\", name \"LAUNCHER_20260101_120000.log\", 36 bytes\n"),
        std::string::npos)
        << strIndex;
}

struct Refusal {
    const char* pszName;
    const char* pszCurlArgs;
    int nStatus;
};

const Refusal kRefusals[] = {
    {"oversize", "-F upload_file_minidump=@big.dmp", 413},
    {"parent_path",
     "-F upload_file_minidump=@crash.dmp -F 'log_1=@LAUNCHER_20260101_120000.log;filename=../../escape.log'",
     400},
    {"windows_path",
     "-F upload_file_minidump=@crash.dmp -F "
     "'log_1=@LAUNCHER_20260101_120000.log;filename=..\\..\\escape.log'",
     400},
    {"absolute_path", "-F 'upload_file_minidump=@crash.dmp;filename=/tmp/escape.dmp'", 400},
    {"drive", "-F 'upload_file_minidump=@crash.dmp;filename=C:escape.dmp'", 400},
    {"dots", "-F 'upload_file_minidump=@crash.dmp;filename=..'", 400},
    {"no_minidump", "-F log_1=@LAUNCHER_20260101_120000.log", 400},
    {"not_a_minidump", "-F upload_file_minidump=@LAUNCHER_20260101_120000.log", 400},
    {"two_minidumps", "-F upload_file_minidump=@crash.dmp -F upload_file_minidump=@crash.dmp", 400},
    {"not_form_data", "--data-binary @crash.dmp -H 'Content-Type: application/octet-stream'", 415},
    {"chunked", "-H 'Transfer-Encoding: chunked' -F upload_file_minidump=@crash.dmp", 411},
    {"get", "-X GET", 405},
};

TEST_F(ReceiverTest, RefusesOversizeHostileAndMalformedUploadsAndStoresNothing) {
    Start(TestLimits(100));
    for (const Refusal& refusal : kRefusals) {
        CurlResult result = Curl(refusal.pszCurlArgs);
        EXPECT_EQ(result.nStatus, refusal.nStatus) << refusal.pszName << ": " << result.strBody;
    }
    EXPECT_TRUE(StoredReports().empty());
    for (const char* pszEscape : {"escape.log", "../escape.log", "../../escape.log", "store/escape.log"}) {
        EXPECT_FALSE(fs::exists(m_temp.Path() / pszEscape)) << pszEscape;
    }
}

TEST_F(ReceiverTest, RefusesAnAddressThatSendsTooOften) {
    Start(TestLimits(2));
    const char* pszUpload = "-F upload_file_minidump=@crash.dmp";
    EXPECT_EQ(Curl(pszUpload).nStatus, 200);
    EXPECT_EQ(Curl(pszUpload).nStatus, 200);
    CurlResult third = Curl(pszUpload);
    EXPECT_EQ(third.nStatus, 429) << third.strBody;
    EXPECT_EQ(StoredReports().size(), 2u);
}

// The launcher's form, read back by the receiver: every byte of every part
// arrives, also when a part holds the first boundary the form would choose.
TEST(ReceiverFormData, ReadsTheLaunchersFormBackExactly) {
    CRQCrashReportInfo info;
    info.strProduct = "PXPatcher";
    info.strVersion = "ver 0.9a";
    info.strBuild = "RELEASE_JPN_555";
    std::vector<CRQUploadFile> vecFiles = {
        {{"crash.dmp", "upload_file_minidump", "application/octet-stream"}, kDump},
        {{"LAUNCHER_20260101_120000.log", "log_1", "application/octet-stream"}, kLog},
        {{"empty.log", "log_2", "application/octet-stream"}, ""},
        {{"quote\".log", "log_3", "application/octet-stream"}, "\r\n\r\n--\r\n"},
    };
    CRQMultipartBody body;
    ComposeCrashUpload(info, vecFiles, body);

    std::string strBoundary;
    ASSERT_TRUE(BoundaryFromContentType(body.ContentType(), strBoundary));
    std::vector<CRQFormPart> vecParts;
    std::string strError;
    ASSERT_TRUE(ParseFormData(body.Body(), strBoundary, 64, vecParts, strError)) << strError;
    ASSERT_EQ(vecParts.size(), 7u);
    EXPECT_EQ(vecParts[0].strName, "prod");
    EXPECT_EQ(vecParts[0].strData, "PXPatcher");
    EXPECT_FALSE(vecParts[0].bFile);
    EXPECT_EQ(vecParts[1].strData, "ver 0.9a");
    EXPECT_EQ(vecParts[2].strData, "RELEASE_JPN_555");
    for (size_t i = 0; i < vecFiles.size(); ++i) {
        const CRQFormPart& part = vecParts[i + 3];
        EXPECT_TRUE(part.bFile);
        EXPECT_EQ(part.strName, vecFiles[i].part.strField);
        EXPECT_EQ(part.strData, vecFiles[i].strBytes) << part.strName;
    }
    EXPECT_EQ(vecParts[6].strFileName, "quote%22.log");
}
