// The update worker's state machine, driven tick by tick against a server in
// memory, with a link that records what the window and the player would see.
#include "RQTestWorkerFixture.h"

// The fixture's helpers, constants and fs alias.
using namespace rqtest;

namespace {

class LauncherThread : public rqtest::CWorkerFixture {};

}  // namespace

TEST_F(LauncherThread, NothingToFetchGoesStraightToTheEnd) {
    std::string strScript = MakeScript({{"", "a.dat", "aaa"}, {"data/", "b.dat", Body(5000, 'b')}});
    strScript += "\n--" + std::string(150000, '-');  // a comment long enough for a few blocks
    ServeScript(strScript);
    PutLocal("a.dat", "aaa");
    PutLocal("data/b.dat", Body(5000, 'b'));

    EXPECT_EQ(Run(), (std::vector<int32_t>{Worker::US_START_UP, Worker::US_PATCHER_CRC_DOWNLOAD,
                                           Worker::US_UPDATE_END, Worker::US_CLOSE}));
    // 2026 once with the script's KiB, then positions, then 2028; no 2025.
    const int64_t kiB = static_cast<int64_t>(strScript.size() >> 10);
    std::vector<uint32_t> messages = Messages();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages.front(), 2026u);
    EXPECT_EQ(messages.back(), 2028u);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), 2025u), 0);
    EXPECT_EQ(m_pRecord->Params(2026)[0], (std::pair<uint64_t, int64_t>{0, kiB}));
    EXPECT_EQ(m_pRecord->Params(2028)[0], (std::pair<uint64_t, int64_t>{0, 0}));
    EXPECT_EQ(Requests(), std::vector<std::wstring>{L"PATCHER_CODE.LUA"});
    EXPECT_TRUE(m_pWorker->IsStopRequested());  // US_CLOSE stops the worker
    EXPECT_EQ(Untimed(m_log.Texts(kTag)),
              (std::vector<std::wstring>{
                  L"130011 LAUNCHER US_START_UP : " + kCdn,
                  L"130011 LAUNCHER US_PATCHER_CRC_DOWNLOAD DOWNLOAD_SUCCEEDED",
                  L"130011 LAUNCHER CHECK : 2 files, 0 by the record, 2 read (0 MiB)",
                  L"130011 LAUNCHER US_UPDATE_END",
                  L"130011 LAUNCHER US_CLOSE",
              }));
    for (const RQTestLogLine& line : m_log.Lines()) {
        EXPECT_EQ(line.nLevel, 2);
    }
}

TEST_F(LauncherThread, MissingStaleAndCurrentFiles) {
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
    std::vector<std::wstring> requests = Requests();
    std::sort(requests.begin(), requests.end());
    EXPECT_EQ(requests, (std::vector<std::wstring>{L"PATCHER_CODE.LUA", L"data/crc.dat", L"data/size.dat",
                                                   L"zero.dat"}));
    EXPECT_TRUE(fs::exists("zero.dat"));
    EXPECT_EQ(Local("data/size.dat"), Body(3000, 's'));
    EXPECT_EQ(Local("data/crc.dat"), Body(4000, 'c'));
    std::vector<uint32_t> messages = Messages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), 2026u), 2);
    EXPECT_EQ(messages[messages.size() - 2], 2025u);
    EXPECT_EQ(messages.back(), 2028u);
    EXPECT_TRUE(m_pRecord->Boxes().empty());
    // Missing and resized files are not read.
    EXPECT_EQ(CheckLine(m_log.Texts(kTag)),
              L"130011 LAUNCHER CHECK : 4 files, 0 by the record, 2 read (0 MiB)");
    EXPECT_EQ(m_log.Texts(kTag)[3], L"130011 LAUNCHER US_PATCHER_FILE_DOWNLOAD");
}

