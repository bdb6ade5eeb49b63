#include <gtest/gtest.h>

#include <cstdarg>
#include <filesystem>
#include <regex>
#include <string>

#include "RQTestLogCapture.h"
#include "RQTestTempDir.h"
#include "baselib/RQBLCrashLink.h"
#include "baselib/log/RQBLLog.h"
#include "baselib/log/RQBLLogKeys.h"
#include "baselib/log/RQBLLogTraceNum.h"

namespace fs = std::filesystem;

namespace {

std::wstring TraceText(int nTraceNum, const wchar_t* pszFormat, ...) {
    wchar_t szText[CRQBLLogTraceNum::TEXT_BUFFER_CHARS];
    va_list args;
    va_start(args, pszFormat);
    CRQBLLogTraceNum::FormatText(szText, CRQBLLogTraceNum::TEXT_BUFFER_CHARS, nTraceNum, pszFormat, args);
    va_end(args);
    return szText;
}

RQBL_DATETIME MakeTime(int y, int mo, int d, int h, int mi, int s) {
    RQBL_DATETIME dt;
    dt.wYear = static_cast<uint16_t>(y);
    dt.byMonth = static_cast<uint8_t>(mo);
    dt.byDay = static_cast<uint8_t>(d);
    dt.byHour = static_cast<uint8_t>(h);
    dt.byMinute = static_cast<uint8_t>(mi);
    dt.bySecond = static_cast<uint8_t>(s);
    return dt;
}

std::string FileText(const fs::path& p) {
    std::vector<char> v = RQTestTempDir::ReadAll(p);
    return std::string(v.begin(), v.end());
}

std::vector<fs::path> LogFiles(const std::string& strExt) {
    std::vector<fs::path> v;
    for (const auto& e : fs::directory_iterator("Log")) {
        if (e.path().extension() == strExt) {
            v.push_back(e.path());
        }
    }
    std::sort(v.begin(), v.end());
    return v;
}

}  // namespace

TEST(TraceText, NumberBlankAndMessage) {
    EXPECT_EQ(TraceText(130011, L"NO CDN"), L"130011 NO CDN");
    EXPECT_EQ(TraceText(-5, L"x"), L"-5 x");
    EXPECT_EQ(TraceText(130011, nullptr), L"130011 ");
    EXPECT_EQ(TraceText(130011, L"LAUNCHER US_START_UP : %ls", L"http://a/"),
              L"130011 LAUNCHER US_START_UP : http://a/");
    EXPECT_EQ(TraceText(30188, L"[%ls]-[%uMb/%uMb, %.2fsec]", L"CRQBLMain()", 12u, 12u, 0.0),
              L"30188 [CRQBLMain()]-[12Mb/12Mb, 0.00sec]");
}

TEST(TraceText, LongMessageIsCutInsideTheBuffer) {
    std::wstring strLong(10000, L'x');
    std::wstring strText = TraceText(7, L"%ls", strLong.c_str());
    EXPECT_EQ(strText.size(), static_cast<size_t>(CRQBLLogTraceNum::TEXT_BUFFER_CHARS - 1));
    EXPECT_EQ(strText.substr(0, 4), L"7 xx");
}

TEST(TraceLevels, OnlyLevelsOneToFourHaveKinds) {
    EXPECT_EQ(CRQBLLogTraceNum::LevelToKind(0), -1);
    EXPECT_EQ(CRQBLLogTraceNum::LevelToKind(1), 0);
    EXPECT_EQ(CRQBLLogTraceNum::LevelToKind(4), 3);
    EXPECT_EQ(CRQBLLogTraceNum::LevelToKind(5), -1);
}

TEST(LogFileNames, DateAndTimeArePaddedToFixedWidth) {
    EXPECT_EQ(CRQBLLog::BuildBaseName(L"LAUNCHER_", MakeTime(2026, 1, 2, 3, 4, 5)),
              L"LAUNCHER_20260102_030405");
    EXPECT_EQ(CRQBLLog::BuildBaseName(L"LAUNCHER_", MakeTime(2026, 12, 7, 23, 53, 44)),
              L"LAUNCHER_20261207_235344");
    // A prefix that leaves no room for the time stamp is refused, not cut.
    EXPECT_TRUE(
        CRQBLLog::BuildBaseName(std::wstring(250, L'p').c_str(), MakeTime(2026, 1, 2, 3, 4, 5)).empty());
}

class LogObjectTest : public ::testing::Test {
protected:
    RQTestTempDir m_dir;
};

TEST_F(LogObjectTest, WriteBeforeStartReturnsFalseAndLeavesNoFile) {
    CRQBLLog log(RQBLLogKey());
    EXPECT_FALSE(log.Write(0, false, L"x", false));
    EXPECT_FALSE(fs::exists("Log"));
}

