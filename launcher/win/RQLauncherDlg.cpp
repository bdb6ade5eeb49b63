#include "launcher/win/RQLauncherDlg.h"

#include <commctrl.h>

#include <algorithm>

#include "baselib/log/RQBLLogTraceNum.h"
#include "baselib/win/RQBLWaitPump.h"
#include "baselib/win/RQBLWinInetTransport.h"
#include "launcher/update/RQLauncherThread.h"
#include "launcher/win/RQGameStart.h"
#include "res/resource.h"

namespace {

constexpr const wchar_t* kTag = L"CRQLauncherDlg::OnInitDialog";
constexpr int kTraceNum = 130011;
constexpr const wchar_t* kConfirmCaption = L"確認";
constexpr int kProgressBarHeight = 10;
// Armed by the end of the update; the game starts when it fires.
constexpr UINT_PTR IDT_START_GAME = 1394;
constexpr UINT kStartGameDelayMs = 1000;

}  // namespace

CRQLauncherDlg::CRQLauncherDlg(const RQ_LAUNCHER_SETTINGS& settings, CRQBLLogSink& log)
    : m_settings(settings),
      m_log(log),
      m_hIcon(static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_LAUNCHER),
                                            IMAGE_ICON, 0, 0, LR_DEFAULTSIZE))) {}

// Out of line: the worker's type is complete only here.
CRQLauncherDlg::~CRQLauncherDlg() = default;

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
        case WM_DRAWITEM:
            if (wParam == IDC_STATUS) {
                m_statusLine.Draw(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
                return TRUE;
            }
            return FALSE;
        case WM_RQ_STATUS:
            m_statusLine.SetText(m_windowTarget.TakeStatus());
            return TRUE;
        case WM_RQ_FAILURE:
            m_taskbar.SetError();
            return TRUE;
        case WM_NCDESTROY:
            PostNcDestroy();
            return FALSE;
        default:
            return FALSE;
    }
}

BOOL CRQLauncherDlg::OnInitDialog() {
    m_windowTarget.Attach(m_hWnd);
    m_ctrlProgress = GetDlgItem(m_hWnd, IDC_PROGRESS);
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon.Get()));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon.Get()));
    SIZE picture = SizeToBackground();
    m_statusLine.Create(m_hWnd, IDC_STATUS, picture.cx, picture.cy);
    m_taskbar.Attach(m_hWnd);
    // The worker sets the real range once the script's transfer has begun.
    SendMessageW(m_ctrlProgress, PBM_SETRANGE, 0, MAKELPARAM(0, 1));
    return TakeMutexesAndStartWorker() ? TRUE : FALSE;
}

SIZE CRQLauncherDlg::SizeToBackground() {
    // Only its size is read here; the picture control shows its own copy.
    CRQBLBitmap bitmap(LoadBitmapW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_BACKGROUND)));
    BITMAP bm{};
    if (!bitmap || GetObjectW(bitmap.Get(), sizeof(bm), &bm) == 0) {
        // The template's sizes stay.
        RECT rc{};
        GetWindowRect(GetDlgItem(m_hWnd, IDC_BACKGROUND), &rc);
        return SIZE{rc.right - rc.left, rc.bottom - rc.top};
    }
    SetWindowPos(m_hWnd, nullptr, 0, 0, bm.bmWidth, bm.bmHeight + kProgressBarHeight, SWP_NOZORDER);
    SetWindowPos(m_ctrlProgress, nullptr, 0, bm.bmHeight, bm.bmWidth, kProgressBarHeight, SWP_NOZORDER);
    return SIZE{bm.bmWidth, bm.bmHeight};
}

