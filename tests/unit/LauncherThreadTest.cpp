// The update worker's state machine, driven tick by tick with a scripted
// downloader and a link that records what the window and the player would see.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "RQTestLogCapture.h"
#include "RQTestPatchScript.h"
#include "RQTestTempDir.h"
#include "RQTestWorkerKit.h"
#include "baselib/RQBLDownloadTemp.h"
#include "baselib/RQBLPlatform.h"
#include "baselib/RQBLStreamCrc.h"
#include "launcher/RQLauncherGlobals.h"

namespace fs = std::filesystem;
using rqtest::CLinkEvent;
using Worker = rqtest::CTestWorker;

namespace {

const std::wstring kCdn = L"http://cdn.test/LIVE/";
const std::wstring kTag = L"CRQLauncherThread::ThreadLoop";
const std::wstring kNotFound = L"アップデートファイルが見つかりませんでした。 PATCHER_CODE.LUA";
const std::wstring kDiskFull = L"ハードディスクの容量が不足しています。";
const std::wstring kUpdateFailed = L"アップデート失敗。再度お試しください。 ";

using Entry = rqtest::CPatchEntry;

std::string MakeScript(const std::vector<Entry>& entries) {
    return rqtest::MakePatchScript(entries);
}

std::string Body(size_t n, char c) {
    std::string s(n, c);
    for (size_t i = 0; i < n; i += 7) {
        s[i] = static_cast<char>(i * 31);
    }
    return s;
}

std::wstring Wide(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

class LauncherThread : public ::testing::Test {
protected:
    void SetUp() override {
        g_strCdnAddress = kCdn;
        m_pRecord = std::make_shared<rqtest::CLinkRecord>();
        m_pScript = std::make_shared<rqtest::CDownloaderScript>();
    }
    void Restart() {
        m_pWorker.reset();
        SetUp();
        m_log.Clear();
    }
    void TearDown() override {
        m_pWorker.reset();
        g_strCdnAddress.clear();
    }

    // Serves the script listing the entries and each entry's body.
    void ServeUpdate(const std::vector<Entry>& entries) {
        ServeScript(MakeScript(entries));
        for (const Entry& e : entries) {
            Serve(Wide(e.strPath + e.strName)).strBody = e.strBody;
        }
    }
    void ServeScript(const std::string& strLua) { Serve(L"PATCHER_CODE.LUA").strBody = strLua; }
    rqtest::CScriptedFile& Serve(const std::wstring& strUrlPath) {
        return m_pScript->mapFiles[kCdn + strUrlPath];
    }
    static void PutLocal(const std::string& strRel, const std::string& strData) {
        RQTestTempDir::WriteAll(fs::path(strRel), strData);
    }
    static std::string Local(const std::string& strRel) {
        std::vector<char> v = RQTestTempDir::ReadAll(fs::path(strRel));
        return std::string(v.begin(), v.end());
    }

    Worker& MakeWorker() {
        m_pWorker = std::make_unique<Worker>(std::make_unique<rqtest::CScriptedDownloader>(m_pScript),
                                             std::make_unique<rqtest::CRecordingLink>(m_pRecord));
        return *m_pWorker;
    }
    // Ticks until the US_CLOSE tick has run; returns the states the ticks
    // started in, repetitions folded.
    std::vector<int32_t> Run(int nMaxTicks = 200) {
        if (!m_pWorker) {
            MakeWorker();
        }
        std::vector<int32_t> states;
        for (int i = 0; i < nMaxTicks; ++i) {
            int32_t n = m_pWorker->GetUpdateState();
            if (states.empty() || states.back() != n) {
                states.push_back(n);
            }
            m_pWorker->Tick();
            if (n == Worker::US_CLOSE) {
                break;
            }
        }
        return states;
    }
    std::vector<std::wstring> Begins() { return m_pScript->Calls(L"Begin"); }
    std::wstring Begin(const std::wstring& strUrlPath, const std::wstring& strLocal) {
        return kCdn + strUrlPath + L" -> ./" + strLocal;
    }
    static std::wstring Native(std::wstring s) {
        for (wchar_t& c : s) {
            if (c == L'/') {
                c = rqbl::PathSeparator();
            }
        }
        return s;
    }

    RQTestTempDir m_dir;
    RQTestLogCapture m_log;
    std::shared_ptr<rqtest::CLinkRecord> m_pRecord;
    std::shared_ptr<rqtest::CDownloaderScript> m_pScript;
    std::unique_ptr<Worker> m_pWorker;
};

const std::vector<int32_t> kFullPath = {Worker::US_START_UP, Worker::US_PATCHER_CRC_DOWNLOAD,
                                        Worker::US_PATCHER_FILE_DOWNLOAD, Worker::US_UPDATE_END,
                                        Worker::US_CLOSE};

}  // namespace

TEST_F(LauncherThread, ConstructionOpensTheSessionAndDestructionClosesIt) {
    MakeWorker();
    EXPECT_EQ(m_pScript->Calls(L"Open").size(), 1u);
    EXPECT_EQ(m_pWorker->GetUpdateState(), Worker::US_START_UP);
    m_pWorker.reset();
    EXPECT_EQ(m_pScript->Calls(L"Close").size(), 1u);
}

TEST_F(LauncherThread, NothingToFetchGoesStraightToTheEnd) {
    std::string strScript = MakeScript({{"", "a.dat", "aaa"}, {"data/", "b.dat", Body(5000, 'b')}});
    strScript += std::string(150000, '-');  // a comment long enough for two blocks
    strScript.insert(strScript.size() - 150000, "\n--");
    ServeScript(strScript);
    PutLocal("a.dat", "aaa");
    PutLocal("data/b.dat", Body(5000, 'b'));

    EXPECT_EQ(Run(), (std::vector<int32_t>{Worker::US_START_UP, Worker::US_PATCHER_CRC_DOWNLOAD,
                                           Worker::US_UPDATE_END, Worker::US_CLOSE}));
    // 2026 once with the script's KiB, 2027 after each block but the last, 2028; no 2025.
    const int64_t kiB = static_cast<int64_t>(strScript.size() >> 10);
    ASSERT_EQ(m_pRecord->Messages(), (std::vector<uint32_t>{2026, 2027, 2027, 2028}));
    EXPECT_EQ(m_pRecord->Params(2026)[0], (std::pair<uint64_t, int64_t>{0, kiB}));
    EXPECT_EQ(m_pRecord->Params(2027)[0], (std::pair<uint64_t, int64_t>{100, kiB}));
    EXPECT_EQ(m_pRecord->Params(2027)[1], (std::pair<uint64_t, int64_t>{static_cast<uint64_t>(kiB), kiB}));
    EXPECT_EQ(m_pRecord->Params(2028)[0], (std::pair<uint64_t, int64_t>{0, 0}));
    EXPECT_EQ(Begins(), std::vector<std::wstring>{Begin(L"PATCHER_CODE.LUA", L"PATCHER_CODE.LUA")});
    EXPECT_TRUE(m_pScript->Calls(L"Info").empty());
    EXPECT_TRUE(m_pWorker->IsStopRequested());  // US_CLOSE stops the worker
    EXPECT_EQ(m_log.Texts(kTag), (std::vector<std::wstring>{
                                     L"130011 LAUNCHER US_START_UP : " + kCdn,
                                     L"130011 LAUNCHER US_PATCHER_CRC_DOWNLOAD DOWNLOAD_SUCCEEDED",
                                     L"130011 LAUNCHER US_UPDATE_END",
                                     L"130011 LAUNCHER US_CLOSE",
                                 }));
    for (const RQTestLogLine& line : m_log.Lines()) {
        EXPECT_EQ(line.nLevel, 2);
    }
}

TEST_F(LauncherThread, MissingStaleAndCurrentFilesInTheMapsOrder) {
    std::vector<Entry> entries = {
        {"", "zero.dat", ""},                    // missing, size 0: still fetched
        {"data/", "size.dat", Body(3000, 's')},  // local size differs
        {"data/", "crc.dat", Body(4000, 'c')},   // same size, other content
        {"", "B.DAT", "current"},                // current
    };
    ServeUpdate(entries);
    PutLocal("data/size.dat", Body(3000, 's') + "x");
    PutLocal("data/crc.dat", Body(4000, 'C'));
    PutLocal("B.DAT", "current");

    EXPECT_EQ(Run(), kFullPath);
    // Ordered by file name (code unit order): B.DAT, crc.dat, size.dat, zero.dat.
    EXPECT_EQ(Begins(), (std::vector<std::wstring>{
                            Begin(L"PATCHER_CODE.LUA", L"PATCHER_CODE.LUA"),
                            Begin(L"data/crc.dat", Native(L"data/crc.dat")),
                            Begin(L"data/size.dat", Native(L"data/size.dat")),
                            Begin(L"zero.dat", L"zero.dat"),
                        }));
    EXPECT_EQ(
        m_pScript->Calls(L"Info"),
        (std::vector<std::wstring>{kCdn + L"data/crc.dat", kCdn + L"data/size.dat", kCdn + L"zero.dat"}));
    EXPECT_TRUE(fs::exists("zero.dat"));
    EXPECT_EQ(Local("data/size.dat"), Body(3000, 's'));
    EXPECT_EQ(Local("data/crc.dat"), Body(4000, 'c'));
    // Script: range, one block. Files: the new range, two steps each for the
    // two small files and one for the empty one, the full bar, the end.
    EXPECT_EQ(m_pRecord->Messages(),
              (std::vector<uint32_t>{2026, 2027, 2026, 2027, 2027, 2027, 2027, 2027, 2025, 2028}));
    EXPECT_TRUE(m_pRecord->Boxes().empty());
    EXPECT_EQ(m_log.Texts(kTag)[2], L"130011 LAUNCHER US_PATCHER_FILE_DOWNLOAD");
}

TEST_F(LauncherThread, TheEntrysSizeAndCrcGoWithEveryFileBegin) {
    ServeUpdate({{"", "a.dat", "new content"}});
    EXPECT_EQ(Run(), kFullPath);
    std::lock_guard<std::mutex> lock(m_pScript->mutex);
    std::vector<rqtest::CDownloaderCall> begins;
    for (const auto& c : m_pScript->vecCalls) {
        if (c.strWhat == L"Begin") {
            begins.push_back(c);
        }
    }
    ASSERT_EQ(begins.size(), 2u);
    EXPECT_FALSE(begins[0].bHasCheck);  // the script has no entry of its own
    ASSERT_TRUE(begins[1].bHasCheck);
    EXPECT_EQ(begins[1].check.ullFileSize, 11u);
    EXPECT_EQ(begins[1].check.dwCRC, CRQBLStreamCrc::Of("new content", 11));
}

TEST_F(LauncherThread, RefusedScriptShowsTheNotFoundBoxAndClosesTheWindow) {
    for (int32_t r : {DOWNLOAD_NOT_FOUND, DOWNLOAD_SERVER_ERROR, DOWNLOAD_OPEN_URL_FAILED}) {
        Restart();
        Serve(L"PATCHER_CODE.LUA").vecBeginResults = {r};
        EXPECT_EQ(Run(), (std::vector<int32_t>{Worker::US_START_UP, Worker::US_CLOSE}));
        std::vector<CLinkEvent> events = m_pRecord->Events();
        ASSERT_EQ(events.size(), 3u);
        EXPECT_EQ(events[0].kind, CLinkEvent::BOX);
        EXPECT_EQ(events[0].strText, kNotFound);
        EXPECT_EQ(events[1].nMessage, RQ_WM_CLOSE);  // after the player closed the box
        EXPECT_EQ(events[2].nMessage, WM_RQ_UPDATE_DONE);
        std::vector<RQTestLogLine> lines = m_log.Lines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[1],
                  (RQTestLogLine{kTag, 1, L"130011 LAUNCHER US_START_UP fail " + std::to_wstring(r)}));
    }
}

