// The receiver on loopback with curl as the client, and the launcher's own
// form read back by the receiver's parser.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "crashupload/RQCrashUploadForm.h"
#include "tools/crashreceiver/RQFormData.h"
#include "tools/crashreceiver/test/RQReceiverFixture.h"

namespace fs = std::filesystem;

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
