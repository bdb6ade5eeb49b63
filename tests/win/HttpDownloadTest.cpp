// CRQBLHttp against a real HTTP server: the in-process test server (every
// test), or nginx for the "Served" tests when the nginx fixture runs them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "RQTestContent.h"
#include "RQTestLogCapture.h"
#include "RQTestTempDir.h"
#include "baselib/RQBLDownloadTemp.h"
#include "baselib/RQBLStreamCrc.h"
#include "baselib/win/RQBLHttp.h"
#include "launcher/RQPatchPath.h"

namespace fs = std::filesystem;
using rqtest::CServerBehaviour;

namespace {

const std::wstring kOld = L"old.dat";
const std::string kOldBody = "the old file, which must survive every failure";

struct TransferRun {
    int32_t nBegin = 0;
    std::vector<int32_t> vecResults;      // of each Downloading call
    std::vector<uint32_t> vecDownloaded;  // m_dwDownloadSize after each call
    uint32_t dwFileSizeKB = 0;
    int32_t Last() const { return vecResults.empty() ? nBegin : vecResults.back(); }
};

// A downloader whose disk has as many free bytes as the test says.
class CFixedDiskHttp : public CRQBLHttp {
public:
    bool bQueryWorks = true;
    uint64_t ullFree = 0;

protected:
    bool GetFreeDiskBytes(const wchar_t*, uint64_t& ullFreeBytes) override {
        ullFreeBytes = ullFree;
        return bQueryWorks;
    }
};

class HttpTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_content.Ready());
        m_pHttp = std::make_unique<CFixedDiskHttp>();
        m_pHttp->ullFree = uint64_t{1} << 40;
        ASSERT_TRUE(m_pHttp->Open());
        m_pHttp->SetTimeouts(10000);
    }

    TransferRun Fetch(const std::wstring& strUrlPath, const std::wstring& strLocal,
                      const RQBL_DOWNLOAD_CHECK* pCheck = nullptr) {
        TransferRun run;
        run.nBegin = m_pHttp->DownloadBegin(m_content.BaseUrl().c_str(), strUrlPath.c_str(), L"./",
                                            strLocal.c_str(), pCheck);
        run.dwFileSizeKB = m_pHttp->GetFileSizeKB();
        if (run.nBegin != DOWNLOAD_SUCCEEDED) {
            return run;
        }
        // 1 GiB at most, so a fault can never loop the test for ever.
        for (int i = 0; i < 10500; ++i) {
            int32_t r = m_pHttp->Downloading();
            run.vecResults.push_back(r);
            run.vecDownloaded.push_back(m_pHttp->GetDownloadSize());
            if (r != DOWNLOAD_CONTINUE) {
                break;
            }
        }
        return run;
    }

    void PutOld() { ASSERT_TRUE(rqtest::WriteBytes(m_dir.Path() / kOld, kOldBody)); }
    void ExpectOldIntactAndNoLeftover() {
        EXPECT_EQ(rqtest::ReadBytes(m_dir.Path() / kOld), kOldBody);
        for (const std::wstring& strName : rqtest::ListTree(m_dir.Path())) {
            EXPECT_FALSE(RQBLIsDownloadTempName(strName)) << "left behind: " << fs::path(strName).string();
        }
    }
    std::string Local(const std::wstring& strName) { return rqtest::ReadBytes(m_dir.Path() / strName); }
    void SetBehaviour(const std::string& strPath, const CServerBehaviour& b) {
        ASSERT_NE(m_content.Server(), nullptr);
        m_content.Server()->SetBehaviour(strPath, b);
    }

    RQTestTempDir m_dir;  // the working folder, which receives the downloads
    rqtest::CTestContent m_content;
    std::unique_ptr<CFixedDiskHttp> m_pHttp;
    RQTestLogCapture m_log;
};

// Tests that a plain static server answers in the same way.
class Served : public HttpTest {};

// Tests that need the fault-injecting server.
class Faults : public HttpTest {
protected:
    void SetUp() override {
        if (!rqtest::EnvVar(L"RQ_TEST_BASE_URL").empty()) {
            GTEST_SKIP() << "needs the in-process server";
        }
        HttpTest::SetUp();
    }
};

}  // namespace

