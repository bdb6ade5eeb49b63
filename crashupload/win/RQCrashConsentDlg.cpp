#include "crashupload/win/RQCrashConsentDlg.h"

#include <process.h>
#include <shellapi.h>

#include <cstdint>
#include <memory>
#include <utility>

#include "baselib/RQBLUtf8.h"
#include "baselib/win/RQBLWinHandle.h"
#include "crashupload/win/RQCrashReportFolder.h"
#include "crashupload/win/RQCrashUpload.h"
#include "crashupload/win/RQDialogTemplate.h"

namespace {

constexpr UINT WM_RQ_UPLOAD_DONE = WM_APP + 1;
// How long closing the dialog waits for a cancelled upload to let go.
constexpr DWORD kCancelWaitMs = 5000;

constexpr const wchar_t* kAskText =
    L"ランチャーでエラーが発生しました。\n"
    L"原因を調べるため、エラー報告（ダンプ、ログ、画面の画像）を\n"
    L"サポートに送信してください。\n"
    L"送信しない場合も、報告はこのパソコンの報告フォルダに残ります。";
constexpr const wchar_t* kSendingText = L"送信しています…";
constexpr const wchar_t* kSentText = L"送信しました。";
constexpr const wchar_t* kReportIdLabel = L"受付番号: ";
constexpr const wchar_t* kRetryText = L"送信できませんでした。次回の起動時にもう一度送信します。";
constexpr const wchar_t* kRefusedText =
    L"サポートのサーバーが報告を受け付けませんでした。報告フォルダをサポートにお送りください。";
constexpr const wchar_t* kNoConsentText = L"送信の記録を残せないため、送信しませんでした。";

class CRQCrashConsentDlg {
public:
    CRQCrashConsentDlg(std::wstring strFolder, const CRQCrashReportInfo& info)
        : m_strFolder(std::move(strFolder)), m_info(info) {}
    ~CRQCrashConsentDlg() { StopUpload(); }
    CRQCrashConsentDlg(const CRQCrashConsentDlg&) = delete;
    CRQCrashConsentDlg& operator=(const CRQCrashConsentDlg&) = delete;

    void Run() {
        std::wstring strCaption = RQBLUtf8ToWide(m_info.strProduct);
        CRQDialogTemplate dialog(strCaption.empty() ? L"エラー報告" : strCaption + L" - エラー報告", 280,
                                 130);
        dialog.AddStatic(0xFFFF, RQBLUtf8ToWide(m_info.strMessage1), 8, 8, 264, 10);
        dialog.AddStatic(0xFFFF, RQBLUtf8ToWide(m_info.strMessage2), 8, 20, 264, 10);
        dialog.AddStatic(0xFFFF, kAskText, 8, 36, 264, 40);
        dialog.AddStatic(IDC_CRASH_STATUS, L"", 8, 82, 264, 18);
        dialog.AddButton(IDC_CRASH_OPEN_FOLDER, L"報告フォルダを開く", 8, 106, 84, 16, false);
        dialog.AddButton(IDOK, L"送信する", 132, 106, 66, 16, true);
        dialog.AddButton(IDCANCEL, L"送信しない", 206, 106, 66, 16, false);
        DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog.Get(), nullptr, DialogProc,
                                reinterpret_cast<LPARAM>(this));
    }

private:
    enum class EState { ASKING, SENDING, DONE };

    static INT_PTR CALLBACK DialogProc(HWND hDlg, UINT nMsg, WPARAM wParam, LPARAM lParam) {
        if (nMsg == WM_INITDIALOG) {
            SetWindowLongPtrW(hDlg, DWLP_USER, lParam);
            reinterpret_cast<CRQCrashConsentDlg*>(lParam)->m_hDlg = hDlg;
            return TRUE;
        }
        auto* pDlg = reinterpret_cast<CRQCrashConsentDlg*>(GetWindowLongPtrW(hDlg, DWLP_USER));
        if (pDlg == nullptr) {
            return FALSE;
        }
        if (nMsg == WM_RQ_UPLOAD_DONE) {
            pDlg->OnUploadDone();
            return TRUE;
        }
        if (nMsg == WM_COMMAND) {
            return pDlg->OnCommand(LOWORD(wParam)) ? TRUE : FALSE;
        }
        return FALSE;
    }

