#include "RQSignedContent.h"

#include "RQUiProbe.h"
#include "baselib/RQBLSha256.h"
#include "baselib/RQBLStreamCrc.h"
#include "patch/RQScriptSignature.h"
#include "patch/RQSecretKeyFile.h"
#include "tools/mkpatch/RQSecretKeyStore.h"

namespace rqtest {

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
