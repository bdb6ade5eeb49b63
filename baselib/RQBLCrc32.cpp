#include "baselib/RQBLCrc32.h"

#include "baselib/RQBLCrc32Kernel.h"
#include "baselib/RQBLMappedFile.h"

CRQBLCrc32::CRQBLCrc32() : m_pTable(new uint32_t[256]) {
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1u) != 0 ? (c >> 1) ^ rqbl::CRC32_POLYNOMIAL : c >> 1;
        }
        m_pTable[n] = c;
    }
}

CRQBLCrc32::~CRQBLCrc32() {
    delete[] m_pTable;
    m_pTable = nullptr;
}

uint32_t CRQBLCrc32::Update(uint32_t nRunning, const uint8_t* pData, size_t nBytes) const {
    // Short pieces are not worth the wide kernels' set-up.
    if (nBytes < 16) {
        return rqbl::Crc32UpdateBytewise(m_pTable, nRunning, pData, nBytes);
    }
    return rqbl::Crc32Update(nRunning, pData, nBytes);
}

bool CRQBLCrc32::GetFileCrc(const wchar_t* pszPath, uint32_t& dwCrc) {
    dwCrc = 0xFFFFFFFFu;
    if (m_pTable == nullptr || pszPath == nullptr) {
        return false;
    }
    uint32_t nRunning = 0xFFFFFFFFu;
    auto fnWindow = [this, &nRunning](const uint8_t* pData, size_t nBytes) {
        nRunning = Update(nRunning, pData, nBytes);
    };
    switch (rqbl::WalkMappedFile(pszPath, FILE_WINDOW_BYTES, fnWindow)) {
        case rqbl::MappedWalk::CANNOT_OPEN:
            return false;
        case rqbl::MappedWalk::WINDOW_FAILED:
            // The content was not all read, so no checksum exists. Every 32-bit
            // value is the CRC of some file of this size, so none is certain
            // not to match; 0xFFFFFFFF is the one the update already treats as
            // "unreadable" (the result of a file it cannot open), and false
            // says so. The CRC of the part read would be as likely to match and
            // would hide the failure.
            return false;
        case rqbl::MappedWalk::NO_CONTENT:
        case rqbl::MappedWalk::COMPLETE:
            break;
    }
    dwCrc = ~nRunning;  // nothing read leaves 0xFFFFFFFF, so the result is 0
    return true;
}
