// Delta updates on the player's side, with the objects of a release made in
// memory and served by a fake range fetch: what is copied and what travels,
// a forged frame that is fetched again and never written, a damaged old file,
// and a part left by a killed run that the next run keeps.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "RQTestCrcForge.h"
#include "RQTestDeltaRelease.h"
#include "RQTestTempDir.h"
#include "baselib/RQBLStreamCrc.h"
#include "launcher/delta/RQDeltaAssembly.h"
#include "launcher/delta/RQDeltaJob.h"

namespace {

using Bytes = std::vector<uint8_t>;
using rqtest::CRelease;
using rqtest::Publish;

Bytes Random(size_t nBytes, uint32_t nSeed) {
    std::mt19937 rng(nSeed);
    Bytes v(nBytes);
    for (uint8_t& b : v) {
        b = static_cast<uint8_t>(rng());
    }
    return v;
}

// Serves byte ranges of the release's objects as a server answers 206.
struct CFakeRanges {
    explicit CFakeRanges(const CRelease& r) : release(r) {}
    const CRelease& release;
    uint64_t ullSent = 0;
    unsigned nRequests = 0;
    // Before sending: may change the bytes of request number n (from 0).
    std::function<void(unsigned n, std::string& strBytes)> fnTamper;
    bool bAlways404 = false;

    bool operator()(const RQ_RANGE_REQUEST& request, CRQBLFetchSink& sink, RQBL_FETCH_RESULT& result) {
        const std::string& strObject = release.objects.at(request.strObject);
        std::string strBytes = strObject.substr(request.ullStart, request.ullEnd - request.ullStart);
        if (fnTamper) {
            fnTamper(nRequests, strBytes);
        }
        ++nRequests;
        if (bAlways404) {
            result.error = RQBLFetchError::STATUS;
            result.nStatus = 404;
            return true;
        }
        RQBL_RESPONSE_HEAD head;
        head.nStatus = 206;
        head.bHasLength = true;
        head.ullLength = strBytes.size();
        head.ullRangeStart = request.ullStart;
        result = RQBL_FETCH_RESULT();
        if (!sink.OnHead(head) ||
            !sink.OnData(reinterpret_cast<const uint8_t*>(strBytes.data()), strBytes.size())) {
            result.error = RQBLFetchError::SINK;
        }
        ullSent += strBytes.size();
        return true;
    }
};

Bytes ReadAll(const std::filesystem::path& file) {
    std::vector<char> v = RQTestTempDir::ReadAll(file);
    return Bytes(v.begin(), v.end());
}

void WriteAll(const std::filesystem::path& file, const Bytes& data) {
    RQTestTempDir::WriteAll(file, std::string(data.begin(), data.end()));
}

class DeltaAssembly : public ::testing::Test {
protected:
    // Plans from the old file (if any) and the part (if any), assembles with
    // fetch, and returns the outcome.
    // fnAfterPlan, if given, runs between the plan and the assembly.
    RQDeltaAssembled Update(const CRelease& release, CFakeRanges& fetch, RQ_DELTA_PLAN* pPlan = nullptr,
                            const std::function<void()>& fnAfterPlan = nullptr) {
        const RQ_DELTA_LAYOUT layout = RQDeltaLayout(release.index);
        CRQDeltaSeeds seeds;
        if (std::filesystem::exists("old.dat")) {
            seeds.AddFile(L"old.dat", release.index.params, nullptr);
        }
        const uint32_t nKept = RQValidPrefixChunks(release.target.strPart, release.index, nullptr);
        const RQ_DELTA_PLAN plan = RQPlanDelta(release.index, layout, seeds, nKept);
        if (pPlan != nullptr) {
            *pPlan = plan;
        }
        if (fnAfterPlan) {
            fnAfterPlan();
        }
        CRQDeltaAssembly assembly(release.index, layout, plan, seeds, release.target);
        std::atomic<bool> stop{false};
        return assembly.Run(std::ref(fetch), 3, stop, nullptr);
    }

    RQTestTempDir m_dir;
};

}  // namespace

