// A crash report: a folder beside the program (or under the report path)
// holding a minidump, a short text report, copies of the logs and what the
// sending step needs; then that step, in a fresh process.
#include <windows.h>

#include <dbghelp.h>

#include <cwchar>

#include "BTState.h"
#include "baselib/RQBLCrashReportInfo.h"
#include "baselib/RQBLCrashReportNames.h"
#include "baselib/win/RQBLWinHandle.h"

namespace {

constexpr DWORD kLockWaitMs = 2000;

std::wstring TwoDigits(unsigned n) {
    wchar_t sz[8];
    swprintf(sz, 8, L"%02u", n % 100);
    return sz;
}

std::wstring Hex(uint64_t n, int nDigits) {
    wchar_t sz[24];
    swprintf(sz, 24, L"0x%0*llX", nDigits, static_cast<unsigned long long>(n));
    return sz;
}

std::wstring FileName(const std::wstring& strPath) {
    size_t nSlash = strPath.find_last_of(L"\\/");
    return nSlash == std::wstring::npos ? strPath : strPath.substr(nSlash + 1);
}

// A new folder named after the time and the process; empty on failure.
std::wstring MakeReportFolder(const std::wstring& strParent, const SYSTEMTIME& st) {
    CreateDirectoryW(strParent.c_str(), nullptr);
    std::wstring strBase = strParent + L"\\CrashReport_" + std::to_wstring(st.wYear) + TwoDigits(st.wMonth) +
                           TwoDigits(st.wDay) + L"_" + TwoDigits(st.wHour) + TwoDigits(st.wMinute) +
                           TwoDigits(st.wSecond) + L"_" + std::to_wstring(GetCurrentProcessId());
    for (int n = 1; n < 100; ++n) {
        std::wstring strFolder = n == 1 ? strBase : strBase + L"_" + std::to_wstring(n);
        if (CreateDirectoryW(strFolder.c_str(), nullptr)) {
            return strFolder;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            return std::wstring();
        }
    }
    return std::wstring();
}

bool WriteMinidump(const std::wstring& strPath, PEXCEPTION_POINTERS pPointers, DWORD dwDumpType) {
    CRQBLHandle hFile(CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile) {
        return false;
    }
    MINIDUMP_EXCEPTION_INFORMATION info{};
    info.ThreadId = GetCurrentThreadId();
    info.ExceptionPointers = pPointers;
    info.ClientPointers = FALSE;
    return MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), hFile.Get(),
                             static_cast<MINIDUMP_TYPE>(dwDumpType), &info, nullptr, nullptr) != FALSE;
}

std::wstring ModuleOf(PVOID pAddress) {
    HMODULE hModule = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCWSTR>(pAddress), &hModule)) {
        return L"?";
    }
    wchar_t szPath[MAX_PATH] = {};
    GetModuleFileNameW(hModule, szPath, MAX_PATH);
    return std::wstring(szPath) + L" + " +
           Hex(reinterpret_cast<uintptr_t>(pAddress) - reinterpret_cast<uintptr_t>(hModule), 1);
}

std::wstring TextReport(const rqbt::CState& state, PEXCEPTION_POINTERS pPointers, const SYSTEMTIME& st,
                        const std::wstring& strFiles) {
    const EXCEPTION_RECORD* pRecord = pPointers->ExceptionRecord;
    std::wstring strText;
    strText += L"Application: " + state.strAppName + L"\r\n";
    strText += L"Version: " + state.strAppVersion + L"\r\n";
    strText += L"Build: " + state.strBuildTag + L"\r\n";
    strText += L"Time: " + std::to_wstring(st.wYear) + L"-" + TwoDigits(st.wMonth) + L"-" +
               TwoDigits(st.wDay) + L" " + TwoDigits(st.wHour) + L":" + TwoDigits(st.wMinute) + L":" +
               TwoDigits(st.wSecond) + L"\r\n";
    strText += L"Process: " + std::to_wstring(GetCurrentProcessId()) + L", thread: " +
               std::to_wstring(GetCurrentThreadId()) + L"\r\n";
    strText += L"Exception code: " + Hex(pRecord->ExceptionCode, 8) + L"\r\n";
    strText += L"Exception address: " + Hex(reinterpret_cast<uintptr_t>(pRecord->ExceptionAddress), 16) +
               L" (" + ModuleOf(pRecord->ExceptionAddress) + L")\r\n";
    strText += L"Support server: " + state.strSupportHost + L", port " +
               std::to_wstring(static_cast<unsigned short>(state.nSupportPort)) + L"\r\n";
    strText += L"Flags: " + Hex(state.dwFlags, 2) + L", dump type: " + Hex(state.dwDumpType, 2) + L"\r\n";
    strText += L"Files: " + strFiles + L"\r\n";
    return strText;
}