TEST_F(LogObjectTest, StartCreatesFiveFilesAndRegistersTheLogFile) {
    CRQBLLog log(RQBLLogKey());
    ASSERT_TRUE(log.Start(L"Log", L"LAUNCHER_", 0));
    std::wstring strBase = CRQBLLog::BuildBaseName(L"LAUNCHER_", log.GetFileTime());
    for (const char* ext : {".err", ".nts", ".log", ".dbg", ".htm"}) {
        EXPECT_TRUE(fs::exists(fs::path("Log") / (fs::path(strBase).string() + ext))) << ext;
    }
    std::vector<std::wstring> vecCrash = RQBLCrashLogFiles();
    ASSERT_FALSE(vecCrash.empty());
    EXPECT_EQ(vecCrash.back(), log.BuildLogFilePath(log.GetFileTime(), L".log"));
}

TEST_F(LogObjectTest, PlainLinesGoToTheirSinksWithPrefixAndTimeStamp) {
    CRQBLLog log(RQBLLogKey());
    ASSERT_TRUE(log.Start(L"Log", nullptr, 0));  // null prefix means "Log"
    ASSERT_TRUE(log.Write(0, false, L"130011 NO CDN", false));
    ASSERT_TRUE(log.Write(2, false, L"net line", false));
    ASSERT_TRUE(log.Write(1, false, L"notice", false));
    log.CloseAll();

    auto logs = LogFiles(".log");
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0].filename().string().substr(0, 3), "Log");
    std::string strLog = FileText(logs[0]);
    std::regex re(
        "\\[ERR\\]\\[\\d\\d:\\d\\d:\\d\\d\\] 130011 NO CDN\r\n"
        "\\[NET\\]\\[\\d\\d:\\d\\d:\\d\\d\\] net line\r\n"
        "\\[NTS\\]\\[\\d\\d:\\d\\d:\\d\\d\\] notice\r\n");
    EXPECT_TRUE(std::regex_match(strLog, re)) << strLog;

    std::string strErr = FileText(LogFiles(".err")[0]);
    EXPECT_TRUE(std::regex_match(strErr, std::regex("\\[\\d\\d:\\d\\d:\\d\\d\\] 130011 NO CDN\r\n")))
        << strErr;
    std::string strNts = FileText(LogFiles(".nts")[0]);
    EXPECT_NE(strNts.find("notice"), std::string::npos);
    EXPECT_EQ(strNts.find("net line"), std::string::npos);  // network lines have no own file
    EXPECT_TRUE(FileText(LogFiles(".dbg")[0]).empty());
    std::string strHtm = FileText(LogFiles(".htm")[0]);
    EXPECT_NE(strHtm.find("<font color=red>["), std::string::npos);
    EXPECT_NE(strHtm.find("<font color=blue>["), std::string::npos);
    EXPECT_NE(strHtm.find("</font><br>"), std::string::npos);
}

TEST_F(LogObjectTest, EncipheredLinesLeaveThePlainFilesEmpty) {
    CRQBLLog log(RQBLLogKey());
    ASSERT_TRUE(log.Start(L"Log", L"LAUNCHER_", 0));
    ASSERT_TRUE(log.Write(0, true, L"secret", true));
    log.CloseAll();
    EXPECT_TRUE(FileText(LogFiles(".err")[0]).empty());
    EXPECT_TRUE(FileText(LogFiles(".htm")[0]).empty());
    EXPECT_FALSE(FileText(LogFiles(".log")[0]).empty());
}

TEST_F(LogObjectTest, AVeryLongLineIsWrittenWhole) {
    CRQBLLog log(RQBLLogKey());
    ASSERT_TRUE(log.Start(L"Log", L"L_", 0));
    std::wstring strText(4095, L'a');
    ASSERT_TRUE(log.Write(1, false, strText.c_str(), false));
    log.CloseAll();
    std::string strLog = FileText(LogFiles(".log")[0]);
    EXPECT_EQ(strLog.size(), std::string("[NTS][00:00:00] ").size() + 4095 + 2);
}

TEST_F(LogObjectTest, SecondStartInTheSameSecondWaitsForTheNextTimeStamp) {
    CRQBLLog first(RQBLLogKey());
    ASSERT_TRUE(first.Start(L"Log", L"LAUNCHER_", 0));
    CRQBLLog second(RQBLLogKey());
    second.SetStartRetryDelay(1100);  // long enough for the clock to move on
    // The second start fails on the first set's file names only when it falls in
    // the same second; either way it must end with a set of its own.
    ASSERT_TRUE(second.Start(L"Log", L"LAUNCHER_", 0));
    EXPECT_NE(CRQBLLog::BuildBaseName(L"LAUNCHER_", first.GetFileTime()),
              CRQBLLog::BuildBaseName(L"LAUNCHER_", second.GetFileTime()));
    EXPECT_EQ(LogFiles(".log").size(), 2u);
}

TEST_F(LogObjectTest, AHeldFileIsNotEmptiedByAFailedOpen) {
    CRQBLLog first(RQBLLogKey());
    ASSERT_TRUE(first.Start(L"Log", L"LAUNCHER_", 0));
    ASSERT_TRUE(first.Write(1, false, L"keep me", false));
    CRQBLFile stream;
    CRQBLLog second(RQBLLogKey());
    ASSERT_TRUE(fs::exists("Log"));
    // Same names as the first set: the deny-write sharing refuses the open.
    EXPECT_FALSE(first.OpenLogFile(first.GetFileTime(), stream, L".log"));
    EXPECT_EQ(stream.Get(), nullptr);
    first.CloseAll();
    EXPECT_NE(FileText(LogFiles(".log")[0]).find("keep me"), std::string::npos);
}

