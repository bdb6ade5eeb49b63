// Decides which listed files are current. A file whose size, last-write time
// and identity match the verification record of an earlier run, with the
// checksums the script asks for, is current without being read; any other
// file is read and its CRC-32 compared, as it always was. A repair ignores
// the record and reads every file, checking its strong hash too where the
// script carries one; so is every job marked to be checked at every start.
// Every file found current, or downloaded and verified afterwards, goes into
// the record that the next run will use.
//
// Two files are checked at once: reading and checksumming one file keeps a
// processor core busy, and the operating system reads ahead for both.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "baselib/RQBLFileFacts.h"
#include "launcher/check/RQContentReader.h"
#include "launcher/check/RQVerifyRecord.h"
#include "launcher/transfer/RQTransferJob.h"

enum class RQCheckFinding {
    CURRENT_BY_RECORD,
    CURRENT_BY_CONTENT,
    MISSING,          // no file there (or a folder)
    SIZE_DIFFERS,     // never read
    CONTENT_DIFFERS,  // read: its checksum differs, or it could not be read
    STOPPED,          // not decided: the launcher is closing
};

inline bool RQNeedsDownload(RQCheckFinding finding) {
    return finding != RQCheckFinding::CURRENT_BY_RECORD && finding != RQCheckFinding::CURRENT_BY_CONTENT;
}

struct RQ_CHECK_COUNTS {
    uint32_t nFiles = 0;
    uint32_t nFromRecord = 0;
    uint32_t nRead = 0;
    uint32_t nMissing = 0;
    uint32_t nSizeDiffers = 0;
    uint32_t nContentDiffers = 0;
    uint64_t ullBytesRead = 0;
};

class CRQFileChecker {
public:
    enum : unsigned { THREADS = 2 };
    // Called on the caller's thread now and then with the files decided so far.
    using ProgressFn = std::function<void(uint32_t nDone, uint32_t nTotal)>;

    // bRepair: the previous record is not used.
    CRQFileChecker(CRQVerifyRecord previous, bool bRepair, CRQContentReader& reader);

    // One finding per job, in the jobs' order. Returns early, with STOPPED for
    // the files not decided, once *pStop is non-zero.
    std::vector<RQCheckFinding> CheckAll(const std::vector<RQ_TRANSFER_JOB>& vecJobs,
                                         const std::atomic<int64_t>* pStop, const ProgressFn& fnProgress);
    // Files downloaded and verified against their jobs' checks.
    void AddVerified(const std::vector<RQ_TRANSFER_JOB>& vecJobs);

    const CRQVerifyRecord& NewRecord() const { return m_newRecord; }
    const RQ_CHECK_COUNTS& Counts() const { return m_counts; }

private:
    struct CResult {
        RQCheckFinding finding = RQCheckFinding::STOPPED;
        bool bRecordable = false;
        RQ_VERIFY_ENTRY entry;
        uint64_t ullBytesRead = 0;
    };
    CResult Check(const RQ_TRANSFER_JOB& job, const std::atomic<int64_t>* pStop);
    bool RecordVouchesFor(const RQ_TRANSFER_JOB& job, const RQBL_FILE_FACTS& facts) const;
    void Count(const CResult& result);

    const CRQVerifyRecord m_previous;
    const bool m_bRepair;
    CRQContentReader& m_reader;
    CRQBLFileFactsReader m_facts;
    CRQVerifyRecord m_newRecord;
    RQ_CHECK_COUNTS m_counts;
};
