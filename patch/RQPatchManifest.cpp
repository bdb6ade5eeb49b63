#include "patch/RQPatchManifest.h"

#include "baselib/RQBLSha256.h"
#include "baselib/log/RQBLLogTraceNum.h"
#include "script/RQLuaTable.h"

namespace {

// Slot 13 under the strong hash rule: a string, and a SHA-256 in hex. A
// number there is refused, not turned into text: what the script's author
// meant cannot be guessed, and a launcher with keys must not guess.
bool ReadRequiredSha256(CRQLuaTable& table, std::wstring& strOut) {
    std::string strBytes;
    RQ_SHA256 digest{};
    if (!table.GetString(13, strBytes) || !RQBLParseSha256Hex(strBytes, digest)) {
        return false;
    }
    strOut.assign(strBytes.begin(), strBytes.end());  // ASCII, checked above
    return true;
}

// Slots 1 to 14 in order; a slot that is missing or of the wrong type leaves
// its field at the default, except where the rules require it (false then).
bool ReadPatchEntry(CRQLuaTable& table, const RQ_MANIFEST_RULES& rules, CODE_INFO& info) {
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
    // A malformed index hash only means no delta update: it is checked where
    // it is used, and a signed script covers it either way.
    table.GetData(14, info.strDeltaIndex, false);
    if (rules.bRequireSha256) {
        return ReadRequiredSha256(table, info.strSHA256);
    }
    table.GetData(13, info.strSHA256, false);
    return true;
}

void ReadDeleteEntry(CRQLuaTable& table, CODE_INFO& info) {
    table.GetData(1, info.strPath, false);
    table.GetData(2, info.strFileName, false);
    table.GetData(3, info.dwCRC);
}

}  // namespace

RQManifestRead RQReadManifest(CRQLuaTable& luaTable, std::map<std::wstring, CODE_INFO>& mapCodeInfo,
                              std::map<std::wstring, CODE_INFO>& mapDeleteInfo, CRQBLLogSink& log,
                              const RQ_MANIFEST_RULES& rules, std::wstring& strBadEntry) {
    if (!luaTable.OpenTable("CODE_TABLE")) {
        return RQManifestRead::NO_CODE_TABLE;
    }
    // The walk stops at the first key that holds no table: entries after a gap
    // are not read. The first entry of a file name wins, whatever its folder.
    for (int32_t i = 1; luaTable.OpenTable(i); ++i) {
        if (static_cast<size_t>(i) > rules.nMaxEntries) {
            luaTable.CloseTable();
            luaTable.CloseTable();
            mapCodeInfo.clear();
            RQ_LOG(log, L"CRQBLMain::ReadCodeTables", RQ_LOG_ERR)
                .Trace(130011, L"CODE_TABLE has more than %u entries",
                       static_cast<unsigned>(rules.nMaxEntries));
            return RQManifestRead::TOO_MANY_ENTRIES;
        }
        CODE_INFO info;
        const bool bComplete = ReadPatchEntry(luaTable, rules, info);
        luaTable.CloseTable();
        if (!bComplete) {
            luaTable.CloseTable();
            mapCodeInfo.clear();
            strBadEntry = info.strPath + info.strFileName;
            return RQManifestRead::SHA256_MISSING;
        }
        mapCodeInfo.emplace(info.strFileName, info);
    }
    luaTable.CloseTable();

    if (!luaTable.OpenTable("DELETE_CODE_TABLE")) {
        return RQManifestRead::OK;  // a script without a deletion list is complete
    }
    for (int32_t i = 1; luaTable.OpenTable(i); ++i) {
        CODE_INFO info;
        ReadDeleteEntry(luaTable, info);
        mapDeleteInfo.emplace(info.strPath + info.strFileName, info);
        luaTable.CloseTable();
    }
    luaTable.CloseTable();
    return RQManifestRead::OK;
}

bool RQReadCodeTables(CRQLuaTable* pLuaTable, std::map<std::wstring, CODE_INFO>& mapCodeInfo,
                      std::map<std::wstring, CODE_INFO>& mapDeleteInfo, CRQBLLogSink& log,
                      size_t nMaxEntries) {
    if (pLuaTable == nullptr) {
        return false;
    }
    RQ_MANIFEST_RULES rules;
    rules.nMaxEntries = nMaxEntries;
    std::wstring strBadEntry;
    return RQReadManifest(*pLuaTable, mapCodeInfo, mapDeleteInfo, log, rules, strBadEntry) ==
           RQManifestRead::OK;
}