TEST_F(LogObjectTest, RotationRules) {
    CRQBLLog log(RQBLLogKey());
    ASSERT_TRUE(log.Start(L"Log", L"R_", 1));
    RQBL_DATETIME started = log.GetFileTime();

    // Same day, hour + 1 > hour now: kept.
    RQBL_DATETIME same = started;
    log.CheckRotation(same);
    EXPECT_EQ(CRQBLLog::BuildBaseName(L"R_", log.GetFileTime()), CRQBLLog::BuildBaseName(L"R_", started));

    // Another day of the month: rotated to the new time stamp.
    RQBL_DATETIME nextDay = MakeTime(2031, 5, started.byDay == 28 ? 1 : started.byDay + 1, 0, 10, 0);
    log.CheckRotation(nextDay);
    EXPECT_EQ(CRQBLLog::BuildBaseName(L"R_", log.GetFileTime()), CRQBLLog::BuildBaseName(L"R_", nextDay));
    EXPECT_TRUE(log.IsLogFileOpen());

    // Same day, one hour later: hour + 1 is not greater, so it rotates.
    RQBL_DATETIME later = nextDay;
    later.byHour = 1;
    log.CheckRotation(later);
    EXPECT_EQ(CRQBLLog::BuildBaseName(L"R_", log.GetFileTime()), CRQBLLog::BuildBaseName(L"R_", later));
    // 59 minutes into the same hour: kept.
    RQBL_DATETIME sameHour = later;
    sameHour.byMinute = 59;
    log.CheckRotation(sameHour);
    EXPECT_EQ(CRQBLLog::BuildBaseName(L"R_", log.GetFileTime()), CRQBLLog::BuildBaseName(L"R_", later));
    log.CloseAll();
    EXPECT_EQ(LogFiles(".log").size(), 3u);
}

TEST_F(LogObjectTest, ZeroHoursNeverRotatesEvenAcrossMidnight) {
    CRQBLLog log(RQBLLogKey());
    ASSERT_TRUE(log.Start(L"Log", L"Z_", 0));
    RQBL_DATETIME started = log.GetFileTime();
    log.CheckRotation(MakeTime(2040, 1, started.byDay == 28 ? 1 : started.byDay + 1, 0, 0, 7));
    EXPECT_EQ(CRQBLLog::BuildBaseName(L"Z_", log.GetFileTime()), CRQBLLog::BuildBaseName(L"Z_", started));
    log.CloseAll();
    EXPECT_EQ(LogFiles(".log").size(), 1u);
}

TEST_F(LogObjectTest, AFileReopenedAloneCarriesTheTimeStampOfItsLine) {
    CRQBLLog log(RQBLLogKey());
    ASSERT_TRUE(log.Start(L"Log", L"S_", 0));
    RQBL_DATETIME started = log.GetFileTime();
    // Make the .dbg file unavailable by closing everything and reopening
    // through the rotation check with a later time.
    log.CloseAll();
    RQBL_DATETIME later = started;
    later.wYear = static_cast<uint16_t>(started.wYear + 1);
    log.CheckRotation(later);  // kept (0 hours): every null stream is opened with "now"
    EXPECT_TRUE(log.IsLogFileOpen());
    EXPECT_EQ(CRQBLLog::BuildBaseName(L"S_", log.GetFileTime()), CRQBLLog::BuildBaseName(L"S_", started));
    log.CloseAll();
    EXPECT_TRUE(fs::exists(log.BuildLogFilePath(later, L".log")));
    EXPECT_EQ(RQBLCrashLogFiles().back(), log.BuildLogFilePath(later, L".log"));
}

TEST_F(LogObjectTest, ExistingFolderIsUsedAndAnUncreatableOneFailsTheStart) {
    fs::create_directory("Log");
    CRQBLLog log(RQBLLogKey());
    EXPECT_TRUE(log.Start(L"Log", L"E_", 0));
    log.CloseAll();
    RQTestTempDir::WriteAll("NotAFolder", "x");
    CRQBLLog other(RQBLLogKey());
    EXPECT_FALSE(other.Start(L"NotAFolder", L"E_", 0));
    EXPECT_FALSE(other.IsLogFileOpen());
}

TEST(LogSink, SeesTagLevelAndTextOfTracedLines) {
    RQTestLogCapture capture;
    RQ_LOG(capture, L"CRQBLHttp::Open", RQ_LOG_ERR).Trace(10081, L"InternetOpen Fail");
    RQ_LOG(capture, L"X::Y", 9).Trace(1, L"no kind, not traced");
    ASSERT_EQ(capture.Lines().size(), 1u);
    EXPECT_EQ(capture.Lines()[0], (RQTestLogLine{L"CRQBLHttp::Open", 1, L"10081 InternetOpen Fail"}));
}
