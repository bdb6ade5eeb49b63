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

class CRQReportStore {
public:
    explicit CRQReportStore(std::filesystem::path pathRoot);

    // Creates the store's folder when it is missing (readable by its owner only:
    // reports hold players' data).
    bool Open(std::string& strError);

    // Writes the report into a folder of its own, which appears complete or not
    // at all; false, with nothing left behind, when the disk refused.
    bool Store(const std::vector<CRQFormPart>& vecParts, const std::string& strClient, std::string& strId);

    const std::filesystem::path& Root() const { return m_pathRoot; }

private:
    std::string NewReportId();

    std::filesystem::path m_pathRoot;
    std::mutex m_csRandom;
    std::mt19937_64 m_random;
};

// The stored name of the nIndex-th part (from 1): "upload_file_minidump.dmp"
// for the minidump, else "file-<n>" with the client's extension when it is
// one of a few known kinds (log, txt, png, bmp, dmp), ".bin" otherwise.
std::string StoredFileName(const CRQFormPart& part, size_t nIndex);

// "2026-01-31 23:59:58" (UTC) for seconds since 1970.
std::string FormatUtc(int64_t nSeconds);