TEST_F(LauncherThread, ScriptOnAFullDiskShowsTheDiskBox) {
    Serve(L"PATCHER_CODE.LUA").vecBeginResults = {DOWNLOAD_DISK_FULL};
    EXPECT_EQ(Run(), (std::vector<int32_t>{Worker::US_START_UP, Worker::US_CLOSE}));
    EXPECT_EQ(m_pRecord->Boxes(), std::vector<std::wstring>{kDiskFull});
    EXPECT_EQ(m_pRecord->Messages(), (std::vector<uint32_t>{16, 2028}));
    EXPECT_EQ(m_log.Texts(kTag)[1], L"130011 LAUNCHER US_START_UP fail 10");
}

TEST_F(LauncherThread, ScriptTransferThatBreaksOffEndsLikeAScriptThatCannotBeFetched) {
    ServeScript(MakeScript({}) + "--" + std::string(300000, 'x'));
    Serve(L"PATCHER_CODE.LUA").nFailAtStep = 1;
    EXPECT_EQ(Run(20),
              (std::vector<int32_t>{Worker::US_START_UP, Worker::US_PATCHER_CRC_DOWNLOAD, Worker::US_CLOSE}));
    EXPECT_EQ(m_pScript->Calls(L"Downloading").size(), 2u);  // no reads after the failure
    EXPECT_EQ(m_pRecord->Messages(), (std::vector<uint32_t>{2026, 2027, 2027, 16, 2028}));
    EXPECT_EQ(m_pRecord->Boxes(), std::vector<std::wstring>{kNotFound});
    EXPECT_EQ(m_log.Lines()[1],
              (RQTestLogLine{kTag, 1, L"130011 LAUNCHER US_PATCHER_CRC_DOWNLOAD FAIL : 3"}));
}

