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

bool CRQZstdDecompressor::DecompressWhole(const std::string& strFrame, size_t nMaxBytes,
                                          std::string& strOut) {
    // The size is the frame's word, checked against the cap before anything
    // is reserved, and held to exactly by DecompressFrame.
    const unsigned long long ullSize = ZSTD_getFrameContentSize(strFrame.data(), strFrame.size());
    if (ullSize == ZSTD_CONTENTSIZE_UNKNOWN || ullSize == ZSTD_CONTENTSIZE_ERROR || ullSize > nMaxBytes) {
        return false;
    }
    strOut.assign(static_cast<size_t>(ullSize), '\0');
    return DecompressFrame(reinterpret_cast<const uint8_t*>(strFrame.data()), strFrame.size(),
                           reinterpret_cast<uint8_t*>(strOut.data()), strOut.size());
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
