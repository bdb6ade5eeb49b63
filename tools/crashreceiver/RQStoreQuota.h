// How much disk the report store may take: a cap on the store's own size and
// a floor under the free space of its file system. Space is reserved before a
// report is written, so that reports written side by side never pass either
// limit together. Nothing here ever deletes a report: when the store is full,
// uploads are refused until the operator makes room.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>

struct CRQStoreLimits {
    uint64_t nMaxStoreBytes = uint64_t{10240} << 20;
    uint64_t nMinFreeBytes = uint64_t{1024} << 20;
};

// The disk a file of nFileBytes takes, in whole 4 KiB blocks as file systems
// allocate them; an empty file or a folder counts one block (its entry and
// inode are not free either).
uint64_t DiskBytesOf(uint64_t nFileBytes);

class CRQStoreQuota {
public:
    CRQStoreQuota(std::filesystem::path pathRoot, const CRQStoreLimits& limits);

    // Measures what the store holds (everything under its folder).
    void Measure();

    // Empty, with nBytes reserved, when they fit under both limits; else the
    // reason for the log, with nothing reserved.
    std::string Reserve(uint64_t nBytes);
    // Ends a reservation; bWritten: the bytes are now part of the store.
    void Release(uint64_t nBytes, bool bWritten);

    // As Reserve, without reserving: refuses an upload by its announced size
    // before it is read.
    std::string WhyNoRoomFor(uint64_t nBytes);

private:
    std::string CheckLocked(uint64_t nBytes);

    const std::filesystem::path m_pathRoot;
    const CRQStoreLimits m_limits;
    std::mutex m_cs;
    uint64_t m_nStoreBytes = 0;     // as measured, plus what was written since
    uint64_t m_nReservedBytes = 0;  // being written now
};
