// TEMPORARY stand-in (see standin/README): the real header plus ReadCodeTables.
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
    static bool ReadCodeTables(CRQLuaTable* pLuaTable, std::map<std::wstring, CODE_INFO>& mapCodeInfo,
                               std::map<std::wstring, CODE_INFO>& mapDeleteInfo);

private:
    int m_nNation = 0;
};
