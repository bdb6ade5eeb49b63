#include "script/RQLuaTable.h"

#include <cstring>
#include <string>

#include "baselib/RQBLPlatform.h"
#include "baselib/RQBLUtf8.h"
#include "baselib/log/RQBLWideFormat.h"
#include "script/RQLuaApi.h"
#include "script/RQLuaConvert.h"
#include "script/RQLuaLog.h"
#include "script/RQLuaTinker.h"

// No call made here runs script code or can raise a Lua error that longjmps
// through these frames: reads are raw, limits are off outside DoFile's
// protected calls, and the stack is grown with lua_checkstack before pushes.

CRQLuaTable::CRQLuaTable(CRQBLLogSink& log) : CRQLuaTable(log, RQLuaLimits::Default()) {}

CRQLuaTable::CRQLuaTable(CRQBLLogSink& log, const RQLuaLimits& limits)
    : m_pSandbox(std::make_unique<RQLuaSandbox>()) {
    m_pSandbox->limits = limits;
    m_pSandbox->pLog = &log;
    m_pLuaState = rqlua::NewSandboxState(m_pSandbox.get());
    if (m_pLuaState != nullptr) {
        lua_settop(m_pLuaState, 0);
    }
    m_nTableDepth = 0;
}

CRQLuaTable::~CRQLuaTable() {
    if (m_pLuaState != nullptr) {
        lua_close(m_pLuaState);
        m_pLuaState = nullptr;
    }
    m_nTableDepth = 0;
}

template <typename LoadFn>
bool CRQLuaTable::Run(LoadFn fnLoad) {
    // One deadline for the load, the run and the handler of their error, so
    // that a hostile script cannot take the limit three times over.
    m_pSandbox->nRunDeadlineMs = rqlua::SteadyNowMs() + m_pSandbox->limits.dwTimeLimitMs;
    int nStatus = fnLoad();
    if (nStatus == 0) {
        rqlua::CRQLuaLimitScope limits(m_pLuaState, m_pSandbox->limits.nInstructionBudget);
        nStatus = lua_pcall(m_pLuaState, 0, LUA_MULTRET, 0);
    }
    if (nStatus != 0) {
        // lua_tolstring gives null for an error object that is no string or number.
        const char* pszMessage = lua_tolstring(m_pLuaState, -1, nullptr);
        lua_tinker::print_error(m_pLuaState, "%s",
                                pszMessage != nullptr ? pszMessage : "(error object is not a string)");
        lua_settop(m_pLuaState, -2);
    }
    m_pSandbox->nRunDeadlineMs = 0;
    return nStatus == 0;
}

bool CRQLuaTable::DoFile(const wchar_t* pszFileName) {
    if (m_pLuaState == nullptr || pszFileName == nullptr) {
        return false;
    }
    std::string strName;
    if (!rqbl::WideToFileName(pszFileName, strName) || !lua_checkstack(m_pLuaState, 2)) {
        return false;
    }
    return Run([&] { return rqlua::LoadScriptFile(m_pLuaState, strName.c_str()); });
}

bool CRQLuaTable::DoBuffer(const std::string& strScript, const char* pszChunkName) {
    if (m_pLuaState == nullptr || pszChunkName == nullptr || !lua_checkstack(m_pLuaState, 2)) {
        return false;
    }
    return Run([&] {
        return rqlua::LoadScriptBuffer(m_pLuaState, strScript.data(), strScript.size(), pszChunkName);
    });
}

bool CRQLuaTable::OpenTable(const char* pszName) {
    if (m_pLuaState == nullptr || pszName == nullptr || !lua_checkstack(m_pLuaState, 2)) {
        return false;
    }
    lua_pushstring(m_pLuaState, pszName);
    lua_rawget(m_pLuaState, m_nTableDepth <= 0 ? LUA_GLOBALSINDEX : -2);
    if (lua_type(m_pLuaState, -1) == LUA_TTABLE) {
        ++m_nTableDepth;
        return true;
    }
    lua_settop(m_pLuaState, -2);
    return false;
}