TEST_F(LauncherThread, ScriptThatDoesNotRunOrHasNoTableStartsTheGameAsItIs) {
    for (const char* pszLua : {"this is not Lua", "OTHER_TABLE = {}", "error('stop')"}) {
        Restart();
        ServeScript(pszLua);
        EXPECT_EQ(Run(), (std::vector<int32_t>{Worker::US_START_UP, Worker::US_PATCHER_CRC_DOWNLOAD,
                                               Worker::US_CLOSE}))
            << pszLua;
        EXPECT_TRUE(m_pRecord->Boxes().empty());
        EXPECT_EQ(m_pRecord->Messages(), (std::vector<uint32_t>{2026, 2027, 2028}));
    }
}

TEST_F(LauncherThread, NineFailedBeginsThenSuccessFetchesTheFile) {
    ServeUpdate({{"", "a.dat", "content"}});
    Serve(L"a.dat").vecBeginResults = std::vector<int32_t>(9, DOWNLOAD_OPEN_URL_FAILED);
    EXPECT_EQ(Run(), kFullPath);
    EXPECT_EQ(m_pRecord->Waits(), std::vector<uint32_t>(9, 1000));
    EXPECT_TRUE(m_pRecord->Boxes().empty());
    EXPECT_EQ(Begins().size(), 1u + 10u);
    EXPECT_EQ(Local("a.dat"), "content");
}

