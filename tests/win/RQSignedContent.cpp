#include "RQSignedContent.h"

#include <array>

#include "RQUiProbe.h"
#include "baselib/RQBLSha256.h"
#include "baselib/RQBLStreamCrc.h"
#include "patch/RQScriptSignature.h"
#include "patch/RQSecretKeyFile.h"
#include "tools/mkpatch/RQSecretKeyStore.h"

namespace rqtest {

std::string MakeHashedPatchScript(const std::vector<CPatchEntry>& entries) {
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

std::string SignScript(const std::string& strScript, const wchar_t* pszKeyName, uint64_t ullRelease,
                       const std::string& strExpires) {
    RQ_SECRET_KEY secret{};
    std::wstring strError;
    if (!RQReadSecretKey(rqui::ProgramFolder() + L"\\keys\\" + pszKeyName + L".key", secret, strError)) {
        return std::string();
    }
    RQ_SCRIPT_SIGNATURE sig;
    sig.ullRelease = ullRelease;
    sig.strExpires = strExpires;
    if (!RQSignScript(strScript, secret, sig)) {
        return std::string();
    }
    return RQFormatScriptSignature(sig);
}

std::string ForgeSameCrc(const std::string& strBody) {
    // The reflected CRC-32 over the last four bytes is a bijection of the
    // register: run it backwards from the wanted value, and the bytes are what
    // the register before them must be crossed with.
    std::array<uint32_t, 256> table{};
    std::array<uint8_t, 256> byTop{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1u) != 0 ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        }
        table[n] = c;
        byTop[c >> 24] = static_cast<uint8_t>(n);
    }
    std::string strForged = strBody;
    strForged[0] = static_cast<char>(strForged[0] ^ 0x5A);  // other bytes
    const size_t nPrefix = strForged.size() - 4;
    const uint32_t dwPrefixState = ~CRQBLStreamCrc::Of(strForged.data(), nPrefix);
    uint32_t dwState = ~CRQBLStreamCrc::Of(strBody.data(), strBody.size());
    for (int i = 0; i < 4; ++i) {
        uint8_t k = byTop[dwState >> 24];
        dwState = ((dwState ^ table[k]) << 8) | k;
    }
    const uint32_t dwBytes = dwState ^ dwPrefixState;
    for (int i = 0; i < 4; ++i) {
        strForged[nPrefix + i] = static_cast<char>((dwBytes >> (8 * i)) & 0xFF);
    }
    return strForged;
}

}  // namespace rqtest