TEST_F(DeltaAssembly, OnlyWhatTheOldFileLacksTravels) {
    const Bytes old = Random(3 * 1024 * 1024, 1);
    struct Case {
        const char* pszName;
        std::function<Bytes()> fnNew;
        bool bOldFile;
        uint64_t ullMaxSent;
    };
    const Case cases[] = {
        {"an edit in the middle",
         [&] {
             Bytes v = old;
             for (size_t i = 1500000; i < 1510000; ++i) {
                 v[i] ^= 0x5A;
             }
             return v;
         },
         true, 10000 + 4 * 64 * 1024},
        {"bytes appended",
         [&] {
             Bytes v = old;
             Bytes more = Random(100000, 2);
             v.insert(v.end(), more.begin(), more.end());
             return v;
         },
         true, 100000 + 2 * 64 * 1024},
        {"no old file: the zst whole", [&] { return old; }, false, old.size() + old.size() / 100},
    };
    for (const Case& c : cases) {
        RQTestTempDir dir;
        if (c.bOldFile) {
            WriteAll("old.dat", old);
        }
        const Bytes fresh = c.fnNew();
        CRelease release = Publish(fresh);
        CFakeRanges fetch(release);
        RQ_DELTA_PLAN plan;
        ASSERT_EQ(Update(release, fetch, &plan), RQDeltaAssembled::DONE) << c.pszName;
        EXPECT_EQ(ReadAll("new.dat.rqpart"), fresh) << c.pszName;
        EXPECT_LE(fetch.ullSent, c.ullMaxSent) << c.pszName;
        EXPECT_EQ(fetch.ullSent, plan.ullFetchBytes) << c.pszName << ": the plan tells what travels";
    }
}

TEST_F(DeltaAssembly, AForgedFrameIsFetchedAgainAndNeverWritten) {
    WriteAll("old.dat", Random(500000, 3));
    const Bytes fresh = Random(500000, 4);
    CRelease release = Publish(fresh);
    CFakeRanges fetch(release);
    // The first answer's bytes are changed (a frame of another content, or
    // garbage): it must not reach the part.
    fetch.fnTamper = [](unsigned n, std::string& strBytes) {
        if (n == 0) {
            strBytes[strBytes.size() / 2] ^= 0x01;
        }
    };
    ASSERT_EQ(Update(release, fetch), RQDeltaAssembled::DONE);
    EXPECT_EQ(ReadAll("new.dat.rqpart"), fresh);
    EXPECT_GE(fetch.nRequests, 2u);
}

TEST_F(DeltaAssembly, APartLeftByAStoppedRunIsKeptAndOnlyTheRestTravels) {
    const Bytes fresh = Random(2 * 1024 * 1024, 5);
    CRelease release = Publish(fresh);
    // A killed run left the first 700000 bytes, and then some garbage.
    Bytes part(fresh.begin(), fresh.begin() + 700000);
    const Bytes garbage = Random(3000, 6);
    part.insert(part.end(), garbage.begin(), garbage.end());
    WriteAll("new.dat.rqpart", part);
    CFakeRanges fetch(release);
    RQ_DELTA_PLAN plan;
    ASSERT_EQ(Update(release, fetch, &plan), RQDeltaAssembled::DONE);
    EXPECT_EQ(ReadAll("new.dat.rqpart"), fresh);
    EXPECT_GT(plan.ullKeptBytes, 600000u);
    EXPECT_LE(plan.ullKeptBytes, 700000u);
    EXPECT_LT(fetch.ullSent, fresh.size() - 600000 + 2 * RQ_DELTA_BLOCK_BYTES / 10);
}

