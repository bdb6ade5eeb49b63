#include "baselib/win/RQBLCrtHooks.h"

#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <exception>
#include <initializer_list>

namespace {

#ifndef STATUS_INVALID_CRUNTIME_PARAMETER
constexpr DWORD STATUS_INVALID_CRUNTIME_PARAMETER = 0xC0000417;
#endif

std::atomic<_purecall_handler> g_pfnPureCall{nullptr};
std::atomic<bool> g_bInvalidParameterPatched{false};
std::atomic<bool> g_bSignalFilterInstalled{false};
LPTOP_LEVEL_EXCEPTION_FILTER g_pfnNextFilter = nullptr;
thread_local bool t_bMapFaults = false;

HMODULE CrtModule() {
    return GetModuleHandleW(L"msvcrt.dll");
}

// Memory for a jump within reach (±2 GiB) of pNear; null when none is free.
void* AllocateNear(void* pNear, size_t nBytes) {
    SYSTEM_INFO si{};
    GetSystemInfo(&si);
    const uintptr_t nStep = si.dwAllocationGranularity;
    const auto nNear = reinterpret_cast<uintptr_t>(pNear) & ~(nStep - 1);
    const uintptr_t nReach = 0x7FF00000;
    for (uintptr_t nDelta = nStep; nDelta < nReach; nDelta += nStep) {
        for (uintptr_t nTry : {nNear - nDelta, nNear + nDelta}) {
            if (nTry < reinterpret_cast<uintptr_t>(si.lpMinimumApplicationAddress) ||
                nTry > reinterpret_cast<uintptr_t>(si.lpMaximumApplicationAddress)) {
                continue;
            }
            void* p = VirtualAlloc(reinterpret_cast<void*>(nTry), nBytes, MEM_RESERVE | MEM_COMMIT,
                                   PAGE_EXECUTE_READWRITE);
            if (p != nullptr) {
                return p;
            }
        }
    }
    return nullptr;
}

// Sends every call of pFrom, a function of another module, to pTo: a 5-byte
// relative jump at its entry leads to a nearby absolute jump. Only the first
// five bytes change, so even a short function is not overrun. The original is
// never called again.
bool RedirectFunction(void* pFrom, void* pTo) {
    auto* pTrampoline = static_cast<unsigned char*>(AllocateNear(pFrom, 16));
    if (pTrampoline == nullptr) {
        return false;
    }
    unsigned char absoluteJump[14] = {0xFF, 0x25, 0, 0, 0, 0};  // jmp [rip+0]; dq pTo
    std::memcpy(absoluteJump + 6, &pTo, sizeof(pTo));
    std::memcpy(pTrampoline, absoluteJump, sizeof(absoluteJump));
    FlushInstructionCache(GetCurrentProcess(), pTrampoline, sizeof(absoluteJump));

    auto nDistance = static_cast<int64_t>(reinterpret_cast<uintptr_t>(pTrampoline) -
                                          (reinterpret_cast<uintptr_t>(pFrom) + 5));
    auto nRel32 = static_cast<int32_t>(nDistance);
    unsigned char relativeJump[5] = {0xE9};
    std::memcpy(relativeJump + 1, &nRel32, sizeof(nRel32));
    DWORD dwOld = 0;
    if (!VirtualProtect(pFrom, sizeof(relativeJump), PAGE_EXECUTE_READWRITE, &dwOld)) {
        return false;
    }
    std::memcpy(pFrom, relativeJump, sizeof(relativeJump));
    VirtualProtect(pFrom, sizeof(relativeJump), dwOld, &dwOld);
    FlushInstructionCache(GetCurrentProcess(), pFrom, sizeof(relativeJump));
    return true;
}

// Where msvcrt.dll's _invalid_parameter now leads. As with the Microsoft
// runtime, a handler that returns makes the checked function return an error.
void __cdecl ReportInvalidParameter(const wchar_t* pszExpression, const wchar_t* pszFunction,
                                    const wchar_t* pszFile, unsigned int nLine, uintptr_t nReserved) {
    _invalid_parameter_handler pfnHandler = _get_invalid_parameter_handler();
    if (pfnHandler != nullptr) {
        pfnHandler(pszExpression, pszFunction, pszFile, nLine, nReserved);
    }
}

int SignalOfException(DWORD dwCode) {
    switch (dwCode) {
        case EXCEPTION_ACCESS_VIOLATION:
        case EXCEPTION_IN_PAGE_ERROR:
            return SIGSEGV;
        case EXCEPTION_ILLEGAL_INSTRUCTION:
        case EXCEPTION_PRIV_INSTRUCTION:
            return SIGILL;
        case EXCEPTION_FLT_DENORMAL_OPERAND:
        case EXCEPTION_FLT_DIVIDE_BY_ZERO:
        case EXCEPTION_FLT_INEXACT_RESULT:
        case EXCEPTION_FLT_INVALID_OPERATION:
        case EXCEPTION_FLT_OVERFLOW:
        case EXCEPTION_FLT_STACK_CHECK:
        case EXCEPTION_FLT_UNDERFLOW:
        case EXCEPTION_INT_DIVIDE_BY_ZERO:
        case EXCEPTION_INT_OVERFLOW:
            return SIGFPE;
        default:
            return 0;
    }
}

LONG WINAPI MapFaultToSignal(PEXCEPTION_POINTERS pPointers) {
    DWORD dwCode = pPointers->ExceptionRecord->ExceptionCode;
    if (dwCode == STATUS_INVALID_CRUNTIME_PARAMETER) {
        // A C runtime without a handler of its own reports this way.
        ReportInvalidParameter(nullptr, nullptr, nullptr, 0, 0);
    }
    int nSignal = SignalOfException(dwCode);
    if (nSignal != 0 && t_bMapFaults) {
        // As the Microsoft runtime: the action is reset to the default, and the
        // handler sees the fault through _pxcptinfoptrs.
        __p_sig_fn_t pfnAction = signal(nSignal, SIG_DFL);
        if (pfnAction != SIG_DFL && pfnAction != SIG_IGN && pfnAction != SIG_ERR) {
            void* pPrevious = _pxcptinfoptrs;
            _pxcptinfoptrs = pPointers;
            pfnAction(nSignal);
            _pxcptinfoptrs = pPrevious;
            return EXCEPTION_CONTINUE_EXECUTION;
        }
        if (pfnAction == SIG_IGN) {
            signal(nSignal, SIG_IGN);
        }
    }
    return g_pfnNextFilter != nullptr ? g_pfnNextFilter(pPointers) : EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

// libstdc++ puts this into the virtual table slots of pure virtual functions.
extern "C" void __cxa_pure_virtual() {
    _purecall_handler pfnHandler = g_pfnPureCall.load();
    if (pfnHandler != nullptr) {
        pfnHandler();
    }
    std::terminate();
}

namespace rqbl {

void RoutePureCalls(_purecall_handler pfnHandler) {
    _set_purecall_handler(pfnHandler);
    g_pfnPureCall.store(pfnHandler);
}

void RouteInvalidParameters(_invalid_parameter_handler pfnHandler) {
    _set_invalid_parameter_handler(pfnHandler);
    HMODULE hCrt = CrtModule();
    if (hCrt == nullptr) {
        return;
    }
    // A runtime that keeps its own handler calls it from its checks.
    using SetHandler = _invalid_parameter_handler(__cdecl*)(_invalid_parameter_handler);
    if (auto pfnSet = reinterpret_cast<SetHandler>(
            reinterpret_cast<void*>(GetProcAddress(hCrt, "_set_invalid_parameter_handler")))) {
        pfnSet(pfnHandler);
        return;
    }
    void* pReport = reinterpret_cast<void*>(GetProcAddress(hCrt, "_invalid_parameter"));
    if (pReport != nullptr && !g_bInvalidParameterPatched.exchange(true)) {
        RedirectFunction(pReport, reinterpret_cast<void*>(&ReportInvalidParameter));
    }
}

void SetAbortReportFault() {
    HMODULE hCrt = CrtModule();
    using SetAbortBehavior = unsigned int(__cdecl*)(unsigned int, unsigned int);
    if (hCrt == nullptr) {
        return;
    }
    if (auto pfnSet = reinterpret_cast<SetAbortBehavior>(
            reinterpret_cast<void*>(GetProcAddress(hCrt, "_set_abort_behavior")))) {
        constexpr unsigned int kCallReportFault = 2;
        pfnSet(kCallReportFault, kCallReportFault);
    }
}

void RouteFaultsToSignalsOnThisThread() {
    t_bMapFaults = true;
    if (!g_bSignalFilterInstalled.exchange(true)) {
        g_pfnNextFilter = SetUnhandledExceptionFilter(MapFaultToSignal);
    }
}

}  // namespace rqbl
