// The patch manifest: CODE_TABLE (the files the game folder must hold) and
// DELETE_CODE_TABLE, read from a patch script that has run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "baselib/log/RQBLLogSink.h"
#include "patch/RQCodeInfo.h"

class CRQLuaTable;

// Fills the maps, keyed by file name and by relative path, in the tables'
// order; the first entry of a key wins. False when there is no CODE_TABLE, or
// when it has more than nMaxEntries entries (logged into log).
bool RQReadCodeTables(CRQLuaTable* pLuaTable, std::map<std::wstring, CODE_INFO>& mapCodeInfo,
                      std::map<std::wstring, CODE_INFO>& mapDeleteInfo, CRQBLLogSink& log,
                      size_t nMaxEntries = SIZE_MAX);