bool CRQLuaTable::OpenTable(int32_t nIndex) {
    if (!PushSlot(nIndex)) {
        return false;
    }
    if (lua_type(m_pLuaState, -1) == LUA_TTABLE) {
        ++m_nTableDepth;
        return true;
    }
    lua_settop(m_pLuaState, -2);
    return false;
}

bool CRQLuaTable::CloseTable() {
    if (m_nTableDepth < 1 || m_pLuaState == nullptr) {
        return false;
    }
    lua_settop(m_pLuaState, -2);
    --m_nTableDepth;
    return true;
}

bool CRQLuaTable::PushSlot(int32_t nIndex) {
    if (m_nTableDepth <= 0 || m_pLuaState == nullptr || !lua_checkstack(m_pLuaState, 1)) {
        return false;
    }
    lua_rawgeti(m_pLuaState, -1, nIndex);
    return true;
}

bool CRQLuaTable::PopNumber(int32_t nIndex, bool bLogWrongType, double& dOut) {
    bool bNumber = lua_isnumber(m_pLuaState, -1) != 0;  // numbers and numeric strings
    if (bNumber) {
        dOut = lua_tonumber(m_pLuaState, -1);
    } else if (bLogWrongType && lua_isstring(m_pLuaState, -1) != 0) {
        rqlua::LogError(m_pSandbox->pLog, L"CRQLuaTable::GetData", __LINE__, 10035,
                        rqbl::Format(L"WrongType %d", nIndex));
    }
    lua_settop(m_pLuaState, -2);
    return bNumber;
}

bool CRQLuaTable::GetData(int32_t nIndex, bool& bOut) {
    double dValue = 0;
    if (!PushSlot(nIndex) || !PopNumber(nIndex, false, dValue)) {
        return false;
    }
    bOut = rqlua::TruncToInt32(dValue) != 0;
    return true;
}

bool CRQLuaTable::GetData(int32_t nIndex, int32_t& nOut) {
    double dValue = 0;
    if (!PushSlot(nIndex) || !PopNumber(nIndex, true, dValue)) {
        return false;
    }
    nOut = rqlua::TruncToInt32(dValue);
    return true;
}

bool CRQLuaTable::GetData(int32_t nIndex, uint32_t& dwOut) {
    double dValue = 0;
    if (!PushSlot(nIndex) || !PopNumber(nIndex, true, dValue)) {
        return false;
    }
    dwOut = rqlua::TruncToUInt32(dValue);
    return true;
}

bool CRQLuaTable::GetData(int32_t nIndex, uint64_t& ullOut) {
    double dValue = 0;
    if (!PushSlot(nIndex) || !PopNumber(nIndex, true, dValue)) {
        return false;
    }
    ullOut = rqlua::TruncToUInt64(dValue);
    return true;
}

bool CRQLuaTable::GetString(int32_t nIndex, std::string& strOut) {
    if (!PushSlot(nIndex)) {
        return false;
    }
    // lua_type, not lua_isstring: a number must not pass for text here.
    const bool bString = lua_type(m_pLuaState, -1) == LUA_TSTRING;
    if (bString) {
        size_t nLen = 0;
        const char* pszText = lua_tolstring(m_pLuaState, -1, &nLen);
        strOut.assign(pszText, nLen);
    }
    lua_settop(m_pLuaState, -2);
    return bString;
}

bool CRQLuaTable::GetData(int32_t nIndex, std::wstring& strOut, bool bUTF8) {
    if (!PushSlot(nIndex)) {
        return false;
    }
    if (lua_isstring(m_pLuaState, -1) == 0) {  // strings and numbers
        lua_settop(m_pLuaState, -2);
        return false;
    }
    // A number becomes its Lua text ("%.14g") in this stack slot only.
    const char* pszText = lua_tolstring(m_pLuaState, -1, nullptr);
    std::string strBytes(pszText, std::strlen(pszText));  // up to the first zero byte
    lua_settop(m_pLuaState, -2);
    strOut = bUTF8 ? RQBLUtf8ToWide(strBytes.data(), strBytes.size())
                   : rqbl::AnsiToWide(strBytes.data(), strBytes.size());
    return true;
}