TEST_F(LauncherThread, ScriptThatCannotBeFetchedShowsTheNotFoundBoxAndClosesTheWindow) {
    struct Case {
        int nStatus;
        int32_t nLogged;
    } cases[] = {{404, DOWNLOAD_NOT_FOUND},
                 {500, DOWNLOAD_SERVER_ERROR},
                 {403, DOWNLOAD_SERVER_ERROR},
                 {503, DOWNLOAD_SERVER_ERROR},
                 {-1, DOWNLOAD_OPEN_URL_FAILED}};
    for (const Case& c : cases) {
        Restart();
        ServeScript("CODE_TABLE = {}").vecStatuses = {c.nStatus};
        EXPECT_EQ(Run(), (std::vector<int32_t>{Worker::US_START_UP, Worker::US_CLOSE})) << c.nStatus;
        std::vector<CLinkEvent> events = m_pRecord->Events();
        ASSERT_EQ(events.size(), 3u) << c.nStatus;
        EXPECT_EQ(events[0].kind, CLinkEvent::BOX);
        // The first line as ever; a line of why follows, except for "not found" itself.
        EXPECT_EQ(events[0].strText.substr(0, events[0].strText.find(L'\n')), kNotFound) << c.nStatus;
        EXPECT_EQ(events[0].strText == kNotFound, c.nStatus == 404) << c.nStatus;
        EXPECT_EQ(events[1].nMessage, RQ_WM_CLOSE);  // after the player closed the box
        EXPECT_EQ(events[2].nMessage, WM_RQ_UPDATE_DONE);
        EXPECT_EQ(m_log.Texts(kTag)[1], L"130011 LAUNCHER US_START_UP fail " + std::to_wstring(c.nLogged))
            << c.nStatus;
        EXPECT_FALSE(fs::exists("PATCHER_CODE.LUA")) << "an error page is never taken for the script";
    }
}

TEST_F(LauncherThread, ScriptTransferThatBreaksOffEndsLikeAScriptThatCannotBeFetched) {
    // Broken off at every one of its tries on the only server.
    ServeScript(MakeScript({}) + "--" + std::string(300000, 'x')).vecCutAt =
        std::vector<size_t>(Worker::SCRIPT_TRIES, 100000);
    EXPECT_EQ(Run(),
              (std::vector<int32_t>{Worker::US_START_UP, Worker::US_PATCHER_CRC_DOWNLOAD, Worker::US_CLOSE}));
    ASSERT_EQ(m_pRecord->Boxes().size(), 1u);
    EXPECT_EQ(m_pRecord->Boxes()[0].find(kNotFound + L"\n"), 0u);
    EXPECT_EQ(Messages().front(), 2026u);
    EXPECT_EQ(Messages().back(), 2028u);
    EXPECT_EQ(m_log.Texts(kTag)[1], L"130011 LAUNCHER US_PATCHER_CRC_DOWNLOAD FAIL : 3");
}

TEST_F(LauncherThread, TheScriptComesWholeFromTheFirstServerThatHasIt) {
    const std::wstring kMirror = L"http://mirror.test/";
    m_settings.vecMirrors = {kMirror};
    ServeScript("CODE_TABLE = {}").vecStatuses = {-1};
    m_pServer->Put(kMirror + L"PATCHER_CODE.LUA", MakeScript({{"", "a.dat", "aaa"}}));
    m_pServer->Put(kMirror + L"a.dat", "aaa");
    Serve(L"a.dat", "aaa").vecStatuses = {503};
    EXPECT_EQ(Run(), kFullPath);
    EXPECT_EQ(Local("a.dat"), "aaa");
    // The content server's own tries first; a file that finds it busy goes
    // to the mirror at once.
    std::vector<std::wstring> expected(Worker::SCRIPT_TRIES, kCdn + L"PATCHER_CODE.LUA");
    expected.insert(expected.end(), {kMirror + L"PATCHER_CODE.LUA", kCdn + L"a.dat", kMirror + L"a.dat"});
    EXPECT_EQ(m_pServer->Urls(), expected);
}