TEST_F(LauncherThread, TenFailedBeginsGiveUpThatFileOnly) {
    ServeUpdate({{"data/", "a.dat", "aaa"}, {"", "b.dat", "bbb"}});
    Serve(L"data/a.dat").vecBeginResults = std::vector<int32_t>(10, DOWNLOAD_SERVER_ERROR);
    EXPECT_EQ(Run(), kFullPath);
    EXPECT_EQ(m_pRecord->Waits(), std::vector<uint32_t>(10, 1000));
    EXPECT_EQ(m_pRecord->Boxes(), std::vector<std::wstring>{kUpdateFailed + L"data/a.dat"});
    // The box comes after the tenth pause, then the window is told to close;
    // the next file is still fetched and, with no stop requested, the pass ends
    // as usual.
    std::vector<CLinkEvent> events = m_pRecord->Events();
    auto box = std::find_if(events.begin(), events.end(),
                            [](const CLinkEvent& e) { return e.kind == CLinkEvent::BOX; });
    ASSERT_NE(box, events.end());
    EXPECT_EQ((box - 1)->kind, CLinkEvent::WAIT);
    EXPECT_EQ((box + 1)->nMessage, RQ_WM_CLOSE);
    EXPECT_EQ(Local("b.dat"), "bbb");
    EXPECT_FALSE(fs::exists("data/a.dat"));
    EXPECT_EQ(m_pRecord->Messages().back(), 2028u);
    EXPECT_EQ(m_pRecord->Messages()[m_pRecord->Messages().size() - 2], 2025u);
}

