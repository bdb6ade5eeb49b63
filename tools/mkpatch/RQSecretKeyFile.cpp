#include "tools/mkpatch/RQSecretKeyFile.h"

#include <fstream>
#include <iterator>
#include <string_view>

#include "baselib/RQBLHex.h"
#include "launcher/RQScriptSignature.h"
#include "tools/mkpatch/RQOwnerOnlyFile.h"
#include "tools/mkpatch/RQPatchScan.h"

namespace {

constexpr std::string_view kMagicLine = "TOLVANE-SECRET-KEY 1\n";
constexpr std::string_view kSecretPrefix = "secret: ed25519:";
constexpr std::string_view kPublicPrefix = "public: ";

// Clears a string that held secret material before it is freed.
struct WipedString {
    std::string str;
    ~WipedString() { RQBLWipe(str.data(), str.size()); }
};

}  // namespace

std::string RQFormatSecretKey(const RQ_SECRET_KEY& secret, const RQ_PUBLIC_KEY& key) {
    std::string strText(kMagicLine);
    strText += std::string(kSecretPrefix) + RQBLToHex(secret.data(), secret.size()) + "\n";
    strText += std::string(kPublicPrefix) + RQFormatPublicKey(key) + "\n";
    return strText;
}

bool RQParseSecretKey(const std::string& strText, RQ_SECRET_KEY& secret) {
    std::string_view strRest = strText;
    if (strRest.substr(0, kMagicLine.size()) != kMagicLine) {
        return false;
    }
    strRest.remove_prefix(kMagicLine.size());
    if (strRest.substr(0, kSecretPrefix.size()) != kSecretPrefix) {
        return false;
    }
    strRest.remove_prefix(kSecretPrefix.size());
    RQ_SECRET_KEY out{};
    RQ_PUBLIC_KEY stated{};
    RQ_PUBLIC_KEY derived{};
    const bool bOk = strRest.size() > 64 && strRest[64] == '\n' &&
                     RQBLFromHex(strRest.substr(0, 64), out.data(), out.size()) &&
                     strRest.substr(65, kPublicPrefix.size()) == kPublicPrefix &&
                     RQParsePublicKey(strRest.substr(65 + kPublicPrefix.size()), stated) &&
                     RQBLEd25519PublicKey(out, derived) && derived == stated;
    if (bOk) {
        secret = out;
    }
    RQBLWipe(out.data(), out.size());
    return bOk;
}

bool RQWriteNewSecretKey(const std::filesystem::path& file, RQ_PUBLIC_KEY& key, std::wstring& strError) {
    RQ_SECRET_KEY secret{};
    if (!RQBLEd25519NewSecretKey(secret) || !RQBLEd25519PublicKey(secret, key)) {
        strError = L"no random numbers for a new key";
        return false;
    }
    WipedString text{RQFormatSecretKey(secret, key)};
    RQBLWipe(secret.data(), secret.size());
    switch (RQCreateOwnerOnlyFile(file, text.str)) {
        case RQOwnerOnlyFile::CREATED:
            return true;
        case RQOwnerOnlyFile::EXISTS:
            strError = L"already exists, not overwritten: " + RQRelativePathText(file);
            return false;
        case RQOwnerOnlyFile::FAILED:
            break;
    }
    strError = L"cannot write " + RQRelativePathText(file);
    return false;
}

bool RQReadSecretKey(const std::filesystem::path& file, RQ_SECRET_KEY& secret, std::wstring& strError) {
    std::ifstream in(file, std::ios::binary);
    WipedString text;
    // A key file is about 200 bytes; a larger one is some other file.
    char buffer[1024];
    in.read(buffer, sizeof(buffer));
    text.str.assign(buffer, static_cast<size_t>(in.gcount()));
    RQBLWipe(buffer, sizeof(buffer));
    if (!in.is_open()) {
        strError = L"cannot read the secret key " + RQRelativePathText(file);
        return false;
    }
    if (!RQParseSecretKey(text.str, secret)) {
        strError = L"not a secret key made by mkpatch --keygen: " + RQRelativePathText(file);
        return false;
    }
    return true;
}