TEST_F(LauncherThread, TheScriptIsTriedAgainAfterAServerErrorAndABusyServerIsWaitedFor) {
    struct Case {
        std::vector<int> vecStatuses;
        std::vector<size_t> vecCutAt;
        const char* pszRetryAfter;
        bool bBusyShown;
    } cases[] = {
        {{500, 0}, {}, "", false},
        {{-1, 0}, {}, "", false},
        {{0}, {100000}, "", false},
        {{503, 0}, {}, "1", true},
    };
    for (const Case& c : cases) {
        Restart();
        fs::remove("a.dat");
        const std::string strScript = MakeScript({{"", "a.dat", "aaa"}}) + "--" + std::string(300000, 'x');
        rqtest::CFakeFile& script = ServeScript(strScript);
        script.vecStatuses = c.vecStatuses;
        script.vecCutAt = c.vecCutAt;
        script.strRetryAfter = c.pszRetryAfter;
        Serve(L"a.dat", "aaa");
        m_settings.dwBusyPatienceMs = 30000;
        EXPECT_EQ(Run(), kFullPath);
        EXPECT_EQ(Local("a.dat"), "aaa");
        EXPECT_TRUE(m_pRecord->Boxes().empty());
        EXPECT_EQ(Requests(),
                  (std::vector<std::wstring>{L"PATCHER_CODE.LUA", L"PATCHER_CODE.LUA", L"a.dat"}));
        bool bBusyShown = false;
        for (const std::wstring& strLine : m_pRecord->Statuses()) {
            bBusyShown = bBusyShown || strLine == L"サーバーが混雑しています。あと 2 秒で再試行します" ||
                         strLine == L"サーバーが混雑しています。あと 1 秒で再試行します";
        }
        EXPECT_EQ(bBusyShown, c.bBusyShown) << c.vecStatuses[0];
        // The bar counts the script once, however many tries it took.
        const int64_t nScriptKiB = static_cast<int64_t>(strScript.size() >> 10);
        EXPECT_EQ(m_pRecord->Params(2026).front(), (std::pair<uint64_t, int64_t>{0, nScriptKiB}));
        for (const CLinkEvent& e : m_pRecord->Events()) {
            if (e.nMessage == 2026 && e.lParam != nScriptKiB) {
                break;  // the files' range: the script's part is over
            }
            EXPECT_TRUE(e.nMessage != 2027 || e.lParam == nScriptKiB) << e.lParam << " KiB";
        }
    }
}

TEST_F(LauncherThread, AContentServerThatIsBusyForTheScriptIsPassedForTheNextMirror) {
    const std::wstring kMirror = L"http://mirror.test/";
    m_settings.vecMirrors = {kMirror};
    m_settings.dwBusyPatienceMs = 30 * 60 * 1000;
    rqtest::CFakeFile& script = ServeScript("CODE_TABLE = {}");
    script.vecStatuses = {503};
    script.strRetryAfter = "600";
    m_pServer->Put(kMirror + L"PATCHER_CODE.LUA", MakeScript({{"", "a.dat", "aaa"}}));
    m_pServer->Put(kMirror + L"a.dat", "aaa");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(), kFullPath);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    EXPECT_EQ(Local("a.dat"), "aaa");
    EXPECT_EQ(m_pServer->Urls(),
              (std::vector<std::wstring>{kCdn + L"PATCHER_CODE.LUA", kMirror + L"PATCHER_CODE.LUA",
                                         kMirror + L"a.dat"}));
}

TEST_F(LauncherThread, PartsOfEarlierRunsThatThisOneWillNotResumeAreRemoved) {
    const std::string strBig = Body(1 << 20, 'n');
    ServeUpdate({{"", "next.pak", strBig}, {"", "kept.dat", "kept"}});
    PutLocal("kept.dat", "kept");
    // Parts the record knows: of a file no longer listed, of a file that is
    // current now, of the file this run resumes; and one the record does not
    // know, which is the player's.
    PutLocal("gone.pak.rqpart", "old part");
    PutLocal("kept.dat.rqpart", "old part");
    PutLocal("next.pak.rqpart", strBig.substr(0, 300000));
    PutLocal("mine.rqpart", "the player's");
    CRQResumeRecord record;
    for (const char* pszName : {"gone.pak", "kept.dat"}) {
        record.Put(Wide(pszName), RQ_RESUME_ENTRY{123, 456, "\"x\""});
    }
    record.Put(L"next.pak",
               RQ_RESUME_ENTRY{strBig.size(), CRQBLStreamCrc::Of(strBig.data(), strBig.size()), "\"v1\""});
    ASSERT_TRUE(record.Save(RQ_RESUME_RECORD_FILE));
    EXPECT_EQ(Run(), kFullPath);
    EXPECT_FALSE(fs::exists("gone.pak.rqpart"));
    EXPECT_FALSE(fs::exists("kept.dat.rqpart"));
    EXPECT_EQ(Local("mine.rqpart"), "the player's");
    EXPECT_TRUE(Local("next.pak") == strBig);
    EXPECT_EQ(m_pServer->Calls().back().ullRangeStart, 300000u) << "the listed file's part was resumed";
    EXPECT_FALSE(fs::exists(RQ_RESUME_RECORD_FILE));
    EXPECT_TRUE(Has(m_log.Texts(L"RQSweepUnlistedParts"),
                    L"130023 TRANSFER PART REMOVED : gone.pak (no longer to be resumed)"));
}

