// A crash report folder on disk: its files, the player's consent, the lock of
// the one process that sends it, and its removal once the server has it.
#pragma once

#include <string>
#include <vector>

#include "baselib/RQBLCrashReportInfo.h"
#include "baselib/win/RQBLWinHandle.h"
#include "crashupload/RQCrashQueuePlan.h"

namespace rqcrash {

// The names of the files directly in the folder.
std::vector<std::wstring> ListFileNames(const std::wstring& strFolder);

// True for a folder the crash reporter made: named "CrashReport_..." and
// holding its report.ini.
bool IsReportFolder(const std::wstring& strFolder);

bool ReadReportInfo(const std::wstring& strFolder, CRQCrashReportInfo& info);

bool HasConsent(const std::wstring& strFolder);
// False when the record could not be written: then nothing may be sent.
bool RecordConsent(const std::wstring& strFolder);
// The report stays for the player to pass on, but is no longer sent.
void WithdrawConsent(const std::wstring& strFolder);

// The report folders under strReportsFolder, with their consent.
std::vector<CRQWaitingReport> ListReports(const std::wstring& strReportsFolder);

// Deletes the folder and the files in it. False when something stayed.
bool RemoveReportFolder(const std::wstring& strFolder);

// Held by the one process that sends a report, so that a second launcher
// started meanwhile does not send it again. Released on destruction.
class CRQSendLock {
public:
    // False when another process holds it, or the folder is gone.
    bool Take(const std::wstring& strFolder);

private:
    CRQBLHandle m_hFile;
};

}  // namespace rqcrash
