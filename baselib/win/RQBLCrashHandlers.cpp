// The fatal-error handlers and their installation. Each handler sends a
// snapshot to the crash reporter, names itself in a message box and ends the
// process with exit code 1; see RQBLCrtHooks.h for how MinGW's runtimes are
// made to reach them.
#include "baselib/win/RQBLCrashHandlers.h"

#include <BugTrap.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <new>

#include "baselib/RQBLCrashReport.h"
#include "baselib/win/RQBLCrtHooks.h"

namespace {

// Given back by NewHandler so that the report can still allocate.
constexpr size_t kReserveBytes = 1024 * 1024;
std::atomic<void*> g_pReserve{nullptr};

// The thread that is reporting; 0 while none is.
std::atomic<DWORD> g_dwReportingThread{0};

// Set on threads that installed the per-thread handlers. The Microsoft
// runtime keeps terminate, unexpected and the fault signals per thread;
// libstdc++ keeps terminate and unexpected per process, so the handlers
// check this and leave other threads to the runtime's defaults.
thread_local bool t_bThreadHandlers = false;
std::terminate_handler g_pfnDefaultTerminate = nullptr;

[[noreturn]] void EndProcess() {
    TerminateProcess(GetCurrentProcess(), 1);
    ExitProcess(1);
}

// One report per process: a second fatal error on another thread waits for
// the first report to end the process; one inside the report itself (a fault
// while writing the snapshot) ends the process at once.
[[noreturn]] void ReportAndEnd(const wchar_t* pszHandler, EXCEPTION_POINTERS* pPointers) {
    DWORD dwSelf = GetCurrentThreadId();
    DWORD dwReporting = 0;
    if (!g_dwReportingThread.compare_exchange_strong(dwReporting, dwSelf)) {
        if (dwReporting == dwSelf) {
            EndProcess();
        }
        for (;;) {
            Sleep(INFINITE);
        }
    }
    BT_SendSnapshotEx(pPointers);
    MessageBoxW(nullptr, pszHandler, pszHandler, MB_OK);
    EndProcess();
}

// The exception information that the C runtime gives a SIGFPE or SIGSEGV
// handler; built here when the signal was raised rather than caused.
EXCEPTION_POINTERS* SignalPointers() {
    auto* pPointers = static_cast<EXCEPTION_POINTERS*>(_pxcptinfoptrs);
    if (pPointers == nullptr) {
        BuildExceptionPointers(0, &pPointers);
    }
    return pPointers;
}

// True when a fault signal reached us on a thread that did not install the
// per-thread handlers: MinGW's thread start-up maps faults through signal(),
// whose table the C runtime may keep per process. The action is reset to the
// default and the handler returns; the faulting instruction runs again and
// the fault then takes the default way, to the crash reporter's filter.
bool LeftToDefault(int nSignal) {
    if (t_bThreadHandlers) {
        return false;
    }
    signal(nSignal, SIG_DFL);
    return true;
}

[[noreturn]] void __cdecl PureCallHandler() {
    EXCEPTION_POINTERS* pPointers = nullptr;
    BuildExceptionPointers(0, &pPointers);
    ReportAndEnd(L"PureCallHandler", pPointers);
}

[[noreturn]] void NewHandler() {
    std::free(g_pReserve.exchange(nullptr));
    EXCEPTION_POINTERS* pPointers = nullptr;
    BuildExceptionPointers(0, &pPointers);
    ReportAndEnd(L"NewHandler", pPointers);
}

void __cdecl InvalidParameterHandler(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int,
                                     uintptr_t) {
    EXCEPTION_POINTERS* pPointers = nullptr;
    BuildExceptionPointers(0, &pPointers);
    ReportAndEnd(L"InvalidParameterHandler", pPointers);
}

void __cdecl SigabrtHandler(int) {
    EXCEPTION_POINTERS* pPointers = nullptr;
    BuildExceptionPointers(0, &pPointers);
    ReportAndEnd(L"SigabrtHandler", pPointers);
}

void __cdecl SigintHandler(int) {
    EXCEPTION_POINTERS* pPointers = nullptr;
    BuildExceptionPointers(0, &pPointers);
    ReportAndEnd(L"SigintHandler", pPointers);
}

void __cdecl SigtermHandler(int) {
    EXCEPTION_POINTERS* pPointers = nullptr;
    BuildExceptionPointers(0, &pPointers);
    ReportAndEnd(L"SigtermHandler", pPointers);
}

[[noreturn]] void TerminateHandler() {
    if (!t_bThreadHandlers) {
        // The runtime's default: a message on stderr, then abort (SIGABRT).
        if (g_pfnDefaultTerminate != nullptr) {
            g_pfnDefaultTerminate();
        }
        std::abort();
    }
    EXCEPTION_POINTERS* pPointers = nullptr;
    BuildExceptionPointers(0, &pPointers);
    ReportAndEnd(L"TerminateHandler", pPointers);
}

[[noreturn]] void UnexpectedHandler() {
    if (!t_bThreadHandlers) {
        std::terminate();  // the default
    }
    EXCEPTION_POINTERS* pPointers = nullptr;
    BuildExceptionPointers(0, &pPointers);
    ReportAndEnd(L"UnexpectedHandler", pPointers);
}

void __cdecl SigfpeHandler(int nSignal) {
    if (LeftToDefault(nSignal)) {
        return;
    }
    ReportAndEnd(L"SigfpeHandler", SignalPointers());
}

void __cdecl SigillHandler(int nSignal) {
    if (LeftToDefault(nSignal)) {
        return;
    }
    EXCEPTION_POINTERS* pPointers = nullptr;
    BuildExceptionPointers(0, &pPointers);
    ReportAndEnd(L"SigillHandler", pPointers);
}

void __cdecl SigsegvHandler(int nSignal) {
    if (LeftToDefault(nSignal)) {
        return;
    }
    ReportAndEnd(L"SigsegvHandler", SignalPointers());
}

struct ExceptionRecords {
    EXCEPTION_POINTERS pointers;
    EXCEPTION_RECORD record;
    CONTEXT context;
};

}  // namespace

