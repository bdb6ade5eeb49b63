// TEMPORARY stand-in (see standin/README).
#pragma once

#include <cstdint>
#include <string>

struct lua_State;

class CRQLuaTable {
public:
    CRQLuaTable();
    ~CRQLuaTable();
    CRQLuaTable(const CRQLuaTable&) = delete;
    CRQLuaTable& operator=(const CRQLuaTable&) = delete;
    bool DoFile(const wchar_t* pszFileName);
    bool OpenTable(const char* pszName);
    bool OpenTable(int32_t nIndex);
    bool CloseTable();
    bool GetData(int32_t nIndex, uint32_t& dwOut);
    bool GetData(int32_t nIndex, uint64_t& ullOut);
    bool GetData(int32_t nIndex, std::wstring& strOut, bool bUTF8);

private:
    lua_State* m_pLuaState = nullptr;
    int m_nDepth = 0;
};
