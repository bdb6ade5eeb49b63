// A delta release of one file made in memory, as mkpatch publishes it: the
// index, the pack and the zst, by their paths under the content folder.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "baselib/RQBLStreamCrc.h"
#include "launcher/delta/RQDeltaAssembly.h"
#include "patch/RQDeltaIndex.h"
#include "patch/RQZstdFrames.h"

namespace rqtest {

struct CRelease {
    RQ_DELTA_INDEX index;
    std::map<std::wstring, std::string> objects;
    RQ_DELTA_TARGET target;
    std::string strIndex;  // the index as published, also among the objects
    RQ_SHA256 indexHash{};
};

inline CRelease Publish(const std::vector<uint8_t>& data) {
    CRelease r;
    RQ_DELTA_INDEX& index = r.index;
    index.ullFileBytes = data.size();
    index.params = RQChunkParamsForFile(data.size(), RQ_CHUNK_PARAMS());
    index.bChunkCrcs = true;
    CRQBLSha256::Of(data.data(), data.size(), index.fileHash);
    std::string strPack;
    std::string strZst;
    CRQZstdCompressor zst(3);
    size_t nBlockStart = 0;
    auto fnCloseBlock = [&](size_t nEnd, uint32_t nChunks) {
        const size_t nBefore = strZst.size();
        zst.AppendFrame(data.data() + nBlockStart, nEnd - nBlockStart, strZst);
        index.vecBlocks.push_back({nChunks, static_cast<uint32_t>(strZst.size() - nBefore)});
        nBlockStart = nEnd;
    };
    uint32_t nInBlock = 0;
    RQForEachChunk(CRQChunker(index.params), data.data(), data.size(),
                   [&](size_t nOffset, const uint8_t* p, size_t n) {
                       RQ_DELTA_CHUNK chunk;
                       chunk.nBytes = static_cast<uint32_t>(n);
                       CRQBLSha256 sha;
                       RQChunkHashOf(sha, p, n, chunk.hash);
                       chunk.dwCrc = CRQBLStreamCrc::Of(p, n);
                       const size_t nBefore = strPack.size();
                       zst.AppendFrame(p, n, strPack);
                       chunk.nPackBytes = static_cast<uint32_t>(strPack.size() - nBefore);
                       index.vecChunks.push_back(chunk);
                       ++nInBlock;
                       if (nOffset + n - nBlockStart >= RQ_DELTA_BLOCK_BYTES || nOffset + n == data.size()) {
                           fnCloseBlock(nOffset + n, nInBlock);
                           nInBlock = 0;
                       }
                   });
    index.ullPackBytes = strPack.size();
    index.ullZstBytes = strZst.size();
    CRQBLSha256::Of(strPack.data(), strPack.size(), index.packHash);
    CRQBLSha256::Of(strZst.data(), strZst.size(), index.zstHash);
    r.objects[RQDeltaObjectPath(index.packHash, RQ_DELTA_PACK_SUFFIX)] = strPack;
    r.objects[RQDeltaObjectPath(index.zstHash, RQ_DELTA_ZST_SUFFIX)] = strZst;
    r.strIndex = RQFormatDeltaIndex(index);
    CRQBLSha256::Of(r.strIndex.data(), r.strIndex.size(), r.indexHash);
    r.objects[RQDeltaObjectPath(r.indexHash, RQ_DELTA_INDEX_SUFFIX)] = r.strIndex;
    r.target.strPart = L"new.dat.rqpart";
    r.target.ullBytes = data.size();
    r.target.dwCrc = CRQBLStreamCrc::Of(data.data(), data.size());
    r.target.sha256 = index.fileHash;
    return r;
}

}  // namespace rqtest
