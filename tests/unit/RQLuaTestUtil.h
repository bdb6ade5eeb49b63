// Helpers for tests of the script host: scripts in a temporary folder and the
// host's log lines.
#pragma once

#include "script/RQLuaApi.h"

#include <string>
#include <utility>
#include <vector>

#include "RQTestTempDir.h"
#include "baselib/log/RQBLLogSink.h"
#include "script/RQLuaTable.h"

// Collects the host's log lines (trace number, text): hand it to the host as
// its log.
class RQLogCapture : public CRQBLLogSink {
public:
    RQLogCapture() = default;
    RQLogCapture(const RQLogCapture&) = delete;
    RQLogCapture& operator=(const RQLogCapture&) = delete;

    void TraceLine(const wchar_t* /*pszTag*/, int /*nLevel*/, const wchar_t* pszText) override {
        // "<trace number> <text>"
        const std::wstring strLine = pszText;
        const size_t nSpace = strLine.find(L' ');
        m_lines.emplace_back(std::stoi(strLine.substr(0, nSpace)),
                             nSpace == std::wstring::npos ? std::wstring() : strLine.substr(nSpace + 1));
    }

    std::vector<std::pair<int, std::wstring>> m_lines;

    std::wstring AllText() const {
        std::wstring s;
        for (const auto& line : m_lines) {
            s += line.second;
        }
        return s;
    }
};

// Writes the script to a file in the current (temporary) folder and runs it.
inline bool RunScript(CRQLuaTable& table, const std::string& strScript, const char* pszName = "test.lua") {
    RQTestTempDir::WriteAll(pszName, strScript);
    std::wstring strName(pszName, pszName + std::char_traits<char>::length(pszName));
    return table.DoFile(strName.c_str());
}

// A global of the script as text, read directly from the state ("" when absent).
inline std::string GlobalText(const CRQLuaTable& table, const char* pszName) {
    lua_State* L = table.GetLuaState();
    lua_getglobal(L, pszName);
    const char* psz = lua_tostring(L, -1);
    std::string s = psz != nullptr ? psz : "";
    lua_pop(L, 1);
    return s;
}

// Limits small enough that tests of runaway scripts end quickly.
inline RQLuaLimits SmallLimits() {
    RQLuaLimits limits = RQLuaLimits::Default();
    limits.nMemoryCap = size_t{16} << 20;
    limits.nInstructionBudget = 5000000;
    limits.nAlertInstructionBudget = 1000000;
    return limits;
}
