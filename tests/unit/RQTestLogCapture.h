// Records the lines traced while it lives (tag, level, "<number> <text>").
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "baselib/log/RQBLLogTraceNum.h"

struct RQTestLogLine {
    std::wstring strTag;
    int nLevel = 0;
    std::wstring strText;
    bool operator==(const RQTestLogLine& o) const {
        return strTag == o.strTag && nLevel == o.nLevel && strText == o.strText;
    }
};

class RQTestLogCapture {
public:
    RQTestLogCapture() {
        Clear();
        CRQBLLogTraceNum::SetTraceHook(&Hook);
    }
    ~RQTestLogCapture() { CRQBLLogTraceNum::SetTraceHook(nullptr); }
    RQTestLogCapture(const RQTestLogCapture&) = delete;
    RQTestLogCapture& operator=(const RQTestLogCapture&) = delete;

    std::vector<RQTestLogLine> Lines() const {
        std::lock_guard<std::mutex> lock(Mutex());
        return Store();
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
        std::lock_guard<std::mutex> lock(Mutex());
        Store().clear();
    }

private:
    static std::mutex& Mutex() {
        static std::mutex s_mutex;
        return s_mutex;
    }
    static std::vector<RQTestLogLine>& Store() {
        static std::vector<RQTestLogLine> s_lines;
        return s_lines;
    }
    static void Hook(const wchar_t* pszTag, int nLevel, const wchar_t* pszText) {
        std::lock_guard<std::mutex> lock(Mutex());
        Store().push_back({pszTag != nullptr ? pszTag : L"", nLevel, pszText != nullptr ? pszText : L""});
    }
};
