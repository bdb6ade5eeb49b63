// Files made from the player's old ones, end to end through the update
// worker and the transfer queue: what travels, what the bar counts, and every
// way the delta objects can fail, each ending in the right file.
#include <algorithm>
#include <random>

#include "RQTestDeltaRelease.h"
#include "RQTestWorkerFixture.h"

using namespace rqtest;

namespace {

// Game text: compressible, and unlike itself everywhere.
std::string Text(size_t nBytes, uint32_t nSeed) {
    static const char* const kWords[] = {"sword ", "shield ", "村 ",    "potion ", "quest\n", "dragon ",
                                         "gold ",  "魔法 ",   "north ", "gate ",   "ring ",   "king "};
    std::mt19937 rng(nSeed);
    std::string s;
    while (s.size() < nBytes) {
        s += kWords[rng() % (sizeof(kWords) / sizeof(kWords[0]))];
        if (rng() % 8 == 0) {
            s += std::to_string(rng() % 100000);
        }
    }
    s.resize(nBytes);
    return s;
}

std::string Noise(size_t nBytes, uint32_t nSeed) {
    std::mt19937 rng(nSeed);
    std::string s(nBytes, '\0');
    for (char& c : s) {
        c = static_cast<char>(rng());
    }
    return s;
}

bool HasStart(const std::vector<std::wstring>& vecTexts, const std::wstring& strStart) {
    return std::any_of(vecTexts.begin(), vecTexts.end(),
                       [&](const std::wstring& s) { return s.compare(0, strStart.size(), strStart) == 0; });
}

class DeltaUpdate : public CWorkerFixture {
protected:
    // Publishes strNew as big.pak with its delta objects; returns the release.
    CRelease ServeDeltaRelease(const std::string& strNew) {
        CRelease release = Publish(std::vector<uint8_t>(strNew.begin(), strNew.end()));
        // Slot 14 after slot 13.
        std::string strScript = MakeHashedPatchScript({{"data/", "big.pak", strNew}});
        strScript.insert(strScript.find("\" },"), "\", \"" + RQBLSha256Hex(release.indexHash));
        ServeScript(strScript);
        Serve(L"data/big.pak", strNew);
        for (const auto& object : release.objects) {
            Serve(object.first, object.second);
        }
        return release;
    }
    bool Requested(const std::wstring& strSuffix) {
        for (const std::wstring& strPath : Requests()) {
            if (strPath.size() >= strSuffix.size() &&
                strPath.compare(strPath.size() - strSuffix.size(), strSuffix.size(), strSuffix) == 0) {
                return true;
            }
        }
        return false;
    }
};

TEST_F(DeltaUpdate, OnlyWhatChangedTravelsCompressedAndEveryFaultEndsInTheRightFile) {
    const std::string strOld = Text(600 * 1024, 1);
    std::string strEdited = strOld;
    strEdited.replace(100000, 300, Text(300, 2));
    strEdited.insert(300000, Text(5000, 3));
    strEdited.replace(500000, 200, Text(200, 4));
    enum class Fault { NONE, BUSY, INDEX_MISSING, INDEX_FORGED, OBJECTS_MISSING, NO_RANGES };
    struct Case {
        const char* pszName;
        bool bOldFile;
        std::string strNew;
        Fault fault;
        double dMostSent;  // of the file's size; > 1: fetched whole
    } cases[] = {
        {"edited old file", true, strEdited, Fault::NONE, 0.15},
        // More busy answers than a file has tries: waited for, not tried.
        {"busy for a while", true, strEdited, Fault::BUSY, 0.15},
        {"no old file, text", false, strEdited, Fault::NONE, 0.6},
        {"no old file, noise", false, Noise(200 * 1024, 5), Fault::NONE, 1.01},
        {"index missing", true, strEdited, Fault::INDEX_MISSING, 1.01},
        {"index of other bytes", true, strEdited, Fault::INDEX_FORGED, 1.01},
        {"pack and zst missing", true, strEdited, Fault::OBJECTS_MISSING, 1.2},
        {"server without ranges", true, strEdited, Fault::NO_RANGES, 3.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        Restart();
        fs::remove_all("data");
        fs::remove("LAUNCHER_VERIFIED.DAT");
        if (c.bOldFile) {
            PutLocal("data/big.pak", strOld);
        }
        CRelease release = ServeDeltaRelease(c.strNew);
        const std::wstring strIndexUrl = kCdn + RQDeltaObjectPath(release.indexHash, RQ_DELTA_INDEX_SUFFIX);
        for (auto& file : m_pServer->mapFiles) {
            const bool bObject = file.first.find(L"delta/") != std::wstring::npos;
            if (c.fault == Fault::INDEX_MISSING && file.first == strIndexUrl) {
                file.second.vecStatuses = {404};
            } else if (c.fault == Fault::INDEX_FORGED && file.first == strIndexUrl) {
                file.second.strBody = Publish(std::vector<uint8_t>(strOld.begin(), strOld.end())).strIndex;
            } else if (c.fault == Fault::OBJECTS_MISSING && bObject && file.first != strIndexUrl) {
                file.second.vecStatuses = {404};
            } else if (c.fault == Fault::BUSY && bObject && file.first != strIndexUrl) {
                file.second.vecStatuses = std::vector<int>(m_settings.nTries + 1, 503);
                file.second.vecStatuses.push_back(0);
                m_settings.dwBusyPatienceMs = 60000;
            } else if (c.fault == Fault::NO_RANGES) {
                file.second.bIgnoresRanges = true;
            }
        }
        EXPECT_EQ(Run(), kFullPath);
        EXPECT_TRUE(m_pRecord->Boxes().empty());
        EXPECT_TRUE(Local("data/big.pak") == c.strNew);
        EXPECT_FALSE(fs::exists("data/big.pak.rqpart"));
        const double dSent = static_cast<double>(m_pServer->ullBytesSent) / c.strNew.size();
        EXPECT_LT(dSent, c.dMostSent);
        const bool bWhole = c.dMostSent > 1;
        EXPECT_EQ(Requested(L"data/big.pak"), bWhole) << dSent;
        if (!bWhole) {
            // The bar's last range is what travels, not the file's size.
            const int64_t nRangeKiB = m_pRecord->Params(2026).back().second;
            EXPECT_LT(nRangeKiB, static_cast<int64_t>(c.strNew.size() * c.dMostSent) >> 10);
            EXPECT_TRUE(
                HasStart(m_log.Texts(L"CRQTransferQueue::RunJob"), L"130021 TRANSFER DELTA : data/big.pak"));
        }
    }
}

TEST_F(DeltaUpdate, AFileMadeFromItsPartsIsRecordedAsVerified) {
    const std::string strOld = Text(300 * 1024, 7);
    std::string strNew = strOld;
    strNew.insert(150000, "inserted in the middle");
    PutLocal("data/big.pak", strOld);
    ServeDeltaRelease(strNew);
    Run();
    EXPECT_TRUE(Local("data/big.pak") == strNew);
    EXPECT_FALSE(Requested(L"data/big.pak"));
    Restart();
    ServeDeltaRelease(strNew);
    Run();
    EXPECT_EQ(Requests(), std::vector<std::wstring>{L"PATCHER_CODE.LUA"});
}

// An icon of 16 KiB with a KiB changed: with its old copy there, the index
// and the changed KiB or two travel; without one, its index is not worth a
// request and the file comes whole.
TEST_F(DeltaUpdate, ASmallChangedFileCostsItsChangeOnlyWhereItsOldCopyIs) {
    const std::string strOld = Noise(16 * 1024, 21);
    std::string strNew = strOld;
    strNew.replace(4096, 1024, Noise(1024, 22));
    for (const bool bOldCopy : {true, false}) {
        SCOPED_TRACE(bOldCopy ? "old copy" : "no old copy");
        Restart();
        fs::remove_all("data");
        fs::remove("LAUNCHER_VERIFIED.DAT");
        if (bOldCopy) {
            PutLocal("data/big.pak", strOld);
        }
        ServeDeltaRelease(strNew);
        const uint64_t ullScript = m_pServer->mapFiles[kCdn + L"PATCHER_CODE.LUA"].strBody.size();
        Run();
        EXPECT_TRUE(Local("data/big.pak") == strNew);
        EXPECT_EQ(Requested(L"data/big.pak"), !bOldCopy);
        EXPECT_EQ(Requested(RQ_DELTA_INDEX_SUFFIX), bOldCopy);
        if (bOldCopy) {
            EXPECT_LT(m_pServer->ullBytesSent - ullScript, 5u * 1024);
        }
    }
}

}  // namespace

namespace {

TEST_F(DeltaUpdate, AfterAFailedRangeTheFileStaysWithTheServerThatServesIt) {
    const std::wstring kMirror = L"http://mirror.test/";
    m_settings.vecMirrors = {kMirror};
    const std::string strOld = Text(600 * 1024, 11);
    std::string strNew = strOld;
    for (size_t nAt : {50000u, 250000u, 450000u}) {
        strNew.replace(nAt, 300, Text(300, static_cast<uint32_t>(nAt)));
    }
    PutLocal("data/big.pak", strOld);
    CRelease release = ServeDeltaRelease(strNew);
    size_t nObjects = 0;
    for (const auto& object : release.objects) {
        m_pServer->Put(kMirror + object.first, object.second);
        if (object.first.find(RQ_DELTA_INDEX_SUFFIX) == std::wstring::npos) {
            m_pServer->mapFiles[kCdn + object.first].vecStatuses = {500};
            ++nObjects;
        }
    }
    Run();
    EXPECT_TRUE(Local("data/big.pak") == strNew);
    EXPECT_FALSE(Requested(L"data/big.pak"));
    size_t nFailed = 0;
    for (const rqtest::CFetchCall& call : m_pServer->Calls()) {
        nFailed += call.nAnswer == 500 ? 1 : 0;
    }
    // One range learns that the content server fails; the others go to the mirror.
    EXPECT_EQ(nFailed, 1u) << nObjects << " objects";
}

}  // namespace