TEST_F(Served, WholeFileInBlocksOf102400WithCountersAndNoLeftover) {
    std::string strBody = rqtest::MakeBody(250000, 1);
    ASSERT_TRUE(m_content.Put(L"big.dat", strBody));
    TransferRun run = Fetch(L"big.dat", L"big.dat");
    ASSERT_EQ(run.nBegin, DOWNLOAD_SUCCEEDED);
    EXPECT_EQ(run.dwFileSizeKB, 244u);
    EXPECT_EQ(run.vecResults, (std::vector<int32_t>{12, 12, 12, 1}));
    EXPECT_EQ(run.vecDownloaded, (std::vector<uint32_t>{102400, 204800, 250000, 250000}));
    EXPECT_EQ(Local(L"big.dat"), strBody);
    EXPECT_EQ(rqtest::ListTree(m_dir.Path()), std::vector<std::wstring>{L"big.dat"});
}

TEST_F(Served, ContentLengthToKiB) {
    ASSERT_TRUE(m_content.Put(L"mib.dat", rqtest::MakeBody(1048576, 2)));
    ASSERT_TRUE(m_content.Put(L"small.dat", rqtest::MakeBody(1023, 3)));
    EXPECT_TRUE(m_pHttp->DownloadInfo(m_content.BaseUrl().c_str(), L"mib.dat"));
    EXPECT_EQ(m_pHttp->GetFileSizeKB(), 1024u);
    EXPECT_TRUE(m_pHttp->DownloadInfo(m_content.BaseUrl().c_str(), L"small.dat"));
    EXPECT_EQ(m_pHttp->GetFileSizeKB(), 0u);
    // DownloadBegin clears the counters and fills them from its own request.
    EXPECT_TRUE(m_pHttp->DownloadInfo(m_content.BaseUrl().c_str(), L"mib.dat"));
    TransferRun run = Fetch(L"small.dat", L"small.dat");
    EXPECT_EQ(run.dwFileSizeKB, 0u);
    EXPECT_EQ(run.vecResults, (std::vector<int32_t>{12, 1}));
    EXPECT_EQ(run.vecDownloaded.back(), 1023u);
    run = Fetch(L"mib.dat", L"mib.dat");
    EXPECT_EQ(run.dwFileSizeKB, 1024u);
    EXPECT_EQ(run.vecResults.size(), 12u);  // ten full blocks, 24576 bytes, the end
    EXPECT_EQ(run.Last(), DOWNLOAD_SUCCEEDED);
}

TEST_F(Served, EmptyFileGivesAnEmptyLocalFile) {
    ASSERT_TRUE(m_content.Put(L"empty.dat", ""));
    ASSERT_TRUE(rqtest::WriteBytes(m_dir.Path() / "empty.dat", "not empty yet"));
    TransferRun run = Fetch(L"empty.dat", L"empty.dat");
    ASSERT_EQ(run.nBegin, DOWNLOAD_SUCCEEDED);
    EXPECT_EQ(run.vecResults, std::vector<int32_t>{DOWNLOAD_SUCCEEDED});
    bool bOk = false;
    EXPECT_EQ(rqtest::ReadBytes(m_dir.Path() / "empty.dat", &bOk), "");
    EXPECT_TRUE(bOk);
}

TEST_F(Served, NotFoundIsRefusedAndLeavesTheOldFile) {
    PutOld();
    EXPECT_EQ(Fetch(L"missing.dat", kOld).nBegin, DOWNLOAD_NOT_FOUND);
    EXPECT_FALSE(m_pHttp->DownloadInfo(m_content.BaseUrl().c_str(), L"missing.dat"));
    ExpectOldIntactAndNoLeftover();
    EXPECT_TRUE(m_log.Lines().empty());  // refusals by status are not logged
}

