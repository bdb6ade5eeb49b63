// An upload through the transfer transport (the crash report's way out): the
// body arrives byte for byte with its content type, a refusal is a status,
// and an abort ends an upload while it is being sent.
#include <windows.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <random>
#include <string>

#include "RQTestHttpServer.h"
#include "RQTestTempDir.h"
#include "baselib/win/RQBLWinInetTransport.h"

namespace {

// Longer than any wait below: only an abort can end a stalled upload early.
constexpr uint32_t kCallTimeoutMs = 60000;

class CAnswer : public CRQBLFetchSink {
public:
    bool OnHead(const RQBL_RESPONSE_HEAD& /*head*/) override { return true; }
    bool OnData(const uint8_t* pData, size_t nBytes) override {
        strBody.append(reinterpret_cast<const char*>(pData), nBytes);
        return true;
    }
    std::string strBody;
};

std::string RandomBytes(size_t nBytes) {
    std::mt19937 rng(7);
    std::string s(nBytes, '\0');
    for (char& c : s) {
        c = static_cast<char>(rng());
    }
    return s;
}

class TransportPost : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_server.Start(m_dir.Path().wstring())); }
    RQBL_FETCH_REQUEST Upload(size_t nBytes) const {
        RQBL_FETCH_REQUEST request;
        request.strUrl = m_server.BaseUrl() + L"reception/Default.aspx";
        request.strContentType = "multipart/form-data; boundary=x7";
        request.strBody = RandomBytes(nBytes);
        return request;
    }

    RQTestTempDir m_dir;
    rqtest::CRQTestHttpServer m_server;
    CRQBLWinInetTransport m_transport{std::make_shared<CRQBLInternetSession>(kCallTimeoutMs, 0)};
};

}  // namespace

TEST_F(TransportPost, TheBodyArrivesWholeWithItsContentType) {
    const RQBL_FETCH_REQUEST request = Upload(3 * 1024 * 1024 + 17);
    CAnswer answer;
    const RQBL_FETCH_RESULT result = m_transport.Fetch(request, answer);
    EXPECT_EQ(result.error, RQBLFetchError::NONE);
    EXPECT_EQ(result.nStatus, 200);
    EXPECT_EQ(answer.strBody, "received " + std::to_string(request.strBody.size()) + "\n");
    const std::vector<rqtest::CServerRequest> vecSeen = m_server.Requests();
    ASSERT_EQ(vecSeen.size(), 1u);
    EXPECT_EQ(vecSeen[0].strMethod, "POST");
    EXPECT_EQ(vecSeen[0].strContentType, request.strContentType);
    EXPECT_TRUE(vecSeen[0].strBody == request.strBody) << "the body differs";
}

TEST_F(TransportPost, ARefusalIsAStatusAndARedirectIsNotFollowed) {
    for (int nStatus : {503, 302}) {
        rqtest::CServerBehaviour refuse;
        refuse.nStatus = nStatus;
        refuse.strLocation = nStatus == 302 ? "/elsewhere" : "";
        m_server.SetBehaviour("/reception/Default.aspx", refuse);
        CAnswer answer;
        const RQBL_FETCH_RESULT result = m_transport.Fetch(Upload(1000), answer);
        EXPECT_EQ(result.error, RQBLFetchError::STATUS) << nStatus;
        EXPECT_EQ(result.nStatus, nStatus);
    }
    EXPECT_EQ(m_server.Requests().size(), 2u) << "a POST is never sent on to another address";
}

TEST_F(TransportPost, AnAbortEndsAnUploadWhileItIsSent) {
    rqtest::CServerBehaviour slow;
    slow.dwSlowReadDelayMs = 50;  // about a megabyte a second: a minute for the whole body
    m_server.SetBehaviour("/reception/Default.aspx", slow);
    const RQBL_FETCH_REQUEST request = Upload(64 * 1024 * 1024 - 1024);
    auto fetch = std::async(std::launch::async, [&] {
        CAnswer answer;
        return m_transport.Fetch(request, answer);
    });
    for (int i = 0; i < 600 && m_server.BodyBytes() < 1024 * 1024; ++i) {
        Sleep(50);
    }
    ASSERT_GE(m_server.BodyBytes(), 1024u * 1024u) << "the upload did not begin";
    const auto abortAt = std::chrono::steady_clock::now();
    m_transport.Abort();
    ASSERT_EQ(fetch.wait_for(std::chrono::milliseconds(kCallTimeoutMs / 2)), std::future_status::ready)
        << "the abort did not end the upload";
    EXPECT_EQ(fetch.get().error, RQBLFetchError::ABORTED);
    const auto nMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - abortAt)
            .count();
    // Between two pieces, not at the end of the body (most of a minute away).
    EXPECT_LT(nMs, 15000) << "the abort waited for the whole body";
    EXPECT_LT(m_server.BodyBytes(), request.strBody.size());
}
