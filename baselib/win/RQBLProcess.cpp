#include "baselib/RQBLProcess.h"

// windows.h before the headers that build on it.
#include <winsock2.h>
#include <windows.h>

#include <objidl.h>
#include <psapi.h>

#include <gdiplus.h>

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

void StartSocketLibrary() {
    WSADATA wsaData{};
    if (WSAStartup(MAKEWORD(2, 2), &wsaData) != 0) {
        WSACleanup();
    }
    if (LOBYTE(wsaData.wVersion) != 2 || HIBYTE(wsaData.wVersion) != 2) {
        WSACleanup();
    }
}

bool StartGdiplus(const RQBL_GDIPLUS_INPUT& input, uintptr_t& nToken) {
    Gdiplus::GdiplusStartupInput startup;
    startup.GdiplusVersion = input.nGdiplusVersion;
    startup.DebugEventCallback = reinterpret_cast<Gdiplus::DebugEventProc>(input.pDebugEventCallback);
    startup.SuppressBackgroundThread = input.bSuppressBackgroundThread ? TRUE : FALSE;
    startup.SuppressExternalCodecs = input.bSuppressExternalCodecs ? TRUE : FALSE;
    ULONG_PTR nGdiToken = 0;
    Gdiplus::Status status = Gdiplus::GdiplusStartup(&nGdiToken, &startup, nullptr);
    nToken = static_cast<uintptr_t>(nGdiToken);
    return status == Gdiplus::Ok;
}

void StopGdiplus(uintptr_t nToken) {
    if (nToken != 0) {
        Gdiplus::GdiplusShutdown(static_cast<ULONG_PTR>(nToken));
    }
}

}  // namespace rqbl