__attribute__((noinline)) void BuildExceptionPointers(uint32_t dwCode, EXCEPTION_POINTERS** ppPointers) {
    static ExceptionRecords s_spare;
    void* pMemory = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(ExceptionRecords) + 16);
    // CONTEXT must be 16-byte aligned; the heap gives 16 on x64, align anyway.
    auto* pRecords =
        pMemory != nullptr
            ? reinterpret_cast<ExceptionRecords*>((reinterpret_cast<uintptr_t>(pMemory) + 15) & ~15ull)
            : &s_spare;
    *pRecords = ExceptionRecords{};
    RtlCaptureContext(&pRecords->context);
    pRecords->record.ExceptionCode = dwCode;
    pRecords->record.ExceptionAddress = __builtin_return_address(0);
    pRecords->pointers.ExceptionRecord = &pRecords->record;
    pRecords->pointers.ContextRecord = &pRecords->context;
    *ppPointers = &pRecords->pointers;
}

void InstallProcessCrashHandlers() {
    rqbl::RoutePureCalls(PureCallHandler);
    std::set_new_handler(NewHandler);
    rqbl::RouteInvalidParameters(InvalidParameterHandler);
    rqbl::SetAbortReportFault();
    signal(SIGABRT, SigabrtHandler);
    signal(SIGINT, SigintHandler);
    signal(SIGTERM, SigtermHandler);
    if (g_pReserve.load() == nullptr) {
        void* pReserve = std::malloc(kReserveBytes);
        void* pNone = nullptr;
        if (!g_pReserve.compare_exchange_strong(pNone, pReserve)) {
            std::free(pReserve);
        }
    }
}

void InstallThreadCrashHandlers() {
    t_bThreadHandlers = true;
    std::terminate_handler pfnPrevious = std::set_terminate(TerminateHandler);
    if (pfnPrevious != TerminateHandler) {
        g_pfnDefaultTerminate = pfnPrevious;
    }
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    // Removed from C++17 but still in libstdc++: std::unexpected() reaches it.
    std::set_unexpected(UnexpectedHandler);
#pragma GCC diagnostic pop
    signal(SIGFPE, SigfpeHandler);
    signal(SIGILL, SigillHandler);
    signal(SIGSEGV, SigsegvHandler);
    rqbl::RouteFaultsToSignalsOnThisThread();
}
