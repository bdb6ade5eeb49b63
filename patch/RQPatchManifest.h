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

// More entries than this are not a game's file list: the script is refused
// like one that cannot be run.
inline constexpr size_t RQ_MAX_CODE_ENTRIES = 500000;
// The largest script the launcher takes: what that many entries need, written
// as mkpatch writes them (about 150 bytes each with a folder, a long name and
// the SHA-256), with room to spare for long Japanese names in escapes.
inline constexpr uint64_t RQ_SCRIPT_MAX_BYTES = uint64_t{RQ_MAX_CODE_ENTRIES} * 256;

// How strictly the entries are read.
struct RQ_MANIFEST_RULES {
    size_t nMaxEntries = SIZE_MAX;
    // Every CODE_TABLE entry must carry its SHA-256 in slot 13, as a Lua string
    // of 64 hexadecimal digits: a launcher with keys runs nothing it cannot
    // check against the signed hash.
    bool bRequireSha256 = false;
};

enum class RQManifestRead {
    OK,
    NO_CODE_TABLE,
    TOO_MANY_ENTRIES,  // logged into the log given
    SHA256_MISSING,    // an entry without a valid slot 13 where one is required
};

// Fills the maps, keyed by file name and by relative path, in the tables'
// order; the first entry of a key wins. Anything but OK leaves mapCodeInfo
// empty; for SHA256_MISSING, strBadEntry names the entry (folder and name).
RQManifestRead RQReadManifest(CRQLuaTable& luaTable, std::map<std::wstring, CODE_INFO>& mapCodeInfo,
                              std::map<std::wstring, CODE_INFO>& mapDeleteInfo, CRQBLLogSink& log,
                              const RQ_MANIFEST_RULES& rules, std::wstring& strBadEntry);

// RQReadManifest without the strong hash rule: false when there is no
// CODE_TABLE, or when it has more than nMaxEntries entries (logged into log).
bool RQReadCodeTables(CRQLuaTable* pLuaTable, std::map<std::wstring, CODE_INFO>& mapCodeInfo,
                      std::map<std::wstring, CODE_INFO>& mapDeleteInfo, CRQBLLogSink& log,
                      size_t nMaxEntries = SIZE_MAX);