TEST_F(LauncherThread, ScriptThatDoesNotRunOrHasNoTableStartsTheGameAsItIs) {
    for (const char* pszLua : {"this is not Lua", "OTHER_TABLE = {}", "error('stop')"}) {
        Restart();
        ServeScript(pszLua);
        EXPECT_EQ(Run(), (std::vector<int32_t>{Worker::US_START_UP, Worker::US_PATCHER_CRC_DOWNLOAD,
                                               Worker::US_CLOSE}))
            << pszLua;
        EXPECT_TRUE(m_pRecord->Boxes().empty());
        EXPECT_EQ(Messages().front(), 2026u);
        EXPECT_EQ(Messages().back(), 2028u);
    }
}

TEST_F(LauncherThread, NineFailedTriesThenSuccessFetchesTheFile) {
    ServeUpdate({{"", "a.dat", "content"}});
    Serve(L"a.dat", "content").vecStatuses = {503, 503, 503, -1, 503, 503, 503, 503, 503, 0};
    EXPECT_EQ(Run(), kFullPath);
    EXPECT_TRUE(m_pRecord->Boxes().empty());
    EXPECT_EQ(Requests().size(), 1u + 10u);
    EXPECT_EQ(Local("a.dat"), "content");
}

TEST_F(LauncherThread, AFileThatFailsEveryTryIsNamedInOneBoxAndTheGameIsNotStarted) {
    ServeUpdate({{"data/", "a.dat", "aaa"}, {"", "b.dat", "bbb"}, {"", "c.dat", Body(300000, 'c')}});
    Serve(L"data/a.dat", "aaa").vecStatuses = {500};
    Serve(L"c.dat", Body(300000, 'c')).vecCutAt = {1000, 1000, 1000, 1000, 1000,
                                                   1000, 1000, 1000, 1000, 1000};
    PutLocal("c.dat", "old c");
    EXPECT_EQ(Run(), (std::vector<int32_t>{Worker::US_START_UP, Worker::US_PATCHER_CRC_DOWNLOAD,
                                           Worker::US_PATCHER_FILE_DOWNLOAD, Worker::US_CLOSE}));
    ASSERT_EQ(m_pRecord->Boxes().size(), 1u);
    const std::wstring strBox = m_pRecord->Boxes()[0];
    EXPECT_EQ(strBox.find(kUpdateFailed.substr(0, kUpdateFailed.size() - 1) +
                          L"\n・data/a.dat（サーバーエラー 500）\n・c.dat（通信が途切れました）\n"),
              0u)
        << RQBLWideToUtf8(strBox);
    std::vector<uint32_t> messages = Messages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), 2025u), 0);
    EXPECT_EQ(messages[messages.size() - 2], static_cast<uint32_t>(RQ_WM_CLOSE));
    EXPECT_EQ(Local("b.dat"), "bbb");
    EXPECT_EQ(Local("c.dat"), "old c");
    EXPECT_FALSE(fs::exists("data/a.dat"));
}

TEST_F(LauncherThread, ATransferCutMidwayIsResumed) {
    ServeUpdate({{"", "a.dat", Body(300000, 'a')}, {"", "b.dat", "bbb"}});
    PutLocal("a.dat", "old a");
    Serve(L"a.dat", Body(300000, 'a')).vecCutAt = {100000};
    EXPECT_EQ(Run(), kFullPath);
    EXPECT_EQ(Local("a.dat"), Body(300000, 'a'));
    EXPECT_EQ(Local("b.dat"), "bbb");
    EXPECT_TRUE(m_pRecord->Boxes().empty());
}

