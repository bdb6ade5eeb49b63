// The pattern matcher's check (see lstrlib-match-check.patch): compiled with
// the Lua library itself, which calls it, so it uses nothing of the launcher
// but the sandbox's layout.
#include "script/RQLuaApi.h"
#include "script/RQLuaSandbox.h"

extern "C" void luai_matchcheck(lua_State* pLuaState) {
    // Only the launcher's sandboxed states carry user data with their
    // allocator; states without it run without limits.
    void* pUserData = nullptr;
    lua_getallocf(pLuaState, &pUserData);
    if (pUserData == nullptr) {
        return;
    }
    if (const char* pszReason = rqlua::LimitReached(*static_cast<const RQLuaSandbox*>(pUserData))) {
        luaL_error(pLuaState, "%s", pszReason);
    }
}