TEST_F(Served, ReadOnlyDestinationIsReplaced) {
    ASSERT_TRUE(m_content.Put(L"ro.dat", "new content"));
    fs::path dest = m_dir.Path() / "ro.dat";
    ASSERT_TRUE(rqtest::WriteBytes(dest, "old content, read-only"));
    ASSERT_TRUE(SetFileAttributesW(dest.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(Fetch(L"ro.dat", L"ro.dat").Last(), DOWNLOAD_SUCCEEDED);
    EXPECT_EQ(Local(L"ro.dat"), "new content");
    EXPECT_EQ(GetFileAttributesW(dest.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
}

TEST_F(Served, NamesWithBlanksAndJapaneseTravelEscaped) {
    const std::wstring strNames[] = {
        L"my file.txt", L"\u30c7\u30fc\u30bf/\u65e5\u672c\u8a9e \u30d5\u30a1\u30a4\u30eb.pak", L"100%#1.txt"};
    unsigned nSeed = 10;
    for (const std::wstring& strName : strNames) {
        std::string strBody = rqtest::MakeBody(5000, nSeed++);
        ASSERT_TRUE(m_content.Put(strName, strBody));
        RQ_PATCH_PATH path;
        ASSERT_EQ(RQMakePatchPath(strName, path), RQPatchPathError::NONE);
        fs::create_directories(m_dir.Path() / fs::path(path.strLocal).parent_path());
        EXPECT_EQ(Fetch(path.strUrl, path.strLocal).Last(), DOWNLOAD_SUCCEEDED) << path.strUrl.size();
        EXPECT_EQ(Local(path.strLocal), strBody);
    }
}

TEST_F(Served, ExpectedSizeAndCrcDecideWhetherTheFileIsReplaced) {
    std::string strBody = rqtest::MakeBody(300000, 4);
    ASSERT_TRUE(m_content.Put(kOld, strBody));
    PutOld();
    RQBL_DOWNLOAD_CHECK wrongCrc{strBody.size(), CRQBLStreamCrc::Of(strBody.data(), strBody.size()) ^ 1u};
    EXPECT_EQ(Fetch(kOld, kOld, &wrongCrc).Last(), DOWNLOAD_READ_FAILED);
    ExpectOldIntactAndNoLeftover();
    RQBL_DOWNLOAD_CHECK wrongSize{strBody.size() + 1, CRQBLStreamCrc::Of(strBody.data(), strBody.size())};
    EXPECT_EQ(Fetch(kOld, kOld, &wrongSize).Last(), DOWNLOAD_READ_FAILED);
    ExpectOldIntactAndNoLeftover();
    ASSERT_EQ(m_log.Texts(L"CRQBLHttp::Downloading").size(), 2u);
    EXPECT_EQ(m_log.Texts(L"CRQBLHttp::Downloading")[0].rfind(
                  L"10098 Downloaded file differs from its entry: ./old.dat", 0),
              0u);

    RQBL_DOWNLOAD_CHECK right{strBody.size(), CRQBLStreamCrc::Of(strBody.data(), strBody.size())};
    EXPECT_EQ(Fetch(kOld, kOld, &right).Last(), DOWNLOAD_SUCCEEDED);
    EXPECT_EQ(Local(kOld), strBody);
}

TEST_F(Served, ResetInTheMiddleDiscardsTheUnfinishedFile) {
    ASSERT_TRUE(m_content.Put(kOld, rqtest::MakeBody(400000, 5)));
    PutOld();
    ASSERT_EQ(m_pHttp->DownloadBegin(m_content.BaseUrl().c_str(), kOld.c_str(), L"./", kOld.c_str()), 1);
    ASSERT_EQ(m_pHttp->Downloading(), DOWNLOAD_CONTINUE);
    EXPECT_TRUE(fs::exists(m_dir.Path() / (kOld + RQBL_DOWNLOAD_TEMP_SUFFIX)));
    m_pHttp->Reset();
    EXPECT_EQ(m_pHttp->GetDownloadSize(), 0u);
    ExpectOldIntactAndNoLeftover();
    // Closing the whole object does the same.
    ASSERT_EQ(m_pHttp->DownloadBegin(m_content.BaseUrl().c_str(), kOld.c_str(), L"./", kOld.c_str()), 1);
    ASSERT_EQ(m_pHttp->Downloading(), DOWNLOAD_CONTINUE);
    m_pHttp.reset();
    ExpectOldIntactAndNoLeftover();
}

TEST_F(Served, LeftoverOfAKilledRunIsOverwrittenNotAppended) {
    ASSERT_TRUE(m_content.Put(L"a.dat", "fresh"));
    ASSERT_TRUE(rqtest::WriteBytes(m_dir.Path() / (L"a.dat" + std::wstring(RQBL_DOWNLOAD_TEMP_SUFFIX)),
                                   "stale half of an earlier run"));
    EXPECT_EQ(Fetch(L"a.dat", L"a.dat").Last(), DOWNLOAD_SUCCEEDED);
    EXPECT_EQ(Local(L"a.dat"), "fresh");
    EXPECT_EQ(rqtest::ListTree(m_dir.Path()), std::vector<std::wstring>{L"a.dat"});
}

TEST_F(Served, DestinationInAMissingFolderCannotBeCreated) {
    ASSERT_TRUE(m_content.Put(L"a.dat", "x"));
    EXPECT_EQ(Fetch(L"a.dat", L"no-such-folder\\a.dat").nBegin, DOWNLOAD_CREATE_FILE_FAILED);
    ASSERT_EQ(m_log.Lines().size(), 1u);
    EXPECT_EQ(m_log.Lines()[0].strTag, L"CRQBLHttp::DownloadBegin");
    EXPECT_EQ(m_log.Lines()[0].nLevel, 1);
    EXPECT_EQ(m_log.Lines()[0].strText.rfind(
                  L"10092 hLocalFile is INVALID_HANDLE_VALUE: ./no-such-folder\\a.dat, ", 0),
              0u);
}

TEST_F(Faults, RequestsCarryTheAgentAndBypassCaches) {
    ASSERT_TRUE(m_content.Put(L"a.dat", "x"));
    EXPECT_TRUE(m_pHttp->DownloadInfo(m_content.BaseUrl().c_str(), L"a.dat"));
    EXPECT_EQ(Fetch(L"a.dat", L"a.dat").Last(), DOWNLOAD_SUCCEEDED);
    std::vector<rqtest::CServerRequest> requests = m_content.Server()->Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].strMethod, "HEAD");  // the size query reads no body
    EXPECT_EQ(requests[1].strMethod, "GET");
    for (const rqtest::CServerRequest& r : requests) {
        EXPECT_EQ(r.strPath, "/a.dat");
        EXPECT_EQ(r.strUserAgent, "RQ_HTTP");
        EXPECT_EQ(r.strPragma, "no-cache");
    }
}

TEST_F(Faults, StatusCodes) {
    ASSERT_TRUE(m_content.Put(L"s.dat", "real content"));
    PutOld();
    struct Case {
        int nStatus;
        int32_t nBegin;
        bool bInfo;
    };
    // Only 200 is the file: no error page is ever stored in its place.
    for (Case c : {Case{404, DOWNLOAD_NOT_FOUND, false}, Case{500, DOWNLOAD_SERVER_ERROR, false},
                   Case{403, DOWNLOAD_SERVER_ERROR, false}, Case{503, DOWNLOAD_SERVER_ERROR, false}}) {
        CServerBehaviour b;
        b.nStatus = c.nStatus;
        b.strErrorBody = "error page " + std::to_string(c.nStatus);
        SetBehaviour("/s.dat", b);
        EXPECT_EQ(m_pHttp->DownloadInfo(m_content.BaseUrl().c_str(), L"s.dat"), c.bInfo) << c.nStatus;
        TransferRun run = Fetch(L"s.dat", kOld);
        EXPECT_EQ(run.nBegin, c.nBegin) << c.nStatus;
        ExpectOldIntactAndNoLeftover();
    }
    EXPECT_TRUE(m_log.Lines().empty());
}

TEST_F(Faults, MissingContentLengthLeavesTheSizeUnknownAndReadsToTheEnd) {
    std::string strBody = rqtest::MakeBody(150000, 6);
    ASSERT_TRUE(m_content.Put(L"nolen.dat", strBody));
    CServerBehaviour b;
    b.bNoContentLength = true;
    SetBehaviour("/nolen.dat", b);
    EXPECT_TRUE(m_pHttp->DownloadInfo(m_content.BaseUrl().c_str(), L"nolen.dat"));
    EXPECT_EQ(m_pHttp->GetFileSizeKB(), 0u);
    TransferRun run = Fetch(L"nolen.dat", L"nolen.dat");
    EXPECT_EQ(run.dwFileSizeKB, 0u);
    EXPECT_EQ(run.vecResults, (std::vector<int32_t>{12, 12, 1}));
    EXPECT_EQ(run.vecDownloaded.back(), 150000u);
    EXPECT_EQ(Local(L"nolen.dat"), strBody);
}

TEST_F(Faults, ChunkedAndSlowBodiesArriveWhole) {
    std::string strBody = rqtest::MakeBody(120000, 7);
    ASSERT_TRUE(m_content.Put(L"c.dat", strBody));
    CServerBehaviour chunked;
    chunked.bChunked = true;
    SetBehaviour("/c.dat", chunked);
    EXPECT_EQ(Fetch(L"c.dat", L"c.dat").Last(), DOWNLOAD_SUCCEEDED);
    EXPECT_EQ(Local(L"c.dat"), strBody);

    CServerBehaviour slow;
    slow.dwSlowDelayMs = 20;
    slow.nSlowChunk = 16384;
    SetBehaviour("/c.dat", slow);
    ASSERT_TRUE(fs::remove(m_dir.Path() / "c.dat"));
    EXPECT_EQ(Fetch(L"c.dat", L"c.dat").Last(), DOWNLOAD_SUCCEEDED);
    EXPECT_EQ(Local(L"c.dat"), strBody);
}

TEST_F(Faults, BodyCutShortIsAFailedReadAndChangesNothing) {
    ASSERT_TRUE(m_content.Put(kOld, rqtest::MakeBody(250000, 8)));
    PutOld();
    for (int64_t nCut : {int64_t{0}, int64_t{1000}, int64_t{102400}, int64_t{249999}}) {
        CServerBehaviour b;
        b.nCutAfter = nCut;
        SetBehaviour("/" + fs::path(kOld).string(), b);
        m_log.Clear();
        TransferRun run = Fetch(kOld, kOld);
        ASSERT_EQ(run.nBegin, DOWNLOAD_SUCCEEDED);
        EXPECT_EQ(run.Last(), DOWNLOAD_READ_FAILED) << nCut;
        ExpectOldIntactAndNoLeftover();
        ASSERT_EQ(m_log.Texts(L"CRQBLHttp::Downloading").size(), 1u);
        EXPECT_EQ(m_log.Texts(L"CRQBLHttp::Downloading")[0],
                  L"10096 Transfer incomplete: ./old.dat, " + std::to_wstring(nCut) + L" of 250000 bytes");
    }
}

TEST_F(Faults, ConnectionResetMidBodyFailsAndChangesNothing) {
    ASSERT_TRUE(m_content.Put(kOld, rqtest::MakeBody(400000, 9)));
    PutOld();
    CServerBehaviour b;
    b.nResetAfter = 150000;
    SetBehaviour("/" + fs::path(kOld).string(), b);
    TransferRun run = Fetch(kOld, kOld);
    ASSERT_EQ(run.nBegin, DOWNLOAD_SUCCEEDED);
    int32_t nLast = run.Last();
    EXPECT_TRUE(nLast == DOWNLOAD_QUERY_FAILED || nLast == DOWNLOAD_READ_FAILED) << nLast;
    ExpectOldIntactAndNoLeftover();
}

TEST_F(Faults, ServerSilentAfterTheHeadersTimesOut) {
    ASSERT_TRUE(m_content.Put(kOld, rqtest::MakeBody(50000, 10)));
    PutOld();
    m_pHttp->SetTimeouts(1500);
    CServerBehaviour b;
    b.bStallAfterHeaders = true;
    SetBehaviour("/" + fs::path(kOld).string(), b);
    TransferRun run = Fetch(kOld, kOld);
    ASSERT_EQ(run.nBegin, DOWNLOAD_SUCCEEDED);
    EXPECT_EQ(run.vecResults.size(), 1u);
    EXPECT_TRUE(run.Last() == DOWNLOAD_QUERY_FAILED || run.Last() == DOWNLOAD_READ_FAILED) << run.Last();
    ExpectOldIntactAndNoLeftover();
    if (run.Last() == DOWNLOAD_QUERY_FAILED) {
        std::vector<std::wstring> lines = m_log.Texts(L"CRQBLHttp::Downloading");
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0], L"10093 InternetQueryDataAvailable is FALSE");
        EXPECT_EQ(lines[1].rfind(L"10092 CRQBLHttp::Downloading : LastError : ", 0), 0u);
    }
}

