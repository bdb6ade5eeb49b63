// The CRC-32 (reflected polynomial 0xEDB88320, as in Ethernet, ZIP and zlib)
// of memory and of a whole local file. An object holds its byte-wise table;
// make one where it is needed.
#pragma once

#include <cstddef>
#include <cstdint>

class CRQBLCrc32 {
public:
    CRQBLCrc32();
    ~CRQBLCrc32();
    CRQBLCrc32(const CRQBLCrc32&) = delete;
    CRQBLCrc32& operator=(const CRQBLCrc32&) = delete;

    // Window of the file walk.
    enum : size_t { FILE_WINDOW_BYTES = 0xA00000 };

    // True with the file's CRC-32; true with 0 for an empty file or one that
    // cannot be sized or mapped; false with 0xFFFFFFFF for a file that cannot
    // be opened for reading or whose reading stopped half-way.
    bool GetFileCrc(const wchar_t* pszPath, uint32_t& dwCrc);

    // Continues a running value (0xFFFFFFFF at the start, complemented at the
    // end) over nBytes of memory.
    uint32_t Update(uint32_t nRunning, const uint8_t* pData, size_t nBytes) const;

    const uint32_t* GetTable() const { return m_pTable; }

private:
    uint32_t* m_pTable = nullptr;
};
