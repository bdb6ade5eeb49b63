// CRC-32 (reflected polynomial 0xEDB88320, the zip/PNG checksum) of data that
// arrives in pieces, so that a download is checked while it is written instead
// of being read back from disk afterwards.
#pragma once

#include <cstddef>
#include <cstdint>

class CRQBLStreamCrc {
public:
    void Update(const void* pData, size_t nSize);
    uint32_t Value() const { return ~m_dwState; }
    void Restart() { m_dwState = 0xFFFFFFFFu; }

    // The checksum of one buffer.
    static uint32_t Of(const void* pData, size_t nSize);

private:
    uint32_t m_dwState = 0xFFFFFFFFu;
};
