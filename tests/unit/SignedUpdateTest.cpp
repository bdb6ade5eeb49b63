// The update worker of a launcher with keys: a root's key list, a timestamp,
// a signed script whose every entry carries its SHA-256 and lists the game.
// (The programs checked at every start are the Wine trust test's.)
#include "RQTestSignedUpdate.h"
#include "RQTestWorkerFixture.h"
#include "patch/RQReleaseState.h"
#include "patch/RQZstdFrames.h"

using namespace rqtest;

namespace {

const RQ_SECRET_KEY kRoot = SeedKey(1);
const RQ_SECRET_KEY kRelease = SeedKey(10);
const std::wstring kMirror = L"http://mirror.test/LIVE/";
const std::wstring kNotVerified =
    L"アップデートデータを確認できませんでした。しばらくしてから再度お試しください。";

class SignedUpdate : public CWorkerFixture {
protected:
    void SetUp() override {
        CWorkerFixture::SetUp();
        m_settings.vecTrustedKeys = {PublicOf(kRoot)};
    }
    void Restart() {
        CWorkerFixture::Restart();
        m_settings.vecTrustedKeys = {PublicOf(kRoot)};
    }
    // The game's files with their hashes, signed as release ullRelease by the
    // release key under the root's key list, with a current timestamp.
    void Publish(const std::vector<Entry>& entries, const std::wstring& strServer = kCdn,
                 uint64_t ullRelease = 5, const std::string& strScript = std::string()) {
        const std::string strLua = strScript.empty() ? MakeHashedPatchScript(entries) : strScript;
        const std::string strSig = SignatureFile(strLua, kRelease, ullRelease);
        const std::string strKeys = KeyListFile(kRoot, 1, 100, {Listed(kRelease, RQKeyRole::RELEASE)});
        m_pServer->Put(strServer + L"PATCHER_CODE.LUA", strLua);
        // As mkpatch publishes it: the script compressed beside it.
        std::string strFrame;
        CRQZstdCompressor(19).AppendFrame(reinterpret_cast<const uint8_t*>(strLua.data()), strLua.size(),
                                          strFrame);
        m_pServer->Put(strServer + L"PATCHER_CODE.LUA.zst", strFrame);
        m_pServer->Put(strServer + L"PATCHER_CODE.LUA.sig", strSig);
        m_pServer->Put(strServer + L"PATCHER_KEYS.txt", strKeys);
        m_pServer->Put(strServer + L"PATCHER_TIMESTAMP.txt",
                       TimestampFile(kRelease, "2099-01-01", ullRelease, strLua, strSig, strKeys));
        for (const Entry& e : entries) {
            m_pServer->Put(strServer + Wide(e.strPath + e.strName), e.strBody);
        }
    }
    std::vector<std::wstring> Refusals() const {
        std::vector<std::wstring> v;
        for (const std::wstring& strText : m_log.Texts(kTag)) {
            if (strText.find(L"SCRIPT REFUSED") != std::wstring::npos) {
                v.push_back(strText);
            }
        }
        return v;
    }
    // The files of a game: its program, a library and data.
    const std::vector<Entry> m_game = {{"", "TOLVANE.EXE", Body(40000, 'T')},
                                       {"bin/", "render.DLL", Body(30000, 'D')},
                                       {"data/", "world.pak", Body(50000, 'W')}};
};

}  // namespace

TEST_F(SignedUpdate, AnUpdateUnderTheRootsKeyListRunsAndIsRecorded) {
    Publish(m_game);
    EXPECT_EQ(Run(), kFullPath);
    for (const Entry& e : m_game) {
        std::vector<char> v = RQTestTempDir::ReadAll(fs::path(e.strPath + e.strName));
        EXPECT_EQ(std::string(v.begin(), v.end()), e.strBody) << e.strName;
    }
    EXPECT_TRUE(m_pRecord->Boxes().empty());
    EXPECT_TRUE(Has(m_log.Texts(kTag), L"130011 LAUNCHER KEY LIST ACCEPTED : version 1"));
    EXPECT_TRUE(Has(m_log.Texts(kTag), L"130011 LAUNCHER SCRIPT VERIFIED : release 5"));
    const RQ_TRUST_STATE state = RQLoadTrustState(RQ_RELEASE_STATE_FILE, RQ_KEY_LIST_STATE_FILE);
    EXPECT_EQ(state.ullRelease, 5u);
    EXPECT_EQ(state.releaseKey, PublicOf(kRelease));
    EXPECT_EQ(state.ullKeyListVersion, 1u);
    EXPECT_EQ(state.keyListRoot, PublicOf(kRoot));
    // The key list and the timestamp are fetched anew each time: none is kept.
    EXPECT_FALSE(fs::exists("PATCHER_KEYS.txt"));
    EXPECT_FALSE(fs::exists("PATCHER_TIMESTAMP.txt"));

    // Once a key list was accepted, a server without one (the roots signing
    // the script themselves, as before key lists) is refused.
    Restart();
    const std::string strLua = MakeHashedPatchScript(m_game);
    ServeScript(strLua);
    Serve(L"PATCHER_CODE.LUA.sig", SignatureFile(strLua, kRoot, 6));
    EXPECT_EQ(Run().back(), Worker::US_CLOSE);
    EXPECT_EQ(m_pRecord->Boxes(), std::vector<std::wstring>{kNotVerified});
    ASSERT_EQ(Refusals().size(), 1u);
    EXPECT_NE(Refusals()[0].find(L"KEY_LIST_MISSING"), std::wstring::npos);
    // A file the server does not have is asked for once with the script, not
    // tried again with waits.
    const std::vector<std::wstring> vecUrls = m_pServer->Urls();
    EXPECT_EQ(std::count(vecUrls.begin(), vecUrls.end(), kCdn + L"PATCHER_KEYS.txt"),
              std::count(vecUrls.begin(), vecUrls.end(), kCdn + L"PATCHER_CODE.LUA.sig"));
}

