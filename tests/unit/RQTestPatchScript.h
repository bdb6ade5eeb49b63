// Patch scripts for tests: CODE_TABLE entries whose size and CRC-32 are those
// of the given bodies.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "baselib/RQBLSha256.h"
#include "baselib/RQBLStreamCrc.h"

namespace rqtest {

struct CPatchEntry {
    std::string strPath;  // folder prefix as the script writes it ("data/", "" ...)
    std::string strName;
    std::string strBody;  // the content the entry describes
};

// A Lua string literal for any bytes.
inline std::string LuaString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            // Three digits always: "\1" followed by a digit would read as another byte.
            char szEscape[5];
            std::snprintf(szEscape, sizeof(szEscape), "\\%03u", static_cast<unsigned>(c));
            out += szEscape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

inline std::string MakePatchScript(const std::vector<CPatchEntry>& entries) {
    std::string s = "CODE_TABLE = {\n";
    for (const CPatchEntry& e : entries) {
        uint32_t dwCrc = CRQBLStreamCrc::Of(e.strBody.data(), e.strBody.size());
        s += "  { " + LuaString(e.strPath) + ", " + LuaString(e.strName) + ", " + std::to_string(dwCrc) +
             ", 0, " + std::to_string(e.strBody.size()) + ", 0, 0, 0, 1, 0, 0, 0 },\n";
    }
    return s + "}\nDELETE_CODE_TABLE = {}\n";
}

// CODE_TABLE with slot 13 (SHA-256 in hex) for every entry, as a launcher
// with keys needs it.
inline std::string MakeHashedPatchScript(const std::vector<CPatchEntry>& entries) {
    std::string s = "CODE_TABLE = {\n";
    for (const CPatchEntry& e : entries) {
        uint32_t dwCrc = CRQBLStreamCrc::Of(e.strBody.data(), e.strBody.size());
        RQ_SHA256 digest{};
        CRQBLSha256::Of(e.strBody.data(), e.strBody.size(), digest);
        s += "  { " + LuaString(e.strPath) + ", " + LuaString(e.strName) + ", " + std::to_string(dwCrc) +
             ", 0, " + std::to_string(e.strBody.size()) + ", 0, 0, 0, 1, 0, 0, 0, \"" +
             RQBLSha256Hex(digest) + "\" },\n";
    }
    return s + "}\n";
}

}  // namespace rqtest
