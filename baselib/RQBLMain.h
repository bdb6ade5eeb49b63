// The base library's process-wide runtime object.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "baselib/RQBLCodeInfo.h"
#include "baselib/RQBLSingleton.h"

class CRQLuaTable;

class CRQBLMain : public CRQBLSingleton<CRQBLMain> {
public:
    CRQBLMain();
    virtual ~CRQBLMain();
    CRQBLMain(const CRQBLMain&) = delete;
    CRQBLMain& operator=(const CRQBLMain&) = delete;

    std::wstring GetNationName() const;

    // Reads CODE_TABLE and DELETE_CODE_TABLE of a script that has run
    // (baselib/RQBLMainCodeTables.cpp). False when there is no CODE_TABLE.
    // Uses none of the object's state.
    static bool ReadCodeTables(CRQLuaTable* pLuaTable, std::map<std::wstring, CODE_INFO>& mapCodeInfo,
                               std::map<std::wstring, CODE_INFO>& mapDeleteInfo);

private:
    int m_nNation = 0;
};
