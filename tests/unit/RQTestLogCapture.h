// A log sink that records the lines traced into it (tag, level, "<number>
// <text>"); hand it to the code under test in place of the launcher's log.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "baselib/log/RQBLLogSink.h"

struct RQTestLogLine {
    std::wstring strTag;
    int nLevel = 0;
    std::wstring strText;
    bool operator==(const RQTestLogLine& o) const {
        return strTag == o.strTag && nLevel == o.nLevel && strText == o.strText;
    }
};

class RQTestLogCapture : public CRQBLLogSink {
public:
    RQTestLogCapture() = default;
    RQTestLogCapture(const RQTestLogCapture&) = delete;
    RQTestLogCapture& operator=(const RQTestLogCapture&) = delete;

    void TraceLine(const wchar_t* pszTag, int nLevel, const wchar_t* pszText) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.push_back({pszTag != nullptr ? pszTag : L"", nLevel, pszText != nullptr ? pszText : L""});
    }

    std::vector<RQTestLogLine> Lines() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    // The texts of the lines with this tag, in order.
    std::vector<std::wstring> Texts(const std::wstring& strTag) const {
        std::vector<std::wstring> v;
        for (const RQTestLogLine& line : Lines()) {
            if (line.strTag == strTag) {
                v.push_back(line.strText);
            }
        }
        return v;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<RQTestLogLine> m_lines;
};
