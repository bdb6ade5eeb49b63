#include "patch/RQZstdFrames.h"

#include <zstd.h>

CRQZstdCompressor::CRQZstdCompressor(int nLevel) : m_pContext(ZSTD_createCCtx()), m_nLevel(nLevel) {}

CRQZstdCompressor::~CRQZstdCompressor() {
    ZSTD_freeCCtx(m_pContext);
}

bool CRQZstdCompressor::AppendFrame(const uint8_t* pData, size_t nBytes, std::string& strOut) {
    if (m_pContext == nullptr) {
        return false;
    }
    const size_t nOld = strOut.size();
    strOut.resize(nOld + ZSTD_compressBound(nBytes));
    // With the size known up front the library sizes its tables to the
    // input: small chunks compress quickly even at high levels.
    const size_t nDone =
        ZSTD_compressCCtx(m_pContext, strOut.data() + nOld, strOut.size() - nOld, pData, nBytes, m_nLevel);
    if (ZSTD_isError(nDone)) {
        strOut.resize(nOld);
        return false;
    }
    strOut.resize(nOld + nDone);
    return true;
}

CRQZstdDecompressor::CRQZstdDecompressor() : m_pContext(ZSTD_createDCtx()) {
    // A frame may not ask for a larger window than a block needs: a hostile
    // frame cannot make the launcher reserve gigabytes.
    if (m_pContext != nullptr) {
        ZSTD_DCtx_setParameter(m_pContext, ZSTD_d_windowLogMax, 23);
    }
}

CRQZstdDecompressor::~CRQZstdDecompressor() {
    ZSTD_freeDCtx(m_pContext);
}

bool CRQZstdDecompressor::DecompressFrame(const uint8_t* pFrame, size_t nFrameBytes, uint8_t* pOut,
                                          size_t nOutBytes) {
    if (m_pContext == nullptr || ZSTD_findFrameCompressedSize(pFrame, nFrameBytes) != nFrameBytes ||
        ZSTD_getFrameContentSize(pFrame, nFrameBytes) != nOutBytes) {
        return false;
    }
    const size_t nDone = ZSTD_decompressDCtx(m_pContext, pOut, nOutBytes, pFrame, nFrameBytes);
    return !ZSTD_isError(nDone) && nDone == nOutBytes;
}
