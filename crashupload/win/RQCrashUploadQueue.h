// Sends, in the background, the crash reports that the player agreed to send
// but that did not reach the support server when they were made. The launcher
// creates one at start-up; nothing waits for it, and destroying it stops it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "baselib/win/RQBLWinHandle.h"

class CRQCrashUploadQueue {
public:
    // Starts at once on a thread of its own, below normal priority: the
    // oldest waiting report goes first; beyond kMaxWaitingReports the oldest
    // are deleted unsent. Reports without the player's consent are left alone.
    // An empty folder (the program's could not be found) sends nothing.
    CRQCrashUploadQueue(std::wstring strReportsFolder, std::wstring strServerUrl, uint16_t nDefaultPort);
    // Cancels the upload under way and waits for the thread at most
    // kStopWaitMs; a report cut short is sent at the next start.
    ~CRQCrashUploadQueue();
    CRQCrashUploadQueue(const CRQCrashUploadQueue&) = delete;
    CRQCrashUploadQueue& operator=(const CRQCrashUploadQueue&) = delete;

    enum : DWORD { kStopWaitMs = 2000 };

    // True once every waiting report was dealt with (sent or kept for later).
    bool WaitUntilDone(DWORD dwTimeoutMs) const;

    struct Job;

private:
    std::shared_ptr<Job> m_pJob;
    CRQBLHandle m_hThread;
};
