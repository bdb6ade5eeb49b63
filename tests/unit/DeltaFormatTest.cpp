// The delta format's pieces: content-defined cuts that survive insertions,
// indexes that refuse what does not add up, and zstd frames that come back
// exactly or not at all.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "patch/RQChunker.h"
#include "patch/RQDeltaIndex.h"
#include "patch/RQZstdFrames.h"

namespace {

std::vector<uint8_t> Random(size_t nBytes, uint32_t nSeed) {
    std::mt19937 rng(nSeed);
    std::vector<uint8_t> v(nBytes);
    for (uint8_t& b : v) {
        b = static_cast<uint8_t>(rng());
    }
    return v;
}

std::vector<std::vector<uint8_t>> Chunks(const std::vector<uint8_t>& data, const RQ_CHUNK_PARAMS& params) {
    std::vector<std::vector<uint8_t>> out;
    RQForEachChunk(CRQChunker(params), data.data(), data.size(),
                   [&](size_t, const uint8_t* p, size_t n) { out.emplace_back(p, p + n); });
    return out;
}

// Bytes of b that lie in chunks a does not have.
size_t NewBytes(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, const RQ_CHUNK_PARAMS& params) {
    std::set<std::vector<uint8_t>> have;
    for (auto& chunk : Chunks(a, params)) {
        have.insert(chunk);
    }
    size_t n = 0;
    for (auto& chunk : Chunks(b, params)) {
        n += have.count(chunk) != 0 ? 0 : chunk.size();
    }
    return n;
}

// An index of two chunks (4000 and 6000 bytes) in one block; the first
// chunk's frame in the pack is nFirstPackBytes.
RQ_DELTA_INDEX TwoChunkIndex(uint32_t nFirstPackBytes) {
    RQ_DELTA_INDEX index;
    index.ullFileBytes = 10000;
    index.vecChunks = {{4000, nFirstPackBytes, {1}}, {6000, 1200, {2}}};
    index.ullPackBytes = nFirstPackBytes + 1200;
    index.vecBlocks = {{2, 1800}};
    index.ullZstBytes = 1800;
    return index;
}

// The round trip and the refusals of one format.
void CheckIndexFormat(uint32_t nFormat) {
    RQ_DELTA_INDEX index = TwoChunkIndex(900);
    index.fileHash[0] = 7;
    index.vecChunks[1].dwCrc = 0xC0FFEE11;
    const std::string strBytes = RQFormatDeltaIndex(index, nFormat);
    RQ_DELTA_INDEX back;
    std::string strWhy;
    ASSERT_TRUE(RQParseDeltaIndex(strBytes, 10000, back, strWhy)) << strWhy;
    EXPECT_EQ(RQFormatDeltaIndex(back, nFormat), strBytes);
    // Only an index that has them may have its chunks found by CRC-32.
    EXPECT_EQ(back.bChunkCrcs, nFormat >= 4);
    EXPECT_EQ(back.vecChunks[1].dwCrc, nFormat >= 4 ? 0xC0FFEE11u : 0u);
    // The cut the launcher makes of its old files must be mkpatch's.
    EXPECT_EQ(back.params.nNormalization, nFormat == 2 ? 2u : 1u);

    struct Tamper {
        const char* pszName;
        std::function<void(RQ_DELTA_INDEX&)> fn;
        uint64_t ullListed;
    };
    const Tamper tampers[] = {
        {"another file size", [](RQ_DELTA_INDEX&) {}, 9999},
        {"chunks short of the file", [](RQ_DELTA_INDEX& i) { i.vecChunks[1].nBytes = 5999; }, 10000},
        {"a chunk over the largest size",
         [](RQ_DELTA_INDEX& i) {
             i.params.nAvgBytes = 4096;
             i.params.nMaxBytes = 5000;
         },
         10000},
        {"pack bytes that do not add up", [](RQ_DELTA_INDEX& i) { i.ullPackBytes = 2101; }, 10000},
        {"blocks that miss a chunk", [](RQ_DELTA_INDEX& i) { i.vecBlocks[0].nChunks = 1; }, 10000},
        {"zst bytes that do not add up", [](RQ_DELTA_INDEX& i) { i.ullZstBytes = 1; }, 10000},
        {"a chunk below the smallest size",
         [](RQ_DELTA_INDEX& i) {
             i.vecChunks = {{1000, 1, {}}, {9000, 2099, {}}};
         },
         10000},
    };
    for (const Tamper& t : tampers) {
        RQ_DELTA_INDEX bad = index;
        t.fn(bad);
        EXPECT_FALSE(RQParseDeltaIndex(RQFormatDeltaIndex(bad, nFormat), t.ullListed, back, strWhy))
            << t.pszName;
    }
    for (size_t nCut : {size_t{0}, size_t{3}, strBytes.size() - 1}) {
        EXPECT_FALSE(RQParseDeltaIndex(strBytes.substr(0, nCut), 10000, back, strWhy)) << "cut at " << nCut;
    }
    EXPECT_FALSE(RQParseDeltaIndex(strBytes + "x", 10000, back, strWhy)) << "trailing bytes";
}

}  // namespace

