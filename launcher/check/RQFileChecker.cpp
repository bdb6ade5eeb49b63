#include "launcher/check/RQFileChecker.h"

#include <system_error>
#include <thread>

CRQFileChecker::CRQFileChecker(CRQVerifyRecord previous, bool bRepair, CRQContentReader& reader)
    : m_previous(std::move(previous)), m_bRepair(bRepair), m_reader(reader) {}

std::vector<RQCheckFinding> CRQFileChecker::CheckAll(const std::vector<RQ_TRANSFER_JOB>& vecJobs,
                                                     const std::atomic<int64_t>* pStop,
                                                     const ProgressFn& fnProgress) {
    const size_t nJobs = vecJobs.size();
    std::vector<CResult> vecResults(nJobs);
    std::atomic<size_t> nNext{0};
    std::atomic<uint32_t> nDone{0};
    auto fnWork = [&](bool bReports) {
        for (;;) {
            if (pStop != nullptr && pStop->load() != 0) {
                return;
            }
            const size_t i = nNext++;
            if (i >= nJobs) {
                return;
            }
            vecResults[i] = Check(vecJobs[i], pStop);
            const uint32_t n = ++nDone;
            if (bReports && fnProgress) {
                fnProgress(n, static_cast<uint32_t>(nJobs));
            }
        }
    };
    std::vector<std::thread> vecHelpers;
    for (unsigned t = 1; t < THREADS && t < nJobs; ++t) {
        try {
            vecHelpers.emplace_back(fnWork, false);
        } catch (const std::system_error&) {
            break;  // no thread to be had: this one checks them all
        }
    }
    fnWork(true);
    for (std::thread& helper : vecHelpers) {
        helper.join();
    }

    std::vector<RQCheckFinding> vecFindings;
    vecFindings.reserve(nJobs);
    for (size_t i = 0; i < nJobs; ++i) {
        const CResult& result = vecResults[i];
        if (result.bRecordable) {
            m_newRecord.Put(vecJobs[i].strLocal, result.entry);
        }
        Count(result);
        vecFindings.push_back(result.finding);
    }
    return vecFindings;
}

// The record's facts are always those taken before the content was read: a
// file written afterwards, even during the read, has other facts next time
// and is read again.
CRQFileChecker::CResult CRQFileChecker::Check(const RQ_TRANSFER_JOB& job, const std::atomic<int64_t>* pStop) {
    CResult result;
    RQBL_FILE_FACTS facts;
    if (!m_facts.Get(job.strLocal, facts)) {
        result.finding = RQCheckFinding::MISSING;
        return result;
    }
    if (facts.ullSize != job.ullSize) {
        result.finding = RQCheckFinding::SIZE_DIFFERS;  // never worth reading
        return result;
    }
    // A program or library of a launcher with keys is read at every start:
    // the record is a checksum that anyone who can write the folder can forge,
    // and what is started next runs with administrator rights.
    const bool bAlwaysRead = job.bCheckEveryStart && !job.strSha256.empty();
    if (!m_bRepair && !bAlwaysRead && RecordVouchesFor(job, facts)) {
        result.finding = RQCheckFinding::CURRENT_BY_RECORD;
        result.bRecordable = true;
        result.entry = *m_previous.Find(job.strLocal);
        return result;
    }
    const bool bStrong = (m_bRepair || bAlwaysRead) && !job.strSha256.empty();
    RQ_CONTENT_SUMS sums;
    switch (m_reader.Read(job.strLocal, bStrong, pStop, sums)) {
        case RQContentRead::STOPPED:
            result.finding = RQCheckFinding::STOPPED;
            return result;
        case RQContentRead::CANNOT_READ:
            // An unreadable file has always counted as one whose CRC-32 is
            // 0xFFFFFFFF; it is never recorded, since nothing was verified. A
            // program that must be checked is never taken unread.
            result.finding = job.dwCrc == 0xFFFFFFFFu && !bAlwaysRead ? RQCheckFinding::CURRENT_BY_CONTENT
                                                                      : RQCheckFinding::CONTENT_DIFFERS;
            return result;
        case RQContentRead::READ:
            break;
    }
    result.ullBytesRead = sums.ullBytes;
    // Without a strong hash to compute, the CRC-32 decides alone.
    const bool bMatches = sums.dwCrc == job.dwCrc && sums.ullBytes == job.ullSize &&
                          (sums.strSha256.empty() || sums.strSha256 == job.strSha256);
    result.finding = bMatches ? RQCheckFinding::CURRENT_BY_CONTENT : RQCheckFinding::CONTENT_DIFFERS;
    result.bRecordable = bMatches;
    result.entry.facts = facts;
    result.entry.dwCrc = job.dwCrc;
    result.entry.strSha256 = sums.strSha256;
    return result;
}

bool CRQFileChecker::RecordVouchesFor(const RQ_TRANSFER_JOB& job, const RQBL_FILE_FACTS& facts) const {
    const RQ_VERIFY_ENTRY* pEntry = m_previous.Find(job.strLocal);
    if (pEntry == nullptr || pEntry->facts != facts || pEntry->dwCrc != job.dwCrc) {
        return false;
    }
    // A strong hash that was checked must be the one the script asks for now.
    return pEntry->strSha256.empty() || pEntry->strSha256 == job.strSha256;
}

void CRQFileChecker::AddVerified(const std::vector<RQ_TRANSFER_JOB>& vecJobs) {
    m_facts.Forget();  // the folders have changed since they were listed
    for (const RQ_TRANSFER_JOB& job : vecJobs) {
        RQ_VERIFY_ENTRY entry;
        if (!m_facts.Get(job.strLocal, entry.facts) || entry.facts.ullSize != job.ullSize) {
            continue;
        }
        entry.dwCrc = job.dwCrc;
        entry.strSha256 = job.strSha256;
        m_newRecord.Put(job.strLocal, entry);
    }
}

void CRQFileChecker::Count(const CResult& result) {
    ++m_counts.nFiles;
    m_counts.ullBytesRead += result.ullBytesRead;
    switch (result.finding) {
        case RQCheckFinding::CURRENT_BY_RECORD:
            ++m_counts.nFromRecord;
            break;
        case RQCheckFinding::CURRENT_BY_CONTENT:
            ++m_counts.nRead;
            break;
        case RQCheckFinding::MISSING:
            ++m_counts.nMissing;
            break;
        case RQCheckFinding::SIZE_DIFFERS:
            ++m_counts.nSizeDiffers;
            break;
        case RQCheckFinding::CONTENT_DIFFERS:
            ++m_counts.nRead;
            ++m_counts.nContentDiffers;
            break;
        case RQCheckFinding::STOPPED:
            break;
    }
}