TEST_F(Faults, ServerThatNeverAnswersTimesOutAtTheBegin) {
    ASSERT_TRUE(m_content.Put(kOld, "x"));
    PutOld();
    m_pHttp->SetTimeouts(1500);
    CServerBehaviour b;
    b.bNoResponse = true;
    SetBehaviour("/" + fs::path(kOld).string(), b);
    EXPECT_EQ(Fetch(kOld, kOld).nBegin, DOWNLOAD_OPEN_URL_FAILED);
    EXPECT_FALSE(m_pHttp->DownloadInfo(m_content.BaseUrl().c_str(), kOld.c_str()));
    ExpectOldIntactAndNoLeftover();
    std::vector<RQTestLogLine> lines = m_log.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], (RQTestLogLine{L"CRQBLHttp::DownloadBegin", 1, L"10091 m_hOpenURL is NULL"}));
    EXPECT_EQ(lines[1], (RQTestLogLine{L"CRQBLHttp::DownloadInfo", 1, L"10085 m_hOpenURL is NULL"}));
}

TEST_F(Faults, NoServerAtAllFailsToOpenTheUrl) {
    EXPECT_EQ(m_pHttp->DownloadBegin(L"http://127.0.0.1:1/", L"a.dat", L"./", L"a.dat"),
              DOWNLOAD_OPEN_URL_FAILED);
}

