#include "tools/mkpatch/RQSecretKeyStore.h"

#include <fstream>

#include "baselib/RQBLEd25519.h"
#include "patch/RQSecretKeyFile.h"
#include "tools/mkpatch/RQOwnerOnlyFile.h"
#include "tools/mkpatch/RQPatchScan.h"

namespace {

// Clears a string that held secret material before it is freed.
struct WipedString {
    std::string str;
    ~WipedString() { RQBLWipe(str.data(), str.size()); }
};

}  // namespace

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
