#include "baselib/RQBLProcess.h"

// windows.h before the headers that build on it.
#include <windows.h>

#include <objidl.h>
#include <psapi.h>

#include <gdiplus.h>

#include "baselib/log/RQBLLogTraceNum.h"
#include "baselib/win/RQBLWinHandle.h"

namespace rqbl {

bool QueryProcessMemory(RQBL_MEMORY_COUNTERS& counters) {
    CRQBLHandle hProcess(
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, GetCurrentProcessId()));
    if (!hProcess) {
        return false;
    }
    PROCESS_MEMORY_COUNTERS pmc{};
    pmc.cb = sizeof(pmc);
    if (!GetProcessMemoryInfo(hProcess.Get(), &pmc, sizeof(pmc))) {
        return false;
    }
    counters.nWorkingSetSize = pmc.WorkingSetSize;
    counters.nPagefileUsage = pmc.PagefileUsage;
    return true;
}

void EnableLowFragmentationHeap() {
    ULONG nLowFragmentation = 2;
    HeapSetInformation(GetProcessHeap(), HeapCompatibilityInformation, &nLowFragmentation,
                       sizeof(nLowFragmentation));
}

}  // namespace rqbl

CRQBLGdiplus::CRQBLGdiplus(CRQBLLogSink& log) {
    Gdiplus::GdiplusStartupInput startup;
    ULONG_PTR nToken = 0;
    m_bStarted = Gdiplus::GdiplusStartup(&nToken, &startup, nullptr) == Gdiplus::Ok;
    m_nToken = static_cast<uintptr_t>(nToken);
    if (!m_bStarted) {
        // Under the runtime object's tag, where support staff have always found it.
        RQ_LOG(log, L"CRQBLMain::CRQBLMain", RQ_LOG_ERR).Trace(10097, L"GDIPLUSSTARTUP FAIL");
    }
}

CRQBLGdiplus::~CRQBLGdiplus() {
    if (m_bStarted) {
        Gdiplus::GdiplusShutdown(static_cast<ULONG_PTR>(m_nToken));
    }
}