// Copies a file that its writer may still hold open.
bool CopyShared(const std::wstring& strFrom, const std::wstring& strTo) {
    CRQBLHandle hFrom(CreateFileW(strFrom.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFrom) {
        return false;
    }
    CRQBLHandle hTo(
        CreateFileW(strTo.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hTo) {
        return false;
    }
    char buffer[16384];
    for (;;) {
        DWORD dwRead = 0;
        if (!ReadFile(hFrom.Get(), buffer, sizeof(buffer), &dwRead, nullptr)) {
            return false;
        }
        if (dwRead == 0) {
            return true;
        }
        DWORD dwWritten = 0;
        if (!WriteFile(hTo.Get(), buffer, dwRead, &dwWritten, nullptr) || dwWritten != dwRead) {
            return false;
        }
    }
}

// Copies every log into the folder, each under its own name; returns the names.
std::wstring CopyLogs(rqbt::CState& state, const std::wstring& strFolder) {
    std::vector<std::wstring> vecSources;
    for (const auto& pLog : state.vecLogs) {
        if (pLog->bOpen) {
            pLog->Flush();
            vecSources.push_back(pLog->strPath);
        }
    }
    for (const std::wstring& strFile : state.vecReportFiles) {
        bool bKnown = false;
        for (const std::wstring& strSource : vecSources) {
            bKnown = bKnown || _wcsicmp(strSource.c_str(), strFile.c_str()) == 0;
        }
        if (!bKnown) {
            vecSources.push_back(strFile);
        }
    }
    std::wstring strNames;
    for (const std::wstring& strSource : vecSources) {
        std::wstring strName = FileName(strSource);
        std::wstring strTarget = strFolder + L"\\" + strName;
        for (int n = 2; GetFileAttributesW(strTarget.c_str()) != INVALID_FILE_ATTRIBUTES && n < 100; ++n) {
            strName = std::to_wstring(n) + L"_" + FileName(strSource);
            strTarget = strFolder + L"\\" + strName;
        }
        if (CopyShared(strSource, strTarget)) {
            strNames += L", " + strName;
        }
    }
    return strNames;
}

// What the sending step, in another process, needs to know.
bool WriteReportInfo(const rqbt::CState& state, const std::wstring& strFolder) {
    CRQCrashReportInfo info;
    info.strProduct = rqbt::ToUtf8(state.strAppName);
    info.strVersion = rqbt::ToUtf8(state.strAppVersion);
    info.strBuild = rqbt::ToUtf8(state.strBuildTag);
    info.strServerUrl = rqbt::ToUtf8(state.strSupportHost);
    info.nServerPort = static_cast<uint16_t>(state.nSupportPort);
    info.strMessage1 = rqbt::ToUtf8(state.strIntro1);
    info.strMessage2 = rqbt::ToUtf8(state.strIntro2);
    info.bScreenCapture = (state.dwFlags & BTF_SCREENCAPTURE) != 0;
    std::string strName = rqcrash::kReportInfoFile;
    return rqbt::WriteWholeFile(strFolder + L"\\" + std::wstring(strName.begin(), strName.end()),
                                FormatCrashReportInfo(info));
}

// Starts the sending step for the report and waits until the player has
// answered it: the handler's own message box comes after.
void RunSender(const rqbt::CState& state, const std::wstring& strFolder) {
    if (state.strSenderProgram.empty()) {
        return;
    }
    std::wstring strCommandLine = L"\"" + state.strSenderProgram + L"\" " + state.strSenderSwitch + L" \"" +
                                  strFolder + L"\" " + std::to_wstring(GetCurrentProcessId());
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(state.strSenderProgram.c_str(), strCommandLine.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &process)) {
        return;
    }
    CRQBLHandle hThread(process.hThread);
    CRQBLHandle hProcess(process.hProcess);
    WaitForSingleObject(hProcess.Get(), INFINITE);
}

}  // namespace

extern "C" {

BOOL WINAPI BT_SendSnapshotEx(PEXCEPTION_POINTERS pExceptionPointers) {
    CONTEXT context{};
    EXCEPTION_RECORD record{};
    EXCEPTION_POINTERS own{&record, &context};
    if (pExceptionPointers == nullptr) {
        RtlCaptureContext(&context);
        record.ExceptionAddress = reinterpret_cast<PVOID>(context.Rip);
        pExceptionPointers = &own;
    }

    // Best effort when another thread keeps the lock: it may be the one
    // that crashed while holding it.
    rqbt::CState& state = rqbt::State();
    std::unique_lock<std::recursive_mutex> lock(state.cs, std::defer_lock);
    for (DWORD dwWaited = 0; !lock.try_lock() && dwWaited < kLockWaitMs; dwWaited += 10) {
        Sleep(10);
    }

    SYSTEMTIME st{};
    GetLocalTime(&st);
    std::wstring strParent =
        state.strReportPath.empty() ? rqbt::ProgramFolder() : rqbt::ResolvePath(state.strReportPath);
    std::wstring strFolder = MakeReportFolder(strParent, st);
    if (strFolder.empty()) {
        return FALSE;
    }
    std::wstring strFiles;
    if (WriteMinidump(strFolder + L"\\crash.dmp", pExceptionPointers, state.dwDumpType)) {
        strFiles = L"crash.dmp";
    }
    strFiles += CopyLogs(state, strFolder);
    rqbt::WriteWholeFile(strFolder + L"\\report.txt",
                         rqbt::ToUtf8(TextReport(state, pExceptionPointers, st, strFiles)));
    if (WriteReportInfo(state, strFolder)) {
        RunSender(state, strFolder);
    }
    return TRUE;
}

BOOL WINAPI BT_SendSnapshot(void) {
    return BT_SendSnapshotEx(nullptr);
}

}  // extern "C"