TEST(Chunker, CutsAreWithinTheSizesAndTheSameWhateverThePiecesTheStreamComesIn) {
    const RQ_CHUNK_PARAMS params;
    const std::vector<uint8_t> data = Random(3 * 1024 * 1024 + 77, 1);
    const auto whole = Chunks(data, params);
    size_t nTotal = 0;
    for (size_t i = 0; i < whole.size(); ++i) {
        EXPECT_LE(whole[i].size(), params.nMaxBytes);
        if (i + 1 < whole.size()) {
            EXPECT_GE(whole[i].size(), params.nMinBytes);
        }
        nTotal += whole[i].size();
    }
    EXPECT_EQ(nTotal, data.size());
    // About the average: far from it would mean the masks are wrong.
    EXPECT_NEAR(static_cast<double>(data.size()) / whole.size(), params.nAvgBytes, params.nAvgBytes * 0.5);
    for (size_t nPiece : {1u, 4095u, 65536u, 1000000u}) {
        std::vector<std::vector<uint8_t>> streamed;
        auto fnChunk = [&](const uint8_t* p, size_t n) { streamed.emplace_back(p, p + n); };
        CRQChunkStream<decltype(fnChunk)> stream(params, fnChunk);
        for (size_t i = 0; i < data.size(); i += nPiece) {
            stream.Feed(data.data() + i, std::min(nPiece, data.size() - i));
        }
        stream.Finish();
        EXPECT_EQ(streamed, whole) << "pieces of " << nPiece;
    }
}

TEST(Chunker, AnEditCostsOnlyTheChunksAroundIt) {
    const RQ_CHUNK_PARAMS params;
    const std::vector<uint8_t> old = Random(2 * 1024 * 1024, 2);
    const std::vector<uint8_t> inserted = Random(5000, 3);
    struct Case {
        const char* pszName;
        std::vector<uint8_t> edited;
        size_t nMaxNew;  // bytes to fetch at most
    };
    auto insertAt = [&](size_t nAt) {
        std::vector<uint8_t> v(old.begin(), old.begin() + nAt);
        v.insert(v.end(), inserted.begin(), inserted.end());
        v.insert(v.end(), old.begin() + nAt, old.end());
        return v;
    };
    std::vector<uint8_t> shifted(old.begin() + 1, old.end());
    std::vector<uint8_t> flipped = old;
    flipped[1000000] ^= 0x55;
    const size_t nAround = 2 * params.nMaxBytes;
    const Case cases[] = {
        {"insertion at the start", insertAt(0), inserted.size() + nAround},
        {"insertion in the middle", insertAt(old.size() / 2), inserted.size() + nAround},
        {"insertion at the end", insertAt(old.size()), inserted.size() + nAround},
        {"one byte less at the start", shifted, nAround},
        {"one byte changed", flipped, nAround},
        {"identical", old, 0},
    };
    for (const Case& c : cases) {
        EXPECT_LE(NewBytes(old, c.edited, params), c.nMaxNew) << c.pszName;
    }
    EXPECT_EQ(NewBytes(old, Random(old.size(), 9), params), old.size()) << "wholly different";
    EXPECT_TRUE(Chunks({}, params).empty());
    EXPECT_EQ(Chunks(std::vector<uint8_t>(10, 1), params).size(), 1u) << "a tiny file is one chunk";
}