bool CRQLauncherDlg::TakeMutexesAndStartWorker() {
    if (!m_launcherMutex.CreateOwned(L"LAUNCHER")) {
        RQ_LOG(m_log, kTag, RQ_LOG_ERR).Trace(kTraceNum, L"Mutex LAUNCHER ERROR_ALREADY_EXISTS");
        Refuse(L"すでにTOLVANEランチャーが実行されています。LAUNCHERを終了して再度お試しください。");
        return false;
    }
    // The game holds "TOLVANE" while it runs; the launcher only tests it.
    CRQBLMutex gameMutex;
    if (!gameMutex.CreateOwned(L"TOLVANE")) {
        RQ_LOG(m_log, kTag, RQ_LOG_ERR).Trace(kTraceNum, L"TEXT_ERROR_PATCHER_DUPLICATION");
        Refuse(L"すでにTOLVANEパッチャーが実行されています。TOLVANEを終了して再度お試しください。");
        return false;
    }
    gameMutex.Close();
    SetWindowTextW(m_hWnd, L"LAUNCHER");

    if (m_settings.HasContentServer()) {
        m_pLauncherThread =
            std::make_unique<CRQLauncherThread>(m_settings.update, MakeTransportFactory(),
                                                std::make_unique<CRQLauncherWinLink>(m_windowTarget), m_log);
        m_pLauncherThread->ThreadBegin(-1);
        return true;
    }
    RQ_LOG(m_log, kTag, RQ_LOG_ERR).Trace(kTraceNum, L"NO CDN");
    Refuse(L"NO CDN");
    return false;
}

CRQTransferQueue::TransportFactory CRQLauncherDlg::MakeTransportFactory() const {
    // How long a network call may wait: long enough for a busy server, short
    // enough that a stalled transfer is noticed within its stall window.
    const uint32_t dwTimeoutMs = std::clamp<uint32_t>(m_settings.update.dwStallSeconds * 500, 1000, 15000);
    auto pSession = std::make_shared<CRQBLInternetSession>(dwTimeoutMs, m_settings.update.nParallel + 1);
    return [pSession] { return std::make_unique<CRQBLWinInetTransport>(pSession); };
}

void CRQLauncherDlg::Refuse(const wchar_t* pszText) {
    MessageBoxW(m_hWnd, pszText, kConfirmCaption, MB_OK);
    m_launcherMutex.Close();
    PostQuitMessage(0);
}

void CRQLauncherDlg::OnWorkerMessage(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    switch (nMsg) {
        case WM_RQ_PROGRESS_FULL: {
            PBRANGE range{};
            SendMessageW(m_ctrlProgress, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
            SendMessageW(m_ctrlProgress, PBM_SETPOS, static_cast<WPARAM>(range.iHigh), 0);
            m_taskbar.SetPos(range.iHigh);
            UpdateWindow(m_hWnd);
            break;
        }
        case WM_RQ_PROGRESS_RANGE: {
            // An empty range would show nothing at all: 0 (no size, or under
            // 1 KiB) gives 0..10.
            auto nHigh = static_cast<int32_t>(lParam);
            SendMessageW(m_ctrlProgress, PBM_SETRANGE32, 0, nHigh == 0 ? 10 : nHigh);
            m_taskbar.SetRange(nHigh == 0 ? 10 : nHigh);
            break;
        }
        case WM_RQ_PROGRESS_POS:
            SendMessageW(m_ctrlProgress, PBM_SETPOS, static_cast<WPARAM>(static_cast<int32_t>(wParam)), 0);
            m_taskbar.SetPos(static_cast<int32_t>(wParam));
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
    DrawIcon(hDC, x, y, m_hIcon.Get());
    EndPaint(m_hWnd, &ps);
}

HCURSOR CRQLauncherDlg::OnQueryDragIcon() const {
    return static_cast<HCURSOR>(m_hIcon.Get());
}

void CRQLauncherDlg::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent == IDT_START_GAME) {
        // First, so that the start runs once whatever happens next.
        KillTimer(m_hWnd, IDT_START_GAME);
        RQStartGame(m_hWnd, m_launcherMutex);
        EndDialog(m_hWnd, IDOK);
    }
}

void CRQLauncherDlg::PostNcDestroy() {
    // From here on the worker sends nothing more to this window.
    m_windowTarget.Detach();
    if (m_pLauncherThread) {
        // The worker may be waiting in a SendMessageW to this thread; while
        // the stop waits for it, the pump answers such messages.
        m_pLauncherThread->SetWaitPump(&RQBLPumpSentMessages);
        m_pLauncherThread.reset();
    }
}
