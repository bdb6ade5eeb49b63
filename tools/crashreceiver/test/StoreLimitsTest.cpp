// The store's cap and its file system's free-space floor: an upload that
// would pass either is refused with 507 and leaves nothing behind.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "tools/crashreceiver/test/RQRawClient.h"
#include "tools/crashreceiver/test/RQReceiverFixture.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST_F(ReceiverTest, StoreCapRefusesWith507UntilTheOperatorMakesRoom) {
    // A report of this test takes three blocks (its folder, index.txt and the
    // minidump): the cap holds one report, not two.
    Start(TestLimits(100), CRQStoreLimits{5 * DiskBytesOf(0), 0});
    const char* pszUpload = "-F upload_file_minidump=@crash.dmp";
    ASSERT_EQ(Curl(pszUpload).nStatus, 200);
    CurlResult refused = Curl(pszUpload);
    EXPECT_EQ(refused.nStatus, 507) << refused.strBody;
    ASSERT_EQ(StoredReports().size(), 1u);
    EXPECT_NE(LogLines().back().find(" 507 store full: "), std::string::npos) << LogLines().back();

    // Nothing is deleted but by the operator; the receiver notices the room.
    fs::remove_all(m_temp.Path() / "store" / StoredReports()[0]);
    EXPECT_EQ(Curl(pszUpload).nStatus, 200);
}

TEST_F(ReceiverTest, FreeSpaceFloorRefusesWith507BeforeTheBodyIsRead) {
    uint64_t nFreeMib = fs::space(m_temp.Path()).available >> 20;
    CRQServerOptions options;
    options.headLimit = 60s;  // a refusal that waited for the body would come far too late
    Start(TestLimits(100), CRQStoreLimits{~uint64_t{0} >> 1, (nFreeMib + 1024) << 20}, options);
    RQRawClient client("127.0.0.1", m_pServer->Port());
    ASSERT_TRUE(client.Send(
        "POST /r HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=b\r\nContent-Length: 4000\r\n\r\n"));
    std::string strAnswer = client.ReadAnswer(10s);
    EXPECT_EQ(strAnswer.rfind("HTTP/1.1 507 ", 0), 0u) << strAnswer;
    EXPECT_NE(strAnswer.find("\r\nRetry-After: "), std::string::npos) << strAnswer;
    EXPECT_NE(LogLines().back().find(" 507 disk low: "), std::string::npos) << LogLines().back();
    EXPECT_TRUE(StoredReports().empty());
}
