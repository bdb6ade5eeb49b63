#include "launcher/win/RQLauncherDlg.h"

#include <commctrl.h>
#include <shellapi.h>

#include <memory>

#include "RQBuildConfig.h"
#include "baselib/RQBLCrashReport.h"
#include "baselib/RQBLMain.h"
#include "baselib/RQBLThread.h"
#include "baselib/log/RQBLLog.h"
#include "baselib/log/RQBLLogTraceNum.h"
#include "baselib/win/RQBLHttp.h"
#include "baselib/win/RQBLWaitPump.h"
#include "launcher/RQCommandLine.h"
#include "launcher/RQLauncherGlobals.h"
#include "launcher/RQLauncherThread.h"
#include "launcher/win/RQGameStart.h"
#include "launcher/win/RQLauncherApp.h"
#include "launcher/win/RQLauncherMutex.h"
#include "launcher/win/RQLauncherWinLink.h"
#include "res/resource.h"

CRQBLMutex g_hLauncherMutex;

namespace {

constexpr const wchar_t* kTag = L"CRQLauncherDlg::OnInitDialog";
constexpr int kTraceNum = 130011;
constexpr const wchar_t* kConfirmCaption = L"確認";
constexpr int kProgressBarHeight = 10;
// Armed by the end of the update; the game starts when it fires.
constexpr UINT_PTR IDT_START_GAME = 1394;
constexpr UINT kStartGameDelayMs = 1000;

struct LocalFreeDeleter {
    void operator()(LPWSTR* p) const { LocalFree(p); }
};

std::wstring ModulePath() {
    std::wstring strPath(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, strPath.data(), static_cast<DWORD>(strPath.size()));
        if (n == 0) {
            return std::wstring();
        }
        if (n < strPath.size()) {
            strPath.resize(n);
            return strPath;
        }
        strPath.resize(strPath.size() * 2);
    }
}

}  // namespace

std::vector<std::wstring> RQGetCommandLineArgs() {
    int nArgs = 0;
    std::unique_ptr<LPWSTR, LocalFreeDeleter> pArgs(CommandLineToArgvW(GetCommandLineW(), &nArgs));
    std::vector<std::wstring> vecArgs;
    if (pArgs) {
        for (int i = 0; i < nArgs; ++i) {
            vecArgs.emplace_back(pArgs.get()[i]);
        }
    }
    return vecArgs;
}

CRQLauncherDlg::CRQLauncherDlg() {
    m_hIcon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_LAUNCHER),
                                            IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
}

CRQLauncherDlg::~CRQLauncherDlg() {
    if (m_hIcon != nullptr) {
        DestroyIcon(m_hIcon);
    }
}

INT_PTR CRQLauncherDlg::DoModal() {
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_RQLAUNCHER_DIALOG), nullptr,
                           DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CRQLauncherDlg::DialogProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    CRQLauncherDlg* pDlg = nullptr;
    if (nMsg == WM_INITDIALOG) {
        pDlg = reinterpret_cast<CRQLauncherDlg*>(lParam);
        SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
        pDlg->m_hWnd = hWnd;
    } else {
        pDlg = reinterpret_cast<CRQLauncherDlg*>(GetWindowLongPtrW(hWnd, DWLP_USER));
    }
    return pDlg != nullptr ? pDlg->WindowProc(nMsg, wParam, lParam) : FALSE;
}

INT_PTR CRQLauncherDlg::WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    if (nMsg >= WM_RQ_PROGRESS_FULL && nMsg <= WM_RQ_UPDATE_DONE) {
        OnWorkerMessage(nMsg, wParam, lParam);
        return FALSE;  // then, like any message, to the default dialog procedure
    }
    switch (nMsg) {
        case WM_INITDIALOG:
            return OnInitDialog();
        case WM_COMMAND:
            // Escape and Enter end a dialog without buttons as cancel or OK.
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(m_hWnd, LOWORD(wParam));
                return TRUE;
            }
            return FALSE;
        case WM_TIMER:
            OnTimer(wParam);
            return TRUE;
        case WM_PAINT:
            // Only the minimised window is painted here; otherwise the
            // picture and the bar, child controls, paint themselves.
            if (IsIconic(m_hWnd)) {
                OnPaint();
                return TRUE;
            }
            return FALSE;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(OnQueryDragIcon());
        case WM_NCDESTROY:
            PostNcDestroy();
            return FALSE;
        default:
            return FALSE;
    }
}

