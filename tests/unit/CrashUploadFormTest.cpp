// The platform-free side of sending crash reports: the server address, what
// the crashed program hands on, the form's files, the server's answer and the
// queue of reports waiting for a later start.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crashupload/RQCrashQueuePlan.h"
#include "crashupload/RQCrashReportInfo.h"
#include "crashupload/RQCrashServerUrl.h"
#include "crashupload/RQCrashUploadForm.h"
#include "crashupload/RQHttpReply.h"

namespace {

struct UrlCase {
    const char* pszUrl;
    uint16_t nDefaultPort;
    bool bValid;
    const char* pszHost;
    uint16_t nPort;
    const char* pszPath;
};

const UrlCase kUrlCases[] = {
    // The launcher's address: the port in the URL wins over the port argument.
    {"http://report.tolvane.jp:8080/reception_jpn/Default.aspx", 80, true, "report.tolvane.jp", 8080,
     "/reception_jpn/Default.aspx"},
    {"http://127.0.0.1/submit", 8081, true, "127.0.0.1", 8081, "/submit"},
    {"HTTP://Host:1", 80, true, "Host", 1, "/"},
    {"report.example:9000/in", 80, true, "report.example", 9000, "/in"},
    {"http://[::1]:8080/x", 80, true, "::1", 8080, "/x"},
    {"https://report.example/", 80, false, "", 0, ""},
    {"http://report.example:0/", 80, false, "", 0, ""},
    {"http://report.example:65536/", 80, false, "", 0, ""},
    {"http://report.example:/", 80, false, "", 0, ""},
    {"http://user:pw@report.example/", 80, false, "", 0, ""},
    {"http:///path", 80, false, "", 0, ""},
    {"http://report.example/a b", 80, false, "", 0, ""},
    {"http://report.example/a\r\nX: y", 80, false, "", 0, ""},
};

TEST(CrashServerUrl, SplitsTheAddressOrRefusesIt) {
    for (const UrlCase& c : kUrlCases) {
        CRQCrashServer server;
        ASSERT_EQ(ParseCrashServerUrl(c.pszUrl, c.nDefaultPort, server), c.bValid) << c.pszUrl;
        if (c.bValid) {
            EXPECT_EQ(server.strHost, c.pszHost) << c.pszUrl;
            EXPECT_EQ(server.nPort, c.nPort) << c.pszUrl;
            EXPECT_EQ(server.strPath, c.pszPath) << c.pszUrl;
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

struct ReplyCase {
    const char* pszName;
    std::string strRaw;
    bool bValid;
    int nStatus;
    const char* pszBody;
};

TEST(HttpReply, ReadsSizedChunkedAndOpenEndedBodies) {
    const ReplyCase kCases[] = {
        {"sized", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nabcdeEXTRA", true, 200, "abcde"},
        {"chunked",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3;x=y\r\nabc\r\n2\r\nde\r\n0\r\n\r\n", true,
         200, "abcde"},
        {"to_the_end", "HTTP/1.0 413 Too Large\r\nServer: x\r\n\r\ntoo big\n", true, 413, "too big\n"},
        {"short", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabc", false, 0, ""},
        {"short_chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n9\r\nabc", false, 0, ""},
        {"bad_chunk_size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", false, 0, ""},
        {"no_head_end", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n", false, 0, ""},
        {"not_http", "SSH-2.0-OpenSSH\r\n\r\n", false, 0, ""},
        {"bad_status", "HTTP/1.1 2x0 OK\r\n\r\n", false, 0, ""},
    };
    for (const ReplyCase& c : kCases) {
        CRQHttpReply reply;
        ASSERT_EQ(ParseHttpReply(c.strRaw, reply), c.bValid) << c.pszName;
        if (c.bValid) {
            EXPECT_EQ(reply.nStatus, c.nStatus) << c.pszName;
            EXPECT_EQ(reply.strBody, c.pszBody) << c.pszName;
        }
    }
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