TEST_F(LauncherThread, FullDiskDuringTheFilesShowsTheDiskBoxAfterOnePause) {
    ServeUpdate({{"", "a.dat", "aaa"}, {"", "b.dat", "bbb"}});
    Serve(L"a.dat").vecBeginResults = {DOWNLOAD_DISK_FULL};
    EXPECT_EQ(Run(), kFullPath);
    EXPECT_EQ(m_pRecord->Waits(), std::vector<uint32_t>{1000});
    EXPECT_EQ(m_pRecord->Boxes(), std::vector<std::wstring>{kDiskFull});
    EXPECT_FALSE(fs::exists("a.dat"));
    EXPECT_EQ(Local("b.dat"), "bbb");
}

TEST_F(LauncherThread, TransferFailingMidwayMovesOnToTheNextFile) {
    ServeUpdate({{"", "a.dat", Body(300000, 'a')}, {"", "b.dat", "bbb"}});
    PutLocal("a.dat", "old a");
    Serve(L"a.dat").nFailAtStep = 1;
    // The pass still ends in US_UPDATE_END (US_CLOSE, set by the failure, is overwritten).
    EXPECT_EQ(Run(), kFullPath);
    EXPECT_EQ(Local("a.dat"), "old a");
    EXPECT_EQ(Local("b.dat"), "bbb");
    EXPECT_TRUE(m_pRecord->Boxes().empty());
    EXPECT_EQ(m_pRecord->Messages(), (std::vector<uint32_t>{2026, 2027, 2026, 2027, 2027, 2027, 2025, 2028}));
}

TEST_F(LauncherThread, StopDuringTheSizePassEndsItAndBeginsNoFile) {
    ServeUpdate({{"", "a.dat", Body(300000, 'a')}, {"", "b.dat", Body(300000, 'b')}, {"", "c.dat", "ccc"}});
    m_pScript->onCall = [this](const rqtest::CDownloaderCall& call) {
        if (call.strWhat == L"Info" && call.strUrl == kCdn + L"b.dat") {
            m_pWorker->RequestStop();
        }
    };
    MakeWorker();
    for (int i = 0; i < 3; ++i) {
        m_pWorker->Tick();  // begin, one block, the rest and the list
    }
    ASSERT_EQ(m_pWorker->GetUpdateState(), Worker::US_PATCHER_FILE_DOWNLOAD);
    m_pWorker->Tick();
    EXPECT_EQ(m_pScript->Calls(L"Info"), (std::vector<std::wstring>{kCdn + L"a.dat", kCdn + L"b.dat"}));
    // No file is begun after the stop (only the script was); the tick then
    // ends without 2025 and without leaving the state.
    EXPECT_EQ(Begins().size(), 1u);
    EXPECT_EQ(m_pScript->Calls(L"Downloading").size(), 2u);
    EXPECT_EQ(m_pWorker->GetUpdateState(), Worker::US_PATCHER_FILE_DOWNLOAD);
    std::vector<uint32_t> messages = m_pRecord->Messages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), 2025u), 0);
    EXPECT_FALSE(fs::exists("a.dat"));
    EXPECT_FALSE(fs::exists("c.dat"));
}