TEST_F(SignedUpdate, AnUpdateRefusedOnOneServerIsTakenFromTheNext) {
    m_settings.vecMirrors = {kMirror};
    Publish(m_game, kCdn);
    Publish(m_game, kMirror);
    // The main server's signature is another script's: its compressed
    // script, then its plain one are refused, and the mirror's serves.
    Serve(L"PATCHER_CODE.LUA.sig", SignatureFile("CODE_TABLE = {}", kRelease, 5));
    EXPECT_EQ(Run(),
              (std::vector<int32_t>{Worker::US_START_UP, Worker::US_PATCHER_CRC_DOWNLOAD, Worker::US_START_UP,
                                    Worker::US_PATCHER_CRC_DOWNLOAD, Worker::US_START_UP,
                                    Worker::US_PATCHER_CRC_DOWNLOAD, Worker::US_PATCHER_FILE_DOWNLOAD,
                                    Worker::US_UPDATE_END, Worker::US_CLOSE}));
    EXPECT_TRUE(m_pRecord->Boxes().empty());
    ASSERT_EQ(Refusals().size(), 1u);
    EXPECT_NE(Refusals()[0].find(L"TIMESTAMP_MISMATCH"), std::wstring::npos);
    const std::vector<std::wstring> vecUrls = m_pServer->Urls();
    EXPECT_NE(std::find(vecUrls.begin(), vecUrls.end(), kMirror + L"PATCHER_CODE.LUA.zst"), vecUrls.end());
    EXPECT_EQ(RQLoadHighestRelease(RQ_RELEASE_STATE_FILE), 5u);
}

TEST_F(SignedUpdate, AnUpdateRefusedOnEveryServerEndsInOneBoxWithNothingWritten) {
    m_settings.vecMirrors = {kMirror};
    Publish(m_game, kCdn);
    Publish(m_game, kMirror);
    Serve(L"PATCHER_TIMESTAMP.txt", "junk");
    m_pServer->Put(kMirror + L"PATCHER_KEYS.txt",
                   KeyListFile(SeedKey(99), 1, 100, {Listed(kRelease, RQKeyRole::RELEASE)}));
    // Each server: the compressed script, then the plain one.
    EXPECT_EQ(Run(),
              (std::vector<int32_t>{Worker::US_START_UP, Worker::US_PATCHER_CRC_DOWNLOAD, Worker::US_START_UP,
                                    Worker::US_PATCHER_CRC_DOWNLOAD, Worker::US_START_UP,
                                    Worker::US_PATCHER_CRC_DOWNLOAD, Worker::US_START_UP,
                                    Worker::US_PATCHER_CRC_DOWNLOAD, Worker::US_CLOSE}));
    EXPECT_EQ(m_pRecord->Boxes(), std::vector<std::wstring>{kNotVerified});
    EXPECT_EQ(Refusals().size(), 2u);
    EXPECT_FALSE(fs::exists("TOLVANE.EXE"));
    EXPECT_FALSE(fs::exists("PATCHER_CODE.LUA"));
}

