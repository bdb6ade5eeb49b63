// Reads a whole file in order, block by block, into a buffer the caller
// owns. Large blocks cost one system call each; the pages of a memory-mapped
// view cost one fault each, which made reading a mapped file several times
// slower than checksumming it. Implemented in baselib/win and baselib/posix.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace rqbl {

enum class BlockRead {
    CANNOT_OPEN,  // missing, a folder, or held open for writing by another program
    FAILED,       // a read failed half-way
    STOPPED,      // *pStop became non-zero between two blocks
    COMPLETE,
};

using BlockFn = void (*)(void* pContext, const uint8_t* pData, size_t nBytes);

// Hands each filled part of pBuffer (at most nBufferBytes) to pfnBlock, from
// the start of the file to its end; an empty file hands nothing. pStop may be
// null.
BlockRead ReadFileBlocks(const std::wstring& strPath, uint8_t* pBuffer, size_t nBufferBytes,
                         const std::atomic<int64_t>* pStop, BlockFn pfnBlock, void* pContext);
// The same for the bytes [ullOffset, ullOffset + ullBytes) of the file, or
// from ullOffset to its end when it ends first (several threads may read
// parts of one file at once).
BlockRead ReadFileRange(const std::wstring& strPath, uint64_t ullOffset, uint64_t ullBytes, uint8_t* pBuffer,
                        size_t nBufferBytes, const std::atomic<int64_t>* pStop, BlockFn pfnBlock,
                        void* pContext);

template <typename F>
BlockRead ReadFileBlocks(const std::wstring& strPath, uint8_t* pBuffer, size_t nBufferBytes,
                         const std::atomic<int64_t>* pStop, F& fnBlock) {
    return ReadFileBlocks(
        strPath, pBuffer, nBufferBytes, pStop,
        [](void* pContext, const uint8_t* pData, size_t nBytes) {
            (*static_cast<F*>(pContext))(pData, nBytes);
        },
        &fnBlock);
}

template <typename F>
BlockRead ReadFileRange(const std::wstring& strPath, uint64_t ullOffset, uint64_t ullBytes, uint8_t* pBuffer,
                        size_t nBufferBytes, const std::atomic<int64_t>* pStop, F& fnBlock) {
    return ReadFileRange(
        strPath, ullOffset, ullBytes, pBuffer, nBufferBytes, pStop,
        [](void* pContext, const uint8_t* pData, size_t nBytes) {
            (*static_cast<F*>(pContext))(pData, nBytes);
        },
        &fnBlock);
}

}  // namespace rqbl