TEST_F(LauncherThread, StopDuringTheTransferPassBeginsNoFurtherFile) {
    ServeUpdate({{"", "a.dat", Body(300000, 'a')}, {"", "b.dat", Body(300000, 'b')}});
    Serve(L"b.dat").vecBeginResults = {DOWNLOAD_OPEN_URL_FAILED, DOWNLOAD_OPEN_URL_FAILED};
    m_pScript->onCall = [this](const rqtest::CDownloaderCall& call) {
        if (call.strWhat == L"Downloading" &&
            m_pWorker->GetUpdateState() == Worker::US_PATCHER_FILE_DOWNLOAD) {
            m_pWorker->RequestStop();
        }
    };
    MakeWorker();
    for (int i = 0; i < 10 && !m_pWorker->IsStopRequested(); ++i) {
        m_pWorker->Tick();
    }
    EXPECT_EQ(m_pScript->Calls(L"Info").size(), 2u);
    // The script and a.dat, which received one block; b.dat is never begun.
    EXPECT_EQ(Begins().size(), 1u + 1u);
    EXPECT_EQ(m_pScript->Calls(L"Downloading").size(), 2u + 1u);
    EXPECT_TRUE(m_pRecord->Waits().empty());
    EXPECT_EQ(m_pWorker->GetUpdateState(), Worker::US_PATCHER_FILE_DOWNLOAD);
    std::vector<uint32_t> messages = m_pRecord->Messages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), 2025u), 0);
}

TEST_F(LauncherThread, ProgressBarCountsOverAllFilesAgainstTheirTotal) {
    ServeUpdate(
        {{"", "a.dat", Body(250000, 'a')}, {"", "b.dat", Body(150000, 'b')}, {"", "c.dat", Body(3000, 'c')}});
    // The server names no size for b.dat: its entry's size counts instead.
    Serve(L"b.dat").bInfoFails = true;
    EXPECT_EQ(Run(), kFullPath);
    const int64_t total = (250000 + 150000 + 3000) >> 10;
    std::vector<std::pair<uint64_t, int64_t>> ranges = m_pRecord->Params(2026);
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[1], (std::pair<uint64_t, int64_t>{0, total}));
    std::vector<std::pair<uint64_t, int64_t>> steps = m_pRecord->Params(2027);
    ASSERT_FALSE(steps.empty());
    steps.erase(steps.begin());  // the script's own block
    std::vector<uint64_t> positions;
    for (const auto& p : steps) {
        EXPECT_EQ(p.second, total);
        positions.push_back(p.first);
    }
    // a.dat: 100, 200, 244, 244 KiB; b.dat on top: +100, +146, +146; c.dat: +2, +2.
    EXPECT_EQ(positions, (std::vector<uint64_t>{100, 200, 244, 244, 344, 390, 390, 393, 393}));
}

TEST_F(LauncherThread, ServerSizeThatDisagreesWithTheEntryCountsInTheTotal) {
    ServeUpdate({{"", "a.dat", Body(10240, 'a')}});
    Serve(L"a.dat").strBody = Body(20480, 'a');  // the server's file is larger than its entry
    Run();
    EXPECT_EQ(m_pRecord->Params(2026)[1], (std::pair<uint64_t, int64_t>{0, 20}));
}

