// The chunk index of one file version: what a launcher needs to fetch only
// the parts of a file it does not have. mkpatch publishes, for every listed
// file, three objects in the content folder, each named by its own SHA-256 so
// that a CDN may cache it forever and later releases reuse it:
//
//   delta/ab/<hash>.idx    this index (its SHA-256 is slot 14 of the file's
//                          CODE_TABLE entry, so the signed script covers it)
//   delta/ab/<hash>.pack   every chunk as a zstd frame of its own, in file
//                          order: any run of chunks is one byte range
//   delta/ab/<hash>.zst    the chunks in blocks of about 1 MiB, each block a
//                          zstd frame: smaller than the pack for long runs
//
// Both data objects are plain multi-frame zstd streams (`zstd -d` gives the
// file). The index, little-endian:
//
//   "RQDX", u32 format 4, u64 file size, [32] file SHA-256,
//   u32 min, avg, max chunk bytes,
//   [32] pack SHA-256, u64 pack bytes, [32] zst SHA-256, u64 zst bytes,
//   u32 chunks, then per chunk: v bytes, z (bytes in the pack - bytes),
//   [16] the first 128 bits of its SHA-256, u32 its CRC-32,
//   u32 blocks, then per block: v chunks, v bytes in the zst.
//
// v is an unsigned LEB128 number (seven bits a byte, low first), z a signed
// one in zigzag form (0, -1, 1, -2, ... as 0, 1, 2, 3, ...). Format 3, still
// read, has no CRC-32 per chunk; format 2 neither, and u32 in place of every
// v and z.
//
// Offsets are the sums of the sizes before: in the file, in the pack, in the
// zst. Every fetched chunk is checked against its SHA-256 before it is used,
// and the whole file against slot 13 before it replaces the old one. The
// CRC-32 only finds a chunk where a launcher expects it in the old file (a
// tenth of the SHA-256's cost): a false match fails the whole file's check.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "baselib/RQBLSha256.h"
#include "patch/RQChunker.h"

// A chunk is named by the first 128 bits of its SHA-256: as hard to forge as
// the whole hash for anyone who did not make the chunk (a second preimage
// costs 2^128), and 16 bytes less per chunk in every index a launcher
// fetches (a 256 MiB file has some 32 000 chunks).
using RQ_CHUNK_HASH = std::array<uint8_t, 16>;

inline RQ_CHUNK_HASH RQChunkHash(const RQ_SHA256& full) {
    RQ_CHUNK_HASH hash{};
    std::copy_n(full.begin(), hash.size(), hash.begin());
    return hash;
}

// The chunk hash of nBytes at pData; sha is a scratch hasher, restarted.
inline bool RQChunkHashOf(CRQBLSha256& sha, const uint8_t* pData, size_t nBytes, RQ_CHUNK_HASH& hash) {
    RQ_SHA256 full{};
    sha.Update(pData, nBytes);
    if (!sha.Final(full)) {
        return false;
    }
    hash = RQChunkHash(full);
    return true;
}

struct RQ_DELTA_CHUNK {
    uint32_t nBytes = 0;
    uint32_t nPackBytes = 0;  // its frame in the pack
    RQ_CHUNK_HASH hash{};
    uint32_t dwCrc = 0;  // from format 4 on
};

struct RQ_DELTA_BLOCK {
    uint32_t nChunks = 0;
    uint32_t nZstBytes = 0;  // its frame in the zst
};

struct RQ_DELTA_INDEX {
    uint64_t ullFileBytes = 0;
    RQ_SHA256 fileHash{};
    RQ_CHUNK_PARAMS params;
    RQ_SHA256 packHash{};
    uint64_t ullPackBytes = 0;
    RQ_SHA256 zstHash{};
    uint64_t ullZstBytes = 0;
    std::vector<RQ_DELTA_CHUNK> vecChunks;
    std::vector<RQ_DELTA_BLOCK> vecBlocks;
    bool bChunkCrcs = false;  // the chunks' dwCrc are known (format 4 on)
};

// A block of the zst holds whole chunks, this many bytes or just over: the
// launcher holds a block whole while it checks it, on every transfer slot.
inline constexpr uint32_t RQ_DELTA_BLOCK_BYTES = 1024 * 1024;

// The format mkpatch writes; launchers read it and every older published one.
inline constexpr uint32_t RQ_DELTA_INDEX_FORMAT = 4;

std::string RQFormatDeltaIndex(const RQ_DELTA_INDEX& index, uint32_t nFormat = RQ_DELTA_INDEX_FORMAT);

// Strict: the layout above and nothing else, sizes that add up (the chunks to
// the file, the frames to the objects, the blocks to the chunks), chunk sizes
// within the parameters, and the file size ullFileBytes that the script
// lists. False with the reason otherwise.
bool RQParseDeltaIndex(const std::string& strBytes, uint64_t ullFileBytes, RQ_DELTA_INDEX& index,
                       std::string& strWhy);

// The largest index a file of this size can have (with the smallest chunks
// any index may use): the cap on fetching one.
uint64_t RQDeltaIndexMaxBytes(uint64_t ullFileBytes);

// The largest zstd frame of ullBytes of data: a frame in an index larger than
// this is refused, so a hostile index cannot make a launcher hold more.
uint64_t RQDeltaFrameBound(uint64_t ullBytes);

// "delta/ab/<64 hex digits><strSuffix>", relative to the content folder.
std::wstring RQDeltaObjectPath(const RQ_SHA256& hash, const wchar_t* pszSuffix);

inline constexpr wchar_t RQ_DELTA_INDEX_SUFFIX[] = L".idx";
inline constexpr wchar_t RQ_DELTA_PACK_SUFFIX[] = L".pack";
inline constexpr wchar_t RQ_DELTA_ZST_SUFFIX[] = L".zst";