// Format 4 is what mkpatch writes; formats 2 and 3, published by earlier
// releases, are still read.
TEST(DeltaIndex, RoundTripsAndRefusesWhatDoesNotAddUpInEveryFormat) {
    for (uint32_t nFormat : {2u, 3u, RQ_DELTA_INDEX_FORMAT}) {
        SCOPED_TRACE(nFormat);
        CheckIndexFormat(nFormat);
    }
}

TEST(DeltaIndex, Format3IsSmallerAndHasOneEncodingPerIndex) {
    const RQ_DELTA_INDEX index = TwoChunkIndex(4012);
    const std::string strNew = RQFormatDeltaIndex(index);
    EXPECT_LT(RQFormatDeltaIndex(index, 3).size() + 2 * 4, RQFormatDeltaIndex(index, 2).size());
    RQ_DELTA_INDEX back;
    std::string strWhy;
    ASSERT_TRUE(RQParseDeltaIndex(strNew, 10000, back, strWhy)) << strWhy;
    EXPECT_EQ(back.vecChunks[0].nPackBytes, 4012u);
    EXPECT_EQ(back.vecChunks[1].nPackBytes, 1200u);
    // The first chunk's size (4000) in a longer form than it needs.
    std::string strOverlong = strNew;
    const size_t nAt = 144;  // after the fixed head
    ASSERT_EQ(static_cast<uint8_t>(strOverlong[nAt]), 0xA0);
    strOverlong[nAt + 1] = static_cast<char>(static_cast<uint8_t>(strOverlong[nAt + 1]) | 0x80);
    strOverlong.insert(nAt + 2, 1, '\0');
    EXPECT_FALSE(RQParseDeltaIndex(strOverlong, 10000, back, strWhy));
    std::string strFuture = strNew;
    strFuture[4] = static_cast<char>(RQ_DELTA_INDEX_FORMAT + 1);
    EXPECT_FALSE(RQParseDeltaIndex(strFuture, 10000, back, strWhy)) << "a format from the future";
}

TEST(ZstdFrames, ComeBackExactlyOrNotAtAll) {
    const std::vector<uint8_t> random = Random(70000, 4);
    const std::vector<uint8_t> text(200000, 'a');
    CRQZstdCompressor compressor(12);
    CRQZstdDecompressor decompressor;
    for (const auto* pData : {&random, &text}) {
        std::string strFrame;
        ASSERT_TRUE(compressor.AppendFrame(pData->data(), pData->size(), strFrame));
        std::vector<uint8_t> out(pData->size());
        const auto* pFrame = reinterpret_cast<const uint8_t*>(strFrame.data());
        ASSERT_TRUE(decompressor.DecompressFrame(pFrame, strFrame.size(), out.data(), out.size()));
        EXPECT_EQ(out, *pData);
        // Where it pays, smaller; where it does not, hardly larger.
        EXPECT_LT(strFrame.size(), pData == &text ? pData->size() / 100 : pData->size() + 64);
        std::vector<uint8_t> small(pData->size() - 1);
        EXPECT_FALSE(decompressor.DecompressFrame(pFrame, strFrame.size(), small.data(), small.size()));
        EXPECT_FALSE(decompressor.DecompressFrame(pFrame, strFrame.size() - 1, out.data(), out.size()));
        // A whole frame (the compressed script) within a cap, and past it.
        std::string strWhole;
        EXPECT_TRUE(decompressor.DecompressWhole(strFrame, pData->size(), strWhole));
        EXPECT_EQ(std::vector<uint8_t>(strWhole.begin(), strWhole.end()), *pData);
        EXPECT_FALSE(decompressor.DecompressWhole(strFrame, pData->size() - 1, strWhole));
        std::string strDamaged = strFrame;
        strDamaged[strDamaged.size() / 2] ^= 0x40;
        // A damaged frame either fails or gives other bytes, which the chunk's
        // hash then refuses; it never writes past the buffer.
        if (decompressor.DecompressFrame(reinterpret_cast<const uint8_t*>(strDamaged.data()),
                                         strDamaged.size(), out.data(), out.size())) {
            EXPECT_NE(out, *pData);
        }
    }
}