BOOL CRQLauncherDlg::OnInitDialog() {
    theApp.SetMainWnd(m_hWnd);
    m_ctrlProgress = GetDlgItem(m_hWnd, IDC_PROGRESS);
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    InitCrashReporter(L"ver 0.9a", L"PXPatcher", RQ_CRASH_SERVER, 80);
    InitCrashLog(0, L"__PATCHER__", 0, L"__PATCHER__");
    InstallProcessCrashHandlers();
    InstallThreadCrashHandlers();

    SizeToBackground();
    SendMessageW(m_ctrlProgress, PBM_SETRANGE, 0, MAKELPARAM(0, 1));

    std::vector<std::wstring> vecArgs = RQGetCommandLineArgs();
    if (!EnterProgramFolder()) {
        return FALSE;
    }
    CRQBLMain::CreateInstance(false);
    CRQBLLog::GetInstance().Start(L"Log", L"LAUNCHER_", 0);

    g_strCdnAddress = ReadCdnSwitch(vecArgs, g_strCdnAddress);
    if (g_strCdnAddress.size() < 2) {
        g_strCdnAddress = RQ_DEFAULT_CDN;
    }
    ReadAddressFile();
    return TakeMutexesAndStartWorker() ? TRUE : FALSE;
}

void CRQLauncherDlg::SizeToBackground() {
    HBITMAP hBitmap = LoadBitmapW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_BACKGROUND));
    if (hBitmap == nullptr) {
        return;  // the template's sizes stay
    }
    BITMAP bm{};
    if (GetObjectW(hBitmap, sizeof(bm), &bm) != 0) {
        SetWindowPos(m_hWnd, nullptr, 0, 0, bm.bmWidth, bm.bmHeight + kProgressBarHeight, SWP_NOZORDER);
        SetWindowPos(m_ctrlProgress, nullptr, 0, bm.bmHeight, bm.bmWidth, kProgressBarHeight, SWP_NOZORDER);
    }
    DeleteObject(hBitmap);
}

bool CRQLauncherDlg::EnterProgramFolder() {
    // Every later relative path (address file, logs, downloads, the game)
    // rests on this folder; going on from any other folder would write the
    // downloads somewhere else, so a failure here ends the launcher.
    std::wstring strFolder = ModulePath();
    size_t nSlash = strFolder.find_last_of(L"\\/");
    if (nSlash != std::wstring::npos) {
        strFolder.resize(nSlash == 2 && strFolder[1] == L':' ? 3 : nSlash);
    }
    if (!strFolder.empty() && SetCurrentDirectoryW(strFolder.c_str())) {
        return true;
    }
    Refuse(L"ランチャーのフォルダを開けませんでした。フォルダのパスが長すぎないか確認してください。");
    return false;
}

void CRQLauncherDlg::ReadAddressFile() {
    wchar_t szCurDir[MAX_PATH] = {};
    DWORD nDir = GetCurrentDirectoryW(MAX_PATH, szCurDir);
    if (nDir == 0 || nDir >= MAX_PATH) {
        return;
    }
    std::wstring strPath = std::wstring(szCurDir) + L"\\LOGIN_ADDRESS.LAD";
    WIN32_FIND_DATAW fd{};
    HANDLE hFind = FindFirstFileW(strPath.c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE) {
        return;
    }
    FindClose(hFind);

    RQ_LOG(kTag, RQ_LOG_NTS).Trace(kTraceNum, L"FIND LOGIN_ADDRESS FILE");
    wchar_t szValue[MAX_PATH] = {};
    GetPrivateProfileStringW(L"HTTP_SERVER_ADDRESS", L"LOGIN_IP", L"", szValue, MAX_PATH, strPath.c_str());
    if (szValue[0] != L'\0') {
        RQ_LOG(kTag, RQ_LOG_NTS).Trace(kTraceNum, L"LOGIN_ADDRESS_CDN_ADDRESS LOGIN_IP : %ls", szValue);
        g_strCdnAddress = szValue;
    }
    if (static_cast<int>(GetPrivateProfileIntW(L"DEV_CODE", L"COMMAND_LOG", 0, strPath.c_str())) > 0) {
        RQ_LOG(kTag, RQ_LOG_NTS).Trace(kTraceNum, L"COMMAND_LOG : %ls", GetCommandLineW());
    }
}

