// Sets up crash reporting as the launcher does, then commits the fatal error
// named on its command line. Run by crash_report_tests and crash_upload_tests
// from a folder of its own; the crash report appears beside it.
//   rq_crash_probe.exe CASE                 a crash; the report stays in its folder
//   rq_crash_probe.exe CASE SERVER_URL      a crash reported as the launcher does:
//                                           the player is asked, the report sent to SERVER_URL
//   rq_crash_probe.exe pending SERVER_URL   a start: sends the waiting reports, then ends
#include <windows.h>

#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <exception>
#include <new>
#include <string>
#include <thread>

#include "RQBuildConfig.h"
#include "baselib/RQBLCrashReport.h"
#include "baselib/RQBLMain.h"
#include "baselib/log/RQBLLog.h"
#include "baselib/log/RQBLLogKeys.h"
#include "baselib/log/RQBLLogTraceNum.h"
#include "baselib/win/RQBLModulePath.h"
#include "crashupload/win/RQCrashReportEntry.h"
#include "crashupload/win/RQCrashUploadQueue.h"

// Outside the anonymous namespace: with every override known, the compiler
// would call the one concrete override instead of the pure slot.
struct CProbeAbstract {
    CProbeAbstract() { CallPure(); }  // the derived part does not exist yet
    virtual ~CProbeAbstract() = default;
    virtual void Pure() = 0;
    __attribute__((noipa)) void CallPure() {
        CProbeAbstract* volatile pSelf = this;
        pSelf->Pure();
    }
};

struct CProbeConcrete : CProbeAbstract {
    void Pure() override {}
};

namespace {

void PureCall() {
    CProbeConcrete object;
}

void FailedAllocation() {
    volatile size_t nBytes = SIZE_MAX / 4;
    void* p = ::operator new(nBytes);
    ::operator delete(p);
}

void InvalidParameter() {
    wchar_t szBuffer[2];
    wcscpy_s(szBuffer, 2, L"far too long for two characters");
}

[[noreturn]] void Unexpected() {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    std::unexpected();
#pragma GCC diagnostic pop
}

void DivideByZero() {
    volatile int nNumerator = 1;
    volatile int nZero = 0;
    volatile int nResult = nNumerator / nZero;
    (void)nResult;
}

void WriteToBadAddress() {
    volatile uintptr_t nAddress = 16;
    *reinterpret_cast<volatile int*>(nAddress) = 1;
}

void OnWorker(void (*pfn)()) {
    std::thread worker(pfn);
    worker.join();
}

bool Trigger(const std::wstring& strCase) {
    if (strCase == L"pure_call") {
        PureCall();
    } else if (strCase == L"new") {
        FailedAllocation();
    } else if (strCase == L"invalid_parameter") {
        InvalidParameter();
    } else if (strCase == L"abort") {
        std::abort();
    } else if (strCase == L"sigint") {
        raise(SIGINT);
    } else if (strCase == L"sigterm") {
        raise(SIGTERM);
    } else if (strCase == L"terminate") {
        std::terminate();
    } else if (strCase == L"unexpected") {
        Unexpected();
    } else if (strCase == L"sigfpe") {
        DivideByZero();
    } else if (strCase == L"sigill") {
        __builtin_trap();
    } else if (strCase == L"sigsegv") {
        WriteToBadAddress();
    } else if (strCase == L"abort_on_worker") {
        OnWorker([] { std::abort(); });
    } else if (strCase == L"terminate_on_worker") {
        OnWorker([] { std::terminate(); });
    } else if (strCase == L"sigsegv_on_worker") {
        OnWorker(WriteToBadAddress);
    } else {
        return false;
    }
    return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR pszCmdLine, int) {
    std::wstring strCase = pszCmdLine != nullptr ? pszCmdLine : L"";
    while (!strCase.empty() && strCase.back() == L' ') {
        strCase.pop_back();
    }
    std::wstring strServer;
    size_t nSpace = strCase.find(L' ');
    if (nSpace != std::wstring::npos) {
        strServer = strCase.substr(nSpace + 1);
        strCase.resize(nSpace);
    }

    // Like the launcher's entry, but only when asked to: the crash cases
    // without a server keep to the handler's own box.
    if (!strServer.empty() || strCase == L"_CRASH_REPORT") {
        int nExitCode = 0;
        if (RQCrashReportEntry(GetCommandLineW(), nExitCode)) {
            return nExitCode;
        }
    }
    if (strCase == L"pending") {
        constexpr DWORD kPendingTimeoutMs = 120000;
        CRQCrashUploadQueue waitingReports(RQBLModuleFolder(), strServer, 80);
        return waitingReports.WaitUntilDone(kPendingTimeoutMs) ? 0 : 4;
    }

    InitCrashReporter(L"ver 0.9a", L"PXPatcher", strServer.empty() ? RQ_CRASH_SERVER : strServer, 80);
    InitCrashLog(0, L"__PATCHER__", 0, L"__PATCHER__");
    InstallProcessCrashHandlers();
    InstallThreadCrashHandlers();
    CRQBLLog log(RQBLLogKey());
    CRQBLMain runtime(log);
    log.Start(L"Log", L"LAUNCHER_", 0);
    RQ_LOG(log, L"RQCrashProbe", RQ_LOG_NTS).Trace(1, L"case %ls", strCase.c_str());

    if (!Trigger(strCase)) {
        return 2;  // unknown case
    }
    return 3;  // the error did not end the process
}