TEST_F(LauncherThread, PathsOutsideTheGameFolderAreRefusedAndSkipped) {
    const std::vector<std::string> bad = {"../evil.dll", "C:\\evil.dll", "/etc/evil", "data/../../evil",
                                          "CON",         "nul.txt",      "a:b",       "bad\r\nname",
                                          "trail.",      "trail ",       "x/./y",     "w*.dll"};
    std::vector<Entry> entries;
    for (size_t i = 0; i < bad.size(); ++i) {
        entries.push_back({"", bad[i], "evil"});
    }
    entries.push_back({"new/deep/", "good.dat", "good"});
    ServeUpdate(entries);
    EXPECT_EQ(Run(), kFullPath);
    EXPECT_EQ(Begins(),
              (std::vector<std::wstring>{Begin(L"PATCHER_CODE.LUA", L"PATCHER_CODE.LUA"),
                                         Begin(L"new/deep/good.dat", Native(L"new/deep/good.dat"))}));
    // Missing folders of a listed file are created.
    EXPECT_EQ(Local("new/deep/good.dat"), "good");
    std::vector<std::wstring> refused;
    for (const RQTestLogLine& line : m_log.Lines()) {
        if (line.strText.find(L"REFUSED") != std::wstring::npos) {
            EXPECT_EQ(line.nLevel, 1);
            EXPECT_EQ(line.strTag, kTag);
            refused.push_back(line.strText);
        }
    }
    ASSERT_EQ(refused.size(), bad.size());
    EXPECT_NE(std::find(refused.begin(), refused.end(), L"130011 LAUNCHER PATCH PATH REFUSED : ../evil.dll"),
              refused.end());
    EXPECT_NE(std::find(refused.begin(), refused.end(), L"130011 LAUNCHER PATCH PATH REFUSED : bad??name"),
              refused.end());
    EXPECT_FALSE(fs::exists(m_dir.Path().parent_path() / "evil.dll"));
}

TEST_F(LauncherThread, NamesAreEscapedInTheUrlOnly) {
    ServeScript(MakeScript({{"my data/", "a b%.dat", "x"}}));
    Serve(L"my%20data/a%20b%25.dat").strBody = "x";
    EXPECT_EQ(Run(), kFullPath);
    EXPECT_EQ(Begins()[1], Begin(L"my%20data/a%20b%25.dat", Native(L"my data/a b%.dat")));
    EXPECT_EQ(Local("my data/a b%.dat"), "x");
}

TEST_F(LauncherThread, LeftoversOfAKilledRunAreSweptAtStart) {
    PutLocal("a.dat.rqpart", "half");
    PutLocal("data/b.dat.rqpart", "half");
    PutLocal("data/b.dat", "keep");
    ServeScript(MakeScript({}));
    MakeWorker().Tick();
    EXPECT_FALSE(fs::exists("a.dat.rqpart"));
    EXPECT_FALSE(fs::exists("data/b.dat.rqpart"));
    EXPECT_EQ(Local("data/b.dat"), "keep");
}

TEST_F(LauncherThread, RunsOnItsOwnThreadAndStopsItself) {
    ServeUpdate({{"", "a.dat", Body(250000, 'a')}, {"sub/", "b.dat", "bbb"}});
    MakeWorker();
    ASSERT_TRUE(m_pWorker->ThreadBegin(-1));
    bool bDone = false;
    for (int i = 0; i < 1000 && !bDone; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::vector<uint32_t> messages = m_pRecord->Messages();
        bDone = !messages.empty() && messages.back() == WM_RQ_UPDATE_DONE;
    }
    ASSERT_TRUE(bDone);
    m_pWorker.reset();  // waits for the thread's end
    EXPECT_EQ(Local("a.dat"), Body(250000, 'a'));
    EXPECT_EQ(Local("sub/b.dat"), "bbb");
    EXPECT_EQ(m_pScript->Calls(L"Close").size(), 1u);
}