TEST_F(Faults, FreeSpaceMustExceedTheFileSize) {
    ASSERT_TRUE(m_content.Put(L"k.dat", rqtest::MakeBody(10 * 1024, 11)));
    ASSERT_TRUE(m_content.Put(L"tiny.dat", "tiny"));
    m_pHttp->ullFree = 10 * 1024;  // exactly the file's size in KiB
    EXPECT_EQ(Fetch(L"k.dat", L"k.dat").nBegin, DOWNLOAD_DISK_FULL);
    m_pHttp->ullFree = 11 * 1024 - 1;  // still 10 KiB once shifted
    EXPECT_EQ(Fetch(L"k.dat", L"k.dat").nBegin, DOWNLOAD_DISK_FULL);
    m_pHttp->ullFree = 11 * 1024;
    EXPECT_EQ(Fetch(L"k.dat", L"k.dat").Last(), DOWNLOAD_SUCCEEDED);
    // A size under 1 KiB is 0 KiB, and at least 1 KiB must still be free.
    m_pHttp->ullFree = 1023;
    EXPECT_EQ(Fetch(L"tiny.dat", L"tiny.dat").nBegin, DOWNLOAD_DISK_FULL);
    // A volume that cannot be asked does not stop the update.
    m_pHttp->bQueryWorks = false;
    EXPECT_EQ(Fetch(L"tiny.dat", L"tiny.dat").Last(), DOWNLOAD_SUCCEEDED);
    std::vector<RQTestLogLine> lines = m_log.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], (RQTestLogLine{L"CRQBLHttp::DownloadBegin", 1, L"11489 Disk Free Size Check"}));
    EXPECT_EQ(rqtest::ListTree(m_dir.Path()), (std::vector<std::wstring>{L"k.dat", L"tiny.dat"}));
}

