// The status line and the failure boxes: sizes, speed and time left as a
// player reads them, and the reason (and remedy) chosen for each failure.
#include <gtest/gtest.h>

#include "baselib/RQBLUtf8.h"
#include "launcher/update/RQStatusText.h"

namespace {

bool Has(const std::wstring& strText, const std::wstring& strPart) {
    return strText.find(strPart) != std::wstring::npos;
}

RQ_TRANSFER_OUTCOME Failed(RQTransferFailure failure, int nStatus = 0) {
    RQ_TRANSFER_OUTCOME out;
    out.failure = failure;
    out.nStatus = nStatus;
    return out;
}

}  // namespace

TEST(StatusText, SizesAndDurations) {
    const struct {
        uint64_t ullBytes;
        const wchar_t* pszText;
    } sizes[] = {{0, L"0 KB"},
                 {1, L"1 KB"},
                 {1024, L"1 KB"},
                 {1025, L"2 KB"},
                 {1048575, L"1024 KB"},
                 {1048576, L"1.0 MB"},
                 {10 << 20, L"10.0 MB"},
                 {uint64_t{300} << 20, L"300 MB"},
                 {uint64_t{3} << 30, L"3.00 GB"}};
    for (const auto& c : sizes) {
        EXPECT_EQ(RQFormatSize(c.ullBytes), c.pszText) << c.ullBytes;
    }
    EXPECT_EQ(RQFormatDuration(0), L"0 秒");
    EXPECT_EQ(RQFormatDuration(59), L"59 秒");
    EXPECT_EQ(RQFormatDuration(200), L"3 分 20 秒");
    EXPECT_EQ(RQFormatDuration(3900), L"1 時間 5 分");
}

TEST(StatusText, SpeedIsSmoothedAndTimeLeftWaitsForIt) {
    CRQSpeedMeter meter;
    uint64_t ullSeconds = 0;
    meter.Sample(0, 0);
    meter.Sample(1 << 20, 500);
    EXPECT_EQ(meter.BytesPerSecond(), 0) << "not before a second of samples";
    EXPECT_FALSE(meter.SecondsLeft(10 << 20, ullSeconds));
    // A steady 2 MiB/s, then one burst: the figure moves towards it, not to it.
    for (int64_t t = 1000; t <= 5000; t += 250) {
        meter.Sample(static_cast<uint64_t>(t) * 2 * 1024 * 1024 / 1000, t);
    }
    EXPECT_NEAR(meter.BytesPerSecond(), 2.0 * 1024 * 1024, 0.2 * 1024 * 1024);
    ASSERT_TRUE(meter.SecondsLeft(20 << 20, ullSeconds));
    EXPECT_NEAR(static_cast<double>(ullSeconds), 10, 1);
    meter.Sample(uint64_t{10} * 1024 * 1024 + 100u * 1024 * 1024, 5250);
    EXPECT_LT(meter.BytesPerSecond(), 50.0 * 1024 * 1024);
    // Nothing comes: the speed falls, and below 1 KB/s no time is promised.
    CRQSpeedMeter stalled;
    for (int64_t t = 0; t <= 4000; t += 250) {
        stalled.Sample(100, t);
    }
    EXPECT_FALSE(stalled.SecondsLeft(1 << 20, ullSeconds));
}

TEST(StatusText, TheLineSaysWhatIsHappening) {
    RQ_STATUS status;
    EXPECT_TRUE(Has(RQStatusLine(status), L"アップデート情報"));
    status.phase = RQUpdatePhase::CHECKING;
    status.nFilesDone = 12;
    status.nFilesTotal = 2000;
    EXPECT_TRUE(Has(RQStatusLine(status), L"(12 / 2000)"));
    status.phase = RQUpdatePhase::DOWNLOADING;
    status.nFilesDone = 3;
    status.nFilesTotal = 12;
    status.ullDoneBytes = 45 << 20;
    status.ullTotalBytes = 120 << 20;
    std::wstring strLine = RQStatusLine(status);
    EXPECT_TRUE(Has(strLine, L"(3 / 12)") && Has(strLine, L"45.0 MB / 120 MB") && Has(strLine, L"計算"))
        << RQBLWideToUtf8(strLine);
    status.dBytesPerSecond = 12.5 * 1024 * 1024;
    status.bHasSecondsLeft = true;
    status.ullSecondsLeft = 6;
    strLine = RQStatusLine(status);
    EXPECT_TRUE(Has(strLine, L"12.5 MB/秒") && Has(strLine, L"残り 6 秒")) << RQBLWideToUtf8(strLine);
    status.bRetrying = true;
    EXPECT_TRUE(Has(RQStatusLine(status), L"再接続"));
    status.ullTotalBytes = 0;
    status.ullDoneBytes = 0;
    EXPECT_TRUE(Has(RQStatusLine(status), L"0 KB / 0 KB"));
}

