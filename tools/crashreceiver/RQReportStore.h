// Where the receiver keeps reports: one folder per report, named by a new
// report id, holding the uploaded files under names this receiver chose and an
// "index.txt" that records what the client sent (its file names as text only).
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "tools/crashreceiver/RQFormData.h"
#include "tools/crashreceiver/RQStoreQuota.h"

enum class ERQStored {
    STORED,
    NO_ROOM,     // it would pass the store's cap or its file system's floor
    DISK_ERROR,  // the disk refused a write
};

struct CRQStoreResult {
    ERQStored eStored = ERQStored::DISK_ERROR;
    std::string strId;         // STORED: the report's id
    std::string strNoRoomWhy;  // NO_ROOM: the limit it met, for the log
};

class CRQReportStore {
public:
    CRQReportStore(std::filesystem::path pathRoot, const CRQStoreLimits& limits);

    // Creates the store's folder when it is missing (readable by its owner only:
    // reports hold players' data) and measures what it holds.
    bool Open(std::string& strError);

    // Writes the report into a folder of its own, which appears complete or not
    // at all, when it fits the limits; else nothing is left behind.
    CRQStoreResult Store(const std::vector<CRQFormPart>& vecParts, const std::string& strClient);

    // Empty when nBytes would fit now; else why not, for the log.
    std::string WhyNoRoomFor(uint64_t nBytes) { return m_quota.WhyNoRoomFor(nBytes); }

    const std::filesystem::path& Root() const { return m_pathRoot; }

private:
    std::string NewReportId();
    bool WriteReport(const std::filesystem::path& pathIncoming, const std::string& strIndex,
                     const std::vector<CRQFormPart>& vecParts);

    std::filesystem::path m_pathRoot;
    CRQStoreQuota m_quota;
    std::mutex m_csRandom;
    std::mt19937_64 m_random;
};

// The stored name of the nIndex-th part (from 1): "upload_file_minidump.dmp"
// for the minidump, else "file-<n>" with the client's extension when it is
// one of a few known kinds (log, txt, png, bmp, dmp), ".bin" otherwise.
std::string StoredFileName(const CRQFormPart& part, size_t nIndex);

// "2026-01-31 23:59:58" (UTC) for seconds since 1970.
std::string FormatUtc(int64_t nSeconds);
