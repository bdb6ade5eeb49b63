#include "tools/mkpatch/RQDeltaPublish.h"

#include <algorithm>
#include <deque>
#include <fstream>
#include <future>
#include <sstream>
#include <system_error>
#include <vector>

#include "baselib/RQBLSha256.h"
#include "patch/RQDeltaIndex.h"
#include "patch/RQZstdFrames.h"
#include "tools/mkpatch/RQPatchScan.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kCacheFile = "delta/mkpatch-cache.txt";
constexpr int kPackLevelMax = 3;
// zstd's fast levels (below 1) search little: for chunks of a block that does
// not compress, whose frames come out stored all the same.
constexpr int kStoredLevel = -100;

// The chunks of one block, compressed both ways.
struct CBlockOut {
    bool bOk = false;
    std::string strZstFrame;
    std::string strPackFrames;
    std::vector<uint32_t> vecPackBytes;  // per chunk
};

CBlockOut CompressBlock(std::vector<uint8_t> vecData, std::vector<uint32_t> vecChunkBytes, int nLevel) {
    CBlockOut out;
    // Most of a game's bytes are compressed already (textures, sound,
    // video). A block that the fastest level cannot shrink by 2 % is kept as
    // that level made it: a search for matches at a higher level costs ten
    // times the time and gains nothing, for the block or for its chunks.
    CRQZstdCompressor quick(1);
    out.bOk = quick.AppendFrame(vecData.data(), vecData.size(), out.strZstFrame);
    const bool bStored = out.strZstFrame.size() * 50 >= vecData.size() * 49;
    if (!bStored) {
        out.strZstFrame.clear();
        CRQZstdCompressor zst(nLevel);
        out.bOk = zst.AppendFrame(vecData.data(), vecData.size(), out.strZstFrame);
    }
    CRQZstdCompressor pack(bStored ? kStoredLevel : std::min(nLevel, kPackLevelMax));
    size_t nOffset = 0;
    for (uint32_t nBytes : vecChunkBytes) {
        const size_t nBefore = out.strPackFrames.size();
        out.bOk = out.bOk && pack.AppendFrame(vecData.data() + nOffset, nBytes, out.strPackFrames);
        out.vecPackBytes.push_back(static_cast<uint32_t>(out.strPackFrames.size() - nBefore));
        nOffset += nBytes;
    }
    return out;
}

// A file of the delta folder written under a temporary name while it is
// hashed, then put under its own hash.
class CObjectWriter {
public:
    CObjectWriter(const fs::path& folder, const char* pszTemp) : m_temp(folder / pszTemp) {
        fs::create_directories(folder, m_ec);
        m_out.open(m_temp, std::ios::binary | std::ios::trunc);
    }
    ~CObjectWriter() {
        if (!m_bDone) {
            m_out.close();
            std::error_code ec;
            fs::remove(m_temp, ec);
        }
    }
    void Write(const std::string& strBytes) {
        m_out.write(strBytes.data(), static_cast<std::streamsize>(strBytes.size()));
        m_sha.Update(strBytes.data(), strBytes.size());
        m_ullBytes += strBytes.size();
    }
    uint64_t Bytes() const { return m_ullBytes; }
    // Puts the object under its name; false when anything failed.
    bool Finish(const fs::path& contentFolder, const wchar_t* pszSuffix, RQ_SHA256& hash) {
        m_out.close();
        if (!m_out || !m_sha.Final(hash)) {
            return false;
        }
        const fs::path target = contentFolder / RQDeltaObjectPath(hash, pszSuffix);
        std::error_code ec;
        fs::create_directories(target.parent_path(), ec);
        fs::rename(m_temp, target, ec);
        m_bDone = !ec;
        return m_bDone;
    }

private:
    fs::path m_temp;
    std::error_code m_ec;
    std::ofstream m_out;
    CRQBLSha256 m_sha;
    uint64_t m_ullBytes = 0;
    bool m_bDone = false;
};

bool ReadWhole(const fs::path& file, std::string& strBytes) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    strBytes = all.str();
    return static_cast<bool>(in) || in.eof();
}