    bool OnCommand(WORD wId) {
        switch (wId) {
            case IDOK:
                if (m_eState == EState::ASKING) {
                    StartUpload();
                }
                return true;
            case IDCANCEL:
                StopUpload();  // kept, with its consent, for the next start
                EndDialog(m_hDlg, IDCANCEL);
                return true;
            case IDC_CRASH_OPEN_FOLDER:
                ShellExecuteW(m_hDlg, L"open", m_strFolder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
                return true;
            default:
                return false;
        }
    }

    void StartUpload() {
        EnableWindow(GetDlgItem(m_hDlg, IDOK), FALSE);
        SetDlgItemTextW(m_hDlg, IDCANCEL, L"閉じる");
        if (!rqcrash::RecordConsent(m_strFolder)) {
            SetStatus(kNoConsentText);
            m_eState = EState::DONE;
            return;
        }
        m_pJob = std::make_shared<UploadJob>();
        m_pJob->strFolder = m_strFolder;
        m_pJob->strServerUrl = m_info.strServerUrl;
        m_pJob->nDefaultPort = m_info.nServerPort;
        m_pJob->hDlg = m_hDlg;
        m_pJob->hCancel.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        auto* pThreadJob = new std::shared_ptr<UploadJob>(m_pJob);
        if (m_pJob->hCancel) {
            m_hThread.Reset(
                reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, UploadThread, pThreadJob, 0, nullptr)));
        }
        if (!m_hThread) {
            delete pThreadJob;
            SetStatus(kRetryText);
            m_eState = EState::DONE;
            return;
        }
        SetStatus(kSendingText);
        m_eState = EState::SENDING;
    }

    // What the upload thread works on; shared, so that a thread that outlives
    // the dialog's bounded wait (a slow name look-up) still has it.
    struct UploadJob {
        std::wstring strFolder;
        std::string strServerUrl;
        uint16_t nDefaultPort = 80;
        HWND hDlg = nullptr;
        CRQBLHandle hCancel;
        rqcrash::CRQUploadResult result;
    };

    static unsigned __stdcall UploadThread(void* pParam) {
        std::unique_ptr<std::shared_ptr<UploadJob>> pJob(static_cast<std::shared_ptr<UploadJob>*>(pParam));
        UploadJob& job = **pJob;
        job.result = rqcrash::SendConsentedReport(job.strFolder, job.strServerUrl, job.nDefaultPort,
                                                  job.hCancel.Get());
        PostMessageW(job.hDlg, WM_RQ_UPLOAD_DONE, 0, 0);
        return 0;
    }

    void OnUploadDone() {
        if (m_eState != EState::SENDING) {
            return;
        }
        WaitForSingleObject(m_hThread.Get(), INFINITE);  // it has posted its last act
        m_hThread.Close();
        m_eState = EState::DONE;
        const rqcrash::CRQUploadResult& result = m_pJob->result;
        switch (result.eOutcome) {
            case ERQUploadOutcome::SENT:
                SetStatus(result.strReportId.empty() ? std::wstring(kSentText)
                                                     : std::wstring(kSentText) + kReportIdLabel +
                                                           RQBLUtf8ToWide(result.strReportId));
                EnableWindow(GetDlgItem(m_hDlg, IDC_CRASH_OPEN_FOLDER), FALSE);  // the folder is gone
                break;
            case ERQUploadOutcome::REFUSED:
                SetStatus(kRefusedText);
                break;
            case ERQUploadOutcome::RETRY:
                SetStatus(kRetryText);
                break;
        }
    }

    void StopUpload() {
        if (m_hThread) {
            SetEvent(m_pJob->hCancel.Get());
            WaitForSingleObject(m_hThread.Get(), kCancelWaitMs);
            m_hThread.Close();
        }
    }

    void SetStatus(const std::wstring& strText) {
        SetDlgItemTextW(m_hDlg, IDC_CRASH_STATUS, strText.c_str());
    }

    std::wstring m_strFolder;
    CRQCrashReportInfo m_info;
    HWND m_hDlg = nullptr;
    EState m_eState = EState::ASKING;
    std::shared_ptr<UploadJob> m_pJob;
    CRQBLHandle m_hThread;
};

}  // namespace

void RunCrashConsentDialog(const std::wstring& strFolder, const CRQCrashReportInfo& info) {
    CRQCrashConsentDlg dialog(strFolder, info);
    dialog.Run();
}
