// The comparison of the game folder with the script, and the record of
// verified files that lets an unchanged install start without reading it.
#include <chrono>
#include <set>

#include "baselib/log/RQBLLogTraceNum.h"
#include "launcher/transfer/RQPartSweep.h"
#include "launcher/update/RQLauncherThread.h"
#include "patch/RQPatchPath.h"
#include "patch/RQReservedNames.h"

namespace {

// The worker's own tag: support staff find every line of an update together.
const wchar_t* const kTag = L"CRQLauncherThread::ThreadLoop";
constexpr int kTraceNum = 130011;

}  // namespace

std::vector<RQCheckFinding> CRQLauncherThread::CheckFiles(const std::vector<RQ_TRANSFER_JOB>& vecJobs,
                                                          RQ_STATUS checking) {
    // The logged time is the whole comparison, the record's reading included.
    const auto start = std::chrono::steady_clock::now();
    CRQVerifyRecord previous;
    if (m_settings.bRepair) {
        RQ_LOG(m_log, kTag, RQ_LOG_NTS)
            .Trace(kTraceNum, L"LAUNCHER REPAIR : every listed file is read and checked");
    } else {
        RQVerifyLoad load = previous.Load(RQ_VERIFY_RECORD_FILE);
        if (load == RQVerifyLoad::DAMAGED || load == RQVerifyLoad::FOREIGN) {
            RQ_LOG(m_log, kTag, RQ_LOG_NTS)
                .Trace(kTraceNum, L"LAUNCHER VERIFY RECORD IGNORED : %ls",
                       load == RQVerifyLoad::DAMAGED ? L"damaged" : L"not this launcher's");
        }
    }
    m_pChecker = std::make_unique<CRQFileChecker>(std::move(previous), m_settings.bRepair, m_reader);
    std::vector<RQCheckFinding> vecFindings =
        m_pChecker->CheckAll(vecJobs, &m_nStopRequested, [&](uint32_t nDone, uint32_t /*nTotal*/) {
            checking.nFilesDone = nDone;
            ShowStatus(checking, false);
        });
    const auto nMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count();
    const RQ_CHECK_COUNTS& counts = m_pChecker->Counts();
    RQ_LOG(m_log, kTag, RQ_LOG_NTS)
        .Trace(kTraceNum, L"LAUNCHER CHECK : %u files, %u by the record, %u read (%llu MiB), %u ms",
               counts.nFiles, counts.nFromRecord, counts.nRead,
               static_cast<unsigned long long>(counts.ullBytesRead >> 20), static_cast<unsigned>(nMs));
    if (m_settings.bRepair && !StopRequested()) {
        LogRepairFindings(vecJobs, vecFindings);
    }
    return vecFindings;
}

void CRQLauncherThread::LogRepairFindings(const std::vector<RQ_TRANSFER_JOB>& vecJobs,
                                          const std::vector<RQCheckFinding>& vecFindings) {
    uint32_t nDiffer = 0;
    for (size_t i = 0; i < vecJobs.size(); ++i) {
        const wchar_t* pszWhy = nullptr;
        switch (vecFindings[i]) {
            case RQCheckFinding::MISSING:
                pszWhy = L"missing";
                break;
            case RQCheckFinding::SIZE_DIFFERS:
                pszWhy = L"size differs";
                break;
            case RQCheckFinding::CONTENT_DIFFERS:
                pszWhy = L"content differs";
                break;
            default:
                continue;
        }
        ++nDiffer;
        RQ_LOG(m_log, kTag, RQ_LOG_NTS)
            .Trace(kTraceNum, L"LAUNCHER REPAIR FOUND : %ls (%ls)",
                   RQPrintablePath(vecJobs[i].strShown).c_str(), pszWhy);
    }
    RQ_LOG(m_log, kTag, RQ_LOG_NTS)
        .Trace(kTraceNum, L"LAUNCHER REPAIR : %u of %u files to be fetched again", nDiffer,
               static_cast<unsigned>(vecJobs.size()));
}

void CRQLauncherThread::RecordVerified(const std::vector<RQ_TRANSFER_OUTCOME>& vecOutcomes) {
    if (!m_pChecker) {
        return;
    }
    std::vector<RQ_TRANSFER_JOB> vecVerified;
    for (size_t i = 0; i < vecOutcomes.size() && i < m_vecDownloadList.size(); ++i) {
        if (vecOutcomes[i].bDone) {
            vecVerified.push_back(m_vecDownloadList[i].job);
        }
    }
    m_pChecker->AddVerified(vecVerified);
    SaveVerifyRecord();
}

void CRQLauncherThread::SaveVerifyRecord() {
    if (m_pChecker && !m_pChecker->NewRecord().Save(RQ_VERIFY_RECORD_FILE)) {
        // Not fatal: the next run reads the files again.
        RQ_LOG(m_log, kTag, RQ_LOG_ERR).Trace(kTraceNum, L"LAUNCHER VERIFY RECORD NOT SAVED");
    }
    m_pChecker.reset();
}

void CRQLauncherThread::SweepStaleParts() {
    std::set<std::wstring> setKeep;
    for (const RQ_DOWNLOAD_ITEM& item : m_vecDownloadList) {
        setKeep.insert(item.job.strLocal);
    }
    RQSweepUnlistedParts(RQ_RESUME_RECORD_FILE, setKeep, m_log);
}