// Copies are not hashed one by one, and a kept prefix was checked before the
// part was held: the whole file's size, CRC-32 and SHA-256, taken as it is
// written, refuse a part that is not the listed file, and none is left.
TEST_F(DeltaAssembly, APartThatIsNotTheListedFileIsRefusedAndRemoved) {
    const Bytes old = Random(1024 * 1024, 8);
    Bytes fresh = old;
    for (size_t i = 600000; i < 610000; ++i) {
        fresh[i] ^= 0x3C;
    }
    const CRelease release = Publish(fresh);
    auto rewriteOld = [&](const std::function<void(Bytes&)>& fnChange) {
        Bytes v = old;
        fnChange(v);
        WriteAll("old.dat", v);
    };
    struct Case {
        const char* pszName;
        std::function<void()> fnAfterPlan;
        RQDeltaAssembled expected;
    } cases[] = {
        {"nothing changed", [] {}, RQDeltaAssembled::DONE},
        {"a copied byte changed since the cut", [&] { rewriteOld([](Bytes& v) { v[400000] ^= 1; }); },
         RQDeltaAssembled::CHECK_FAILED},
        {"copied bytes changed, the CRC-32 kept",
         [&] {
             // Bytes changed past the kept prefix only, so that the made
             // file keeps the listed CRC-32 too.
             rewriteOld([](Bytes& v) {
                 const std::string strForged = rqtest::ForgeSameCrc(std::string(v.begin() + 400000, v.end()));
                 std::copy(strForged.begin(), strForged.end(), v.begin() + 400000);
             });
         },
         RQDeltaAssembled::CHECK_FAILED},
        {"the kept prefix changed since the plan",
         [&] {
             Bytes part = ReadAll("new.dat.rqpart");
             part[1000] ^= 1;
             WriteAll("new.dat.rqpart", part);
         },
         RQDeltaAssembled::CHECK_FAILED},
        {"the kept prefix cut short since the plan",
         [&] { WriteAll("new.dat.rqpart", Bytes(fresh.begin(), fresh.begin() + 1000)); },
         RQDeltaAssembled::CHECK_FAILED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        RQTestTempDir dir;
        WriteAll("old.dat", old);
        WriteAll("new.dat.rqpart", Bytes(fresh.begin(), fresh.begin() + 300000));
        CFakeRanges fetch(release);
        RQ_DELTA_PLAN plan;
        EXPECT_EQ(Update(release, fetch, &plan, c.fnAfterPlan), c.expected);
        EXPECT_GT(plan.ullKeptBytes, 200000u);
        if (c.expected == RQDeltaAssembled::DONE) {
            EXPECT_EQ(ReadAll("new.dat.rqpart"), fresh);
        } else {
            EXPECT_FALSE(std::filesystem::exists("new.dat.rqpart"));
        }
    }
}

TEST_F(DeltaAssembly, AServerThatNeverDeliversEndsInAFailureThatKeepsTheCheckedPrefix) {
    const Bytes old = Random(1024 * 1024, 7);
    WriteAll("old.dat", old);
    Bytes fresh = old;
    for (size_t i = 900000; i < 910000; ++i) {
        fresh[i] ^= 0xA5;  // the change lies near the end: the copies before it come first
    }
    CRelease release = Publish(fresh);
    CFakeRanges fetch(release);
    fetch.bAlways404 = true;
    EXPECT_EQ(Update(release, fetch), RQDeltaAssembled::FETCH_FAILED);
    EXPECT_EQ(fetch.nRequests, 3u) << "three tries, then given up";
    const Bytes part = ReadAll("new.dat.rqpart");
    ASSERT_GT(part.size(), 800000u);
    EXPECT_TRUE(std::equal(part.begin(), part.end(), fresh.begin())) << "a prefix of the new version";
}

// An old copy rewritten in place (or appended to) is hashed at the new
// version's places instead of being cut, and the plan fetches no more than
// the cut's (less: a chunk that begins in an edit is found where the cut of
// the old file drew other lines); one whose bytes shifted, or that changed
// too much, is left to the cut.
TEST(DeltaSeeds, AnOldCopyEditedInPlaceNeedsNoCut) {
    const Bytes old = Random(8 * 1024 * 1024, 41);
    auto edited = [&](size_t nEvery, size_t nBytes) {
        Bytes v = old;
        for (size_t at = nEvery / 2; at + nBytes < v.size(); at += nEvery) {
            for (size_t i = at; i < at + nBytes; ++i) {
                v[i] ^= 0x77;
            }
        }
        return v;
    };
    struct Case {
        const char* pszName;
        Bytes fresh;
        bool bInPlace;
    } cases[] = {
        {"a few edits in place", edited(5 * 1024 * 1024 / 2, 20000), true},
        {"appended to",
         [&] {
             Bytes v = old;
             const Bytes more = Random(300000, 42);
             v.insert(v.end(), more.begin(), more.end());
             return v;
         }(),
         true},
        {"bytes inserted near the end",
         [&] {
             Bytes v = old;
             v.insert(v.end() - 400000, 100, uint8_t{1});
             return v;
         }(),
         false},
        {"bytes inserted near the start",
         [&] {
             Bytes v = old;
             v.insert(v.begin() + 1000000, 100, uint8_t{1});
             return v;
         }(),
         false},
        {"a fifth rewritten in small edits", edited(100000, 20000), false},
    };
    // By the chunks' CRC-32 (format 4) and by their SHA-256 (older indexes).
    for (const bool bChunkCrcs : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.pszName);
            SCOPED_TRACE(bChunkCrcs ? "CRC-32" : "SHA-256");
            RQTestTempDir dir;
            WriteAll("old.dat", old);
            CRelease release = Publish(c.fresh);
            release.index.bChunkCrcs = bChunkCrcs;
            const RQ_DELTA_LAYOUT layout = RQDeltaLayout(release.index);
            CRQDeltaSeeds probed(RQ_SEED_CUTTING{1024 * 1024, 2, 256 * 1024});
            ASSERT_EQ(probed.AddInPlace(L"old.dat", release.index, nullptr), c.bInPlace);
            if (!c.bInPlace) {
                EXPECT_EQ(probed.ChunkCount(), 0u) << "nothing added for the cut to repeat";
                continue;
            }
            CRQDeltaSeeds cut;
            ASSERT_TRUE(cut.AddFile(L"old.dat", release.index.params, nullptr));
            const RQ_DELTA_PLAN plan = RQPlanDelta(release.index, layout, probed, 0);
            EXPECT_LE(plan.ullFetchBytes, RQPlanDelta(release.index, layout, cut, 0).ullFetchBytes);
            CRQDeltaAssembly assembly(release.index, layout, plan, probed, release.target);
            CFakeRanges fetch(release);
            std::atomic<bool> stop{false};
            ASSERT_EQ(assembly.Run(std::ref(fetch), 3, stop, nullptr), RQDeltaAssembled::DONE);
            assembly.Finished().Close();
            EXPECT_EQ(ReadAll("new.dat.rqpart"), c.fresh);
        }
    }
}