TEST_F(Faults, MissingArgumentsAndHandlesAreReportedInOrder) {
    const wchar_t* pszUrl = L"http://127.0.0.1:1/";
    EXPECT_EQ(m_pHttp->DownloadBegin(nullptr, L"f", L"./", L"f"), DOWNLOAD_NULL_SRC_PATH);
    EXPECT_EQ(m_pHttp->DownloadBegin(pszUrl, nullptr, L"./", L"f"), DOWNLOAD_NULL_FILE_NAME);
    EXPECT_EQ(m_pHttp->DownloadBegin(pszUrl, L"f", nullptr, L"f"), DOWNLOAD_NULL_DEST_PATH);
    EXPECT_EQ(m_pHttp->DownloadBegin(pszUrl, L"f", L"./", nullptr), DOWNLOAD_NULL_DEST_FILE_NAME);
    EXPECT_FALSE(m_pHttp->DownloadInfo(nullptr, L"f"));
    EXPECT_FALSE(m_pHttp->DownloadInfo(pszUrl, nullptr));
    m_pHttp->Close();
    EXPECT_EQ(m_pHttp->DownloadBegin(nullptr, nullptr, nullptr, nullptr), DOWNLOAD_NO_INTERNET);
    EXPECT_FALSE(m_pHttp->DownloadInfo(nullptr, nullptr));
    // Without a transfer the chunk step fails at its availability check.
    EXPECT_EQ(m_pHttp->Downloading(), DOWNLOAD_QUERY_FAILED);
    std::wstring strText;
    EXPECT_FALSE(m_pHttp->DownloadText(pszUrl, strText));

    std::vector<RQTestLogLine> lines = m_log.Lines();
    const std::vector<RQTestLogLine> expected = {
        {L"CRQBLHttp::DownloadBegin", 1, L"10087 pSrcPath is NULL"},
        {L"CRQBLHttp::DownloadBegin", 1, L"10088 pFileName is NULL"},
        {L"CRQBLHttp::DownloadBegin", 1, L"10089 pDestPath is NULL"},
        {L"CRQBLHttp::DownloadBegin", 1, L"10090 pDestFileName is NULL"},
        {L"CRQBLHttp::DownloadInfo", 1, L"10083 pSrcPath is NULL"},
        {L"CRQBLHttp::DownloadInfo", 1, L"10084 pFileName is NULL"},
        {L"CRQBLHttp::DownloadBegin", 1, L"10086 m_hInternet is NULL"},
        {L"CRQBLHttp::DownloadInfo", 1, L"10082 m_hInternet is NULL"},
        {L"CRQBLHttp::Downloading", 1, L"10093 InternetQueryDataAvailable is FALSE"},
    };
    ASSERT_EQ(lines.size(), expected.size() + 1);
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(lines[i], expected[i]) << i;
    }
    EXPECT_EQ(lines.back().strText.rfind(L"10092 CRQBLHttp::Downloading : LastError : ", 0), 0u);
    EXPECT_EQ(lines.back().strText.find(L'\n'), std::wstring::npos);
}