TEST_F(LauncherThread, StopDuringTheTransfersEndsTheTickAndChangesNothing) {
    ServeUpdate({{"", "a.dat", Body(3000000, 'a')}, {"", "b.dat", Body(3000000, 'b')}});
    Serve(L"a.dat", Body(3000000, 'a')).vecStallAt = {200000};
    Serve(L"b.dat", Body(3000000, 'b')).vecStallAt = {200000};
    MakeWorker();
    while (m_pWorker->GetUpdateState() != Worker::US_PATCHER_FILE_DOWNLOAD) {
        m_pWorker->Tick();
    }
    std::thread stopper([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        m_pWorker->RequestStop();
    });
    auto start = std::chrono::steady_clock::now();
    m_pWorker->Tick();
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(m_pWorker->GetUpdateState(), Worker::US_PATCHER_FILE_DOWNLOAD);
    std::vector<uint32_t> messages = Messages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), 2025u), 0);
    EXPECT_TRUE(m_pRecord->Boxes().empty());
    EXPECT_FALSE(fs::exists("a.dat"));
    EXPECT_FALSE(fs::exists("b.dat"));
}

TEST_F(LauncherThread, ProgressBarCountsOverAllFilesAgainstTheirTotal) {
    ServeUpdate(
        {{"", "a.dat", Body(250000, 'a')}, {"", "b.dat", Body(150000, 'b')}, {"", "c.dat", Body(3000, 'c')}});
    EXPECT_EQ(Run(), kFullPath);
    const int64_t total = (250000 + 150000 + 3000) >> 10;
    std::vector<std::pair<uint64_t, int64_t>> ranges = m_pRecord->Params(2026);
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[1], (std::pair<uint64_t, int64_t>{0, total}));
    std::vector<std::pair<uint64_t, int64_t>> steps = m_pRecord->Params(2027);
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps.back(), (std::pair<uint64_t, int64_t>{static_cast<uint64_t>(total), total}));
    for (size_t i = 1; i < steps.size(); ++i) {
        EXPECT_NE(steps[i].first, steps[i - 1].first) << "a repeated position";
    }
}

// A script that names a path the launcher refuses is a failed update: one box
// names the entries, nothing is fetched or written, and the game does not
// start (before, the entries were skipped and the game started as if all was well).
TEST_F(LauncherThread, PathsOutsideTheGameFolderFailTheUpdateNamingTheEntries) {
    const std::vector<std::string> bad = {"../evil.dll", "C:\\evil.dll", "/etc/evil", "data/../../evil",
                                          "CON",         "nul.txt",      "a:b",       "bad\r\nname",
                                          "trail.",      "trail ",       "x/./y",     "w*.dll"};
    std::vector<Entry> entries;
    for (size_t i = 0; i < bad.size(); ++i) {
        entries.push_back({"", bad[i], "evil"});
    }
    entries.push_back({"new/deep/", "good.dat", "good"});
    ServeUpdate(entries);
    EXPECT_EQ(Run(),
              (std::vector<int32_t>{Worker::US_START_UP, Worker::US_PATCHER_CRC_DOWNLOAD, Worker::US_CLOSE}));
    EXPECT_EQ(Requests(), (std::vector<std::wstring>{L"PATCHER_CODE.LUA"}));
    EXPECT_FALSE(fs::exists("new"));
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
    ASSERT_EQ(m_pRecord->Boxes().size(), 1u);
    const std::wstring strBox = m_pRecord->Boxes()[0];
    EXPECT_EQ(strBox.find(kUpdateFailed.substr(0, kUpdateFailed.size() - 1) + L"\n・"), 0u)
        << RQBLWideToUtf8(strBox);
    EXPECT_NE(strBox.find(L"・../evil.dll（使用できない名前）"), std::wstring::npos);
    EXPECT_NE(strBox.find(L"ほか 2 件"), std::wstring::npos);  // ten are named
    std::vector<uint32_t> messages = Messages();
    EXPECT_EQ(messages[messages.size() - 2], static_cast<uint32_t>(RQ_WM_CLOSE));

    // One refused entry: the box names it on its first line, like one failed file.
    Restart();
    ServeUpdate({{"", "LAUNCHER_RELEASE.DAT", "TOLVANE-RELEASE 1\n"}, {"", "a.dat", "aaa"}});
    Run();
    ASSERT_EQ(m_pRecord->Boxes().size(), 1u);
    EXPECT_EQ(m_pRecord->Boxes()[0].substr(0, m_pRecord->Boxes()[0].find(L'\n')),
              kUpdateFailed + L"LAUNCHER_RELEASE.DAT");
    EXPECT_FALSE(fs::exists("a.dat"));
}

