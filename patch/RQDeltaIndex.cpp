#include "patch/RQDeltaIndex.h"

#include <cstring>

namespace {

constexpr char kMagic[4] = {'R', 'Q', 'D', 'X'};
// 4: a CRC-32 per chunk, with which a launcher finds the chunks an in-place
// edit left where they were at a tenth of the cost of hashing them.
// 3: sizes as variable-length numbers, the pack frame as its difference from
// the chunk (an incompressible chunk's frame is a few bytes larger): about a
// fifth less index per chunk, and a launcher fetches every changed file's
// index; and chunks cut with normalization level 1 (a change costs fewer
// bytes around it). 3 and 2 (fixed 32-bit sizes, level 2) are still read:
// releases published with them keep their delta updates. 1, never published, named
// chunks by all 256 bits.
constexpr uint32_t kOldestFormat = 2;
// The smallest chunk any index may declare: bounds the chunk count, and so
// the memory a hostile index can ask for.
constexpr uint32_t kSmallestMinChunk = 256;
constexpr size_t kHeadBytes = 4 + 4 + 8 + 32 + 12 + 32 + 8 + 32 + 8 + 4;
// The most an entry takes in any format (a size is below 2^25 bytes, so a
// variable-length one takes at most 4 bytes; a count at most 5), and the
// least one takes in format 3 (4 more from format 4 on).
constexpr size_t kChunkBytes = 4 + 4 + 16 + 4;
constexpr size_t kBlockBytes = 5 + 5;
constexpr size_t kLeastChunkBytes = 1 + 1 + 16;
constexpr size_t kLeastBlockBytes = 1 + 1;

void PutU32(std::string& s, uint32_t n) {
    for (int i = 0; i < 4; ++i) {
        s.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
    }
}

void PutU64(std::string& s, uint64_t n) {
    for (int i = 0; i < 8; ++i) {
        s.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
    }
}

// LEB128: seven bits a byte, low first, the top bit set on all but the last.
void PutVar(std::string& s, uint64_t n) {
    while (n >= 0x80) {
        s.push_back(static_cast<char>((n & 0x7F) | 0x80));
        n >>= 7;
    }
    s.push_back(static_cast<char>(n));
}

uint64_t ZigZag(int64_t n) {
    return (static_cast<uint64_t>(n) << 1) ^ static_cast<uint64_t>(n >> 63);
}

int64_t UnZigZag(uint64_t n) {
    return static_cast<int64_t>(n >> 1) ^ -static_cast<int64_t>(n & 1);
}

template <size_t N>
void PutHash(std::string& s, const std::array<uint8_t, N>& hash) {
    s.append(reinterpret_cast<const char*>(hash.data()), hash.size());
}

// Reads from a bounded buffer; every read checks what is left.
class CReader {
public:
    explicit CReader(const std::string& s) : m_s(s) {}
    bool U32(uint32_t& n) {
        if (Left() < 4) {
            return false;
        }
        n = 0;
        for (int i = 0; i < 4; ++i) {
            n |= uint32_t{static_cast<uint8_t>(m_s[m_nPos + i])} << (8 * i);
        }
        m_nPos += 4;
        return true;
    }
    bool U64(uint64_t& n) {
        if (Left() < 8) {
            return false;
        }
        n = 0;
        for (int i = 0; i < 8; ++i) {
            n |= uint64_t{static_cast<uint8_t>(m_s[m_nPos + i])} << (8 * i);
        }
        m_nPos += 8;
        return true;
    }
    // At most nMaxBytes bytes and no longer form than the number needs (one
    // number, one encoding: the index's hash names one set of sizes).
    bool Var(uint64_t& n, size_t nMaxBytes) {
        n = 0;
        for (size_t i = 0; i < nMaxBytes && Left() > 0; ++i) {
            const auto b = static_cast<uint8_t>(m_s[m_nPos++]);
            n |= uint64_t{b & 0x7Fu} << (7 * i);
            if ((b & 0x80) == 0) {
                return b != 0 || i == 0;
            }
        }
        return false;
    }
    bool Var32(uint32_t& n) {
        uint64_t ull = 0;
        if (!Var(ull, 5) || ull > UINT32_MAX) {
            return false;
        }
        n = static_cast<uint32_t>(ull);
        return true;
    }
    template <size_t N>
    bool Hash(std::array<uint8_t, N>& hash) {
        if (Left() < hash.size()) {
            return false;
        }
        std::memcpy(hash.data(), m_s.data() + m_nPos, hash.size());
        m_nPos += hash.size();
        return true;
    }
    bool Bytes(const void* pExpected, size_t n) {
        if (Left() < n || std::memcmp(m_s.data() + m_nPos, pExpected, n) != 0) {
            return false;
        }
        m_nPos += n;
        return true;
    }
    size_t Left() const { return m_s.size() - m_nPos; }

private:
    const std::string& m_s;
    size_t m_nPos = 0;
};

bool ReadChunk(CReader& in, uint32_t nFormat, RQ_DELTA_CHUNK& chunk) {
    if (nFormat == 2) {
        return in.U32(chunk.nBytes) && in.U32(chunk.nPackBytes) && in.Hash(chunk.hash);
    }
    uint64_t ullDifference = 0;
    if (!in.Var32(chunk.nBytes) || !in.Var(ullDifference, 10)) {
        return false;
    }
    // Out of range here is out of range below: the sizes are checked there.
    const int64_t nPack = int64_t{chunk.nBytes} + UnZigZag(ullDifference);
    chunk.nPackBytes = nPack < 0 || nPack > INT64_C(0xFFFFFFFF) ? 0 : static_cast<uint32_t>(nPack);
    return in.Hash(chunk.hash) && (nFormat < 4 || in.U32(chunk.dwCrc));
}

bool Fail(std::string& strWhy, const char* pszWhy) {
    strWhy = pszWhy;
    return false;
}

}  // namespace

