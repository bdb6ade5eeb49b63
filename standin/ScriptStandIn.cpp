// TEMPORARY stand-in (see standin/README).
#include <fstream>
#include <iterator>
#include <vector>

#include "baselib/RQBLCrc32.h"
#include "baselib/RQBLMain.h"
#include "baselib/RQBLPlatform.h"
#include "baselib/RQBLStreamCrc.h"
#include "script/RQLuaTable.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

bool CRQBLCrc32::GetFileCrc(const wchar_t* pszPath, uint32_t& dwCrc) {
    std::string strName;
    dwCrc = 0xFFFFFFFFu;
#ifdef _WIN32
    std::ifstream in(pszPath, std::ios::binary);
#else
    rqbl::WideToFileName(pszPath, strName);
    std::ifstream in(strName, std::ios::binary);
#endif
    if (!in) {
        return false;
    }
    std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    dwCrc = CRQBLStreamCrc::Of(data.data(), data.size());
    return true;
}

CRQLuaTable::CRQLuaTable() : m_pLuaState(luaL_newstate()) {
    luaL_openlibs(m_pLuaState);
}
CRQLuaTable::~CRQLuaTable() {
    lua_close(m_pLuaState);
}
bool CRQLuaTable::DoFile(const wchar_t* pszFileName) {
    std::string strName;
    rqbl::WideToFileName(pszFileName, strName);
    return luaL_loadfile(m_pLuaState, strName.c_str()) == 0 && lua_pcall(m_pLuaState, 0, 0, 0) == 0;
}
bool CRQLuaTable::OpenTable(const char* pszName) {
    lua_getfield(m_pLuaState, m_nDepth == 0 ? LUA_GLOBALSINDEX : -1, pszName);
    if (lua_type(m_pLuaState, -1) != LUA_TTABLE) {
        lua_settop(m_pLuaState, -2);
        return false;
    }
    ++m_nDepth;
    return true;
}
bool CRQLuaTable::OpenTable(int32_t nIndex) {
    lua_pushnumber(m_pLuaState, nIndex);
    lua_gettable(m_pLuaState, -2);
    if (lua_type(m_pLuaState, -1) != LUA_TTABLE) {
        lua_settop(m_pLuaState, -2);
        return false;
    }
    ++m_nDepth;
    return true;
}
bool CRQLuaTable::CloseTable() {
    lua_settop(m_pLuaState, -2);
    --m_nDepth;
    return true;
}
bool CRQLuaTable::GetData(int32_t nIndex, uint32_t& dwOut) {
    uint64_t v = 0;
    bool b = GetData(nIndex, v);
    dwOut = static_cast<uint32_t>(v);
    return b;
}
bool CRQLuaTable::GetData(int32_t nIndex, uint64_t& ullOut) {
    lua_pushnumber(m_pLuaState, nIndex);
    lua_gettable(m_pLuaState, -2);
    bool b = lua_isnumber(m_pLuaState, -1) != 0;
    if (b) {
        ullOut = static_cast<uint64_t>(lua_tonumber(m_pLuaState, -1));
    }
    lua_settop(m_pLuaState, -2);
    return b;
}
bool CRQLuaTable::GetData(int32_t nIndex, std::wstring& strOut, bool) {
    lua_pushnumber(m_pLuaState, nIndex);
    lua_gettable(m_pLuaState, -2);
    size_t n = 0;
    const char* p = lua_isstring(m_pLuaState, -1) ? lua_tolstring(m_pLuaState, -1, &n) : nullptr;
    if (p != nullptr) {
        strOut = rqbl::AnsiToWide(p, n);
    }
    lua_settop(m_pLuaState, -2);
    return p != nullptr;
}

bool CRQBLMain::ReadCodeTables(CRQLuaTable* pLuaTable, std::map<std::wstring, CODE_INFO>& mapCodeInfo,
                               std::map<std::wstring, CODE_INFO>& mapDeleteInfo) {
    if (!pLuaTable->OpenTable("CODE_TABLE")) {
        return false;
    }
    for (int32_t i = 1; pLuaTable->OpenTable(i); ++i) {
        CODE_INFO info;
        pLuaTable->GetData(1, info.strPath, false);
        pLuaTable->GetData(2, info.strFileName, false);
        pLuaTable->GetData(3, info.dwCRC);
        pLuaTable->GetData(5, info.ullFileSize);
        mapCodeInfo.emplace(info.strFileName, info);
        pLuaTable->CloseTable();
    }
    pLuaTable->CloseTable();
    (void)mapDeleteInfo;
    return true;
}