TEST_F(LauncherThread, NamesAreEscapedInTheUrlOnly) {
    ServeScript(MakeScript({{"my data/", "a b%.dat", "x"}}));
    Serve(L"my%20data/a%20b%25.dat", "x");
    EXPECT_EQ(Run(), kFullPath);
    EXPECT_EQ(Requests()[1], L"my%20data/a%20b%25.dat");
    EXPECT_EQ(Local("my data/a b%.dat"), "x");
}

TEST_F(LauncherThread, PartFilesThatAreNotThisUpdatesAreLeftAlone) {
    PutLocal("save/slot1.rqpart", "the player's");
    PutLocal("notes.rqpart", "the player's");
    ServeUpdate({{"", "a.dat", "aaa"}});
    EXPECT_EQ(Run(), kFullPath);
    EXPECT_EQ(Local("save/slot1.rqpart"), "the player's");
    EXPECT_EQ(Local("notes.rqpart"), "the player's");
}

TEST_F(LauncherThread, RunsOnItsOwnThreadAndStopsItself) {
    ServeUpdate({{"", "a.dat", Body(250000, 'a')}, {"sub/", "b.dat", "bbb"}});
    MakeWorker();
    ASSERT_TRUE(m_pWorker->ThreadBegin(-1));
    bool bDone = false;
    for (int i = 0; i < 1000 && !bDone; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::vector<uint32_t> messages = Messages();
        bDone = !messages.empty() && messages.back() == WM_RQ_UPDATE_DONE;
    }
    ASSERT_TRUE(bDone);
    m_pWorker.reset();  // waits for the thread's end
    EXPECT_EQ(Local("a.dat"), Body(250000, 'a'));
    EXPECT_EQ(Local("sub/b.dat"), "bbb");
}

TEST_F(LauncherThread, ASecondRunOfAnUnchangedFolderReadsNoFileAndADamagedRecordIsIgnored) {
    const std::vector<Entry> entries = {{"", "a.dat", Body(70000, 'a')}, {"data/", "b.dat", "bbb"}};
    for (const Entry& e : entries) {
        PutLocal(e.strPath + e.strName, e.strBody);
    }
    ServeUpdate(entries);
    EXPECT_EQ(Run().back(), Worker::US_CLOSE);
    EXPECT_EQ(CheckLine(m_log.Texts(kTag)),
              L"130011 LAUNCHER CHECK : 2 files, 0 by the record, 2 read (0 MiB)");

    Restart();
    ServeUpdate(entries);
    EXPECT_EQ(Run(), (std::vector<int32_t>{Worker::US_START_UP, Worker::US_PATCHER_CRC_DOWNLOAD,
                                           Worker::US_UPDATE_END, Worker::US_CLOSE}));
    EXPECT_EQ(CheckLine(m_log.Texts(kTag)),
              L"130011 LAUNCHER CHECK : 2 files, 2 by the record, 0 read (0 MiB)");

    std::string strRecord = Local("LAUNCHER_VERIFIED.DAT");
    ASSERT_GT(strRecord.size(), 40u);
    strRecord[30] ^= 0x40;
    PutLocal("LAUNCHER_VERIFIED.DAT", strRecord);
    Restart();
    ServeUpdate(entries);
    EXPECT_EQ(Run().back(), Worker::US_CLOSE);
    std::vector<std::wstring> vecTexts = m_log.Texts(kTag);
    EXPECT_TRUE(Has(vecTexts, L"130011 LAUNCHER VERIFY RECORD IGNORED : damaged"));
    EXPECT_EQ(CheckLine(vecTexts), L"130011 LAUNCHER CHECK : 2 files, 0 by the record, 2 read (0 MiB)");
    EXPECT_EQ(Messages().back(), 2028u);
    EXPECT_EQ(Requests(), std::vector<std::wstring>{L"PATCHER_CODE.LUA"});
}

TEST_F(LauncherThread, AfterAnUpdateWithAFailedFileTheRecordHoldsOnlyVerifiedFiles) {
    ServeUpdate({{"", "new.dat", "fetched"}, {"", "bad.dat", "never arrives"}, {"", "same.dat", "current"}});
    Serve(L"bad.dat", "never arrives").vecStatuses = {500};
    PutLocal("bad.dat", "old bad");
    PutLocal("same.dat", "current");
    Run();
    ASSERT_EQ(m_pRecord->Boxes().size(), 1u);
    CRQVerifyRecord record;
    ASSERT_EQ(record.Load(L"LAUNCHER_VERIFIED.DAT"), RQVerifyLoad::LOADED);
    EXPECT_EQ(record.Size(), 2u);
    ASSERT_NE(record.Find(L"new.dat"), nullptr);
    EXPECT_EQ(record.Find(L"new.dat")->dwCrc, CRQBLStreamCrc::Of("fetched", 7));
    EXPECT_NE(record.Find(L"same.dat"), nullptr);
    EXPECT_EQ(record.Find(L"bad.dat"), nullptr);
}