// An index published earlier: there, intact, and with its objects beside it.
bool StillPublished(const fs::path& contentFolder, const RQPatchFile& file, const std::string& strIndexHex) {
    RQ_SHA256 indexHash{};
    RQ_SHA256 digest{};
    std::string strBytes;
    RQ_DELTA_INDEX index;
    std::string strWhy;
    std::error_code ec;
    return RQBLParseSha256Hex(strIndexHex, indexHash) &&
           ReadWhole(contentFolder / RQDeltaObjectPath(indexHash, RQ_DELTA_INDEX_SUFFIX), strBytes) &&
           CRQBLSha256::Of(strBytes.data(), strBytes.size(), digest) && digest == indexHash &&
           RQParseDeltaIndex(strBytes, file.ullFileSize, index, strWhy) &&
           fs::file_size(contentFolder / RQDeltaObjectPath(index.packHash, RQ_DELTA_PACK_SUFFIX), ec) ==
               index.ullPackBytes &&
           !ec &&
           fs::file_size(contentFolder / RQDeltaObjectPath(index.zstHash, RQ_DELTA_ZST_SUFFIX), ec) ==
               index.ullZstBytes &&
           !ec;
}

}  // namespace

void CRQDeltaCache::Load(const fs::path& contentFolder) {
    // "<key> <index SHA-256>" per line; the comment at the top and anything
    // that is not such a line are passed over (a stale entry costs only a
    // check: StillPublished reads the index before it is used).
    std::ifstream in(contentFolder / kCacheFile);
    RQ_SHA256 hash{};
    for (std::string strLine; std::getline(in, strLine);) {
        const size_t nSpace = strLine.find(' ');
        if (strLine.empty() || strLine[0] == '#' || nSpace == std::string::npos ||
            !RQBLParseSha256Hex(strLine.substr(nSpace + 1), hash)) {
            continue;
        }
        m_mapIndex[strLine.substr(0, nSpace)] = strLine.substr(nSpace + 1);
    }
}

bool CRQDeltaCache::Save(const fs::path& contentFolder) const {
    std::string strText =
        "# mkpatch's list of published chunk indexes: file SHA-256/min/avg/max/normalization/level/format, "
        "index SHA-256.\n"
        "# Only mkpatch reads it; deleting it costs the next run the compression again.\n";
    for (const auto& [strKey, strIndex] : m_mapIndex) {
        strText += strKey + " " + strIndex + "\n";
    }
    const fs::path file = contentFolder / kCacheFile;
    const fs::path temp = contentFolder / (std::string(kCacheFile) + ".tmp");
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << strText;
        if (!out.flush()) {
            return false;
        }
    }
    fs::rename(temp, file, ec);
    return !ec;
}

std::string CRQDeltaCache::Key(const RQPatchFile& file, const RQ_DELTA_PUBLISH_OPTIONS& options) {
    // The index format too: an index of an older one is published again in
    // the current one (which launchers use faster).
    return file.strSha256 + "/" + std::to_string(file.chunkParams.nMinBytes) + "/" +
           std::to_string(file.chunkParams.nAvgBytes) + "/" + std::to_string(file.chunkParams.nMaxBytes) +
           "/" + std::to_string(file.chunkParams.nNormalization) + "/" + std::to_string(options.nLevel) +
           "/" + std::to_string(RQ_DELTA_INDEX_FORMAT);
}

const std::string* CRQDeltaCache::Find(const RQPatchFile& file,
                                       const RQ_DELTA_PUBLISH_OPTIONS& options) const {
    auto it = m_mapIndex.find(Key(file, options));
    return it == m_mapIndex.end() ? nullptr : &it->second;
}

void CRQDeltaCache::Put(const RQPatchFile& file, const RQ_DELTA_PUBLISH_OPTIONS& options,
                        const std::string& strIndexSha256) {
    m_mapIndex[Key(file, options)] = strIndexSha256;
}

