#include "launcher/win/RQTaskbarProgress.h"

void CRQTaskbarProgress::Attach(HWND hWnd) {
    m_hWnd = hWnd;
    ITaskbarList3* pTaskbar = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                   reinterpret_cast<void**>(&pTaskbar)))) {
        m_pTaskbar.Reset(pTaskbar);
        if (FAILED(m_pTaskbar.Get()->HrInit())) {
            m_pTaskbar.Close();
        }
    }
}

void CRQTaskbarProgress::SetRange(int nHigh) {
    m_nHigh = nHigh > 0 ? nHigh : 1;
    Show();
}

void CRQTaskbarProgress::SetPos(int nPos) {
    m_nPos = nPos;
    Show();
}

void CRQTaskbarProgress::Show() {
    if (!m_pTaskbar) {
        return;
    }
    int nPos = m_nPos < 0 ? 0 : (m_nPos > m_nHigh ? m_nHigh : m_nPos);
    m_pTaskbar.Get()->SetProgressState(m_hWnd, TBPF_NORMAL);
    m_pTaskbar.Get()->SetProgressValue(m_hWnd, static_cast<ULONGLONG>(nPos), static_cast<ULONGLONG>(m_nHigh));
}

void CRQTaskbarProgress::SetError() {
    if (m_pTaskbar) {
        m_pTaskbar.Get()->SetProgressState(m_hWnd, TBPF_ERROR);
    }
}
