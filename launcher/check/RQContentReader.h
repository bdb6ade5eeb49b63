// Reads a listed file's content for its checksums. The checker reads every
// file through this interface, so a test can count (or refuse) the reads.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "patch/RQStrongHash.h"

struct RQ_CONTENT_SUMS {
    uint32_t dwCrc = 0;
    // Empty unless the strong hash was asked for and can be computed.
    std::string strSha256;
    uint64_t ullBytes = 0;
};

enum class RQContentRead {
    READ,
    CANNOT_READ,  // could not be opened or read to its end
    STOPPED,
};

class CRQContentReader {
public:
    virtual ~CRQContentReader() = default;
    // Called from several checking threads at once.
    virtual RQContentRead Read(const std::wstring& strLocal, bool bStrong, const std::atomic<int64_t>* pStop,
                               RQ_CONTENT_SUMS& sums) = 0;
};

// Reads the file from disk in large blocks.
class CRQFileContentReader : public CRQContentReader {
public:
    // Bytes per read: large enough that the system calls cost little, small
    // enough that a block is still in the processor's cache when the
    // checksum reads it.
    static constexpr size_t BLOCK_BYTES = 1024 * 1024;

    explicit CRQFileContentReader(RQStrongHashFactory fnStrongHash)
        : m_fnStrongHash(std::move(fnStrongHash)) {}
    RQContentRead Read(const std::wstring& strLocal, bool bStrong, const std::atomic<int64_t>* pStop,
                       RQ_CONTENT_SUMS& sums) override;

private:
    const RQStrongHashFactory m_fnStrongHash;
};