TEST_F(Faults, AfterTheEndOrAFailureTheChunkStepFindsNoTransfer) {
    ASSERT_TRUE(m_content.Put(L"a.dat", "abc"));
    EXPECT_EQ(Fetch(L"a.dat", L"a.dat").Last(), DOWNLOAD_SUCCEEDED);
    EXPECT_EQ(m_pHttp->Downloading(), DOWNLOAD_QUERY_FAILED);
    CServerBehaviour cut;
    cut.nCutAfter = 1;
    SetBehaviour("/a.dat", cut);
    EXPECT_EQ(Fetch(L"a.dat", L"a.dat").Last(), DOWNLOAD_READ_FAILED);
    EXPECT_EQ(m_pHttp->Downloading(), DOWNLOAD_QUERY_FAILED);
    EXPECT_EQ(Local(L"a.dat"), "abc");
}

TEST_F(Faults, OpenTwiceAndDownloadText) {
    ASSERT_TRUE(m_content.Put(L"t.txt", std::string("hello\0hidden", 12)));
    ASSERT_TRUE(m_content.Put(L"long.txt", std::string(3000, 'a')));
    EXPECT_TRUE(m_pHttp->Open());
    EXPECT_TRUE(m_pHttp->Open());
    std::wstring strText;
    EXPECT_TRUE(m_pHttp->DownloadText((m_content.BaseUrl() + L"t.txt").c_str(), strText));
    EXPECT_EQ(strText, L"hello");
    EXPECT_TRUE(m_pHttp->DownloadText((m_content.BaseUrl() + L"long.txt").c_str(), strText));
    EXPECT_EQ(strText, std::wstring(1024, L'a'));
    EXPECT_TRUE(m_log.Lines().empty());
}
