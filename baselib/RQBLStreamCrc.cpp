#include "baselib/RQBLStreamCrc.h"

#include "baselib/RQBLCrc32Kernel.h"

// The same kernels as the file checksum, so a download is checked at the
// speed the comparison reads files.
void CRQBLStreamCrc::Update(const void* pData, size_t nSize) {
    m_dwState = rqbl::Crc32Update(m_dwState, static_cast<const uint8_t*>(pData), nSize);
}

uint32_t CRQBLStreamCrc::Of(const void* pData, size_t nSize) {
    CRQBLStreamCrc crc;
    crc.Update(pData, nSize);
    return crc.Value();
}