// A chunk found in place by its CRC-32 that is not the chunk: the whole
// file's SHA-256 refuses the part.
TEST(DeltaSeeds, AChunkFoundInPlaceByAFalseCrcFailsTheWholeFile) {
    RQTestTempDir dir;
    const Bytes fresh = Random(1024 * 1024, 43);
    const CRelease release = Publish(fresh);
    ASSERT_TRUE(release.index.bChunkCrcs);
    // The old copy: the new version, but its third chunk forged to the same
    // size and CRC-32.
    Bytes old = fresh;
    const size_t nAt = release.index.vecChunks[0].nBytes + release.index.vecChunks[1].nBytes;
    const size_t nBytes = release.index.vecChunks[2].nBytes;
    const std::string strForged =
        rqtest::ForgeSameCrc(std::string(old.begin() + nAt, old.begin() + nAt + nBytes));
    std::copy(strForged.begin(), strForged.end(), old.begin() + nAt);
    WriteAll("old.dat", old);
    CRQDeltaSeeds seeds;
    ASSERT_TRUE(seeds.AddInPlace(L"old.dat", release.index, nullptr));
    const RQ_DELTA_LAYOUT layout = RQDeltaLayout(release.index);
    const RQ_DELTA_PLAN plan = RQPlanDelta(release.index, layout, seeds, 0);
    EXPECT_EQ(plan.ullFetchBytes, 0u) << "every chunk taken for found";
    CRQDeltaAssembly assembly(release.index, layout, plan, seeds, release.target);
    CFakeRanges fetch(release);
    std::atomic<bool> stop{false};
    EXPECT_EQ(assembly.Run(std::ref(fetch), 3, stop, nullptr), RQDeltaAssembled::CHECK_FAILED);
    EXPECT_FALSE(std::filesystem::exists("new.dat.rqpart"));
}

