// A worker that talks to a window with SendMessage, deleted by the window's
// own thread: the teardown must answer the worker's messages while it waits.
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "baselib/RQBLThread.h"
#include "baselib/win/RQBLWaitPump.h"

namespace {

constexpr UINT kProgressMessage = WM_APP + 1;
std::atomic<int> g_nAnswered{0};

LRESULT CALLBACK CountingWndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    if (nMsg == kProgressMessage) {
        ++g_nAnswered;
        return 1;
    }
    return DefWindowProcW(hWnd, nMsg, wParam, lParam);
}

// A deadlocked teardown would hang the test run: end the process instead.
class CWatchdog {
public:
    explicit CWatchdog(int nSeconds)
        : m_thread([this, nSeconds] {
              std::unique_lock<std::mutex> lock(m_cs);
              if (!m_cv.wait_for(lock, std::chrono::seconds(nSeconds), [this] { return m_bDone; })) {
                  std::fprintf(stderr, "teardown deadlocked\n");
                  std::fflush(stderr);
                  ExitProcess(3);
              }
          }) {}
    ~CWatchdog() {
        {
            std::lock_guard<std::mutex> lock(m_cs);
            m_bDone = true;
        }
        m_cv.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_cs;
    std::condition_variable m_cv;
    bool m_bDone = false;
    std::thread m_thread;
};

CRQBLNullLog g_log;

class CSendingWorker : public CRQBLThread {
public:
    // The window thread that deletes the worker answers sends while it waits.
    CSendingWorker(HWND hWnd, bool bSendInLoop)
        : CRQBLThread(g_log), m_hWnd(hWnd), m_bSendInLoop(bSendInLoop) {
        SetWaitPump(RQBLPumpSentMessages);
    }
    ~CSendingWorker() override { ThreadStop(3000); }

protected:
    bool ThreadLoop(float) override {
        if (m_bSendInLoop) {
            SendMessageW(m_hWnd, kProgressMessage, 0, 0);
        } else {
            Sleep(1);
        }
        return true;
    }
    bool ThreadExit() override {
        SendMessageW(m_hWnd, kProgressMessage, 0, 0);
        return true;
    }

private:
    HWND m_hWnd;
    bool m_bSendInLoop;
};

class ThreadWindowTeardown : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSW wc{};
        wc.lpfnWndProc = CountingWndProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"RQThreadWindowTest";
        RegisterClassW(&wc);
        m_hWnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                                 nullptr);
        ASSERT_NE(m_hWnd, nullptr);
        g_nAnswered = 0;
    }
    void TearDown() override { DestroyWindow(m_hWnd); }

    // Runs this thread's message loop until n messages have been answered.
    static bool PumpUntilAnswered(int n) {
        DWORD dwStart = GetTickCount();
        while (g_nAnswered < n) {
            if (GetTickCount() - dwStart > 10000) {
                return false;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageW(&msg);
            }
        }
        return true;
    }

    HWND m_hWnd = nullptr;
};

}  // namespace

TEST_F(ThreadWindowTeardown, DeletingTheWorkerAnswersItsPendingSend) {
    auto* pWorker = new CSendingWorker(m_hWnd, true);
    ASSERT_TRUE(pWorker->ThreadBegin(-1));
    ASSERT_TRUE(PumpUntilAnswered(5));
    // This thread stops answering: the worker's next send blocks inside its
    // tick, holding the loop lock that the stop needs.
    Sleep(100);
    int nBefore = g_nAnswered;
    {
        CWatchdog watchdog(20);
        delete pWorker;
    }
    // The blocked send of the last tick, then the one from ThreadExit.
    EXPECT_GE(g_nAnswered.load(), nBefore + 2);
}

TEST_F(ThreadWindowTeardown, WaitForTheWorkersEndAnswersSendsFromThreadExit) {
    auto* pWorker = new CSendingWorker(m_hWnd, false);
    ASSERT_TRUE(pWorker->ThreadBegin(-1));
    Sleep(50);
    {
        CWatchdog watchdog(20);
        delete pWorker;
    }
    EXPECT_EQ(g_nAnswered.load(), 1);
}
