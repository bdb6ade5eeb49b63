#include "launcher/transfer/RQPartSweep.h"

#include "baselib/RQBLFileOps.h"
#include "baselib/log/RQBLLogTraceNum.h"
#include "launcher/transfer/RQResumeRecord.h"
#include "patch/RQPatchPath.h"
#include "patch/RQReservedNames.h"

namespace {

const wchar_t* const kTag = L"RQSweepUnlistedParts";
constexpr int kTraceNum = 130023;

}  // namespace

size_t RQSweepUnlistedParts(const std::wstring& strRecordPath, const std::set<std::wstring>& setKeep,
                            CRQBLLogSink& log) {
    CRQResumeRecord record;
    record.Load(strRecordPath);
    size_t nRemoved = 0;
    bool bChanged = false;
    for (const std::wstring& strLocal : record.Paths()) {
        if (setKeep.count(strLocal) != 0) {
            continue;
        }
        // The record is a file on the player's disk like any other: a path in
        // it that a script could not have named is dropped, never followed.
        RQ_PATCH_PATH path;
        if (RQMakePatchPath(strLocal, path) != RQPatchPathError::NONE) {
            record.Erase(strLocal);
            bChanged = true;
            continue;
        }
        rqbl::FileError error = rqbl::RemoveFile(RQDownloadTempPath(strLocal));
        if (error != rqbl::FileError::NONE && error != rqbl::FileError::NOT_FOUND) {
            continue;  // held open: the entry stays, a later start tries again
        }
        record.Erase(strLocal);
        bChanged = true;
        if (error == rqbl::FileError::NONE) {
            ++nRemoved;
            RQ_LOG(log, kTag, RQ_LOG_NTS)
                .Trace(kTraceNum, L"TRANSFER PART REMOVED : %ls (no longer to be resumed)",
                       RQPrintablePath(strLocal).c_str());
        }
    }
    if (bChanged) {
        record.Save(strRecordPath);
    }
    return nRemoved;
}
