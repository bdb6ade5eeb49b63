// The signed update of a launcher with keys: the script and the files beside
// it are judged together, in memory, and only what passes is kept.
#include <ctime>

#include "baselib/RQBLFileOps.h"
#include "baselib/log/RQBLLogTraceNum.h"
#include "launcher/update/RQLauncherThread.h"
#include "patch/RQReservedNames.h"
#include "patch/RQUpdateTrust.h"

namespace {

// The worker's own tag: support staff find every line of an update together.
const wchar_t* const kTag = L"CRQLauncherThread::ThreadLoop";
constexpr int kTraceNum = 130011;

// A file that the server had: its bytes within the cap. One that cannot be
// read back counts as empty, which no check takes for a signed file.
const std::string* ReadBeside(bool bMissing, const wchar_t* pszPath, size_t nMaxBytes,
                              std::string& strBytes) {
    if (bMissing) {
        return nullptr;
    }
    if (!rqbl::ReadSmallFile(pszPath, nMaxBytes, strBytes)) {
        strBytes.clear();
    }
    return &strBytes;
}

}  // namespace

void CRQLauncherThread::RemoveUnverifiedFiles() {
    for (const wchar_t* pszName :
         {RQ_UNVERIFIED_SCRIPT_FILE, RQ_UNVERIFIED_SIGNATURE_FILE, RQ_UNVERIFIED_KEY_LIST_FILE,
          RQ_UNVERIFIED_TIMESTAMP_FILE, RQ_UNVERIFIED_COMPRESSED_SCRIPT_FILE}) {
        rqbl::RemoveFile(pszName);
    }
}

CRQLauncherThread::RQAcceptance CRQLauncherThread::AcceptSignedScript(const bool abMissing[3],
                                                                      std::string& strScript) {
    std::string strSignature;
    std::string strKeyList;
    std::string strTimestamp;
    RQ_UPDATE_FILES files;
    files.pScript = &strScript;
    files.pSignature =
        ReadBeside(abMissing[0], RQ_UNVERIFIED_SIGNATURE_FILE, RQ_SCRIPT_SIGNATURE_MAX_BYTES, strSignature);
    files.pKeyList = ReadBeside(abMissing[1], RQ_UNVERIFIED_KEY_LIST_FILE, RQ_KEY_LIST_MAX_BYTES, strKeyList);
    files.pTimestamp =
        ReadBeside(abMissing[2], RQ_UNVERIFIED_TIMESTAMP_FILE, RQ_TIMESTAMP_MAX_BYTES, strTimestamp);
    const RQ_TRUST_STATE stored = RQLoadTrustState(RQ_RELEASE_STATE_FILE, RQ_KEY_LIST_STATE_FILE);
    RQ_TRUST_JUDGEMENT judgement;
    if (rqbl::ReadSmallFile(RQ_UNVERIFIED_SCRIPT_FILE, RQ_SCRIPT_MAX_BYTES, strScript)) {
        judgement =
            RQJudgeUpdate(files, m_settings.vecTrustedKeys, stored, static_cast<int64_t>(std::time(nullptr)));
    } else {
        judgement.verdict = RQScriptVerdict::MALFORMED_SIGNATURE;
    }
    if (!RQScriptMayRun(judgement.verdict)) {
        if (m_bCompressedScript) {
            // Not the update's refusal yet: the plain script may be the signed one.
            RQ_LOG(m_log, kTag, RQ_LOG_NTS)
                .Trace(kTraceNum, L"LAUNCHER SCRIPT COMPRESSED UNUSED : %ls, the plain one next",
                       RQScriptVerdictText(judgement.verdict));
        } else {
            RQ_LOG(m_log, kTag, RQ_LOG_ERR)
                .Trace(kTraceNum, L"LAUNCHER SCRIPT REFUSED : %ls", RQScriptVerdictText(judgement.verdict));
        }
        RemoveUnverifiedFiles();
        strScript.clear();
        return RQAcceptance::REFUSED;
    }
    if (rqbl::ReplaceAtomically(RQ_UNVERIFIED_SCRIPT_FILE, RQ_SCRIPT_FILE) != rqbl::FileError::NONE) {
        RemoveUnverifiedFiles();
        RQ_LOG(m_log, kTag, RQ_LOG_ERR).Trace(kTraceNum, L"LAUNCHER SCRIPT NOT STORED");
        FailAndClose(RQNotVerifiedText());
        return RQAcceptance::NOT_STORED;
    }
    rqbl::ReplaceAtomically(RQ_UNVERIFIED_SIGNATURE_FILE, RQ_SCRIPT_SIGNATURE_FILE);
    // The key list and the timestamp did their part; the next start fetches them anew.
    RemoveUnverifiedFiles();
    if (!SaveTrustState(stored, judgement.nextState)) {
        return RQAcceptance::NOT_STORED;
    }
    if (judgement.bKeyList) {
        RQ_LOG(m_log, kTag, RQ_LOG_NTS)
            .Trace(kTraceNum, L"LAUNCHER KEY LIST ACCEPTED : version %ls",
                   std::to_wstring(judgement.nextState.ullKeyListVersion).c_str());
    }
    RQ_LOG(m_log, kTag, RQ_LOG_NTS)
        .Trace(kTraceNum, L"LAUNCHER SCRIPT VERIFIED : release %ls",
               std::to_wstring(judgement.ullRelease).c_str());
    return RQAcceptance::ACCEPTED;
}

bool CRQLauncherThread::SaveTrustState(const RQ_TRUST_STATE& before, const RQ_TRUST_STATE& after) {
    std::wstring strFailed;
    const rqbl::FileError error =
        RQSaveTrustState(RQ_RELEASE_STATE_FILE, RQ_KEY_LIST_STATE_FILE, before, after, &strFailed);
    if (error == rqbl::FileError::NONE) {
        return true;
    }
    // Without the record, an older signed release would be let in again at
    // the next start: the update does not go on without it.
    RQ_LOG(m_log, kTag, RQ_LOG_ERR)
        .Trace(kTraceNum, L"LAUNCHER RELEASE RECORD NOT SAVED : %ls", strFailed.c_str());
    uint64_t ullFree = 0;
    rqbl::GetFreeDiskBytes(L".", ullFree);
    FailAndClose(RQFailureText({RQ_FAILED_FILE{strFailed, RQWriteFailureOutcome(error, ullFree)}},
                               rqbl::GetVolumeName(L".")));
    return false;
}