std::string RQFormatDeltaIndex(const RQ_DELTA_INDEX& index, uint32_t nFormat) {
    std::string s(kMagic, sizeof(kMagic));
    PutU32(s, nFormat);
    PutU64(s, index.ullFileBytes);
    PutHash(s, index.fileHash);
    PutU32(s, index.params.nMinBytes);
    PutU32(s, index.params.nAvgBytes);
    PutU32(s, index.params.nMaxBytes);
    PutHash(s, index.packHash);
    PutU64(s, index.ullPackBytes);
    PutHash(s, index.zstHash);
    PutU64(s, index.ullZstBytes);
    PutU32(s, static_cast<uint32_t>(index.vecChunks.size()));
    for (const RQ_DELTA_CHUNK& chunk : index.vecChunks) {
        if (nFormat == 2) {
            PutU32(s, chunk.nBytes);
            PutU32(s, chunk.nPackBytes);
        } else {
            PutVar(s, chunk.nBytes);
            PutVar(s, ZigZag(int64_t{chunk.nPackBytes} - int64_t{chunk.nBytes}));
        }
        PutHash(s, chunk.hash);
        if (nFormat >= 4) {
            PutU32(s, chunk.dwCrc);
        }
    }
    PutU32(s, static_cast<uint32_t>(index.vecBlocks.size()));
    for (const RQ_DELTA_BLOCK& block : index.vecBlocks) {
        if (nFormat == 2) {
            PutU32(s, block.nChunks);
            PutU32(s, block.nZstBytes);
        } else {
            PutVar(s, block.nChunks);
            PutVar(s, block.nZstBytes);
        }
    }
    return s;
}

uint64_t RQDeltaIndexMaxBytes(uint64_t ullFileBytes) {
    const uint64_t ullChunks = ullFileBytes / kSmallestMinChunk + 1;
    return kHeadBytes + ullChunks * kChunkBytes + 4 + ullChunks * kBlockBytes;
}

