// What the update worker's tests drive it with: a link that records the
// messages and boxes instead of showing them, and the worker with its tick
// exposed.
#pragma once

#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "launcher/update/RQLauncherLink.h"
#include "launcher/update/RQLauncherThread.h"

namespace rqtest {

struct CLinkEvent {
    enum Kind { MESSAGE, BOX } kind = MESSAGE;
    uint32_t nMessage = 0;
    uint64_t wParam = 0;
    int64_t lParam = 0;
    std::wstring strText;
};

// Shared between the link (owned by the worker) and the test.
struct CLinkRecord {
    mutable std::mutex mutex;
    std::vector<CLinkEvent> vecEvents;
    std::vector<std::wstring> vecStatuses;
    std::function<void(const CLinkEvent&)> onEvent;  // runs on the worker's thread

    std::vector<std::wstring> Statuses() const {
        std::lock_guard<std::mutex> lock(mutex);
        return vecStatuses;
    }
    std::vector<CLinkEvent> Events() const {
        std::lock_guard<std::mutex> lock(mutex);
        return vecEvents;
    }
    std::vector<uint32_t> Messages() const {
        std::vector<uint32_t> v;
        for (const CLinkEvent& e : Events()) {
            if (e.kind == CLinkEvent::MESSAGE) {
                v.push_back(e.nMessage);
            }
        }
        return v;
    }
    // (wParam, lParam) of every message of that number.
    std::vector<std::pair<uint64_t, int64_t>> Params(uint32_t nMessage) const {
        std::vector<std::pair<uint64_t, int64_t>> v;
        for (const CLinkEvent& e : Events()) {
            if (e.kind == CLinkEvent::MESSAGE && e.nMessage == nMessage) {
                v.emplace_back(e.wParam, e.lParam);
            }
        }
        return v;
    }
    std::vector<std::wstring> Boxes() const {
        std::vector<std::wstring> v;
        for (const CLinkEvent& e : Events()) {
            if (e.kind == CLinkEvent::BOX) {
                v.push_back(e.strText);
            }
        }
        return v;
    }
};

class CRecordingLink : public CRQLauncherLink {
public:
    explicit CRecordingLink(std::shared_ptr<CLinkRecord> pRecord) : m_pRecord(std::move(pRecord)) {}
    void SendToMainWindow(uint32_t nMessage, uint64_t wParam, int64_t lParam) override {
        CLinkEvent e;
        e.kind = CLinkEvent::MESSAGE;
        e.nMessage = nMessage;
        e.wParam = wParam;
        e.lParam = lParam;
        Add(e);
    }
    void ShowMessageBox(const std::wstring& strText) override {
        CLinkEvent e;
        e.kind = CLinkEvent::BOX;
        e.strText = strText;
        Add(e);
    }
    // Kept apart from the events: how often it comes is a matter of time.
    void ShowStatus(const std::wstring& strText) override {
        std::lock_guard<std::mutex> lock(m_pRecord->mutex);
        m_pRecord->vecStatuses.push_back(strText);
    }

private:
    void Add(const CLinkEvent& e) {
        {
            std::lock_guard<std::mutex> lock(m_pRecord->mutex);
            m_pRecord->vecEvents.push_back(e);
        }
        if (m_pRecord->onEvent) {
            m_pRecord->onEvent(e);
        }
    }
    std::shared_ptr<CLinkRecord> m_pRecord;
};

// The worker with its tick and its stop flag within the test's reach.
class CTestWorker : public CRQLauncherThread {
public:
    using CRQLauncherThread::CRQLauncherThread;
    void Tick() { ThreadLoop(0.0f); }
    void RequestStop() { m_nStopRequested = 1; }
    bool IsStopRequested() const { return m_nStopRequested.load() != 0; }
};

}  // namespace rqtest
