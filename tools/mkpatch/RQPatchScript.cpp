#include "tools/mkpatch/RQPatchScript.h"

#include <cstdio>

namespace {

// Every byte outside printable ASCII, and the quote and backslash, become
// three-digit decimal escapes. This matters for CP932, whose second bytes
// can be 0x5C: written raw, Lua would read them as escapes.
void AppendLuaString(std::string& strOut, const std::string& strBytes) {
    strOut.push_back('"');
    for (unsigned char c : strBytes) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            strOut.push_back(static_cast<char>(c));
        } else {
            char szEscape[5];
            std::snprintf(szEscape, sizeof(szEscape), "\\%03u", static_cast<unsigned>(c));
            strOut += szEscape;
        }
    }
    strOut.push_back('"');
}

bool AppendEntry(std::string& strOut, const char* pszFunction, const RQPatchFile& file, bool bWithNumbers,
                 RQPatchEncoding encoding, std::wstring& strError) {
    std::string strPath;
    std::string strName;
    if (!RQEncodePatchText(file.strPath, encoding, strPath) ||
        !RQEncodePatchText(file.strFileName, encoding, strName)) {
        strError = L"cannot be written in the script's encoding: " + file.strPath + file.strFileName;
        return false;
    }
    strOut += pszFunction;
    strOut.push_back('(');
    AppendLuaString(strOut, strPath);
    strOut.push_back(',');
    AppendLuaString(strOut, strName);
    if (bWithNumbers) {
        strOut += "," + std::to_string(file.dwCRC) + "," + std::to_string(file.ullFileSize);
        if (!file.strSha256.empty()) {
            strOut += ",\"" + file.strSha256 + "\"";
        }
        if (!file.strDeltaIndex.empty()) {
            strOut += std::string(file.strSha256.empty() ? ",nil" : "") + ",\"" + file.strDeltaIndex + "\"";
        }
    }
    strOut += ")\n";
    return true;
}

// Each chunk is a function of its own, called at once. Written as a local in
// a do-block: a line starting with "(function" after a call is ambiguous
// syntax in Lua 5.1, and one local per chunk at the top level would hit the
// limit of 200 locals in a function.
bool AppendChunks(std::string& strOut, const char* pszFunction, const std::vector<RQPatchFile>& vecEntries,
                  bool bWithNumbers, RQPatchEncoding encoding, std::wstring& strError) {
    for (size_t i = 0; i < vecEntries.size(); ++i) {
        if (i % kPatchEntriesPerChunk == 0) {
            strOut += "do local function chunk()\n";
        }
        if (!AppendEntry(strOut, pszFunction, vecEntries[i], bWithNumbers, encoding, strError)) {
            return false;
        }
        if (i % kPatchEntriesPerChunk == kPatchEntriesPerChunk - 1 || i + 1 == vecEntries.size()) {
            strOut += "end chunk() end\n";
        }
    }
    return true;
}

}  // namespace

RQPatchFile RQSplitRelativePath(const std::wstring& strRelativePath) {
    RQPatchFile file;
    size_t nSlash = strRelativePath.find_last_of(L'/');
    if (nSlash == std::wstring::npos) {
        file.strFileName = strRelativePath;
    } else {
        file.strPath = strRelativePath.substr(0, nSlash + 1);
        file.strFileName = strRelativePath.substr(nSlash + 1);
    }
    return file;
}

bool RQWritePatchScript(const std::vector<RQPatchFile>& vecFiles,
                        const std::vector<RQPatchFile>& vecDeletions, RQPatchEncoding encoding,
                        std::string& strScript, std::wstring& strError) {
    std::string strOut;
    strOut.reserve(vecFiles.size() * 64 + 1024);
    strOut +=
        "-- PATCHER_CODE.LUA, written by mkpatch: every file of the game folder with its\n"
        "-- CRC-32, size, SHA-256 and the SHA-256 of its chunk index (a delta release).\n"
        "-- Each entry is { folder, name, crc, 0, size, [13] = sha256, [14] = index }.\n"
        "CODE_TABLE = {}\n"
        "DELETE_CODE_TABLE = {}\n"
        "local function F(p, n, c, s, h, x) CODE_TABLE[#CODE_TABLE + 1] = { p, n, c, 0, s, [13] = h, [14] = "
        "x } "
        "end\n"
        "local function D(p, n) DELETE_CODE_TABLE[#DELETE_CODE_TABLE + 1] = { p, n, 0 } end\n";
    if (!AppendChunks(strOut, "F", vecFiles, true, encoding, strError) ||
        !AppendChunks(strOut, "D", vecDeletions, false, encoding, strError)) {
        return false;
    }
    strScript.swap(strOut);
    return true;
}