TEST_F(LauncherThread, ARepairFindsWhatTheRecordHidesAndSaysSo) {
    const std::vector<Entry> entries = {{"", "a.dat", "aaaa"}, {"data/", "b.dat", "bbbb"}};
    ServeUpdate(entries);
    PutLocal("a.dat", "aaaa");
    PutLocal("data/b.dat", "bbbb");
    // Whole seconds, which every clock and file system can restore exactly.
    const fs::file_time_type written =
        std::chrono::time_point_cast<std::chrono::seconds>(fs::last_write_time("a.dat")) -
        std::chrono::hours(48);
    fs::last_write_time("data/b.dat", written);
    Run();
    // The same size, the old time: only the content tells.
    PutLocal("data/b.dat", "BBBB");
    fs::last_write_time("data/b.dat", written);

    Restart();
    ServeUpdate(entries);
    Run();
    EXPECT_EQ(Local("data/b.dat"), "BBBB") << "a plain run trusts the record";

    Restart();
    m_settings.bRepair = true;
    ServeUpdate(entries);
    EXPECT_EQ(Run(), kFullPath);
    EXPECT_EQ(Local("data/b.dat"), "bbbb");
    std::vector<std::wstring> vecTexts = m_log.Texts(kTag);
    EXPECT_TRUE(Has(vecTexts, L"130011 LAUNCHER REPAIR : every listed file is read and checked"));
    EXPECT_EQ(CheckLine(vecTexts), L"130011 LAUNCHER CHECK : 2 files, 0 by the record, 2 read (0 MiB)");
    EXPECT_TRUE(Has(vecTexts, L"130011 LAUNCHER REPAIR FOUND : data/b.dat (content differs)"));
    EXPECT_TRUE(Has(vecTexts, L"130011 LAUNCHER REPAIR : 1 of 2 files to be fetched again"));
}

// A file can keep its size and CRC-32 while its content changes; a repair
// then tells it by the script's SHA-256, whatever case the script writes it in.
TEST_F(LauncherThread, ARepairChecksTheScriptsStrongHash) {
    auto sha = [](const std::string& strBody, bool bUpper) {
        RQ_SHA256 digest{};
        CRQBLSha256::Of(strBody.data(), strBody.size(), digest);
        std::string strHex = RQBLSha256Hex(digest);
        for (char& c : strHex) {
            c = bUpper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
        }
        return strHex;
    };
    auto entry = [](const std::string& strName, const std::string& strBody, const std::string& strSha) {
        return "{ \"\", \"" + strName + "\", " +
               std::to_string(CRQBLStreamCrc::Of(strBody.data(), strBody.size())) + ", 0, " +
               std::to_string(strBody.size()) + ", 0, 0, 0, 1, 0, 0, 0, \"" + strSha + "\" },\n";
    };
    // b.dat on disk has the listed size and CRC-32, but not the listed content.
    ServeScript("CODE_TABLE = {\n" + entry("a.dat", "aaaa", sha("aaaa", true)) +
                entry("b.dat", "bbbb", sha("the real b", false)) + "}\n");
    Serve(L"b.dat", "bbbb");
    PutLocal("a.dat", "aaaa");
    PutLocal("b.dat", "bbbb");
    m_settings.bRepair = true;
    Run();
    const std::vector<std::wstring> vecTexts = m_log.Texts(kTag);
    EXPECT_TRUE(Has(vecTexts, L"130011 LAUNCHER REPAIR FOUND : b.dat (content differs)"));
    EXPECT_TRUE(Has(vecTexts, L"130011 LAUNCHER REPAIR : 1 of 2 files to be fetched again"));
    const std::vector<std::wstring> vecRequests = Requests();
    EXPECT_EQ(std::count(vecRequests.begin(), vecRequests.end(), L"a.dat"), 0);
    EXPECT_GT(std::count(vecRequests.begin(), vecRequests.end(), L"b.dat"), 0);
}