TEST(StatusText, ABusyServerIsAWaitWithItsTimeNotAFailure) {
    const struct {
        RQUpdatePhase phase;
        uint64_t ullSeconds;
        const wchar_t* pszLine;
    } cases[] = {
        {RQUpdatePhase::GETTING_SCRIPT, 5, L"サーバーが混雑しています。あと 5 秒で再試行します"},
        {RQUpdatePhase::GETTING_SCRIPT, 200, L"サーバーが混雑しています。あと 3 分 20 秒で再試行します"},
        {RQUpdatePhase::GETTING_SCRIPT, 0, L"サーバーが混雑しています。まもなく再試行します"},
        {RQUpdatePhase::DOWNLOADING, 42, L"サーバーが混雑しています。あと 42 秒で再試行します  (3 / 12)"},
    };
    for (const auto& c : cases) {
        RQ_STATUS status{c.phase};
        status.nFilesDone = 3;
        status.nFilesTotal = 12;
        status.bRetrying = true;
        status.bServerBusy = true;
        status.ullRetrySeconds = c.ullSeconds;
        EXPECT_EQ(RQStatusLine(status), c.pszLine) << c.ullSeconds;
    }
}

TEST(StatusText, EachFailureGetsItsReasonAndRemedy) {
    const struct {
        RQTransferFailure failure;
        int nStatus;
        const wchar_t* pszReason;
        const wchar_t* pszRemedy;
    } cases[] = {
        {RQTransferFailure::FILE_IN_USE, 0, L"他のプログラムで使用中", L"プログラムを終了して"},
        {RQTransferFailure::UNREACHABLE, 0, L"サーバーに接続できません", L"インターネット接続を確認"},
        {RQTransferFailure::SERVER_REFUSED, 503, L"コード 503", L"しばらくしてから"},
        {RQTransferFailure::INTERRUPTED, 0, L"途切れました", L"インターネット接続を確認"},
        {RQTransferFailure::CHECK_FAILED, 0, L"正しくありません", L"しばらくしてから"},
        {RQTransferFailure::FOLDER_IN_WAY, 0, L"同じ名前のフォルダ", L"名前を変えるか削除"},
    };
    for (const auto& c : cases) {
        std::wstring strText = RQFailureText({{L"data/a.dat", Failed(c.failure, c.nStatus)}}, L"C:\\");
        EXPECT_EQ(strText.find(L"アップデート失敗。再度お試しください。 data/a.dat\n"), 0u)
            << RQBLWideToUtf8(strText);
        EXPECT_TRUE(Has(strText, c.pszReason) && Has(strText, c.pszRemedy)) << RQBLWideToUtf8(strText);
    }
}

TEST(StatusText, ManyFailedFilesMakeOneBoxAndRoomComesFirst) {
    std::vector<RQ_FAILED_FILE> failed;
    for (int i = 0; i < 14; ++i) {
        failed.push_back({L"f" + std::to_wstring(i) + L".dat", Failed(RQTransferFailure::UNREACHABLE)});
    }
    std::wstring strText = RQFailureText(failed, L"C:\\");
    EXPECT_TRUE(Has(strText, L"・f0.dat（") && Has(strText, L"・f9.dat（") && !Has(strText, L"f10.dat") &&
                Has(strText, L"ほか 4 件"))
        << RQBLWideToUtf8(strText);
    EXPECT_EQ(strText.find(L"インターネット接続を確認"), strText.rfind(L"インターネット接続を確認"))
        << "one remedy once";

    RQ_TRANSFER_OUTCOME full = Failed(RQTransferFailure::DISK_FULL);
    full.ullNeeded = uint64_t{3} << 30;
    full.ullFree = 300 << 20;
    failed.push_back({L"big.pak", full});
    strText = RQFailureText(failed, L"D:\\");
    EXPECT_EQ(strText.find(L"ハードディスクの容量が不足しています。\nD:\\ の空き容量"), 0u)
        << RQBLWideToUtf8(strText);
    EXPECT_TRUE(Has(strText, L"必要 3.00 GB、空き 300 MB"));
}

TEST(StatusText, AScriptThatCannotBeFetchedKeepsItsFirstLine) {
    const std::wstring kNotFound = L"アップデートファイルが見つかりませんでした。 PATCHER_CODE.LUA";
    EXPECT_EQ(RQScriptFailureText(Failed(RQTransferFailure::SERVER_REFUSED, 404), L""), kNotFound);
    std::wstring strDown = RQScriptFailureText(Failed(RQTransferFailure::UNREACHABLE), L"");
    EXPECT_EQ(strDown.find(kNotFound + L"\n"), 0u);
    EXPECT_TRUE(Has(strDown, L"サーバーに接続できませんでした"));
    EXPECT_TRUE(Has(RQScriptFailureText(Failed(RQTransferFailure::SERVER_REFUSED, 503), L""), L"コード 503"));
}
