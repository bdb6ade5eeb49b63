#include "RQSignedContent.h"

#include "RQUiProbe.h"
#include "baselib/RQBLSha256.h"
#include "baselib/RQBLStreamCrc.h"
#include "patch/RQScriptSignature.h"
#include "patch/RQSecretKeyFile.h"
#include "tools/mkpatch/RQSecretKeyStore.h"
#include "tools/mkpatch/RQTrustFiles.h"

namespace rqtest {

namespace {

bool ReadTestKey(const wchar_t* pszKeyName, RQ_SECRET_KEY& secret) {
    std::wstring strError;
    return RQReadSecretKey(rqui::ProgramFolder() + L"\\keys\\" + pszKeyName + L".key", secret, strError);
}

}  // namespace

CKeyListUpdate MakeKeyListUpdate(const std::string& strScript, const wchar_t* pszRoot,
                                 const wchar_t* pszRelease, uint64_t ullRelease, int64_t nNow) {
    CKeyListUpdate update;
    RQ_SECRET_KEY root{};
    RQ_SECRET_KEY release{};
    RQ_PUBLIC_KEY releaseKey{};
    if (!ReadTestKey(pszRoot, root) || !ReadTestKey(pszRelease, release) ||
        !RQBLEd25519PublicKey(release, releaseKey)) {
        return update;
    }
    const std::string strDraft =
        "TOLVANE-KEY-LIST 1\nversion: 1\nrelease-step: 100\nrelease-key: " + RQFormatPublicKey(releaseKey) +
        " expires 2099-01-01\n";
    std::wstring strError;
    std::vector<std::wstring> vecNotes;
    RQ_SCRIPT_SIGNATURE sig;
    sig.ullRelease = ullRelease;
    if (!RQMakeKeyList(strDraft, std::string(), root, nNow, update.strKeyList, strError, vecNotes) ||
        !RQSignScript(strScript, release, sig)) {
        return CKeyListUpdate();
    }
    update.strSignature = RQFormatScriptSignature(sig);
    if (!RQMakeTimestamp(strScript, update.strSignature, update.strKeyList, release, 3, nNow,
                         update.strTimestamp, strError)) {
        return CKeyListUpdate();
    }
    return update;
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

}  // namespace rqtest
