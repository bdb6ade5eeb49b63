#include "patch/RQPatchManifest.h"

#include "baselib/log/RQBLLogTraceNum.h"
#include "script/RQLuaTable.h"

namespace {

// Slots 1 to 14 in order; a slot that is missing or of the wrong type leaves
// its field at the default.
void ReadPatchEntry(CRQLuaTable& table, CODE_INFO& info) {
    table.GetData(1, info.strPath, false);
    table.GetData(2, info.strFileName, false);
    table.GetData(3, info.dwCRC);
    table.GetData(4, info.nValue4);
    table.GetData(5, info.ullFileSize);
    table.GetData(6, info.ullValue6);
    table.GetData(7, info.nValue7);
    table.GetData(8, info.nValue8);
    table.GetData(9, info.bValue9);
    table.GetData(10, info.dwValue10);
    table.GetData(11, info.bValue11);
    table.GetData(12, info.bValue12);
    table.GetData(13, info.strSHA256, false);
    table.GetData(14, info.strDeltaIndex, false);
}

void ReadDeleteEntry(CRQLuaTable& table, CODE_INFO& info) {
    table.GetData(1, info.strPath, false);
    table.GetData(2, info.strFileName, false);
    table.GetData(3, info.dwCRC);
}

}  // namespace

bool RQReadCodeTables(CRQLuaTable* pLuaTable, std::map<std::wstring, CODE_INFO>& mapCodeInfo,
                      std::map<std::wstring, CODE_INFO>& mapDeleteInfo, CRQBLLogSink& log,
                      size_t nMaxEntries) {
    if (pLuaTable == nullptr || !pLuaTable->OpenTable("CODE_TABLE")) {
        return false;
    }
    // The walk stops at the first key that holds no table: entries after a gap
    // are not read. The first entry of a file name wins, whatever its folder.
    for (int32_t i = 1; pLuaTable->OpenTable(i); ++i) {
        if (static_cast<size_t>(i) > nMaxEntries) {
            pLuaTable->CloseTable();
            pLuaTable->CloseTable();
            mapCodeInfo.clear();
            RQ_LOG(log, L"CRQBLMain::ReadCodeTables", RQ_LOG_ERR)
                .Trace(130011, L"CODE_TABLE has more than %u entries", static_cast<unsigned>(nMaxEntries));
            return false;
        }
        CODE_INFO info;
        ReadPatchEntry(*pLuaTable, info);
        mapCodeInfo.emplace(info.strFileName, info);
        pLuaTable->CloseTable();
    }
    pLuaTable->CloseTable();

    if (!pLuaTable->OpenTable("DELETE_CODE_TABLE")) {
        return true;  // a script without a deletion list is complete
    }
    for (int32_t i = 1; pLuaTable->OpenTable(i); ++i) {
        CODE_INFO info;
        ReadDeleteEntry(*pLuaTable, info);
        mapDeleteInfo.emplace(info.strPath + info.strFileName, info);
        pLuaTable->CloseTable();
    }
    pLuaTable->CloseTable();
    return true;
}