// A large old file is cut on several threads, each from its own part: the
// chunks must be exactly those of one cut from the start, or every chunk at a
// seam would be fetched instead of copied.
TEST(DeltaSeeds, ALargeFileCutOnSeveralThreadsGivesTheChunksOfOneCut) {
    RQTestTempDir dir;
    Bytes data = Random(3 * 1024 * 1024 + 12345, 31);
    // A long run of one byte: chunks of the largest size, where a cut is
    // made by the size alone.
    std::fill(data.begin() + 700000, data.begin() + 1000000, uint8_t{7});
    WriteAll("old.dat", data);
    const RQ_CHUNK_PARAMS params;
    std::vector<std::pair<RQ_CHUNK_HASH, RQ_SEED_CHUNK>> vecExpected;
    RQForEachChunk(CRQChunker(params), data.data(), data.size(),
                   [&](size_t nOffset, const uint8_t* p, size_t n) {
                       CRQBLSha256 sha;
                       RQ_CHUNK_HASH hash{};
                       RQChunkHashOf(sha, p, n, hash);
                       vecExpected.emplace_back(hash, RQ_SEED_CHUNK{0, nOffset, static_cast<uint32_t>(n)});
                   });
    for (unsigned nThreads : {2u, 5u}) {
        SCOPED_TRACE(nThreads);
        CRQDeltaSeeds seeds(RQ_SEED_CUTTING{256 * 1024, nThreads});
        ASSERT_TRUE(seeds.AddFile(L"old.dat", params, nullptr));
        EXPECT_EQ(seeds.BytesRead(), data.size());
        for (const auto& [hash, chunk] : vecExpected) {
            const RQ_SEED_CHUNK* pFound = seeds.Find(hash);
            ASSERT_NE(pFound, nullptr) << chunk.ullOffset;
            // The run of one byte repeats its chunks: the first place counts.
            if (pFound->ullOffset == chunk.ullOffset || data[chunk.ullOffset] != 7) {
                EXPECT_EQ(pFound->ullOffset, chunk.ullOffset);
                EXPECT_EQ(pFound->nBytes, chunk.nBytes);
            }
        }
        EXPECT_LE(seeds.ChunkCount(), vecExpected.size());
    }
}

// An index is held in memory: its cap holds against the announced length and
// while the bytes arrive, whatever the server announced.
TEST(DeltaIndexSink, HoldsNoMoreThanItsCapAnnouncedOrNot) {
    const std::string strBody(1000, 'x');
    struct Case {
        const char* pszName;
        bool bHasLength;
        uint64_t ullAnnounced;
        uint64_t ullCap;
        bool bTaken;
    } cases[] = {
        {"within the cap", true, 1000, 1000, true},
        {"announced over the cap", true, 1000, 999, false},
        {"no length, over the cap as it arrives", false, 0, 999, false},
        {"announced under the cap, more arrives", true, 10, 999, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        CRQMemorySink sink(c.ullCap);
        RQBL_RESPONSE_HEAD head;
        head.nStatus = 200;
        head.bHasLength = c.bHasLength;
        head.ullLength = c.ullAnnounced;
        bool bTaken = sink.OnHead(head);
        for (size_t n = 0; bTaken && n < strBody.size(); n += 100) {
            bTaken = sink.OnData(reinterpret_cast<const uint8_t*>(strBody.data()) + n, 100);
        }
        EXPECT_EQ(bTaken, c.bTaken);
        EXPECT_EQ(sink.OverCap(), !c.bTaken);
        EXPECT_LE(sink.Bytes().size(), c.ullCap);
    }
}