bool CRQLauncherDlg::TakeMutexesAndStartWorker() {
    if (!g_hLauncherMutex.CreateOwned(L"LAUNCHER")) {
        RQ_LOG(kTag, RQ_LOG_ERR).Trace(kTraceNum, L"Mutex LAUNCHER ERROR_ALREADY_EXISTS");
        Refuse(L"すでにTOLVANEランチャーが実行されています。LAUNCHERを終了して再度お試しください。");
        return false;
    }
    // The game holds "TOLVANE" while it runs; the launcher only tests it.
    CRQBLMutex gameMutex;
    if (!gameMutex.CreateOwned(L"TOLVANE")) {
        RQ_LOG(kTag, RQ_LOG_ERR).Trace(kTraceNum, L"TEXT_ERROR_PATCHER_DUPLICATION");
        Refuse(L"すでにTOLVANEパッチャーが実行されています。TOLVANEを終了して再度お試しください。");
        return false;
    }
    gameMutex.Close();
    SetWindowTextW(m_hWnd, L"LAUNCHER");

    if (g_strCdnAddress.size() >= 2) {
        m_pLauncherThread =
            new CRQLauncherThread(std::make_unique<CRQBLHttp>(), std::make_unique<CRQLauncherWinLink>());
        m_pLauncherThread->ThreadBegin(-1);
        return true;
    }
    RQ_LOG(kTag, RQ_LOG_ERR).Trace(kTraceNum, L"NO CDN");
    Refuse(L"NO CDN");
    return false;
}

void CRQLauncherDlg::Refuse(const wchar_t* pszText) {
    MessageBoxW(m_hWnd, pszText, kConfirmCaption, MB_OK);
    g_hLauncherMutex.Close();
    PostQuitMessage(0);
}

void CRQLauncherDlg::OnWorkerMessage(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    switch (nMsg) {
        case WM_RQ_PROGRESS_FULL: {
            PBRANGE range{};
            SendMessageW(m_ctrlProgress, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
            SendMessageW(m_ctrlProgress, PBM_SETPOS, static_cast<WPARAM>(range.iHigh), 0);
            UpdateWindow(m_hWnd);
            break;
        }
        case WM_RQ_PROGRESS_RANGE: {
            // An empty range would show nothing at all: 0 (no size, or under
            // 1 KiB) gives 0..10.
            auto nHigh = static_cast<int32_t>(lParam);
            SendMessageW(m_ctrlProgress, PBM_SETRANGE32, 0, nHigh == 0 ? 10 : nHigh);
            break;
        }
        case WM_RQ_PROGRESS_POS:
            SendMessageW(m_ctrlProgress, PBM_SETPOS, static_cast<WPARAM>(static_cast<int32_t>(wParam)), 0);
            break;
        case WM_RQ_UPDATE_DONE:
            SetTimer(m_hWnd, IDT_START_GAME, kStartGameDelayMs, nullptr);
            break;
        default:
            break;
    }
}

void CRQLauncherDlg::OnPaint() {
    PAINTSTRUCT ps{};
    HDC hDC = BeginPaint(m_hWnd, &ps);
    SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(hDC), 0);
    int cxIcon = GetSystemMetrics(SM_CXICON);
    int cyIcon = GetSystemMetrics(SM_CYICON);
    RECT rc{};
    GetClientRect(m_hWnd, &rc);
    int x = (rc.right - rc.left - cxIcon + 1) / 2;
    int y = (rc.bottom - rc.top - cyIcon + 1) / 2;
    DrawIcon(hDC, x, y, m_hIcon);
    EndPaint(m_hWnd, &ps);
}

HCURSOR CRQLauncherDlg::OnQueryDragIcon() const {
    return static_cast<HCURSOR>(m_hIcon);
}

void CRQLauncherDlg::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent == IDT_START_GAME) {
        // First, so that the start runs once whatever happens next.
        KillTimer(m_hWnd, IDT_START_GAME);
        RQStartGame(m_hWnd);
        EndDialog(m_hWnd, IDOK);
    }
}

void CRQLauncherDlg::PostNcDestroy() {
    // From here on the worker sends nothing more to this window.
    theApp.SetMainWnd(nullptr);
    if (m_pLauncherThread != nullptr) {
        // The worker may be waiting in a SendMessageW to this thread; while
        // the stop waits for it, the pump answers such messages.
        CRQBLThread::SetWaitPump(&RQBLPumpSentMessages);
        delete m_pLauncherThread;
        m_pLauncherThread = nullptr;
        CRQBLThread::SetWaitPump(nullptr);
    }
}
