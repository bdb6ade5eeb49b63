#include "script/RQLuaTinker.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "baselib/RQBLPlatform.h"
#include "script/RQLuaApi.h"
#include "script/RQLuaLog.h"
#include "script/RQLuaSandbox.h"

namespace {

void LogMessage(lua_State* pLuaState, const char* pszMessage) {
    RQLuaSandbox* pBox = pLuaState != nullptr ? rqlua::SandboxOf(pLuaState) : nullptr;
    rqlua::LogError(pBox != nullptr ? pBox->pLog : nullptr, L"lua_tinker::print_error", __LINE__, 10024,
                    rqbl::AnsiToWide(pszMessage, std::strlen(pszMessage)) + L"\n");
}

}  // namespace

namespace lua_tinker {

void print_error(lua_State* pLuaState, const char* pszFormat, ...) {
    char szMessage[4096];
    va_list args;
    va_start(args, pszFormat);
    int nLen = std::vsnprintf(szMessage, sizeof(szMessage), pszFormat, args);
    va_end(args);
    if (nLen < 0) {
        szMessage[0] = '\0';
    }
    szMessage[sizeof(szMessage) - 1] = '\0';

    // The lookup is raw: a metatable on the globals could otherwise run script
    // code here, outside any protected call.
    if (pLuaState == nullptr || !lua_checkstack(pLuaState, 2)) {
        LogMessage(pLuaState, szMessage);
        return;
    }
    lua_pushstring(pLuaState, "_ALERT");
    lua_rawget(pLuaState, LUA_GLOBALSINDEX);
    if (lua_type(pLuaState, -1) != LUA_TFUNCTION) {
        LogMessage(pLuaState, szMessage);
        lua_settop(pLuaState, -2);
        return;
    }
    lua_pushstring(pLuaState, szMessage);
    int nStatus = 0;
    if (RQLuaSandbox* pBox = rqlua::SandboxOf(pLuaState)) {
        // After a script that ran out of memory, its garbage would leave the
        // handler no room at all.
        if (pBox->nUsed > pBox->limits.nMemoryCap / 2) {
            lua_gc(pLuaState, LUA_GCCOLLECT, 0);
        }
        rqlua::CRQLuaLimitScope limits(pLuaState, pBox->limits.nAlertInstructionBudget);
        nStatus = lua_pcall(pLuaState, 1, 0, 0);
    } else {
        nStatus = lua_pcall(pLuaState, 1, 0, 0);
    }
    if (nStatus != 0) {
        const char* pszAlertError = lua_tostring(pLuaState, -1);
        LogMessage(pLuaState, szMessage);
        LogMessage(pLuaState, pszAlertError != nullptr ? pszAlertError : "(error object is not a string)");
        lua_settop(pLuaState, -2);
    }
}

}  // namespace lua_tinker
