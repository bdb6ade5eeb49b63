// Slow, greedy and hostile clients against the real receiver on loopback.
// The limits are short so that a cut comes after a second or so; the upper
// bounds leave a wide margin for a busy machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "crashupload/RQMultipartBody.h"
#include "tools/crashreceiver/test/RQRawClient.h"
#include "tools/crashreceiver/test/RQReceiverFixture.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

struct Trickled {
    const char* pszName;
    std::string strAtOnce;
    std::string strTrickled;  // a byte every 100 ms: 50 s for all of it
    const char* pszLogged;
};

}  // namespace

TEST_F(ReceiverTest, CutsATrickledHeadOrBodyAtItsDeadline) {
    CRQServerOptions options;
    options.headLimit = 1s;
    options.nBodyMinBytesPerSecond = 1000;
    options.uploadLimit = 60s;
    Start(TestLimits(100), UnlimitedStore(), options);
    const Trickled kCases[] = {
        {"head", "", "POST /r HTTP/1.1\r\nX-Slow: " + std::string(500, 'a'), "(--head-seconds)"},
        {"body",
         "POST /r HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=b\r\nContent-Length: 9000\r\n\r\n",
         "--b\r\n" + std::string(500, 'a'), "(--body-min-rate)"},
    };
    for (const Trickled& c : kCases) {
        // Taken before connecting: the receiver's clock starts later, so no cut can seem early.
        Clock::time_point tStart = Clock::now();
        RQRawClient client("127.0.0.1", m_pServer->Port());
        ASSERT_TRUE(client.Connected());
        client.Send(c.strAtOnce);
        std::string strAnswer = client.Trickle(c.strTrickled, 100ms, 30s);
        Clock::duration elapsed = Clock::now() - tStart;
        EXPECT_EQ(strAnswer.rfind("HTTP/1.1 408 ", 0), 0u) << c.pszName << ": " << strAnswer;
        EXPECT_GE(elapsed, 1s) << c.pszName;
        EXPECT_LT(elapsed, 20s) << c.pszName;
        EXPECT_NE(LogLines().back().find(c.pszLogged), std::string::npos) << LogLines().back();
    }
}

TEST_F(ReceiverTest, ManyConnectionsFromOneAddressDoNotKeepAnotherOut) {
    CRQServerOptions options;
    options.nMaxConnections = 6;
    options.nMaxPerAddress = 2;
    options.headLimit = 60s;  // the greedy connections that are let in stay for the whole test
    Start(TestLimits(100), UnlimitedStore(), options);
    std::vector<std::unique_ptr<RQRawClient>> vecGreedy;
    for (int i = 0; i < 8; ++i) {
        vecGreedy.push_back(std::make_unique<RQRawClient>("127.0.0.2", m_pServer->Port()));
        ASSERT_TRUE(vecGreedy.back()->Connected());
    }
    // Accepted in the order they connected: the first two are let in, the
    // rest refused at once, long before any deadline of theirs.
    for (size_t i = 2; i < vecGreedy.size(); ++i) {
        std::string strAnswer = vecGreedy[i]->ReadAnswer(10s);
        EXPECT_EQ(strAnswer.rfind("HTTP/1.1 429 ", 0), 0u) << i << ": " << strAnswer;
        EXPECT_NE(strAnswer.find("\r\nRetry-After: "), std::string::npos) << strAnswer;
    }
    CurlResult other = Curl("--interface 127.0.0.3 -F upload_file_minidump=@crash.dmp");
    EXPECT_EQ(other.nStatus, 200) << other.strBody;
    EXPECT_FALSE(vecGreedy[0]->Answered());
    EXPECT_FALSE(vecGreedy[1]->Answered());
}

namespace {

struct Hostile {
    const char* pszName;
    std::string strRequest;
    const char* pszLogged;
};

std::string Upload(const CRQMultipartBody& form) {
    return "POST /r HTTP/1.1\r\nContent-Type: " + form.ContentType() +
           "\r\nContent-Length: " + std::to_string(form.Body().size()) + "\r\n\r\n" + form.Body();
}

}  // namespace

TEST_F(ReceiverTest, LogsWhatAClientSentEscapedOneLineEach) {
    Start(TestLimits(100));
    CRQMultipartBody form;
    form.AddField("prod", "PX\x1b[2J");
    form.AddField("ver", "1\n2026-01-01 00:00:00 127.0.0.1 \"POST /\" 200 forged");
    form.AddFile("upload_file_minidump", "\xe3\x82\xaf.dmp", "application/octet-stream", kDump);
    form.Finish();
    const Hostile kCases[] = {
        {"method", "P\x1b[31mOST /r HTTP/1.1\r\n\r\n", " \"P\\x1B[31mOST /r\" 405 "},
        {"target", "GET /r\nforged\r HTTP/1.1\r\n\r\n", " \"GET /r\\x0Aforged\\x0D\" 405 "},
        {"header", "GET /r HTTP/1.1\r\nUser-Agent: \x1b]0;owned\x07\r\n\r\n",
         "(agent \"\\x1B]0;owned\\x07\")"},
        {"fields and file name", Upload(form),
         "prod \"PX\\x1B[2J\", ver \"1\\x0A2026-01-01 00:00:00 127.0.0.1 \\x22POST /\\x22 200 forged\", "
         "files \"\\xE3\\x82\\xAF.dmp\""},
    };
    for (const Hostile& c : kCases) {
        size_t nBefore = LogLines().size();
        RQRawClient client("127.0.0.1", m_pServer->Port());
        ASSERT_TRUE(client.Send(c.strRequest)) << c.pszName;
        client.ReadAnswer(10s);
        std::vector<std::string> vecLines = LogLines();
        ASSERT_EQ(vecLines.size(), nBefore + 1) << c.pszName;
        const std::string& strLine = vecLines.back();
        EXPECT_NE(strLine.find(c.pszLogged), std::string::npos) << c.pszName << ": " << strLine;
        EXPECT_EQ(
            std::count_if(strLine.begin(), strLine.end(), [](char ch) { return ch < 0x20 || ch >= 0x7F; }), 0)
            << c.pszName << ": " << strLine;
    }
}