// A launcher with keys runs nothing it cannot check against the signed hash:
// an entry without one, or a game program the script does not list, refuses
// the whole script before anything is fetched.
TEST_F(SignedUpdate, EveryEntryNeedsItsSha256AndTheGameMustBeListed) {
    const std::string strHashed = MakeHashedPatchScript(m_game);
    const std::string strNoHash = strHashed.substr(0, strHashed.rfind(", \"")) + " },\n}\n";
    const std::string strNumber = strHashed.substr(0, strHashed.rfind(", \"")) + ", 1234 },\n}\n";
    const std::string strNoGame = MakeHashedPatchScript({m_game[1], m_game[2]});
    const std::string strUnsigned = MakeScript(m_game);
    struct Case {
        const char* pszName;
        std::string strScript;
        const wchar_t* pszRefusal;
    } cases[] = {
        {"last entry without slot 13", strNoHash,
         L"(SHA256_MISSING): an entry has no SHA-256: data/world.pak"},
        {"a number in slot 13", strNumber, L"(SHA256_MISSING): an entry has no SHA-256: data/world.pak"},
        {"no slot 13 at all", strUnsigned, L"(SHA256_MISSING)"},
        {"no TOLVANE.EXE", strNoGame, L"(GAME_NOT_LISTED)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        Restart();
        Publish(m_game, kCdn, 5, c.strScript);
        EXPECT_EQ(Run(), (std::vector<int32_t>{Worker::US_START_UP, Worker::US_PATCHER_CRC_DOWNLOAD,
                                               Worker::US_CLOSE}));
        EXPECT_EQ(m_pRecord->Boxes(), std::vector<std::wstring>{kNotVerified});
        ASSERT_EQ(Refusals().size(), 1u);
        EXPECT_NE(Refusals()[0].find(c.pszRefusal), std::wstring::npos) << RQBLWideToUtf8(Refusals()[0]);
        EXPECT_EQ(m_pServer->Urls().size(), 4u);  // the script and the three files beside it
        EXPECT_EQ(Messages().back(), 2028u);
    }
}

TEST_F(SignedUpdate, AReleaseRecordThatCannotBeWrittenStopsTheUpdate) {
    Publish(m_game);
    fs::create_directory(RQ_RELEASE_STATE_FILE);  // a folder where the record goes
    EXPECT_EQ(Run(),
              (std::vector<int32_t>{Worker::US_START_UP, Worker::US_PATCHER_CRC_DOWNLOAD, Worker::US_CLOSE}));
    ASSERT_EQ(m_pRecord->Boxes().size(), 1u);
    EXPECT_EQ(m_pRecord->Boxes()[0], kUpdateFailed + L"LAUNCHER_RELEASE.DAT\n" +
                                         L"同じ名前のフォルダがあるため、ファイルを置けませんでした。" +
                                         L"そのフォルダの名前を変えるか削除してから、再度お試しください。");
    EXPECT_TRUE(Has(m_log.Texts(kTag), L"130011 LAUNCHER RELEASE RECORD NOT SAVED : LAUNCHER_RELEASE.DAT"));
    EXPECT_FALSE(fs::exists("TOLVANE.EXE"));
    EXPECT_EQ(Messages().back(), 2028u);
}

// The script travels compressed where the server has it and it is the signed
// one; a server without it, or with an older one or a damaged one left
// behind, costs one more request for the plain script, never the update.
TEST_F(SignedUpdate, TheCompressedScriptServesOnlyWhenItIsTheSignedOne) {
    const std::string strOlder = MakeHashedPatchScript({m_game[0]});
    std::string strOlderFrame;
    CRQZstdCompressor(3).AppendFrame(reinterpret_cast<const uint8_t*>(strOlder.data()), strOlder.size(),
                                     strOlderFrame);
    struct Case {
        const char* pszName;
        int nStatus;          // of the compressed script (0: as published)
        std::string strBody;  // in its place, when not empty
        bool bPlain;          // the plain script is fetched
    } cases[] = {
        {"published", 0, "", false},
        {"missing", 404, "", true},
        {"an older release's", 0, strOlderFrame, true},
        {"not zstd", 0, "CODE_TABLE = {}", true},
        {"cut short", 0, strOlderFrame.substr(0, strOlderFrame.size() / 2), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        Restart();
        Publish(m_game);
        if (c.nStatus != 0) {
            Serve(L"PATCHER_CODE.LUA.zst", "").vecStatuses = {c.nStatus};
        } else if (!c.strBody.empty()) {
            Serve(L"PATCHER_CODE.LUA.zst", c.strBody);
        }
        EXPECT_EQ(Run().back(), Worker::US_CLOSE);
        EXPECT_TRUE(m_pRecord->Boxes().empty());
        EXPECT_TRUE(Refusals().empty());
        EXPECT_TRUE(Has(m_log.Texts(kTag), L"130011 LAUNCHER SCRIPT VERIFIED : release 5"));
        const std::vector<std::wstring> vecUrls = m_pServer->Urls();
        EXPECT_EQ(std::count(vecUrls.begin(), vecUrls.end(), kCdn + L"PATCHER_CODE.LUA"), c.bPlain ? 1 : 0);
        EXPECT_EQ(std::count(vecUrls.begin(), vecUrls.end(), kCdn + L"PATCHER_CODE.LUA.zst"), 1);
        EXPECT_TRUE(fs::exists("TOLVANE.EXE"));
        EXPECT_TRUE(RQTestTempDir::ReadAll("PATCHER_CODE.LUA").size() ==
                    MakeHashedPatchScript(m_game).size());
        EXPECT_FALSE(fs::exists("PATCHER_CODE.LUA.zst.unverified"));
        EXPECT_FALSE(fs::exists("PATCHER_CODE.LUA.unverified"));
    }
}
