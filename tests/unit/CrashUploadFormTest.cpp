// The platform-free side of sending crash reports: the server address, what
// the crashed program hands on, the form's files, the server's answer and the
// queue of reports waiting for a later start.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "baselib/RQBLCrashReportInfo.h"
#include "crashupload/RQCrashQueuePlan.h"
#include "crashupload/RQCrashServerUrl.h"
#include "crashupload/RQCrashUploadForm.h"
#include "crashupload/RQHttpReply.h"

namespace {

struct UrlCase {
    const char* pszAddress;
    uint16_t nDefaultPort;
    const char* pszUrl;  // null: refused
};

const UrlCase kUrlCases[] = {
    // The launcher's address: the port in the URL wins over the port argument.
    {"http://report.tolvane.jp:8080/reception_jpn/Default.aspx", 80,
     "http://report.tolvane.jp:8080/reception_jpn/Default.aspx"},
    {"http://127.0.0.1/submit", 8081, "http://127.0.0.1:8081/submit"},
    {"HTTP://Host:1", 80, "http://Host:1/"},
    {"report.example:9000/in", 80, "http://report.example:9000/in"},
    {"http://[::1]:8080/x", 80, "http://[::1]:8080/x"},
    // Reports may hold personal data: a support server behind TLS is welcome.
    {"https://report.example/", 443, "https://report.example:443/"},
    {"ftp://report.example/", 80, nullptr},
    {"http://report.example:0/", 80, nullptr},
    {"http://report.example:65536/", 80, nullptr},
    {"http://report.example:/", 80, nullptr},
    {"http://user:pw@report.example/", 80, nullptr},
    {"http:///path", 80, nullptr},
    {"http://report.example/a b", 80, nullptr},
    {"http://report.example/a\r\nX: y", 80, nullptr},
};

TEST(CrashServerUrl, MakesTheUploadUrlOrRefusesTheAddress) {
    for (const UrlCase& c : kUrlCases) {
        std::string strUrl;
        ASSERT_EQ(RQCrashUploadUrl(c.pszAddress, c.nDefaultPort, strUrl), c.pszUrl != nullptr)
            << c.pszAddress;
        if (c.pszUrl != nullptr) {
            EXPECT_EQ(strUrl, c.pszUrl) << c.pszAddress;
        }
    }
}

TEST(CrashReportInfo, SurvivesTheTripThroughItsFileAndSkipsUnknownKeys) {
    CRQCrashReportInfo info;
    info.strProduct = "PXPatcher";
    info.strVersion = "ver 0.9a";
    info.strBuild = "RELEASE_JPN_555";
    info.strServerUrl = "http://127.0.0.1:8080/reception_jpn/Default.aspx";
    info.nServerPort = 80;
    info.strMessage1 = "An Error has been detected";
    info.strMessage2 = "送信\r\nしてください";  // a line break would start a new key
    info.bScreenCapture = true;

    CRQCrashReportInfo back;
    ASSERT_TRUE(ParseCrashReportInfo(FormatCrashReportInfo(info) + "added_later=1\r\n", back));
    EXPECT_EQ(back.strProduct, info.strProduct);
    EXPECT_EQ(back.strVersion, info.strVersion);
    EXPECT_EQ(back.strBuild, info.strBuild);
    EXPECT_EQ(back.strServerUrl, info.strServerUrl);
    EXPECT_EQ(back.nServerPort, 80);
    EXPECT_EQ(back.strMessage1, info.strMessage1);
    EXPECT_EQ(back.strMessage2, "送信  してください");
    EXPECT_TRUE(back.bScreenCapture);

    for (const char* pszBad : {"product\r\n", "port=0\r\n", "port=70000\r\n", "port=8o\r\n"}) {
        CRQCrashReportInfo bad;
        EXPECT_FALSE(ParseCrashReportInfo(pszBad, bad)) << pszBad;
    }
}

TEST(CrashUploadForm, SendsTheDumpFirstAndKeepsTheBookkeepingHome) {
    std::vector<CRQUploadPart> vecParts =
        PlanUploadParts({"stack.log", "report.ini", "consent.txt", "LAUNCHER_20260101_120000.log",
                         "screen.png", "report.txt", "sending.lock", "crash.dmp"});
    std::vector<std::string> vecSeen;
    for (const CRQUploadPart& part : vecParts) {
        vecSeen.push_back(part.strFileName + ">" + part.strField + ">" + part.strContentType);
    }
    EXPECT_EQ(vecSeen, (std::vector<std::string>{
                           "crash.dmp>upload_file_minidump>application/octet-stream",
                           "report.txt>report>text/plain; charset=utf-8",
                           "screen.png>screenshot>image/png",
                           "LAUNCHER_20260101_120000.log>log_1>application/octet-stream",
                           "stack.log>log_2>application/octet-stream",
                       }));
}

TEST(HttpReply, ReportIdIsShownOnlyWhenItIsPlainText) {
    const std::pair<const char*, const char*> kCases[] = {
        {"20260101-120000-1a2b3c4d\n", "20260101-120000-1a2b3c4d"},
        {"CrashID=bp-6fa3c0de\r\n", "bp-6fa3c0de"},
        {"  id-1  \nsecond line", "id-1"},
        {"", ""},
        {"two words", ""},
        {"\x1b[31mred", ""},
        {"\xe5\x8f\x97\xe4\xbb\x98", ""},
        {"0123456789012345678901234567890123456789012345678901234567890123456789", ""},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(ReportIdFromBody(c.first), c.second) << c.first;
    }
}

TEST(HttpReply, OnlyRefusalsAboutTheReportItselfAreFinal) {
    const std::pair<int, ERQUploadOutcome> kCases[] = {
        {200, ERQUploadOutcome::SENT},    {201, ERQUploadOutcome::SENT},    {400, ERQUploadOutcome::REFUSED},
        {413, ERQUploadOutcome::REFUSED}, {415, ERQUploadOutcome::REFUSED}, {404, ERQUploadOutcome::RETRY},
        {403, ERQUploadOutcome::RETRY},   {408, ERQUploadOutcome::RETRY},   {429, ERQUploadOutcome::RETRY},
        {500, ERQUploadOutcome::RETRY},   {503, ERQUploadOutcome::RETRY},   {301, ERQUploadOutcome::RETRY},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(ClassifyUploadStatus(c.first), c.second) << c.first;
    }
}

TEST(CrashQueuePlan, SendsOldestFirstDropsTheOldestBeyondTheLimitAndNeverTouchesTheUnconsented) {
    std::vector<CRQWaitingReport> vecReports = {
        {"CrashReport_20260103_090000_12", true}, {"CrashReport_20260101_090000_40", false},
        {"CrashReport_20260102_090000_7", true},  {"CrashReport_20251231_235959_99", true},
        {"CrashReport_20260104_090000_3", true},
    };
    CRQQueuePlan plan = PlanCrashQueue(vecReports, 3);
    EXPECT_EQ(plan.vecDrop, std::vector<std::string>{"CrashReport_20251231_235959_99"});
    EXPECT_EQ(plan.vecSend,
              (std::vector<std::string>{"CrashReport_20260102_090000_7", "CrashReport_20260103_090000_12",
                                        "CrashReport_20260104_090000_3"}));
    CRQQueuePlan none = PlanCrashQueue({{"CrashReport_20260101_090000_40", false}}, 3);
    EXPECT_TRUE(none.vecSend.empty());
    EXPECT_TRUE(none.vecDrop.empty());
}

}  // namespace
