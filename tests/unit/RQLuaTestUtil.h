// Helpers for tests of the script host: scripts in a temporary folder and the
// host's log lines.
#pragma once

#include "script/RQLuaApi.h"

#include <string>
#include <utility>
#include <vector>

#include "RQTestTempDir.h"
#include "script/RQLuaLog.h"
#include "script/RQLuaTable.h"

// Collects the host's log lines while it exists.
class RQLogCapture {
public:
    RQLogCapture() { rqlua::SetLogObserver(&RQLogCapture::OnLine, this); }
    ~RQLogCapture() { rqlua::SetLogObserver(nullptr, nullptr); }
    RQLogCapture(const RQLogCapture&) = delete;
    RQLogCapture& operator=(const RQLogCapture&) = delete;

    std::vector<std::pair<int, std::wstring>> m_lines;

    std::wstring AllText() const {
        std::wstring s;
        for (const auto& line : m_lines) {
            s += line.second;
        }
        return s;
    }

private:
    static void OnLine(void* pContext, int nTraceNum, const std::wstring& strText) {
        static_cast<RQLogCapture*>(pContext)->m_lines.emplace_back(nTraceNum, strText);
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