bool RQPublishDeltaFile(const fs::path& source, RQPatchFile& file, const fs::path& contentFolder,
                        const RQ_DELTA_PUBLISH_OPTIONS& options, CRQDeltaCache& cache,
                        RQ_DELTA_PUBLISH_STATS& stats, std::wstring& strError) {
    ++stats.ullFiles;
    if (const std::string* pIndex = cache.Find(file, options)) {
        if (StillPublished(contentFolder, file, *pIndex)) {
            file.strDeltaIndex = *pIndex;
            ++stats.ullReused;
            return true;
        }
    }
    const fs::path tempFolder = contentFolder / "delta" / "tmp";
    const std::wstring strName = file.strPath + file.strFileName;
    RQ_DELTA_INDEX index;
    index.ullFileBytes = file.ullFileSize;
    if (!RQBLParseSha256Hex(file.strSha256, index.fileHash)) {
        strError = L"no SHA-256 for " + strName;
        return false;
    }
    index.params = file.chunkParams;
    index.vecChunks = file.vecChunks;
    CObjectWriter pack(tempFolder, "pack.part");
    CObjectWriter zst(tempFolder, "zst.part");

    // Blocks of whole chunks, read in order, compressed on several threads
    // and written in order.
    std::ifstream in(source, std::ios::binary);
    std::deque<std::future<CBlockOut>> queue;
    size_t nChunk = 0;
    bool bOk = static_cast<bool>(in);
    auto fnWriteFront = [&] {
        CBlockOut out = queue.front().get();
        queue.pop_front();
        if (!out.bOk) {
            bOk = false;
            return;
        }
        for (uint32_t nPackBytes : out.vecPackBytes) {
            index.vecChunks[nChunk++].nPackBytes = nPackBytes;
        }
        pack.Write(out.strPackFrames);
        zst.Write(out.strZstFrame);
        index.vecBlocks.push_back(RQ_DELTA_BLOCK{static_cast<uint32_t>(out.vecPackBytes.size()),
                                                 static_cast<uint32_t>(out.strZstFrame.size())});
    };
    for (size_t nFirst = 0; bOk && nFirst < index.vecChunks.size();) {
        std::vector<uint32_t> vecChunkBytes;
        size_t nBytes = 0;
        while (nFirst + vecChunkBytes.size() < index.vecChunks.size() && nBytes < RQ_DELTA_BLOCK_BYTES) {
            vecChunkBytes.push_back(index.vecChunks[nFirst + vecChunkBytes.size()].nBytes);
            nBytes += vecChunkBytes.back();
        }
        std::vector<uint8_t> vecData(nBytes);
        if (!in.read(reinterpret_cast<char*>(vecData.data()), static_cast<std::streamsize>(nBytes))) {
            bOk = false;
            break;
        }
        nFirst += vecChunkBytes.size();
        queue.push_back(std::async(std::launch::async, CompressBlock, std::move(vecData),
                                   std::move(vecChunkBytes), options.nLevel));
        while (bOk && queue.size() > std::max(1u, options.nThreads)) {
            fnWriteFront();
        }
    }
    while (!queue.empty()) {
        fnWriteFront();
    }
    index.ullPackBytes = pack.Bytes();
    index.ullZstBytes = zst.Bytes();
    if (!bOk || !pack.Finish(contentFolder, RQ_DELTA_PACK_SUFFIX, index.packHash) ||
        !zst.Finish(contentFolder, RQ_DELTA_ZST_SUFFIX, index.zstHash)) {
        strError = L"cannot publish the compressed parts of " + strName;
        return false;
    }
    CObjectWriter indexWriter(tempFolder, "idx.part");
    indexWriter.Write(RQFormatDeltaIndex(index));
    RQ_SHA256 indexHash{};
    if (!indexWriter.Finish(contentFolder, RQ_DELTA_INDEX_SUFFIX, indexHash)) {
        strError = L"cannot publish the chunk index of " + strName;
        return false;
    }
    file.strDeltaIndex = RQBLSha256Hex(indexHash);
    cache.Put(file, options, file.strDeltaIndex);
    stats.ullBytesIn += file.ullFileSize;
    stats.ullPackBytes += index.ullPackBytes;
    stats.ullZstBytes += index.ullZstBytes;
    return true;
}
