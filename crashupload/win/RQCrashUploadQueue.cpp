#include "crashupload/win/RQCrashUploadQueue.h"

#include <process.h>

#include <utility>

#include "baselib/RQBLUtf8.h"
#include "crashupload/RQCrashQueuePlan.h"
#include "crashupload/win/RQCrashReportFolder.h"
#include "crashupload/win/RQCrashUpload.h"

// What the thread works on. Shared with the queue object, so that a thread
// that outlives the object's bounded wait still has it.
struct CRQCrashUploadQueue::Job {
    std::wstring strReportsFolder;
    std::string strServerUrl;
    uint16_t nDefaultPort = 80;
    CRQBLHandle hStop;  // manual-reset event
};

namespace {

bool Stopping(const CRQCrashUploadQueue::Job& job) {
    return WaitForSingleObject(job.hStop.Get(), 0) == WAIT_OBJECT_0;
}

void SendWaitingReports(const CRQCrashUploadQueue::Job& job) {
    CRQQueuePlan plan = PlanCrashQueue(rqcrash::ListReports(job.strReportsFolder), kMaxWaitingReports);
    for (const std::string& strName : plan.vecDrop) {
        std::wstring strFolder = job.strReportsFolder + L"\\" + RQBLUtf8ToWide(strName);
        bool bFree = false;
        {
            rqcrash::CRQSendLock lock;
            bFree = lock.Take(strFolder);
        }
        if (bFree) {
            rqcrash::RemoveReportFolder(strFolder);
        }
    }
    for (const std::string& strName : plan.vecSend) {
        if (Stopping(job)) {
            return;
        }
        rqcrash::SendConsentedReport(job.strReportsFolder + L"\\" + RQBLUtf8ToWide(strName), job.strServerUrl,
                                     job.nDefaultPort, job.hStop.Get());
    }
}

unsigned __stdcall QueueThread(void* pParam) {
    std::unique_ptr<std::shared_ptr<CRQCrashUploadQueue::Job>> pJob(
        static_cast<std::shared_ptr<CRQCrashUploadQueue::Job>*>(pParam));
    SendWaitingReports(**pJob);
    return 0;
}

}  // namespace

CRQCrashUploadQueue::CRQCrashUploadQueue(std::wstring strReportsFolder, std::wstring strServerUrl,
                                         uint16_t nDefaultPort)
    : m_pJob(std::make_shared<Job>()) {
    if (!strReportsFolder.empty() && strReportsFolder.back() == L'\\') {
        strReportsFolder.pop_back();  // a drive root: the separator is added to every name
    }
    m_pJob->strReportsFolder = std::move(strReportsFolder);
    m_pJob->strServerUrl = RQBLWideToUtf8(strServerUrl);
    m_pJob->nDefaultPort = nDefaultPort;
    m_pJob->hStop.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!m_pJob->hStop || m_pJob->strReportsFolder.empty()) {
        return;
    }
    auto* pThreadJob = new std::shared_ptr<Job>(m_pJob);
    m_hThread.Reset(reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, QueueThread, pThreadJob, CREATE_SUSPENDED, nullptr)));
    if (!m_hThread) {
        delete pThreadJob;
        return;
    }
    SetThreadPriority(m_hThread.Get(), THREAD_PRIORITY_BELOW_NORMAL);
    ResumeThread(m_hThread.Get());
}

CRQCrashUploadQueue::~CRQCrashUploadQueue() {
    if (m_hThread) {
        SetEvent(m_pJob->hStop.Get());
        WaitForSingleObject(m_hThread.Get(), kStopWaitMs);
    }
}

bool CRQCrashUploadQueue::WaitUntilDone(DWORD dwTimeoutMs) const {
    return !m_hThread || WaitForSingleObject(m_hThread.Get(), dwTimeoutMs) == WAIT_OBJECT_0;
}