bool RQParseDeltaIndex(const std::string& strBytes, uint64_t ullFileBytes, RQ_DELTA_INDEX& index,
                       std::string& strWhy) {
    if (strBytes.size() > RQDeltaIndexMaxBytes(ullFileBytes)) {
        return Fail(strWhy, "larger than any index of that file can be");
    }
    CReader in(strBytes);
    RQ_DELTA_INDEX out;
    uint32_t nFormat = 0;
    if (!in.Bytes(kMagic, sizeof(kMagic)) || !in.U32(nFormat) || nFormat < kOldestFormat ||
        nFormat > RQ_DELTA_INDEX_FORMAT) {
        return Fail(strWhy, "not a chunk index of a known format");
    }
    uint32_t nChunks = 0;
    if (!in.U64(out.ullFileBytes) || !in.Hash(out.fileHash) || !in.U32(out.params.nMinBytes) ||
        !in.U32(out.params.nAvgBytes) || !in.U32(out.params.nMaxBytes) || !in.Hash(out.packHash) ||
        !in.U64(out.ullPackBytes) || !in.Hash(out.zstHash) || !in.U64(out.ullZstBytes) || !in.U32(nChunks)) {
        return Fail(strWhy, "cut short");
    }
    out.params.nNormalization = nFormat == 2 ? 2 : 1;
    if (out.ullFileBytes != ullFileBytes) {
        return Fail(strWhy, "for a file of another size");
    }
    if (!out.params.Valid() || out.params.nMinBytes < kSmallestMinChunk) {
        return Fail(strWhy, "chunk sizes out of range");
    }
    // Each chunk but the last has at least the smallest size.
    const bool bFixed = nFormat == 2;
    out.bChunkCrcs = nFormat >= 4;
    const size_t nLeastChunkBytes = bFixed ? 4 + 4 + 16 : kLeastChunkBytes + (out.bChunkCrcs ? 4 : 0);
    if (nChunks > ullFileBytes / out.params.nMinBytes + 1 ||
        in.Left() < uint64_t{nChunks} * nLeastChunkBytes) {
        return Fail(strWhy, "more chunks than the file can hold");
    }
    out.vecChunks.resize(nChunks);
    uint64_t ullFileSum = 0;
    uint64_t ullPackSum = 0;
    for (uint32_t i = 0; i < nChunks; ++i) {
        RQ_DELTA_CHUNK& chunk = out.vecChunks[i];
        if (!ReadChunk(in, nFormat, chunk)) {
            return Fail(strWhy, "cut short");
        }
        const bool bLast = i + 1 == nChunks;
        if (chunk.nBytes == 0 || chunk.nBytes > out.params.nMaxBytes ||
            (!bLast && chunk.nBytes < out.params.nMinBytes) || chunk.nPackBytes == 0 ||
            chunk.nPackBytes > RQDeltaFrameBound(chunk.nBytes)) {
            return Fail(strWhy, "a chunk of an impossible size");
        }
        ullFileSum += chunk.nBytes;
        ullPackSum += chunk.nPackBytes;
    }
    if (ullFileSum != ullFileBytes || ullPackSum != out.ullPackBytes) {
        return Fail(strWhy, "chunks that do not add up to the file and the pack");
    }
    uint32_t nBlocks = 0;
    if (!in.U32(nBlocks) || nBlocks > nChunks ||
        (bFixed ? in.Left() != uint64_t{nBlocks} * 8 : in.Left() < uint64_t{nBlocks} * kLeastBlockBytes)) {
        return Fail(strWhy, "a block list that does not fit");
    }
    out.vecBlocks.resize(nBlocks);
    uint64_t ullBlockChunks = 0;
    uint64_t ullZstSum = 0;
    for (RQ_DELTA_BLOCK& block : out.vecBlocks) {
        const bool bRead = bFixed ? in.U32(block.nChunks) && in.U32(block.nZstBytes)
                                  : in.Var32(block.nChunks) && in.Var32(block.nZstBytes);
        if (!bRead || block.nChunks == 0 || block.nZstBytes == 0 ||
            block.nChunks > nChunks - ullBlockChunks) {
            return Fail(strWhy, "an empty block, or one past the chunks");
        }
        // Blocks are decompressed whole: their sizes bound the memory it takes.
        uint64_t ullBlockBytes = 0;
        for (uint32_t i = 0; i < block.nChunks; ++i) {
            ullBlockBytes += out.vecChunks[ullBlockChunks + i].nBytes;
        }
        if (ullBlockBytes > RQ_DELTA_BLOCK_BYTES + out.params.nMaxBytes ||
            block.nZstBytes > RQDeltaFrameBound(ullBlockBytes)) {
            return Fail(strWhy, "a block larger than any block is");
        }
        ullBlockChunks += block.nChunks;
        ullZstSum += block.nZstBytes;
    }
    if (ullBlockChunks != nChunks || ullZstSum != out.ullZstBytes || in.Left() != 0) {
        return Fail(strWhy, "blocks that do not add up to the chunks and the zst");
    }
    index = std::move(out);
    return true;
}

std::wstring RQDeltaObjectPath(const RQ_SHA256& hash, const wchar_t* pszSuffix) {
    const std::string strHex = RQBLSha256Hex(hash);
    return L"delta/" + std::wstring(strHex.begin(), strHex.begin() + 2) + L"/" +
           std::wstring(strHex.begin(), strHex.end()) + pszSuffix;
}

uint64_t RQDeltaFrameBound(uint64_t ullBytes) {
    // zstd's own bound (ZSTD_COMPRESSBOUND) for inputs under 128 KiB is a
    // little larger than this; the frame header and block headers fit in 64.
    return ullBytes + ullBytes / 255 + 64 + (ullBytes < 128 * 1024 ? (128 * 1024 - ullBytes) / 2048 : 0);
}
