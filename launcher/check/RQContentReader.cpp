#include "launcher/check/RQContentReader.h"

#include <memory>

#include "baselib/RQBLCrc32Kernel.h"
#include "baselib/RQBLFileBlocks.h"
#include "baselib/RQBLThreadScratch.h"

RQContentRead CRQFileContentReader::Read(const std::wstring& strLocal, bool bStrong,
                                         const std::atomic<int64_t>* pStop, RQ_CONTENT_SUMS& sums) {
    // One buffer per checking thread, kept for all its files: a game of
    // twenty thousand small files would otherwise allocate as many.
    static CRQBLThreadScratch& s_scratch = CRQBLThreadScratch::Make();
    uint8_t* pBuffer = s_scratch.Get(BLOCK_BYTES);
    if (pBuffer == nullptr) {
        return RQContentRead::CANNOT_READ;
    }
    std::unique_ptr<CRQStrongHash> pStrong = bStrong && m_fnStrongHash ? m_fnStrongHash() : nullptr;
    uint32_t nRunning = 0xFFFFFFFFu;
    uint64_t ullBytes = 0;
    auto fnBlock = [&](const uint8_t* pData, size_t nBytes) {
        nRunning = rqbl::Crc32Update(nRunning, pData, nBytes);
        if (pStrong) {
            pStrong->Update(pData, nBytes);
        }
        ullBytes += nBytes;
    };
    switch (rqbl::ReadFileBlocks(strLocal, pBuffer, BLOCK_BYTES, pStop, fnBlock)) {
        case rqbl::BlockRead::STOPPED:
            return RQContentRead::STOPPED;
        case rqbl::BlockRead::CANNOT_OPEN:
        case rqbl::BlockRead::FAILED:
            return RQContentRead::CANNOT_READ;
        case rqbl::BlockRead::COMPLETE:
            break;
    }
    sums.dwCrc = ~nRunning;
    sums.strSha256 = pStrong ? pStrong->HexDigest() : std::string();
    sums.ullBytes = ullBytes;
    return RQContentRead::READ;
}
