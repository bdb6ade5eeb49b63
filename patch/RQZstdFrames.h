// zstd frames, one at a time: mkpatch compresses every chunk and every block
// of a file into a frame of its own; the launcher decompresses the frames it
// fetched, each into a buffer of the size the index gives. Each object holds
// its library context for reuse; one object per thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct ZSTD_CCtx_s;
struct ZSTD_DCtx_s;

class CRQZstdCompressor {
public:
    explicit CRQZstdCompressor(int nLevel);
    ~CRQZstdCompressor();
    CRQZstdCompressor(const CRQZstdCompressor&) = delete;
    CRQZstdCompressor& operator=(const CRQZstdCompressor&) = delete;

    // Appends the frame of pData to strOut (it records its content size, and
    // stores incompressible data nearly as it is). False when the library
    // failed.
    bool AppendFrame(const uint8_t* pData, size_t nBytes, std::string& strOut);

private:
    ZSTD_CCtx_s* m_pContext;
    int m_nLevel;
};

class CRQZstdDecompressor {
public:
    CRQZstdDecompressor();
    ~CRQZstdDecompressor();
    CRQZstdDecompressor(const CRQZstdDecompressor&) = delete;
    CRQZstdDecompressor& operator=(const CRQZstdDecompressor&) = delete;

    // Decompresses exactly one whole frame of nFrameBytes into pOut, which
    // must come to exactly nOutBytes: anything else (a damaged or hostile
    // frame, one that would grow larger, trailing bytes) is false, and pOut
    // is not to be used.
    bool DecompressFrame(const uint8_t* pFrame, size_t nFrameBytes, uint8_t* pOut, size_t nOutBytes);
    // One whole frame that records its content size, at most nMaxBytes, into
    // strOut; false for anything else.
    bool DecompressWhole(const std::string& strFrame, size_t nMaxBytes, std::string& strOut);

private:
    ZSTD_DCtx_s* m_pContext;
};

// The level mkpatch uses unless told otherwise: close to the best ratios for
// game text at a speed an operator does not wait for long.
inline constexpr int RQ_ZSTD_DEFAULT_LEVEL = 12;
